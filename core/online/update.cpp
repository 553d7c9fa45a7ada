// The updater: settings, status line, worker thread, one check, the console
// command, and the install of a staged core on the game thread.
//
// Index
//   1. state
//   2. status line
//   3. life cycle: init, shutdown, configure, start, stop
//   4. worker
//   5. one check
//   6. installing a staged core (game thread)
//   7. console command and the Settings window's getters
//
// The worker is a service worker (service_worker.h) with a context of its own
// (folder URL, base directory, plug-in interface): update_stop never waits
// out a stalled request. A worker left inside a WinHTTP call keeps the
// library mapped under it, and once stopped it sets no status and no flag
// and writes no file.
#include <winsock2.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "base/core.h"
#include "dm_file.h"
#include "online/online.h"
#include "online/service_worker.h"
#include "online/update.h"
#include "online/update_plan.h"

/* ---- 1. state ---- */

namespace {

#define STAGED_CORE "update\\drovemark_core.dll"
#define LIVE_CORE "core\\drovemark_core.dll"
#define NEXT_CORE "core\\drovemark_core.next.dll"
#define FIRST_WAIT_S 15u
#define RECHECK_MS 1800000u /* 30 minutes */

struct worker_ctx {
    char url[UPDATE_URL_MAX + 1];
    char base_dir[DM_PATH_MAX];
    uint32_t api_version; /* the host's plug-in interface */
};

const dm_host_api *host;
char update_url[UPDATE_URL_MAX + 1];
volatile bool auto_update = true;
SRWLOCK status_lock = SRWLOCK_INIT;
char status_line[200] = "off (no update_url in config.ini)";
service_worker *worker; /* the game thread's handle, null when stopped */
volatile LONG install_request;
volatile LONG available;
volatile LONG core_staged; /* update_core_staged */

void store_status(const char *text)
{
    AcquireSRWLockExclusive(&status_lock);
    bool changed = strcmp(text, status_line) != 0;
    if (changed)
        snprintf(status_line, sizeof status_line, "%s", text);
    ReleaseSRWLockExclusive(&status_lock);
    const dm_host_api *h = host;
    if (changed && h)
        h->log("[update] %s", text);
}

/* The status line from the game thread. */
void set_status(const char *fmt, ...) __attribute__((format(gnu_printf, 1, 2)));
void set_status(const char *fmt, ...)
{
    char text[200];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    store_status(text);
}

/* The status line from a worker: none once it is stopped. */
void worker_status(service_worker *w, const char *fmt, ...) __attribute__((format(gnu_printf, 2, 3)));
void worker_status(service_worker *w, const char *fmt, ...)
{
    char text[200];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    if (!service_worker_host_enter(w))
        return;
    store_status(text);
    service_worker_host_leave(w);
}

void get_status(char *out, size_t size)
{
    AcquireSRWLockShared(&status_lock);
    snprintf(out, size, "%s", status_line);
    ReleaseSRWLockShared(&status_lock);
}

/* "%s<name>" in the base directory; false when cut. */
bool dir_path(char *out, size_t size, const char *dir, const char *name)
{
    int n = snprintf(out, size, "%s%s", dir, name);
    return n > 0 && (size_t)n < size;
}

/* The same in the host's base directory (game thread); false when unknown. */
bool base_path(char *out, size_t size, const char *name)
{
    const dm_host_api *h = host;
    return h && dir_path(out, size, h->base_dir, name);
}

void update_worker(service_worker *w);

} // namespace

/* ---- 2. status line ---- */

void update_get_status(char *out, unsigned size)
{
    if (size)
        get_status(out, size);
}

/* ---- 3. life cycle ---- */

static bool update_has_release_key()
{
    uint8_t key[32];
    return update_parse_key(update_build.release_key, key);
}

static void update_start()
{
    if (!host || worker)
        return;
    if (!update_url[0]) {
        set_status("off (no update_url in config.ini)");
        return;
    }
    if (!update_has_release_key()) {
        set_status("off (this build has no release key)");
        return;
    }
    worker_ctx ctx;
    snprintf(ctx.url, sizeof ctx.url, "%s", update_url);
    snprintf(ctx.base_dir, sizeof ctx.base_dir, "%s", host->base_dir);
    ctx.api_version = host->version;
    worker = service_worker_start(update_worker, &ctx, sizeof ctx);
    if (!worker) {
        set_status("off (no worker thread)");
        return;
    }
    set_status("first check in %u s (%smanifest.txt)", FIRST_WAIT_S, update_url);
}

