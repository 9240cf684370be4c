#pragma once
// Opens one archive with libarchive, restricted to the formats of the asking
// component. A gzip stream is inflated here with zlib rather than by
// libarchive, because libarchive does not check the gzip trailer (CRC and size).
#include <archive.h>
#include <archive_entry.h>

#include <memory>
#include <string>

namespace salvo::arc {

class GzipSource;

class ArchiveSource {
public:
    // With `legacyNames` the formats that store names in a local code page
    // (LZH, ZIP without the UTF-8 flag, CAB, RAR 4, tar) read them as CP932.
    ArchiveSource(std::string path, uint32_t formats, bool legacyNames = false);
    ~ArchiveSource();
    ArchiveSource(const ArchiveSource &) = delete;
    ArchiveSource &operator=(const ArchiveSource &) = delete;

    // Opens the archive; a failure code (SALVO_E_...) and its message otherwise.
    int open(std::string *message);
    archive *handle() const { return m_archive; }

    // True when the data passed through a compressor (gzip, bzip2, xz, ...):
    // then reading the headers means decompressing everything before them.
    bool compressed() const;
    // A single compressed file rather than an archive of entries.
    bool isRawStream() const;
    // Name the raw stream gets: the one in the gzip header, else the archive's
    // name without its last extension.
    std::string rawName() const;
    const std::string &path() const { return m_path; }
    bool backslashIsSeparator() const;

    // Maps the state of the last failed libarchive call to a result code.
    int failureCode(int status) const;
    std::string errorText() const;

private:
    std::string m_path;
    uint32_t m_formats;
    bool m_legacyNames;
    archive *m_archive = nullptr;
    std::unique_ptr<GzipSource> m_gzip;
};

} // namespace salvo::arc
