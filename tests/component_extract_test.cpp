// Extraction through the components on archives made here: legacy Japanese
// names, overwrite rules, flat and partial extraction, single-file compressors,
// self-extractors, large entries and every way an extraction must fail.
#include "platform/TextCodec.h"
#include "support/ArchiveBuilder.h"
#include "support/ComponentLib.h"
#include "support/DamagedArchives.h"
#include "support/TestEnvironment.h"
#include "support/RealArchives.h"
#include "support/TreeSnapshot.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include "worker/Blake2sp.h"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace salvo;
using namespace salvo::test;

namespace {

class ExtractTest : public ::testing::Test {
protected:
    TempHome home;
    QString out = home.path("out");

    std::string put(const QString &name, const QByteArray &bytes)
    {
        writeFile(home.path("in/" + name), bytes);
        return home.path("in/" + name).toStdString();
    }
    int extract(const std::string &archive, std::string *output = nullptr, bool flat = false,
                bool overwrite = true)
    {
        const ComponentChoice c = componentFor(archive);
        ComponentLib lib(c.file, c.prefix);
        return lib.run(extractCommand(c.prefix, archive, out.toStdString(), flat, overwrite), output);
    }
    QByteArray read(const QString &relative) { return readFile(out + "/" + relative); }
};

QByteArray cp932(const QString &text)
{
    return encodeCp932(text);
}

TEST_F(ExtractTest, Cp932NamesInZipAndLzhBecomeUtf8)
{
    // 表 and ソ end in the byte 0x5C, the backslash: they must not split the name.
    const std::vector<RawEntry> entries{
        {cp932(QStringLiteral("表示\\ソフト.txt")), "soft"},
        {cp932(QStringLiteral("能力.txt")), "nou"},
        {cp932(QStringLiteral("予定\\")), "", true},
    };
    for (const auto &[name, bytes] : {std::pair{QStringLiteral("sjis.zip"), storedZip(entries)},
                                      std::pair{QStringLiteral("sjis.lzh"), storedLzh(entries, 0)}}) {
        QDir(out).removeRecursively();
        std::string output;
        const std::string archive = put(name, bytes);
        ASSERT_EQ(extract(archive, &output), 0) << name.toStdString() << ": " << output;
        EXPECT_EQ(read(QStringLiteral("表示/ソフト.txt")), "soft") << name.toStdString();
        EXPECT_EQ(read(QStringLiteral("能力.txt")), "nou");
        EXPECT_TRUE(QDir(out + QStringLiteral("/予定")).exists());

        const ComponentChoice c = componentFor(archive);
        std::vector<ListedEntry> listed;
        ASSERT_TRUE(ComponentLib(c.file, c.prefix).list(archive, &listed));
        ASSERT_EQ(listed.size(), 3u);
        EXPECT_EQ(QString::fromStdString(listed[0].name), QStringLiteral("表示/ソフト.txt"));
        EXPECT_EQ(QString::fromStdString(listed[1].name), QStringLiteral("能力.txt"));
        EXPECT_EQ(listed[1].date, ((2020 - 1980) << 9) | (5 << 5) | 17);
    }
}

TEST_F(ExtractTest, Cp932NamesInACompressedTarBecomeUtf8)
{
    // A compressed stream is read once: its first legacy name switches the
    // rest; the UTF-8 names before it stay UTF-8.
    const std::string tgz = put("sjis.tgz", writeArchive({{"plain.txt", "plain"},
                                                          {{}, "uber", EntryKind::File, {}, 0644, -1,
                                                           QStringLiteral("über.txt").toUtf8()},
                                                          {{}, "soft", EntryKind::File, {}, 0644, -1,
                                                           cp932(QStringLiteral("表示/ソフト.txt"))},
                                                          {{}, "nou", EntryKind::File, {}, 0644, -1,
                                                           cp932(QStringLiteral("能力.txt"))}},
                                                         "ustar", "gzip"));
    std::string output;
    ASSERT_EQ(extract(tgz, &output), 0) << output;
    EXPECT_EQ(read(QStringLiteral("表示/ソフト.txt")), "soft");
    EXPECT_EQ(read(QStringLiteral("能力.txt")), "nou");
    EXPECT_EQ(read(QStringLiteral("über.txt")), "uber");
    EXPECT_EQ(read("plain.txt"), "plain");
}

// The characters of a password this process never holds in one piece: only
// the component's buffer receives it, one character at a time.
char passwordCharacter(size_t i)
{
    return static_cast<char>('A' + (i * 7 + 3) % 26 + (i % 3 == 0 ? 32 : 0));
}
constexpr size_t kPasswordLength = 300;

// Whether the last 48 characters of that password lie anywhere in this
// process's writable memory.
bool passwordInMemory()
{
    const size_t from = kPasswordLength - 48;
    std::ifstream maps("/proc/self/maps");
    const int mem = ::open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
    std::string line;
    bool found = false;
    std::vector<char> chunk;
    while (!found && std::getline(maps, line)) {
        unsigned long long begin = 0, end = 0;
        char perms[5] = {};
        if (std::sscanf(line.c_str(), "%llx-%llx %4s", &begin, &end, perms) != 3 || perms[0] != 'r' || perms[1] != 'w')
            continue;
        chunk.resize(end - begin);
        const ssize_t got = ::pread(mem, chunk.data(), chunk.size(), static_cast<off_t>(begin));
        for (ssize_t at = 0; got > 0 && !found && at + 48 <= got; ++at) {
            size_t k = 0;
            while (k < 48 && chunk[static_cast<size_t>(at) + k] == passwordCharacter(from + k))
                ++k;
            found = k == 48;
        }
    }
    ::close(mem);
    return found;
}

TEST_F(ExtractTest, APasswordLeavesNoCopyBehindOnceUsed)
{
    // The encrypted archive is made by a child process, the only other
    // holder of the password.
    const QString zip = home.path("in/locked.zip");
    const pid_t child = fork();
    if (child == 0) {
        std::string password;
        for (size_t i = 0; i < kPasswordLength; ++i)
            password.push_back(passwordCharacter(i));
        writeFile(zip, writeArchive({{"secret.txt", "the contents"}}, "zip", "none", "zip:encryption=zipcrypt",
                                    password.c_str()));
        _exit(0);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(status, 0);
    ASSERT_FALSE(passwordInMemory());

    ComponentLib lib("unzip32.so", "UnZip");
    const auto setPassword = reinterpret_cast<SALVO_SET_PASSWORD_CALLBACK>(lib.symbol("SetPasswordCallback"));
    ASSERT_TRUE(setPassword);
    setPassword(
        [](void *, const char *, int, char *password, uint32_t size) {
            if (size <= kPasswordLength)
                return 0;
            for (size_t i = 0; i < kPasswordLength; ++i)
                password[i] = passwordCharacter(i);
            password[kPasswordLength] = '\0';
            return 1;
        },
        nullptr);
    std::string output;
    EXPECT_EQ(lib.run(extractCommand("UnZip", zip.toStdString(), out.toStdString()), &output), 0) << output;
    setPassword(nullptr, nullptr);
    EXPECT_EQ(read("secret.txt"), "the contents");
    EXPECT_FALSE(passwordInMemory());
}

TEST_F(ExtractTest, Utf8NamesStayAsTheyAre)
{
    const std::string zip = put("utf8.zip", storedZip({{QStringLiteral("日本語/ファイル.txt").toUtf8(), "x", false, true}}));
    ASSERT_EQ(extract(zip), 0);
    EXPECT_EQ(read(QStringLiteral("日本語/ファイル.txt")), "x");
    const QByteArray name = QStringLiteral("フォルダ").toUtf8() + '\xff' + QStringLiteral("名前.txt").toUtf8();
    const std::string lzh = put("level2.lzh", storedLzh({{name, "y"}}, 2));
    ASSERT_EQ(extract(lzh), 0);
    EXPECT_EQ(read(QStringLiteral("フォルダ/名前.txt")), "y");
}

TEST_F(ExtractTest, NamesThatMayDifferOnlyInNormalisationNeverBecomeOneFileSilently)
{
    // The decoder reads UTF-8 names normalised (NFC): "café" stored
    // precomposed and decomposed would become one file while both count as
    // written. The archive fails instead, and leaves nothing.
    const std::string zip = put("nfc-nfd.zip", storedZip({{"caf\xC3\xA9.txt", "nfc", false, true},
                                                          {"cafe\xCC\x81.txt", "nfd", false, true}}));
    std::string output;
    EXPECT_EQ(extract(zip, &output), SALVO_E_FILE_OPEN) << output;
    EXPECT_FALSE(QFileInfo::exists(out));
    // A plain name twice (a newer copy appended to a tar) is one file, the later.
    const std::string tar = put("again.tar", writeArchive({{"a.txt", "old"}, {"a.txt", "new"}}, "ustar"));
    ASSERT_EQ(extract(tar), 0);
    EXPECT_EQ(read("a.txt"), "new");
}

int answerScript(void *user, const char *)
{
    auto *answers = static_cast<std::vector<int> *>(user);
    if (answers->empty())
        return SALVO_ANSWER_CANCEL;
    const int a = answers->front();
    answers->erase(answers->begin());
    return a;
}

TEST_F(ExtractTest, OverwriteWithAndWithoutSwitchesAndCallback)
{
    const std::string zip = put("two.zip", storedZip({{"a.txt", "new a"}, {"b.txt", "new b"}}));
    ComponentLib lib("unzip32.so", "UnZip");
    auto reset = [&] {
        QDir(out).removeRecursively();
        writeFile(out + "/a.txt", "old a");
        writeFile(out + "/b.txt", "old b");
    };
    std::string output;

    // The switch: overwrite without asking.
    reset();
    EXPECT_EQ(lib.run(extractCommand("UnZip", zip, out.toStdString(), false, true), &output), 0);
    EXPECT_EQ(read("a.txt"), "new a");

    // No switch, no callback: existing files stay and the result says so.
    reset();
    lib.setCallback(nullptr, nullptr);
    EXPECT_EQ(lib.run(extractCommand("UnZip", zip, out.toStdString(), false, false), &output), SALVO_E_USER_SKIP);
    EXPECT_EQ(read("a.txt"), "old a");
    EXPECT_NE(output.find("a.txt"), std::string::npos) << output;

    // A callback: yes to one, no to the other.
    std::vector<int> answers{SALVO_ANSWER_YES, SALVO_ANSWER_NO};
    lib.setCallback(answerScript, &answers);
    reset();
    EXPECT_EQ(lib.run(extractCommand("UnZip", zip, out.toStdString(), false, false)), SALVO_E_USER_SKIP);
    EXPECT_EQ(read("a.txt") + read("b.txt"), "new aold b");

    // Yes to all is asked once.
    answers = {SALVO_ANSWER_YES_TO_ALL};
    reset();
    EXPECT_EQ(lib.run(extractCommand("UnZip", zip, out.toStdString(), false, false)), 0);
    EXPECT_EQ(read("a.txt") + read("b.txt"), "new anew b");
    EXPECT_TRUE(answers.empty());

    answers = {SALVO_ANSWER_CANCEL};
    reset();
    EXPECT_EQ(lib.run(extractCommand("UnZip", zip, out.toStdString(), false, false)), SALVO_E_USER_CANCEL);
    EXPECT_EQ(read("a.txt"), "old a");
    // A cancel after some files were moved into place takes them back: the new
    // ones go, the one replaced comes back as it was.
    const std::string four = put("four.zip", storedZip({{"0.txt", "new 0"}, {"a.txt", "new a"}, {"b.txt", "new b"},
                                                        {"c/new.txt", "new c"}}));
    answers = {SALVO_ANSWER_YES, SALVO_ANSWER_CANCEL};
    reset();
    EXPECT_EQ(lib.run(extractCommand("UnZip", four, out.toStdString(), false, false)), SALVO_E_USER_CANCEL);
    EXPECT_EQ(read("a.txt") + read("b.txt"), "old aold b");
    EXPECT_TRUE(answers.empty());
    lib.setCallback(nullptr, nullptr);
    // Nothing of the staging area is left behind in any case.
    EXPECT_EQ(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"a.txt", "b.txt"}));
}

