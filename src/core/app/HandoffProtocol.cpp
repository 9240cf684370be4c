#include "HandoffProtocol.h"

#include "platform/LocalPath.h"

#include <QtEndian>

namespace salvo {

QByteArray handoffFrame(HandoffFrame kind, const QByteArray &payload)
{
    QByteArray out;
    out.reserve(kHandoffHeaderSize + payload.size());
    out.append(static_cast<char>(kind));
    char length[4];
    qToBigEndian<quint32>(static_cast<quint32>(payload.size()), length);
    out.append(length, 4);
    out.append(payload);
    return out;
}

QByteArray encodeHandoff(const QStringList &paths)
{
    QByteArray out = handoffFrame(HandoffFrame::Begin);
    for (const QString &path : paths)
        out += handoffFrame(HandoffFrame::Path, localBytesOfPath(path));
    out += handoffFrame(HandoffFrame::End);
    return out;
}

HandoffDecoder::State HandoffDecoder::fail()
{
    m_state = State::Failed;
    m_pending.clear();
    m_paths.clear();
    return m_state;
}

HandoffDecoder::State HandoffDecoder::feed(const QByteArray &bytes)
{
    if (m_state == State::Failed)
        return m_state;
    m_pending.append(bytes);
    qsizetype pos = 0;
    while (m_pending.size() - pos >= kHandoffHeaderSize) {
        const auto kind = static_cast<HandoffFrame>(m_pending.at(pos));
        const quint32 length = qFromBigEndian<quint32>(m_pending.constData() + pos + 1);
        const bool isPath = kind == HandoffFrame::Path;
        if (isPath ? (length == 0 || length > kMaxPathBytes || m_listBytes + length > kMaxListBytes) : length != 0)
            return fail();
        if (m_pending.size() - pos - kHandoffHeaderSize < qsizetype(length))
            break; // wait for the rest of the payload
        const QByteArray payload = m_pending.mid(pos + kHandoffHeaderSize, length);
        pos += kHandoffHeaderSize + length;
        switch (kind) {
        case HandoffFrame::Begin:
            if (m_state != State::Idle)
                return fail();
            m_state = State::Collecting;
            break;
        case HandoffFrame::Path:
            // Only absolute paths: the receiver's current folder is not the sender's.
            if (m_state != State::Collecting || !payload.startsWith('/') || payload.contains('\0'))
                return fail();
            m_paths.append(pathFromLocalBytes(payload));
            m_listBytes += length;
            break;
        case HandoffFrame::End:
            if (m_state != State::Collecting)
                return fail();
            m_state = State::Complete;
            break;
        case HandoffFrame::Commit:
            if (m_state != State::Complete)
                return fail();
            m_state = State::Committed;
            break;
        default:
            return fail();
        }
    }
    m_pending.remove(0, pos);
    if (m_state == State::Committed && !m_pending.isEmpty())
        return fail();
    return m_state;
}

} // namespace salvo
