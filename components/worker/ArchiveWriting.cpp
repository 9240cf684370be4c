#include "ArchiveWriting.h"

#include "ArchiveRewrite.h"
#include "core/CommandLine.h"
#include "core/Wire.h"
#include "Names.h"
#include "ReaderFormat.h"
#include "salvo_archiver.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <set>
#include <unistd.h>

namespace salvo::arc {
namespace {

enum class Format { Unknown, Zip, SevenZip, Lzh };

Format detect(const std::string &path)
{
    unsigned char head[8] = {};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Format::Unknown;
    const ssize_t got = ::pread(fd, head, sizeof head, 0);
    ::close(fd);
    if (got >= 4 && head[0] == 'P' && head[1] == 'K' && ((head[2] == 3 && head[3] == 4) || (head[2] == 5 && head[3] == 6)))
        return Format::Zip;
    if (got >= 6 && std::memcmp(head, "7z\xBC\xAF\x27\x1C", 6) == 0)
        return Format::SevenZip;
    if (got >= 7 && head[2] == '-' && head[3] == 'l' && (head[4] == 'h' || head[4] == 'z') && head[6] == '-')
        return Format::Lzh;
    // An LZH whose every entry was deleted: its end mark alone.
    if (got == 1 && head[0] == 0)
        return Format::Lzh;
    return Format::Unknown;
}

// Whether the component's readers take the file for the format its first bytes
// name (or for none, as an emptied archive): a file they read otherwise (an
// LZH whose tail holds a ZIP's end record) is not rewritten, since the rewrite
// would change what they then read.
bool readAsDetected(const WriteRequest &req, Format f, std::string *message)
{
    const ReadFormat read = readerFormat(req.archive, req.formats);
    const ReadFormat expected = f == Format::Zip ? ReadFormat::Zip : f == Format::SevenZip ? ReadFormat::SevenZip
                                                                                            : ReadFormat::Lzh;
    if (read == ReadFormat::None || read == expected)
        return true;
    *message = std::string("この書庫は ") + formatName(read) + " として読まれるため、" + formatName(expected)
        + " 書庫として更新できません: " + req.archive;
    return false;
}

// The writer for the archive, or a failure when the component does not write it.
std::unique_ptr<FormatRewriter> rewriterFor(const WriteRequest &req, int *code, std::string *message)
{
    const Format f = detect(req.archive);
    const bool wantZip = req.kind == WriteKind::Zip, want7z = req.kind == WriteKind::SevenZip;
    *code = SALVO_OK;
    if (f != Format::Unknown && !readAsDetected(req, f, message)) {
        *code = SALVO_E_NOT_ARC_FILE;
        return nullptr;
    }
    if (f == Format::Zip && (req.formats & kZip) && !want7z)
        return makeZipRewriter(req.noFolderEntries);
    if (f == Format::SevenZip && (req.formats & kSevenZip) && !wantZip)
        return makeSevenZipRewriter(req.solid);
    if (f == Format::Lzh && (req.formats & kLha) && req.kind == WriteKind::Any)
        return makeLzhRewriter();
    if (::access(req.archive.c_str(), F_OK) != 0) {
        *code = SALVO_E_ARC_FILE_OPEN;
        *message = "書庫を開けません: " + req.archive;
    } else {
        *code = SALVO_E_NOT_ARC_FILE;
        *message = "この形式の書庫は更新できません: " + req.archive;
    }
    return nullptr;
}

// Equality of two entry names, letters compared without regard to case
// (the archives come from systems whose file names ignore case).
bool sameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string trimmedName(std::string name)
{
    for (char &c : name) {
        if (c == '\\')
            c = '/';
    }
    while (!name.empty() && name.back() == '/')
        name.pop_back();
    while (!name.empty() && name.front() == '/')
        name.erase(0, 1);
    return name;
}

WriteResult fail(int code, std::string message, int requested = 0)
{
    WriteResult r;
    r.code = code;
    r.requested = requested;
    r.message = std::move(message);
    return r;
}

// Runs a rewrite plan through the writer and replaces the archive.
WriteResult rewrite(const WriteRequest &req, FormatRewriter &writer, ReplacementFile &file,
                    const std::vector<bool> &keep, const std::vector<NewItem> &items, const AliveFn &alive)
{
    WriteResult r;
    r.code = writer.write(file, keep, items, alive, &r.message);
    if (r.code == SALVO_OK)
        r.code = file.commit(&r.message);
    (void)req;
    return r;
}

} // namespace

WriteResult deleteEntries(const WriteRequest &req, const AliveFn &alive)
{
    const int requested = static_cast<int>(req.names.size());
    // Nothing asked for is nothing to rewrite: the archive is not touched.
    if (req.names.empty())
        return fail(SALVO_E_NOT_FIND_FILE, "削除するエントリの名前がありません。\n");
    int code = SALVO_OK;
    std::string message;
    std::unique_ptr<FormatRewriter> writer = rewriterFor(req, &code, &message);
    if (!writer)
        return fail(code, message, requested);
    ReplacementFile file;
    if ((code = file.open(req.archive, req.tempPath, &message)) != SALVO_OK)
        return fail(code, message, requested);
    std::vector<ExistingEntry> entries;
    if ((code = writer->load(file, &entries, &message)) != SALVO_OK)
        return fail(code, message, requested);

    std::vector<bool> keep(entries.size(), true);
    std::string missing;
    for (const std::string &asked : req.names) {
        const std::string name = trimmedName(asked);
        bool found = false;
        // The entry itself and the entries under it when it is a folder: with
        // the exact name when one has it, else with letters of either case;
        // failing both, a name that holds wildcards takes what it matches.
        auto select = [&](auto &&matches) {
            for (size_t i = 0; i < entries.size(); ++i) {
                if (matches(std::string_view(entries[i].name))) {
                    keep[i] = false;
                    found = true;
                }
            }
        };
        const std::string_view n = name;
        select([&](std::string_view e) {
            return e == n || (e.size() > n.size() && e[n.size()] == '/' && e.substr(0, n.size()) == n);
        });
        if (!found) {
            select([&](std::string_view e) {
                return sameName(e, n) || (e.size() > n.size() && e[n.size()] == '/' && sameName(e.substr(0, n.size()), n));
            });
        }
        if (!found && name.find_first_of("*?") != std::string::npos)
            select([&](std::string_view e) { return matchesName(e, n); });
        if (!found && !name.empty())
            missing += "書庫にないため削除できません: " + asked + "\n";
        else if (name.empty())
            missing += "削除するエントリの名前がありません。\n";
    }
    if (!missing.empty())
        return fail(SALVO_E_NOT_FIND_FILE, missing, requested);
    WriteResult r = rewrite(req, *writer, file, keep, {}, alive);
    r.requested = requested;
    r.done = r.code == SALVO_OK ? requested : 0;
    if (r.code == SALVO_OK)
        r.message = std::to_string(std::count(keep.begin(), keep.end(), false)) + " 個のエントリを削除しました。\n";
    return r;
}

namespace {

// Reads a list file: one name a line, with or without double quotes.
bool readListFile(const std::string &path, std::vector<std::string> *names)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::string line;
    while (std::getline(in, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        size_t start = 0;
        while (start < line.size() && (line[start] == ' ' || line[start] == '\t'))
            ++start;
        line.erase(0, start);
        if (line.size() >= 2 && line.front() == '"' && line.back() == '"')
            line = line.substr(1, line.size() - 2);
        if (!line.empty())
            names->push_back(line);
    }
    return true;
}

std::string joinPath(const std::string &folder, const std::string &name)
{
    if (folder.empty() || (!name.empty() && name[0] == '/'))
        return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string joinName(const std::string &folder, const std::string &name)
{
    return folder.empty() ? name : folder + "/" + name;
}

class SourceCollector {
public:
    SourceCollector(const WriteRequest &req, const struct stat &archive) : m_req(req), m_archive(archive) {}

    // A named file or folder; a folder brings everything under it.
    bool addNamed(const std::string &path, const std::string &name)
    {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            m_message += "追加するファイルが見つかりません: " + path + "\n";
            m_code = SALVO_E_NOT_FIND_FILE;
            return false;
        }
        return addItem(path, name, st, true);
    }

    // Files under `folder` whose names match `mask`, in sub-folders too when recursive.
    bool addMatching(const std::string &folder, const std::string &prefix, const std::string &mask)
    {
        std::vector<std::pair<std::string, struct stat>> children;
        if (!listFolder(folder, &children))
            return false;
        for (const auto &[child, st] : children) {
            const std::string path = joinPath(folder, child), name = joinName(prefix, child);
            if (S_ISDIR(st.st_mode)) {
                if (!m_req.recursive)
                    continue;
                if (!enterFolder(st))
                    continue;
                NewItem item{name, path, true, st};
                m_items.push_back(item);
                if (!addMatching(path, name, mask))
                    return false;
                continue;
            }
            if (!matchesName(child, mask))
                continue;
            if (!addItem(path, name, st, false))
                return false;
        }
        return true;
    }

    int code() const { return m_code; }
    const std::string &message() const { return m_message; }
    std::vector<NewItem> &items() { return m_items; }

private:
    bool enterFolder(const struct stat &st)
    {
        // A folder reached twice through links is walked once.
        return m_visited.insert({st.st_dev, st.st_ino}).second;
    }

    bool listFolder(const std::string &folder, std::vector<std::pair<std::string, struct stat>> *children)
    {
        DIR *dir = ::opendir(folder.c_str());
        if (!dir) {
            m_message += "フォルダを読めません: " + folder + "\n";
            m_code = SALVO_E_NOT_FIND_FILE;
            return false;
        }
        while (dirent *d = ::readdir(dir)) {
            const std::string child = d->d_name;
            if (child == "." || child == "..")
                continue;
            struct stat st {};
            if (::stat(joinPath(folder, child).c_str(), &st) != 0)
                continue; // a dangling link
            children->push_back({child, st});
        }
        ::closedir(dir);
        std::sort(children->begin(), children->end(), [](const auto &a, const auto &b) { return a.first < b.first; });
        return true;
    }

    bool addItem(const std::string &path, const std::string &name, const struct stat &st, bool named)
    {
        if (st.st_dev == m_archive.st_dev && st.st_ino == m_archive.st_ino) {
            m_message += "書庫をそれ自身に追加することはできません: " + path + "\n";
            m_code = SALVO_E_FILE_OPEN;
            return false;
        }
        if (S_ISDIR(st.st_mode)) {
            if (!enterFolder(st))
                return true;
            m_items.push_back(NewItem{name, path, true, st});
            return addMatching(path, name, "*");
        }
        if (!S_ISREG(st.st_mode)) {
            m_message += "通常のファイルではないため追加できません: " + path + "\n";
            m_code = SALVO_E_UNKNOWN_TYPE;
            return false;
        }
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            m_message += "追加するファイルを読めません: " + path + "\n";
            m_code = named ? SALVO_E_NOT_FIND_FILE : SALVO_E_FILE_OPEN;
            return false;
        }
        ::close(fd);
        m_items.push_back(NewItem{name, path, false, st});
        return true;
    }

