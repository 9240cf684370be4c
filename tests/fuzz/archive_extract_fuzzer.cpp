// Archive reading and extraction in the decoder's own code, in-process. The
// input is an archive of any served format. Rules:
//  - nothing outside the output folder changes (two sentinel files and the
//    folders holding them), and no link in it leads out of it;
//  - a failed extraction leaves the output folder as it was;
//  - an extraction reported as done (result 0) wrote exactly what libarchive,
//    read on its own, finds in the archive: every entry whole, with its bytes,
//    and the listing reads the archive without a failure too.
// Each input is extracted into an empty output folder (written directly) and
// into one that already holds a file, a folder and links leading out (staged,
// then merged); then listed and checked.
#include "EmptyArchive.h"
#include "FuzzCheck.h"
#include "FuzzTree.h"
#include "core/Wire.h"
#include "salvo_archiver.h"
#include "worker/Names.h"
#include "worker/Operations.h"

#include <archive.h>
#include <archive_entry.h>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

using namespace salvo::arc;

namespace {

constexpr uint32_t kAllFormats = kLha | kZip | kSevenZip | kCab | kRar | kTar;
// No output file grows beyond this: a larger one fails to write, as on a full disk.
constexpr rlim_t kFileSizeLimit = 64u << 20;

fuzz::Sandbox *g_sandbox = nullptr;
bool g_verbose = false; // SALVO_FUZZ_VERBOSE=1: every result on standard error

// Opens the archive with libarchive alone, with the formats a component of
// every kind reads.
archive *openPlain(const std::string &path, bool legacyNames)
{
    archive *a = archive_read_new();
    archive_read_support_format_lha(a);
    archive_read_support_format_zip_seekable(a);
    archive_read_support_format_7zip(a);
    archive_read_support_format_cab(a);
    archive_read_support_format_rar(a);
    archive_read_support_format_rar5(a);
    archive_read_support_format_tar(a);
    archive_read_support_format_gnutar(a);
    archive_read_support_format_raw(a);
    archive_read_support_filter_all(a);
    if (legacyNames)
        archive_read_set_options(a, "hdrcharset=CP932");
    if (archive_read_open_filename(a, path.c_str(), 64 * 1024) != ARCHIVE_OK) {
        archive_read_free(a);
        return nullptr;
    }
    return a;
}

bool startsWithGzipMagic(const std::string &path)
{
    unsigned char magic[2] = {};
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool yes = fd >= 0 && pread(fd, magic, 2, 0) == 2 && magic[0] == 0x1f && magic[1] == 0x8b;
    if (fd >= 0)
        close(fd);
    return yes;
}

struct PlainEntry {
    std::string raw;         // name as libarchive gives it
    std::string linkRaw;     // hard or symbolic link target
    bool hardLink = false;
    unsigned type = 0;
    mode_t mode = 0;
    bool encrypted = false;
    std::string data;        // the bytes, holes filled with zeros
};

struct PlainRead {
    bool ok = false;  // every header and all data read to the archive's end
    bool raw = false; // a single compressed file
    bool compressed = false;
    std::vector<PlainEntry> entries;
    std::string error;
};

PlainRead readPlain(const std::string &path, bool legacyNames, bool withData)
{
    PlainRead out;
    archive *a = openPlain(path, legacyNames);
    if (!a) {
        out.error = "does not open";
        return out;
    }
    archive_entry *e;
    int r;
    while ((r = archive_read_next_header(a, &e)) == ARCHIVE_OK) {
        PlainEntry pe;
        const char *name = archive_entry_pathname(e);
        pe.raw = name ? name : "";
        if (const char *h = archive_entry_hardlink(e)) {
            pe.hardLink = true;
            pe.linkRaw = h;
        } else if (const char *s = archive_entry_symlink(e)) {
            pe.linkRaw = s;
        }
        pe.type = archive_entry_filetype(e);
        pe.mode = archive_entry_mode(e);
        pe.encrypted = archive_entry_is_encrypted(e);
        // Data is read where the extraction reads it: for files.
        if (withData && !pe.hardLink && (pe.type == AE_IFREG || pe.type == 0)) {
            const void *buf;
            size_t len;
            la_int64_t offset;
            int d;
            while ((d = archive_read_data_block(a, &buf, &len, &offset)) == ARCHIVE_OK) {
                if (offset < 0 || static_cast<uint64_t>(offset) + len > (256u << 20)) {
                    d = ARCHIVE_FATAL;
                    break;
                }
                if (pe.data.size() < static_cast<size_t>(offset) + len)
                    pe.data.resize(static_cast<size_t>(offset) + len);
                if (len > 0)
                    std::memcpy(pe.data.data() + offset, buf, len);
            }
            if (d != ARCHIVE_EOF) {
                out.error = std::string("data of ") + pe.raw + ": " + (archive_error_string(a) ?: "?");
                r = d;
                out.entries.push_back(std::move(pe));
                break;
            }
            // A sparse entry ends in a hole as long as its stated size says.
            if (archive_entry_sparse_count(e) > 0 && archive_entry_size_is_set(e)
                && archive_entry_size(e) > static_cast<la_int64_t>(pe.data.size())
                && archive_entry_size(e) < (256 << 20))
                pe.data.resize(static_cast<size_t>(archive_entry_size(e)));
        }
        out.entries.push_back(std::move(pe));
    }
    out.raw = archive_format(a) == ARCHIVE_FORMAT_RAW;
    out.compressed = archive_filter_count(a) > 1;
    if (r == ARCHIVE_EOF)
        out.ok = true;
    else if (out.error.empty())
        out.error = archive_error_string(a) ?: "header";
    archive_read_free(a);
    return out;
}

// The output folder an extraction that succeeded must leave, built from a
// plain read of the archive: nothing when the extraction must not succeed.
struct Expected {
    bool possible = true;
    bool rawStream = false; // a single compressed file: `tree` holds its one file under ""
    std::string why;
    fuzz::Tree tree;
};

void impossible(Expected *x, const std::string &why)
{
    if (x->possible) {
        x->possible = false;
        x->why = why;
    }
}

fuzz::Node fileNode(const std::string &data)
{
    fuzz::Node n;
    n.size = data.size();
    n.crc = crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef *>(data.data()), static_cast<uInt>(data.size()));
    return n;
}

