/* Files, folders and modules by UTF-8 path, for both libraries. Every path
 * inside the system is UTF-8 (the base directory comes from the wide
 * environment); this layer converts it at the boundary and calls the wide
 * Windows functions, so a profile folder named in any script works.
 *
 * Index:
 * - dm_path_wide: a UTF-8 path as UTF-16
 * - Streams: dm_file_open, dm_file_open_shared (dm_file_stream.h)
 * - Handles and names: dm_file_create, dm_file_delete, dm_file_move,
 *   dm_file_copy, dm_dir_create, dm_file_attributes(_ex), dm_full_path
 * - Listing a folder: dm_find_first, dm_find_next
 * - Modules: dm_load_library, dm_module_path
 *
 * A path that does not convert (not UTF-8, or too long for the wide buffer)
 * fails as Windows fails a bad name: the call's failure value, with
 * ERROR_NO_UNICODE_TRANSLATION or ERROR_FILENAME_EXCED_RANGE as the last
 * error. A result that does not fit its UTF-8 buffer is refused whole,
 * never cut. */
#pragma once
#include <windows.h>
#include <string.h>
#include "dm_file_stream.h"
#include "dm_utf8.h"

/* The UTF-8 path as UTF-16 into out; false (with the last error set) when it
 * does not convert or fit. */
static inline bool dm_path_wide(const char *path, wchar_t *out, size_t count)
{
    if (dm_wide_from_utf8(path, out, count) >= 0)
        return true;
    // A text of n bytes has at most n units: a short one that failed is not UTF-8.
    SetLastError(strlen(path) < count ? ERROR_NO_UNICODE_TRANSLATION : ERROR_FILENAME_EXCED_RANGE);
    return false;
}

/* ---- Handles and names ---- */

