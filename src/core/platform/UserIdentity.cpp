#include "UserIdentity.h"

#include <QDir>
#include <QFileInfo>
#include <unistd.h>

namespace salvo {

QString currentUserId()
{
    return QString::number(static_cast<qulonglong>(::getuid()));
}

QString handoffSocketPath(const QString &name)
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return QDir(runtime).filePath(name);
    return QDir(QDir::tempPath()).filePath(name + QLatin1Char('-') + currentUserId());
}

} // namespace salvo