std::string joinParts(const std::vector<std::string> &parts, size_t count)
{
    std::string p;
    for (size_t i = 0; i < count; ++i)
        p += (i ? "/" : "") + parts[i];
    return p;
}

// Places one node at `parts` the way the extraction writes into its tree.
void place(fuzz::Tree *tree, const std::vector<std::string> &parts, const fuzz::Node &node, Expected *x)
{
    for (size_t i = 1; i < parts.size(); ++i) {
        const std::string folder = joinParts(parts, i);
        auto it = tree->find(folder);
        if (it == tree->end())
            (*tree)[folder] = fuzz::folderNode();
        else if (it->second.type != 'd')
            return impossible(x, "a folder of " + joinParts(parts, parts.size()) + " is a file or link");
    }
    const std::string path = joinParts(parts, parts.size());
    auto it = tree->find(path);
    if (it != tree->end()) {
        if (node.type == 'd' && it->second.type == 'd')
            return;
        if (node.type == 'd' || it->second.type == 'd')
            return impossible(x, "a file and a folder named " + path);
    }
    (*tree)[path] = node;
}

Expected expectedTree(const std::string &path)
{
    Expected x;
    // Names are read the way the extraction reads them: an archive that needs
    // no decompressor and holds a name that is not UTF-8 is read again with
    // CP932 names; a compressed one switches to CP932 at its first such name.
    const bool gzip = startsWithGzipMagic(path);
    const PlainRead names = readPlain(path, false, false);
    bool legacy = false;
    if (!gzip && !names.compressed) {
        for (const PlainEntry &e : names.entries)
            legacy = legacy || !isValidUtf8(e.raw);
        legacy = legacy || !names.ok;
    }
    PlainRead plain = readPlain(path, legacy, true);
    // An emptied archive is taken as such before any other reading (the raw
    // reader would take an LZH's lone end mark for one byte of data).
    if (fuzz::isEmptyArchive(path))
        return x; // nothing to extract
    if (!plain.ok) {
        impossible(&x, "libarchive fails: " + plain.error);
        return x;
    }
    if (plain.raw) {
        // A single compressed file, named after the archive or its gzip header.
        if (!gzip && !plain.compressed)
            impossible(&x, "not compressed: no archive");
        x.rawStream = true;
        if (plain.entries.size() == 1)
            x.tree[""] = fileNode(plain.entries[0].data);
        return x;
    }
    // Only tar keeps "\" in names.
    archive *probe = openPlain(path, legacy);
    archive_entry *pe;
    bool backslash = true;
    if (probe) {
        archive_read_next_header(probe, &pe);
        const int base = archive_format(probe) & ARCHIVE_FORMAT_BASE_MASK;
        backslash = base != ARCHIVE_FORMAT_TAR;
        archive_read_free(probe);
    }
    NameDecoder decoder(backslash, legacy);
    for (const PlainEntry &e : plain.entries) {
        decoder.observe(e.raw);
        std::string name = decoder.decode(e.raw);
        if (e.type == AE_IFDIR && !name.empty() && name.back() != '/')
            name.push_back('/');
        std::vector<std::string> parts;
        if (e.encrypted) {
            impossible(&x, "encrypted: " + name);
            continue;
        }
        if (!safeParts(name, &parts)) {
            impossible(&x, "unsafe name: " + name);
            continue;
        }
        if (parts.empty()) {
            if (e.type != AE_IFDIR)
                impossible(&x, "entry without a name");
            continue;
        }
        if (e.type == AE_IFDIR) {
            place(&x.tree, parts, fuzz::folderNode(), &x);
        } else if (e.hardLink) {
            std::vector<std::string> target;
            if (!safeParts(decoder.decode(e.linkRaw), &target) || target.empty()) {
                impossible(&x, "hard link leading out: " + name);
                continue;
            }
            auto it = x.tree.find(joinParts(target, target.size()));
            if (it == x.tree.end() || it->second.type != 'f') {
                impossible(&x, "hard link to nothing extracted: " + name);
                continue;
            }
            place(&x.tree, parts, it->second, &x);
        } else if (e.type == AE_IFLNK) {
            place(&x.tree, parts, fuzz::linkNode(decoder.decode(e.linkRaw)), &x);
        } else if (e.type == AE_IFREG || e.type == 0) {
            if (e.mode & (S_ISUID | S_ISGID))
                impossible(&x, "set-uid: " + name);
            place(&x.tree, parts, fileNode(e.data), &x);
        } else {
            impossible(&x, "device or pipe: " + name);
        }
    }
    return x;
}

