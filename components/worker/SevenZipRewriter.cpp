// 7z archives. Folders (the compressed streams of the format) whose files all
// stay are copied as they are, and every file keeps its name, times and
// attributes exactly. The files that stay in a solid folder that loses others
// are decompressed (by libarchive) and compressed again; new files are
// compressed with LZMA2, each in a folder of its own unless solid.
#include "ArchiveRewrite.h"
#include "SevenZipEncoder.h"
#include "SevenZipHeaderReader.h"
#include "SevenZipHeaderWriter.h"
#include "salvo_archiver.h"

#include <archive.h>
#include <archive_entry.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace salvo::arc {
namespace {

using namespace sevenzip;

class SevenZipRewriter : public FormatRewriter {
public:
    explicit SevenZipRewriter(bool solid) : m_solid(solid) {}
    ~SevenZipRewriter() override
    {
        if (m_reader)
            archive_read_free(m_reader);
    }

    int load(ReplacementFile &file, std::vector<ExistingEntry> *entries, std::string *message) override
    {
        try {
            m_headers = readHeaders(file.sourceFd(), file.sourceSize());
        } catch (const BrokenHeader &e) {
            *message = std::string("7z 書庫のヘッダが壊れています (") + e.what() + "): " + file.archivePath();
            return SALVO_E_HEADER_BROKEN;
        } catch (const UnsupportedHeader &e) {
            if (e.why == UnsupportedHeader::Encrypted) {
                *message = "ヘッダが暗号化された 7z 書庫は更新できません: " + file.archivePath();
                return SALVO_E_PASSWORD_FILE;
            }
            *message = "7z 書庫のヘッダの圧縮方式に対応していません: " + file.archivePath();
            return SALVO_E_METHOD;
        }
        for (const FileRecord &f : m_headers.files) {
            ExistingEntry e;
            e.name = f.name;
            for (char &c : e.name) {
                if (c == '\\')
                    c = '/';
            }
            while (!e.name.empty() && e.name.back() == '/')
                e.name.pop_back();
            // A folder as the listing reads one: by the Unix mode kept in the
            // attributes, else by the directory attribute, else by having
            // neither data nor the mark of an empty file.
            if (f.attrDefined && (f.attributes & 0x8000))
                e.folder = S_ISDIR(f.attributes >> 16);
            else
                e.folder = (f.attrDefined && (f.attributes & 0x10)) || (!f.hasStream && !f.emptyFile);
            if (f.timeDefined[2])
                e.mtime = static_cast<int64_t>(f.times[2] / 10000000ull) - 11644473600LL;
            entries->push_back(e);
        }
        return SALVO_OK;
    }

    int accepts(const NewItem &item, std::string *message) override
    {
        std::string utf16;
        if (!utf8ToUtf16(item.name, &utf16)) {
            *message = "UTF-8 ではない名前のファイルは追加できません: " + item.path + "\n";
            return SALVO_E_FILE_OPEN;
        }
        return SALVO_OK;
    }

