#include "PackedSizes.h"

#include "FolderLayout.h"
#include "FormatChecks.h"

#include <archive.h>

#include <algorithm>
#include <cstring>

namespace salvo::arc {
namespace {

using Item = PackedSizes::Item;
using Folder = PackedSizes::Folder;

uint16_t le16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t le32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint64_t le64(const uint8_t *p)
{
    return uint64_t(le32(p)) | uint64_t(le32(p + 4)) << 32;
}

// Self-extractors keep their archive behind the program.
constexpr int64_t kSignatureWindow = 1024 * 1024;
// Larger directories are not read twice: their entries stay unknown.
constexpr int64_t kMaxDirectory = 256 * 1024 * 1024;

// Reads a stretch of the archive front to back through a buffer.
class SequentialReader {
public:
    SequentialReader(const VolumeInput &in, int64_t pos, int64_t end) : m_in(in), m_pos(pos), m_end(end) {}
    bool read(void *out, size_t n)
    {
        if (n > static_cast<size_t>(std::max<int64_t>(m_end - m_pos, 0)))
            return false;
        auto *dst = static_cast<uint8_t *>(out);
        while (n > 0) {
            if (m_offset == m_buffer.size() && !fill())
                return false;
            const size_t take = std::min(n, m_buffer.size() - m_offset);
            std::memcpy(dst, m_buffer.data() + m_offset, take);
            m_offset += take;
            m_pos += static_cast<int64_t>(take);
            dst += take;
            n -= take;
        }
        return true;
    }
    bool skip(int64_t n)
    {
        if (n < 0 || n > m_end - m_pos)
            return false;
        const int64_t buffered = static_cast<int64_t>(m_buffer.size() - m_offset);
        if (n <= buffered) {
            m_offset += static_cast<size_t>(n);
        } else {
            m_buffer.clear();
            m_offset = 0;
        }
        m_pos += n;
        return true;
    }

private:
    bool fill()
    {
        const size_t n = static_cast<size_t>(std::min<int64_t>(256 * 1024, m_end - m_pos));
        m_buffer.resize(n);
        m_offset = 0;
        return n > 0 && m_in.readFully(m_pos, m_buffer.data(), n);
    }
    const VolumeInput &m_in;
    int64_t m_pos, m_end;
    std::vector<uint8_t> m_buffer;
    size_t m_offset = 0;
};

// ZIP: the central directory, in the order of the entries' local headers
// (libarchive reads the entries of a seekable archive in that order).
bool readZip(const VolumeInput &in, std::vector<Item> *items)
{
    const int64_t size = in.size();
    const int64_t tail = std::min<int64_t>(size, 22 + 65535);
    if (tail < 22)
        return false;
    std::vector<uint8_t> end(static_cast<size_t>(tail));
    if (!in.readFully(size - tail, end.data(), end.size()))
        return false;
    int64_t eocd = -1;
    for (int64_t i = tail - 22; i >= 0; --i) {
        const uint8_t *p = end.data() + i;
        if (le32(p) == 0x06054b50 && i + 22 + le16(p + 20) <= tail) {
            eocd = i;
            break;
        }
    }
    if (eocd < 0)
        return false;
    const uint8_t *e = end.data() + eocd;
    int64_t recordAt = size - tail + eocd; // where the directory's end record begins
    uint64_t directorySize = le32(e + 12);
    if (le16(e + 10) == 0xFFFF || le32(e + 12) == 0xFFFFFFFF || le32(e + 16) == 0xFFFFFFFF) {
        // ZIP64: its end record lies before the locator that precedes this one.
        uint8_t record[56];
        const int64_t at = recordAt - 20 - 56;
        if (at < 0 || !in.readFully(at, record, sizeof record) || le32(record) != 0x06064b50)
            return false;
        directorySize = le64(record + 40);
        recordAt = at;
    }
    // Counted back from the end record, which holds also where a
    // self-extractor's archive begins.
    if (directorySize > uint64_t(recordAt) || directorySize > uint64_t(kMaxDirectory))
        return false;
    SequentialReader reader(in, recordAt - static_cast<int64_t>(directorySize), recordAt);
    std::vector<std::pair<uint64_t, Item>> found;
    uint8_t h[46];
    std::vector<uint8_t> extra;
    while (reader.read(h, 4)) {
        if (le32(h) != 0x02014b50)
            break;
        if (!reader.read(h + 4, 42))
            return false;
        uint64_t packed = le32(h + 20), original = le32(h + 24), offset = le32(h + 42);
        const uint16_t nameLength = le16(h + 28), extraLength = le16(h + 30), commentLength = le16(h + 32);
        extra.resize(extraLength);
        if (!reader.skip(nameLength) || !reader.read(extra.data(), extra.size()) || !reader.skip(commentLength))
            return false;
        // ZIP64 sizes and offset, in this order, each only where the 32-bit field is full.
        for (size_t at = 0; at + 4 <= extra.size();) {
            const uint16_t id = le16(&extra[at]), length = le16(&extra[at + 2]);
            const size_t body = at + 4;
            if (body + length > extra.size())
                break;
            if (id == 0x0001) {
                size_t field = body;
                for (uint64_t *value : {&original, &packed, &offset}) {
                    if (*value != 0xFFFFFFFF)
                        continue;
                    if (field + 8 > body + length)
                        break;
                    *value = le64(&extra[field]);
                    field += 8;
                }
            }
            at = body + length;
        }
        Item item;
        item.size = static_cast<int64_t>(original);
        item.packed = static_cast<int64_t>(packed);
        found.emplace_back(offset, item);
    }
    std::stable_sort(found.begin(), found.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    for (const auto &f : found)
        items->push_back(f.second);
    return !items->empty();
}

// LZH: each member's header states its packed size; the members follow one
// another up to a zero byte.
bool lzhHeaderAt(const VolumeInput &in, int64_t pos, uint8_t *h)
{
    if (!in.readFully(pos, h, 24))
        return false;
    return h[2] == '-' && h[3] == 'l' && h[6] == '-' && h[20] <= 3;
}

bool readLzh(const VolumeInput &in, std::vector<Item> *items)
{
    const int64_t size = in.size();
    uint8_t h[28];
    int64_t pos = 0;
    if (!lzhHeaderAt(in, 0, h)) {
        pos = -1;
        const int64_t window = std::min(size, kSignatureWindow);
        std::vector<uint8_t> chunk(static_cast<size_t>(window));
        if (window < 24 || !in.readFully(0, chunk.data(), chunk.size()))
            return false;
        for (int64_t i = 0; i + 24 <= window && pos < 0; ++i) {
            if (chunk[i + 2] == '-' && chunk[i + 3] == 'l' && chunk[i + 6] == '-' && lzhHeaderAt(in, i, h))
                pos = i;
        }
        if (pos < 0)
            return false;
    }
    while (pos < size) {
        uint8_t first = 0;
        if (!in.readFully(pos, &first, 1) || first == 0)
            break;
        if (!lzhHeaderAt(in, pos, h))
            return false;
        const int level = h[20];
        int64_t packed = le32(h + 7);
        const int64_t original = le32(h + 11);
        int64_t headerLength = 0;
        if (level == 0 || level == 1) {
            headerLength = int64_t(h[0]) + 2;
        } else if (level == 2) {
            headerLength = le16(h);
        } else {
            if (!in.readFully(pos, h, 28))
                return false;
            headerLength = le32(h + 24);
        }
        if (headerLength < 22)
            return false;
        int64_t next = pos + headerLength + packed;
        if (level == 1) {
            // The extended headers count in the packed size: the data is what is left.
            uint8_t sizeField[2];
            int64_t at = pos + headerLength;
            if (!in.readFully(at - 2, sizeField, 2))
                return false;
            uint16_t extended = le16(sizeField);
            while (extended != 0) {
                packed -= extended;
                if (extended < 3 || packed < 0 || !in.readFully(at + extended - 2, sizeField, 2))
                    return false;
                at += extended;
                extended = le16(sizeField);
            }
        }
        if (next <= pos || next > size)
            return false;
        Item item;
        item.size = std::memcmp(h + 2, "-lhd-", 5) == 0 ? 0 : original;
        item.packed = packed;
        items->push_back(item);
        pos = next;
    }
    return !items->empty();
}

// CAB: the files of a folder share the folder's data blocks.
bool readCab(const VolumeInput &in, std::vector<Item> *items, std::vector<Folder> *folders)
{
    const int64_t size = in.size();
    uint8_t h[40];
    int64_t start = -1;
    const int64_t window = std::min(size, kSignatureWindow);
    std::vector<uint8_t> chunk(static_cast<size_t>(window));
    if (window < 36 || !in.readFully(0, chunk.data(), chunk.size()))
        return false;
    for (int64_t i = 0; i + 36 <= window && start < 0; ++i) {
        const uint8_t *p = chunk.data() + i;
        if (std::memcmp(p, "MSCF", 4) == 0 && le32(p + 4) == 0 && le32(p + 8) <= size - i && p[25] == 1)
            start = i;
    }
    if (start < 0 || !in.readFully(start, h, 36))
        return false;
    const uint16_t folderCount = le16(h + 26), fileCount = le16(h + 28), flags = le16(h + 30);
    const int64_t filesAt = start + le32(h + 16);
    if (flags & 0x3)
        return false; // a set of cabinets: files continue in the others
    int64_t pos = start + 36;
    size_t folderReserve = 0, dataReserve = 0;
    if (flags & 0x4) {
        if (!in.readFully(pos, h + 36, 4))
            return false;
        pos += 4 + le16(h + 36);
        folderReserve = h[38];
        dataReserve = h[39];
    }
    for (uint16_t i = 0; i < folderCount; ++i) {
        uint8_t f[8];
        if (!in.readFully(pos, f, sizeof f))
            return false;
        pos += 8 + static_cast<int64_t>(folderReserve);
        Folder folder;
        int64_t block = start + le32(f);
        for (uint16_t b = 0, blocks = le16(f + 4); b < blocks; ++b) {
            uint8_t d[8];
            if (!in.readFully(block, d, sizeof d))
                return false;
            folder.packed += le16(d + 4);
            folder.unpacked += le16(d + 6);
            block += 8 + static_cast<int64_t>(dataReserve) + le16(d + 4);
        }
        folders->push_back(folder);
    }
    SequentialReader reader(in, filesAt, size);
    for (uint16_t i = 0; i < fileCount; ++i) {
        uint8_t f[16];
        if (!reader.read(f, sizeof f))
            return false;
        const uint16_t folder = le16(f + 8);
        if (folder >= folders->size())
            return false; // continued from or into another cabinet
        char c = 1;
        for (int n = 0; c != 0; ++n) {
            if (n > 1024 || !reader.read(&c, 1))
                return false;
        }
        Item item;
        item.size = le32(f);
        item.folder = folder;
        items->push_back(item);
    }
    return !items->empty();
}

bool readRar(const VolumeInput &in, std::vector<Item> *items)
{
    const RarLayout layout = readRarLayout(in);
    if (!layout.readable)
        return false;
    for (const RarFileHeader &f : layout.files) {
        Item item;
        item.size = f.directory ? 0 : f.size;
        item.packed = f.packed;
        items->push_back(item);
    }
    return !items->empty();
}

// 7z: which folder holds each file, and what the folders take and give.
bool readSevenZip(const VolumeInput &in, std::vector<Item> *items, std::vector<Folder> *folders)
{
    if (in.volumes().size() != 1)
        return false;
    FolderLayout layout;
    const VolumeInput::Volume &file = in.volumes().front();
    if (!readSevenZipLayout(file.fd, file.st.st_size, &layout) || layout.unpackedSize.size() != layout.packedSize.size())
        return false;
    for (size_t i = 0; i < layout.packedSize.size(); ++i)
        folders->push_back({layout.packedSize[i], layout.unpackedSize[i], 0});
    for (int folder : layout.folderOfEntry) {
        Item item;
        item.folder = folder < static_cast<int>(folders->size()) ? folder : -1;
        if (folder < 0)
            item.size = 0;
        items->push_back(item);
    }
    return !items->empty();
}

} // namespace

PackedSizes::PackedSizes(const VolumeInput &input, int format)
{
    bool read = false;
    switch (format) {
    case ARCHIVE_FORMAT_ZIP: read = readZip(input, &m_items); break;
    case ARCHIVE_FORMAT_LHA: read = readLzh(input, &m_items); break;
    case ARCHIVE_FORMAT_CAB: read = readCab(input, &m_items, &m_folders); break;
    case ARCHIVE_FORMAT_RAR:
    case ARCHIVE_FORMAT_RAR_V5: read = readRar(input, &m_items); break;
    case ARCHIVE_FORMAT_7ZIP: read = readSevenZip(input, &m_items, &m_folders); break;
    default: break;
    }
    if (!read) {
        m_items.clear();
        m_folders.clear();
    }
}

int64_t PackedSizes::next(int64_t size)
{
    if (m_lost || m_next >= m_items.size()) {
        m_lost = true;
        return 0;
    }
    const Item &item = m_items[m_next++];
    if (item.size >= 0 && size >= 0 && item.size != size) {
        m_lost = true;
        return 0;
    }
    if (item.folder < 0)
        return item.packed;
    // The folder's packed bytes up to the end of this file, less those up to
    // its start: the shares of a folder's files add up to the folder.
    Folder &folder = m_folders[static_cast<size_t>(item.folder)];
    if (folder.unpacked == 0 || size <= 0)
        return 0;
    auto upTo = [&folder](uint64_t original) {
        const unsigned __int128 part = static_cast<unsigned __int128>(folder.packed) * std::min(original, folder.unpacked);
        return static_cast<uint64_t>(part / folder.unpacked);
    };
    const uint64_t before = upTo(folder.shared);
    folder.shared += static_cast<uint64_t>(size);
    return static_cast<int64_t>(upTo(folder.shared) - before);
}

} // namespace salvo::arc
