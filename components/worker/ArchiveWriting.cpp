#include "ArchiveWriting.h"

#include "ArchiveRewrite.h"
#include "core/CommandLine.h"
#include "core/Wire.h"
#include "EntrySelection.h"
#include "Names.h"
#include "ReaderFormat.h"
#include "SourceCollector.h"
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
    if (r.code == SALVO_OK) {
        // From here on the archive is the new one, whatever happens next.
        if (req.replaced)
            req.replaced();
        file.syncFolder();
    }
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
    if ((code = file.open(req.archive, req.tempPath, alive, &message)) != SALVO_OK)
        return fail(code, message, requested);
    std::vector<ExistingEntry> entries;
    if ((code = writer->load(file, &entries, &message)) != SALVO_OK)
        return fail(code, message, requested);

    std::vector<bool> keep(entries.size(), true);
    std::string missing;
    for (size_t n = 0; n < req.names.size(); ++n) {
        const std::string &asked = req.names[n];
        // A name in quotes or under the exact-name switch is a name, never a mask.
        const bool masks = !req.exactNames && !(n < req.quotedNames.size() && req.quotedNames[n]);
        const std::vector<size_t> taken = asked.empty() ? std::vector<size_t>() : entriesToDelete(entries, asked, masks);
        for (size_t i : taken)
            keep[i] = false;
        if (asked.empty())
            missing += "削除するエントリの名前がありません。\n";
        else if (taken.empty())
            missing += "書庫にないため削除できません: " + asked + "\n";
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

// Whether an argument of an add is a mask: written without quotes and
// holding a wildcard; one in quotes only when no file has that name (a list
// file whose path holds "*" or "?" stays a list file).
bool isMask(const WriteRequest &req, size_t index, const std::string &path)
{
    const std::string &arg = req.names[index];
    if (req.exactNames || arg.empty() || arg[0] == '@' || arg.find_first_of("*?") == std::string::npos)
        return false;
    const bool quoted = index < req.quotedNames.size() && req.quotedNames[index];
    struct stat st {};
    return !quoted || ::stat(path.c_str(), &st) != 0;
}

std::string joinPath(const std::string &folder, const std::string &name)
{
    if (folder.empty() || (!name.empty() && name[0] == '/'))
        return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// Collects the files the arguments name: masks, and list files of names
// relative to the base folder. A listed path is stored under its last name
// part, as the files were dropped one by one.
bool collectSources(const WriteRequest &req, SourceCollector &sources, WriteResult *failure)
{
    for (size_t index = 0; index < req.names.size(); ++index) {
        const std::string &arg = req.names[index];
        if (isMask(req, index, joinPath(req.baseDir, arg))) {
            const size_t slash = arg.find_last_of('/');
            const std::string folder = slash == std::string::npos ? req.baseDir : joinPath(req.baseDir, arg.substr(0, slash));
            if (!sources.addMatching(folder, "", slash == std::string::npos ? arg : arg.substr(slash + 1), req.recursive))
                return false;
            continue;
        }
        const std::string listPath = joinPath(req.baseDir, !arg.empty() && arg[0] == '@' ? arg.substr(1) : arg);
        std::vector<std::string> listed;
        if (!readListFile(listPath, &listed)) {
            *failure = fail(SALVO_E_NOT_FIND_FILE, "ファイルの一覧を読めません: " + listPath + "\n");
            return false;
        }
        for (const std::string &line : listed) {
            std::string path = line;
            while (path.size() > 1 && path.back() == '/')
                path.pop_back();
            const std::string last = path.substr(path.find_last_of('/') + 1);
            if (last.empty() || last == "." || last == "..") {
                *failure = fail(SALVO_E_NOT_FIND_FILE, "追加するファイルの名前が正しくありません: " + line + "\n");
                return false;
            }
            if (!sources.addNamed(joinPath(req.baseDir, path), last))
                return false;
        }
    }
    return true;
}

// Folder entries for the levels of the target folder ("a/b": "a", "a/b").
void addTargetLevels(const std::string &target, std::vector<NewItem> *items)
{
    if (target.empty())
        return;
    for (size_t from = 0;;) {
        const size_t slash = target.find('/', from);
        NewItem level;
        level.name = target.substr(0, slash);
        level.folder = true;
        level.st.st_mode = S_IFDIR | 0755;
        level.st.st_mtime = time(nullptr);
        items->push_back(level);
        if (slash == std::string::npos)
            break;
        from = slash + 1;
    }
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

    const std::string target = trimmedName(req.targetFolder);
    // Every part of the target folder is a plain name ("..", "." and empty parts are refused).
    std::vector<std::string> targetParts;
    const bool plainTarget = target.empty()
                             || (safeParts(target, &targetParts)
                                 && targetParts.size() == static_cast<size_t>(std::count(target.begin(), target.end(), '/') + 1));
    if (!plainTarget)
        return fail(SALVO_E_UNSAFE_PATH, "追加先のフォルダ名が正しくありません: " + req.targetFolder + "\n");
    if (req.names.empty())
        return fail(SALVO_E_NOT_FIND_FILE, "追加するファイルが指定されていません。\n");

    // The files to add, each with its name inside the archive.
    SourceCollector sources(archiveStat);
    WriteResult failure;
    if (!collectSources(req, sources, &failure))
        return failure.code != SALVO_OK ? failure : fail(sources.code(), sources.message());
    const int requested = sources.fileCount();
    if (sources.items().empty())
        return fail(SALVO_E_NOT_FIND_FILE, "追加するファイルがありません。\n");

    ReplacementFile file;
    if ((code = file.open(req.archive, req.tempPath, alive, &message)) != SALVO_OK)
        return fail(code, message, requested);
    std::vector<ExistingEntry> entries;
    if ((code = writer->load(file, &entries, &message)) != SALVO_OK)
        return fail(code, message, requested);

    std::vector<NewItem> items;
    const bool folders = writer->storesFolders();
    if (folders)
        addTargetLevels(target, &items);
    for (NewItem &item : sources.items()) {
        item.name = target.empty() ? item.name : target + "/" + item.name;
        if (!item.folder || folders)
            items.push_back(std::move(item));
    }

    // An existing folder stays; an existing file of the very same name is
    // replaced (with -u only by a newer file). Names differ in case or in a
    // blank are other names, and their entries stay.
    const EntryIndex index(entries);
    std::vector<bool> keep(entries.size(), true);
    std::vector<NewItem> adds;
    int kept = 0;
    std::string notes;
    for (NewItem &item : items) {
        bool skip = false;
        for (size_t i : index.find(item.name)) {
            if (!keep[i])
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
            adds.push_back(std::move(item));
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
