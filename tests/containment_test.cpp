// What an extraction writes stays inside its output folder whatever the
// output folder already holds, whatever earlier archives left there, however
// deep the tree, and whatever another program or another local user does
// meanwhile: links are judged by what is really on disk, the output folder is
// never a link, nothing is seen under its final name before it is whole, and
// clean-up takes away exactly what the call made.
#include "support/ArchiveBuilder.h"
#include "support/ComponentLib.h"
#include "support/TestEnvironment.h"
#include "support/TreeSnapshot.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <optional>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace salvo;
using namespace salvo::test;

namespace {

Entry link(const char *name, const char *target)
{
    return {name, {}, EntryKind::Symlink, target};
}

Entry folder(const char *name)
{
    return {name, {}, EntryKind::Folder, {}, 0755};
}

class ContainmentTest : public ::testing::Test {
protected:
    TempHome home;
    QString out = home.path("work/out");

    std::string put(const QString &name, const QByteArray &bytes)
    {
        writeFile(home.path("in/" + name), bytes);
        return home.path("in/" + name).toStdString();
    }
    int extract(const std::string &archive, bool overwrite = true, std::string *text = nullptr)
    {
        const ComponentChoice c = componentFor(archive);
        std::string ignored;
        return ComponentLib(c.file, c.prefix)
            .run(extractCommand(c.prefix, archive, out.toStdString(), false, overwrite), text ? text : &ignored);
    }
    QStringList names(const QString &folder)
    {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }
    // Every link below `root` that the kernel resolves outside it.
    QStringList linksLeadingOut(const QString &root)
    {
        QStringList found;
        const QString real = QFileInfo(root).canonicalFilePath();
        for (const auto &[rel, what] : snapshot(root)) {
            if (what.rfind("link:", 0) != 0)
                continue;
            const QString path = root + "/" + QString::fromStdString(rel);
            const QString target = QFileInfo(path).canonicalFilePath();
            // A dangling link leads nowhere yet: where its text leads is what counts.
            const QString lexical = QDir::cleanPath(QFileInfo(path).absolutePath() + "/" + QFile::symLinkTarget(path));
            for (const QString &t : {target, lexical}) {
                if (!t.isEmpty() && t != real && !t.startsWith(real + "/"))
                    found << QString::fromStdString(rel);
            }
        }
        return found;
    }
};

// Runs the component driver in a process of its own (the test kills it, or
// limits its descriptors); its output goes to `log`.
pid_t startDriver(const std::string &file, const std::string &prefix, const std::string &command, const QString &log,
                  rlim_t descriptors = 0)
{
    const pid_t child = fork();
    if (child == 0) {
        setpgid(0, 0);
        const int fd = ::open(log.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 1);
        if (descriptors) {
            struct rlimit limit {descriptors, descriptors};
            ::setrlimit(RLIMIT_NOFILE, &limit);
        }
        ::execl(SALVO_DRIVER, SALVO_DRIVER, file.c_str(), prefix.c_str(), command.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    return child;
}

int waitDriver(pid_t child)
{
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(ContainmentTest, LinksAreJudgedByWhatTheOutputFolderReallyHolds)
{
    // The output folder holds the user's link "d" to a folder elsewhere.
    // Kept (no overwriting), it stays in place of the archive's folder "d",
    // and the archive's "z", inside through that folder, would lead out
    // through the link: nothing of the archive is placed. Replaced, all is well.
    const QString elsewhere = home.path("elsewhere");
    QDir().mkpath(elsewhere + "/inner");
    QDir().mkpath(out);
    QFile::link(elsewhere + "/inner", out + "/d");
    const std::string kept = put("kept.zip", storedZip({{"d/", "", true}, {"d/f.txt", "f"},
                                                        {"z", "d/..", false, false, 0120777}}));
    EXPECT_NE(extract(kept, false), 0);
    EXPECT_EQ(names(out), QStringList({"d"}));
    EXPECT_TRUE(names(elsewhere + "/inner").isEmpty());
    EXPECT_EQ(extract(kept, true), 0);
    EXPECT_EQ(snapshot(out).at("z"), "link:d/..");
    EXPECT_TRUE(linksLeadingOut(out).isEmpty());

    // Across archives: a link whose ".." steps back over a name that is not
    // there yet leads wherever a later archive makes that name lead.
    QDir(out).removeRecursively();
    const std::string first = put("first.tar", writeArchive({link("a", "b/x/../..")}, "pax"));
    const std::string second = put("second.tar", writeArchive({link("b", "."), folder("x")}, "pax"));
    EXPECT_NE(extract(first), 0);
    EXPECT_EQ(extract(second), 0);
    EXPECT_TRUE(linksLeadingOut(out).isEmpty()) << linksLeadingOut(out).join(", ").toStdString();

    // The output folder itself is never a link, whoever put it there.
    QDir().mkpath(home.path("work"));
    const QString planted = home.path("work/planted");
    QFile::link(elsewhere, planted);
    const ComponentChoice c = componentFor(second);
    std::string text;
    EXPECT_NE(ComponentLib(c.file, c.prefix).run(extractCommand(c.prefix, second, planted.toStdString()), &text), 0);
    EXPECT_EQ(names(elsewhere), QStringList({"inner"})) << text;
}

// Another program writes into the output folder while the extraction runs
// (at the question a name written twice brings), and the answer is yes.
int intrude(void *user, const char *)
{
    writeFile(*static_cast<QString *>(user) + "/other.txt", "another program's");
    return SALVO_ANSWER_YES;
}

TEST_F(ContainmentTest, CleanUpRemovesExactlyWhatTheCallMade)
{
    // The output folder is empty when the extraction begins; the archive
    // fails at its last entry, after the other program's file came.
    const std::string zip = put("late.zip", storedZip({{"x/dup.txt", "first"}, {"y/dup.txt", "second"},
                                                       {"bad.txt", "bad", false, false, 0, true}}));
    QDir().mkpath(out);
    ComponentLib lib("unzip32.so", "UnZip");
    lib.setCallback(intrude, &out);
    std::string text;
    EXPECT_EQ(lib.run("-x -j \"" + zip + "\" \"" + out.toStdString() + "/\"", &text), SALVO_E_FILE_CRC) << text;
    lib.setCallback(nullptr, nullptr);
    EXPECT_EQ(names(out), QStringList({"other.txt"}));
}

// A local account other than the one running the test, made when the test
// runs as root; none otherwise.
std::optional<std::pair<uid_t, gid_t>> otherAccount()
{
    if (geteuid() != 0)
        return std::nullopt;
    const char *name = "salvo-other";
    if (!getpwnam(name))
        runProgram("useradd", {"--system", "--no-create-home", "--shell", "/usr/sbin/nologin", name});
    const passwd *pw = getpwnam(name);
    if (!pw)
        return std::nullopt;
    return std::make_pair(pw->pw_uid, pw->pw_gid);
}

// Runs `work` in a process of the other account and waits for it.
bool asOtherAccount(std::pair<uid_t, gid_t> account, const std::function<bool()> &work)
{
    const pid_t child = fork();
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(account.second) != 0 || setuid(account.first) != 0)
            _exit(2);
        _exit(work() ? 0 : 1);
    }
    return waitDriver(child) == 0;
}

struct Swap {
    QString out, moved, victim;
    std::pair<uid_t, gid_t> account;
    int looks = 0;
    bool swapped = false;
};

// Once the decoder writes, the other user moves the output folder away and
// puts a link to the victim's folder in its place; then the run is cancelled.
int swapThenCancel(void *user)
{
    auto *s = static_cast<Swap *>(user);
    if (!s->swapped && !QDir(s->out).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const QByteArray out = QFile::encodeName(s->out), moved = QFile::encodeName(s->moved),
                         victim = QFile::encodeName(s->victim);
        s->swapped = asOtherAccount(s->account, [&] {
            return ::rename(out.constData(), moved.constData()) == 0 && ::symlink(victim.constData(), out.constData()) == 0;
        });
    }
    return s->swapped && ++s->looks > 2 ? 1 : 0;
}

TEST_F(ContainmentTest, AnotherUserSwappingTheOutputFolderCannotTurnTheCleanUpOnAnything)
{
    const auto account = otherAccount();
    if (!account)
        GTEST_SKIP() << "needs root, to make a second local account";
    // A folder shared with the group (here: everyone), without the sticky bit.
    ::chmod(QFile::encodeName(home.root()), 0711);
    const QString shared = home.path("shared");
    QDir().mkpath(shared);
    ::chmod(QFile::encodeName(shared), 0777);
    const QString victim = home.path("precious");
    writeFile(victim + "/thesis.txt", "years of work");

    Swap swap{shared + "/out", shared + "/moved", victim, *account};
    QDir().mkpath(swap.out);
    const std::string big = put("big.bin.gz", longGzip(64));
    ComponentLib lib("tar32.so", "Tar");
    lib.setCancelCallback(swapThenCancel, &swap);
    std::string text;
    EXPECT_EQ(lib.run(extractCommand("Tar", big, swap.out.toStdString()), &text), SALVO_E_USER_CANCEL) << text;
    lib.setCancelCallback(nullptr, nullptr);
    ASSERT_TRUE(swap.swapped);
    EXPECT_EQ(readFile(victim + "/thesis.txt"), "years of work");
    EXPECT_EQ(names(victim), QStringList({"thesis.txt"}));
    // What the call wrote went with it, in the folder where it really was.
    EXPECT_TRUE(names(swap.moved).isEmpty());
}

TEST_F(ContainmentTest, AKilledRunNeverLeavesAPartFileUnderItsFinalName)
{
    const std::string big = put("big.bin.gz", longGzip(128));
    QDir().mkpath(out);
    const pid_t driver = startDriver("tar32.so", "Tar", extractCommand("Tar", big, out.toStdString()), home.path("log"));
    // Wait until a good part of the file is written, then kill the run as a
    // power cut would.
    auto largest = [this] {
        qint64 size = 0;
        QDirIterator it(out, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            size = std::max(size, it.fileInfo().size());
        }
        return size;
    };
    qint64 written = 0;
    for (int i = 0; i < 3000 && written < (64 << 20); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        written = largest();
    }
    ::kill(-driver, SIGKILL);
    waitDriver(driver);
    EXPECT_GT(written, 0);
    // Only the staging folder, which says what it is, holds the part.
    for (const QString &name : names(out))
        EXPECT_TRUE(name.startsWith(".salvo-staging-")) << name.toStdString();
    EXPECT_FALSE(QFile::exists(out + "/big.bin"));
    // The decoder notices its component is gone at its next sign of life.
    for (qint64 last = -1, now = largest(); now != last; last = now, now = largest())
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
}

TEST_F(ContainmentTest, ADeepTreeIsPlacedWholeOrFailsAndLeavesNothing)
{
    // 300 levels, with 256 descriptors: a walk that holds one or two per
    // level cannot place (or remove) the deepest entries.
    QString deep;
    for (int i = 0; i < 300; ++i)
        deep += "d/";
    const std::string first = put("first.zip", storedZip({{(deep + "f.txt").toUtf8(), "first"}}));
    const std::string second = put("second.zip", storedZip({{(deep + "f.txt").toUtf8(), "second"}, {"top.txt", "top"}}));
    const std::string broken = put("broken.zip", storedZip({{(deep + "g.txt").toUtf8(), "g"},
                                                            {(deep + "h.txt").toUtf8(), "h", false, false, 0, true}}));
    for (const std::string &archive : {first, second}) {
        const pid_t driver = startDriver("unzip32.so", "UnZip", extractCommand("UnZip", archive, out.toStdString()),
                                         home.path("log"), 256);
        EXPECT_EQ(waitDriver(driver), 0) << readFile(home.path("log")).toStdString();
    }
    // The second archive went into the first one's folders, all the way down.
    EXPECT_EQ(readFile(out + "/" + deep + "f.txt"), "second");
    EXPECT_EQ(readFile(out + "/top.txt"), "top");

    const QString before = QString::number(snapshot(out).size());
    const pid_t driver = startDriver("unzip32.so", "UnZip", extractCommand("UnZip", broken, out.toStdString()),
                                     home.path("log"), 256);
    EXPECT_EQ(waitDriver(driver), 1);
    EXPECT_EQ(QString::number(snapshot(out).size()), before);
    EXPECT_EQ(names(out), QStringList({"d", "top.txt"}));
}

} // namespace
