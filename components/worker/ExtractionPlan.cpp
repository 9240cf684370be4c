#include "ExtractionPlan.h"

#include "ArchiveSource.h"
#include "EntryNames.h"
#include "FolderLayout.h"
#include "Names.h"
#include "core/SharingSizes.h"

#include <memory>
#include <set>

namespace salvo::arc {
namespace {

std::string joined(const std::vector<std::string> &parts, size_t count)
{
    std::string out;
    for (size_t i = 0; i < count; ++i)
        out += (i ? "/" : "") + parts[i];
    return out;
}

// Where a range may start and what each entry weighs, from the folders of a
// 7z archive: a folder's packed size counts at its first entry, and a range
// starts only where a new folder begins (never inside a solid block).
bool weighFolders(const FolderLayout &layout, size_t count, std::vector<uint64_t> *weight,
                  std::vector<bool> *canStart)
{
    if (layout.folderOfEntry.size() != count)
        return false;
    // The folder of the next entry with data, at or after each entry.
    std::vector<int> next(count + 1, -2);
    for (size_t i = count; i-- > 0;)
        next[i] = layout.folderOfEntry[i] >= 0 ? layout.folderOfEntry[i] : next[i + 1];
    int current = -2;
    for (size_t i = 0; i < count; ++i) {
        const int folder = layout.folderOfEntry[i];
        if (folder >= static_cast<int>(layout.packedSize.size()))
            return false;
        (*canStart)[i] = next[i] != current;
        if (folder >= 0 && folder != current) {
            (*weight)[i] = layout.packedSize[folder];
            current = folder;
        }
    }
    return true;
}

// Cuts entries of the given weights into at most `maxRanges` contiguous
// ranges of about equal weight; a range may only start where `canStart` says.
std::vector<uint32_t> cutIntoRanges(const std::vector<uint64_t> &weight, const std::vector<bool> &canStart,
                                    unsigned maxRanges)
{
    std::vector<uint32_t> starts{0};
    long double total = 0;
    for (uint64_t w : weight)
        total += static_cast<long double>(w);
    if (maxRanges < 2 || total <= 0)
        return starts;
    long double before = 0;
    for (size_t i = 0; i < weight.size(); ++i) {
        // A range ends where its share of the weight is reached: an entry whose
        // middle lies past that point starts the next range.
        const long double due = total * static_cast<long double>(starts.size()) / maxRanges;
        const long double middle = before + static_cast<long double>(weight[i]) / 2;
        if (i > 0 && canStart[i] && middle >= due && before > 0 && before < total && starts.size() < maxRanges)
            starts.push_back(static_cast<uint32_t>(i));
        before += static_cast<long double>(weight[i]);
    }
    return starts;
}

} // namespace

ExtractionPlan planExtraction(const std::string &path, uint32_t formats, bool flat, unsigned maxRanges,
                              const AliveFn &alive)
{
    AliveTicker ticker(alive);
    ExtractionPlan plan;
    if (maxRanges < 2)
        return plan;
    auto src = std::make_unique<ArchiveSource>(path, formats);
    std::string message;
    archive_entry *e = nullptr;
    if (src->open(&message) != 0 || archive_read_next_header(src->handle(), &e) != ARCHIVE_OK || src->compressed())
        return plan;
    const int format = archive_format(src->handle()) & ARCHIVE_FORMAT_BASE_MASK;
    // The volumes of a split archive are read as one stream by one decoder.
    if (src->input().volumes().size() != 1)
        return plan;
    // libarchive's CAB reader cannot begin at a later folder without decoding
    // the first one: a CAB archive stays with one decoder.
    if (format != ARCHIVE_FORMAT_ZIP && format != ARCHIVE_FORMAT_7ZIP && format != ARCHIVE_FORMAT_LHA)
        return plan;
    const bool legacy = needsLegacyNames(path, formats);
    if (legacy) {
        src = std::make_unique<ArchiveSource>(path, formats, true);
        if (src->open(&message) != 0 || archive_read_next_header(src->handle(), &e) != ARCHIVE_OK)
            return plan;
    }

    // Every name the extraction writes, the way it writes it.
    NameDecoder decoder(src->backslashIsSeparator(), legacy);
    std::set<std::string> files, folders;
    std::vector<int64_t> position; // where the reading stood after each header
    int64_t unpacked = 0;
    int r = ARCHIVE_OK;
    for (; r == ARCHIVE_OK; r = archive_read_next_header(src->handle(), &e)) {
        ticker.tick();
        const unsigned type = archive_entry_filetype(e);
        // Links depend on what was written before them; a password is asked once,
        // by one decoder.
        if (type == AE_IFLNK || archive_entry_hardlink(e) || archive_entry_is_encrypted(e))
            return plan;
        std::vector<std::string> parts;
        if (!safeParts(withFolderMark(decoder.decode(rawEntryName(*src, e)), e), &parts))
            return plan;
        position.push_back(archive_filter_bytes(src->handle(), 0));
        if (archive_entry_size_is_set(e) && archive_entry_size(e) > 0)
            unpacked += archive_entry_size(e);
        if (parts.empty())
            continue;
        if (type == AE_IFDIR) {
            if (!flat) {
                for (size_t n = 1; n <= parts.size(); ++n)
                    folders.insert(joined(parts, n));
            }
            continue;
        }
        if (flat)
            parts.erase(parts.begin(), parts.end() - 1);
        for (size_t n = 1; n < parts.size(); ++n)
            folders.insert(joined(parts, n));
        if (!files.insert(joined(parts, parts.size())).second)
            return plan;
    }
    if (r != ARCHIVE_EOF)
        return plan;
    for (const std::string &file : files) {
        if (folders.count(file))
            return plan;
    }

    const size_t count = position.size();
    std::vector<uint64_t> weight(count, 0);
    std::vector<bool> canStart(count, true);
    const VolumeInput::Volume &file = src->input().volumes().front();
    const int64_t fileSize = file.st.st_size;
    if (format == ARCHIVE_FORMAT_7ZIP) {
        if (fileSize < kSharedExtractionMinimum && unpacked < kSharedSevenZipUnpacked)
            return plan;
        FolderLayout layout;
        if (!readSevenZipLayout(file.fd, fileSize, &layout) || !weighFolders(layout, count, &weight, &canStart))
            return plan;
    } else {
        // An entry's data lies between its header and the next one.
        for (size_t i = 0; i < count; ++i) {
            const int64_t end = i + 1 < count ? position[i + 1] : fileSize;
            weight[i] = end > position[i] ? static_cast<uint64_t>(end - position[i]) : 0;
        }
    }
    plan.legacyNames = legacy;
    plan.starts = cutIntoRanges(weight, canStart, maxRanges);
    return plan;
}

} // namespace salvo::arc
