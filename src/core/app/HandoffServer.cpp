#include "HandoffServer.h"

#include "HandoffProtocol.h"
#include "platform/LocalPath.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <memory>

namespace salvo {

HandoffPlace handoffPlace(QString *problem)
{
    const uid_t uid = currentUid();
    const QString folder = meetingFolder(QLatin1String(kHandoffName), uid, problem);
    if (folder.isEmpty())
        return {};
    return handoffPlaceIn(folder, uid);
}

HandoffPlace handoffPlaceIn(const QString &folder, uid_t uid)
{
    const QString socket = folder + QLatin1Char('/') + QLatin1String(kHandoffName);
    return {folder, socket, socket + QStringLiteral(".lock"), uid};
}

HandoffServer::HandoffServer(HandoffPlace place, QObject *parent) : QObject(parent), m_place(std::move(place))
{
}

HandoffServer::~HandoffServer()
{
    // The socket file goes while the lock is still held, so it never takes away
    // the socket of the instance that gets the lock next.
    delete m_server;
    m_server = nullptr;
    m_lock.release();
}

HandoffServer::Claim HandoffServer::claim()
{
    if (!m_place.isValid())
        return Claim::Failed;
    switch (m_lock.tryLock(m_place.lockPath)) {
    case InstanceLock::Result::Acquired:
        break;
    case InstanceLock::Result::HeldElsewhere:
        return Claim::TakenByAnother;
    case InstanceLock::Result::Failed:
        return Claim::Failed;
    }
    // Whatever is left at the socket's name is a leftover of an instance that
    // ended without closing it: nobody else may listen there without the lock.
    if (!removeLeftoverOwnedBy(m_place.socketPath, m_place.uid)) {
        m_lock.release();
        return Claim::Failed;
    }
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_place.socketPath)) {
        delete m_server;
        m_server = nullptr;
        m_lock.release();
        return Claim::Failed;
    }
    connect(m_server, &QLocalServer::newConnection, this, &HandoffServer::acceptConnections);
    return Claim::Listening;
}

void HandoffServer::acceptConnections()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (peerUserId(static_cast<int>(socket->socketDescriptor())) != m_place.uid) {
            socket->abort(); // another user: not a word is read
            continue;
        }
        serve(socket);
    }
}

void HandoffServer::serve(QLocalSocket *socket)
{
    auto decoder = std::make_shared<HandoffDecoder>();
    auto answered = std::make_shared<bool>(false);
    auto accepted = std::make_shared<bool>(false);
    auto *timer = new QTimer(socket);
    timer->setSingleShot(true);
    timer->start(kConnectionTimeoutMs);
    connect(timer, &QTimer::timeout, socket, &QLocalSocket::abort);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, decoder, answered, accepted, timer] {
        timer->start(kConnectionTimeoutMs); // a long list keeps coming: not stalled
        const HandoffDecoder::State state = decoder->feed(socket->readAll());
        if (state == HandoffDecoder::State::Failed) {
            socket->abort();
            return;
        }
        const bool whole = state == HandoffDecoder::State::Complete || state == HandoffDecoder::State::Committed;
        if (whole && !*answered) {
            *answered = true;
            *accepted = m_accepting;
            socket->write(handoffFrame(*accepted ? HandoffFrame::Accepted : HandoffFrame::Refused));
            socket->flush();
            if (!*accepted) {
                socket->disconnectFromServer();
                return;
            }
        }
        if (state == HandoffDecoder::State::Committed && *accepted) {
            timer->stop();
            socket->disconnectFromServer();
            emit received(decoder->paths());
        }
    });
}

namespace {

// Waits for the writes of `socket` to leave, a piece at a time.
bool drain(QLocalSocket &socket, int timeoutMs)
{
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(timeoutMs))
            return false;
    }
    return true;
}

bool connectToOwnInstance(QLocalSocket &socket, const HandoffPlace &place, int timeoutMs)
{
    socket.connectToServer(place.socketPath);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    return peerUserId(static_cast<int>(socket.socketDescriptor())) == place.uid;
}

} // namespace

HandoffResult sendToRunningInstance(const HandoffPlace &place, const QStringList &paths,
                                    const HandoffTimeouts &timeouts)
{
    if (!place.isValid())
        return HandoffResult::NoInstance;
    QLocalSocket socket;
    socket.connectToServer(place.socketPath);
    if (!socket.waitForConnected(timeouts.connectMs))
        return HandoffResult::NoInstance;
    if (peerUserId(static_cast<int>(socket.socketDescriptor())) != place.uid) {
        socket.abort(); // a listener of another user gets nothing
        return HandoffResult::Failed;
    }
    // Written in pieces: a long list never sits in memory twice, and a receiver
    // that stops reading is noticed.
    constexpr qsizetype kPieceBytes = 256 * 1024;
    QByteArray piece = handoffFrame(HandoffFrame::Begin);
    for (const QString &path : paths) {
        piece += handoffFrame(HandoffFrame::Path, localBytesOfPath(path));
        if (piece.size() >= kPieceBytes) {
            socket.write(piece);
            piece.clear();
            if (!drain(socket, timeouts.writeMs))
                return HandoffResult::Failed;
        }
    }
    piece += handoffFrame(HandoffFrame::End);
    socket.write(piece);
    if (!drain(socket, timeouts.writeMs))
        return HandoffResult::Failed;

    QByteArray answer;
    while (answer.size() < kHandoffHeaderSize) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(timeouts.answerMs))
            return HandoffResult::Failed;
        answer += socket.read(kHandoffHeaderSize - answer.size());
    }
    if (answer == handoffFrame(HandoffFrame::Refused))
        return HandoffResult::Refused;
    if (answer != handoffFrame(HandoffFrame::Accepted))
        return HandoffResult::Failed;
    socket.write(handoffFrame(HandoffFrame::Commit));
    if (!drain(socket, timeouts.writeMs))
        return HandoffResult::Failed;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(timeouts.writeMs);
    return HandoffResult::Taken;
}

bool instanceIsRunning(const HandoffPlace &place, int timeoutMs)
{
    QLocalSocket socket;
    return place.isValid() && connectToOwnInstance(socket, place, timeoutMs);
}

} // namespace salvo
