// LZH archives, written here since no library on Debian writes them: members
// that stay are copied byte for byte (headers of every level, checksums and
// data as they were); new members get level-2 headers and -lh5- data.
#include "ArchiveRewrite.h"
#include "Lh5Encoder.h"
#include "LzhMembers.h"
#include "Names.h"
#include "salvo_archiver.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iconv.h>
#include <unistd.h>

namespace salvo::arc {
namespace {

uint16_t crc16(uint16_t crc, const unsigned char *p, size_t n)
{
    return lzhCrc16(crc, p, n);
}

void put16(std::string &s, size_t at, uint32_t v)
{
    s[at] = static_cast<char>(v);
    s[at + 1] = static_cast<char>(v >> 8);
}
void put32(std::string &s, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s[at + i] = static_cast<char>(v >> (8 * i));
}

// UTF-8 to CP932; false when a character has no CP932 form.
bool utf8ToCp932(const std::string &in, std::string *out)
{
    iconv_t cd = iconv_open("CP932", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    std::string src = in;
    std::string buffer(in.size() * 2 + 8, '\0');
    char *ip = src.data(), *op = buffer.data();
    size_t il = src.size(), ol = buffer.size();
    const size_t r = iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1) || il != 0)
        return false;
    out->assign(buffer.data(), buffer.size() - ol);
    return true;
}

struct Member {
    int64_t offset = 0, size = 0;
};

class LzhRewriter : public FormatRewriter {
public:
    int load(ReplacementFile &file, std::vector<ExistingEntry> *entries, std::string *message) override
    {
        // Every header is checked before anything is written: a damaged
        // archive is refused as it is, never rewritten around its damage.
        LzhLayout layout;
        std::string why;
        if (!readLzhMembers(file.sourceFd(), file.sourceSize(), &layout, &why)) {
            *message = why + "。壊れた書庫は更新しません: " + file.archivePath();
            return SALVO_E_HEADER_BROKEN;
        }
        if (layout.members.empty() && file.sourceSize() > 1) {
            *message = "LZH 書庫のヘッダが壊れています (empty): " + file.archivePath();
            return SALVO_E_HEADER_BROKEN;
        }
        bool anyUtf8 = false, anyLegacy = false;
        for (const LzhMember &member : layout.members) {
            const std::string &name = member.name, &dir = member.folder;
            std::string raw;
            for (char c : dir)
                raw.push_back(c == '\xFF' ? '/' : c);
            if (!raw.empty() && raw.back() != '/')
                raw.push_back('/');
            for (char c : name)
                raw.push_back(c == '\xFF' ? '/' : c);
            bool folderMethod = member.folderMethod;
            // A symbolic link is a folder-method member named "name|target".
            if (const size_t bar = raw.find('|'); folderMethod && bar != std::string::npos) {
                raw.resize(bar);
                folderMethod = false;
            }
            if (!isAscii(raw))
                (isValidUtf8(raw) ? anyUtf8 : anyLegacy) = true;
            ExistingEntry e;
            e.name = raw; // decoded below, once all names are known
            e.folder = folderMethod;
            e.mtime = member.mtime;
            entries->push_back(e);
            m_members.push_back({member.offset, member.size});
        }
        // Bytes after the end mark are no part of the archive; they stay
        // after the new end mark as they were.
        m_tailAt = layout.tail;
        m_tailSize = file.sourceSize() - layout.tail;
        // The names as the listing shows them: all read as CP932 when one of
        // them is not UTF-8; "\\" separates folders (after decoding, where it
        // can be the second byte of a character).
        for (ExistingEntry &e : *entries) {
            if (anyLegacy && !isAscii(e.name))
                e.name = cp932ToUtf8(e.name);
            for (char &c : e.name) {
                if (c == '\\')
                    c = '/';
            }
            while (!e.name.empty() && e.name.back() == '/')
                e.name.pop_back();
        }
        // Names of new members follow the archive: UTF-8 only in an archive
        // whose names already are.
        m_utf8Names = anyUtf8 && !anyLegacy;
        return SALVO_OK;
    }

