#pragma once
// An .xz file made of several blocks (as `xz -T0` writes them), decoded by
// liblzma's multi-threaded decoder, for libarchive to read as the
// uncompressed stream. A file of one block gains nothing from threads and is
// read by libarchive as before.
//
// The output comes in the pieces libarchive's own xz reader makes (64 KiB,
// the last one shorter), so that the reader above sees the same stream in the
// same steps. The decoder reports only success: at the first failure of any
// kind the caller hands the file to libarchive's single-threaded reader,
// which reads it again from its start (passing over what was handed out) and
// says what is wrong exactly as it always did (ArchiveSource.cpp).
#include "VolumeInput.h"

#include <lzma.h>

#include <cstdint>
#include <memory>

namespace salvo::arc {

class XzStream {
public:
    // Whether `input` is an xz file whose last stream's index (read from the
    // end of the file) lists more than one block.
    static bool hasSeveralBlocks(const VolumeInput &input);

    XzStream(const VolumeInput &input, unsigned threads);
    ~XzStream();
    XzStream(const XzStream &) = delete;
    XzStream &operator=(const XzStream &) = delete;

    bool ready() const { return m_ready; }
    // The next piece of output, 0 at the end, -1 at any failure.
    ssize_t next(const void **buffer);
    // How much output was handed out.
    uint64_t delivered() const { return m_delivered; }
    // The stream ended and every byte of the file was taken.
    bool ended() const { return m_ended; }
    // How much of the file the decoder took.
    int64_t consumed() const { return m_cursor.position() - static_cast<int64_t>(m_stream.avail_in); }

private:
    VolumeInput::Cursor m_cursor;
    lzma_stream m_stream = LZMA_STREAM_INIT;
    bool m_ready = false;
    bool m_inputEnd = false;
    bool m_ended = false;
    bool m_failed = false;
    uint64_t m_delivered = 0;
    std::unique_ptr<uint8_t[]> m_in, m_out;
};

} // namespace salvo::arc
