#include "ArchiveSource.h"

#include "ZipCentralDirectory.h"

#include "../core/Wire.h"
#include "salvo_archiver.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

namespace salvo::arc {

// Inflates every member of a gzip file in turn. The framing (header, CRC32 and
// length of each member) is read here, so that a damaged .gz fails instead of
// passing and the kind of damage is known without reading any message text.
class GzipSource {
public:
    explicit GzipSource(const VolumeInput &input) : m_input(input), m_cursor(input)
    {
        // Buffers left uninitialised, the input one no larger than the file:
        // a small .gz then costs few fresh pages.
        m_inSize = static_cast<size_t>(std::clamp<int64_t>((input.size() + 4095) & ~int64_t{4095}, 4096, kBuffer));
        m_in.reset(new char[m_inSize]);
        m_out.reset(new char[kBuffer]);
        std::memset(&m_z, 0, sizeof m_z);
        m_ready = inflateInit2(&m_z, -15) == Z_OK;
    }
    ~GzipSource() { inflateEnd(&m_z); }

    // The SALVO_E_ code of the damage found, 0 while none was.
    int failure() const { return m_failure; }
    // The whole file has been read.
    bool finished() const { return m_state == State::Done; }
    // How much of the file the members took (not what is read ahead).
    int64_t consumed() const { return m_cursor.position() - static_cast<int64_t>(m_z.avail_in); }

    // Reads the original name of the first member's header, if it has one.
    std::string headerName() const
    {
        unsigned char head[10];
        if (!m_input.readFully(0, head, 10) || !(head[3] & 0x08))
            return {};
        int64_t pos = 10;
        if (head[3] & 0x04) {
            unsigned char xlen[2];
            if (!m_input.readFully(pos, xlen, 2))
                return {};
            pos += 2 + (xlen[0] | (xlen[1] << 8));
        }
        std::string name;
        char c;
        while (name.size() < 1024 && m_input.readAt(pos++, &c, 1) == 1 && c != '\0')
            name.push_back(c);
        return name;
    }

    static la_ssize_t read(archive *a, void *self, const void **buffer)
    {
        return static_cast<GzipSource *>(self)->next(a, buffer);
    }

    // Reads the rest of the file, checking every member to its trailer.
    bool drain(archive *a)
    {
        const void *ignored;
        while (m_state != State::Done) {
            if (next(a, &ignored) < 0)
                return false;
        }
        return true;
    }

private:
    enum class State { Header, Body, Trailer, Between, Done };

    la_ssize_t fail(archive *a, int code, const char *text)
    {
        m_failure = code;
        archive_set_error(a, code == SALVO_E_CANNOT_READ ? EIO : EILSEQ, "gzip: %s", text);
        return -1;
    }

