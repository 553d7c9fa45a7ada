/* The file layer's streams: fopen and _fsopen by UTF-8 path. No windows.h,
 * so the pure code (the network recording) opens its files through it too:
 * on Windows the path goes to the wide C runtime calls, elsewhere UTF-8 is
 * the system's own path text. A path that is not UTF-8, or too long for the
 * wide buffer, opens nothing. */
#pragma once
#include <stdio.h>
#include "dm_utf8.h"
#ifdef _WIN32
#include <share.h>
#endif

/* Wide room for a converted path: more than any of the system's buffers. */
#define DM_WIDE_PATH_MAX 1024

#ifdef _WIN32
/* The ASCII mode text ("rt", "wb", ...) as UTF-16. */
static inline void dm_file_mode_wide(const char *mode, wchar_t out[8])
{
    size_t i = 0;
    for (; mode[i] && i < 7; i++)
        out[i] = (wchar_t)(unsigned char)mode[i];
    out[i] = 0;
}

static inline FILE *dm_file_open(const char *path, const char *mode)
{
    wchar_t w[DM_WIDE_PATH_MAX], m[8];
    dm_file_mode_wide(mode, m);
    return dm_wide_from_utf8(path, w, DM_WIDE_PATH_MAX) >= 0 ? _wfopen(w, m) : nullptr;
}

/* With a share flag of <share.h> (_SH_DENYWR, ...). */
static inline FILE *dm_file_open_shared(const char *path, const char *mode, int share)
{
    wchar_t w[DM_WIDE_PATH_MAX], m[8];
    dm_file_mode_wide(mode, m);
    return dm_wide_from_utf8(path, w, DM_WIDE_PATH_MAX) >= 0 ? _wfsopen(w, m, share) : nullptr;
}
#else
static inline FILE *dm_file_open(const char *path, const char *mode) { return fopen(path, mode); }
#endif
