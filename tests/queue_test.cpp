// Adding to the queue from command-line style texts and folders.
#include "app/ArchiveQueue.h"
#include "app/QueueFiles.h"
#include "app/QueueFilter.h"
#include "platform/LocalPath.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace salvo;
using namespace salvo::test;

namespace {

TEST(SplitFileList, QuotedAndUnquotedPaths)
{
    EXPECT_EQ(splitFileList("\"/a b/c.zip\" \"/d e/f.lzh\""), QStringList({"/a b/c.zip", "/d e/f.lzh"}));
    EXPECT_EQ(splitFileList("/a b/c.zip"), QStringList({"/a", "b/c.zip"}));
    EXPECT_EQ(splitFileList("/x.zip \"/y z.rar\" /w.7z"), QStringList({"/x.zip", "/y z.rar", "/w.7z"}));
    // A remainder of fewer than three characters is dropped.
    EXPECT_EQ(splitFileList("/x.zip ab"), QStringList({"/x.zip"}));
    EXPECT_EQ(splitFileList("ab"), QStringList());
    EXPECT_EQ(splitFileList("abc"), QStringList({"abc"}));
    // An unterminated quote runs to the end.
    EXPECT_EQ(splitFileList("\"/a b/c.zip"), QStringList({"/a b/c.zip"}));
    // Two blanks leave an empty path, which is no path.
    EXPECT_EQ(splitFileList("/x.zip  /y.zip"), QStringList({"/x.zip", "/y.zip"}));
}

class QueueTest : public ::testing::Test {
protected:
    TempHome home;
    QString dir = home.path("in");
};

TEST_F(QueueTest, FilesFoldersAndMissingPaths)
{
    writeFile(dir + "/one two.zip", "z");
    writeFile(dir + "/tree/a.lzh", "l");
    writeFile(dir + "/tree/sub/b.rar", "r");
    writeFile(dir + "/tree/sub/deeper/c.7z", "7");
    writeFile(dir + QStringLiteral("/日本語 名前.lzh"), "j");

    ArchiveQueue queue;
    const AddResult r = queue.addArchiveList("\"" + dir + "/one two.zip\" " + dir + "/tree " + dir
                                             + "/missing.zip \"" + dir + QStringLiteral("/日本語 名前.lzh\""));
    EXPECT_EQ(r.added, 5);
    EXPECT_EQ(r.skipped, 1);
    ASSERT_EQ(queue.size(), 5);
    EXPECT_EQ(queue.at(0), dir + "/one two.zip");
    QStringList fromTree = queue.entries().mid(1, 3);
    fromTree.sort();
    EXPECT_EQ(fromTree, QStringList({dir + "/tree/a.lzh", dir + "/tree/sub/b.rar", dir + "/tree/sub/deeper/c.7z"}));
    EXPECT_EQ(queue.at(4), dir + QStringLiteral("/日本語 名前.lzh"));

    // Depth first: the files of a sub-folder stand together.
    const qsizetype b = queue.entries().indexOf(dir + "/tree/sub/b.rar");
    const qsizetype c = queue.entries().indexOf(dir + "/tree/sub/deeper/c.7z");
    EXPECT_EQ(std::abs(b - c), 1);
}

TEST_F(QueueTest, SamePathTwiceIsQueuedTwiceAndRelativePathsBecomeAbsolute)
{
    writeFile(dir + "/a.zip", "z");
    ArchiveQueue queue;
    queue.addPath(dir + "/a.zip");
    queue.addPath(dir + "/./a.zip");
    const QString saved = QDir::currentPath();
    QDir::setCurrent(dir);
    queue.addArchiveList("a.zip");
    QDir::setCurrent(saved);
    EXPECT_EQ(queue.entries(), QStringList({dir + "/a.zip", dir + "/a.zip", dir + "/a.zip"}));
}

TEST_F(QueueTest, OneListQueuesEachFileOnceAndLogsWhatItLeftOut)
{
    writeFile(dir + "/x.zip", "z");
    writeFile(dir + "/tree/y.zip", "y");
    QDir().mkpath(dir + "/sub");
    QFile::link(dir + "/x.zip", dir + "/link.zip");
    const QString saved = QDir::currentPath();
    QDir::setCurrent(dir);
    ArchiveQueue queue;
    // One launch names x.zip six ways and tree/y.zip twice (once by its folder).
    const AddResult r = queue.addPaths({"x.zip", dir + "/x.zip", "./x.zip", "sub/../x.zip", "link.zip",
                                        dir + "/tree", "tree/y.zip", "gone.zip", "/dev/null"});
    QDir::setCurrent(saved);
    EXPECT_EQ(queue.entries(), QStringList({dir + "/x.zip", dir + "/tree/y.zip"}));
    EXPECT_EQ(r.added, 2);
    EXPECT_EQ(r.skippedPaths, QStringList{dir + "/gone.zip"});
    EXPECT_EQ(r.notFilePaths, QStringList{"/dev/null"});
    logLeftOut(home.myPath(), r);
    EXPECT_EQ(QString::fromUtf8(readFile(home.myPath() + "Log.txt")),
              dir + QStringLiteral("/gone.zip : 見つからないため登録しませんでした\r\n")
                  + QStringLiteral("/dev/null : 通常のファイルでないため登録しませんでした\r\n"));
}

TEST_F(QueueTest, LinkLoopsAndDanglingLinksEndTheScan)
{
    writeFile(dir + "/tree/a.zip", "z");
    QFile::link(dir + "/tree", dir + "/tree/loop");
    QFile::link(dir + "/nowhere", dir + "/tree/dangling.zip");
    ArchiveQueue queue;
    const AddResult r = queue.addPath(dir + "/tree");
    EXPECT_EQ(r.added, 1);
    EXPECT_EQ(r.skipped, 1);
    EXPECT_EQ(queue.entries(), QStringList({dir + "/tree/a.zip"}));
}

TEST_F(QueueTest, RemovingRowsInAnyOrder)
{
    ArchiveQueue queue;
    queue.append({"a", "b", "c", "d", "e"});
    queue.removeRowsAt({3, 0, 3, 9});
    EXPECT_EQ(queue.entries(), QStringList({"b", "c", "e"}));
}

TEST(QueueFilterTerms, BlanksSubstringsAndEmptyTexts)
{
    const QStringList queue{"/in/abc1.zip", "/in/xdef.lzh", "/in/other.lzh", "/in/ABC.zip", "/in/v1.2/noext",
                            "/in/plain.LZH", "/in/def"};
    // "abc def" is two terms; more blanks anywhere make no empty term, which
    // would match every item.
    for (const QString &text : {QStringLiteral("abc def"), QStringLiteral("  abc   def ")}) {
        EXPECT_EQ(filterTerms(text), QStringList({"abc", "def"}));
        EXPECT_EQ(filterEntries(queue, filterTerms(text), {}, false),
                  QStringList({"/in/other.lzh", "/in/ABC.zip", "/in/v1.2/noext", "/in/plain.LZH"}));
    }
    EXPECT_EQ(filterTerms(" "), QStringList());
    // An extension term matches by substring, case-sensitively, and only in
    // the file name's extension: "/v1.2/noext" has none.
    EXPECT_EQ(filterEntries(queue, {}, {"lz"}, true), QStringList({"/in/xdef.lzh", "/in/other.lzh"}));
    EXPECT_EQ(filterEntries(queue, {}, {"2"}, true), QStringList());
    EXPECT_TRUE(matchesFilter("/in/v1.2/noext", {"v1.2/no"}, {}));
    EXPECT_FALSE(matchesFilter("/in/a.zip", {"zip"}, {})); // the name part ends before the extension
    // Name or extension: either matches.
    EXPECT_EQ(filterEntries(queue, {"other"}, {"zip"}, true),
              QStringList({"/in/abc1.zip", "/in/other.lzh", "/in/ABC.zip"}));
    // Both texts empty: nothing matches, so "含む" keeps nothing and "含まない" everything.
    EXPECT_EQ(filterEntries(queue, filterTerms(""), filterTerms(""), true), QStringList());
    EXPECT_EQ(filterEntries(queue, filterTerms(""), filterTerms(""), false), queue);
}

TEST_F(QueueTest, FilterAppliedTwiceThenReleasedGivesTheQueueBack)
{
    const QString backup = home.myPath() + "original.lst";
    const QString names = home.myPath() + "FilterName.hst";
    const QString extensions = home.myPath() + "FilterExt.hst";
    const QStringList original{"/in/a1.zip", "/in/b1.lzh", "/in/a2.lzh", "/in/c.rar", "/in/a1.zip"};
    QueueFilter filter(home.myPath());
    EXPECT_FALSE(filter.isActive());

    QStringList queue = original;
    ASSERT_EQ(filter.apply(&queue, "a", "", true), QueueFilter::ApplyResult::Applied);
    EXPECT_TRUE(filter.isActive());
    EXPECT_EQ(queue, QStringList({"/in/a1.zip", "/in/a2.lzh", "/in/a1.zip"}));
    QStringList saved;
    ASSERT_EQ(loadFileList(backup, &saved), LoadStatus::Ok);
    EXPECT_EQ(saved, original);
    // The second apply narrows further and keeps the first backup.
    ASSERT_EQ(filter.apply(&queue, "", "lzh", false), QueueFilter::ApplyResult::Applied);
    EXPECT_EQ(queue, QStringList({"/in/a1.zip", "/in/a1.zip"}));
    saved.clear();
    loadFileList(backup, &saved);
    EXPECT_EQ(saved, original);
    // The histories got each non-empty text once, in order.
    filter.apply(&queue, "a", "lzh", true);
    EXPECT_EQ(readFilterHistory(names), QStringList({"a"}));
    EXPECT_EQ(readFilterHistory(extensions), QStringList({"lzh"}));
    recordFilterHistory(names, "b c");
    recordFilterHistory(names, "A");
    recordFilterHistory(names, "b c");
    EXPECT_EQ(readFilterHistory(names), QStringList({"a", "b c", "A"}));
    EXPECT_EQ(readFile(names), "a\r\nb c\r\nA\r\n");

    ASSERT_EQ(filter.release(&queue), QueueFilter::ReleaseResult::Restored);
    EXPECT_EQ(queue, original);
    EXPECT_FALSE(filter.isActive());
    EXPECT_FALSE(QFile::exists(backup)); // no stale backup for a later, independent filtering

    // Archives added while the filter is in force come back after the saved
    // queue, without a second copy of the ones the filter kept; archives a run
    // extracted meanwhile stay away.
    queue = original;
    filter.apply(&queue, "", "zip", true);
    EXPECT_EQ(queue, QStringList({"/in/a1.zip", "/in/a1.zip"}));
    queue << "/in/new.7z" << "/in/b1.lzh";
    filter.noteExtracted({"/in/a1.zip"});
    queue.removeAt(0);
    filter.release(&queue);
    EXPECT_EQ(queue, QStringList({"/in/b1.lzh", "/in/a2.lzh", "/in/c.rar", "/in/a1.zip", "/in/new.7z"}));

    // Without its backup the queue stays as it is.
    filter.apply(&queue, "zzz", "", true);
    EXPECT_TRUE(queue.isEmpty());
    QFile::remove(backup);
    queue << "/in/kept.zip";
    EXPECT_EQ(filter.release(&queue), QueueFilter::ReleaseResult::BackupMissing);
    EXPECT_EQ(queue, QStringList({"/in/kept.zip"}));
    EXPECT_FALSE(filter.isActive());

    // A backup that cannot be written stops the filter before it narrows anything.
    QueueFilter nowhere(home.path("no/such/folder/"));
    queue = original;
    EXPECT_EQ(nowhere.apply(&queue, "a", "", true), QueueFilter::ApplyResult::BackupFailed);
    EXPECT_EQ(queue, original);
    EXPECT_FALSE(nowhere.isActive());
}

} // namespace

