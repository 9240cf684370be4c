// The real SalvoExtractor binary: what start-up and shutdown write in each
// launch mode, and a second instance handing its files to the first.
#include "ui/Application.h"
#include "ui/main/MainWindow.h"
#include "ui/main/QueueView.h"
#include "ui/options/GeneralOptionsDialog.h"
#include "app/HandoffProtocol.h"
#include "app/HandoffServer.h"
#include "platform/LocalPath.h"
#include "platform/UserIdentity.h"
#include "settings/ProfileFile.h"
#include "settings/UserStore.h"
#include "support/ArchiveBuilder.h"
#include "support/ModalWatcher.h"
#include "support/TestEnvironment.h"
#include "support/RealArchives.h"
#include "support/TreeSnapshot.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListView>
#include <QProcess>
#include <QSettings>

#include <algorithm>
#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace salvo;
using namespace salvo::test;

namespace {

class StartupTest : public ::testing::Test {
protected:
    TempHome home;
    HandoffPlace place = handoffPlaceIn(home.path("runtime"), currentUid());
    ProfileFile ini{home.myPath() + "Salvo.ini"};

    // Starts the program; its standard error is kept for notices().
    std::unique_ptr<QProcess> start(const QStringList &args, const QString &folder = {})
    {
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::ForwardedOutputChannel);
        if (!folder.isEmpty())
            p->setWorkingDirectory(folder);
        p->start(SALVO_BINARY, args);
        EXPECT_TRUE(p->waitForStarted(5000));
        return p;
    }
    // Starts the program through the shell, for names that are not UTF-8:
    // `script` gets the program as $0.
    std::unique_ptr<QProcess> startInShell(const QString &script, const QString &folder = {})
    {
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::ForwardedOutputChannel);
        if (!folder.isEmpty())
            p->setWorkingDirectory(folder);
        p->start("/bin/sh", {"-c", script, SALVO_BINARY});
        EXPECT_TRUE(p->waitForStarted(5000));
        return p;
    }
    // A shell word that gives exactly these bytes.
    static QString shellBytes(const QByteArray &bytes)
    {
        QString word = "\"$(printf '";
        for (char c : bytes)
            word += QString::asprintf("\\%03o", static_cast<unsigned char>(c));
        return word + "')\"";
    }
    // Waits until the program has said `text` on its standard error.
    bool waitForNotice(QProcess &p, const QString &text)
    {
        QByteArray said;
        return waitUntil([&] {
            said += p.readAllStandardError();
            return said.contains(text.toUtf8());
        });
    }
    bool waitUntilServing(const HandoffPlace &at) { return waitUntil([&] { return instanceIsRunning(at, 100); }); }
    bool waitUntilServing() { return waitUntilServing(place); }
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

    EXPECT_EQ(keysOf("GENERAL"), QStringList({"Height", "Left", "SlvoStartUpMode", "Top", "Width"}));
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
    // The DD-mode target: an archive that cannot be listed gets a folder of its own there.
    QDir().mkpath(home.path("userhome/Desktop"));

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
    ASSERT_TRUE(makeToolArchive("cab_stored.cab", home.path("in/f.cab")));
    ASSERT_TRUE(QFile::copy(storedArchive("rar5_stored.rar"), home.path("in/g.rar")));
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
    EXPECT_EQ(at("g", "helloworld.txt"), "hello libarchive test suite!\n");
    // Three entries at the top: a folder of its own unless folders are never made.
    EXPECT_TRUE(readFile(base + (folderMode == 2 ? "" : "/f") + "/dir2/file2").startsWith("file 2 contents"));
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
    // The whole program in this process: closing the dialog must end it.
    ModalWatcher dialog;
    dialog.arm({}, [](QWidget *w) { return qobject_cast<GeneralOptionsDialog *>(w) != nullptr; });
    EXPECT_EQ(runSalvoExtractor(*qApp, {"/DDMODE"}), 0);
    EXPECT_TRUE(dialog.answered());
    // Closing the dialog closed the hidden main window: the drop-downs are saved,
    // the working mode only in a normal launch.
    EXPECT_EQ(ini.readText("EXTRACT_NORMAL", "TargetPlace"), QStringLiteral("書庫のある場所"));
    EXPECT_EQ(ini.readText("GENERAL", "SlvoStartUpMode", "absent"), "absent");
    EXPECT_FALSE(instanceIsRunning(place, 100));
}