struct Questions {
    std::vector<int> answers;
    std::vector<std::string> asked;
};

int answerAndNote(void *user, const char *path)
{
    auto *q = static_cast<Questions *>(user);
    q->asked.push_back(path);
    const int a = q->answers.empty() ? SALVO_ANSWER_CANCEL : q->answers.front();
    if (!q->answers.empty())
        q->answers.erase(q->answers.begin());
    return a;
}

TEST_F(ExtractTest, FlatExtractionAsksAboutNamesWrittenEarlier)
{
    // Without folders the two dup.txt meet: the second one replaces the first
    // only as it would replace a file that was there before.
    const std::string zip = put("dup.zip", storedZip({{"x/dup.txt", "first"}, {"y/dup.txt", "second"}, {"z/o.txt", "o"}}));
    ComponentLib lib("unzip32.so", "UnZip");
    for (const bool outputHoldsFiles : {false, true}) { // written directly, or through a staging folder
        auto reset = [&] {
            QDir(out).removeRecursively();
            if (outputHoldsFiles)
                writeFile(out + "/keep.txt", "keep");
        };
        const std::string flatAsk = "-x -j \"" + zip + "\" \"" + out.toStdString() + "/\"";
        std::string output;
        reset();
        lib.setCallback(nullptr, nullptr);
        EXPECT_EQ(lib.run(extractCommand("UnZip", zip, out.toStdString(), true, true), &output), 0) << output;
        EXPECT_EQ(read("dup.txt"), "second");

        reset();
        EXPECT_EQ(lib.run(flatAsk, &output), SALVO_E_USER_SKIP) << output;
        EXPECT_EQ(read("dup.txt"), "first");
        EXPECT_EQ(read("o.txt"), "o");
        EXPECT_NE(output.find("y/dup.txt"), std::string::npos) << output;

        Questions q{{SALVO_ANSWER_NO}, {}};
        lib.setCallback(answerAndNote, &q);
        reset();
        EXPECT_EQ(lib.run(flatAsk), SALVO_E_USER_SKIP);
        EXPECT_EQ(read("dup.txt"), "first");
        EXPECT_EQ(q.asked, std::vector<std::string>{out.toStdString() + "/dup.txt"});

        q = {{SALVO_ANSWER_YES}, {}};
        reset();
        EXPECT_EQ(lib.run(flatAsk), 0);
        EXPECT_EQ(read("dup.txt"), "second");
        EXPECT_EQ(q.asked.size(), 1u);
        lib.setCallback(nullptr, nullptr);
    }
}

