#pragma once
// The archives the decoder reads as holding no entries although libarchive
// does not recognize them: what deleting every entry leaves behind.
#include <cstdio>
#include <string>

namespace fuzz {

inline bool isEmptyArchive(const std::string &path)
{
    std::string bytes;
    if (FILE *f = std::fopen(path.c_str(), "rb")) {
        char buf[22 + 0xFFFF + 1];
        bytes.assign(buf, std::fread(buf, 1, sizeof buf, f));
        std::fclose(f);
    }
    // An LZH of its end mark alone.
    if (bytes.size() == 1)
        return bytes[0] == '\0';
    // A ZIP of its end record alone: no disks, no entries, no central directory.
    if (bytes.size() < 22 || bytes.size() > 22 + 0xFFFF || bytes.compare(0, 4, "PK\5\6") != 0)
        return false;
    for (size_t i = 4; i < 20; ++i) {
        if (bytes[i] != '\0')
            return false;
    }
    const size_t comment = static_cast<unsigned char>(bytes[20]) | static_cast<unsigned char>(bytes[21]) << 8;
    return comment == bytes.size() - 22;
}

} // namespace fuzz
