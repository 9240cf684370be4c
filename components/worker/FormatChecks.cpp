#include "FormatChecks.h"

#include "core/Wire.h"
#include "salvo_archiver.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <zlib.h>

namespace salvo::arc {
namespace {

uint32_t le32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t le16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t crcOf(const uint8_t *p, size_t n)
{
    return static_cast<uint32_t>(crc32(0, p, static_cast<uInt>(n)));
}

const uint8_t kRar4Signature[7] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
const uint8_t kRar5Signature[8] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};
const uint8_t kSevenZipSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};

// Self-extractors keep their archive behind the program; libarchive looks
// less far than this.
constexpr int64_t kSignatureWindow = 4 * 1024 * 1024;
// RAR 5 headers are at most 2 MiB.
constexpr uint64_t kMaxRar5Header = 2 * 1024 * 1024;

// Fields of a RAR 5 header, read with every length checked.
class Cursor {
public:
    Cursor(const uint8_t *p, size_t n) : m_p(p), m_end(p + n) {}
    bool ok() const { return m_ok; }
    size_t left() const { return static_cast<size_t>(m_end - m_p); }
    const uint8_t *here() const { return m_p; }
    uint64_t vint()
    {
        uint64_t v = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (m_p >= m_end) {
                m_ok = false;
                return 0;
            }
            const uint8_t b = *m_p++;
            v |= uint64_t(b & 0x7F) << shift;
            if (!(b & 0x80))
                return v;
        }
        m_ok = false;
        return 0;
    }
    uint32_t u32()
    {
        if (left() < 4) {
            m_ok = false;
            return 0;
        }
        const uint32_t v = le32(m_p);
        m_p += 4;
        return v;
    }
    void skip(uint64_t n)
    {
        if (n > left()) {
            m_ok = false;
            m_p = m_end;
            return;
        }
        m_p += n;
    }

private:
    const uint8_t *m_p;
    const uint8_t *m_end;
    bool m_ok = true;
};

bool validRar4MainHeader(const VolumeInput &in, int64_t at, int64_t fileSize)
{
    uint8_t h[13];
    if (at + 13 > fileSize || !in.readFully(at, h, sizeof h))
        return false;
    return h[2] == 0x73 && le16(h + 5) >= 13 && (crcOf(h + 2, 11) & 0xFFFF) == le16(h);
}

// Reads one RAR 5 header at `at`: its bytes from the size field on, and its
// total length up to the data area.
bool readRar5Header(const VolumeInput &in, int64_t at, int64_t fileSize, std::vector<uint8_t> *header, int64_t *length)
{
    uint8_t head[4 + 3];
    const int64_t avail = std::min<int64_t>(sizeof head, fileSize - at);
    if (avail < 5 || !in.readFully(at, head, static_cast<size_t>(avail)))
        return false;
    Cursor c(head + 4, static_cast<size_t>(avail - 4));
    const uint64_t size = c.vint();
    if (!c.ok() || size == 0 || size > kMaxRar5Header)
        return false;
    const size_t sizeField = static_cast<size_t>(c.here() - (head + 4));
    const int64_t total = 4 + static_cast<int64_t>(sizeField + size);
    if (at + total > fileSize)
        return false;
    header->resize(static_cast<size_t>(total - 4));
    if (!in.readFully(at + 4, header->data(), header->size()))
        return false;
    if (crcOf(header->data(), header->size()) != le32(head))
        return false;
    *length = total;
    return true;
}

bool validRar5MainHeader(const VolumeInput &in, int64_t at, int64_t fileSize)
{
    std::vector<uint8_t> header;
    int64_t length = 0;
    if (!readRar5Header(in, at, fileSize, &header, &length))
        return false;
    Cursor c(header.data(), header.size());
    c.vint(); // size
    return c.vint() == 1 && c.ok();
}

bool rarStartsAt(const VolumeInput &in, int64_t at, int64_t fileSize, bool *v5)
{
    uint8_t signature[8];
    if (at + 8 > fileSize || !in.readFully(at, signature, 8))
        return false;
    if (std::memcmp(signature, kRar4Signature, 7) == 0 && validRar4MainHeader(in, at + 7, fileSize)) {
        *v5 = false;
        return true;
    }
    if (std::memcmp(signature, kRar5Signature, 8) == 0 && validRar5MainHeader(in, at + 8, fileSize)) {
        *v5 = true;
        return true;
    }
    return false;
}

