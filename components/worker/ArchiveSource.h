#pragma once
// Opens one archive with libarchive, restricted to the formats of the asking
// component. Only regular files are opened. A compressed tar is read in two
// stages, the decompressor below and the tar reader above, so that the
// compressed stream can be read to its true end (and its checks verified)
// after the tar reader has seen the end of the archive. A gzip stream is
// inflated here with zlib rather than by libarchive, because libarchive does
// not check the gzip trailer (CRC and size). A split archive is read from all
// its volumes (see SplitVolumes.h), named by its first one.
#include "SplitVolumes.h"
#include "VolumeInput.h"

#include <archive.h>
#include <archive_entry.h>

#include <functional>
#include <memory>
#include <string>
#include <sys/stat.h>

namespace salvo::arc {

class GzipSource;

struct CheckFailure {
    int code = 0; // SALVO_E_..., 0 when all is well
    std::string text;
    explicit operator bool() const { return code != 0; }
};

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

    // The archive's bytes (all volumes of a split archive, one after the other).
    const VolumeInput &input() const { return m_input; }
    const VolumeSet &volumeSet() const { return m_volumeSet; }
    // The format can decrypt what it encrypts: of the formats here, libarchive
    // decrypts only ZIP (PKWARE and WinZip AES encryption).
    bool canDecrypt() const;
    // Asked for a password when an encrypted entry is read; see setPasswordSource.
    using PasswordFn = std::function<bool(bool retry, std::string *password)>;
    // Before open(): where passwords come from (none: encrypted entries fail).
    void setPasswordSource(PasswordFn source) { m_passwordSource = std::move(source); }
    // How many passwords were given, and whether one was refused.
    int passwordsGiven() const { return m_passwordsGiven; }
    bool passwordRefused() const { return m_passwordRefused; }
    // Where the format reader is in the (uncompressed) archive.
    int64_t position() const;
    // How many bytes into the archive's file (all volumes) the reading is.
    int64_t inputPosition() const;
    // After the format reader saw the archive's end: reads what is left of a
    // compressed stream, which verifies its checks (a cut or damaged trailer
    // fails here).
    CheckFailure finishStream();
    // After the end: numbered files whose archive's structure did not say how
    // far it reaches count as its volumes only when the reading got into each
    // of them. One it never reached is no part of it, and the archive fails
    // rather than take that file for one of its volumes.
    CheckFailure unreadVolumes() const;

    // Maps the last failed libarchive call to a result code, from libarchive's
    // error number and where the reading stood: opening the archive, reading a
    // header, or reading an entry's data (`allDataRead`: all the data its
    // header announced had come out).
    enum class Stage { Open, Header, Data };
    int failureCode(int status, Stage stage, archive_entry *entry = nullptr, bool allDataRead = false) const;
    std::string errorText() const;

private:
    std::string m_path;
    uint32_t m_formats;
    bool m_legacyNames;
    VolumeSet m_volumeSet;
    VolumeInput m_input;
    VolumeInput::Cursor m_cursor{m_input};      // the format reader's, or the decompressor's
    archive *m_archive = nullptr;
    std::unique_ptr<GzipSource> m_gzip;
    archive *m_decompressor = nullptr; // the stage below a compressed tar (not gzip)
    bool m_decompressorFailed = false;

    PasswordFn m_passwordSource;
    std::string m_password; // the last one given, for libarchive to read
    int m_passwordsGiven = 0;
    bool m_passwordRefused = false;

    int openDecompressor(std::string *message);
    int checkVolumes(std::string *message) const;
    int readSplitZipAsOne(std::string *message);
    static const char *passwordCallback(archive *, void *self);
    static la_ssize_t readDecompressed(archive *a, void *self, const void **buffer);
    bool inputUsedUp() const;
    bool startsAsZip() const;
    bool unsupportedMethod() const;
};

} // namespace salvo::arc