TEST_F(ExtractTest, FlatExtractionLeavesOutOnlyLinksThatWouldLeadElsewhere)
{
    // dir2/symlink1 -> ../file1 would point above the output folder without
    // its folder: that link alone is left out, and the archive is not counted
    // as extracted whole.
    for (const char *name : {"lha_header0.lzh", "lha_header1.lzh", "lha_header2.lzh", "lha_withjunk.lzh", "lha_lh6.lzh"}) {
        const std::string archive = put(name, readFile(storedArchive(name)));
        const QString tree = home.path("tree");
        ComponentLib lib("unlha32.so", "Unlha");
        ASSERT_EQ(lib.run(extractCommand("Unlha", archive, tree.toStdString())), 0) << name;
        QDir(out).removeRecursively();
        std::string output;
        EXPECT_EQ(extract(archive, &output, true), SALVO_E_UNSAFE_PATH) << name << ": " << output;
        EXPECT_NE(output.find("dir2/symlink1"), std::string::npos) << output;
        const auto flat = snapshot(out);
        EXPECT_EQ(flat.size(), 2u) << name;
        EXPECT_EQ(flat.count("file1") ? flat.at("file1") : "", snapshot(tree).at("file1")) << name;
        EXPECT_EQ(flat.count("file2") ? flat.at("file2") : "", snapshot(tree).at("file2")) << name;
        QDir(tree).removeRecursively();
    }
}

