// The 7z headers as the format describes them (property ids, numbers of one
// to nine bytes, bit vectors, "all defined" bytes), read into the records a
// rewrite works with. Everything is checked against the sizes it must fit in:
// the archive is outside input.
#include "SevenZipHeaderReader.h"

#include "FolderLayout.h"

#include <lzma.h>
#include <zlib.h>

#include <unistd.h>

namespace salvo::arc::sevenzip {
namespace {

Folder readFolder(ByteReader &r)
{
    Folder f;
    const size_t start = r.pos();
    const size_t coders = r.count(64);
    size_t totalIn = 0, totalOut = 0;
    for (size_t i = 0; i < coders; ++i) {
        const uint8_t flags = r.byte();
        if (flags & 0x80)
            throw BrokenHeader("alternative coders");
        std::string id(reinterpret_cast<const char *>(r.at(r.pos())), flags & 0x0F);
        r.skip(flags & 0x0F);
        size_t in = 1, out = 1;
        if (flags & 0x10) {
            in = r.count(64);
            out = r.count(64);
        }
        std::string props;
        if (flags & 0x20) {
            const size_t n = r.count(1 << 16);
            props.assign(reinterpret_cast<const char *>(r.at(r.pos())), n);
            r.skip(n);
        }
        f.coders.push_back({id, props});
        totalIn += in;
        totalOut += out;
    }
    if (totalOut == 0)
        throw BrokenHeader("coders");
    const size_t pairs = totalOut - 1;
    std::vector<bool> bound(totalOut, false);
    for (size_t i = 0; i < pairs; ++i) {
        r.number();
        const uint64_t out = r.number();
        if (out >= totalOut)
            throw BrokenHeader("bind pair");
        bound[out] = true;
    }
    if (totalIn < pairs)
        throw BrokenHeader("streams");
    f.packStreams = totalIn - pairs;
    if (f.packStreams > 1) {
        for (size_t i = 0; i < f.packStreams; ++i)
            r.number();
    }
    f.outStreams = totalOut;
    for (size_t i = 0; i < totalOut; ++i) {
        if (!bound[i])
            f.mainOut = i;
    }
    f.record.assign(reinterpret_cast<const char *>(r.at(start)), r.pos() - start);
    return f;
}

void readDigests(ByteReader &r, size_t n, std::vector<bool> *defined, std::vector<uint32_t> *crcs)
{
    *defined = r.defined(n);
    crcs->assign(n, 0);
    for (size_t i = 0; i < n; ++i) {
        if ((*defined)[i])
            (*crcs)[i] = r.u32();
    }
}

StreamsInfo readStreamsInfo(ByteReader &r)
{
    StreamsInfo s;
    uint8_t id = r.byte();
    if (id == kPackInfo) {
        s.packPos = r.number();
        const size_t n = r.count();
        s.packSizes.assign(n, 0);
        while ((id = r.byte()) != kEnd) {
            if (id == kSize) {
                for (auto &size : s.packSizes)
                    size = r.number();
            } else if (id == kCrc) {
                std::vector<bool> d;
                std::vector<uint32_t> c;
                readDigests(r, n, &d, &c);
            } else {
                throw BrokenHeader("pack info");
            }
        }
        id = r.byte();
    }
    if (id == kUnpackInfo) {
        if (r.byte() != kFolder)
            throw BrokenHeader("folders");
        const size_t n = r.count();
        if (r.byte() != 0)
            throw BrokenHeader("external folders");
        size_t pack = 0;
        for (size_t i = 0; i < n; ++i) {
            s.folders.push_back(readFolder(r));
            s.folders.back().firstPack = pack;
            pack += s.folders.back().packStreams;
        }
        if (pack > s.packSizes.size())
            throw BrokenHeader("pack streams");
        if (r.byte() != kCodersUnpackSize)
            throw BrokenHeader("unpack sizes");
        for (Folder &f : s.folders) {
            for (size_t i = 0; i < f.outStreams; ++i)
                f.unpackSizes.push_back(r.number());
        }
        while ((id = r.byte()) != kEnd) {
            if (id != kCrc)
                throw BrokenHeader("unpack info");
            std::vector<bool> d;
            std::vector<uint32_t> c;
            readDigests(r, n, &d, &c);
            for (size_t i = 0; i < n; ++i) {
                s.folders[i].crcDefined = d[i];
                s.folders[i].crc = c[i];
            }
        }
        id = r.byte();
    }
    // Each folder holds one file's stream unless the sub-stream list says otherwise.
    std::vector<size_t> counts(s.folders.size(), 1);
    if (id == kSubStreamsInfo) {
        id = r.byte();
        if (id == kNumUnpackStream) {
            for (size_t &c : counts)
                c = r.count();
            id = r.byte();
        }
        for (size_t i = 0; i < s.folders.size(); ++i) {
            Folder &f = s.folders[i];
            f.subSizes.clear();
            if (counts[i] == 0)
                continue;
            uint64_t sum = 0;
            if (id == kSize) {
                for (size_t k = 1; k < counts[i]; ++k) {
                    f.subSizes.push_back(r.number());
                    sum += f.subSizes.back();
                }
            } else if (counts[i] > 1) {
                throw BrokenHeader("sub-stream sizes");
            }
            if (sum > f.unpackSize())
                throw BrokenHeader("sub-stream sizes");
            f.subSizes.push_back(f.unpackSize() - sum);
        }
        if (id == kSize)
            id = r.byte();
        size_t unknown = 0;
        for (size_t i = 0; i < s.folders.size(); ++i) {
            Folder &f = s.folders[i];
            f.subCrcDefined.assign(counts[i], false);
            f.subCrcs.assign(counts[i], 0);
            if (counts[i] == 1 && f.crcDefined) {
                f.subCrcDefined[0] = true;
                f.subCrcs[0] = f.crc;
            } else {
                unknown += counts[i];
            }
        }
        while (id != kEnd) {
            if (id != kCrc)
                throw BrokenHeader("sub-streams");
            std::vector<bool> d;
            std::vector<uint32_t> c;
            readDigests(r, unknown, &d, &c);
            size_t k = 0;
            for (size_t i = 0; i < s.folders.size(); ++i) {
                Folder &f = s.folders[i];
                if (counts[i] == 1 && f.crcDefined)
                    continue;
                for (size_t j = 0; j < counts[i]; ++j, ++k) {
                    f.subCrcDefined[j] = d[k];
                    f.subCrcs[j] = c[k];
                }
            }
            id = r.byte();
        }
        id = r.byte();
    } else {
        for (Folder &f : s.folders) {
            f.subSizes = {f.unpackSize()};
            f.subCrcDefined = {f.crcDefined};
            f.subCrcs = {f.crc};
        }
    }
    if (id != kEnd)
        throw BrokenHeader("streams info");
    return s;
}

// Decodes one folder that is compressed with LZMA, LZMA2 or nothing (what
// archives use for their packed header).
std::string decodeSimpleFolder(const ReadAt &read, uint64_t offset, uint64_t packSize, const Folder &f)
{
    // An encrypted header has AES before its compression: say so, whatever
    // else the chain holds.
    for (const auto &coder : f.coders) {
        if (coder.first == "\x06\xF1\x07\x01")
            throw UnsupportedHeader{UnsupportedHeader::Encrypted};
    }
    if (f.coders.size() != 1 || f.packStreams != 1)
        throw BrokenHeader("header coders");
    const uint64_t size = f.unpackSize();
    if (size > kMaxHeader || packSize > kMaxHeader)
        throw BrokenHeader("header size");
    std::string packed(static_cast<size_t>(packSize), '\0');
    if (!read(offset, packed.data(), packed.size()))
        throw BrokenHeader("header read");
    const std::string &id = f.coders[0].first;
    const std::string &props = f.coders[0].second;
    std::string out;
    if (id == std::string(1, '\0')) {
        out = packed.substr(0, static_cast<size_t>(size));
    } else {
        lzma_filter filters[2] = {{LZMA_VLI_UNKNOWN, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
        if (id == "\x03\x01\x01")
            filters[0].id = LZMA_FILTER_LZMA1;
        else if (id == "\x21")
            filters[0].id = LZMA_FILTER_LZMA2;
        else
            throw UnsupportedHeader{UnsupportedHeader::Method};
        if (lzma_properties_decode(&filters[0], nullptr, reinterpret_cast<const uint8_t *>(props.data()), props.size())
            != LZMA_OK)
            throw BrokenHeader("header properties");
        lzma_stream strm = LZMA_STREAM_INIT;
        const lzma_ret init = lzma_raw_decoder(&strm, filters);
        free(filters[0].options);
        if (init != LZMA_OK)
            throw BrokenHeader("header decoder");
        out.resize(static_cast<size_t>(size));
        strm.next_in = reinterpret_cast<const uint8_t *>(packed.data());
        strm.avail_in = packed.size();
        strm.next_out = reinterpret_cast<uint8_t *>(out.data());
        strm.avail_out = out.size();
        lzma_ret r = LZMA_OK;
        while (strm.avail_out > 0 && r == LZMA_OK)
            r = lzma_code(&strm, LZMA_FINISH);
        lzma_end(&strm);
        if (strm.avail_out != 0)
            throw BrokenHeader("header data");
    }
    if (out.size() != size)
        throw BrokenHeader("header data");
    if (f.crcDefined && crc32(0, reinterpret_cast<const Bytef *>(out.data()), static_cast<uInt>(out.size())) != f.crc)
        throw BrokenHeader("header checksum");
    return out;
}

void readFiles(ByteReader &r, std::vector<FileRecord> &files)
{
    const size_t n = r.count();
    files.assign(n, FileRecord());
    std::vector<bool> emptyFile, anti;
    size_t empties = 0;
    for (;;) {
        const uint64_t type = r.number();
        if (type == kEnd)
            break;
        const uint64_t size = r.number();
        const size_t end = r.pos() + static_cast<size_t>(size);
        switch (type) {
        case kEmptyStream: {
            const std::vector<bool> v = r.bits(n);
            empties = 0;
            for (size_t i = 0; i < n; ++i) {
                files[i].hasStream = !v[i];
                empties += v[i] ? 1 : 0;
            }
            break;
        }
        case kEmptyFile:
            emptyFile = r.bits(empties);
            break;
        case kAnti:
            anti = r.bits(empties);
            break;
        case kName: {
            if (r.byte() != 0)
                throw BrokenHeader("external names");
            for (FileRecord &f : files) {
                std::string u;
                for (;;) {
                    const uint8_t lo = r.byte(), hi = r.byte();
                    if (lo == 0 && hi == 0)
                        break;
                    u.push_back(static_cast<char>(lo));
                    u.push_back(static_cast<char>(hi));
                }
                f.utf16 = u;
                f.name = utf16ToUtf8(u);
            }
            break;
        }
        case kCTime:
        case kATime:
        case kMTime:
        case kStartPos: {
            const std::vector<bool> d = r.defined(n);
            if (r.byte() != 0)
                throw BrokenHeader("external times");
            for (size_t i = 0; i < n; ++i) {
                if (!d[i])
                    continue;
                const uint64_t v = r.u64();
                if (type == kStartPos) {
                    files[i].startDefined = true;
                    files[i].startPos = v;
                } else {
                    const int t = type == kCTime ? 0 : type == kATime ? 1 : 2;
                    files[i].timeDefined[t] = true;
                    files[i].times[t] = v;
                }
            }
            break;
        }
        case kAttributes: {
            const std::vector<bool> d = r.defined(n);
            if (r.byte() != 0)
                throw BrokenHeader("external attributes");
            for (size_t i = 0; i < n; ++i) {
                if (d[i]) {
                    files[i].attrDefined = true;
                    files[i].attributes = r.u32();
                }
            }
            break;
        }
        default:
            break; // padding and properties that carry nothing to keep
        }
        if (r.pos() > end)
            throw BrokenHeader("file property");
        r.skip(end - r.pos());
    }
    size_t k = 0;
    for (FileRecord &f : files) {
        if (f.hasStream)
            continue;
        f.emptyFile = k < emptyFile.size() && emptyFile[k];
        f.anti = k < anti.size() && anti[k];
        ++k;
    }
}

} // namespace

std::string utf16ToUtf8(const std::string &u)
{
    std::string out;
    for (size_t i = 0; i + 1 < u.size(); i += 2) {
        uint32_t c = static_cast<unsigned char>(u[i]) | static_cast<unsigned char>(u[i + 1]) << 8;
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < u.size()) {
            const uint32_t low = static_cast<unsigned char>(u[i + 2]) | static_cast<unsigned char>(u[i + 3]) << 8;
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | c >> 6));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | c >> 12));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | c >> 18));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

