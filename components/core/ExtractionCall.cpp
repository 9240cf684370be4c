#include "ExtractionCall.h"

#include "ArchiveFiles.h"
#include "TreeRemoval.h"
#include "WorkerClient.h"
#include "salvo_archiver.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <poll.h>
#include <sched.h>
#include <sys/stat.h>
#include <vector>

namespace salvo::arc {
namespace {

using Clock = std::chrono::steady_clock;
using Decoder = WorkerClient::Decoder;

std::atomic<int> g_decoderCount{0};

const char kCancelledText[] = "中止しました。\n";

std::string crashText(const std::string &archive)
{
    return "書庫の展開中に展開処理が異常終了しました: " + archive + "\n";
}

// The request of the whole extraction, for one decoder.
std::string wholeRequest(uint32_t formats, const Command &command, OverwritePolicy policy, bool askPasswords,
                         const ArchiveFiles &files)
{
    WireWriter w(Msg::Extract);
    w.str(command.archive).u32(formats).str(command.outputDir).u32(command.flat ? 1 : 0);
    w.u32(static_cast<uint32_t>(policy));
    w.u32(static_cast<uint32_t>(command.names.size()));
    for (const std::string &n : command.names)
        w.str(n);
    w.u32(askPasswords ? 1 : 0); // the decoder may ask for passwords
    w.u32(command.exactNames ? 1 : 0);
    w.u32(decoderCount()); // threads for an xz file of several blocks
    files.describe(w);
    return w.data();
}

struct Plan {
    bool legacyNames = false;
    std::vector<uint32_t> starts;
};

// Asks the decoder how to share the extraction; one range when not at all.
bool askPlan(Decoder *d, uint32_t formats, const Command &command, unsigned most, const ArchiveFiles &files,
             Plan *plan)
{
    std::string reply;
    WireWriter request(Msg::Plan);
    request.str(command.archive).u32(formats).u32(command.flat ? 1 : 0).u32(most);
    files.describe(request);
    if (!WorkerClient::send(d, request.data(), files.descriptors()) || !WorkerClient::await(d, &reply, {}))
        return false;
    WireReader r(reply);
    plan->legacyNames = r.u32() != 0;
    const uint32_t count = r.u32();
    for (uint32_t i = 0; i < count && i < most && r.ok(); ++i)
        plan->starts.push_back(r.u32());
    if (r.kind() != Msg::Ranges || !r.ok() || plan->starts.empty() || plan->starts[0] != 0)
        plan->starts = {0};
    return true;
}

// One range of a shared extraction and the decoder that extracts it.
struct Range {
    enum class State { Waiting, Running, Done, Failed, Stopped };
    Decoder decoder;
    uint32_t first = 0, end = UINT32_MAX;
    State state = State::Waiting;
    int code = 0;
    int written = 0;
    std::string message;
    Clock::time_point heard;
    int64_t bytesWritten = 0, bytesRead = 0; // as the decoder last told
};

// The first range's decoder leads: it makes the staging folder, and once every
// range is over it moves everything into place (asking about existing files)
// or removes it all, as the verdict says. The other decoders write into its
// staging folder. Only the lead asks questions, and only after the others are
// done, so they come one at a time and each once.
class SharedExtraction {
public:
    SharedExtraction(uint32_t formats, const Command &command, OverwritePolicy policy, const Plan &plan,
                     const ArchiveFiles &files, CreatedOutput &created, const CallHooks &hooks)
        : m_formats(formats), m_command(command), m_policy(policy), m_plan(plan), m_files(files), m_created(created),
          m_hooks(hooks)
    {
    }

