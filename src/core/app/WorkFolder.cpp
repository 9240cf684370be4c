#include "WorkFolder.h"

#include "platform/LocalPath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace salvo {

QString workFolderPath(const QString &myPath)
{
    return myPath + QStringLiteral("tmp");
}

void makeWorkFolder(const QString &myPath)
{
    const QString folder = workFolderPath(myPath);
    // Entries opened from the content viewer wait here, readable by the user only.
    // A link in its place would send what the program puts there elsewhere.
    if (QFileInfo(folder).isSymLink())
        QFile::remove(folder);
    QDir().mkpath(myPath);
    QDir().mkdir(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void emptyWorkFolder(const QString &myPath)
{
    emptyFolderWithoutFollowingLinks(workFolderPath(myPath));
}

} // namespace salvo
