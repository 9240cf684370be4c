#pragma once
// How one extraction is shared among several decoder processes. In ZIP and
// LZH every entry decodes on its own, in 7z every folder (solid block) does,
// so the entries can be cut into contiguous ranges of about equal packed size,
// each extracted by a decoder of its own into the same staging folder. An archive
// is shared only when the order of its entries cannot change the result: no
// name written twice, no name that is a file for one entry and a folder for
// another, no links, no damage found in the headers.
#include "Operations.h"

#include <cstdint>
#include <string>
#include <vector>

namespace salvo::arc {

struct ExtractionPlan {
    bool legacyNames = false;    // the names are read as CP932
    std::vector<uint32_t> starts{0}; // first entry of each range; one range: not shared
};

ExtractionPlan planExtraction(const std::string &path, uint32_t formats, bool flat, unsigned maxRanges,
                              const AliveFn &alive = {});

} // namespace salvo::arc
