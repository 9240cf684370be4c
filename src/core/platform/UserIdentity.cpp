#include "UserIdentity.h"

#include "LocalPath.h"

#include <QDir>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace salvo {
namespace {

// The longest socket path the system takes (sun_path holds it with its NUL).
constexpr qsizetype kMaxSocketPathBytes = sizeof(sockaddr_un::sun_path) - 1;

bool fitsSocket(const QString &folder, const QString &socketName)
{
    return localBytesOfPath(folder).size() + 1 + localBytesOfPath(socketName).size() <= kMaxSocketPathBytes;
}

// A folder given to us (XDG_RUNTIME_DIR) is used only when it is already private.
bool isPrivateFolder(const QString &folder, uid_t uid)
{
    struct stat st {};
    return ::lstat(localBytesOfPath(folder).constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid
        && (st.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

} // namespace

uid_t currentUid()
{
    return ::getuid();
}

QString currentUserId()
{
    return QString::number(static_cast<qulonglong>(currentUid()));
}

bool ensurePrivateFolder(const QString &folder, uid_t uid, QString *problem)
{
    const QByteArray bytes = localBytesOfPath(folder);
    if (::mkdir(bytes.constData(), S_IRWXU) != 0 && errno != EEXIST) {
        *problem = folder + QStringLiteral(": cannot be created");
        return false;
    }
    // Checked through a descriptor of the folder itself, so that nothing put in
    // its place between the checks is taken for it.
    const int fd = ::open(bytes.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        *problem = folder + QStringLiteral(": not a folder");
        return false;
    }
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && st.st_uid == uid;
    if (!ok)
        *problem = folder + QStringLiteral(": belongs to another user");
    else if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0 && ::fchmod(fd, S_IRWXU) != 0) {
        *problem = folder + QStringLiteral(": cannot be made private");
        ok = false;
    }
    ::close(fd);
    return ok;
}

QString meetingFolder(const QString &socketName, uid_t uid, QString *problem)
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty()) {
        if (!runtime.startsWith(QLatin1Char('/')) || !isPrivateFolder(runtime, uid))
            *problem = QStringLiteral("XDG_RUNTIME_DIR is not a private folder of this user");
        else if (!fitsSocket(runtime, socketName))
            *problem = QStringLiteral("XDG_RUNTIME_DIR is too long for a socket");
        else
            return runtime;
    }
    const QString own = QStringLiteral("SalvoExtractor-") + QString::number(static_cast<qulonglong>(uid));
    QString base = QDir::tempPath();
    if (!fitsSocket(base + QLatin1Char('/') + own, socketName))
        base = QStringLiteral("/tmp");
    const QString folder = base + QLatin1Char('/') + own;
    if (!fitsSocket(folder, socketName)) {
        *problem = QStringLiteral("no folder short enough for a socket");
        return {};
    }
    // A folder of that name that belongs to someone else is refused, never used.
    if (!ensurePrivateFolder(folder, uid, problem))
        return {};
    return folder;
}

std::optional<uid_t> peerUserId(int socketDescriptor)
{
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (socketDescriptor < 0
        || ::getsockopt(socketDescriptor, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0
        || size != sizeof credentials)
        return std::nullopt;
    return credentials.uid;
}

bool removeLeftoverOwnedBy(const QString &path, uid_t uid)
{
    const QByteArray bytes = localBytesOfPath(path);
    struct stat st {};
    if (::lstat(bytes.constData(), &st) != 0)
        return errno == ENOENT;
    return st.st_uid == uid && ::unlink(bytes.constData()) == 0;
}

InstanceLock::~InstanceLock()
{
    release();
}

InstanceLock::Result InstanceLock::tryLock(const QString &path)
{
    release();
    const int fd = ::open(localBytesOfPath(path).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0)
        return Result::Failed;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        return Result::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool busy = errno == EWOULDBLOCK;
        ::close(fd);
        return busy ? Result::HeldElsewhere : Result::Failed;
    }
    m_fd = fd;
    return Result::Acquired;
}

void InstanceLock::release()
{
    if (m_fd >= 0) {
        ::close(m_fd); // closing the descriptor drops the lock
        m_fd = -1;
    }
}

} // namespace salvo