namespace {

TEST(SplitFileList, AHundredThousandCharacterLineSplitsIntoEveryPath)
{
    QString line;
    int pieces = 0;
    while (line.size() < 100000) {
        line += QStringLiteral("/no/such/file.zip \"/with blank/x.lzh\" ");
        pieces += 2;
    }
    const QStringList paths = splitFileList(line);
    ASSERT_EQ(paths.size(), pieces);
    EXPECT_EQ(paths.at(pieces - 2), "/no/such/file.zip");
    EXPECT_EQ(paths.at(pieces - 1), "/with blank/x.lzh");
    ArchiveQueue queue;
    const AddResult r = queue.addArchiveList(line);
    EXPECT_EQ(r.added, 0);
    EXPECT_EQ(r.skipped, pieces);
}

TEST(QueueRemoval, ManyScatteredRowsGoInOneReset)
{
    ArchiveQueue queue;
    QStringList all, kept;
    QList<int> rows;
    for (int i = 0; i < 10000; ++i) {
        all << QString::number(i);
        if (i % 2 == 0 || i % 7 == 0)
            rows << i;
        else
            kept << all.last();
    }
    queue.append(all);
    int resets = 0, removals = 0;
    QObject::connect(&queue, &QAbstractItemModel::modelReset, [&] { ++resets; });
    QObject::connect(&queue, &QAbstractItemModel::rowsRemoved, [&] { ++removals; });
    std::reverse(rows.begin(), rows.end());
    queue.removeRowsAt(rows);
    EXPECT_EQ(queue.entries(), kept);
    EXPECT_EQ(resets, 1);
    EXPECT_EQ(removals, 0);
    // A few runs are removed row by row, so that the view keeps its place.
    queue.removeRowsAt({0, 1, 2, 10});
    EXPECT_EQ(resets, 1);
    EXPECT_EQ(removals, 2);
    EXPECT_EQ(queue.size(), kept.size() - 4);
}

TEST(LocalPaths, EveryByteStringComesBackUnchanged)
{
    const std::pair<QByteArray, bool> samples[] = {
        {"plain/ascii.zip", false},
        {"\xE8\xA1\xA8 \xE3\x82\xBD.lzh", false},     // UTF-8 Japanese
        {"\xF0\x9F\x98\x80", false},                // a four-byte character
        {"\x83\x65\x83\x58\x83\x67.zip", true},      // CP932, not UTF-8
        {"\xED\xB2\x80", true},                      // an encoded surrogate
        {"\xF4\x90\x80\x80", true},                  // beyond U+10FFFF
        {"\xC0\xAF", true},                          // overlong
        {"\xE3\x81", true},                          // cut short
        {"\xF0\x9F\x98\x80\x80", true},              // a four-byte character, then a stray byte
    };
    for (const auto &[bytes, rawBytes] : samples) {
        const QString path = pathFromLocalBytes(bytes);
        EXPECT_EQ(localBytesOfPath(path), bytes) << bytes.toHex().constData();
        EXPECT_EQ(hasRawBytes(path), rawBytes) << bytes.toHex().constData();
    }
    EXPECT_EQ(pathFromLocalBytes("\xE8\xA1\xA8"), QStringLiteral("表"));
    EXPECT_EQ(displayPath(pathFromLocalBytes("/in/\x83\x65\x83\x58\x83\x67.zip")), QStringLiteral("/in/テスト.zip"));
    QRandomGenerator random(7);
    for (int i = 0; i < 2000; ++i) {
        QByteArray bytes(1 + random.bounded(12), '\0');
        for (char &c : bytes)
            c = static_cast<char>(1 + random.bounded(255));
        ASSERT_EQ(localBytesOfPath(pathFromLocalBytes(bytes)), bytes) << bytes.toHex().constData();
    }
}

class QueueIntakeTest : public QueueTest {
protected:
    QByteArray raw(const QString &folder, const QByteArray &name) { return QFile::encodeName(folder) + "/" + name; }
    void touch(const QByteArray &path) { ::close(::open(path.constData(), O_CREAT | O_WRONLY, 0600)); }
};

TEST_F(QueueIntakeTest, NamesThatAreNotUtf8AreQueuedByTheirBytes)
{
    // CP932 names as Japanese tools leave them: テスト.zip in フォルダ.
    QDir().mkpath(dir);
    const QByteArray folder = raw(dir, "\x83\x74\x83\x48\x83\x8B\x83\x5F");
    ASSERT_EQ(::mkdir(folder.constData(), 0700), 0);
    const QByteArray file = folder + "/\x83\x65\x83\x58\x83\x67.zip";
    touch(file);
    touch(raw(dir, "plain.zip"));

    ArchiveQueue queue;
    const AddResult scanned = queue.addPath(dir);
    EXPECT_EQ(scanned.added, 2);
    EXPECT_EQ(scanned.skipped, 0);
    QList<QByteArray> bytes;
    for (const QString &entry : queue.entries())
        bytes << localBytesOfPath(entry);
    QList<QByteArray> expected{file, raw(dir, "plain.zip")};
    std::sort(bytes.begin(), bytes.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(bytes, expected);

    // Named directly, as the command line or a hand-off names it.
    queue.clear();
    EXPECT_EQ(queue.addPaths({pathFromLocalBytes(file)}).added, 1);
    ASSERT_EQ(queue.size(), 1);
    EXPECT_EQ(localBytesOfPath(queue.at(0)), file);
    EXPECT_EQ(queue.data(queue.index(0), Qt::DisplayRole).toString(), dir + QStringLiteral("/フォルダ/テスト.zip"));

    // Dropped: the file manager's address keeps the bytes as percent-escapes.
    const QUrl dropped = QUrl::fromEncoded("file://" + file.toPercentEncoding("/"));
    EXPECT_EQ(localBytesOfPath(localPathFromUrl(dropped)), file);
    EXPECT_EQ(localPathFromUrl(QUrl::fromLocalFile(QStringLiteral("/in/表 ソ.zip"))), QStringLiteral("/in/表 ソ.zip"));
    EXPECT_EQ(localPathFromUrl(QUrl("https://example.com/a.zip")), QString());
}

TEST_F(QueueIntakeTest, OnlyRegularFilesAreQueued)
{
    writeFile(dir + "/tree/a.zip", "z");
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir + "/tree/pipe.zip").constData(), 0600), 0);
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray socketPath = QFile::encodeName(dir + "/tree/socket.zip");
    std::memcpy(address.sun_path, socketPath.constData(), socketPath.size());
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ::close(s);
    ASSERT_TRUE(QFile::link("/dev/null", dir + "/tree/device.zip"));

    ArchiveQueue queue;
    const AddResult r = queue.addPaths({dir + "/tree", dir + "/tree/pipe.zip", "/dev/zero"});
    EXPECT_EQ(r.added, 1);
    EXPECT_EQ(r.notFiles, 5);
    EXPECT_EQ(queue.entries(), QStringList{dir + "/tree/a.zip"});
    EXPECT_EQ(queueIntakeKind(dir + "/tree/pipe.zip"), QueueIntake::NotAFile);
    EXPECT_EQ(queueIntakeKind(dir + "/tree/a.zip"), QueueIntake::File);
    EXPECT_EQ(queueIntakeKind(dir + "/tree"), QueueIntake::Folder);
    EXPECT_EQ(queueIntakeKind(dir + "/none"), QueueIntake::Missing);
}

} // namespace
