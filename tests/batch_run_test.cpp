// Whole batch runs over real archives through the real components: targets,
// folder modes, the pre-scan and its log, deletion after success, the texts of
// the run and the completion actions.
#include "settings/Settings.h"
#include "app/ArchiveQueue.h"
#include "archivers/ArchiveProbe.h"
#include "engine/BatchRun.h"
#include "engine/OutputFolders.h"
#include "engine/ProcessRunner.h"
#include "support/ArchiveBuilder.h"
#include "support/ComponentLib.h"
#include "support/RecordingUi.h"
#include "support/TestEnvironment.h"
#include "support/RealArchives.h"
#include "support/TreeSnapshot.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <tuple>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    std::unique_ptr<ArchiveProbe> probe;
    RecordingUi ui;
    QStringList opened;
    QString in = home.path("in");

    BatchRunTest()
    {
        availability = builtComponents(home.myPath());
        caller = std::make_unique<ComponentCaller>(availability);
        probe = std::make_unique<ArchiveProbe>(*caller, home.myPath());
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
        BatchRun batch({home.myPath(), mode, targetPlace, caller.get(), probe.get()}, ui);
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
    EXPECT_EQ(out.extracted, (std::set<int>{0, 1}));

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
    EXPECT_TRUE(cancelled.extracted.empty());

    // An empty or relative fixed folder is refused with a clear message before
    // anything is extracted (it would land wherever the program runs).
    const QString workingFolder = QDir::currentPath();
    QDir().mkpath(home.path("cwd"));
    QDir::setCurrent(home.path("cwd"));
    for (const auto &[key, place, mode] : {std::tuple{ini::kAlwaysPath, TargetPlace::UsualFolder, LaunchMode::Normal},
                                          std::tuple{ini::kDdTargetPath, TargetPlace::BesideArchive, LaunchMode::DdMode}}) {
        for (const QString &folder : {QString(), QStringLiteral("out"), QStringLiteral("./out")}) {
            settings().write(ini::kDdExtractMode, 2);
            settings().write(key, folder);
            ui.messages.clear();
            const RunOutcome refused = run({zip}, place, mode);
            EXPECT_EQ(refused.successCount, 0) << folder.toStdString();
            ASSERT_EQ(ui.messages.size(), 1u) << folder.toStdString();
            EXPECT_TRUE(ui.messages[0].text.startsWith(QStringLiteral("解凍先のフォルダが正しく設定されていません")));
            EXPECT_EQ(ui.messages[0].icon, MessageIcon::Error);
        }
    }
    EXPECT_TRUE(QDir(home.path("cwd")).isEmpty());
    QDir::setCurrent(workingFolder);
    settings().write(ini::kDdExtractMode, 0);
    settings().write(ini::kAlwaysPath, home.path("always"));

    // The desktop of a DD-mode run (ExtractMode 0), and its TargetPath (2).
    settings().write(ini::kDdFileNameFolder, 2);
    EXPECT_EQ(run({zip}, TargetPlace::BesideArchive, LaunchMode::DdMode).successCount, 1);
    EXPECT_TRUE(QFile::exists(home.path("userhome/Desktop/f.txt")));
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
    // The question points to the log: what it counts is there while it waits.
    QByteArray logWhileAsked;
    ui.whileAsked = [&] { logWhileAsked = readFile(home.myPath() + "Log.txt"); };
    const RunOutcome out = run({a, missing, b});
    ui.whileAsked = {};
    EXPECT_TRUE(logWhileAsked.endsWith((missing + " is not Exist!!\r\n").toUtf8())) << logWhileAsked.toStdString();
    ASSERT_EQ(ui.questions.size(), 1);
    EXPECT_EQ(ui.questions[0], QStringLiteral("エラーが1あります。\n解凍を続行しますか？"));
    EXPECT_EQ(out.successCount, 2);
    // What the pre-scan leaves out stays queued with the rest of the failures.
    EXPECT_EQ(out.extracted, (std::set<int>{0, 2}));
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
    EXPECT_TRUE(stopped.extracted.empty());
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
    // Panel 1 counts every entry of the run and says how many failed, the end
    // notice counts the successes and then the failures; the failures stay queued.
    EXPECT_EQ(ui.status[1], QStringLiteral("5個のファイルを解凍完了！（うち3個は失敗）"));
    EXPECT_EQ(out.failureCount, 3);
    EXPECT_EQ(out.extracted, (std::set<int>{0, 2}));
    ASSERT_FALSE(ui.questions.isEmpty());
    EXPECT_TRUE(ui.questions.last().startsWith(QStringLiteral("2個のファイルを解凍完了！\n3個のファイルは解凍できませんでした。")));
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

TEST_F(BatchRunTest, EveryFailedArchiveHasItsReasonInTheLogAndStaysQueued)
{
    settings().write(ini::kErrorSkip, 1);
    settings().write(ini::kEndNotice, 0);
    settings().write(ini::kNormalFileNameFolder, 1);
    const QString good = put("good.zip", writeArchive({file("g.txt")}, "zip"));
    const QString crc = put("crc.zip", storedZip({{"c.txt", "damaged", false, false, 0, true}}));
    const QByteArray tgz = writeArchive({file("t.txt", QByteArray(200000, 't'))}, "ustar", "gzip");
    const QString truncated = put("truncated.tar.gz", tgz.left(tgz.size() / 2));
    const QString locked =
        put("locked.zip", writeArchive({file("l.txt", "secret")}, "zip", "none", "zip:encryption=zipcrypt", "pw"));
    const QString unsafe = put("unsafe.tar", writeArchive({file("../escape.txt")}, "ustar"));
    const QString unknown = put("x.unknown", "?");
    const QString gone = in + "/gone.zip";
    writeFile(in + "/blocked", "a file where the folder would go");
    const QString blocked = put("blocked.zip", writeArchive({file("b.txt")}, "zip"));
    const QString lzh = put("nolha.lzh", storedLzh({{"n.txt", "n"}}, 0));
    // Cut short: a zip, a 7z, and a zip in pieces whose last piece is missing.
    const QByteArray zip = storedZip({{"z.txt", QByteArray(5000, 'z')}});
    const QString cutZip = put("cut.zip", zip.left(zip.size() - 30));
    const QByteArray sevenZip = writeArchive({file("s.txt", QByteArray(5000, 's'))}, "7zip", "none", "7zip:compression=store");
    const QString cut7z = put("cut.7z", sevenZip.left(sevenZip.size() - 30));
    const QString pieces = put("pieces.001", zip.left(2000));
    put("pieces.002", zip.mid(2000, 2000));
    // One name used as a file and as a folder, in either order.
    const QString fileThenFolder = put("clash1.zip", storedZip({{"x", "file"}, {"x/y", "below"}}));
    const QString folderThenFile = put("clash2.zip", storedZip({{"q/", "", true}, {"q", "file"}}));
    availability.present[static_cast<int>(Component::UnLha32)] = false;
    caller = std::make_unique<ComponentCaller>(availability);
    probe = std::make_unique<ArchiveProbe>(*caller, home.myPath());

    ui.answers = {true};
    const QStringList queue{good, crc, truncated, locked, unsafe, unknown, gone, blocked, lzh,
                            cutZip, cut7z, pieces, fileThenFolder, folderThenFile};
    const RunOutcome out = run(queue);
    EXPECT_EQ(out.successCount, 1);
    EXPECT_EQ(out.failureCount, 13);
    // Only the extracted archive leaves the queue.
    EXPECT_EQ(out.extracted, (std::set<int>{0}));
    const QStringList log = QString::fromUtf8(readFile(home.myPath() + "Log.txt")).split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(log.size(), 14) << log.join('\n').toStdString();
    EXPECT_TRUE(log[0].startsWith("...Extract Start on "));
    const QStringList expected{
        crc + " : CRC エラー (データが壊れています)",
        truncated + " : 書庫が途中で切れています",
        locked + " : パスワードが必要です",
        unsafe + " : 解凍先の外を指す危険なエントリーを拒否しました",
        unknown + " : 対応していない形式です",
        gone + " : ファイルがありません",
        blocked + " : 解凍先のフォルダを作成できません: " + in + "/blocked",
        lzh + " : 解凍に使うコンポーネントがありません",
        cutZip + " : 書庫が途中で切れています",
        cut7z + " : 書庫が途中で切れています",
        pieces + " : 分割書庫のボリュームが足りません",
        fileThenFolder + " : 書庫の中で同じ名前がファイルとフォルダの両方に使われています",
        folderThenFile + " : 書庫の中で同じ名前がファイルとフォルダの両方に使われています",
    };
    EXPECT_EQ(log.mid(1), expected);
    // The end notice keeps its text, adds the failures and offers the log.
    ASSERT_EQ(ui.questions.size(), 1);
    EXPECT_EQ(ui.questions[0], QStringLiteral("1個のファイルを解凍完了！\n13個のファイルは解凍できませんでした。\n"
                                              "理由はログに記録しました。ログを開きますか？"));
    EXPECT_EQ(opened, QStringList{home.myPath() + "Log.txt"});
    EXPECT_FALSE(QFile::exists(in + "/escape.txt"));
}

TEST_F(BatchRunTest, PasswordsAreAskedWithRetryAndSkip)
{
    settings().write(ini::kErrorSkip, 1);
    settings().write(ini::kNormalFileNameFolder, 1);
    auto locked = [this](const char *name, const char *encryption) {
        const QByteArray options = QByteArray("zip:encryption=") + encryption;
        return put(name, writeArchive({file("inside.txt", QByteArray("secret of ") + name)}, "zip", "none",
                                      options.constData(), "right pw"));
    };
    const QString zipCrypto = locked("zipcrypto.zip", "zipcrypt");
    const QString aes = locked("aes.zip", "aes256");
    const QString skipped = locked("skipped.zip", "zipcrypt");
    const QString wrongThenSkipped = locked("wrong.zip", "aes128");
    ui.passwords = {"wrong pw", "right pw", "right pw", std::nullopt, "wrong pw", std::nullopt};
    const RunOutcome out = run({zipCrypto, aes, skipped, wrongThenSkipped});
    EXPECT_EQ(ui.passwordQuestions, QStringList({zipCrypto, zipCrypto + " (retry)", aes, skipped, wrongThenSkipped,
                                                 wrongThenSkipped + " (retry)"}));
    EXPECT_EQ(out.successCount, 2);
    EXPECT_EQ(readFile(in + "/zipcrypto/inside.txt"), "secret of zipcrypto.zip");
    EXPECT_EQ(readFile(in + "/aes/inside.txt"), "secret of aes.zip");
    EXPECT_FALSE(QFile::exists(in + "/skipped/inside.txt"));
    EXPECT_FALSE(QFile::exists(in + "/wrong/inside.txt"));
    const QString log = QString::fromUtf8(readFile(home.myPath() + "Log.txt"));
    EXPECT_TRUE(log.contains(skipped + " : パスワードが必要です\r\n")) << log.toStdString();
    EXPECT_TRUE(log.contains(wrongThenSkipped + " : パスワードが違います\r\n")) << log.toStdString();
    EXPECT_FALSE(log.contains("pw"));
}

TEST_F(BatchRunTest, SplitArchivesAreOneQueueItemAndGoWithAllTheirVolumes)
{
    settings().write(ini::kErrorSkip, 1);
    settings().write(ini::kNormalFileNameFolder, 1);
    settings().write(ini::kNormalDeleteArchive, 1);
    QByteArray data;
    quint32 x = 12345;
    for (int i = 0; i < 150000; ++i) {
        x = x * 1103515245u + 12345u;
        data.append(static_cast<char>(x >> 24));
    }
    writeFile(home.path("src/big.bin"), data);
    auto tool = [this](const QString &program, const QStringList &args) {
        QProcess p;
        p.setWorkingDirectory(home.path("src"));
        p.start(program, args);
        return p.waitForFinished(60000) && p.exitCode() == 0;
    };
    ASSERT_TRUE(tool("7zz", {"a", "-bd", "-mx0", "-v40k", in + "/seven.7z", "big.bin"}));
    ASSERT_TRUE(tool("7zz", {"a", "-bd", "-mx0", "-v40k", in + "/broken.7z", "big.bin"}));
    QFile::remove(in + "/broken.7z.002");
    ASSERT_TRUE(tool("zip", {"-q", "-0", "-s", "64k", in + "/zipped.zip", "big.bin"}));
    const QByteArray whole = writeArchive({file("big.bin", data)}, "zip");
    for (int k = 0; k * 50000 < whole.size(); ++k)
        put(QString::asprintf("pieces.%03d", k + 1), whole.mid(k * 50000, 50000));
    // Numbered files that are not one set: complete archives that happen to be
    // numbered, and a stray file after a complete set.
    for (const auto &[name, format] : {std::pair{"zip", "zip"}, std::pair{"7z", "7zip"}, std::pair{"t.tar", "ustar"}}) {
        put(name + QString(".001"), writeArchive({file(qPrintable(name + QString("1.txt")), "first")}, format));
        put(name + QString(".002"), writeArchive({file(qPrintable(name + QString("2.txt")), "second")}, format));
    }
    writeFile(home.path("src/mid.bin"), data.left(100000));
    ASSERT_TRUE(tool("7zz", {"a", "-bd", "-mx0", "-v40k", in + "/movie.7z", "mid.bin"}));
    ASSERT_TRUE(QFile::exists(in + "/movie.7z.003") && !QFile::exists(in + "/movie.7z.004"));
    put("movie.7z.004", "a piece of some other set");
    // An LZH, which says nowhere how long it is, cut in two, with a stray file behind.
    const QByteArray lzh = storedLzh({{"l.txt", data.left(60000)}}, 0);
    put("cut.lzh.001", lzh.left(30000));
    put("cut.lzh.002", lzh.mid(30000));
    put("cut.lzh.003", "stray");
    const QStringList volumes = QDir(in).entryList(QDir::Files, QDir::Name);
    ASSERT_GE(volumes.size(), 25) << volumes.join(' ').toStdString();

    // Every volume added, in any order: each set once, by its first volume.
    ArchiveQueue queue;
    for (auto it = volumes.crbegin(); it != volumes.crend(); ++it)
        queue.addPath(in + "/" + *it);
    EXPECT_EQ(queue.entries(), QStringList({in + "/zipped.zip", in + "/zip.002", in + "/zip.001", in + "/t.tar.002",
                                            in + "/t.tar.001", in + "/seven.7z.001", in + "/pieces.001", in + "/movie.7z.004",
                                            in + "/movie.7z.001", in + "/cut.lzh.001", in + "/broken.7z.001", in + "/7z.002",
                                            in + "/7z.001"}));

    const RunOutcome out = run(queue.entries());
    EXPECT_EQ(out.successCount, 10);
    EXPECT_EQ(readFile(in + "/zipped/big.bin"), data);
    EXPECT_EQ(readFile(in + "/seven.7z/big.bin"), data);
    EXPECT_EQ(readFile(in + "/pieces/big.bin"), data);
    EXPECT_EQ(readFile(in + "/movie.7z/mid.bin"), data.left(100000));
    for (const QString name : {"zip", "7z", "t.tar"}) {
        EXPECT_EQ(readFile(in + "/" + name + "/" + name + "1.txt"), "first") << name.toStdString();
        EXPECT_EQ(readFile(in + "/" + name + "/" + name + "2.txt"), "second") << name.toStdString();
    }
    // The extracted sets went with every volume they were read from; the
    // broken ones stay whole, and so does the file after a set that is no
    // volume of it.
    QStringList left = QDir(in).entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(left, QStringList({"broken.7z.001", "broken.7z.003", "broken.7z.004", "cut.lzh.001", "cut.lzh.002",
                                 "cut.lzh.003", "movie.7z.004"}));
    const QString log = QString::fromUtf8(readFile(home.myPath() + "Log.txt"));
    EXPECT_TRUE(log.contains(in + "/broken.7z.001 : 分割書庫のボリュームが足りません\r\n")) << log.toStdString();
    EXPECT_TRUE(log.contains(in + "/cut.lzh.001 : 分割書庫のボリュームとして名前の付いたファイルが書庫の続きではありません\r\n"))
        << log.toStdString();
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
    EXPECT_TRUE(run({}).extracted.empty());
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

    // A folder whose path is longer than 260 characters, where those first
    // 260 name a program: the folder is opened, whole, and nothing is run.
    const QString program = in + "/" + QString(260 - in.size() - 1, 'p');
    writeFile(program, "#!/bin/sh\ntouch \"" + home.path("ran").toUtf8() + "\"\n");
    QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString longFolder = program + "-folder";
    const QString inside = put(longFolder.mid(in.size() + 1) + "/a.zip", writeArchive({file("a.txt")}, "zip"));
    EXPECT_EQ(run({inside}).successCount, 1);
    EXPECT_EQ(opened, QStringList({longFolder}));
    QThread::msleep(300);
    EXPECT_FALSE(QFile::exists(home.path("ran")));
}

TEST_F(BatchRunTest, TheFolderMadeForAnArchiveIsANewRealFolderOneLevelDown)
{
    EXPECT_EQ(archiveFolderName("/a/b.zip"), "b");
    EXPECT_EQ(archiveFolderName("/a/b.tar.gz"), "b.tar");
    EXPECT_EQ(archiveFolderName("/a/noext"), "noext");
    EXPECT_EQ(archiveFolderName("/a/...zip"), ".._");
    EXPECT_EQ(archiveFolderName("/a/..zip"), "._");
    EXPECT_EQ(archiveFolderName("/a/.zip"), "_");
    EXPECT_EQ(archiveFolderName("/a/....zip"), "...");

    settings().write(ini::kNormalFileNameFolder, 1);
    const QString dots = put("sub/...zip", writeArchive({file("a.txt"), file("b.txt")}, "zip"));
    const QString hidden = put("sub/.zip", writeArchive({file("c.txt")}, "zip"));
    EXPECT_EQ(run({dots, hidden}).successCount, 2);
    EXPECT_TRUE(QFile::exists(in + "/sub/.._/a.txt"));
    EXPECT_TRUE(QFile::exists(in + "/sub/_/c.txt"));
    EXPECT_FALSE(QFile::exists(in + "/a.txt"));
    EXPECT_FALSE(QFile::exists(in + "/sub/a.txt"));

    // A link in the place of that folder (an earlier archive of the run may
    // have left it) is never followed: the archive fails.
    const QString elsewhere = home.path("elsewhere");
    QDir().mkpath(elsewhere);
    QFile::link(elsewhere, in + "/sub/x");
    const QString x = put("sub/x.zip", writeArchive({file("d.txt")}, "zip"));
    EXPECT_EQ(run({x}).successCount, 0);
    EXPECT_TRUE(QDir(elsewhere).isEmpty());
}

TEST_F(BatchRunTest, StopGivesUpTheArchiveInHandAndEachSuccessIsReportedAsItEnds)
{
    settings().write(ini::kNormalFileNameFolder, 1);
    QStringList queue;
    for (int i = 0; i < 4; ++i)
        queue << put(QStringLiteral("s%1.zip").arg(i), writeArchive({file("f.txt")}, "zip"));
    struct StoppingUi : RecordingUi {
        BatchRun *batch = nullptr;
        QStringList events;
        void progress(int number, int, const QString &) override
        {
            events << QStringLiteral("at %1").arg(number);
            if (number == 2)
                batch->stop = true;
        }
        void archiveExtracted(int position) override { events << QStringLiteral("extracted %1").arg(position); }
    } stopping;
    BatchRun batch({home.myPath(), LaunchMode::Normal, TargetPlace::BesideArchive, caller.get(), probe.get()}, stopping);
    stopping.batch = &batch;
    const RunOutcome out = batch.run(queue);
    // Stopped as the second archive began: it is given up and stays queued.
    EXPECT_TRUE(out.stopped);
    EXPECT_EQ(out.successCount, 1);
    EXPECT_EQ(out.extracted, (std::set<int>{0}));
    EXPECT_EQ(stopping.events, QStringList({"at 1", "extracted 0", "at 2"}));
    EXPECT_EQ(stopping.status[1], QStringLiteral("1個のファイルを解凍して中止しました。"));
    EXPECT_FALSE(QFile::exists(in + "/s1/f.txt"));
    EXPECT_FALSE(QFile::exists(in + "/s1"));
}

// The components tell the entry being written and the bytes done; the run
// adds the archives before, for the whole queue. The bytes read count also
// where a decoder reads beside libarchive: an xz of several blocks on threads.
TEST_F(BatchRunTest, ProgressTellsTheEntryAndTheBytesOfTheArchiveAndTheQueue)
{
    settings().write(ini::kDecoderCount, 2);
    QByteArray data;
    quint32 x = 99;
    for (int i = 0; i < 3'000'000; ++i) {
        x = x * 1103515245u + 12345u;
        data.append(static_cast<char>('a' + (x >> 24) % 16));
    }
    const QString first = put("first.zip", writeArchive({file("big.bin", data)}, "zip"));
    const QString second = put("second.7z", writeArchive({file("other.bin", data.left(1'000'000))}, "7zip"));
    const QString third = put("third.tar.xz", xzInBlocks(writeArchive({file("xz.bin", data.left(1'000'000))}, "ustar")));
    const qint64 sizes[3] = {QFileInfo(first).size(), QFileInfo(second).size(), QFileInfo(third).size()};
    ASSERT_EQ(run({first, second, third}).successCount, 3);

    qint64 queueDone = 0;
    bool entryOfEach[3] = {false, false, false};
    const char *entries[3] = {"big.bin", "other.bin", "xz.bin"};
    for (const RunProgress &p : ui.progressSeen) {
        ASSERT_TRUE(p.number >= 1 && p.number <= 3);
        EXPECT_EQ(p.count, 3);
        EXPECT_EQ(p.queueSize, sizes[0] + sizes[1] + sizes[2]);
        EXPECT_GE(p.queueDone, queueDone) << "the whole queue never goes back";
        queueDone = p.queueDone;
        EXPECT_LE(p.archiveDone, p.archiveSize);
        EXPECT_EQ(p.archiveSize, sizes[p.number - 1]);
        if (p.number > 1) {
            EXPECT_GE(p.queueDone, sizes[0] + (p.number == 3 ? sizes[1] : 0));
        }
        if (p.entry == entries[p.number - 1] && p.written > 0 && p.archiveDone > 0)
            entryOfEach[p.number - 1] = true;
    }
    EXPECT_TRUE(entryOfEach[0] && entryOfEach[1] && entryOfEach[2]) << ui.progressSeen.size();
}

TEST_F(BatchRunTest, AnArchiveIsDeletedOnlyWhileItIsTheFileThatWasRead)
{
    settings().write(ini::kNormalDeleteArchive, 1);
    settings().write(ini::kNormalFileNameFolder, 2);
    settings().write(ini::kErrorSkip, 1);

    // Its only entry has the archive's own name and lands beside it: the
    // archive is never written over, so it stays as it was.
    const QByteArray selfNamed = storedZip({{"self.zip", "not the archive"}});
    const QString self = put("self.zip", selfNamed);
    settings().write(ini::kNormalOverWrite, 0);
    EXPECT_EQ(run({self}).successCount, 0);
    EXPECT_EQ(readFile(self), selfNamed);

    // Another file takes the archive's place while it is extracted (here while
    // the overwrite question is open): the extraction succeeds, the new file stays.
    settings().write(ini::kNormalOverWrite, 1);
    const QString swapped = put("swapped.zip", storedZip({{"swapped.txt", "from the archive"}}));
    writeFile(in + "/swapped.txt", "old");
    caller->setOverwriteAsker([&](const QString &) {
        writeFile(in + "/newcomer.tmp", "someone else's file");
        QFile::remove(swapped);
        QFile::rename(in + "/newcomer.tmp", swapped);
        return SALVO_ANSWER_YES;
    });
    EXPECT_EQ(run({swapped}).successCount, 1);
    EXPECT_EQ(readFile(in + "/swapped.txt"), "from the archive");
    EXPECT_EQ(readFile(swapped), "someone else's file");

    // The same file (the same inode) grows, or is written over in place,
    // while it is extracted: it is no longer what was read, and stays.
    for (const bool grows : {true, false}) {
        const QString changed = put(grows ? "grows.zip" : "overwritten.zip", storedZip({{"changed.txt", "from the archive"}}));
        QFile file(changed);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        // A time no write of now can give it.
        file.setFileTime(QDateTime(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC), QFileDevice::FileModificationTime);
        writeFile(in + "/changed.txt", "old");
        caller->setOverwriteAsker([&](const QString &) {
            if (grows)
                file.seek(file.size());
            file.write(grows ? "more" : "X");
            file.flush();
            return SALVO_ANSWER_YES;
        });
        EXPECT_EQ(run({changed}).successCount, 1) << grows;
        EXPECT_EQ(readFile(in + "/changed.txt"), "from the archive");
        EXPECT_TRUE(QFile::exists(changed)) << grows;
    }

    // Rewritten in place, with its size and modification time put back: only
    // the change time tells, and the rewritten file stays.
    const QByteArray before = storedZip({{"inplace.txt", "from the archive"}});
    const QString inPlace = put("inplace.zip", before);
    writeFile(in + "/inplace.txt", "old");
    QByteArray rewritten = before;
    rewritten.replace("from the archive", "FROM THE ARCHIVE");
    caller->setOverwriteAsker([&](const QString &) {
        struct stat st {};
        ::stat(QFile::encodeName(inPlace).constData(), &st);
        // The change time moves on at the clock's coarse step: once the clock
        // has passed the file's change time, a write gives it another one.
        timespec now {};
        do
            ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
        while (now.tv_sec == st.st_ctim.tv_sec && now.tv_nsec <= st.st_ctim.tv_nsec);
        QFile f(inPlace);
        EXPECT_TRUE(f.open(QIODevice::ReadWrite));
        f.write(rewritten);
        f.close();
        const timespec times[2] = {st.st_atim, st.st_mtim};
        ::utimensat(AT_FDCWD, QFile::encodeName(inPlace).constData(), times, 0);
        return SALVO_ANSWER_YES;
    });
    EXPECT_EQ(run({inPlace}).successCount, 1);
    EXPECT_EQ(readFile(in + "/inplace.txt"), "from the archive");
    EXPECT_EQ(readFile(inPlace), rewritten);
}

TEST_F(BatchRunTest, AFolderMadeForAFailedArchiveGoesAgainWhileEmpty)
{
    // A zip whose last entry has a bad checksum, in DD mode with a folder per archive.
    settings().write(ini::kDdExtractMode, 1);
    settings().write(ini::kDdFileNameFolder, 1);
    settings().write(ini::kErrorSkip, 1);
    const QByteArray badCrc = readFile(storedArchive("zip.zip"));
    ASSERT_FALSE(badCrc.isEmpty());
    const QString made = put("a.zip", badCrc);
    const QString existedEmpty = put("b.zip", badCrc);
    const QString existedFull = put("c.zip", badCrc);
    ASSERT_TRUE(QDir().mkpath(in + "/b"));
    writeFile(in + "/c/keep.txt", "mine");

    EXPECT_EQ(run({made, existedEmpty, existedFull}, TargetPlace::BesideArchive, LaunchMode::DdMode).successCount, 0);
    EXPECT_FALSE(QFileInfo::exists(in + "/a"));
    EXPECT_TRUE(QFileInfo(in + "/b").isDir());
    EXPECT_EQ(QDir(in + "/c").entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"keep.txt"});
    EXPECT_EQ(readFile(in + "/c/keep.txt"), "mine");
    for (const QString &archive : {made, existedEmpty, existedFull})
        EXPECT_EQ(readFile(archive), badCrc);
}

