#pragma once
// The files of one archive (every volume of a split one), opened once by the
// component and handed open to each decoder that reads it: all decoders of a
// call read the very same files, whatever happens to the paths meanwhile, and
// a confined decoder needs to open nothing itself.
#include "Descriptors.h"
#include "Wire.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace salvo::arc {

class ArchiveFiles {
public:
    // Opens the regular files among the volumes of `path`; what cannot be
    // opened is left for the decoder to report.
    explicit ArchiveFiles(const std::string &path);

    // Appends the files' section of a request: their count and paths.
    void describe(WireWriter &w) const;
    // Their descriptors, in the same order, to send with the request.
    std::vector<int> descriptors() const;
    // The size of the first file, -1 when it could not be opened.
    int64_t firstSize() const;
    // Whether the first file begins with these bytes.
    bool firstBeginsWith(std::string_view bytes) const;

private:
    std::vector<std::pair<std::string, UniqueFd>> m_files;
};

} // namespace salvo::arc
