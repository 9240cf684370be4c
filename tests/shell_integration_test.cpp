// The desktop integration under temporary XDG folders: file associations in
// mimeapps.list with their backups, the program's desktop entries and MIME
// package, desktop shortcuts, Send To and folder menu entries. Results are
// checked with the desktop's own tools where they are installed.
#include "app/shell/FileAssociations.h"
#include "app/shell/KeyFileEditor.h"
#include "app/shell/ShellEntries.h"
#include "platform/ProgramFolder.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

using namespace salvo;
using namespace salvo::test;

namespace {

// A program path with a blank and a quote, which the entries must quote.
const ShellProgram kProgram{QStringLiteral("/opt/salvo dir/it's/SalvoExtractor")};

bool haveTool(const char *name)
{
    return !QStandardPaths::findExecutable(QLatin1String(name)).isEmpty();
}

// Runs a tool with the test's XDG folders and no desktop session, so that the
// generic freedesktop rules apply.
QString runTool(const QString &program, const QStringList &arguments, int *exitCode = nullptr)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID",
                             "XDG_SESSION_DESKTOP", "XDG_MENU_PREFIX"})
        env.remove(QLatin1String(name));
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    p.waitForFinished(30000);
    if (exitCode)
        *exitCode = p.exitCode();
    return QString::fromUtf8(p.readAll()).trimmed();
}

QString queryDefault(const QString &type)
{
    return runTool(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"), type});
}

// Problems desktop-file-validate reports (hints aside); empty when it is not installed.
QString validationErrors(const QString &path)
{
    if (!haveTool("desktop-file-validate"))
        return {};
    QStringList problems;
    const QStringList lines = runTool(QStringLiteral("desktop-file-validate"), {path}).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (!line.isEmpty() && !line.contains(QLatin1String(": hint: ")))
            problems << line;
    }
    return problems.join(QLatin1Char('\n'));
}

QString mimeApps()
{
    return FileAssociations::mimeAppsPath();
}

const ManagedExtension &ext(const char *name)
{
    return *managedExtension(QLatin1String(name));
}

bool isExecutable(const QString &path)
{
    return QFileInfo(path).permissions().testFlag(QFileDevice::ExeOwner);
}

// xdg-mime names a default only when the entry's program exists: a stand-in
// program, and entries of other programs that start `true`.
ShellProgram standInProgram(const TempHome &home)
{
    const QString path = home.path("bin/SalvoExtractor");
    writeFile(path, "#!/bin/sh\n");
    QFile::setPermissions(path, executablePermissions());
    return {path};
}

void writeOtherEntry(const char *id)
{
    writeFile(xdgDataHome() + "/applications/" + id,
              "[Desktop Entry]\nType=Application\nName=Other\nExec=true %F\nMimeType=application/zip;\n");
}

// The entries that mimeinfo.cache lists for a type.
QString cachedEntries(const QString &type)
{
    for (const QByteArray &line : readFile(xdgDataHome() + "/applications/mimeinfo.cache").split('\n')) {
        if (line.startsWith(type.toUtf8() + '='))
            return QString::fromUtf8(line.mid(type.size() + 1));
    }
    return {};
}

} // namespace

