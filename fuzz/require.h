// A property a fuzz target checks on every input: when it does not hold,
// the target stops with the message, and libFuzzer keeps the input as a
// crash to reproduce it.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_REQUIRE(condition, what)                                                    \
    do {                                                                                 \
        if (!(condition)) {                                                              \
            std::fprintf(stderr, "%s:%d: %s (%s)\n", __FILE__, __LINE__, what, #condition); \
            std::abort();                                                                \
        }                                                                                \
    } while (0)
