// The hand-off messages a second instance sends to the running one: frames of
// begin, text and end. The input is the byte stream of one connection; its
// first byte decides where the stream is cut into the pieces that arrive.
// Rules: the messages and the failure do not depend on how the stream is cut;
// no message is larger than the cap; any text sent arrives as it was.
#include "FuzzCheck.h"
#include "app/HandoffProtocol.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

using namespace salvo;

namespace {

struct Outcome {
    QStringList messages;
    bool failed = false;
};

Outcome decodeInPieces(const QByteArray &stream, unsigned pieceSeed)
{
    Outcome out;
    HandoffDecoder decoder;
    qsizetype pos = 0;
    unsigned step = pieceSeed;
    while (pos < stream.size() && !out.failed) {
        // Piece sizes from 1 to 16 bytes, varied by the seed.
        step = step * 1103515245u + 12345u;
        const qsizetype n = std::min<qsizetype>(1 + (step >> 16) % 16, stream.size() - pos);
        out.failed = !decoder.feed(stream.mid(pos, n), &out.messages);
        pos += n;
    }
    FUZZ_CHECK(out.failed == decoder.failed());
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray stream(reinterpret_cast<const char *>(data) + 1, static_cast<qsizetype>(size - 1));

    Outcome whole;
    HandoffDecoder decoder;
    whole.failed = !decoder.feed(stream, &whole.messages);
    for (const QString &m : whole.messages)
        FUZZ_CHECK(m.toUtf8().size() <= HandoffDecoder::kMaxTextBytes);
    // A failed decoder stays failed.
    if (whole.failed)
        FUZZ_CHECK(!decoder.feed(encodeHandoff(QStringLiteral("a")), &whole.messages));

    const Outcome pieces = decodeInPieces(stream, data[0]);
    FUZZ_CHECK(pieces.failed == whole.failed);
    FUZZ_CHECK(pieces.messages == whole.messages);

    // Any text goes through as it was, also several messages on one connection.
    const QString text = QString::fromUtf8(stream);
    const QByteArray sent = encodeHandoff(text) + encodeHandoff(QString()) + encodeHandoff(text);
    const Outcome received = decodeInPieces(sent, data[0]);
    FUZZ_CHECK(!received.failed);
    FUZZ_CHECK(received.messages == (QStringList{text, QString(), text}));
    return 0;
}
