// What the fuzz targets share: a check that reports what went wrong and aborts, so that
// libFuzzer keeps the input that led there.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond, ...)                                                                                \
    do {                                                                                                     \
        if (!(cond)) {                                                                                       \
            std::fprintf(stderr, "%s:%d: check failed: %s\n  ", __FILE__, __LINE__, #cond);                  \
            std::fprintf(stderr, __VA_ARGS__);                                                               \
            std::fprintf(stderr, "\n");                                                                      \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (0)
