#include "SevenZipEncoder.h"

#include <algorithm>
#include <cerrno>
#include <zlib.h>

namespace salvo::arc::sevenzip {

FolderEncoder::~FolderEncoder()
{
    if (m_initialized)
        lzma_end(&m_strm);
}

bool FolderEncoder::begin(uint64_t size)
{
    lzma_lzma_preset(&m_options, 5);
    if (size > 0) {
        uint32_t dictionary = LZMA_DICT_SIZE_MIN;
        while (dictionary < size && dictionary < m_options.dict_size)
            dictionary <<= 1;
        m_options.dict_size = std::min(dictionary, m_options.dict_size);
    }
    m_filters[0] = {LZMA_FILTER_LZMA2, &m_options};
    m_filters[1] = {LZMA_VLI_UNKNOWN, nullptr};
    // The stream of the folder before is set up anew: liblzma keeps what
    // memory it can.
    if (lzma_raw_encoder(&m_strm, m_filters) != LZMA_OK)
        return false;
    m_initialized = true;
    m_open = true;
    m_packStart = m_out.position();
    m_unpacked = 0;
    m_subSizes.clear();
    m_subCrcs.clear();
    return true;
}

void FolderEncoder::beginFile()
{
    m_fileSize = 0;
    m_fileCrc = 0;
}

bool FolderEncoder::write(const void *data, size_t n)
{
    m_fileCrc = crc32(m_fileCrc, static_cast<const Bytef *>(data), static_cast<uInt>(n));
    m_fileSize += n;
    m_unpacked += n;
    return code(static_cast<const uint8_t *>(data), n, LZMA_RUN);
}

void FolderEncoder::endFile()
{
    m_subSizes.push_back(m_fileSize);
    m_subCrcs.push_back(m_fileCrc);
}

bool FolderEncoder::end(Folder *f, uint64_t *packSize)
{
    if (!code(nullptr, 0, LZMA_FINISH))
        return false;
    m_open = false;
    uint8_t prop = 0;
    if (lzma_properties_encode(&m_filters[0], &prop) != LZMA_OK)
        return false;
    ByteWriter w;
    w.number(1);
    w.byte(0x21); // one-byte id, with properties
    w.byte(0x21); // LZMA2
    w.number(1);
    w.byte(prop);
    f->record = w.data();
    f->packStreams = 1;
    f->outStreams = 1;
    f->mainOut = 0;
    f->unpackSizes = {m_unpacked};
    f->subSizes = m_subSizes;
    f->subCrcs = m_subCrcs;
    f->subCrcDefined.assign(m_subSizes.size(), true);
    f->crcDefined = m_subSizes.size() == 1;
    f->crc = f->crcDefined ? m_subCrcs[0] : 0;
    *packSize = static_cast<uint64_t>(m_out.position() - m_packStart);
    return true;
}

bool FolderEncoder::code(const uint8_t *data, size_t n, lzma_action action)
{
    uint8_t buffer[1 << 16];
    m_strm.next_in = data;
    m_strm.avail_in = n;
    for (;;) {
        m_strm.next_out = buffer;
        m_strm.avail_out = sizeof buffer;
        const lzma_ret r = lzma_code(&m_strm, action);
        if (r != LZMA_OK && r != LZMA_STREAM_END)
            return false;
        const size_t produced = sizeof buffer - m_strm.avail_out;
        if (produced && !m_out.write(buffer, produced))
            return false;
        if (action == LZMA_FINISH ? r == LZMA_STREAM_END : (m_strm.avail_in == 0 && m_strm.avail_out != 0))
            return true;
    }
}

} // namespace salvo::arc::sevenzip