static void update_stop()
{
    if (!worker)
        return;
    bool ended = service_worker_stop(worker);
    worker = nullptr;
    if (!ended) // still inside a WinHTTP call: it ends on its own
        core_log("[update] the worker did not stop within %u ms; it ends on its own", (unsigned)SERVICE_STOP_WAIT_MS);
}

void update_init(const dm_host_api *api)
{
    host = api;
    update_start();
}

void update_shutdown()
{
    update_stop();
    host = nullptr;
}

void update_configure(const char *url, bool auto_on)
{
    char folder[UPDATE_URL_MAX + 1];
    update_folder_url(url, folder, sizeof folder);
    auto_update = auto_on;
    if (strcmp(folder, update_url) == 0)
        return;
    update_stop();
    memcpy(update_url, folder, sizeof folder);
    InterlockedExchange(&core_staged, 0); // staged from the old source: not installed
    update_start();
}

/* ---- 4. worker ---- */

static void update_check(service_worker *w, bool install);

namespace {

void update_worker(service_worker *w)
{
    service_worker_wait(w, FIRST_WAIT_S * 1000);
    while (!service_worker_stopping(w)) {
        bool requested = InterlockedExchange(&install_request, 0) != 0;
        update_check(w, auto_update || requested);
        if (service_worker_stopping(w))
            break;
        service_worker_wait(w, RECHECK_MS);
    }
}

} // namespace

/* ---- 5. one check ---- */

namespace {

const char *const old_plugin_pattern = "drovemark-old-*.bak";

/* The plug-in's folder: its path up to and including the last backslash;
 * false (and empty) when the path has none. */
bool plugin_folder(const char *plugin, char *out, size_t size)
{
    snprintf(out, size, "%s", plugin);
    char *slash = strrchr(out, '\\');
    if (slash)
        slash[1] = 0;
    else
        out[0] = 0;
    return slash != nullptr;
}

/* Deletes every old plug-in in the folder; false when one stays (still loaded). */
bool delete_old_plugins(const char *folder)
{
    char pattern[MAX_PATH + 32], path[MAX_PATH + 64];
    snprintf(pattern, sizeof pattern, "%s%s", folder, old_plugin_pattern);
    dm_find_data fd;
    HANDLE h = dm_find_first(pattern, &fd);
    if (h == INVALID_HANDLE_VALUE)
        return true;
    bool all = true;
    do {
        snprintf(path, sizeof path, "%s%s", folder, fd.name);
        if (!dm_file_delete(path))
            all = false;
    } while (dm_find_next(h, &fd));
    FindClose(h);
    return all;
}

/* Old plug-ins left beside the plug-in by earlier swaps, deleted; true when
 * one stays (still loaded by this game). */
bool old_plugins_stay(const char *plugin)
{
    char folder[MAX_PATH];
    return plugin_folder(plugin, folder, sizeof folder) && !delete_old_plugins(folder);
}

/* A GET through the worker's cancel slot: the body (malloc'ed; the caller
 * frees it) or null with the reason in err. */
char *update_get(service_worker *w, const char *url, size_t cap, DWORD deadline_ms, size_t *size, char *err,
                 size_t err_size)
{
    const http_limits limits = { L"drovemark-update/1", 10000, 10000, 10000, update_build.receive_ms, cap,
                                 deadline_ms };
    http_reply r;
    switch (http_get(url, &limits, service_worker_http(w), &r)) {
    case HTTP_OK:
        *size = r.size;
        return r.body;
    case HTTP_URL_TOO_LONG: snprintf(err, err_size, "URL too long"); break;
    case HTTP_BAD_URL: snprintf(err, err_size, "bad URL"); break;
    case HTTP_NO_WINHTTP: snprintf(err, err_size, "WinHTTP unavailable (%lu)", r.error); break;
    case HTTP_CANCELLED: snprintf(err, err_size, "stopped"); break;
    case HTTP_UNREACHABLE: snprintf(err, err_size, "can't reach the update server (error %lu)", r.error); break;
    case HTTP_STATUS: snprintf(err, err_size, "the update server answered HTTP %lu", r.status); break;
    case HTTP_TOO_BIG: snprintf(err, err_size, "download too big"); break;
    case HTTP_READ_FAILED: snprintf(err, err_size, "download failed (%lu)", r.error); break;
    case HTTP_TOO_SLOW: snprintf(err, err_size, "download took longer than %lu s", (unsigned long)deadline_ms / 1000); break;
    case HTTP_CUT: snprintf(err, err_size, "download cut short (%zu of %llu bytes)", r.size, r.announced); break;
    }
    *size = 0;
    return nullptr;
}

/* Swaps the plug-in file for data: new beside it, old moved aside, new in
 * place (the old one moved back when that fails). False with err. */
bool swap_plugin(const char *plugin, const uint8_t *data, size_t size, char *err, size_t err_size)
{
    char folder[MAX_PATH], fresh[MAX_PATH + 8], backup[MAX_PATH + 64];
    plugin_folder(plugin, folder, sizeof folder);
    snprintf(fresh, sizeof fresh, "%s.new", plugin);
    snprintf(backup, sizeof backup, "%sdrovemark-old-%llu.bak", folder, (unsigned long long)GetTickCount64());
    if (!update_write_file(fresh, data, size)) {
        snprintf(err, err_size, "can't write %s (%lu)", fresh, GetLastError());
        return false;
    }
    if (!dm_file_move(plugin, backup, 0)) {
        snprintf(err, err_size, "can't move the old plugin aside (%lu)", GetLastError());
        dm_file_delete(fresh);
        return false;
    }
    if (!dm_file_move(fresh, plugin, 0)) {
        snprintf(err, err_size, "can't put the new plugin in place (%lu)", GetLastError());
        dm_file_move(backup, plugin, 0);
        dm_file_delete(fresh);
        return false;
    }
    return true;
}

/* One listed file: its bytes when they match the entry, else null with err. */
uint8_t *update_download_file(service_worker *w, const update_file_entry *e, size_t *size, char *err,
                              size_t err_size)
{
    const worker_ctx *ctx = (const worker_ctx *)service_worker_ctx(w);
    char url[UPDATE_URL_MAX + 260];
    snprintf(url, sizeof url, "%s%s", ctx->url, e->path);
    uint8_t *data = (uint8_t *)update_get(w, url, UPDATE_FILE_MAX, update_build.file_deadline_ms, size, err,
                                          err_size);
    if (data && !update_sha256_matches(data, *size, e)) {
        snprintf(err, err_size, "%s doesn't match the manifest", e->name);
        free(data);
        data = nullptr;
    }
    return data;
}

} // namespace

