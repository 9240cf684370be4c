#pragma once
// One extraction through the decoders. An archive large enough, of a format
// whose entries decode independently (ZIP, LZH, 7z without solid blocks), is
// shared among several decoders (see
// worker/ExtractionPlan.h) when its plan allows it; any other goes to one
// decoder. Either way the result, the questions about existing files (one at
// a time, each asked once) and the clean-up after a failure are the same.
#include "CommandLine.h"
#include "SharingSizes.h"
#include "Wire.h"
#include "WorkerClient.h"

#include <cstdint>
#include <functional>
#include <string>

namespace salvo::arc {

// The most decoders one extraction uses.
inline constexpr unsigned kMostDecoders = 4;

// How many decoders one extraction may use: 0 sets one per usable core (at
// most kMostDecoders), 1 turns sharing off.
void setDecoderCount(int count);
unsigned decoderCount();

// Extracts as `command` says, asking `hooks.ask` about existing files and
// stopping when `hooks.cancelled` says so; the result code, and the text for
// the output buffer.
int runExtraction(uint32_t formats, const Command &command, OverwritePolicy policy, CallHooks hooks,
                  std::string *output);

} // namespace salvo::arc
