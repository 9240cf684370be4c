#pragma once
// What a second instance sends to the running one: begin, the file list text in
// one or more pieces, end. Each frame is one kind byte, a 32-bit big-endian
// payload length and the payload (UTF-8 text for a text frame, nothing else).
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace salvo {

inline constexpr auto kHandoffName = "WM_USER_SLVO_BY_KORAMO";

enum class HandoffFrame : quint8 { Begin = 0, Text = 1, End = 2 };

QByteArray encodeHandoff(const QString &fileList);

// Reads the frames of one connection. Every connection has a decoder of its own,
// so two senders writing at the same moment never mix their texts.
class HandoffDecoder {
public:
    // Most text one message may carry; more is a protocol error.
    static constexpr qsizetype kMaxTextBytes = 1024 * 1024;

    // Consumes bytes; completed messages are appended to `messages`. Returns
    // false on a protocol error, after which the connection is to be dropped.
    bool feed(const QByteArray &bytes, QStringList *messages);
    bool failed() const { return m_failed; }

private:
    QByteArray m_pending; // bytes of an incomplete frame
    QByteArray m_text;    // text collected since Begin
    bool m_begun = false;
    bool m_failed = false;
};

} // namespace salvo
