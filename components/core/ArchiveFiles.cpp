#include "ArchiveFiles.h"

#include "SplitVolumes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace salvo::arc {

ArchiveFiles::ArchiveFiles(const std::string &path)
{
    for (const std::string &volume : volumeSetOf(path).paths) {
        // Never opened when it is no regular file: opening a FIFO would wait
        // for a writer, a device could do anything.
        struct stat st {};
        if (::stat(volume.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        UniqueFd fd(::open(volume.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (!fd.valid() || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        fcntl(fd.get(), F_SETFL, fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
        m_files.emplace_back(volume, std::move(fd));
    }
}

void ArchiveFiles::describe(WireWriter &w) const
{
    w.u32(static_cast<uint32_t>(m_files.size()));
    for (const auto &[path, fd] : m_files)
        w.str(path);
}

std::vector<int> ArchiveFiles::descriptors() const
{
    std::vector<int> fds;
    for (const auto &[path, fd] : m_files)
        fds.push_back(fd.get());
    return fds;
}

int64_t ArchiveFiles::firstSize() const
{
    struct stat st {};
    if (m_files.empty() || fstat(m_files.front().second.get(), &st) != 0)
        return -1;
    return st.st_size;
}

bool ArchiveFiles::firstBeginsWith(std::string_view bytes) const
{
    std::string head(bytes.size(), '\0');
    return !m_files.empty()
           && pread(m_files.front().second.get(), head.data(), head.size(), 0) == static_cast<ssize_t>(head.size())
           && head == bytes;
}

} // namespace salvo::arc
