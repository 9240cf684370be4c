#pragma once
// Reads the requests a component sends to the decoder process.
#include "../core/Wire.h"
#include "ArchiveWriting.h"

namespace salvo::arc {

// A delete (`adding` false) or add request; false when a field is missing or cut short.
bool readWriteRequest(WireReader &in, bool adding, WriteRequest *request);

} // namespace salvo::arc
