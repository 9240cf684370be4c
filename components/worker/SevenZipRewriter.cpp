// 7z archives. Folders (the compressed streams of the format) whose files all
// stay are copied as they are, and every file keeps its name, times and
// attributes exactly. The files that stay in a solid folder that loses others
// are decompressed (by libarchive) and compressed again; new files are
// compressed with LZMA2, each in a folder of its own unless solid.
#include "ArchiveRewrite.h"
#include "FolderLayout.h"
#include "salvo_archiver.h"

#include <archive.h>
#include <archive_entry.h>
#include <lzma.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace salvo::arc {
namespace {

enum Property : uint8_t {
    kEnd = 0x00, kHeader = 0x01, kArchiveProperties = 0x02, kAdditionalStreamsInfo = 0x03,
    kMainStreamsInfo = 0x04, kFilesInfo = 0x05, kPackInfo = 0x06, kUnpackInfo = 0x07,
    kSubStreamsInfo = 0x08, kSize = 0x09, kCrc = 0x0A, kFolder = 0x0B, kCodersUnpackSize = 0x0C,
    kNumUnpackStream = 0x0D, kEmptyStream = 0x0E, kEmptyFile = 0x0F, kAnti = 0x10, kName = 0x11,
    kCTime = 0x12, kATime = 0x13, kMTime = 0x14, kAttributes = 0x15, kEncodedHeader = 0x17,
    kStartPos = 0x18, kDummy = 0x19,
};

constexpr unsigned char kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
constexpr uint64_t kMaxHeader = 256ull << 20;

struct BrokenHeader : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class ByteReader {
public:
    ByteReader(const unsigned char *p, size_t n) : m_p(p), m_n(n) {}
    uint8_t byte()
    {
        need(1);
        return m_p[m_pos++];
    }
    uint64_t number()
    {
        const uint8_t first = byte();
        uint8_t mask = 0x80;
        uint64_t value = 0;
        for (int i = 0; i < 8; ++i) {
            if ((first & mask) == 0)
                return value | (static_cast<uint64_t>(first & (mask - 1)) << (8 * i));
            value |= static_cast<uint64_t>(byte()) << (8 * i);
            mask >>= 1;
        }
        return value;
    }
    size_t count(uint64_t limit = 1u << 24)
    {
        const uint64_t v = number();
        if (v > limit)
            throw BrokenHeader("count");
        return static_cast<size_t>(v);
    }
    uint32_t u32()
    {
        need(4);
        uint32_t v;
        std::memcpy(&v, m_p + m_pos, 4);
        m_pos += 4;
        return v;
    }
    uint64_t u64()
    {
        need(8);
        uint64_t v;
        std::memcpy(&v, m_p + m_pos, 8);
        m_pos += 8;
        return v;
    }
    std::vector<bool> bits(size_t n)
    {
        std::vector<bool> v(n);
        uint8_t b = 0;
        for (size_t i = 0; i < n; ++i) {
            if (i % 8 == 0)
                b = byte();
            v[i] = b & (0x80 >> (i % 8));
        }
        return v;
    }
    // "All defined" byte, else a bit vector.
    std::vector<bool> defined(size_t n)
    {
        return byte() ? std::vector<bool>(n, true) : bits(n);
    }
    void skip(uint64_t n)
    {
        need(n);
        m_pos += static_cast<size_t>(n);
    }
    size_t pos() const { return m_pos; }
    const unsigned char *at(size_t pos) const { return m_p + pos; }
    bool atEnd() const { return m_pos >= m_n; }

private:
    void need(uint64_t n) const
    {
        if (n > m_n - m_pos)
            throw BrokenHeader("short");
    }
    const unsigned char *m_p;
    size_t m_n;
    size_t m_pos = 0;
};

class ByteWriter {
public:
    void byte(uint8_t b) { m_data.push_back(static_cast<char>(b)); }
    void number(uint64_t v)
    {
        int extra = 0;
        while (extra < 8 && v >= (1ull << (7 * extra + 7)))
            ++extra;
        if (extra == 8) {
            byte(0xFF);
            raw(&v, 8);
            return;
        }
        const uint8_t first = static_cast<uint8_t>((0xFF00 >> extra) & 0xFF) | static_cast<uint8_t>(v >> (8 * extra));
        byte(first);
        raw(&v, static_cast<size_t>(extra));
    }
    void u32(uint32_t v) { raw(&v, 4); }
    void u64(uint64_t v) { raw(&v, 8); }
    void bits(const std::vector<bool> &v)
    {
        uint8_t b = 0;
        for (size_t i = 0; i < v.size(); ++i) {
            if (v[i])
                b |= static_cast<uint8_t>(0x80 >> (i % 8));
            if (i % 8 == 7) {
                byte(b);
                b = 0;
            }
        }
        if (v.size() % 8)
            byte(b);
    }
    void defined(const std::vector<bool> &v)
    {
        if (std::all_of(v.begin(), v.end(), [](bool b) { return b; })) {
            byte(1);
        } else {
            byte(0);
            bits(v);
        }
    }
    void raw(const void *p, size_t n) { m_data.append(static_cast<const char *>(p), n); }
    void append(const std::string &s) { m_data += s; }
    const std::string &data() const { return m_data; }
    size_t size() const { return m_data.size(); }

private:
    std::string m_data;
};

struct Folder {
    std::string record; // the coder description, as stored
    size_t packStreams = 1;
    size_t outStreams = 1;
    size_t mainOut = 0;
    std::vector<uint64_t> unpackSizes;
    bool crcDefined = false;
    uint32_t crc = 0;
    size_t firstPack = 0;
    // The files' streams inside the folder.
    std::vector<uint64_t> subSizes;
    std::vector<bool> subCrcDefined;
    std::vector<uint32_t> subCrcs;
    // Coders, for the header's own folder.
    std::vector<std::pair<std::string, std::string>> coders; // id, properties
    uint64_t unpackSize() const { return unpackSizes.empty() ? 0 : unpackSizes[mainOut]; }
};

struct StreamsInfo {
    uint64_t packPos = 0;
    std::vector<uint64_t> packSizes;
    std::vector<Folder> folders;
};

struct FileRecord {
    std::string utf16; // name as stored, without its terminator
    std::string name;  // UTF-8
    bool hasStream = true, emptyFile = false, anti = false;
    bool timeDefined[3] = {false, false, false}; // creation, access, modification
    uint64_t times[3] = {0, 0, 0};
    bool attrDefined = false;
    uint32_t attributes = 0;
    bool startDefined = false;
    uint64_t startPos = 0;
    int folder = -1; // where its data is, in the archive read
    size_t sub = 0;
    uint64_t size = 0;
    bool crcDefined = false;
    uint32_t crc = 0;
};

Folder readFolder(ByteReader &r)
{
    Folder f;
    const size_t start = r.pos();
    const size_t coders = r.count(64);
    size_t totalIn = 0, totalOut = 0;
    for (size_t i = 0; i < coders; ++i) {
        const uint8_t flags = r.byte();
        if (flags & 0x80)
            throw BrokenHeader("alternative coders");
        std::string id(reinterpret_cast<const char *>(r.at(r.pos())), flags & 0x0F);
        r.skip(flags & 0x0F);
        size_t in = 1, out = 1;
        if (flags & 0x10) {
            in = r.count(64);
            out = r.count(64);
        }
        std::string props;
        if (flags & 0x20) {
            const size_t n = r.count(1 << 16);
            props.assign(reinterpret_cast<const char *>(r.at(r.pos())), n);
            r.skip(n);
        }
        f.coders.push_back({id, props});
        totalIn += in;
        totalOut += out;
    }
    if (totalOut == 0)
        throw BrokenHeader("coders");
    const size_t pairs = totalOut - 1;
    std::vector<bool> bound(totalOut, false);
    for (size_t i = 0; i < pairs; ++i) {
        r.number();
        const uint64_t out = r.number();
        if (out >= totalOut)
            throw BrokenHeader("bind pair");
        bound[out] = true;
    }
    if (totalIn < pairs)
        throw BrokenHeader("streams");
    f.packStreams = totalIn - pairs;
    if (f.packStreams > 1) {
        for (size_t i = 0; i < f.packStreams; ++i)
            r.number();
    }
    f.outStreams = totalOut;
    for (size_t i = 0; i < totalOut; ++i) {
        if (!bound[i])
            f.mainOut = i;
    }
    f.record.assign(reinterpret_cast<const char *>(r.at(start)), r.pos() - start);
    return f;
}

void readDigests(ByteReader &r, size_t n, std::vector<bool> *defined, std::vector<uint32_t> *crcs)
{
    *defined = r.defined(n);
    crcs->assign(n, 0);
    for (size_t i = 0; i < n; ++i) {
        if ((*defined)[i])
            (*crcs)[i] = r.u32();
    }
}

StreamsInfo readStreamsInfo(ByteReader &r)
{
    StreamsInfo s;
    uint8_t id = r.byte();
    if (id == kPackInfo) {
        s.packPos = r.number();
        const size_t n = r.count();
        s.packSizes.assign(n, 0);
        while ((id = r.byte()) != kEnd) {
            if (id == kSize) {
                for (auto &size : s.packSizes)
                    size = r.number();
            } else if (id == kCrc) {
                std::vector<bool> d;
                std::vector<uint32_t> c;
                readDigests(r, n, &d, &c);
            } else {
                throw BrokenHeader("pack info");
            }
        }
        id = r.byte();
    }
    if (id == kUnpackInfo) {
        if (r.byte() != kFolder)
            throw BrokenHeader("folders");
        const size_t n = r.count();
        if (r.byte() != 0)
            throw BrokenHeader("external folders");
        size_t pack = 0;
        for (size_t i = 0; i < n; ++i) {
            s.folders.push_back(readFolder(r));
            s.folders.back().firstPack = pack;
            pack += s.folders.back().packStreams;
        }
        if (pack > s.packSizes.size())
            throw BrokenHeader("pack streams");
        if (r.byte() != kCodersUnpackSize)
            throw BrokenHeader("unpack sizes");
        for (Folder &f : s.folders) {
            for (size_t i = 0; i < f.outStreams; ++i)
                f.unpackSizes.push_back(r.number());
        }
        while ((id = r.byte()) != kEnd) {
            if (id != kCrc)
                throw BrokenHeader("unpack info");
            std::vector<bool> d;
            std::vector<uint32_t> c;
            readDigests(r, n, &d, &c);
            for (size_t i = 0; i < n; ++i) {
                s.folders[i].crcDefined = d[i];
                s.folders[i].crc = c[i];
            }
        }
        id = r.byte();
    }
    // Each folder holds one file's stream unless the sub-stream list says otherwise.
    std::vector<size_t> counts(s.folders.size(), 1);
    if (id == kSubStreamsInfo) {
        id = r.byte();
        if (id == kNumUnpackStream) {
            for (size_t &c : counts)
                c = r.count();
            id = r.byte();
        }
        for (size_t i = 0; i < s.folders.size(); ++i) {
            Folder &f = s.folders[i];
            f.subSizes.clear();
            if (counts[i] == 0)
                continue;
            uint64_t sum = 0;
            if (id == kSize) {
                for (size_t k = 1; k < counts[i]; ++k) {
                    f.subSizes.push_back(r.number());
                    sum += f.subSizes.back();
                }
            } else if (counts[i] > 1) {
                throw BrokenHeader("sub-stream sizes");
            }
            if (sum > f.unpackSize())
                throw BrokenHeader("sub-stream sizes");
            f.subSizes.push_back(f.unpackSize() - sum);
        }
        if (id == kSize)
            id = r.byte();
        size_t unknown = 0;
        for (size_t i = 0; i < s.folders.size(); ++i) {
            Folder &f = s.folders[i];
            f.subCrcDefined.assign(counts[i], false);
            f.subCrcs.assign(counts[i], 0);
            if (counts[i] == 1 && f.crcDefined) {
                f.subCrcDefined[0] = true;
                f.subCrcs[0] = f.crc;
            } else {
                unknown += counts[i];
            }
        }
        while (id != kEnd) {
            if (id != kCrc)
                throw BrokenHeader("sub-streams");
            std::vector<bool> d;
            std::vector<uint32_t> c;
            readDigests(r, unknown, &d, &c);
            size_t k = 0;
            for (size_t i = 0; i < s.folders.size(); ++i) {
                Folder &f = s.folders[i];
                if (counts[i] == 1 && f.crcDefined)
                    continue;
                for (size_t j = 0; j < counts[i]; ++j, ++k) {
                    f.subCrcDefined[j] = d[k];
                    f.subCrcs[j] = c[k];
                }
            }
            id = r.byte();
        }
        id = r.byte();
    } else {
        for (Folder &f : s.folders) {
            f.subSizes = {f.unpackSize()};
            f.subCrcDefined = {f.crcDefined};
            f.subCrcs = {f.crc};
        }
    }
    if (id != kEnd)
        throw BrokenHeader("streams info");
    return s;
}

std::string utf16ToUtf8(const std::string &u)
{
    std::string out;
    for (size_t i = 0; i + 1 < u.size(); i += 2) {
        uint32_t c = static_cast<unsigned char>(u[i]) | static_cast<unsigned char>(u[i + 1]) << 8;
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < u.size()) {
            const uint32_t low = static_cast<unsigned char>(u[i + 2]) | static_cast<unsigned char>(u[i + 3]) << 8;
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | c >> 6));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | c >> 12));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | c >> 18));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

