// Plain text every floor reads and writes (see plain_text.h).
//
// Index: fields, numbers, logged text (in the header's order).
#include "base/plain_text.h"
#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

/* ---- fields ---- */

bool text_is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

const char *text_skip_blanks(const char *p)
{
    while (text_is_blank(*p))
        p++;
    return p;
}

// The field at p (after blanks): [*start, *end).
static bool field(const char *text, const char **start, const char **end)
{
    const char *p = text_skip_blanks(text), *q = p;
    while (*q && !text_is_blank(*q))
        q++;
    *start = p;
    *end = q;
    return q > p;
}

bool text_at_end(const char *text) { return *text_skip_blanks(text) == 0; }

bool text_parse_word(const char **text, char *out, size_t size)
{
    const char *a, *b;
    if (!field(*text, &a, &b) || (size_t)(b - a) >= size)
        return false;
    memcpy(out, a, (size_t)(b - a));
    out[b - a] = 0;
    *text = b;
    return true;
}

/* ---- numbers ---- */

bool text_parse_f64(const char **text, double *out)
{
    char buf[64];
    const char *p = *text;
    if (!text_parse_word(&p, buf, sizeof buf))
        return false;
    char *end = nullptr;
    double v = strtod(buf, &end);
    // strtod takes "nan" and "inf" (and overflows to inf): a console number
    // is a finite decimal, never one of those.
    if (end == buf || *end || !isfinite(v))
        return false;
    *out = v;
    *text = p;
    return true;
}

bool text_parse_f64_in(const char **text, double min, double max, double *out)
{
    const char *p = *text;
    double v;
    if (!text_parse_f64(&p, &v) || v < min || v > max)
        return false;
    *out = v;
    *text = p;
    return true;
}

static bool parse_hex(const char **text, uint64_t max, uint64_t *out)
{
    char buf[32];
    const char *p = *text;
    if (!text_parse_word(&p, buf, sizeof buf))
        return false;
    const char *digits = buf;
    if (digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits += 2;
    if (!*digits || strlen(digits) > 16)
        return false;
    uint64_t v = 0;
    for (const char *d = digits; *d; d++) {
        if (!isxdigit((unsigned char)*d))
            return false;
        v = v * 16 + (uint64_t)(isdigit((unsigned char)*d) ? *d - '0' : (tolower((unsigned char)*d) - 'a' + 10));
    }
    if (v > max)
        return false;
    *out = v;
    *text = p;
    return true;
}

bool text_parse_hex_u32(const char **text, uint32_t *out)
{
    uint64_t v;
    if (!parse_hex(text, 0xFFFFFFFFull, &v))
        return false;
    *out = (uint32_t)v;
    return true;
}

bool text_parse_hex_u64(const char **text, uint64_t *out) { return parse_hex(text, ~0ull, out); }

bool text_parse_int(const char **text, int32_t *out)
{
    const char *p = text_skip_blanks(*text);
    char *end = nullptr;
    errno = 0;
    long v = strtol(p, &end, 10);
    if (end == p || errno == ERANGE || v < INT32_MIN || v > INT32_MAX)
        return false;
    *out = (int32_t)v;
    *text = end;
    return true;
}

bool text_parse_float(const char **text, float *out)
{
    const char *p = text_skip_blanks(*text);
    char *end = nullptr;
    float v = strtof(p, &end);
    // strtof takes "nan", "inf" and overflows to inf: none of them is a value
    // the game should be handed.
    if (end == p || !isfinite(v))
        return false;
    *out = v;
    *text = end;
    return true;
}

/* ---- logged text ---- */

const char *text_clean(char *out, size_t cap, const char *text, size_t len)
{
    if (cap == 0)
        return out;
    size_t n = 0;
    for (; n + 1 < cap && n < len && text[n]; n++) {
        unsigned char c = (unsigned char)text[n];
        out[n] = (c < 0x20 || c == 0x7F) ? '?' : (char)c;
    }
    out[n] = 0;
    return out;
}
