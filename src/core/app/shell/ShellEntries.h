#pragma once
// Shortcuts on the desktop and entries in the file managers' menus.
//
// Desktop shortcuts are desktop entries in the XDG desktop folder, executable
// and marked trusted where the desktop asks for it. "on" makes a missing
// shortcut and leaves an existing file of that name untouched; "off" removes it.
//
// "Send To" and the folder menu entry "SalvoExtractorへ追加" go to the three file
// managers that have such menus: Thunar (its Send To folder), Dolphin (service
// menus) and Nautilus (scripts). The program marks what it writes; "off" removes
// only entries that carry the mark, and "on" never replaces an entry of the same
// name that it did not make.
#include "app/shell/ShellFiles.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace salvo {

enum class ShortcutKind {
    Normal, // "SalvoExtractor.desktop": starts the program
    DdMode  // "SlvoEasyExtract.desktop": starts it with "/DDMODE"
};

// Failure flags of making a shortcut or menu entry (0 is success). 4: the file
// could not be written or read; 8: the program's path cannot be put in an entry.
enum ShortcutResult : int {
    kShortcutDone = 0,
    kShortcutSaveFailed = 4,
    kShortcutTargetFailed = 8,
};

// <desktop folder>/SalvoExtractor.desktop or <desktop folder>/SlvoEasyExtract.desktop
QString desktopShortcutPath(ShortcutKind kind);
QByteArray desktopShortcutText(ShortcutKind kind, const ShellProgram &program);

// Makes (on) or removes (off) the desktop shortcut. Returns 0 or failure flags,
// which shortcutFailureMessage turns into the text to show with a warning icon.
// The extraction options dialog calls this with ShortcutKind::DdMode for its
// desktop-shortcut box, the general options dialog with ShortcutKind::Normal.
int applyDesktopShortcut(ShortcutKind kind, bool on, const ShellProgram &program = ShellProgram::current());

// The text of a shortcut result: the failed steps, one per line, then "失敗しました。".
QString shortcutFailureMessage(int result);

struct FileManagerEntry {
    QString path;
    QByteArray text;
    bool executable = false;
};

// The Send To entries and the folder menu entries, with their texts.
QList<FileManagerEntry> sendToEntries(const ShellProgram &program);
QList<FileManagerEntry> folderMenuEntries(const ShellProgram &program);

// Adds (on) or takes away (off) the entries. Returns 0 or failure flags.
int applySendTo(bool on, const ShellProgram &program = ShellProgram::current());
int applyFolderMenuEntry(bool on, const ShellProgram &program = ShellProgram::current());

} // namespace salvo
