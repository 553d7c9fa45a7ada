/* Plain text every floor reads and writes: the blank-separated fields and
 * numbers of a console line, and text from outside made safe to log. Pure
 * logic. plain_text.cpp.
 *
 *   fields       text_is_blank, text_skip_blanks, text_at_end, text_parse_word
 *   numbers      text_parse_f64 (never nan or inf), text_parse_f64_in (and
 *                within a range), text_parse_hex_u32/u64: a whole field each;
 *                text_parse_int, text_parse_float: a number at the start
 *   logged text  text_clean */
#pragma once
#include <stddef.h>
#include <stdint.h>

/* ---- fields ---- */
/* Blanks are spaces, tabs, CR and LF. */
bool text_is_blank(char c);
const char *text_skip_blanks(const char *text);
/* True when only blanks are left. */
bool text_at_end(const char *text);
/* The next blank-separated field copied into out; false when there is none
 * or it does not fit (size - 1 characters). */
bool text_parse_word(const char **text, char *out, size_t size);

/* ---- numbers ----
 * Each reads one blank-separated field at *text (leading blanks skipped),
 * moves *text past it and returns true; false (text unmoved) when there is
 * no field or the whole field is not the number: a decimal that is finite,
 * or hexadecimal digits ("0x" allowed, no sign) that fit the width. */
bool text_parse_f64(const char **text, double *out);
/* The same, and the number lies in [min, max]; false (text unmoved) outside. */
bool text_parse_f64_in(const char **text, double min, double max, double *out);
bool text_parse_hex_u32(const char **text, uint32_t *out);
bool text_parse_hex_u64(const char **text, uint64_t *out);
/* Each skips leading blanks, reads the number the text starts with (the rest
 * of the field need not be part of it) and moves *text past it; false (and
 * *text unmoved) when there is none, when it does not fit, or when it is not
 * finite (nan, inf, or a value too large for a float). */
bool text_parse_int(const char **text, int32_t *out);
bool text_parse_float(const char **text, float *out);

/* ---- logged text ----
 * Copies len bytes of text that someone else controls (a server, a file),
 * replacing control bytes (below 0x20 and 0x7F) with '?', so a logged line
 * cannot be forged. Returns out. */
const char *text_clean(char *out, size_t cap, const char *text, size_t len);
