// The updater's plan for one check (see update_plan.h).
//
// Index
//   1. the entries that differ (update_plan_pick)
//   2. the decision (update_plan_decide)
//   3. the status once written (update_plan_done_status)
#include "online/update_plan.h"
#include <stdio.h>
#include <string.h>

#define WAITS_TEXT "build %s downloaded; it installs when you leave the server%s"
#define RESTART_TEXT "build %s installed; restart the game to finish"

/* ---- 1. the entries that differ ---- */

void update_plan_pick(const update_manifest *m, const update_local *local, update_plan *out)
{
    out->plugin = nullptr;
    out->core = nullptr;
    for (const update_file_entry &e : m->files) {
        if (strcmp(e.name, "drovemark.dll") == 0) {
            if (local->plugin_known && !local->matches(UPDATE_LOCAL_PLUGIN, &e, local->ctx))
                out->plugin = &e;
        } else if (!local->matches(UPDATE_LOCAL_LIVE_CORE, &e, local->ctx)) {
            out->core = &e;
        }
    }
}

/* ---- 2. the decision ----
 * In this order, the first that holds decides:
 *   a. the core entry already waits staged (this interface: flagged staged
 *      and update\ holds it; another: core\...next.dll holds it)
 *   b. nothing differs: current (or installed, an old plug-in still loaded)
 *   from here an update is available:
 *   c. our own build is a dev build
 *   d. no install flag
 *   e. a core of another interface without a new plug-in
 *   f. download */

void update_plan_decide(const update_manifest *m, const update_local *local, update_plan *out)
{
    char *text = out->status;
    const size_t size = sizeof out->status;
    out->same_api = m->api == (int32_t)local->api_version;
    const update_file_entry *core = out->core;
    if (core &&
        (out->same_api ? local->core_staged && local->matches(UPDATE_LOCAL_STAGED_CORE, core, local->ctx)
                       : local->matches(UPDATE_LOCAL_NEXT_CORE, core, local->ctx))) {
        out->kind = UPDATE_PLAN_STAGED;
        out->available = -1;
        snprintf(text, size, WAITS_TEXT, m->build, out->same_api ? "" : " and restart the game");
        return;
    }
    if (!out->plugin && !core) {
        out->kind = UPDATE_PLAN_CURRENT;
        out->available = 0;
        if (local->old_plugin_stays)
            snprintf(text, size, RESTART_TEXT, m->build);
        else
            snprintf(text, size, "up to date (build %s)", m->build);
        return;
    }
    out->available = 1;
    if (update_build_is_dirty(local->build_id)) {
        out->kind = UPDATE_PLAN_DEV_BUILD;
        snprintf(text, size, "build %s available; not installing over a dev build (%s)", m->build, local->build_id);
    } else if (!local->install) {
        out->kind = UPDATE_PLAN_AVAILABLE;
        snprintf(text, size, "build %s available", m->build);
    } else if (core && !out->same_api && !out->plugin) {
        out->kind = UPDATE_PLAN_REINSTALL;
        snprintf(text, size, "build %s needs a reinstall (plugin API %u -> %d): run install.cmd", m->build,
                 local->api_version, m->api);
    } else {
        out->kind = UPDATE_PLAN_DOWNLOAD;
        snprintf(text, size, "downloading build %s", m->build);
    }
}

/* ---- 3. the status once written ---- */

void update_plan_done_status(const update_manifest *m, const update_plan *plan, char *out, size_t size)
{
    if (plan->core && plan->same_api)
        snprintf(out, size, WAITS_TEXT, m->build, plan->plugin ? " (plugin: restart the game)" : "");
    else
        snprintf(out, size, RESTART_TEXT, m->build);
}
