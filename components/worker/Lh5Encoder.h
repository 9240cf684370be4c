#pragma once
// The -lh5- method of LZH archives: LZSS over an 8 KiB window, its literals,
// lengths and distances coded with static Huffman tables sent block by block.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace salvo::arc {

class Lh5Encoder {
public:
    // `sink` takes the compressed bytes; returning false stops the encoder.
    using Sink = std::function<bool(const unsigned char *data, size_t length)>;
    explicit Lh5Encoder(Sink sink);
    ~Lh5Encoder();
    Lh5Encoder(const Lh5Encoder &) = delete;
    Lh5Encoder &operator=(const Lh5Encoder &) = delete;

    bool write(const void *data, size_t length);
    // Codes what is left and flushes the last byte.
    bool finish();
    uint64_t compressedSize() const;

private:
    struct State;
    std::unique_ptr<State> d;
};

// Compresses a whole buffer at once (tests and small members).
std::vector<unsigned char> lh5Compress(const unsigned char *data, size_t length);

} // namespace salvo::arc
