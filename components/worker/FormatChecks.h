#pragma once
// What libarchive leaves unchecked in some formats, checked here from the
// archive's own bytes: that a RAR or LZH archive really ends where the reading
// stopped (its end marker is there), that a 7z start header is intact, and
// that the data of RAR's stored entries matches their CRC32 or BLAKE2sp.
#include "ArchiveSource.h"
#include "Blake2sp.h"

#include <archive.h>
#include <archive_entry.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace salvo::arc {

// One file header of a RAR archive, as far as the checks need it.
struct RarFileHeader {
    bool stored = false; // the data is kept as it is
    bool directory = false;
    bool encrypted = false;
    bool split = false;  // continues in another volume
    bool hasCrc = false;
    uint32_t crc = 0;
    bool hasBlake = false;
    std::array<uint8_t, 32> blake{};
    int64_t size = -1;   // -1 when the header does not tell
    int64_t packed = 0;  // the bytes of its data in the archive, over every volume
};

struct RarLayout {
    bool found = false;     // a RAR signature with a valid main header
    bool readable = false;  // the headers could be walked (they are not encrypted)
    bool complete = false;  // the end-of-archive header was reached (of the last volume there is)
    bool moreVolumes = false;   // that end header says another volume follows
    bool missingVolume = false; // and none does
    std::vector<RarFileHeader> files;
};

// Walks the headers of the RAR 4 or RAR 5 archive in `in`, through every
// volume of a split one; a file split over volumes counts once.
RarLayout readRarLayout(const VolumeInput &in);

class FormatChecks {
public:
    // Set up once libarchive has read the first header (the format is known
    // then); `formats` are the families the component reads.
    FormatChecks(const ArchiveSource &src, uint32_t formats);
    ~FormatChecks();

    // Damage in the archive's framing, found before any entry is trusted.
    CheckFailure atStart() const;
    // Every entry libarchive reports, in order, also those not extracted.
    CheckFailure beginEntry(archive_entry *e);
    // The entry begun last is encrypted, as its own header says (libarchive
    // does not tell for every format).
    bool entryEncrypted() const { return m_encrypted; }
    // The data of the entry begun last (regular files only), and its end.
    void data(const void *p, size_t n);
    CheckFailure endEntry();
    // libarchive reported the end at `position`: does the archive end there?
    CheckFailure atEnd(int64_t position) const;

private:
    const VolumeInput &m_in;
    int64_t m_fileSize;
    int m_format;
    bool m_sevenZipAtStart = false;
    RarLayout m_rar;
    size_t m_entries = 0;
    const RarFileHeader *m_current = nullptr;
    bool m_encrypted = false;
    uint32_t m_crc = 0;
    std::unique_ptr<Blake2sp> m_blake;
    std::string m_name;
};

} // namespace salvo::arc