// The user's file keeps every byte outside the keys that change: comments,
// other groups, order, CRLF endings, a last line without a line break; a set key
// is never left twice.
TEST(KeyFileEditorTest, ChangesOnlyItsKeys)
{
    TempHome home;
    const QString path = home.path("list");
    const QByteArray original = "# mine\r\n[Added Associations]\r\napplication/zip=a.desktop;\r\n\r\n"
                                "[Default Applications]\r\ntext/plain=ed.desktop\r\n # note\r\n"
                                "Application/Zip = old.desktop\r\n\r\n[Default Applications]\r\n"
                                "application/zip=dup.desktop\r\n[Other]\r\nx=1";
    writeFile(path, original);
    KeyFileEditor editor(path);
    ASSERT_TRUE(editor.load());
    EXPECT_EQ(editor.value("Default Applications", "application/zip"), QStringLiteral("old.desktop"));
    EXPECT_EQ(editor.value("Added Associations", "text/plain"), std::nullopt);
    editor.setValue("Default Applications", "application/zip", "new.desktop");
    editor.setValue("Default Applications", "image/png", "view.desktop");
    editor.setValue("Missing Group", "k", "v");
    ASSERT_TRUE(editor.save());
    EXPECT_EQ(readFile(path), QByteArray("# mine\r\n[Added Associations]\r\napplication/zip=a.desktop;\r\n\r\n"
                                         "[Default Applications]\r\ntext/plain=ed.desktop\r\n # note\r\n"
                                         "application/zip=new.desktop\r\nimage/png=view.desktop\r\n\r\n"
                                         "[Default Applications]\r\n[Other]\r\nx=1\r\n[Missing Group]\r\nk=v\r\n"));
    editor.remove("Default Applications", "image/png");
    editor.remove("Missing Group", "k");
    editor.setValue("Default Applications", "application/zip", "old.desktop");
    ASSERT_TRUE(editor.save());
    KeyFileEditor again(path);
    ASSERT_TRUE(again.load());
    EXPECT_EQ(again.value("Default Applications", "application/zip"), QStringLiteral("old.desktop"));
    EXPECT_EQ(again.value("Default Applications", "image/png"), std::nullopt);

    // A file that cannot be read is not written over.
    writeFile(home.path("locked"), "[Default Applications]\n");
    QFile::setPermissions(home.path("locked"), QFileDevice::Permissions());
    KeyFileEditor locked(home.path("locked"));
    if (!QFile(home.path("locked")).open(QIODevice::ReadOnly)) { // root reads anything
        EXPECT_FALSE(locked.load());
        locked.setValue("Default Applications", "a/b", "c");
        EXPECT_FALSE(locked.save());
    }
}

// Associating ZIP while another entry is the default keeps that entry as the
// backup; applying again and switching the mode change only the default's
// entry; removing gives the old default back and leaves the user's file as it
// was, byte for byte.
TEST(FileAssociationsTest, BackupKeptAndGivenBack)
{
    TempHome home;
    const QByteArray original = "# defaults I chose\n[Added Associations]\napplication/zip=other.desktop;\n\n"
                                "[Default Applications]\ntext/plain=gedit.desktop\napplication/zip=other.desktop\n"
                                "# keep this comment\nimage/png=eog.desktop\n\n"
                                "[Removed Associations]\napplication/x-tar=ark.desktop;\n";
    writeFile(mimeApps(), original);
    writeOtherEntry("other.desktop");
    const ShellProgram program = standInProgram(home);
    FileAssociations associations(program);
    auto withZipDefault = [&](const char *id) {
        QByteArray expected = original;
        expected.replace("application/zip=other.desktop\n", QByteArray("application/zip=") + id + "\n");
        return expected;
    };

    ASSERT_TRUE(associations.apply({"ZIP"}, false));
    EXPECT_EQ(readFile(mimeApps()), withZipDefault(kOpenEntryId));
    EXPECT_TRUE(associations.isAssociated(ext("ZIP")));
    EXPECT_FALSE(associations.isAssociated(ext("LZH")));
    if (haveTool("xdg-mime")) {
        EXPECT_EQ(queryDefault("application/zip"), QLatin1String(kOpenEntryId));
    }
    const QByteArray openEntry = readFile(FileAssociations::entryPath(false));
    EXPECT_TRUE(openEntry.contains("Exec=" + program.executable.toUtf8() + " %F\n")) << openEntry.constData();
    EXPECT_TRUE(openEntry.contains("MimeType=application/zip;\n")) << openEntry.constData();
    EXPECT_TRUE(readFile(FileAssociations::entryPath(true)).contains("SalvoExtractor /DDMODE %F\n"));
    EXPECT_EQ(validationErrors(FileAssociations::entryPath(false)), "");
    EXPECT_EQ(validationErrors(FileAssociations::entryPath(true)), "");
    // A program path with a blank and a quote is quoted.
    const QString quoted = home.path("quoted.desktop");
    writeFile(quoted, FileAssociations(kProgram).entryText(true, {"application/zip"}));
    EXPECT_TRUE(readFile(quoted).contains("Exec=\"/opt/salvo dir/it's/SalvoExtractor\" /DDMODE %F\n"));
    EXPECT_EQ(validationErrors(quoted), "");
    EXPECT_TRUE(QFileInfo::exists(xdgDataHome() + "/icons/hicolor/scalable/apps/salvo-extractor.svg"));
    if (haveTool("update-desktop-database")) {
        EXPECT_TRUE(cachedEntries("application/zip").contains(QLatin1String(kOpenEntryId)));
    }

    // Twice: the backup is still the other program, not our own entry.
    const QByteArray store = readFile(FileAssociations::backupStorePath());
    EXPECT_TRUE(store.contains("application/zip=other.desktop")) << store.constData();
    ASSERT_TRUE(associations.apply({"ZIP"}, false));
    EXPECT_EQ(readFile(FileAssociations::backupStorePath()), store);
    EXPECT_EQ(readFile(mimeApps()), withZipDefault(kOpenEntryId));

    // Mode switch: only the started entry changes.
    const QByteArray entries = readFile(FileAssociations::entryPath(false)) + readFile(FileAssociations::entryPath(true));
    ASSERT_TRUE(associations.apply({"ZIP"}, true));
    EXPECT_EQ(readFile(mimeApps()), withZipDefault(kDdModeEntryId));
    EXPECT_EQ(readFile(FileAssociations::backupStorePath()), store);
    EXPECT_EQ(readFile(FileAssociations::entryPath(false)) + readFile(FileAssociations::entryPath(true)), entries);
    EXPECT_TRUE(associations.isAssociated(ext("ZIP")));
    if (haveTool("xdg-mime")) {
        EXPECT_EQ(queryDefault("application/zip"), QLatin1String(kDdModeEntryId));
    }

    // Removal gives the old default back; the entries stay, declaring nothing.
    ASSERT_TRUE(associations.apply({}, true));
    EXPECT_EQ(readFile(mimeApps()), original);
    EXPECT_FALSE(associations.isAssociated(ext("ZIP")));
    if (haveTool("xdg-mime")) {
        EXPECT_EQ(queryDefault("application/zip"), "other.desktop");
    }
    EXPECT_FALSE(readFile(FileAssociations::entryPath(false)).contains("MimeType"));
    if (haveTool("update-desktop-database")) {
        EXPECT_FALSE(cachedEntries("application/zip").contains(QLatin1String(kOpenEntryId)));
    }
}