    int accepts(const NewItem &item, std::string *message) override
    {
        std::string raw;
        if (!encodeName(item.name, &raw)) {
            *message = "CP932 (シフト JIS) で表せない文字を含む名前は LZH 書庫に追加できません: " + item.name + "\n";
            return SALVO_E_FILE_OPEN;
        }
        if (!item.folder && item.st.st_size >= 0xFFFFFFFFLL) {
            *message = "4 GiB 以上のファイルは LZH 書庫に追加できません: " + item.path + "\n";
            return SALVO_E_FILE_OPEN;
        }
        return SALVO_OK;
    }

    int write(ReplacementFile &file, const std::vector<bool> &keep, const std::vector<NewItem> &items,
              const AliveFn &alive, std::string *message) override
    {
        // An archive of no member that keeps bytes after its end mark would
        // read as no archive at all.
        if (m_tailSize > 0 && items.empty() && std::find(keep.begin(), keep.end(), true) == keep.end()) {
            *message = "LZH 書庫の終わりの印のあとにデータがあるため、すべてのエントリを削除することはできません: "
                + file.archivePath() + "\n";
            return SALVO_E_NOT_SUPPORT;
        }
        AliveTicker ticker(alive);
        OutputStream out(file);
        // Runs of members that stay are copied in one go.
        size_t i = 0;
        while (i < m_members.size()) {
            if (!keep[i]) {
                ++i;
                continue;
            }
            const int64_t from = m_members[i].offset;
            int64_t length = 0;
            while (i < m_members.size() && keep[i]) {
                length += m_members[i].size;
                ++i;
            }
            ticker.tick();
            if (!out.copyFrom(file.sourceFd(), from, length))
                return writeFailure(out.error(), message);
        }
        for (const NewItem &item : items) {
            const int code = addMember(out, item, ticker, message);
            if (code != SALVO_OK)
                return code;
        }
        const unsigned char endMark = 0;
        if (!out.write(&endMark, 1) || !out.flush())
            return writeFailure(out.error(), message);
        if (m_tailSize > 0 && !out.copyFrom(file.sourceFd(), m_tailAt, m_tailSize))
            return writeFailure(out.error(), message);
        return SALVO_OK;
    }

private:
    bool encodeName(const std::string &utf8, std::string *raw) const
    {
        if (isAscii(utf8) || m_utf8Names) {
            *raw = utf8;
            return isValidUtf8(utf8);
        }
        return utf8ToCp932(utf8, raw);
    }

    // A level-2 header: the fixed part, then the extensions (header checksum,
    // file name, folder names, Unix permissions).
    std::string makeHeader(const std::string &rawName, const NewItem &item) const
    {
        std::string dir, name = rawName;
        if (item.folder) {
            dir = rawName;
            name.clear();
        } else if (const size_t slash = rawName.find_last_of('/'); slash != std::string::npos) {
            dir = rawName.substr(0, slash);
            name = rawName.substr(slash + 1);
        }
        for (char &c : dir) {
            if (c == '/')
                c = '\xFF';
        }
        if (!dir.empty())
            dir.push_back('\xFF');
        std::vector<std::pair<unsigned char, std::string>> exts;
        exts.push_back({0x00, std::string(2, '\0')});
        if (!item.folder)
            exts.push_back({0x01, name});
        if (!dir.empty())
            exts.push_back({0x02, dir});
        std::string mode(2, '\0');
        put16(mode, 0, static_cast<uint32_t>(item.st.st_mode & 0xFFFF));
        exts.push_back({0x50, mode});
        size_t size = 26;
        for (const auto &e : exts)
            size += 3 + e.second.size();
        // A header size whose low byte is 0 would read as the end mark.
        if ((size & 0xFF) == 0) {
            std::string attribute(2, '\0');
            attribute[0] = item.folder ? 0x10 : 0x20;
            exts.push_back({0x40, attribute});
            size += 5;
        }
        std::string h(26, '\0');
        put16(h, 0, static_cast<uint32_t>(size));
        std::memcpy(&h[2], item.folder ? "-lhd-" : "-lh5-", 5);
        const int64_t mtime = std::clamp<int64_t>(item.st.st_mtime, 0, 0xFFFFFFFFLL);
        put32(h, 15, static_cast<uint32_t>(mtime));
        h[19] = 0x20;
        h[20] = 2;
        h[23] = 'U';
        put16(h, 24, static_cast<uint32_t>(3 + exts[0].second.size()));
        for (size_t k = 0; k < exts.size(); ++k) {
            h.push_back(static_cast<char>(exts[k].first));
            h += exts[k].second;
            const uint32_t next = k + 1 < exts.size() ? static_cast<uint32_t>(3 + exts[k + 1].second.size()) : 0;
            h.push_back(static_cast<char>(next));
            h.push_back(static_cast<char>(next >> 8));
        }
        return h;
    }

