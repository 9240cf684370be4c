#include "Lh5Encoder.h"

#include <algorithm>
#include <cstring>
#include <queue>

namespace salvo::arc {
namespace {

constexpr int kWindow = 8192;            // the decoder's dictionary
constexpr int kWindowMask = kWindow - 1;
constexpr int kMaxDistance = kWindow - 1;
constexpr int kMinMatch = 3;
constexpr int kMaxMatch = 256;
constexpr int kLiterals = 256;
constexpr int kNC = kLiterals + kMaxMatch - kMinMatch + 1; // 510 literal and length codes
constexpr int kNT = 19;                   // codes of the code lengths
constexpr int kTBits = 5;
constexpr int kCBits = 9;
constexpr int kNP = 14;                   // distance classes of an 8 KiB window
constexpr int kPBits = 4;
constexpr int kMaxCodeBits = 16;
constexpr int kHashBits = 15;
constexpr int kHashSize = 1 << kHashBits;
constexpr size_t kChunk = 1 << 20;        // input taken between slides of the window
constexpr size_t kBufferSize = kChunk + 2 * kWindow;
constexpr size_t kBlockCodes = 32768;     // codes per Huffman block (at most 65535)

// Search effort, chosen so that the output is as small as the usual LZH tools'.
constexpr int kMaxChain = 96;
constexpr int kNiceLength = 128;
constexpr int kMaxLazy = 64;
constexpr int kGoodLength = 16;
constexpr int kTooFar = 4096; // a 3-byte match further back costs more than its literals

class BitWriter {
public:
    explicit BitWriter(const Lh5Encoder::Sink &sink) : m_sink(sink) { m_out.reserve(kOutChunk + 16); }
    void put(int bits, uint32_t value)
    {
        m_acc = (m_acc << bits) | (value & ((1u << bits) - 1));
        m_count += bits;
        while (m_count >= 8) {
            m_count -= 8;
            m_out.push_back(static_cast<unsigned char>(m_acc >> m_count));
        }
        if (m_out.size() >= kOutChunk)
            drain();
    }
    bool finish()
    {
        if (m_count > 0)
            put(8 - m_count, 0);
        drain();
        return m_ok;
    }
    bool ok() const { return m_ok; }
    uint64_t total() const { return m_total + m_out.size(); }

private:
    static constexpr size_t kOutChunk = 1 << 16;
    void drain()
    {
        if (m_ok && !m_out.empty())
            m_ok = m_sink(m_out.data(), m_out.size());
        m_total += m_out.size();
        m_out.clear();
    }
    const Lh5Encoder::Sink &m_sink;
    std::vector<unsigned char> m_out;
    uint64_t m_acc = 0;
    int m_count = 0;
    uint64_t m_total = 0;
    bool m_ok = true;
};

// Huffman code lengths of at most `maxBits` for the symbols that occur;
// returns how many occur. With fewer than two, no lengths are set.
int makeLengths(const uint32_t *freq, int n, uint8_t *len)
{
    std::fill(len, len + n, 0);
    std::vector<int> used;
    for (int i = 0; i < n; ++i) {
        if (freq[i])
            used.push_back(i);
    }
    if (used.size() < 2)
        return static_cast<int>(used.size());
    // Tree by the two least frequent nodes, then the depth of every leaf.
    struct Node {
        uint64_t weight;
        int left, right;
    };
    std::vector<Node> nodes;
    nodes.reserve(used.size() * 2);
    using Item = std::pair<uint64_t, int>;
    std::priority_queue<Item, std::vector<Item>, std::greater<Item>> heap;
    for (int s : used) {
        nodes.push_back({freq[s], -1, s});
        heap.push({freq[s], static_cast<int>(nodes.size()) - 1});
    }
    while (heap.size() > 1) {
        const Item a = heap.top();
        heap.pop();
        const Item b = heap.top();
        heap.pop();
        nodes.push_back({a.first + b.first, a.second, b.second});
        heap.push({a.first + b.first, static_cast<int>(nodes.size()) - 1});
    }
    std::vector<int> depth(nodes.size(), 0);
    int count[64] = {};
    for (int i = static_cast<int>(nodes.size()) - 1; i >= 0; --i) {
        if (nodes[i].left >= 0) {
            depth[nodes[i].left] = depth[i] + 1;
            depth[nodes[i].right] = depth[i] + 1;
        } else {
            ++count[std::min(depth[i], 63)];
        }
    }
    // Longer codes than the format allows are folded back (the tree stays complete).
    for (int i = 63; i > kMaxCodeBits; --i) {
        while (count[i] > 0) {
            int j = i - 2;
            while (j > 0 && count[j] == 0)
                --j;
            count[i] -= 2;
            count[i - 1] += 1;
            count[j + 1] += 2;
            count[j] -= 1;
        }
    }
    // The shortest codes go to the most frequent symbols.
    std::vector<int> order = used;
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return freq[a] > freq[b]; });
    size_t k = 0;
    for (int bits = 1; bits <= kMaxCodeBits; ++bits) {
        for (int c = 0; c < count[bits]; ++c)
            len[order[k++]] = static_cast<uint8_t>(bits);
    }
    return static_cast<int>(used.size());
}

