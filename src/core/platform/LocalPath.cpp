#include "LocalPath.h"

#include "TextCodec.h"

#include <QDir>

#include <dirent.h>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace salvo {
namespace {

constexpr char16_t kRawByteBase = 0xDC00; // a raw byte b >= 0x80 stands as U+DC00 + b

bool isRawByteChar(char16_t u)
{
    return u >= 0xDC80 && u <= 0xDCFF;
}

// Length of the valid UTF-8 sequence starting at p[i] (0 when it is not one):
// no overlong forms, no encoded surrogates, nothing above U+10FFFF.
int utf8SequenceAt(const uchar *p, qsizetype n, qsizetype i, char32_t *codePoint)
{
    const uchar c = p[i];
    int len = 0;
    char32_t cp = 0, least = 0;
    if ((c & 0xE0) == 0xC0) {
        len = 2, cp = c & 0x1F, least = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        len = 3, cp = c & 0x0F, least = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        len = 4, cp = c & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (i + len > n)
        return 0;
    for (int k = 1; k < len; ++k) {
        const uchar d = p[i + k];
        if ((d & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (d & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    *codePoint = cp;
    return len;
}

void appendUtf8(QByteArray &out, char32_t cp)
{
    if (cp < 0x80) {
        out.append(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.append(static_cast<char>(0xC0 | (cp >> 6)));
        out.append(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.append(static_cast<char>(0xE0 | (cp >> 12)));
        out.append(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.append(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.append(static_cast<char>(0xF0 | (cp >> 18)));
        out.append(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.append(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.append(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Deep trees are not followed further than this (each level holds a descriptor).
constexpr int kMaxRemoveDepth = 128;

void emptyDirectoryAt(int dirFd, int depth);

// Makes a folder that its owner may not enter writable for the owner, without
// following a link put in its place.
void openUpFolderAt(int dirFd, const char *name)
{
    const int pathFd = ::openat(dirFd, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (pathFd < 0)
        return;
    const std::string self = "/proc/self/fd/" + std::to_string(pathFd);
    ::chmod(self.c_str(), S_IRWXU);
    ::close(pathFd);
}

void removeEntryAt(int dirFd, const char *name, int depth)
{
    struct stat st {};
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    if (!S_ISDIR(st.st_mode)) {
        ::unlinkat(dirFd, name, 0); // files, links, sockets: the entry itself goes
        return;
    }
    if (depth < kMaxRemoveDepth) {
        int fd = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 && errno == EACCES) {
            openUpFolderAt(dirFd, name);
            fd = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (fd >= 0) {
            ::fchmod(fd, S_IRWXU); // its entries can be removed only with write permission
            emptyDirectoryAt(fd, depth + 1);
            ::close(fd);
        }
    }
    ::unlinkat(dirFd, name, AT_REMOVEDIR);
}

void emptyDirectoryAt(int dirFd, int depth)
{
    const int listFd = ::dup(dirFd);
    if (listFd < 0)
        return;
    DIR *dir = ::fdopendir(listFd);
    if (!dir) {
        ::close(listFd);
        return;
    }
    std::vector<std::string> names;
    while (const dirent *entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    for (const std::string &name : names)
        removeEntryAt(dirFd, name.c_str(), depth);
}

} // namespace

QString pathFromLocalBytes(const QByteArray &bytes)
{
    QString out;
    out.reserve(bytes.size());
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const uchar c = p[i];
        if (c < 0x80) {
            out.append(QChar(c));
            ++i;
            continue;
        }
        char32_t cp = 0;
        const int len = utf8SequenceAt(p, n, i, &cp);
        if (len == 0) {
            out.append(QChar(static_cast<char16_t>(kRawByteBase + c)));
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            out.append(QChar(QChar::highSurrogate(cp)));
            out.append(QChar(QChar::lowSurrogate(cp)));
        } else {
            out.append(QChar(static_cast<char16_t>(cp)));
        }
        i += len;
    }
    return out;
}

QByteArray localBytesOfPath(const QString &path)
{
    QByteArray out;
    out.reserve(path.size());
    const qsizetype n = path.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = path.at(i).unicode();
        if (u < 0x80) {
            out.append(static_cast<char>(u));
        } else if (QChar::isHighSurrogate(u) && i + 1 < n && QChar::isLowSurrogate(path.at(i + 1).unicode())) {
            appendUtf8(out, QChar::surrogateToUcs4(u, path.at(i + 1).unicode()));
            ++i;
        } else if (isRawByteChar(u)) {
            out.append(static_cast<char>(u - kRawByteBase));
        } else if (QChar::isSurrogate(u)) {
            appendUtf8(out, 0xFFFD); // a lone surrogate no byte string stands for
        } else {
            appendUtf8(out, u);
        }
    }
    return out;
}

bool hasRawBytes(const QString &path)
{
    const qsizetype n = path.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = path.at(i).unicode();
        if (QChar::isHighSurrogate(u) && i + 1 < n && QChar::isLowSurrogate(path.at(i + 1).unicode()))
            ++i;
        else if (isRawByteChar(u))
            return true;
    }
    return false;
}

QString displayPath(const QString &path)
{
    if (!hasRawBytes(path))
        return path;
    QStringList parts = path.split(QLatin1Char('/'));
    for (QString &part : parts) {
        if (hasRawBytes(part))
            part = decodeCp932(localBytesOfPath(part));
    }
    return parts.join(QLatin1Char('/'));
}

QString localPathFromUrl(const QUrl &url)
{
    if (!url.isLocalFile())
        return {};
    return pathFromLocalBytes(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
}

QString absoluteLocalPath(const QString &path)
{
    if (path.startsWith(QLatin1Char('/')))
        return QDir::cleanPath(path);
    QByteArray cwd(4096, '\0');
    while (!::getcwd(cwd.data(), static_cast<size_t>(cwd.size()))) {
        if (errno != ERANGE || cwd.size() > (1 << 20))
            return QDir::cleanPath(path);
        cwd.resize(cwd.size() * 2);
    }
    cwd.truncate(qstrlen(cwd.constData()));
    return QDir::cleanPath(pathFromLocalBytes(cwd) + QLatin1Char('/') + path);
}

QString canonicalLocalPath(const QString &path)
{
    char *resolved = ::realpath(localBytesOfPath(path).constData(), nullptr);
    if (!resolved)
        return {};
    const QString result = pathFromLocalBytes(QByteArray(resolved));
    ::free(resolved);
    return result;
}

LocalFileKind localFileKind(const QString &path)
{
    struct stat st {};
    if (path.isEmpty() || ::stat(localBytesOfPath(path).constData(), &st) != 0)
        return LocalFileKind::Missing;
    if (S_ISREG(st.st_mode))
        return LocalFileKind::Regular;
    if (S_ISDIR(st.st_mode))
        return LocalFileKind::Directory;
    return LocalFileKind::Other;
}

bool localPathExists(const QString &path)
{
    return localFileKind(path) != LocalFileKind::Missing;
}

bool removeLocalFile(const QString &path)
{
    return ::unlink(localBytesOfPath(path).constData()) == 0;
}

bool makeLocalFolder(const QString &path)
{
    return ::mkdir(localBytesOfPath(path).constData(), 0777) == 0;
}

QString resolvedLocalPath(const QString &path)
{
    QByteArray bytes = localBytesOfPath(path);
    QByteArray rest;
    while (!bytes.isEmpty()) {
        if (char *real = ::realpath(bytes.constData(), nullptr)) {
            QByteArray resolved(real);
            std::free(real);
            if (!rest.isEmpty())
                resolved += (resolved.endsWith('/') ? "" : "/") + rest;
            return pathFromLocalBytes(resolved);
        }
        const qsizetype slash = bytes.lastIndexOf('/');
        if (slash < 0)
            break;
        const QByteArray part = bytes.mid(slash + 1);
        if (part == "." || part == "..")
            break; // what ".." means depends on what is missing: left as it is
        if (!part.isEmpty())
            rest = rest.isEmpty() ? part : part + '/' + rest;
        bytes.truncate(slash);
        if (bytes.isEmpty() && slash == 0)
            bytes = "/";
    }
    return path;
}

bool isLocalSymlink(const QString &path)
{
    struct stat st {};
    return !path.isEmpty() && ::lstat(localBytesOfPath(path).constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool removeEmptyLocalFolder(const QString &path)
{
    // rmdir itself refuses a folder that holds anything, and a link.
    return ::rmdir(localBytesOfPath(path).constData()) == 0;
}

bool listLocalFolder(const QString &folder, QList<LocalFolderEntry> *entries)
{
    DIR *dir = ::opendir(localBytesOfPath(folder).constData());
    if (!dir)
        return false;
    const int fd = ::dirfd(dir);
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (qstrcmp(name, ".") == 0 || qstrcmp(name, "..") == 0)
            continue;
        // The type the folder itself reports saves a look-up per entry; links
        // and file systems that report nothing are looked up.
        LocalFileKind kind = LocalFileKind::Other;
        switch (entry->d_type) {
        case DT_REG:
            kind = LocalFileKind::Regular;
            break;
        case DT_DIR:
            kind = LocalFileKind::Directory;
            break;
        case DT_LNK:
        case DT_UNKNOWN: {
            struct stat st {};
            if (::fstatat(fd, name, &st, 0) != 0)
                kind = LocalFileKind::Missing;
            else if (S_ISREG(st.st_mode))
                kind = LocalFileKind::Regular;
            else if (S_ISDIR(st.st_mode))
                kind = LocalFileKind::Directory;
            break;
        }
        default:
            break;
        }
        entries->append({pathFromLocalBytes(QByteArray(name)), kind});
    }
    ::closedir(dir);
    return true;
}

void emptyFolderWithoutFollowingLinks(const QString &folder)
{
    const QByteArray bytes = localBytesOfPath(folder);
    struct stat st {};
    if (::lstat(bytes.constData(), &st) != 0)
        return;
    if (S_ISLNK(st.st_mode)) {
        ::unlink(bytes.constData());
        return;
    }
    const int fd = ::open(bytes.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    emptyDirectoryAt(fd, 0);
    ::close(fd);
}

} // namespace salvo
