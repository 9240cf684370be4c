// A write to an archive meets the world: another writer of the same archive,
// the archive replaced or changed while it is written, storage so slow that a
// sync takes longer than the decoder's watchdog waits, a decoder killed after
// its new archive took the old one's place. The slow and failing storage is a
// library preloaded into the decoder of a driver process.
#include "support/ArchiveBuilder.h"
#include "support/ComponentLib.h"
#include "support/TestEnvironment.h"
#include "support/TreeSnapshot.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <future>
#include <thread>

using namespace salvo;
using namespace salvo::test;

namespace {

struct Format {
    const char *name;
    QByteArray bytes;
    const char *file, *prefix;
    const char *add;    // "%1" archive, "%2" base folder, "%3" list file
    const char *remove; // before the archive and the name
};

std::vector<Format> formats()
{
    const std::vector<RawEntry> raw{{"one.txt", "one"}, {"two.txt", "two"}};
    const std::vector<Entry> tree{{.name = "one.txt", .data = "one"}, {.name = "two.txt", .data = "two"}};
    return {
        {"zip", storedZip(raw), "zip32j.so", "Zip", "-S -D \"%1\" \"%2\" \"%3\"", "-d"},
        {"7z", writeArchive(tree, "7zip"), "7-zip32.so", "SevenZip", "a -t7z \"%1\" \"%2\" \"%3\" -ms=off", "d"},
        {"lzh", storedLzh(raw, 2), "unlha32.so", "Unlha", "a -x \"%1\" \"%2\" \"%3\"", "d"},
    };
}

class RaceTest : public ::testing::Test {
protected:
    TempHome home;
    QString dir = home.path("w"), mark = home.path("sync-began");

    void SetUp() override
    {
        QDir().mkpath(dir);
        writeFile(home.path("drop/new.txt"), "new");
        writeFile(home.path("list.tmp"), "\"new.txt\"\n");
    }
    QString addCommand(const Format &f, const QString &archive) const
    {
        return QString::fromLatin1(f.add).arg(archive, home.path("drop/"), home.path("list.tmp"));
    }
    static QString deleteCommand(const Format &f, const QString &archive, const char *name)
    {
        return QStringLiteral("%1 \"%2\" \"%3\"").arg(QLatin1String(f.remove), archive, QLatin1String(name));
    }
    // Runs a command in a driver process whose decoder has the given storage.
    struct Outcome {
        int exit = -1;
        std::string output;
    };
    std::future<Outcome> drive(const Format &f, const QString &command, const QStringList &storage)
    {
        QFile::remove(mark);
        const QStringList args = QStringList{"LD_PRELOAD=" SLOW_STORAGE, "SALVO_TEST_SYNC_MARK=" + mark} + storage
                                 + QStringList{SALVO_DRIVER, f.file, f.prefix, command};
        return std::async(std::launch::async, [args] {
            Outcome o;
            QByteArray out;
            o.exit = runProgram("/usr/bin/env", args, &out);
            o.output = out.toStdString();
            return o;
        });
    }
    bool syncBegan()
    {
        for (int i = 0; i < 3000 && QFileInfo(mark).size() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return QFileInfo(mark).size() > 0;
    }
    std::vector<std::string> rows(const std::string &archive)
    {
        std::vector<std::string> out = listedNames(archive);
        std::sort(out.begin(), out.end());
        return out;
    }
    QStringList folder() const { return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot); }
};

TEST_F(RaceTest, NoWriteIsLostToAnotherWriterOrToAReplacedArchive)
{
    for (const Format &f : formats()) {
        SCOPED_TRACE(f.name);
        const QString archive = dir + "/race." + f.name;
        const std::string path = archive.toStdString();

        // A delete while an add waits in its sync: the delete waits for the
        // add's lock, then works on what the add wrote. Both are kept.
        writeFile(archive, f.bytes);
        auto adding = drive(f, addCommand(f, archive), {"SALVO_TEST_SYNC_DELAY_MS=700"});
        ASSERT_TRUE(syncBegan());
        ComponentLib lib(f.file, f.prefix);
        std::string output;
        EXPECT_EQ(lib.run(deleteCommand(f, archive, "one.txt").toStdString(), &output), 0) << output;
        const Outcome added = adding.get();
        EXPECT_EQ(added.exit, 0) << added.output;
        EXPECT_EQ(rows(path), (std::vector<std::string>{"new.txt", "two.txt"}));

        // The archive replaced by a newer copy, or written to in place, while
        // an add runs: the add fails and says so, the newer file stays as it is.
        for (const bool inPlace : {false, true}) {
            writeFile(archive, f.bytes);
            const QStringList before = folder();
            auto late = drive(f, addCommand(f, archive), {"SALVO_TEST_SYNC_DELAY_MS=700"});
            ASSERT_TRUE(syncBegan());
            QByteArray newer = f.bytes;
            if (inPlace) {
                QFile file(archive);
                ASSERT_TRUE(file.open(QIODevice::Append));
                file.write("appended by someone else");
                newer += "appended by someone else";
            } else {
                newer = storedZip({{"newer.txt", "the newer copy"}});
                writeFile(dir + "/newer.tmp", newer);
                ASSERT_TRUE(::rename(QFile::encodeName(dir + "/newer.tmp").constData(), QFile::encodeName(archive).constData()) == 0);
            }
            const Outcome o = late.get();
            EXPECT_EQ(o.exit, 1) << o.output;
            EXPECT_NE(o.output.find(inPlace ? "書き換えられた" : "置き換えられた"), std::string::npos) << o.output;
            EXPECT_EQ(readFile(archive), newer);
            EXPECT_EQ(folder(), before) << "nothing is left behind";
        }
    }
}

TEST_F(RaceTest, SlowStorageKeepsTheWriterAliveAndALateDeathIsToldAsItIs)
{
    for (const Format &f : formats()) {
        SCOPED_TRACE(f.name);
        const QString archive = dir + "/slow." + f.name;
        const std::string path = archive.toStdString();

        // Every sync and copy takes longer than the watchdog waits for a word.
        writeFile(archive, f.bytes);
        Outcome o = drive(f, addCommand(f, archive), {"SALVO_DECODER_SILENCE_MS=2000", "SALVO_TEST_SYNC_DELAY_MS=3000"}).get();
        EXPECT_EQ(o.exit, 0) << o.output;
        EXPECT_EQ(rows(path), (std::vector<std::string>{"new.txt", "one.txt", "two.txt"}));

        // Killed once the new archive took the old one's place: the text says
        // the archive was replaced, and it was.
        for (const char *death : {"SALVO_TEST_DIE_AT_FOLDER_SYNC=1", "SALVO_TEST_DIE_AFTER_RENAME=1"}) {
            writeFile(archive, f.bytes);
            o = drive(f, deleteCommand(f, archive, "one.txt"), {death}).get();
            EXPECT_EQ(o.exit, 1) << o.output;
            EXPECT_NE(o.output.find("result 0x8051"), std::string::npos) << o.output;
            EXPECT_EQ(o.output.find("変更されていません"), std::string::npos) << death << "\n" << o.output;
            EXPECT_EQ(rows(path), (std::vector<std::string>{"two.txt"})) << death;
        }
    }
}

} // namespace
