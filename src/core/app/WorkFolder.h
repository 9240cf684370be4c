#pragma once
// The work folder "tmp" in the program folder: made at start-up (mode 0700),
// emptied at exit (the folder itself stays).
#include <QString>

namespace salvo {

QString workFolderPath(const QString &myPath);
void makeWorkFolder(const QString &myPath);
// Everything below the folder goes, whatever its permissions; links are
// removed as links, never followed. Failures are ignored.
void emptyWorkFolder(const QString &myPath);

} // namespace salvo
