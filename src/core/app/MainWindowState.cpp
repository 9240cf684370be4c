#include "MainWindowState.h"

#include <QStringList>

namespace salvo {

WorkingMode startupWorkingMode(WorkingMode stored, bool archiveModeOffered, const std::function<bool()> &firstIsArchive)
{
    if (stored != WorkingMode::Archive || !archiveModeOffered)
        return WorkingMode::Extract;
    return firstIsArchive() ? WorkingMode::Extract : WorkingMode::Archive;
}

std::optional<int> savablePosition(int twips)
{
    if (twips < -32768 || twips > 32767)
        return std::nullopt;
    return twips;
}

int comboIndexForText(const QStringList &entries, const QString &stored)
{
    if (stored.isEmpty())
        return 0;
    const qsizetype i = entries.indexOf(stored);
    return i < 0 ? 0 : static_cast<int>(i);
}

FolderNameMode nextFolderNameMode(FolderNameMode mode)
{
    switch (mode) {
    case FolderNameMode::Automatic:
        return FolderNameMode::Always;
    case FolderNameMode::Always:
        return FolderNameMode::Never;
    case FolderNameMode::Never:
        return FolderNameMode::Automatic;
    }
    return mode;
}

int nextDirectoryFlag(int flag)
{
    return flag == 0 ? 1 : flag == 1 ? 0 : flag;
}

} // namespace salvo
