#pragma once
// The sizes from which one extraction is shared among several decoders: below
// them, starting a second decoder costs more than it gains. The component
// looks at the packed size, the decoder's plan at what a 7z unpacks to.
#include <cstdint>

namespace salvo::arc {

inline constexpr int64_t kSharedExtractionMinimum = 4 * 1024 * 1024;
// A 7z's LZMA takes several times longer per packed byte than a ZIP's or an
// LZH's decoding: one from this size is shared when it unpacks to at least
// kSharedSevenZipUnpacked (one that holds data that did not compress is
// written out at once).
inline constexpr int64_t kSharedSevenZipMinimum = 1024 * 1024;
inline constexpr int64_t kSharedSevenZipUnpacked = 8 * 1024 * 1024;

} // namespace salvo::arc
