#include "WorkerClient.h"

#include "Wire.h"
#include "salvo_archiver.h"

#include <csignal>
#include <dlfcn.h>
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

} // namespace

WorkerClient &WorkerClient::instance()
{
    static WorkerClient client;
    return client;
}

WorkerClient::~WorkerClient()
{
    stop();
}

bool WorkerClient::start()
{
    if (m_pid > 0)
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
    m_pid = pid;
    m_fd = fds[0];
    return true;
}

void WorkerClient::stop()
{
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    m_pid = -1;
}

bool WorkerClient::call(const std::string &request, std::string *reply,
                        const std::function<int(const std::string &path)> &ask)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!start())
            return false;
        if (sendMessage(m_fd, request))
            break;
        stop(); // it died since the last call: start a fresh one
        if (attempt == 1)
            return false;
    }
    for (;;) {
        const ReadStatus s = readMessage(m_fd, reply, kSilenceLimitMs);
        if (s != ReadStatus::Ok) {
            stop();
            return false;
        }
        WireReader r(*reply);
        if (r.kind() == Msg::Alive)
            continue;
        if (r.kind() == Msg::Ask) {
            const int answer = ask ? ask(r.str()) : SALVO_ANSWER_NO;
            if (!sendMessage(m_fd, WireWriter(Msg::Answer).u32(static_cast<uint32_t>(answer)).data())) {
                stop();
                return false;
            }
            continue;
        }
        return true;
    }
}

} // namespace salvo::arc