    int run(Decoder lead, std::string *output)
    {
        const size_t n = m_plan.starts.size();
        m_ranges.resize(n);
        for (size_t k = 0; k < n; ++k) {
            m_ranges[k].first = m_plan.starts[k];
            m_ranges[k].end = k + 1 < n ? m_plan.starts[k + 1] : UINT32_MAX;
            m_ranges[k].decoder = k == 0 ? lead : WorkerClient::instance().take();
        }
        Range &first = m_ranges[0];
        first.state = Range::State::Running;
        first.heard = Clock::now();
        m_leadAlive = WorkerClient::send(&first.decoder, rangeRequest(first, true), m_files.descriptors());
        while (m_leadAlive && !m_finished && !m_cancelled)
            step();
        int code = m_code;
        if (m_cancelled) {
            // Stopped from outside: every decoder is killed, what was written removed.
            for (Range &r : m_ranges)
                WorkerClient::stop(&r.decoder);
            m_created.remove();
            m_output = kCancelledText;
            code = SALVO_E_USER_CANCEL;
        } else if (!m_finished) {
            // The lead is gone: nothing moves what was written into place.
            for (Range &r : m_ranges)
                WorkerClient::stop(&r.decoder);
            m_created.remove();
            m_output = crashText(m_command.archive);
            code = SALVO_E_WORKER;
        }
        for (Range &r : m_ranges) {
            if (r.state == Range::State::Running && &r != &first)
                WorkerClient::stop(&r.decoder);
            else
                WorkerClient::instance().giveBack(r.decoder); // a stopped one is not kept
        }
        if (code != SALVO_OK)
            m_created.removeMadeFolders();
        *output = m_output;
        return code;
    }

private:
    std::string rangeRequest(const Range &r, bool lead) const
    {
        WireWriter w(Msg::ExtractRange);
        w.str(m_command.archive).u32(m_formats).str(m_command.outputDir).u32(m_command.flat ? 1 : 0);
        w.u32(static_cast<uint32_t>(m_policy)).u32(lead ? 1 : 2).u32(r.first).u32(r.end);
        w.u32(m_plan.legacyNames ? 1 : 0);
        m_files.describe(w);
        return w.data();
    }

    // A range failed: the ranges after it stop at once. Their entries come
    // later in the archive, so the failure reported is this one or one before
    // it, the same as when one decoder reads the archive in order.
    void fail(size_t k, int code, const std::string &message)
    {
        Range &r = m_ranges[k];
        r.state = Range::State::Failed;
        r.code = code;
        r.message = message;
        for (size_t j = k + 1; j < m_ranges.size(); ++j) {
            if (m_ranges[j].state == Range::State::Running) {
                WorkerClient::stop(&m_ranges[j].decoder);
                m_ranges[j].state = Range::State::Stopped;
            }
        }
    }

    // The lead has made its staging folder: each helper gets it, open, with
    // the output folder, and writes into nothing else.
    void startHelpers()
    {
        std::vector<int> fds = m_files.descriptors();
        fds.push_back(m_created.outputFd());
        fds.push_back(m_created.stagingFd());
        for (size_t k = 1; k < m_ranges.size(); ++k) {
            Range &r = m_ranges[k];
            if (r.state != Range::State::Waiting || m_ranges[0].state == Range::State::Failed)
                continue;
            r.state = Range::State::Running;
            r.heard = Clock::now();
            if (!m_created.known() || !WorkerClient::send(&r.decoder, rangeRequest(r, false), fds))
                fail(k, SALVO_E_WORKER, crashText(m_command.archive));
        }
    }

    bool rangesOver() const
    {
        for (const Range &r : m_ranges) {
            if (r.state == Range::State::Running)
                return false;
        }
        return true;
    }

    // Every range is over: the first failure in the archive's order, or the
    // number of files the others made, goes to the lead.
    void sendVerdict()
    {
        m_verdictSent = true;
        int code = SALVO_OK, others = 0;
        std::string message;
        for (size_t k = 0; k < m_ranges.size(); ++k) {
            const Range &r = m_ranges[k];
            if (r.state == Range::State::Failed) {
                code = r.code;
                message = r.message;
                break;
            }
            if (k > 0)
                others += r.written;
        }
        Range &lead = m_ranges[0];
        lead.heard = Clock::now();
        const std::string verdict = WireWriter(Msg::Verdict).u32(static_cast<uint32_t>(code))
                                        .u32(static_cast<uint32_t>(others)).str(message).data();
        if (!sendMessage(lead.decoder.fd, verdict))
            m_leadAlive = false;
    }

