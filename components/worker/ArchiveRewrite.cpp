#include "ArchiveRewrite.h"

#include "KeepAlive.h"
#include "salvo_archiver.h"

#include <chrono>
#include <sys/file.h>
#include <thread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace salvo::arc {

namespace {

std::string folderOf(const std::string &path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

int writeFailure(int error, std::string *message)
{
    if (error == ENOSPC || error == EFBIG || error == EDQUOT) {
        *message = "ディスクの空き容量が足りないため書庫を更新できません。";
        return SALVO_E_DISK_SPACE;
    }
    *message = std::string("書庫の一時ファイルに書き込めません: ") + std::strerror(error);
    return SALVO_E_CANNOT_WRITE;
}

ReplacementFile::~ReplacementFile()
{
    discard();
    if (m_source >= 0)
        ::close(m_source);
}

void ReplacementFile::discard()
{
    if (m_target >= 0)
        ::close(m_target);
    m_target = -1;
    if (m_named)
        ::unlink(m_tempPath.c_str());
    m_named = false;
}

int ReplacementFile::openLocked(std::string *message)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point giveUp = Clock::now() + std::chrono::milliseconds(kLockWaitMs);
    AliveTicker ticker(m_alive);
    for (;;) {
        m_source = ::open(m_archive.c_str(), O_RDONLY | O_CLOEXEC);
        if (m_source < 0 || fstat(m_source, &m_sourceStat) != 0 || !S_ISREG(m_sourceStat.st_mode)) {
            *message = "書庫を開けません: " + m_archive;
            return SALVO_E_ARC_FILE_OPEN;
        }
        if (::flock(m_source, LOCK_EX | LOCK_NB) == 0) {
            // Locked: but the file may have been replaced between the open and
            // the lock (by the writer waited for), then the new one is read.
            struct stat atPath {};
            if (::stat(m_archive.c_str(), &atPath) == 0 && atPath.st_dev == m_sourceStat.st_dev
                && atPath.st_ino == m_sourceStat.st_ino) {
                fstat(m_source, &m_sourceStat); // as it is now that nobody else writes it
                return SALVO_OK;
            }
        } else if (errno != EWOULDBLOCK && errno != EINTR) {
            // A file system without locks: the check before the rename still guards it.
            return SALVO_OK;
        }
        ::close(m_source);
        m_source = -1;
        if (Clock::now() >= giveUp) {
            *message = "書庫は別の処理が更新中のため更新できません: " + m_archive;
            return SALVO_E_CANNOT_WRITE;
        }
        ticker.tick();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

int ReplacementFile::open(const std::string &archive, const std::string &tempPath, const AliveFn &alive,
                          std::string *message)
{
    m_archive = archive;
    m_tempPath = tempPath;
    m_alive = alive;
    if (const int code = openLocked(message); code != SALVO_OK)
        return code;
    // A file without write permission is one the user protected: leave it.
    if ((m_sourceStat.st_mode & 0222) == 0) {
        *message = "書庫が読み取り専用のため更新できません: " + archive;
        return SALVO_E_CANNOT_WRITE;
    }
    if (folderOf(tempPath) != folderOf(archive)) {
        *message = "一時ファイルの場所が正しくありません。";
        return SALVO_E_INTERNAL;
    }
    m_target = ::open(folderOf(archive).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (m_target < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        m_target = ::open(tempPath.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0600);
        m_named = m_target >= 0;
    }
    if (m_target < 0) {
        const int error = errno;
        *message = "書庫のフォルダに一時ファイルを作れません: " + std::string(std::strerror(error));
        return error == ENOSPC || error == EDQUOT ? SALVO_E_DISK_SPACE : SALVO_E_CANNOT_WRITE;
    }
    return SALVO_OK;
}

namespace {

bool sameTime(const struct timespec &a, const struct timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The same file with the same contents, as far as its status tells.
bool unchanged(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size && sameTime(a.st_mtim, b.st_mtim)
        && sameTime(a.st_ctim, b.st_ctim);
}

} // namespace

bool ReplacementFile::stillTheFileRead(std::string *why) const
{
    struct stat atPath {};
    if (::stat(m_archive.c_str(), &atPath) != 0 || atPath.st_dev != m_sourceStat.st_dev
        || atPath.st_ino != m_sourceStat.st_ino) {
        *why = "書庫が処理中に別のファイルに置き換えられたため、更新を取りやめました。置き換えたファイルはそのままです: ";
        return false;
    }
    if (!unchanged(atPath, m_sourceStat)) {
        *why = "書庫が処理中に別のプログラムによって書き換えられたため、更新を取りやめました。書庫はそのままです: ";
        return false;
    }
    return true;
}

int ReplacementFile::commit(std::string *message)
{
    // The archive keeps its permissions and, where allowed, its owner.
    if (fchmod(m_target, m_sourceStat.st_mode & 07777) != 0)
        return writeFailure(errno, message);
    if (fchown(m_target, m_sourceStat.st_uid, m_sourceStat.st_gid) != 0 && errno != EPERM) {
        // Keeping the owner is best effort.
    }
    {
        const AliveDuring syncing(m_alive);
        if (fsync(m_target) != 0)
            return writeFailure(errno, message);
    }
    if (!m_named) {
        const std::string self = "/proc/self/fd/" + std::to_string(m_target);
        ::unlink(m_tempPath.c_str()); // a leftover of a process killed at this very step
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, m_tempPath.c_str(), AT_SYMLINK_FOLLOW) != 0)
            return writeFailure(errno, message);
        m_named = true;
    }
    std::string why;
    if (!stillTheFileRead(&why)) {
        *message = why + m_archive + "\n";
        return SALVO_E_CANNOT_WRITE;
    }
    if (::rename(m_tempPath.c_str(), m_archive.c_str()) != 0)
        return writeFailure(errno, message);
    m_named = false;
    ::close(m_target);
    m_target = -1;
    return SALVO_OK;
}

void ReplacementFile::syncFolder()
{
    const int dir = ::open(folderOf(m_archive).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        const AliveDuring syncing(m_alive);
        fsync(dir);
        ::close(dir);
    }
}

OutputStream::OutputStream(const ReplacementFile &file)
    : m_fd(file.targetFd()), m_alive(file.alive()), m_buffer(1 << 20)
{
}

bool OutputStream::flush()
{
    size_t done = 0;
    while (done < m_used && m_error == 0) {
        const ssize_t w = ::write(m_fd, m_buffer.data() + done, m_used - done);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            m_error = w < 0 ? errno : ENOSPC;
        else
            done += static_cast<size_t>(w);
    }
    m_used = 0;
    return m_error == 0;
}

bool OutputStream::write(const void *data, size_t length)
{
    const auto *p = static_cast<const unsigned char *>(data);
    while (length > 0 && m_error == 0) {
        if (m_used == m_buffer.size() && !flush())
            return false;
        const size_t n = std::min(length, m_buffer.size() - m_used);
        std::memcpy(m_buffer.data() + m_used, p, n);
        m_used += n;
        p += n;
        length -= n;
        m_position += static_cast<int64_t>(n);
    }
    return m_error == 0;
}

bool OutputStream::truncate(int64_t offset)
{
    if (!flush())
        return false;
    if (ftruncate(m_fd, offset) != 0 || lseek(m_fd, offset, SEEK_SET) != offset)
        m_error = errno;
    m_position = offset;
    return m_error == 0;
}

bool OutputStream::writeAt(int64_t offset, const void *data, size_t length)
{
    if (!flush())
        return false;
    const ssize_t w = ::pwrite(m_fd, data, length, offset);
    if (w != static_cast<ssize_t>(length))
        m_error = w < 0 ? errno : ENOSPC;
    return m_error == 0;
}

bool OutputStream::copyFrom(int fd, int64_t offset, int64_t length)
{
    if (!flush())
        return false;
    // In the kernel where it can; a plain copy otherwise. A large copy on
    // slow storage takes long without a tick.
    const AliveDuring copying(m_alive);
    off_t in = offset;
    while (length > 0) {
        const ssize_t n = copy_file_range(fd, &in, m_fd, nullptr, static_cast<size_t>(std::min<int64_t>(length, 1 << 30)), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n < 0 && errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP && errno != EINVAL) {
                m_error = errno;
                return false;
            }
            break;
        }
        in += n;
        length -= n;
        m_position += n;
    }
    std::vector<unsigned char> chunk(1 << 20);
    while (length > 0) {
        const ssize_t got = ::pread(fd, chunk.data(), static_cast<size_t>(std::min<int64_t>(length, chunk.size())), in);
        if (got <= 0) {
            m_error = got < 0 ? errno : EIO;
            return false;
        }
        if (!write(chunk.data(), static_cast<size_t>(got)))
            return false;
        in += got;
        length -= got;
    }
    return flush();
}

} // namespace salvo::arc
