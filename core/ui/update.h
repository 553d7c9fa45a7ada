/* The updater's Windows side, shared by its files:
 *   update.cpp        settings, status line, worker, one check, the console
 *                     command and the install of a staged core
 *   update_http.cpp   GET over WinHTTP with time-outs, a deadline and a cancel
 *   update_files.cpp  reading files, writing them through ".part", comparing
 *   update_build.cpp  the build-time values (build id, release key, time-outs)
 * What the rest of the core calls is declared in ui_frame.h and ui.h. */
#pragma once
#include <windows.h>
#include <vector>
#include "update_manifest.h"

/* Fixed when the core is built; update_build.cpp. */
struct update_build_values {
    const char *build_id;    /* version-control description; "-dirty" never installs */
    const char *release_key; /* 64 hex digits, or empty: no release key built in */
    DWORD receive_ms;        /* per WinHTTP receive (response header and each read) */
    DWORD manifest_deadline_ms; /* whole GET of manifest.txt */
    DWORD file_deadline_ms;     /* whole GET of one listed file */
    DWORD stop_wait_ms;         /* how long update_stop waits for the worker */
};
extern const update_build_values update_build;

/* The WinHTTP session of the request in flight; a cancel closes it. */
struct update_http_slot {
    SRWLOCK lock;
    void *session; /* HINTERNET */
    volatile uint8_t cancelled;
};

/* GETs url (UTF-8) into out, at most cap bytes, within deadline_ms as a
 * whole. False with the reason in err (UPDATE_ERROR_MAX bytes). */
bool update_http_get(const char *url, size_t cap, DWORD deadline_ms, std::vector<uint8_t> *out, char *err,
                     size_t err_size, update_http_slot *slot);
/* Marks the slot cancelled and closes its session: a transfer in flight
 * fails at its next WinHTTP call or read. */
void update_cancel_http(update_http_slot *slot);

/* The whole file; false when it cannot be opened or read. */
bool update_read_file(const char *path, std::vector<uint8_t> *out);
/* Writes path".part" and renames it over path; false (no ".part" left, the
 * system error in GetLastError) when any step fails. */
bool update_write_file(const char *path, const std::vector<uint8_t> &data);
/* The file at path has the entry's size and SHA-256. */
bool update_file_matches(const char *path, const update_file_entry *entry);