/* The result of a check: its status line, and the flags it sets. Once the
 * worker is stopped it reports nothing, so that a worker left to end on its
 * own never changes what the next one (or the next core) sees. */
static void check_done(service_worker *w, const char *text, int available_to, bool staged)
{
    if (!service_worker_host_enter(w))
        return;
    if (available_to >= 0)
        InterlockedExchange(&available, available_to);
    if (staged)
        InterlockedExchange(&core_staged, 1);
    store_status(text);
    service_worker_host_leave(w);
}

namespace {

/* The files a check compares listed files with, by update_local_file. */
struct local_files {
    const char *path[4];
};

bool local_file_matches(update_local_file file, const update_file_entry *entry, void *ctx)
{
    return update_file_matches(((const local_files *)ctx)->path[file], entry);
}

/* The files of a download plan, in memory (malloc'ed). */
struct downloads {
    uint8_t *plugin, *core;
    size_t plugin_size, core_size;
};

/* The plug-in first, then the core; the first failure ends it (nothing kept)
 * with its reason in err. */
bool download_plan(service_worker *w, const update_plan *plan, downloads *out, char *err, size_t err_size)
{
    *out = {};
    if ((plan->plugin && !(out->plugin = update_download_file(w, plan->plugin, &out->plugin_size, err, err_size))) ||
        (plan->core && !(out->core = update_download_file(w, plan->core, &out->core_size, err, err_size)))) {
        free(out->plugin);
        out->plugin = nullptr;
        return false;
    }
    return true;
}

/* The downloaded files written: the core first, so a new plug-in never
 * stands beside an old core of another interface; when the plug-in swap
 * fails the core is taken back. False with the status line set. */
bool write_plan(service_worker *w, const update_plan *plan, const downloads *d, const char *plugin,
                const char *core_target)
{
    const worker_ctx *ctx = (const worker_ctx *)service_worker_ctx(w);
    char err[UPDATE_ERROR_MAX];
    if (plan->core) {
        char folder[DM_PATH_MAX];
        if (dir_path(folder, sizeof folder, ctx->base_dir, "update"))
            dm_dir_create(folder);
        if (!update_write_file(core_target, d->core, d->core_size)) {
            worker_status(w, "can't save the new core (%lu)", GetLastError());
            return false;
        }
    }
    if (plan->plugin && !swap_plugin(plugin, d->plugin, d->plugin_size, err, sizeof err)) {
        if (plan->core)
            dm_file_delete(core_target);
        worker_status(w, "plugin update failed: %s (close the game and run install.cmd)", err);
        return false;
    }
    return true;
}

} // namespace

