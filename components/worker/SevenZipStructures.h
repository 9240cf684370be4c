#pragma once
// The 7z container as its headers describe it: the byte readers and writers of
// the header's encoding and the records a rewrite keeps (folders, their packed
// streams, files). Reading the headers is SevenZipHeaderReader's job, writing
// them SevenZipHeaderWriter's.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace salvo::arc::sevenzip {

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

// A header that cannot be read as the format says.
struct BrokenHeader : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A packed header this reader cannot unpack: encrypted, or by another method.
struct UnsupportedHeader {
    enum Why { Encrypted, Method } why;
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

} // namespace salvo::arc::sevenzip
