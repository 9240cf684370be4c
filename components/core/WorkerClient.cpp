#include "WorkerClient.h"

#include "Wire.h"
#include "salvo_archiver.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <linux/landlock.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace salvo::arc {
namespace {

// The decoder lives next to the component library that uses it.
std::string workerPath()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&workerPath), &info) && info.dli_fname) {
        std::string lib = info.dli_fname;
        const size_t slash = lib.find_last_of('/');
        if (slash != std::string::npos)
            return lib.substr(0, slash + 1) + "salvo-archive-worker";
    }
    return "salvo-archive-worker";
}

// Decoders confine themselves with Landlock; a kernel without it (version 2
// or later) is named once, and the decoders then run as they would anyway.
void noteMissingLandlock()
{
    static const bool noted = [] {
        const long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
        if (abi < 2)
            std::fprintf(stderr, "salvo-archive-worker: this kernel offers no Landlock (version 2 or later); "
                                 "decoders run without the kernel's confinement\n");
        return true;
    }();
    (void)noted;
}

enum class Wait { Ready, Silent, Cancelled };

// Waits until the decoder has something to say, looking at the cancel hook in
// between; Silent after the silence limit.
Wait waitForDecoder(int fd, const CallHooks &hooks)
{
    const int slice = hooks.cancelled ? WorkerClient::kCancelLookMs : WorkerClient::silenceLimitMs();
    int waited = 0;
    for (;;) {
        if (hooks.cancelled && hooks.cancelled())
            return Wait::Cancelled;
        pollfd pfd{fd, POLLIN, 0};
        const int step = std::min(slice, WorkerClient::silenceLimitMs() - waited);
        const int r = ::poll(&pfd, 1, step);
        if (r < 0 && errno == EINTR)
            continue;
        if (r != 0)
            return Wait::Ready; // data, an end or an error: reading tells which
        waited += step;
        if (waited >= WorkerClient::silenceLimitMs())
            return Wait::Silent;
    }
}

} // namespace

int WorkerClient::silenceLimitMs()
{
    static const int limit = [] {
        const char *text = std::getenv("SALVO_DECODER_SILENCE_MS");
        const long ms = text ? std::strtol(text, nullptr, 10) : 0;
        return ms >= 1000 && ms <= 600000 ? static_cast<int>(ms) : kSilenceLimitMs;
    }();
    return limit;
}

WorkerClient &WorkerClient::instance()
{
    static WorkerClient client;
    return client;
}

WorkerClient::~WorkerClient()
{
    for (Decoder &d : m_idle)
        stop(&d);
}

bool WorkerClient::start(Decoder *d)
{
    if (d->running())
        return true;
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return false;
    noteMissingLandlock();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    // A process group of its own, so that stopping it reaches the child that
    // serves its request too.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    const std::string path = workerPath();
    char *argv[] = {const_cast<char *>("salvo-archive-worker"), nullptr};
    pid_t pid = -1;
    const int r = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (r != 0) {
        close(fds[0]);
        return false;
    }
    d->pid = pid;
    d->fd = fds[0];
    return true;
}

void WorkerClient::stop(Decoder *d)
{
    if (d->pid < -1) {
        kill(d->pid, SIGKILL); // the group of a decoder already reaped
    } else if (d->pid > 0) {
        kill(-d->pid, SIGKILL);
        kill(d->pid, SIGKILL);
        while (waitpid(d->pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    if (d->fd >= 0) {
        // Every process of the decoder holds its end of the socket until it is
        // gone: the end of the stream says nothing of it can write any more,
        // so what it wrote can be taken away safely.
        using Clock = std::chrono::steady_clock;
        const Clock::time_point until = Clock::now() + std::chrono::seconds(10);
        char buffer[4096];
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
            pollfd pfd{d->fd, POLLIN, 0};
            if (left <= 0 || ::poll(&pfd, 1, static_cast<int>(left)) == 0)
                break;
            const ssize_t got = ::recv(d->fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN))
                break;
        }
        close(d->fd);
    }
    d->fd = -1;
    d->pid = -1;
}

WorkerClient::Decoder WorkerClient::take()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_idle.empty()) {
            const Decoder d = m_idle.back();
            m_idle.pop_back();
            return d;
        }
    }
    Decoder d;
    start(&d);
    return d;
}