static void update_check(service_worker *w, bool install)
{
    // 1. The manifest, fetched.
    const worker_ctx *ctx = (const worker_ctx *)service_worker_ctx(w);
    char err[UPDATE_ERROR_MAX], url[UPDATE_URL_MAX + 16], text[UPDATE_STATUS_MAX];
    size_t size = 0;
    snprintf(url, sizeof url, "%smanifest.txt", ctx->url);
    char *body = update_get(w, url, UPDATE_MANIFEST_MAX, update_build.manifest_deadline_ms, &size, err, sizeof err);
    if (!body) {
        worker_status(w, "check failed: %s", err);
        return;
    }
    // 2. Its signature checked and its lines read.
    update_manifest m;
    bool verified = update_verify_manifest(update_build.release_key, body, size, &m, err, sizeof err);
    free(body);
    if (!verified) {
        worker_status(w, "rejected the update manifest: %s", err);
        return;
    }

    // 3. The files on disk: the loaded plug-in (when its path is known) and
    // the live, staged and next core.
    char plugin[MAX_PATH] = "", live[DM_PATH_MAX], staged[DM_PATH_MAX], next[DM_PATH_MAX];
    HMODULE pm = GetModuleHandleW(L"drovemark.dll");
    bool plugin_known = pm && dm_module_path(pm, plugin, sizeof plugin);
    if (!dir_path(live, sizeof live, ctx->base_dir, LIVE_CORE) ||
        !dir_path(staged, sizeof staged, ctx->base_dir, STAGED_CORE) ||
        !dir_path(next, sizeof next, ctx->base_dir, NEXT_CORE))
        return;
    local_files files = { { plugin, live, staged, next } };
    update_local local = {};
    local.plugin_known = plugin_known;
    local.matches = local_file_matches;
    local.ctx = &files;

    // 4. The listed files that differ from them.
    update_plan plan;
    update_plan_pick(&m, &local, &plan);
    // 5. Old plug-ins deleted.
    local.old_plugin_stays = plugin_known && old_plugins_stay(plugin);
    // 6. The decision, said in the status line; only a download goes on.
    local.core_staged = core_staged != 0;
    local.install = install;
    local.api_version = ctx->api_version;
    local.build_id = update_build.build_id;
    update_plan_decide(&m, &local, &plan);
    check_done(w, plan.status, plan.available, false);
    if (plan.kind != UPDATE_PLAN_DOWNLOAD)
        return;

    // 7. The files downloaded; a worker left to end on its own writes nothing.
    downloads d;
    if (!download_plan(w, &plan, &d, err, sizeof err)) {
        worker_status(w, "download failed: %s", err);
        return;
    }
    if (service_worker_stopping(w)) {
        free(d.plugin);
        free(d.core);
        return;
    }
    // 8. Written, and the status line says what is left to do.
    bool written = write_plan(w, &plan, &d, plugin, plan.same_api ? staged : next);
    free(d.plugin);
    free(d.core);
    if (!written)
        return;
    update_plan_done_status(&m, &plan, text, sizeof text);
    check_done(w, text, 0, plan.core && plan.same_api);
}

/* ---- 6. installing a staged core (game thread) ---- */

void update_install_staged_core(bool net_open)
{
    if (!core_staged || net_open || !host)
        return;
    if (!InterlockedExchange(&core_staged, 0))
        return;
    char staged[DM_PATH_MAX], live[DM_PATH_MAX];
    if (!base_path(staged, sizeof staged, STAGED_CORE) || !base_path(live, sizeof live, LIVE_CORE))
        return;
    if (dm_file_move(staged, live, MOVEFILE_REPLACE_EXISTING))
        set_status("installing the new core (the plugin reloads it now)");
    else
        set_status("can't install the new core (%lu)", GetLastError());
}

/* ---- 7. console command and getters ---- */

void update_command(const char *rest)
{
    char status[200];
    get_status(status, sizeof status);
    switch (update_parse_command(rest)) {
    case UPDATE_CMD_STATUS:
        core_log("[update] %s; build %s, url '%s', auto %s", status, update_build.build_id, update_url,
                 auto_update ? "on" : "off");
        break;
    case UPDATE_CMD_CHECK:
    case UPDATE_CMD_INSTALL:
        if (!worker) {
            core_log("[update] %s", status);
            break;
        }
        if (update_parse_command(rest) == UPDATE_CMD_INSTALL)
            InterlockedExchange(&install_request, 1);
        service_worker_wake(worker);
        break;
    case UPDATE_CMD_USAGE:
        core_log("[update] usage: update | update check | update install");
        break;
    }
}

bool update_worker_running() { return worker != nullptr; }
bool update_auto_enabled() { return auto_update; }
bool update_available() { return available != 0; }
