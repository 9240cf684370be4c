#include "ShellEntries.h"

#include "platform/KnownFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace salvo {
namespace {

constexpr auto kSendToMark = "X-SalvoExtractor-Entry=send-to";
constexpr auto kFolderMenuMark = "X-SalvoExtractor-Entry=folder-menu";
constexpr auto kFolderMenuCaption = "SalvoExtractorへ追加";

QString execLine(const ShellProgram &program, const QString &arguments)
{
    return QStringLiteral("Exec=") + desktopExecArgument(program.executable) + QLatin1Char(' ') + arguments
           + QLatin1Char('\n');
}

QString iconLine()
{
    return QStringLiteral("Icon=") + QLatin1String(kIconName) + QLatin1Char('\n');
}

// A Thunar "Send To" entry: a plain desktop entry; MimeType limits it to folders.
QByteArray thunarEntry(const ShellProgram &program, const QString &name, const char *mark, const char *mimeTypes)
{
    QString text = QStringLiteral("[Desktop Entry]\nType=Application\n");
    text += QStringLiteral("Name=") + name + QLatin1Char('\n');
    text += execLine(program, QStringLiteral("%F"));
    text += iconLine();
    text += QStringLiteral("Terminal=false\n");
    if (mimeTypes)
        text += QStringLiteral("MimeType=") + QLatin1String(mimeTypes) + QLatin1Char('\n');
    text += QLatin1String(mark) + QLatin1Char('\n');
    return text.toUtf8();
}

// A Dolphin service menu with one action.
QByteArray dolphinEntry(const ShellProgram &program, const QString &name, const char *mark, const char *mimeTypes)
{
    QString text = QStringLiteral("[Desktop Entry]\nType=Service\n"
                                  "X-KDE-ServiceTypes=KonqPopupMenu/Plugin\n");
    text += QStringLiteral("MimeType=") + QLatin1String(mimeTypes) + QLatin1Char('\n');
    text += QStringLiteral("Actions=salvoExtractor;\n");
    text += QLatin1String(mark) + QLatin1Char('\n');
    text += QStringLiteral("\n[Desktop Action salvoExtractor]\n");
    text += QStringLiteral("Name=") + name + QLatin1Char('\n');
    text += iconLine();
    text += execLine(program, QStringLiteral("%F"));
    return text.toUtf8();
}

// A Nautilus script. Nautilus passes names relative to the shown folder, which
// the script makes absolute, because a running instance that is handed the
// names has a folder of its own.
QByteArray nautilusScript(const ShellProgram &program, const char *mark, bool foldersOnly)
{
    QString text = QStringLiteral("#!/bin/sh\n# ") + QLatin1String(mark) + QLatin1Char('\n');
    text += foldersOnly ? QStringLiteral("# Queues the selected folders in SalvoExtractor.\n")
                        : QStringLiteral("# Hands the selected files to SalvoExtractor.\n");
    text += QStringLiteral("for f do\n"
                           "  shift\n"
                           "  case $f in /*) ;; *) f=\"$PWD/$f\" ;; esac\n");
    text += foldersOnly ? QStringLiteral("  [ -d \"$f\" ] && set -- \"$@\" \"$f\"\n")
                        : QStringLiteral("  set -- \"$@\" \"$f\"\n");
    text += QStringLiteral("done\n");
    if (foldersOnly)
        text += QStringLiteral("[ $# -gt 0 ] || exit 0\n");
    text += QStringLiteral("exec ") + shellQuoted(program.executable) + QStringLiteral(" \"$@\"\n");
    return text.toUtf8();
}

int applyEntries(const QList<FileManagerEntry> &entries, const char *mark, bool on, const ShellProgram &program)
{
    if (on && !program.usable())
        return kShortcutTargetFailed;
    int result = kShortcutDone;
    bool anyWritten = false;
    for (const FileManagerEntry &entry : entries) {
        const QFileInfo info(entry.path);
        const bool exists = info.exists() || info.isSymLink();
        // Desktop entries carry the mark as a key, scripts as a comment.
        const bool ours = exists && !info.isSymLink() && info.isFile()
                          && (fileHasLine(entry.path, mark) || fileHasLine(entry.path, QByteArray("# ") + mark));
        if (on) {
            if (exists && !ours)
                continue; // an entry of this name that the program did not make
            if (!writeFileIfDifferent(entry.path, entry.text,
                                      entry.executable ? executablePermissions() : plainPermissions()))
                result |= kShortcutSaveFailed;
            anyWritten = true;
        } else if (ours && !QFile::remove(entry.path)) {
            result |= kShortcutSaveFailed;
        }
    }
    if (anyWritten)
        installProgramIcon();
    return result;
}

} // namespace