    int write(ReplacementFile &file, const std::vector<bool> &keep, const std::vector<NewItem> &items,
              const AliveFn &alive, std::string *message) override
    {
        AliveTicker ticker(alive);
        OutputStream out(file);
        const unsigned char blank[32] = {};
        if (!out.write(blank, sizeof blank))
            return writeFailure(out.error(), message);

        // Which folders go as they are: those whose files all stay.
        std::vector<int> keptFiles(m_headers.streams.folders.size(), 0), allFiles(m_headers.streams.folders.size(), 0);
        for (size_t i = 0; i < m_headers.files.size(); ++i) {
            if (m_headers.files[i].folder >= 0) {
                ++allFiles[m_headers.files[i].folder];
                keptFiles[m_headers.files[i].folder] += keep[i] ? 1 : 0;
            }
        }
        m_outFolders.clear();
        m_outPackSizes.clear();
        m_outFiles.clear();
        FolderEncoder encoder(out);
        auto closeEncoder = [&]() {
            if (!encoder.open())
                return true;
            Folder f;
            uint64_t packSize = 0;
            if (!encoder.end(&f, &packSize))
                return false;
            m_outFolders.push_back(f);
            m_outPackSizes.push_back(packSize);
            return true;
        };
        auto encodeInto = [&](uint64_t size, auto &&feed) -> int {
            // A new folder for each file unless solid; a folder of one file
            // needs a dictionary no larger than the file.
            if (!m_solid && !closeEncoder())
                return writeFailure(out.error() ? out.error() : EIO, message);
            if (!encoder.open() && !encoder.begin(m_solid ? 0 : size)) {
                *message = "LZMA2 圧縮を始められません。";
                return SALVO_E_ENOUGH_MEMORY;
            }
            encoder.beginFile();
            const int code = feed();
            if (code != SALVO_OK)
                return code;
            encoder.endFile();
            return SALVO_OK;
        };

        int lastRawFolder = -1;
        for (size_t i = 0; i < m_headers.files.size(); ++i) {
            if (!keep[i])
                continue;
            FileRecord rec = m_headers.files[i];
            const int f = rec.folder;
            if (f >= 0 && keptFiles[f] == allFiles[f]) {
                if (f != lastRawFolder) {
                    if (!closeEncoder())
                        return writeFailure(out.error() ? out.error() : EIO, message);
                    const Folder &src = m_headers.streams.folders[f];
                    uint64_t offset = packedOffset(m_headers.streams, src);
                    for (size_t p = 0; p < src.packStreams; ++p) {
                        const uint64_t size = m_headers.streams.packSizes[src.firstPack + p];
                        ticker.tick();
                        if (!out.copyFrom(file.sourceFd(), static_cast<int64_t>(offset), static_cast<int64_t>(size)))
                            return writeFailure(out.error(), message);
                        m_outPackSizes.push_back(size);
                        offset += size;
                    }
                    m_outFolders.push_back(src);
                    lastRawFolder = f;
                }
            } else if (f >= 0) {
                // A file of a solid folder that loses others: its data again.
                const int code = encodeInto(rec.size, [&] { return copyDecoded(file, i, encoder, ticker, message); });
                if (code != SALVO_OK)
                    return code;
            }
            m_outFiles.push_back(rec);
        }
        for (const NewItem &item : items) {
            FileRecord rec;
            utf8ToUtf16(item.name, &rec.utf16);
            rec.name = item.name;
            rec.hasStream = !item.folder && item.st.st_size > 0;
            rec.emptyFile = !item.folder && !rec.hasStream;
            rec.timeDefined[2] = true;
            rec.times[2] = fileTime(item.st.st_mtim);
            rec.attrDefined = true;
            rec.attributes = 0x8000u | (static_cast<uint32_t>(item.st.st_mode & 0xFFFF) << 16)
                             | (item.folder ? 0x10u : 0x20u) | ((item.st.st_mode & 0222) ? 0u : 0x01u);
            if (rec.hasStream) {
                const int code = encodeInto(static_cast<uint64_t>(item.st.st_size),
                                            [&] { return copyFile(item, encoder, ticker, message); });
                if (code != SALVO_OK)
                    return code;
            }
            m_outFiles.push_back(rec);
        }
        if (!closeEncoder())
            return writeFailure(out.error() ? out.error() : EIO, message);

        const int64_t headerAt = out.position();
        const std::string header = m_outFiles.empty() ? std::string() : makeHeader(m_outFolders, m_outPackSizes, m_outFiles);
        if (!out.write(header.data(), header.size()) || !out.flush())
            return writeFailure(out.error(), message);
        unsigned char start[32];
        makeStartHeader(start, m_outFiles.empty() ? 0 : static_cast<uint64_t>(headerAt - 32), header);
        if (!out.writeAt(0, start, sizeof start))
            return writeFailure(out.error(), message);
        return SALVO_OK;
    }

private:
    // The data of file `index` as libarchive decodes it, in file order.
    int copyDecoded(ReplacementFile &file, size_t index, FolderEncoder &encoder, AliveTicker &ticker,
                    std::string *message)
    {
        auto failed = [&](const std::string &why) {
            *message = "7z 書庫のデータを読めません (" + why + "): " + file.archivePath() + "\n";
            return SALVO_E_BROKEN_DATA;
        };
        if (!m_reader) {
            m_reader = archive_read_new();
            archive_read_support_format_7zip(m_reader);
            if (archive_read_open_filename(m_reader, file.sourcePath().c_str(), 1 << 20) != ARCHIVE_OK)
                return failed(archive_error_string(m_reader) ? archive_error_string(m_reader) : "open");
            m_readerIndex = -1;
        }
        archive_entry *e = nullptr;
        while (m_readerIndex < static_cast<long>(index)) {
            if (archive_read_next_header(m_reader, &e) != ARCHIVE_OK)
                return failed(archive_error_string(m_reader) ? archive_error_string(m_reader) : "header");
            ++m_readerIndex;
        }
        // libarchive gives the entries in the header's order; the names tell.
        const char *name = archive_entry_pathname_utf8(e);
        auto slashed = [](std::string n) {
            std::replace(n.begin(), n.end(), '\\', '/');
            return n;
        };
        if (!name || slashed(m_headers.files[index].name) != slashed(name))
            return failed("entry order");
        char buffer[1 << 16];
        uint64_t total = 0;
        for (;;) {
            const la_ssize_t n = archive_read_data(m_reader, buffer, sizeof buffer);
            if (n < 0)
                return failed(archive_error_string(m_reader) ? archive_error_string(m_reader) : "data");
            if (n == 0)
                break;
            if (!encoder.write(buffer, static_cast<size_t>(n)))
                return writeFailure(encoder.error(), message);
            total += static_cast<uint64_t>(n);
            ticker.tick();
        }
        if (total != m_headers.files[index].size)
            return failed("size");
        return SALVO_OK;
    }

    int copyFile(const NewItem &item, FolderEncoder &encoder, AliveTicker &ticker, std::string *message)
    {
        const int fd = ::open(item.path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            *message = "追加するファイルを読めません: " + item.path + "\n";
            return SALVO_E_FILE_OPEN;
        }
        std::vector<unsigned char> &chunk = m_chunk;
        chunk.resize(1 << 20);
        int code = SALVO_OK;
        for (;;) {
            const ssize_t got = ::read(fd, chunk.data(), chunk.size());
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                *message = "追加するファイルを読めません: " + item.path + "\n";
                code = SALVO_E_FILE_OPEN;
                break;
            }
            if (got == 0)
                break;
            if (!encoder.write(chunk.data(), static_cast<size_t>(got))) {
                code = writeFailure(encoder.error(), message);
                break;
            }
            ticker.tick();
        }
        ::close(fd);
        return code;
    }

    bool m_solid;
    ArchiveHeaders m_headers;
    std::vector<Folder> m_outFolders;
    std::vector<uint64_t> m_outPackSizes;
    std::vector<FileRecord> m_outFiles;
    archive *m_reader = nullptr;
    long m_readerIndex = -1;
    std::vector<unsigned char> m_chunk; // what is read of a file to add, one piece at a time
};

} // namespace

std::unique_ptr<FormatRewriter> makeSevenZipRewriter(bool solid)
{
    return std::make_unique<SevenZipRewriter>(solid);
}

} // namespace salvo::arc
