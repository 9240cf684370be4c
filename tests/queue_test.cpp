// Adding to the queue from command-line style texts and folders.
#include "app/ArchiveQueue.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>

#include <cstring>
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

TEST_F(QueueTest, OnlyRegularFilesAreQueued)
{
    // A FIFO would block whoever reads it; sockets and devices are no archives either.
    writeFile(dir + "/tree/a.zip", "z");
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir + "/tree/fifo.zip").constData(), 0600), 0);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray socketPath = QFile::encodeName(dir + "/tree/socket.lzh");
    ASSERT_LT(socketPath.size(), qsizetype(sizeof addr.sun_path));
    std::memcpy(addr.sun_path, socketPath.constData(), socketPath.size());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    QFile::link(dir + "/tree/fifo.zip", dir + "/tree/link-to-fifo.zip");
    QFile::link(dir + "/tree/a.zip", dir + "/tree/link-to-file.zip");

    ArchiveQueue queue;
    const AddResult r = queue.addArchiveList(dir + "/tree " + dir + "/tree/fifo.zip /dev/null");
    ::close(sock);
    QStringList queued = queue.entries();
    queued.sort();
    EXPECT_EQ(queued, QStringList({dir + "/tree/a.zip", dir + "/tree/link-to-file.zip"}));
    EXPECT_EQ(r.added, 2);
    EXPECT_EQ(r.skipped, 5);
}

TEST_F(QueueTest, RemovingRowsInAnyOrder)
{
    ArchiveQueue queue;
    queue.append({"a", "b", "c", "d", "e"});
    queue.removeRowsAt({3, 0, 3, 9});
    EXPECT_EQ(queue.entries(), QStringList({"b", "c", "e"}));
}

} // namespace

namespace {

TEST(SplitFileList, AHundredThousandCharacterLineIsSplitIntoEveryPath)
{
    QString line;
    while (line.size() < 100000)
        line += QStringLiteral("/no/such/file.zip \"/with blank/x.lzh\" ");
    const QStringList paths = splitFileList(line);
    EXPECT_GT(paths.size(), 4000);
    ArchiveQueue queue;
    const AddResult r = queue.addArchiveList(line);
    EXPECT_EQ(r.added, 0);
    EXPECT_EQ(r.skipped, paths.size());
}

} // namespace
