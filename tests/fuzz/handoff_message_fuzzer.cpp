// The hand-off stream a second instance sends to the running one: Begin, one
// Path frame per file, End, then Commit. The input is the byte stream of one
// connection; its first byte decides where the stream is cut into the pieces
// that arrive.
// Rules: the state reached and the paths taken do not depend on how the
// stream is cut; a failed decoder stays failed; every path taken is absolute,
// within the size caps, and sent again gives the same bytes; any bytes sent
// as a path arrive as they were.
#include "FuzzCheck.h"
#include "app/HandoffProtocol.h"
#include "platform/LocalPath.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

using namespace salvo;

namespace {

using State = HandoffDecoder::State;

struct Outcome {
    State state = State::Idle;
    QStringList paths;
};

Outcome decodeInPieces(const QByteArray &stream, unsigned pieceSeed)
{
    HandoffDecoder decoder;
    qsizetype pos = 0;
    unsigned step = pieceSeed;
    State state = State::Idle;
    while (pos < stream.size()) {
        // Piece sizes from 1 to 16 bytes, varied by the seed.
        step = step * 1103515245u + 12345u;
        const qsizetype n = std::min<qsizetype>(1 + (step >> 16) % 16, stream.size() - pos);
        const State before = state;
        state = decoder.feed(stream.mid(pos, n));
        FUZZ_CHECK(state == decoder.state());
        FUZZ_CHECK_MSG(before != State::Failed || state == State::Failed, "a failed decoder took more input");
        pos += n;
    }
    return {decoder.state(), decoder.paths()};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray stream(reinterpret_cast<const char *>(data) + 1, static_cast<qsizetype>(size - 1));

    HandoffDecoder decoder;
    const State whole = decoder.feed(stream);
    qsizetype listBytes = 0;
    for (const QString &path : decoder.paths()) {
        const QByteArray bytes = localBytesOfPath(path);
        FUZZ_CHECK(bytes.startsWith('/') && !bytes.contains('\0'));
        FUZZ_CHECK(bytes.size() <= HandoffDecoder::kMaxPathBytes);
        FUZZ_CHECK(pathFromLocalBytes(bytes) == path);
        listBytes += bytes.size();
    }
    FUZZ_CHECK(listBytes <= HandoffDecoder::kMaxListBytes);
    if (whole == State::Failed) {
        FUZZ_CHECK(decoder.paths().isEmpty());
        FUZZ_CHECK(decoder.feed(encodeHandoff({QStringLiteral("/a.zip")})) == State::Failed);
    }

    const Outcome pieces = decodeInPieces(stream, data[0]);
    FUZZ_CHECK(pieces.state == whole);
    FUZZ_CHECK(pieces.paths == decoder.paths());

    // A list taken goes out again as the same list.
    if (whole == State::Complete || whole == State::Committed) {
        const Outcome again = decodeInPieces(encodeHandoff(decoder.paths()), data[0]);
        FUZZ_CHECK(again.state == State::Complete);
        FUZZ_CHECK(again.paths == decoder.paths());
    }

    // Any bytes as a path (absolute, without NUL, within the cap) arrive as
    // they were, followed by a commit.
    QByteArray bytes = "/" + stream.left(HandoffDecoder::kMaxPathBytes - 1);
    bytes.replace('\0', QByteArray());
    const QByteArray sent = handoffFrame(HandoffFrame::Begin) + handoffFrame(HandoffFrame::Path, bytes) +
                            handoffFrame(HandoffFrame::End) + handoffFrame(HandoffFrame::Commit);
    const Outcome received = decodeInPieces(sent, data[0]);
    FUZZ_CHECK(received.state == State::Committed);
    FUZZ_CHECK(received.paths.size() == 1);
    FUZZ_CHECK_MSG(localBytesOfPath(received.paths.value(0)) == bytes, "a path of %lld bytes came back otherwise",
                   static_cast<long long>(bytes.size()));
    return 0;
}