std::string parentOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

void moveSubtree(const fuzz::Tree &from, const std::string &path, fuzz::Tree *to)
{
    for (auto it = from.lower_bound(path); it != from.end(); ++it) {
        const std::string &p = it->first;
        if (p != path && !(p.size() > path.size() && p.compare(0, path.size(), path) == 0 && p[path.size()] == '/'))
            break;
        (*to)[p] = it->second;
    }
}

// What the output folder holds after the staged tree is moved over what was
// there, every existing file or link replaced; false when an existing folder
// keeps a file out.
bool mergeInto(const fuzz::Tree &staged, const std::string &folder, fuzz::Tree *result)
{
    for (const auto &[path, node] : staged) {
        if (parentOf(path) != folder)
            continue;
        auto it = result->find(path);
        if (it == result->end()) {
            moveSubtree(staged, path, result);
        } else if (node.type == 'd' && it->second.type == 'd') {
            if (!mergeInto(staged, path, result))
                return false;
        } else if (it->second.type == 'd') {
            return false;
        } else {
            result->erase(it);
            moveSubtree(staged, path, result);
        }
    }
    return true;
}

// The one file a single compressed file gives, whatever its name.
bool matchRawStream(const Expected &x, const fuzz::Tree &before, const fuzz::Tree &after, std::string *why)
{
    fuzz::Tree added;
    for (const auto &[path, node] : after) {
        auto it = before.find(path);
        if (it == before.end() || !(it->second == node))
            added[path] = node;
    }
    if (added.size() != 1) {
        *why = "a single compressed file gave " + std::to_string(added.size()) + " new entries";
        return false;
    }
    if (x.tree.empty()) {
        *why = "libarchive reads no data";
        return false;
    }
    const fuzz::Node &want = x.tree.begin()->second;
    if (!(added.begin()->second == want)) {
        *why = "the decompressed file differs";
        return false;
    }
    return true;
}