// A type another program took over after the program associated it is left
// alone on removal; a type with no earlier default loses its key; extensions
// the MIME database does not know get the program's own types while associated.
TEST(FileAssociationsTest, TakenOverTypesAndOwnTypes)
{
    TempHome home;
    writeOtherEntry("thief.desktop");
    FileAssociations associations(standInProgram(home));
    ASSERT_TRUE(associations.apply({"ZIP", "LZH", "GZ", "GCA", "PQA"}, false));
    EXPECT_EQ(readFile(mimeApps()), QByteArray("[Default Applications]\n"
                                               "application/x-lha=salvo-extractor-open.desktop\n"
                                               "application/zip=salvo-extractor-open.desktop\n"
                                               "application/x-gca-compressed=salvo-extractor-open.desktop\n"
                                               "application/gzip=salvo-extractor-open.desktop\n"
                                               "application/x-compressed-tar=salvo-extractor-open.desktop\n"
                                               "application/x-pqa-compressed=salvo-extractor-open.desktop\n"));
    const QByteArray package = readFile(FileAssociations::mimePackagePath());
    EXPECT_TRUE(package.contains("<glob pattern=\"*.gca\"/>")) << package.constData();
    EXPECT_TRUE(package.contains("<glob pattern=\"*.pqa\" weight=\"60\"/>")) << package.constData();
    EXPECT_FALSE(package.contains("*.zip"));
    if (haveTool("update-mime-database")) {
        const QByteArray globs = readFile(xdgDataHome() + "/mime/globs2");
        EXPECT_TRUE(globs.contains("application/x-gca-compressed:*.gca")) << globs.constData();
    }
    if (haveTool("xdg-mime")) {
        EXPECT_EQ(queryDefault("application/x-gca-compressed"), QLatin1String(kOpenEntryId));
    }

    // Another program takes ZIP and GCA over.
    KeyFileEditor edit(mimeApps());
    ASSERT_TRUE(edit.load());
    edit.setValue("Default Applications", "application/zip", "thief.desktop;");
    edit.setValue("Default Applications", "application/x-gca-compressed", "thief.desktop");
    ASSERT_TRUE(edit.save());

    ASSERT_TRUE(associations.apply({}, false));
    EXPECT_EQ(readFile(mimeApps()), QByteArray("[Default Applications]\n"
                                               "application/zip=thief.desktop;\n"
                                               "application/x-gca-compressed=thief.desktop\n"));
    if (haveTool("xdg-mime")) {
        EXPECT_EQ(queryDefault("application/zip"), "thief.desktop");
        EXPECT_NE(queryDefault("application/x-lha"), QLatin1String(kOpenEntryId));
    }
    // GCA's type stays defined for the program that uses it; PQA's is gone.
    const QByteArray left = readFile(FileAssociations::mimePackagePath());
    EXPECT_TRUE(left.contains("*.gca"));
    EXPECT_FALSE(left.contains("*.pqa"));

    // The system-wide package that `make package` installs is the one the code defines.
    EXPECT_EQ(readFile(SALVO_SOURCE_DIR "/data/salvo-extractor-mime.xml"), mimePackageXml(systemMimePackageTypes()));
    EXPECT_EQ(validationErrors(SALVO_SOURCE_DIR "/data/salvo-extractor.desktop"), "");
    // Its menu entry opens exactly the types the system knows or that package defines.
    QStringList declared;
    for (const QByteArray &line : readFile(SALVO_SOURCE_DIR "/data/salvo-extractor.desktop").split('\n')) {
        if (line.startsWith("MimeType="))
            declared = QString::fromUtf8(line.mid(9)).split(';', Qt::SkipEmptyParts);
    }
    EXPECT_EQ(declared, menuEntryMimeTypes());

    // No usable program path: nothing is taken over.
    FileAssociations nowhere(ShellProgram{QStringLiteral("relative/SalvoExtractor")});
    EXPECT_FALSE(nowhere.apply({"ZIP"}, false));
    EXPECT_EQ(readFile(mimeApps()), QByteArray("[Default Applications]\n"
                                               "application/zip=thief.desktop;\n"
                                               "application/x-gca-compressed=thief.desktop\n"));
}

