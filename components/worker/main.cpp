// salvo-archive-worker: decodes archives for the archiver components in a
// process of its own, so that a crash, an abort or a hang on a hostile archive
// fails that one archive and never the program. It serves requests on its
// standard input (a socket shared with the component) until that closes.
#include "../core/Wire.h"
#include "ArchiveWriting.h"
#include "ExtractionPlan.h"
#include "Operations.h"
#include "Requests.h"
#include "salvo_archiver.h"

#include <archive.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <vector>

#include <clocale>
#include <cstdlib>
#include <csignal>
#include <string>
#include <sys/resource.h>

using namespace salvo::arc;

namespace {

constexpr int kIn = 0;
constexpr int kOut = 1;

// No archive may make the decoder take more than this much memory.
constexpr rlim_t kAddressSpaceLimit = rlim_t(2) * 1024 * 1024 * 1024;

// Messages go out whole: a keep-alive thread may send while the request's
// own work does (see KeepAlive.h).
void reply(const WireWriter &w)
{
    static std::mutex sending;
    std::lock_guard<std::mutex> lock(sending);
    if (!sendMessage(kOut, w.data()))
        _exit(0); // the component is gone
}

void putEntry(WireWriter &w, const EntryInfo &e)
{
    w.str(e.name).i64(e.size).i64(e.compressed).u32(e.dosDate).u32(e.dosTime).u32(e.mode);
    w.str(e.attribute).str(e.method);
}

// A listing goes out in batches while the archive is walked, so that the
// component can hand out the first entries long before a large walk ends;
// the final Entries message carries the outcome and the entries not yet sent.
void serveList(WireReader &in)
{
    using Clock = std::chrono::steady_clock;
    constexpr size_t kBatchEntries = 256;
    constexpr auto kBatchDelay = std::chrono::milliseconds(20);
    const std::string path = in.str();
    const uint32_t formats = in.u32();
    std::vector<EntryInfo> pending;
    Clock::time_point lastSent = Clock::now();
    auto flush = [&] {
        WireWriter w(Msg::Batch);
        w.u32(static_cast<uint32_t>(pending.size()));
        for (const EntryInfo &e : pending)
            putEntry(w, e);
        reply(w);
        pending.clear();
        lastSent = Clock::now();
    };
    const Listing listing = listArchive(path, formats, [] { reply(WireWriter(Msg::Alive)); },
                                        [&](const EntryInfo &e) {
                                            pending.push_back(e);
                                            if (pending.size() >= kBatchEntries || Clock::now() - lastSent >= kBatchDelay)
                                                flush();
                                        });
    if (!pending.empty())
        flush();
    const size_t from = std::min(listing.streamed, listing.entries.size());
    WireWriter w(Msg::Entries);
    w.u32(static_cast<uint32_t>(listing.code)).str(listing.message).u32(static_cast<uint32_t>(listing.entries.size() - from));
    for (size_t i = from; i < listing.entries.size(); ++i)
        putEntry(w, listing.entries[i]);
    reply(w);
}

void serveCheck(WireReader &in)
{
    const std::string path = in.str();
    const uint32_t formats = in.u32();
    const int mode = static_cast<int>(in.u32());
    const ExtractResult result = checkArchive(path, formats, mode, [] { reply(WireWriter(Msg::Alive)); });
    reply(WireWriter(Msg::Result).u32(static_cast<uint32_t>(result.code)).str(result.message));
}

// Reads an answer the component owes: the process ends when the component is gone.
std::string awaitAnswer()
{
    std::string answer;
    if (readMessage(kIn, &answer, -1) != ReadStatus::Ok)
        _exit(0);
    return answer;
}

void serveExtract(WireReader &in, bool range)
{
    ExtractRequest req;
    req.archive = in.str();
    req.formats = in.u32();
    req.outputDir = in.str();
    req.flat = in.u32() != 0;
    req.overwrite = static_cast<OverwritePolicy>(in.u32());
    bool askPasswords = false; // a shared extraction never meets an encrypted entry
    if (range) {
        const uint32_t share = in.u32();
        req.share = share == 1 ? Share::Lead : Share::Helper;
        req.first = in.u32();
        req.end = in.u32();
        req.legacyNames = in.u32() != 0 ? 1 : 0;
        req.staging = in.str();
    } else {
        const uint32_t count = in.u32();
        for (uint32_t i = 0; i < count && in.ok(); ++i)
            req.names.push_back(in.str());
        askPasswords = in.u32() != 0;
        req.exactNames = in.u32() != 0;
    }
    if (!in.ok()) {
        reply(WireWriter(range ? Msg::RangeDone : Msg::Result).u32(SALVO_E_INTERNAL).str("bad request"));
        return;
    }
    ExtractHooks hooks;
    if (askPasswords) {
        hooks.password = [](bool retry, std::string *password) {
            reply(WireWriter(Msg::AskPassword).u32(retry ? 1 : 0));
            std::string answer;
            if (readMessage(kIn, &answer, -1) != ReadStatus::Ok)
                _exit(0);
            WireReader r(answer);
            const bool given = r.kind() == Msg::Password && r.u32() != 0;
            if (given)
                *password = r.str();
            std::fill(answer.begin(), answer.end(), '\0');
            return given && r.ok();
        };
    }
    hooks.alive = [] { reply(WireWriter(Msg::Alive)); };
    hooks.progress = [](const std::string &entry, int64_t written, int64_t read, int64_t size) {
        reply(WireWriter(Msg::Progress).str(entry).i64(written).i64(read).i64(size));
    };
    hooks.staging = [](const std::string &staging) { reply(WireWriter(Msg::Staging).str(staging)); };
    hooks.ask = [](const std::string &path) {
        reply(WireWriter(Msg::Ask).str(path));
        const std::string message = awaitAnswer();
        WireReader r(message);
        const uint32_t answer = r.u32();
        return r.kind() == Msg::Answer && r.ok() ? static_cast<int>(answer) : SALVO_ANSWER_CANCEL;
    };
    hooks.rangeDone = [](const ExtractResult &own) {
        reply(WireWriter(Msg::RangeDone).u32(static_cast<uint32_t>(own.code)).u32(static_cast<uint32_t>(own.written))
                  .str(own.message));
        const std::string answer = awaitAnswer();
        WireReader r(answer);
        RangeVerdict verdict;
        verdict.code = static_cast<int>(r.u32());
        verdict.othersWritten = static_cast<int>(r.u32());
        verdict.message = r.str();
        if (r.kind() != Msg::Verdict || !r.ok())
            verdict = {SALVO_E_INTERNAL, "bad verdict", 0};
        return verdict;
    };
    const ExtractResult result = extractArchive(req, hooks);
    if (req.share == Share::Helper)
        reply(WireWriter(Msg::RangeDone).u32(static_cast<uint32_t>(result.code)).u32(static_cast<uint32_t>(result.written))
                  .str(result.message));
    else
        reply(WireWriter(Msg::Result).u32(static_cast<uint32_t>(result.code)).str(result.message));
}

void servePlan(WireReader &in)
{
    const std::string path = in.str();
    const uint32_t formats = in.u32();
    const bool flat = in.u32() != 0;
    const uint32_t most = in.u32();
    const ExtractionPlan plan =
        in.ok() ? planExtraction(path, formats, flat, most, [] { reply(WireWriter(Msg::Alive)); }) : ExtractionPlan();
    WireWriter w(Msg::Ranges);
    w.u32(plan.legacyNames ? 1 : 0).u32(static_cast<uint32_t>(plan.starts.size()));
    for (uint32_t start : plan.starts)
        w.u32(start);
    reply(w);
}

void serveWrite(WireReader &in, bool adding)
{
    WriteRequest req;
    if (!readWriteRequest(in, adding, &req)) {
        reply(WireWriter(Msg::Result).u32(SALVO_E_INTERNAL).u32(0).u32(0).str("bad request"));
        return;
    }
    const AliveFn alive = [] { reply(WireWriter(Msg::Alive)); };
    req.replaced = [] { reply(WireWriter(Msg::Replaced)); };
    const WriteResult r = adding ? addFiles(req, alive) : deleteEntries(req, alive);
    reply(WireWriter(Msg::Result).u32(static_cast<uint32_t>(r.code)).u32(static_cast<uint32_t>(r.done))
              .u32(static_cast<uint32_t>(r.requested)).str(r.message));
}

} // namespace

