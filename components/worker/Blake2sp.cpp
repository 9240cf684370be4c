#include "Blake2sp.h"

#include <algorithm>
#include <cstring>

namespace salvo::arc {
namespace {

constexpr uint32_t kIv[8] = {0x6A09E667, 0xBB67AE85, 0x3C6EF372, 0xA54FF53A,
                             0x510E527F, 0x9B05688C, 0x1F83D9AB, 0x5BE0CD19};

constexpr uint8_t kSigma[10][16] = {
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, {14, 10, 4, 8, 9, 15, 13, 6, 1, 12, 0, 2, 11, 7, 5, 3},
    {11, 8, 12, 0, 5, 2, 15, 13, 10, 14, 3, 6, 7, 1, 9, 4}, {7, 9, 3, 1, 13, 12, 11, 14, 2, 6, 5, 10, 4, 0, 15, 8},
    {9, 0, 5, 7, 2, 4, 10, 15, 14, 1, 11, 12, 6, 8, 3, 13}, {2, 12, 6, 10, 0, 11, 8, 3, 4, 13, 7, 5, 15, 14, 1, 9},
    {12, 5, 1, 15, 14, 13, 4, 10, 0, 7, 6, 3, 9, 2, 8, 11}, {13, 11, 7, 14, 12, 1, 3, 9, 5, 0, 15, 4, 8, 6, 2, 10},
    {6, 15, 14, 9, 11, 3, 0, 8, 12, 2, 13, 7, 1, 4, 10, 5}, {10, 2, 8, 4, 7, 6, 1, 5, 15, 11, 9, 14, 3, 12, 13, 0},
};

constexpr uint32_t rotr(uint32_t x, int n)
{
    return (x >> n) | (x << (32 - n));
}

uint32_t load32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

constexpr size_t kBlock = 64;
constexpr size_t kLeaves = 8;

} // namespace

Blake2s::Blake2s(uint8_t fanout, uint8_t depth, uint32_t nodeOffset, uint8_t nodeDepth, uint8_t innerLength,
                 bool lastNode)
    : m_lastNode(lastNode)
{
    // The parameter block: digest length 32, no key, the tree shape; no salt
    // and no personalisation.
    uint8_t p[32] = {};
    p[0] = 32;
    p[2] = fanout;
    p[3] = depth;
    p[8] = uint8_t(nodeOffset);
    p[9] = uint8_t(nodeOffset >> 8);
    p[10] = uint8_t(nodeOffset >> 16);
    p[11] = uint8_t(nodeOffset >> 24);
    p[14] = nodeDepth;
    p[15] = innerLength;
    for (int i = 0; i < 8; ++i)
        m_h[i] = kIv[i] ^ load32(p + 4 * i);
}

void Blake2s::compress(const uint8_t *block, bool last)
{
    uint32_t m[16], v[16];
    for (int i = 0; i < 16; ++i)
        m[i] = load32(block + 4 * i);
    for (int i = 0; i < 8; ++i) {
        v[i] = m_h[i];
        v[i + 8] = kIv[i];
    }
    v[12] ^= uint32_t(m_counter);
    v[13] ^= uint32_t(m_counter >> 32);
    if (last) {
        v[14] = ~v[14];
        if (m_lastNode)
            v[15] = ~v[15];
    }
    auto g = [&](int a, int b, int c, int d, uint32_t x, uint32_t y) {
        v[a] += v[b] + x;
        v[d] = rotr(v[d] ^ v[a], 16);
        v[c] += v[d];
        v[b] = rotr(v[b] ^ v[c], 12);
        v[a] += v[b] + y;
        v[d] = rotr(v[d] ^ v[a], 8);
        v[c] += v[d];
        v[b] = rotr(v[b] ^ v[c], 7);
    };
    for (const auto &s : kSigma) {
        g(0, 4, 8, 12, m[s[0]], m[s[1]]);
        g(1, 5, 9, 13, m[s[2]], m[s[3]]);
        g(2, 6, 10, 14, m[s[4]], m[s[5]]);
        g(3, 7, 11, 15, m[s[6]], m[s[7]]);
        g(0, 5, 10, 15, m[s[8]], m[s[9]]);
        g(1, 6, 11, 12, m[s[10]], m[s[11]]);
        g(2, 7, 8, 13, m[s[12]], m[s[13]]);
        g(3, 4, 9, 14, m[s[14]], m[s[15]]);
    }
    for (int i = 0; i < 8; ++i)
        m_h[i] ^= v[i] ^ v[i + 8];
}

void Blake2s::update(const uint8_t *data, size_t length)
{
    // The last block is kept back until finish(), which marks it as the last.
    while (length > 0) {
        if (m_buffered == kBlock) {
            m_counter += kBlock;
            compress(m_buffer, false);
            m_buffered = 0;
        }
        const size_t n = std::min(length, kBlock - m_buffered);
        std::memcpy(m_buffer + m_buffered, data, n);
        m_buffered += n;
        data += n;
        length -= n;
    }
}

std::array<uint8_t, 32> Blake2s::finish()
{
    m_counter += m_buffered;
    std::memset(m_buffer + m_buffered, 0, kBlock - m_buffered);
    compress(m_buffer, true);
    std::array<uint8_t, 32> out;
    for (int i = 0; i < 8; ++i) {
        for (int k = 0; k < 4; ++k)
            out[4 * i + k] = uint8_t(m_h[i] >> (8 * k));
    }
    return out;
}

Blake2sp::Blake2sp()
    : m_leaves{{8, 2, 0, 0, 32, false}, {8, 2, 1, 0, 32, false}, {8, 2, 2, 0, 32, false}, {8, 2, 3, 0, 32, false},
               {8, 2, 4, 0, 32, false}, {8, 2, 5, 0, 32, false}, {8, 2, 6, 0, 32, false}, {8, 2, 7, 0, 32, true}}
{
}

void Blake2sp::update(const void *data, size_t length)
{
    const auto *p = static_cast<const uint8_t *>(data);
    while (length > 0) {
        const size_t inBlock = m_position % kBlock;
        const size_t n = std::min(length, kBlock - inBlock);
        m_leaves[(m_position / kBlock) % kLeaves].update(p, n);
        m_position += n;
        p += n;
        length -= n;
    }
}

std::array<uint8_t, 32> Blake2sp::finish()
{
    Blake2s root(8, 2, 0, 1, 32, true);
    for (Blake2s &leaf : m_leaves) {
        const std::array<uint8_t, 32> digest = leaf.finish();
        root.update(digest.data(), digest.size());
    }
    return root.finish();
}

} // namespace salvo::arc
