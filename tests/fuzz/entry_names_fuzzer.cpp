// Entry names: how the decoder reads them (UTF-8 or CP932, "\" as a
// separator) and turns them into paths, and how the extraction places files,
// folders and links by them. The first byte holds switches, the rest is one
// entry a line: a kind letter (f file, d folder, l symbolic link, h hard link)
// and the name, then for links a tab and the target.
// Rules: a decoded name is UTF-8; a name taken as safe becomes parts that stay
// below the output folder; extracting an archive of these entries changes
// nothing outside the output folder and leaves no link there leading out.
#include "FuzzCheck.h"
#include "FuzzTree.h"
#include "core/Wire.h"
#include "salvo_archiver.h"
#include "worker/Names.h"
#include "worker/Operations.h"

#include <archive.h>
#include <archive_entry.h>
#include <clocale>
#include <cstdlib>
#include <sys/stat.h>

using namespace salvo::arc;

namespace {

fuzz::Sandbox *g_sandbox = nullptr;

struct Item {
    char kind = 'f';
    std::string name, target;
};

std::vector<Item> parseItems(const uint8_t *data, size_t size)
{
    std::vector<Item> items;
    const std::string text(reinterpret_cast<const char *>(data), size);
    size_t start = 0;
    while (start < text.size() && items.size() < 64) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty())
            continue;
        Item item;
        item.kind = line[0];
        const size_t tab = line.find('\t', 1);
        item.name = line.substr(1, tab == std::string::npos ? std::string::npos : tab - 1);
        if (tab != std::string::npos)
            item.target = line.substr(tab + 1);
        items.push_back(item);
    }
    return items;
}

void checkDecoding(const std::vector<Item> &items, bool backslash, bool converted)
{
    NameDecoder decoder(backslash, converted);
    for (const Item &item : items)
        decoder.observe(item.name);
    for (const Item &item : items) {
        const std::string cp932 = cp932ToUtf8(item.name);
        FUZZ_CHECK(isValidUtf8(cp932));
        if (isAscii(item.name))
            FUZZ_CHECK(cp932 == item.name);
        if (!converted)
            continue; // names read raw are only UTF-8 once every name was looked at
        const std::string name = decoder.decode(item.name);
        FUZZ_CHECK(isValidUtf8(name));
        if (backslash)
            FUZZ_CHECK(name.find('\\') == std::string::npos);
        std::vector<std::string> parts;
        if (!safeParts(name, &parts))
            continue;
        FUZZ_CHECK(name.empty() || name.front() != '/');
        // Every part is a plain name below the folder before it.
        for (const std::string &part : parts) {
            FUZZ_CHECK(!part.empty() && part != "." && part != "..");
            FUZZ_CHECK(part.find('/') == std::string::npos && part.find('\0') == std::string::npos);
        }
    }
    // Read without conversion, all names come out as UTF-8 too.
    NameDecoder raw(backslash, false);
    for (const Item &item : items)
        raw.observe(item.name);
    for (const Item &item : items)
        FUZZ_CHECK(isValidUtf8(raw.decode(item.name)));
}

// Writes the entries as a tar (names kept as bytes) or a ZIP archive.
bool writeArchive(const std::string &path, const std::vector<Item> &items, bool zip)
{
    archive *a = archive_write_new();
    if (zip) {
        archive_write_set_format_zip(a);
        archive_write_set_options(a, "zip:compression=store");
    } else {
        archive_write_set_format_gnutar(a);
    }
    if (archive_write_open_filename(a, path.c_str()) != ARCHIVE_OK) {
        archive_write_free(a);
        return false;
    }
    for (const Item &item : items) {
        archive_entry *e = archive_entry_new();
        archive_entry_copy_pathname(e, item.name.c_str());
        archive_entry_set_mtime(e, 1700000000, 0);
        std::string data;
        switch (item.kind) {
        case 'd':
            archive_entry_set_filetype(e, AE_IFDIR);
            archive_entry_set_perm(e, 0755);
            break;
        case 'l':
            archive_entry_set_filetype(e, AE_IFLNK);
            archive_entry_set_perm(e, 0777);
            archive_entry_copy_symlink(e, item.target.c_str());
            break;
        case 'h':
            archive_entry_set_filetype(e, AE_IFREG);
            archive_entry_set_perm(e, 0644);
            archive_entry_copy_hardlink(e, item.target.c_str());
            break;
        default:
            archive_entry_set_filetype(e, AE_IFREG);
            archive_entry_set_perm(e, 0644);
            data = "content of " + item.name + "\n";
            archive_entry_set_size(e, static_cast<la_int64_t>(data.size()));
            break;
        }
        if (archive_write_header(a, e) >= ARCHIVE_WARN && !data.empty())
            archive_write_data(a, data.data(), data.size());
        archive_entry_free(e);
    }
    archive_write_close(a);
    archive_write_free(a);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    std::setlocale(LC_ALL, "C.UTF-8");
    setenv("TZ", "UTC", 1);
    umask(022);
    g_sandbox = new fuzz::Sandbox();
    std::atexit([] { delete g_sandbox; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t flags = data[0];
    const std::vector<Item> items = parseItems(data + 1, size - 1);
    checkDecoding(items, flags & 1, flags & 2);

    // The same names through a real extraction.
    const bool zip = flags & 4;
    const std::string archivePath = g_sandbox->base() + "/work/names." + (zip ? "zip" : "tar");
    g_sandbox->clearOut();
    if (flags & 8) {
        // Something in the output folder makes the extraction go through staging.
        FUZZ_CHECK(symlink("..", (g_sandbox->out() + "/escape").c_str()) == 0);
    }
    if (!writeArchive(archivePath, items, zip))
        return 0;
    g_sandbox->settle();

    ExtractRequest request;
    request.archive = archivePath;
    request.formats = zip ? kZip : kTar;
    request.outputDir = g_sandbox->out();
    request.flat = flags & 16;
    request.overwrite = (flags & 32) ? OverwritePolicy::Force : OverwritePolicy::Keep;
    const fuzz::Tree before = fuzz::snapshot(g_sandbox->out());
    extractArchive(request, ExtractHooks{});

    g_sandbox->checkOutsideUnchanged();
    const std::string leading = fuzz::linkLeadingOut(g_sandbox->out(), before);
    FUZZ_CHECK_MSG(leading.empty(), "a link leads out of the output folder: %s", leading.c_str());
    return 0;
}
