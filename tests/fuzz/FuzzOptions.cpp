// Sanitizer settings every fuzzer starts with, and its random bytes.
#include <cstdint>
#include <cstdlib>
#include <sys/syscall.h>
#include <unistd.h>

// A smaller quarantine for freed memory: the decoder frees large buffers for
// every input, and handing them back to the system dominated the run time.
// An allocation beyond 2 GiB fails as it does in the decoder process, whose
// address space is limited to that.
extern "C" const char *__asan_default_options()
{
    return "quarantine_size_mb=16:thread_local_quarantine_size_kb=64:allocator_release_to_os_interval_ms=-1"
           ":allocator_may_return_null=1:max_allocation_size_mb=2048";
}

extern "C" const char *__ubsan_default_options()
{
    return "print_stacktrace=1";
}

// In a run that must repeat itself (run_fuzzer.sh --runs sets
// SALVO_FUZZ_SANDBOX) the random bytes the code asks for follow one fixed
// sequence: the names made of them (staging folders) and the work done to make
// them are then the same in every run, and so are the coverage and the inputs
// tried. Other runs get the kernel's random bytes.
namespace {
bool g_fixedRandom = false;
__attribute__((constructor)) void chooseRandom()
{
    g_fixedRandom = std::getenv("SALVO_FUZZ_SANDBOX") != nullptr;
}
} // namespace

extern "C" ssize_t getrandom(void *buffer, size_t length, unsigned int flags)
{
    if (!g_fixedRandom)
        return syscall(SYS_getrandom, buffer, length, flags);
    static uint64_t state = 0x9E3779B97F4A7C15ull;
    auto *bytes = static_cast<unsigned char *>(buffer);
    for (size_t i = 0; i < length; ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        bytes[i] = static_cast<unsigned char>(state >> 56);
    }
    return static_cast<ssize_t>(length);
}