    la_ssize_t next(archive *a, const void **buffer)
    {
        if (m_failure)
            return -1;
        if (!m_ready)
            return fail(a, SALVO_E_ENOUGH_MEMORY, "out of memory");
        *buffer = m_out.get();
        size_t produced = 0;
        while (produced == 0 && m_state != State::Done) {
            switch (m_state) {
            case State::Header:
                if (!readHeader())
                    return fail(a, m_readError ? SALVO_E_CANNOT_READ : m_headerFailure, "damaged or incomplete header");
                inflateReset(&m_z);
                m_crc = crc32(0, nullptr, 0);
                m_length = 0;
                m_state = State::Body;
                break;
            case State::Body: {
                if (m_z.avail_in == 0 && !need(1))
                    return fail(a, m_readError ? SALVO_E_CANNOT_READ : SALVO_E_UNEXPECTED_EOF, "unexpected end of file");
                m_z.next_out = reinterpret_cast<Bytef *>(m_out.get());
                m_z.avail_out = static_cast<uInt>(kBuffer);
                const int r = inflate(&m_z, Z_NO_FLUSH);
                produced = kBuffer - m_z.avail_out;
                m_crc = crc32(m_crc, reinterpret_cast<const Bytef *>(m_out.get()), static_cast<uInt>(produced));
                m_length += produced;
                if (r == Z_STREAM_END)
                    m_state = State::Trailer;
                else if (r == Z_MEM_ERROR)
                    return fail(a, SALVO_E_ENOUGH_MEMORY, "out of memory");
                else if (r != Z_OK)
                    return fail(a, SALVO_E_BROKEN_DATA, "damaged data");
                break;
            }
            case State::Trailer: {
                if (!need(8))
                    return fail(a, m_readError ? SALVO_E_CANNOT_READ : SALVO_E_UNEXPECTED_EOF, "unexpected end of file");
                const auto *t = m_z.next_in;
                const uint32_t crc = t[0] | t[1] << 8 | t[2] << 16 | uint32_t(t[3]) << 24;
                const uint32_t length = t[4] | t[5] << 8 | t[6] << 16 | uint32_t(t[7]) << 24;
                consume(8);
                if (crc != m_crc)
                    return fail(a, SALVO_E_FILE_CRC, "CRC of the data does not match");
                if (length != static_cast<uint32_t>(m_length))
                    return fail(a, SALVO_E_FILE_CRC, "length of the data does not match");
                m_state = State::Between;
                break;
            }
            case State::Between:
                // Another member follows only when the gzip magic does; other
                // bytes after the last member (padding) are ignored.
                m_state = need(2) && m_z.next_in[0] == 0x1f && m_z.next_in[1] == 0x8b ? State::Header : State::Done;
                break;
            case State::Done:
                break;
            }
        }
        return static_cast<la_ssize_t>(produced);
    }

    // Reads a member header (RFC 1952) and leaves the input at its data.
    bool readHeader()
    {
        m_headerFailure = SALVO_E_UNEXPECTED_EOF;
        m_headerCrc = crc32(0, nullptr, 0);
        if (!need(10))
            return false;
        const unsigned char *h = m_z.next_in;
        const unsigned flags = h[3];
        if (h[0] != 0x1f || h[1] != 0x8b || h[2] != 8 || (flags & 0xE0)) {
            m_headerFailure = SALVO_E_HEADER_BROKEN;
            return false;
        }
        consumeHeader(10);
        if (flags & 0x04) {
            if (!need(2))
                return false;
            const size_t xlen = m_z.next_in[0] | m_z.next_in[1] << 8;
            consumeHeader(2);
            if (!need(xlen))
                return false;
            consumeHeader(xlen);
        }
        for (const unsigned field : {0x08u, 0x10u}) { // name, comment: zero-terminated
            if (!(flags & field))
                continue;
            for (;;) {
                if (!need(1))
                    return false;
                const bool end = m_z.next_in[0] == 0;
                consumeHeader(1);
                if (end)
                    break;
            }
        }
        if (flags & 0x02) {
            if (!need(2))
                return false;
            const unsigned stored = m_z.next_in[0] | m_z.next_in[1] << 8;
            if (stored != (m_headerCrc & 0xFFFF)) {
                m_headerFailure = SALVO_E_HEADER_BROKEN;
                return false;
            }
            consume(2);
        }
        return true;
    }

    // Makes at least `n` bytes of input available; false at the end of the file.
    bool need(size_t n)
    {
        if (m_z.avail_in >= n)
            return true;
        if (m_z.avail_in > 0) // before the first read there is no input at all
            std::memmove(m_in.get(), m_z.next_in, m_z.avail_in);
        size_t have = m_z.avail_in;
        m_z.next_in = reinterpret_cast<Bytef *>(m_in.get());
        while (have < n) {
            const ssize_t got = m_cursor.read(m_in.get() + have, m_inSize - have);
            if (got <= 0) {
                m_readError = got < 0;
                break;
            }
            have += static_cast<size_t>(got);
        }
        m_z.avail_in = static_cast<uInt>(have);
        return have >= n;
    }

    void consume(size_t n)
    {
        m_z.next_in += n;
        m_z.avail_in -= static_cast<uInt>(n);
    }