    const WriteRequest &m_req;
    struct stat m_archive;
    std::vector<NewItem> m_items;
    std::set<std::pair<dev_t, ino_t>> m_visited;
    int m_code = SALVO_OK;
    std::string m_message;
};

bool isMask(const std::string &name)
{
    return name.find_first_of("*?") != std::string::npos;
}

} // namespace

WriteResult addFiles(const WriteRequest &req, const AliveFn &alive)
{
    int code = SALVO_OK;
    std::string message;
    std::unique_ptr<FormatRewriter> writer = rewriterFor(req, &code, &message);
    if (!writer)
        return fail(code, message);
    struct stat archiveStat {};
    ::stat(req.archive.c_str(), &archiveStat);

    // The files to add, each with its name inside the archive.
    const std::string target = trimmedName(req.targetFolder);
    // Every part of the target folder is a plain name ("..", "." and empty parts are refused).
    std::vector<std::string> targetParts;
    const bool plainTarget = target.empty()
                             || (safeParts(target, &targetParts)
                                 && targetParts.size() == static_cast<size_t>(std::count(target.begin(), target.end(), '/') + 1));
    if (!plainTarget)
        return fail(SALVO_E_UNSAFE_PATH, "追加先のフォルダ名が正しくありません: " + req.targetFolder + "\n");
    SourceCollector sources(req, archiveStat);
    bool ok = true;
    if (req.names.empty())
        return fail(SALVO_E_NOT_FIND_FILE, "追加するファイルが指定されていません。\n");
    for (const std::string &arg : req.names) {
        if (!ok)
            break;
        if (isMask(arg) && arg[0] != '@') {
            const size_t slash = arg.find_last_of('/');
            const std::string folder = slash == std::string::npos ? req.baseDir : joinPath(req.baseDir, arg.substr(0, slash));
            ok = sources.addMatching(folder, "", slash == std::string::npos ? arg : arg.substr(slash + 1));
            continue;
        }
        // Anything else is a list file of names relative to the base folder.
        const std::string listPath = joinPath(req.baseDir, arg[0] == '@' ? arg.substr(1) : arg);
        std::vector<std::string> listed;
        if (!readListFile(listPath, &listed)) {
            return fail(SALVO_E_NOT_FIND_FILE, "ファイルの一覧を読めません: " + listPath + "\n");
        }
        for (const std::string &line : listed) {
            const std::string name = trimmedName(line);
            std::vector<std::string> parts;
            const size_t slash = name.find_last_of('/');
            const std::string last = slash == std::string::npos ? name : name.substr(slash + 1);
            if (last.empty() || last == "." || last == "..") {
                return fail(SALVO_E_NOT_FIND_FILE, "追加するファイルの名前が正しくありません: " + line + "\n");
            }
            // A listed path is stored under its last name part, as the files
            // were dropped one by one from the same folder.
            ok = sources.addNamed(line[0] == '/' ? line : joinPath(req.baseDir, name), last);
            if (!ok)
                break;
        }
    }
    if (!ok)
        return fail(sources.code(), sources.message());
    // A name met twice (the same file listed twice) is added once.
    std::vector<NewItem> found;
    for (NewItem &item : sources.items()) {
        if (std::none_of(found.begin(), found.end(), [&](const NewItem &f) { return sameName(f.name, item.name); }))
            found.push_back(std::move(item));
    }
    int requested = 0;
    for (const NewItem &item : found)
        requested += item.folder ? 0 : 1;
    if (requested == 0 && found.empty())
        return fail(SALVO_E_NOT_FIND_FILE, "追加するファイルがありません。\n");

    ReplacementFile file;
    if ((code = file.open(req.archive, req.tempPath, &message)) != SALVO_OK)
        return fail(code, message, requested);
    std::vector<ExistingEntry> entries;
    if ((code = writer->load(file, &entries, &message)) != SALVO_OK)
        return fail(code, message, requested);

    // Folder entries for the target folder's levels, then the files under it.
    std::vector<NewItem> items;
    const bool folders = writer->storesFolders();
    if (!target.empty() && folders) {
        size_t from = 0;
        for (;;) {
            const size_t slash = target.find('/', from);
            NewItem level;
            level.name = target.substr(0, slash);
            level.folder = true;
            level.st.st_mode = S_IFDIR | 0755;
            level.st.st_mtime = time(nullptr);
            items.push_back(level);
            if (slash == std::string::npos)
                break;
            from = slash + 1;
        }
    }
    for (NewItem &item : found) {
        item.name = joinName(target, item.name);
        if (item.folder && !folders)
            continue;
        items.push_back(item);
    }

    // Existing folders stay; an existing file of the same name is replaced
    // (with -u only by a newer file).
    std::vector<bool> keep(entries.size(), true);
    std::vector<NewItem> adds;
    int kept = 0;
    std::string notes;
    for (NewItem &item : items) {
        bool skip = false;
        for (size_t i = 0; i < entries.size(); ++i) {
            if (!keep[i] || !sameName(entries[i].name, item.name))
                continue;
            if (item.folder && entries[i].folder) {
                skip = true;
            } else if (!item.folder && req.updateOnly && !entries[i].folder && entries[i].mtime >= item.st.st_mtime - 1) {
                skip = true;
                ++kept;
                notes += "書庫の方が新しいか同じため追加しませんでした: " + item.name + "\n";
            } else {
                keep[i] = false;
            }
        }
        if (!skip) {
            // A name the format cannot store fails the whole addition.
            if ((code = writer->accepts(item, &message)) != SALVO_OK)
                return fail(code, message, requested);
            adds.push_back(item);
        }
    }
    WriteResult r;
    r.requested = requested;
    if (adds.empty() && std::all_of(keep.begin(), keep.end(), [](bool k) { return k; })) {
        // Nothing to change: the archive is left untouched.
        r.code = kept > 0 ? SALVO_E_USER_SKIP : SALVO_OK;
        r.message = notes;
        return r;
    }
    r = rewrite(req, *writer, file, keep, adds, alive);
    r.requested = requested;
    if (r.code == SALVO_OK) {
        r.done = requested - kept;
        r.code = kept > 0 ? SALVO_E_USER_SKIP : SALVO_OK;
        r.message = std::to_string(r.done) + " 個のファイルを追加しました。\n" + notes;
    }
    return r;
}

} // namespace salvo::arc
