#include "ArchiveExtent.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace salvo {
namespace {

VolumeOpener g_opener = nullptr;

// The files read one after the other, each opened once. A file that is not
// there or not a regular file ends the row.
class Files {
public:
    explicit Files(const std::vector<std::string> &paths)
    {
        for (const std::string &path : paths) {
            const int fd = g_opener ? g_opener(path.c_str()) : ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            struct stat st {};
            if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
                if (fd >= 0)
                    ::close(fd);
                break;
            }
            m_files.push_back({fd, m_size});
            m_size += st.st_size;
        }
    }
    ~Files()
    {
        for (const File &f : m_files)
            ::close(f.fd);
    }
    Files(const Files &) = delete;
    Files &operator=(const Files &) = delete;

    size_t count() const { return m_files.size(); }
    int64_t size() const { return m_size; }
    // Where file `k` ends in the row.
    int64_t endOf(size_t k) const { return k + 1 < m_files.size() ? m_files[k + 1].offset : m_size; }

    // Small reads (tar headers one after the other) come from a block read
    // once; larger ones go to the files directly.
    bool read(int64_t pos, void *buffer, size_t n) const
    {
        if (n > 512 || pos < 0)
            return readFiles(pos, buffer, n);
        if (pos < m_blockAt || pos + static_cast<int64_t>(n) > m_blockAt + static_cast<int64_t>(m_block.size())) {
            const int64_t length = std::min<int64_t>(kBlock, m_size - pos);
            m_block.clear();
            if (length < static_cast<int64_t>(n))
                return false;
            m_block.resize(static_cast<size_t>(length));
            m_blockAt = pos;
            if (!readFiles(pos, m_block.data(), m_block.size())) {
                m_block.clear();
                return false;
            }
        }
        std::memcpy(buffer, m_block.data() + (pos - m_blockAt), n);
        return true;
    }

    // The extent of an archive that ends at `end`.
    ArchiveExtent spanning(uint64_t end) const
    {
        ArchiveExtent e;
        e.known = true;
        if (end > static_cast<uint64_t>(m_size)) {
            e.volumes = count();
            e.beyondLast = true;
            return e;
        }
        e.volumes = 1;
        while (e.volumes < count() && static_cast<uint64_t>(endOf(e.volumes - 1)) < end)
            ++e.volumes;
        return e;
    }

private:
    static constexpr int64_t kBlock = 64 * 1024;

    bool readFiles(int64_t pos, void *buffer, size_t n) const
    {
        auto *p = static_cast<unsigned char *>(buffer);
        while (n > 0) {
            if (pos < 0 || pos >= m_size)
                return false;
            size_t k = 0;
            while (endOf(k) <= pos)
                ++k;
            const size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), endOf(k) - pos));
            const ssize_t got = ::pread(m_files[k].fd, p, want, pos - m_files[k].offset);
            if (got <= 0)
                return false;
            p += got;
            pos += got;
            n -= static_cast<size_t>(got);
        }
        return true;
    }

    struct File {
        int fd;
        int64_t offset;
    };
    std::vector<File> m_files;
    int64_t m_size = 0;
    mutable std::vector<unsigned char> m_block;
    mutable int64_t m_blockAt = 0;
};