// False for text that is not UTF-8.
bool utf8ToUtf16(const std::string &s, std::string *out)
{
    out->clear();
    auto put = [&](uint32_t u) {
        out->push_back(static_cast<char>(u & 0xFF));
        out->push_back(static_cast<char>(u >> 8));
    };
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        uint32_t cp;
        int extra;
        if (c < 0x80) {
            cp = c;
            extra = 0;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            extra = 2;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            extra = 3;
        } else {
            return false;
        }
        if (i + static_cast<size_t>(extra) >= s.size() && extra > 0)
            return false;
        for (int k = 1; k <= extra; ++k) {
            const unsigned char cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = cp << 6 | (cc & 0x3F);
        }
        i += extra + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10));
            put(0xDC00 + (cp & 0x3FF));
        } else {
            put(cp);
        }
    }
    return true;
}

// Decodes one folder that is compressed with LZMA, LZMA2 or nothing (what
// archives use for their packed header).
std::string decodeSimpleFolder(int fd, uint64_t offset, uint64_t packSize, const Folder &f)
{
    if (f.coders.size() != 1 || f.packStreams != 1)
        throw BrokenHeader("header coders");
    const uint64_t size = f.unpackSize();
    if (size > kMaxHeader || packSize > kMaxHeader)
        throw BrokenHeader("header size");
    std::string packed(static_cast<size_t>(packSize), '\0');
    if (::pread(fd, packed.data(), packed.size(), static_cast<off_t>(offset)) != static_cast<ssize_t>(packed.size()))
        throw BrokenHeader("header read");
    const std::string &id = f.coders[0].first;
    const std::string &props = f.coders[0].second;
    std::string out;
    if (id == std::string(1, '\0')) {
        out = packed.substr(0, static_cast<size_t>(size));
    } else {
        lzma_filter filters[2] = {{LZMA_VLI_UNKNOWN, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
        if (id == "\x03\x01\x01")
            filters[0].id = LZMA_FILTER_LZMA1;
        else if (id == "\x21")
            filters[0].id = LZMA_FILTER_LZMA2;
        else if (id == "\x06\xF1\x07\x01")
            throw std::invalid_argument("encrypted");
        else
            throw std::domain_error("method");
        if (lzma_properties_decode(&filters[0], nullptr, reinterpret_cast<const uint8_t *>(props.data()), props.size())
            != LZMA_OK)
            throw BrokenHeader("header properties");
        lzma_stream strm = LZMA_STREAM_INIT;
        const lzma_ret init = lzma_raw_decoder(&strm, filters);
        free(filters[0].options);
        if (init != LZMA_OK)
            throw BrokenHeader("header decoder");
        out.resize(static_cast<size_t>(size));
        strm.next_in = reinterpret_cast<const uint8_t *>(packed.data());
        strm.avail_in = packed.size();
        strm.next_out = reinterpret_cast<uint8_t *>(out.data());
        strm.avail_out = out.size();
        lzma_ret r = LZMA_OK;
        while (strm.avail_out > 0 && r == LZMA_OK)
            r = lzma_code(&strm, LZMA_FINISH);
        lzma_end(&strm);
        if (strm.avail_out != 0)
            throw BrokenHeader("header data");
    }
    if (out.size() != size)
        throw BrokenHeader("header data");
    if (f.crcDefined && crc32(0, reinterpret_cast<const Bytef *>(out.data()), static_cast<uInt>(out.size())) != f.crc)
        throw BrokenHeader("header checksum");
    return out;
}

// LZMA2 compression of new folders, written straight into the replacement.
class FolderEncoder {
public:
    FolderEncoder(OutputStream &out) : m_out(out) {}
    ~FolderEncoder()
    {
        if (m_open)
            lzma_end(&m_strm);
    }

    bool begin()
    {
        lzma_lzma_preset(&m_options, 5);
        m_filters[0] = {LZMA_FILTER_LZMA2, &m_options};
        m_filters[1] = {LZMA_VLI_UNKNOWN, nullptr};
        m_strm = LZMA_STREAM_INIT;
        if (lzma_raw_encoder(&m_strm, m_filters) != LZMA_OK)
            return false;
        m_open = true;
        m_packStart = m_out.position();
        m_unpacked = 0;
        m_folderCrc = 0;
        m_subSizes.clear();
        m_subCrcs.clear();
        return true;
    }

    bool beginFile()
    {
        m_fileSize = 0;
        m_fileCrc = 0;
        return true;
    }
    bool write(const void *data, size_t n)
    {
        m_fileCrc = crc32(m_fileCrc, static_cast<const Bytef *>(data), static_cast<uInt>(n));
        m_fileSize += n;
        m_unpacked += n;
        return code(static_cast<const uint8_t *>(data), n, LZMA_RUN);
    }
    void endFile()
    {
        m_subSizes.push_back(m_fileSize);
        m_subCrcs.push_back(m_fileCrc);
    }
    int error() const { return m_out.error() ? m_out.error() : EIO; }
    bool open() const { return m_open; }

    // Ends the folder and describes it.
    bool end(Folder *f, uint64_t *packSize)
    {
        if (!code(nullptr, 0, LZMA_FINISH))
            return false;
        lzma_end(&m_strm);
        m_open = false;
        uint8_t prop = 0;
        if (lzma_properties_encode(&m_filters[0], &prop) != LZMA_OK)
            return false;
        ByteWriter w;
        w.number(1);
        w.byte(0x21);  // one-byte id, with properties
        w.byte(0x21);  // LZMA2
        w.number(1);
        w.byte(prop);
        f->record = w.data();
        f->packStreams = 1;
        f->outStreams = 1;
        f->mainOut = 0;
        f->unpackSizes = {m_unpacked};
        f->subSizes = m_subSizes;
        f->subCrcs = m_subCrcs;
        f->subCrcDefined.assign(m_subSizes.size(), true);
        f->crcDefined = m_subSizes.size() == 1;
        f->crc = f->crcDefined ? m_subCrcs[0] : 0;
        *packSize = static_cast<uint64_t>(m_out.position() - m_packStart);
        return true;
    }

private:
    bool code(const uint8_t *data, size_t n, lzma_action action)
    {
        uint8_t buffer[1 << 16];
        m_strm.next_in = data;
        m_strm.avail_in = n;
        for (;;) {
            m_strm.next_out = buffer;
            m_strm.avail_out = sizeof buffer;
            const lzma_ret r = lzma_code(&m_strm, action);
            if (r != LZMA_OK && r != LZMA_STREAM_END)
                return false;
            const size_t produced = sizeof buffer - m_strm.avail_out;
            if (produced && !m_out.write(buffer, produced))
                return false;
            if (action == LZMA_FINISH ? r == LZMA_STREAM_END : (m_strm.avail_in == 0 && m_strm.avail_out != 0))
                return true;
        }
    }

    OutputStream &m_out;
    lzma_options_lzma m_options{};
    lzma_filter m_filters[2]{};
    lzma_stream m_strm = LZMA_STREAM_INIT;
    bool m_open = false;
    int64_t m_packStart = 0;
    uint64_t m_unpacked = 0, m_fileSize = 0;
    uint32_t m_fileCrc = 0, m_folderCrc = 0;
    std::vector<uint64_t> m_subSizes;
    std::vector<uint32_t> m_subCrcs;
};

uint64_t fileTime(const struct timespec &t)
{
    return static_cast<uint64_t>(t.tv_sec) * 10000000ull + static_cast<uint64_t>(t.tv_nsec) / 100 + 116444736000000000ull;
}

class SevenZipRewriter : public FormatRewriter {
public:
    explicit SevenZipRewriter(bool solid) : m_solid(solid) {}

    int load(ReplacementFile &file, std::vector<ExistingEntry> *entries, std::string *message) override
    {
        try {
            parse(file.sourceFd(), file.sourceSize());
        } catch (const BrokenHeader &e) {
            *message = std::string("7z 書庫のヘッダが壊れています (") + e.what() + "): " + file.archivePath();
            return SALVO_E_HEADER_BROKEN;
        } catch (const std::invalid_argument &) {
            *message = "ヘッダが暗号化された 7z 書庫は更新できません: " + file.archivePath();
            return SALVO_E_PASSWORD_FILE;
        } catch (const std::domain_error &) {
            *message = "7z 書庫のヘッダの圧縮方式に対応していません: " + file.archivePath();
            return SALVO_E_METHOD;
        }
        for (const FileRecord &f : m_files) {
            ExistingEntry e;
            e.name = f.name;
            for (char &c : e.name) {
                if (c == '\\')
                    c = '/';
            }
            while (!e.name.empty() && e.name.back() == '/')
                e.name.pop_back();
            e.folder = !f.hasStream && !f.emptyFile;
            if (f.timeDefined[2])
                e.mtime = static_cast<int64_t>(f.times[2] / 10000000ull) - 11644473600LL;
            entries->push_back(e);
        }
        return SALVO_OK;
    }

    int accepts(const NewItem &item, std::string *message) override
    {
        std::string utf16;
        if (!utf8ToUtf16(item.name, &utf16)) {
            *message = "UTF-8 ではない名前のファイルは追加できません: " + item.path + "\n";
            return SALVO_E_FILE_OPEN;
        }
        return SALVO_OK;
    }

    int write(ReplacementFile &file, const std::vector<bool> &keep, const std::vector<NewItem> &items,
              const AliveFn &alive, std::string *message) override
    {
        AliveTicker ticker(alive);
        OutputStream out(file.targetFd());
        const unsigned char blank[32] = {};
        if (!out.write(blank, sizeof blank))
            return writeFailure(out.error(), message);

        // Which folders go as they are: those whose files all stay.
        std::vector<int> keptFiles(m_streams.folders.size(), 0), allFiles(m_streams.folders.size(), 0);
        for (size_t i = 0; i < m_files.size(); ++i) {
            if (m_files[i].folder >= 0) {
                ++allFiles[m_files[i].folder];
                keptFiles[m_files[i].folder] += keep[i] ? 1 : 0;
            }
        }
        m_outFolders.clear();
        m_outPackSizes.clear();
        m_outFiles.clear();
        FolderEncoder encoder(out);
        auto closeEncoder = [&]() {
            if (!encoder.open())
                return true;
            Folder f;
            uint64_t packSize = 0;
            if (!encoder.end(&f, &packSize))
                return false;
            m_outFolders.push_back(f);
            m_outPackSizes.push_back(packSize);
            return true;
        };
        auto encodeInto = [&](auto &&feed) -> int {
            // A new folder for each file unless solid.
            if (!m_solid && !closeEncoder())
                return writeFailure(out.error() ? out.error() : EIO, message);
            if (!encoder.open() && !encoder.begin()) {
                *message = "LZMA2 圧縮を始められません。";
                return SALVO_E_ENOUGH_MEMORY;
            }
            encoder.beginFile();
            const int code = feed();
            if (code != SALVO_OK)
                return code;
            encoder.endFile();
            return SALVO_OK;
        };

        int lastRawFolder = -1;
        for (size_t i = 0; i < m_files.size(); ++i) {
            if (!keep[i])
                continue;
            FileRecord rec = m_files[i];
            const int f = rec.folder;
            if (f >= 0 && keptFiles[f] == allFiles[f]) {
                if (f != lastRawFolder) {
                    if (!closeEncoder())
                        return writeFailure(out.error() ? out.error() : EIO, message);
                    const Folder &src = m_streams.folders[f];
                    uint64_t offset = 32 + m_streams.packPos;
                    for (size_t p = 0; p < src.firstPack; ++p)
                        offset += m_streams.packSizes[p];
                    for (size_t p = 0; p < src.packStreams; ++p) {
                        const uint64_t size = m_streams.packSizes[src.firstPack + p];
                        ticker.tick();
                        if (!out.copyFrom(file.sourceFd(), static_cast<int64_t>(offset), static_cast<int64_t>(size)))
                            return writeFailure(out.error(), message);
                        m_outPackSizes.push_back(size);
                        offset += size;
                    }
                    m_outFolders.push_back(src);
                    lastRawFolder = f;
                }
            } else if (f >= 0) {
                // A file of a solid folder that loses others: its data again.
                const int code = encodeInto([&] { return copyDecoded(file, i, encoder, ticker, message); });
                if (code != SALVO_OK)
                    return code;
            }
            m_outFiles.push_back(rec);
        }
        for (const NewItem &item : items) {
            FileRecord rec;
            utf8ToUtf16(item.name, &rec.utf16);
            rec.name = item.name;
            rec.hasStream = !item.folder && item.st.st_size > 0;
            rec.emptyFile = !item.folder && !rec.hasStream;
            rec.timeDefined[2] = true;
            rec.times[2] = fileTime(item.st.st_mtim);
            rec.attrDefined = true;
            rec.attributes = 0x8000u | (static_cast<uint32_t>(item.st.st_mode & 0xFFFF) << 16)
                             | (item.folder ? 0x10u : 0x20u) | ((item.st.st_mode & 0222) ? 0u : 0x01u);
            if (rec.hasStream) {
                const int code = encodeInto([&] { return copyFile(item, encoder, ticker, message); });
                if (code != SALVO_OK)
                    return code;
            }
            m_outFiles.push_back(rec);
        }
        if (!closeEncoder())
            return writeFailure(out.error() ? out.error() : EIO, message);

        const int64_t headerAt = out.position();
        const std::string header = m_outFiles.empty() ? std::string() : makeHeader();
        if (!out.write(header.data(), header.size()) || !out.flush())
            return writeFailure(out.error(), message);
        unsigned char start[32];
        std::memcpy(start, kSignature, 6);
        start[6] = 0;
        start[7] = 4;
        const uint64_t nextOffset = m_outFiles.empty() ? 0 : static_cast<uint64_t>(headerAt - 32);
        const uint64_t nextSize = header.size();
        const uint32_t nextCrc = static_cast<uint32_t>(
            crc32(0, reinterpret_cast<const Bytef *>(header.data()), static_cast<uInt>(header.size())));
        std::memcpy(start + 12, &nextOffset, 8);
        std::memcpy(start + 20, &nextSize, 8);
        std::memcpy(start + 28, &nextCrc, 4);
        const uint32_t startCrc = static_cast<uint32_t>(crc32(0, start + 12, 20));
        std::memcpy(start + 8, &startCrc, 4);
        if (!out.writeAt(0, start, sizeof start))
            return writeFailure(out.error(), message);
        return SALVO_OK;
    }

private:
    void parse(int fd, int64_t fileSize)
    {
        unsigned char start[32];
        if (::pread(fd, start, 32, 0) != 32 || std::memcmp(start, kSignature, 6) != 0)
            throw BrokenHeader("signature");
        uint64_t nextOffset, nextSize;
        uint32_t nextCrc, startCrc;
        std::memcpy(&startCrc, start + 8, 4);
        std::memcpy(&nextOffset, start + 12, 8);
        std::memcpy(&nextSize, start + 20, 8);
        std::memcpy(&nextCrc, start + 28, 4);
        if (crc32(0, start + 12, 20) != startCrc)
            throw BrokenHeader("start header");
        if (nextSize == 0)
            return; // an empty archive
        if (nextSize > kMaxHeader || nextOffset > static_cast<uint64_t>(fileSize) || 32 + nextOffset + nextSize > static_cast<uint64_t>(fileSize))
            throw BrokenHeader("header position");
        std::string header(static_cast<size_t>(nextSize), '\0');
        if (::pread(fd, header.data(), header.size(), static_cast<off_t>(32 + nextOffset)) != static_cast<ssize_t>(header.size()))
            throw BrokenHeader("header read");
        if (crc32(0, reinterpret_cast<const Bytef *>(header.data()), static_cast<uInt>(header.size())) != nextCrc)
            throw BrokenHeader("header checksum");
        for (int depth = 0; !header.empty() && static_cast<uint8_t>(header[0]) == kEncodedHeader; ++depth) {
            if (depth > 4)
                throw BrokenHeader("nested header");
            ByteReader r(reinterpret_cast<const unsigned char *>(header.data()) + 1, header.size() - 1);
            const StreamsInfo s = readStreamsInfo(r);
            if (s.folders.empty() || s.packSizes.empty())
                throw BrokenHeader("packed header");
            header = decodeSimpleFolder(fd, 32 + s.packPos, s.packSizes[0], s.folders[0]);
        }
        ByteReader r(reinterpret_cast<const unsigned char *>(header.data()), header.size());
        if (r.byte() != kHeader)
            throw BrokenHeader("header");
        uint8_t id = r.byte();
        if (id == kArchiveProperties || id == kAdditionalStreamsInfo)
            throw BrokenHeader("archive properties");
        if (id == kMainStreamsInfo) {
            m_streams = readStreamsInfo(r);
            id = r.byte();
        }
        uint64_t packEnd = 32 + m_streams.packPos;
        for (uint64_t s : m_streams.packSizes)
            packEnd += s;
        if (packEnd > static_cast<uint64_t>(fileSize))
            throw BrokenHeader("pack streams");
        if (id == kFilesInfo) {
            readFiles(r);
            id = r.byte();
        }
        if (id != kEnd)
            throw BrokenHeader("header end");
        // Files with data take the folders' streams in order.
        size_t folder = 0, sub = 0;
        for (FileRecord &f : m_files) {
            if (!f.hasStream)
                continue;
            while (folder < m_streams.folders.size() && sub >= m_streams.folders[folder].subSizes.size()) {
                ++folder;
                sub = 0;
            }
            if (folder >= m_streams.folders.size())
                throw BrokenHeader("streams of files");
            const Folder &fo = m_streams.folders[folder];
            f.folder = static_cast<int>(folder);
            f.sub = sub;
            f.size = fo.subSizes[sub];
            f.crcDefined = fo.subCrcDefined[sub];
            f.crc = fo.subCrcs[sub];
            ++sub;
        }
    }

    void readFiles(ByteReader &r)
    {
        const size_t n = r.count();
        m_files.assign(n, FileRecord());
        std::vector<bool> emptyFile, anti;
        size_t empties = 0;
        for (;;) {
            const uint64_t type = r.number();
            if (type == kEnd)
                break;
            const uint64_t size = r.number();
            const size_t end = r.pos() + static_cast<size_t>(size);
            switch (type) {
            case kEmptyStream: {
                const std::vector<bool> v = r.bits(n);
                empties = 0;
                for (size_t i = 0; i < n; ++i) {
                    m_files[i].hasStream = !v[i];
                    empties += v[i] ? 1 : 0;
                }
                break;
            }
            case kEmptyFile:
                emptyFile = r.bits(empties);
                break;
            case kAnti:
                anti = r.bits(empties);
                break;
            case kName: {
                if (r.byte() != 0)
                    throw BrokenHeader("external names");
                for (FileRecord &f : m_files) {
                    std::string u;
                    for (;;) {
                        const uint8_t lo = r.byte(), hi = r.byte();
                        if (lo == 0 && hi == 0)
                            break;
                        u.push_back(static_cast<char>(lo));
                        u.push_back(static_cast<char>(hi));
                    }
                    f.utf16 = u;
                    f.name = utf16ToUtf8(u);
                }
                break;
            }
            case kCTime:
            case kATime:
            case kMTime:
            case kStartPos: {
                const std::vector<bool> d = r.defined(n);
                if (r.byte() != 0)
                    throw BrokenHeader("external times");
                for (size_t i = 0; i < n; ++i) {
                    if (!d[i])
                        continue;
                    const uint64_t v = r.u64();
                    if (type == kStartPos) {
                        m_files[i].startDefined = true;
                        m_files[i].startPos = v;
                    } else {
                        const int t = type == kCTime ? 0 : type == kATime ? 1 : 2;
                        m_files[i].timeDefined[t] = true;
                        m_files[i].times[t] = v;
                    }
                }
                break;
            }
            case kAttributes: {
                const std::vector<bool> d = r.defined(n);
                if (r.byte() != 0)
                    throw BrokenHeader("external attributes");
                for (size_t i = 0; i < n; ++i) {
                    if (d[i]) {
                        m_files[i].attrDefined = true;
                        m_files[i].attributes = r.u32();
                    }
                }
                break;
            }
            default:
                break; // padding and properties that carry nothing to keep
            }
            if (r.pos() > end)
                throw BrokenHeader("file property");
            r.skip(end - r.pos());
        }
        size_t k = 0;
        for (FileRecord &f : m_files) {
            if (f.hasStream)
                continue;
            f.emptyFile = k < emptyFile.size() && emptyFile[k];
            f.anti = k < anti.size() && anti[k];
            ++k;
        }
    }

    // The data of file `index` as libarchive decodes it, in file order.
    int copyDecoded(ReplacementFile &file, size_t index, FolderEncoder &encoder, AliveTicker &ticker,
                    std::string *message)
    {
        auto failed = [&](const std::string &why) {
            *message = "7z 書庫のデータを読めません (" + why + "): " + file.archivePath() + "\n";
            return SALVO_E_BROKEN_DATA;
        };
        if (!m_reader) {
            m_reader = archive_read_new();
            archive_read_support_format_7zip(m_reader);
            if (archive_read_open_filename(m_reader, file.archivePath().c_str(), 1 << 20) != ARCHIVE_OK)
                return failed(archive_error_string(m_reader) ? archive_error_string(m_reader) : "open");
            m_readerIndex = -1;
        }
        archive_entry *e = nullptr;
        while (m_readerIndex < static_cast<long>(index)) {
            if (archive_read_next_header(m_reader, &e) != ARCHIVE_OK)
                return failed(archive_error_string(m_reader) ? archive_error_string(m_reader) : "header");
            ++m_readerIndex;
        }
        // libarchive gives the entries in the header's order; the names tell.
        const char *name = archive_entry_pathname_utf8(e);
        auto slashed = [](std::string n) {
            std::replace(n.begin(), n.end(), '\\', '/');
            return n;
        };
        if (!name || slashed(m_files[index].name) != slashed(name))
            return failed("entry order");
        char buffer[1 << 16];
        uint64_t total = 0;
        for (;;) {
            const la_ssize_t n = archive_read_data(m_reader, buffer, sizeof buffer);
            if (n < 0)
                return failed(archive_error_string(m_reader) ? archive_error_string(m_reader) : "data");
            if (n == 0)
                break;
            if (!encoder.write(buffer, static_cast<size_t>(n)))
                return writeFailure(encoder.error(), message);
            total += static_cast<uint64_t>(n);
            ticker.tick();
        }
        if (total != m_files[index].size)
            return failed("size");
        return SALVO_OK;
    }

    int copyFile(const NewItem &item, FolderEncoder &encoder, AliveTicker &ticker, std::string *message)
    {
        const int fd = ::open(item.path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            *message = "追加するファイルを読めません: " + item.path + "\n";
            return SALVO_E_FILE_OPEN;
        }
        std::vector<unsigned char> chunk(1 << 20);
        int code = SALVO_OK;
        for (;;) {
            const ssize_t got = ::read(fd, chunk.data(), chunk.size());
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                *message = "追加するファイルを読めません: " + item.path + "\n";
                code = SALVO_E_FILE_OPEN;
                break;
            }
            if (got == 0)
                break;
            if (!encoder.write(chunk.data(), static_cast<size_t>(got))) {
                code = writeFailure(encoder.error(), message);
                break;
            }
            ticker.tick();
        }
        ::close(fd);
        return code;
    }

    std::string makeHeader()
    {
        ByteWriter w;
        w.byte(kHeader);
        if (!m_outFolders.empty()) {
            w.byte(kMainStreamsInfo);
            w.byte(kPackInfo);
            w.number(0);
            w.number(m_outPackSizes.size());
            w.byte(kSize);
            for (uint64_t s : m_outPackSizes)
                w.number(s);
            w.byte(kEnd);
            w.byte(kUnpackInfo);
            w.byte(kFolder);
            w.number(m_outFolders.size());
            w.byte(0);
            for (const Folder &f : m_outFolders)
                w.append(f.record);
            w.byte(kCodersUnpackSize);
            for (const Folder &f : m_outFolders) {
                for (uint64_t s : f.unpackSizes)
                    w.number(s);
            }
            std::vector<bool> folderCrc;
            for (const Folder &f : m_outFolders)
                folderCrc.push_back(f.crcDefined);
            if (std::any_of(folderCrc.begin(), folderCrc.end(), [](bool b) { return b; })) {
                w.byte(kCrc);
                w.defined(folderCrc);
                for (const Folder &f : m_outFolders) {
                    if (f.crcDefined)
                        w.u32(f.crc);
                }
            }
            w.byte(kEnd);
            w.byte(kSubStreamsInfo);
            if (std::any_of(m_outFolders.begin(), m_outFolders.end(), [](const Folder &f) { return f.subSizes.size() != 1; })) {
                w.byte(kNumUnpackStream);
                for (const Folder &f : m_outFolders)
                    w.number(f.subSizes.size());
            }
            if (std::any_of(m_outFolders.begin(), m_outFolders.end(), [](const Folder &f) { return f.subSizes.size() > 1; })) {
                w.byte(kSize);
                for (const Folder &f : m_outFolders) {
                    for (size_t i = 0; i + 1 < f.subSizes.size(); ++i)
                        w.number(f.subSizes[i]);
                }
            }
            std::vector<bool> defined;
            std::vector<uint32_t> crcs;
            for (const Folder &f : m_outFolders) {
                if (f.subSizes.size() == 1 && f.crcDefined)
                    continue;
                for (size_t i = 0; i < f.subSizes.size(); ++i) {
                    defined.push_back(f.subCrcDefined[i]);
                    crcs.push_back(f.subCrcs[i]);
                }
            }
            if (std::any_of(defined.begin(), defined.end(), [](bool b) { return b; })) {
                w.byte(kCrc);
                w.defined(defined);
                for (size_t i = 0; i < crcs.size(); ++i) {
                    if (defined[i])
                        w.u32(crcs[i]);
                }
            }
            w.byte(kEnd);
            w.byte(kEnd);
        }
        const size_t n = m_outFiles.size();
        w.byte(kFilesInfo);
        w.number(n);
        auto property = [&](uint8_t type, const ByteWriter &data) {
            w.byte(type);
            w.number(data.size());
            w.append(data.data());
        };
        std::vector<bool> empty, emptyFile, anti;
        for (const FileRecord &f : m_outFiles) {
            empty.push_back(!f.hasStream);
            if (!f.hasStream) {
                emptyFile.push_back(f.emptyFile);
                anti.push_back(f.anti);
            }
        }
        auto any = [](const std::vector<bool> &v) { return std::any_of(v.begin(), v.end(), [](bool b) { return b; }); };
        if (any(empty)) {
            ByteWriter d;
            d.bits(empty);
            property(kEmptyStream, d);
        }
        if (any(emptyFile)) {
            ByteWriter d;
            d.bits(emptyFile);
            property(kEmptyFile, d);
        }
        if (any(anti)) {
            ByteWriter d;
            d.bits(anti);
            property(kAnti, d);
        }
        {
            ByteWriter d;
            d.byte(0);
            for (const FileRecord &f : m_outFiles) {
                d.append(f.utf16);
                d.byte(0);
                d.byte(0);
            }
            property(kName, d);
        }
        const uint8_t timeIds[3] = {kCTime, kATime, kMTime};
        for (int t = 0; t < 3; ++t) {
            std::vector<bool> defined;
            for (const FileRecord &f : m_outFiles)
                defined.push_back(f.timeDefined[t]);
            if (!any(defined))
                continue;
            ByteWriter d;
            d.defined(defined);
            d.byte(0);
            for (const FileRecord &f : m_outFiles) {
                if (f.timeDefined[t])
                    d.u64(f.times[t]);
            }
            property(timeIds[t], d);
        }
        {
            std::vector<bool> defined;
            for (const FileRecord &f : m_outFiles)
                defined.push_back(f.startDefined);
            if (any(defined)) {
                ByteWriter d;
                d.defined(defined);
                d.byte(0);
                for (const FileRecord &f : m_outFiles) {
                    if (f.startDefined)
                        d.u64(f.startPos);
                }
                property(kStartPos, d);
            }
        }
        {
            std::vector<bool> defined;
            for (const FileRecord &f : m_outFiles)
                defined.push_back(f.attrDefined);
            if (any(defined)) {
                ByteWriter d;
                d.defined(defined);
                d.byte(0);
                for (const FileRecord &f : m_outFiles) {
                    if (f.attrDefined)
                        d.u32(f.attributes);
                }
                property(kAttributes, d);
            }
        }
        w.byte(kEnd);
        w.byte(kEnd);
        return w.data();
    }

public:
    // The folder of every file, and every folder's packed size.
    bool layout(int fd, int64_t fileSize, FolderLayout *out)
    {
        try {
            parse(fd, fileSize);
        } catch (const std::exception &) {
            return false;
        }
        for (const FileRecord &f : m_files)
            out->folderOfEntry.push_back(f.folder);
        for (const Folder &f : m_streams.folders) {
            uint64_t packed = 0;
            for (size_t i = f.firstPack; i < f.firstPack + f.packStreams && i < m_streams.packSizes.size(); ++i)
                packed += m_streams.packSizes[i];
            out->packedSize.push_back(packed);
            out->unpackedSize.push_back(f.unpackSize());
        }
        return true;
    }

    ~SevenZipRewriter() override
    {
        if (m_reader)
            archive_read_free(m_reader);
    }

private:
    bool m_solid;
    StreamsInfo m_streams;
    std::vector<FileRecord> m_files;
    std::vector<Folder> m_outFolders;
    std::vector<uint64_t> m_outPackSizes;
    std::vector<FileRecord> m_outFiles;
    archive *m_reader = nullptr;
    long m_readerIndex = -1;
};

} // namespace

std::unique_ptr<FormatRewriter> makeSevenZipRewriter(bool solid)
{
    return std::make_unique<SevenZipRewriter>(solid);
}

bool readSevenZipLayout(int fd, int64_t fileSize, FolderLayout *out)
{
    return SevenZipRewriter(false).layout(fd, fileSize, out);
}

} // namespace salvo::arc