    void consumeHeader(size_t n)
    {
        m_headerCrc = crc32(m_headerCrc, m_z.next_in, static_cast<uInt>(n));
        consume(n);
    }

    const VolumeInput &m_input;
    VolumeInput::Cursor m_cursor;
    z_stream m_z;
    bool m_ready = false;
    static constexpr int64_t kBuffer = 256 * 1024;
    std::unique_ptr<char[]> m_in, m_out;
    size_t m_inSize = 0;
    State m_state = State::Header;
    uLong m_crc = 0, m_headerCrc = 0;
    uint64_t m_length = 0;
    int m_failure = 0;
    int m_headerFailure = 0;
    bool m_readError = false;
};

ArchiveSource::ArchiveSource(std::string path, uint32_t formats, bool legacyNames)
    : m_path(std::move(path)), m_formats(formats), m_legacyNames(legacyNames)
{
}

ArchiveSource::~ArchiveSource()
{
    if (m_archive)
        archive_read_free(m_archive);
    if (m_decompressor)
        archive_read_free(m_decompressor);
    m_gzip.reset();
    std::fill(m_password.begin(), m_password.end(), '\0');
}

namespace {

// What deleting every entry leaves behind: a ZIP that is only its end record
// (and comment), or an LZH that is only its end mark. libarchive recognizes
// neither; both are archives without entries.
bool isEmptyArchive(const VolumeInput &input, uint32_t formats)
{
    unsigned char head[22];
    const int64_t size = input.size();
    if ((formats & kLha) && size == 1)
        return input.readFully(0, head, 1) && head[0] == 0;
    if ((formats & kZip) && size >= 22 && size <= 22 + 0xFFFF && input.readFully(0, head, 22)) {
        // No disk numbers, no entries, no central directory.
        static const unsigned char endRecord[20] = {'P', 'K', 5, 6};
        return std::memcmp(head, endRecord, 20) == 0 && (head[20] | head[21] << 8) == size - 22;
    }
    return false;
}

} // namespace

int ArchiveSource::open(std::string *message)
{
    m_volumeSet = volumeSetOf(m_path);
    const int opened = m_input.open(m_volumeSet.paths, message);
    if (opened != SALVO_OK)
        return opened;
    if (const int code = checkVolumes(message); code != SALVO_OK)
        return code;

    m_archive = archive_read_new();
    if (!m_archive)
        return SALVO_E_ENOUGH_MEMORY;
    if (m_formats & kLha)
        archive_read_support_format_lha(m_archive);
    if (m_formats & kZip) {
        // A split zip's offsets count from the start of each volume: its
        // central directory is given to the reader with every offset counted
        // from the start of all volumes, so that it is read as an unsplit
        // archive is, through its directory (modes, links, the true sizes).
        if (m_volumeSet.scheme == VolumeScheme::ZipSplit && m_volumeSet.paths.size() > 1) {
            if (const int code = readSplitZipAsOne(message); code != SALVO_OK)
                return code;
        }
        archive_read_support_format_zip_seekable(m_archive);
    }
    if (m_formats & kSevenZip)
        archive_read_support_format_7zip(m_archive);
    if (m_formats & kCab)
        archive_read_support_format_cab(m_archive);
    if (m_formats & kRar) {
        archive_read_support_format_rar(m_archive);
        archive_read_support_format_rar5(m_archive);
    }
    if (m_formats & kTar) {
        archive_read_support_format_tar(m_archive);
        archive_read_support_format_gnutar(m_archive);
        // The other archives of Unix systems, each recognised by its own
        // signature: cpio (also inside an rpm), ISO 9660 images, ar (and
        // Debian packages, which are ar archives), xar.
        archive_read_support_format_cpio(m_archive);
        archive_read_support_format_iso9660(m_archive);
        archive_read_support_format_ar(m_archive);
        archive_read_support_format_xar(m_archive);
        archive_read_support_format_raw(m_archive);
    }

    if (m_legacyNames)
        archive_read_set_options(m_archive, "hdrcharset=CP932");
    if (m_passwordSource)
        archive_read_set_passphrase_callback(m_archive, this, &ArchiveSource::passwordCallback);

    unsigned char magic[2];
    int r;
    if (isEmptyArchive(m_input, m_formats)) {
        archive_read_support_format_empty(m_archive);
        r = archive_read_open_memory(m_archive, "", 0);
    } else if ((m_formats & kTar) && m_input.readFully(0, magic, 2) && magic[0] == 0x1f && magic[1] == 0x8b) {
        m_gzip = std::make_unique<GzipSource>(m_input);
        r = archive_read_open(m_archive, m_gzip.get(), nullptr, &GzipSource::read, nullptr);
    } else if (m_formats & kTar) {
        const int code = openDecompressor(message);
        if (code != SALVO_OK)
            return code;
        r = m_decompressor ? archive_read_open(m_archive, this, nullptr, &ArchiveSource::readDecompressed, nullptr)
                           : m_cursor.openArchive(m_archive);
    } else {
        r = m_cursor.openArchive(m_archive);
    }
    if (r != ARCHIVE_OK) {
        *message = errorText();
        return failureCode(r, Stage::Open);
    }
    return SALVO_OK;
}

namespace {

std::string fileName(const std::string &path)
{
    return path.substr(path.find_last_of('/') + 1);
}

} // namespace

// What the names of a split archive's volumes tell before anything is read:
// a volume missing between others, a split zip without its ".zip" or with
// fewer volumes than its end record counts.
int ArchiveSource::checkVolumes(std::string *message) const
{
    const VolumeSet &set = m_volumeSet;
    const std::string missing = "分割書庫のボリュームが足りません: ";
    if (set.gap) {
        *message = missing + fileName(set.paths.back()) + " の次のボリュームがありません";
        return SALVO_E_MISSING_VOLUME;
    }
    {
        // An intact 7z start header says where the archive's last header ends:
        // past the end of the file, the archive is cut short (a split one
        // lacks its later volumes).
        unsigned char h[32];
        if (m_input.readFully(0, h, sizeof h) && std::memcmp(h, "7z\xBC\xAF\x27\x1C", 6) == 0
            && crc32(0, h + 12, 20) == (h[8] | h[9] << 8 | h[10] << 16 | uLong(h[11]) << 24)) {
            auto le64 = [](const unsigned char *p) {
                uint64_t v = 0;
                for (int i = 7; i >= 0; --i)
                    v = v << 8 | p[i];
                return v;
            };
            const uint64_t end = 32 + le64(h + 12) + le64(h + 20);
            if (end > uint64_t(m_input.size()) && set.scheme == VolumeScheme::Numbered) {
                *message = missing + fileName(set.paths.back()) + " の次のボリュームがありません";
                return SALVO_E_MISSING_VOLUME;
            }
            if (end > uint64_t(m_input.size())) {
                *message = "書庫が途中で切れています: " + fileName(set.paths.back());
                return SALVO_E_UNEXPECTED_EOF;
            }
        }
    }
    if (set.scheme != VolumeScheme::ZipSplit)
        return SALVO_OK;
    const std::string &last = set.paths.back();
    const size_t dot = last.find_last_of('.');
    if (dot == std::string::npos || (last.compare(dot, 4, ".zip") != 0 && last.compare(dot, 4, ".ZIP") != 0)) {
        *message = missing + "最後のボリューム (.zip) がありません";
        return SALVO_E_MISSING_VOLUME;
    }
    // The end record of the central directory, in the last volume: the number
    // of its own volume counts the volumes before it.
    const VolumeInput::Volume &v = m_input.volumes().back();
    const int64_t tail = std::min<int64_t>(v.st.st_size, 65536 + 22);
    std::string bytes(static_cast<size_t>(tail), '\0');
    if (tail < 22 || !m_input.readFully(v.offset + v.st.st_size - tail, bytes.data(), bytes.size()))
        return SALVO_OK; // the reader says what is wrong
    for (size_t i = bytes.size() - 22 + 1; i-- > 0;) {
        if (bytes.compare(i, 4, "PK\x05\x06") == 0) {
            const auto *p = reinterpret_cast<const unsigned char *>(bytes.data() + i);
            const size_t disk = p[4] | (p[5] << 8);
            if (disk > 0 && disk + 1 > set.paths.size()) {
                *message = missing + std::to_string(disk + 1) + " 個のうち " + std::to_string(set.paths.size())
                    + " 個しかありません";
                return SALVO_E_MISSING_VOLUME;
            }
            break;
        }
    }
    return SALVO_OK;
}

int ArchiveSource::readSplitZipAsOne(std::string *message)
{
    std::vector<int64_t> starts;
    for (const VolumeInput::Volume &v : m_input.volumes())
        starts.push_back(v.offset);
    ZipCentralDirectory directory;
    const auto read = [this](int64_t pos, void *buffer, size_t n) { return m_input.readFully(pos, buffer, n); };
    std::string tail, error;
    if (!directory.open(read, m_input.size(), starts, &error) || !directory.unsplitTail(&tail, &error)) {
        *message = error;
        return SALVO_E_HEADER_BROKEN;
    }
    if (directory.lastDisk() + 1 > m_input.volumes().size()) {
        *message = "分割書庫のボリュームが足りません";
        return SALVO_E_MISSING_VOLUME;
    }
    m_input.replaceTail(directory.directoryStart(), std::move(tail));
    return SALVO_OK;
}

const char *ArchiveSource::passwordCallback(archive *, void *self)
{
    auto *me = static_cast<ArchiveSource *>(self);
    // libarchive tries the passwords it has first; it comes back here only
    // when none of them fits, so every call after the first is a retry.
    const bool retry = me->m_passwordsGiven > 0;
    std::fill(me->m_password.begin(), me->m_password.end(), '\0');
    me->m_password.clear();
    if (me->m_passwordRefused || !me->m_passwordSource(retry, &me->m_password)) {
        me->m_passwordRefused = true;
        return nullptr;
    }
    ++me->m_passwordsGiven;
    return me->m_password.c_str();
}

bool ArchiveSource::canDecrypt() const
{
    return m_archive && (archive_format(m_archive) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_ZIP;
}

// Any compressor libarchive knows, as the lower stage; none when the file is
// not compressed (then it is read directly).
int ArchiveSource::openDecompressor(std::string *message)
{
    m_decompressor = archive_read_new();
    if (!m_decompressor)
        return SALVO_E_ENOUGH_MEMORY;
    archive_read_support_filter_all(m_decompressor);
    archive_read_support_format_raw(m_decompressor);
    archive_entry *e;
    if (m_cursor.openArchive(m_decompressor) == ARCHIVE_OK && archive_filter_count(m_decompressor) <= 1) {
        archive_read_free(m_decompressor);
        m_decompressor = nullptr;
        m_cursor.rewind();
        return SALVO_OK;
    }
    if (archive_errno(m_decompressor) == 0 && archive_read_next_header(m_decompressor, &e) == ARCHIVE_OK)
        return SALVO_OK;
    const int e2 = archive_errno(m_decompressor);
    *message = archive_error_string(m_decompressor) ? archive_error_string(m_decompressor) : "不明なエラー";
    // A compressor libarchive reads only through its program (lzop).
    if (message->find("unable to run program") != std::string::npos) {
        const std::string program = message->substr(message->find('"') + 1);
        *message = "この書庫の解凍には " + program.substr(0, program.find(' ')) + " パッケージが必要です";
        return SALVO_E_MISSING_DECODER;
    }
    if (e2 == ENOMEM)
        return SALVO_E_ENOUGH_MEMORY;
    if (e2 > 0 && e2 != EILSEQ && e2 != EINVAL)
        return SALVO_E_CANNOT_READ;
    return inputUsedUp() ? SALVO_E_UNEXPECTED_EOF : SALVO_E_NOT_ARC_FILE;
}

la_ssize_t ArchiveSource::readDecompressed(archive *a, void *self, const void **buffer)
{
    auto *me = static_cast<ArchiveSource *>(self);
    size_t length = 0;
    la_int64_t offset = 0;
    const int r = archive_read_data_block(me->m_decompressor, buffer, &length, &offset);
    if (r == ARCHIVE_EOF)
        return 0;
    if (r != ARCHIVE_OK) {
        me->m_decompressorFailed = true;
        const char *text = archive_error_string(me->m_decompressor);
        archive_set_error(a, archive_errno(me->m_decompressor), "%s", text ? text : "decompression failed");
        return -1;
    }
    return static_cast<la_ssize_t>(length);
}

CheckFailure ArchiveSource::finishStream()
{
    if (m_gzip && !m_gzip->drain(m_archive))
        return {m_gzip->failure(), errorText()};
    if (m_decompressor && !m_decompressorFailed) {
        const void *buffer;
        size_t length;
        la_int64_t offset;
        int r;
        while ((r = archive_read_data_block(m_decompressor, &buffer, &length, &offset)) == ARCHIVE_OK) {
        }
        if (r != ARCHIVE_EOF) {
            m_decompressorFailed = true;
            const char *text = archive_error_string(m_decompressor);
            archive_set_error(m_archive, archive_errno(m_decompressor), "%s", text ? text : "decompression failed");
            return {failureCode(r, Stage::Data), errorText()};
        }
    }
    return {};
}

CheckFailure ArchiveSource::unreadVolumes() const
{
    const VolumeSet &set = m_volumeSet;
    if (set.scheme != VolumeScheme::Numbered || set.measured || m_input.volumes().size() < 2 || !m_archive)
        return {};
    // The readers that seek (ZIP, 7z) are measured by their structure or fail.
    const int format = archive_format(m_archive) & ARCHIVE_FORMAT_BASE_MASK;
    if (format == ARCHIVE_FORMAT_ZIP || format == ARCHIVE_FORMAT_7ZIP)
        return {};
    int64_t consumed = 0;
    if (m_gzip)
        consumed = m_gzip->consumed();
    else
        consumed = archive_filter_bytes(m_decompressor ? m_decompressor : m_archive, -1);
    const VolumeInput::Volume &last = m_input.volumes().back();
    if (last.offset <= consumed)
        return {};
    return {SALVO_E_EXTRA_VOLUME, "書庫はこのファイルの前で終わっています: " + fileName(last.path)};
}

bool ArchiveSource::unsupportedMethod() const
{
    // libarchive says so only in its message, in the words of each reader:
    // "Unsupported ZIP compression method", "Unexpected codec ID" (7z),
    // "Unsupported lzh compression method", "Unsupported compression method".
    std::string text = m_archive && archive_error_string(m_archive) ? archive_error_string(m_archive) : "";
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return (text.find("unsupported") != std::string::npos
            && (text.find("method") != std::string::npos || text.find("filter") != std::string::npos))
        || text.find("codec id") != std::string::npos;
}

bool ArchiveSource::startsAsZip() const
{
    unsigned char head[4];
    return (m_formats & kZip) && m_input.readFully(0, head, sizeof head) && std::memcmp(head, "PK\x03\x04", 4) == 0;
}

bool ArchiveSource::inputUsedUp() const
{
    // What the reader below the format consumed of the file itself.
    archive *bottom = m_decompressor ? m_decompressor : m_archive;
    return bottom && archive_filter_bytes(bottom, -1) >= m_input.size();
}

bool ArchiveSource::compressed() const
{
    return m_gzip || m_decompressor;
}

bool ArchiveSource::isRawStream() const
{
    return m_archive && archive_format(m_archive) == ARCHIVE_FORMAT_RAW;
}

std::string ArchiveSource::rawName() const
{
    std::string name;
    if (m_gzip)
        name = m_gzip->headerName();
    const size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos)
        name = name.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") {
        name = m_path.substr(m_path.find_last_of('/') + 1);
        const size_t dot = name.find_last_of('.');
        if (dot != std::string::npos && dot > 0)
            name.resize(dot);
        else
            name += ".out";
    }
    return name;
}

