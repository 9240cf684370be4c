// The 7z header as this program writes it: only the properties it keeps
// (sizes, checksums, names, times, start positions, attributes), in the order
// the format gives them.
#include "SevenZipHeaderWriter.h"

#include <zlib.h>

namespace salvo::arc::sevenzip {

std::string makeHeader(const std::vector<Folder> &folders, const std::vector<uint64_t> &packSizes,
                       const std::vector<FileRecord> &files)
{
    ByteWriter w;
    w.byte(kHeader);
    if (!folders.empty()) {
        w.byte(kMainStreamsInfo);
        w.byte(kPackInfo);
        w.number(0);
        w.number(packSizes.size());
        w.byte(kSize);
        for (uint64_t s : packSizes)
            w.number(s);
        w.byte(kEnd);
        w.byte(kUnpackInfo);
        w.byte(kFolder);
        w.number(folders.size());
        w.byte(0);
        for (const Folder &f : folders)
            w.append(f.record);
        w.byte(kCodersUnpackSize);
        for (const Folder &f : folders) {
            for (uint64_t s : f.unpackSizes)
                w.number(s);
        }
        std::vector<bool> folderCrc;
        for (const Folder &f : folders)
            folderCrc.push_back(f.crcDefined);
        if (std::any_of(folderCrc.begin(), folderCrc.end(), [](bool b) { return b; })) {
            w.byte(kCrc);
            w.defined(folderCrc);
            for (const Folder &f : folders) {
                if (f.crcDefined)
                    w.u32(f.crc);
            }
        }
        w.byte(kEnd);
        w.byte(kSubStreamsInfo);
        if (std::any_of(folders.begin(), folders.end(), [](const Folder &f) { return f.subSizes.size() != 1; })) {
            w.byte(kNumUnpackStream);
            for (const Folder &f : folders)
                w.number(f.subSizes.size());
        }
        if (std::any_of(folders.begin(), folders.end(), [](const Folder &f) { return f.subSizes.size() > 1; })) {
            w.byte(kSize);
            for (const Folder &f : folders) {
                for (size_t i = 0; i + 1 < f.subSizes.size(); ++i)
                    w.number(f.subSizes[i]);
            }
        }
        std::vector<bool> defined;
        std::vector<uint32_t> crcs;
        for (const Folder &f : folders) {
            if (f.subSizes.size() == 1 && f.crcDefined)
                continue;
            for (size_t i = 0; i < f.subSizes.size(); ++i) {
                defined.push_back(f.subCrcDefined[i]);
                crcs.push_back(f.subCrcs[i]);
            }
        }
        if (std::any_of(defined.begin(), defined.end(), [](bool b) { return b; })) {
            w.byte(kCrc);
            w.defined(defined);
            for (size_t i = 0; i < crcs.size(); ++i) {
                if (defined[i])
                    w.u32(crcs[i]);
            }
        }
        w.byte(kEnd);
        w.byte(kEnd);
    }
    const size_t n = files.size();
    w.byte(kFilesInfo);
    w.number(n);
    auto property = [&](uint8_t type, const ByteWriter &data) {
        w.byte(type);
        w.number(data.size());
        w.append(data.data());
    };
    std::vector<bool> empty, emptyFile, anti;
    for (const FileRecord &f : files) {
        empty.push_back(!f.hasStream);
        if (!f.hasStream) {
            emptyFile.push_back(f.emptyFile);
            anti.push_back(f.anti);
        }
    }
    auto any = [](const std::vector<bool> &v) { return std::any_of(v.begin(), v.end(), [](bool b) { return b; }); };
    if (any(empty)) {
        ByteWriter d;
        d.bits(empty);
        property(kEmptyStream, d);
    }
    if (any(emptyFile)) {
        ByteWriter d;
        d.bits(emptyFile);
        property(kEmptyFile, d);
    }
    if (any(anti)) {
        ByteWriter d;
        d.bits(anti);
        property(kAnti, d);
    }
    {
        ByteWriter d;
        d.byte(0);
        for (const FileRecord &f : files) {
            d.append(f.utf16);
            d.byte(0);
            d.byte(0);
        }
        property(kName, d);
    }
    const uint8_t timeIds[3] = {kCTime, kATime, kMTime};
    for (int t = 0; t < 3; ++t) {
        std::vector<bool> defined;
        for (const FileRecord &f : files)
            defined.push_back(f.timeDefined[t]);
        if (!any(defined))
            continue;
        ByteWriter d;
        d.defined(defined);
        d.byte(0);
        for (const FileRecord &f : files) {
            if (f.timeDefined[t])
                d.u64(f.times[t]);
        }
        property(timeIds[t], d);
    }
    {
        std::vector<bool> defined;
        for (const FileRecord &f : files)
            defined.push_back(f.startDefined);
        if (any(defined)) {
            ByteWriter d;
            d.defined(defined);
            d.byte(0);
            for (const FileRecord &f : files) {
                if (f.startDefined)
                    d.u64(f.startPos);
            }
            property(kStartPos, d);
        }
    }
    {
        std::vector<bool> defined;
        for (const FileRecord &f : files)
            defined.push_back(f.attrDefined);
        if (any(defined)) {
            ByteWriter d;
            d.defined(defined);
            d.byte(0);
            for (const FileRecord &f : files) {
                if (f.attrDefined)
                    d.u32(f.attributes);
            }
            property(kAttributes, d);
        }
    }
    w.byte(kEnd);
    w.byte(kEnd);
    return w.data();
}

void makeStartHeader(unsigned char start[32], uint64_t nextOffset, const std::string &header)
{
    std::memcpy(start, kSignature, 6);
    start[6] = 0;
    start[7] = 4;
    const uint64_t nextSize = header.size();
    const uint32_t nextCrc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef *>(header.data()), static_cast<uInt>(header.size())));
    std::memcpy(start + 12, &nextOffset, 8);
    std::memcpy(start + 20, &nextSize, 8);
    std::memcpy(start + 28, &nextCrc, 4);
    const uint32_t startCrc = static_cast<uint32_t>(crc32(0, start + 12, 20));
    std::memcpy(start + 8, &startCrc, 4);
}

// False for text that is not UTF-8.
bool utf8ToUtf16(const std::string &s, std::string *out)
{
    out->clear();
    auto put = [&](uint32_t u) {
        out->push_back(static_cast<char>(u & 0xFF));
        out->push_back(static_cast<char>(u >> 8));
    };
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        uint32_t cp;
        int extra;
        if (c < 0x80) {
            cp = c;
            extra = 0;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            extra = 2;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            extra = 3;
        } else {
            return false;
        }
        if (i + static_cast<size_t>(extra) >= s.size() && extra > 0)
            return false;
        for (int k = 1; k <= extra; ++k) {
            const unsigned char cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = cp << 6 | (cc & 0x3F);
        }
        i += extra + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10));
            put(0xDC00 + (cp & 0x3FF));
        } else {
            put(cp);
        }
    }
    return true;
}

uint64_t fileTime(const struct timespec &t)
{
    return static_cast<uint64_t>(t.tv_sec) * 10000000ull + static_cast<uint64_t>(t.tv_nsec) / 100 + 116444736000000000ull;
}

} // namespace salvo::arc::sevenzip