TEST_F(ExtractTest, TheArchiveBeingReadIsNeverWrittenOver)
{
    // Extracted beside itself, an entry of the archive's own name (or a folder
    // of that name) would replace it: that archive fails, and stays as it was.
    const QString in = home.path("in");
    struct Case {
        QString name;
        QByteArray bytes;
        bool flat;
    };
    const std::vector<Case> cases{
        {"self.zip", storedZip({{"other.txt", "o"}, {"self.zip", "not the archive"}}), false},
        {"deep.zip", storedZip({{"other.txt", "o"}, {"sub/deep.zip", "not the archive"}}), true},
        {"dir.tar", writeArchive({{"other.txt", "o"}, {"dir.tar/inner.txt", "i"}}, "ustar"), false},
    };
    for (const Case &c : cases) {
        const std::string archive = put(c.name, c.bytes);
        struct stat before {};
        ::stat(archive.c_str(), &before);
        const ComponentChoice choice = componentFor(archive);
        std::string output;
        const int result =
            ComponentLib(choice.file, choice.prefix).run(extractCommand(choice.prefix, archive, in.toStdString(), c.flat), &output);
        EXPECT_NE(result, 0) << c.name.toStdString();
        struct stat after {};
        ::stat(archive.c_str(), &after);
        EXPECT_EQ(readFile(in + "/" + c.name), c.bytes) << c.name.toStdString();
        EXPECT_EQ(after.st_ino, before.st_ino) << c.name.toStdString();
        EXPECT_EQ(QDir(in).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{c.name})
            << c.name.toStdString() << ": " << output;
        QFile::remove(in + "/" + c.name);
    }
}

// Kills this process's decoders while the question is open.
struct Killer {
    int asked = 0;
};

// The decoder processes this test started that are still there (zombies included).
QList<int> decoderChildPids()
{
    QList<int> pids;
    for (const QString &pid : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const int n = pid.toInt(&number);
        if (!number)
            continue;
        const QByteArray stat = readFile("/proc/" + pid + "/stat");
        const qsizetype open = stat.indexOf('('), close = stat.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        const QList<QByteArray> rest = stat.mid(close + 2).split(' ');
        if (stat.mid(open + 1, close - open - 1).startsWith("salvo-archive") && rest.size() > 1
            && rest[1].toInt() == ::getpid())
            pids << n;
    }
    return pids;
}

// A decoder is a process group: the process the component started and the
// one serving its request.
void killDecoders()
{
    for (const int pid : decoderChildPids())
        ::kill(-pid, SIGKILL);
}

int killAndAnswerYes(void *user, const char *)
{
    ++static_cast<Killer *>(user)->asked;
    killDecoders();
    return SALVO_ANSWER_YES;
}

TEST_F(ExtractTest, AKilledDecoderLeavesNothingBehind)
{
    ComponentLib lib("unzip32.so", "UnZip");
    Killer killer;
    lib.setCallback(killAndAnswerYes, &killer);

    // Through a staging folder: the output folder already holds a.txt.
    writeFile(out + "/a.txt", "old a");
    const std::string zip = put("two.zip", storedZip({{"a.txt", "new a"}, {"sub/new.txt", "new"}}));
    std::string output;
    EXPECT_EQ(lib.run("-x \"" + zip + "\" \"" + out.toStdString() + "/\"", &output), SALVO_E_WORKER) << output;
    EXPECT_EQ(killer.asked, 1);
    EXPECT_EQ(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"a.txt"});
    EXPECT_EQ(read("a.txt"), "old a");

    // Straight into a new output folder: the question comes in the middle of
    // the archive, with a file written and more to come.
    const QString fresh = home.path("fresh/deeper/out");
    const std::string dup = put("dup.zip", storedZip({{"x/dup.txt", "first"}, {"y/dup.txt", "second"}, {"z.txt", "z"}}));
    EXPECT_EQ(lib.run("-x -j \"" + dup + "\" \"" + fresh.toStdString() + "/\"", &output), SALVO_E_WORKER) << output;
    EXPECT_EQ(killer.asked, 2);
    EXPECT_FALSE(QFileInfo::exists(home.path("fresh")));
    lib.setCallback(nullptr, nullptr);

    // The next call gets a fresh decoder.
    EXPECT_EQ(lib.run(extractCommand("UnZip", dup, fresh.toStdString(), true, true)), 0);
}