TEST_F(StartupTest, ASecondInstanceHandsItsFilesToTheFirstAndEnds)
{
    const QString in = home.path("in");
    writeFile(in + QStringLiteral("/表 ソ.zip"), "PK");
    writeFile(in + "/b.lzh", "-lh");
    writeFile(in + "/say \"hi\".zip", "PK");
    writeFile(in + "/say", "not this one");
    writeFile(in + "/a.zip", "PK");
    writeFile(in + "/c.zip", "PK");
    const QByteArray raw = QFile::encodeName(in) + "/\x83\x65\x83\x58\x83\x67.zip"; // CP932, not UTF-8
    ::close(::open(raw.constData(), O_CREAT | O_WRONLY, 0600));
    // The first instance's current folder holds other files of the same names.
    writeFile(home.path("decoy/b.lzh"), "-lh");
    writeFile(home.path("decoy/a.zip"), "PK");
    const QString savedFolder = QDir::currentPath();
    QDir::setCurrent(home.path("decoy"));

    // The first instance lives in this process so that its queue can be read.
    MainWindow window(home.myPath(), LaunchMode::Normal);
    HandoffServer server(place);
    ASSERT_EQ(server.claim(), HandoffServer::Claim::Listening);
    QObject::connect(&server, &HandoffServer::received, &window, &MainWindow::receiveHandoff);

    QStringList many;
    for (int i = 0; i < 5000; ++i) { // over 1 MiB of names, each file once
        many << in + "/" + QString(200, 'n') + QString::number(i) + ".zip";
        writeFile(many.last(), "PK");
    }
    std::vector<std::unique_ptr<QProcess>> seconds;
    seconds.push_back(start({in + QStringLiteral("/表 ソ.zip"), in + "/b.lzh"}));
    seconds.push_back(start({"/DDMODE", in + "/b.lzh"}));
    seconds.push_back(start({}));
    seconds.push_back(start({"b.lzh"}, in));                                 // relative to the sender
    seconds.push_back(start({in + "/say \"hi\".zip"}));                      // quotes are part of the name
    seconds.push_back(start({"-session", "a.zip", "-stylesheet", "c.zip"}, in)); // nothing for Qt
    seconds.push_back(startInShell("exec \"$0\" " + shellBytes(raw)));
    seconds.push_back(start(many));
    QStringList expected{in + QStringLiteral("/表 ソ.zip"), in + "/b.lzh", in + "/b.lzh", in + "/b.lzh",
                         in + "/say \"hi\".zip", in + "/a.zip", in + "/c.zip", pathFromLocalBytes(raw)};
    expected += many;
    for (auto &second : seconds) {
        // The event loop must run for the first instance to take the files, one
        // sender after the other so that the order is known.
        ASSERT_TRUE(waitUntil([&] { return second->state() == QProcess::NotRunning; }, 60000));
        EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second->exitCode(), 0);
    }
    QDir::setCurrent(savedFolder);
    ASSERT_TRUE(waitUntil([&] { return window.queue().size() >= expected.size(); }));
    QStringList queued = window.queue().entries();
    // The senders ran at once: compare the small ones as a set, the long list whole.
    EXPECT_EQ(queued.mid(queued.size() - many.size()), many);
    QStringList head = queued.mid(0, queued.size() - many.size());
    QStringList want = expected.mid(0, expected.size() - many.size());
    head.sort();
    want.sort();
    EXPECT_EQ(head, want);
    EXPECT_EQ(localBytesOfPath(queued.at(queued.indexOf(pathFromLocalBytes(raw)))), raw);
    // A second instance never writes settings.
    EXPECT_FALSE(QFile::exists(ini.path()));
}

