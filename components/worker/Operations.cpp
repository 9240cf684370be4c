#include "Operations.h"

#include <cstring>

#include "ArchiveSource.h"
#include "EntryNames.h"
#include "FormatChecks.h"
#include "core/CommandLine.h"
#include "Names.h"
#include "SafeTree.h"
#include "SecondDecoder.h"
#include "ZipDeflatedData.h"
#include "salvo_archiver.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>

namespace salvo::arc {
namespace {

using Stage = ArchiveSource::Stage;

} // namespace

CheckFailure endOfArchive(ArchiveSource &src, const FormatChecks &checks)
{
    if (CheckFailure f = src.finishStream())
        return f;
    if (CheckFailure f = checks.atEnd(src.position()))
        return f;
    return src.unreadVolumes();
}

std::string rawEntryName(ArchiveSource &src, archive_entry *e)
{
    if (src.isRawStream())
        return src.rawName();
    const char *p = archive_entry_pathname(e);
    return p ? p : "";
}

std::string withFolderMark(std::string name, archive_entry *e)
{
    if (archive_entry_filetype(e) == AE_IFDIR && !name.empty() && name.back() != '/')
        name.push_back('/');
    return name;
}

bool needsLegacyNames(const std::string &path, uint32_t formats)
{
    ArchiveSource src(path, formats);
    std::string ignored;
    if (src.open(&ignored) != SALVO_OK)
        return false;
    archive_entry *e;
    int r;
    while ((r = archive_read_next_header(src.handle(), &e)) == ARCHIVE_OK) {
        if (!isValidUtf8(rawEntryName(src, e)))
            return true;
    }
    return r != ARCHIVE_EOF;
}

namespace {

// Where a block of an entry's data goes (nowhere when the data is only checked).
using DataSink = std::function<bool(const void *data, size_t length, int64_t offset, TreeError *err)>;

// Reads the data of the current entry, block by block. It is whole only when
// every call answered OK, the format's own checks hold and the data is as long
// as its header says: a header that lies about the size is damage, and only a
// sparse tar entry may end in a hole. The deflated data of a ZIP entry may be
// inflated by the fast inflater; where it does not answer, libarchive reads
// the data as always.
CheckFailure readEntryData(ArchiveSource &src, FormatChecks &checks, archive_entry *e, const DataSink &sink,
                           AliveTicker &ticker)
{
    const int64_t stated = archive_entry_size_is_set(e) ? archive_entry_size(e) : -1;
    // An empty file has no data to read. Some formats still store a stream for
    // it (ZIP's LZMA writes an empty one that libarchive refuses to decode),
    // so asking for its data could only fail an entry that is whole.
    if (stated == 0 && archive_entry_sparse_count(e) == 0)
        return checks.endEntry();
    // Only an entry libarchive itself would inflate (its local header says
    // deflate: libarchive names the method in the format's name) is inflated
    // here.
    const char *format = archive_format_name(src.handle());
    const bool deflated = format && std::strstr(format, "(deflation)");
    if (ZipDeflatedData *zip = stated >= 0 && deflated && !checks.entryEncrypted() ? src.fastZipData() : nullptr) {
        TreeError err;
        bool stopped = false;
        const ZipDeflatedData::Outcome outcome =
            zip->read(src.position(), stated, [&](const void *data, size_t length, int64_t offset) {
                if (sink && !sink(data, length, offset, &err)) {
                    stopped = true;
                    return false;
                }
                checks.data(data, length);
                ticker.tick();
                return true;
            });
        if (stopped)
            return {err.code, err.text};
        if (outcome == ZipDeflatedData::Outcome::Done)
            return checks.endEntry();
    }
    int64_t end = 0;
    const void *buf;
    size_t len;
    la_int64_t offset;
    int d;
    while ((d = archive_read_data_block(src.handle(), &buf, &len, &offset)) == ARCHIVE_OK) {
        TreeError err;
        if (sink && !sink(buf, len, offset, &err))
            return {err.code, err.text};
        checks.data(buf, len);
        end = std::max<int64_t>(end, offset + static_cast<int64_t>(len));
        ticker.tick();
    }
    if (d != ARCHIVE_EOF)
        return {src.failureCode(d, Stage::Data, e, stated >= 0 && end >= stated), src.errorText()};
    if (CheckFailure f = checks.endEntry())
        return f;
    const bool sparse = archive_entry_sparse_count(e) > 0;
    if (stated >= 0 && (sparse ? end > stated : end != stated))
        return {SALVO_E_HEADER_BROKEN, "ヘッダーの示す大きさ (" + std::to_string(stated) + ") とデータの大きさ ("
                                           + std::to_string(end) + ") が違います"};
    return {};
}

} // namespace

ExtractResult checkArchive(const std::string &path, uint32_t formats, int mode, const AliveFn &alive)
{
    if (SecondDecoder::current().used())
        return SecondDecoder::current().check(mode, alive);
    AliveTicker ticker(alive);
    ArchiveSource src(path, formats);
    ExtractResult out;
    out.code = src.open(&out.message);
    if (out.code != SALVO_OK)
        return out;
    archive_entry *e;
    int r = archive_read_next_header(src.handle(), &e);
    if (r == ARCHIVE_OK && src.isRawStream() && !src.compressed())
        return {SALVO_E_NOT_ARC_FILE, "書庫ではありません"}; // an uncompressed file of any kind is no archive
    if (r == ARCHIVE_EOF)
        return {SALVO_E_NOT_ARC_FILE, "項目がありません"};
    if (r != ARCHIVE_OK)
        return {src.failureCode(r, Stage::Header), src.errorText()};
    const int level = mode & 7;
    if (level == SALVO_CHECKARCHIVE_RAPID)
        return {};
    FormatChecks checks(src, formats);
    if (CheckFailure f = checks.atStart())
        return {f.code, f.text};
    const bool readData = level >= SALVO_CHECKARCHIVE_FULLCRC;
    for (; r == ARCHIVE_OK; r = archive_read_next_header(src.handle(), &e)) {
        ticker.tick();
        if (CheckFailure f = checks.beginEntry(e))
            return {f.code, f.text};
        const unsigned type = archive_entry_filetype(e);
        if (!readData || (type != AE_IFREG && type != 0) || archive_entry_hardlink(e))
            continue;
        const char *name = archive_entry_pathname(e);
        if (checks.entryEncrypted())
            return {src.canDecrypt() ? SALVO_E_PASSWORD_FILE : SALVO_E_CANNOT_DECRYPT,
                    std::string("暗号化されています(パスワードが必要です): ") + (name ? name : "")};
        if (CheckFailure f = readEntryData(src, checks, e, {}, ticker))
            return {f.code, f.text + ": " + (name ? name : "")};
    }
    if (r != ARCHIVE_EOF)
        return {src.failureCode(r, Stage::Header), src.errorText()};
    if (CheckFailure f = endOfArchive(src, checks))
        return {f.code, f.text};
    return {};
}

namespace {

class Extraction {
public:
    Extraction(const ExtractRequest &req, const ExtractHooks &hooks)
        : m_req(req), m_hooks(hooks), m_ticker(hooks.alive)
    {
    }

