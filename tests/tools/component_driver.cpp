// Calls one component from the command line: component_driver FILE PREFIX
// COMMAND... prints the output buffer and exits with the result (non-zero
// results as 1). "list" as the command prints the entries instead.
#include "support/ComponentLib.h"

#include <cstdio>
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
    if (std::string(argv[3]) == "list" && argc > 4) {
        std::vector<salvo::test::ListedEntry> entries;
        if (!lib.list(argv[4], &entries))
            return 1;
        for (const auto &e : entries)
            std::printf("%lld\t%s\n", static_cast<long long>(e.size64), e.name.c_str());
        return 0;
    }
    std::string out;
    const int r = lib.run(argv[3], &out);
    std::printf("%s", out.c_str());
    std::printf("result 0x%x\n", r);
    return r == 0 ? 0 : 1;
}
