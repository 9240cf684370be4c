#include "SafeTree.h"

#include "Names.h"
#include "Operations.h"
#include "salvo_archiver.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace salvo::arc {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

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

} // namespace

bool linkStaysInside(const std::vector<std::string> &parts, const std::string &target,
                     const std::function<Node(const std::vector<std::string> &)> &nodeAt)
{
    if (absoluteTarget(target) || parts.empty())
        return false;
    std::vector<std::string> at(parts.begin(), parts.end() - 1);
    // True while every part so far was a real folder: only then does ".."
    // lead where the text says, now and later.
    bool physical = true;
    for (const std::string &part : splitTarget(target)) {
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (!physical || at.empty())
                return false;
            at.pop_back();
            continue;
        }
        if (!physical)
            continue; // down from a place inside, which a later link only leads further in
        at.push_back(part);
        const Node node = nodeAt(at);
        // Through a link nobody checked the target may lead anywhere.
        if (node == Node::ForeignLink)
            return false;
        physical = node == Node::Folder;
    }
    return true;
}

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

SafeTree::SafeTree(std::unique_ptr<OutputRoot> root) : m_root(std::move(root)), m_policy(OverwritePolicy::Keep)
{
    m_umask = umask(0);
    umask(m_umask);
}

SafeTree::~SafeTree() = default;

std::unique_ptr<SafeTree> SafeTree::create(const std::string &outputDir, std::string *error)
{
    std::unique_ptr<OutputRoot> root = OutputRoot::create(outputDir, error);
    return root ? std::unique_ptr<SafeTree>(new SafeTree(std::move(root))) : nullptr;
}

std::unique_ptr<SafeTree> SafeTree::adopt(const std::string &outputDir, UniqueFd output, UniqueFd staging)
{
    std::unique_ptr<OutputRoot> root = OutputRoot::adopt(outputDir, std::move(output), std::move(staging));
    return root ? std::unique_ptr<SafeTree>(new SafeTree(std::move(root))) : nullptr;
}

void SafeTree::setOverwriteRule(OverwritePolicy policy, AskFn ask)
{
    m_policy = policy;
    m_ask = std::move(ask);
}

void SafeTree::protect(dev_t device, ino_t inode)
{
    m_protectedFiles.emplace_back(device, inode);
}

// The folder that holds `parts` in the staging folder (made when `create`
// says so), as a descriptor owned by the tree until the next call. Entries
// come folder by folder, so the last folder is kept open and a name in it or
// just below it costs no walk from the top.
int SafeTree::openParent(const std::vector<std::string> &parts, bool create, TreeError *err)
{
    const size_t want = parts.size() - 1;
    size_t from = 0;
    int base = m_root->stagingFd();
    if (m_lastParentFd.valid() && m_lastParent.size() <= want
        && std::equal(m_lastParent.begin(), m_lastParent.end(), parts.begin())) {
        from = m_lastParent.size();
        base = m_lastParentFd.get();
    }
    UniqueFd fd(fcntl(base, F_DUPFD_CLOEXEC, 0));
    for (size_t i = from; i < want && fd.valid(); ++i) {
        const char *part = parts[i].c_str();
        UniqueFd next(openat(fd.get(), part, kFolderFlags));
        if (!next.valid() && errno == ENOENT && create) {
            if (mkdirat(fd.get(), part, 0700 | (0777 & ~m_umask)) == 0 || errno == EEXIST)
                next.reset(openat(fd.get(), part, kFolderFlags));
        }
        if (!next.valid()) {
            const int e = errno;
            struct stat st {};
            // A file this archive wrote where one of its names wants a folder is
            // the archive's own clash; a link there is never passed through.
            const bool clash = (e == ELOOP || e == ENOTDIR) && fstatat(fd.get(), part, &st, AT_SYMLINK_NOFOLLOW) == 0
                && S_ISREG(st.st_mode);
            if (clash)
                setError(err, SALVO_E_NAME_CLASH, "ファイルの名前がフォルダの名前にも使われています");
            else if (e == ELOOP || e == ENOTDIR)
                setError(err, SALVO_E_UNSAFE_PATH, "リンクやファイルを通して書き込むことはしません");
            else
                setError(err, SALVO_E_MAKEDIRECTORY, "フォルダを作成できません");
            return -1;
        }
        fd = std::move(next);
    }
    if (!fd.valid()) {
        setError(err, SALVO_E_MAKEDIRECTORY, "フォルダを作成できません");
        return -1;
    }
    m_lastParent.assign(parts.begin(), parts.begin() + static_cast<std::ptrdiff_t>(want));
    m_lastParentFd = std::move(fd);
    return m_lastParentFd.get();
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
        // earlier one is a folder. The decoder reads names that are not plain
        // ASCII normalised (NFC), so two of them that differ as stored can
        // meet here: they would become one file, so the archive fails.
        if (S_ISDIR(st.st_mode)) {
            setError(err, SALVO_E_NAME_CLASH, "ファイルの名前がフォルダの名前にも使われています");
            return FileWriter();
        }
        if (!isAscii(parts.back())) {
            setError(err, SALVO_E_FILE_OPEN,
                     "Unicode の正規化だけが違うかもしれない同じ名前の項目が二つあるため、両方を残せません");
            return FileWriter();
        }
        unlinkat(parent, leaf, 0);
    }
    const int fd = openat(parent, leaf, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const int e = errno;
    if (fd < 0)
        setError(err, e == ENOSPC ? SALVO_E_DISK_SPACE : SALVO_E_FILE_OPEN, "ファイルを作成できません");
    return FileWriter(fd);
}

