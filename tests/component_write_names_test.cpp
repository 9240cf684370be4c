// Which entries a delete, an add or a one-entry extraction acts on, through
// the components: names are matched exactly as the listing shows them, a
// dropped folder brings its whole tree, a list file is never a mask.
// Archives are made by the real tools where they can write the names, and
// byte for byte by the test's own writers where no tool would (absolute
// names, "..", legacy code pages).
#include "platform/TextCodec.h"
#include "support/ArchiveBuilder.h"
#include "support/ComponentLib.h"
#include "support/TestEnvironment.h"
#include "support/TreeSnapshot.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <map>

using namespace salvo;
using namespace salvo::test;

namespace {

// One format the components write: the writer that deletes and adds, and
// how the real tool makes an archive of files in a folder.
struct Format {
    const char *name;     // extension
    const char *file, *prefix;
    const char *add;      // "%1" archive, "%2" base folder, "%3" list file
    QStringList tool;     // program and arguments before the archive and the files
};

const Format kFormats[] = {
    {"zip", "7-zip32.so", "SevenZip", "a -tzip \"%1\" \"%2/\" \"%3\"", {"zip", "-q", "-X"}},
    {"7z", "7-zip32.so", "SevenZip", "a -t7z \"%1\" \"%2/\" \"%3\" -ms=off", {"7zz", "a", "-bd", "-bso0"}},
    {"lzh", "unlha32.so", "Unlha", "a -x \"%1\" \"%2/\" \"%3\"", {"jlha", "a2q"}},
};

class NamesTest : public ::testing::Test {
protected:
    TempHome home;
    QString dir = home.path("w");

    void SetUp() override { QDir().mkpath(dir); }