    static void finishHeader(std::string &h, const char *method, uint32_t packed, uint32_t original, uint16_t crc)
    {
        std::memcpy(&h[2], method, 5);
        put32(h, 7, packed);
        put32(h, 11, original);
        put16(h, 21, crc);
        put16(h, 27, 0);
        put16(h, 27, crc16(0, reinterpret_cast<const unsigned char *>(h.data()), h.size()));
    }

    int addMember(OutputStream &out, const NewItem &item, AliveTicker &ticker, std::string *message)
    {
        std::string raw;
        encodeName(item.name, &raw);
        std::string header = makeHeader(raw, item);
        const int64_t headerAt = out.position();
        if (item.folder) {
            finishHeader(header, "-lhd-", 0, 0, 0);
            return out.write(header.data(), header.size()) ? SALVO_OK : writeFailure(out.error(), message);
        }
        const int fd = ::open(item.path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            *message = "追加するファイルを読めません: " + item.path + "\n";
            return SALVO_E_FILE_OPEN;
        }
        struct Closer {
            int fd;
            ~Closer() { ::close(fd); }
        } closer{fd};
        if (!out.write(header.data(), header.size()))
            return writeFailure(out.error(), message);
        const int64_t dataAt = out.position();
        Lh5Encoder encoder([&](const unsigned char *p, size_t n) { return out.write(p, n); });
        std::vector<unsigned char> chunk(1 << 20);
        uint16_t crc = 0;
        int64_t original = 0;
        for (;;) {
            const ssize_t got = ::read(fd, chunk.data(), chunk.size());
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                *message = "追加するファイルを読めません: " + item.path + "\n";
                return SALVO_E_FILE_OPEN;
            }
            if (got == 0)
                break;
            crc = crc16(crc, chunk.data(), static_cast<size_t>(got));
            original += got;
            if (original >= 0xFFFFFFFFLL) {
                *message = "4 GiB 以上のファイルは LZH 書庫に追加できません: " + item.path + "\n";
                return SALVO_E_FILE_OPEN;
            }
            if (!encoder.write(chunk.data(), static_cast<size_t>(got)))
                return writeFailure(out.error() ? out.error() : EIO, message);
            ticker.tick();
        }
        if (!encoder.finish())
            return writeFailure(out.error() ? out.error() : EIO, message);
        int64_t packed = out.position() - dataAt;
        const char *method = "-lh5-";
        if (packed >= original) {
            // Data that does not shrink is stored as it is.
            method = "-lh0-";
            if (!out.truncate(dataAt))
                return writeFailure(out.error(), message);
            int64_t copied = 0;
            while (copied < original) {
                const ssize_t got = ::pread(fd, chunk.data(), static_cast<size_t>(std::min<int64_t>(chunk.size(), original - copied)), copied);
                if (got <= 0) {
                    *message = "追加するファイルを読めません: " + item.path + "\n";
                    return SALVO_E_FILE_OPEN;
                }
                if (!out.write(chunk.data(), static_cast<size_t>(got)))
                    return writeFailure(out.error(), message);
                copied += got;
                ticker.tick();
            }
            packed = original;
        }
        finishHeader(header, method, static_cast<uint32_t>(packed), static_cast<uint32_t>(original), crc);
        if (!out.writeAt(headerAt, header.data(), header.size()))
            return writeFailure(out.error(), message);
        return SALVO_OK;
    }

    std::vector<Member> m_members;
    int64_t m_tailAt = 0, m_tailSize = 0;
    bool m_utf8Names = false;
};

} // namespace

std::unique_ptr<FormatRewriter> makeLzhRewriter()
{
    return std::make_unique<LzhRewriter>();
}

} // namespace salvo::arc