// Answers the cancel question: "no" until the call has looked `after` times.
struct Canceller {
    int after = 0;
    int looks = 0;
};

int cancelAfterLooks(void *user)
{
    auto *c = static_cast<Canceller *>(user);
    return ++c->looks > c->after ? 1 : 0;
}

TEST_F(ExtractTest, ACancelledExtractionEndsAtOnceAndLeavesNothing)
{
    ComponentLib lib("tar32.so", "Tar");
    const std::string big = put("big.bin.gz", longGzip(256)); // 4 GiB when whole
    writeFile(out + "/keep.txt", "keep");
    for (const int after : {0, 3}) {
        // At once, and in the middle of the long entry.
        Canceller canceller{after};
        lib.setCancelCallback(cancelAfterLooks, &canceller);
        std::string output;
        EXPECT_EQ(lib.run(extractCommand("Tar", big, out.toStdString(), false, true), &output), SALVO_E_USER_CANCEL)
            << output;
        lib.setCancelCallback(nullptr, nullptr);
        EXPECT_GT(canceller.looks, after);
        EXPECT_EQ(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"keep.txt"});
    }
    // The next call runs as usual.
    const std::string small = put("small.tar", writeArchive({{"s.txt", "s"}}, "ustar"));
    EXPECT_EQ(extract(small), 0);
    EXPECT_EQ(read("s.txt"), "s");
}

int decoderChildren()
{
    return static_cast<int>(decoderChildPids().size());
}

int cancelWhenSet(void *user)
{
    return static_cast<std::atomic<bool> *>(user)->load() ? 1 : 0;
}

