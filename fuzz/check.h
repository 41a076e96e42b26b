// What every fuzz target uses to report a finding: a broken rule is printed
// and ends the run, so libFuzzer keeps the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, ...)                                                        \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "%s:%d: %s: ", __FILE__, __LINE__, #condition);           \
            std::fprintf(stderr, __VA_ARGS__);                                             \
            std::fprintf(stderr, "\n");                                                    \
            std::abort();                                                                  \
        }                                                                                  \
    } while (false)
