// The settings file layer: classic private-profile reading rules, writes that
// keep the rest of the file, and a write that fails leaving the old file intact.
#include "settings/ProfileFile.h"
#include "settings/Settings.h"
#include "platform/TextCodec.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace salvo;
using namespace salvo::test;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    TempHome home;
    QString iniPath = home.myPath() + "Salvo.ini";
    ProfileFile ini{iniPath};
};

TEST_F(SettingsTest, MissingFileReadsAsAbsentAndFirstWriteCreatesIt)
{
    EXPECT_EQ(ini.readText("GENERAL", "AlwaysPath"), "");
    EXPECT_EQ(ini.readText("GENERAL", "AlwaysPath", "dflt"), "dflt");
    EXPECT_EQ(ini.readInt("GENERAL", "SORT"), 0);
    EXPECT_EQ(ini.readInt("ARCHIVE_ZIP", "ArchiveLevel", 6), 6);
    EXPECT_FALSE(QFile::exists(iniPath));

    const Settings settings(home.myPath());
    EXPECT_EQ(settings.read(ini::kLzhArchiveLevel), "lh5");
    EXPECT_EQ(settings.read(ini::kBz2ArchiveLevel), 9);
    EXPECT_EQ(settings.read(ini::kUse7Zip), 0);

    ASSERT_TRUE(ini.writeText("GENERAL", "Use7ZIP", "1"));
    EXPECT_TRUE(QFile::exists(iniPath));
    EXPECT_EQ(settings.read(ini::kUse7Zip), 1); // "Use7ZIP" and "Use7Zip" are one key
}

TEST_F(SettingsTest, NamesMatchWithoutCaseAndTheFirstMatchWins)
{
    writeFile(iniPath, "[general]\n  use7zip = 2 \nUSE7ZIP=3\n[GENERAL]\nUse7Zip=4\nOther=x\n");
    EXPECT_EQ(ini.readInt("GENERAL", "Use7Zip"), 2);
    // Only the first section of that name is looked at.
    EXPECT_EQ(ini.readText("GENERAL", "Other", "absent"), "absent");
}

TEST_F(SettingsTest, TextsAreTrimmedUnquotedAndCutTo255)
{
    const QByteArray longValue(300, 'a');
    writeFile(iniPath, "[S]\nQuoted = \" padded \" \nSingle='x'\nHalf=\"open\nEmpty=\nLong=" + longValue + "\n");
    EXPECT_EQ(ini.readText("S", "Quoted"), " padded ");
    EXPECT_EQ(ini.readText("S", "Single"), "x");
    EXPECT_EQ(ini.readText("S", "Half"), "\"open");
    EXPECT_EQ(ini.readText("S", "Empty", "dflt"), ""); // present but empty is not absent
    EXPECT_EQ(ini.readText("S", "Long").size(), 255);
}

TEST_F(SettingsTest, IntegersReadLikeTheClassicReaderAndClampTo16Bits)
{
    writeFile(iniPath, "[S]\nA=70000\nB=-70000\nC=-5abc\nD=abc\nE=+12\nF=32767\nG=-32768\nH= 7 \n"
                       "I=99999999999999999999\nJ=\n");
    EXPECT_EQ(ini.readInt("S", "A"), 32767);
    EXPECT_EQ(ini.readInt("S", "B"), -32768);
    EXPECT_EQ(ini.readInt("S", "C"), -5);
    EXPECT_EQ(ini.readInt("S", "D", 9), 0); // present but not a number: 0, not the default
    EXPECT_EQ(ini.readInt("S", "E"), 12);
    EXPECT_EQ(ini.readInt("S", "F"), 32767);
    EXPECT_EQ(ini.readInt("S", "G"), -32768);
    EXPECT_EQ(ini.readInt("S", "H"), 7);
    EXPECT_EQ(ini.readInt("S", "I"), 32767);
    EXPECT_EQ(ini.readInt("S", "J", 5), 0);
    EXPECT_EQ(ini.readInt("S", "Missing", 5), 5);
}

TEST_F(SettingsTest, WritesKeepEveryOtherLineAndTheLineEndings)
{
    writeFile(iniPath, "; comment first\r\n[GENERAL]\r\nLeft=1\r\n; keep me\r\nTop=2\r\n\r\n[Other]\r\nx=y\r\n");
    ASSERT_TRUE(ini.writeText("general", "TOP", "30"));
    ASSERT_TRUE(ini.writeText("GENERAL", "New", "n"));
    ASSERT_TRUE(ini.writeText("Third", "k", "v"));
    EXPECT_EQ(readFile(iniPath), "; comment first\r\n[GENERAL]\r\nLeft=1\r\n; keep me\r\nTop=30\r\nNew=n\r\n\r\n"
                                 "[Other]\r\nx=y\r\n[Third]\r\nk=v\r\n");
}

