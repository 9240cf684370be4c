// The real SalvoExtractor binary: what start-up and shutdown write in each
// launch mode, and a second instance handing its files to the first.
#include "ui/main/MainWindow.h"
#include "ui/main/QueueView.h"
#include "app/HandoffProtocol.h"
#include "app/HandoffServer.h"
#include "settings/ProfileFile.h"
#include "settings/UserStore.h"
#include "support/ArchiveBuilder.h"
#include "support/TestEnvironment.h"
#include "support/TreeSnapshot.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListView>
#include <QProcess>
#include <QSettings>

#include <csignal>

using namespace salvo;
using namespace salvo::test;

namespace {

class StartupTest : public ::testing::Test {
protected:
    TempHome home;
    QString socketPath = home.path("runtime/") + kHandoffName;
    ProfileFile ini{home.myPath() + "Salvo.ini"};

    // Starts the program and waits until it serves hand-offs (start-up is over).
    std::unique_ptr<QProcess> start(const QStringList &args)
    {
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::ForwardedChannels);
        p->start(SALVO_BINARY, args);
        EXPECT_TRUE(p->waitForStarted(5000));
        return p;
    }
    bool waitUntilServing() { return waitUntil([&] { return instanceIsRunning(socketPath, 100); }); }
    void terminate(QProcess &p)
    {
        ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
        ASSERT_TRUE(p.waitForFinished(10000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 0);
    }
    QStringList keysOf(const QString &section)
    {
        QStringList keys;
        bool in = false;
        for (const QByteArray &line : readFile(ini.path()).split('\n')) {
            const QString l = QString::fromUtf8(line).trimmed();
            if (l.startsWith('['))
                in = l == "[" + section + "]";
            else if (in && l.contains('='))
                keys << l.section('=', 0, 0);
        }
        keys.sort();
        return keys;
    }
};

TEST_F(StartupTest, NormalStartAndCloseWriteExactlyTheWindowKeys)
{
    writeFile(home.myPath() + "tmp/leftover.txt", "x");
    writeFile(home.myPath() + "tmp/sub/deeper/file", "x");
    writeFile(home.myPath() + "tmp/.hidden", "x");
    QFile::setPermissions(home.myPath() + "tmp/leftover.txt", QFile::ReadOwner);
    ini.writeText("EXTRACT_NORMAL", "TargetPlace", QStringLiteral("デスクトップ"));
    ini.writeText("GENERAL", "Left", "1500");
    ini.writeText("GENERAL", "Top", "3000");

    auto p = start({});
    ASSERT_TRUE(waitUntilServing());
    terminate(*p);

    EXPECT_EQ(keysOf("GENERAL"), QStringList({"Left", "SlvoStartUpMode", "Top"}));
    EXPECT_EQ(keysOf("EXTRACT_NORMAL"), QStringList({"TargetPlace"}));
    EXPECT_EQ(keysOf("ARCHIVE_NORMAL"), QStringList({"ArchiveMethod", "ArchiveType"}));
    EXPECT_EQ(ini.readText("EXTRACT_NORMAL", "TargetPlace"), QStringLiteral("デスクトップ"));
    EXPECT_EQ(ini.readText("ARCHIVE_NORMAL", "ArchiveMethod"), "LZH");
    EXPECT_EQ(ini.readText("GENERAL", "SlvoStartUpMode"), "Extract");
    EXPECT_EQ(ini.readInt("GENERAL", "Left"), 1500);
    EXPECT_EQ(ini.readInt("GENERAL", "Top"), 3000);

    EXPECT_TRUE(QDir(home.myPath() + "tmp").exists());
    EXPECT_TRUE(QDir(home.myPath() + "tmp").isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    EXPECT_TRUE(QFile::exists(home.myPath() + "DllStatus.ini"));
}

TEST_F(StartupTest, DdModeRunSavesNoWindowStateAndRestoresShowResult)
{
    // The zip component present, with its own result window switched on.
    writeFile(home.path("components/unzip32.so"), "");
    qputenv("SALVO_COMPONENT_PATH", home.path("components").toLocal8Bit());
    const UserStore store;
    store.writeInt32(kUnzip32SettingsKey, "ShowResult", 5);
    writeFile(home.path("in/a.zip"), "PK");

    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(SALVO_BINARY, {"/DDMODE", home.path("in/a.zip")});
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_TRUE(keysOf("GENERAL").isEmpty());
    EXPECT_TRUE(keysOf("EXTRACT_NORMAL").isEmpty());
    EXPECT_TRUE(keysOf("ARCHIVE_NORMAL").isEmpty());
    EXPECT_EQ(store.readInt32(kUnzip32SettingsKey, "ShowResult"), 5);
}

// Every format, in each folder mode and to each DD-mode target.
class DdModeRunTest : public StartupTest, public ::testing::WithParamInterface<std::pair<int, int>> {
};

TEST_P(DdModeRunTest, ExtractsEveryFormatAndEnds)
{
    const auto [folderMode, extractMode] = GetParam();
    const auto file = [](const char *name, const QByteArray &data) { return Entry{name, data, EntryKind::File, {}}; };
    writeFile(home.path("in/a.zip"), writeArchive({file("a.txt", "zip")}, "zip"));
    writeFile(home.path("in/b.lzh"), storedLzh({{"b.txt", "lzh"}}, 0));
    writeFile(home.path("in/c.7z"), writeArchive({file("c.txt", "7z")}, "7zip"));
    writeFile(home.path("in/d.tar.gz"), writeArchive({file("d/d.txt", "tgz")}, "ustar", "gzip"));
    writeFile(home.path("in/e.txt.gz"), gzipWithName("single", "e.txt"));
    writeFile(home.path("in/bad.zip"), storedZip({{"bad.txt", "damaged", false, false, 0, true}}));
    QFile::copy(SALVO_SOURCE_DIR "/../shared/corpus/cab_1.cab", home.path("in/f.cab"));
    QFile::copy(SALVO_SOURCE_DIR "/../shared/corpus/rar5_stored.rar", home.path("in/g.rar"));
    ini.writeText("EXTRACT_DDMODE", "FileNameFolder", QString::number(folderMode));
    ini.writeText("EXTRACT_DDMODE", "DeleteArchive", "1");
    ini.writeText("DDMODE", "ExtractMode", QString::number(extractMode));
    ini.writeText("DDMODE", "TargetPath", home.path("out"));
    ini.writeText("GENERAL", "EndNotice", "1");
    ini.writeText("GENERAL", "ErrorSkip", "1");
    QDir().mkpath(home.path("out"));
    QDir().mkpath(home.path("userhome/Desktop"));

    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    QStringList args{"/DDMODE"};
    for (const char *n : {"a.zip", "b.lzh", "c.7z", "d.tar.gz", "e.txt.gz", "bad.zip", "f.cab", "g.rar"})
        args << home.path(QString("in/") + n);
    p.start(SALVO_BINARY, args);
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0);

    const QString base = extractMode == 0 ? home.path("userhome/Desktop") : extractMode == 1 ? home.path("in") : home.path("out");
    // Folder mode 1 always makes a folder; 2 never; 0 only for archives without one top
    // folder (a single file at the top counts as one).
    auto at = [&](const char *folder, const char *file) {
        return readFile(base + (folderMode == 1 ? QString("/") + folder : QString()) + "/" + file);
    };
    EXPECT_EQ(at("a", "a.txt"), "zip");
    EXPECT_EQ(at("b", "b.txt"), "lzh");
    EXPECT_EQ(at("c", "c.txt"), "7z");
    EXPECT_EQ(readFile(base + (folderMode == 1 ? "/d.tar" : "") + "/d/d.txt"), "tgz");
    EXPECT_EQ(at("e.txt", "e.txt"), "single");
    EXPECT_FALSE(snapshot(base).empty());
    // Extracted archives are gone; the damaged one stays, and nothing of it.
    EXPECT_FALSE(QFile::exists(home.path("in/a.zip")));
    EXPECT_FALSE(QFile::exists(home.path("in/g.rar")));
    EXPECT_FALSE(QFile::exists(home.path("in/f.cab")));
    EXPECT_TRUE(QFile::exists(home.path("in/bad.zip")));
    EXPECT_FALSE(QFile::exists(base + "/bad.txt"));
    EXPECT_FALSE(QFile::exists(base + "/bad/bad.txt"));
    // A DD-mode run saves no window state.
    EXPECT_TRUE(keysOf("ARCHIVE_NORMAL").isEmpty());
}

INSTANTIATE_TEST_SUITE_P(FolderModesAndTargets, DdModeRunTest,
                         ::testing::Values(std::pair{1, 2}, std::pair{0, 2}, std::pair{2, 2}, std::pair{1, 0},
                                           std::pair{1, 1}));

TEST_F(StartupTest, ATerminationSignalDuringARunEndsItCleanly)
{
    // An archive that takes a while, one after it, and an output folder that is
    // not empty (so the extraction writes into a staging folder first).
    writeFile(home.path("in/big.bin.gz"), longGzip(256));
    writeFile(home.path("in/after.zip"), writeArchive({{"after.txt", "x", EntryKind::File, {}}}, "zip"));
    writeFile(home.path("out/keep.txt"), "keep");
    ini.writeText("DDMODE", "ExtractMode", "2");
    ini.writeText("DDMODE", "TargetPath", home.path("out"));
    ini.writeText("EXTRACT_DDMODE", "FileNameFolder", "2");
    ini.writeText("EXTRACT_DDMODE", "DeleteArchive", "1");
    ini.writeText("GENERAL", "EndNotice", "1");
    const QByteArray settingsBefore = readFile(ini.path());

    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(SALVO_BINARY, {"/DDMODE", home.path("in/big.bin.gz"), home.path("in/after.zip")});
    ASSERT_TRUE(p.waitForStarted(5000));
    const auto outputEntries = [&] {
        return QDir(home.path("out")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    };
    // The extraction has begun.
    ASSERT_TRUE(waitUntil([&] { return outputEntries().size() > 1; }, 60000)) << "no extraction seen";
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
    // Nothing half-written is left, both archives stay, the next was not begun,
    // and a DD-mode run writes no settings.
    EXPECT_EQ(outputEntries(), QStringList({"keep.txt"}));
    EXPECT_TRUE(QFile::exists(home.path("in/big.bin.gz")));
    EXPECT_TRUE(QFile::exists(home.path("in/after.zip")));
    EXPECT_TRUE(readFile(ini.path()) == settingsBefore);
}

TEST_F(StartupTest, TheCompletionSoundNeverTakesTheProgramDown)
{
    // Whatever the media back-end of this machine does with it.
    writeFile(home.path("in/a.zip"), writeArchive({{"a.txt", "x", EntryKind::File, {}}}, "zip"));
    // A tenth of a second of silence: 8 kHz, 8 bits, one channel.
    const QByteArray samples(800, char(0x80));
    QByteArray wav;
    const auto le = [&wav](quint32 v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            wav.append(char((v >> (8 * i)) & 0xff));
    };
    wav.append("RIFF");
    le(36 + samples.size(), 4);
    wav.append("WAVEfmt ");
    le(16, 4), le(1, 2), le(1, 2), le(8000, 4), le(8000, 4), le(1, 2), le(8, 2);
    wav.append("data");
    le(samples.size(), 4);
    wav.append(samples);
    writeFile(home.path("done.wav"), wav);
    ini.writeText("GENERAL", "UseSound", "1");
    ini.writeText("GENERAL", "SoundFilePath", home.path("done.wav"));
    ini.writeText("GENERAL", "EndNotice", "1");
    ini.writeText("DDMODE", "ExtractMode", "1");
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(SALVO_BINARY, {"/DDMODE", home.path("in/a.zip")});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_EQ(readFile(home.path("in/a.txt")), "x");
}

TEST_F(StartupTest, NormalCloseRestoresShowResultOnlyWhenItWasSet)
{
    writeFile(home.path("components/unzip32.so"), "");
    qputenv("SALVO_COMPONENT_PATH", home.path("components").toLocal8Bit());
    const UserStore store;
    auto p = start({});
    ASSERT_TRUE(waitUntilServing());
    // While the program runs the component is told to show nothing.
    EXPECT_TRUE(waitUntil([&] { return store.readInt32(kUnzip32SettingsKey, "ShowResult") == 0; }));
    terminate(*p);
    // It was absent before: the program leaves its 0.
    EXPECT_EQ(store.readInt32(kUnzip32SettingsKey, "ShowResult"), 0);
}

TEST_F(StartupTest, SettingsOnlyLaunchEndsWithItsDialog)
{
    auto p = start({"/DDMODE"});
    ASSERT_TRUE(waitUntilServing());
    terminate(*p);
    // Closing the dialog closed the hidden main window: the drop-downs are saved,
    // the working mode only in a normal launch.
    EXPECT_EQ(ini.readText("EXTRACT_NORMAL", "TargetPlace"), QStringLiteral("書庫のある場所"));
    EXPECT_EQ(ini.readText("GENERAL", "SlvoStartUpMode", "absent"), "absent");
}

TEST_F(StartupTest, ASecondInstanceHandsItsFilesToTheFirstAndEnds)
{
    writeFile(home.path(QStringLiteral("in/表 ソ.zip")), "PK");
    writeFile(home.path("in/b.lzh"), "-lh");

    // The first instance lives in this process so that its queue can be read.
    MainWindow window(home.myPath(), LaunchMode::Normal);
    HandoffServer server(socketPath);
    ASSERT_TRUE(server.listen());
    QObject::connect(&server, &HandoffServer::received, &window, &MainWindow::receiveHandoff);

    for (const QStringList &args : {QStringList{home.path(QStringLiteral("in/表 ソ.zip")), home.path("in/b.lzh")},
                                    QStringList{"/DDMODE", home.path("in/b.lzh")}, QStringList{}}) {
        QProcess second;
        second.setProcessChannelMode(QProcess::ForwardedChannels);
        second.start(SALVO_BINARY, args);
        // The event loop must run for the first instance to take the message.
        ASSERT_TRUE(waitUntil([&] { return second.state() == QProcess::NotRunning; }));
        EXPECT_EQ(second.exitCode(), 0);
    }
    ASSERT_TRUE(waitUntil([&] { return window.queue().size() == 3; }));
    EXPECT_EQ(window.queue().entries(), QStringList({home.path(QStringLiteral("in/表 ソ.zip")), home.path("in/b.lzh"),
                                                   home.path("in/b.lzh")}));
    EXPECT_EQ(window.queueView()->list()->model()->rowCount(), 3);
    // A second instance never writes settings.
    EXPECT_FALSE(QFile::exists(ini.path()));
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