    std::string at(const QString &relative) const { return (dir + "/" + relative).toStdString(); }
    std::string put(const QString &relative, const QByteArray &bytes)
    {
        writeFile(dir + "/" + relative, bytes);
        return at(relative);
    }
    std::string list(const QString &relative, const QStringList &lines)
    {
        QByteArray text;
        for (const QString &l : lines)
            text += "\"" + l.toUtf8() + "\"\r\n";
        return put(relative, text);
    }
    // Makes `archive` with the format's own tool from files in `folder`.
    std::string made(const Format &f, const QString &archive, const QString &folder, const QStringList &files)
    {
        const QString path = QString::fromStdString(at(archive));
        QStringList args = f.tool.mid(1);
        args << path << files;
        QByteArray out;
        const QStringList shell{"-c", "cd \"$0\" && exec \"$@\"", dir + "/" + folder, f.tool[0]};
        EXPECT_EQ(runProgram("/bin/sh", shell + args, &out), 0) << out.toStdString();
        return path.toStdString();
    }
    int run(const char *file, const char *prefix, const std::string &command, std::string *output = nullptr)
    {
        ComponentLib lib(file, prefix);
        EXPECT_TRUE(lib.loaded());
        std::string out;
        const int code = lib.run(command, &out);
        if (output)
            *output = out;
        return code;
    }
    std::string counts(const std::string &output) { return output.substr(0, output.find('\n')); }
    // The rows of the archive as the reading component lists them, in order.
    std::vector<std::string> rows(const std::string &archive)
    {
        return listedNames(archive);
    }
    std::vector<std::string> sortedRows(const std::string &archive)
    {
        std::vector<std::string> r = rows(archive);
        std::sort(r.begin(), r.end());
        return r;
    }
    std::map<std::string, std::string> contents(const std::string &archive)
    {
        return extractedTree(archive, home.path("x"));
    }
};

TEST_F(NamesTest, LettersOfAnotherCaseMakeAnotherName)
{
    put("old/a.txt", "lower old");
    put("old/A.txt", "upper old");
    put("drop/a.txt", "lower new");
    put("drop/b.txt", "b lower");
    put("drop/B.txt", "b upper");
    put("one/c.txt", "first c");
    put("two/c.txt", "second c");
    for (const Format &f : kFormats) {
        SCOPED_TRACE(f.name);
        const std::string arc = made(f, QStringLiteral("case.%1").arg(f.name), "old", {"a.txt", "A.txt"});
        auto add = [&](const std::string &listFile, std::string *output) {
            return run(f.file, f.prefix,
                       QString::fromLatin1(f.add)
                           .arg(QString::fromStdString(arc), dir + "/drop", QString::fromStdString(listFile))
                           .toStdString(),
                       output);
        };
        std::string output;
        // Adding "a.txt" replaces "a.txt" and leaves "A.txt" as it was.
        ASSERT_EQ(add(list("l1.tmp", {"a.txt"}), &output), 0) << output;
        EXPECT_EQ(counts(output), "1 1");
        std::map<std::string, std::string> files = contents(arc);
        EXPECT_EQ(files["a.txt"], "file:lower new");
        EXPECT_EQ(files["A.txt"], "file:upper old");
        // "b.txt" and "B.txt" dropped together are two files.
        ASSERT_EQ(add(list("l2.tmp", {"b.txt", "B.txt"}), &output), 0) << output;
        EXPECT_EQ(counts(output), "2 2");
        EXPECT_EQ(sortedRows(arc), (std::vector<std::string>{"A.txt", "B.txt", "a.txt", "b.txt"}));
        // Two files that would get one name are an error, and nothing changes.
        const QByteArray before = readFile(QString::fromStdString(arc));
        EXPECT_EQ(add(list("l3.tmp", {dir + "/one/c.txt", dir + "/two/c.txt"}), &output), SALVO_E_FILE_OPEN);
        EXPECT_NE(output.find("同じ名前"), std::string::npos) << output;
        EXPECT_EQ(readFile(QString::fromStdString(arc)), before);
        // Deleting "A.txt" takes that entry alone.
        ASSERT_EQ(run(f.file, f.prefix, "d \"" + arc + "\" \"A.txt\"", &output), 0) << output;
        EXPECT_EQ(counts(output), "1 1");
        EXPECT_EQ(sortedRows(arc), (std::vector<std::string>{"B.txt", "a.txt", "b.txt"}));
    }
}

TEST_F(NamesTest, ADroppedFolderBringsItsWholeTree)
{
    put("drop/tree/a.txt", "a");
    put("drop/tree/sub/b.txt", "b");
    put("drop/tree/sub/deeper/c.txt", "c");
    QDir().mkpath(dir + "/drop/tree/sub/empty");
    put("stage/in/tree/a.txt", "a");
    put("stage/in/tree/sub/b.txt", "b");
    put("stage/in/tree/sub/deeper/c.txt", "c");
    put("seed/keep.txt", "keep");
    const std::string folderList = list("folder.tmp", {"tree"});
    const std::vector<std::string> files{"tree/a.txt", "tree/sub/b.txt", "tree/sub/deeper/c.txt"};
    // Each form the viewer sends, at the top and into a folder of the archive.
    struct Case {
        const Format &format;
        const char *file, *prefix, *command;
        const char *into; // where the tree lands
    };
    const Case cases[] = {
        {kFormats[0], "7-zip32.so", "SevenZip", "a -tzip \"%1\" \"%2/drop/\" \"%3\"", ""},
        {kFormats[0], "zip32j.so", "Zip", "-u -S -D \"%1\" \"%2/drop/\" \"%3\"", ""},
        {kFormats[0], "zip32j.so", "Zip", "-u -S -D -r \"%1\" \"%2/stage/\" *.*", "in/"},
        {kFormats[1], "7-zip32.so", "SevenZip", "a -t7z \"%1\" \"%2/drop/\" \"%3\" -ms=off", ""},
        {kFormats[1], "7-zip32.so", "SevenZip", "a -t7z -r \"%1\" \"%2/stage/\" *.* -ms=off", "in/"},
        {kFormats[2], "unlha32.so", "Unlha", "a -x \"%1\" \"%2/drop/\" \"%3\"", ""},
        {kFormats[2], "unlha32.so", "Unlha", "a -x \"%1\"  -jb\"in/here\" \"%2/drop/\" \"%3\"", "in/here/"},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.command);
        const std::string arc = made(c.format, QStringLiteral("tree%1.%2").arg(n++).arg(c.format.name), "seed", {"keep.txt"});
        std::string output;
        ASSERT_EQ(run(c.file, c.prefix,
                      QString::fromLatin1(c.command)
                          .replace("%1", QString::fromStdString(arc))
                          .replace("%2", dir)
                          .replace("%3", QString::fromStdString(folderList))
                          .toStdString(),
                      &output),
                  0)
            << output;
        EXPECT_EQ(counts(output), "3 3");
        const std::vector<std::string> listed = rows(arc);
        for (const std::string &file : files)
            EXPECT_NE(std::find(listed.begin(), listed.end(), c.into + file), listed.end()) << c.into + file;
        EXPECT_EQ(contents(arc)[std::string(c.into) + "tree/sub/deeper/c.txt"], "file:c");
    }
}

