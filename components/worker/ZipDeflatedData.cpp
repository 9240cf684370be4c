#include "ZipDeflatedData.h"

#include "Inflater.h"
#include "ZipCentralDirectory.h"

#include <algorithm>
#include <cstring>

namespace salvo::arc {
namespace {

constexpr size_t kBuffer = 256 * 1024;
// An archive of more entries than this is left to libarchive alone: its
// entries are small, and the records would cost memory beside libarchive's.
constexpr uint64_t kMostEntries = 1u << 20;
constexpr int64_t kLocalHeader = 30;
constexpr uint16_t kDeflated = 8;
// Traditional and strong encryption.
constexpr uint16_t kEncrypted = 0x0001 | 0x0040;

uint16_t le16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

} // namespace

bool ZipDeflatedData::available()
{
    return fastDecoders() && !fastDecoderVersions().empty();
}

ZipDeflatedData::ZipDeflatedData(const VolumeInput &input) : m_input(input) {}

ZipDeflatedData::~ZipDeflatedData() = default;

// Keeps the record of every entry (those of other methods too, so that a
// data offset two records lead to is seen as such). The directory is read as the other readers of the worker read it
// (ZipCentralDirectory.h): a program in front of the archive (a
// self-extractor) moves every offset alike, and a split set reads as the
// unsplit archive libarchive is given.
bool ZipDeflatedData::readDirectory()
{
    ZipCentralDirectory directory;
    std::string error;
    const auto read = [this](int64_t pos, void *buffer, size_t n) { return m_input.readFully(pos, buffer, n); };
    if (!directory.open(read, m_input.size(), {0}, &error) || directory.entryCount() > kMostEntries)
        return false;
    const bool whole = directory.forEach(
        [this](const ZipCentralEntry &e, const std::string &) {
            if (e.localHeader >= 0)
                m_records.push_back({e.localHeader, e.compressedSize, e.size, e.crc, e.flags, e.method});
            return true;
        },
        &error);
    std::sort(m_records.begin(), m_records.end(), [](const Record &a, const Record &b) { return a.local < b.local; });
    return whole;
}

// The one record whose local header leads exactly to `dataOffset`, and
// agrees with it on the method and on encryption. When two records lead
// there (a local header hidden in another's extra field, a record given
// twice), which one libarchive read cannot be told: none is taken.
const ZipDeflatedData::Record *ZipDeflatedData::recordAt(int64_t dataOffset) const
{
    auto it = std::lower_bound(m_records.begin(), m_records.end(), dataOffset,
                               [](const Record &r, int64_t offset) { return r.local < offset; });
    // The local header is 30 bytes and a name and an extra field of at most
    // 64 KiB each; only the few records right before can match.
    const Record *found = nullptr;
    uint8_t foundHeader[kLocalHeader];
    for (int tries = 0; it != m_records.begin(); ++tries) {
        --it;
        if (it->local < dataOffset - kLocalHeader - 2 * 0xFFFF)
            break;
        if (tries == 8)
            return nullptr; // too many to look at: leave the entry to libarchive
        uint8_t header[kLocalHeader];
        if (!m_input.readFully(it->local, header, sizeof header) || std::memcmp(header, "PK\x03\x04", 4) != 0)
            continue;
        if (it->local + kLocalHeader + le16(header + 26) + le16(header + 28) != dataOffset)
            continue;
        if (found)
            return nullptr;
        found = &*it;
        std::memcpy(foundHeader, header, sizeof header);
    }
    if (!found || le16(foundHeader + 8) != found->method || (le16(foundHeader + 6) & kEncrypted))
        return nullptr;
    return found;
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
            m_position = dataOffset + static_cast<int64_t>(fed);
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
