#include "DecoderChoice.h"

#include "SevenZipHeaderReader.h"
#include "ZipCentralDirectory.h"
#include "core/Wire.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <set>

namespace salvo::arc {
namespace {

// The 7z coders libarchive decodes (as stored, big-endian ids).
const std::set<std::string> &libarchiveCoders()
{
    static const std::set<std::string> ids{
        std::string(1, '\0'),          // copy
        "\x03\x01\x01",                // LZMA
        "\x21",                        // LZMA2
        "\x04\x01\x08",                // Deflate
        "\x04\x02\x02",                // BZip2
        "\x03\x04\x01",                // PPMd
        "\x03",                        // Delta
        "\x03\x03\x01\x03",            // x86 (BCJ)
        "\x03\x03\x01\x1b",            // BCJ2
        "\x03\x03\x02\x05",            // PowerPC
        "\x03\x03\x04\x01",            // IA-64
        "\x03\x03\x05\x01",            // ARM
        "\x03\x03\x07\x01",            // ARM Thumb
        "\x03\x03\x08\x05",            // SPARC
    };
    return ids;
}

std::string coderName(const std::string &id)
{
    if (id == "\x06\xf1\x07\x01")
        return "AES";
    if (id == "\x04\x01\x09")
        return "Deflate64";
    if (id == "\x0a")
        return "ARM64";
    if (id == "\x0b")
        return "RISC-V";
    std::string hex;
    for (unsigned char c : id) {
        static const char digits[] = "0123456789ABCDEF";
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return "7z coder " + hex;
}

std::string zipMethodName(uint16_t method)
{
    switch (method) {
    case 1: return "Shrink";
    case 2: case 3: case 4: case 5: return "Reduce";
    case 6: return "Implode";
    case 9: return "Deflate64";
    case 10: return "PKWARE DCL Implode";
    case 93: return "Zstandard";
    case 97: return "WavPack";
    case 96: return "JPEG";
    default: return "ZIP method " + std::to_string(method);
    }
}

bool zipMethodLibarchiveReads(uint16_t method)
{
    return method == 0 || method == 8 || method == 12 || method == 14 || method == 95 || method == 98;
}

constexpr unsigned char kSevenZipSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
// libarchive looks for a 7z behind a self-extractor's program only here.
constexpr int64_t kLibarchiveSfxFrom = 0x27000, kLibarchiveSfxTo = 0x60000;
// How far into a program a 7z archive is looked for.
constexpr int64_t kProgramWindow = 16 << 20;

bool sevenZipStartsAt(const VolumeInput &in, int64_t at)
{
    unsigned char h[32];
    if (!in.readFully(at, h, sizeof h) || std::memcmp(h, kSevenZipSignature, 6) != 0)
        return false;
    const uLong crc = h[8] | h[9] << 8 | h[10] << 16 | uLong(h[11]) << 24;
    return crc32(0, h + 12, 20) == crc;
}

bool isProgram(const unsigned char *head, size_t n)
{
    return n >= 4 && (std::memcmp(head, "MZ", 2) == 0 || std::memcmp(head, "\x7f" "ELF", 4) == 0);
}

// Where the 7z archive of a self-extracting program begins, -1 when none does.
int64_t findSevenZipInProgram(const VolumeInput &in)
{
    const int64_t window = std::min(in.size(), kProgramWindow);
    std::vector<unsigned char> chunk(1 << 20);
    for (int64_t base = 0; base < window; base += static_cast<int64_t>(chunk.size()) - 32) {
        const size_t n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(chunk.size()), in.size() - base));
        if (n < 32 || !in.readFully(base, chunk.data(), n))
            return -1;
        for (size_t i = 0; i + 32 <= n; ++i) {
            const void *hit = std::memchr(chunk.data() + i, '7', n - 32 - i + 1);
            if (!hit)
                break;
            i = static_cast<size_t>(static_cast<const unsigned char *>(hit) - chunk.data());
            if (chunk[i + 1] == 'z' && sevenZipStartsAt(in, base + static_cast<int64_t>(i)))
                return base + static_cast<int64_t>(i);
        }
        if (static_cast<int64_t>(n) < static_cast<int64_t>(chunk.size()))
            break;
    }
    return -1;
}

bool chooseForSevenZip(const VolumeInput &in, const unsigned char *head, size_t n, DecoderChoice *choice)
{
    int64_t base = -1;
    if (sevenZipStartsAt(in, 0))
        base = 0;
    else if (isProgram(head, n))
        base = findSevenZipInProgram(in);
    if (base < 0)
        return false;
    choice->family = kSevenZip;
    if (base > 0 && (base < kLibarchiveSfxFrom || base >= kLibarchiveSfxTo)) {
        choice->kind = DecoderKind::SevenZipTool;
        choice->lacking = "7z self-extractor";
    }
    sevenzip::ArchiveHeaders headers;
    try {
        headers = sevenzip::readHeaders(
            [&in, base](uint64_t pos, void *buffer, size_t size) {
                return in.readFully(base + static_cast<int64_t>(pos), buffer, size);
            },
            in.size() - base);
    } catch (const sevenzip::UnsupportedHeader &u) {
        choice->kind = DecoderKind::SevenZipTool;
        choice->lacking = u.why == sevenzip::UnsupportedHeader::Encrypted ? "AES" : "7z header";
        choice->encrypted = choice->headersEncrypted = u.why == sevenzip::UnsupportedHeader::Encrypted;
        return true;
    } catch (...) {
        return true; // damaged: the reader that goes on says how
    }
    for (const sevenzip::Folder &folder : headers.streams.folders) {
        for (const auto &coder : folder.coders) {
            if (coder.first == "\x06\xf1\x07\x01")
                choice->encrypted = true;
            if (!libarchiveCoders().count(coder.first)) {
                choice->kind = DecoderKind::SevenZipTool;
                if (choice->lacking.empty() || choice->lacking == "7z self-extractor")
                    choice->lacking = coderName(coder.first);
            }
        }
    }
    return true;
}

bool chooseForZip(const VolumeInput &in, const unsigned char *head, size_t n, DecoderChoice *choice)
{
    if (n < 4 || (std::memcmp(head, "PK", 2) != 0 && !isProgram(head, n)))
        return false;
    std::vector<int64_t> starts;
    for (const VolumeInput::Volume &v : in.volumes())
        starts.push_back(v.offset);
    ZipCentralDirectory directory;
    std::string error;
    const auto read = [&in](int64_t pos, void *buffer, size_t size) { return in.readFully(pos, buffer, size); };
    if (!directory.open(read, in.size(), starts, &error))
        return false;
    choice->family = kZip;
    directory.forEach(
        [choice](const ZipCentralEntry &e, const std::string &) {
            if (e.encrypted())
                choice->encrypted = true;
            if (!zipMethodLibarchiveReads(e.realMethod) && !(e.size == 0 && e.method == 0)) {
                if (choice->kind != DecoderKind::SevenZipTool)
                    choice->lacking = zipMethodName(e.realMethod);
                choice->kind = DecoderKind::SevenZipTool;
            }
            return true;
        },
        &error);
    return true;
}

bool arjStartsAt(const VolumeInput &in, int64_t at)
{
    // Header id 0x60 0xEA, a basic header of at most 2600 bytes and its CRC32.
    unsigned char h[4];
    if (!in.readFully(at, h, 4) || h[0] != 0x60 || h[1] != 0xEA)
        return false;
    const size_t size = h[2] | h[3] << 8;
    if (size < 30 || size > 2600)
        return false;
    std::vector<unsigned char> header(size + 4);
    if (!in.readFully(at + 4, header.data(), header.size()))
        return false;
    const uLong crc = header[size] | header[size + 1] << 8 | header[size + 2] << 16 | uLong(header[size + 3]) << 24;
    return crc32(0, header.data(), static_cast<uInt>(size)) == crc;
}

} // namespace

DecoderChoice chooseDecoder(const VolumeInput &input, uint32_t formats)
{
    DecoderChoice choice;
    unsigned char head[64] = {};
    const size_t n = static_cast<size_t>(std::min<int64_t>(input.size(), sizeof head));
    if (!input.readFully(0, head, n))
        return choice;
    if ((formats & kArj) && arjStartsAt(input, 0)) {
        choice.kind = DecoderKind::SevenZipTool;
        choice.family = kArj;
        choice.lacking = "ARJ";
        return choice;
    }
    if ((formats & kSevenZip) && chooseForSevenZip(input, head, n, &choice))
        return choice;
    if ((formats & kZip) && chooseForZip(input, head, n, &choice))
        return choice;
    return choice;
}

} // namespace salvo::arc
