#include "GzipStream.h"

#include "salvo_archiver.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace salvo::arc {

GzipStream::GzipStream(const VolumeInput &input)
    : m_input(input), m_cursor(input), m_inflater(std::make_unique<Inflater>(fastDecoders()))
{
    // Buffers left uninitialised, the input one no larger than the file: a
    // small .gz then costs few fresh pages.
    m_inSize = static_cast<size_t>(std::clamp<int64_t>((input.size() + 4095) & ~int64_t{4095}, 4096, kBuffer));
    m_in.reset(new uint8_t[m_inSize]);
    m_out.reset(new uint8_t[kBuffer]);
    m_next = m_in.get();
}

GzipStream::~GzipStream() = default;

std::string GzipStream::headerName() const
{
    unsigned char head[10];
    if (!m_input.readFully(0, head, 10) || !(head[3] & 0x08))
        return {};
    int64_t pos = 10;
    if (head[3] & 0x04) {
        unsigned char xlen[2];
        if (!m_input.readFully(pos, xlen, 2))
            return {};
        pos += 2 + (xlen[0] | (xlen[1] << 8));
    }
    std::string name;
    char c;
    while (name.size() < 1024 && m_input.readAt(pos++, &c, 1) == 1 && c != '\0')
        name.push_back(c);
    return name;
}

la_ssize_t GzipStream::read(archive *a, void *self, const void **buffer)
{
    return static_cast<GzipStream *>(self)->next(a, buffer);
}

bool GzipStream::drain(archive *a)
{
    const void *ignored;
    while (m_state != State::Done) {
        if (next(a, &ignored) < 0)
            return false;
    }
    return true;
}

void GzipStream::confirm(archive *a)
{
    if (m_failure || !m_inflater->isFast() || (m_state != State::Body && m_state != State::Trailer) || m_length == 0)
        return;
    handBackToZlib();
    const void *ignored;
    while (m_skip > 0 && m_state == State::Body) {
        bool again = false;
        if (inflateSome(a, &ignored, &again) < 0)
            return;
    }
}

la_ssize_t GzipStream::fail(archive *a, int code, const char *text)
{
    m_failure = code;
    m_failureText = std::string("gzip: ") + text;
    archive_set_error(a, code == SALVO_E_CANNOT_READ ? EIO : EILSEQ, "%s", m_failureText.c_str());
    return -1;
}

la_ssize_t GzipStream::next(archive *a, const void **buffer)
{
    if (m_failure)
        return -1;
    if (!m_inflater->ready())
        return fail(a, SALVO_E_ENOUGH_MEMORY, "out of memory");
    *buffer = m_out.get();
    for (;;) {
        switch (m_state) {
        case State::Header:
            if (!readHeader())
                return fail(a, m_readError ? SALVO_E_CANNOT_READ : m_headerFailure, "damaged or incomplete header");
            m_inflater->reset();
            m_dataStart = here();
            m_crc = 0;
            m_length = 0;
            m_state = State::Body;
            break;
        case State::Body: {
            bool again = false;
            const la_ssize_t produced = inflateSome(a, buffer, &again);
            if (!again)
                return produced;
            break;
        }
        case State::Trailer: {
            la_ssize_t failed = 0;
            if (!checkTrailer(a, &failed))
                return failed;
            break;
        }
        case State::Between:
            // Another member follows only when the gzip magic does; other
            // bytes after the last member (padding) are ignored.
            m_state = need(2) && m_next[0] == 0x1f && m_next[1] == 0x8b ? State::Header : State::Done;
            break;
        case State::Done:
            return 0;
        }
    }
}

// Inflates one step of the member's data. Returns what to hand out, or sets
// `again` when nothing is to be handed out yet (zlib took the member over, or
// the output all belonged to what was handed out before).
la_ssize_t GzipStream::inflateSome(archive *a, const void **buffer, bool *again)
{
    int64_t used = 0;
    size_t made = 0;
    Inflater::Status status = Inflater::Status::Progress;
    if (m_avail == 0 && !need(1)) {
        // ISA-L reads ahead into its bit buffer: it may hold the stream's last
        // bytes with output still to give. Only when it gives nothing more
        // did the input end too early.
        if (!m_readError && m_inflater->isFast())
            status = m_inflater->run(m_next, 0, m_out.get(), kBuffer, &used, &made);
        if (status == Inflater::Status::Progress && made == 0) {
            if (!m_readError && handBackToZlib()) {
                *again = true;
                return 0;
            }
            return fail(a, m_readError ? SALVO_E_CANNOT_READ : SALVO_E_UNEXPECTED_EOF, "unexpected end of file");
        }
    } else {
        status = m_inflater->run(m_next, m_avail, m_out.get(), kBuffer, &used, &made);
    }
    if (status == Inflater::Status::Damaged || status == Inflater::Status::NoMemory) {
        // What came out of this step is not handed out: zlib says what is wrong.
        if (handBackToZlib()) {
            *again = true;
            return 0;
        }
        return status == Inflater::Status::NoMemory ? fail(a, SALVO_E_ENOUGH_MEMORY, "out of memory")
                                                    : fail(a, SALVO_E_BROKEN_DATA, "damaged data");
    }
    const int64_t at = here() + used;
    if (used >= 0 && static_cast<size_t>(used) <= m_avail)
        consume(static_cast<size_t>(used));
    else
        moveTo(at);
    const uint8_t *out = m_out.get();
    m_crc = crc32Update(m_crc, out, made);
    m_length += made;
    if (m_skip > 0) {
        const size_t passed = static_cast<size_t>(std::min<uint64_t>(m_skip, made));
        m_skippedCrc = crc32Update(m_skippedCrc, out, passed);
        m_skip -= passed;
        out += passed;
        made -= passed;
        if (m_skip == 0 && m_skippedCrc != m_handedCrc)
            return fail(a, SALVO_E_BROKEN_DATA, "damaged data");
    }
    if (status == Inflater::Status::End) {
        // zlib's member must not end before what was handed out of it.
        if (m_skip > 0)
            return fail(a, SALVO_E_BROKEN_DATA, "damaged data");
        m_state = State::Trailer;
    }
    *buffer = out;
    *again = made == 0;
    return static_cast<la_ssize_t>(made);
}

