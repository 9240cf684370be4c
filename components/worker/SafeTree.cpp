#include "SafeTree.h"

#include "Operations.h"
#include "core/TreeRemoval.h"
#include "salvo_archiver.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace salvo::arc {
namespace {

// The kernel's limit of links followed for one path.
constexpr int kMaxLinkHops = 40;

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

// Makes every missing folder of `path` and notes the ones it made.
bool makeFolders(const std::string &path, std::vector<std::string> *created)
{
    std::string partial;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t slash = path.find('/', pos);
        if (slash == std::string::npos)
            slash = path.size();
        partial = path.substr(0, slash);
        if (!partial.empty()) {
            if (mkdir(partial.c_str(), 0777) == 0)
                created->push_back(partial);
            else if (errno != EEXIST)
                return false;
        }
        pos = slash + 1;
    }
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> splitTarget(const std::string &target)
{
    std::vector<std::string> parts;
    size_t pos = 0;
    while (pos <= target.size()) {
        size_t slash = target.find('/', pos);
        if (slash == std::string::npos)
            slash = target.size();
        parts.push_back(target.substr(pos, slash - pos));
        pos = slash + 1;
    }
    return parts;
}

bool absoluteTarget(const std::string &target)
{
    return target.empty() || target.front() == '/' || (target.size() >= 2 && target[1] == ':');
}

std::string joined(const std::vector<std::string> &parts)
{
    std::string out;
    for (const std::string &p : parts)
        out += (out.empty() ? "" : "/") + p;
    return out;
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

bool FileWriter::finish(int64_t sparseSize, mode_t mode, time_t mtime, long nsec, TreeError *err)
{
    if (sparseSize > m_end && ftruncate(m_fd, sparseSize) != 0)
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
      m_stagingFd(stagingFd), m_policy(OverwritePolicy::Keep)
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
    std::vector<std::string> created;
    if (!makeFolders(outputDir, &created)) {
        *error = "展開先のフォルダを作成できません: " + outputDir;
        return nullptr;
    }
    const int outFd = open(outputDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (outFd < 0) {
        *error = "展開先のフォルダを開けません: " + outputDir;
        return nullptr;
    }
    std::unique_ptr<SafeTree> tree;
    if (folderIsEmpty(outFd)) {
        const int again = dup(outFd);
        if (again >= 0)
            tree.reset(new SafeTree(outputDir, outFd, std::string(), again));
    } else {
        std::string templ = outputDir + "/.salvo-staging-XXXXXX";
        if (mkdtemp(templ.data())) {
            const std::string name = templ.substr(templ.find_last_of('/') + 1);
            const int stagingFd = openat(outFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (stagingFd >= 0)
                tree.reset(new SafeTree(outputDir, outFd, name, stagingFd));
            else
                unlinkat(outFd, name.c_str(), AT_REMOVEDIR);
        }
    }
    if (!tree) {
        close(outFd);
        for (auto it = created.rbegin(); it != created.rend(); ++it)
            rmdir(it->c_str());
        *error = "展開先のフォルダに書き込めません: " + outputDir;
        return nullptr;
    }
    tree->m_createdFolders = std::move(created);
    return tree;
}

std::unique_ptr<SafeTree> SafeTree::join(const std::string &outputDir, const std::string &stagingName,
                                         std::string *error)
{
    *error = "展開先のフォルダに書き込めません: " + outputDir;
    // Only a staging folder's own name, directly inside the output folder.
    if (stagingName.find('/') != std::string::npos || stagingName == "." || stagingName == "..")
        return nullptr;
    const int outFd = open(outputDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (outFd < 0)
        return nullptr;
    const int stagingFd = stagingName.empty()
        ? dup(outFd)
        : openat(outFd, stagingName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (stagingFd < 0) {
        close(outFd);
        return nullptr;
    }
    error->clear();
    return std::unique_ptr<SafeTree>(new SafeTree(outputDir, outFd, stagingName, stagingFd));
}

void SafeTree::setOverwriteRule(OverwritePolicy policy, AskFn ask)
{
    m_policy = policy;
    m_ask = std::move(ask);
}

void SafeTree::protect(dev_t device, ino_t inode)
{
    m_protected = true;
    m_protectedFiles.emplace_back(device, inode);
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
        struct stat st {};
        // A file this archive wrote where one of its names wants a folder is
        // the archive's own clash; a link there is never passed through.
        const bool clash = next < 0 && (e == ELOOP || e == ENOTDIR)
            && fstatat(fd, part, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
        close(fd);
        fd = next;
        if (fd < 0) {
            if (clash)
                setError(err, SALVO_E_NAME_CLASH, "ファイルの名前がフォルダの名前にも使われています");
            else if (e == ELOOP || e == ENOTDIR)
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
        const bool there = fstatat(parent, leaf, &st, AT_SYMLINK_NOFOLLOW) == 0;
        ok = there && S_ISDIR(st.st_mode);
        if (!ok && there && S_ISREG(st.st_mode))
            setError(err, SALVO_E_NAME_CLASH, "フォルダの名前がファイルの名前にも使われています");
        else if (!ok)
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
            setError(err, SALVO_E_NAME_CLASH, "ファイルの名前がフォルダの名前にも使われています");
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

bool SafeTree::staysInsideByText(const std::vector<std::string> &parts, const std::string &target)
{
    if (absoluteTarget(target))
        return false;
    long depth = static_cast<long>(parts.size()) - 1;
    for (const std::string &part : splitTarget(target)) {
        if (part == "..") {
            if (--depth < 0)
                return false;
        } else if (!part.empty() && part != ".") {
            ++depth;
        }
    }
    return true;
}

int SafeTree::openFolder(int root, const std::vector<std::string> &parts, size_t count)
{
    int fd = dup(root);
    for (size_t i = 0; i < count && fd >= 0; ++i) {
        const int next = openat(fd, parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        close(fd);
        fd = next;
    }
    return fd;
}

// Whether the name at `path` (whose folders hold no links) is a link, and
// where to. What was written now hides what the output folder held before.
bool SafeTree::linkAt(const std::vector<std::string> &path, std::string *target)
{
    for (const int root : {m_stagingFd, m_outFd}) {
        const int parent = openFolder(root, path, path.size() - 1);
        if (parent < 0)
            continue;
        struct stat st {};
        const bool there = fstatat(parent, path.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        bool link = false;
        if (there && S_ISLNK(st.st_mode)) {
            std::string buffer(PATH_MAX, '\0');
            const ssize_t n = readlinkat(parent, path.back().c_str(), buffer.data(), buffer.size());
            link = n >= 0;
            *target = buffer.substr(0, n > 0 ? static_cast<size_t>(n) : 0);
        }
        close(parent);
        if (there)
            return link;
    }
    return false;
}

bool SafeTree::staysInside(const std::vector<std::string> &parts, const std::string &target)
{
    if (absoluteTarget(target))
        return false;
    // Resolves the target one part at a time, as the kernel would: `at` is the
    // folder reached so far, never through a link.
    std::vector<std::string> at(parts.begin(), parts.end() - 1);
    std::deque<std::string> todo;
    for (const std::string &part : splitTarget(target))
        todo.push_back(part);
    int hops = 0;
    while (!todo.empty()) {
        const std::string part = todo.front();
        todo.pop_front();
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (at.empty())
                return false;
            at.pop_back();
            continue;
        }
        at.push_back(part);
        std::string next;
        if (linkAt(at, &next)) {
            if (++hops > kMaxLinkHops || absoluteTarget(next))
                return false;
            at.pop_back();
            const std::vector<std::string> more = splitTarget(next);
            todo.insert(todo.begin(), more.begin(), more.end());
        }
    }
    return true;
}

bool SafeTree::makeSymlink(const std::vector<std::string> &parts, const std::string &target, TreeError *err)
{
    if (!staysInside(parts, target))
        return setError(err, SALVO_E_UNSAFE_PATH, "展開先の外を指すリンクです");
    const int parent = openParent(parts, true, err);
    if (parent < 0)
        return false;
    const char *leaf = parts.back().c_str();
    struct stat st {};
    if (fstatat(parent, leaf, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode))
        unlinkat(parent, leaf, 0);
    const bool ok = symlinkat(target.c_str(), parent, leaf) == 0;
    close(parent);
    if (!ok)
        return setError(err, SALVO_E_FILE_OPEN, "リンクを作成できません");
    m_links.push_back(parts);
    return true;
}

bool SafeTree::linksStayInside(std::string *offender)
{
    for (const std::vector<std::string> &parts : m_links) {
        std::string target;
        if (linkAt(parts, &target) && !staysInside(parts, target)) {
            *offender = joined(parts);
            return false;
        }
    }
    return true;
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

bool SafeTree::holds(const std::vector<std::string> &parts)
{
    const int parent = openFolder(m_stagingFd, parts, parts.size() - 1);
    if (parent < 0)
        return false;
    struct stat st {};
    const bool there = fstatat(parent, parts.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    close(parent);
    return there;
}

int SafeTree::decide(const std::string &relative)
{
    int answer = SALVO_ANSWER_NO;
    if (m_policy == OverwritePolicy::Force || m_yesToAll)
        answer = SALVO_ANSWER_YES;
    else if (m_policy == OverwritePolicy::Ask && !m_noToAll && m_ask)
        answer = m_ask(m_outputDir + "/" + relative);
    if (answer == SALVO_ANSWER_YES_TO_ALL)
        m_yesToAll = true;
    if (answer == SALVO_ANSWER_NO_TO_ALL)
        m_noToAll = true;
    return answer;
}

MoveOutcome SafeTree::moveInto()
{
    MoveOutcome out;
    if (direct())
        return out; // already in place
    // The archive being read is never replaced, not even by a folder of its
    // name: such an archive fails before anything is moved.
    std::string clash;
    if (m_protected && findProtected(m_stagingFd, m_outFd, std::string(), &clash)) {
        out.failed = true;
        out.failCode = SALVO_E_FILE_OPEN;
        out.message += "展開中の書庫と同じファイルには書き込みません: " + clash + "\n";
    } else {
        merge(m_stagingFd, m_outFd, std::string(), &out);
    }
    if ((out.cancelled || out.failed) && !takeBack()) {
        out.partial = true;
        out.message += "解凍先に移したファイルを元に戻せませんでした (一部が解凍されたままです)\n";
    }
    removeTree(m_outFd, m_stagingName.c_str());
    m_moved.clear();
    return out;
}

bool SafeTree::takeBack()
{
    bool all = true;
    for (auto it = m_moved.rbegin(); it != m_moved.rend(); ++it) {
        if (it->how == Moved::Replaced) {
            all = false; // what it replaced is gone
            continue;
        }
        std::vector<std::string> parts = splitTarget(it->relative);
        const char *leaf = parts.back().c_str();
        const int out = openFolder(m_outFd, parts, parts.size() - 1);
        const int staged = openFolder(m_stagingFd, parts, parts.size() - 1);
        struct stat st {};
        // Only what the move put there: the same entry, not one put in its place since.
        bool ok = out >= 0 && staged >= 0 && fstatat(out, leaf, &st, AT_SYMLINK_NOFOLLOW) == 0
            && st.st_dev == it->device && st.st_ino == it->inode;
        if (ok && it->how == Moved::Exchanged)
            ok = renameat2(staged, leaf, out, leaf, RENAME_EXCHANGE) == 0;
        else if (ok)
            ok = renameat2(out, leaf, staged, leaf, RENAME_NOREPLACE) == 0;
        all = all && ok;
        if (out >= 0)
            close(out);
        if (staged >= 0)
            close(staged);
    }
    return all;
}

bool SafeTree::findProtected(int srcDir, int dstDir, const std::string &relative, std::string *found)
{
    for (const std::string &name : folderNames(srcDir)) {
        const std::string rel = relative.empty() ? name : relative + "/" + name;
        struct stat src {}, dst {};
        if (fstatat(srcDir, name.c_str(), &src, AT_SYMLINK_NOFOLLOW) != 0
            || fstatat(dstDir, name.c_str(), &dst, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (std::find(m_protectedFiles.begin(), m_protectedFiles.end(), std::make_pair(dst.st_dev, dst.st_ino))
            != m_protectedFiles.end()) {
            *found = rel;
            return true;
        }
        if (S_ISDIR(src.st_mode) && S_ISDIR(dst.st_mode)) {
            const int s = openat(srcDir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            const int t = openat(dstDir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            const bool inside = s >= 0 && t >= 0 && findProtected(s, t, rel, found);
            if (s >= 0)
                close(s);
            if (t >= 0)
                close(t);
            if (inside)
                return true;
        }
    }
    return false;
}

void SafeTree::merge(int srcDir, int dstDir, const std::string &relative, MoveOutcome *out)
{
    std::vector<std::string> names = folderNames(srcDir);
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
            if (renameat2(srcDir, n, dstDir, n, RENAME_NOREPLACE) != 0) {
                out->failed = true;
                out->failCode = writeErrorCode(errno);
                out->message += "移動できません: " + rel + "\n";
            } else {
                m_moved.push_back({rel, src.st_dev, src.st_ino, Moved::New});
            }
            continue;
        }
        if (S_ISDIR(src.st_mode) && S_ISDIR(dst.st_mode)) {
            const int s = openat(srcDir, n, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            const int t = openat(dstDir, n, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (s >= 0 && t >= 0)
                merge(s, t, rel, out);
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
        const int answer = decide(rel);
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
        // The new entry and the old one trade places in one step (a link is
        // replaced, never followed): the old one waits in the staging folder
        // until the move is through, so that a cancel can bring it back.
        if (renameat2(srcDir, n, dstDir, n, RENAME_EXCHANGE) == 0) {
            m_moved.push_back({rel, src.st_dev, src.st_ino, Moved::Exchanged});
            continue;
        }
        // A file system without the exchange: replaced by name, the old entry lost.
        if (S_ISDIR(src.st_mode))
            unlinkat(dstDir, n, 0);
        if (renameat(srcDir, n, dstDir, n) != 0) {
            out->failed = true;
            out->failCode = writeErrorCode(errno);
            out->message += "上書きできません: " + rel + "\n";
        } else {
            m_moved.push_back({rel, src.st_dev, src.st_ino, Moved::Replaced});
        }
    }
}

void SafeTree::discard()
{
    if (!direct()) {
        removeTree(m_outFd, m_stagingName.c_str());
        return;
    }
    for (const std::string &name : folderNames(m_outFd))
        removeTree(m_outFd, name.c_str());
    for (auto it = m_createdFolders.rbegin(); it != m_createdFolders.rend(); ++it)
        rmdir(it->c_str());
}

} // namespace salvo::arc
