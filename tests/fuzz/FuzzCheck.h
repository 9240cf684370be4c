#pragma once
// An oracle of a fuzzer: a broken rule ends the run like a crash, with the rule
// and where it was checked, so that libFuzzer keeps the input.
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond)                                                                                    \
    do {                                                                                                    \
        if (!(cond)) {                                                                                      \
            std::fprintf(stderr, "%s:%d: rule broken: %s\n", __FILE__, __LINE__, #cond);                    \
            std::abort();                                                                                   \
        }                                                                                                   \
    } while (0)

#define FUZZ_CHECK_MSG(cond, ...)                                                                           \
    do {                                                                                                    \
        if (!(cond)) {                                                                                      \
            std::fprintf(stderr, "%s:%d: rule broken: %s: ", __FILE__, __LINE__, #cond);                    \
            std::fprintf(stderr, __VA_ARGS__);                                                              \
            std::fputc('\n', stderr);                                                                       \
            std::abort();                                                                                   \
        }                                                                                                   \
    } while (0)