TEST_F(ExtractTest, AListingIsHandedOutWhileTheDecoderStillWalks)
{
    constexpr int kEntries = 3000;
    std::vector<RawEntry> raw;
    for (int i = 0; i < kEntries; ++i)
        raw.push_back({QByteArray("dir/f") + QByteArray::number(i) + ".txt", QByteArray()});
    const std::string zip = put("many.zip", storedZip(raw));
    ComponentLib lib("unzip32.so", "UnZip");
    auto open = reinterpret_cast<SALVO_OPEN_ARCHIVE>(lib.symbol("OpenArchive"));
    auto first = reinterpret_cast<SALVO_FIND_FIRST>(lib.symbol("FindFirst"));
    auto next = reinterpret_cast<SALVO_FIND_NEXT>(lib.symbol("FindNext"));
    auto close = reinterpret_cast<SALVO_CLOSE_ARCHIVE>(lib.symbol("CloseArchive"));
    SALVO_INDIVIDUALINFO info;

    // Whole: every entry in order, then -1.
    SALVO_HARC h = open(nullptr, zip.c_str(), 0);
    ASSERT_NE(h, nullptr);
    int listed = 0, r = first(h, "*", &info);
    for (; r == 0; r = next(h, &info))
        EXPECT_EQ(std::string(info.szFileName), "dir/f" + std::to_string(listed++) + ".txt");
    EXPECT_EQ(r, -1);
    EXPECT_EQ(listed, kEntries);
    EXPECT_EQ(close(h), 0);

    // Cancelled once the archive is open: the entries not yet received never
    // come, and the walk ends with the cancel's code.
    std::atomic<bool> cancel{false};
    lib.setCancelCallback(cancelWhenSet, &cancel);
    h = open(nullptr, zip.c_str(), 0);
    ASSERT_NE(h, nullptr);
    cancel = true;
    listed = 0;
    for (r = first(h, "*", &info); r == 0; r = next(h, &info))
        ++listed;
    EXPECT_EQ(r, SALVO_E_USER_CANCEL);
    EXPECT_GT(listed, 0);
    EXPECT_LT(listed, kEntries);
    EXPECT_EQ(close(h), 0);
    lib.setCancelCallback(nullptr, nullptr);

    // Closed after the first entry: its decoder is stopped and reaped.
    const int before = decoderChildren();
    h = open(nullptr, zip.c_str(), 0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(first(h, "*", &info), 0);
    EXPECT_EQ(close(h), 0);
    EXPECT_LE(decoderChildren(), before);
    // Callers that need the whole list still get it.
    EXPECT_EQ(lib.count(zip), kEntries);
}

struct SecondCaller {
    const ComponentLib *lib = nullptr;
    std::string archive;
    std::thread thread;
    std::promise<void> done;
    int count = -2, check = -2;
    bool served = false;
};

int callAgainWhileAsked(void *user, const char *)
{
    auto *c = static_cast<SecondCaller *>(user);
    std::future<void> finished = c->done.get_future();
    c->thread = std::thread([c] {
        c->count = c->lib->count(c->archive);
        c->check = c->lib->check(c->archive, SALVO_CHECKARCHIVE_BASIC);
        c->done.set_value();
    });
    // Waiting for the other call is the point; the limit only keeps a
    // deadlocked component from hanging the test run.
    c->served = finished.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    return SALVO_ANSWER_YES;
}

TEST_F(ExtractTest, AWalkOverManyEntriesKeepsLittleOfThem)
{
    // 600,000 entries in a small tar.zst: a walk (count, size, top folders)
    // holds a bounded window of them, not all.
    constexpr int kEntries = 600000;
    std::vector<Entry> entries;
    entries.reserve(kEntries);
    for (int i = 0; i < kEntries; ++i)
        entries.push_back({QStringLiteral("d%1/f%2").arg(i / 1000).arg(i), {}});
    const std::string archive = put("many.tar.zst", writeArchive(entries, "ustar", "zstd"));
    entries.clear();
    QByteArray printed;
    ASSERT_EQ(runProgram(SALVO_DRIVER, {"tar32.so", "Tar", "walk",
                                        QString::fromStdString(archive)}, &printed), 0) << printed.constData();
    EXPECT_TRUE(printed.contains("entries 600000")) << printed.constData();
    const qsizetype at = printed.indexOf("peak ");
    ASSERT_GE(at, 0);
    EXPECT_LT(printed.mid(at + 5).split('\n').first().toLongLong(), 50 * 1024) << "KiB at the peak";
}

TEST_F(ExtractTest, AnOpenQuestionDoesNotBlockOtherCalls)
{
    ComponentLib lib("unzip32.so", "UnZip");
    const std::string zip = put("a.zip", storedZip({{"a.txt", "new a"}, {"b.txt", "b"}}));
    writeFile(out + "/a.txt", "old a");
    SecondCaller second;
    second.lib = &lib;
    second.archive = zip;
    lib.setCallback(callAgainWhileAsked, &second);
    EXPECT_EQ(lib.run("-x \"" + zip + "\" \"" + out.toStdString() + "/\""), 0);
    lib.setCallback(nullptr, nullptr);
    ASSERT_TRUE(second.thread.joinable());
    second.thread.join();
    EXPECT_TRUE(second.served);
    EXPECT_EQ(second.count, 2);
    EXPECT_EQ(second.check, 1);
    EXPECT_EQ(read("a.txt"), "new a");
}

TEST_F(ExtractTest, OnlyRegularFilesAreArchives)
{
    // Named like archives: a FIFO (opening it would wait for a writer), a
    // socket and a device. Every entry point refuses them at once.
    QDir().mkpath(home.path("in"));
    const std::string fifo = home.path("in/pipe.zip").toStdString();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string socketPath = home.path("in/socket.lzh").toStdString();
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    const std::string device = home.path("in/zero.7z").toStdString();
    ASSERT_TRUE(QFile::link("/dev/zero", QString::fromStdString(device)));

    std::promise<void> done;
    std::future<void> finished = done.get_future();
    std::thread calls([&] {
        for (const std::string &archive : {fifo, socketPath, device}) {
            const ComponentChoice c = componentFor(archive);
            ComponentLib lib(c.file, c.prefix);
            std::string output;
            EXPECT_EQ(lib.run(extractCommand(c.prefix, archive, out.toStdString()), &output), SALVO_E_ARC_FILE_OPEN)
                << archive << ": " << output;
            EXPECT_EQ(lib.check(archive, SALVO_CHECKARCHIVE_RAPID), 0) << archive;
            EXPECT_EQ(lib.check(archive, SALVO_CHECKARCHIVE_FULLCRC), 0) << archive;
            EXPECT_EQ(lib.count(archive), -1) << archive;
            std::vector<ListedEntry> listed;
            EXPECT_FALSE(lib.list(archive, &listed)) << archive;
        }
        done.set_value();
    });
    // A component that waits on the FIFO never finishes its calls; after a
    // while beyond any honest call it is let go by opening the other end, and
    // that it had to be is the failure.
    bool waited = false;
    while (finished.wait_for(std::chrono::seconds(120)) != std::future_status::ready) {
        waited = true;
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    }
    calls.join();
    ::close(sock);
    EXPECT_FALSE(waited);
    EXPECT_TRUE(snapshot(out).empty());
}

TEST_F(ExtractTest, FlatFormAndNamedEntries)
{
    const std::string tar = put("t.tar", writeArchive({{"top/sub/a.txt", "a", EntryKind::File, {}}, {"top/b.txt", "b", EntryKind::File, {}}, {"c.dat", "c", EntryKind::File, {}}},
                                                      "pax"));
    ASSERT_EQ(extract(tar, nullptr, true), 0);
    EXPECT_EQ(snapshot(out), (std::map<std::string, std::string>{
                                 {"a.txt", "file:a"}, {"b.txt", "file:b"}, {"c.dat", "file:c"}}));

    QDir(out).removeRecursively();
    ComponentLib lib("tar32.so", "Tar");
    ASSERT_EQ(lib.run("-x --use-directory=1 \"" + tar + "\" \"" + out.toStdString() + "/\" *.txt"), 0);
    EXPECT_EQ(snapshot(out).count("c.dat"), 0u);
    EXPECT_EQ(read("top/sub/a.txt"), "a");
    QDir(out).removeRecursively();
    ASSERT_EQ(lib.run("-x --use-directory=1 \"" + tar + "\" \"" + out.toStdString() + "/\" top\\b.txt"), 0);
    EXPECT_EQ(snapshot(out), (std::map<std::string, std::string>{{"top", "dir"}, {"top/b.txt", "file:b"}}));
    std::string output;
    EXPECT_EQ(lib.run("-x \"" + tar + "\" \"" + out.toStdString() + "/\" nothing.here", &output),
              SALVO_E_NOT_FIND_FILE);
}

TEST_F(ExtractTest, DotSlashNamesOfTarsMadeWithDot)
{
    // "tar -C dir -cf a.tar ." stores "./" and "./name".
    const std::string tar = put("dot.tar", writeArchive({{"./", {}, EntryKind::Folder, {}, 0755},
                                                        {"./a.txt", "a", EntryKind::File, {}},
                                                        {"./sub/./b.txt", "b", EntryKind::File, {}}},
                                                       "ustar"));
    std::string output;
    ASSERT_EQ(extract(tar, &output), 0) << output;
    EXPECT_EQ(snapshot(out), (std::map<std::string, std::string>{
                                 {"a.txt", "file:a"}, {"sub", "dir"}, {"sub/b.txt", "file:b"}}));
}

TEST_F(ExtractTest, SingleFileCompressorsAndCompressedTars)
{
    const QByteArray payload = QByteArray("payload ").repeated(1000);
    ASSERT_EQ(extract(put("a.txt.gz", gzipWithName(payload, "original.txt"))), 0);
    EXPECT_EQ(read("original.txt"), payload);
    ASSERT_EQ(extract(put("noname.gz", gzipWithName(payload, {}))), 0);
    EXPECT_EQ(read("noname"), payload);
    for (const char *filter : {"bzip2", "xz", "compress", "zstd"}) {
        const QString name = QStringLiteral("file-%1.%2").arg(filter, filter == std::string("compress") ? "Z" : "x");
        ASSERT_EQ(extract(put(name, compressRaw(payload, filter))), 0) << filter;
        EXPECT_EQ(read(QStringLiteral("file-%1").arg(filter)), payload) << filter;
    }
    ASSERT_EQ(extract(put("t.tgz", writeArchive({{"in/tar.txt", "tar"}}, "ustar", "gzip"))), 0);
    EXPECT_EQ(read("in/tar.txt"), "tar");

    ComponentLib tar("tar32.so", "Tar");
    std::vector<ListedEntry> listed;
    ASSERT_TRUE(tar.list(home.path("in/a.txt.gz").toStdString(), &listed));
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].name, "original.txt");
    EXPECT_EQ(listed[0].size64, payload.size());
    // A file that is neither compressed nor an archive is not one.
    EXPECT_EQ(tar.check(put("plain.txt", "just text"), 0), 0);
}

