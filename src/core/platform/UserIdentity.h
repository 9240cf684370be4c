#pragma once
// Who runs the program, and the places private to that user where instances of
// the program meet (the hand-off socket and its lock).
#include <QString>

#include <optional>

#include <sys/types.h>

namespace salvo {

// The numeric id of the user running the program, and as text.
uid_t currentUid();
QString currentUserId();

// Makes `folder` private to `uid`, or checks that it already is: created with
// mode 0700 when missing; an existing one must be a real folder (not a link)
// owned by `uid`, and loses any access of group and others. False, with the
// reason in `problem`, when the folder cannot be made or belongs to someone else.
bool ensurePrivateFolder(const QString &folder, uid_t uid, QString *problem);

// The folder where instances of this user meet: $XDG_RUNTIME_DIR when it is a
// private folder of the user and short enough for a socket named `socketName`;
// else "SalvoExtractor-<uid>" in the temporary folder (in /tmp when the
// temporary folder's name is too long), made private. Empty, with the reason in
// `problem`, when no such folder can be had safely.
QString meetingFolder(const QString &socketName, uid_t uid, QString *problem);

// The user at the other end of a connected local socket.
std::optional<uid_t> peerUserId(int socketDescriptor);

// Removes what is at `path` (not following a link) when it belongs to `uid`.
// True when nothing is there any more; false when something of another user is.
bool removeLeftoverOwnedBy(const QString &path, uid_t uid);

// An exclusive lock on a file of a private folder, held until release or
// destruction (or the end of the process). Only one process holds it.
class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;

    enum class Result { Acquired, HeldElsewhere, Failed };
    // The lock file is created when missing; one that is a link, not a regular
    // file or not this process's own is refused (Failed).
    Result tryLock(const QString &path);
    bool held() const { return m_fd >= 0; }
    void release();

private:
    int m_fd = -1;
};

} // namespace salvo