TEST_F(SettingsTest, ALineBreakInAValueCannotAddKeys)
{
    ASSERT_TRUE(ini.writeText("GENERAL", "SoundFilePath", "a\n[GENERAL]\nUse7Zip=1"));
    EXPECT_EQ(ini.readInt("GENERAL", "Use7Zip", -1), -1);
    EXPECT_EQ(ini.readText("GENERAL", "SoundFilePath"), "a [GENERAL] Use7Zip=1");
}

TEST_F(SettingsTest, Cp932FileIsReadAndWrittenBackAsUtf8)
{
    const QByteArray cp932 = encodeCp932(QStringLiteral("[GENERAL]\r\nAlwaysPath=C:\\表示\\ソフト\r\nSORT=2\r\n"));
    ASSERT_FALSE(isValidUtf8(cp932));
    writeFile(iniPath, cp932);
    EXPECT_EQ(ini.readText("GENERAL", "AlwaysPath"), QStringLiteral("C:\\表示\\ソフト"));
    ASSERT_TRUE(ini.writeText("GENERAL", "SORT", "1"));
    const QByteArray after = readFile(iniPath);
    EXPECT_TRUE(isValidUtf8(after));
    EXPECT_EQ(QString::fromUtf8(after), QStringLiteral("[GENERAL]\r\nAlwaysPath=C:\\表示\\ソフト\r\nSORT=1\r\n"));
}

TEST_F(SettingsTest, HostileFilesNeverCrash)
{
    // A fixed seed: a failure can be repeated with the same bytes.
    QRandomGenerator random(20261209);
    QByteArray noise(10 * 1024 * 1024, '\0');
    for (char &c : noise)
        c = static_cast<char>(random.bounded(256));
    writeFile(iniPath, noise);
    EXPECT_EQ(ini.readInt("GENERAL", "SORT", 3), 3);
    EXPECT_LE(ini.readText("GENERAL", "AlwaysPath").size(), ProfileFile::kMaxTextLength);

    writeFile(iniPath, "[GENERAL]\nAlwaysPath=" + QByteArray(100000, 'x') + "\nSORT=2\n");
    EXPECT_EQ(ini.readText("GENERAL", "AlwaysPath").size(), 255);
    EXPECT_EQ(ini.readInt("GENERAL", "SORT"), 2);
    ASSERT_TRUE(ini.writeText("GENERAL", "SORT", "1"));
    EXPECT_EQ(ini.readInt("GENERAL", "SORT"), 1);
}

TEST_F(SettingsTest, AFileThatCannotBeReadIsNeverRewritten)
{
    // Too large to be a settings file, though it starts like one.
    QByteArray huge = "[GENERAL]\nSORT=2\n";
    huge.append(QByteArray(ProfileFile::kMaxFileSize, ';'));
    writeFile(iniPath, huge);
    EXPECT_TRUE(ini.isUnusable());
    EXPECT_EQ(ini.readInt("GENERAL", "SORT", 3), 3);
    EXPECT_FALSE(ini.writeText("GENERAL", "Left", "10"));
    EXPECT_TRUE(readFile(iniPath) == huge);

    // Not a regular file: never opened for reading (a FIFO would block), never replaced.
    QFile::remove(iniPath);
    ASSERT_EQ(::mkfifo(QFile::encodeName(iniPath).constData(), 0600), 0);
    EXPECT_TRUE(ini.isUnusable());
    EXPECT_EQ(ini.readText("GENERAL", "AlwaysPath", "default"), "default");
    EXPECT_FALSE(ini.writeText("GENERAL", "Left", "10"));
    EXPECT_FALSE(QFileInfo(iniPath).isFile());
    EXPECT_TRUE(QFileInfo(iniPath).exists());

    // A missing file is no fault: the first write makes it.
    QFile::remove(iniPath);
    EXPECT_FALSE(ini.isUnusable());
    EXPECT_TRUE(ini.writeText("GENERAL", "Left", "10"));
}

TEST_F(SettingsTest, AMissingFolderIsNoErrorForReadsAndAFailedWriteForWrites)
{
    const ProfileFile nowhere(home.path("no/such/folder/Salvo.ini"));
    EXPECT_EQ(nowhere.readInt("GENERAL", "SORT", 4), 4);
    EXPECT_FALSE(nowhere.writeText("GENERAL", "SORT", "1"));
}

