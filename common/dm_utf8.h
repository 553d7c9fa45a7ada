/* UTF-8 text, as every path and name inside the system is, and its UTF-16
 * form at the Windows boundary. Pure: the file layer of both libraries and
 * the native unit tests share it.
 *
 * Index:
 * - dm_utf8_cut: a UTF-8 text cut at whole characters
 * - dm_utf8_from_wide: UTF-16 to UTF-8, refused when it does not fit
 * - dm_utf8_name_from_wide: UTF-16 to UTF-8, cut at whole characters
 * - dm_wide_from_utf8: UTF-8 to UTF-16, refused when it does not fit
 *
 * A conversion never cuts a character in two and never guesses: UTF-16 with
 * a lone surrogate and bytes that are not UTF-8 (overlong forms, encoded
 * surrogates, beyond U+10FFFF, a sequence cut short) are refused, so a path
 * never silently names another file. */
#pragma once
#include <stddef.h>
#include <stdint.h>

/* The UTF-16 code unit of the platform's wide text. */
#ifdef _WIN32
typedef wchar_t dm_wchar;
#else
typedef char16_t dm_wchar;
#endif

/* The length of the longest start of the len bytes of text that has at most
 * max bytes and ends at a character boundary. */
static inline size_t dm_utf8_cut(const char *text, size_t len, size_t max)
{
    if (len <= max)
        return len;
    size_t n = max;
    while (n > 0 && ((unsigned char)text[n] & 0xC0) == 0x80)
        n--;
    return n;
}

/* The next code point of the NUL-terminated UTF-16 text at *w (advanced past
 * it); -1 for a lone surrogate. */
static inline int32_t dm_wide_next(const dm_wchar **w)
{
    uint32_t u = (uint16_t)**w;
    (*w)++;
    if (u < 0xD800 || u > 0xDFFF)
        return (int32_t)u;
    uint32_t low = (uint16_t)**w;
    if (u > 0xDBFF || low < 0xDC00 || low > 0xDFFF)
        return -1;
    (*w)++;
    return (int32_t)(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
}

/* The UTF-8 bytes of code point c into out (room for 4); their count. */
static inline size_t dm_utf8_put(uint32_t c, char *out)
{
    if (c < 0x80) {
        out[0] = (char)c;
        return 1;
    }
    if (c < 0x800) {
        out[0] = (char)(0xC0 | (c >> 6));
        out[1] = (char)(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = (char)(0xE0 | (c >> 12));
        out[1] = (char)(0x80 | ((c >> 6) & 0x3F));
        out[2] = (char)(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = (char)(0xF0 | (c >> 18));
    out[1] = (char)(0x80 | ((c >> 12) & 0x3F));
    out[2] = (char)(0x80 | ((c >> 6) & 0x3F));
    out[3] = (char)(0x80 | (c & 0x3F));
    return 4;
}

/* UTF-16 to UTF-8 into out (size bytes with the NUL), at most max bytes of
 * text; with cut, the characters that would pass max are left off, without
 * it the whole conversion is refused. The byte count, or -1 (out empty) when
 * refused or for a lone surrogate. */
static inline int dm_utf8_encode(const dm_wchar *wide, char *out, size_t size, size_t max, bool cut)
{
    if (size == 0)
        return -1;
    if (max > size - 1)
        max = size - 1;
    size_t n = 0;
    for (const dm_wchar *w = wide; *w;) {
        int32_t c = dm_wide_next(&w);
        char bytes[4];
        size_t k = c < 0 ? 0 : dm_utf8_put((uint32_t)c, bytes);
        if (c < 0 || (n + k > max && !cut)) {
            out[0] = 0;
            return -1;
        }
        if (n + k > max)
            break;
        for (size_t i = 0; i < k; i++)
            out[n++] = bytes[i];
    }
    out[n] = 0;
    return (int)n;
}

/* The whole UTF-16 text as UTF-8 into out (size bytes with the NUL): its
 * byte count, or -1 (out empty) when it does not fit or does not convert. */
static inline int dm_utf8_from_wide(const dm_wchar *wide, char *out, size_t size)
{
    return dm_utf8_encode(wide, out, size, (size_t)-1, false);
}

/* A name: the UTF-16 text as UTF-8, cut by whole characters to max bytes
 * (and to the buffer). -1 (out empty) when it does not convert. */
static inline int dm_utf8_name_from_wide(const dm_wchar *wide, char *out, size_t size, size_t max)
{
    return dm_utf8_encode(wide, out, size, max, true);
}

/* UTF-8 to UTF-16 into out (count units with the NUL): the unit count, or
 * -1 (out empty) when it does not fit or is not UTF-8. */
static inline int dm_wide_from_utf8(const char *text, dm_wchar *out, size_t count)
{
    if (count == 0)
        return -1;
    const unsigned char *p = (const unsigned char *)text;
    size_t n = 0;
    while (*p) {
        uint32_t c = *p;
        int more; // continuation bytes after the lead byte
        if (c < 0x80)
            more = 0;
        else if (c >= 0xC2 && c <= 0xDF)
            more = 1, c &= 0x1F;
        else if (c >= 0xE0 && c <= 0xEF)
            more = 2, c &= 0x0F;
        else if (c >= 0xF0 && c <= 0xF4)
            more = 3, c &= 0x07;
        else
            break;
        int i = 1;
        for (; i <= more && (p[i] & 0xC0) == 0x80; i++)
            c = (c << 6) | (p[i] & 0x3F);
        if (i <= more || (more == 2 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) ||
            (more == 3 && (c < 0x10000 || c > 0x10FFFF)))
            break;
        size_t units = c >= 0x10000 ? 2 : 1;
        if (n + units >= count)
            break;
        if (units == 2) {
            out[n++] = (dm_wchar)(0xD800 + ((c - 0x10000) >> 10));
            out[n++] = (dm_wchar)(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out[n++] = (dm_wchar)c;
        }
        p += 1 + more;
    }
    if (*p) {
        out[0] = 0;
        return -1;
    }
    out[n] = 0;
    return (int)n;
}
