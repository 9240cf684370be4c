#pragma once
// Where the program keeps its own files (settings, component status, run log,
// work folder) and where it looks for its components.
#include <QString>
#include <QStringList>

namespace salvo {

// The file a user places beside the executable to keep the program's own
// files there (a portable install).
inline constexpr auto kPortableMarker = "SalvoExtractor.portable";

// The program folder, always ending in "/": $SALVO_HOME when set; else the
// executable's folder when it is a portable one (it holds the marker file or a
// Salvo.ini of its own, or it is the build tree), writable, and not where
// installed programs live; else ${XDG_CONFIG_HOME:-~/.config}/SalvoExtractor/.
// Made when missing.
QString resolveMyPath(const QString &executableDir);

// The folder is one of installed programs: a system folder, or below the
// prefix the program was built for. A program there never writes beside itself.
bool isInstalledProgramFolder(const QString &folder);

// ${XDG_CONFIG_HOME:-~/.config}
QString xdgConfigHome();

// Folders searched for archiver components, in order: the executable's folder,
// the installed component folder, then each folder of $SALVO_COMPONENT_PATH.
// The current folder is never searched.
QStringList componentSearchFolders(const QString &executableDir);

// Folders searched for console programs: the executable's folder, then $PATH.
QStringList programSearchFolders(const QString &executableDir);

// Appends "/" unless the text already ends in one.
QString withTrailingSlash(const QString &folder);

} // namespace salvo