TEST_F(BatchRunTest, EveryNameIsTakenAsItIsAndQuotesTravelThroughPrivateLinks)
{
    settings().write(ini::kNormalDeleteArchive, 1);
    settings().write(ini::kNormalFileNameFolder, 1);
    // A neighbour whose name a quote could splice into the command line.
    const QByteArray victimBytes = writeArchive({file("victim.txt", "victim")}, "zip");
    const QString victim = put("victim.zip", victimBytes);
    struct Case {
        QString name;
        QByteArray bytes;
        QString inside;
    };
    const QByteArray quotedBytes = writeArchive({file("q.txt", "quoted")}, "zip");
    const std::vector<Case> hostile{
        {"a b.zip", writeArchive({file("1.txt", "blank")}, "zip"), "a b/1.txt"},
        {"x;rm -rf ~.lzh", storedLzh({{"2.txt", "semicolon"}}, 0), "x;rm -rf ~/2.txt"},
        {"$(touch pwned).7z", writeArchive({file("3.txt", "dollar")}, "7zip"), "$(touch pwned)/3.txt"},
        {"-rf.tar", writeArchive({file("4.txt", "dash")}, "ustar"), "-rf/4.txt"},
        {"new\nline.zip", writeArchive({file("5.txt", "newline")}, "zip"), "new\nline/5.txt"},
        {"tab\tname.zip", writeArchive({file("6.txt", "tab")}, "zip"), "tab\tname/6.txt"},
        // A double quote cannot be quoted: these go through links with plain names.
        {"victim.zip\" \"x.zip", quotedBytes, "victim.zip\" \"x/q.txt"},
        {"q\" \"victim.zip", quotedBytes, "q\" \"victim/q.txt"},
        {"\"lead.zip", quotedBytes, "\"lead/q.txt"},
        {"say \"hi\".lzh", storedLzh({{"7.txt", "lzh"}}, 0), "say \"hi\"/7.txt"},
    };
    QStringList queue;
    for (const Case &c : hostile)
        queue << put(c.name, c.bytes);
    // The volumes of a split archive with a quote keep their numbers.
    const QByteArray split = writeArchive({file("8.txt", QByteArray(3000, 's'))}, "7zip", "none", "7zip:compression=store");
    queue << put("say \"hi\".7z.001", split.left(1000));
    put("say \"hi\".7z.002", split.mid(1000));
    const RunOutcome out = run(queue);
    EXPECT_EQ(out.successCount, int(hostile.size()) + 1) << QStringList(messages()).join('\n').toStdString();
    for (const Case &c : hostile) {
        EXPECT_TRUE(QFile::exists(in + "/" + c.inside)) << c.name.toStdString();
        EXPECT_FALSE(QFile::exists(in + "/" + c.name)) << c.name.toStdString();
    }
    EXPECT_EQ(readFile(in + "/\"lead/q.txt"), "quoted");
    EXPECT_EQ(readFile(in + "/say \"hi\".7z/8.txt"), QByteArray(3000, 's'));
    EXPECT_FALSE(QFile::exists(in + "/say \"hi\".7z.002"));
    EXPECT_FALSE(QFile::exists(home.path("pwned")));
    EXPECT_FALSE(QFile::exists(QDir::currentPath() + "/pwned"));
    // The neighbour is untouched, and the links are gone again.
    EXPECT_EQ(readFile(victim), victimBytes);
    EXPECT_FALSE(QFile::exists(in + "/victim.txt"));
    EXPECT_FALSE(QFile::exists(in + "/victim/victim.txt"));
    EXPECT_TRUE(QDir(home.myPath() + "tmp").isEmpty());

    // An output folder with a quote; its overwrite question names the real
    // path; the file at the archive's path is checked before it is deleted.
    const QString fixed = home.path("out \"q\"");
    settings().write(ini::kAlwaysPath, fixed);
    settings().write(ini::kNormalFileNameFolder, 2);
    settings().write(ini::kNormalOverWrite, 1);
    writeFile(fixed + "/q.txt", "old");
    const QString quoted = put("again \"q\".zip", quotedBytes);
    QStringList asked;
    caller->setOverwriteAsker([&](const QString &path) {
        asked << path;
        writeFile(in + "/newcomer.tmp", "someone else's file");
        QFile::remove(quoted);
        QFile::rename(in + "/newcomer.tmp", quoted);
        return SALVO_ANSWER_YES;
    });
    EXPECT_EQ(run({quoted}, TargetPlace::UsualFolder).successCount, 1);
    EXPECT_EQ(asked, QStringList{fixed + "/q.txt"});
    EXPECT_EQ(readFile(fixed + "/q.txt"), "quoted");
    EXPECT_EQ(readFile(quoted), "someone else's file");
}

