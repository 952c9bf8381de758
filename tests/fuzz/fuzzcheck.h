#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// A broken property ends the run at once: libFuzzer then keeps the input as a crash,
// and the corpus replay test fails on it.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition);  \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

// The targets, each over one input of any size. They return 0, as libFuzzer wants.
int FuzzTagRead(const uint8_t *data, size_t size);
int FuzzProgress(const uint8_t *data, size_t size);
int FuzzDuration(const uint8_t *data, size_t size);
int FuzzSkinFile(const uint8_t *data, size_t size);
int FuzzMediaInfo(const uint8_t *data, size_t size);