/* CreateFile with default security, normal attributes and no template. */
static inline HANDLE dm_file_create(const char *path, DWORD access, DWORD share, DWORD disposition)
{
    wchar_t w[DM_WIDE_PATH_MAX];
    if (!dm_path_wide(path, w, DM_WIDE_PATH_MAX))
        return INVALID_HANDLE_VALUE;
    return CreateFileW(w, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

static inline BOOL dm_file_delete(const char *path)
{
    wchar_t w[DM_WIDE_PATH_MAX];
    return dm_path_wide(path, w, DM_WIDE_PATH_MAX) && DeleteFileW(w);
}

/* MoveFileEx: flags 0 never replaces, MOVEFILE_REPLACE_EXISTING does. */
static inline BOOL dm_file_move(const char *from, const char *to, DWORD flags)
{
    wchar_t a[DM_WIDE_PATH_MAX], b[DM_WIDE_PATH_MAX];
    return dm_path_wide(from, a, DM_WIDE_PATH_MAX) && dm_path_wide(to, b, DM_WIDE_PATH_MAX) && MoveFileExW(a, b, flags);
}

static inline BOOL dm_file_copy(const char *from, const char *to, BOOL fail_if_exists)
{
    wchar_t a[DM_WIDE_PATH_MAX], b[DM_WIDE_PATH_MAX];
    return dm_path_wide(from, a, DM_WIDE_PATH_MAX) && dm_path_wide(to, b, DM_WIDE_PATH_MAX) &&
           CopyFileW(a, b, fail_if_exists);
}

static inline BOOL dm_dir_create(const char *path)
{
    wchar_t w[DM_WIDE_PATH_MAX];
    return dm_path_wide(path, w, DM_WIDE_PATH_MAX) && CreateDirectoryW(w, nullptr);
}

/* GetFileAttributes: INVALID_FILE_ATTRIBUTES when there is no such file. */
static inline DWORD dm_file_attributes(const char *path)
{
    wchar_t w[DM_WIDE_PATH_MAX];
    return dm_path_wide(path, w, DM_WIDE_PATH_MAX) ? GetFileAttributesW(w) : INVALID_FILE_ATTRIBUTES;
}

/* GetFileAttributesEx with the standard information. */
static inline BOOL dm_file_attributes_ex(const char *path, WIN32_FILE_ATTRIBUTE_DATA *out)
{
    wchar_t w[DM_WIDE_PATH_MAX];
    return dm_path_wide(path, w, DM_WIDE_PATH_MAX) && GetFileAttributesExW(w, GetFileExInfoStandard, out);
}

/* The full path of a path as the system resolves it, in UTF-8; false when
 * it cannot be had or does not fit. */
static inline bool dm_full_path(const char *path, char *out, size_t size)
{
    wchar_t w[DM_WIDE_PATH_MAX], full[DM_WIDE_PATH_MAX];
    if (!dm_path_wide(path, w, DM_WIDE_PATH_MAX))
        return false;
    DWORD n = GetFullPathNameW(w, DM_WIDE_PATH_MAX, full, nullptr);
    return n > 0 && n < DM_WIDE_PATH_MAX && dm_utf8_from_wide(full, out, size) >= 0;
}

/* ---- Listing a folder ---- */

/* One entry of a folder listing: its attributes and its name in UTF-8 (any
 * Windows file name fits: at most 3 bytes per UTF-16 unit). */
struct dm_find_data {
    DWORD attributes;
    char name[3 * MAX_PATH + 1];
};

/* Takes the found entry into out; false for a name that does not convert. */
static inline bool dm_find_take(const WIN32_FIND_DATAW *fd, dm_find_data *out)
{
    out->attributes = fd->dwFileAttributes;
    return dm_utf8_from_wide(fd->cFileName, out->name, sizeof out->name) >= 0;
}

/* FindNextFile, passing over names that do not convert. */
static inline BOOL dm_find_next(HANDLE h, dm_find_data *out)
{
    WIN32_FIND_DATAW fd;
    while (FindNextFileW(h, &fd))
        if (dm_find_take(&fd, out))
            return TRUE;
    return FALSE;
}

/* FindFirstFile of a pattern ("folder\\*.bak"); close the handle with
 * FindClose. INVALID_HANDLE_VALUE when nothing matches. */
static inline HANDLE dm_find_first(const char *pattern, dm_find_data *out)
{
    wchar_t w[DM_WIDE_PATH_MAX];
    WIN32_FIND_DATAW fd;
    HANDLE h = dm_path_wide(pattern, w, DM_WIDE_PATH_MAX) ? FindFirstFileW(w, &fd) : INVALID_HANDLE_VALUE;
    if (h == INVALID_HANDLE_VALUE || dm_find_take(&fd, out) || dm_find_next(h, out))
        return h;
    FindClose(h);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

/* ---- Modules ---- */

static inline HMODULE dm_load_library(const char *path)
{
    wchar_t w[DM_WIDE_PATH_MAX];
    return dm_path_wide(path, w, DM_WIDE_PATH_MAX) ? LoadLibraryW(w) : nullptr;
}

/* The module mapped from path, without a reference; null when none is. */
static inline HMODULE dm_module_loaded(const char *path)
{
    wchar_t w[DM_WIDE_PATH_MAX];
    return dm_path_wide(path, w, DM_WIDE_PATH_MAX) ? GetModuleHandleW(w) : nullptr;
}

/* The full file name of module m (null: the process's executable) in UTF-8;
 * false (out empty) when it cannot be had or does not fit. */
static inline bool dm_module_path(HMODULE m, char *out, size_t size)
{
    wchar_t w[DM_WIDE_PATH_MAX];
    DWORD n = GetModuleFileNameW(m, w, DM_WIDE_PATH_MAX);
    if (n == 0 || n >= DM_WIDE_PATH_MAX) {
        if (size)
            out[0] = 0;
        return false;
    }
    return dm_utf8_from_wide(w, out, size) >= 0;
}
