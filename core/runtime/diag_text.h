/* Argument parsing of the diagnostic commands. Pure logic. */
#pragma once
#include <stddef.h>
#include <stdint.h>

#define PEEK_MAX_HOPS 32

/* "peek " arguments: a hex game VA ("0x" allowed), then "+hex" hops with
 * blanks between. The hops end at the first text that is not "+". */
typedef struct peek_args {
    uint64_t va;
    int hops;
    uint64_t offsets[PEEK_MAX_HOPS];
} peek_args;
void peek_parse(const char *text, peek_args *out);

#define MEMREC_NAME_MAX 127
/* The start line prints whole seconds: at least one, so that it never says
 * "0 s"; at most a day (about 120 GB at 1.4 MB a second). */
#define MEMREC_SECONDS_MIN 1.0
#define MEMREC_SECONDS_MAX 86400.0
/* "memrec " arguments: seconds and a file name in the base directory. False
 * (the usage line) unless the text is exactly those two: the seconds a
 * finite number within the bounds above, the name at most 127 characters
 * without "\", "/" or ":". */
bool memrec_parse(const char *text, double *seconds, char *name, size_t size);
