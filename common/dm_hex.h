/* One hexadecimal digit's value. Pure. */
#pragma once

/* 0..15 for "0123456789abcdefABCDEF", -1 for any other character (NUL too). */
static inline int dm_hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
