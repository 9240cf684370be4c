// ZIP archives through libzip: entries that stay are copied as they are
// (compressed data, names in their original bytes), new entries are deflated
// and carry UTF-8 names with the UTF-8 flag.
#include "ArchiveRewrite.h"
#include "Names.h"
#include "ZipHeaders.h"
#include "salvo_archiver.h"

#include <zip.h>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace salvo::arc {
namespace {

// libzip reads the archive and writes its replacement through this source.
class ZipFileSource {
public:
    explicit ZipFileSource(ReplacementFile &file) : m_file(file), m_buffer(1 << 20)
    {
        zip_error_init(&m_error);
    }
    ~ZipFileSource() { zip_error_fini(&m_error); }

    static zip_int64_t callback(void *self, void *data, zip_uint64_t len, zip_source_cmd_t cmd)
    {
        return static_cast<ZipFileSource *>(self)->serve(data, len, cmd);
    }

    bool removed() const { return m_removed; }
    int writeError() const { return m_writeError; }
    AliveTicker *ticker = nullptr;

private:
    zip_int64_t serve(void *data, zip_uint64_t len, zip_source_cmd_t cmd)
    {
        switch (cmd) {
        case ZIP_SOURCE_OPEN:
            m_readPos = 0;
            return 0;
        case ZIP_SOURCE_READ: {
            if (ticker)
                ticker->tick();
            const ssize_t n = read(static_cast<unsigned char *>(data), len);
            if (n < 0) {
                zip_error_set(&m_error, ZIP_ER_READ, errno);
                return -1;
            }
            m_readPos += n;
            return n;
        }
        case ZIP_SOURCE_CLOSE:
            return 0;
        case ZIP_SOURCE_STAT: {
            auto *st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, len, &m_error);
            if (!st)
                return -1;
            zip_stat_init(st);
            st->size = static_cast<zip_uint64_t>(m_file.sourceSize());
            st->valid |= ZIP_STAT_SIZE;
            return sizeof(*st);
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&m_error, data, len);
        case ZIP_SOURCE_FREE:
            return 0;
        case ZIP_SOURCE_SEEK: {
            const zip_int64_t pos = zip_source_seek_compute_offset(static_cast<zip_uint64_t>(m_readPos),
                                                                   static_cast<zip_uint64_t>(m_file.sourceSize()),
                                                                   data, len, &m_error);
            if (pos < 0)
                return -1;
            m_readPos = pos;
            return 0;
        }
        case ZIP_SOURCE_TELL:
            return m_readPos;
        case ZIP_SOURCE_BEGIN_WRITE:
            m_writePos = m_writeEnd = 0;
            m_bufferStart = m_bufferUsed = 0;
            return 0;
        case ZIP_SOURCE_COMMIT_WRITE:
            return flush() ? 0 : -1;
        case ZIP_SOURCE_ROLLBACK_WRITE:
            m_bufferUsed = 0;
            return 0;
        case ZIP_SOURCE_WRITE:
            if (ticker)
                ticker->tick();
            return append(data, len) ? static_cast<zip_int64_t>(len) : -1;
        case ZIP_SOURCE_SEEK_WRITE: {
            const zip_int64_t pos = zip_source_seek_compute_offset(static_cast<zip_uint64_t>(m_writePos),
                                                                   static_cast<zip_uint64_t>(m_writeEnd), data, len,
                                                                   &m_error);
            if (pos < 0)
                return -1;
            m_writePos = pos;
            return 0;
        }
        case ZIP_SOURCE_TELL_WRITE:
            return m_writePos;
        case ZIP_SOURCE_REMOVE:
            // Every entry was deleted: an empty archive takes the old one's place.
            m_removed = true;
            return 0;
        case ZIP_SOURCE_SUPPORTS:
            return ZIP_SOURCE_SUPPORTS_WRITABLE;
        default:
            zip_error_set(&m_error, ZIP_ER_OPNOTSUPP, 0);
            return -1;
        }
    }

    // libzip reads in small pieces; they are served from larger reads.
    ssize_t read(unsigned char *data, size_t len)
    {
        size_t done = 0;
        while (done < len) {
            const int64_t at = m_readPos + static_cast<int64_t>(done);
            if (at < m_cacheStart || at >= m_cacheStart + static_cast<int64_t>(m_cacheLength)) {
                const ssize_t got = ::pread(m_file.sourceFd(), m_cache.data(), m_cache.size(), at);
                if (got < 0)
                    return -1;
                m_cacheStart = at;
                m_cacheLength = static_cast<size_t>(got);
                if (got == 0)
                    break;
            }
            const size_t offset = static_cast<size_t>(at - m_cacheStart);
            const size_t n = std::min(len - done, m_cacheLength - offset);
            std::memcpy(data + done, m_cache.data() + offset, n);
            done += n;
        }
        return static_cast<ssize_t>(done);
    }

