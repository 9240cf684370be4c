#pragma once
// A gzip file inflated member by member, for libarchive to read as the
// uncompressed stream (a compressed tar, or a lone .gz). The framing (the
// header, and the CRC-32 and length after each member) is read here, because
// libarchive does not check the trailer, so that a damaged .gz fails and the
// kind of damage is known without reading any message text.
//
// Members are inflated by the fast inflater (Inflater.h). Where it finds
// anything wrong in a member (damaged data, a cut, a trailer that does not
// match), zlib reads that member again from its start: the output already
// handed out is passed over (it must come out the same), and from there on
// zlib alone decides, so a damaged file fails exactly as it does with zlib.
#include "Inflater.h"
#include "VolumeInput.h"

#include <archive.h>

#include <cstdint>
#include <memory>
#include <string>

namespace salvo::arc {

class GzipStream {
public:
    explicit GzipStream(const VolumeInput &input);
    ~GzipStream();
    GzipStream(const GzipStream &) = delete;
    GzipStream &operator=(const GzipStream &) = delete;

    // The SALVO_E_ code of the damage found, 0 while none was, and its text
    // (libarchive may put its own over it when it fails while opening).
    int failure() const { return m_failure; }
    const std::string &failureText() const { return m_failureText; }
    // How much of the file the members took (not what is read ahead).
    int64_t consumed() const { return here(); }
    // The original name in the first member's header, if it has one.
    std::string headerName() const;

    // libarchive's read callback: the next block of uncompressed data.
    static la_ssize_t read(archive *a, void *self, const void **buffer);
    // Reads the rest of the file, checking every member to its trailer.
    bool drain(archive *a);
    // The reader above failed on the output of the member in hand. When the
    // fast inflater made that output, zlib reads the member again up to
    // there: damage it finds is the failure (with zlib the reading would
    // have stopped at it), else the reader's failure stands. The fast
    // inflater accepts some damaged Huffman tables zlib refuses.
    void confirm(archive *a);

private:
    enum class State { Header, Body, Trailer, Between, Done };

    la_ssize_t fail(archive *a, int code, const char *text);
    la_ssize_t next(archive *a, const void **buffer);
    la_ssize_t inflateSome(archive *a, const void **buffer, bool *again);
    bool checkTrailer(archive *a, la_ssize_t *failed);
    bool handBackToZlib();
    bool readHeader();
    bool need(size_t n);
    void consume(size_t n);
    void consumeHeader(size_t n);
    // The file offset of the next unread byte.
    int64_t here() const { return m_cursor.position() - static_cast<int64_t>(m_avail); }
    void moveTo(int64_t offset);

    const VolumeInput &m_input;
    VolumeInput::Cursor m_cursor;
    std::unique_ptr<Inflater> m_inflater;
    static constexpr int64_t kBuffer = 256 * 1024;
    std::unique_ptr<uint8_t[]> m_in, m_out;
    size_t m_inSize = 0;
    const uint8_t *m_next = nullptr; // unread input, in m_in
    size_t m_avail = 0;
    State m_state = State::Header;
    // The member in hand: where its deflate data starts, and its output so far.
    int64_t m_dataStart = 0;
    uint32_t m_crc = 0, m_headerCrc = 0;
    uint64_t m_length = 0;
    // After a member went back to zlib: how much of zlib's output was handed
    // out already (it is passed over), the CRC of what was, and of what zlib
    // gave for it.
    uint64_t m_skip = 0;
    uint32_t m_handedCrc = 0, m_skippedCrc = 0;
    int m_failure = 0;
    std::string m_failureText;
    int m_headerFailure = 0;
    bool m_readError = false;
};

} // namespace salvo::arc
