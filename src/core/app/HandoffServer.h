#pragma once
// The running instance's end of the hand-off: a local socket per user named
// after the hand-off message. Second instances connect, send their file list
// and leave; each connection is read on its own and timed out when it stalls.
#include <QObject>
#include <QString>

class QLocalServer;

namespace salvo {

class HandoffServer : public QObject {
    Q_OBJECT
public:
    // A connection that has not finished its message by then is dropped.
    static constexpr int kConnectionTimeoutMs = 5000;

    explicit HandoffServer(QString socketPath, QObject *parent = nullptr);
    ~HandoffServer() override;

    // Starts listening; a socket file left behind by a crashed instance is removed
    // first. False when the socket could not be created.
    bool listen();
    const QString &socketPath() const { return m_socketPath; }

signals:
    // A complete message: the file list (possibly empty) of a second instance.
    void received(const QString &fileList);

private:
    void acceptConnections();

    QString m_socketPath;
    QLocalServer *m_server = nullptr;
};

// The second instance's end. Returns true when a running instance took the
// message; false when none is listening (the caller then is the first instance).
bool sendToRunningInstance(const QString &socketPath, const QString &fileList, int timeoutMs = 2000);

// True when an instance is listening on the socket.
bool instanceIsRunning(const QString &socketPath, int timeoutMs = 1000);

} // namespace salvo
