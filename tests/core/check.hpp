// The core tests' one assertion: counts passes and failures (per test file) and
// reports a failure with its place, then goes on, so one run shows every fault.
#pragma once

#include <cstdio>

#define CHECK(cond)                                                                       \
    do {                                                                                  \
        if (cond) {                                                                       \
            ++passed;                                                                     \
        } else {                                                                          \
            ++failed;                                                                     \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
        }                                                                                 \
    } while (0)
