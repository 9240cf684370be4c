#include "ZipCentralDirectory.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace salvo::arc {
namespace {

constexpr size_t kEndSize = 22;
constexpr size_t kLocatorSize = 20;
constexpr size_t kZip64EndSize = 56;
constexpr size_t kRecordSize = 46;
constexpr uint32_t kSaturated32 = 0xFFFFFFFF;

uint16_t le16(const unsigned char *p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t le32(const unsigned char *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint64_t le64(const unsigned char *p)
{
    return uint64_t(le32(p)) | uint64_t(le32(p + 4)) << 32;
}

void put16(std::string &s, size_t at, uint16_t v)
{
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>(v >> 8);
}

void put32(std::string &s, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

void append16(std::string &s, uint16_t v)
{
    s.push_back(static_cast<char>(v & 0xFF));
    s.push_back(static_cast<char>(v >> 8));
}

void append32(std::string &s, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void append64(std::string &s, uint64_t v)
{
    append32(s, static_cast<uint32_t>(v));
    append32(s, static_cast<uint32_t>(v >> 32));
}

const unsigned char *bytes(const std::string &s, size_t at = 0)
{
    return reinterpret_cast<const unsigned char *>(s.data()) + at;
}

// The fields of an extra area: (id, data) in their order; false when a
// length runs past the area's end.
bool splitExtra(const std::string &extra, std::vector<std::pair<uint16_t, std::string>> *fields)
{
    size_t at = 0;
    while (at + 4 <= extra.size()) {
        const uint16_t id = le16(bytes(extra, at));
        const uint16_t length = le16(bytes(extra, at + 2));
        if (at + 4 + length > extra.size())
            return false;
        fields->emplace_back(id, extra.substr(at + 4, length));
        at += 4 + length;
    }
    return at == extra.size();
}

// Reads the directory in large pieces, however small its records.
class BufferedReader {
public:
    BufferedReader(const ZipCentralDirectory::ReadAt &read, int64_t start, int64_t end)
        : m_read(read), m_pos(start), m_end(end)
    {
    }
    bool take(size_t n, std::string *out)
    {
        if (m_pos + static_cast<int64_t>(n) > m_end)
            return false;
        if (m_pos < m_bufferStart || m_pos + static_cast<int64_t>(n) > m_bufferStart + static_cast<int64_t>(m_buffer.size())) {
            const int64_t want = std::min<int64_t>(std::max<int64_t>(n, kChunk), m_end - m_pos);
            m_buffer.resize(static_cast<size_t>(want));
            if (!m_read(m_pos, m_buffer.data(), m_buffer.size()))
                return false;
            m_bufferStart = m_pos;
        }
        out->assign(m_buffer, static_cast<size_t>(m_pos - m_bufferStart), n);
        m_pos += static_cast<int64_t>(n);
        return true;
    }

private:
    static constexpr int64_t kChunk = 1 << 20;
    const ZipCentralDirectory::ReadAt &m_read;
    int64_t m_pos, m_end;
    std::string m_buffer;
    int64_t m_bufferStart = 0;
};

} // namespace

bool ZipCentralDirectory::open(const ReadAt &read, int64_t size, std::vector<int64_t> volumeStarts, std::string *error)
{
    m_read = read;
    m_streamSize = size;
    m_volumeStarts = volumeStarts.empty() ? std::vector<int64_t>{0} : std::move(volumeStarts);
    const int64_t tailSize = std::min<int64_t>(size, 0xFFFF + kEndSize + kLocatorSize);
    std::string tail(static_cast<size_t>(std::max<int64_t>(tailSize, 0)), '\0');
    if (tailSize < static_cast<int64_t>(kEndSize) || !read(size - tailSize, tail.data(), tail.size())) {
        *error = "ZIP の終わりの記録がありません";
        return false;
    }
    // The last end record whose comment reaches exactly to the end of the file;
    // failing that, the last one whose comment fits in it.
    int64_t found = -1;
    for (int pass = 0; pass < 2 && found < 0; ++pass) {
        for (size_t i = tail.size() - kEndSize + 1; i-- > 0;) {
            if (std::memcmp(tail.data() + i, "PK\x05\x06", 4) != 0)
                continue;
            const size_t end = i + kEndSize + le16(bytes(tail, i + 20));
            if (pass == 0 ? end == tail.size() : end <= tail.size()) {
                found = static_cast<int64_t>(i);
                break;
            }
        }
    }
    if (found < 0) {
        *error = "ZIP の終わりの記録がありません";
        return false;
    }
    const unsigned char *e = bytes(tail, static_cast<size_t>(found));
    const int64_t endAt = size - tailSize + found;
    m_lastDisk = le16(e + 4);
    uint32_t directoryDisk = le16(e + 6);
    m_entries = le16(e + 10);
    m_size = le32(e + 12);
    uint64_t offset = le32(e + 16);
    m_comment.assign(tail, static_cast<size_t>(found) + kEndSize, le16(e + 20));
    int64_t directoryEnd = endAt;

    // ZIP64: a locator just before the end record points to the larger one.
    unsigned char locator[kLocatorSize];
    if (endAt >= static_cast<int64_t>(kLocatorSize) && read(endAt - kLocatorSize, locator, kLocatorSize)
        && std::memcmp(locator, "PK\x06\x07", 4) == 0) {
        const uint32_t disk = le32(locator + 4);
        const uint64_t at = le64(locator + 8);
        std::vector<int64_t> candidates;
        if (disk < m_volumeStarts.size())
            candidates.push_back(m_volumeStarts[disk] + static_cast<int64_t>(std::min<uint64_t>(at, INT64_MAX / 2)));
        candidates.push_back(endAt - static_cast<int64_t>(kLocatorSize + kZip64EndSize));
        unsigned char z[kZip64EndSize];
        bool read64 = false;
        for (int64_t pos : candidates) {
            if (pos >= 0 && read(pos, z, sizeof z) && std::memcmp(z, "PK\x06\x06", 4) == 0) {
                read64 = true;
                directoryEnd = pos;
                break;
            }
        }
        if (!read64) {
            *error = "ZIP64 の終わりの記録が壊れています";
            return false;
        }
        m_lastDisk = le32(z + 16);
        directoryDisk = le32(z + 20);
        m_entries = le64(z + 32);
        m_size = le64(z + 40);
        offset = le64(z + 48);
    }
    if (m_size > static_cast<uint64_t>(size) || offset > static_cast<uint64_t>(size)) {
        *error = "ZIP の中央ディレクトリの位置が壊れています";
        return false;
    }
    if (m_volumeStarts.size() > 1) {
        if (directoryDisk >= m_volumeStarts.size()) {
            *error = "ZIP の中央ディレクトリのあるボリュームがありません";
            return false;
        }
        m_start = m_volumeStarts[directoryDisk] + static_cast<int64_t>(offset);
        m_correction = 0;
    } else {
        // A single file: the directory ends where the end records begin; a
        // program in front (a self-extractor) moves every stored offset.
        m_start = directoryEnd - static_cast<int64_t>(m_size);
        m_correction = m_start - static_cast<int64_t>(offset);
    }
    if (m_start < 0 || m_start + static_cast<int64_t>(m_size) > size || m_correction < 0) {
        *error = "ZIP の中央ディレクトリの位置が壊れています";
        return false;
    }
    return true;
}

int64_t ZipCentralDirectory::localHeaderOf(uint32_t disk, uint64_t offset) const
{
    if (offset > static_cast<uint64_t>(m_streamSize))
        return -1;
    if (m_volumeStarts.size() > 1)
        return disk < m_volumeStarts.size() ? m_volumeStarts[disk] + static_cast<int64_t>(offset) : -1;
    return static_cast<int64_t>(offset) + m_correction;
}

bool ZipCentralDirectory::forEach(const std::function<bool(const ZipCentralEntry &, const std::string &)> &visit,
                                  std::string *error) const
{
    BufferedReader in(m_read, m_start, m_start + static_cast<int64_t>(m_size));
    std::string record, variable;
    for (uint64_t i = 0; i < m_entries; ++i) {
        if (!in.take(kRecordSize, &record) || std::memcmp(record.data(), "PK\x01\x02", 4) != 0) {
            *error = "ZIP の中央ディレクトリが壊れています";
            return false;
        }
        const unsigned char *r = bytes(record);
        ZipCentralEntry e;
        e.madeBy = le16(r + 4);
        e.needed = le16(r + 6);
        e.flags = le16(r + 8);
        e.method = e.realMethod = le16(r + 10);
        e.dosTime = le16(r + 12);
        e.dosDate = le16(r + 14);
        e.crc = le32(r + 16);
        e.compressedSize = le32(r + 20);
        e.size = le32(r + 24);
        const size_t nameLength = le16(r + 28), extraLength = le16(r + 30), commentLength = le16(r + 32);
        e.disk = le16(r + 34);
        e.internalAttributes = le16(r + 36);
        e.externalAttributes = le32(r + 38);
        e.localOffset = le32(r + 42);
        if (!in.take(nameLength + extraLength + commentLength, &variable)) {
            *error = "ZIP の中央ディレクトリが壊れています";
            return false;
        }
        e.name = variable.substr(0, nameLength);
        e.extra = variable.substr(nameLength, extraLength);
        e.comment = variable.substr(nameLength + extraLength);
        record += variable;
        std::vector<std::pair<uint16_t, std::string>> fields;
        splitExtra(e.extra, &fields);
        for (const auto &field : fields) {
            const uint16_t id = field.first;
            const std::string &data = field.second;
            if (id == 0x0001) {
                // Only the fields whose short form is saturated are there, in this order.
                size_t at = 0;
                auto next = [&](uint64_t *value) {
                    if (at + 8 <= data.size()) {
                        *value = le64(bytes(data, at));
                        at += 8;
                    }
                };
                if (e.size == kSaturated32)
                    next(&e.size);
                if (e.compressedSize == kSaturated32)
                    next(&e.compressedSize);
                if (e.localOffset == kSaturated32)
                    next(&e.localOffset);
                if (e.disk == 0xFFFF && at + 4 <= data.size())
                    e.disk = le32(bytes(data, at));
            } else if (id == 0x7075 && data.size() >= 5 && data[0] == 1) {
                // Info-ZIP Unicode Path: valid only for the name it was made from.
                const uint32_t crc = le32(bytes(data, 1));
                if (crc == crc32(0, bytes(e.name), static_cast<uInt>(e.name.size())))
                    e.unicodeName = data.substr(5);
            } else if (id == 0x9901 && data.size() >= 7) {
                e.realMethod = le16(bytes(data, 5)); // WinZip AES: the compression inside
            }
        }
        e.localHeader = localHeaderOf(e.disk, e.localOffset);
        if (!visit(e, record))
            return true;
    }
    return true;
}

bool ZipCentralDirectory::unsplitTail(std::string *tail, std::string *error) const
{
    tail->clear();
    error->clear();
    const bool ok = forEach(
        [&](const ZipCentralEntry &e, const std::string &stored) {
            if (e.localHeader < 0) {
                *error = "ZIP の項目のあるボリュームがありません: " + e.name;
                return false;
            }
            std::string record = stored.substr(0, kRecordSize);
            const uint64_t at = static_cast<uint64_t>(e.localHeader);
            const bool longOffset = at >= kSaturated32;
            put16(record, 34, 0);
            put32(record, 42, longOffset ? kSaturated32 : static_cast<uint32_t>(at));
            // The ZIP64 field is made anew: the sizes it held, the new offset, no volume.
            std::string zip64;
            if (le32(bytes(stored, 24)) == kSaturated32)
                append64(zip64, e.size);
            if (le32(bytes(stored, 20)) == kSaturated32)
                append64(zip64, e.compressedSize);
            if (longOffset)
                append64(zip64, at);
            std::vector<std::pair<uint16_t, std::string>> fields;
            splitExtra(e.extra, &fields);
            std::string extra;
            for (const auto &[id, data] : fields) {
                if (id == 0x0001)
                    continue;
                append16(extra, id);
                append16(extra, static_cast<uint16_t>(data.size()));
                extra += data;
            }
            if (!zip64.empty()) {
                append16(extra, 0x0001);
                append16(extra, static_cast<uint16_t>(zip64.size()));
                extra += zip64;
            }
            if (extra.size() > 0xFFFF) {
                *error = "ZIP の項目の拡張フィールドが大きすぎます: " + e.name;
                return false;
            }
            put16(record, 30, static_cast<uint16_t>(extra.size()));
            *tail += record + e.name + extra + e.comment;
            return true;
        },
        error);
    if (!ok || !error->empty())
        return false;
    const uint64_t size = tail->size();
    const uint64_t offset = static_cast<uint64_t>(m_start);
    if (m_entries >= 0xFFFF || size >= kSaturated32 || offset >= kSaturated32) {
        const uint64_t endAt = offset + size;
        std::string z;
        append32(z, 0x06064b50);
        append64(z, kZip64EndSize - 12);
        append16(z, 45);
        append16(z, 45);
        append32(z, 0);
        append32(z, 0);
        append64(z, m_entries);
        append64(z, m_entries);
        append64(z, size);
        append64(z, offset);
        append32(z, 0x07064b50);
        append32(z, 0);
        append64(z, endAt);
        append32(z, 1);
        *tail += z;
    }
    std::string end;
    append32(end, 0x06054b50);
    append16(end, 0);
    append16(end, 0);
    const uint16_t count = static_cast<uint16_t>(std::min<uint64_t>(m_entries, 0xFFFF));
    append16(end, count);
    append16(end, count);
    append32(end, static_cast<uint32_t>(std::min<uint64_t>(size, kSaturated32)));
    append32(end, static_cast<uint32_t>(std::min<uint64_t>(offset, kSaturated32)));
    append16(end, static_cast<uint16_t>(m_comment.size()));
    *tail += end + m_comment;
    return true;
}

} // namespace salvo::arc
