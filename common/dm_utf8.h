/* UTF-8 text, as every path and name inside the system is, and its UTF-16
 * form at the Windows boundary. Pure: the file layer of both libraries and
 * the native unit tests share it.
 *
 * Index:
 * - dm_utf8_cut, dm_utf8_copy: a UTF-8 text cut at whole characters (every
 *   name the system stores is cut with dm_utf8_copy)
 * - dm_utf8_from_wide: UTF-16 to UTF-8, refused when it does not fit
 * - dm_utf8_name_from_wide: UTF-16 to UTF-8, cut at whole characters
 * - dm_wide_from_utf8: UTF-8 to UTF-16, refused when it does not fit
 * - dm_utf8_from_utf16_bytes: UTF-16 bytes of a file (LE or BE) to UTF-8
 *
 * A conversion never cuts a character in two and never guesses: UTF-16 with
 * a lone surrogate and bytes that are not UTF-8 (overlong forms, encoded
 * surrogates, beyond U+10FFFF, a sequence cut short) are refused, so a path
 * never silently names another file. The one exception is a text file's
 * UTF-16 bytes: a file is converted whole, a lone surrogate or an odd last
 * byte becoming U+FFFD, so that no line of it is lost. */
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
 * max bytes and ends at a character boundary. A character has at most three
 * continuation bytes: past them the bytes are no UTF-8 and are cut where max
 * falls (so that a run of stray bytes never cuts the text to nothing). */
static inline size_t dm_utf8_cut(const char *text, size_t len, size_t max)
{
    if (len <= max)
        return len;
    size_t n = max;
    while (n > 0 && max - n < 3 && ((unsigned char)text[n] & 0xC0) == 0x80)
        n--;
    return ((unsigned char)text[n] & 0xC0) == 0x80 ? max : n;
}

/* Copies text into out (size bytes with the NUL), cut at a whole character
 * to at most max bytes; the byte count. */
static inline size_t dm_utf8_copy(char *out, size_t size, const char *text, size_t max)
{
    if (size == 0)
        return 0;
    if (max > size - 1)
        max = size - 1;
    size_t len = 0;
    while (len <= max && text[len])
        len++;
    len = dm_utf8_cut(text, len, max);
    for (size_t i = 0; i < len; i++)
        out[i] = text[i];
    out[len] = 0;
    return len;
}

/* The code point that the UTF-16 unit u starts, next being the unit after it
 * (0 at the end); *units is set to the units it takes (1 or 2). -1 for a lone
 * surrogate (one unit). */
static inline int32_t dm_utf16_point(uint32_t u, uint32_t next, int *units)
{
    *units = 1;
    if (u < 0xD800 || u > 0xDFFF)
        return (int32_t)u;
    if (u > 0xDBFF || next < 0xDC00 || next > 0xDFFF)
        return -1;
    *units = 2;
    return (int32_t)(0x10000 + ((u - 0xD800) << 10) + (next - 0xDC00));
}

/* The next code point of the NUL-terminated UTF-16 text at *w (advanced past
 * it); -1 for a lone surrogate. */
static inline int32_t dm_wide_next(const dm_wchar **w)
{
    uint32_t u = (uint16_t)**w;
    // A high surrogate is not the NUL, so the unit after it can be read.
    uint32_t next = u >= 0xD800 && u <= 0xDBFF ? (uint16_t)(*w)[1] : 0;
    int units;
    int32_t c = dm_utf16_point(u, next, &units);
    *w += units;
    return c;
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

/* The n bytes of UTF-16 text (little- or big-endian, no byte-order mark) as
 * UTF-8 into out (size bytes with the NUL); a lone surrogate and an odd last
 * byte become U+FFFD, a NUL unit a NUL byte. The byte count, or -1 (out
 * empty) when it does not fit: 3 * (n + 1) / 2 + 1 bytes always do. */
static inline long dm_utf8_from_utf16_bytes(const uint8_t *bytes, size_t n, bool big_endian, char *out, size_t size)
{
    if (size == 0)
        return -1;
    size_t units = n / 2, k = 0;
    for (size_t i = 0; i < units || (i == units && n % 2);) {
        int32_t c = 0xFFFD;
        int used = 1;
        if (i < units) {
            const uint8_t *p = bytes + 2 * i;
            uint32_t u = big_endian ? (uint32_t)(p[0] << 8 | p[1]) : (uint32_t)(p[1] << 8 | p[0]);
            uint32_t next = 0;
            if (i + 1 < units)
                next = big_endian ? (uint32_t)(p[2] << 8 | p[3]) : (uint32_t)(p[3] << 8 | p[2]);
            c = dm_utf16_point(u, next, &used);
            if (c < 0)
                c = 0xFFFD;
        }
        char b[4];
        size_t m = dm_utf8_put((uint32_t)c, b);
        if (k + m > size - 1) {
            out[0] = 0;
            return -1;
        }
        for (size_t j = 0; j < m; j++)
            out[k++] = b[j];
        i += (size_t)used;
    }
    out[k] = 0;
    return (long)k;
}
