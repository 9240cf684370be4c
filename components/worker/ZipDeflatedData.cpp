#include "ZipDeflatedData.h"

#include "Inflater.h"

#include <algorithm>
#include <cstring>

namespace salvo::arc {
namespace {

constexpr size_t kBuffer = 256 * 1024;
// A central directory larger than this is left to libarchive alone.
constexpr uint64_t kLargestDirectory = 256ull << 20;
constexpr int64_t kLocalHeader = 30;
constexpr uint16_t kDeflated = 8;
// Traditional and strong encryption.
constexpr uint16_t kEncrypted = 0x0001 | 0x0040;

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
    return le32(p) | uint64_t(le32(p + 4)) << 32;
}

} // namespace

bool ZipDeflatedData::available()
{
    return fastDecoders() && !fastDecoderVersions().empty();
}

ZipDeflatedData::ZipDeflatedData(const VolumeInput &input) : m_input(input) {}

ZipDeflatedData::~ZipDeflatedData() = default;

// Reads the central directory as libarchive finds it: through the last end
// record (and its ZIP64 locator), where the end record says it ends, so that
// data put before the archive (a self-extractor) shifts every offset alike.
bool ZipDeflatedData::readDirectory()
{
    const int64_t size = m_input.size();
    const int64_t tail = std::min<int64_t>(size, 0xFFFF + 22 + 20);
    std::vector<uint8_t> end(static_cast<size_t>(tail));
    if (tail < 22 || !m_input.readFully(size - tail, end.data(), end.size()))
        return false;
    int64_t at = -1;
    for (int64_t i = tail - 22; i >= 0; --i) {
        if (std::memcmp(end.data() + i, "PK\x05\x06", 4) == 0) {
            at = i;
            break;
        }
    }
    if (at < 0)
        return false;
    const uint8_t *eocd = end.data() + at;
    const int64_t eocdOffset = size - tail + at;
    if (le16(eocd + 4) != 0 || le16(eocd + 6) != 0 || le16(eocd + 8) != le16(eocd + 10))
        return false;
    uint64_t directorySize = le32(eocd + 12), directoryOffset = le32(eocd + 16);
    int64_t start = eocdOffset - static_cast<int64_t>(directorySize);
    if (at >= 20 && std::memcmp(eocd - 20, "PK\x06\x07", 4) == 0) {
        uint8_t record[56];
        if (le32(eocd - 16) != 0 || !m_input.readFully(static_cast<int64_t>(le64(eocd - 12)), record, sizeof record)
            || std::memcmp(record, "PK\x06\x06", 4) != 0)
            return false;
        directorySize = le64(record + 40);
        directoryOffset = le64(record + 48);
        start = static_cast<int64_t>(directoryOffset);
    }
    if (directorySize > kLargestDirectory || start < 0 || start + static_cast<int64_t>(directorySize) > size)
        return false;
    const int64_t shift = start - static_cast<int64_t>(directoryOffset);
    std::vector<uint8_t> directory(static_cast<size_t>(directorySize));
    if (!m_input.readFully(start, directory.data(), directory.size()))
        return false;

    for (size_t pos = 0; pos + 46 <= directory.size();) {
        const uint8_t *p = directory.data() + pos;
        if (std::memcmp(p, "PK\x01\x02", 4) != 0)
            break;
        const size_t nameLength = le16(p + 28), extraLength = le16(p + 30), commentLength = le16(p + 32);
        if (pos + 46 + nameLength + extraLength > directory.size())
            break;
        Record r;
        r.flags = le16(p + 8);
        r.method = le16(p + 10);
        r.crc = le32(p + 16);
        r.compressed = le32(p + 20);
        r.size = le32(p + 24);
        uint64_t local = le32(p + 42);
        // ZIP64: the fields that do not fit follow in this order.
        for (const uint8_t *x = p + 46 + nameLength, *xEnd = x + extraLength; x + 4 <= xEnd;) {
            const uint16_t id = le16(x), length = le16(x + 2);
            const uint8_t *field = x + 4, *fieldEnd = std::min(field + length, xEnd);
            if (id == 0x0001) {
                for (uint64_t *value : {&r.size, &r.compressed, &local}) {
                    if (*value == 0xFFFFFFFFu && field + 8 <= fieldEnd) {
                        *value = le64(field);
                        field += 8;
                    }
                }
            }
            x += 4 + length;
        }
        if (local <= static_cast<uint64_t>(INT64_MAX / 2))
            r.local = static_cast<int64_t>(local) + shift;
        m_records.push_back(r);
        pos += 46 + nameLength + extraLength + commentLength;
    }
    std::sort(m_records.begin(), m_records.end(), [](const Record &a, const Record &b) { return a.local < b.local; });
    return true;
}

