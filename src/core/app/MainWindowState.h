#pragma once
// Pure rules of the main window's start-up and shutdown, kept out of the window
// so they can be tested without one.
#include <QString>
#include <optional>

namespace salvo {

inline constexpr int kTwipsPerPixel = 15;

// The working mode to start in: the stored "SlvoStartUpMode", except that a
// queue whose first file is a readable archive starts in "Extract", and so does
// an empty stored mode (whatever the queue holds).
QString startupWorkingMode(const QString &storedMode, bool queueEmpty, bool firstIsArchive);

// Window edges are saved only when they fit the 16-bit settings integers.
std::optional<int> savablePosition(int twips);

// The entry of a drop-down that a stored text selects: the first entry equal to
// it; the first entry for an empty text or when nothing matches.
int comboIndexForText(const QStringList &entries, const QString &stored);

} // namespace salvo
