#include "SecondDecoder.h"

#include "Names.h"
#include "core/CommandLine.h"
#include "core/TreeRemoval.h"
#include "SplitVolumes.h"
#include "salvo_archiver.h"

#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace salvo::arc {
namespace {

// The private folder of the second decoder inside the staging folder. Its
// name is no UTF-8, so no entry of any archive can have it (every name this
// program writes is UTF-8), and it is gone before anything is placed.
const char kToolFolder[] = "\xff" "7zz";

void dosDateTime(time_t t, uint16_t *date, uint16_t *time)
{
    struct tm tm {};
    if (t <= 0 || !localtime_r(&t, &tm) || tm.tm_year < 80) {
        *date = (1 << 5) | 1;
        *time = 0;
        return;
    }
    *date = static_cast<uint16_t>(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
    *time = static_cast<uint16_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
}

EntryInfo describe(const ToolEntry &e)
{
    EntryInfo info;
    info.name = e.name;
    info.size = e.folder ? 0 : e.size;
    info.compressed = e.packed;
    dosDateTime(e.mtime, &info.dosDate, &info.dosTime);
    info.mode = e.mode;
    info.attribute = e.folder ? "d----a" : "-----a";
    return info;
}

// Opens the folder that holds `path` below `root` (no link followed on the
// way) and gives the last part; -1 when it is not there.
int openHolder(int root, const std::string &path, std::string *leaf)
{
    std::vector<std::string> parts;
    if (!safeParts(path, &parts) || parts.empty())
        return -1;
    UniqueFd fd(fcntl(root, F_DUPFD_CLOEXEC, 0));
    for (size_t i = 0; i + 1 < parts.size() && fd.valid(); ++i)
        fd.reset(openat(fd.get(), parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    *leaf = parts.back();
    return fd.release();
}

} // namespace

SecondDecoder &SecondDecoder::current()
{
    static SecondDecoder decoder;
    return decoder;
}

void SecondDecoder::prepare(const std::string &archive, uint32_t formats)
{
    m_choice = {};
    m_tool.reset();
    m_filter.reset();
    m_names.clear();
    const VolumeSet set = volumeSetOf(archive);
    m_bytes = std::make_unique<VolumeInput>();
    std::string ignored;
    if (m_bytes->open(set.paths, &ignored) != SALVO_OK)
        return;
    m_choice = chooseDecoder(*m_bytes, formats);
    unsigned char magic[9];
    if ((formats & kTar) && m_bytes->readFully(0, magic, sizeof magic)
        && std::memcmp(magic, "\x89LZO\0\r\n\x1a\n", sizeof magic) == 0)
        m_filter = ConfinedProgram::find("lzop");
    if (!used())
        return;
    for (const std::string &path : set.paths)
        m_names.push_back(path.substr(path.find_last_of('/') + 1));
    m_tool = SevenZipTool::find();
}

std::vector<FileGrant> SecondDecoder::grants() const
{
    std::vector<FileGrant> grants;
    if (m_filter)
        grants = m_filter->grants();
    if (!used() || !m_tool)
        return grants;
    const std::vector<FileGrant> tool = m_tool->grants();
    grants.insert(grants.end(), tool.begin(), tool.end());
    for (const VolumeInput::Volume &v : m_bytes->volumes())
        grants.push_back({v.fd, false});
    return grants;
}

SevenZipTool::Input SecondDecoder::input() const
{
    SevenZipTool::Input in;
    for (const VolumeInput::Volume &v : m_bytes->volumes())
        in.files.push_back(v.fd);
    in.names = m_names;
    return in;
}

Listing SecondDecoder::list(const EntrySink &sink, const AliveFn &alive) const
{
    Listing out;
    if (!m_tool) {
        out.code = SALVO_E_MISSING_DECODER;
        out.message = missingToolMessage(m_choice);
        return out;
    }
    if (m_choice.headersEncrypted) {
        out.code = SALVO_E_PASSWORD_FILE;
        out.message = "名前も暗号化されています。一覧にはパスワードが必要です";
        return out;
    }
    std::vector<ToolEntry> entries;
    out.code = m_tool->list(input(), -1, m_choice, *m_bytes, {}, &entries, &out.message, alive);
    if (out.code != SALVO_OK)
        return out;
    for (const ToolEntry &e : entries) {
        if (sink) {
            sink(describe(e));
            ++out.streamed;
        } else {
            out.entries.push_back(describe(e));
        }
    }
    return out;
}

ExtractResult SecondDecoder::check(int mode, const AliveFn &alive) const
{
    const bool fullCheck = (mode & 7) >= SALVO_CHECKARCHIVE_FULLCRC;
    if (!m_tool) {
        // The archive is of its format (its headers said so); only reading its
        // data needs the program.
        if (!fullCheck)
            return {};
        return {SALVO_E_MISSING_DECODER, missingToolMessage(m_choice)};
    }
    if (m_choice.encrypted && (fullCheck || m_choice.headersEncrypted))
        return {fullCheck ? SALVO_E_PASSWORD_FILE : SALVO_OK,
                fullCheck ? "暗号化されています(パスワードが必要です)" : ""};
    ExtractResult result;
    if (fullCheck) {
        result.code = m_tool->test(input(), {}, &result.message, alive);
        return result;
    }
    std::vector<ToolEntry> entries;
    result.code = m_tool->list(input(), -1, m_choice, *m_bytes, {}, &entries, &result.message, alive);
    if (result.code == SALVO_OK && entries.empty())
        return {SALVO_E_NOT_ARC_FILE, "項目がありません"};
    return result;
}

ExtractResult SecondDecoder::extract(const ExtractRequest &req, const ExtractHooks &hooks, SafeTree &tree,
                                     Tally *tally) const
{
    auto fail = [](int code, const std::string &text) { return ExtractResult{code, text + "\n"}; };
    if (!m_tool)
        return fail(SALVO_E_MISSING_DECODER, missingToolMessage(m_choice) + ": " + req.archive);
    if (req.share != Share::Whole)
        return fail(SALVO_E_INTERNAL, "7zz で読む書庫は分担して展開しません");

    // A password is asked once, before anything is read; a wrong one is asked again.
    std::string password;
    bool asked = false;
    auto ask = [&](bool retry) {
        asked = true;
        std::fill(password.begin(), password.end(), '\0');
        password.clear();
        return hooks.password && hooks.password(retry, &password);
    };
    if (m_choice.encrypted && !ask(false))
        return fail(SALVO_E_PASSWORD_FILE, "暗号化されています(パスワードが必要です): " + req.archive);

    // The program's own folder, made anew for each try of a password.
    const int staging = tree.root().stagingFd();
    struct Cleanup {
        int staging;
        ~Cleanup() { removeTree(staging, kToolFolder); }
    } cleanup{staging};
    UniqueFd folder;
    std::string message;
    auto makeFolder = [&] {
        removeTree(staging, kToolFolder);
        if (mkdirat(staging, kToolFolder, 0700) == 0)
            folder.reset(openat(staging, kToolFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        else
            folder.reset();
        return folder.valid() && SevenZipTool::prepare(input(), folder.get(), &message);
    };
    if (!makeFolder())
        return fail(SALVO_E_MAKEDIRECTORY, "作業フォルダを作成できません");

    std::vector<ToolEntry> entries;
    int code;
    while ((code = m_tool->list(input(), folder.get(), m_choice, *m_bytes, password, &entries, &message, hooks.alive))
           == SALVO_E_BAD_PASSWORD) {
        entries.clear();
        if (!ask(true))
            return fail(SALVO_E_BAD_PASSWORD, "パスワードが違います: " + req.archive);
    }
    if (code != SALVO_OK)
        return fail(code, message + req.archive);

    // Every name and kind is checked before anything is decoded.
    std::vector<std::vector<std::string>> parts(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        const ToolEntry &e = entries[i];
        if (!safeParts(e.name, &parts[i]))
            return fail(SALVO_E_UNSAFE_PATH, "展開先の外を指す名前のため中止しました: " + e.name);
        const uint32_t type = e.mode & S_IFMT;
        if (type && type != S_IFREG && type != S_IFDIR && type != S_IFLNK)
            return fail(SALVO_E_UNKNOWN_TYPE, "デバイスや名前付きパイプは作成しません: " + e.name);
        if (e.mode & (S_ISUID | S_ISGID))
            return fail(SALVO_E_UNKNOWN_TYPE, "set-uid や set-gid のファイルは作成しません: " + e.name);
    }

    while ((code = m_tool->extract(input(), folder.get(), password, &message, hooks.alive)) == SALVO_E_BAD_PASSWORD) {
        if (!ask(true))
            break;
        if (!makeFolder())
            return fail(SALVO_E_MAKEDIRECTORY, "作業フォルダを作成できません");
    }
    std::fill(password.begin(), password.end(), '\0');
    if (code == SALVO_E_PASSWORD_FILE && asked)
        code = SALVO_E_BAD_PASSWORD;
    if (code != SALVO_OK)
        return fail(code, message + req.archive);
    const UniqueFd out(openat(folder.get(), "out", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!out.valid())
        return fail(SALVO_E_MAKEDIRECTORY, "作業フォルダを開けません");

    // A name listed twice was written once, by its last entry.
    std::map<std::string, size_t> last;
    for (size_t i = 0; i < entries.size(); ++i)
        last[entries[i].toolPath] = i;
    int matched = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const ToolEntry &e = entries[i];
        if (last[e.toolPath] != i || parts[i].empty())
            continue;
        bool wanted = req.names.empty();
        for (const std::string &mask : req.names)
            wanted = wanted || (req.exactNames ? e.name == mask : matchesName(e.name, mask));
        if (!wanted)
            continue;
        ++matched;
        std::vector<std::string> place = parts[i];
        if (req.flat) {
            if (e.folder)
                continue;
            place.erase(place.begin(), place.end() - 1);
        }
        TreeError err;
        if (e.folder) {
            if (!tree.makeFolder(place, e.mode & 07777 ? e.mode : 0755, &err))
                return fail(err.code, err.text + ": " + e.name);
            continue;
        }
        std::string leaf;
        UniqueFd holder(openHolder(out.get(), e.toolPath, &leaf));
        if (!holder.valid() && e.toolPath.find('\\') != std::string::npos) {
            std::string forward = e.toolPath;
            std::replace(forward.begin(), forward.end(), '\\', '/');
            holder.reset(openHolder(out.get(), forward, &leaf));
        }
        struct stat st {};
        if (!holder.valid() || fstatat(holder.get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return fail(SALVO_E_BROKEN_DATA, "7zz がこの項目を書き出していません: " + e.name);
        if (req.flat && tree.holds(place)) {
            const int answer = tree.decide(place.back());
            if (answer == SALVO_ANSWER_CANCEL)
                return fail(SALVO_E_USER_CANCEL, "中止しました。");
            if (answer != SALVO_ANSWER_YES && answer != SALVO_ANSWER_YES_TO_ALL) {
                ++tally->kept;
                tally->notes += "同じ名前のファイルを先に展開したため展開しませんでした: " + e.name + "\n";
                continue;
            }
        }
        if (S_ISLNK(st.st_mode)) {
            char text[4096];
            const ssize_t n = readlinkat(holder.get(), leaf.c_str(), text, sizeof text);
            if (n < 0 || n == static_cast<ssize_t>(sizeof text))
                return fail(SALVO_E_UNSAFE_PATH, "リンクを読めません: " + e.name);
            const std::string target(text, static_cast<size_t>(n));
            if (!SafeTree::staysInsideByText(parts[i], target))
                return fail(SALVO_E_UNSAFE_PATH, "展開先の外を指すリンクのため中止しました: " + e.name);
            if (place.size() != parts[i].size() && !tree.staysInside(place, target)) {
                ++tally->linksLeftOut;
                tally->notes += "フォルダなしではリンク先が変わるため作成しませんでした: " + e.name + "\n";
                continue;
            }
            if (!tree.makeSymlink(place, target, &err))
                return fail(err.code, err.text + ": " + e.name);
            ++tally->written;
            continue;
        }
        if (!S_ISREG(st.st_mode))
            return fail(SALVO_E_UNKNOWN_TYPE, "作成できない種類の項目です: " + e.name);
        if (st.st_size != e.size)
            return fail(SALVO_E_HEADER_BROKEN, "ヘッダーの示す大きさとデータの大きさが違います: " + e.name);
        if (!tree.adoptFile(place, holder.get(), leaf, e.mode ? e.mode : st.st_mode, &err))
            return fail(err.code, err.text + ": " + e.name);
        ++tally->written;
    }
    if (!req.names.empty() && matched == 0)
        return fail(SALVO_E_NOT_FIND_FILE, "指定されたファイルが書庫にありません");
    return {};
}

} // namespace salvo::arc
