#pragma once
// What every piece of the desktop integration shares: the program an entry
// starts, the XDG data folder, the quoting rules of desktop entries and of the
// shell, atomic writes of small files, and the desktop's helper tools.
#include <QByteArray>
#include <QFileDevice>
#include <QString>
#include <QStringList>

namespace salvo {

// The program that desktop entries, shortcuts and menu entries start.
struct ShellProgram {
    QString executable; // absolute path of the executable

    // This process's own executable.
    static ShellProgram current();
    // The folder of the executable, without a trailing "/".
    QString folder() const;
    // False for a path that no entry can hold safely (empty, relative, or with
    // control characters such as a line break).
    bool usable() const;
};

// The name under which the program's icon sits in the hicolor theme.
inline constexpr auto kIconName = "salvo-extractor";

// ${XDG_DATA_HOME:-~/.local/share}
QString xdgDataHome();

// One argument of a desktop entry's Exec key, quoted where the desktop entry
// rules ask for it ("%" doubled, reserved characters inside double quotes with
// '"', '`', '$' and '\' escaped), then escaped as a string value.
QString desktopExecArgument(const QString &argument);
// A text as a desktop entry string value ("\" doubled, control characters escaped).
QString desktopStringValue(const QString &text);
// A text as one word of a POSIX shell command: single-quoted.
QString shellQuoted(const QString &text);

// Writes `bytes` to `path` through a temporary file renamed into place: the
// old file stays whole when anything fails.
bool saveFileAtomically(const QString &path, const QByteArray &bytes);

// Writes `bytes` to `path` through a temporary file renamed over it, with the
// given permissions, unless the file already holds exactly these bytes (then
// only the permissions are set). Makes the folder. Returns whether the file is
// in place; `changed` tells whether it was written.
bool writeFileIfDifferent(const QString &path, const QByteArray &bytes, QFileDevice::Permissions permissions,
                          bool *changed = nullptr);

// Whether the file (read up to 64 KiB) has `line` as one of its lines.
bool fileHasLine(const QString &path, const QByteArray &line);

// Permissions of entries that a desktop or a file manager runs.
QFileDevice::Permissions executablePermissions();
QFileDevice::Permissions plainPermissions();

// Runs one of the desktop's helper tools (update-mime-database and the like)
// and waits for it a short while; a missing tool or a failure is ignored, as
// these only tell the desktop about changes it would otherwise find later.
void runDesktopTool(const QString &program, const QStringList &arguments);

// Puts the program's icon into the user's hicolor theme. Returns whether it is there.
bool installProgramIcon();

} // namespace salvo
