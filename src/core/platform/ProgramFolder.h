#pragma once
// Where the program keeps its own files (settings, component status, run log,
// work folder) and where it looks for its components.
#include <QString>
#include <QStringList>

namespace salvo {

// The program folder, always ending in "/": $SALVO_HOME when set; else the
// executable's folder when it is writable (a portable install or the build
// tree); else ${XDG_CONFIG_HOME:-~/.config}/SalvoExtractor/. Made when missing.
QString resolveMyPath(const QString &executableDir);

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