TEST_F(ExtractTest, DamagedArchivesFailAndLeaveNothing)
{
    for (const DamagedArchive &d : damagedArchives()) {
        // A folder of its own for each case, made by the component: what one
        // case leaves cannot hide or cause the failure of another.
        out = home.path("damaged/" + d.name + "/out");
        std::string output;
        const int r = extract(put(d.name, d.bytes), &output);
        EXPECT_NE(r, 0) << d.name.toStdString();
        EXPECT_FALSE(output.empty()) << d.name.toStdString();
        EXPECT_FALSE(QFileInfo::exists(out)) << d.name.toStdString() << " left files behind";
        if (d.code) {
            EXPECT_EQ(r, d.code) << d.name.toStdString() << ": " << output;
        }
    }
}

// The test verb of each component ("" where the dialect has none).
std::string testCommand(const std::string &prefix, const std::string &archive)
{
    const std::string quoted = "\"" + archive + "\"";
    if (prefix == "Unlha" || prefix == "SevenZip")
        return "t " + quoted;
    if (prefix == "Tar")
        return {};
    return "-t " + quoted;
}

TEST_F(ExtractTest, DamagedArchivesOfEveryFormatFailEverywhere)
{
    std::vector<NamedArchive> good;
    const std::vector<DamagedArchive> damaged = damagedArchivesOfEveryFormat(home, &good);
    const QByteArray a = QByteArray("first entry ").repeated(250);
    for (const auto &[name, bytes] : good) {
        const std::string archive = put(name, bytes);
        const ComponentChoice c = componentFor(archive);
        ComponentLib lib(c.file, c.prefix);
        std::string output;
        QDir(out).removeRecursively();
        EXPECT_EQ(extract(archive, &output), 0) << name.toStdString() << ": " << output;
        EXPECT_EQ(lib.check(archive, SALVO_CHECKARCHIVE_BASIC), 1) << name.toStdString();
        EXPECT_EQ(lib.check(archive, SALVO_CHECKARCHIVE_FULLCRC), 1) << name.toStdString();
        if (!testCommand(c.prefix, archive).empty()) {
            EXPECT_EQ(lib.run(testCommand(c.prefix, archive), &output), 0) << name.toStdString() << ": " << output;
        }
        if (name.startsWith("good") && name.endsWith(".rar")) {
            EXPECT_EQ(read("first.txt"), a) << name.toStdString();
        }
    }
    for (const DamagedArchive &d : damaged) {
        const std::string archive = put(d.name, d.bytes);
        const std::string what = d.name.toStdString();
        const ComponentChoice c = componentFor(archive);
        ComponentLib lib(c.file, c.prefix);
        std::string output;
        QDir(out).removeRecursively();
        const int result = extract(archive, &output);
        EXPECT_NE(result, 0) << what;
        if (d.code) {
            EXPECT_EQ(result, d.code) << what << ": " << output;
        }
        EXPECT_FALSE(output.empty()) << what;
        EXPECT_TRUE(snapshot(out).empty()) << what << " left files behind";
        EXPECT_EQ(lib.check(archive, SALVO_CHECKARCHIVE_FULLCRC), 0) << what;
        if (d.headersToo) {
            EXPECT_EQ(lib.check(archive, SALVO_CHECKARCHIVE_BASIC), 0) << what;
        }
        if (!testCommand(c.prefix, archive).empty()) {
            EXPECT_NE(lib.run(testCommand(c.prefix, archive), &output), 0) << what;
        }
    }
}