// Every row of an archive with names no tool writes, deleted one at a time
// from a fresh copy with the command the viewer sends: exactly that row goes
// (a folder's row with what is under it), and every other stays.
TEST_F(NamesTest, EveryRowNameActsOnThatEntryAlone)
{
    const QByteArray legacy = encodeCp932(QStringLiteral("表示.txt"));
    std::vector<RawEntry> raw{
        {"/etc/x", "absolute"},     {"etc/x", "relative"},   {"../up.txt", "up"},     {"trail ", "blank"},
        {"trail", "plain"},         {"dot.", "dot"},         {"dot", "no dot"},       {"notes", "a file"},
        {"notes/inner.txt", "in"},  {legacy, "legacy"},      {"dir/", "", true},      {"dir/in.txt", "in dir"},
        {"q?.txt", "mask-like"},    {"qx.txt", "qx"},        {"a\\b.txt", "backslash"},
    };
    std::vector<RawEntry> lzhRaw;
    for (RawEntry e : raw) {
        e.name.replace('/', '\xff');
        if (e.folder)
            e.name.chop(1);
        lzhRaw.push_back(e);
    }
    std::vector<Entry> tree;
    for (const RawEntry &e : raw) {
        if (e.name != legacy)
            tree.push_back({.name = QString::fromUtf8(e.name), .data = e.data,
                            .kind = e.folder ? EntryKind::Folder : EntryKind::File});
    }
    struct Archive {
        const char *name;
        QByteArray bytes;
        const char *file, *prefix, *remove;
    };
    const Archive archives[] = {
        {"odd.zip", storedZip(raw), "zip32j.so", "Zip", "-d --no-wildcards \"%1\" \"%2\""},
        {"odd.lzh", storedLzh(lzhRaw, 2), "unlha32.so", "Unlha", "d --no-wildcards \"%1\" \"%2\""},
        {"odd.7z", writeArchive(tree, "7zip"), "7-zip32.so", "SevenZip", "d --no-wildcards \"%1\" \"%2\""},
    };
    for (const Archive &a : archives) {
        SCOPED_TRACE(a.name);
        const std::string original = put(a.name, a.bytes);
        std::vector<std::string> before = rows(original);
        ASSERT_GE(before.size(), 10u);
        for (const std::string &row : before) {
            const std::string copy = put(QStringLiteral("copy-%1").arg(a.name), a.bytes);
            std::string output;
            ASSERT_EQ(run(a.file, a.prefix,
                          QString::fromLatin1(a.remove).arg(QString::fromStdString(copy), QString::fromStdString(row)).toStdString(),
                          &output),
                      0)
                << row << "\n" << output;
            std::vector<std::string> expected;
            for (const std::string &other : before) {
                const bool under = row.back() == '/' && other.compare(0, row.size(), row) == 0;
                if (other != row && !under)
                    expected.push_back(other);
            }
            std::vector<std::string> after = rows(copy);
            std::sort(expected.begin(), expected.end());
            std::sort(after.begin(), after.end());
            EXPECT_EQ(after, expected) << "deleting the row \"" << row << "\"";
        }
    }
}