// Shortcuts are made in the XDG desktop folder, executable; "on" leaves an
// existing file alone, "off" removes it; a failure gives the step texts.
TEST(ShellEntriesTest, DesktopShortcuts)
{
    TempHome home;
    // gio would mark the shortcut trusted through the session's metadata
    // service, which keeps its records in the real home.
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    writeFile(xdgConfigHome() + "/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/デスク トップ\"\n");
    const QString desktop = QDir::homePath() + QStringLiteral("/デスク トップ");
    EXPECT_EQ(desktopShortcutPath(ShortcutKind::Normal), desktop + "/SalvoExtractor.desktop");
    if (haveTool("xdg-user-dir")) {
        EXPECT_EQ(runTool("xdg-user-dir", {"DESKTOP"}), desktop);
    }

    EXPECT_EQ(applyDesktopShortcut(ShortcutKind::Normal, true, kProgram), kShortcutDone);
    EXPECT_EQ(applyDesktopShortcut(ShortcutKind::DdMode, true, kProgram), kShortcutDone);
    const QString normal = desktop + "/SalvoExtractor.desktop", dd = desktop + "/SlvoEasyExtract.desktop";
    EXPECT_TRUE(isExecutable(normal));
    EXPECT_TRUE(isExecutable(dd));
    EXPECT_TRUE(readFile(normal).contains("Exec=\"/opt/salvo dir/it's/SalvoExtractor\" %F\nPath=/opt/salvo dir/it's\n"));
    EXPECT_TRUE(readFile(dd).contains("Exec=\"/opt/salvo dir/it's/SalvoExtractor\" /DDMODE %F\n"));
    EXPECT_EQ(validationErrors(normal), "");
    EXPECT_EQ(validationErrors(dd), "");

    // An existing shortcut is left as it is; "off" removes it.
    writeFile(normal, "[Desktop Entry]\nType=Application\nName=Mine\nExec=mine\n");
    EXPECT_EQ(applyDesktopShortcut(ShortcutKind::Normal, true, kProgram), kShortcutDone);
    EXPECT_EQ(readFile(normal), "[Desktop Entry]\nType=Application\nName=Mine\nExec=mine\n");
    EXPECT_EQ(applyDesktopShortcut(ShortcutKind::Normal, false, kProgram), kShortcutDone);
    EXPECT_EQ(applyDesktopShortcut(ShortcutKind::DdMode, false, kProgram), kShortcutDone);
    EXPECT_FALSE(QFileInfo::exists(normal));
    EXPECT_FALSE(QFileInfo::exists(dd));
    EXPECT_EQ(applyDesktopShortcut(ShortcutKind::DdMode, false, kProgram), kShortcutDone);

    // The desktop "folder" is a file: the shortcut cannot be saved.
    QDir(desktop).removeRecursively();
    writeFile(desktop, "not a folder");
    const int failed = applyDesktopShortcut(ShortcutKind::DdMode, true, kProgram);
    EXPECT_EQ(failed, kShortcutSaveFailed);
    EXPECT_EQ(shortcutFailureMessage(failed), QStringLiteral("ショートカットファイルの Save または Load に\n失敗しました。"));
    EXPECT_EQ(shortcutFailureMessage(8 | 32), QStringLiteral("リンク先の設定または取得に\n作業フォルダの設定または取得に\n失敗しました。"));
    EXPECT_EQ(shortcutFailureMessage(1), QStringLiteral("CoInitialize の実行に\n失敗しました。"));
    EXPECT_EQ(shortcutFailureMessage(0), QStringLiteral("ショートカット情報の登録または取得に成功しました。"));
    EXPECT_EQ(applyDesktopShortcut(ShortcutKind::Normal, true, ShellProgram{"SalvoExtractor"}), kShortcutTargetFailed);
}