uint64_t le(const unsigned char *p, int bytes)
{
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

ArchiveExtent sevenZipExtent(const Files &files, const unsigned char *h)
{
    // The start header, when its CRC holds, says where the last header ends.
    if (crc32(0, h + 12, 20) != le(h + 8, 4))
        return {};
    const uint64_t offset = le(h + 12, 8), size = le(h + 20, 8);
    if (offset > (uint64_t(1) << 62) || size > (uint64_t(1) << 62))
        return {};
    return files.spanning(32 + offset + size);
}

// Whether an end record at `at` (archive offsets from the first file's start)
// agrees with the central directory it names: then the archive ends behind it.
bool zipEndAgrees(const Files &files, int64_t at, const unsigned char *record)
{
    if (le(record + 4, 2) != 0 || le(record + 6, 2) != 0)
        return false; // the disk numbers of a spanned set: not read this way
    uint64_t size = le(record + 12, 4), offset = le(record + 16, 4);
    int64_t directoryEnd = at;
    if (size == 0xFFFFFFFF || offset == 0xFFFFFFFF || le(record + 10, 2) == 0xFFFF) {
        // ZIP64: the locator before the record names the larger record.
        unsigned char locator[20], record64[56];
        if (at < 20 || !files.read(at - 20, locator, sizeof locator) || std::memcmp(locator, "PK\x06\x07", 4) != 0)
            return false;
        const uint64_t at64 = le(locator + 8, 8);
        if (at64 > static_cast<uint64_t>(at) || !files.read(static_cast<int64_t>(at64), record64, sizeof record64)
            || std::memcmp(record64, "PK\x06\x06", 4) != 0)
            return false;
        size = le(record64 + 40, 8);
        offset = le(record64 + 48, 8);
        directoryEnd = static_cast<int64_t>(at64);
    }
    if (offset > uint64_t(directoryEnd) || offset + size != uint64_t(directoryEnd))
        return false;
    unsigned char first[4];
    return size == 0
        || (files.read(static_cast<int64_t>(offset), first, sizeof first) && std::memcmp(first, "PK\x01\x02", 4) == 0);
}

ArchiveExtent zipExtent(const Files &files)
{
    // The first file, then the first two, ...: the first row that ends with an
    // end record agreeing with its central directory is the archive.
    constexpr int64_t kLongestTail = 22 + 0xFFFF;
    std::vector<unsigned char> tail;
    for (size_t k = 0; k < files.count(); ++k) {
        const int64_t end = files.endOf(k);
        const int64_t length = std::min(end, kLongestTail);
        if (length < 22)
            continue;
        tail.resize(static_cast<size_t>(length));
        if (!files.read(end - length, tail.data(), tail.size()))
            return {};
        for (int64_t p = length - 22; p >= 0; --p) {
            const unsigned char *r = tail.data() + p;
            if (r[0] != 'P' || std::memcmp(r, "PK\x05\x06", 4) != 0 || static_cast<int64_t>(le(r + 20, 2)) != length - p - 22)
                continue;
            if (zipEndAgrees(files, end - length + p, r)) {
                ArchiveExtent e;
                e.known = true;
                e.volumes = k + 1;
                return e;
            }
        }
    }
    return {};
}

bool tarChecksumHolds(const unsigned char *block)
{
    uint64_t stored = 0;
    int i = 148;
    while (i < 156 && (block[i] == ' ' || block[i] == '\0'))
        ++i;
    bool digits = false;
    for (; i < 156 && block[i] >= '0' && block[i] <= '7'; ++i) {
        stored = stored * 8 + (block[i] - '0');
        digits = true;
    }
    uint64_t sum = 0;
    for (int j = 0; j < 512; ++j)
        sum += (j >= 148 && j < 156) ? ' ' : block[j];
    return digits && sum == stored;
}

// The size field: octal digits, or base 256 when its first bit is set; -1
// when it cannot be read.
int64_t tarSize(const unsigned char *field)
{
    uint64_t v = 0;
    if (field[0] & 0x80) {
        v = field[0] & 0x3F;
        for (int i = 1; i < 12; ++i) {
            if (v >> 55)
                return -1;
            v = v << 8 | field[i];
        }
        return static_cast<int64_t>(v);
    }
    int i = 0;
    while (i < 12 && (field[i] == ' ' || field[i] == '\0'))
        ++i;
    for (; i < 12 && field[i] >= '0' && field[i] <= '7'; ++i)
        v = v * 8 + (field[i] - '0');
    return static_cast<int64_t>(v);
}

bool allZero(const unsigned char *p, size_t n)
{
    return std::all_of(p, p + n, [](unsigned char c) { return c == 0; });
}

ArchiveExtent tarExtent(const Files &files)
{
    constexpr int64_t kRecord = 10240; // what tar pads its output to
    unsigned char block[512];
    int64_t pos = 0;
    for (;;) {
        if (pos + 512 > files.size())
            return files.spanning(static_cast<uint64_t>(pos) + 512); // cut short
        if (!files.read(pos, block, sizeof block))
            return {};
        if (allZero(block, sizeof block)) {
            int64_t end = pos + 512;
            if (end + 512 <= files.size() && files.read(end, block, sizeof block) && allZero(block, sizeof block))
                end += 512;
            // The padding up to the record's end belongs to the archive too.
            const int64_t padded = std::min(files.size(), (end + kRecord - 1) / kRecord * kRecord);
            std::vector<unsigned char> rest(static_cast<size_t>(padded - end));
            if (!rest.empty() && files.read(end, rest.data(), rest.size()) && allZero(rest.data(), rest.size()))
                end = padded;
            return files.spanning(static_cast<uint64_t>(end));
        }
        if (!tarChecksumHolds(block))
            return {};
        const int64_t size = tarSize(block + 124);
        if (size < 0 || size > (int64_t(1) << 52))
            return {};
        pos += 512;
        // Old GNU sparse entries continue their map in blocks of their own,
        // between the header and the data.
        for (bool more = block[156] == 'S' && block[482] != 0; more;) {
            if (!files.read(pos, block, sizeof block))
                return {};
            more = block[504] != 0;
            pos += 512;
        }
        pos += (size + 511) / 512 * 512;
    }
}

} // namespace

void setVolumeOpener(VolumeOpener opener)
{
    g_opener = opener;
}

ArchiveExtent archiveExtent(const std::vector<std::string> &paths)
{
    const Files files(paths);
    unsigned char head[512];
    if (files.count() == 0 || files.size() < 32 || !files.read(0, head, 32))
        return {};
    if (std::memcmp(head, "7z\xBC\xAF\x27\x1C", 6) == 0)
        return sevenZipExtent(files, head);
    if (std::memcmp(head, "PK\x03\x04", 4) == 0)
        return zipExtent(files);
    if (files.size() >= 512 && files.read(0, head, sizeof head) && !allZero(head, sizeof head) && tarChecksumHolds(head))
        return tarExtent(files);
    return {};
}

} // namespace salvo
