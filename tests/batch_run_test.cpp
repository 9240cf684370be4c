// Whole batch runs over real archives through the real components: targets,
// folder modes, the pre-scan and its log, deletion after success, the texts of
// the run and the completion actions.
#include "settings/Settings.h"
#include "archivers/ArchiveInspector.h"
#include "engine/BatchRun.h"
#include "engine/ProcessRunner.h"
#include "support/ArchiveBuilder.h"
#include "support/ComponentLib.h"
#include "support/RecordingUi.h"
#include "support/TestEnvironment.h"
#include "support/TreeSnapshot.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

using namespace salvo;
using namespace salvo::test;

namespace {

Entry file(const char *name, const QByteArray &data = "x")
{
    return {name, data, EntryKind::File, {}};
}

class BatchRunTest : public ::testing::Test {
protected:
    TempHome home;
    Availability availability;
    std::unique_ptr<ComponentCaller> caller;
    std::unique_ptr<ArchiveInspector> inspector;
    RecordingUi ui;
    QStringList opened;
    QString in = home.path("in");

    BatchRunTest()
    {
        availability = builtComponents(home.myPath());
        caller = std::make_unique<ComponentCaller>(availability);
        inspector = std::make_unique<ArchiveInspector>(*caller, home.myPath());
        ProcessRunner::setDesktopOpener([this](const QString &p) {
            opened << p;
            return true;
        });
        // Quiet runs unless a test asks for the end notice.
        settings().write(ini::kEndNotice, 1);
    }
    Settings settings() { return Settings(home.myPath()); }
    QString put(const QString &name, const QByteArray &bytes)
    {
        writeFile(in + "/" + name, bytes);
        return in + "/" + name;
    }
    RunOutcome run(const QStringList &queue, TargetPlace targetPlace = TargetPlace::BesideArchive,
                   LaunchMode mode = LaunchMode::Normal)
    {
        BatchRun batch({home.myPath(), mode, targetPlace, caller.get(), inspector.get()}, ui);
        return batch.run(queue);
    }
    QStringList messages()
    {
        QStringList out;
        for (const auto &m : ui.messages)
            out << m.text;
        return out;
    }
};

TEST_F(BatchRunTest, FolderModesBesideEachArchive)
{
    const QString oneFolder = put("one.zip", writeArchive({file("top/a.txt"), file("top/b.txt")}, "zip"));
    const QString loose = put("loose.tar.gz", writeArchive({file("a.txt"), file("b.txt")}, "ustar", "gzip"));
    const QString lzh = put("a.b.lzh", storedLzh({{"x.txt", "x"}}, 0));

    // Automatic: one top folder goes straight in, loose files get a folder.
    RunOutcome out = run({oneFolder, loose});
    EXPECT_EQ(out.successCount, 2);
    EXPECT_TRUE(QFile::exists(in + "/top/a.txt"));
    EXPECT_TRUE(QFile::exists(in + "/loose.tar/a.txt"));
    EXPECT_EQ(ui.status[1], QStringLiteral("2個のファイルを解凍完了！"));
    EXPECT_EQ(out.consumed, (std::set<int>{0, 1}));

    // Always a folder named after the archive (without its last extension).
    settings().write(ini::kNormalFileNameFolder, 1);
    EXPECT_EQ(run({lzh}).successCount, 1);
    EXPECT_TRUE(QFile::exists(in + "/a.b/x.txt"));

    // The automatic mode always keeps the archive's tree, whatever "Directory" says.
    settings().write(ini::kNormalFileNameFolder, 0);
    settings().write(ini::kDirectory, 1);
    QDir(in + "/top").removeRecursively();
    EXPECT_EQ(run({oneFolder}).successCount, 1);
    EXPECT_TRUE(QFile::exists(in + "/top/a.txt"));

    // Never, and flat with "Directory".
    settings().write(ini::kNormalFileNameFolder, 2);
    settings().write(ini::kDirectory, 1);
    QDir(in + "/top").removeRecursively();
    EXPECT_EQ(run({oneFolder}).successCount, 1);
    EXPECT_TRUE(QFile::exists(in + "/a.txt"));
    EXPECT_FALSE(QFile::exists(in + "/top"));
}

TEST_F(BatchRunTest, FixedTargetsAndTheFolderQuestion)
{
    const QString zip = put("z.zip", writeArchive({file("f.txt")}, "zip"));
    settings().write(ini::kNormalFileNameFolder, 2);
    settings().write(ini::kAlwaysPath, home.path("always"));
    EXPECT_EQ(run({zip}, TargetPlace::UsualFolder).successCount, 1);
    EXPECT_TRUE(QFile::exists(home.path("always/f.txt")));

    // The question cancelled: nothing happens.
    const RunOutcome cancelled = run({zip}, TargetPlace::AskEachRun);
    EXPECT_EQ(ui.status[1], QStringLiteral("解凍は中止しました。"));
    EXPECT_TRUE(cancelled.consumed.empty());

    // The desktop of a DD-mode run (ExtractMode 0), and its TargetPath (2).
    settings().write(ini::kDdFileNameFolder, 2);
    EXPECT_EQ(run({zip}, TargetPlace::BesideArchive, LaunchMode::DdMode).successCount, 1);
    EXPECT_TRUE(QFile::exists(QDir::homePath() + "/Desktop/f.txt") || QFile::exists(home.path("userhome/Desktop/f.txt")));
    settings().write(ini::kDdExtractMode, 2);
    settings().write(ini::kDdTargetPath, home.path("dd"));
    EXPECT_EQ(run({zip}, TargetPlace::BesideArchive, LaunchMode::DdMode).successCount, 1);
    EXPECT_TRUE(QFile::exists(home.path("dd/f.txt")));
}

TEST_F(BatchRunTest, PreScanLogsRemovesAndAsks)
{
    settings().write(ini::kPreScan, 1);
    const QString a = put("a.zip", writeArchive({file("a/1.txt")}, "zip"));
    const QString missing = in + "/missing.lzh";
    const QString b = put("b.7z", writeArchive({file("b/2.txt")}, "7zip"));
    ui.answers = {true};
    const RunOutcome out = run({a, missing, b});
    ASSERT_EQ(ui.questions.size(), 1);
    EXPECT_EQ(ui.questions[0], QStringLiteral("エラーが1あります。\n解凍を続行しますか？"));
    EXPECT_EQ(out.successCount, 2);
    EXPECT_EQ(out.consumed, (std::set<int>{0, 1, 2}));
    const QStringList log = QString::fromUtf8(readFile(home.myPath() + "Log.txt")).split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(log.size(), 2);
    EXPECT_TRUE(log[0].startsWith("...Extract Start on "));
    EXPECT_EQ(log[1], missing + " is not Exist!!");
    EXPECT_TRUE(messages().contains(QStringLiteral("エラーが1件ありました。詳細はErrorLogをご覧下さい。")));

    // Beside each archive there is no free-space check.
    EXPECT_EQ(ui.status[3], "");

    // A broken archive and an unknown type; answering No stops the run.
    const QString broken = put("broken.rar", "not a rar at all");
    const QString text = put("notes.txt", "text");
    ui.answers = {false};
    ui.messages.clear();
    const RunOutcome stopped = run({broken, text, a});
    EXPECT_EQ(stopped.successCount, 0);
    EXPECT_EQ(ui.questions.last(), QStringLiteral("エラーが2あります。\n解凍を続行しますか？"));
    EXPECT_EQ(stopped.consumed, (std::set<int>{0, 1}));
    EXPECT_TRUE(messages().contains(QStringLiteral("書庫または環境に問題があるため、解凍を中止します。")));
    const QString log2 = QString::fromUtf8(readFile(home.myPath() + "Log.txt"));
    EXPECT_EQ(log2.count("...Extract Start on "), 2);
    EXPECT_TRUE(log2.contains(broken + " is Abnormal Archive or Broken!\r\n"));
    EXPECT_TRUE(log2.contains(text + " is not Archive!\r\n"));
}

TEST_F(BatchRunTest, NotEnoughSpaceStopsWithoutAsking)
{
    settings().write(ini::kPreScan, 1);
    const QString sparse = put("huge.tar", writeArchive({{"huge.bin", "h", EntryKind::File, {}, 0644, 1LL << 50}}, "pax"));
    settings().write(ini::kAlwaysPath, home.path("out"));
    const RunOutcome out = run({sparse}, TargetPlace::UsualFolder);
    EXPECT_EQ(out.successCount, 0);
    EXPECT_TRUE(ui.questions.isEmpty());
    EXPECT_TRUE(QString::fromUtf8(readFile(home.myPath() + "Log.txt")).contains("Disk Size Error\r\n"));
    EXPECT_TRUE(ui.status[3].endsWith(" Bytes"));
}

TEST_F(BatchRunTest, DeleteOnlyWhatTrulySucceededAndCountTheRest)
{
    settings().write(ini::kNormalDeleteArchive, 1);
    settings().write(ini::kEndNotice, 0);
    settings().write(ini::kErrorSkip, 1);
    settings().write(ini::kNormalFileNameFolder, 1);
    const QString good1 = put("good1.zip", writeArchive({file("g1.txt")}, "zip"));
    const QString corrupt = put("corrupt.zip", storedZip({{"c.txt", "damaged", false, false, 0, true}}));
    const QString good2 = put("good2.lzh", storedLzh({{"g2.txt", "g2"}}, 0));
    const QString unsupported = put("x.unknown", "?");
    const QString gone = in + "/gone.zip";
    const RunOutcome out = run({good1, corrupt, good2, unsupported, gone});
    EXPECT_EQ(out.successCount, 2);
    EXPECT_FALSE(QFile::exists(good1));
    EXPECT_FALSE(QFile::exists(good2));
    EXPECT_TRUE(QFile::exists(corrupt));
    EXPECT_TRUE(QFile::exists(unsupported));
    EXPECT_FALSE(QFile::exists(in + "/corrupt/c.txt"));
    // Panel 1 counts every entry of the run, the end notice only the successes.
    EXPECT_EQ(ui.status[1], QStringLiteral("5個のファイルを解凍完了！"));
    EXPECT_EQ(messages().last(), QStringLiteral("2個のファイルを解凍完了！"));
}

TEST_F(BatchRunTest, ModernCompressedTarsAndLoneCompressedFilesAreExtracted)
{
    // Every name the tar component serves, whatever the compressor; a lone
    // compressed file becomes one file named after the archive.
    settings().write(ini::kNormalFileNameFolder, 2);
    settings().write(ini::kErrorSkip, 1);
    struct Tarball {
        const char *name, *filter;
    };
    const Tarball tarballs[] = {{"a.tar.xz", "xz"},     {"b.txz", "xz"},        {"c.tar.zst", "zstd"},
                                {"d.tzst", "zstd"},     {"e.tar.lz", "lzip"},   {"f.tar.lzma", "lzma"},
                                {"g.tgz", "gzip"},      {"h.tbz", "bzip2"},     {"i.tbz2", "bzip2"},
                                {"j.taz", "compress"},  {"k.TAR.XZ", "xz"}};
    QStringList queue;
    for (const Tarball &t : tarballs) {
        const QByteArray entry = QByteArray(t.name) + ".txt";
        queue << put(t.name, writeArchive({file(entry.constData(), entry)}, "ustar", t.filter));
    }
    const char *loneFilters[][2] = {{"xz", "xz"}, {"zst", "zstd"}, {"lz", "lzip"}, {"lzma", "lzma"}};
    for (const auto &lone : loneFilters)
        queue << put(QStringLiteral("lone-%1.dat.%2").arg(lone[1], lone[0]), compressRaw(lone[1], lone[1]));
    const RunOutcome out = run(queue);
    EXPECT_EQ(out.successCount, queue.size());
    EXPECT_TRUE(messages().isEmpty()) << messages().join('\n').toStdString();
    for (const Tarball &t : tarballs)
        EXPECT_EQ(readFile(in + "/" + t.name + ".txt"), QByteArray(t.name) + ".txt") << t.name;
    for (const auto &lone : loneFilters)
        EXPECT_EQ(readFile(in + QStringLiteral("/lone-%1.dat").arg(lone[1])), lone[1]) << lone[0];
}

TEST_F(BatchRunTest, TheOverwriteSettingHoldsForEveryFormat)
{
    // The tar form has no overwrite switch; it must not ask when the others do not.
    settings().write(ini::kNormalFileNameFolder, 2);
    const QString tar = put("t.tar", writeArchive({file("t.txt", "tar new")}, "ustar"));
    const QString zip = put("z.zip", storedZip({{"z.txt", "zip new"}}));
    int asked = 0;
    caller->setOverwriteAsker([&asked](const QString &) {
        ++asked;
        return SALVO_ANSWER_NO;
    });
    for (const int overwrite : {0, 1}) {
        settings().write(ini::kNormalOverWrite, overwrite);
        writeFile(in + "/t.txt", "old");
        writeFile(in + "/z.txt", "old");
        asked = 0;
        run({tar, zip});
        EXPECT_EQ(asked, overwrite == 0 ? 0 : 2);
        EXPECT_EQ(readFile(in + "/t.txt"), overwrite == 0 ? "tar new" : "old");
        EXPECT_EQ(readFile(in + "/z.txt"), overwrite == 0 ? "zip new" : "old");
    }
}

TEST_F(BatchRunTest, MessagesOfTheLoopWithoutErrorSkip)
{
    settings().write(ini::kNormalFileNameFolder, 1);
    writeFile(in + "/blocked", "a file where the folder would go");
    const QString blocked = put("blocked.zip", writeArchive({file("x.txt"), file("y.txt")}, "zip"));
    const RunOutcome out = run({in + "/gone.zip", put("a.xyz", "?"), blocked});
    EXPECT_EQ(out.successCount, 0);
    EXPECT_EQ(messages(), QStringList({QStringLiteral("存在しないファイルです。場所を確認してください。"),
                                       QStringLiteral("対応していない形式のファイルです"),
                                       QStringLiteral("解凍先のフォルダを作成できません: ") + in + "/blocked"}));
    EXPECT_TRUE(run({}).consumed.empty());
    EXPECT_EQ(ui.status[1], QStringLiteral("ファイルがありません。"));
}

TEST_F(BatchRunTest, OpenFolderRules)
{
    settings().write(ini::kOpenFolder, 1);
    settings().write(ini::kNormalFileNameFolder, 1);
    const QString a = put("a.zip", writeArchive({file("a.txt")}, "zip"));
    const QString b = put("b.zip", writeArchive({file("b.txt")}, "zip"));
    run({a, b}); // beside each archive, two successes: nothing opened
    EXPECT_TRUE(opened.isEmpty());
    run({a}); // one success: its folder
    EXPECT_EQ(opened, QStringList({in}));
    opened.clear();
    settings().write(ini::kAlwaysPath, home.path("fixed"));
    QDir().mkpath(home.path("fixed"));
    run({a, b}, TargetPlace::UsualFolder);
    EXPECT_EQ(opened, QStringList({home.path("fixed")}));
    opened.clear();
    run({a}, TargetPlace::Desktop); // the desktop: never
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(BatchRunTest, StopEndsTheRunAfterTheCurrentArchive)
{
    settings().write(ini::kNormalFileNameFolder, 1);
    QStringList queue;
    for (int i = 0; i < 4; ++i)
        queue << put(QStringLiteral("s%1.zip").arg(i), writeArchive({file("f.txt")}, "zip"));
    struct StoppingUi : RecordingUi {
        BatchRun *batch = nullptr;
        void progress(int number, int, const QString &) override
        {
            if (number == 2)
                batch->stop = true;
        }
    } stopping;
    BatchRun batch({home.myPath(), LaunchMode::Normal, TargetPlace::BesideArchive, caller.get(), inspector.get()}, stopping);
    stopping.batch = &batch;
    const RunOutcome out = batch.run(queue);
    EXPECT_TRUE(out.stopped);
    EXPECT_EQ(out.successCount, 2);
    EXPECT_EQ(out.consumed, (std::set<int>{0, 1}));
    EXPECT_EQ(stopping.status[1], QStringLiteral("2個のファイルを解凍して中止しました。"));
    EXPECT_FALSE(QFile::exists(in + "/s2/f.txt"));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