TEST_F(StartupTest, AnInstanceThatTakesNoFilesLeavesThemToTheirSender)
{
    ini.writeText("DDMODE", "ExtractMode", "2");
    ini.writeText("DDMODE", "TargetPath", home.path("out"));
    ini.writeText("DDMODE", "OverWrite", "1");
    ini.writeText("EXTRACT_DDMODE", "FileNameFolder", "1");
    ini.writeText("EXTRACT_DDMODE", "DeleteArchive", "1");
    ini.writeText("GENERAL", "EndNotice", "1");
    const auto file = [](const char *name, const QByteArray &data) { return Entry{name, data, EntryKind::File, {}}; };
    writeFile(home.path("in/a.zip"), writeArchive({file("a.txt", "a")}, "zip"));
    writeFile(home.path("in/c.zip"), writeArchive({file("c.txt", "c")}, "zip"));
    // An archive named in CP932 bytes, as a Japanese tool leaves it.
    const QByteArray raw = QFile::encodeName(home.path("in")) + "/\x83\x65\x83\x58\x83\x67.zip";
    writeFile(home.path("in/t.zip"), writeArchive({file("t.txt", "raw")}, "zip"));
    ASSERT_EQ(::rename(QFile::encodeName(home.path("in/t.zip")).constData(), raw.constData()), 0);
    const QByteArray rawFolder = QFile::encodeName(home.path("out")) + "/\x83\x65\x83\x58\x83\x67";

    // A DD-mode run that waits on a question (a.txt is there already) takes no
    // files: a DD-mode start runs its own batch, also for a name that is not UTF-8.
    writeFile(home.path("out/a/a.txt"), "old");
    auto ddRun = start({"/DDMODE", home.path("in/a.zip")});
    ASSERT_TRUE(waitUntilServing());
    auto own = startInShell("exec \"$0\" /DDMODE " + shellBytes(raw));
    ASSERT_TRUE(own->waitForFinished(60000));
    EXPECT_EQ(own->exitCode(), 0);
    QFile extracted;
    const int fd = ::open((rawFolder + "/t.txt").constData(), O_RDONLY);
    ASSERT_TRUE(extracted.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
    EXPECT_EQ(extracted.readAll(), "raw");
    EXPECT_FALSE(localPathExists(pathFromLocalBytes(raw))); // extracted whole, then deleted
    EXPECT_EQ(ddRun->state(), QProcess::Running);
    terminate(*ddRun);

    // Nor does the settings dialog alone.
    auto settingsOnly = start({"/DDMODE"});
    ASSERT_TRUE(waitUntilServing());
    auto ownC = start({"/DDMODE", home.path("in/c.zip")});
    ASSERT_TRUE(ownC->waitForFinished(60000));
    EXPECT_EQ(ownC->exitCode(), 0);
    EXPECT_EQ(readFile(home.path("out/c/c.txt")), "c");
    // A normal start opens a window of its own.
    auto window = start({home.path("in/a.zip")});
    ASSERT_TRUE(waitForNotice(*window, "takes no files"));
    terminate(*window);
    EXPECT_EQ(ini.readText("GENERAL", "SlvoStartUpMode"), "Extract");
    terminate(*settingsOnly);
}

TEST_F(StartupTest, SimultaneousStartsMakeExactlyOneInstance)
{
    std::vector<std::unique_ptr<QProcess>> all;
    for (int i = 0; i < 6; ++i) {
        writeFile(home.path(QStringLiteral("in/f%1.zip").arg(i)), "PK");
        all.push_back(start({home.path(QStringLiteral("in/f%1.zip").arg(i))}));
    }
    auto running = [&] {
        return std::count_if(all.begin(), all.end(), [](auto &p) { return p->state() != QProcess::NotRunning; });
    };
    ASSERT_TRUE(waitUntil([&] { return running() == 1; }, 60000));
    for (auto &p : all) {
        if (p->state() == QProcess::NotRunning) {
            EXPECT_EQ(p->exitCode(), 0);
        }
    }
    // The one left serves the others, with its socket in place.
    EXPECT_TRUE(instanceIsRunning(place));
    auto late = start({home.path("in/f0.zip")});
    ASSERT_TRUE(late->waitForFinished(30000));
    EXPECT_EQ(late->exitCode(), 0);
    for (auto &p : all) {
        if (p->state() != QProcess::NotRunning)
            terminate(*p);
    }
}

TEST_F(StartupTest, ALongRuntimeFolderFallsBackToAPrivateOne)
{
    const QString deep = home.path("runtime/") + QString(110, 'r');
    QDir().mkpath(deep);
    ::chmod(QFile::encodeName(deep).constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(deep));
    const ScopedVariable tmp("TMPDIR", QFile::encodeName(home.path("cache")));
    writeFile(home.path("in/a.zip"), "PK");

    auto first = start({});
    const HandoffPlace fallback = handoffPlaceIn(home.path("cache/SalvoExtractor-") + currentUserId(), currentUid());
    ASSERT_TRUE(waitUntilServing(fallback));
    struct stat st {};
    ASSERT_EQ(::lstat(QFile::encodeName(fallback.folder).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    auto second = start({home.path("in/a.zip")});
    ASSERT_TRUE(second->waitForFinished(30000));
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_EQ(first->state(), QProcess::Running);
    terminate(*first);
}

TEST_F(StartupTest, AnotherUserCannotTakeTheHandoff)
{
    // Needs a second user for real: root runs the listener as "nobody".
    if (::geteuid() != 0 || !QFileInfo::exists("/usr/bin/setpriv") || !QFileInfo::exists("/usr/bin/python3"))
        GTEST_SKIP() << "needs root and setpriv to act as another user";
    // A shared temporary folder like /tmp, and no XDG_RUNTIME_DIR.
    const QString shared = home.path("shared");
    QDir().mkpath(shared);
    ::chmod(QFile::encodeName(home.root()).constData(), 0755);
    ::chmod(QFile::encodeName(shared).constData(), 01777);
    qunsetenv("XDG_RUNTIME_DIR");
    const ScopedVariable tmp("TMPDIR", QFile::encodeName(shared));
    writeFile(home.path("in/secret.zip"), "PK");

    // The other user listens where the victim's instances would meet, under
    // every name it can guess, and writes down whatever it is sent.
    const QString heard = shared + "/heard";
    const QString script = QStringLiteral(
        "import os, socket, sys, select\n"
        "d = sys.argv[1] + '/SalvoExtractor-0'\n"
        "os.mkdir(d); os.chmod(d, 0o777)\n"
        "names = [d + '/%1', sys.argv[1] + '/%1-0']\n"
        "socks = []\n"
        "for n in names:\n"
        "    s = socket.socket(socket.AF_UNIX); s.bind(n); os.chmod(n, 0o777); s.listen(8); socks.append(s)\n"
        "open(sys.argv[1] + '/ready', 'w').close()\n"
        "while True:\n"
        "    r, _, _ = select.select(socks, [], [])\n"
        "    for s in r:\n"
        "        c, _ = s.accept(); c.settimeout(2)\n"
        "        try: data = c.recv(65536)\n"
        "        except Exception: data = b''\n"
        "        open(sys.argv[2], 'ab').write(b'connected:' + data)\n").arg(QLatin1String(kHandoffName));
    QProcess squatter;
    squatter.setProcessChannelMode(QProcess::ForwardedChannels);
    squatter.start("/usr/bin/setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", "/usr/bin/python3", "-c",
                                        script, shared, heard});
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(shared + "/ready"); }));

    auto victim = start({home.path("in/secret.zip")});
    // The folder is refused: the victim's program opens its own window and
    // sends nothing anywhere.
    ASSERT_TRUE(waitForNotice(*victim, "no hand-off between instances"));
    EXPECT_EQ(victim->state(), QProcess::Running);
    terminate(*victim);
    squatter.kill();
    squatter.waitForFinished(5000);
    EXPECT_FALSE(QFile::exists(heard)) << readFile(heard).toStdString();
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