bool ArchiveSource::backslashIsSeparator() const
{
    // Formats made on Unix systems: "\\" is a character of a name there.
    const int format = m_archive ? archive_format(m_archive) & ARCHIVE_FORMAT_BASE_MASK : 0;
    return format != ARCHIVE_FORMAT_TAR && format != ARCHIVE_FORMAT_RAW && format != ARCHIVE_FORMAT_CPIO
        && format != ARCHIVE_FORMAT_ISO9660 && format != ARCHIVE_FORMAT_AR && format != ARCHIVE_FORMAT_XAR;
}

int64_t ArchiveSource::position() const
{
    return m_archive ? archive_filter_bytes(m_archive, 0) : 0;
}

int64_t ArchiveSource::inputPosition() const
{
    return m_gzip ? m_gzip->consumed() : m_cursor.position();
}

std::string ArchiveSource::errorText() const
{
    const char *e = m_archive ? archive_error_string(m_archive) : nullptr;
    return e ? e : "不明なエラー";
}

namespace {
// The error numbers libarchive sets for its own kinds of failure (its
// ARCHIVE_ERRNO_FILE_FORMAT and ARCHIVE_ERRNO_PROGRAMMER; "miscellaneous" is -1).
constexpr int kFileFormatError = EILSEQ;
constexpr int kProgrammerError = EINVAL;
} // namespace