QString desktopShortcutPath(ShortcutKind kind)
{
    return specialFolderPath(kDesktopFolder)
           + (kind == ShortcutKind::Normal ? QStringLiteral("/SalvoExtractor.desktop")
                                           : QStringLiteral("/SlvoEasyExtract.desktop"));
}

QByteArray desktopShortcutText(ShortcutKind kind, const ShellProgram &program)
{
    const bool dd = kind == ShortcutKind::DdMode;
    QString text = QStringLiteral("[Desktop Entry]\nType=Application\n");
    text += dd ? QStringLiteral("Name=SlvoEasyExtract\n") : QStringLiteral("Name=SalvoExtractor\n");
    text += execLine(program, dd ? QStringLiteral("/DDMODE %F") : QStringLiteral("%F"));
    text += QStringLiteral("Path=") + desktopStringValue(program.folder()) + QLatin1Char('\n');
    text += iconLine();
    text += QStringLiteral("Terminal=false\n");
    return text.toUtf8();
}

int applyDesktopShortcut(ShortcutKind kind, bool on, const ShellProgram &program)
{
    const QString path = desktopShortcutPath(kind);
    const QFileInfo info(path);
    const bool exists = info.exists() || info.isSymLink();
    if (exists || !on) {
        if (exists && !on && !QFile::remove(path))
            return kShortcutSaveFailed;
        return kShortcutDone; // an existing shortcut is left as it is
    }
    if (!program.usable())
        return kShortcutTargetFailed;
    if (!writeFileIfDifferent(path, desktopShortcutText(kind, program), executablePermissions()))
        return kShortcutSaveFailed;
    installProgramIcon();
    // GNOME starts desktop launchers only once they are marked trusted.
    runDesktopTool(QStringLiteral("gio"), {QStringLiteral("set"), path, QStringLiteral("metadata::trusted"),
                                           QStringLiteral("true")});
    return kShortcutDone;
}

QString shortcutFailureMessage(int result)
{
    if (result == kShortcutDone)
        return QStringLiteral("ショートカット情報の登録または取得に成功しました。");
    QString text;
    switch (result) {
    case 1: text = QStringLiteral("CoInitialize の実行に\n"); break;
    case 2: text = QStringLiteral("CoCreateInstance の実行に\n"); break;
    case 3: text = QStringLiteral("QueryInterface の実行に\n"); break;
    case 4: text = QStringLiteral("ショートカットファイルの Save または Load に\n"); break;
    case 5: text = QStringLiteral("Unicode への変換に\n"); break;
    default: {
        static const std::pair<int, const char *> steps[] = {
            {8, "リンク先の設定または取得に"},
            {16, "コマンドライン引数の設定または取得に"},
            {32, "作業フォルダの設定または取得に"},
            {64, "Description の設定または取得に"},
            {128, "アイコンのパスおよびインデックスの設定または取得に"},
            {256, "ショートカットキーの設定または取得に"},
            {512, "実行時の大きさの設定または取得に"},
        };
        for (const auto &[bit, step] : steps) {
            if (result & bit)
                text += QString::fromUtf8(step) + QLatin1Char('\n');
        }
    }
    }
    return text + QStringLiteral("失敗しました。");
}

QList<FileManagerEntry> sendToEntries(const ShellProgram &program)
{
    const QString data = xdgDataHome();
    const QString name = QStringLiteral("SalvoExtractor");
    return {
        {data + QStringLiteral("/Thunar/sendto/SalvoExtractor.desktop"),
         thunarEntry(program, name, kSendToMark, nullptr), false},
        // Service menus are read only when they are executable.
        {data + QStringLiteral("/kio/servicemenus/SalvoExtractor.desktop"),
         dolphinEntry(program, name, kSendToMark, "all/allfiles;"), true},
        {data + QStringLiteral("/nautilus/scripts/SalvoExtractor"), nautilusScript(program, kSendToMark, false),
         true},
    };
}

QList<FileManagerEntry> folderMenuEntries(const ShellProgram &program)
{
    const QString data = xdgDataHome();
    const QString caption = QString::fromUtf8(kFolderMenuCaption);
    return {
        {data + QStringLiteral("/Thunar/sendto/SlvoEx.Add.desktop"),
         thunarEntry(program, caption, kFolderMenuMark, "inode/directory;"), false},
        {data + QStringLiteral("/kio/servicemenus/SlvoEx.Add.desktop"),
         dolphinEntry(program, caption, kFolderMenuMark, "inode/directory;"), true},
        {data + QStringLiteral("/nautilus/scripts/") + caption, nautilusScript(program, kFolderMenuMark, true), true},
    };
}

int applySendTo(bool on, const ShellProgram &program)
{
    return applyEntries(sendToEntries(program), kSendToMark, on, program);
}

int applyFolderMenuEntry(bool on, const ShellProgram &program)
{
    return applyEntries(folderMenuEntries(program), kFolderMenuMark, on, program);
}

} // namespace salvo
