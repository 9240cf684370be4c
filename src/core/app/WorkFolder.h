#pragma once
// The work folder "tmp" in the program folder: made at start-up (mode 0700),
// emptied at exit (the folder itself stays).
#include <QString>

namespace salvo {

QString workFolderPath(const QString &myPath);
// A link at the folder's name is removed first: the folder is always a real one.
void makeWorkFolder(const QString &myPath);
// Everything below the folder goes, whatever its permissions; links are
// removed as links, never followed, and a link at the folder's own name is
// removed as a link. Failures are ignored.
void emptyWorkFolder(const QString &myPath);

} // namespace salvo
