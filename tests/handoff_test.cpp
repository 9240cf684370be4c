// The hand-off between instances: framing, one buffer per connection, stale
// sockets, garbage and stalled senders.
#include "app/HandoffProtocol.h"
#include "app/HandoffServer.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QtEndian>

#include <atomic>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace salvo;
using namespace salvo::test;

namespace {

QByteArray frame(HandoffFrame kind, const QByteArray &payload = {})
{
    QByteArray out(1, static_cast<char>(kind));
    char len[4];
    qToBigEndian<quint32>(payload.size(), len);
    return out + QByteArray(len, 4) + payload;
}

TEST(HandoffDecoder, SplitsFramesAcrossReadsAndRejectsGarbage)
{
    const QByteArray bytes = encodeHandoff(QStringLiteral("\"/日本語/a b.lzh\" /c.zip"));
    HandoffDecoder decoder;
    QStringList messages;
    for (char c : bytes)
        ASSERT_TRUE(decoder.feed(QByteArray(1, c), &messages));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], QStringLiteral("\"/日本語/a b.lzh\" /c.zip"));

    HandoffDecoder garbage;
    EXPECT_FALSE(garbage.feed("\x07hello world", &messages));
    HandoffDecoder textWithoutBegin;
    EXPECT_FALSE(textWithoutBegin.feed(frame(HandoffFrame::Text, "x"), &messages));
    HandoffDecoder tooMuch;
    QByteArray huge = frame(HandoffFrame::Begin);
    huge += frame(HandoffFrame::Text, QByteArray(HandoffDecoder::kMaxTextBytes, 'a'));
    EXPECT_TRUE(tooMuch.feed(huge, &messages));
    EXPECT_FALSE(tooMuch.feed(frame(HandoffFrame::Text, "a"), &messages));
    EXPECT_EQ(messages.size(), 1);
}

class HandoffServerTest : public ::testing::Test {
protected:
    TempHome home;
    QString socketPath = home.path("runtime/handoff");
    QStringList received;
};

TEST_F(HandoffServerTest, TwoConcurrentSendersNeverMixTheirTexts)
{
    HandoffServer server(socketPath);
    ASSERT_TRUE(server.listen());
    QObject::connect(&server, &HandoffServer::received, [this](const QString &t) { received << t; });

    const QString textA = QString(1000, QChar(u'あ'));
    const QString textB = QString(1000, QLatin1Char('b'));
    QLocalSocket a, b;
    a.connectToServer(socketPath);
    b.connectToServer(socketPath);
    ASSERT_TRUE(a.waitForConnected(2000));
    ASSERT_TRUE(b.waitForConnected(2000));
    a.write(frame(HandoffFrame::Begin));
    b.write(frame(HandoffFrame::Begin));
    // Interleave small pieces of both texts, as two senders at once would.
    for (int i = 0; i < 1000; i += 10) {
        a.write(frame(HandoffFrame::Text, textA.mid(i, 10).toUtf8()));
        a.flush();
        b.write(frame(HandoffFrame::Text, textB.mid(i, 10).toUtf8()));
        b.flush();
        QCoreApplication::processEvents();
    }
    a.write(frame(HandoffFrame::End));
    b.write(frame(HandoffFrame::End));
    a.flush();
    b.flush();
    ASSERT_TRUE(waitUntil([&] { return received.size() == 2; }));
    received.sort();
    EXPECT_EQ(received[0], textB);
    EXPECT_EQ(received[1], textA);
}

TEST_F(HandoffServerTest, AStaleSocketDoesNotBlockTheNextStart)
{
    // A socket file nobody listens on, as a crashed instance leaves it.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray p = socketPath.toLocal8Bit();
    memcpy(addr.sun_path, p.constData(), p.size());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ::close(fd);
    ASSERT_TRUE(QFile::exists(socketPath));

    EXPECT_FALSE(instanceIsRunning(socketPath, 200));
    HandoffServer server(socketPath);
    ASSERT_TRUE(server.listen());
    QObject::connect(&server, &HandoffServer::received, [this](const QString &t) { received << t; });
    EXPECT_TRUE(instanceIsRunning(socketPath, 1000));
    QString sent = QStringLiteral("\"/tmp/表 ソ/能.lzh\"");
    // The sender blocks; the server needs the event loop, so send from a helper
    // thread, which is joined on every way out of the test (its waits time out).
    std::atomic<bool> done{false};
    std::jthread sender([&] {
        sendToRunningInstance(socketPath, sent);
        done = true;
    });
    ASSERT_TRUE(waitUntil([&] { return done && received.size() >= 1; }));
    // Connecting for the running check itself sent nothing: the text is all that came.
    EXPECT_EQ(received, QStringList{sent});
}

TEST_F(HandoffServerTest, GarbageAndStalledSendersAreDroppedWhileOthersAreServed)
{
    HandoffServer server(socketPath);
    ASSERT_TRUE(server.listen());
    QObject::connect(&server, &HandoffServer::received, [this](const QString &t) { received << t; });

    QLocalSocket garbage, stalled, good;
    for (QLocalSocket *s : {&garbage, &stalled, &good}) {
        s->connectToServer(socketPath);
        ASSERT_TRUE(s->waitForConnected(2000));
    }
    garbage.write("\xff\xff\xff\xff\xff\xff garbage");
    garbage.flush();
    stalled.write(frame(HandoffFrame::Begin) + frame(HandoffFrame::Text, "never ends"));
    stalled.flush();
    good.write(encodeHandoff("/a.zip"));
    good.flush();

    ASSERT_TRUE(waitUntil([&] { return garbage.state() == QLocalSocket::UnconnectedState; }));
    ASSERT_TRUE(waitUntil([&] { return received == QStringList{"/a.zip"}; }));
    EXPECT_EQ(stalled.state(), QLocalSocket::ConnectedState);
    ASSERT_TRUE(waitUntil([&] { return stalled.state() == QLocalSocket::UnconnectedState; },
                        HandoffServer::kConnectionTimeoutMs + 3000));
    EXPECT_EQ(received, QStringList{"/a.zip"});
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
