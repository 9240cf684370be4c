#include "VolumeInput.h"

#include "ArchiveExtent.h"
#include "salvo_archiver.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace salvo::arc {

namespace {
constexpr size_t kBlock = 256 * 1024;

std::vector<std::pair<std::string, int>> &passedFiles()
{
    static std::vector<std::pair<std::string, int>> files;
    return files;
}

int passedFile(const std::string &path)
{
    for (const auto &[p, fd] : passedFiles()) {
        if (p == path)
            return fd;
    }
    return -1;
}
} // namespace

// What the shared rules on split archives open: the file handed over for a
// path, else the path itself.
int openPassedOrPath(const char *path)
{
    const int passed = passedFile(path);
    return passed >= 0 ? fcntl(passed, F_DUPFD_CLOEXEC, 0) : ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

void passFiles(std::vector<std::pair<std::string, int>> files)
{
    dropPassedFiles();
    passedFiles() = std::move(files);
    setVolumeOpener(&openPassedOrPath);
}

void dropPassedFiles()
{
    for (const auto &[p, fd] : passedFiles())
        ::close(fd);
    passedFiles().clear();
}

VolumeInput::~VolumeInput()
{
    for (Volume &v : m_volumes) {
        if (v.fd >= 0)
            ::close(v.fd);
    }
}

int VolumeInput::open(const std::vector<std::string> &paths, std::string *message)
{
    for (const std::string &path : paths) {
        if (const int passed = passedFile(path); passed >= 0) {
            Volume v;
            v.path = path;
            v.fd = fcntl(passed, F_DUPFD_CLOEXEC, 0);
            if (v.fd < 0 || fstat(v.fd, &v.st) != 0 || !S_ISREG(v.st.st_mode)) {
                if (v.fd >= 0)
                    ::close(v.fd);
                *message = "書庫を開けません: " + path;
                return SALVO_E_ARC_FILE_OPEN;
            }
            v.offset = m_size;
            m_size += v.st.st_size;
            m_volumes.push_back(std::move(v));
            continue;
        }
        // Only a regular file is an archive. Anything else is refused before it
        // is opened: opening a FIFO would wait for a writer, a device could
        // have side effects.
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            *message = "書庫を開けません: " + path;
            return m_volumes.empty() ? SALVO_E_ARC_FILE_OPEN : SALVO_E_MISSING_VOLUME;
        }
        if (!S_ISREG(st.st_mode)) {
            *message = "通常のファイルではないため開きません: " + path;
            return SALVO_E_ARC_FILE_OPEN;
        }
        Volume v;
        v.path = path;
        v.fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (v.fd < 0 || fstat(v.fd, &v.st) != 0 || !S_ISREG(v.st.st_mode)) {
            if (v.fd >= 0)
                ::close(v.fd);
            *message = "書庫を開けません: " + path;
            return SALVO_E_ARC_FILE_OPEN;
        }
        fcntl(v.fd, F_SETFL, fcntl(v.fd, F_GETFL) & ~O_NONBLOCK);
        v.offset = m_size;
        m_size += v.st.st_size;
        m_volumes.push_back(std::move(v));
    }
    return SALVO_OK;
}

void VolumeInput::replaceTail(int64_t from, std::string tail)
{
    m_tailFrom = std::clamp<int64_t>(from, 0, m_size);
    m_tail = std::move(tail);
}

ssize_t VolumeInput::readAt(int64_t pos, void *buffer, size_t n) const
{
    if (pos < 0)
        return -1;
    if (m_tailFrom >= 0) {
        if (pos >= m_tailFrom) {
            const int64_t inside = pos - m_tailFrom;
            if (inside >= static_cast<int64_t>(m_tail.size()))
                return 0;
            const size_t count = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), static_cast<int64_t>(m_tail.size()) - inside));
            std::memcpy(buffer, m_tail.data() + inside, count);
            return static_cast<ssize_t>(count);
        }
        n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), m_tailFrom - pos));
    }
    // The volume that holds `pos`: the last one that begins at or before it.
    auto it = std::upper_bound(m_volumes.begin(), m_volumes.end(), pos,
                               [](int64_t p, const Volume &v) { return p < v.offset; });
    if (it == m_volumes.begin())
        return 0;
    --it;
    for (; it != m_volumes.end(); ++it) {
        const int64_t inside = pos - it->offset;
        if (inside >= it->st.st_size)
            continue; // an empty volume, or the end of this one
        const size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), it->st.st_size - inside));
        for (;;) {
            const ssize_t got = ::pread(it->fd, buffer, want, inside);
            if (got < 0 && errno == EINTR)
                continue;
            return got;
        }
    }
    return 0;
}

bool VolumeInput::readFully(int64_t pos, void *buffer, size_t n) const
{
    auto *p = static_cast<char *>(buffer);
    while (n > 0) {
        const ssize_t got = readAt(pos, p, n);
        if (got <= 0)
            return false;
        p += got;
        pos += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

ssize_t VolumeInput::Cursor::read(void *buffer, size_t n)
{
    const ssize_t got = m_input.readAt(m_pos, buffer, n);
    if (got > 0)
        m_pos += got;
    return got;
}

la_ssize_t VolumeInput::Cursor::readBlock(archive *a, void *self, const void **buffer)
{
    auto *c = static_cast<Cursor *>(self);
    if (!c->m_block) {
        const int64_t size = std::max<int64_t>(c->m_input.size(), 1);
        c->m_blockSize = static_cast<size_t>(std::min<int64_t>(kBlock, (size + 4095) & ~int64_t{4095}));
        c->m_block.reset(new char[c->m_blockSize]);
    }
    const ssize_t got = c->read(c->m_block.get(), c->m_blockSize);
    if (got < 0) {
        archive_set_error(a, errno ? errno : EIO, "書庫を読めません");
        return -1;
    }
    *buffer = c->m_block.get();
    return got;
}

la_int64_t VolumeInput::Cursor::skip(archive *, void *self, la_int64_t request)
{
    auto *c = static_cast<Cursor *>(self);
    const int64_t step = std::max<int64_t>(0, std::min<int64_t>(request, c->m_input.size() - c->m_pos));
    c->m_pos += step;
    return step;
}

la_int64_t VolumeInput::Cursor::seek(archive *, void *self, la_int64_t offset, int whence)
{
    auto *c = static_cast<Cursor *>(self);
    int64_t base = 0;
    if (whence == SEEK_CUR)
        base = c->m_pos;
    else if (whence == SEEK_END)
        base = c->m_input.size();
    const int64_t target = base + offset;
    if (target < 0)
        return ARCHIVE_FATAL;
    c->m_pos = target;
    return target;
}

int VolumeInput::Cursor::openArchive(archive *a)
{
    archive_read_set_read_callback(a, &Cursor::readBlock);
    archive_read_set_skip_callback(a, &Cursor::skip);
    archive_read_set_seek_callback(a, &Cursor::seek);
    archive_read_set_callback_data(a, this);
    return archive_read_open1(a);
}

} // namespace salvo::arc