TEST_F(BatchRunTest, TheAutomaticFolderTestReadsNamesAsTheExtractionWrites)
{
    // "./" before every name and empty parts: two loose files get a folder, one
    // top folder does not.
    const QString loose = put("loose.tar", writeArchive({{"./", "", EntryKind::Folder, {}}, file("./a.txt"),
                                                         file(".//b.txt")}, "ustar"));
    const QString single = put("single.tar", writeArchive({{"./", "", EntryKind::Folder, {}},
                                                           {"./top/", "", EntryKind::Folder, {}},
                                                           file("./top/c.txt"), file("./top//d.txt")}, "ustar"));
    EXPECT_EQ(run({loose, single}).successCount, 2);
    EXPECT_TRUE(QFile::exists(in + "/loose/a.txt"));
    EXPECT_TRUE(QFile::exists(in + "/loose/b.txt"));
    EXPECT_FALSE(QFile::exists(in + "/a.txt"));
    EXPECT_TRUE(QFile::exists(in + "/top/c.txt"));
    EXPECT_TRUE(QFile::exists(in + "/top/d.txt"));
    EXPECT_FALSE(QFile::exists(in + "/single"));

    // A compressed tar whose first name is UTF-8 and a later one CP932: from
    // that one on names are read as CP932, by the extraction and the folder
    // test alike, so the two names ("é" and "ﾃｩ") make two top folders.
    Entry later{"", "y", EntryKind::File, {}};
    later.rawName = "\xC3\xA9/\x83\x41.txt";
    const QString mixed = put("mixed.tgz", writeArchive({file("\u00e9/x.txt"), later}, "ustar", "gzip"));
    EXPECT_EQ(run({mixed}).successCount, 1);
    EXPECT_TRUE(QFile::exists(in + QStringLiteral("/mixed/\u00e9/x.txt")));
    EXPECT_TRUE(QFile::exists(in + QStringLiteral("/mixed/\uff83\uff69/\u30a2.txt")));
    EXPECT_FALSE(QFile::exists(in + QStringLiteral("/\u00e9")));

    // The next archive is tested while the one before is extracted. When that
    // one replaces it (after 32 MB of zeros, well after the early test), it is
    // tested again as it is when its turn comes: now it has loose files.
    const QString next = put("sub/next.zip", writeArchive({file("nt/g.txt")}, "zip"));
    const QByteArray looseNext = writeArchive({file("g.txt"), file("h.txt")}, "zip");
    const QString replacing = put("replacing.zip", writeArchive({file("sub/zeros.bin", QByteArray(32 << 20, '\0')),
                                                                 file("sub/next.zip", looseNext)}, "zip"));
    EXPECT_EQ(run({replacing, next}).successCount, 2);
    EXPECT_TRUE(QFile::exists(in + "/sub/next/g.txt"));
    EXPECT_FALSE(QFile::exists(in + "/sub/nt"));

    // Only the 7-zip component is there: zip archives are extracted with it
    // whatever "Use7Zip" says, and the folder test asks the same component.
    availability.present[int(Component::UnZip32)] = false;
    caller = std::make_unique<ComponentCaller>(availability);
    probe = std::make_unique<ArchiveProbe>(*caller, home.myPath());
    settings().write(ini::kUse7Zip, 0);
    const QString zip = put("z.zip", writeArchive({file("e.txt"), file("f.txt")}, "zip"));
    EXPECT_EQ(run({zip}).successCount, 1);
    EXPECT_TRUE(QFile::exists(in + "/z/e.txt"));
    EXPECT_FALSE(QFile::exists(in + "/e.txt"));
}