    // Writes go through a buffer while they follow each other; libzip seeks
    // back only to complete a local header.
    bool append(const void *data, size_t len)
    {
        if (m_writePos != m_bufferStart + static_cast<int64_t>(m_bufferUsed)) {
            if (!flush())
                return false;
            m_bufferStart = m_writePos;
        }
        const auto *p = static_cast<const unsigned char *>(data);
        while (len > 0) {
            if (m_bufferUsed == m_buffer.size()) {
                if (!flush())
                    return false;
                m_bufferStart = m_writePos;
            }
            const size_t n = std::min(len, m_buffer.size() - m_bufferUsed);
            std::memcpy(m_buffer.data() + m_bufferUsed, p, n);
            m_bufferUsed += n;
            p += n;
            len -= n;
            m_writePos += static_cast<int64_t>(n);
        }
        m_writeEnd = std::max(m_writeEnd, m_writePos);
        return true;
    }

    bool flush()
    {
        size_t done = 0;
        while (done < m_bufferUsed) {
            const ssize_t w = ::pwrite(m_file.targetFd(), m_buffer.data() + done, m_bufferUsed - done,
                                       m_bufferStart + static_cast<int64_t>(done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                m_writeError = w < 0 ? errno : ENOSPC;
                zip_error_set(&m_error, ZIP_ER_WRITE, m_writeError);
                m_bufferUsed = 0;
                return false;
            }
            done += static_cast<size_t>(w);
        }
        m_bufferStart += static_cast<int64_t>(m_bufferUsed);
        m_bufferUsed = 0;
        return true;
    }

    ReplacementFile &m_file;
    zip_error_t m_error;
    int64_t m_readPos = 0, m_writePos = 0, m_writeEnd = 0;
    std::vector<unsigned char> m_buffer;
    std::vector<unsigned char> m_cache = std::vector<unsigned char>(1 << 20);
    int64_t m_cacheStart = 0;
    size_t m_cacheLength = 0;
    int64_t m_bufferStart = 0;
    size_t m_bufferUsed = 0;
    bool m_removed = false;
    int m_writeError = 0;
};

// A name as the listing shows it: when any name of the archive is not UTF-8,
// the names without the UTF-8 flag are CP932; "\\" separates folders.
std::string decodedName(const std::string &raw, bool flagged, bool legacyArchive)
{
    std::string name = legacyArchive && !flagged && !isAscii(raw) ? cp932ToUtf8(raw) : raw;
    for (char &c : name) {
        if (c == '\\')
            c = '/';
    }
    return name;
}

class ZipRewriter : public FormatRewriter {
public:
    explicit ZipRewriter(bool noFolderEntries) : m_noFolders(noFolderEntries) {}
    ~ZipRewriter() override
    {
        if (m_zip)
            zip_discard(m_zip);
    }

