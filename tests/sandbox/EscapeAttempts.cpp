// Loaded into the decoder process by the sandbox test (LD_PRELOAD): when the
// decoder creates the entry "escape-attempts.txt", this code, now running as
// the decoder and with whatever the decoder may do, tries to do what a
// hostile archive exploiting the decoder would: write outside the output
// folder, make folders and links there, read a file nobody asked it to read.
// What each attempt gave is written beside the entry, as
// "escape-attempts.result".
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using OpenAt = int (*)(int, const char *, int, ...);

OpenAt realOpenAt()
{
    static OpenAt real = reinterpret_cast<OpenAt>(dlsym(RTLD_NEXT, "openat"));
    return real;
}

std::string outcome(bool done)
{
    return done ? "done" : std::strerror(errno);
}

void attempt(int dirFd)
{
    const char *outside = std::getenv("SALVO_ESCAPE_OUTSIDE");
    const char *secret = std::getenv("SALVO_ESCAPE_SECRET");
    if (!outside || !secret)
        return;
    const std::string base(outside);
    std::string report;
    const int created = ::open((base + "/escaped.txt").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    report += "create " + outcome(created >= 0) + "\n";
    if (created >= 0)
        ::close(created);
    report += "mkdir " + outcome(::mkdir((base + "/escaped-folder").c_str(), 0700) == 0) + "\n";
    report += "symlink " + outcome(::symlink("/", (base + "/escaped-link").c_str()) == 0) + "\n";
    const int read = ::open(secret, O_RDONLY | O_CLOEXEC);
    char byte;
    report += "read " + outcome(read >= 0 && ::read(read, &byte, 1) == 1) + "\n";
    if (read >= 0)
        ::close(read);
    // Renaming a file of the output folder out of it.
    const int mine = realOpenAt()(dirFd, "escape-moved.txt", O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (mine >= 0)
        ::close(mine);
    report += "rename " + outcome(::renameat(dirFd, "escape-moved.txt", AT_FDCWD, (base + "/moved.txt").c_str()) == 0) + "\n";
    const int out = realOpenAt()(dirFd, "escape-attempts.result", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out >= 0) {
        [[maybe_unused]] const ssize_t n = ::write(out, report.data(), report.size());
        ::close(out);
    }
}

} // namespace

extern "C" __attribute__((visibility("default"))) int openat(int dirFd, const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list args;
        va_start(args, flags);
        mode = static_cast<mode_t>(va_arg(args, int));
        va_end(args);
    }
    if (path && std::strcmp(path, "escape-attempts.txt") == 0)
        attempt(dirFd);
    return realOpenAt()(dirFd, path, flags, mode);
}

extern "C" __attribute__((visibility("default"))) int openat64(int dirFd, const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list args;
        va_start(args, flags);
        mode = static_cast<mode_t>(va_arg(args, int));
        va_end(args);
    }
    return openat(dirFd, path, flags, mode);
}
