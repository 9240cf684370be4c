#include "HandoffProtocol.h"

#include <QtEndian>

namespace salvo {
namespace {

constexpr int kHeaderSize = 5;

void appendFrame(QByteArray &out, HandoffFrame kind, const QByteArray &payload)
{
    out.append(static_cast<char>(kind));
    char length[4];
    qToBigEndian<quint32>(static_cast<quint32>(payload.size()), length);
    out.append(length, 4);
    out.append(payload);
}

} // namespace

QByteArray encodeHandoff(const QString &fileList)
{
    QByteArray out;
    appendFrame(out, HandoffFrame::Begin, {});
    if (!fileList.isEmpty())
        appendFrame(out, HandoffFrame::Text, fileList.toUtf8());
    appendFrame(out, HandoffFrame::End, {});
    return out;
}

bool HandoffDecoder::feed(const QByteArray &bytes, QStringList *messages)
{
    if (m_failed)
        return false;
    m_pending.append(bytes);
    qsizetype pos = 0;
    while (m_pending.size() - pos >= kHeaderSize) {
        const auto kind = static_cast<quint8>(m_pending.at(pos));
        const quint32 length = qFromBigEndian<quint32>(m_pending.constData() + pos + 1);
        const bool known = kind <= static_cast<quint8>(HandoffFrame::End);
        const bool sizeOk = kind == static_cast<quint8>(HandoffFrame::Text)
            ? m_text.size() + qsizetype(length) <= kMaxTextBytes
            : length == 0;
        if (!known || !sizeOk || (kind != static_cast<quint8>(HandoffFrame::Begin) && !m_begun)) {
            m_failed = true;
            m_pending.clear();
            return false;
        }
        if (m_pending.size() - pos - kHeaderSize < qsizetype(length))
            break; // wait for the rest of the payload
        const char *payload = m_pending.constData() + pos + kHeaderSize;
        switch (static_cast<HandoffFrame>(kind)) {
        case HandoffFrame::Begin:
            m_begun = true;
            m_text.clear();
            break;
        case HandoffFrame::Text:
            m_text.append(payload, length);
            break;
        case HandoffFrame::End:
            messages->append(QString::fromUtf8(m_text));
            m_text.clear();
            m_begun = false;
            break;
        }
        pos += kHeaderSize + length;
    }
    m_pending.remove(0, pos);
    return true;
}

} // namespace salvo