    ExtractResult run()
    {
        ExtractResult result;
        // The output folder first: from then on the decoder writes nowhere else.
        std::string error;
        const bool helper = m_req.share == Share::Helper;
        std::unique_ptr<SafeTree> tree =
            helper ? SafeTree::adopt(m_req.outputDir, UniqueFd(fcntl(m_req.outputFd, F_DUPFD_CLOEXEC, 0)),
                                     UniqueFd(fcntl(m_req.stagingFd, F_DUPFD_CLOEXEC, 0)))
                   : SafeTree::create(m_req.outputDir, &error);
        if (!tree) {
            result.code = SALVO_E_MAKEDIRECTORY;
            result.message = error.empty() ? "展開先のフォルダに書き込めません: " + m_req.outputDir : error;
            return result;
        }
        if (m_hooks.confine && !m_hooks.confine(tree->root().outputFd())) {
            tree->discard();
            return {SALVO_E_INTERNAL, "展開処理を展開先のフォルダに閉じ込められません\n"};
        }
        if (m_hooks.staging && !helper)
            m_hooks.staging(tree->root());
        // What libarchive cannot read goes to the second decoder; either way
        // the entries land in the staging folder and are placed below.
        const SecondDecoder &second = SecondDecoder::current();
        if (second.used()) {
            SecondDecoder::Tally tally;
            result = second.extract(m_req, m_hooks, *tree, &tally);
            result.written = m_written = tally.written;
            m_kept = tally.kept;
            m_linksLeftOut = tally.linksLeftOut;
            m_notes = tally.notes;
        } else {
            result = extractInto(*tree);
        }
        // A helper leaves what it wrote to the lead, which alone moves it into
        // place or removes it, once every range is done.
        if (helper)
            return result;
        if (m_req.share == Share::Lead && m_hooks.rangeDone) {
            const RangeVerdict verdict = m_hooks.rangeDone(result);
            if (verdict.code != SALVO_OK) {
                tree->discard();
                return {verdict.code, verdict.message};
            }
            m_written += verdict.othersWritten;
        }
        if (result.code != SALVO_OK) {
            tree->discard();
            return result;
        }
        MoveOutcome moved = tree->moveInto();
        result.message = m_notes + moved.message;
        if (moved.cancelled)
            result.code = SALVO_E_USER_CANCEL;
        else if (moved.failed)
            result.code = moved.failCode;
        else if (m_linksLeftOut > 0)
            result.code = SALVO_E_UNSAFE_PATH;
        else if (moved.kept + m_kept > 0)
            result.code = SALVO_E_USER_SKIP;
        if (result.code == SALVO_OK)
            result.message += std::to_string(m_written) + "個のファイルを展開しました。\n";
        return result;
    }

private:
    bool wanted(const std::string &name) const
    {
        if (m_req.names.empty())
            return true;
        for (const std::string &mask : m_req.names) {
            if (m_req.exactNames ? name == mask : matchesName(name, mask))
                return true;
        }
        return false;
    }

