#pragma once
// How many bytes each entry takes in the archive, read from the archive's own
// headers (libarchive does not report it): ZIP's central directory, the
// member headers of LZH and the file headers of RAR. 7z and CAB pack the files
// of a folder (a solid block) together: the folder's packed size is shared
// among its files in proportion to their sizes, so that they add up to it.
#include "VolumeInput.h"

#include <cstdint>
#include <vector>

namespace salvo::arc {

class PackedSizes {
public:
    // Reads the headers of the archive in `input`, of the libarchive format
    // `format` (ARCHIVE_FORMAT_..., base format); nothing for other formats,
    // and nothing where the headers cannot be read.
    PackedSizes(const VolumeInput &input, int format);

    // The packed size of the next entry in the order libarchive reports them,
    // given the size libarchive reports for it (-1 when it does not tell, and
    // for entries other than regular files); 0 when unknown. An entry whose size disagrees with the headers read
    // here means the two readings went apart: it and every later entry are
    // unknown.
    int64_t next(int64_t size);

    struct Item {
        int64_t size = -1;  // the original size the header states; -1 when it does not
        int64_t packed = 0; // bytes in the archive, when not shared within a folder
        int folder = -1;    // the folder whose packed size the entry shares; -1 for none
    };
    struct Folder {
        uint64_t packed = 0, unpacked = 0;
        uint64_t shared = 0; // original bytes of its files reported so far
    };

private:
    std::vector<Item> m_items;
    std::vector<Folder> m_folders;
    size_t m_next = 0;
    bool m_lost = false;
};

} // namespace salvo::arc