int main()
{
    // Names inside archives are handed on as bytes; UTF-8 ones stay UTF-8.
    std::setlocale(LC_ALL, "C.UTF-8");
    // With TZ unset the C library looks at /etc/localtime again at every time
    // conversion (libarchive makes one per entry); naming it once keeps the
    // same zone without the lookups.
    setenv("TZ", ":/etc/localtime", 0);
    std::signal(SIGPIPE, SIG_IGN);
    // A file size limit makes writes fail (EFBIG) instead of ending the process.
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {kAddressSpaceLimit, kAddressSpaceLimit};
    setrlimit(RLIMIT_AS, &limit);

    std::string message;
    while (readMessage(kIn, &message, -1) == ReadStatus::Ok) {
        WireReader in(message);
        switch (in.kind()) {
        case Msg::List:
            serveList(in);
            break;
        case Msg::Check:
            serveCheck(in);
            break;
        case Msg::Extract:
        case Msg::ExtractRange:
            serveExtract(in, in.kind() == Msg::ExtractRange);
            break;
        case Msg::Plan:
            servePlan(in);
            break;
        case Msg::Delete:
        case Msg::Add:
            serveWrite(in, in.kind() == Msg::Add);
            break;
        case Msg::Version:
            reply(WireWriter(Msg::Result).u32(SALVO_OK).str(archive_version_details()));
            break;
        default:
            reply(WireWriter(Msg::Result).u32(SALVO_E_INTERNAL).str("unknown request"));
            break;
        }
    }
    return 0;
}