// Canonical codes: shorter codes first, in symbol order within one length.
void makeCodes(const uint8_t *len, int n, uint16_t *code)
{
    int count[kMaxCodeBits + 2] = {};
    for (int i = 0; i < n; ++i)
        ++count[len[i]];
    count[0] = 0;
    uint32_t next[kMaxCodeBits + 2] = {};
    uint32_t c = 0;
    for (int bits = 1; bits <= kMaxCodeBits; ++bits) {
        c = (c + count[bits - 1]) << 1;
        next[bits] = c;
    }
    for (int i = 0; i < n; ++i)
        code[i] = len[i] ? static_cast<uint16_t>(next[len[i]]++) : 0;
}

int bitLength(uint32_t v)
{
    return v == 0 ? 0 : 32 - __builtin_clz(v);
}

} // namespace

struct Lh5Encoder::State {
    explicit State(Sink s) : sink(std::move(s)), bits(sink)
    {
        buffer.resize(kBufferSize + 16);
        head.assign(kHashSize, -1);
        prev.assign(kWindow, -1);
        codes.reserve(kBlockCodes);
        distances.reserve(kBlockCodes);
    }

    Sink sink;
    BitWriter bits;
    std::vector<unsigned char> buffer;
    int32_t end = 0; // bytes in the buffer
    int32_t pos = 0; // next byte to code
    std::vector<int32_t> head, prev;
    // Lazy matching: the match found at pos - 1, not yet sent.
    bool pendingLiteral = false;
    int matchLength = kMinMatch - 1;
    int matchDistance = 0;
    std::vector<uint16_t> codes;     // literal or 256 + length - 3
    std::vector<uint16_t> distances; // distance - 1, for lengths

    static uint32_t hashAt(const unsigned char *p)
    {
        return ((p[0] << 16 | p[1] << 8 | p[2]) * 2654435761u) >> (32 - kHashBits);
    }

    // Enters `at` into its hash chain and returns the previous head.
    int32_t insert(int32_t at)
    {
        if (at + kMinMatch > end)
            return -1;
        const uint32_t h = hashAt(&buffer[at]);
        const int32_t first = head[h];
        prev[at & kWindowMask] = first;
        head[h] = at;
        return first;
    }

    int longestMatch(int32_t candidate, int best, int *distance)
    {
        const int maxLength = std::min<int>(kMaxMatch, end - pos);
        if (maxLength < kMinMatch || best >= maxLength)
            return 0;
        int chain = best >= kGoodLength ? kMaxChain / 4 : kMaxChain;
        const unsigned char *here = &buffer[pos];
        int found = 0;
        while (candidate >= 0 && pos - candidate <= kMaxDistance && chain-- > 0) {
            const unsigned char *there = &buffer[candidate];
            if (there[best] == here[best] && there[0] == here[0] && there[1] == here[1]) {
                int n = 0;
                while (n + 8 <= maxLength) {
                    uint64_t a, b;
                    std::memcpy(&a, here + n, 8);
                    std::memcpy(&b, there + n, 8);
                    if (a != b) {
                        n += __builtin_ctzll(a ^ b) >> 3;
                        goto compared;
                    }
                    n += 8;
                }
                while (n < maxLength && here[n] == there[n])
                    ++n;
            compared:
                n = std::min(n, maxLength);
                if (n > best) {
                    best = n;
                    found = n;
                    *distance = pos - candidate;
                    if (n >= kNiceLength || n >= maxLength)
                        break;
                }
            }
            const int32_t next = prev[candidate & kWindowMask];
            if (next >= candidate)
                break;
            candidate = next;
        }
        return found;
    }

