#include "KnownFolders.h"

#include <QStandardPaths>

namespace salvo {

QString specialFolderPath(int folder)
{
    switch (folder) {
    case kDesktopFolder:
        return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    case kDocumentsFolder:
        return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    case kWindowsFolder:
        return QStringLiteral("/usr");
    case kSystemFolder:
        return QStringLiteral("/usr/lib");
    case kProgramFilesFolder:
        return QStringLiteral("/opt");
    default:
        return {};
    }
}

} // namespace salvo