// Send To and the folder menu entry appear in the three file managers and go
// away again; an entry of the same name that the program did not make stays in
// both directions. The Nautilus scripts hand over absolute paths, the folder
// one only folders.
TEST(ShellEntriesTest, SendToAndFolderMenuEntries)
{
    TempHome home;
    // A stand-in program that records its arguments.
    const QString stub = home.path("bin/record");
    writeFile(stub, QByteArray("#!/bin/sh\nfor a do printf '%s\\n' \"$a\"; done > ") + home.path("args").toUtf8() + "\n");
    QFile::setPermissions(stub, executablePermissions());
    const ShellProgram program{stub};

    const QString foreign = xdgDataHome() + "/kio/servicemenus/SlvoEx.Add.desktop";
    writeFile(foreign, "[Desktop Entry]\nType=Service\nActions=x;\n");
    EXPECT_EQ(applySendTo(true, program), kShortcutDone);
    EXPECT_EQ(applyFolderMenuEntry(true, program), kShortcutDone);
    EXPECT_EQ(readFile(foreign), "[Desktop Entry]\nType=Service\nActions=x;\n");

    QStringList made;
    for (const FileManagerEntry &e : sendToEntries(program) + folderMenuEntries(program)) {
        if (e.path == foreign)
            continue;
        made << e.path;
        EXPECT_EQ(readFile(e.path), e.text) << e.path.toStdString();
        EXPECT_EQ(isExecutable(e.path), e.executable) << e.path.toStdString();
    }
    EXPECT_EQ(made.size(), 5);
    EXPECT_TRUE(readFile(xdgDataHome() + "/Thunar/sendto/SlvoEx.Add.desktop").contains("Name=SalvoExtractorへ追加\n"));
    EXPECT_TRUE(readFile(xdgDataHome() + "/Thunar/sendto/SlvoEx.Add.desktop").contains("MimeType=inode/directory;\n"));
    EXPECT_TRUE(readFile(xdgDataHome() + "/kio/servicemenus/SalvoExtractor.desktop").contains("Exec=" + stub.toUtf8() + " %F\n"));
    EXPECT_EQ(validationErrors(xdgDataHome() + "/Thunar/sendto/SalvoExtractor.desktop"), "");
    EXPECT_EQ(validationErrors(xdgDataHome() + "/Thunar/sendto/SlvoEx.Add.desktop"), "");

    // The scripts, run in a folder as Nautilus runs them.
    QDir().mkpath(home.path("work/a folder"));
    writeFile(home.path("work/b.zip"), "PK");
    auto runScript = [&](const QString &name) {
        QFile::remove(home.path("args"));
        QProcess p;
        p.setWorkingDirectory(home.path("work"));
        p.start(xdgDataHome() + "/nautilus/scripts/" + name, {"a folder", "b.zip"});
        p.waitForFinished(10000);
        return QString::fromUtf8(readFile(home.path("args"))).split('\n', Qt::SkipEmptyParts);
    };
    const QString work = QDir(home.path("work")).absolutePath();
    EXPECT_EQ(runScript("SalvoExtractor"), (QStringList{work + "/a folder", work + "/b.zip"}));
    EXPECT_EQ(runScript(QStringLiteral("SalvoExtractorへ追加")), QStringList{work + "/a folder"});

    EXPECT_EQ(applySendTo(false, program), kShortcutDone);
    EXPECT_EQ(applyFolderMenuEntry(false, program), kShortcutDone);
    for (const QString &path : made)
        EXPECT_FALSE(QFileInfo::exists(path)) << path.toStdString();
    EXPECT_EQ(readFile(foreign), "[Desktop Entry]\nType=Service\nActions=x;\n");
}
