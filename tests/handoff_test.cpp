// The hand-off between instances: framing, the private meeting folder, the
// instance lock, checks of the other end's user, long lists, refusals, garbage
// and stalled senders.
#include "app/HandoffProtocol.h"
#include "app/HandoffServer.h"
#include "platform/LocalPath.h"
#include "platform/UserIdentity.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>

#include <atomic>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <thread>

using namespace salvo;
using namespace salvo::test;

namespace {

int modeOf(const QString &path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return st.st_mode & 07777;
}

TEST(HandoffDecoder, FramesAcrossReadsAndEveryProtocolError)
{
    const QStringList paths{QStringLiteral("/日本語/a b.lzh"), pathFromLocalBytes("/in/\x83\x65\x83\x58.zip"),
                            QStringLiteral("/in/say \"hi\".zip")};
    const QByteArray bytes = encodeHandoff(paths) + handoffFrame(HandoffFrame::Commit);
    HandoffDecoder decoder;
    for (char c : bytes)
        ASSERT_NE(decoder.feed(QByteArray(1, c)), HandoffDecoder::State::Failed);
    EXPECT_EQ(decoder.state(), HandoffDecoder::State::Committed);
    EXPECT_EQ(decoder.paths(), paths);
    EXPECT_EQ(localBytesOfPath(decoder.paths().at(1)), QByteArray("/in/\x83\x65\x83\x58.zip"));

    const QByteArray begin = handoffFrame(HandoffFrame::Begin);
    const QByteArray end = handoffFrame(HandoffFrame::End);
    const QByteArray broken[] = {
        "\x07hello world",                                                   // no frame at all
        handoffFrame(HandoffFrame::Path, "/a.zip"),                          // a path before Begin
        begin + handoffFrame(HandoffFrame::Path, "relative/a.zip"),          // relative to whom?
        begin + handoffFrame(HandoffFrame::Path, "/" + QByteArray(HandoffDecoder::kMaxPathBytes, 'a')),
        begin + handoffFrame(HandoffFrame::Path, QByteArray("/a\0b", 4)),
        begin + handoffFrame(HandoffFrame::Commit),                          // commit before the end
        begin + end + handoffFrame(HandoffFrame::Accepted),                  // the receiver's word
        begin + end + handoffFrame(HandoffFrame::Commit) + begin,            // anything after the commit
    };
    for (const QByteArray &b : broken) {
        HandoffDecoder d;
        EXPECT_EQ(d.feed(b), HandoffDecoder::State::Failed) << b.left(40).toHex().constData();
        EXPECT_TRUE(d.paths().isEmpty());
    }
}

class HandoffTest : public ::testing::Test {
protected:
    TempHome home;
    HandoffPlace place = handoffPlaceIn(home.path("runtime"), currentUid());
    QList<QStringList> received;

