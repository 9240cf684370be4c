#include "RegularFile.h"

#include "LocalPath.h"

#include <algorithm>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace salvo {
namespace {

FileIdentity identityOf(const struct stat &st)
{
    return {static_cast<quint64>(st.st_dev), static_cast<quint64>(st.st_ino), static_cast<qint64>(st.st_size),
            static_cast<qint64>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
            static_cast<qint64>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}

} // namespace

std::optional<FileIdentity> regularFileIdentity(const QString &path)
{
    struct stat st {};
    if (path.isEmpty() || ::stat(localBytesOfPath(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return identityOf(st);
}

ReadStatus readRegularFile(const QString &path, qint64 maxSize, QByteArray *bytes)
{
    bytes->clear();
    // O_NONBLOCK: opening a FIFO for reading must not wait for a writer.
    const int fd = ::open(localBytesOfPath(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? ReadStatus::Missing : ReadStatus::Unusable;
    struct stat st {};
    ReadStatus status = ReadStatus::Unusable;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= maxSize) {
        QByteArray data;
        data.resize(static_cast<qsizetype>(st.st_size));
        qsizetype got = 0;
        for (;;) {
            if (got == data.size()) {
                // The file may have grown since fstat: read on, within the limit.
                if (data.size() >= maxSize + 1)
                    break;
                data.resize(std::min<qint64>(maxSize + 1, data.size() + 65536));
            }
            const ssize_t n = ::read(fd, data.data() + got, static_cast<size_t>(data.size() - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                got = -1;
                break;
            }
            if (n == 0)
                break;
            got += n;
        }
        if (got >= 0 && got <= maxSize) {
            data.resize(got);
            *bytes = std::move(data);
            status = ReadStatus::Ok;
        }
    }
    ::close(fd);
    return status;
}

} // namespace salvo
