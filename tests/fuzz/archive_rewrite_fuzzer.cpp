// Deleting entries from and adding a file to archives of the formats the
// components write (ZIP, 7z, LZH), in the decoder's own code. The input is the
// archive. Each input is rewritten twice from the same bytes: once deleting an
// entry it lists, once adding a small file.
// Rules: a failed rewrite leaves the archive byte for byte as it was and
// leaves no file behind; a rewrite reported as done (result 0) gives an
// archive libarchive reads to its end whenever it read the old one to its
// end as the format the writers take it for, every entry of which was in the old archive with the same bytes (or is
// the added file). A ZIP entry whose local header names it otherwise than
// the central directory does may come out under its central name, the one
// the rewrite keeps. Names are compared with "\\" read as "/": libarchive
// turns one into the other by what the ZIP says made it, which a rewrite may
// state anew.
#include "EmptyArchive.h"
#include "FuzzCheck.h"
#include "FuzzTree.h"
#include "core/Wire.h"
#include "salvo_archiver.h"
#include "worker/ArchiveWriting.h"
#include "worker/Operations.h"

#include <archive.h>
#include <archive_entry.h>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sys/stat.h>
#include <sys/time.h>
#include <tuple>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

using namespace salvo::arc;

namespace {

constexpr uint32_t kWritten = kLha | kZip | kSevenZip;
constexpr char kAdded[] = "added by the fuzzer\n";

fuzz::Sandbox *g_sandbox = nullptr;

struct PlainEntry {
    std::string name;
    unsigned type = 0;
    uint64_t size = 0;
    uint32_t crc = 0;
    bool operator<(const PlainEntry &o) const
    {
        return std::tie(name, type, size, crc) < std::tie(o.name, o.type, o.size, o.crc);
    }
};

// A name as compared: "\\" as "/", without a closing "/".
std::string comparable(std::string name)
{
    for (char &c : name) {
        if (c == '\\')
            c = '/';
    }
    while (!name.empty() && name.back() == '/')
        name.pop_back();
    return name;
}

// Every entry with the checksum of its bytes; false unless read to the end.
// `format`: the format libarchive took the archive for.
bool readPlain(const std::string &path, std::multiset<PlainEntry> *entries, int *format = nullptr)
{
    archive *a = archive_read_new();
    archive_read_support_format_lha(a);
    archive_read_support_format_zip_seekable(a);
    archive_read_support_format_7zip(a);
    bool ok = archive_read_open_filename(a, path.c_str(), 64 * 1024) == ARCHIVE_OK;
    archive_entry *e;
    int r = ARCHIVE_FATAL;
    while (ok && (r = archive_read_next_header(a, &e)) == ARCHIVE_OK) {
        PlainEntry pe;
        pe.name = comparable(archive_entry_pathname(e) ? archive_entry_pathname(e) : "");
        pe.type = archive_entry_filetype(e);
        pe.crc = crc32(0, nullptr, 0);
        const void *buf;
        size_t len;
        la_int64_t offset;
        int d;
        while ((d = archive_read_data_block(a, &buf, &len, &offset)) == ARCHIVE_OK) {
            if (len > 0)
                pe.crc = crc32(pe.crc, static_cast<const Bytef *>(buf), static_cast<uInt>(len));
            pe.size += len;
        }
        if (d != ARCHIVE_EOF) {
            ok = false;
            break;
        }
        entries->insert(pe);
    }
    if (format)
        *format = archive_format(a) & ARCHIVE_FORMAT_BASE_MASK;
    archive_read_free(a);
    return ok && r == ARCHIVE_EOF;
}

// The format the writers take the archive for, by its first bytes as they do.
int writtenFormat(const std::string &bytes)
{
    if (bytes.size() >= 4 && bytes.compare(0, 2, "PK") == 0)
        return ARCHIVE_FORMAT_ZIP;
    if (bytes.size() >= 6 && bytes.compare(0, 6, "7z\xBC\xAF\x27\x1C") == 0)
        return ARCHIVE_FORMAT_7ZIP;
    if (bytes.size() >= 7 && bytes[2] == '-' && bytes[3] == 'l' && bytes[6] == '-')
        return ARCHIVE_FORMAT_LHA;
    return 0;
}

// The names a ZIP's central directory gives its entries.
std::set<std::string> centralNames(const std::string &path)
{
    std::set<std::string> names;
    int error = 0;
    zip_t *z = zip_open(path.c_str(), ZIP_RDONLY, &error);
    if (!z)
        return names;
    const zip_int64_t count = zip_get_num_entries(z, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        if (const char *name = zip_get_name(z, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW))
            names.insert(comparable(name));
    }
    zip_discard(z);
    return names;
}

// An entry of the old archive with the same type and bytes under any name.
bool sameBytesIn(const std::multiset<PlainEntry> &entries, const PlainEntry &e)
{
    for (const PlainEntry &o : entries) {
        if (o.type == e.type && o.size == e.size && o.crc == e.crc)
            return true;
    }
    return false;
}

std::string fileBytes(const std::string &path)
{
    std::string bytes;
    if (FILE *f = std::fopen(path.c_str(), "rb")) {
        char buf[65536];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            bytes.append(buf, n);
        std::fclose(f);
    }
    return bytes;
}

void rewriteOnce(const uint8_t *data, size_t size, bool adding)
{
    const std::string archive = g_sandbox->writeInput("archive.bin", data, size);
    const std::string original(reinterpret_cast<const char *>(data), size);

    WriteRequest req;
    req.archive = archive;
    req.formats = kWritten;
    req.tempPath = g_sandbox->base() + "/work/.archive.bin.tmp";
    if (adding) {
        req.baseDir = g_sandbox->base() + "/work/source";
        req.names = {"*.new"};
        req.recursive = size % 2;
        req.solid = size % 3 != 0;
    } else {
        // An entry the listing shows, picked by the input's last byte.
        const Listing listing = listArchive(archive, kWritten);
        if (listing.entries.empty())
            req.names = {"a.txt"};
        else
            req.names = {listing.entries[data[size - 1] % listing.entries.size()].name};
    }
    std::multiset<PlainEntry> before;
    const std::set<std::string> central = centralNames(archive);
    int formatBefore = 0;
    bool readBefore = readPlain(archive, &before, &formatBefore) || fuzz::isEmptyArchive(archive);
    // Entries libarchive did not see (a ZIP whose central directory it does
    // not take) are kept as they are, damage and all; libarchive's reading of
    // the old archive then says nothing about the new one. Nor does it when
    // libarchive took the archive for another format than the writer does
    // (an LZH whose bytes also hold the end record of an empty ZIP).
    if (central.size() > before.size() || (formatBefore != 0 && formatBefore != writtenFormat(original)))
        readBefore = false;

    const WriteResult result = adding ? addFiles(req, {}) : deleteEntries(req, {});
    if (result.code != SALVO_OK) {
        FUZZ_CHECK_MSG(fileBytes(archive) == original, "a failed rewrite (0x%x: %s) changed the archive", result.code,
                       result.message.c_str());
        g_sandbox->checkOutsideUnchanged();
        return;
    }

    std::multiset<PlainEntry> after;
    const bool readAfter = readPlain(archive, &after) || fuzz::isEmptyArchive(archive);
    FUZZ_CHECK_MSG(readAfter || !readBefore, "libarchive read the archive to its end, not after the rewrite (%s)",
                   result.message.c_str());
    if (!readAfter || !readBefore)
        return;
    for (const PlainEntry &e : after) {
        const bool added = adding && e.name.size() >= 9 && e.name.compare(e.name.size() - 9, 9, "added.new") == 0;
        const bool renamed = central.count(e.name) > 0 && sameBytesIn(before, e);
        FUZZ_CHECK_MSG(added || renamed || before.count(e) > 0, "after the rewrite the archive holds %s (%llu bytes), "
                       "which the old one did not", e.name.c_str(), static_cast<unsigned long long>(e.size));
        if (added)
            FUZZ_CHECK(e.size == sizeof kAdded - 1);
    }
    if (adding)
        FUZZ_CHECK_MSG(after.size() >= before.size(), "adding lost entries");
    else
        FUZZ_CHECK_MSG(after.size() < before.size(), "deleting removed nothing, yet the result is 0");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    std::setlocale(LC_ALL, "C.UTF-8");
    setenv("TZ", "UTC", 1);
    umask(022);
    g_sandbox = new fuzz::Sandbox();
    const std::string source = g_sandbox->base() + "/work/source";
    FUZZ_CHECK(mkdir(source.c_str(), 0700) == 0);
    FILE *f = std::fopen((source + "/added.new").c_str(), "wb");
    FUZZ_CHECK(f && std::fwrite(kAdded, 1, sizeof kAdded - 1, f) == sizeof kAdded - 1);
    std::fclose(f);
    // The same time in every run: it goes into the archive's bytes.
    const struct timeval times[2] = {{1700000000, 0}, {1700000000, 0}};
    FUZZ_CHECK(utimes((source + "/added.new").c_str(), times) == 0);
    std::atexit([] { delete g_sandbox; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    rewriteOnce(data, size, false);
    rewriteOnce(data, size, true);
    return 0;
}
