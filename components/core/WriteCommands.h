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

// The request the decoder process receives for a delete or add command:
// `archive` is the archive's real path, `temp` the name its replacement may
// carry, and relative folders are made absolute against the current folder.
std::string writeRequestMessage(const ComponentTraits &traits, const Command &command, const std::string &archive,
                                const std::string &temp);

} // namespace salvo::arc
