/* One config.ini line, as every reader of the file takes it: the plug-in's
 * overlay keys and the core's config_load and dm_config_get. Pure (no
 * windows.h), so it builds natively for the unit tests.
 *
 * A line is a key, "=", and a value. Leading blanks and tabs are skipped; a
 * line whose first character is then "#" or ";" is a comment; an empty line
 * or one without "=" sets nothing. The key is cut at the first "=" and loses
 * its trailing blanks and tabs; the value loses its leading ones, is cut at
 * the first CR or LF and loses its trailing ones. Keys compare
 * case-insensitively. An integer value is decimal digits after optional
 * blanks, ending at the first non-digit: no digits (a word, or a sign in
 * front) reads as 0, and a number above 2147483647 reads as 2147483647.
 *
 * Lines end only at LF (or the end of the file), and every file loop takes
 * them with config_read_piece / config_read_line. A NUL byte inside a line
 * does not end it: the text of the line is what comes before the NUL, and the
 * next line still starts after the LF. (A loop measuring pieces with strlen
 * would see a short piece without LF and take what follows the NUL for the
 * rest of a long line, while another loop took it for a line of its own.) */
#pragma once
#include <ctype.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

/* A line of up to CONFIG_LINE_MAX - 1 characters is read whole. */
#define CONFIG_LINE_MAX 1024

/* The next piece of a line: up to size - 1 bytes, ending after a LF,
 * NUL-terminated. Returns the number of bytes read, NUL bytes counted (0 at
 * the end of the file); the piece ends its line when its last byte is a LF.
 * A loop copying the file writes all of them back. */
static inline size_t config_read_piece(FILE *f, char *buf, size_t size)
{
    size_t n = 0;
    int c;
    while (n + 1 < size && (c = getc(f)) != EOF) {
        buf[n++] = (char)c;
        if (c == '\n')
            break;
    }
    if (size > 0)
        buf[n] = 0;
    return n;
}

/* The next line: its first size - 1 bytes, the rest of a longer line
 * skipped. False at the end of the file. */
static inline bool config_read_line(FILE *f, char *buf, size_t size)
{
    size_t n = config_read_piece(f, buf, size);
    if (n == 0)
        return false;
    if (buf[n - 1] != '\n') {
        int c;
        while ((c = getc(f)) != EOF && c != '\n') {
        }
    }
    return true;
}

static inline bool config_is_blank(char c) { return c == ' ' || c == '\t'; }

/* Splits one line in place. False for comments, empty lines and lines
 * without "="; otherwise key and value as above. */
static inline bool config_split_line(char *line, char **key, char **value)
{
    char *p = line;
    while (config_is_blank(*p))
        p++;
    if (*p == '#' || *p == ';' || *p == 0 || *p == '\r' || *p == '\n')
        return false;
    char *eq = strchr(p, '=');
    if (!eq)
        return false;
    char *kend = eq;
    while (kend > p && config_is_blank(kend[-1]))
        kend--;
    *kend = 0;
    char *v = eq + 1;
    while (config_is_blank(*v))
        v++;
    v[strcspn(v, "\r\n")] = 0;
    size_t n = strlen(v);
    while (n > 0 && config_is_blank(v[n - 1]))
        v[--n] = 0;
    *key = p;
    *value = v;
    return true;
}

/* Case-insensitive equality of two keys. */
static inline bool config_key_equal(const char *a, const char *b)
{
    for (;; a++, b++) {
        if (tolower((unsigned char)*a) != tolower((unsigned char)*b))
            return false;
        if (!*a)
            return true;
    }
}

/* The integer value of a text, as above. */
static inline int32_t config_int(const char *text)
{
    while (config_is_blank(*text))
        text++;
    int64_t v = 0;
    while (*text >= '0' && *text <= '9') {
        if (v < 0x80000000LL)
            v = v * 10 + (*text - '0');
        text++;
    }
    if (v > 0x7FFFFFFFLL)
        v = 0x7FFFFFFFLL;
    return (int32_t)v;
}

/* Whether the line sets key; when it does, *value is its integer value. */
static inline bool config_line_int(const char *line, const char *key, int32_t *value)
{
    char copy[CONFIG_LINE_MAX];
    snprintf(copy, sizeof copy, "%s", line);
    char *k, *v;
    if (!config_split_line(copy, &k, &v) || !config_key_equal(k, key))
        return false;
    *value = config_int(v);
    return true;
}
