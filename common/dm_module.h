/* Modules by address, for both libraries: the file name of the module that
 * holds a code address (fault lines), and pinning the calling library so it
 * is never unmapped while something may still run in it. */
#pragma once
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include "dm_file.h"

/* The module that holds address, without touching its reference count;
 * null when no module does. */
static inline HMODULE dm_module_at(const void *address)
{
    HMODULE m = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            (LPCWSTR)address, &m))
        return nullptr;
    return m;
}

/* The file name (no folder) of module m into out; false (out untouched) when
 * it cannot be had or does not fit. */
static inline bool dm_module_file_name(HMODULE m, char *out, size_t size)
{
    char full[3 * MAX_PATH];
    if (!m || !dm_module_path(m, full, sizeof full))
        return false;
    const char *slash = strrchr(full, '\\');
    snprintf(out, size, "%s", slash ? slash + 1 : full);
    return true;
}

/* Pins the module that holds address (pass one of the caller's own
 * functions): it stays mapped until the process ends. */
static inline void dm_module_pin(const void *address)
{
    HMODULE m;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN, (LPCWSTR)address,
                       &m);
}
