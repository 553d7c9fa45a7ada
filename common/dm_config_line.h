/* One config.ini line, as every reader of the file takes it: the plug-in's
 * overlay keys and the core's config_load and config_get. Pure (no
 * windows.h), so it builds natively for the unit tests. The file's bytes
 * and its lines are dm_config_file.h's.
 *
 * A line is a key, "=", and a value. Leading blanks and tabs are skipped; a
 * line whose first character is then "#" or ";" is a comment; an empty line
 * or one without "=" sets nothing. The key is cut at the first "=" and loses
 * its trailing blanks and tabs; the value loses its leading ones, is cut at
 * the first CR or LF and loses its trailing ones. Keys compare
 * case-insensitively.
 *
 * Numbers and flags are decimal digits and nothing else: a sign, a word
 * ("on"), a fraction or an exponent, and an empty value, are not understood
 * (the reader says so and keeps what it had); a number above 2147483647
 * reads as 2147483647. A flag is on when its number is not 0.
 *
 * A NUL byte inside a line does not end it: the text of the line is what
 * comes before the NUL, and the next line still starts after the LF. */
#pragma once
#include <ctype.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

/* A line of up to CONFIG_LINE_MAX - 1 characters is read whole. */
#define CONFIG_LINE_MAX 1024

/* The rule said when a number or flag is not understood. */
#define CONFIG_DIGITS_RULE "digits only"

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

/* The number of a value, as above; false when it is not one. */
static inline bool config_number(const char *text, int32_t *out)
{
    if (!*text)
        return false;
    int64_t v = 0;
    for (; *text; text++) {
        if (*text < '0' || *text > '9')
            return false;
        if (v < 0x80000000LL)
            v = v * 10 + (*text - '0');
    }
    *out = v > 0x7FFFFFFFLL ? 0x7FFFFFFF : (int32_t)v;
    return true;
}

/* A flag value: true when understood, *on then set. */
static inline bool config_flag(const char *text, bool *on)
{
    int32_t v;
    if (!config_number(text, &v))
        return false;
    *on = v != 0;
    return true;
}

/* Whether the line sets key; when it does, its value goes into out (cut to
 * size - 1 bytes). */
static inline bool config_line_value(const char *line, const char *key, char *out, size_t size)
{
    char copy[CONFIG_LINE_MAX];
    snprintf(copy, sizeof copy, "%s", line);
    char *k, *v;
    if (!config_split_line(copy, &k, &v) || !config_key_equal(k, key))
        return false;
    snprintf(out, size, "%s", v);
    return true;
}
