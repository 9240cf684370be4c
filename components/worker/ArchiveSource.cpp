#include "ArchiveSource.h"

#include "../core/Wire.h"
#include "salvo_archiver.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

namespace salvo::arc {

// Inflates every member of a gzip file in turn; zlib checks each member's CRC
// and length, which is what makes a damaged .gz fail instead of passing.
class GzipSource {
public:
    explicit GzipSource(int fd) : m_fd(fd)
    {
        m_in.resize(256 * 1024);
        m_out.resize(256 * 1024);
        std::memset(&m_z, 0, sizeof m_z);
        inflateInit2(&m_z, 15 + 16);
    }
    ~GzipSource()
    {
        inflateEnd(&m_z);
        ::close(m_fd);
    }

    // Reads the original name of the first member's header, if it has one.
    std::string headerName()
    {
        unsigned char head[10];
        if (::pread(m_fd, head, 10, 0) != 10 || !(head[3] & 0x08))
            return {};
        off_t pos = 10;
        if (head[3] & 0x04) {
            unsigned char xlen[2];
            if (::pread(m_fd, xlen, 2, pos) != 2)
                return {};
            pos += 2 + (xlen[0] | (xlen[1] << 8));
        }
        std::string name;
        char c;
        while (name.size() < 1024 && ::pread(m_fd, &c, 1, pos++) == 1 && c != '\0')
            name.push_back(c);
        return name;
    }

    static la_ssize_t read(archive *a, void *self, const void **buffer)
    {
        return static_cast<GzipSource *>(self)->next(a, buffer);
    }

private:
    la_ssize_t next(archive *a, const void **buffer)
    {
        *buffer = m_out.data();
        m_z.next_out = reinterpret_cast<Bytef *>(m_out.data());
        m_z.avail_out = static_cast<uInt>(m_out.size());
        while (m_z.avail_out == m_out.size() && !m_done) {
            if (m_z.avail_in == 0) {
                const ssize_t got = ::read(m_fd, m_in.data(), m_in.size());
                if (got < 0) {
                    archive_set_error(a, EIO, "gzip: the file could not be read");
                    return -1;
                }
                if (got == 0) {
                    if (m_memberOpen) {
                        archive_set_error(a, EILSEQ, "gzip: unexpected end of file");
                        return -1;
                    }
                    m_done = true;
                    break;
                }
                m_z.next_in = reinterpret_cast<Bytef *>(m_in.data());
                m_z.avail_in = static_cast<uInt>(got);
            }
            if (!m_memberOpen) {
                // Another member follows only when the gzip magic does; other
                // bytes after the last member (padding) are ignored.
                if (m_z.avail_in < 2 && !fillAtLeast(2)) {
                    m_done = true;
                    break;
                }
                if (m_z.next_in[0] != 0x1f || m_z.next_in[1] != 0x8b) {
                    if (m_members == 0) {
                        archive_set_error(a, EILSEQ, "gzip: not a gzip file");
                        return -1;
                    }
                    m_done = true;
                    break;
                }
                inflateReset(&m_z);
                m_memberOpen = true;
            }
            const int r = inflate(&m_z, Z_NO_FLUSH);
            if (r == Z_STREAM_END) {
                m_memberOpen = false;
                ++m_members;
            } else if (r != Z_OK && r != Z_BUF_ERROR) {
                archive_set_error(a, EILSEQ, "gzip: %s",
                                  m_z.msg ? m_z.msg : "damaged data");
                return -1;
            }
        }
        return static_cast<la_ssize_t>(m_out.size() - m_z.avail_out);
    }

    // Moves pending input to the front and reads until `n` bytes are there.
    bool fillAtLeast(size_t n)
    {
        std::memmove(m_in.data(), m_z.next_in, m_z.avail_in);
        size_t have = m_z.avail_in;
        while (have < n) {
            const ssize_t got = ::read(m_fd, m_in.data() + have, m_in.size() - have);
            if (got <= 0)
                break;
            have += static_cast<size_t>(got);
        }
        m_z.next_in = reinterpret_cast<Bytef *>(m_in.data());
        m_z.avail_in = static_cast<uInt>(have);
        return have >= n;
    }

    int m_fd;
    z_stream m_z;
    std::string m_in, m_out;
    bool m_memberOpen = false;
    bool m_done = false;
    int m_members = 0;
};

ArchiveSource::ArchiveSource(std::string path, uint32_t formats, bool legacyNames)
    : m_path(std::move(path)), m_formats(formats), m_legacyNames(legacyNames)
{
}

ArchiveSource::~ArchiveSource()
{
    if (m_archive)
        archive_read_free(m_archive);
}

namespace {

bool startsWithGzipMagic(int fd)
{
    unsigned char magic[2];
    return ::pread(fd, magic, 2, 0) == 2 && magic[0] == 0x1f && magic[1] == 0x8b;
}

} // namespace

int ArchiveSource::open(std::string *message)
{
    m_archive = archive_read_new();
    if (!m_archive)
        return SALVO_E_ENOUGH_MEMORY;
    if (m_formats & kLha)
        archive_read_support_format_lha(m_archive);
    if (m_formats & kZip)
        archive_read_support_format_zip_seekable(m_archive);
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
        archive_read_support_format_raw(m_archive);
        archive_read_support_filter_all(m_archive);
    }

    if (m_legacyNames)
        archive_read_set_options(m_archive, "hdrcharset=CP932");

    const int fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *message = "書庫を開けません: " + m_path;
        return SALVO_E_ARC_FILE_OPEN;
    }
    int r;
    if ((m_formats & kTar) && startsWithGzipMagic(fd)) {
        m_gzip = std::make_unique<GzipSource>(fd);
        r = archive_read_open(m_archive, m_gzip.get(), nullptr, &GzipSource::read, nullptr);
    } else {
        ::close(fd);
        r = archive_read_open_filename(m_archive, m_path.c_str(), 256 * 1024);
    }
    if (r != ARCHIVE_OK) {
        *message = errorText();
        // A damaged stream can show itself while the first block is read.
        const int code = failureCode(r);
        return code == SALVO_E_BROKEN_DATA ? SALVO_E_NOT_ARC_FILE : code;
    }
    return SALVO_OK;
}

bool ArchiveSource::compressed() const
{
    return m_gzip || (m_archive && archive_filter_count(m_archive) > 1);
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
    const int format = m_archive ? archive_format(m_archive) & ARCHIVE_FORMAT_BASE_MASK : 0;
    return format != ARCHIVE_FORMAT_TAR && format != ARCHIVE_FORMAT_RAW;
}

std::string ArchiveSource::errorText() const
{
    const char *e = m_archive ? archive_error_string(m_archive) : nullptr;
    return e ? e : "不明なエラー";
}

int ArchiveSource::failureCode(int status) const
{
    const std::string text = errorText();
    auto has = [&](const char *word) { return strcasestr(text.c_str(), word) != nullptr; };
    if (has("passphrase") || has("encrypt") || has("password"))
        return SALVO_E_PASSWORD_FILE;
    if (has("crc") || has("checksum") || has("data check") || has("length check"))
        return SALVO_E_FILE_CRC;
    if (has("truncated") || has("unexpected end") || has("premature"))
        return SALVO_E_UNEXPECTED_EOF;
    if (has("unsupported") || has("not supported"))
        return SALVO_E_METHOD;
    if (has("header"))
        return SALVO_E_HEADER_BROKEN;
    if (status == ARCHIVE_WARN)
        return SALVO_E_BROKEN_DATA;
    return SALVO_E_BROKEN_DATA;
}

} // namespace salvo::arc
