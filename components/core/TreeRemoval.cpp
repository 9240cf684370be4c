#include "TreeRemoval.h"

#include <cstring>
#include <functional>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace salvo::arc {

namespace {

// Calls `take` for each name until it returns false.
void forEachName(int dirFd, const std::function<bool(const char *)> &take)
{
    const int fd = dup(dirFd);
    if (fd < 0)
        return;
    DIR *d = fdopendir(fd);
    if (!d) {
        close(fd);
        return;
    }
    rewinddir(d); // the duplicate shares its position with earlier reads
    while (dirent *de = readdir(d)) {
        if (std::strcmp(de->d_name, ".") != 0 && std::strcmp(de->d_name, "..") != 0 && !take(de->d_name))
            break;
    }
    closedir(d);
}

} // namespace

std::vector<std::string> folderNames(int dirFd)
{
    std::vector<std::string> names;
    forEachName(dirFd, [&names](const char *name) {
        names.emplace_back(name);
        return true;
    });
    return names;
}

bool folderIsEmpty(int dirFd)
{
    // A descriptor of its own (its own reading position) and a small buffer:
    // the file system then reads only the first few names, where readdir()
    // would fetch a whole buffer of a folder that may hold thousands.
    const int fd = openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false; // unknown: everything in it would count as written by the call
    alignas(dirent64) char buffer[1024];
    bool empty = true;
    for (;;) {
        const ssize_t n = getdents64(fd, buffer, sizeof buffer);
        if (n <= 0) {
            empty = empty && n == 0;
            break;
        }
        for (ssize_t at = 0; at < n && empty;) {
            const auto *entry = reinterpret_cast<const dirent64 *>(buffer + at);
            empty = std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0;
            at += entry->d_reclen;
        }
        if (!empty)
            break;
    }
    close(fd);
    return empty;
}

void removeTree(int parentFd, const char *name)
{
    struct stat st {};
    if (fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    if (!S_ISDIR(st.st_mode)) {
        unlinkat(parentFd, name, 0);
        return;
    }
    const int fd = openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        fchmod(fd, 0700);
        for (const std::string &child : folderNames(fd))
            removeTree(fd, child.c_str());
        close(fd);
    }
    unlinkat(parentFd, name, AT_REMOVEDIR);
}

CreatedOutput::CreatedOutput(std::string outputDir) : m_outputDir(std::move(outputDir))
{
    // Each folder from the output folder up that does not exist yet.
    std::string path = m_outputDir;
    struct stat st {};
    while (!path.empty() && path != "/" && path != "." && lstat(path.c_str(), &st) != 0) {
        m_missingFolders.push_back(path);
        const size_t slash = path.find_last_of('/');
        if (slash == std::string::npos)
            break;
        path.resize(slash);
    }
    if (m_missingFolders.empty()) {
        const int out = open(m_outputDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        m_wasEmpty = out >= 0 && folderIsEmpty(out);
        if (out >= 0)
            close(out);
    } else {
        m_wasEmpty = true;
    }
}

void CreatedOutput::setStaging(std::string name)
{
    // Only a name the decoder can have made, and the whole folder only when it
    // was empty before the call.
    const bool staging = name.rfind(".salvo-staging-", 0) == 0 && name.find('/') == std::string::npos;
    m_known = staging || (name.empty() && m_wasEmpty);
    m_staging = std::move(name);
}

void CreatedOutput::remove() const
{
    if (m_known) {
        const int out = open(m_outputDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (out >= 0) {
            if (!m_staging.empty()) {
                removeTree(out, m_staging.c_str());
            } else {
                for (const std::string &name : folderNames(out))
                    removeTree(out, name.c_str());
            }
            close(out);
        }
    }
    for (const std::string &folder : m_missingFolders)
        rmdir(folder.c_str()); // only when empty
}

} // namespace salvo::arc
