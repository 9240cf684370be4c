// The decoder is confined by the kernel: whatever code runs in it (here a
// library slipped into it that acts when an entry is written, as an exploit
// of the decoder would) cannot write outside the output folder of the call,
// nor read a file it was not asked to read.
#include "support/ArchiveBuilder.h"
#include "support/ComponentLib.h"
#include "support/TestEnvironment.h"
#include "support/TreeSnapshot.h"

#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QProcessEnvironment>

#include <linux/landlock.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace salvo::test;

namespace {

TEST(Sandbox, TheDecoderCannotWriteOutsideTheOutputFolderEvenWhenItTries)
{
    const long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (abi < 2)
        GTEST_SKIP() << "this kernel offers no Landlock (version 2 or later): the decoder runs unconfined";
    TempHome home;
    const QString outside = home.path("outside");
    const QString secret = home.path("secret.txt");
    writeFile(outside + "/keep.txt", "keep");
    writeFile(secret, "nobody asked for this");
    const QString archive = home.path("in/a.zip");
    writeFile(archive, writeArchive({{"escape-attempts.txt", "x"}}, "zip"));
    const QString out = home.path("out");

    QProcess driver;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LD_PRELOAD", SALVO_ESCAPE_ATTEMPTS);
    env.insert("SALVO_ESCAPE_OUTSIDE", outside);
    env.insert("SALVO_ESCAPE_SECRET", secret);
    driver.setProcessEnvironment(env);
    driver.setProcessChannelMode(QProcess::MergedChannels);
    driver.start(SALVO_DRIVER, {"unzip32.so", "UnZip",
                                QString::fromStdString(extractCommand("UnZip", archive.toStdString(), out.toStdString()))});
    ASSERT_TRUE(driver.waitForFinished(60000));
    EXPECT_EQ(driver.exitCode(), 0) << driver.readAll().constData();

    // Every attempt was refused by the kernel ("Permission denied"; a rename
    // may be told "Invalid cross-device link"), and nothing came outside.
    const QStringList report = QString::fromUtf8(readFile(out + "/escape-attempts.result")).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(report.size(), 5);
    for (const QString &line : report)
        EXPECT_FALSE(line.endsWith(" done")) << line.toStdString();
    EXPECT_EQ(readFile(out + "/escape-attempts.txt"), "x");
    const auto tree = snapshot(outside);
    EXPECT_EQ(tree.size(), 1u);
    EXPECT_EQ(tree.at("keep.txt"), "file:keep");
}

} // namespace
