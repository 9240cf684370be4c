#pragma once
// What the general options dialog edits: file associations and how an
// associated archive starts the program, Send To, the desktop shortcut and the
// folder menu entry, the completion sound and notice, the queue's sort order,
// the font size and the mail notice. Loading reads the settings file (and the
// desktop for the associations); saving writes the keys in a fixed order;
// applying does the desktop side of the saved choices.
#include "app/shell/ShellFiles.h"

#include <QSet>
#include <QString>
#include <QStringList>

namespace salvo {

struct Availability;
class FileAssociations;

struct GeneralOptions {
    // Page "関連づけ": the upper-case names of the associated extensions ("LZH", "7Z", ...).
    QSet<QString> associated;
    bool associationsStartDdMode = false; // "Mode" of "EXTENSION"

    // Page "その他".
    bool useSendTo = false;
    bool useDesktopShortcut = false;      // "UseDeskTopNormal"
    bool useFolderMenu = false;           // "UseFolderSlvoAdd" of "RightClick"
    bool largeFont = false;               // "FONTSIZE"
    bool useSound = false;
    QString soundFilePath;
    bool noEndNotice = false;             // "EndNotice"
    int sort = 0;                         // 0 full path, 1 folder part, 2 file name

    // Page "メール通知". Port and timeout are kept as the box shows them.
    bool useMail = false;
    QString smtpServer, port, timeOut;
    bool useSmtpAuth = false;
    int smtpAuth = 0;                     // 0 LOGIN, 1 PLAIN, 2 CRAM-MD5
    QString smtpUserName, smtpPassword;   // the password as typed
    QString mailTo, mailFrom, subject;
    bool usePopBeforeSmtp = false;
    QString popServer, popUserName, popPassword;

    bool operator==(const GeneralOptions &) const = default;
};

GeneralOptions loadGeneralOptions(const QString &myPath, const FileAssociations &associations);

// Writes every key (association mode first, the mail keys and the folder menu
// key last) in one replacement of the settings file, the passwords in their
// stored form. The file is made readable by its owner only first, as it holds
// the mail passwords.
bool saveGeneralOptions(const QString &myPath, const GeneralOptions &options);

// The desktop side of saved options: associations, Send To, the desktop
// shortcut, the folder menu entry.
struct ShellApplyResult {
    bool associationsApplied = true;
    int sendToResult = 0;   // shortcut result flags (ShellEntries.h)
    int shortcutResult = 0;
    int folderMenuResult = 0;
};
ShellApplyResult applyGeneralShellOptions(const GeneralOptions &options, FileAssociations &associations,
                                          const ShellProgram &program = ShellProgram::current());

// The extensions "すべて選択" ticks: those whose format's archiver is available
// (the zip archives follow the 7-zip component while "Use7Zip" is set; the
// console-program formats follow their program).
QSet<QString> extensionsWithArchiver(const Availability &availability, bool use7Zip);

// Port and timeout take digits only; an empty box is accepted while typing.
bool isNumberText(const QString &text);
inline constexpr auto kInvalidValueMessage = "不正な値が入力されています。";

// The filters of the sound file chooser.
QStringList soundFileFilters();

} // namespace salvo