    // Whether a decoder still owes messages.
    bool listening(size_t k) const
    {
        return k == 0 ? m_leadAlive : m_ranges[k].state == Range::State::Running;
    }

    // Waits for the next message of any decoder that owes one and acts on it.
    void step()
    {
        std::vector<pollfd> fds;
        std::vector<size_t> which;
        const Clock::time_point now = Clock::now();
        int wait = WorkerClient::silenceLimitMs();
        for (size_t k = 0; k < m_ranges.size(); ++k) {
            if (!listening(k))
                continue;
            // The lead is silent while it waits for the verdict.
            if (k == 0 && m_ranges[0].state != Range::State::Running && !m_verdictSent)
                continue;
            const auto silent =
                std::chrono::duration_cast<std::chrono::milliseconds>(now - m_ranges[k].heard).count();
            if (silent >= WorkerClient::silenceLimitMs()) {
                lost(k);
                return;
            }
            wait = std::min(wait, static_cast<int>(WorkerClient::silenceLimitMs() - silent));
            fds.push_back({m_ranges[k].decoder.fd, POLLIN, 0});
            which.push_back(k);
        }
        if (m_hooks.cancelled) {
            if (m_hooks.cancelled()) {
                m_cancelled = true;
                return;
            }
            wait = std::min(wait, WorkerClient::kCancelLookMs);
        }
        if (!fds.empty() && poll(fds.data(), fds.size(), wait) > 0) {
            for (size_t i = 0; i < fds.size(); ++i) {
                if (fds[i].revents && listening(which[i]))
                    read(which[i]);
            }
        }
        if (!m_verdictSent && m_leadAlive && !m_finished && m_ranges[0].state != Range::State::Running
            && rangesOver())
            sendVerdict();
    }

    // A decoder died, hung or said something it should not have.
    void lost(size_t k)
    {
        WorkerClient::stop(&m_ranges[k].decoder);
        if (k == 0)
            m_leadAlive = false;
        else
            fail(k, SALVO_E_WORKER, crashText(m_command.archive));
    }

    void read(size_t k)
    {
        Range &r = m_ranges[k];
        std::string message;
        FdList fds;
        if (readMessage(r.decoder.fd, &message, WorkerClient::silenceLimitMs(), &fds) != ReadStatus::Ok) {
            lost(k);
            return;
        }
        r.heard = Clock::now();
        CallHooks hooks = m_hooks;
        hooks.staging = [this, k](const std::string &staging, std::vector<std::string> made, FdList passed) {
            if (k == 0 && !m_created.known()) {
                m_created.take(staging, std::move(made), std::move(passed));
                startHelpers();
            }
        };
        // The ranges together make the progress of the whole archive.
        if (m_hooks.progress) {
            hooks.progress = [this, k](const std::string &entry, int64_t written, int64_t read, int64_t size) {
                m_ranges[k].bytesWritten = written;
                m_ranges[k].bytesRead = read;
                int64_t allWritten = 0, allRead = 0;
                for (const Range &range : m_ranges) {
                    allWritten += range.bytesWritten;
                    allRead += range.bytesRead;
                }
                m_hooks.progress(entry, allWritten, std::min(allRead, size), size);
            };
        }
        bool failed = false;
        if (WorkerClient::serve(&r.decoder, message, std::move(fds), hooks, &failed)) {
            // A question may have waited long for its answer.
            for (Range &other : m_ranges)
                other.heard = Clock::now();
            if (failed)
                lost(k);
            return;
        }
        WireReader in(message);
        if (in.kind() == Msg::RangeDone && r.state == Range::State::Running) {
            const int code = static_cast<int>(in.u32());
            r.written = static_cast<int>(in.u32());
            const std::string text = in.str();
            if (!in.ok())
                lost(k);
            else if (code != SALVO_OK)
                fail(k, code, text);
            else
                r.state = Range::State::Done;
            return;
        }
        if (k == 0 && in.kind() == Msg::Result) {
            // The lead's final answer; also when it failed before its range began.
            m_code = static_cast<int>(in.u32());
            m_output = in.str();
            if (!in.ok())
                m_code = SALVO_E_INTERNAL;
            if (r.state == Range::State::Running)
                r.state = Range::State::Done;
            m_finished = true;
            return;
        }
        lost(k);
    }

