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
    snprintf(folder, sizeof folder, "%s", plugin);
    char *slash = strrchr(folder, '\\');
    if (slash)
        slash[1] = 0;
    else
        folder[0] = 0;
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

static void update_check(service_worker *w, bool install)
{
    const worker_ctx *ctx = (const worker_ctx *)service_worker_ctx(w);
    char err[UPDATE_ERROR_MAX], url[UPDATE_URL_MAX + 16], text[200];
    size_t size = 0;
    snprintf(url, sizeof url, "%smanifest.txt", ctx->url);
    char *body = update_get(w, url, UPDATE_MANIFEST_MAX, update_build.manifest_deadline_ms, &size, err, sizeof err);
    if (!body) {
        worker_status(w, "check failed: %s", err);
        return;
    }
    update_manifest m;
    bool verified = update_verify_manifest(update_build.release_key, body, size, &m, err, sizeof err);
    free(body);
    if (!verified) {
        worker_status(w, "rejected the update manifest: %s", err);
        return;
    }

    char plugin[MAX_PATH] = "", live[DM_PATH_MAX], staged[DM_PATH_MAX], next[DM_PATH_MAX];
    HMODULE pm = GetModuleHandleW(L"drovemark.dll");
    bool plugin_known = pm && dm_module_path(pm, plugin, sizeof plugin);
    if (!dir_path(live, sizeof live, ctx->base_dir, LIVE_CORE) ||
        !dir_path(staged, sizeof staged, ctx->base_dir, STAGED_CORE) ||
        !dir_path(next, sizeof next, ctx->base_dir, NEXT_CORE))
        return;

    const update_file_entry *plugin_entry = nullptr, *core_entry = nullptr;
    for (const update_file_entry &e : m.files) {
        if (strcmp(e.name, "drovemark.dll") == 0) {
            if (plugin_known && !update_file_matches(plugin, &e))
                plugin_entry = &e;
        } else if (!update_file_matches(live, &e)) {
            core_entry = &e;
        }
    }
    bool old_plugin_stays = false;
    if (plugin_known) {
        char folder[MAX_PATH];
        snprintf(folder, sizeof folder, "%s", plugin);
        char *slash = strrchr(folder, '\\');
        if (slash) {
            slash[1] = 0;
            old_plugin_stays = !delete_old_plugins(folder);
        }
    }
    bool same_api = m.api == (int32_t)ctx->api_version;
    if (core_entry) {
        if (same_api ? core_staged && update_file_matches(staged, core_entry)
                     : update_file_matches(next, core_entry)) {
            worker_status(w, "build %s downloaded; it installs when you leave the server%s", m.build,
                          same_api ? "" : " and restart the game");
            return;
        }
    }
    if (!plugin_entry && !core_entry) {
        if (old_plugin_stays)
            snprintf(text, sizeof text, "build %s installed; restart the game to finish", m.build);
        else
            snprintf(text, sizeof text, "up to date (build %s)", m.build);
        check_done(w, text, 0, false);
        return;
    }
    bool download = false;
    if (update_build_is_dirty(update_build.build_id)) {
        snprintf(text, sizeof text, "build %s available; not installing over a dev build (%s)", m.build,
                 update_build.build_id);
    } else if (!install) {
        snprintf(text, sizeof text, "build %s available", m.build);
    } else if (core_entry && !same_api && !plugin_entry) {
        snprintf(text, sizeof text, "build %s needs a reinstall (plugin API %u -> %d): run install.cmd", m.build,
                 ctx->api_version, m.api);
    } else {
        snprintf(text, sizeof text, "downloading build %s", m.build);
        download = true;
    }
    check_done(w, text, 1, false);
    if (!download)
        return;

    size_t plugin_size = 0, core_size = 0;
    uint8_t *plugin_data = nullptr, *core_data = nullptr;
    if ((plugin_entry && !(plugin_data = update_download_file(w, plugin_entry, &plugin_size, err, sizeof err))) ||
        (core_entry && !(core_data = update_download_file(w, core_entry, &core_size, err, sizeof err)))) {
        free(plugin_data);
        worker_status(w, "download failed: %s", err);
        return;
    }
    if (service_worker_stopping(w)) { // a worker left to end on its own writes nothing
        free(plugin_data);
        free(core_data);
        return;
    }

    // The core goes first: a new plug-in never stands beside an old core of
    // another interface. When the plug-in swap fails the core is taken back.
    const char *core_target = same_api ? staged : next;
    bool written = true;
    if (core_entry) {
        char folder[DM_PATH_MAX];
        if (dir_path(folder, sizeof folder, ctx->base_dir, "update"))
            dm_dir_create(folder);
        if (!update_write_file(core_target, core_data, core_size)) {
            worker_status(w, "can't save the new core (%lu)", GetLastError());
            written = false;
        }
    }
    if (written && plugin_entry && !swap_plugin(plugin, plugin_data, plugin_size, err, sizeof err)) {
        if (core_entry)
            dm_file_delete(core_target);
        worker_status(w, "plugin update failed: %s (close the game and run install.cmd)", err);
        written = false;
    }
    free(plugin_data);
    free(core_data);
    if (!written)
        return;
    if (core_entry && same_api)
        snprintf(text, sizeof text, "build %s downloaded; it installs when you leave the server%s", m.build,
                 plugin_entry ? " (plugin: restart the game)" : "");
    else
        snprintf(text, sizeof text, "build %s installed; restart the game to finish", m.build);
    check_done(w, text, 0, core_entry && same_api);
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
