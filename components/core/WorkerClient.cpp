#include "WorkerClient.h"

#include "Wire.h"
#include "salvo_archiver.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <dlfcn.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
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

enum class Wait { Ready, Silent, Cancelled };

// Waits until the decoder has something to say, looking at the cancel hook in
// between; Silent after the silence limit.
Wait waitForDecoder(int fd, const CallHooks &hooks)
{
    const int slice = hooks.cancelled ? WorkerClient::kCancelLookMs : WorkerClient::kSilenceLimitMs;
    int waited = 0;
    for (;;) {
        if (hooks.cancelled && hooks.cancelled())
            return Wait::Cancelled;
        pollfd pfd{fd, POLLIN, 0};
        const int step = std::min(slice, WorkerClient::kSilenceLimitMs - waited);
        const int r = ::poll(&pfd, 1, step);
        if (r < 0 && errno == EINTR)
            continue;
        if (r != 0)
            return Wait::Ready; // data, an end or an error: reading tells which
        waited += step;
        if (waited >= WorkerClient::kSilenceLimitMs)
            return Wait::Silent;
    }
}

} // namespace

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
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    const std::string path = workerPath();
    char *argv[] = {const_cast<char *>("salvo-archive-worker"), nullptr};
    pid_t pid = -1;
    const int r = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
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
    if (d->fd >= 0)
        close(d->fd);
    d->fd = -1;
    if (d->pid > 0) {
        kill(d->pid, SIGKILL);
        waitpid(d->pid, nullptr, 0);
    }
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

bool WorkerClient::send(Decoder *d, const std::string &request)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!start(d))
            return false;
        if (sendMessage(d->fd, request))
            return true;
        stop(d); // it died since the last call: start a fresh one
    }
    return false;
}

bool WorkerClient::serve(Decoder *d, const std::string &message, const CallHooks &hooks, bool *failed)
{
    *failed = false;
    WireReader r(message);
    switch (r.kind()) {
    case Msg::Alive:
        return true;
    case Msg::Staging: {
        const std::string name = r.str();
        if (hooks.staging && r.ok())
            hooks.staging(name);
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
        if (readMessage(d->fd, reply, kSilenceLimitMs) != ReadStatus::Ok) {
            stop(d);
            return false;
        }
        bool failed = false;
        if (!serve(d, *reply, hooks, &failed))
            return true;
        if (failed) {
            stop(d);
            return false;
        }
    }
}

bool WorkerClient::call(const std::string &request, std::string *reply, const CallHooks &hooks, bool *cancelled)
{
    if (cancelled)
        *cancelled = false;
    if (hooks.cancelled && hooks.cancelled()) {
        if (cancelled)
            *cancelled = true;
        return false;
    }
    Decoder d = take();
    if (!send(&d, request) || !await(&d, reply, hooks, cancelled))
        return false;
    giveBack(d);
    return true;
}

} // namespace salvo::arc