// The record whose local header leads exactly to `dataOffset`, and agrees
// with it on the method and on encryption.
const ZipDeflatedData::Record *ZipDeflatedData::recordAt(int64_t dataOffset) const
{
    auto it = std::lower_bound(m_records.begin(), m_records.end(), dataOffset,
                               [](const Record &r, int64_t offset) { return r.local < offset; });
    // The local header is 30 bytes and a name and an extra field of at most
    // 64 KiB each; only the few records right before can match.
    for (int tries = 0; it != m_records.begin() && tries < 8; ++tries) {
        --it;
        if (it->local < dataOffset - kLocalHeader - 2 * 0xFFFF)
            break;
        uint8_t header[kLocalHeader];
        if (!m_input.readFully(it->local, header, sizeof header) || std::memcmp(header, "PK\x03\x04", 4) != 0)
            continue;
        if (it->local + kLocalHeader + le16(header + 26) + le16(header + 28) != dataOffset)
            continue;
        if (le16(header + 8) != it->method || (le16(header + 6) & kEncrypted))
            return nullptr;
        return &*it;
    }
    return nullptr;
}

ZipDeflatedData::Outcome ZipDeflatedData::read(int64_t dataOffset, int64_t size, const Sink &sink)
{
    if (!m_read) {
        m_read = true;
        if (!readDirectory())
            m_records.clear();
    }
    const Record *r = m_records.empty() ? nullptr : recordAt(dataOffset);
    if (!r || r->method != kDeflated || (r->flags & kEncrypted) || size < 0 || r->size != static_cast<uint64_t>(size))
        return Outcome::Libarchive;
    if (!m_inflater) {
        m_inflater = std::make_unique<Inflater>(true);
        m_inSize = static_cast<size_t>(std::clamp<int64_t>((m_input.size() + 4095) & ~int64_t{4095}, 4096, kBuffer));
        m_in.reset(new uint8_t[m_inSize]);
        m_out.reset(new uint8_t[kBuffer]);
    }
    if (!m_inflater->ready() || !m_inflater->isFast())
        return Outcome::Libarchive;
    m_inflater->reset();
    return inflate(*r, dataOffset, sink);
}

ZipDeflatedData::Outcome ZipDeflatedData::inflate(const Record &r, int64_t dataOffset, const Sink &sink)
{
    const uint64_t compressed = r.compressed;
    uint64_t fed = 0;       // input handed to the inflater
    const uint8_t *in = m_in.get();
    size_t inLeft = 0;      // of it, not yet taken
    uint64_t made = 0;
    uint32_t crc = 0;
    for (;;) {
        if (inLeft == 0 && fed < compressed) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(m_inSize, compressed - fed));
            const ssize_t got = m_input.readAt(dataOffset + static_cast<int64_t>(fed), m_in.get(), want);
            if (got <= 0)
                return Outcome::Libarchive; // cut short, or unreadable: libarchive says which
            in = m_in.get();
            inLeft = static_cast<size_t>(got);
            fed += static_cast<uint64_t>(got);
        }
        int64_t used = 0;
        size_t out = 0;
        const Inflater::Status status = m_inflater->run(in, inLeft, m_out.get(), kBuffer, &used, &out);
        if (status == Inflater::Status::Damaged || status == Inflater::Status::NoMemory || made + out > r.size)
            return Outcome::Libarchive;
        crc = crc32Update(crc, m_out.get(), out);
        if (out > 0 && !sink(m_out.get(), out, static_cast<int64_t>(made)))
            return Outcome::Stopped;
        made += out;
        if (status == Inflater::Status::End) {
            const int64_t end = static_cast<int64_t>(fed - inLeft) + used;
            const bool whole = end == static_cast<int64_t>(compressed) && made == r.size && crc == r.crc;
            return whole ? Outcome::Done : Outcome::Libarchive;
        }
        in += used;
        inLeft -= static_cast<size_t>(used);
        if (used == 0 && out == 0 && (inLeft > 0 || fed == compressed))
            return Outcome::Libarchive; // no way on: the data ends before its stream does
    }
}

} // namespace salvo::arc
