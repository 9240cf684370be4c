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
    bool empty = true;
    forEachName(dirFd, [&empty](const char *) { return empty = false; });
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