    int load(ReplacementFile &file, std::vector<ExistingEntry> *entries, std::string *message) override
    {
        m_source = std::make_unique<ZipFileSource>(file);
        zip_error_t error;
        zip_error_init(&error);
        zip_source_t *src = zip_source_function_create(&ZipFileSource::callback, m_source.get(), &error);
        if (src)
            m_zip = zip_open_from_source(src, 0, &error);
        if (!m_zip) {
            *message = std::string("ZIP 書庫として読めません: ") + zip_error_strerror(&error);
            zip_error_fini(&error);
            if (src)
                zip_source_free(src);
            return SALVO_E_NOT_ARC_FILE;
        }
        zip_error_fini(&error);
        // Local headers are written anew from the central directory: one that
        // says otherwise marks a damaged archive, which stays as it is.
        std::string why;
        if (!zipLocalHeadersAgree(file.sourceFd(), file.sourceSize(), &why)) {
            *message = why + "。壊れた書庫は更新しません: " + file.archivePath();
            return SALVO_E_HEADER_BROKEN;
        }
        const zip_int64_t count = zip_get_num_entries(m_zip, 0);
        std::vector<std::string> raw(static_cast<size_t>(count));
        bool legacyArchive = false;
        for (zip_int64_t i = 0; i < count; ++i) {
            const char *name = zip_get_name(m_zip, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
            raw[static_cast<size_t>(i)] = name ? name : "";
            legacyArchive = legacyArchive || !isValidUtf8(raw[static_cast<size_t>(i)]);
        }
        for (zip_int64_t i = 0; i < count; ++i) {
            zip_stat_t st;
            zip_stat_init(&st);
            zip_stat_index(m_zip, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW, &st);
            // libzip reads a name without the UTF-8 flag as CP437 when asked to
            // follow the format strictly: a name it leaves alone has the flag.
            const std::string &name = raw[static_cast<size_t>(i)];
            const char *strict = zip_get_name(m_zip, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_STRICT);
            const bool flagged = strict && name == strict;
            ExistingEntry e;
            e.name = decodedName(name, flagged, legacyArchive);
            // A folder by its closing "/", or by the attributes of the system that made it.
            zip_uint8_t system = 0;
            zip_uint32_t attributes = 0;
            zip_file_get_external_attributes(m_zip, static_cast<zip_uint64_t>(i), 0, &system, &attributes);
            e.folder = (!e.name.empty() && e.name.back() == '/')
                       || (system == ZIP_OPSYS_UNIX && S_ISDIR(attributes >> 16))
                       || (system == ZIP_OPSYS_DOS && (attributes & 0x10));
            while (!e.name.empty() && e.name.back() == '/')
                e.name.pop_back();
            e.mtime = (st.valid & ZIP_STAT_MTIME) ? st.mtime : 0;
            entries->push_back(e);
        }
        return SALVO_OK;
    }

    int accepts(const NewItem &item, std::string *message) override
    {
        if (!isValidUtf8(item.name)) {
            *message = "UTF-8 ではない名前のファイルは追加できません: " + item.path + "\n";
            return SALVO_E_FILE_OPEN;
        }
        return SALVO_OK;
    }

    bool storesFolders() const override { return !m_noFolders; }

    int write(ReplacementFile &file, const std::vector<bool> &keep, const std::vector<NewItem> &items,
              const AliveFn &alive, std::string *message) override
    {
        AliveTicker ticker(alive);
        m_source->ticker = &ticker;
        for (size_t i = 0; i < keep.size(); ++i) {
            if (!keep[i])
                zip_delete(m_zip, i);
        }
        for (const NewItem &item : items) {
            zip_int64_t index;
            if (item.folder) {
                index = zip_dir_add(m_zip, item.name.c_str(), ZIP_FL_ENC_UTF_8);
            } else {
                zip_source_t *src = zip_source_file(m_zip, item.path.c_str(), 0, 0);
                index = src ? zip_file_add(m_zip, item.name.c_str(), src, ZIP_FL_ENC_UTF_8) : -1;
                if (index < 0 && src)
                    zip_source_free(src);
                if (index >= 0)
                    zip_set_file_compression(m_zip, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 6);
            }
            if (index < 0) {
                *message = std::string("ZIP 書庫に追加できません: ") + zip_strerror(m_zip) + ": " + item.name + "\n";
                return SALVO_E_CANNOT_WRITE;
            }
            zip_file_set_external_attributes(m_zip, static_cast<zip_uint64_t>(index), 0, ZIP_OPSYS_UNIX,
                                              static_cast<zip_uint32_t>(item.st.st_mode & 0xFFFF) << 16);
            if (item.st.st_mtime > 0)
                zip_file_set_mtime(m_zip, static_cast<zip_uint64_t>(index), item.st.st_mtime, 0);
        }
        zip_register_progress_callback_with_state(
            m_zip, 0.001, [](zip_t *, double, void *t) { static_cast<AliveTicker *>(t)->tick(); }, nullptr, &ticker);
        if (zip_close(m_zip) != 0) {
            const zip_error_t *error = zip_get_error(m_zip);
            const int system = zip_error_code_system(error);
            int code;
            if (m_source->writeError() != 0) {
                code = writeFailure(m_source->writeError(), message);
            } else if (zip_error_code_zip(error) == ZIP_ER_OPEN || zip_error_code_zip(error) == ZIP_ER_READ) {
                *message = std::string("追加するファイルを読めません: ") + zip_error_strerror(const_cast<zip_error_t *>(error));
                code = SALVO_E_FILE_OPEN;
            } else {
                *message = std::string("ZIP 書庫を書けません: ") + zip_error_strerror(const_cast<zip_error_t *>(error));
                code = system == ENOSPC || system == EFBIG ? SALVO_E_DISK_SPACE : SALVO_E_CANNOT_WRITE;
            }
            m_source->ticker = nullptr;
            return code;
        }
        m_zip = nullptr;
        m_source->ticker = nullptr;
        if (m_source->removed()) {
            static const unsigned char kEmpty[22] = {'P', 'K', 5, 6};
            OutputStream out(file);
            if (!out.write(kEmpty, sizeof kEmpty) || !out.flush())
                return writeFailure(out.error(), message);
        }
        return SALVO_OK;
    }

private:
    bool m_noFolders;
    std::unique_ptr<ZipFileSource> m_source;
    zip_t *m_zip = nullptr;
};

} // namespace

std::unique_ptr<FormatRewriter> makeZipRewriter(bool noFolderEntries)
{
    return std::make_unique<ZipRewriter>(noFolderEntries);
}

} // namespace salvo::arc
