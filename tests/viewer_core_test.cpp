// The content viewer's work without windows: the extract, delete and add
// command lines of every format (through the recording component), the
// extracted-path rule, the folder tree of the add dialog, the folder-name
// check, the double-click table, what Open hands to the desktop, and the
// listing in the background.
#include "app/ArchiveFolderTree.h"
#include "app/ArchiveListing.h"
#include "app/EntryActions.h"
#include "archivers/ArchiveProbe.h"
#include "engine/EntryCommands.h"
#include "platform/LocalPath.h"
#include "settings/Settings.h"
#include "support/ArchiveBuilder.h"
#include "support/ComponentLib.h"
#include "support/RecordingUi.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <fstream>
#include <map>
#include <tuple>

using namespace salvo;
using namespace salvo::test;

namespace {

class ViewerCoreTest : public ::testing::Test {
protected:
    TempHome home;
    QString components = home.path("components");
    QString out = home.path("out");
    Availability availability;
    std::unique_ptr<ComponentCaller> caller;
    std::unique_ptr<ArchiveProbe> probe;
    RecordingUi ui;
    std::unique_ptr<EntryActions> actions;

    ViewerCoreTest()
    {
        QDir().mkpath(components);
        QDir().mkpath(out);
        qputenv("SALVO_RECORDING_LOG", home.path("calls.log").toLocal8Bit());
        qputenv("SALVO_RECORDING_SCRIPT", home.path("script.txt").toLocal8Bit());
        script({});
    }
    ~ViewerCoreTest() override
    {
        qunsetenv("SALVO_RECORDING_LOG");
        qunsetenv("SALVO_RECORDING_SCRIPT");
    }
    void install(std::initializer_list<Component> list)
    {
        availability = Availability{};
        for (Component c : list) {
            const QString file = components + "/" + componentInfo(c).fileName;
            QFile::remove(file);
            ASSERT_TRUE(QFile::copy(RECORDING_COMPONENT, file));
            availability.present[int(c)] = true;
            availability.files[int(c)] = file;
        }
        actions.reset();
        probe.reset();
        caller = std::make_unique<ComponentCaller>(availability);
        probe = std::make_unique<ArchiveProbe>(*caller, home.myPath());
        actions = std::make_unique<EntryActions>(home.myPath(), *caller, *probe, ui);
    }
    void installAll()
    {
        install({Component::UnLha32, Component::UnZip32, Component::Zip32J, Component::Zip32, Component::Cab32,
                 Component::UnGca32, Component::UnRar32, Component::SevenZip32, Component::Yz1, Component::UnArj32,
                 Component::Tar32, Component::Bga32, Component::UnBel32, Component::UnImp32, Component::Kty32,
                 Component::UnAceV2, Component::UnAce32, Component::UnHki32});
    }
    void script(const QStringList &lines)
    {
        writeFile(home.path("script.txt"), lines.join('\n').toUtf8() + "\n");
        QFile::remove(home.path("calls.log"));
    }
    // The main-entry calls: "Prefix<TAB>command line".
    QStringList mainCalls()
    {
        QStringList calls;
        for (const QByteArray &l : readFile(home.path("calls.log")).split('\n')) {
            const QString line = QString::fromUtf8(l);
            if (line.section('\t', 1, 1) == "1024")
                calls << line.section('\t', 0, 0) + "\t" + line.section('\t', 2);
        }
        return calls;
    }
    QString archive(const QString &name)
    {
        const QString path = home.path("in/" + name);
        writeFile(path, "not read by the recording component");
        return path;
    }
    Settings settings() { return Settings(home.myPath()); }
};

struct Line {
    const char *archive;
    int keepPaths; // MakeFolder4ListView
    int overWrite; // OverWrite of EXTRACT_ARCVIEW: 0 replaces, other asks
    int use7Zip;
    const char *entry;
    const char *call; // "Prefix<TAB>line" with {A} the archive and {F} the folder
};

QString expand(const char *text, const QString &archive, const QString &folder, const QString &base = {},
               const QString &list = {}, const QString &staging = {})
{
    return QString::fromUtf8(text)
        .replace("{A}", archive)
        .replace("{F}", folder)
        .replace("{B}", base)
        .replace("{L}", list)
        .replace("{S}", staging);
}

TEST_F(ViewerCoreTest, ExtractDeleteAndAddLinesOfEveryFormat)
{
    installAll();
    settings().write(ini::kUseUnace32, 1);
    const Line extractions[] = {
        {"a.lzh", 1, 0, 0, "dir/b.txt", "Unlha\tx -c1 -m1 -y1  --no-wildcards \"{A}\" \"{F}/\" \"dir/b.txt\" -y -jf0"},
        {"a.LHA", 0, 1, 0, "my file.txt", "Unlha\te -c0 -m0  --no-wildcards \"{A}\" \"{F}/\" \"my file.txt\" -y -jf0"},
        {"a.zip", 1, 0, 0, "b.txt", "UnZip\t-x -o -s -V -i -C -qq --no-wildcards \"{A}\" \"{F}/\" \"b.txt\""},
        {"a.zip", 0, 1, 0, "b.txt", "UnZip\t-x -j -s -V -i -C -qq --no-wildcards \"{A}\" \"{F}/\" \"b.txt\""},
        {"a.zip", 1, 1, 1, "b.txt", "SevenZip\tx --no-wildcards \"{A}\" \"{F}/\" \"b.txt\""},
        {"a.7z", 0, 0, 0, "b.txt", "SevenZip\te -y --no-wildcards \"{A}\" \"{F}/\" \"b.txt\""},
        {"a.cab", 0, 0, 0, "b.txt", "Cab\t-x -j -o --no-wildcards \"{A}\" \"{F}/\" \"b.txt\""},
        {"a.gca", 1, 1, 0, "b.txt", "UnGCA\te -xx1 -yx1 -sx1 \"{A}\" \"{F}/\" b.txt"},
        {"a.rar", 0, 0, 0, "b.txt", "Unrar\t-e -y -o --no-wildcards \"{A}\" \"{F}/\" \"b.txt\""},
        {"a.rar", 1, 1, 0, "b.txt", "Unrar\t-x --no-wildcards \"{A}\" \"{F}/\" \"b.txt\""},
        {"a.yz1", 1, 0, 0, "b.txt", "Yz1\tx -x1 -y1 \"{A}\" \"{F}/\" b.txt"},
        {"a.ard", 0, 0, 0, "b.txt", "Unarj\te -y- \"{A}\" \"{F}/\" b.txt"},
        {"a.tar.gz", 1, 0, 0, "b.txt", "Tar\t-x --use-directory=1 --no-wildcards \"{A}\" \"{F}/\" \"b.txt\""},
        {"a.bz2", 0, 1, 0, "b.txt", "Tar\t-x --use-directory=0 --no-wildcards \"{A}\" \"{F}/\" \"b.txt\""},
        {"a.tar.xz", 1, 0, 0, "b.txt", "Tar\t-x --use-directory=1 --no-wildcards \"{A}\" \"{F}/\" \"b.txt\""},
        {"a.gza", 0, 0, 0, "b.txt", "Bga\tx -a -j -o \"{A}\" \"{F}/\" b.txt"},
        {"a.bel", 1, 0, 0, "b.txt", "Unbel\t \"{A}\" \"{F}/\""},
        {"a.imp", 1, 1, 0, "b.txt", "UnImp\tx -a -r -c2 \"{A}\" \"{F}/\" b.txt"},
        {"a.hki", 0, 0, 0, "b.txt", "UnHki\te -ga0 \"{A}\" \"{F}/\" b.txt"},
        {"a.kty", 1, 1, 0, "b.txt", "Kty\tx c0 q r \"{A}\" \"{F}/\" b.txt"},
        {"a.ace", 1, 0, 0, "b.txt", "Unace\tx -y1 -o \"{A}\" \"{F}/\""},
        // A component of another maker takes the name as a mask: "?" stands for a
        // double quote, which cannot be passed.
        {"a.gza", 1, 1, 0, "say \"hi\".txt", "Bga\tx -a \"{A}\" \"{F}/\" \"say ?hi?.txt\""},
    };
    for (const Line &c : extractions) {
        settings().write(ini::kMakeFolder4ListView, c.keepPaths);
        settings().write(ini::kViewOverWrite, c.overWrite);
        settings().write(ini::kUse7Zip, c.use7Zip);
        script({});
        const QString path = archive(c.archive);
        const EntryActions::Extracted x = actions->extractEntry(path, QString::fromUtf8(c.entry), out, false);
        EXPECT_TRUE(x.ok) << c.archive;
        EXPECT_EQ(mainCalls(), QStringList{expand(c.call, path, out)}) << c.archive;
        EXPECT_EQ(ui.status[1], "解凍完了！");
    }
    EXPECT_TRUE(ui.messages.empty());

    settings().write(ini::kUse7Zip, 0);
    const Line deletions[] = {
        {"a.lzh", 0, 0, 0, "b.txt", "Unlha\td -jyd --no-wildcards \"{A}\" \"b.txt\""},
        {"a.lzh", 0, 0, 0, "dir/b.txt", "Unlha\td --no-wildcards \"{A}\" \"dir/b.txt\""},
        {"a.zip", 0, 0, 0, "dir/", "Zip\t-d --no-wildcards \"{A}\" \"dir/\""},
        {"a.zip", 0, 0, 1, "b c.txt", "SevenZip\td --no-wildcards \"{A}\" \"b c.txt\""},
        {"a.7z", 0, 0, 0, "b.txt", "SevenZip\td --no-wildcards \"{A}\" \"b.txt\""},
        {"a.bza", 0, 0, 0, "b.txt", "Bga\td \"{A}\" \"b.txt\""},
        {"a.hki", 0, 0, 0, "b.txt", "UnHki\td \"{A}\" \"b.txt\""},
    };
    for (const Line &c : deletions) {
        settings().write(ini::kUse7Zip, c.use7Zip);
        script({});
        const QString path = archive(c.archive);
        EXPECT_TRUE(actions->deleteEntry(path, QString::fromUtf8(c.entry))) << c.archive;
        EXPECT_EQ(mainCalls(), QStringList{expand(c.call, path, out)}) << c.archive;
    }
    EXPECT_TRUE(ui.messages.empty());

    // Adding: the drop list's files are named relative to the base folder in
    // the work list; a target folder goes through the staging folder, except
    // for LZH, which names it on the command line.
    settings().write(ini::kUse7Zip, 0);
    const QString base = home.path("drop");
    writeFile(base + "/x.txt", "x");
    writeFile(base + "/y z.txt", "y");
    ASSERT_TRUE(actions->writeDropList({base + "/x.txt", base + "/y z.txt"}));
    EXPECT_EQ(readFile(home.myPath() + "addlist.tmp"), "\"" + (base + "/x.txt").toUtf8() + "\"\n\"" +
                                                             (base + "/y z.txt").toUtf8() + "\"\n");
    EXPECT_EQ(actions->droppedFileCount(), 2);
    const QString list = home.myPath() + "addlist2.tmp", staging = home.myPath() + "ArcFiles";
    struct Addition {
        const char *archive;
        const char *target;
        int use7Zip;
        const char *call;
    };
    const Addition additions[] = {
        {"a.lzh", "", 0, "Unlha\ta -x \"{A}\" \"{B}/\" \"{L}\""},
        {"a.lzh", "sub/dir", 0, "Unlha\ta -x \"{A}\"  -jb\"sub/dir\" \"{B}/\" \"{L}\""},
        {"a.zip", "", 0, "Zip\t-u -S -D \"{A}\" \"{B}/\" \"{L}\""},
        {"a.zip", "sub", 0, "Zip\t-u -S -D -r \"{A}\" \"{S}/\" *.*"},
        {"a.zip", "", 1, "SevenZip\ta -tzip \"{A}\" \"{B}/\" \"{L}\""},
        {"a.zip", "sub", 1, "SevenZip\ta -tzip -r \"{A}\" \"{S}/\" *.* -ms=off"},
        {"a.7z", "", 0, "SevenZip\ta -t7z \"{A}\" \"{B}/\" \"{L}\" -ms=off"},
        {"a.7z", "sub", 0, "SevenZip\ta -t7z -r \"{A}\" \"{S}/\" *.* -ms=off"},
        {"a.gza", "", 0, "Bga\ta -a \"{A}\" \"{B}/\" \"{L}\""},
        {"a.bza", "s", 0, "Bga\ta -a -r \"{A}\" \"{S}/\" *.*"},
    };
    for (const Addition &c : additions) {
        settings().write(ini::kUse7Zip, c.use7Zip);
        script({});
        ui.status[1].clear();
        const QString path = archive(c.archive);
        EXPECT_TRUE(actions->addDroppedFiles(path, QString::fromUtf8(c.target))) << c.archive << c.target;
        EXPECT_EQ(mainCalls(), QStringList{expand(c.call, path, out, base, list, staging)}) << c.archive;
        EXPECT_EQ(ui.status[1], "2ファイル追加");
        EXPECT_FALSE(QFileInfo::exists(staging)) << "the staging folder goes afterwards";
    }
    EXPECT_EQ(readFile(list), "\"x.txt\"\n\"y z.txt\"\n");
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(ViewerCoreTest, RealResultsMissingComponentsAndRefusals)
{
    // The add count is the component's own; any other result is a failure.
    installAll();
    const QString base = home.path("drop");
    writeFile(base + "/x.txt", "x");
    writeFile(base + "/y.txt", "y");
    actions->writeDropList({base + "/x.txt", base + "/y.txt"});
    const QString zip = archive("a.zip");
    script({"ZipOutput 1 2"});
    EXPECT_TRUE(actions->addDroppedFiles(zip, ""));
    EXPECT_EQ(ui.status[1], "1ファイル追加");
    // Files dropped from two folders: the other folder's file keeps its full path.
    writeFile(home.path("other/z.txt"), "z");
    actions->writeDropList({home.path("other/z.txt"), base + "/x.txt"});
    EXPECT_TRUE(actions->addDroppedFiles(zip, ""));
    EXPECT_EQ(readFile(home.myPath() + "addlist2.tmp"), "\"" + home.path("other/z.txt").toUtf8() + "\"\n\"x.txt\"\n");
    EXPECT_EQ(mainCalls().last(), "Zip\t-u -S -D \"" + zip + "\" \"" + base + "/\" \"" + home.myPath() + "addlist2.tmp\"");
    // A dropped name that is not UTF-8 reaches the component with its own bytes.
    const QString rawName = pathFromLocalBytes(localBytesOfPath(base) + "/\x83\x65.txt");
    std::ofstream(localBytesOfPath(rawName).constData()) << "r";
    actions->writeDropList({rawName});
    EXPECT_TRUE(actions->addDroppedFiles(zip, ""));
    EXPECT_EQ(readFile(home.myPath() + "addlist2.tmp"), QByteArray("\"\x83\x65.txt\"\n"));
    actions->writeDropList({base + "/x.txt", base + "/y.txt"});
    script({"Zip 32775", "ZipOutput 1 2"}); // kept out as not newer
    EXPECT_FALSE(actions->addDroppedFiles(zip, "new"));
    EXPECT_EQ(ui.status[1], "ファイル追加失敗");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_TRUE(ui.messages[0].text.startsWith("ファイル追加失敗"));
    EXPECT_FALSE(QFileInfo::exists(home.myPath() + "ArcFiles")) << "removed after a failure too";
    // A target folder that leaves the archive's top is refused before any call.
    ui.messages.clear();
    script({});
    EXPECT_FALSE(actions->addDroppedFiles(zip, "../up"));
    EXPECT_TRUE(mainCalls().isEmpty());
    EXPECT_EQ(ui.status[1], "ファイル追加失敗");
    // bh takes drops but has no add command.
    ui.messages.clear();
    EXPECT_FALSE(actions->addDroppedFiles(archive("a.bh"), ""));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "対応していない形式のファイルです");

    // A failed extraction, and a self-extractor's real result.
    ui.messages.clear();
    script({"UnZip 11"});
    EXPECT_FALSE(actions->extractEntry(zip, "b.txt", out, false).ok);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_TRUE(ui.messages[0].text.startsWith("ファイルの解凍に失敗しました。"));
    install({Component::UnLha32});
    const QString sfx = archive("setup.exe");
    ui.messages.clear();
    ui.status[1].clear();
    script({"Unlha 11"});
    EXPECT_FALSE(actions->extractEntry(sfx, "dir/b.txt", out, false).ok);
    EXPECT_EQ(mainCalls(), QStringList{"Unlha\te --no-wildcards \"" + sfx + "\" \"" + out + "/\" \"dir/b.txt\" -y -jf0"});
    EXPECT_EQ(ui.messages.size(), 1u);
    EXPECT_TRUE(ui.status[1].isEmpty());
    script({});
    const EntryActions::Extracted flat = actions->extractEntry(sfx, "dir/b.txt", out, true);
    EXPECT_TRUE(flat.ok);
    EXPECT_EQ(flat.path, out + "/setup/b.txt") << "a self-extractor's entry lands without its folders";
    EXPECT_TRUE(QFileInfo(out + "/setup").isDir());

    // A missing component says which one; nothing is called.
    ui.messages.clear();
    script({});
    EXPECT_FALSE(actions->extractEntry(zip, "b.txt", out, false).ok);
    EXPECT_FALSE(actions->deleteEntry(zip, "b.txt"));
    EXPECT_TRUE(mainCalls().isEmpty());
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_TRUE(ui.messages[0].text.contains("unzip32.so"));
    EXPECT_TRUE(ui.messages[1].text.contains("7-zip32.so"));
    // Unsupported formats, and a name that cannot be deleted exactly.
    install({Component::SevenZip32});
    ui.messages.clear();
    EXPECT_FALSE(actions->deleteEntry(archive("a.cab"), "b.txt"));
    EXPECT_FALSE(actions->extractEntry(archive("a.xyz"), "b.txt", out, false).ok);
    EXPECT_FALSE(actions->deleteEntry(archive("a.7z"), "say \"hi\""));
    EXPECT_TRUE(mainCalls().isEmpty());
    ASSERT_EQ(ui.messages.size(), 3u);
    EXPECT_EQ(ui.messages[0].text, "対応していない形式のファイルです");
    EXPECT_EQ(ui.messages[1].text, "対応していない形式のファイルです");
    EXPECT_TRUE(ui.messages[2].text.startsWith("ファイルの削除に失敗しました。"));
}

TEST(EntryCommandTables, SelfExtractorsAceAndRk)
{
    Availability a;
    a.present.fill(true);
    a.rkExePath = "/opt/rk tools/";
    EntryExtraction r{"/in/s.exe", "d/b c.txt", "/out", true, OverwritePolicy::Confirm};
    struct Case {
        const char *kind;
        const char *prefix;
        const char *line;
    };
    const Case cases[] = {
        {"LZH", "Unlha", "e --no-wildcards \"/in/s.exe\" \"/out/\" \"d/b c.txt\" -y -jf0"},
        {"ZIP", "UnZip", "-x -j -o -s -V -i -C -qq --no-wildcards \"/in/s.exe\" \"/out/\" \"d/b c.txt\""},
        {"CAB", "Cab", "-x -j -o --no-wildcards \"/in/s.exe\" \"/out/\" \"d/b c.txt\""},
        {"GCA", "UnGCA", "e -xx0 -yx0 -sx1 \"/in/s.exe\" \"/out/\" \"d/b c.txt\""},
        {"RAR", "Unrar", "-e -y -o --no-wildcards \"/in/s.exe\" \"/out/\" \"d/b c.txt\""},
        {"7Z", "SevenZip", "e -y --no-wildcards \"/in/s.exe\" \"/out/\" \"d/b c.txt\""},
        {"YZ1", "Yz1", "x -x0 -y1 \"/in/s.exe\" \"/out/\" \"d/b c.txt\""},
        {"ARJ", "Unarj", "e -y- \"/in/s.exe\" \"/out/\" \"d/b c.txt\""},
        {"TAR", "Tar", "-x --use-directory=0 --no-wildcards \"/in/s.exe\" \"/out/\" \"d/b c.txt\""},
        {"BZA", "Bga", "x -j -o \"/in/s.exe\" \"/out/\" \"d/b c.txt\""},
        {"BEL", "Unbel", " \"/in/s.exe\" \"/out/\""},
        {"IMP", "UnImp", "-o\"/out/\" -a \"/in/s.exe\" \"d/b c.txt\""},
        {"KTY", "Kty", "e c11 q r \"/in/s.exe\" \"/out/\" \"d/b c.txt\""},
    };
    for (const Case &c : cases) {
        r.sfxKind = c.kind;
        const EntryCall call = entryExtractionCall(r, a);
        EXPECT_EQ(call.kind, EntryCallKind::Component) << c.kind;
        EXPECT_STREQ(call.prefix, c.prefix) << c.kind;
        EXPECT_EQ(call.commandLine, QString::fromUtf8(c.line)) << c.kind;
    }
    r.sfxKind = "PQA";
    EXPECT_EQ(entryExtractionCall(r, a).kind, EntryCallKind::Unsupported);
    r.sfxKind = "";
    EXPECT_EQ(entryExtractionCall(r, a).kind, EntryCallKind::Unsupported);
    r.sfxKind = "RK";
    EntryCall rk = entryExtractionCall(r, a);
    EXPECT_EQ(rk.kind, EntryCallKind::Console);
    EXPECT_EQ(rk.commandLine, "\"/opt/rk tools/rk\" -e -y -O -D/out /in/s.exe \"d/b c.txt\"");
    EXPECT_EQ(rk.expectedFile, "/out/b c.txt");
    r.sfxKind = "ACE";
    EXPECT_EQ(entryExtractionCall(r, a).kind, EntryCallKind::AceV2);
    r.useUnace32 = true;
    EXPECT_EQ(entryExtractionCall(r, a).commandLine, "e -y0 \"/in/s.exe\" \"/out/\"");

    // ".rk" with and without paths; ".ace" without UseUNACE32 or a flag.
    EntryExtraction k{"/in/my a.rk", "d\\b.txt", "/o d", true, OverwritePolicy::Overwrite};
    rk = entryExtractionCall(k, a);
    EXPECT_EQ(rk.commandLine, "\"/opt/rk tools/rk\" -x -y -O -D\"/o d\" \"/in/my a.rk\" \"d/b.txt\"");
    EXPECT_EQ(rk.expectedFile, "/o d/b.txt");
    k.keepPaths = false;
    k.overwrite = OverwritePolicy::Confirm;
    EXPECT_EQ(entryExtractionCall(k, a).commandLine, "\"/opt/rk tools/rk\" -e -y -D\"/o d\" \"/in/my a.rk\" \"d/b.txt\"");
    EntryExtraction ace{"/in/a.ace", "b.txt", "/out", false, OverwritePolicy::Confirm};
    EXPECT_EQ(entryExtractionCall(ace, a).kind, EntryCallKind::AceV2);
    ace.useUnace32 = true;
    EXPECT_EQ(entryExtractionCall(ace, a).commandLine, "e -y0 \"/in/a.ace\" \"/out/\"");
    a.present[int(Component::UnAceV2)] = false;
    const EntryCall missing = entryExtractionCall(ace, a);
    EXPECT_EQ(missing.kind, EntryCallKind::Missing);
    EXPECT_EQ(missing.component, Component::UnAceV2);
    // rk takes dropped files from the list with "@".
    FileAddition add{"/in/a.rk", "ignored", "/drop", "/home/addlist2.tmp", "/home/ArcFiles"};
    EXPECT_EQ(fileAdditionCall(add, a).commandLine, "\"/opt/rk tools/rk\" -a -p0 -mx3 \"/in/a.rk\" \"@/home/addlist2.tmp\"");
    EXPECT_FALSE(additionUsesStaging("/in/a.rk", "x"));
    EXPECT_FALSE(additionUsesStaging("/in/a.lzh", "x"));
    EXPECT_TRUE(additionUsesStaging("/in/a.7z", "x"));
    EXPECT_FALSE(additionUsesStaging("/in/a.7z", ""));
}

TEST(EntryCommandTables, ExtractedPathRule)
{
    struct Case {
        const char *entry;
        bool keepPaths;
        const char *path; // "" when none may be made
    };
    const Case cases[] = {
        {"a/b.txt", true, "/o/a/b.txt"},
        {"a/b.txt", false, "/o/b.txt"},
        {"a\\b\\c.txt", true, "/o/a/b/c.txt"},
        {"a\\b\\c.txt", false, "/o/c.txt"},
        {"./a//b.txt", true, "/o/a/b.txt"},
        {"dir/", true, "/o/dir"},
        {"dir/", false, ""},
        {"../evil.txt", true, ""},
        {"a/../../evil.txt", false, ""},
        {"..\\evil.txt", true, ""},
        {"/etc/passwd", true, ""},
        {"\\etc\\passwd", false, ""},
        {"C:\\evil.txt", true, ""},
        {"", true, ""},
        {"名前 with\nline.txt", true, "/o/名前 with\nline.txt"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(extractedEntryPath("/o", QString::fromUtf8(c.entry), c.keepPaths), QString::fromUtf8(c.path))
            << c.entry;
}

TEST(ArchiveFolderTree, FoldersOnlyBothSeparatorsAndHostileNames)
{
    const ArchiveFolderTree flat = folderTreeFor("/x/a.zip", {"a.txt", "b.txt"});
    EXPECT_EQ(flat.size(), 1);
    EXPECT_EQ(flat.fullPath(0), "<ROOT>");

    const ArchiveFolderTree tree = folderTreeFor(
        "/x/a.LZH", {"a/b/c.txt", "a\\d.txt", "a/b/", "e\\f\\", "../up/x.txt", "/abs/y.txt", "./g/./h.txt", "C:\\w\\z"});
    QStringList paths;
    for (int i = 0; i < tree.size(); ++i)
        paths << tree.fullPath(i);
    EXPECT_EQ(paths, QStringList({"<ROOT>", "<ROOT>/a", "<ROOT>/a/b", "<ROOT>/e", "<ROOT>/e/f", "<ROOT>/g"}));
    EXPECT_EQ(tree.node(tree.find("a")).children, std::vector<int>{tree.find("a/b")});
    EXPECT_EQ(tree.node(tree.find("a/b")).name, "b");
    EXPECT_EQ(targetFolderOf("<ROOT>"), "");
    EXPECT_EQ(targetFolderOf("<ROOT>/a/b"), "a/b");
    // Formats the dialog cannot list show the root alone.
    EXPECT_EQ(folderTreeFor("/x/a.rk", {"a/b.txt"}).size(), 1);
    EXPECT_EQ(folderTreeFor("/x/a.bh", {"a/b.txt"}).size(), 1);
    // New folders join the tree under any node.
    ArchiveFolderTree grown = tree;
    const int added = grown.addFolderPath(grown.find("a/b"), "新しい");
    EXPECT_EQ(grown.fullPath(added), "<ROOT>/a/b/新しい");
    EXPECT_EQ(grown.addFolderPath(ArchiveFolderTree::kRoot, "a"), grown.find("a"));
}

TEST(ArchiveFolderTree, CodePageNamesOfARealArchive)
{
    TempHome home;
    // Two names in CP932 (Shift-JIS) as Japanese Windows writes them: "資料\文書.txt" and "資料\画像\a.png".
    const QByteArray shiryo("\x8e\x91\x97\xbf"), bunsho("\x95\xb6\x8f\x91"), gazou("\x89\xe6\x91\x9c");
    const QString lzh = home.path("names.lzh");
    writeFile(lzh, storedLzh({{shiryo + "\\" + bunsho + ".txt", "text"}, {shiryo + "\\" + gazou + "\\a.png", "png"}}, 0));
    ComponentCaller caller(builtComponents(home.myPath()));
    ArchiveProbe probe(caller, home.myPath());
    QStringList names;
    for (const ListRow &row : probe.listEntries(lzh))
        names << row.name;
    ASSERT_EQ(names.size(), 2) << names.join(",").toStdString();
    const ArchiveFolderTree tree = folderTreeFor(lzh, names);
    QStringList paths;
    for (int i = 0; i < tree.size(); ++i)
        paths << tree.fullPath(i);
    EXPECT_EQ(paths, QStringList({"<ROOT>", "<ROOT>/資料", "<ROOT>/資料/画像"}));
}

// Runs a tool in `folder` and gives its standard output; fails the test when
// the tool does not end well.
QByteArray runTool(const QString &folder, const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.setWorkingDirectory(folder);
    p.start(program, arguments);
    EXPECT_TRUE(p.waitForFinished(60000)) << program.toStdString();
    EXPECT_EQ(p.exitCode(), 0) << program.toStdString() << ": " << p.readAllStandardError().toStdString();
    return p.readAllStandardOutput();
}

// The packed sizes 7-Zip's own lister reports, by entry name; "" where it
// reports none (the files of a solid block after its first).
std::map<QString, QString> packedSizesBy7zz(const QString &archive)
{
    std::map<QString, QString> sizes;
    QString path;
    bool first = true; // the first "Path" names the archive itself
    for (const QByteArray &line : runTool(QFileInfo(archive).path(), "7zz", {"l", "-slt", archive}).split('\n')) {
        const QString text = QString::fromUtf8(line).trimmed();
        if (text.startsWith("Path = ")) {
            path = first ? QString() : text.mid(7);
            first = false;
        } else if (text.startsWith("Packed Size =") && !path.isEmpty()) {
            sizes[path] = text.section('=', 1).trimmed();
        }
    }
    return sizes;
}

// Each entry's packed size as its archive's headers state it, with the ratio
// that follows; the files of a solid block (7z, CAB) share the block's
// packed size in proportion to their sizes.
TEST(PackedSizes, EveryFormatThatStoresThemReportsThem)
{
    TempHome home;
    const QString in = home.path("in");
    QDir().mkpath(in + "/d");
    QByteArray letters, noise;
    quint32 seed = 12345;
    for (int i = 0; i < 20000; ++i) {
        seed = seed * 1103515245 + 12345;
        letters += char('a' + (seed >> 16) % 8);
        if (i < 5000)
            noise += char(seed >> 23);
    }
    const std::map<QString, QByteArray> files = {
        {"a.txt", QByteArray("hello world ").repeated(3000)}, {"b.txt", letters}, {"c.bin", noise}};
    for (const auto &[name, data] : files)
        writeFile(in + "/" + name, data);
    writeFile(in + "/d/e.txt", QByteArray(1000, 'e'));
    const QStringList names = {"a.txt", "b.txt", "c.bin"};
    runTool(in, "zip", QStringList{"-q", "-r", "t.zip"} + names + QStringList{"d"});
    runTool(in, "7zz", QStringList{"a", "-bd", "-ms=on", "t.7z"} + names + QStringList{"d"});
    runTool(in, "jlha", QStringList{"a", "t.lzh"} + names);
    runTool(in, "gcab", QStringList{"-c", "-z", "t.cab"} + names);
    writeFile(in + "/t4.rar", storedRar({{"a.txt", files.at("a.txt")}, {"c.bin", files.at("c.bin")}}, 4));
    writeFile(in + "/t5.rar", storedRar({{"a.txt", files.at("a.txt")}, {"c.bin", files.at("c.bin")}}, 5));

    ComponentCaller caller(builtComponents(home.myPath()));
    ArchiveProbe probe(caller, home.myPath());
    auto listed = [&](const QString &archive) {
        std::map<QString, ComponentEntry> entries;
        probe.listEntries(probe.identify(archive), [&](const ComponentEntry &e) {
            entries[e.name] = e;
            return true;
        });
        return entries;
    };
    auto ratioOf = [](qint64 packed, qint64 size) { return quint16(packed * 1000 / size); };

    // The sizes of the headers, as 7-Zip reads them too.
    for (const char *name : {"t.zip", "t.lzh"}) {
        SCOPED_TRACE(name);
        const auto entries = listed(in + "/" + name);
        const auto expected = packedSizesBy7zz(in + "/" + name);
        ASSERT_GE(entries.size(), 2u);
        for (const auto &[entryName, e] : entries) {
            const QString plain = entryName.endsWith('/') ? entryName.chopped(1) : entryName;
            ASSERT_TRUE(expected.count(plain)) << plain.toStdString();
            EXPECT_EQ(QString::number(e.compressedSize), expected.at(plain)) << plain.toStdString();
            if (e.originalSize64 > 0) {
                EXPECT_EQ(e.ratio, ratioOf(e.compressedSize, e.originalSize64)) << plain.toStdString();
            }
        }
    }
    EXPECT_LT(listed(in + "/t.zip").at("a.txt").compressedSize, 1000u);
    // RAR (no free tool writes it): a stored entry takes its own size.
    for (const char *name : {"t4.rar", "t5.rar"}) {
        const auto entries = listed(in + "/" + name);
        ASSERT_EQ(entries.size(), 2u) << name;
        EXPECT_EQ(entries.at("a.txt").compressedSize, 36000u) << name;
        EXPECT_EQ(entries.at("a.txt").ratio, 1000) << name;
        EXPECT_EQ(entries.at("c.bin").compressedSize, 5000u) << name;
    }

    // A solid block: its files add up to the block and share its ratio.
    const auto sevenZip = listed(in + "/t.7z");
    const qint64 block = packedSizesBy7zz(in + "/t.7z").at("a.txt").toLongLong();
    for (const auto &[label, entries, total] :
         {std::tuple{"7z", sevenZip, block}, std::tuple{"cab", listed(in + "/t.cab"), qint64(0)}}) {
        SCOPED_TRACE(label);
        qint64 packed = 0, original = 0;
        for (const auto &[name, e] : entries) {
            packed += e.compressedSize;
            original += e.originalSize64;
        }
        EXPECT_EQ(entries.size(), QString(label) == "cab" ? 3u : 5u);
        if (total > 0) {
            EXPECT_EQ(packed, total);
        }
        EXPECT_GT(packed, 0);
        EXPECT_LT(packed, original);
        for (const auto &[name, e] : entries) {
            if (e.originalSize64 > 0) {
                EXPECT_NEAR(e.ratio, ratioOf(packed, original), 1) << name.toStdString();
            }
        }
        const ListRow row = listRow(entries.at("b.txt"), QString(label) == "cab" ? "CAB" : "7Z");
        EXPECT_NE(row.compressedSize, "-");
        EXPECT_TRUE(row.ratio.endsWith('%')) << row.ratio.toStdString();
    }
    EXPECT_EQ(listRow(sevenZip.at("d/"), "7Z").compressedSize, "-");
}

TEST(FolderNameCheck, ForbiddenCharactersAndNames)
{
    const QString message = "ファイル名に次の文字は使えません。\n\\ / : , * ? \" < > |";
    for (const char *bad : {"a\\b", "a/b", "c:", "a,b", "a;b", "*", "why?", "\"q\"", "<", ">", "a|b"})
        EXPECT_EQ(folderNameProblem(QString::fromUtf8(bad)), message) << bad;
    for (const char *bad : {".", "..", " ", "a\nb"})
        EXPECT_EQ(folderNameProblem(QString::fromUtf8(bad)), "このフォルダ名は使えません。") << bad;
    for (const char *good : {"new", "新しいフォルダ", "a b", "x.y", "[1]"})
        EXPECT_EQ(folderNameProblem(QString::fromUtf8(good)), "") << good;
}

TEST(DoubleClickTable, EveryCombination)
{
    using enum ViewerCommand;
    const QString docs = "マイ ドキュメント";
    struct Case {
        int action, place;
        QString templ;
        ViewerCommand command;
    };
    const Case cases[] = {
        {0, 0, "", Open},
        {0, 1, "", OpenAskFolder},
        {0, 2, "", OpenUsualFolder},
        {0, 3, docs, None},
        {1, 0, "", None},
        {1, 1, "", ExtractAskFolder},
        {1, 2, "", ExtractUsualFolder},
        {1, 3, docs, ExtractToDocuments},
        {1, 3, docs + QChar(0) + "junk", ExtractToDocuments},
        {1, 3, "デスクトップ", ExtractToDesktop},
        {1, 3, "システムフォルダ", ExtractToSystem},
        {1, 3, "Windows", ExtractToWindows},
        {1, 3, "windows", None},
        {1, 4, "", None},
        {2, 0, "", None},
        {-1, 1, "", None},
    };
    for (const Case &c : cases)
        EXPECT_EQ(doubleClickCommand(c.action, c.place, c.templ), c.command) << c.action << " " << c.place;
    EXPECT_FALSE(templateFolder(ExtractToDocuments).isEmpty());
    EXPECT_EQ(templateFolder(ExtractToWindows), "/usr");
    EXPECT_EQ(templateFolder(ExtractToSystem), "/usr/lib");
}

TEST(OpenTarget, RunnableFilesOpenTheirFolderWithoutExecutableBits)
{
    TempHome home;
    RecordingUi ui;
    Availability none;
    ComponentCaller caller(none);
    ArchiveProbe probe(caller, home.myPath());
    EntryActions actions(home.myPath(), caller, probe, ui);
    const QString folder = home.path("open");
    struct Case {
        const char *name;
        QByteArray content;
        bool executable;
        bool runnable;
    };
    const Case cases[] = {
        {"notes.txt", "plain text", false, false},
        {"picture.png", "\x89PNG\r\n\x1a\n", false, false},
        {"tool", "\x7f" "ELF\x02\x01\x01", false, true},
        {"script.txt", "#!/bin/sh\necho hi\n", false, true},
        {"run.sh", "echo hi\n", false, true},
        {"App.desktop", "[Desktop Entry]\nExec=x\n", false, true},
        {"setup.EXE", "MZ\x90\x00", false, true},
        {"marked.txt", "text with an executable bit", true, true},
    };
    for (const Case &c : cases) {
        const QString path = folder + "/" + c.name;
        writeFile(path, c.content);
        if (c.executable)
            QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner | QFile::ExeUser);
        ui.messages.clear();
        const OpenTarget target = actions.prepareOpen({true, folder, path});
        EXPECT_EQ(target.folderInstead, c.runnable) << c.name;
        EXPECT_EQ(target.path, c.runnable ? QFileInfo(folder).canonicalFilePath() : QFileInfo(path).canonicalFilePath())
            << c.name;
        EXPECT_EQ(ui.messages.size(), c.runnable ? 1u : 0u) << c.name;
        EXPECT_FALSE(QFileInfo(path).isExecutable()) << c.name;
    }
    // A link that leads out of the folder, a failed extraction, no path: nothing to open.
    QFile::link("/etc/passwd", folder + "/out.txt");
    EXPECT_TRUE(actions.prepareOpen({true, folder, folder + "/out.txt"}).path.isEmpty());
    EXPECT_TRUE(actions.prepareOpen({false, folder, folder + "/notes.txt"}).path.isEmpty());
    EXPECT_TRUE(actions.prepareOpen({true, folder, ""}).path.isEmpty());
    // The temporary folder for Open is the user's alone.
    const QString tmp = privateWorkFolder(home.myPath());
    ASSERT_EQ(tmp, home.myPath() + "tmp");
    EXPECT_EQ(QFile::permissions(tmp) & (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther
                                         | QFile::WriteOther | QFile::ExeOther),
              QFile::Permissions());
}

TEST(ArchiveListing, BatchesAndASecondStartCancelsTheFirst)
{
    TempHome home;
    std::vector<Entry> many, other;
    for (int i = 0; i < 3000; ++i)
        many.push_back({QString("d%1/file%2.txt").arg(i % 7).arg(i), QByteArray::number(i)});
    for (int i = 0; i < 5; ++i)
        other.push_back({QString("other%1.txt").arg(i), "x"});
    const QString first = home.path("many.zip"), second = home.path("other.zip");
    writeFile(first, writeArchive(many, "zip"));
    writeFile(second, writeArchive(other, "zip"));
    ComponentCaller caller(builtComponents(home.myPath()));
    ArchiveProbe probe(caller, home.myPath());

    ArchiveListing listing(probe);
    QStringList names;
    int batches = 0;
    QString tag;
    qint32 count = -1;
    QObject::connect(&listing, &ArchiveListing::begun, [&](const QString &, const QString &t) { tag = t; });
    QObject::connect(&listing, &ArchiveListing::entriesArrived, [&](const QVector<salvo::ListedEntry> &entries) {
        ++batches;
        for (const salvo::ListedEntry &e : entries)
            names << e.name;
    });
    QObject::connect(&listing, &ArchiveListing::measured, [&](qint32 c, qint64) { count = c; });
    listing.start(first);
    ASSERT_TRUE(waitUntil([&] { return count >= 0; }, 60000));
    EXPECT_EQ(names.size(), 3000);
    EXPECT_GE(batches, 2) << "the first rows come before the rest";
    EXPECT_EQ(tag, "ZIP");
    EXPECT_EQ(count, 3000);
    EXPECT_FALSE(listing.isListing());

    names.clear();
    count = -1;
    listing.start(first);
    listing.start(second); // the first listing's rows never arrive
    EXPECT_TRUE(listing.isListing());
    ASSERT_TRUE(waitUntil([&] { return count >= 0; }, 60000));
    ASSERT_TRUE(waitUntil([&] { return listing.threadCount() == 0; }, 60000));
    EXPECT_EQ(names.size(), 5);
    EXPECT_EQ(count, 5);
    for (const QString &n : names)
        EXPECT_TRUE(n.startsWith("other")) << n.toStdString();
}

} // namespace

int main(int argc, char **argv)
{
    // The listing sends its batches through the event loop.
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
