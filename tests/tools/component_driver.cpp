// Calls one component from the command line: component_driver FILE PREFIX
// COMMAND prints the output buffer and exits with the result (non-zero results
// as 1). "list ARCHIVE" prints the entries instead; "walk ARCHIVE" only counts
// them, as a run's walks do, and prints the count and this process's peak
// memory; "batch" runs one command per line of standard input in this one
// process and prints the failures.
// With DECODER_COUNT set, the component may share an extraction among that
// many decoders (its SetDecoderCount).
#include "support/ComponentLib.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s FILE PREFIX COMMAND|list ARCHIVE\n", argv[0]);
        return 2;
    }
    salvo::test::ComponentLib lib(argv[1], argv[2]);
    if (!lib.loaded())
        return 2;
    if (const char *count = std::getenv("DECODER_COUNT")) {
        if (auto set = reinterpret_cast<SALVO_SET_DECODER_COUNT>(lib.symbol("SetDecoderCount")))
            set(std::atoi(count));
    }
    if (std::string(argv[3]) == "list" && argc > 4) {
        std::vector<salvo::test::ListedEntry> entries;
        if (!lib.list(argv[4], &entries))
            return 1;
        for (const auto &e : entries)
            std::printf("%lld\t%s\n", static_cast<long long>(e.size64), e.name.c_str());
        return 0;
    }
    if (std::string(argv[3]) == "walk" && argc > 4) {
        auto open = reinterpret_cast<SALVO_OPEN_ARCHIVE>(lib.symbol("OpenArchive"));
        auto first = reinterpret_cast<SALVO_FIND_FIRST>(lib.symbol("FindFirst"));
        auto next = reinterpret_cast<SALVO_FIND_NEXT>(lib.symbol("FindNext"));
        auto close = reinterpret_cast<SALVO_CLOSE_ARCHIVE>(lib.symbol("CloseArchive"));
        SALVO_HARC h = open ? open(nullptr, argv[4], 0) : nullptr;
        if (!h)
            return 1;
        long long count = 0;
        SALVO_INDIVIDUALINFO info;
        for (int r = first(h, "*", &info); r == 0; r = next(h, &info))
            ++count;
        close(h);
        std::FILE *status = std::fopen("/proc/self/status", "r");
        char line[256];
        while (status && std::fgets(line, sizeof line, status)) {
            if (std::strncmp(line, "VmHWM:", 6) == 0)
                std::printf("peak %lld\n", std::atoll(line + 6));
        }
        if (status)
            std::fclose(status);
        std::printf("entries %lld\n", count);
        return 0;
    }
    if (std::string(argv[3]) == "batch") {
        std::string line;
        int failures = 0;
        char buffer[65536];
        while (std::fgets(buffer, sizeof buffer, stdin)) {
            line = buffer;
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
                line.pop_back();
            if (line.empty())
                continue;
            std::string out;
            if (lib.run(line, &out) != 0) {
                ++failures;
                std::printf("failed: %s\n%s", line.c_str(), out.c_str());
            }
        }
        return failures == 0 ? 0 : 1;
    }
    std::string out;
    const int r = lib.run(argv[3], &out);
    std::printf("%s", out.c_str());
    std::printf("result 0x%x\n", r);
    return r == 0 ? 0 : 1;
}
