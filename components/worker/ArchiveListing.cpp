// The listing of an archive: its entries with the names the extraction
// writes, handed out while the archive is walked.
#include "ArchiveSource.h"
#include "EntryNames.h"
#include "FormatChecks.h"
#include "Names.h"
#include "Operations.h"
#include "PackedSizes.h"
#include "SecondDecoder.h"
#include "salvo_archiver.h"

#include <ctime>
#include <memory>
#include <sys/stat.h>

namespace salvo::arc {
namespace {

using Stage = ArchiveSource::Stage;

void dosDateTime(time_t t, uint16_t *date, uint16_t *time)
{
    struct tm tm {};
    if (t <= 0 || !localtime_r(&t, &tm) || tm.tm_year < 80) {
        *date = (1 << 5) | 1; // 1980-01-01
        *time = 0;
        return;
    }
    *date = static_cast<uint16_t>(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
    *time = static_cast<uint16_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
}

std::string attributeText(mode_t mode)
{
    std::string a = "------";
    if (S_ISDIR(mode))
        a[0] = 'd';
    if (!(mode & 0222))
        a[1] = 'r';
    a[5] = 'a';
    return a;
}

// What the listing says of one header, but its name.
EntryInfo describe(archive_entry *e)
{
    EntryInfo info;
    info.size = archive_entry_size_is_set(e) ? archive_entry_size(e) : 0;
    dosDateTime(archive_entry_mtime(e), &info.dosDate, &info.dosTime);
    info.mode = archive_entry_mode(e);
    info.attribute = attributeText(info.mode);
    if (archive_entry_filetype(e) == AE_IFDIR)
        info.size = 0;
    return info;
}

} // namespace

Listing listArchive(const std::string &path, uint32_t formats, const AliveFn &alive, const EntrySink &sink)
{
    if (SecondDecoder::current().used())
        return SecondDecoder::current().list(sink, alive);
    AliveTicker ticker(alive);
    Listing out;
    auto src = std::make_unique<ArchiveSource>(path, formats);
    out.code = src->open(&out.message);
    if (out.code != SALVO_OK)
        return out;
    archive_entry *e = nullptr;
    int r = archive_read_next_header(src->handle(), &e);
    auto checks = std::make_unique<FormatChecks>(*src, formats);
    if (CheckFailure f = checks->atStart()) {
        out.code = f.code;
        out.message = f.text;
        return out;
    }
    // What each entry takes in the archive, from the archive's own headers
    // (read only where no compressor wraps the archive); in the entries' order,
    // whichever way their names are read.
    PackedSizes packed(src->input(), r == ARCHIVE_OK && !src->compressed() && !src->isRawStream()
                                         ? archive_format(src->handle()) & ARCHIVE_FORMAT_BASE_MASK
                                         : 0);
    // The names are read exactly as the extraction reads them (see
    // Extraction::extractInto): a seekable archive is read with CP932 names
    // when needsLegacyNames says so, which is asked only once a name or a
    // header needs it (plain ASCII names read the same either way); a
    // compressed stream decides on the way. So every name goes out final, as
    // soon as it is read, and nothing is kept.
    const bool seekable = !src->compressed();
    bool decided = !seekable;
    std::unique_ptr<NameDecoder> decoder = std::make_unique<NameDecoder>(src->backslashIsSeparator(), false);
    size_t count = 0;
    Stage stage = Stage::Header;
    for (;; r = archive_read_next_header(src->handle(), &e)) {
        if (!decided && r != ARCHIVE_EOF && (r != ARCHIVE_OK || !isAscii(rawEntryName(*src, e)))) {
            decided = true;
            if (needsLegacyNames(path, formats)) {
                // The same headers come in the same order: those already
                // listed are walked past.
                src = std::make_unique<ArchiveSource>(path, formats, true);
                out.code = src->open(&out.message);
                if (out.code != SALVO_OK)
                    return out;
                r = archive_read_next_header(src->handle(), &e);
                checks = std::make_unique<FormatChecks>(*src, formats);
                for (size_t i = 0; i < count && r == ARCHIVE_OK; ++i) {
                    checks->beginEntry(e);
                    r = archive_read_next_header(src->handle(), &e);
                }
                decoder = std::make_unique<NameDecoder>(src->backslashIsSeparator(), true);
            }
        }
        if (r != ARCHIVE_OK)
            break;
        ticker.tick();
        if (CheckFailure f = checks->beginEntry(e)) {
            out.code = f.code;
            out.message = f.text;
            break;
        }
        const std::string raw = rawEntryName(*src, e);
        decoder->observe(raw);
        EntryInfo info = describe(e);
        info.name = withFolderMark(decoder->decode(raw), e);
        const bool regular = archive_entry_filetype(e) == AE_IFREG && archive_entry_size_is_set(e);
        info.compressed = packed.next(regular ? archive_entry_size(e) : -1);
        if (src->isRawStream()) {
            if (!src->compressed()) {
                out.code = SALVO_E_NOT_ARC_FILE;
                out.message = "書庫ではありません";
                return out;
            }
            // A single compressed file does not say how large it is: count.
            const void *buf;
            size_t len;
            la_int64_t offset;
            int d;
            info.size = 0;
            while ((d = archive_read_data_block(src->handle(), &buf, &len, &offset)) == ARCHIVE_OK) {
                info.size = offset + static_cast<int64_t>(len);
                ticker.tick();
            }
            if (d != ARCHIVE_EOF) {
                r = d;
                stage = Stage::Data;
                break;
            }
        }
        ++count;
        if (sink) {
            sink(info);
            out.streamed = count;
        } else {
            out.entries.push_back(std::move(info));
        }
    }
    if (out.code == SALVO_OK && r != ARCHIVE_EOF) {
        out.code = src->failureCode(r, stage, e);
        out.message = src->errorText();
    } else if (out.code == SALVO_OK) {
        if (CheckFailure f = endOfArchive(*src, *checks)) {
            out.code = f.code;
            out.message = f.text;
        }
    }
    return out;
}

} // namespace salvo::arc