uint64_t packedOffset(const StreamsInfo &streams, const Folder &folder)
{
    uint64_t offset = 32 + streams.packPos;
    for (size_t p = 0; p < folder.firstPack && p < streams.packSizes.size(); ++p)
        offset += streams.packSizes[p];
    return offset;
}

ArchiveHeaders readHeaders(int fd, int64_t fileSize)
{
    return readHeaders(
        [fd](uint64_t pos, void *buffer, size_t n) {
            return ::pread(fd, buffer, n, static_cast<off_t>(pos)) == static_cast<ssize_t>(n);
        },
        fileSize);
}

ArchiveHeaders readHeaders(const ReadAt &read, int64_t fileSize)
{
    ArchiveHeaders out;
    unsigned char start[32];
    if (!read(0, start, 32) || std::memcmp(start, kSignature, 6) != 0)
        throw BrokenHeader("signature");
    uint64_t nextOffset, nextSize;
    uint32_t nextCrc, startCrc;
    std::memcpy(&startCrc, start + 8, 4);
    std::memcpy(&nextOffset, start + 12, 8);
    std::memcpy(&nextSize, start + 20, 8);
    std::memcpy(&nextCrc, start + 28, 4);
    if (crc32(0, start + 12, 20) != startCrc)
        throw BrokenHeader("start header");
    if (nextSize == 0)
        return out; // an empty archive
    if (nextSize > kMaxHeader || nextOffset > static_cast<uint64_t>(fileSize) || 32 + nextOffset + nextSize > static_cast<uint64_t>(fileSize))
        throw BrokenHeader("header position");
    std::string header(static_cast<size_t>(nextSize), '\0');
    if (!read(32 + nextOffset, header.data(), header.size()))
        throw BrokenHeader("header read");
    if (crc32(0, reinterpret_cast<const Bytef *>(header.data()), static_cast<uInt>(header.size())) != nextCrc)
        throw BrokenHeader("header checksum");
    for (int depth = 0; !header.empty() && static_cast<uint8_t>(header[0]) == kEncodedHeader; ++depth) {
        if (depth > 4)
            throw BrokenHeader("nested header");
        ByteReader r(reinterpret_cast<const unsigned char *>(header.data()) + 1, header.size() - 1);
        const StreamsInfo s = readStreamsInfo(r);
        if (s.folders.empty() || s.packSizes.empty())
            throw BrokenHeader("packed header");
        header = decodeSimpleFolder(read, 32 + s.packPos, s.packSizes[0], s.folders[0]);
    }
    ByteReader r(reinterpret_cast<const unsigned char *>(header.data()), header.size());
    if (r.byte() != kHeader)
        throw BrokenHeader("header");
    uint8_t id = r.byte();
    if (id == kArchiveProperties || id == kAdditionalStreamsInfo)
        throw BrokenHeader("archive properties");
    if (id == kMainStreamsInfo) {
        out.streams = readStreamsInfo(r);
        id = r.byte();
    }
    uint64_t packEnd = 32 + out.streams.packPos;
    for (uint64_t s : out.streams.packSizes)
        packEnd += s;
    if (packEnd > static_cast<uint64_t>(fileSize))
        throw BrokenHeader("pack streams");
    if (id == kFilesInfo) {
        readFiles(r, out.files);
        id = r.byte();
    }
    if (id != kEnd)
        throw BrokenHeader("header end");
    // Files with data take the folders' streams in order.
    size_t folder = 0, sub = 0;
    for (FileRecord &f : out.files) {
        if (!f.hasStream)
            continue;
        while (folder < out.streams.folders.size() && sub >= out.streams.folders[folder].subSizes.size()) {
            ++folder;
            sub = 0;
        }
        if (folder >= out.streams.folders.size())
            throw BrokenHeader("streams of files");
        const Folder &fo = out.streams.folders[folder];
        f.folder = static_cast<int>(folder);
        f.sub = sub;
        f.size = fo.subSizes[sub];
        f.crcDefined = fo.subCrcDefined[sub];
        f.crc = fo.subCrcs[sub];
        ++sub;
    }
    return out;
}

} // namespace salvo::arc::sevenzip

namespace salvo::arc {

bool readSevenZipLayout(int fd, int64_t fileSize, FolderLayout *out)
{
    sevenzip::ArchiveHeaders headers;
    try {
        headers = sevenzip::readHeaders(fd, fileSize);
    } catch (...) {
        return false;
    }
    for (const sevenzip::FileRecord &f : headers.files)
        out->folderOfEntry.push_back(f.folder);
    for (const sevenzip::Folder &f : headers.streams.folders) {
        uint64_t packed = 0;
        for (size_t i = f.firstPack; i < f.firstPack + f.packStreams && i < headers.streams.packSizes.size(); ++i)
            packed += headers.streams.packSizes[i];
        out->packedSize.push_back(packed);
        out->unpackedSize.push_back(f.unpackSize());
    }
    return true;
}

} // namespace salvo::arc
