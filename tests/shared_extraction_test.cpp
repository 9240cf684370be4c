// Large archives whose entries decode independently are extracted by several
// decoders at once: the files, the result, the questions about existing
// files and the clean-up after a failure are those of one decoder.
#include "support/ArchiveBuilder.h"
#include "support/ComponentLib.h"
#include "support/TestEnvironment.h"
#include "support/TreeSnapshot.h"

#include <QDir>
#include <QFile>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <poll.h>
#include <sys/syscall.h>
#include <set>
#include <unistd.h>

using namespace salvo;
using namespace salvo::test;

namespace {

// Data that does not compress, so that a few entries make an archive large
// enough to be shared.
QByteArray noise(int size, uint32_t seed)
{
    QByteArray out(size, '\0');
    for (int i = 0; i < size; ++i) {
        seed = seed * 1664525u + 1013904223u;
        out[i] = static_cast<char>(seed >> 24);
    }
    return out;
}

// Twelve files of 512 KiB in three folders: 6 MiB.
std::vector<RawEntry> largeEntries()
{
    std::vector<RawEntry> entries;
    entries.push_back({"top/", "", true});
    for (int i = 0; i < 12; ++i)
        entries.push_back({QByteArray("top/d") + QByteArray::number(i % 3) + "/f" + QByteArray::number(i) + ".bin",
                           noise(512 * 1024, static_cast<uint32_t>(i + 1))});
    return entries;
}

// The decoder processes this test has started and that still run.
std::vector<pid_t> decoders()
{
    std::vector<pid_t> found;
    DIR *proc = opendir("/proc");
    while (dirent *d = proc ? readdir(proc) : nullptr) {
        std::ifstream stat(std::string("/proc/") + d->d_name + "/stat");
        std::string pid, name, state, parent;
        if (stat >> pid >> name >> state >> parent && name == "(salvo-archive-w)" && state != "Z"
            && parent == std::to_string(getpid()))
            found.push_back(static_cast<pid_t>(std::stoi(pid)));
    }
    if (proc)
        closedir(proc);
    return found;
}

int decoderProcesses()
{
    return static_cast<int>(decoders().size());
}

// Ends every decoder kept for later calls: the next call starts what it needs,
// and how many run after it tells how many it used.
void endDecoders()
{
    for (const pid_t pid : decoders()) {
        const int handle = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
        kill(pid, SIGKILL);
        if (handle >= 0) {
            pollfd ended{handle, POLLIN, 0}; // readable once the process has ended
            poll(&ended, 1, -1);
            close(handle);
        }
    }
}

class SharedExtractionTest : public ::testing::Test {
protected:
    TempHome home;

    std::string put(const QString &name, const QByteArray &bytes)
    {
        writeFile(home.path("in/" + name), bytes);
        return home.path("in/" + name).toStdString();
    }

    struct Outcome {
        int code = -1;
        std::string text;
        std::map<std::string, std::string> tree;
    };

