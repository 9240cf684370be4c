// Deleting entries from and adding files to ZIP, LZH and 7z archives through
// the components, checked by the outside tools when they are installed
// (unzip, zip, jlha, lhasa, 7zz, bsdtar) and by reading the archives back; and
// every failure leaving the archive byte for byte as it was.
#include "platform/TextCodec.h"
#include "support/ArchiveBuilder.h"
#include "support/ComponentLib.h"
#include "support/TestEnvironment.h"
#include "support/RealArchives.h"
#include "support/TreeSnapshot.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <chrono>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <random>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <utime.h>

using namespace salvo;
using namespace salvo::test;

namespace {

QByteArray cp932(const QString &text)
{
    return encodeCp932(text);
}

// An outside tool, or an empty path when it is not installed.
QString tool(const char *name)
{
    return QStandardPaths::findExecutable(QLatin1String(name));
}

// Runs an installed tool; true when it is missing (nothing to check then).
bool toolAccepts(const char *name, const QStringList &args, QByteArray *output = nullptr)
{
    const QString program = tool(name);
    if (program.isEmpty())
        return true;
    QByteArray out;
    const int code = runProgram(program, args, &out);
    if (output)
        *output = out;
    EXPECT_EQ(code, 0) << name << " " << args.join(' ').toStdString() << "\n" << out.toStdString();
    return code == 0;
}

class WriteTest : public ::testing::Test {
protected:
    TempHome home;
    QString dir = home.path("w");

    void SetUp() override { QDir().mkpath(dir); }

