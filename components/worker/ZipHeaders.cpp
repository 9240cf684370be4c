#include "ZipHeaders.h"

#include "Names.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace salvo::arc {
namespace {

uint16_t le16(const unsigned char *p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t le32(const unsigned char *p)
{
    return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
}
uint64_t le64(const unsigned char *p)
{
    return static_cast<uint64_t>(le32(p)) | static_cast<uint64_t>(le32(p + 4)) << 32;
}

bool readAt(int fd, int64_t size, uint64_t at, size_t n, std::vector<unsigned char> *out)
{
    if (at > static_cast<uint64_t>(size) || n > static_cast<uint64_t>(size) - at)
        return false;
    out->resize(n);
    size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd, out->data() + done, n - done, static_cast<off_t>(at + done));
        if (got <= 0)
            return false;
        done += static_cast<size_t>(got);
    }
    return true;
}

// Flags that change how an entry is read: encrypted, strongly encrypted,
// UTF-8 name, masked local header.
constexpr uint16_t kReadingFlags = 0x0001 | 0x0040 | 0x0800 | 0x2000;
constexpr uint16_t kDataDescriptor = 0x0008;

struct Directory {
    uint64_t entries = 0, offset = 0, size = 0;
};

// The central directory as the end record names it (through the ZIP64
// record when a field overflows). The end record must close the file with
// its comment, and the comment hold no other end record: readers that look
// for it in other ways would otherwise find different ones.
bool findDirectory(int fd, int64_t size, Directory *dir)
{
    const int64_t window = std::min<int64_t>(size, 22 + 0xFFFF);
    std::vector<unsigned char> tail;
    if (window < 22 || !readAt(fd, size, static_cast<uint64_t>(size - window), static_cast<size_t>(window), &tail))
        return false;
    for (int64_t i = window - 22; i >= 0; --i) {
        const unsigned char *e = tail.data() + i;
        if (std::memcmp(e, "PK\x05\x06", 4) != 0)
            continue;
        if (le16(e + 20) != window - i - 22)
            return false;
        const std::string_view comment(reinterpret_cast<const char *>(e + 22), static_cast<size_t>(window - i - 22));
        if (comment.find("PK\x05\x06") != std::string_view::npos || comment.find("PK\x06\x06") != std::string_view::npos)
            return false;
        dir->entries = le16(e + 10);
        dir->size = le32(e + 12);
        dir->offset = le32(e + 16);
        if (dir->entries != 0xFFFF && dir->size != 0xFFFFFFFF && dir->offset != 0xFFFFFFFF)
            return true;
        const int64_t end = size - window + i;
        std::vector<unsigned char> locator, record;
        if (end < 20 || !readAt(fd, size, static_cast<uint64_t>(end - 20), 20, &locator)
            || std::memcmp(locator.data(), "PK\x06\x07", 4) != 0
            || !readAt(fd, size, le64(locator.data() + 8), 56, &record)
            || std::memcmp(record.data(), "PK\x06\x06", 4) != 0)
            return false;
        dir->entries = le64(record.data() + 32);
        dir->size = le64(record.data() + 40);
        dir->offset = le64(record.data() + 48);
        return true;
    }
    return false;
}

} // namespace

bool zipLocalHeadersAgree(int fd, int64_t size, std::string *why)
{
    Directory dir;
    std::vector<unsigned char> central;
    if (!findDirectory(fd, size, &dir)) {
        *why = "ZIP 書庫の終わりのレコードが読めないか、紛らわしい位置にあります";
        return false;
    }
    if (dir.entries == 0)
        return true;
    if (!readAt(fd, size, dir.offset, static_cast<size_t>(dir.size), &central)) {
        *why = "ZIP 書庫の中央ディレクトリが読めません";
        return false;
    }
    size_t at = 0;
    std::vector<unsigned char> local;
    for (uint64_t i = 0; i < dir.entries; ++i) {
        if (central.size() - at < 46 || std::memcmp(&central[at], "PK\x01\x02", 4) != 0) {
            *why = "ZIP 書庫の中央ディレクトリが壊れています";
            return false;
        }
        const unsigned char *c = &central[at];
        const size_t nameLength = le16(c + 28), extraLength = le16(c + 30), commentLength = le16(c + 32);
        if (central.size() - at - 46 < nameLength + extraLength + commentLength) {
            *why = "ZIP 書庫の中央ディレクトリが壊れています";
            return false;
        }
        const std::string name(reinterpret_cast<const char *>(c + 46), nameLength);
        const auto readable = [&] { return isValidUtf8(name) ? name : cp932ToUtf8(name); };
        uint64_t uncompressed = le32(c + 24), compressed = le32(c + 20), offset = le32(c + 42);
        // ZIP64: the fields that overflowed, in this order, in extra field 0x0001.
        for (size_t x = 46 + nameLength; x + 4 <= 46 + nameLength + extraLength;) {
            const size_t id = le16(c + x), length = le16(c + x + 2);
            if (x + 4 + length > 46 + nameLength + extraLength)
                break;
            if (id == 0x0001) {
                size_t f = x + 4;
                for (uint64_t *field : {&uncompressed, &compressed, &offset}) {
                    if (*field == 0xFFFFFFFF && f + 8 <= x + 4 + length) {
                        *field = le64(c + f);
                        f += 8;
                    }
                }
            }
            x += 4 + length;
        }
        if (!readAt(fd, size, offset, 30, &local) || std::memcmp(local.data(), "PK\x03\x04", 4) != 0
            || !readAt(fd, size, offset, 30 + static_cast<size_t>(le16(&local[26])), &local)) {
            *why = "ZIP 書庫のローカルヘッダが読めません: " + readable();
            return false;
        }
        const uint16_t localFlags = le16(&local[6]), centralFlags = le16(c + 8);
        const std::string localName(reinterpret_cast<const char *>(&local[30]), local.size() - 30);
        bool same = localName == name && le16(&local[8]) == le16(c + 10)
            && (localFlags & kReadingFlags) == (centralFlags & kReadingFlags);
        // Without a data descriptor the local header states the checksum and
        // sizes itself (unless they overflow into its ZIP64 field).
        if (same && !(localFlags & kDataDescriptor) && le32(&local[18]) != 0xFFFFFFFF && le32(&local[22]) != 0xFFFFFFFF)
            same = le32(&local[14]) == le32(c + 16) && le32(&local[18]) == compressed && le32(&local[22]) == uncompressed;
        if (!same) {
            *why = "ZIP 書庫のローカルヘッダが中央ディレクトリと一致しません: " + readable();
            return false;
        }
        at += 46 + nameLength + extraLength + commentLength;
    }
    return true;
}

} // namespace salvo::arc