TEST(Blake2sp, KnownAnswers)
{
    auto hex = [](const QByteArray &data) {
        salvo::arc::Blake2sp h;
        h.update(data.constData(), static_cast<size_t>(data.size()));
        const auto d = h.finish();
        return QByteArray(reinterpret_cast<const char *>(d.data()), 32).toHex();
    };
    QByteArray counting(1000, '\0');
    for (int i = 0; i < counting.size(); ++i)
        counting[i] = char(i * 7 + 3);
    EXPECT_EQ(hex({}), "dd0e891776933f43c7d032b08a917e25741f8aa9a12c12e1cac8801500f2ca4f");
    EXPECT_EQ(hex(counting), "f970123bbbae325434ca917f79d3724ce95d1074f8ce94c9038a70ab68dd419d");
}

TEST_F(ExtractTest, SelfExtractingExecutablesAreReadByTheComponentInside)
{
    // A stub large enough for the 7z reader's search window.
    QByteArray stub(0x28000, '\0');
    stub[0] = 'M';
    stub[1] = 'Z';
    const std::string zipExe = put("zipsfx.exe", stub + storedZip({{"inside.txt", "zip sfx"}}));
    const std::string sevenExe = put("7zsfx.exe", stub + writeArchive({{"seven.txt", "7z sfx"}}, "7zip"));
    ComponentLib unzip("unzip32.so", "UnZip"), seven("7-zip32.so", "SevenZip"), lha("unlha32.so", "Unlha");
    EXPECT_EQ(unzip.check(zipExe, 0), 1);
    EXPECT_EQ(lha.check(zipExe, 0), 0);
    EXPECT_EQ(seven.check(sevenExe, 0), 1);
    EXPECT_EQ(unzip.count(zipExe), 1);
    ASSERT_EQ(unzip.run("-x -o \"" + zipExe + "\" \"" + out.toStdString() + "/\""), 0);
    ASSERT_EQ(seven.run("x -y \"" + sevenExe + "\" \"" + out.toStdString() + "/\""), 0);
    EXPECT_EQ(read("inside.txt"), "zip sfx");
    EXPECT_EQ(read("seven.txt"), "7z sfx");
}

TEST_F(ExtractTest, EntriesOf4GiBAndMoreAreNotWrapped)
{
    const qint64 huge = 5LL * 1024 * 1024 * 1024 + 7;
    const std::string tar = put("sparse.tar", writeArchive({{"huge.bin", "head", EntryKind::File, {}, 0644, huge},
                                                            {"small.txt", "s"}},
                                                           "pax"));
    std::vector<ListedEntry> listed;
    ASSERT_TRUE(ComponentLib("tar32.so", "Tar").list(tar, &listed));
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].size32, 0xFFFFFFFFu);
    EXPECT_EQ(listed[0].size64, huge);
    EXPECT_EQ(listed[1].size32, 1u);
}

TEST_F(ExtractTest, AFullDiskFailsAndLeavesNoPartialFile)
{
    const std::string zip = put("big.zip", storedZip({{"small.txt", "s"}, {"big.bin", QByteArray(2 << 20, 'b')}}));
    // The component runs in a process whose files may not grow beyond 256 KiB,
    // as on a nearly full disk; its decoder process inherits the limit.
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setChildProcessModifier([] {
        struct rlimit limit {256 * 1024, 256 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    p.start(SALVO_DRIVER, {"unzip32.so", "UnZip", QString::fromStdString(extractCommand("UnZip", zip, out.toStdString()))});
    ASSERT_TRUE(p.waitForFinished(60000));
    const QString printed = QString::fromUtf8(p.readAll());
    EXPECT_EQ(p.exitCode(), 1) << printed.toStdString();
    EXPECT_TRUE(printed.contains(QStringLiteral("result 0x8005"))) << printed.toStdString();
    EXPECT_TRUE(snapshot(out).empty());
}

} // namespace