TEST_F(NamesTest, OneNamedEntryIsExtractedAlone)
{
    const std::vector<std::pair<QByteArray, QByteArray>> named{
        {"readme.txt", "top"}, {"old/readme.txt", "old"}, {"*", "star"},     {"a*.txt", "a star"},
        {"ab.txt", "ab"},      {"q?.txt", "q mark"},       {"qx.txt", "qx"}, {"-y", "switch-like"},
    };
    std::vector<RawEntry> raw;
    std::vector<Entry> tree;
    for (const auto &[name, data] : named) {
        raw.push_back({name, data});
        tree.push_back({.name = QString::fromUtf8(name), .data = data});
    }
    std::vector<RawEntry> lzhRaw = raw;
    for (RawEntry &e : lzhRaw)
        e.name.replace('/', '\xff');
    struct Archive {
        const char *name;
        QByteArray bytes;
    };
    const Archive archives[] = {
        {"one.zip", storedZip(raw)},
        {"one.lzh", storedLzh(lzhRaw, 2)},
        {"one.7z", writeArchive(tree, "7zip")},
        {"one.tar", writeArchive(tree, "pax")},
    };
    for (const Archive &a : archives) {
        SCOPED_TRACE(a.name);
        const std::string arc = put(a.name, a.bytes);
        const ComponentChoice c = componentFor(arc);
        const QString out = home.path("out");
        for (const auto &[name, data] : named) {
            for (bool flat : {true, false}) {
                QDir(out).removeRecursively();
                QDir().mkpath(out);
                // The viewer's form: the switch, then the name in quotes.
                std::string line = extractCommand(c.prefix, arc, out.toStdString(), flat);
                const size_t tail = line.find("\"" + arc);
                line.insert(tail, "--no-wildcards ");
                line += " \"" + name.toStdString() + "\"";
                std::string output;
                EXPECT_EQ(run(c.file.c_str(), c.prefix.c_str(), line, &output), 0) << line << "\n" << output;
                std::map<std::string, std::string> expected;
                if (flat) {
                    expected[name.mid(name.lastIndexOf('/') + 1).toStdString()] = "file:" + data.toStdString();
                } else {
                    expected[name.toStdString()] = "file:" + data.toStdString();
                    for (qsizetype slash = name.indexOf('/'); slash > 0; slash = name.indexOf('/', slash + 1))
                        expected[name.left(slash).toStdString()] = "dir";
                }
                EXPECT_EQ(snapshot(out), expected) << line;
            }
        }
        // The mask forms of other callers still take what they match.
        QDir(out).removeRecursively();
        QDir().mkpath(out);
        std::string output;
        EXPECT_EQ(run(c.file.c_str(), c.prefix.c_str(), extractCommand(c.prefix, arc, out.toStdString()) + " a*.txt", &output), 0)
            << output;
        EXPECT_EQ(snapshot(out).size(), 2u) << output;
    }
}

TEST_F(NamesTest, AListFileIsNeverAMask)
{
    // The program folder's path holds "*" and "?": the work list lives there.
    const QString myPath = dir + "/my*pro?gram";
    writeFile(myPath + "/addlist2.tmp", "\"new.txt\"\r\n");
    writeFile(myPath + "/another.tmp", "not listed");
    put("drop/new.txt", "new");
    put("seed/keep.txt", "keep");
    for (const Format &f : kFormats) {
        SCOPED_TRACE(f.name);
        const std::string arc = made(f, QStringLiteral("list.%1").arg(f.name), "seed", {"keep.txt"});
        for (const QString &listArg : {myPath + "/addlist2.tmp", "@" + myPath + "/addlist2.tmp"}) {
            std::string output;
            ASSERT_EQ(run(f.file, f.prefix, QString::fromLatin1(f.add).arg(QString::fromStdString(arc), dir + "/drop", listArg).toStdString(),
                          &output),
                      0)
                << output;
            EXPECT_EQ(counts(output), "1 1");
            EXPECT_EQ(sortedRows(arc), (std::vector<std::string>{"keep.txt", "new.txt"})) << listArg.toStdString();
        }
    }
}

TEST_F(NamesTest, AnEncryptedHeaderIsCalledSo)
{
    // Enough files that the header is compressed before it is encrypted.
    for (int i = 0; i < 40; ++i)
        put(QStringLiteral("plain/secret%1.txt").arg(i), "secret");
    const std::string arc = at("locked.7z");
    ASSERT_EQ(runProgram("/bin/sh", {"-c", "cd \"$0\" && 7zz a -bd -bso0 -psecret -mhe=on \"$1\" .", dir + "/plain",
                                     QString::fromStdString(arc)}),
              0);
    const QByteArray before = readFile(QString::fromStdString(arc));
    std::string output;
    EXPECT_EQ(run("7-zip32.so", "SevenZip", "d \"" + arc + "\" \"secret1.txt\"", &output), SALVO_E_PASSWORD_FILE);
    EXPECT_NE(output.find("暗号化"), std::string::npos) << output;
    EXPECT_EQ(readFile(QString::fromStdString(arc)), before);
}

} // namespace
