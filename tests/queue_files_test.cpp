// Saving, loading and sorting the queue.
#include "app/QueueFiles.h"
#include "platform/LocalPath.h"
#include "platform/TextCodec.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <unistd.h>

using namespace salvo;
using namespace salvo::test;

namespace {

TEST(ListFiles, ExtensionRule)
{
    EXPECT_EQ(listFileNameWithExtension("/a/list"), "/a/list.txt");
    EXPECT_EQ(listFileNameWithExtension("/a/list.TXT"), "/a/list.TXT");
    EXPECT_EQ(listFileNameWithExtension("/a/list.csv"), "/a/list.csv");
    EXPECT_EQ(listFileNameWithExtension("/a/list.lst"), "/a/list.lst.txt");
    EXPECT_EQ(listFileFilters().size(), 4);
    EXPECT_TRUE(listFileFilters().at(0).startsWith("List Files(*.txt,*.csv)"));
}

TEST(ListFiles, SaveAndLoadRoundTripWithJapaneseNames)
{
    TempHome home;
    const QString path = home.path("list.txt");
    const QStringList entries{QStringLiteral("/in/表 ソ.lzh"), "/in/b.zip", "/in/b.zip"};
    ASSERT_TRUE(saveFileList(path, entries));
    EXPECT_EQ(readFile(path), QStringLiteral("/in/表 ソ.lzh\r\n/in/b.zip\r\n/in/b.zip\r\n").toUtf8());
    QStringList loaded;
    ASSERT_EQ(loadFileList(path, &loaded), LoadStatus::Ok);
    EXPECT_EQ(loaded, entries);
    // Loading appends to what is there.
    ASSERT_EQ(loadFileList(path, &loaded), LoadStatus::Ok);
    EXPECT_EQ(loaded.size(), 6);
}

TEST(ListFiles, OddFilesLoadAsWrittenOrAreRefused)
{
    TempHome home;
    QStringList loaded;
    writeFile(home.path("empty-last.txt"), "a\r\nb\r\n\r\n");
    ASSERT_EQ(loadFileList(home.path("empty-last.txt"), &loaded), LoadStatus::Ok);
    EXPECT_EQ(loaded, QStringList({"a", "b", ""}));

    loaded.clear();
    writeFile(home.path("sjis.txt"), encodeCp932(QStringLiteral("C:\\表示\\能力.lzh\r\n")));
    ASSERT_EQ(loadFileList(home.path("sjis.txt"), &loaded), LoadStatus::Ok);
    EXPECT_EQ(loaded, QStringList({QStringLiteral("C:\\表示\\能力.lzh")}));

    loaded.clear();
    writeFile(home.path("nul.txt"), QByteArray("/a\0b.zip\n", 9) + QByteArray(100000, 'x') + "\n");
    ASSERT_EQ(loadFileList(home.path("nul.txt"), &loaded), LoadStatus::Ok);
    ASSERT_EQ(loaded.size(), 2);
    EXPECT_EQ(loaded[0], "/ab.zip");
    EXPECT_EQ(loaded[1].size(), 100000);

    QFile big(home.path("big.txt"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    big.resize(kMaxListFileBytes + 1);
    big.close();
    EXPECT_EQ(loadFileList(home.path("big.txt"), &loaded), LoadStatus::TooLarge);
    EXPECT_EQ(loadFileList(home.path("missing.txt"), &loaded), LoadStatus::CannotOpen);
}

TEST(ListFiles, EveryLineEndAndNamesThatAreNotUtf8)
{
    TempHome home;
    QStringList loaded;
    // CR alone (old Mac editors), LF, CR LF, mixed; a UTF-8 byte-order mark.
    writeFile(home.path("ends.txt"), "\xEF\xBB\xBF/a.zip\r/b.zip\r\n/c.zip\n\r/d.zip");
    ASSERT_EQ(loadFileList(home.path("ends.txt"), &loaded), LoadStatus::Ok);
    EXPECT_EQ(loaded, QStringList({"/a.zip", "/b.zip", "/c.zip", "", "/d.zip"}));

    // A name that is not UTF-8 is saved as its bytes and loaded back as the same
    // file, even beside a line that is plain CP932 text.
    const QByteArray raw = QFile::encodeName(home.path("in")) + "/\x83\x65\x83\x58\x83\x67.zip";
    QDir().mkpath(home.path("in"));
    ::close(::open(raw.constData(), O_CREAT | O_WRONLY, 0600));
    const QStringList entries{pathFromLocalBytes(raw), QStringLiteral("/in/表.zip")};
    ASSERT_TRUE(saveFileList(home.path("raw.txt"), entries));
    EXPECT_EQ(readFile(home.path("raw.txt")), raw + "\r\n" + QStringLiteral("/in/表.zip").toUtf8() + "\r\n");
    loaded.clear();
    ASSERT_EQ(loadFileList(home.path("raw.txt"), &loaded), LoadStatus::Ok);
    EXPECT_EQ(loaded, entries);
    EXPECT_EQ(localBytesOfPath(loaded.at(0)), raw);
    loaded.clear();
    writeFile(home.path("mixed.txt"), raw + "\r\n" + encodeCp932(QStringLiteral("C:\\表示.lzh")) + "\r\n");
    ASSERT_EQ(loadFileList(home.path("mixed.txt"), &loaded), LoadStatus::Ok);
    EXPECT_EQ(loaded, QStringList({pathFromLocalBytes(raw), QStringLiteral("C:\\表示.lzh")}));
}

TEST(Sorting, EachKeyIsStableAndIgnoresCase)
{
    const QStringList queue{"/z/B.lzh", "/a/c.zip", "/m/a.rar", "/a/A.7z", "/z/b.lzh", "/a/c.zip"};
    QStringList byPath = queue;
    sortQueueEntries(byPath, 0);
    EXPECT_EQ(byPath, QStringList({"/a/A.7z", "/a/c.zip", "/a/c.zip", "/m/a.rar", "/z/B.lzh", "/z/b.lzh"}));
    QStringList byFolder = queue;
    sortQueueEntries(byFolder, 1);
    EXPECT_EQ(byFolder, QStringList({"/a/c.zip", "/a/A.7z", "/a/c.zip", "/m/a.rar", "/z/B.lzh", "/z/b.lzh"}));
    QStringList byName = queue;
    sortQueueEntries(byName, 2);
    EXPECT_EQ(byName, QStringList({"/a/A.7z", "/m/a.rar", "/z/B.lzh", "/z/b.lzh", "/a/c.zip", "/a/c.zip"}));
    QStringList other = queue;
    sortQueueEntries(other, 7);
    EXPECT_EQ(other, queue);
    // Paths longer than 300 characters keep every character.
    QStringList longOnes{"/b/" + QString(400, 'x'), "/a/" + QString(400, 'y')};
    sortQueueEntries(longOnes, 0);
    EXPECT_EQ(longOnes[0].size(), 403);
    EXPECT_TRUE(longOnes[0].startsWith("/a/"));
}

} // namespace