    bool emitLiteral(unsigned char c)
    {
        codes.push_back(c);
        distances.push_back(0);
        return codes.size() < kBlockCodes || sendBlock();
    }
    bool emitMatch(int length, int distance)
    {
        codes.push_back(static_cast<uint16_t>(kLiterals + length - kMinMatch));
        distances.push_back(static_cast<uint16_t>(distance - 1));
        return codes.size() < kBlockCodes || sendBlock();
    }

    // Codes positions up to `limit`, keeping kMaxMatch bytes of lookahead
    // unless the input is complete.
    bool code(int32_t limit)
    {
        while (pos < limit) {
            const int32_t candidate = insert(pos);
            const int prevLength = matchLength, prevDistance = matchDistance;
            matchLength = kMinMatch - 1;
            if (candidate >= 0 && prevLength < kMaxLazy) {
                int distance = 0;
                const int length = longestMatch(candidate, std::max(prevLength, kMinMatch - 1), &distance);
                if (length >= kMinMatch && !(length == kMinMatch && distance > kTooFar)) {
                    matchLength = length;
                    matchDistance = distance;
                }
            }
            if (prevLength >= kMinMatch && matchLength <= prevLength) {
                if (!emitMatch(prevLength, prevDistance))
                    return false;
                const int32_t stop = pos - 1 + prevLength;
                for (int32_t k = pos + 1; k < stop; ++k)
                    insert(k);
                pos = stop;
                pendingLiteral = false;
                matchLength = kMinMatch - 1;
            } else if (pendingLiteral) {
                if (!emitLiteral(buffer[pos - 1]))
                    return false;
                ++pos;
            } else {
                pendingLiteral = true;
                ++pos;
            }
        }
        return bits.ok();
    }

    // Moves the window to the front of the buffer, by whole windows so that
    // the chain slots keep their places.
    void slide()
    {
        const int32_t keepFrom = std::max(0, pos - kWindow - 1);
        const int32_t shift = keepFrom & ~kWindowMask;
        if (shift == 0)
            return;
        std::memmove(buffer.data(), buffer.data() + shift, static_cast<size_t>(end - shift));
        end -= shift;
        pos -= shift;
        for (int32_t &h : head)
            h = h >= shift ? h - shift : -1;
        for (int32_t &p : prev)
            p = p >= shift ? p - shift : -1;
    }

    void countLengthCodes(const uint8_t *cLen, int n, uint32_t *tFreq) const
    {
        int i = 0;
        while (i < n) {
            const int k = cLen[i++];
            if (k == 0) {
                int run = 1;
                while (i < n && cLen[i] == 0) {
                    ++i;
                    ++run;
                }
                if (run <= 2)
                    tFreq[0] += run;
                else if (run <= 18)
                    ++tFreq[1];
                else if (run == 19) {
                    ++tFreq[0];
                    ++tFreq[1];
                } else
                    ++tFreq[2];
            } else {
                ++tFreq[k + 2];
            }
        }
    }

    void writeLengths(const uint8_t *len, int n, int countBits, int special)
    {
        while (n > 0 && len[n - 1] == 0)
            --n;
        bits.put(countBits, n);
        int i = 0;
        while (i < n) {
            const int k = len[i++];
            if (k <= 6)
                bits.put(3, k);
            else
                bits.put(k - 3, (1u << (k - 3)) - 2);
            if (i == special) {
                int zeros = 0;
                while (zeros < 3 && i + zeros < n && len[i + zeros] == 0)
                    ++zeros;
                bits.put(2, zeros);
                i += zeros;
            }
        }
    }

    void writeCodeLengths(const uint8_t *cLen, int n, const uint8_t *tLen, const uint16_t *tCode)
    {
        auto putT = [&](int s) { bits.put(tLen[s], tCode[s]); };
        bits.put(kCBits, n);
        int i = 0;
        while (i < n) {
            const int k = cLen[i++];
            if (k == 0) {
                int run = 1;
                while (i < n && cLen[i] == 0) {
                    ++i;
                    ++run;
                }
                if (run <= 2) {
                    for (int r = 0; r < run; ++r)
                        putT(0);
                } else if (run <= 18) {
                    putT(1);
                    bits.put(4, run - 3);
                } else if (run == 19) {
                    putT(0);
                    putT(1);
                    bits.put(4, 15);
                } else {
                    putT(2);
                    bits.put(kCBits, run - 20);
                }
            } else {
                putT(k + 2);
            }
        }
    }

