#include "LzhMembers.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <unistd.h>

namespace salvo::arc {
namespace {

const std::array<uint16_t, 256> &crcTable()
{
    static const std::array<uint16_t, 256> table = [] {
        std::array<uint16_t, 256> t{};
        for (int i = 0; i < 256; ++i) {
            uint16_t c = static_cast<uint16_t>(i);
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? static_cast<uint16_t>((c >> 1) ^ 0xA001) : static_cast<uint16_t>(c >> 1);
            t[static_cast<size_t>(i)] = c;
        }
        return t;
    }();
    return table;
}

uint16_t le16(const unsigned char *p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t le32(const unsigned char *p)
{
    return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
}
int64_t le64(const unsigned char *p)
{
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | p[i];
    return static_cast<int64_t>(v);
}

// Headers longer than this are not headers (level 3 could state up to 4 GiB).
constexpr int64_t kMaxHeader = 1 << 20;

class Walk {
public:
    Walk(int fd, int64_t size, std::string *why) : m_fd(fd), m_size(size), m_why(why) {}

    // Reads `n` bytes at `at`; false when the file ends before.
    bool read(int64_t at, size_t n, std::vector<unsigned char> *out)
    {
        if (at < 0 || at > m_size || static_cast<int64_t>(n) > m_size - at)
            return false;
        out->resize(n);
        size_t done = 0;
        while (done < n) {
            const ssize_t got = ::pread(m_fd, out->data() + done, n - done, at + static_cast<int64_t>(done));
            if (got <= 0)
                return false;
            done += static_cast<size_t>(got);
        }
        return true;
    }

    bool fail(int64_t at, const std::string &what)
    {
        *m_why = what + " (位置 " + std::to_string(at) + ")";
        return false;
    }

    bool member(int64_t at, LzhMember *m);

private:
    // The header's extensions from `at` on, each led by its size (2 or 4
    // bytes, a size of 0 ends them), within `limit` bytes counted from the
    // first size field. `crc`, when given, takes in their bytes as the header
    // CRC covers them (the CRC's own field as zeros).
    bool extensions(int64_t header, int64_t at, int sizeField, int64_t limit, uint16_t *crc, int64_t *total);

    int m_fd;
    int64_t m_size;
    std::string *m_why;
    // What the extensions of the header at hand said.
    std::string m_name, m_folder;
    bool m_hasCrc = false;
    uint16_t m_headerCrc = 0;
    int64_t m_packed = 0;
};

bool Walk::extensions(int64_t header, int64_t at, int sizeField, int64_t limit, uint16_t *crc, int64_t *total)
{
    std::vector<unsigned char> ext;
    *total = sizeField;
    for (;;) {
        if (!read(at, static_cast<size_t>(sizeField), &ext))
            return fail(header, "LZH 書庫のヘッダが途中で切れています");
        const int64_t extSize = sizeField == 2 ? le16(ext.data()) : le32(ext.data());
        if (extSize == 0) {
            if (crc)
                *crc = lzhCrc16(*crc, ext.data(), ext.size());
            return true;
        }
        if (*total + extSize > limit || extSize <= sizeField)
            return fail(header, "LZH 書庫の拡張ヘッダの大きさが正しくありません");
        if (!read(at, static_cast<size_t>(extSize), &ext))
            return fail(header, "LZH 書庫のヘッダが途中で切れています");
        *total += extSize;
        const unsigned char type = ext[static_cast<size_t>(sizeField)];
        const unsigned char *data = ext.data() + sizeField + 1;
        const size_t dataSize = static_cast<size_t>(extSize) - 1 - static_cast<size_t>(sizeField);
        if (crc && type != 0x00)
            *crc = lzhCrc16(*crc, ext.data(), ext.size());
        switch (type) {
        case 0x00: // the header's CRC
            if (dataSize >= 2) {
                m_hasCrc = true;
                m_headerCrc = le16(data);
                if (crc) {
                    static const unsigned char zeros[2] = {0, 0};
                    *crc = lzhCrc16(*crc, ext.data(), ext.size() - dataSize);
                    *crc = lzhCrc16(*crc, zeros, 2);
                    *crc = lzhCrc16(*crc, data + 2, dataSize - 2);
                }
            }
            break;
        case 0x01: // the file name
            if (dataSize > 0 && data[0] == 0)
                return fail(header, "LZH 書庫のヘッダのファイル名が正しくありません");
            m_name.assign(reinterpret_cast<const char *>(data), dataSize);
            break;
        case 0x02: // the folder, 0xFF between its parts and after the last
            if (dataSize == 0 || data[0] == 0 || (data[dataSize - 1] != 0xFF && data[dataSize - 1] != '/'))
                return fail(header, "LZH 書庫のヘッダのフォルダ名が正しくありません");
            m_folder.assign(reinterpret_cast<const char *>(data), dataSize);
            break;
        case 0x42: // 64-bit sizes
            if (dataSize == 16)
                m_packed = le64(data);
            break;
        default:
            break;
        }
        at += extSize;
    }
}

bool Walk::member(int64_t at, LzhMember *m)
{
    std::vector<unsigned char> base;
    const size_t got = static_cast<size_t>(std::min<int64_t>(28, m_size - at));
    if (!read(at, got, &base) || got < 22)
        return fail(at, "LZH 書庫のヘッダが途中で切れています");
    // "-lh0-" to "-lh7-" and "-lhd-" (levels 1 to 3 with the attribute 0x20),
    // or "-lzs-", "-lz4-", "-lz5-" of level 0.
    const unsigned char kind = base[4], letter = base[5], level = base[20];
    bool known = base[2] == '-' && base[3] == 'l' && base[6] == '-';
    if (known && kind == 'h')
        known = ((letter >= '0' && letter <= '7') || letter == 'd') && (level == 0 || (level <= 3 && base[19] == 0x20));
    else if (known && kind == 'z')
        known = level == 0 && (letter == 's' || letter == '4' || letter == '5');
    else
        known = false;
    if (!known)
        return fail(at, "LZH 書庫のヘッダではありません");

    m_name.clear();
    m_folder.clear();
    m_hasCrc = false;
    m_packed = le32(&base[7]);
    m->offset = at;
    m->level = level;
    m->folderMethod = std::memcmp(&base[2], "-lhd-", 5) == 0;
    m->mtime = level >= 2 ? le32(&base[15]) : 0;
    std::vector<unsigned char> h;
    int64_t dataAt = 0;
    if (level == 0 || level == 1) {
        const int64_t headerSize = base[0] + 2;
        const int nameLength = base[21];
        if (got < (level == 0 ? 24u : 27u))
            return fail(at, "LZH 書庫のヘッダが途中で切れています");
        const int64_t rest = headerSize - (level == 0 ? 24 : 27) - nameLength;
        if (level == 0 ? (nameLength > 221 || rest < 0) && rest != -2 : nameLength > 230 || rest < 0)
            return fail(at, "LZH 書庫のヘッダの大きさが正しくありません");
        if (!read(at, static_cast<size_t>(headerSize), &h))
            return fail(at, "LZH 書庫のヘッダが途中で切れています");
        unsigned char sum = 0;
        for (int64_t i = 2; i < headerSize; ++i)
            sum = static_cast<unsigned char>(sum + h[static_cast<size_t>(i)]);
        if (sum != h[1])
            return fail(at, "LZH 書庫のヘッダのチェックサムが合いません");
        m_name.assign(reinterpret_cast<const char *>(&h[22]), static_cast<size_t>(nameLength));
        if (level == 0) {
            dataAt = at + headerSize;
        } else {
            if (m_name.find('\xFF') != std::string::npos)
                return fail(at, "LZH 書庫のヘッダのファイル名が正しくありません");
            int64_t total = 0;
            if (!extensions(at, at + headerSize - 2, 2, m_packed + 2, nullptr, &total))
                return false;
            // The stated size counts the extensions too.
            m_packed -= total - 2;
            dataAt = at + headerSize - 2 + total;
        }
    } else if (level == 2 || level == 3) {
        const int sizeField = level == 2 ? 2 : 4;
        const int64_t fixed = level == 2 ? 24 : 28;
        if (got < static_cast<size_t>(fixed))
            return fail(at, "LZH 書庫のヘッダが途中で切れています");
        const int64_t headerSize = level == 2 ? le16(&base[0]) : le32(&base[24]);
        if ((level == 3 && le16(&base[0]) != 4) || headerSize < fixed + (level == 3 ? 4 : 0) || headerSize > kMaxHeader)
            return fail(at, "LZH 書庫のヘッダの大きさが正しくありません");
        uint16_t crc = lzhCrc16(0, base.data(), static_cast<size_t>(fixed));
        int64_t total = 0;
        if (!extensions(at, at + fixed, sizeField, headerSize - fixed, &crc, &total))
            return false;
        const int64_t padding = headerSize - fixed - total;
        if (level == 3 && padding != 0)
            return fail(at, "LZH 書庫のヘッダの大きさが正しくありません");
        if (padding > 0) {
            if (!read(at + fixed + total, static_cast<size_t>(padding), &h))
                return fail(at, "LZH 書庫のヘッダが途中で切れています");
            crc = lzhCrc16(crc, h.data(), h.size());
        }
        if (!m_hasCrc || crc != m_headerCrc)
            return fail(at, "LZH 書庫のヘッダの CRC が合いません");
        dataAt = at + headerSize;
    } else {
        return fail(at, "LZH 書庫のヘッダのレベルが正しくありません");
    }
    // The reader takes a name up to its first NUL.
    if (!m->folderMethod && (m_name.empty() || m_name[0] == '\0'))
        return fail(at, "LZH 書庫のヘッダにファイル名がありません");
    if (m_packed < 0 || m_packed > m_size - dataAt)
        return fail(at, "LZH 書庫のデータが途中で切れています");
    // A folder has no data; a reader that reads what a folder's header
    // claims, and one that skips it, would find the next header apart.
    if (m->folderMethod && m_packed != 0)
        return fail(at, "LZH 書庫のフォルダのヘッダにデータがあります");
    m->size = dataAt + m_packed - at;
    m->name = m_name;
    m->folder = m_folder;
    return true;
}

} // namespace

uint16_t lzhCrc16(uint16_t crc, const unsigned char *p, size_t n)
{
    const std::array<uint16_t, 256> &table = crcTable();
    while (n--)
        crc = static_cast<uint16_t>(table[(crc ^ *p++) & 0xFF] ^ (crc >> 8));
    return crc;
}

bool readLzhMembers(int fd, int64_t size, LzhLayout *layout, std::string *why)
{
    Walk walk(fd, size, why);
    layout->members.clear();
    int64_t at = 0;
    std::vector<unsigned char> first;
    for (;;) {
        if (at >= size || !walk.read(at, 1, &first)) {
            layout->tail = size;
            return true;
        }
        if (first[0] == 0) {
            layout->tail = at + 1;
            return true;
        }
        LzhMember m;
        if (!walk.member(at, &m))
            return false;
        layout->members.push_back(std::move(m));
        at += layout->members.back().size;
    }
}

} // namespace salvo::arc
