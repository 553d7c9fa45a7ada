/* The updater's Windows side, shared by its files:
 *   update.cpp        settings, status line, worker, one check, the console
 *                     command and the install of a staged core
 *   update_files.cpp  reading files, writing them through ".part", comparing
 *   update_build.cpp  the build-time values (build id, release key, time-outs)
 * What the rest of the core calls is declared in online.h. */
#pragma once
#include <windows.h>
#include <vector>
#include "online/update_manifest.h"

/* Fixed when the core is built; update_build.cpp. */
struct update_build_values {
    const char *build_id;    /* version-control description; "-dirty" never installs */
    const char *release_key; /* 64 hex digits, or empty: no release key built in */
    DWORD receive_ms;        /* per WinHTTP receive (response header and each read) */
    DWORD manifest_deadline_ms; /* whole GET of manifest.txt */
    DWORD file_deadline_ms;     /* whole GET of one listed file */
};
extern const update_build_values update_build;

/* The whole file; false when it cannot be opened or read. */
bool update_read_file(const char *path, std::vector<uint8_t> *out);
/* Writes path".part" and renames it over path; false (no ".part" left, the
 * system error in GetLastError) when any step fails. */
bool update_write_file(const char *path, const uint8_t *data, size_t size);
/* The file at path has the entry's size and SHA-256. */
bool update_file_matches(const char *path, const update_file_entry *entry);