// The first RAR signature that is followed by a valid main header: at the
// start, or behind a self-extractor's program.
int64_t findRarStart(const VolumeInput &in, int64_t fileSize, bool *v5)
{
    if (rarStartsAt(in, 0, fileSize, v5))
        return 0;
    const int64_t window = std::min(fileSize, kSignatureWindow);
    std::vector<uint8_t> chunk(64 * 1024 + 8);
    for (int64_t base = 0; base + 8 <= window; base += 64 * 1024) {
        const size_t n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(chunk.size()), fileSize - base));
        if (!in.readFully(base, chunk.data(), n))
            return -1;
        for (size_t i = 0; i + 6 <= n && i < 64 * 1024; ++i) {
            if (chunk[i] == 'R' && std::memcmp(chunk.data() + i, kRar4Signature, 6) == 0
                && rarStartsAt(in, base + static_cast<int64_t>(i), fileSize, v5))
                return base + static_cast<int64_t>(i);
        }
    }
    return -1;
}

void walkRar4(const VolumeInput &in, int64_t pos, int64_t fileSize, RarLayout *out)
{
    out->readable = true;
    while (pos + 7 <= fileSize) {
        uint8_t h[32];
        if (!in.readFully(pos, h, 7))
            return;
        const uint8_t type = h[2];
        const uint16_t flags = le16(h + 3);
        const uint16_t headSize = le16(h + 5);
        if (headSize < 7 || pos + headSize > fileSize)
            return;
        uint64_t addSize = 0;
        if (type == 0x74 || type == 0x7A) {
            // File and service headers: packed size, unpacked size, ... method.
            if (headSize < 32 || !in.readFully(pos, h, 32))
                return;
            addSize = le32(h + 7);
            int64_t unpacked = le32(h + 11);
            if (flags & 0x100) {
                uint8_t high[8];
                if (headSize < 40 || !in.readFully(pos + 32, high, 8))
                    return;
                addSize |= uint64_t(le32(high)) << 32;
                unpacked |= int64_t(le32(high + 4)) << 32;
            }
            if (type == 0x74 && (flags & 0x01)) {
                // The rest of a file begun in the volume before.
                if (!out->files.empty())
                    out->files.back().packed += static_cast<int64_t>(addSize);
            } else if (type == 0x74) {
                RarFileHeader f;
                f.packed = static_cast<int64_t>(addSize);
                f.stored = h[25] == 0x30;
                f.directory = (flags & 0xE0) == 0xE0;
                f.encrypted = flags & 0x04;
                f.split = flags & 0x03;
                f.hasCrc = true;
                f.crc = le32(h + 16);
                f.size = unpacked;
                out->files.push_back(f);
            }
        } else if (flags & 0x8000) {
            if (headSize < 11 || !in.readFully(pos + 7, h + 7, 4))
                return;
            addSize = le32(h + 7);
        }
        if (type == 0x73 && (flags & 0x0080)) {
            out->readable = false; // the headers are encrypted
            return;
        }
        if (type == 0x7B) {
            out->complete = true;
            out->moreVolumes = flags & 0x0001;
            return;
        }
        if (addSize > uint64_t(fileSize))
            return;
        pos += headSize + static_cast<int64_t>(addSize);
    }
}

