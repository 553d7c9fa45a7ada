/* The Windows folder (where the fonts live), in UTF-8: %WINDIR% when set,
 * else the system's answer; empty when neither fits. Shared by both
 * libraries. */
#pragma once
#include <windows.h>
#include <stddef.h>
#include "dm_env.h"

static inline void dm_windows_dir(char *out, size_t size)
{
    if (dm_env_get("WINDIR", out, size) > 0)
        return;
    wchar_t w[MAX_PATH];
    UINT m = GetWindowsDirectoryW(w, MAX_PATH);
    if (m == 0 || m >= MAX_PATH || dm_utf8_from_wide(w, out, size) < 0)
        out[0] = 0;
}
