/* What every fuzz target shares: a check that aborts (libFuzzer then saves
 * the input), a bit-exact comparison, and text lines taken from the input the
 * way fgets takes them from a file.
 *
 * Index:
 * - FUZZ_CHECK: abort with the failed condition
 * - fuzz_same: byte equality of two records
 * - fuzz_line: the next line as fgets into a buffer of a given size reads it */
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define FUZZ_CHECK(cond)                                                                 \
    do {                                                                                 \
        if (!(cond)) {                                                                   \
            fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            abort();                                                                     \
        }                                                                                \
    } while (0)

/* Bit-exact: floats compare by their bytes, so a NaN equals itself. */
template <typename T> static inline bool fuzz_same(const T &a, const T &b)
{
    return memcmp(&a, &b, sizeof(T)) == 0;
}

/* fgets over memory: copies up to size - 1 bytes into line, stopping after a
 * newline, and NUL-terminates. False (nothing read) at the end of the input. */
static inline bool fuzz_line(const uint8_t **at, const uint8_t *end, char *line, size_t size)
{
    const uint8_t *p = *at;
    if (p >= end || size < 2)
        return false;
    size_t n = 0;
    while (p < end && n + 1 < size) {
        uint8_t c = *p++;
        line[n++] = (char)c;
        if (c == '\n')
            break;
    }
    line[n] = 0;
    *at = p;
    return true;
}