bool SafeTree::adoptFile(const std::vector<std::string> &parts, int fromFolder, const std::string &fromName,
                         mode_t mode, TreeError *err)
{
    const UniqueFd source(openat(fromFolder, fromName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!source.valid() || fstat(source.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) {
        setError(err, SALVO_E_FILE_OPEN, "書き出されたファイルを開けません");
        return false;
    }
    // The same steps as a file written here: its folders, a name written
    // twice, then the file, renamed into its place whole.
    FileWriter placeholder = createFile(parts, err);
    if (!placeholder.ok())
        return false;
    const int parent = m_lastParentFd.get();
    const char *leaf = parts.back().c_str();
    placeholder.finish(-1, 0600, -1, 0, err);
    const mode_t um = umask(0);
    umask(um);
    mode_t perms = mode & 0777;
    if (perms == 0)
        perms = 0644;
    fchmod(source.get(), (perms | 0600) & ~um);
    if (renameat(fromFolder, fromName.c_str(), parent, leaf) != 0) {
        const int e = errno;
        unlinkat(parent, leaf, 0);
        setError(err, e == ENOSPC ? SALVO_E_DISK_SPACE : SALVO_E_FILE_OPEN, "ファイルを置けません");
        return false;
    }
    struct stat placed {};
    if (fstatat(parent, leaf, &placed, AT_SYMLINK_NOFOLLOW) != 0 || placed.st_dev != st.st_dev || placed.st_ino != st.st_ino) {
        setError(err, SALVO_E_FILE_OPEN, "ファイルを置けません");
        return false;
    }
    return true;
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

bool SafeTree::staysInside(const std::vector<std::string> &parts, const std::string &target)
{
    return linkStaysInside(parts, target,
                           [this](const std::vector<std::string> &at) { return nodeForLinkRule(at, View::AsWritten); });
}

bool SafeTree::makeSymlink(const std::vector<std::string> &parts, const std::string &target, TreeError *err)
{
    if (!staysInsideByText(parts, target))
        return setError(err, SALVO_E_UNSAFE_PATH, "展開先の外を指すリンクです");
    const int parent = openParent(parts, true, err);
    if (parent < 0)
        return false;
    const char *leaf = parts.back().c_str();
    struct stat st {};
    if (fstatat(parent, leaf, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode))
        unlinkat(parent, leaf, 0);
    if (symlinkat(target.c_str(), parent, leaf) != 0 || fstatat(parent, leaf, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return setError(err, SALVO_E_FILE_OPEN, "リンクを作成できません");
    m_links.push_back({parts, target, st.st_dev, st.st_ino});
    return true;
}

bool SafeTree::makeHardLink(const std::vector<std::string> &parts, const std::vector<std::string> &target,
                            TreeError *err)
{
    const int borrowed = openParent(target, false, err);
    if (borrowed < 0)
        return setError(err, SALVO_E_UNSAFE_PATH, "リンク先が展開したファイルの中にありません");
    UniqueFd targetParent(fcntl(borrowed, F_DUPFD_CLOEXEC, 0));
    struct stat st {};
    if (!targetParent.valid() || fstatat(targetParent.get(), target.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0
        || !S_ISREG(st.st_mode))
        return setError(err, SALVO_E_UNSAFE_PATH, "リンク先が展開したファイルの中にありません");
    const int parent = openParent(parts, true, err);
    if (parent < 0)
        return false;
    const char *leaf = parts.back().c_str();
    if (fstatat(parent, leaf, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode))
        unlinkat(parent, leaf, 0);
    const bool ok = linkat(targetParent.get(), target.back().c_str(), parent, leaf, 0) == 0;
    return ok || setError(err, SALVO_E_FILE_OPEN, "リンクを作成できません");
}

bool SafeTree::holds(const std::vector<std::string> &parts)
{
    TreeError ignored;
    const int parent = openParent(parts, false, &ignored);
    struct stat st {};
    return parent >= 0 && fstatat(parent, parts.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

int SafeTree::decide(const std::string &relative)
{
    int answer = SALVO_ANSWER_NO;
    if (m_policy == OverwritePolicy::Force || m_yesToAll)
        answer = SALVO_ANSWER_YES;
    else if (m_policy == OverwritePolicy::Ask && !m_noToAll && m_ask)
        answer = m_ask(m_root->outputPath() + "/" + relative);
    if (answer == SALVO_ANSWER_YES_TO_ALL)
        m_yesToAll = true;
    if (answer == SALVO_ANSWER_NO_TO_ALL)
        m_noToAll = true;
    return answer;
}

void SafeTree::discard()
{
    m_lastParentFd.reset();
    m_root->removeStaging();
    m_root->removeMadeFolders();
}

} // namespace salvo::arc
