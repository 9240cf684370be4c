// The process runner and the two console extractors, with stand-in programs
// that print what rk and yz2dec print.
#include "archivers/Availability.h"
#include "archivers/ArchiveProbe.h"
#include "archivers/ConsoleExtractors.h"
#include "engine/ProcessRunner.h"
#include "engine/RunLog.h"
#include "platform/ProgramFolder.h"
#include "platform/TerminationSignal.h"
#include "support/ComponentLib.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSet>

#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace salvo;
using namespace salvo::test;

namespace {

void program(const QString &path, const QByteArray &script)
{
    writeFile(path, "#!/bin/sh\n" + script);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// A stand-in that never ends on its own: it says through a FIFO that it runs,
// so that whoever stops it waits for that moment itself, and it leaves a mark
// only if it ever gets to its end.
class EndlessProgram {
public:
    EndlessProgram(const QString &path, const QString &folder)
        : m_started(folder + "/started"), m_ended(folder + "/ended")
    {
        ::mkfifo(QFile::encodeName(m_started).constData(), 0600);
        program(path, "echo started > '" + QFile::encodeName(m_started) + "'\nsleep 60\necho > '"
                          + QFile::encodeName(m_ended) + "'\n");
    }
    // Blocks until the program runs; false when it was let go without it.
    bool waitForStart()
    {
        const int fd = ::open(QFile::encodeName(m_started).constData(), O_RDONLY | O_CLOEXEC);
        char c = 0;
        const bool said = fd >= 0 && ::read(fd, &c, 1) == 1;
        if (fd >= 0)
            ::close(fd);
        return said;
    }
    // Lets a waiter go when the program never started.
    void release() const
    {
        const int fd = ::open(QFile::encodeName(m_started).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0)
            ::close(fd);
    }
    bool ended() const { return QFile::exists(m_ended); }

private:
    QString m_started, m_ended;
};

TEST(QuoteIfBlank, BlanksNulAndLength)
{
    EXPECT_EQ(quoteIfBlank("/a/b.rk"), "/a/b.rk");
    EXPECT_EQ(quoteIfBlank("/a b/c.rk"), "\"/a b/c.rk\"");
    EXPECT_EQ(quoteIfBlank(QString("/a/b") + QChar(0) + "c d"), "/a/b");
    EXPECT_EQ(quoteIfBlank(QString(300, 'x')).size(), 260);
    EXPECT_EQ(splitArguments("-x \"a b\" c"), QStringList({"-x", "a b", "c"}));
}

TEST(ProcessRunner, SplitsAtTheFirstPrefixThatNamesAFileAndWaits)
{
    TempHome home;
    const QString tool = home.path("my tools/prog");
    program(tool, "for a in \"$@\"; do printf '%s|' \"$a\"; done > \"$OUT\"\n");
    qputenv("OUT", home.path("args.txt").toLocal8Bit());
    ProcessRunner runner;
    ASSERT_TRUE(runner.runAndWait(tool + " one \"two three\" four"));
    EXPECT_EQ(readFile(home.path("args.txt")), "one|two three|four|");
    // A hostile archive name is only ever an argument.
    ASSERT_TRUE(runner.runAndWait(tool + " \"a.rk; touch " + home.path("pwned") + "\""));
    EXPECT_FALSE(QFile::exists(home.path("pwned")));

    QStringList opened;
    ProcessRunner::setDesktopOpener([&](const QString &p) {
        opened << p;
        return true;
    });
    EXPECT_TRUE(runner.start(home.path("my tools")));
    EXPECT_EQ(opened, QStringList({home.path("my tools")}));
    EXPECT_FALSE(runner.start(home.path("missing folder")));
}

TEST(ProcessRunner, AChildGetsNoDescriptorOfTheProgramAndThePrivateFilesStayPrivate)
{
    TempHome home;
    int argc = 1;
    char name[] = "process_runner_test";
    char *argv[] = {name, nullptr};
    std::unique_ptr<QCoreApplication> app;
    if (!QCoreApplication::instance())
        app = std::make_unique<QCoreApplication>(argc, argv);
    auto openFds = [](const QString &listing) {
        QSet<QString> fds;
        for (const QString &line : listing.split('\n', Qt::SkipEmptyParts))
            fds.insert(line);
        return fds;
    };
    // Descriptors this test process came with (its own environment's) may go on.
    const QSet<QString> inherited = openFds(QDir("/proc/self/fd").entryList(QDir::AllEntries | QDir::NoDotAndDotDot).join('\n'));
    // What the program holds open while it runs: the termination socket, the
    // run log, a decoder of a component.
    onTerminationRequest([] {});
    RunLog log(home.myPath());
    ASSERT_TRUE(log.open());
    ComponentLib zip("unzip32.so", "UnZip");
    ASSERT_NE(zip.count(home.path("none.zip").toStdString()), 1234);

    program(home.path("fds"), "exec ls /proc/self/fd > \"$1\"\n");
    ASSERT_TRUE(ProcessRunner().runAndWait(home.path("fds") + " " + home.path("fds.txt")));
    // Standard input, output and error, the folder ls itself reads, and what
    // the test came with.
    const QSet<QString> child = openFds(QString::fromUtf8(readFile(home.path("fds.txt"))));
    EXPECT_TRUE((child - inherited - QSet<QString>{"0", "1", "2", "3"}).isEmpty())
        << QStringList((child - inherited).values()).join(' ').toStdString();

    // The log and the program folder (here one that was made open) are
    // their owner's only.
    auto mode = [](const QString &path) {
        struct stat st {};
        ::stat(QFile::encodeName(path).constData(), &st);
        return st.st_mode & 0777;
    };
    EXPECT_EQ(mode(home.myPath() + "Log.txt"), 0600u);
    ::chmod(QFile::encodeName(home.myPath()).constData(), 0755);
    EXPECT_EQ(mode(resolveMyPath(home.path("x"))), 0700u);
}

TEST(ProcessRunner, TheCancelFlagEndsTheWait)
{
    TempHome home;
    EndlessProgram endless(home.path("forever"), home.root());
    ProcessRunner runner;
    bool started = false;
    std::thread stopper([&] {
        started = endless.waitForStart();
        runner.cancel = true;
    });
    EXPECT_TRUE(runner.runAndWait(home.path("forever")));
    endless.release();
    stopper.join();
    EXPECT_TRUE(started);
    EXPECT_FALSE(endless.ended());
}

class ConsoleTest : public ::testing::Test {
protected:
    TempHome home;
    QString bin = home.path("bin/");
    ConsoleExtractors console{home.myPath(), bin, bin};

    ConsoleTest()
    {
        program(bin + "rk",
                "case \"$1\" in\n"
                "  '') echo 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcd1.03 (beta) !' ;;\n"
                "  -i) case \"$2\" in *good*) echo 'Integrity check OK.' ;; *) echo 'CRC error' ;; esac ;;\n"
                "  -va) printf 'h1\\nh2\\nh3\\nh4\\nh5\\nh6\\nh7\\na.txt 100 50 50%%\\nsub dir/b.txt 200 100\\n"
                "  -------                    -------\\n   300 150\\nFinished. 2 files\\n' ;;\n"
                "esac\n");
        program(bin + "yz2dec",
                "case \"$1\" in\n"
                "  '') echo 'yz2dec - 0.57 alpha (C) somebody' ;;\n"
                "  -t) echo '--- Normal end ---' ;;\n"
                "  -l) printf '1\\n2\\n3\\n4\\n5\\n6\\n7\\nx.bin 4096 1024\\n\\nnot copied 1 1\\n--- Normal end ---\\n' ;;\n"
                "esac\n");
    }
};

TEST_F(ConsoleTest, VersionsTestsAndListings)
{
    EXPECT_EQ(console.rkVersion(), "1.03b");
    EXPECT_EQ(console.yz2Version(), "0.57a");
    writeFile(home.path("in/good.rk"), "rk");
    writeFile(home.path("in/bad.rk"), "rk");
    EXPECT_EQ(console.rkTest(home.path("in/good.rk")), 1);
    EXPECT_EQ(console.rkTest(home.path("in/bad.rk")), 2);
    EXPECT_EQ(console.rkTest(home.path("in/missing.rk")), 3);
    EXPECT_EQ(console.yz2Test(home.path("in/good.rk")), 1);

    const QString list = console.rkListing(home.path("in/good.rk"));
    ASSERT_EQ(list, home.myPath() + "FileList.tmp");
    const QVector<ComponentEntry> entries = ConsoleExtractors::readFileList(list);
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[1].name, "sub dir/b.txt");
    EXPECT_EQ(entries[1].originalSize64, 200);
    EXPECT_EQ(entries[1].compressedSize, 100u);
    EXPECT_FALSE(QFile::exists(home.myPath() + "rk.list"));

    // Copying stops after the first empty line.
    const QVector<ComponentEntry> yz2 = ConsoleExtractors::readFileList(console.yz2Listing(home.path("in/good.rk")));
    ASSERT_EQ(yz2.size(), 1);
    EXPECT_EQ(yz2[0].name, "x.bin");

    // A program that never prints "Finished." gives no listing.
    program(bin + "rk", "echo half a listing\n");
    EXPECT_EQ(console.rkListing(home.path("in/good.rk")), "");
    QFile::remove(bin + "rk");
    EXPECT_EQ(console.rkVersion(), "Failed");
}

TEST_F(ConsoleTest, AProgramThatNeverEndsIsStoppedByTheCancelFlag)
{
    EndlessProgram endless(bin + "yz2dec", home.root());
    writeFile(home.path("in/a.yz2"), "yz2");
    std::atomic<bool> stop{false};
    console.setCancelFlag(&stop);
    bool started = false;
    std::thread stopper([&] {
        started = endless.waitForStart();
        stop = true;
    });
    EXPECT_EQ(console.yz2Test(home.path("in/a.yz2")), 2);
    endless.release();
    stopper.join();
    EXPECT_TRUE(started);
    EXPECT_FALSE(endless.ended());
}

TEST_F(ConsoleTest, LongListingLinesAreCutNotFatal)
{
    program(bin + "rk", "printf '1\\n2\\n3\\n4\\n5\\n6\\n7\\n'; head -c 100000 /dev/zero | tr '\\0' a; "
                        "printf ' 5 3\\nb.txt 10 5\\nFinished. 2 files\\n'\n");
    writeFile(home.path("in/long.rk"), "rk");
    const QVector<ComponentEntry> entries = ConsoleExtractors::readFileList(console.rkListing(home.path("in/long.rk")));
    ASSERT_FALSE(entries.isEmpty());
    EXPECT_EQ(entries.last().name, "b.txt");
}

TEST_F(ConsoleTest, RkArchivesAreCountedSummedAndListedThroughTheProgram)
{
    Availability a;
    a.present[int(Component::RkExe)] = true;
    a.present[int(Component::Yz2Dec)] = true;
    a.rkExePath = a.yz2DecPath = bin;
    ComponentCaller caller(a);
    ArchiveProbe probe(caller, home.myPath());
    writeFile(home.path("in/good.rk"), "rk");
    EXPECT_EQ(probe.check(home.path("in/good.rk")), 0);
    EXPECT_EQ(probe.entryCount(home.path("in/good.rk")), 2);
    EXPECT_EQ(probe.expandedSize(home.path("in/good.rk")), 300);
    const QVector<ListRow> rows = probe.listEntries(home.path("in/good.rk"));
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].date, "-");
    EXPECT_EQ(rows[0].ratio, "50%");
    writeFile(home.path("in/a.yz2"), "yz2");
    EXPECT_EQ(probe.check(home.path("in/a.yz2")), 0);
    EXPECT_EQ(probe.expandedSize(home.path("in/a.yz2")), 4096);
    EXPECT_TRUE(probe.isMultiRoot(home.path("in/a.yz2")));

    // With its flag off yz2dec is never started, though it is there.
    program(bin + "yz2dec", "touch \"$RAN\"; echo '--- Normal end ---'\n");
    qputenv("RAN", home.path("ran").toLocal8Bit());
    a.present[int(Component::Yz2Dec)] = false;
    ComponentCaller without(a);
    ArchiveProbe withoutYz2(without, home.myPath());
    EXPECT_EQ(withoutYz2.check(home.path("in/a.yz2")), 1);
    EXPECT_EQ(withoutYz2.expandedSize(home.path("in/a.yz2")), 0);
    EXPECT_FALSE(withoutYz2.isMultiRoot(home.path("in/a.yz2")));
    EXPECT_TRUE(withoutYz2.listEntries(home.path("in/a.yz2")).isEmpty());
    EXPECT_FALSE(QFile::exists(home.path("ran")));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