TEST_F(SettingsTest, AFailedWriteLeavesTheOldFileByteForByte)
{
    QByteArray original = "[GENERAL]\nSORT=2\n";
    for (int i = 0; i < 4000; ++i)
        original += "Key" + QByteArray::number(i) + "=value\n";
    writeFile(iniPath, original);

    // Writes beyond 4 KiB fail (as on a full disk); root is not exempt from it.
    struct rlimit saved {};
    getrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = ini.writeText("GENERAL", "SORT", "1");
    setrlimit(RLIMIT_FSIZE, &saved);

    EXPECT_FALSE(written);
    EXPECT_EQ(readFile(iniPath), original);
    EXPECT_EQ(ini.readInt("GENERAL", "SORT"), 2);
}

TEST_F(SettingsTest, StoredNumbersAndTextsBecomeEnumsAndBack)
{
    const Settings settings(home.myPath());
    const std::pair<const char *, WorkingMode> modes[] = {
        {"Extract", WorkingMode::Extract}, {"Archive", WorkingMode::Archive},
        {"", WorkingMode::Unset}, {"extract", WorkingMode::Unset}};
    for (const auto &[text, mode] : modes) {
        ini.writeText("GENERAL", "SlvoStartUpMode", text);
        EXPECT_EQ(settings.startUpMode(), mode) << text;
    }
    settings.setStartUpMode(WorkingMode::Unset);
    EXPECT_EQ(ini.readText("GENERAL", "SlvoStartUpMode", "absent"), "");

    ini.writeText("EXTRACT_NORMAL", "FileNameFolder", "7");
    ini.writeText("EXTRACT_DDMODE", "FileNameFolder", "2");
    EXPECT_EQ(settings.folderNameMode(LaunchMode::Normal), FolderNameMode(7));
    EXPECT_EQ(settings.folderNameMode(LaunchMode::DdMode), FolderNameMode::Never);
    settings.setFolderNameMode(FolderNameMode::Always);
    EXPECT_EQ(ini.readInt("EXTRACT_NORMAL", "FileNameFolder"), 1);

    ini.writeText("EXTRACT_NORMAL", "OverWrite", "5");
    ini.writeText("EXTRACT_ARCVIEW", "OverWrite", "1");
    EXPECT_EQ(settings.overwritePolicy(LaunchMode::Normal), OverwritePolicy::Confirm);
    EXPECT_EQ(settings.overwritePolicy(LaunchMode::DdMode), OverwritePolicy::Overwrite);
    EXPECT_EQ(settings.viewerOverwritePolicy(), OverwritePolicy::Confirm);

    EXPECT_EQ(settings.storedTargetPlace(), TargetPlace::BesideArchive);
    ini.writeText("EXTRACT_NORMAL", "TargetPlace", QStringLiteral("デスクトップ"));
    EXPECT_EQ(settings.storedTargetPlace(), TargetPlace::Desktop);
    ini.writeText("EXTRACT_NORMAL", "TargetPlace", "somewhere");
    EXPECT_EQ(settings.storedTargetPlace(), TargetPlace::BesideArchive);
    settings.setStoredTargetPlace(TargetPlace::ProgramFiles);
    EXPECT_EQ(ini.readText("EXTRACT_NORMAL", "TargetPlace"), QStringLiteral("Program\u3000Files"));

    const std::pair<int, TargetPlace> ddPlaces[] = {{0, TargetPlace::Desktop}, {1, TargetPlace::BesideArchive},
                                                    {2, TargetPlace::UsualFolder}, {9, TargetPlace::Desktop}};
    for (const auto &[number, place] : ddPlaces) {
        ini.writeInt("DDMODE", "ExtractMode", number);
        EXPECT_EQ(settings.ddTargetPlace(), place) << number;
    }
    ini.writeText("GENERAL", "AlwaysPath", "/usual");
    ini.writeText("DDMODE", "TargetPath", "/dd");
    EXPECT_EQ(settings.usualFolder(LaunchMode::Normal), "/usual");
    EXPECT_EQ(settings.usualFolder(LaunchMode::DdMode), "/dd");

    ini.writeInt("EXTRACT_ARCVIEW", "Action", 1);
    ini.writeInt("EXTRACT_ARCVIEW", "TargetPlace", 3);
    EXPECT_EQ(settings.doubleClickAction(), DoubleClickAction::Extract);
    EXPECT_EQ(settings.viewerTargetPlace(), ViewerTargetPlace::Template);
}

} // namespace
