#pragma once
// The hand-off between instances, over a local socket private to the user.
//
// The second instance sends Begin, one Path frame per file (its bytes as the
// file system holds them, made absolute by the sender) and End. The running
// instance answers Accepted or Refused (an instance that runs a DD-mode batch or
// shows only the settings dialog refuses; the sender then handles its files
// itself). After Accepted the sender sends Commit, and only then does the
// running instance take the files: a sender that gave up waiting never has its
// files taken twice.
//
// Each frame is one kind byte, a 32-bit big-endian payload length and the
// payload (only Path frames carry one).
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace salvo {

inline constexpr auto kHandoffName = "WM_USER_SLVO_BY_KORAMO";

enum class HandoffFrame : quint8 { Begin = 0, Path = 1, End = 2, Accepted = 3, Refused = 4, Commit = 5 };

inline constexpr int kHandoffHeaderSize = 5;

QByteArray handoffFrame(HandoffFrame kind, const QByteArray &payload = {});
// Begin, a Path frame for each path, End.
QByteArray encodeHandoff(const QStringList &paths);

// Reads what a second instance sends on one connection. Every connection has a
// decoder of its own, so two senders at the same moment never mix their lists.
class HandoffDecoder {
public:
    // The longest single path taken (far beyond any real one), and the most a
    // whole list may carry.
    static constexpr qsizetype kMaxPathBytes = 64 * 1024;
    static constexpr qsizetype kMaxListBytes = 64 * 1024 * 1024;

    enum class State { Idle, Collecting, Complete, Committed, Failed };

    // Consumes bytes and returns the state reached. Failed (for good) on any
    // frame out of order, a relative or oversized path, or too much in all.
    State feed(const QByteArray &bytes);
    State state() const { return m_state; }
    // The paths of the message (complete once the state is Complete).
    const QStringList &paths() const { return m_paths; }

private:
    State fail();

    State m_state = State::Idle;
    QByteArray m_pending; // bytes of an incomplete frame
    QStringList m_paths;
    qsizetype m_listBytes = 0;
};

} // namespace salvo
