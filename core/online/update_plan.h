/* The updater's plan for one check, once the manifest is verified: which
 * listed files differ from the ones on disk, and what that decides (nothing
 * to do, the core already waits staged, refused and why, or download which
 * files), with the status line that says so. Pure logic, no windows.h:
 * update.cpp reads the files through the plan's match question, deletes old
 * plug-ins, downloads and writes; the plan only decides.
 *
 * A check asks, in this order:
 *   1. update_plan_pick     the plug-in line and the core line that differ
 *   2. (update.cpp)         old plug-ins deleted, whether one stays
 *   3. update_plan_decide   what is done, and the status line
 *   4. (update.cpp)         the download and the writes, for a download plan
 *   5. update_plan_done_status  the status line once the files are written */
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "online/update_manifest.h"

#define UPDATE_STATUS_MAX 200 /* the status line */

/* The files on disk a listed file is compared with. */
enum update_local_file {
    UPDATE_LOCAL_PLUGIN,      /* the loaded plug-in */
    UPDATE_LOCAL_LIVE_CORE,   /* core\drovemark_core.dll */
    UPDATE_LOCAL_STAGED_CORE, /* update\drovemark_core.dll, a staged core of this interface */
    UPDATE_LOCAL_NEXT_CORE,   /* core\drovemark_core.next.dll, a staged core of another one */
};

/* True when that file on disk has the entry's size and SHA-256. The plan asks
 * only what it needs, in the order the check needs it. */
typedef bool (*update_match_fn)(update_local_file file, const update_file_entry *entry, void *ctx);

/* What the updater knows beside the manifest. */
struct update_local {
    bool plugin_known;      /* the loaded plug-in's path is known */
    bool old_plugin_stays;  /* an old plug-in could not be deleted (still loaded); step 3 */
    bool core_staged;       /* a staged core of this interface waits (update_core_staged); step 3 */
    bool install;           /* install what is found (auto_update or an install request) */
    uint32_t api_version;   /* the host's plug-in interface */
    const char *build_id;   /* our own build id */
    update_match_fn matches;
    void *ctx;              /* handed to matches */
};

enum update_plan_kind {
    UPDATE_PLAN_STAGED,    /* the differing core already waits staged */
    UPDATE_PLAN_CURRENT,   /* nothing differs */
    UPDATE_PLAN_DEV_BUILD, /* refused: nothing installs over a dev build */
    UPDATE_PLAN_AVAILABLE, /* found; installing waits for "update install" */
    UPDATE_PLAN_REINSTALL, /* refused: a core of another interface needs a new plug-in the manifest lacks */
    UPDATE_PLAN_DOWNLOAD,  /* download the differing files and write them */
};

struct update_plan {
    update_plan_kind kind;
    const update_file_entry *plugin; /* the plug-in line that differs, or null */
    const update_file_entry *core;   /* the core line that differs, or null */
    bool same_api;  /* the manifest's api is the host's: the core is staged in
                       update\ and installed by the game thread, not by the
                       plug-in at the next start */
    int available;  /* the update-available flag after the check: 0, 1, or -1 unchanged */
    char status[UPDATE_STATUS_MAX];
};

/* Step 1: walks the file lines in order; a plug-in line whose file differs
 * (asked only when the plug-in is known) becomes the plug-in entry, any
 * other line whose live core differs the core entry; a later differing line
 * replaces an earlier one, a matching line clears nothing. Sets plugin and
 * core of out. */
void update_plan_pick(const update_manifest *m, const update_local *local, update_plan *out);

/* Step 3, after update_plan_pick on the same plan: the kind, same_api,
 * available and the status line. */
void update_plan_decide(const update_manifest *m, const update_local *local, update_plan *out);

/* Step 5: the status line once a download plan's files are written. */
void update_plan_done_status(const update_manifest *m, const update_plan *plan, char *out, size_t size);