int ArchiveSource::failureCode(int status, Stage stage, archive_entry *entry, bool allDataRead) const
{
    // Our own gzip reader knows exactly what went wrong.
    if (m_gzip && m_gzip->failure())
        return m_gzip->failure();
    const int e = m_archive ? archive_errno(m_archive) : 0;
    if (e == ENOMEM)
        return SALVO_E_ENOUGH_MEMORY;
    // libarchive's own kinds are "file format" and "miscellaneous"; any other
    // error number comes from the system, reading the archive.
    if (e > 0 && e != kFileFormatError && e != kProgrammerError)
        return SALVO_E_CANNOT_READ;
    if ((entry && archive_entry_is_encrypted(entry))
        || (stage == Stage::Header && archive_read_has_encrypted_entries(m_archive) > 0)) {
        if (!canDecrypt())
            return SALVO_E_CANNOT_DECRYPT;
        // A password that passed the quick test of the encryption header and
        // still gives data that fails its check was wrong too.
        return m_passwordsGiven > 0 ? SALVO_E_BAD_PASSWORD : SALVO_E_PASSWORD_FILE;
    }
    // A method or filter the decoder does not have is no damage: the archive
    // may be whole, and the user must not be told to throw it away.
    if (unsupportedMethod())
        return SALVO_E_METHOD;
    // A split archive that ends too early lacks its later volumes.
    if (m_volumeSet.scheme == VolumeScheme::Numbered && inputUsedUp())
        return SALVO_E_MISSING_VOLUME;
    // libarchive only warns about one kind of failure in an entry's data: a
    // checksum that does not match once all of it is out.
    if (stage == Stage::Data && status == ARCHIVE_WARN)
        return SALVO_E_FILE_CRC;
    // The reading ran into the end of the file: the archive is cut short.
    if (inputUsedUp())
        return SALVO_E_UNEXPECTED_EOF;
    switch (stage) {
    case Stage::Open:
        // A ZIP begins with its first entry's header and ends with its central
        // directory, which the reader looks for first: a beginning without an
        // end is a ZIP cut short (a split one lacks its last volume).
        if (startsAsZip())
            return m_volumeSet.scheme == VolumeScheme::Numbered ? SALVO_E_MISSING_VOLUME : SALVO_E_UNEXPECTED_EOF;
        return SALVO_E_NOT_ARC_FILE;
    case Stage::Header:
        return SALVO_E_HEADER_BROKEN;
    case Stage::Data:
        break;
    }
    // A failure once all the data is out is its check failing.
    return allDataRead ? SALVO_E_FILE_CRC : SALVO_E_BROKEN_DATA;
}

} // namespace salvo::arc
