#include "ReaderFormat.h"

#include "core/Wire.h"

#include <archive.h>
#include <archive_entry.h>

namespace salvo::arc {

ReadFormat readerFormat(const std::string &path, uint32_t formats)
{
    archive *a = archive_read_new();
    if (!a)
        return ReadFormat::None;
    // The readers ArchiveSource enables for these formats.
    if (formats & kLha)
        archive_read_support_format_lha(a);
    if (formats & kZip)
        archive_read_support_format_zip_seekable(a);
    if (formats & kSevenZip)
        archive_read_support_format_7zip(a);
    if (formats & kCab)
        archive_read_support_format_cab(a);
    if (formats & kRar) {
        archive_read_support_format_rar(a);
        archive_read_support_format_rar5(a);
    }
    if (formats & kTar) {
        archive_read_support_format_tar(a);
        archive_read_support_format_gnutar(a);
    }
    ReadFormat format = ReadFormat::None;
    if (archive_read_open_filename(a, path.c_str(), 64 * 1024) == ARCHIVE_OK) {
        // The chosen reader names its format when it reads the first header,
        // whether or not that header is whole.
        archive_entry *entry = nullptr;
        archive_read_next_header(a, &entry);
        switch (archive_format(a) & ARCHIVE_FORMAT_BASE_MASK) {
        case 0:
            break;
        case ARCHIVE_FORMAT_LHA:
            format = ReadFormat::Lzh;
            break;
        case ARCHIVE_FORMAT_ZIP:
            format = ReadFormat::Zip;
            break;
        case ARCHIVE_FORMAT_7ZIP:
            format = ReadFormat::SevenZip;
            break;
        default:
            format = ReadFormat::Other;
            break;
        }
    }
    archive_read_free(a);
    return format;
}

const char *formatName(ReadFormat format)
{
    switch (format) {
    case ReadFormat::Lzh:
        return "LZH";
    case ReadFormat::Zip:
        return "ZIP";
    case ReadFormat::SevenZip:
        return "7z";
    default:
        return "別の形式";
    }
}

} // namespace salvo::arc
