#include "TreeRemoval.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace salvo::arc {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool sameFolder(int fd, const std::pair<dev_t, ino_t> &id)
{
    struct stat st {};
    return fstat(fd, &st) == 0 && st.st_dev == id.first && st.st_ino == id.second;
}

} // namespace

std::vector<std::string> folderNames(int dirFd)
{
    std::vector<std::string> names;
    // A descriptor of its own, so that the caller's keeps its position.
    const int fd = openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return names;
    DIR *d = fdopendir(fd);
    if (!d) {
        close(fd);
        return names;
    }
    while (dirent *de = readdir(d)) {
        if (std::strcmp(de->d_name, ".") != 0 && std::strcmp(de->d_name, "..") != 0)
            names.emplace_back(de->d_name);
    }
    closedir(d);
    return names;
}

FolderCursor::FolderCursor(int rootFd) : m_fd(rootFd >= 0 ? fcntl(rootFd, F_DUPFD_CLOEXEC, 0) : -1)
{
    struct stat st {};
    if (m_fd.valid() && fstat(m_fd.get(), &st) == 0)
        m_path.emplace_back(st.st_dev, st.st_ino);
    else
        m_fd.reset();
}

bool FolderCursor::enter(const std::string &name)
{
    if (!m_fd.valid())
        return false;
    UniqueFd next(openat(m_fd.get(), name.c_str(), kFolderFlags));
    struct stat st {};
    if (!next.valid() || fstat(next.get(), &st) != 0)
        return false;
    m_path.emplace_back(st.st_dev, st.st_ino);
    m_fd = std::move(next);
    return true;
}

bool FolderCursor::leave()
{
    if (!m_fd.valid() || m_path.size() < 2)
        return false;
    UniqueFd up(openat(m_fd.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    m_path.pop_back();
    if (!up.valid() || !sameFolder(up.get(), m_path.back())) {
        m_fd.reset();
        return false;
    }
    m_fd = std::move(up);
    return true;
}

bool removeContents(int dirFd)
{
    FolderCursor at(dirFd);
    if (!at.valid())
        return false;
    // One frame per folder on the way down: the names still to remove, and
    // the name the folder itself has in its parent.
    struct Frame {
        std::string self;
        std::vector<std::string> names;
        size_t next = 0;
    };
    std::vector<Frame> frames;
    frames.push_back({std::string(), folderNames(at.fd())});
    bool whole = true;
    while (!frames.empty()) {
        if (frames.back().next < frames.back().names.size()) {
            const std::string name = frames.back().names[frames.back().next++];
            struct stat st {};
            if (fstatat(at.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            if (!S_ISDIR(st.st_mode)) {
                whole = unlinkat(at.fd(), name.c_str(), 0) == 0 && whole;
                continue;
            }
            if (unlinkat(at.fd(), name.c_str(), AT_REMOVEDIR) == 0)
                continue; // already empty
            if (!at.enter(name)) {
                whole = false;
                continue;
            }
            // A folder the archive made read-only is ours to empty.
            fchmod(at.fd(), 0700);
            frames.push_back({name, folderNames(at.fd())});
            continue;
        }
        const std::string self = frames.back().self;
        frames.pop_back();
        if (frames.empty())
            break;
        if (!at.leave())
            return false; // the tree was moved meanwhile: nothing more is touched
        whole = unlinkat(at.fd(), self.c_str(), AT_REMOVEDIR) == 0 && whole;
    }
    return whole;
}

bool removeTree(int parentFd, const std::string &name)
{
    struct stat st {};
    if (fstatat(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode))
        return unlinkat(parentFd, name.c_str(), 0) == 0;
    UniqueFd folder(openat(parentFd, name.c_str(), kFolderFlags));
    if (folder.valid()) {
        fchmod(folder.get(), 0700);
        removeContents(folder.get());
    }
    return unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) == 0;
}

void removeMadeFolders(int baseFd, const std::vector<std::string> &made)
{
    for (size_t depth = made.size(); depth-- > 0;) {
        FolderCursor at(baseFd);
        bool there = at.valid();
        for (size_t i = 0; i < depth && there; ++i)
            there = at.enter(made[i]);
        if (!there || unlinkat(at.fd(), made[depth].c_str(), AT_REMOVEDIR) != 0)
            return; // not empty, or no longer there: the folders around it stay too
    }
}

bool CreatedOutput::take(const std::string &stagingName, std::vector<std::string> made, FdList fds)
{
    // Only a staging folder's own name, with the output and staging folders,
    // and the folder the others were made in when there are any.
    const bool named = stagingName.rfind(kStagingPrefix, 0) == 0 && stagingName.find('/') == std::string::npos;
    if (!named || fds.size() != (made.empty() ? 2u : 3u))
        return false;
    for (const std::string &m : made) {
        if (m.empty() || m == "." || m == ".." || m.find('/') != std::string::npos)
            return false;
    }
    m_output = std::move(fds[0]);
    m_staging = std::move(fds[1]);
    if (!made.empty())
        m_base = std::move(fds[2]);
    m_stagingName = stagingName;
    m_made = std::move(made);
    return true;
}

void removeHeldFolder(int parentFd, const std::string &name, int dirFd)
{
    removeContents(dirFd);
    struct stat held {}, named {};
    if (fstat(dirFd, &held) == 0 && fstatat(parentFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0
        && held.st_dev == named.st_dev && held.st_ino == named.st_ino)
        unlinkat(parentFd, name.c_str(), AT_REMOVEDIR);
}

void CreatedOutput::remove()
{
    if (!m_staging.valid())
        return;
    removeHeldFolder(m_output.get(), m_stagingName, m_staging.get());
    m_staging.reset();
    removeMadeFolders();
}

void CreatedOutput::removeMadeFolders()
{
    if (m_base.valid())
        salvo::arc::removeMadeFolders(m_base.get(), m_made);
    m_output.reset();
    m_base.reset();
}

} // namespace salvo::arc