bool GzipStream::checkTrailer(archive *a, la_ssize_t *failed)
{
    if (!need(8)) {
        if (!m_readError && handBackToZlib())
            return true;
        *failed = fail(a, m_readError ? SALVO_E_CANNOT_READ : SALVO_E_UNEXPECTED_EOF, "unexpected end of file");
        return false;
    }
    const uint8_t *t = m_next;
    const uint32_t crc = t[0] | t[1] << 8 | t[2] << 16 | uint32_t(t[3]) << 24;
    const uint32_t length = t[4] | t[5] << 8 | t[6] << 16 | uint32_t(t[7]) << 24;
    if ((crc != m_crc || length != static_cast<uint32_t>(m_length)) && handBackToZlib())
        return true;
    consume(8);
    if (crc != m_crc) {
        *failed = fail(a, SALVO_E_FILE_CRC, "CRC of the data does not match");
        return false;
    }
    if (length != static_cast<uint32_t>(m_length)) {
        *failed = fail(a, SALVO_E_FILE_CRC, "length of the data does not match");
        return false;
    }
    m_state = State::Between;
    return true;
}

// The fast inflater met trouble in the member in hand: zlib reads the member
// again from its start, and the rest of the file after it. False when zlib
// read it already (its verdict stands).
bool GzipStream::handBackToZlib()
{
    if (!m_inflater->isFast())
        return false;
    m_inflater = std::make_unique<Inflater>(false);
    m_skip = m_length;
    m_handedCrc = m_crc;
    m_skippedCrc = 0;
    m_crc = 0;
    m_length = 0;
    moveTo(m_dataStart);
    m_state = State::Body;
    return true;
}

// Reads a member header (RFC 1952) and leaves the input at its data.
bool GzipStream::readHeader()
{
    m_headerFailure = SALVO_E_UNEXPECTED_EOF;
    m_headerCrc = 0;
    if (!need(10))
        return false;
    const uint8_t *h = m_next;
    const unsigned flags = h[3];
    if (h[0] != 0x1f || h[1] != 0x8b || h[2] != 8 || (flags & 0xE0)) {
        m_headerFailure = SALVO_E_HEADER_BROKEN;
        return false;
    }
    consumeHeader(10);
    if (flags & 0x04) {
        if (!need(2))
            return false;
        const size_t xlen = m_next[0] | m_next[1] << 8;
        consumeHeader(2);
        if (!need(xlen))
            return false;
        consumeHeader(xlen);
    }
    for (const unsigned field : {0x08u, 0x10u}) { // name, comment: zero-terminated
        if (!(flags & field))
            continue;
        for (;;) {
            if (!need(1))
                return false;
            const bool end = m_next[0] == 0;
            consumeHeader(1);
            if (end)
                break;
        }
    }
    if (flags & 0x02) {
        if (!need(2))
            return false;
        const unsigned stored = m_next[0] | m_next[1] << 8;
        if (stored != (m_headerCrc & 0xFFFF)) {
            m_headerFailure = SALVO_E_HEADER_BROKEN;
            return false;
        }
        consume(2);
    }
    return true;
}

// Makes at least `n` bytes of input available; false at the end of the file.
bool GzipStream::need(size_t n)
{
    if (m_avail >= n)
        return true;
    if (m_avail > 0 && m_next != m_in.get())
        std::memmove(m_in.get(), m_next, m_avail);
    m_next = m_in.get();
    size_t have = m_avail;
    while (have < n && have < m_inSize) {
        const ssize_t got = m_cursor.read(m_in.get() + have, m_inSize - have);
        if (got <= 0) {
            m_readError = got < 0;
            break;
        }
        have += static_cast<size_t>(got);
    }
    m_avail = have;
    return have >= n;
}

void GzipStream::consume(size_t n)
{
    m_next += n;
    m_avail -= n;
}

void GzipStream::consumeHeader(size_t n)
{
    m_headerCrc = crc32Update(m_headerCrc, m_next, n);
    consume(n);
}

void GzipStream::moveTo(int64_t offset)
{
    m_cursor.moveTo(offset);
    m_next = m_in.get();
    m_avail = 0;
}

} // namespace salvo::arc
