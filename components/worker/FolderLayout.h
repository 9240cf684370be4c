#pragma once
// Which folder (solid block) of a 7z archive holds each entry's data. Entries
// of one folder decode only one after the other; different folders decode
// independently of each other.
#include <cstdint>
#include <vector>

namespace salvo::arc {

struct FolderLayout {
    std::vector<int> folderOfEntry;   // in the archive's entry order; -1 for an entry without data
    std::vector<uint64_t> packedSize; // bytes each folder takes in the archive
    std::vector<uint64_t> unpackedSize; // bytes each folder decodes to
};

// False when the headers cannot be read.
bool readSevenZipLayout(int fd, int64_t fileSize, FolderLayout *out);

} // namespace salvo::arc