    void listen(HandoffServer &server)
    {
        ASSERT_EQ(server.claim(), HandoffServer::Claim::Listening);
        QObject::connect(&server, &HandoffServer::received, [this](const QStringList &p) { received << p; });
    }
    // Sends from a thread of its own: the receiving end needs this thread's event loop.
    HandoffResult send(const HandoffPlace &to, const QStringList &paths)
    {
        HandoffResult result = HandoffResult::NoInstance;
        std::atomic<bool> done{false};
        std::thread sender([&] {
            result = sendToRunningInstance(to, paths, {1000, 5000, 5000});
            done = true;
        });
        waitUntil([&] { return done.load(); }, 20000);
        sender.join();
        return result;
    }
};

TEST_F(HandoffTest, TwoConcurrentSendersNeverMixTheirLists)
{
    HandoffServer server(place);
    listen(server);
    QLocalSocket a, b;
    for (QLocalSocket *s : {&a, &b}) {
        s->connectToServer(place.socketPath);
        ASSERT_TRUE(s->waitForConnected(2000));
        s->write(handoffFrame(HandoffFrame::Begin));
    }
    // Interleave the frames of both, as two senders at once would.
    QStringList listA, listB;
    for (int i = 0; i < 200; ++i) {
        listA << QStringLiteral("/あ/%1.zip").arg(i);
        listB << QStringLiteral("/b/%1.lzh").arg(i);
        a.write(handoffFrame(HandoffFrame::Path, listA.last().toUtf8()));
        a.flush();
        b.write(handoffFrame(HandoffFrame::Path, listB.last().toUtf8()));
        b.flush();
        QCoreApplication::processEvents();
    }
    for (QLocalSocket *s : {&a, &b}) {
        s->write(handoffFrame(HandoffFrame::End));
        s->flush();
    }
    // Nothing is taken before the sender commits.
    ASSERT_TRUE(waitUntil([&] { return a.bytesAvailable() >= 5 && b.bytesAvailable() >= 5; }));
    EXPECT_TRUE(received.isEmpty());
    for (QLocalSocket *s : {&a, &b}) {
        EXPECT_EQ(s->read(5), handoffFrame(HandoffFrame::Accepted));
        s->write(handoffFrame(HandoffFrame::Commit));
        s->flush();
    }
    ASSERT_TRUE(waitUntil([&] { return received.size() == 2; }));
    std::sort(received.begin(), received.end());
    EXPECT_EQ(received[0], listB);
    EXPECT_EQ(received[1], listA);
}

TEST_F(HandoffTest, ALongListGoesInPiecesAndARefusingInstanceTakesNothing)
{
    HandoffServer server(place);
    listen(server);
    // Far beyond 1 MiB, as a file manager sends for a large selection.
    QStringList paths;
    qsizetype bytes = 0;
    for (int i = 0; bytes < 3 * 1024 * 1024; ++i) {
        paths << QStringLiteral("/home/user/ダウンロード/an archive with a long name %1.zip").arg(i);
        bytes += paths.last().toUtf8().size();
    }
    EXPECT_EQ(send(place, paths), HandoffResult::Taken);
    ASSERT_TRUE(waitUntil([&] { return received.size() == 1; }));
    EXPECT_EQ(received[0], paths);

    // Only wanting the window in front is a message too.
    EXPECT_EQ(send(place, {}), HandoffResult::Taken);
    ASSERT_TRUE(waitUntil([&] { return received.size() == 2; }));
    EXPECT_TRUE(received[1].isEmpty());

    server.setAccepting(false);
    EXPECT_EQ(send(place, {"/a.zip"}), HandoffResult::Refused);
    QCoreApplication::processEvents();
    EXPECT_EQ(received.size(), 2);

    // Nobody there.
    HandoffPlace nowhere = handoffPlaceIn(home.path("cache"), currentUid());
    EXPECT_EQ(sendToRunningInstance(nowhere, {"/a.zip"}, {200, 200, 200}), HandoffResult::NoInstance);
}

TEST_F(HandoffTest, OnlyTheLockHolderListensAndRemovesALeftoverSocket)
{
    // A socket file nobody listens on, as a crashed instance leaves it.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray p = QFile::encodeName(place.socketPath);
    memcpy(addr.sun_path, p.constData(), p.size());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ::close(fd);
    EXPECT_FALSE(instanceIsRunning(place, 200));

    auto first = std::make_unique<HandoffServer>(place);
    listen(*first);
    EXPECT_TRUE(instanceIsRunning(place));
    {
        // Started at the same moment: the lock is taken, its socket stays.
        HandoffServer second(place);
        EXPECT_EQ(second.claim(), HandoffServer::Claim::TakenByAnother);
    }
    EXPECT_TRUE(instanceIsRunning(place));
    EXPECT_EQ(send(place, {"/a.zip"}), HandoffResult::Taken);

    first.reset();
    EXPECT_FALSE(QFileInfo::exists(place.socketPath));
    HandoffServer next(place);
    EXPECT_EQ(next.claim(), HandoffServer::Claim::Listening);
}

TEST_F(HandoffTest, AnotherUsersEndIsNeverTrusted)
{
    const uid_t me = currentUid();
    const uid_t other = me + 1;
    HandoffServer server(place);
    listen(server);

    // The sender checks who listens: a listener of another user gets nothing.
    HandoffPlace expectingOther = place;
    expectingOther.uid = other;
    EXPECT_EQ(send(expectingOther, {"/secret/a.zip"}), HandoffResult::Failed);
    // The receiver checks who connects: a sender of another user is cut off
    // before a word of it is read.
    const QString otherFolder = home.path("runtime/other");
    ASSERT_EQ(::mkdir(QFile::encodeName(otherFolder).constData(), 0700), 0);
    HandoffServer strict(handoffPlaceIn(otherFolder, other));
    ASSERT_EQ(strict.claim(), HandoffServer::Claim::Listening);
    QObject::connect(&strict, &HandoffServer::received, [this](const QStringList &p) { received << p; });
    EXPECT_EQ(send(handoffPlaceIn(otherFolder, me), {"/a.zip"}), HandoffResult::Failed);
    QCoreApplication::processEvents();
    EXPECT_TRUE(received.isEmpty());

    // The meeting folder: private, ours, never a link or someone else's.
    QString problem;
    const QString made = home.path("cache/made");
    EXPECT_TRUE(ensurePrivateFolder(made, me, &problem));
    EXPECT_EQ(modeOf(made), 0700);
    const QString open = home.path("cache/open");
    ASSERT_EQ(::mkdir(QFile::encodeName(open).constData(), 0777), 0);
    ::chmod(QFile::encodeName(open).constData(), 0777);
    EXPECT_TRUE(ensurePrivateFolder(open, me, &problem));
    EXPECT_EQ(modeOf(open), 0700);
    EXPECT_FALSE(ensurePrivateFolder(made, other, &problem));
    ASSERT_TRUE(QFile::link(made, home.path("cache/link")));
    EXPECT_FALSE(ensurePrivateFolder(home.path("cache/link"), me, &problem));
    writeFile(home.path("cache/file"), "x");
    EXPECT_FALSE(ensurePrivateFolder(home.path("cache/file"), me, &problem));
}

TEST_F(HandoffTest, TheMeetingFolderIsPrivateWhateverTheEnvironmentSays)
{
    const ScopedVariable tmp("TMPDIR", QFile::encodeName(home.path("cache")));
    const QString fallback = home.path("cache/SalvoExtractor-") + currentUserId();
    const QString name = QLatin1String(kHandoffName);
    QString problem;

    EXPECT_EQ(meetingFolder(name, currentUid(), &problem), home.path("runtime"));
    // Missing, open to others, or too long for a socket: the private folder in
    // the temporary folder instead.
    qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(meetingFolder(name, currentUid(), &problem), fallback);
    EXPECT_EQ(modeOf(fallback), 0700);
    for (const mode_t open : {0755, 0770, 0701}) {
        QDir().mkpath(home.path("data/open"));
        ::chmod(QFile::encodeName(home.path("data/open")).constData(), open);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.path("data/open")));
        EXPECT_EQ(meetingFolder(name, currentUid(), &problem), fallback) << std::oct << open;
    }
    const QString deep = home.path("data/") + QString(110, 'd');
    QDir().mkpath(deep);
    ::chmod(QFile::encodeName(deep).constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(deep));
    EXPECT_EQ(meetingFolder(name, currentUid(), &problem), fallback);
    EXPECT_NE(problem.indexOf("too long"), -1);
    // A fallback folder that belongs to someone else is refused, not used.
    EXPECT_EQ(meetingFolder(name, currentUid() + 1, &problem), QString());
}