    // Extracts with `decoders` decoders into a fresh folder `folder` (after
    // `prepare` filled it).
    Outcome extract(const std::string &archive, int decoders, const QString &folder, bool flat = false,
                    bool overwrite = true, const std::function<void(const QString &)> &prepare = {})
    {
        const QString out = home.path(folder);
        QDir(out).removeRecursively();
        if (prepare)
            prepare(out);
        const ComponentChoice c = componentFor(archive);
        ComponentLib lib(c.file, c.prefix);
        auto set = reinterpret_cast<SALVO_SET_DECODER_COUNT>(lib.symbol("SetDecoderCount"));
        EXPECT_TRUE(set);
        if (set)
            set(decoders);
        Outcome o;
        o.code = lib.run(extractCommand(c.prefix, archive, out.toStdString(), flat, overwrite), &o.text);
        o.tree = snapshot(out);
        return o;
    }
};

TEST_F(SharedExtractionTest, SameFilesResultAndTextAsOneDecoder)
{
    const std::vector<RawEntry> raw = largeEntries();
    std::vector<Entry> entries;
    QDir().mkpath(home.path("src/top"));
    for (const RawEntry &e : raw) {
        if (!e.folder) {
            entries.push_back({QString::fromUtf8(e.name), e.data});
            writeFile(home.path("src/" + QString::fromUtf8(e.name)), e.data);
        }
    }
    const QString sevenZip = home.path("in/plain.7z");
    QDir().mkpath(home.path("in"));
    ASSERT_EQ(runProgram("7zz", {"a", "-bd", "-bso0", "-ms=off", "-mx=1", sevenZip, home.path("src/top")}), 0);
    const std::vector<std::string> archives{
        put("stored.zip", storedZip(raw)),
        put("deflated.zip", writeArchive(entries, "zip")),
        put("stored.lzh", storedLzh(raw, 2)),
        sevenZip.toStdString(),
    };
    std::set<std::string> used;
    for (const std::string &archive : archives) {
        const bool firstUse = used.insert(componentFor(archive).file).second;
        for (const bool flat : {false, true}) {
            const Outcome one = extract(archive, 1, "one", flat);
            const int before = decoderProcesses();
            const Outcome shared = extract(archive, 4, "shared", flat);
            // One decoder was kept from the call before; the shared call
            // started more, and keeps them for the next calls.
            if (firstUse && !flat) {
                EXPECT_GT(decoderProcesses(), before) << archive;
            }
            ASSERT_EQ(one.code, 0) << archive << ": " << one.text;
            EXPECT_EQ(shared.code, 0) << archive << ": " << shared.text;
            EXPECT_EQ(shared.text, one.text) << archive;
            EXPECT_EQ(shared.tree, one.tree) << archive;
            EXPECT_EQ(one.tree.size(), flat ? 12u : 16u) << archive;
        }
    }
}

TEST_F(SharedExtractionTest, NamesThatMeetStayWithOneDecoderAndAFlatExtractionIsShared)
{
    // The same name twice, far apart; and file names that meet only once the
    // folders are dropped.
    std::vector<RawEntry> twice = largeEntries();
    twice.back().name = twice[1].name;
    std::vector<RawEntry> sameFile = largeEntries();
    for (size_t i = 1; i < sameFile.size(); ++i)
        sameFile[i].name = "top/d" + QByteArray::number(static_cast<int>(i)) + "/same.bin";
    // Files as their size and a checksum: a failure prints no megabytes.
    const auto digest = [](const std::map<std::string, std::string> &tree) {
        std::map<std::string, std::string> out;
        for (const auto &[path, content] : tree)
            out[path] = std::to_string(content.size()) + "/" + std::to_string(std::hash<std::string>()(content));
        return out;
    };
    for (const auto &[archive, flat] : {std::pair{put("twice.zip", storedZip(twice)), false},
                                        std::pair{put("twice.lzh", storedLzh(twice, 2)), false},
                                        std::pair{put("same.zip", storedZip(sameFile)), true}}) {
        const Outcome one = extract(archive, 1, "one", flat);
        const Outcome shared = extract(archive, 4, "shared", flat);
        EXPECT_EQ(shared.code, one.code) << archive;
        EXPECT_EQ(shared.text, one.text) << archive;
        EXPECT_EQ(digest(shared.tree), digest(one.tree)) << archive;
        EXPECT_EQ(one.tree.size(), flat ? 1u : 15u) << archive; // with the four folders
    }
    // Names that do not meet: several decoders share a flat extraction too.
    const std::string zip = put("flat.zip", storedZip(largeEntries()));
    endDecoders();
    const Outcome flat = extract(zip, 4, "flat", true);
    EXPECT_EQ(flat.code, 0) << flat.text;
    EXPECT_EQ(flat.tree.size(), 12u);
    EXPECT_GE(decoderProcesses(), 2);
}

struct Questions {
    std::atomic<int> open{0};
    bool overlapped = false;
    std::vector<std::string> asked;
    int answer = SALVO_ANSWER_YES;
    QString out;
    // A question came before every entry had been written (staged, or moved
    // into place): decoders still at work could then ask at the same time.
    bool early = false;
};

// Whether each file of largeEntries() is written in `out`: moved into place,
// or waiting in a staging folder.
bool everyEntryWritten(const QString &out)
{
    const auto tree = snapshot(out);
    for (const RawEntry &e : largeEntries()) {
        if (e.folder)
            continue;
        const std::string name = e.name.toStdString(), written = "file:" + e.data.toStdString();
        bool found = tree.count(name) && tree.at(name) == written;
        for (const auto &[path, content] : tree) {
            if (!found && path.rfind(".salvo-staging-", 0) == 0 && path.size() > name.size()
                && path.compare(path.size() - name.size() - 1, name.size() + 1, "/" + name) == 0)
                found = content == written;
        }
        if (!found)
            return false;
    }
    return true;
}

int note(void *user, const char *path)
{
    auto *q = static_cast<Questions *>(user);
    if (q->open.fetch_add(1) != 0)
        q->overlapped = true;
    q->asked.push_back(path);
    if (!everyEntryWritten(q->out))
        q->early = true;
    q->open.fetch_sub(1);
    return q->answer;
}

TEST_F(SharedExtractionTest, QuestionsComeOneAtATimeOnceEachInTheOrderOfOneDecoder)
{
    const std::vector<RawEntry> raw = largeEntries();
    const std::string zip = put("big.zip", storedZip(raw));
    // Files of the first, the middle and the last entries are there already.
    const auto prepare = [](const QString &out) {
        for (const char *name : {"top/d0/f0.bin", "top/d1/f4.bin", "top/d2/f8.bin", "top/d2/f11.bin"})
            writeFile(out + "/" + name, "old");
    };
    for (const int answer : {SALVO_ANSWER_YES, SALVO_ANSWER_NO, SALVO_ANSWER_YES_TO_ALL}) {
        std::map<int, Questions> questions;
        std::map<int, Outcome> outcomes;
        for (const int decoders : {1, 4}) {
            Questions &q = questions[decoders];
            q.answer = answer;
            q.out = home.path(QString("out%1").arg(decoders));
            ComponentLib lib("unzip32.so", "UnZip");
            lib.setCallback(note, &q);
            outcomes[decoders] = extract(zip, decoders, QString("out%1").arg(decoders), false, false, prepare);
            lib.setCallback(nullptr, nullptr);
            EXPECT_FALSE(q.overlapped);
            EXPECT_FALSE(q.early) << decoders;
        }
        const size_t expected = answer == SALVO_ANSWER_YES_TO_ALL ? 1 : 4;
        ASSERT_EQ(questions[1].asked.size(), expected) << answer;
        std::vector<std::string> one = questions[1].asked, shared = questions[4].asked;
        for (std::string &path : one)
            path.replace(path.find("/out1/"), 6, "/outN/");
        for (std::string &path : shared)
            path.replace(path.find("/out4/"), 6, "/outN/");
        EXPECT_EQ(shared, one) << answer;
        EXPECT_EQ(outcomes[4].code, outcomes[1].code) << answer;
        EXPECT_EQ(outcomes[4].tree, outcomes[1].tree) << answer;
    }
}

TEST_F(SharedExtractionTest, AFailingRangeFailsTheArchiveAndRemovesWhatItWrote)
{
    struct Case {
        const char *name;
        std::vector<int> damaged; // entries with a wrong checksum
    };
    const Case cases[] = {{"last", {11}}, {"middle and last", {6, 12}}, {"first", {1}}};
    for (const Case &c : cases) {
        std::vector<RawEntry> raw = largeEntries();
        for (int i : c.damaged)
            raw[static_cast<size_t>(i)].badCrc = true;
        const std::string zip = put("damaged.zip", storedZip(raw));
        // Into a folder that holds a file (a staging folder is used), and into
        // one that does not exist yet (written directly, then removed).
        const std::function<void(const QString &)> holdsOne = [](const QString &out) {
            writeFile(out + "/keep.txt", "keep");
        };
        for (const bool existing : {true, false}) {
            const Outcome one = extract(zip, 1, "one/sub", false, true, existing ? holdsOne : nullptr);
            const Outcome shared = extract(zip, 4, "shared/sub", false, true, existing ? holdsOne : nullptr);
            EXPECT_EQ(one.code, SALVO_E_FILE_CRC) << c.name << ": " << one.text;
            EXPECT_EQ(shared.code, one.code) << c.name;
            EXPECT_EQ(shared.text, one.text) << c.name;
            EXPECT_EQ(shared.tree.size(), existing ? 1u : 0u) << c.name;
            EXPECT_EQ(shared.tree, one.tree) << c.name;
            EXPECT_EQ(QDir(home.path("shared/sub")).exists(), existing) << c.name;
            EXPECT_EQ(QDir(home.path("shared/sub")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                      existing ? QStringList{"keep.txt"} : QStringList{})
                << c.name;
        }
    }
}

} // namespace

TEST_F(SharedExtractionTest, AnEncryptedArchiveStaysWithOneDecoderThatAsksOnce)
{
    // Every decoder would need the password: an encrypted archive is not shared.
    std::vector<Entry> entries;
    for (const RawEntry &e : largeEntries()) {
        if (!e.folder)
            entries.push_back({QString::fromUtf8(e.name), e.data});
    }
    const std::string zip = put("locked.zip", writeArchive(entries, "zip", "none", "zip:encryption=zipcrypt", "pw"));
    ComponentLib lib("unzip32.so", "UnZip");
    const auto setPassword = reinterpret_cast<SALVO_SET_PASSWORD_CALLBACK>(lib.symbol("SetPasswordCallback"));
    ASSERT_TRUE(setPassword);
    static std::atomic<int> asked;
    asked = 0;
    setPassword(
        [](void *, const char *, int, char *password, uint32_t size) {
            ++asked;
            std::snprintf(password, size, "pw");
            return 1;
        },
        nullptr);
    const Outcome o = extract(zip, 4, "out");
    setPassword(nullptr, nullptr);
    EXPECT_EQ(o.code, 0) << o.text;
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(readFile(home.path("out/top/d2/f11.bin")), entries.back().data);
}

namespace {

// At its second look (the first comes before the call opens anything), the
// cancel hook puts another archive at the path: a new file, as an archive
// before it in a run might.
struct Replacement {
    std::string path;
    QByteArray other;
    int looks = 0;
};

int replaceAtSecondLook(void *user)
{
    auto *r = static_cast<Replacement *>(user);
    if (++r->looks == 2) {
        writeFile(QString::fromStdString(r->path + ".new"), r->other);
        ::rename((r->path + ".new").c_str(), r->path.c_str());
    }
    return 0;
}

TEST_F(SharedExtractionTest, EveryDecoderReadsTheFileTheCallBeganWith)
{
    const std::vector<RawEntry> original = largeEntries();
    std::vector<RawEntry> other = original;
    for (size_t i = 1; i < other.size(); ++i)
        other[i].data = noise(other[i].data.size(), static_cast<uint32_t>(100 + i));
    const std::string zip = put("replaced.zip", storedZip(original));
    Replacement replacement{zip, storedZip(other)};
    ComponentLib lib("unzip32.so", "UnZip");
    reinterpret_cast<SALVO_SET_DECODER_COUNT>(lib.symbol("SetDecoderCount"))(4);
    lib.setCancelCallback(replaceAtSecondLook, &replacement);
    const QString out = home.path("out");
    std::string text;
    EXPECT_EQ(lib.run(extractCommand("UnZip", zip, out.toStdString()), &text), 0) << text;
    lib.setCancelCallback(nullptr, nullptr);
    EXPECT_GE(replacement.looks, 2);
    for (size_t i = 1; i < original.size(); ++i)
        EXPECT_EQ(readFile(out + "/" + QString::fromUtf8(original[i].name)), original[i].data) << original[i].name.constData();
}

} // namespace
