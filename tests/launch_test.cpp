// Launch-mode classification of the command line and the start-up rules that
// need no window.
#include "app/LaunchRequest.h"
#include "app/MainWindowState.h"
#include "app/StringTable.h"
#include "app/WorkFolder.h"
#include "platform/LocalPath.h"
#include "platform/ProgramFolder.h"
#include "salvo_version.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace salvo;
using namespace salvo::test;

namespace {

TEST(LaunchMode, EveryFormOfTheArguments)
{
    struct Case {
        QStringList arguments;
        LaunchMode mode;
        QStringList files;
    };
    const Case cases[] = {
        {{}, LaunchMode::Normal, {}},
        {{""}, LaunchMode::Normal, {}},
        {{"/DDMODE"}, LaunchMode::DdModeSetting, {}},
        {{"/DDMODE", ""}, LaunchMode::DdModeSetting, {}},
        {{"/DDMODE", "/a/b.zip"}, LaunchMode::DdMode, {"/a/b.zip"}},
        // Each argument is one name, whatever it holds: blanks, quotes, a leading dash.
        {{"/DDMODE", "/a b/c.lzh", "/d.zip"}, LaunchMode::DdMode, {"/a b/c.lzh", "/d.zip"}},
        {{"in/say \"hi\".zip", "-session", " x "}, LaunchMode::Normal, {"in/say \"hi\".zip", "-session", " x "}},
        // The switch is exact and case-sensitive, and only the first argument.
        {{"/ddmode", "/a/b.zip"}, LaunchMode::Normal, {"/ddmode", "/a/b.zip"}},
        {{"/DdMode"}, LaunchMode::Normal, {"/DdMode"}},
        {{"/DDMODEx"}, LaunchMode::Normal, {"/DDMODEx"}},
        {{"/a/b.zip", "/DDMODE"}, LaunchMode::Normal, {"/a/b.zip", "/DDMODE"}},
    };
    for (const Case &c : cases) {
        const LaunchRequest r = classifyArguments(c.arguments);
        EXPECT_EQ(r.mode, c.mode) << c.arguments.join('|').toStdString();
        EXPECT_EQ(r.files, c.files) << c.arguments.join('|').toStdString();
    }
    EXPECT_EQ(launchModeName(LaunchMode::DdModeSetting), "DDMODE_SETTING");
}

TEST(StartupRules, WorkingModePositionsAndDropDowns)
{
    // The first queued file is checked only when the answer can matter: with
    // the archive side hidden, never.
    int checks = 0;
    auto firstIs = [&checks](bool archive) {
        return [&checks, archive] { return ++checks, archive; };
    };
    EXPECT_EQ(startupWorkingMode(WorkingMode::Archive, false, firstIs(false)), WorkingMode::Extract);
    EXPECT_EQ(startupWorkingMode(WorkingMode::Unset, false, firstIs(false)), WorkingMode::Extract);
    EXPECT_EQ(startupWorkingMode(WorkingMode::Extract, false, firstIs(false)), WorkingMode::Extract);
    EXPECT_EQ(checks, 0);
    EXPECT_FALSE(kArchiveModeOffered);
    EXPECT_EQ(startupWorkingMode(WorkingMode::Archive, true, firstIs(false)), WorkingMode::Archive);
    EXPECT_EQ(startupWorkingMode(WorkingMode::Archive, true, firstIs(true)), WorkingMode::Extract);
    EXPECT_EQ(startupWorkingMode(WorkingMode::Unset, true, firstIs(false)), WorkingMode::Extract);
    EXPECT_EQ(checks, 2);

    EXPECT_EQ(savablePosition(32767), 32767);
    EXPECT_EQ(savablePosition(-32768), -32768);
    EXPECT_FALSE(savablePosition(32768));
    EXPECT_FALSE(savablePosition(-40000));

    const QStringList entries{"a", "b", "b"};
    EXPECT_EQ(comboIndexForText(entries, ""), 0);
    EXPECT_EQ(comboIndexForText(entries, "b"), 1);
    EXPECT_EQ(comboIndexForText(entries, "zzz"), 0);

    // The status-bar toggles cycle and keep values they do not know.
    EXPECT_EQ(nextFolderNameMode(FolderNameMode::Automatic), FolderNameMode::Always);
    EXPECT_EQ(nextFolderNameMode(FolderNameMode::Always), FolderNameMode::Never);
    EXPECT_EQ(nextFolderNameMode(FolderNameMode::Never), FolderNameMode::Automatic);
    EXPECT_EQ(nextFolderNameMode(FolderNameMode(7)), FolderNameMode(7));
    EXPECT_EQ(nextDirectoryFlag(0), 1);
    EXPECT_EQ(nextDirectoryFlag(1), 0);
    EXPECT_EQ(nextDirectoryFlag(5), 5);
}

// Only a portable folder keeps the program's files beside the executable; an
// installed program (even started by root, who may write into /usr/bin) and an
// unmarked folder use the per-user configuration folder.
TEST(ProgramFolder, PortableOnlyWhenMarkedAndNeverWhereProgramsAreInstalled)
{
    TempHome home;
    ScopedVariable noHome("SALVO_HOME", QByteArray());
    const QString config = withTrailingSlash(xdgConfigHome()) + "SalvoExtractor/";
    EXPECT_TRUE(config.startsWith(home.root()));

    for (const char *name : {"plain", "marked", "older", "build"})
        QDir().mkpath(home.path(name));
    writeFile(home.path("marked/SalvoExtractor.portable"), "");
    writeFile(home.path("older/Salvo.ini"), "[GENERAL]\n");
    writeFile(home.path("build/CMakeCache.txt"), "");
    EXPECT_EQ(resolveMyPath(home.path("plain")), config);
    EXPECT_EQ(resolveMyPath(home.path("marked")), home.path("marked") + "/");
    EXPECT_EQ(resolveMyPath(home.path("older")), home.path("older") + "/");
    EXPECT_EQ(resolveMyPath(home.path("build")), home.path("build") + "/");
    // A marked folder that cannot be written to is no place for settings
    // (root writes anywhere).
    if (::geteuid() != 0) {
        ::chmod(QFile::encodeName(home.path("marked")).constData(), 0500);
        EXPECT_EQ(resolveMyPath(home.path("marked")), config);
        ::chmod(QFile::encodeName(home.path("marked")).constData(), 0700);
    }

    for (const char *system : {"/usr/bin", "/bin", "/usr/local/bin", "/opt/salvo", SALVO_INSTALL_PREFIX "/bin"}) {
        EXPECT_TRUE(isInstalledProgramFolder(system)) << system;
        EXPECT_EQ(resolveMyPath(system), config) << system;
    }
    EXPECT_FALSE(isInstalledProgramFolder(home.path("marked")));
}

TEST(StringTable, JapaneseAndEnglishSetsShareTheLayout)
{
    EXPECT_EQ(captionText(101), QStringLiteral("ファイル(&F)"));
    EXPECT_EQ(captionText(124), QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(&A)"));
    EXPECT_EQ(captionText(131), QStringLiteral("解凍(&S)"));
    EXPECT_EQ(captionText(141), QStringLiteral("圧縮(&S)"));
    EXPECT_EQ(captionText(231), QStringLiteral("Extract(&S)"));
    EXPECT_EQ(captionText(224), QStringLiteral("Version(&A)"));
    EXPECT_EQ(captionText(110), QString());
}

TEST(WorkFolder, EmptyingNeverFollowsALink)
{
    TempHome home;
    const QString tmp = workFolderPath(home.myPath());
    makeWorkFolder(home.myPath());
    writeFile(home.path("outside/keep.txt"), "keep");
    writeFile(home.path("outside/dir/keep.txt"), "keep");
    ASSERT_TRUE(QFile::link(home.path("outside"), tmp + "/to-folder"));
    ASSERT_TRUE(QFile::link(home.path("outside/keep.txt"), tmp + "/to-file"));
    writeFile(tmp + "/sub/deep/file", "x");
    ASSERT_TRUE(QFile::link(home.path("outside"), tmp + "/sub/deep/to-folder"));
    writeFile(tmp + "/locked/file", "x");
    ::chmod(QFile::encodeName(tmp + "/locked").constData(), 0);
    // A name that is not UTF-8 (CP932 bytes).
    const QByteArray raw = QFile::encodeName(tmp) + "/\x83\x65\x83\x58\x83\x67.txt";
    ::close(::open(raw.constData(), O_CREAT | O_WRONLY, 0600));

    emptyWorkFolder(home.myPath());
    QList<LocalFolderEntry> left;
    ASSERT_TRUE(listLocalFolder(tmp, &left));
    EXPECT_TRUE(left.isEmpty());
    EXPECT_EQ(readFile(home.path("outside/keep.txt")), "keep");
    EXPECT_EQ(readFile(home.path("outside/dir/keep.txt")), "keep");

    // The work folder itself a link: the link goes, what it points to stays.
    ASSERT_TRUE(QDir(tmp).removeRecursively());
    ASSERT_TRUE(QFile::link(home.path("outside"), tmp));
    emptyWorkFolder(home.myPath());
    EXPECT_EQ(readFile(home.path("outside/keep.txt")), "keep");
    EXPECT_EQ(readFile(home.path("outside/dir/keep.txt")), "keep");
    ASSERT_TRUE(QFile::link(home.path("outside"), tmp) || QFileInfo(tmp).isSymLink());
    makeWorkFolder(home.myPath());
    EXPECT_FALSE(QFileInfo(tmp).isSymLink());
    EXPECT_TRUE(QFileInfo(tmp).isDir());
    EXPECT_EQ(readFile(home.path("outside/keep.txt")), "keep");
}

} // namespace