TEST_F(HandoffTest, GarbageAndStalledSendersAreDroppedWhileOthersAreServed)
{
    HandoffServer server(place);
    listen(server);
    QLocalSocket garbage, stalled;
    for (QLocalSocket *s : {&garbage, &stalled}) {
        s->connectToServer(place.socketPath);
        ASSERT_TRUE(s->waitForConnected(2000));
    }
    garbage.write("\xff\xff\xff\xff\xff\xff garbage");
    garbage.flush();
    stalled.write(handoffFrame(HandoffFrame::Begin) + handoffFrame(HandoffFrame::Path, "/never/ends"));
    stalled.flush();
    EXPECT_EQ(send(place, {"/a.zip"}), HandoffResult::Taken);

    ASSERT_TRUE(waitUntil([&] { return garbage.state() == QLocalSocket::UnconnectedState; }));
    ASSERT_TRUE(waitUntil([&] { return !received.isEmpty(); }));
    EXPECT_EQ(received, QList<QStringList>{QStringList{"/a.zip"}});
    EXPECT_EQ(stalled.state(), QLocalSocket::ConnectedState);
    ASSERT_TRUE(waitUntil([&] { return stalled.state() == QLocalSocket::UnconnectedState; },
                          HandoffServer::kConnectionTimeoutMs + 3000));
    EXPECT_EQ(received.size(), 1);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
