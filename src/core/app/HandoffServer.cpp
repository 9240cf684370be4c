#include "HandoffServer.h"

#include "HandoffProtocol.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

namespace salvo {

HandoffServer::HandoffServer(QString socketPath, QObject *parent)
    : QObject(parent), m_socketPath(std::move(socketPath))
{
}

HandoffServer::~HandoffServer() = default;

bool HandoffServer::listen()
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_socketPath)) {
        // Nobody answered on this socket (the caller checked), so the file is a
        // leftover of an instance that did not close it: remove it and retry.
        QLocalServer::removeServer(m_socketPath);
        if (!m_server->listen(m_socketPath))
            return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, &HandoffServer::acceptConnections);
    return true;
}

void HandoffServer::acceptConnections()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        auto *decoder = new HandoffDecoder;
        auto *timer = new QTimer(socket);
        timer->setSingleShot(true);
        timer->start(kConnectionTimeoutMs);
        connect(timer, &QTimer::timeout, socket, &QLocalSocket::abort);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QObject::destroyed, socket, [decoder] { delete decoder; });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, decoder, timer] {
            QStringList messages;
            const bool ok = decoder->feed(socket->readAll(), &messages);
            for (const QString &text : messages)
                emit received(text);
            if (!ok)
                socket->abort();
            else if (!messages.isEmpty())
                timer->start(kConnectionTimeoutMs);
        });
    }
}

bool instanceIsRunning(const QString &socketPath, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    return socket.waitForConnected(timeoutMs);
}

bool sendToRunningInstance(const QString &socketPath, const QString &fileList, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(encodeHandoff(fileList));
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(timeoutMs))
            return false;
    }
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(timeoutMs);
    return true;
}

} // namespace salvo
