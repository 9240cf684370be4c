// salvo-archive-worker: decodes archives for the archiver components in a
// process of its own, so that a crash, an abort or a hang on a hostile archive
// fails that one archive and never the program. It serves requests on its
// standard input (a socket shared with the component) until that closes.
// Each request is served by a child process of its own, confined by the
// kernel to what that request may touch (see Sandbox.h), while this process
// stays ready for the next request.
#include "../core/Wire.h"
#include "ArchiveWriting.h"
#include "ExtractionPlan.h"
#include "Names.h"
#include "Operations.h"
#include "Requests.h"
#include "Sandbox.h"
#include "SecondDecoder.h"
#include "VolumeInput.h"
#include "salvo_archiver.h"

#include <archive.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <vector>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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
// The files handed over with a request that reads an archive: they stand in
// for their paths from now on. The descriptors after them are returned.
bool takePassedFiles(WireReader &in, FdList &fds, FdList *rest)
{
    const uint32_t count = in.u32();
    std::vector<std::pair<std::string, int>> files;
    for (uint32_t i = 0; i < count && in.ok(); ++i) {
        std::string path = in.str();
        if (i < fds.size() && fds[i].valid())
            files.emplace_back(std::move(path), fds[i].release());
    }
    passFiles(std::move(files));
    for (size_t i = count; i < fds.size(); ++i)
        rest->push_back(std::move(fds[i]));
    return in.ok() && count <= fds.size();
}

// A request that only reads: from here on the process reads nothing but the
// files it was handed, and writes nothing at all (the second decoder, when the
// archive needs it, may still be run and read the archive).
void confineToReading()
{
    if (landlockAbi() > 0 && !confineTo({}, {}, SecondDecoder::current().grants()))
        _exit(1);
}

void serveList(WireReader &in, FdList &fds)
{
    using Clock = std::chrono::steady_clock;
    constexpr size_t kBatchEntries = 256;
    constexpr auto kBatchDelay = std::chrono::milliseconds(20);
    const std::string path = in.str();
    const uint32_t formats = in.u32();
    FdList rest;
    takePassedFiles(in, fds, &rest);
    SecondDecoder::current().prepare(path, formats);
    confineToReading();
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

void serveCheck(WireReader &in, FdList &fds)
{
    const std::string path = in.str();
    const uint32_t formats = in.u32();
    const int mode = static_cast<int>(in.u32());
    FdList rest;
    takePassedFiles(in, fds, &rest);
    SecondDecoder::current().prepare(path, formats);
    confineToReading();
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

void serveExtract(WireReader &in, bool range, FdList &fds)
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
    } else {
        const uint32_t count = in.u32();
        for (uint32_t i = 0; i < count && in.ok(); ++i)
            req.names.push_back(in.str());
        askPasswords = in.u32() != 0;
        req.exactNames = in.u32() != 0;
    }
    FdList rest;
    bool whole = takePassedFiles(in, fds, &rest);
    if (req.share == Share::Helper) {
        // The lead's output and staging folders come after the files.
        whole = whole && rest.size() == 2;
        if (whole) {
            req.outputFd = rest[0].get();
            req.stagingFd = rest[1].get();
        }
    }
    if (!in.ok() || !whole) {
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
    hooks.staging = [](const OutputRoot &root) {
        WireWriter w(Msg::Staging);
        w.str(root.stagingName()).u32(static_cast<uint32_t>(root.made().size()));
        for (const std::string &name : root.made())
            w.str(name);
        std::vector<int> passed{root.outputFd(), root.stagingFd()};
        if (!root.made().empty())
            passed.push_back(root.baseFd());
        if (!sendMessage(kOut, w.data(), passed))
            _exit(0);
    };
    if (in.ok() && whole)
        SecondDecoder::current().prepare(req.archive, req.formats);
    hooks.confine = [](int outputFd) {
        return landlockAbi() == 0 || confineTo({outputFd}, {}, SecondDecoder::current().grants());
    };
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

void servePlan(WireReader &in, FdList &fds)
{
    const std::string path = in.str();
    const uint32_t formats = in.u32();
    const bool flat = in.u32() != 0;
    const uint32_t most = in.u32();
    FdList rest;
    takePassedFiles(in, fds, &rest);
    SecondDecoder::current().prepare(path, formats);
    confineToReading();
    // What the second decoder reads goes to one decoder.
    const ExtractionPlan plan = in.ok() && !SecondDecoder::current().used()
        ? planExtraction(path, formats, flat, most, [] { reply(WireWriter(Msg::Alive)); })
        : ExtractionPlan();
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
    // The archive is rewritten in its own folder and nowhere else; an add
    // reads the files it was given, wherever they are.
    const size_t slash = req.archive.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : req.archive.substr(0, slash);
    const UniqueFd writable(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    const UniqueFd everything(adding ? ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC) : -1);
    std::vector<int> readable;
    if (everything.valid())
        readable.push_back(everything.get());
    if (landlockAbi() > 0 && (!writable.valid() || !confineTo({writable.get()}, readable))) {
        reply(WireWriter(Msg::Result).u32(SALVO_E_CANNOT_WRITE).u32(0).u32(0).str("書庫のフォルダを開けません: " + folder));
        return;
    }
    const AliveFn alive = [] { reply(WireWriter(Msg::Alive)); };
    req.replaced = [] { reply(WireWriter(Msg::Replaced)); };
    const WriteResult r = adding ? addFiles(req, alive) : deleteEntries(req, alive);
    reply(WireWriter(Msg::Result).u32(static_cast<uint32_t>(r.code)).u32(static_cast<uint32_t>(r.done))
              .u32(static_cast<uint32_t>(r.requested)).str(r.message));
}

// Serves one request in this (child) process.
void serve(const std::string &message, FdList fds)
{
    WireReader in(message);
    switch (in.kind()) {
    case Msg::List:
        serveList(in, fds);
        break;
    case Msg::Check:
        serveCheck(in, fds);
        break;
    case Msg::Extract:
    case Msg::ExtractRange:
        serveExtract(in, in.kind() == Msg::ExtractRange, fds);
        break;
    case Msg::Plan:
        servePlan(in, fds);
        break;
    case Msg::Delete:
    case Msg::Add:
        serveWrite(in, in.kind() == Msg::Add);
        break;
    default:
        reply(WireWriter(Msg::Result).u32(SALVO_E_INTERNAL).str("unknown request"));
        break;
    }
}

// What a request needs later that it cannot open once confined is made
// ready here, before any request: the CP932 converter and the time zone.
void warmUp()
{
    keepCodePageLoaded();
    tzset();
    const time_t now = time(nullptr);
    struct tm tm {};
    localtime_r(&now, &tm);
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
    forbidNewPrivileges();
    warmUp();
    const pid_t self = getpid();

    std::string message;
    FdList fds;
    while (readMessage(kIn, &message, -1, &fds) == ReadStatus::Ok) {
        if (WireReader(message).kind() == Msg::Version) {
            reply(WireWriter(Msg::Result).u32(SALVO_OK).str(archive_version_details()));
            continue;
        }
        const pid_t child = fork();
        if (child == 0) {
            // The child dies with this process: a component that stops its
            // decoder stops whatever serves the request.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != self)
                _exit(0);
            serve(message, std::move(fds));
            _exit(0);
        }
        fds.clear();
        int status = 0;
        while (child > 0 && waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        // A request that crashed, aborted or was cut short may have left its
        // answer half written: the component must see this decoder end.
        if (child < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            _exit(1);
    }
    return 0;
}
