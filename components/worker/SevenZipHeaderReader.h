#pragma once
// Reads the headers of a 7z archive: the start header, the (possibly packed)
// next header, the streams and the files with their names, times and
// attributes, and which folder holds each file's data.
#include "SevenZipStructures.h"

#include <functional>

namespace salvo::arc::sevenzip {

// What the headers of one archive say.
struct ArchiveHeaders {
    StreamsInfo streams;
    std::vector<FileRecord> files;
};

// Throws BrokenHeader, and UnsupportedHeader for a packed header this reader
// cannot unpack.
ArchiveHeaders readHeaders(int fd, int64_t fileSize);
// The same from any bytes: `read` gives `n` bytes at `pos` of the archive
// (counted from its signature), false when they are not all there.
using ReadAt = std::function<bool(uint64_t pos, void *buffer, size_t n)>;
ArchiveHeaders readHeaders(const ReadAt &read, int64_t archiveSize);

// Where a folder's first packed stream begins in the archive.
uint64_t packedOffset(const StreamsInfo &streams, const Folder &folder);

std::string utf16ToUtf8(const std::string &u);

} // namespace salvo::arc::sevenzip
