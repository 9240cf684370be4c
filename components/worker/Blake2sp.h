#pragma once
// BLAKE2sp, the 32-byte hash RAR 5 stores for an entry's data instead of (or
// beside) its CRC32: eight BLAKE2s leaves fed 64-byte blocks in turn, and a
// root over their digests.
#include <array>
#include <cstddef>
#include <cstdint>

namespace salvo::arc {

class Blake2s {
public:
    // A tree node of BLAKE2sp: leaf `offset` at depth 0, the root at depth 1.
    Blake2s(uint8_t fanout, uint8_t depth, uint32_t nodeOffset, uint8_t nodeDepth, uint8_t innerLength,
            bool lastNode);
    void update(const uint8_t *data, size_t length);
    std::array<uint8_t, 32> finish();

private:
    void compress(const uint8_t *block, bool last);
    uint32_t m_h[8];
    uint64_t m_counter = 0;
    uint8_t m_buffer[64];
    size_t m_buffered = 0;
    bool m_lastNode;
};

class Blake2sp {
public:
    Blake2sp();
    void update(const void *data, size_t length);
    std::array<uint8_t, 32> finish();

private:
    Blake2s m_leaves[8];
    size_t m_position = 0; // bytes taken so far, to find the leaf of the next block
};

} // namespace salvo::arc