void WorkerClient::giveBack(Decoder d)
{
    if (!d.running())
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_idle.size() < kIdleKept) {
            m_idle.push_back(d);
            return;
        }
    }
    stop(&d);
}

bool WorkerClient::send(Decoder *d, const std::string &request, const std::vector<int> &fds)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        // A kept decoder whose process has ended since (what served its last
        // request may still hold the socket a moment) is not asked again.
        if (d->running() && waitpid(d->pid, nullptr, WNOHANG) == d->pid) {
            d->pid = -d->pid; // reaped: stop() ends the rest of its group only
            stop(d);
        }
        if (!start(d))
            return false;
        if (sendMessage(d->fd, request, fds))
            return true;
        stop(d); // it died since the last call: start a fresh one
    }
    return false;
}

bool WorkerClient::serve(Decoder *d, const std::string &message, FdList fds, const CallHooks &hooks, bool *failed)
{
    *failed = false;
    WireReader r(message);
    switch (r.kind()) {
    case Msg::Alive:
        return true;
    case Msg::Progress: {
        const std::string entry = r.str();
        const int64_t written = r.i64(), read = r.i64(), size = r.i64();
        if (hooks.progress && r.ok())
            hooks.progress(entry, written, read, size);
        return true;
    }
    case Msg::Replaced:
        if (hooks.replaced)
            hooks.replaced();
        return true;
    case Msg::Staging: {
        const std::string name = r.str();
        const uint32_t count = r.u32();
        std::vector<std::string> made;
        for (uint32_t i = 0; i < count && r.ok(); ++i)
            made.push_back(r.str());
        if (hooks.staging && r.ok())
            hooks.staging(name, std::move(made), std::move(fds));
        return true;
    }
    case Msg::Ask: {
        const std::string path = r.str();
        const int answer = hooks.ask ? hooks.ask(path) : SALVO_ANSWER_NO;
        *failed = !sendMessage(d->fd, WireWriter(Msg::Answer).u32(static_cast<uint32_t>(answer)).data());
        return true;
    }
    case Msg::AskPassword: {
        const bool retry = r.u32() != 0;
        std::string password;
        const bool given = hooks.password && hooks.password(retry, &password);
        // The password lives no longer than it must: built once into the
        // message (no copy of it is left to a temporary), both wiped after.
        WireWriter answer(Msg::Password);
        answer.u32(given ? 1 : 0).str(password);
        *failed = !sendMessage(d->fd, answer.data());
        std::fill(password.begin(), password.end(), '\0');
        answer.wipe();
        return true;
    }
    default:
        return false;
    }
}

bool WorkerClient::await(Decoder *d, std::string *reply, const CallHooks &hooks, bool *cancelled)
{
    if (cancelled)
        *cancelled = false;
    for (;;) {
        const Wait wait = waitForDecoder(d->fd, hooks);
        if (wait != Wait::Ready) {
            // Killing the decoder is the only way to stop it in the middle of an entry.
            stop(d);
            if (cancelled)
                *cancelled = wait == Wait::Cancelled;
            return false;
        }
        FdList fds;
        if (readMessage(d->fd, reply, silenceLimitMs(), &fds) != ReadStatus::Ok) {
            stop(d);
            return false;
        }
        bool failed = false;
        if (!serve(d, *reply, std::move(fds), hooks, &failed))
            return true;
        if (failed) {
            stop(d);
            return false;
        }
    }
}

bool WorkerClient::call(const std::string &request, std::string *reply, const CallHooks &hooks, bool *cancelled,
                        const std::vector<int> &fds)
{
    if (cancelled)
        *cancelled = false;
    if (hooks.cancelled && hooks.cancelled()) {
        if (cancelled)
            *cancelled = true;
        return false;
    }
    Decoder d = take();
    if (!send(&d, request, fds) || !await(&d, reply, hooks, cancelled))
        return false;
    giveBack(d);
    return true;
}

} // namespace salvo::arc
