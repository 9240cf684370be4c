// Launch-mode classification of the command line and the start-up rules that
// need no window.
#include "app/LaunchRequest.h"
#include "app/MainWindowState.h"
#include "app/StringTable.h"

#include <gtest/gtest.h>

using namespace salvo;

namespace {

struct Case {
    const char *line;
    bool running;
    LaunchMode mode;
    const char *fileList;
};

TEST(LaunchMode, EveryFormOfTheCommandLine)
{
    const Case cases[] = {
        {"", false, LaunchMode::Normal, ""},
        {"   ", false, LaunchMode::Normal, ""},
        {"/DDMODE", false, LaunchMode::DdModeSetting, ""},
        {"  /DDMODE  ", false, LaunchMode::DdModeSetting, ""},
        {"/DDMODE /a/b.zip", false, LaunchMode::DdMode, "/a/b.zip"},
        {"/DDMODE \"/a b/c.lzh\" /d.zip", false, LaunchMode::DdMode, "\"/a b/c.lzh\" /d.zip"},
        // With an instance running the files go there, in a normal launch.
        {"/DDMODE /a/b.zip", true, LaunchMode::Normal, "/a/b.zip"},
        // The switch is exact and case-sensitive.
        {"/ddmode /a/b.zip", false, LaunchMode::Normal, "/ddmode /a/b.zip"},
        {"/DdMode", false, LaunchMode::Normal, "/DdMode"},
        {"/a/b.zip /c.rar", false, LaunchMode::Normal, "/a/b.zip /c.rar"},
    };
    for (const Case &c : cases) {
        const LaunchRequest r = classifyCommandLine(QString::fromUtf8(c.line), c.running);
        EXPECT_EQ(r.mode, c.mode) << c.line;
        EXPECT_EQ(r.fileList, QString::fromUtf8(c.fileList)) << c.line;
    }
    EXPECT_EQ(launchModeName(LaunchMode::DdModeSetting), "DDMODE_SETTING");
}

TEST(LaunchMode, ArgumentsWithBlanksAreQuotedWhenJoined)
{
    EXPECT_EQ(joinCommandLine({"/DDMODE", "/my files/a.zip", "/b.zip"}), "/DDMODE \"/my files/a.zip\" /b.zip");
    EXPECT_EQ(joinCommandLine({}), "");
    EXPECT_EQ(joinCommandLine({"/DDMODE"}), "/DDMODE");
}

TEST(StartupRules, WorkingModePositionsAndDropDowns)
{
    EXPECT_EQ(startupWorkingMode(WorkingMode::Archive, true, false), WorkingMode::Archive);
    EXPECT_EQ(startupWorkingMode(WorkingMode::Archive, false, true), WorkingMode::Extract);
    EXPECT_EQ(startupWorkingMode(WorkingMode::Unset, true, false), WorkingMode::Extract);
    EXPECT_EQ(startupWorkingMode(WorkingMode::Unset, false, false), WorkingMode::Extract);

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

} // namespace