void prepareOut(bool staged)
{
    g_sandbox->clearOut();
    if (!staged)
        return;
    const std::string out = g_sandbox->out();
    FUZZ_CHECK(mkdir((out + "/keep").c_str(), 0700) == 0);
    const int fd = open((out + "/keep/old.txt").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd >= 0 && write(fd, "old\n", 4) == 4);
    close(fd);
    const int fd2 = open((out + "/existing").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd2 >= 0 && write(fd2, "existing\n", 9) == 9);
    close(fd2);
    // Links the user made that lead out: extraction replaces them or fails,
    // and never writes through them.
    FUZZ_CHECK(symlink("..", (out + "/escape").c_str()) == 0);
    FUZZ_CHECK(symlink("../sentinel", (out + "/escape2").c_str()) == 0);
}

// Extracts the archive once into an empty output folder and once into one
// that holds something, and checks each.
class Run {
public:
    explicit Run(std::string archive) : m_archive(std::move(archive)) {}

    void extract(bool staged)
    {
        prepareOut(staged);
        const std::string out = g_sandbox->out();
        const fuzz::Tree before = fuzz::snapshot(out);

        ExtractRequest request;
        request.archive = m_archive;
        request.formats = kAllFormats;
        request.outputDir = out;
        request.overwrite = OverwritePolicy::Force;
        const ExtractResult result = extractArchive(request, ExtractHooks{});
        if (g_verbose)
            std::fprintf(stderr, "result 0x%x (%s): %s", result.code, staged ? "staged" : "direct",
                         result.message.c_str());

        g_sandbox->checkOutsideUnchanged();
        const std::string leading = fuzz::linkLeadingOut(out, before);
        FUZZ_CHECK_MSG(leading.empty(), "a link leads out of the output folder: %s", leading.c_str());
        const fuzz::Tree after = fuzz::snapshot(out);
        if (result.code != SALVO_OK) {
            FUZZ_CHECK_MSG(after == before, "a failed extraction (0x%x: %s) changed the output folder:\n%s",
                           result.code, result.message.c_str(), fuzz::describe(after).c_str());
            return;
        }

        const Expected &x = expected();
        FUZZ_CHECK_MSG(x.possible, "extraction reported success, but %s", x.why.c_str());
        if (!m_listing) {
            m_listing = listArchive(m_archive, kAllFormats);
            FUZZ_CHECK_MSG(m_listing->code == SALVO_OK, "extraction reported success, the listing fails (0x%x: %s)",
                           m_listing->code, m_listing->message.c_str());
        }
        std::string why;
        if (x.rawStream) {
            FUZZ_CHECK_MSG(matchRawStream(x, before, after, &why), "%s", why.c_str());
            return;
        }
        fuzz::Tree want = before;
        FUZZ_CHECK_MSG(mergeInto(x.tree, std::string(), &want),
                       "an existing folder kept a file out, yet the result is 0");
        FUZZ_CHECK_MSG(after == want, "the output folder differs from the archive.\nexpected:\n%s\nfound:\n%s",
                       fuzz::describe(want).c_str(), fuzz::describe(after).c_str());
    }

    // The decoder's other readers take the same input without harm.
    void listAndCheck()
    {
        if (!m_listing)
            listArchive(m_archive, kAllFormats);
        checkArchive(m_archive, kAllFormats, SALVO_CHECKARCHIVE_FULLCRC);
    }

private:
    const Expected &expected()
    {
        if (!m_expected)
            m_expected = expectedTree(m_archive);
        return *m_expected;
    }

    std::string m_archive;
    std::optional<Expected> m_expected;
    std::optional<Listing> m_listing;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // A file that reaches the size limit fails to write (EFBIG) like on a full
    // disk; libFuzzer must not take the signal for a crash.
    static std::vector<char *> args(*argv, *argv + *argc);
    static char noXfsz[] = "-handle_xfsz=0";
    args.insert(args.begin() + 1, noXfsz);
    args.push_back(nullptr);
    *argc = static_cast<int>(args.size()) - 1;
    *argv = args.data();
    std::setlocale(LC_ALL, "C.UTF-8");
    setenv("TZ", "UTC", 1);
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {kFileSizeLimit, kFileSizeLimit};
    setrlimit(RLIMIT_FSIZE, &limit);
    umask(022);
    g_verbose = getenv("SALVO_FUZZ_VERBOSE") != nullptr;
    g_sandbox = new fuzz::Sandbox();
    std::atexit([] { delete g_sandbox; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Run run(g_sandbox->writeInput("input.arc", data, size));
    run.extract(false);
    run.extract(true);
    run.listAndCheck();
    return 0;
}
