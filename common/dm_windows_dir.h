/* The Windows folder (where the fonts live): %WINDIR% when set, else the
 * system's answer; empty when neither fits. Shared by both libraries. */
#pragma once
#include <windows.h>
#include <stddef.h>

static inline void dm_windows_dir(char *out, size_t size)
{
    DWORD n = GetEnvironmentVariableA("WINDIR", out, (DWORD)size);
    if (n == 0 || n >= size) {
        UINT m = GetWindowsDirectoryA(out, (UINT)size);
        if (m == 0 || m >= size)
            out[0] = 0;
    }
}
