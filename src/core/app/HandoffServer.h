#pragma once
// Instances of the program meet in a folder private to the user: the running
// instance holds a lock file there and listens on the hand-off socket next to
// it; a second instance finds the lock taken and hands its files over through
// the socket. Both ends check that the other end belongs to the same user.
#include "platform/UserIdentity.h"

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;
class QLocalSocket;

namespace salvo {

struct HandoffPlace {
    QString folder;
    QString socketPath;
    QString lockPath;
    uid_t uid = 0; // the user both ends must belong to
    bool isValid() const { return !socketPath.isEmpty(); }
};

// The place of this user (see meetingFolder); invalid, with the reason in
// `problem`, when there is no safe one.
HandoffPlace handoffPlace(QString *problem);
// The place in a given folder, for a given user.
HandoffPlace handoffPlaceIn(const QString &folder, uid_t uid);

class HandoffServer : public QObject {
    Q_OBJECT
public:
    // A connection that sends nothing for this long is dropped.
    static constexpr int kConnectionTimeoutMs = 5000;

    explicit HandoffServer(HandoffPlace place, QObject *parent = nullptr);
    ~HandoffServer() override;

    enum class Claim { Listening, TakenByAnother, Failed };
    // Takes the instance lock and listens. Only the holder of the lock removes a
    // socket file left by an instance that ended without closing it, so a
    // running instance's socket is never taken away. TakenByAnother when
    // another instance holds the lock; Failed when the lock or the socket
    // cannot be had (a socket file of another user is never removed).
    Claim claim();
    const HandoffPlace &place() const { return m_place; }

    // Whether hand-offs are taken; when not, senders are told so and handle
    // their files themselves.
    void setAccepting(bool accepting) { m_accepting = accepting; }

signals:
    // The files of a second instance (none when it only wants the window shown).
    void received(const QStringList &paths);

private:
    void acceptConnections();
    void serve(QLocalSocket *socket);

    HandoffPlace m_place;
    InstanceLock m_lock;
    QLocalServer *m_server = nullptr;
    bool m_accepting = true;
};

enum class HandoffResult {
    Taken,      // the running instance has the files
    Refused,    // it does not take files now: handle them here
    NoInstance, // nobody listens
    Failed,     // a listener of another user, a broken or stalled connection
};

struct HandoffTimeouts {
    int connectMs = 2000;
    int writeMs = 10000; // for each piece of a long list
    int answerMs = 20000; // the running instance may still be starting
};

// The second instance's end: sends `paths` (absolute) to the running instance.
HandoffResult sendToRunningInstance(const HandoffPlace &place, const QStringList &paths,
                                    const HandoffTimeouts &timeouts = {});

// True when an instance of the place's user listens there.
bool instanceIsRunning(const HandoffPlace &place, int timeoutMs = 1000);

} // namespace salvo
