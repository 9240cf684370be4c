#include "XzStream.h"

#include <cstring>
#include <vector>

namespace salvo::arc {
namespace {

constexpr size_t kPiece = 64 * 1024;     // as libarchive's xz reader hands out
constexpr size_t kInput = 1024 * 1024;   // read from the file at a time
// What the threads may take together before liblzma decodes with fewer of
// them (in the end with one). `xz -6 -T2` blocks need about 40 MiB a thread.
constexpr uint64_t kThreadingMemory = 192ull << 20;
// An index larger than this is not read to count the blocks.
constexpr uint64_t kLargestIndex = 16ull << 20;

} // namespace

bool XzStream::hasSeveralBlocks(const VolumeInput &input)
{
    const int64_t size = input.size();
    uint8_t bytes[LZMA_STREAM_HEADER_SIZE];
    if (size < 2 * LZMA_STREAM_HEADER_SIZE || !input.readFully(0, bytes, sizeof bytes)
        || std::memcmp(bytes, "\xFD" "7zXZ", 6) != 0)
        return false;
    // Stream padding (zero bytes in fours) may follow the last stream.
    int64_t end = size;
    for (int step = 0;; ++step) {
        if (end < 2 * LZMA_STREAM_HEADER_SIZE || step > 1024
            || !input.readFully(end - LZMA_STREAM_HEADER_SIZE, bytes, sizeof bytes))
            return false;
        if (bytes[10] == 'Y' && bytes[11] == 'Z')
            break;
        if (bytes[8] | bytes[9] | bytes[10] | bytes[11])
            return false;
        end -= 4;
    }
    lzma_stream_flags footer;
    if (lzma_stream_footer_decode(&footer, bytes) != LZMA_OK || footer.backward_size > kLargestIndex
        || static_cast<int64_t>(footer.backward_size) > end - 2 * LZMA_STREAM_HEADER_SIZE)
        return false;
    std::vector<uint8_t> index(static_cast<size_t>(footer.backward_size));
    if (!input.readFully(end - LZMA_STREAM_HEADER_SIZE - static_cast<int64_t>(index.size()), index.data(), index.size()))
        return false;
    lzma_index *decoded = nullptr;
    uint64_t memory = 4 * kLargestIndex;
    size_t at = 0;
    if (lzma_index_buffer_decode(&decoded, &memory, nullptr, index.data(), &at, index.size()) != LZMA_OK)
        return false;
    const bool several = lzma_index_block_count(decoded) > 1;
    lzma_index_end(decoded, nullptr);
    return several;
}

XzStream::XzStream(const VolumeInput &input, unsigned threads) : m_cursor(input)
{
    lzma_mt options{};
    options.flags = LZMA_CONCATENATED; // as libarchive reads .xz
    options.threads = threads;
    options.timeout = 0;
    options.memlimit_threading = kThreadingMemory;
    options.memlimit_stop = UINT64_MAX; // no limit, as libarchive's reader has none
    m_ready = lzma_stream_decoder_mt(&m_stream, &options) == LZMA_OK;
    m_in.reset(new uint8_t[kInput]);
    m_out.reset(new uint8_t[kPiece]);
}

XzStream::~XzStream()
{
    lzma_end(&m_stream); // joins the decoder's threads
}

ssize_t XzStream::next(const void **buffer)
{
    if (m_failed || !m_ready)
        return -1;
    m_stream.next_out = m_out.get();
    m_stream.avail_out = kPiece;
    while (m_stream.avail_out > 0 && !m_ended) {
        if (m_stream.avail_in == 0 && !m_inputEnd) {
            const ssize_t got = m_cursor.read(m_in.get(), kInput);
            if (got < 0) {
                m_failed = true;
                return -1;
            }
            m_inputEnd = got == 0;
            m_stream.next_in = m_in.get();
            m_stream.avail_in = static_cast<size_t>(got);
        }
        const lzma_ret r = lzma_code(&m_stream, m_stream.avail_in == 0 ? LZMA_FINISH : LZMA_RUN);
        if (r == LZMA_STREAM_END) {
            m_ended = true;
        } else if (r != LZMA_OK) {
            m_failed = true;
            return -1;
        }
    }
    const size_t made = kPiece - m_stream.avail_out;
    m_delivered += made;
    *buffer = m_out.get();
    return static_cast<ssize_t>(made);
}

} // namespace salvo::arc
