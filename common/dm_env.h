/* Values the system reads from Windows, as UTF-8: environment variables and
 * the computer name, read through the wide functions (the ANSI ones turn
 * every character outside the code page into "?"). Shared by both
 * libraries. */
#pragma once
#include <windows.h>
#include <stddef.h>
#include "dm_file.h"
#include "dm_utf8.h"

/* The environment variable as UTF-8 into out (size bytes with the NUL): its
 * byte count; 0 when it is not set or empty; -1 (out empty) when its UTF-8
 * form does not fit, it does not convert or it is longer than the wide room
 * (DM_WIDE_PATH_MAX units). */
static inline int dm_env_get(const char *name, char *out, size_t size)
{
    if (size == 0)
        return -1;
    out[0] = 0;
    wchar_t wname[64], value[DM_WIDE_PATH_MAX];
    if (dm_wide_from_utf8(name, wname, sizeof wname / sizeof wname[0]) < 0)
        return 0;
    DWORD n = GetEnvironmentVariableW(wname, value, DM_WIDE_PATH_MAX);
    if (n == 0)
        return 0;
    if (n >= DM_WIDE_PATH_MAX)
        return -1;
    return dm_utf8_from_wide(value, out, size);
}

/* The computer name as UTF-8, cut by whole characters to max bytes; false
 * (out empty) when it cannot be read, is empty or does not convert. */
static inline bool dm_computer_name(char *out, size_t size, size_t max)
{
    wchar_t w[256];
    DWORD n = sizeof w / sizeof w[0];
    if (size)
        out[0] = 0;
    if (!GetComputerNameW(w, &n) || n == 0)
        return false;
    return dm_utf8_name_from_wide(w, out, size, max) > 0;
}
