#pragma once
// Pure rules of the main window's start-up, shutdown and status-bar toggles,
// kept out of the window so they can be tested without one.
#include "settings/Modes.h"

#include <QString>
#include <functional>
#include <optional>

namespace salvo {

inline constexpr int kTwipsPerPixel = 15;

// The archive side of the window is not offered: its menu items are hidden, so
// a window in Archive mode could never be brought back to Extract.
inline constexpr bool kArchiveModeOffered = false;

// The working mode to start in: the stored one, except that a queue whose first
// file is a readable archive starts in Extract, and so does a stored mode that
// is unset or unknown (whatever the queue holds). Archive is taken only when
// the archive side is offered. `firstIsArchive` checks the first queued file
// (false for an empty queue); it is called only when its answer matters.
WorkingMode startupWorkingMode(WorkingMode stored, bool archiveModeOffered, const std::function<bool()> &firstIsArchive);

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
