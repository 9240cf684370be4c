#include "ConfinedProgram.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace salvo::arc {
namespace {

bool isProgram(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string search(const std::string &name)
{
    if (name.find('/') != std::string::npos)
        return isProgram(name) ? name : std::string();
    const char *env = std::getenv("PATH");
    const std::string folders = env && *env ? env : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= folders.size()) {
        size_t colon = folders.find(':', start);
        if (colon == std::string::npos)
            colon = folders.size();
        const std::string folder = folders.substr(start, colon - start);
        // An empty or relative entry would mean the current folder: never.
        if (!folder.empty() && folder[0] == '/' && isProgram(folder + "/" + name))
            return folder + "/" + name;
        start = colon + 1;
    }
    return {};
}

// The loader an ELF program names (PT_INTERP); empty for a static one, and
// for anything that is no ELF program of this machine's word size.
bool interpreterOf(int fd, std::string *interpreter)
{
    Elf64_Ehdr h {};
    if (pread(fd, &h, sizeof h, 0) != static_cast<ssize_t>(sizeof h) || std::memcmp(h.e_ident, ELFMAG, SELFMAG) != 0
        || h.e_ident[EI_CLASS] != ELFCLASS64 || h.e_phentsize != sizeof(Elf64_Phdr) || h.e_phnum > 256)
        return false;
    interpreter->clear();
    for (unsigned i = 0; i < h.e_phnum; ++i) {
        Elf64_Phdr p {};
        if (pread(fd, &p, sizeof p, static_cast<off_t>(h.e_phoff + i * sizeof p)) != static_cast<ssize_t>(sizeof p))
            return false;
        if (p.p_type != PT_INTERP)
            continue;
        if (p.p_filesz == 0 || p.p_filesz > 4096)
            return false;
        std::string text(p.p_filesz, '\0');
        if (pread(fd, text.data(), text.size(), static_cast<off_t>(p.p_offset)) != static_cast<ssize_t>(text.size()))
            return false;
        text.resize(std::strlen(text.c_str()));
        *interpreter = text;
    }
    return true;
}

// Reads what a child writes until it closes its end; at most `limit` bytes.
std::string readAll(int fd, size_t limit)
{
    std::string out;
    char buffer[16384];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (out.size() < limit)
            out.append(buffer, static_cast<size_t>(n));
    }
    return out;
}

// The libraries the loader maps for `program`, as its own listing mode names
// them (the program's code does not run for that).
std::vector<std::string> librariesOf(const std::string &loader, const std::string &program)
{
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return {};
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], 1);
        const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 2);
        }
        char *const argv[] = {const_cast<char *>(loader.c_str()), const_cast<char *>("--list"),
                              const_cast<char *>(program.c_str()), nullptr};
        char *const envp[] = {nullptr};
        execve(loader.c_str(), argv, envp);
        _exit(127);
    }
    close(out[1]);
    const std::string text = child > 0 ? readAll(out[0], 1 << 20) : std::string();
    close(out[0]);
    int status = 0;
    while (child > 0 && waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    std::vector<std::string> paths;
    if (child <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return paths;
    // "\tlibc.so.6 => /lib/x86_64-linux-gnu/libc.so.6 (0x...)" or "\t/lib64/ld-linux-x86-64.so.2 (0x...)".
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        const size_t arrow = line.find("=> ");
        std::string path = arrow == std::string::npos ? line : line.substr(arrow + 3);
        path.erase(0, path.find_first_not_of(" \t"));
        const size_t paren = path.find(" (");
        if (paren != std::string::npos)
            path.resize(paren);
        if (!path.empty() && path[0] == '/')
            paths.push_back(path);
    }
    return paths;
}

int openPath(const std::string &path)
{
    return ::open(path.c_str(), O_PATH | O_CLOEXEC);
}

} // namespace

std::unique_ptr<ConfinedProgram> ConfinedProgram::find(const std::string &name)
{
    auto program = std::unique_ptr<ConfinedProgram>(new ConfinedProgram());
    program->m_path = search(name);
    if (program->m_path.empty())
        return nullptr;
    const UniqueFd readable(::open(program->m_path.c_str(), O_RDONLY | O_CLOEXEC));
    std::string loader;
    if (!readable.valid() || !interpreterOf(readable.get(), &loader))
        return nullptr;
    program->m_program.reset(openPath(program->m_path));
    if (!program->m_program.valid())
        return nullptr;
    if (!loader.empty()) {
        program->m_loader.reset(openPath(loader));
        if (!program->m_loader.valid())
            return nullptr;
        for (const std::string &library : librariesOf(loader, program->m_path)) {
            UniqueFd fd(openPath(library));
            if (!fd.valid())
                return nullptr;
            program->m_libraries.push_back(std::move(fd));
        }
        program->m_cache.reset(openPath("/etc/ld.so.cache"));
    }
    return program;
}

