#pragma once
// The central directory of a ZIP archive, read from the archive's own bytes:
// its end records (with ZIP64), and its entries one by one as they are stored
// (name bytes, method, sizes, where each local header is, the attributes that
// carry a Unix mode and the link type). Split sets (`zip -s`: name.z01 ...
// name.zip) count their offsets from the start of each volume; a plain archive
// behind a self-extractor's program counts them from where the archive begins.
// Both are told apart here, and every entry's local header gets its place in
// the stream of all volumes. Nothing is kept but the end records: the entries
// are handed out while the directory is read, so ten million of them cost no
// more than ten.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace salvo::arc {

struct ZipCentralEntry {
    uint16_t madeBy = 0;
    uint16_t needed = 0;
    uint16_t flags = 0;
    uint16_t method = 0;     // as stored: 99 for WinZip AES
    uint16_t realMethod = 0; // the compression itself (inside WinZip AES too)
    uint16_t dosTime = 0, dosDate = 0;
    uint32_t crc = 0;
    uint64_t compressedSize = 0, size = 0;
    uint32_t disk = 0;        // the volume its local header is on
    uint64_t localOffset = 0; // as stored: from the start of that volume
    int64_t localHeader = -1; // in the stream of all volumes
    uint16_t internalAttributes = 0;
    uint32_t externalAttributes = 0;
    std::string name;        // as stored
    std::string extra;       // as stored
    std::string comment;     // as stored
    std::string unicodeName; // an Info-ZIP Unicode Path field that belongs to the name, else ""

    bool encrypted() const { return flags & 0x0001; }
    bool utf8() const { return flags & 0x0800; }
    // The Unix mode, when the archive was made on a Unix system and says one.
    uint32_t unixMode() const { return (madeBy >> 8) == 3 ? externalAttributes >> 16 : 0; }
};

class ZipCentralDirectory {
public:
    // Reads `n` bytes at `pos` of the stream, false when they are not all there.
    using ReadAt = std::function<bool(int64_t pos, void *buffer, size_t n)>;

    // Finds the end records of the archive in a stream of `size` bytes made of
    // volumes beginning at `volumeStarts` (one start, 0, for a single file).
    // False, with `error` saying why, when there is no end record or it does
    // not agree with itself.
    bool open(const ReadAt &read, int64_t size, std::vector<int64_t> volumeStarts, std::string *error);

    // Hands out every entry in the directory's order, with the bytes of its
    // record as stored; `visit` returns false to stop. False, with `error`,
    // when the directory is damaged or holds fewer entries than its end says.
    bool forEach(const std::function<bool(const ZipCentralEntry &entry, const std::string &record)> &visit,
                 std::string *error) const;

    uint64_t entryCount() const { return m_entries; }
    int64_t directoryStart() const { return m_start; } // in the stream
    uint64_t directorySize() const { return m_size; }
    const std::string &comment() const { return m_comment; }
    // The volume of the end record says how many volumes the set has.
    uint32_t lastDisk() const { return m_lastDisk; }

    // The same archive as one unsplit file: the stream up to the directory
    // stays as it is, and this tail replaces what follows: the directory with
    // every local header's place counted from the start of the stream and no
    // volume numbers, then new end records. Only for a split set.
    bool unsplitTail(std::string *tail, std::string *error) const;

private:
    int64_t localHeaderOf(uint32_t disk, uint64_t offset) const;

    ReadAt m_read;
    int64_t m_streamSize = 0;
    std::vector<int64_t> m_volumeStarts;
    int64_t m_start = 0;      // where the directory is in the stream
    int64_t m_correction = 0; // added to stored offsets of a single file
    uint64_t m_size = 0;
    uint64_t m_entries = 0;
    uint32_t m_lastDisk = 0;
    std::string m_comment;
};

} // namespace salvo::arc
