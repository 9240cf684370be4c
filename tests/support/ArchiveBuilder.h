#pragma once
// Archives written by the tests themselves: libarchive's writer for the
// formats it writes, and small hand-made writers for stored ZIP, LZH and RAR
// where a test needs exact control of the bytes (legacy CP932 names, bad
// checksums, hostile names, sizes that lie).
#include <QByteArray>
#include <QString>
#include <vector>

namespace salvo::test {

struct RawEntry {
    QByteArray name; // stored bytes, exactly
    QByteArray data;
    bool folder = false;
    bool utf8Flag = false;   // zip: general purpose bit 11
    quint32 unixMode = 0;    // zip: external attributes, upper half
    bool badCrc = false;     // store a wrong checksum
    qint64 statedSize = -1;  // the original size the header states, when not the data's
    bool blake2 = false;     // RAR 5: a BLAKE2sp hash instead of the CRC32
};

// A zip archive with stored (uncompressed) entries.
QByteArray storedZip(const std::vector<RawEntry> &entries);
// An LZH archive with -lh0- (stored) entries, header level 0 or 2.
QByteArray storedLzh(const std::vector<RawEntry> &entries, int level);
// A RAR archive (version 4 or 5) with stored entries. `offsets`, when given,
// receives where each entry's header begins, and finally where the end header does.
QByteArray storedRar(const std::vector<RawEntry> &entries, int version, std::vector<qsizetype> *offsets = nullptr);

enum class EntryKind { File, Folder, Symlink, HardLink, Fifo };

struct Entry {
    QString name;
    QByteArray data;
    EntryKind kind = EntryKind::File;
    QString link;       // symbolic or hard link target
    quint32 mode = 0644;
    qint64 sparseSize = -1; // a file of this size that is all hole but its data
    QByteArray rawName;     // when set, the name's bytes exactly (a legacy code page), instead of `name`
};

// libarchive writer: format "ustar", "pax", "gnutar", "zip", "7zip"; filter
// "none", "gzip", "bzip2", "xz", "compress", "zstd". Options such as
// "zip:encryption=zipcrypt" and a passphrase are passed on.
QByteArray writeArchive(const std::vector<Entry> &entries, const char *format, const char *filter = "none",
                        const char *options = nullptr, const char *passphrase = nullptr);
// One data stream through a compressor without an archive around it.
QByteArray compressRaw(const QByteArray &data, const char *filter);
// A gzip file of `members` members, each 16 MiB of one letter when expanded:
// small on disk, and its extraction takes a while.
QByteArray longGzip(int members);
// gzip of `data`, with `originalName` in the header when it is not empty.
QByteArray gzipWithName(const QByteArray &data, const QByteArray &originalName);
// An xz stream of blocks of 64 KiB, as `xz -T` writes them (by the xz tool).
QByteArray xzInBlocks(const QByteArray &data);

} // namespace salvo::test
