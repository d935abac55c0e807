#pragma once

#include <cstdio>
#include <cstdlib>

// Stops the run with a message when a property of the code under test does not hold; libFuzzer
// then saves the input that broke it as a crash artifact.
#define QUILLON_FUZZ_CHECK(condition, what)                                                     \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "%s:%d: property broken: %s (%s)\n", __FILE__, __LINE__, what, \
                         #condition);                                                           \
            std::abort();                                                                       \
        }                                                                                       \
    } while (false)