void readRar5FileHeader(Cursor c, uint64_t extraSize, RarLayout *out)
{
    RarFileHeader f;
    const uint64_t fileFlags = c.vint();
    const uint64_t unpacked = c.vint();
    c.vint(); // attributes
    if (fileFlags & 0x2)
        c.u32(); // time
    if (fileFlags & 0x4) {
        f.hasCrc = true;
        f.crc = c.u32();
    }
    const uint64_t compression = c.vint();
    c.vint(); // host system
    c.skip(c.vint()); // name
    f.stored = ((compression >> 7) & 0x7) == 0;
    f.directory = fileFlags & 0x1;
    f.size = (fileFlags & 0x8) ? -1 : static_cast<int64_t>(unpacked);
    // The extra area at the header's end: records of a size and a type.
    if (c.ok() && extraSize <= c.left())
        c.skip(c.left() - extraSize);
    else
        c.skip(c.left() + 1);
    while (c.ok() && c.left() > 0) {
        const uint64_t recordSize = c.vint();
        if (!c.ok() || recordSize == 0 || recordSize > c.left())
            break;
        Cursor record(c.here(), static_cast<size_t>(recordSize));
        c.skip(recordSize);
        const uint64_t type = record.vint();
        if (type == 0x01) {
            f.encrypted = true;
        } else if (type == 0x02 && record.vint() == 0 && record.left() >= 32) {
            f.hasBlake = true;
            std::memcpy(f.blake.data(), record.here(), 32);
        }
    }
    out->files.push_back(f);
}

void walkRar5(const VolumeInput &in, int64_t pos, int64_t fileSize, RarLayout *out)
{
    out->readable = true;
    std::vector<uint8_t> header;
    while (pos < fileSize) {
        int64_t length = 0;
        if (!readRar5Header(in, pos, fileSize, &header, &length))
            return;
        Cursor c(header.data(), header.size());
        c.vint(); // size
        const uint64_t type = c.vint();
        const uint64_t flags = c.vint();
        const uint64_t extraSize = (flags & 0x1) ? c.vint() : 0;
        const uint64_t dataSize = (flags & 0x2) ? c.vint() : 0;
        if (!c.ok())
            return;
        if (type == 4) {
            out->readable = false; // the headers are encrypted
            return;
        }
        if (type == 5) {
            out->complete = true;
            out->moreVolumes = c.vint() & 0x1;
            return;
        }
        if (type == 2 && (flags & 0x08)) {
            // The rest of a file begun in the volume before.
            if (!out->files.empty() && dataSize <= uint64_t(fileSize))
                out->files.back().packed += static_cast<int64_t>(dataSize);
        } else if (type == 2) {
            readRar5FileHeader(c, extraSize, out);
            if (dataSize <= uint64_t(fileSize))
                out->files.back().packed = static_cast<int64_t>(dataSize);
            if (flags & 0x10)
                out->files.back().split = true;
        }
        if (dataSize > uint64_t(fileSize))
            return;
        pos += length + static_cast<int64_t>(dataSize);
    }
}

std::string hex32(uint32_t v)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08x", v);
    return text;
}

} // namespace

RarLayout readRarLayout(const VolumeInput &in)
{
    RarLayout out;
    const std::vector<VolumeInput::Volume> &volumes = in.volumes();
    if (volumes.empty())
        return out;
    bool v5 = false;
    int64_t start = findRarStart(in, volumes[0].st.st_size, &v5);
    if (start < 0)
        return out;
    out.found = true;
    // Each volume begins with a signature and a main header of its own; its
    // end header says whether another volume follows.
    for (size_t i = 0;; ++i) {
        const int64_t end = volumes[i].offset + volumes[i].st.st_size;
        out.complete = out.moreVolumes = false;
        if (v5)
            walkRar5(in, start + 8, end, &out);
        else
            walkRar4(in, start + 7, end, &out);
        if (!out.readable || !out.complete || !out.moreVolumes)
            return out;
        if (i + 1 == volumes.size()) {
            out.missingVolume = true;
            return out;
        }
        bool nextV5 = false;
        start = volumes[i + 1].offset;
        if (!rarStartsAt(in, start, start + volumes[i + 1].st.st_size, &nextV5) || nextV5 != v5) {
            out.complete = false;
            return out;
        }
    }
}

FormatChecks::FormatChecks(const ArchiveSource &src, uint32_t formats)
    : m_in(src.input()), m_fileSize(src.input().size()),
      m_format(archive_format(src.handle()) & ARCHIVE_FORMAT_BASE_MASK)
{
    uint8_t signature[6];
    m_sevenZipAtStart = (formats & kSevenZip) && m_fileSize >= 6 && m_in.readFully(0, signature, 6)
        && std::memcmp(signature, kSevenZipSignature, 6) == 0;
    if (m_format == ARCHIVE_FORMAT_RAR || m_format == ARCHIVE_FORMAT_RAR_V5)
        m_rar = readRarLayout(m_in);
}