    std::string at(const QString &relative) { return (dir + "/" + relative).toStdString(); }
    std::string put(const QString &relative, const QByteArray &bytes)
    {
        writeFile(dir + "/" + relative, bytes);
        return at(relative);
    }
    // A list file of quoted names, one a line.
    std::string list(const QString &relative, const QStringList &names)
    {
        QByteArray text;
        for (const QString &n : names)
            text += "\"" + n.toUtf8() + "\"\r\n";
        return put(relative, text);
    }
    // Runs a command; `counts` receives the first line of the output ("done requested").
    int run(const char *file, const char *prefix, const std::string &command, std::string *counts = nullptr,
            std::string *output = nullptr)
    {
        ComponentLib lib(file, prefix);
        EXPECT_TRUE(lib.loaded());
        std::string out;
        const int code = lib.run(command, &out);
        if (counts)
            *counts = out.substr(0, out.find('\n'));
        if (output)
            *output = out;
        return code;
    }
    // Entry names as the reading component lists them, sorted.
    std::vector<std::string> names(const std::string &archive)
    {
        std::vector<std::string> out = listedNames(archive);
        std::sort(out.begin(), out.end());
        return out;
    }
    // Extracts through the reading component and returns the files' contents.
    std::map<std::string, std::string> contents(const std::string &archive)
    {
        return extractedTree(archive, home.path("x"));
    }
    // Everything in the archives' folder: a failure leaves no temporary file.
    std::vector<std::string> folderNames()
    {
        std::vector<std::string> out;
        for (const QString &n : QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
            out.push_back(n.toStdString());
        return out;
    }
};

// The central directory's names and their UTF-8 flags.
std::vector<std::pair<QByteArray, bool>> zipCentralNames(const QByteArray &zip)
{
    std::vector<std::pair<QByteArray, bool>> out;
    qsizetype at = 0;
    while ((at = zip.indexOf(QByteArray("PK\x01\x02", 4), at)) >= 0 && at + 46 <= zip.size()) {
        auto u16 = [&](qsizetype p) { return quint16(uchar(zip[p]) | uchar(zip[p + 1]) << 8); };
        const quint16 flags = u16(at + 8), nameLength = u16(at + 28);
        out.push_back({zip.mid(at + 46, nameLength), (flags & 0x800) != 0});
        at += 46 + nameLength;
    }
    return out;
}

TEST_F(WriteTest, ZipDeletesAndAddsCopyingUntouchedEntriesAsTheyWere)
{
    const QByteArray legacy = cp932(QStringLiteral("表示\\ソフト.txt"));
    const std::vector<RawEntry> entries{
        {legacy, "soft"},
        {"keep.txt", "keep this"},
        {"gone.txt", "delete me"},
        {"dir/", "", true},
        {"dir/inner.txt", "inner"},
    };
    const QByteArray original = storedZip(entries);
    const std::string zip = put("a.zip", original);
    ::chmod(zip.c_str(), 0640);
    std::string counts;

    EXPECT_EQ(run("zip32j.so", "Zip", "-d \"" + zip + "\" \"gone.txt\"", &counts), 0);
    EXPECT_EQ(counts, "1 1");
    // A folder's name deletes what is under it.
    EXPECT_EQ(run("zip32j.so", "Zip", "-d \"" + zip + "\" \"dir\"", &counts), 0);
    EXPECT_EQ(counts, "1 1");
    EXPECT_EQ(names(zip), (std::vector<std::string>{"keep.txt", "表示/ソフト.txt"}));

    // The list form: names of files in the base folder, stored at the top.
    put("drop/新規.txt", "new file");
    put("drop/plain.txt", "plain");
    const std::string l1 = list("list1.tmp", {"新規.txt", "plain.txt"});
    EXPECT_EQ(run("zip32j.so", "Zip", "-u -S -D \"" + zip + "\" \"" + at("drop/") + "\" \"" + l1 + "\"", &counts), 0);
    EXPECT_EQ(counts, "2 2");
    // The staging form: everything under the staging folder, "*.*" taking
    // names without a dot too; "-D" stores no folder entries.
    put("stage/x/y/deep.txt", "deep");
    put("stage/x/y/README", "no dot");
    EXPECT_EQ(run("zip32j.so", "Zip", "-u -S -D -r \"" + zip + "\" \"" + at("stage/") + "\" *.*", &counts), 0);
    EXPECT_EQ(counts, "2 2");
    // The 7-Zip component writes zip archives too.
    put("drop/seven.txt", "seven");
    EXPECT_EQ(run("7-zip32.so", "SevenZip",
                  "a -tzip \"" + zip + "\" \"" + at("drop/") + "\" \"" + list("list2.tmp", {"seven.txt"}) + "\"", &counts),
              0);
    EXPECT_EQ(counts, "1 1");

    EXPECT_EQ(names(zip), (std::vector<std::string>{"keep.txt", "plain.txt", "seven.txt", "x/y/README", "x/y/deep.txt",
                                                    "新規.txt", "表示/ソフト.txt"}));
    const std::map<std::string, std::string> files = contents(zip);
    EXPECT_EQ(files.at("新規.txt"), "file:new file");
    EXPECT_EQ(files.at("x/y/deep.txt"), "file:deep");
    EXPECT_EQ(files.at("表示/ソフト.txt"), "file:soft");
    toolAccepts("unzip", {"-tq", QString::fromStdString(zip)});

    // Entries that stayed are the same bytes (stored data, legacy name); new
    // names are UTF-8 with the flag; the archive kept its permissions.
    const QByteArray now = readFile(QString::fromStdString(zip));
    EXPECT_TRUE(now.contains(QByteArray("keep.txt") + "keep this"));
    const auto central = zipCentralNames(now);
    const auto find = [&](const QByteArray &name) {
        return std::find_if(central.begin(), central.end(), [&](const auto &e) { return e.first == name; });
    };
    ASSERT_NE(find(legacy), central.end());
    EXPECT_FALSE(find(legacy)->second);
    ASSERT_NE(find(QStringLiteral("新規.txt").toUtf8()), central.end());
    EXPECT_TRUE(find(QStringLiteral("新規.txt").toUtf8())->second);
    struct stat st {};
    ::stat(zip.c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // "-u": a file not newer than its entry is not added, and that is said.
    struct utimbuf old {946684800, 946684800};
    ::utime(at("drop/plain.txt").c_str(), &old);
    const QByteArray before = readFile(QString::fromStdString(zip));
    EXPECT_EQ(run("zip32j.so", "Zip", "-u -S -D \"" + zip + "\" \"" + at("drop/") + "\" \"" + list("l3.tmp", {"plain.txt"}) + "\"",
                  &counts),
              SALVO_E_USER_SKIP);
    EXPECT_EQ(counts, "0 1");
    EXPECT_EQ(readFile(QString::fromStdString(zip)), before);

    // A ZIP64 archive as the zip tool makes it.
    if (!tool("zip").isEmpty()) {
        const std::string z64 = at("z64.zip");
        put("big/one.txt", "one");
        put("big/two.txt", "two");
        ASSERT_EQ(runProgram(tool("zip"), {"-q", "-j", "-fz", QString::fromStdString(z64),
                                           QString::fromStdString(at("big/one.txt")), QString::fromStdString(at("big/two.txt"))}),
                  0);
        EXPECT_EQ(run("zip32j.so", "Zip", "-d \"" + z64 + "\" \"one.txt\""), 0);
        EXPECT_EQ(run("zip32j.so", "Zip", "-u -S -D \"" + z64 + "\" \"" + at("drop/") + "\" \"" + at("list2.tmp") + "\""), 0);
        EXPECT_EQ(names(z64), (std::vector<std::string>{"seven.txt", "two.txt"}));
        toolAccepts("unzip", {"-tq", QString::fromStdString(z64)});
    }
}

TEST_F(WriteTest, LzhOfEveryHeaderLevelAndCp932Names)
{
    // Archives of header levels 0 to 3 as LHa for UNIX wrote them, and of levels 0 to 2 as jlha makes them.
    std::vector<std::string> archives;
    for (int level = 0; level <= 3; ++level) {
        const QString name = QStringLiteral("lha_header%1.lzh").arg(level);
        archives.push_back(put(name, readFile(storedArchive(name))));
    }
    if (!tool("jlha").isEmpty()) {
        put("src/a.txt", QByteArray(5000, 'a'));
        put("src/sub/b.txt", "bee");
        for (int level = 0; level <= 2; ++level) {
            const std::string arc = at(QStringLiteral("jlha%1.lzh").arg(level));
            QByteArray out;
            ASSERT_EQ(runProgram("/bin/sh", {"-c", QStringLiteral("cd '%1/src' && '%2' a%3q '%4' a.txt sub/b.txt")
                                                       .arg(dir, tool("jlha")).arg(level).arg(QString::fromStdString(arc))},
                                 &out),
                      0)
                << out.toStdString();
            archives.push_back(arc);
        }
    }
    put("drop/added.txt", QByteArray("added text ").repeated(3000));
    const std::string l = list("l.tmp", {"added.txt"});
    for (const std::string &arc : archives) {
        const QByteArray original = readFile(QString::fromStdString(arc));
        std::vector<std::string> before = names(arc);
        ASSERT_GE(before.size(), 2u) << arc;
        // The first file (or folder, with all under it) goes; a file comes in.
        std::string victim = before[0];
        while (!victim.empty() && victim.back() == '/')
            victim.pop_back();
        std::string counts;
        ASSERT_EQ(run("unlha32.so", "Unlha", "d \"" + arc + "\" \"" + victim + "\"", &counts), 0) << arc;
        EXPECT_EQ(run("unlha32.so", "Unlha", "a -x \"" + arc + "\" \"" + at("drop/") + "\" \"" + l + "\"", &counts), 0) << arc;
        EXPECT_EQ(counts, "1 1");
        std::vector<std::string> expected;
        for (const std::string &n : before) {
            if (n != victim && n.compare(0, victim.size() + 1, victim + "/") != 0)
                expected.push_back(n);
        }
        expected.push_back("added.txt");
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(names(arc), expected) << arc;
        EXPECT_EQ(contents(arc).at("added.txt"), "file:" + QByteArray("added text ").repeated(3000).toStdString());
        // Members that stay are copied with their headers as they were.
        const QByteArray now = readFile(QString::fromStdString(arc));
        EXPECT_TRUE(now.contains(original.right(original.size() - original.indexOf("-lh", 3) + 2).left(24))) << arc;
        toolAccepts("jlha", {"t", QString::fromStdString(arc)});
        toolAccepts("lhasa", {"t", QString::fromStdString(arc)});
    }

    // CP932 names: kept, and new ones written so, in folders made for them.
    const std::vector<RawEntry> entries{
        {cp932(QStringLiteral("表示\\ソフト.txt")), "soft"},
        {cp932(QStringLiteral("能力.txt")), "nou"},
    };
    put("jp/日本語の名前.txt", "japanese");
    put("jp/한글.txt", "hangul");
    for (int level : {0, 2}) {
        const std::string arc = put(QStringLiteral("sjis%1.lzh").arg(level), storedLzh(entries, level));
        std::string counts;
        EXPECT_EQ(run("unlha32.so", "Unlha", "d -jyd \"" + arc + "\" \"能力.txt\"", &counts), 0);
        EXPECT_EQ(run("unlha32.so", "Unlha",
                      "a -x \"" + arc + "\"  -jb\"新しい/フォルダ\" \"" + at("jp/") + "\" \"" +
                          list("jp.tmp", {QStringLiteral("日本語の名前.txt")}) + "\"",
                      &counts),
                  0);
        EXPECT_EQ(names(arc), (std::vector<std::string>{"新しい/", "新しい/フォルダ/", "新しい/フォルダ/日本語の名前.txt",
                                                        "表示/ソフト.txt"}));
        const QByteArray bytes = readFile(QString::fromStdString(arc));
        EXPECT_TRUE(bytes.contains(cp932(QStringLiteral("日本語の名前.txt"))));
        EXPECT_TRUE(bytes.contains(cp932(QStringLiteral("表示\\ソフト.txt"))));
        EXPECT_EQ(contents(arc).at("新しい/フォルダ/日本語の名前.txt"), "file:japanese");
        toolAccepts("jlha", {"t", QString::fromStdString(arc)});
        toolAccepts("lhasa", {"t", QString::fromStdString(arc)});
        // A name CP932 cannot hold is refused, not mangled.
        std::string output;
        EXPECT_EQ(run("unlha32.so", "Unlha",
                      "a -x \"" + arc + "\" \"" + at("jp/") + "\" \"" + list("kr.tmp", {QStringLiteral("한글.txt")}) + "\"",
                      &counts, &output),
                  SALVO_E_FILE_OPEN);
        EXPECT_NE(output.find("CP932"), std::string::npos) << output;
        EXPECT_EQ(readFile(QString::fromStdString(arc)), bytes);
        // So is a target folder that climbs out of the archive's tree.
        EXPECT_EQ(run("unlha32.so", "Unlha", "a -x \"" + arc + "\" -jb\"../up\" \"" + at("jp/") + "\" \"" + at("jp.tmp") + "\""),
                  SALVO_E_UNSAFE_PATH);
        EXPECT_EQ(readFile(QString::fromStdString(arc)), bytes);
    }
}

TEST_F(WriteTest, DamagedLzhIsRefusedAsItIsAndBytesAfterItsEndMarkStay)
{
    put("drop/added.txt", "added");
    const std::string l = list("l.tmp", {"added.txt"});
    const std::string add = "a -x \"%1\" \"" + at("drop/") + "\" \"" + l + "\"";
    auto command = [](const std::string &form, const std::string &arc) {
        return QString::fromStdString(form).arg(QString::fromStdString(arc)).toStdString();
    };
    // A header whose time no longer matches its checksum (levels 0 and 1) or
    // its CRC (levels 2 and 3): neither adding nor deleting touches the archive.
    for (int level = 0; level <= 3; ++level) {
        QByteArray bytes = readFile(storedArchive(QStringLiteral("lha_header%1.lzh").arg(level)));
        bytes[15] = static_cast<char>(bytes[15] ^ 0x01);
        const std::string arc = put(QStringLiteral("bad%1.lzh").arg(level), bytes);
        const std::vector<std::string> files = folderNames();
        for (const std::string &form : {add, std::string("d \"%1\" \"file1\"")}) {
            std::string output;
            EXPECT_EQ(run("unlha32.so", "Unlha", command(form, arc), nullptr, &output), SALVO_E_HEADER_BROKEN)
                << level << ": " << output;
            EXPECT_NE(output.find(level < 2 ? "チェックサム" : "CRC"), std::string::npos) << output;
            EXPECT_EQ(readFile(QString::fromStdString(arc)), bytes) << level;
            EXPECT_EQ(folderNames(), files) << level;
        }
    }
    // What follows the end mark (junk, a second archive) is kept after the new
    // end mark as it was.
    const QByteArray junk = readFile(storedArchive("lha_withjunk.lzh"));
    const QByteArray level2 = readFile(storedArchive("lha_header2.lzh"));
    const QByteArray level0 = readFile(storedArchive("lha_header0.lzh"));
    for (const auto &[name, bytes, tail] : {std::tuple{QString("junk.lzh"), junk, junk.mid(level2.size())},
                                            std::tuple{QString("two.lzh"), level2 + level0, level0}}) {
        const std::string arc = put(name, bytes);
        const std::vector<std::string> before = names(arc);
        std::string counts;
        ASSERT_EQ(run("unlha32.so", "Unlha", command(add, arc), &counts), 0) << name.toStdString();
        EXPECT_EQ(counts, "1 1");
        const QByteArray now = readFile(QString::fromStdString(arc));
        EXPECT_TRUE(now.endsWith(tail)) << name.toStdString();
        EXPECT_EQ(now.at(now.size() - tail.size() - 1), '\0') << name.toStdString();
        std::vector<std::string> expected = before;
        expected.push_back("added.txt");
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(names(arc), expected);
        EXPECT_EQ(contents(arc).at("added.txt"), "file:added");
        // Deleting every entry would leave no archive a reader takes: refused.
        std::string everything = "d \"" + arc + "\"", output;
        for (const std::string &n : expected)
            everything += " \"" + n + "\"";
        const QByteArray added = readFile(QString::fromStdString(arc));
        EXPECT_EQ(run("unlha32.so", "Unlha", everything, nullptr, &output), SALVO_E_NOT_SUPPORT) << output;
        EXPECT_EQ(readFile(QString::fromStdString(arc)), added);
    }
}

TEST_F(WriteTest, SevenZipKeepsEntriesAsTheyWereAndAddsWithoutSolidBlocks)
{
    const std::vector<Entry> tree{
        {.name = "a/", .kind = EntryKind::Folder, .mode = 0755},
        {.name = "a/b/", .kind = EntryKind::Folder, .mode = 0700},
        {.name = "a/b/deep.txt", .data = QByteArray("deep ").repeated(1000)},
        {.name = "a/keep.txt", .data = "keep", .mode = 0600},
        {.name = "top.txt", .data = QByteArray("top ").repeated(500)},
        {.name = "empty.txt", .data = ""},
    };
    std::vector<std::string> archives{put("lib.7z", writeArchive(tree, "7zip"))};
    if (!tool("7zz").isEmpty()) {
        for (const Entry &e : tree) {
            if (e.kind == EntryKind::Folder)
                QDir().mkpath(dir + "/tree/" + e.name);
            else
                put("tree/" + e.name, e.data);
        }
        for (const char *solid : {"-ms=on", "-ms=off"}) {
            const std::string arc = at(QStringLiteral("7zz%1.7z").arg(solid));
            QByteArray out;
            ASSERT_EQ(runProgram("/bin/sh", {"-c", QStringLiteral("cd '%1/tree' && '%2' a -bd %3 '%4' a top.txt empty.txt")
                                                       .arg(dir, tool("7zz"), QLatin1String(solid), QString::fromStdString(arc))},
                                 &out),
                      0)
                << out.toStdString();
            archives.push_back(arc);
        }
    }
    put("drop/new one.txt", QByteArray("new ").repeated(2000));
    put("drop/new two.txt", "two");
    put("stage/x/y/staged.txt", "staged");
    const std::string l = list("l.tmp", {"new one.txt", "new two.txt"});
    for (const std::string &arc : archives) {
        const QString path = QString::fromStdString(arc);
        QByteArray slt;
        toolAccepts("7zz", {"l", "-slt", path}, &slt);
        std::string counts;
        ASSERT_EQ(run("7-zip32.so", "SevenZip", "d \"" + arc + "\" \"a/b\"", &counts), 0) << arc;
        EXPECT_EQ(counts, "1 1");
        EXPECT_EQ(run("7-zip32.so", "SevenZip", "a -t7z \"" + arc + "\" \"" + at("drop/") + "\" \"" + l + "\" -ms=off", &counts), 0);
        EXPECT_EQ(counts, "2 2");
        EXPECT_EQ(run("7-zip32.so", "SevenZip", "a -t7z -r \"" + arc + "\" \"" + at("stage/") + "\" *.* -ms=off", &counts), 0);
        EXPECT_EQ(counts, "1 1");
        EXPECT_EQ(names(arc), (std::vector<std::string>{"a/", "a/keep.txt", "empty.txt", "new one.txt", "new two.txt", "top.txt",
                                                        "x/", "x/y/", "x/y/staged.txt"}))
            << arc;
        const std::map<std::string, std::string> files = contents(arc);
        EXPECT_EQ(files.at("top.txt"), "file:" + QByteArray("top ").repeated(500).toStdString());
        EXPECT_EQ(files.at("new one.txt"), "file:" + QByteArray("new ").repeated(2000).toStdString());
        EXPECT_EQ(files.at("empty.txt"), "file:");
        toolAccepts("bsdtar", {"-tf", path});
        if (tool("7zz").isEmpty())
            continue;
        toolAccepts("7zz", {"t", path});
        // Entries that stayed keep times, attributes and checksums exactly;
        // each new file is a block of its own.
        QByteArray after;
        toolAccepts("7zz", {"l", "-slt", path}, &after);
        auto block = [](const QByteArray &listing, const QByteArray &name) {
            qsizetype from = listing.indexOf("Path = " + name + "\n");
            if (from < 0)
                from = listing.indexOf("Path = " + name + "/\n");
            qsizetype to = listing.indexOf("\n\n", from);
            if (to < 0)
                to = listing.size();
            // What the entry is, not where or how its data is kept.
            QByteArray b;
            for (const QByteArray &line : listing.mid(from, to - from).split('\n')) {
                if (!line.startsWith("Block = ") && !line.startsWith("Packed Size = ") && !line.startsWith("Method = "))
                    b += line + '\n';
            }
            return from < 0 ? QByteArray() : b;
        };
        for (const char *kept : {"a", "a/keep.txt", "top.txt", "empty.txt"}) {
            EXPECT_EQ(block(after, kept), block(slt, kept)) << arc << " " << kept;
            EXPECT_FALSE(block(after, kept).isEmpty()) << kept;
        }
        const QByteArray one = block(after, "new one.txt");
        EXPECT_NE(after.indexOf("Block = ", after.indexOf("Path = new one.txt")),
                  after.indexOf("Block = ", after.indexOf("Path = new two.txt")));
        EXPECT_TRUE(one.contains("Attributes = A -rw-")) << one.toStdString();
    }
}

TEST_F(WriteTest, DeletingEveryEntryLeavesAnArchiveThatListsEmptyAndTakesFilesAgain)
{
    put("drop/b.txt", "back again");
    const std::vector<RawEntry> raw{{"a.txt", "only entry"}};
    struct Case {
        const char *name;
        QByteArray bytes;
        const char *writer, *writerPrefix, *remove, *add;
    };
    const Case cases[] = {
        {"e.zip", storedZip(raw), "zip32j.so", "Zip", "-d \"%1\" a.txt", "\"%1\" \"%2\" *.txt"},
        {"e.lzh", storedLzh(raw, 2), "unlha32.so", "Unlha", "d \"%1\" a.txt", "a \"%1\" \"%2\" *.txt"},
    };
    for (const Case &c : cases) {
        const std::string arc = put(c.name, c.bytes);
        std::string counts;
        EXPECT_EQ(run(c.writer, c.writerPrefix, QString(c.remove).arg(QString::fromStdString(arc)).toStdString(), &counts), 0);
        EXPECT_EQ(counts, "1 1") << c.name;
        EXPECT_TRUE(names(arc).empty()) << c.name;
        EXPECT_EQ(run(c.writer, c.writerPrefix,
                      QString(c.add).arg(QString::fromStdString(arc), QString::fromStdString(at("drop/"))).toStdString(),
                      &counts),
                  0);
        EXPECT_EQ(counts, "1 1") << c.name;
        EXPECT_EQ(contents(arc), (std::map<std::string, std::string>{{"b.txt", "file:back again"}})) << c.name;
    }
}

// The decoder process of this test that holds a file open in `folder`.
pid_t parentOf(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');
    return close == std::string::npos ? -1 : std::atoi(line.c_str() + close + 4);
}

// The decoder process (started by this test, or serving a request of one)
// that holds a file of `folder` open.
pid_t writerIn(const QString &folder)
{
    DIR *proc = ::opendir("/proc");
    pid_t found = -1;
    while (dirent *d = ::readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(d->d_name));
        if (pid <= 0)
            continue;
        const pid_t parent = parentOf(pid);
        if (parent != getpid() && (parent <= 0 || parentOf(parent) != getpid()))
            continue;
        const QString fds = QStringLiteral("/proc/%1/fd").arg(pid);
        for (const QString &fd : QDir(fds).entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
            const QString target = QFile::symLinkTarget(fds + "/" + fd);
            if (target.startsWith(folder + "/") && target.contains(QLatin1String("deleted")))
                found = pid;
        }
    }
    ::closedir(proc);
    return found;
}

TEST_F(WriteTest, EveryFailureLeavesTheArchiveAsItWas)
{
    struct Format {
        QString name;
        QByteArray bytes;
        const char *file, *prefix, *remove, *add;
    };
    const std::vector<RawEntry> raw{{"one.txt", "one"}, {"two.txt", "two"}};
    const std::vector<Entry> tree{{.name = "one.txt", .data = "one"}, {.name = "two.txt", .data = "two"}};
    const std::vector<Format> formats{
        {"f.zip", storedZip(raw), "zip32j.so", "Zip", "-d \"%1\" \"%2\"", "-u -S -D \"%1\" \"%2\" \"%3\""},
        {"f.lzh", storedLzh(raw, 2), "unlha32.so", "Unlha", "d \"%1\" \"%2\"", "a -x \"%1\" \"%2\" \"%3\""},
        {"f.7z", writeArchive(tree, "7zip"), "7-zip32.so", "SevenZip", "d \"%1\" \"%2\"", "a -t7z \"%1\" \"%2\" \"%3\" -ms=off"},
    };
    const QString sources = home.path("sources");
    std::mt19937 rng(5);
    QByteArray noise(48 << 20, '\0');
    for (char &c : noise)
        c = static_cast<char>(rng());
    writeFile(sources + "/big.bin", noise);
    writeFile(sources + "/small.txt", "small");
    const std::string missing = list("../missing.tmp", {"small.txt", "missing.txt"});
    const std::string big = list("../big.tmp", {"big.bin"});
    for (const Format &f : formats) {
        const std::string arc = put(f.name, f.bytes);
        const std::vector<std::string> files = folderNames();
        auto command = [&](const char *form, const std::string &second, const std::string &third = {}) {
            const QString text = QString::fromLatin1(form).arg(QString::fromStdString(arc), QString::fromStdString(second));
            return (third.empty() ? text : text.arg(QString::fromStdString(third))).toStdString();
        };
        auto unchanged = [&](const char *what) {
            EXPECT_EQ(readFile(QString::fromStdString(arc)), f.bytes) << f.name.toStdString() << ": " << what;
            EXPECT_EQ(folderNames(), files) << f.name.toStdString() << ": " << what;
        };
        std::string counts;

        EXPECT_EQ(run(f.file, f.prefix, command(f.remove, "nope.txt"), &counts), SALVO_E_NOT_FIND_FILE);
        EXPECT_EQ(counts, "0 1");
        unchanged("entry not found");

        EXPECT_EQ(run(f.file, f.prefix, command(f.add, sources.toStdString() + "/", missing), &counts), SALVO_E_NOT_FIND_FILE);
        unchanged("source missing");

        ::chmod(arc.c_str(), 0444);
        EXPECT_EQ(run(f.file, f.prefix, command(f.remove, "one.txt")), SALVO_E_CANNOT_WRITE);
        unchanged("read-only archive");
        ::chmod(arc.c_str(), 0644);

        // A full disk: no file of the decoder may grow past 4 KiB.
        const QString log = home.path("driver.log");
        const pid_t child = fork();
        if (child == 0) {
            const int fd = ::open(log.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(fd, 1);
            struct rlimit limit {4096, 4096};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            const std::string add = command(f.add, sources.toStdString() + "/", big);
            ::execl(SALVO_DRIVER, SALVO_DRIVER, f.file, f.prefix, add.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
        EXPECT_TRUE(readFile(log).contains("result 0x8005")) << readFile(log).toStdString();
        unchanged("full disk");

        // The decoder killed while it writes: it is looked for each time a
        // process opens the file to add, which the decoder reads while it
        // writes the replacement (it opens it once before, to see it can).
        const int watch = ::inotify_init1(IN_CLOEXEC);
        ASSERT_GE(::inotify_add_watch(watch, QFile::encodeName(sources + "/big.bin").constData(), IN_OPEN), 0);
        auto adding = std::async(std::launch::async, [&] { return run(f.file, f.prefix, command(f.add, sources.toStdString() + "/", big)); });
        pid_t writer = -1;
        pollfd opened{watch, POLLIN, 0};
        while (writer < 0 && ::poll(&opened, 1, 120000) == 1) {
            char events[4096];
            if (::read(watch, events, sizeof events) <= 0)
                break;
            writer = writerIn(dir);
        }
        ::close(watch);
        ASSERT_GT(writer, 0) << f.name.toStdString() << ": no decoder seen writing";
        ::kill(writer, SIGKILL);
        EXPECT_EQ(adding.get(), SALVO_E_WORKER);
        unchanged("decoder killed");
    }
}

} // namespace