TEST_F(BatchRunTest, AConsoleExtractorCountsOnlyWhenItEndedWellAndLeftWhatItLists)
{
    // Stand-ins for rk: the listing names two entries; extracting writes them
    // unless the archive's name says otherwise, and ends with the code it names.
    const QString bin = home.path("bin/");
    writeFile(bin + "rk",
              "#!/bin/sh\n"
              "for a; do archive=$a; done\n"
              "case \"$1\" in\n"
              "  -va) printf 'h\\nh\\nh\\nh\\nh\\nh\\nh\\none.txt 1 1\\nsub/two.txt 1 1\\n"
              "  -------                    -------\\nFinished. 2 files\\n' ; exit 0 ;;\n"
              "esac\n"
              "for a; do case \"$a\" in -D*) out=${a#-D} ;; esac; done\n"
              "case \"$archive\" in *nothing*) exit 0 ;; esac\n"
              "mkdir -p \"$out/sub\" && echo 1 > \"$out/one.txt\"\n"
              "case \"$archive\" in *half*) exit 0 ;; esac\n"
              "echo 2 > \"$out/sub/two.txt\"\n"
              "case \"$archive\" in *code3*) exit 3 ;; esac\n"
              "exit 0\n");
    QFile::setPermissions(bin + "rk", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    availability.present[int(Component::RkExe)] = true;
    availability.rkExePath = bin;
    caller = std::make_unique<ComponentCaller>(availability);
    probe = std::make_unique<ArchiveProbe>(*caller, home.myPath());
    settings().write(ini::kNormalFileNameFolder, 1);
    settings().write(ini::kNormalDeleteArchive, 1);
    settings().write(ini::kErrorSkip, 1);

    const QString good = put("good.rk", "rk"), code3 = put("code3.rk", "rk"), nothing = put("nothing.rk", "rk"),
                  half = put("half.rk", "rk");
    const RunOutcome out = run({good, code3, nothing, half});
    EXPECT_EQ(out.successCount, 1);
    EXPECT_EQ(out.extracted, (std::set<int>{0}));
    EXPECT_TRUE(QFile::exists(in + "/good/sub/two.txt"));
    // Nothing checks what a console program wrote: its archive is never deleted.
    for (const QString &archive : {good, code3, nothing, half})
        EXPECT_TRUE(QFile::exists(archive)) << archive.toStdString();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