std::vector<FileGrant> ConfinedProgram::grants() const
{
    std::vector<FileGrant> grants{{m_program.get(), true}};
    if (m_loader.valid())
        grants.push_back({m_loader.get(), true});
    if (m_cache.valid())
        grants.push_back({m_cache.get(), false});
    for (const UniqueFd &library : m_libraries)
        grants.push_back({library.get(), false});
    return grants;
}

ConfinedProgram::Outcome ConfinedProgram::run(const Run &run) const
{
    Outcome outcome;
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0)
        return outcome;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return outcome;
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
        for (int fd : {in[0], in[1], out[0], out[1]})
            close(fd);
        return outcome;
    }
    std::vector<std::string> arguments{m_path};
    arguments.insert(arguments.end(), run.arguments.begin(), run.arguments.end());
    std::vector<char *> argv;
    for (std::string &a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    // Everything the child needs is made here: between fork and exec it
    // allocates nothing (another thread may hold the allocator's lock).
    std::vector<FileGrant> grants = this->grants();
    grants.reserve(grants.size() + run.files.size());
    std::vector<int> high(run.files.size(), -1);
    std::vector<int> writable;
    if (run.writableFolder >= 0)
        writable.push_back(run.writableFolder);
    const bool confined = landlockAbi() > 0;
    const pid_t child = fork();
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        // The files first go out of the way of 0 to 2 + their count, then to 3, 4, ...
        for (size_t i = 0; i < high.size(); ++i)
            high[i] = fcntl(run.files[i], F_DUPFD_CLOEXEC, 100);
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (size_t i = 0; i < high.size(); ++i) {
            const int target = 3 + static_cast<int>(i);
            if (high[i] < 0 || dup2(high[i], target) != target)
                _exit(126);
            grants.push_back({target, false});
        }
        if (run.workingFolder >= 0 && fchdir(run.workingFolder) != 0)
            _exit(126);
        if (confined && !confineTo(writable, {}, grants))
            _exit(126);
        static char lang[] = "LC_ALL=C.UTF-8";
        static char path[] = "PATH=/usr/bin:/bin";
        char *const envp[] = {lang, path, nullptr};
        syscall(SYS_execveat, m_program.get(), "", argv.data(), envp, AT_EMPTY_PATH);
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (child < 0) {
        for (int fd : {in[1], out[0], err[0]})
            close(fd);
        return outcome;
    }
    outcome.started = true;
    // The input is a line or two: it fits the pipe, and the program reads it
    // when it needs it.
    fcntl(in[1], F_SETFL, O_NONBLOCK);
    if (!run.input.empty() && write(in[1], run.input.data(), run.input.size()) < 0) {
    }
    close(in[1]);

    using Clock = std::chrono::steady_clock;
    Clock::time_point ticked = Clock::now();
    std::string pending;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    char buffer[65536];
    while (open > 0) {
        const int ready = poll(fds, 2, 250);
        if (ready < 0 && errno != EINTR)
            break;
        for (int k = 0; k < 2 && ready > 0; ++k) {
            if (fds[k].fd < 0 || !fds[k].revents)
                continue;
            const ssize_t n = read(fds[k].fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                close(fds[k].fd);
                fds[k].fd = -1;
                --open;
                continue;
            }
            std::string &sink = k == 0 && run.line ? pending : k == 0 ? outcome.output : outcome.errors;
            sink.append(buffer, static_cast<size_t>(n));
            if (k == 0 && run.line) {
                size_t start = 0, end;
                while ((end = pending.find('\n', start)) != std::string::npos) {
                    run.line(pending.substr(start, end - start));
                    start = end + 1;
                }
                pending.erase(0, start);
            }
            if (sink.size() > run.outputLimit && !outcome.tooLong) {
                outcome.tooLong = true;
                kill(child, SIGKILL);
            }
        }
        if (run.alive && Clock::now() - ticked >= std::chrono::milliseconds(500)) {
            ticked = Clock::now();
            run.alive();
        }
    }
    for (const pollfd &p : fds) {
        if (p.fd >= 0)
            close(p.fd);
    }
    if (run.line && !pending.empty())
        run.line(pending);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && !outcome.tooLong)
        outcome.exitCode = WEXITSTATUS(status);
    return outcome;
}

} // namespace salvo::arc
