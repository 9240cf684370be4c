#include "SafeTree.h"

#include "Operations.h"
#include "salvo_archiver.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace salvo::arc {
namespace {

bool setError(TreeError *err, int code, const std::string &text)
{
    err->code = code;
    err->text = text;
    return false;
}

int writeErrorCode(int e)
{
    return (e == ENOSPC || e == EDQUOT || e == EFBIG) ? SALVO_E_DISK_SPACE : SALVO_E_CANNOT_WRITE;
}

std::string writeErrorText(int e)
{
    return (e == ENOSPC || e == EDQUOT || e == EFBIG) ? "ディスクの空き容量が足りません"
                                                      : std::string("書き込めません (") + std::strerror(e) + ")";
}

// Removes a name and, for a real folder, everything below it; links are
// removed as links.
void removeTree(int parent, const char *name)
{
    struct stat st {};
    if (fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    if (!S_ISDIR(st.st_mode)) {
        unlinkat(parent, name, 0);
        return;
    }
    const int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        fchmod(fd, 0700);
        if (DIR *d = fdopendir(fd)) {
            while (dirent *de = readdir(d)) {
                if (std::strcmp(de->d_name, ".") != 0 && std::strcmp(de->d_name, "..") != 0)
                    removeTree(dirfd(d), de->d_name);
            }
            closedir(d);
        } else {
            close(fd);
        }
    }
    unlinkat(parent, name, AT_REMOVEDIR);
}

bool makeFolders(const std::string &path)
{
    std::string partial;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t slash = path.find('/', pos);
        if (slash == std::string::npos)
            slash = path.size();
        partial = path.substr(0, slash);
        if (!partial.empty() && mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST)
            return false;
        pos = slash + 1;
    }
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

FileWriter::~FileWriter()
{
    if (m_fd >= 0)
        close(m_fd);
}

bool FileWriter::write(const void *data, size_t length, int64_t offset, TreeError *err)
{
    const char *p = static_cast<const char *>(data);
    while (length > 0) {
        const ssize_t w = pwrite(m_fd, p, length, offset);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            const int e = w < 0 ? errno : ENOSPC;
            return setError(err, writeErrorCode(e), writeErrorText(e));
        }
        p += w;
        length -= static_cast<size_t>(w);
        offset += w;
    }
    if (offset > m_end)
        m_end = offset;
    return true;
}

bool FileWriter::finish(int64_t size, mode_t mode, time_t mtime, long nsec, TreeError *err)
{
    if (size > m_end && ftruncate(m_fd, size) != 0)
        return setError(err, writeErrorCode(errno), writeErrorText(errno));
    const mode_t um = umask(0);
    umask(um);
    // Only the permission bits: no set-uid, set-gid or sticky bit survives.
    mode_t perms = mode & 0777;
    if (perms == 0)
        perms = 0644;
    fchmod(m_fd, (perms | 0600) & ~um);
    if (mtime >= 0) {
        const timespec times[2] = {{0, UTIME_OMIT}, {mtime, nsec}};
        futimens(m_fd, times);
    }
    const int fd = m_fd;
    m_fd = -1;
    if (close(fd) != 0)
        return setError(err, writeErrorCode(errno), writeErrorText(errno));
    return true;
}

SafeTree::SafeTree(std::string outputDir, int outFd, std::string stagingName, int stagingFd)
    : m_outputDir(std::move(outputDir)), m_outFd(outFd), m_stagingName(std::move(stagingName)),
      m_stagingFd(stagingFd)
{
    m_umask = umask(0);
    umask(m_umask);
}

SafeTree::~SafeTree()
{
    close(m_stagingFd);
    close(m_outFd);
}

