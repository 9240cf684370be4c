#include "ProgramFolder.h"

#include "salvo_version.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtGlobal>

#include <sys/stat.h>
#include <unistd.h>

namespace salvo {

QString withTrailingSlash(const QString &folder)
{
    if (folder.endsWith(QLatin1Char('/')))
        return folder;
    return folder + QLatin1Char('/');
}

QString xdgConfigHome()
{
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return QDir::cleanPath(xdg);
    return QDir::homePath() + QStringLiteral("/.config");
}

namespace {

bool isAtOrBelow(const QString &folder, const QString &top)
{
    return folder == top || folder.startsWith(withTrailingSlash(top));
}

// A folder the user made a portable install: marked, or holding settings of
// its own (as an older version left them there), or the build tree.
bool isPortableFolder(const QString &folder)
{
    const QDir dir(folder);
    return QFileInfo(dir.filePath(QLatin1String(kPortableMarker))).isFile()
        || QFileInfo(dir.filePath(QStringLiteral("Salvo.ini"))).isFile()
        || QFileInfo(dir.filePath(QStringLiteral("CMakeCache.txt"))).isFile();
}

} // namespace

bool isInstalledProgramFolder(const QString &folder)
{
    // Through links: /bin is /usr/bin on a merged system.
    const QString real = QFileInfo(folder).canonicalFilePath();
    const QString path = real.isEmpty() ? QDir::cleanPath(QDir(folder).absolutePath()) : real;
    static const char *const systemFolders[] = {"/usr", "/bin", "/sbin", "/lib", "/lib64", "/opt", "/snap"};
    for (const char *top : systemFolders) {
        if (isAtOrBelow(path, QLatin1String(top)))
            return true;
    }
    const QString prefix = QFileInfo(QStringLiteral(SALVO_INSTALL_PREFIX)).canonicalFilePath();
    return !prefix.isEmpty() && prefix != QLatin1String("/") && isAtOrBelow(path, prefix);
}

QString resolveMyPath(const QString &executableDir)
{
    QString folder = qEnvironmentVariable("SALVO_HOME");
    if (folder.isEmpty()) {
        const QFileInfo exeDir(executableDir);
        if (exeDir.isDir() && exeDir.isWritable() && !isInstalledProgramFolder(executableDir)
            && isPortableFolder(executableDir))
            folder = executableDir;
        else
            folder = xdgConfigHome() + QStringLiteral("/SalvoExtractor");
    }
    folder = QDir(folder).absolutePath();
    QDir().mkpath(folder);
    // The settings, the log and the work files name the user's archives and
    // hold the mail passwords: the folder is its owner's only, as is a folder
    // of an older version, when it belongs to the user.
    const QByteArray bytes = QFile::encodeName(folder);
    struct stat st {};
    if (::stat(bytes.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()
        && (st.st_mode & 077) != 0)
        ::chmod(bytes.constData(), st.st_mode & 0700);
    return withTrailingSlash(QDir::cleanPath(folder));
}

namespace {
QStringList splitPathList(const QString &list)
{
    QStringList out;
    for (const QString &part : list.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        // Relative entries would search the current folder in disguise.
        if (QDir::isAbsolutePath(part))
            out << part;
    }
    return out;
}
} // namespace

QStringList componentSearchFolders(const QString &executableDir)
{
    QStringList folders{executableDir, QStringLiteral(SALVO_COMPONENT_INSTALL_DIR)};
    folders += splitPathList(qEnvironmentVariable("SALVO_COMPONENT_PATH"));
    return folders;
}

QStringList programSearchFolders(const QString &executableDir)
{
    QStringList folders{executableDir};
    folders += splitPathList(qEnvironmentVariable("PATH"));
    return folders;
}

} // namespace salvo