    ExtractResult fail(int code, const std::string &text) { return ExtractResult{code, text + "\n"}; }

    // Reads the archive and writes its entries into the staging folder.
    ExtractResult extractInto(SafeTree &tree)
    {
        ExtractResult result;
        std::unique_ptr<ArchiveSource> src;
        const auto open = [&](bool legacyNames) {
            src = std::make_unique<ArchiveSource>(m_req.archive, m_req.formats, legacyNames);
            if (m_hooks.password)
                src->setPasswordSource(m_hooks.password);
            src->setStreamThreads(m_req.streamThreads);
            result.code = src->open(&result.message);
            return result.code == SALVO_OK;
        };
        if (!open(false))
            return result;
        archive_entry *e = nullptr;
        int first = archive_read_next_header(src->handle(), &e);

        // Without a compressor the headers can be read cheaply, so all names are
        // looked at before the first one is used; an archive with legacy names
        // is then read again with CP932 names. A compressed stream decides on
        // the way (a CP932 name switches the rest to CP932). The listing reads
        // names by the same rule. A shared extraction has it decided by its plan.
        const bool seekable = !src->compressed();
        const bool legacy = m_req.legacyNames >= 0 ? m_req.legacyNames > 0
                                                   : seekable && needsLegacyNames(m_req.archive, m_req.formats);
        if (legacy) {
            if (!open(true))
                return result;
            first = archive_read_next_header(src->handle(), &e);
        }
        tree.setOverwriteRule(m_req.overwrite, m_hooks.ask);
        for (const VolumeInput::Volume &v : src->input().volumes())
            tree.protect(v.st.st_dev, v.st.st_ino);

        FormatChecks checks(*src, m_req.formats);
        NameDecoder decoder(src->backslashIsSeparator(), legacy);
        m_decoder = &decoder;
        result = readEntries(*src, checks, first, e, seekable, tree);
        result.written = m_written;
        m_decoder = nullptr;
        return result;
    }