std::unique_ptr<SafeTree> SafeTree::createStaging(const std::string &outputDir, std::string *error)
{
    if (!makeFolders(outputDir)) {
        *error = "展開先のフォルダを作成できません: " + outputDir;
        return nullptr;
    }
    const int outFd = open(outputDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (outFd < 0) {
        *error = "展開先のフォルダを開けません: " + outputDir;
        return nullptr;
    }
    if (DIR *probe = fdopendir(dup(outFd))) {
        rewinddir(probe);
        bool empty = true;
        while (dirent *de = readdir(probe)) {
            if (std::strcmp(de->d_name, ".") != 0 && std::strcmp(de->d_name, "..") != 0) {
                empty = false;
                break;
            }
        }
        closedir(probe);
        if (empty)
            return std::unique_ptr<SafeTree>(new SafeTree(outputDir, outFd, std::string(), dup(outFd)));
    }
    std::string templ = outputDir + "/.salvo-staging-XXXXXX";
    if (!mkdtemp(templ.data())) {
        *error = "展開先のフォルダに書き込めません: " + outputDir;
        close(outFd);
        return nullptr;
    }
    const std::string name = templ.substr(templ.find_last_of('/') + 1);
    const int stagingFd = openat(outFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (stagingFd < 0) {
        unlinkat(outFd, name.c_str(), AT_REMOVEDIR);
        close(outFd);
        *error = "展開先のフォルダに書き込めません: " + outputDir;
        return nullptr;
    }
    return std::unique_ptr<SafeTree>(new SafeTree(outputDir, outFd, name, stagingFd));
}

int SafeTree::openParent(const std::vector<std::string> &parts, bool create, TreeError *err)
{
    int fd = dup(m_stagingFd);
    for (size_t i = 0; i + 1 < parts.size() && fd >= 0; ++i) {
        const char *part = parts[i].c_str();
        int next = openat(fd, part, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT && create) {
            if (mkdirat(fd, part, 0700 | (0777 & ~m_umask)) == 0 || errno == EEXIST)
                next = openat(fd, part, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        const int e = errno;
        close(fd);
        fd = next;
        if (fd < 0) {
            if (e == ELOOP || e == ENOTDIR)
                setError(err, SALVO_E_UNSAFE_PATH, "リンクやファイルを通して書き込むことはしません");
            else
                setError(err, SALVO_E_MAKEDIRECTORY, "フォルダを作成できません");
        }
    }
    return fd;
}

bool SafeTree::makeFolder(const std::vector<std::string> &parts, mode_t mode, TreeError *err)
{
    const int parent = openParent(parts, true, err);
    if (parent < 0)
        return false;
    const char *leaf = parts.back().c_str();
    const mode_t perms = ((mode & 0777) | 0700) & ~m_umask;
    bool ok = mkdirat(parent, leaf, perms) == 0;
    if (!ok && errno == EEXIST) {
        struct stat st {};
        ok = fstatat(parent, leaf, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        if (!ok)
            setError(err, SALVO_E_UNSAFE_PATH, "同じ名前のファイルかリンクがあります");
    } else if (!ok) {
        setError(err, SALVO_E_MAKEDIRECTORY, "フォルダを作成できません");
    }
    close(parent);
    return ok;
}

FileWriter SafeTree::createFile(const std::vector<std::string> &parts, TreeError *err)
{
    const int parent = openParent(parts, true, err);
    if (parent < 0)
        return FileWriter();
    const char *leaf = parts.back().c_str();
    struct stat st {};
    if (fstatat(parent, leaf, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        // The same name twice in one archive: the later entry wins, unless the
        // earlier one is a folder.
        if (S_ISDIR(st.st_mode)) {
            close(parent);
            setError(err, SALVO_E_FILE_OPEN, "同じ名前のフォルダがあります");
            return FileWriter();
        }
        unlinkat(parent, leaf, 0);
    }
    const int fd = openat(parent, leaf, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const int e = errno;
    close(parent);
    if (fd < 0)
        setError(err, e == ENOSPC ? SALVO_E_DISK_SPACE : SALVO_E_FILE_OPEN, "ファイルを作成できません");
    return FileWriter(fd);
}

bool SafeTree::makeSymlink(const std::vector<std::string> &parts, const std::string &target, TreeError *err)
{
    // Read the target from the link's own folder; it must never climb above the
    // top of the extracted tree.
    if (target.empty() || target.front() == '/' || (target.size() >= 2 && target[1] == ':'))
        return setError(err, SALVO_E_UNSAFE_PATH, "展開先の外を指すリンクです");
    long depth = static_cast<long>(parts.size()) - 1;
    size_t pos = 0;
    while (pos <= target.size()) {
        size_t slash = target.find('/', pos);
        if (slash == std::string::npos)
            slash = target.size();
        const std::string part = target.substr(pos, slash - pos);
        if (part == "..") {
            if (--depth < 0)
                return setError(err, SALVO_E_UNSAFE_PATH, "展開先の外を指すリンクです");
        } else if (!part.empty() && part != ".") {
            ++depth;
        }
        pos = slash + 1;
    }
    const int parent = openParent(parts, true, err);
    if (parent < 0)
        return false;
    const char *leaf = parts.back().c_str();
    struct stat st {};
    if (fstatat(parent, leaf, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode))
        unlinkat(parent, leaf, 0);
    const bool ok = symlinkat(target.c_str(), parent, leaf) == 0;
    close(parent);
    return ok || setError(err, SALVO_E_FILE_OPEN, "リンクを作成できません");
}

bool SafeTree::makeHardLink(const std::vector<std::string> &parts, const std::vector<std::string> &target,
                            TreeError *err)
{
    const int targetParent = openParent(target, false, err);
    if (targetParent < 0)
        return setError(err, SALVO_E_UNSAFE_PATH, "リンク先が展開したファイルの中にありません");
    struct stat st {};
    if (fstatat(targetParent, target.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) {
        close(targetParent);
        return setError(err, SALVO_E_UNSAFE_PATH, "リンク先が展開したファイルの中にありません");
    }
    const int parent = openParent(parts, true, err);
    if (parent < 0) {
        close(targetParent);
        return false;
    }
    const char *leaf = parts.back().c_str();
    if (fstatat(parent, leaf, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode))
        unlinkat(parent, leaf, 0);
    const bool ok = linkat(targetParent, target.back().c_str(), parent, leaf, 0) == 0;
    close(parent);
    close(targetParent);
    return ok || setError(err, SALVO_E_FILE_OPEN, "リンクを作成できません");
}

MoveOutcome SafeTree::moveInto(OverwritePolicy policy, const std::function<int(const std::string &)> &ask)
{
    MoveOutcome out;
    if (direct())
        return out; // already in place
    merge(m_stagingFd, m_outFd, std::string(), policy, ask, &out);
    return out;
}

void SafeTree::merge(int srcDir, int dstDir, const std::string &relative, OverwritePolicy policy,
                     const std::function<int(const std::string &)> &ask, MoveOutcome *out)
{
    const int listFd = dup(srcDir);
    DIR *d = fdopendir(listFd);
    if (!d) {
        close(listFd);
        return;
    }
    rewinddir(d);
    std::vector<std::string> names;
    while (dirent *de = readdir(d)) {
        if (std::strcmp(de->d_name, ".") != 0 && std::strcmp(de->d_name, "..") != 0)
            names.emplace_back(de->d_name);
    }
    closedir(d);
    // In name order, so that questions come in an order the user can follow.
    std::sort(names.begin(), names.end());

    for (const std::string &name : names) {
        if (out->cancelled || out->failed)
            return;
        const char *n = name.c_str();
        const std::string rel = relative.empty() ? name : relative + "/" + name;
        struct stat src {}, dst {};
        if (fstatat(srcDir, n, &src, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (fstatat(dstDir, n, &dst, AT_SYMLINK_NOFOLLOW) != 0) {
            if (renameat(srcDir, n, dstDir, n) != 0) {
                out->failed = true;
                out->failCode = writeErrorCode(errno);
                out->message += "移動できません: " + rel + "\n";
            }
            continue;
        }
        if (S_ISDIR(src.st_mode) && S_ISDIR(dst.st_mode)) {
            const int s = openat(srcDir, n, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            const int t = openat(dstDir, n, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (s >= 0 && t >= 0)
                merge(s, t, rel, policy, ask, out);
            if (s >= 0)
                close(s);
            if (t >= 0)
                close(t);
            continue;
        }
        if (S_ISDIR(dst.st_mode)) {
            ++out->kept;
            out->message += "同じ名前のフォルダがあるため展開しませんでした: " + rel + "\n";
            continue;
        }
        int answer = SALVO_ANSWER_NO;
        if (policy == OverwritePolicy::Force || m_yesToAll)
            answer = SALVO_ANSWER_YES;
        else if (policy == OverwritePolicy::Ask && !m_noToAll && ask)
            answer = ask(m_outputDir + "/" + rel);
        if (answer == SALVO_ANSWER_YES_TO_ALL)
            m_yesToAll = true;
        if (answer == SALVO_ANSWER_NO_TO_ALL)
            m_noToAll = true;
        if (answer == SALVO_ANSWER_CANCEL) {
            out->cancelled = true;
            out->message += "中止しました。\n";
            return;
        }
        if (answer != SALVO_ANSWER_YES && answer != SALVO_ANSWER_YES_TO_ALL) {
            ++out->kept;
            out->message += "既存のファイルを残しました: " + rel + "\n";
            continue;
        }
        // A folder replaces a file or link by name; a file replaces the old
        // entry in one step (a link is replaced, never followed).
        if (S_ISDIR(src.st_mode))
            unlinkat(dstDir, n, 0);
        if (renameat(srcDir, n, dstDir, n) != 0) {
            out->failed = true;
            out->failCode = writeErrorCode(errno);
            out->message += "上書きできません: " + rel + "\n";
        }
    }
}

void SafeTree::discard()
{
    if (!direct()) {
        removeTree(m_outFd, m_stagingName.c_str());
        return;
    }
    std::vector<std::string> names;
    if (DIR *d = fdopendir(dup(m_outFd))) {
        rewinddir(d); // the duplicate shares its position with earlier reads
        while (dirent *de = readdir(d)) {
            if (std::strcmp(de->d_name, ".") != 0 && std::strcmp(de->d_name, "..") != 0)
                names.emplace_back(de->d_name);
        }
        closedir(d);
    }
    for (const std::string &name : names)
        removeTree(m_outFd, name.c_str());
}

} // namespace salvo::arc
