#include "WorkFolder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace salvo {

QString workFolderPath(const QString &myPath)
{
    return myPath + QStringLiteral("tmp");
}

void makeWorkFolder(const QString &myPath)
{
    // Entries opened from the content viewer wait here: readable by the user only.
    QDir().mkpath(myPath);
    QDir().mkdir(workFolderPath(myPath), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void emptyWorkFolder(const QString &myPath)
{
    QDirIterator it(workFolderPath(myPath), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QFileInfo entry = it.fileInfo();
        if (entry.isDir() && !entry.isSymLink()) {
            QDir(entry.filePath()).removeRecursively();
        } else {
            if (!entry.isSymLink())
                QFile::setPermissions(entry.filePath(), QFile::ReadOwner | QFile::WriteOwner);
            QFile::remove(entry.filePath());
        }
    }
}

} // namespace salvo
