#pragma once
// Raw deflate decoding, by the fastest decoder the build has: Intel's ISA-L
// where it was found at build time, else zlib. zlib remains the reference:
// the readers that use the fast decoder hand a stream back to zlib (or to
// libarchive, which uses zlib) at the first sign of damage, so that what a
// damaged archive reports never depends on the decoder (GzipStream.h,
// ZipDeflatedData.h).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace salvo::arc {

// Whether the fast decoders are used: ISA-L's inflate where it is built in and
// liblzma's multi-threaded xz decoder. SALVO_REFERENCE_DECODERS=1 in the
// decoder's environment turns both off (zlib and the single-threaded xz
// decoder only), to compare the two.
bool fastDecoders();
// The fast libraries built in, for the decoder's version text ("isa-l/2.30.0"
// or empty).
std::string fastDecoderVersions();

// A CRC-32 (the one of ZIP and gzip) continued over `n` more bytes.
uint32_t crc32Update(uint32_t crc, const void *data, size_t n);

class Inflater {
public:
    enum class Status {
        Progress, // more input or more room for output is needed
        End,      // the deflate stream ended
        Damaged,  // the data is no valid deflate stream
        NoMemory,
    };

    // `fast`: ISA-L where it is built in (else zlib anyway); otherwise zlib.
    explicit Inflater(bool fast);
    ~Inflater();
    Inflater(const Inflater &) = delete;
    Inflater &operator=(const Inflater &) = delete;

    bool ready() const;
    bool isFast() const;
    // Starts a new stream.
    void reset();
    // Decodes from `in` into `out`. `*made` bytes of output were written and
    // `*used` bytes of input taken; at End, `*used` ends exactly after the
    // stream's last byte, and may then be negative: the stream ended in input
    // given to an earlier call, that many bytes before this call's input.
    Status run(const uint8_t *in, size_t inLength, uint8_t *out, size_t outLength, int64_t *used, size_t *made);

private:
    struct State;
    std::unique_ptr<State> m;
};

} // namespace salvo::arc