FormatChecks::~FormatChecks() = default;

CheckFailure FormatChecks::atStart() const
{
    if (m_sevenZipAtStart) {
        // libarchive trusts the start header's fields without its CRC when
        // they say "no header follows" and then sees an empty archive.
        uint8_t h[32];
        if (m_fileSize < 32 || !m_in.readFully(0, h, sizeof h))
            return {SALVO_E_UNEXPECTED_EOF, "7z の開始ヘッダーが途中で切れています"};
        if (crcOf(h + 12, 20) != le32(h + 8))
            return {SALVO_E_HEADER_BROKEN, "7z の開始ヘッダーが壊れています"};
    }
    if ((m_format == ARCHIVE_FORMAT_RAR || m_format == ARCHIVE_FORMAT_RAR_V5) && !m_rar.found)
        return {SALVO_E_HEADER_BROKEN, "RAR のヘッダーを読めません"};
    if (m_rar.missingVolume)
        return {SALVO_E_MISSING_VOLUME, "分割書庫のボリュームが足りません (後のボリュームがありません)"};
    return {};
}

CheckFailure FormatChecks::beginEntry(archive_entry *e)
{
    m_current = nullptr;
    m_encrypted = archive_entry_is_encrypted(e);
    m_blake.reset();
    m_crc = 0;
    const size_t index = m_entries++;
    if (!m_rar.readable)
        return {};
    if (index >= m_rar.files.size())
        return {SALVO_E_HEADER_BROKEN, "RAR のヘッダーが読み取った項目と合いません"};
    const RarFileHeader &f = m_rar.files[index];
    m_encrypted = m_encrypted || f.encrypted;
    if (archive_entry_filetype(e) != AE_IFREG || !f.stored || f.encrypted || f.split || f.directory)
        return {};
    // libarchive reads a stored entry to its end and never compares its checksum.
    if (f.size >= 0 && archive_entry_size_is_set(e) && archive_entry_size(e) != f.size)
        return {SALVO_E_HEADER_BROKEN, "RAR のヘッダーが読み取った項目と合いません"};
    m_current = &f;
    m_name = archive_entry_pathname(e) ? archive_entry_pathname(e) : "";
    if (f.hasBlake)
        m_blake = std::make_unique<Blake2sp>();
    return {};
}

void FormatChecks::data(const void *p, size_t n)
{
    if (!m_current)
        return;
    if (m_current->hasCrc)
        m_crc = static_cast<uint32_t>(crc32(m_crc, static_cast<const Bytef *>(p), static_cast<uInt>(n)));
    if (m_blake)
        m_blake->update(p, n);
}

CheckFailure FormatChecks::endEntry()
{
    const RarFileHeader *f = m_current;
    m_current = nullptr;
    if (!f)
        return {};
    if (f->hasCrc && m_crc != f->crc)
        return {SALVO_E_FILE_CRC, "CRC が一致しません (" + hex32(m_crc) + ", 正しくは " + hex32(f->crc) + ")"};
    if (m_blake && m_blake->finish() != f->blake)
        return {SALVO_E_FILE_CRC, "BLAKE2 ハッシュが一致しません"};
    return {};
}

CheckFailure FormatChecks::atEnd(int64_t position) const
{
    if (m_format == ARCHIVE_FORMAT_RAR || m_format == ARCHIVE_FORMAT_RAR_V5) {
        if (m_rar.readable && (!m_rar.complete || m_rar.files.size() != m_entries))
            return {SALVO_E_UNEXPECTED_EOF, "書庫の終わりの印がありません (途中で切れています)"};
    }
    if (m_format == ARCHIVE_FORMAT_LHA) {
        // An LZH archive ends with a zero byte where the next header would begin.
        uint8_t mark = 1;
        if (!m_in.readFully(position, &mark, 1) || mark != 0)
            return {SALVO_E_UNEXPECTED_EOF, "書庫の終わりの印がありません (途中で切れています)"};
    }
    return {};
}

} // namespace salvo::arc
