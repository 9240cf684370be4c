// Preloaded (LD_PRELOAD) into a decoder process to stand in for storage that is
// slow or fails at the worst moment; each behaviour is asked for through the
// environment of the process:
//   SALVO_TEST_SYNC_DELAY_MS     fsync of a file and copy_file_range wait this long first
//   SALVO_TEST_SYNC_MARK         a file that gets a byte when such a wait begins, for the test to wait
//                                on (opened when the library loads: the decoder, confined to the
//                                archive's folder, could not open it later)
//   SALVO_TEST_DIE_AFTER_RENAME  the process is killed right after a rename succeeds
//   SALVO_TEST_DIE_AT_FOLDER_SYNC the process is killed when it syncs a folder
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

template <typename Fn>
Fn real(const char *name)
{
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

int g_mark = -1;

__attribute__((constructor)) void openMark()
{
    if (const char *mark = std::getenv("SALVO_TEST_SYNC_MARK"))
        g_mark = ::open(mark, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
}

void slowDown()
{
    const char *delay = std::getenv("SALVO_TEST_SYNC_DELAY_MS");
    if (!delay)
        return;
    if (g_mark >= 0) {
        [[maybe_unused]] const ssize_t n = ::write(g_mark, "s", 1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(delay)));
}

} // namespace

extern "C" __attribute__((visibility("default"))) int fsync(int fd)
{
    struct stat st {};
    ::fstat(fd, &st);
    if (S_ISDIR(st.st_mode) && std::getenv("SALVO_TEST_DIE_AT_FOLDER_SYNC"))
        ::kill(::getpid(), SIGKILL);
    if (S_ISREG(st.st_mode))
        slowDown();
    return real<int (*)(int)>("fsync")(fd);
}

extern "C" __attribute__((visibility("default"))) ssize_t copy_file_range(int in, off64_t *inAt, int out, off64_t *outAt,
                                                                          size_t length, unsigned flags)
{
    slowDown();
    return real<ssize_t (*)(int, off64_t *, int, off64_t *, size_t, unsigned)>("copy_file_range")(in, inAt, out, outAt,
                                                                                                  length, flags);
}

extern "C" __attribute__((visibility("default"))) int rename(const char *from, const char *to)
{
    const int r = real<int (*)(const char *, const char *)>("rename")(from, to);
    if (r == 0 && std::getenv("SALVO_TEST_DIE_AFTER_RENAME"))
        ::kill(::getpid(), SIGKILL);
    return r;
}
