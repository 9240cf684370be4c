#include "Inflater.h"

#include <cstdlib>
#include <cstring>
#include <zlib.h>

#ifdef SALVO_WITH_ISAL
#include <isa-l.h>
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#endif

namespace salvo::arc {

bool fastDecoders()
{
    static const bool fast = [] {
        const char *reference = std::getenv("SALVO_REFERENCE_DECODERS");
        return !(reference && std::strcmp(reference, "1") == 0);
    }();
    return fast;
}

std::string fastDecoderVersions()
{
#ifdef SALVO_WITH_ISAL
    return "isa-l/" + std::to_string(ISAL_MAJOR_VERSION) + "." + std::to_string(ISAL_MINOR_VERSION) + "."
        + std::to_string(ISAL_PATCH_VERSION);
#else
    return {};
#endif
}

uint32_t crc32Update(uint32_t crc, const void *data, size_t n)
{
#ifdef SALVO_WITH_ISAL
    return crc32_gzip_refl(crc, static_cast<const unsigned char *>(data), n);
#else
    // zlib takes at most 4 GiB at a time.
    const auto *p = static_cast<const Bytef *>(data);
    while (n > 0) {
        const uInt step = static_cast<uInt>(n > 0x40000000 ? 0x40000000 : n);
        crc = static_cast<uint32_t>(crc32(crc, p, step));
        p += step;
        n -= step;
    }
    return crc;
#endif
}

struct Inflater::State {
    bool fast = false;
    bool ready = false;
    z_stream z{};
#ifdef SALVO_WITH_ISAL
    std::unique_ptr<inflate_state> isal;
#endif
};

Inflater::Inflater(bool fast) : m(std::make_unique<State>())
{
#ifdef SALVO_WITH_ISAL
    if (fast) {
        // Left uninitialised but for what the initialisation sets: 85 KB of
        // tables a small archive would otherwise pay to clear.
        m->isal.reset(static_cast<inflate_state *>(::operator new(sizeof(inflate_state))));
        isal_inflate_init(m->isal.get());
        m->isal->crc_flag = ISAL_DEFLATE;
        m->fast = m->ready = true;
        return;
    }
#else
    (void)fast;
#endif
    m->ready = inflateInit2(&m->z, -15) == Z_OK;
}

Inflater::~Inflater()
{
    if (!m->fast && m->ready)
        inflateEnd(&m->z);
}

bool Inflater::ready() const
{
    return m->ready;
}

bool Inflater::isFast() const
{
    return m->fast;
}

void Inflater::reset()
{
#ifdef SALVO_WITH_ISAL
    if (m->fast) {
        isal_inflate_reset(m->isal.get());
        m->isal->crc_flag = ISAL_DEFLATE;
        return;
    }
#endif
    if (m->ready)
        inflateReset(&m->z);
}

Inflater::Status Inflater::run(const uint8_t *in, size_t inLength, uint8_t *out, size_t outLength, int64_t *used,
                               size_t *made)
{
    *used = 0;
    *made = 0;
    if (!m->ready)
        return Status::NoMemory;
#ifdef SALVO_WITH_ISAL
    if (m->fast) {
        inflate_state &s = *m->isal;
        s.next_in = const_cast<uint8_t *>(in);
        s.avail_in = static_cast<uint32_t>(inLength);
        s.next_out = out;
        s.avail_out = static_cast<uint32_t>(outLength);
        const int r = isal_inflate(&s);
        *made = outLength - s.avail_out;
        if (r < 0)
            return Status::Damaged;
        if (s.block_state == ISAL_BLOCK_FINISH) {
            // ISA-L reads up to 8 bytes ahead into its bit buffer: those
            // whole bytes follow the stream.
            const int64_t unread = static_cast<int64_t>(s.avail_in) + s.read_in_length / 8;
            *used = static_cast<int64_t>(inLength) - unread;
            return Status::End;
        }
        *used = static_cast<int64_t>(inLength - s.avail_in);
        return Status::Progress;
    }
#endif
    z_stream &z = m->z;
    z.next_in = const_cast<Bytef *>(in);
    z.avail_in = static_cast<uInt>(inLength);
    z.next_out = out;
    z.avail_out = static_cast<uInt>(outLength);
    const int r = inflate(&z, Z_NO_FLUSH);
    *made = outLength - z.avail_out;
    *used = static_cast<int64_t>(inLength - z.avail_in);
    if (r == Z_STREAM_END)
        return Status::End;
    if (r == Z_OK)
        return Status::Progress;
    return r == Z_MEM_ERROR ? Status::NoMemory : Status::Damaged;
}

} // namespace salvo::arc
