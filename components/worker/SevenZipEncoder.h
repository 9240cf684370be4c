#pragma once
// LZMA2 compression of the folders a rewrite makes, written straight into the
// replacement file: one folder holds one file's data, or several when solid.
#include "ArchiveRewrite.h"
#include "SevenZipStructures.h"

#include <lzma.h>

namespace salvo::arc::sevenzip {

class FolderEncoder {
public:
    explicit FolderEncoder(OutputStream &out) : m_out(out) {}
    ~FolderEncoder();
    FolderEncoder(const FolderEncoder &) = delete;
    FolderEncoder &operator=(const FolderEncoder &) = delete;

    // Starts a folder; `size`, when not 0, is all the folder will hold, so
    // the dictionary need not be larger (which makes small files cheap).
    bool begin(uint64_t size = 0);
    // The data of one file of the folder, in pieces.
    void beginFile();
    bool write(const void *data, size_t n);
    void endFile();
    // Ends the folder and describes it.
    bool end(Folder *f, uint64_t *packSize);

    int error() const { return m_out.error() ? m_out.error() : EIO; }
    bool open() const { return m_open; }

private:
    bool code(const uint8_t *data, size_t n, lzma_action action);

    OutputStream &m_out;
    lzma_options_lzma m_options{};
    lzma_filter m_filters[2]{};
    lzma_stream m_strm = LZMA_STREAM_INIT;
    bool m_open = false;
    bool m_initialized = false; // m_strm holds an encoder, reused by the next folder
    int64_t m_packStart = 0;
    uint64_t m_unpacked = 0, m_fileSize = 0;
    uint32_t m_fileCrc = 0;
    std::vector<uint64_t> m_subSizes;
    std::vector<uint32_t> m_subCrcs;
};

} // namespace salvo::arc::sevenzip
