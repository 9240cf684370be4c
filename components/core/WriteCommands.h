#pragma once
// Deleting entries and adding files: the component's side of the request to
// the decoder process, which does the writing.
#include "CommandLine.h"
#include "ComponentApi.h"

namespace salvo::arc {

// The output text starts with a line "<done> <requested>": entries deleted and
// names asked for, or files added and files found to add. The result is 0 only
// when every one was.
int runWriteCommand(const ComponentTraits &traits, const Command &command, char *output, uint32_t outputSize);

} // namespace salvo::arc