    ExtractResult readEntries(ArchiveSource &src, FormatChecks &checks, int r, archive_entry *e, bool namesDecided,
                              SafeTree &tree)
    {
        if (r != ARCHIVE_OK && r != ARCHIVE_EOF)
            return fail(src.failureCode(r, Stage::Header), src.errorText());
        if (r == ARCHIVE_OK && src.isRawStream() && !src.compressed())
            return fail(SALVO_E_NOT_ARC_FILE, "書庫ではありません: " + m_req.archive);
        if (CheckFailure f = checks.atStart())
            return fail(f.code, f.text + ": " + m_req.archive);
        NameDecoder &decoder = *m_decoder;

        int matched = 0;
        for (uint32_t index = 0; r == ARCHIVE_OK; r = archive_read_next_header(src.handle(), &e), ++index) {
            // The entries after this decoder's range are another one's, and so
            // are the archive's end checks.
            if (index >= m_req.end)
                return {};
            m_ticker.tick();
            if (CheckFailure f = checks.beginEntry(e))
                return fail(f.code, f.text + ": " + m_req.archive);
            const std::string raw = rawEntryName(src, e);
            if (!namesDecided)
                decoder.observe(raw);
            // Entries before the range are only walked past (their data is skipped).
            if (index < m_req.first)
                continue;
            if (m_startPosition < 0)
                m_startPosition = m_req.first == 0 ? 0 : src.inputPosition();
            const std::string name = withFolderMark(decoder.decode(raw), e);
            if (!wanted(name))
                continue;
            ++matched;
            if (checks.entryEncrypted()) {
                // libarchive asks for the password itself when it reads the data.
                if (!src.canDecrypt())
                    return fail(SALVO_E_CANNOT_DECRYPT, "暗号化されていますが、この形式の暗号は解除できません: " + name);
                if (!m_hooks.password)
                    return fail(SALVO_E_PASSWORD_FILE, "暗号化されています(パスワードが必要です): " + name);
            }

            std::vector<std::string> parts;
            if (!safeParts(name, &parts))
                return fail(SALVO_E_UNSAFE_PATH, "展開先の外を指す名前のため中止しました: " + name);
            const unsigned type = archive_entry_filetype(e);
            if (parts.empty()) {
                if (type == AE_IFDIR)
                    continue; // "./": the output folder itself
                return fail(SALVO_E_HEADER_BROKEN, "名前のない項目があります");
            }
            const std::vector<std::string> stored = parts;
            if (m_req.flat) {
                if (type == AE_IFDIR)
                    continue;
                parts.erase(parts.begin(), parts.end() - 1);
            }
            const ExtractResult one = writeEntry(src, checks, tree, e, name, stored, parts, type);
            if (one.code != SALVO_OK)
                return one;
        }
        if (r != ARCHIVE_EOF)
            return fail(src.failureCode(r, Stage::Header), src.errorText() + ": " + m_req.archive);
        if (CheckFailure f = endOfArchive(src, checks))
            return fail(f.code, f.text + ": " + m_req.archive);
        if (!m_req.names.empty() && matched == 0)
            return fail(SALVO_E_NOT_FIND_FILE, "指定されたファイルが書庫にありません");
        return {};
    }

    // Without folders, two entries of the same name meet: the later one
    // replaces the earlier only as an existing file would be replaced.
    // False when the entry is to be left out (`stop` says whether to stop).
    bool mayWrite(SafeTree &tree, const std::vector<std::string> &parts, const std::string &name, ExtractResult *stop)
    {
        if (!m_req.flat || !tree.holds(parts))
            return true;
        const int answer = tree.decide(parts.back());
        if (answer == SALVO_ANSWER_YES || answer == SALVO_ANSWER_YES_TO_ALL)
            return true;
        if (answer == SALVO_ANSWER_CANCEL) {
            *stop = fail(SALVO_E_USER_CANCEL, "中止しました。");
        } else {
            ++m_kept;
            m_notes += "同じ名前のファイルを先に展開したため展開しませんでした: " + name + "\n";
        }
        return false;
    }