    bool sendBlock()
    {
        if (codes.empty())
            return bits.ok();
        uint32_t cFreq[kNC] = {}, pFreq[kNP] = {}, tFreq[kNT] = {};
        for (size_t i = 0; i < codes.size(); ++i) {
            ++cFreq[codes[i]];
            if (codes[i] >= kLiterals)
                ++pFreq[bitLength(distances[i])];
        }
        // A block of one code only would need the format's table of a single
        // symbol, which some readers (libarchive) mishandle: a second code,
        // never sent, keeps the table an ordinary one. Far from the first, so
        // that the lengths' own table has two codes as well.
        if (std::count_if(cFreq, cFreq + kNC, [](uint32_t f) { return f != 0; }) == 1)
            cFreq[codes[0] >= 255 ? 0 : kNC - 1] = 1;
        uint8_t cLen[kNC], pLen[kNP], tLen[kNT];
        uint16_t cCode[kNC], pCode[kNP], tCode[kNT];
        makeLengths(cFreq, kNC, cLen);
        makeCodes(cLen, kNC, cCode);
        bits.put(16, static_cast<uint32_t>(codes.size()));
        int n = kNC;
        while (n > 0 && cLen[n - 1] == 0)
            --n;
        countLengthCodes(cLen, n, tFreq);
        const int tUsed = makeLengths(tFreq, kNT, tLen);
        makeCodes(tLen, kNT, tCode);
        if (tUsed >= 2) {
            writeLengths(tLen, kNT, kTBits, 3);
        } else {
            const int only = static_cast<int>(std::find_if(tFreq, tFreq + kNT, [](uint32_t f) { return f; }) - tFreq);
            bits.put(kTBits, 0);
            bits.put(kTBits, only);
        }
        writeCodeLengths(cLen, n, tLen, tCode);
        const int pUsed = makeLengths(pFreq, kNP, pLen);
        makeCodes(pLen, kNP, pCode);
        if (pUsed >= 2) {
            writeLengths(pLen, kNP, kPBits, -1);
        } else {
            const int only = pUsed ? static_cast<int>(std::find_if(pFreq, pFreq + kNP, [](uint32_t f) { return f; }) - pFreq) : 0;
            bits.put(kPBits, 0);
            bits.put(kPBits, only);
        }
        for (size_t i = 0; i < codes.size(); ++i) {
            const uint16_t c = codes[i];
            bits.put(cLen[c], cCode[c]);
            if (c >= kLiterals) {
                const uint32_t d = distances[i];
                const int p = bitLength(d);
                if (pUsed >= 2)
                    bits.put(pLen[p], pCode[p]);
                if (p > 1)
                    bits.put(p - 1, d - (1u << (p - 1)));
            }
        }
        codes.clear();
        distances.clear();
        return bits.ok();
    }
};

Lh5Encoder::Lh5Encoder(Sink sink) : d(std::make_unique<State>(std::move(sink))) {}

Lh5Encoder::~Lh5Encoder() = default;

bool Lh5Encoder::write(const void *data, size_t length)
{
    const auto *p = static_cast<const unsigned char *>(data);
    while (length > 0) {
        if (static_cast<size_t>(d->end) == kBufferSize) {
            d->slide();
            if (static_cast<size_t>(d->end) == kBufferSize)
                return false; // cannot happen: a slide always frees a chunk
        }
        const size_t n = std::min(length, kBufferSize - static_cast<size_t>(d->end));
        std::memcpy(d->buffer.data() + d->end, p, n);
        d->end += static_cast<int32_t>(n);
        p += n;
        length -= n;
        if (!d->code(d->end - kMaxMatch))
            return false;
    }
    return true;
}

bool Lh5Encoder::finish()
{
    if (!d->code(d->end))
        return false;
    if (d->pendingLiteral) {
        d->pendingLiteral = false;
        if (!d->emitLiteral(d->buffer[d->pos - 1]))
            return false;
    }
    return d->sendBlock() && d->bits.finish();
}

uint64_t Lh5Encoder::compressedSize() const
{
    return d->bits.total();
}

std::vector<unsigned char> lh5Compress(const unsigned char *data, size_t length)
{
    std::vector<unsigned char> out;
    Lh5Encoder encoder([&](const unsigned char *p, size_t n) {
        out.insert(out.end(), p, p + n);
        return true;
    });
    encoder.write(data, length);
    encoder.finish();
    return out;
}

} // namespace salvo::arc
