#pragma once
// Writes the headers of a 7z archive: the (unpacked) header that describes the
// folders and files, and the start header that points at it.
#include "SevenZipStructures.h"

#include <ctime>

namespace salvo::arc::sevenzip {

// The header of an archive whose packed streams follow the start header in
// the order of `folders` (`packSizes` gives each stream's size).
std::string makeHeader(const std::vector<Folder> &folders, const std::vector<uint64_t> &packSizes,
                       const std::vector<FileRecord> &files);

// The 32-byte start header for a header of `header` bytes found `nextOffset`
// bytes after the start header (an empty archive: no header at all).
void makeStartHeader(unsigned char start[32], uint64_t nextOffset, const std::string &header);

// UTF-8 to the UTF-16LE of stored names; false for text that is not UTF-8.
bool utf8ToUtf16(const std::string &s, std::string *out);

// A time as the format stores it: 100-nanosecond units since 1601.
uint64_t fileTime(const struct timespec &t);

} // namespace salvo::arc::sevenzip