    uint32_t m_formats;
    const Command &m_command;
    OverwritePolicy m_policy;
    const Plan &m_plan;
    const ArchiveFiles &m_files;
    CreatedOutput &m_created;
    const CallHooks &m_hooks;
    std::vector<Range> m_ranges;
    bool m_leadAlive = false;
    bool m_verdictSent = false;
    bool m_finished = false;
    bool m_cancelled = false;
    int m_code = SALVO_OK;
    std::string m_output;
};

} // namespace

void setDecoderCount(int count)
{
    g_decoderCount = std::clamp(count, 0, static_cast<int>(kMostDecoders));
}

unsigned decoderCount()
{
    const int set = g_decoderCount;
    if (set > 0)
        return static_cast<unsigned>(set);
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    const int usable = sched_getaffinity(0, sizeof cpus, &cpus) == 0 ? CPU_COUNT(&cpus) : 1;
    return std::clamp<unsigned>(static_cast<unsigned>(usable), 1, kMostDecoders);
}

namespace {

int64_t sharingMinimum(const ArchiveFiles &files)
{
    using namespace std::string_view_literals;
    return files.firstBeginsWith("7z\xBC\xAF\x27\x1C"sv) ? kSharedSevenZipMinimum : kSharedExtractionMinimum;
}

} // namespace

int runExtraction(uint32_t formats, const Command &command, OverwritePolicy policy, CallHooks hooks,
                  std::string *output)
{
    CreatedOutput created;
    hooks.staging = [&created](const std::string &staging, std::vector<std::string> made, FdList fds) {
        if (!created.known())
            created.take(staging, std::move(made), std::move(fds));
    };
    if (hooks.cancelled && hooks.cancelled()) {
        *output = kCancelledText;
        return SALVO_E_USER_CANCEL;
    }
    // Every decoder of the call reads these very files.
    const ArchiveFiles files(command.archive);

    WorkerClient &client = WorkerClient::instance();
    Decoder decoder = client.take();
    const unsigned most = decoderCount();
    if (most >= 2 && command.names.empty() && (formats & (kZip | kSevenZip | kLha))
        && files.firstSize() >= sharingMinimum(files)) {
        Plan plan;
        if (askPlan(&decoder, formats, command, most, files, &plan) && plan.starts.size() >= 2)
            return SharedExtraction(formats, command, policy, plan, files, created, hooks).run(decoder, output);
    }

    std::string reply;
    bool cancelled = false;
    if (!WorkerClient::send(&decoder, wholeRequest(formats, command, policy, static_cast<bool>(hooks.password), files),
                            files.descriptors())
        || !WorkerClient::await(&decoder, &reply, hooks, &cancelled)) {
        // The decoder was stopped, died or hung in the middle: what it wrote is incomplete.
        created.remove();
        if (cancelled) {
            *output = kCancelledText;
            return SALVO_E_USER_CANCEL;
        }
        *output = crashText(command.archive);
        return SALVO_E_WORKER;
    }
    client.giveBack(decoder);
    WireReader r(reply);
    const int code = static_cast<int>(r.u32());
    *output = r.str();
    if (code != SALVO_OK)
        created.removeMadeFolders();
    return r.ok() ? code : SALVO_E_INTERNAL;
}

} // namespace salvo::arc
