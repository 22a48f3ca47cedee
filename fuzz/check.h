// What a fuzz target does when an input breaks a property: print the reason
// and abort, so that libFuzzer keeps the input and a replay test fails.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(cond, ...)                                               \
    do {                                                                    \
        if (!(cond)) {                                                      \
            std::fprintf(stderr, "%s:%d: %s: ", __FILE__, __LINE__, #cond); \
            std::fprintf(stderr, __VA_ARGS__);                              \
            std::fprintf(stderr, "\n");                                     \
            std::abort();                                                   \
        }                                                                   \
    } while (0)

// Text meant for one line of a terminal: no control bytes.
inline void checkPrintable(const std::string& s, const char* what)
{
    for (unsigned char c : s)
        FUZZ_CHECK(c >= 0x20 && c != 0x7F, "%s holds byte %d: %s", what, c, s.c_str());
}
