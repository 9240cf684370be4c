#include "ProgramFolder.h"

#include "salvo_version.h"

#include <QDir>
#include <QFileInfo>
#include <QtGlobal>

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

QString resolveMyPath(const QString &executableDir)
{
    QString folder = qEnvironmentVariable("SALVO_HOME");
    if (folder.isEmpty()) {
        const QFileInfo exeDir(executableDir);
        if (exeDir.isDir() && exeDir.isWritable())
            folder = executableDir;
        else
            folder = xdgConfigHome() + QStringLiteral("/SalvoExtractor");
    }
    folder = QDir(folder).absolutePath();
    QDir().mkpath(folder);
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