    ExtractResult writeEntry(ArchiveSource &src, FormatChecks &checks, SafeTree &tree, archive_entry *e,
                             const std::string &name, const std::vector<std::string> &stored,
                             const std::vector<std::string> &parts, unsigned type)
    {
        TreeError err;
        if (type == AE_IFDIR) {
            if (!tree.makeFolder(parts, archive_entry_mode(e), &err))
                return fail(err.code, err.text + ": " + name);
            return {};
        }
        ExtractResult stop;
        if (!mayWrite(tree, parts, name, &stop))
            return stop;
        // A shared extraction was planned for an archive without links: one
        // that has them after all is not the archive the plan read.
        if ((archive_entry_hardlink(e) || type == AE_IFLNK) && m_req.share != Share::Whole)
            return fail(SALVO_E_UNSAFE_PATH, "分担して展開する書庫にリンクがあります: " + name);
        if (const char *link = archive_entry_hardlink(e)) {
            std::vector<std::string> target;
            if (!safeParts(m_decoder->decode(link), &target) || target.empty())
                return fail(SALVO_E_UNSAFE_PATH, "展開先の外へのリンクのため中止しました: " + name);
            if (m_req.flat)
                target.erase(target.begin(), target.end() - 1);
            if (!tree.makeHardLink(parts, target, &err))
                return fail(err.code, err.text + ": " + name);
            ++m_written;
            return {};
        }
        if (type == AE_IFLNK) {
            const char *text = archive_entry_symlink(e);
            const std::string target = text ? m_decoder->decode(text) : std::string();
            // A link that leads out from where the archive puts it is hostile;
            // one that only leads out because it lost its folders is left out.
            if (!SafeTree::staysInsideByText(stored, target))
                return fail(SALVO_E_UNSAFE_PATH, "展開先の外を指すリンクのため中止しました: " + name);
            if (stored.size() != parts.size() && !tree.staysInside(parts, target)) {
                ++m_linksLeftOut;
                m_notes += "フォルダなしではリンク先が変わるため作成しませんでした: " + name + "\n";
                return {};
            }
            if (!tree.makeSymlink(parts, target, &err))
                return fail(err.code, err.text + ": " + name);
            ++m_written;
            return {};
        }
        if (type != AE_IFREG && type != 0)
            return fail(SALVO_E_UNKNOWN_TYPE, "デバイスや名前付きパイプは作成しません: " + name);
        if (archive_entry_mode(e) & (S_ISUID | S_ISGID))
            return fail(SALVO_E_UNKNOWN_TYPE, "set-uid や set-gid のファイルは作成しません: " + name);

        FileWriter out = tree.createFile(parts, &err);
        if (!out.ok())
            return fail(err.code, err.text + ": " + name);
        const DataSink sink = [&](const void *data, size_t length, int64_t offset, TreeError *error) {
            m_bytesWritten += static_cast<int64_t>(length);
            reportProgress(src, name);
            return out.write(data, length, offset, error);
        };
        if (CheckFailure f = readEntryData(src, checks, e, sink, m_ticker))
            return fail(f.code, f.text + ": " + name);
        const int64_t sparseSize = archive_entry_sparse_count(e) > 0 ? archive_entry_size(e) : -1;
        if (!out.finish(sparseSize, archive_entry_mode(e), archive_entry_mtime_is_set(e) ? archive_entry_mtime(e) : -1,
                        archive_entry_mtime_nsec(e), &err))
            return fail(err.code, err.text + ": " + name);
        ++m_written;
        return {};
    }

    // Tells how far the extraction has come, at most every 200 ms.
    void reportProgress(const ArchiveSource &src, const std::string &entry)
    {
        if (!m_hooks.progress)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (m_reported && now - m_lastReport < std::chrono::milliseconds(200))
            return;
        m_reported = true;
        m_lastReport = now;
        const int64_t read = std::max<int64_t>(src.inputPosition() - std::max<int64_t>(m_startPosition, 0), 0);
        m_hooks.progress(entry, m_bytesWritten, read, src.input().size());
    }

    const ExtractRequest &m_req;
    const ExtractHooks &m_hooks;
    AliveTicker m_ticker;
    int64_t m_bytesWritten = 0;
    int64_t m_startPosition = -1; // where this decoder's range began in the file
    bool m_reported = false;
    std::chrono::steady_clock::time_point m_lastReport;
    int m_written = 0;
    int m_kept = 0;         // entries left out for an earlier one of the same name
    int m_linksLeftOut = 0; // links that would lead elsewhere without their folders
    std::string m_notes;
    NameDecoder *m_decoder = nullptr;
};

} // namespace

void AliveTicker::tick()
{
    if (!m_alive)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_last >= std::chrono::seconds(1)) {
        m_last = now;
        m_alive();
    }
}

ExtractResult extractArchive(const ExtractRequest &request, const ExtractHooks &hooks)
{
    return Extraction(request, hooks).run();
}

} // namespace salvo::arc
