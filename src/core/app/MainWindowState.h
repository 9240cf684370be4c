#pragma once
// Pure rules of the main window's start-up, shutdown and status-bar toggles,
// kept out of the window so they can be tested without one.
#include "settings/Modes.h"

#include <QString>
#include <optional>

namespace salvo {

inline constexpr int kTwipsPerPixel = 15;

// The working mode to start in: the stored one, except that a queue whose first
// file is a readable archive starts in Extract, and so does a stored mode that
// is unset (whatever the queue holds).
WorkingMode startupWorkingMode(WorkingMode stored, bool queueEmpty, bool firstIsArchive);

// Window edges are saved only when they fit the 16-bit settings integers.
std::optional<int> savablePosition(int twips);

// The entry of a drop-down that a stored text selects: the first entry equal to
// it; the first entry for an empty text or when nothing matches.
int comboIndexForText(const QStringList &entries, const QString &stored);

// The status-bar toggles: the folder-name mode cycles Automatic, Always, Never;
// the ignore-directories flag switches between 0 and 1. Any other stored value
// stays as it is.
FolderNameMode nextFolderNameMode(FolderNameMode mode);
int nextDirectoryFlag(int flag);

} // namespace salvo
