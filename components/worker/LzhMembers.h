#pragma once
// The members of an LZH archive, found and checked the way libarchive's
// reader finds them: every header of levels 0 to 3 with its checksum (levels
// 0 and 1) or its CRC16 (levels 2 and 3), its extensions and its sizes. The
// archive is what that reader lists: the members from the start of the file up
// to the end mark (a 0 where a header would begin) or the end of the file.
#include <cstdint>
#include <string>
#include <vector>

namespace salvo::arc {

struct LzhMember {
    int64_t offset = 0; // where its header begins
    int64_t size = 0;   // header, extensions and data
    int level = 0;
    bool folderMethod = false; // "-lhd-"
    std::string name, folder;  // as stored: the name, and the folder (0xFF or "/" between parts)
    int64_t mtime = 0;         // seconds since the epoch (levels 2 and 3); 0 otherwise
};

struct LzhLayout {
    std::vector<LzhMember> members;
    // Where the bytes after the members begin: past the end mark, or the end
    // of the file when it has none. Whatever follows is not part of the archive.
    int64_t tail = 0;
};

// Reads the members of the archive in `fd` (`size` bytes). False when a header
// is damaged, cut short or of a kind the reader refuses, with the reason (in
// Japanese, for the user) and the offset of that header in `why`.
bool readLzhMembers(int fd, int64_t size, LzhLayout *layout, std::string *why);

// CRC-16 (polynomial 0xA001) as LZH uses it for headers and data.
uint16_t lzhCrc16(uint16_t crc, const unsigned char *p, size_t n);

} // namespace salvo::arc
