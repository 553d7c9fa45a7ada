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
// The worker gets a context of its own (stop flag, wake event, HTTP slot,
// folder URL) and a reference on this library (GetModuleHandleEx from its own
// address, released by FreeLibraryAndExitThread). update_stop waits a bounded
// time; a worker still inside a WinHTTP call after that is left to end on its
// own: it keeps its context and the library stays mapped under it, and with
// its stop flag set it writes no file.
#include <winsock2.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include "core.h"
#include "dm_file.h"
#include "ui.h"
#include "ui_frame.h"
#include "update.h"

/* ---- 1. state ---- */

namespace {

#define STAGED_CORE "update\\drovemark_core.dll"
#define LIVE_CORE "core\\drovemark_core.dll"
#define NEXT_CORE "core\\drovemark_core.next.dll"
#define FIRST_WAIT_S 15u
#define RECHECK_MS 1800000u /* 30 minutes */

struct worker_ctx {
    HANDLE wake; /* auto-reset */
    volatile LONG stop;
    update_http_slot slot;
    HMODULE module; /* the reference the worker holds on this library */
    char url[UPDATE_URL_MAX + 1];
};

const dm_host_api *host;
char update_url[UPDATE_URL_MAX + 1];
volatile bool auto_update = true;
SRWLOCK status_lock = SRWLOCK_INIT;
char status_line[200] = "off (no update_url in config.ini)";
worker_ctx *worker;
HANDLE worker_thread;
volatile LONG install_request;
volatile LONG available;
volatile LONG core_staged; /* update_core_staged */

void set_status(const char *fmt, ...) __attribute__((format(gnu_printf, 1, 2)));
void set_status(const char *fmt, ...)
{
    char text[200];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    AcquireSRWLockExclusive(&status_lock);
    bool changed = strcmp(text, status_line) != 0;
    if (changed)
        memcpy(status_line, text, sizeof text);
    ReleaseSRWLockExclusive(&status_lock);
    const dm_host_api *h = host;
    if (changed && h)
        h->log("[update] %s", text);
}

void get_status(char *out, size_t size)
{
    AcquireSRWLockShared(&status_lock);
    snprintf(out, size, "%s", status_line);
    ReleaseSRWLockShared(&status_lock);
}

/* "%s<name>" in the base directory of the host; false when cut or unknown. */
bool base_path(char *out, size_t size, const char *name)
{
    const dm_host_api *h = host;
    if (!h)
        return false;
    int n = snprintf(out, size, "%s%s", h->base_dir, name);
    return n > 0 && (size_t)n < size;
}

DWORD WINAPI update_worker(void *arg);

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
    if (!host || worker_thread)
        return;
    if (!update_url[0]) {
        set_status("off (no update_url in config.ini)");
        return;
    }
    if (!update_has_release_key()) {
        set_status("off (this build has no release key)");
        return;
    }
    worker_ctx *ctx = new worker_ctx();
    InitializeSRWLock(&ctx->slot.lock);
    snprintf(ctx->url, sizeof ctx->url, "%s", update_url);
    ctx->wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE thread = nullptr;
    if (ctx->wake &&
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, (LPCWSTR)(void *)&update_worker, &ctx->module)) {
        thread = CreateThread(nullptr, 0, update_worker, ctx, 0, nullptr);
        if (!thread)
            FreeLibrary(ctx->module);
    }
    if (!thread) {
        if (ctx->wake)
            CloseHandle(ctx->wake);
        delete ctx;
        set_status("off (no worker thread)");
        return;
    }
    worker = ctx;
    worker_thread = thread;
    set_status("first check in %u s (%smanifest.txt)", FIRST_WAIT_S, update_url);
}

static void update_stop()
{
    if (!worker_thread)
        return;
    InterlockedExchange(&worker->stop, 1);
    SetEvent(worker->wake);
    update_cancel_http(&worker->slot);
    if (WaitForSingleObject(worker_thread, update_build.stop_wait_ms) == WAIT_OBJECT_0) {
        CloseHandle(worker->wake);
        delete worker;
    } else {
        // Still inside a WinHTTP call: it ends at its time-out and exits
        // through its own reference on the library; its context stays its.
        core_log("[update] the worker did not stop within %lu ms; it ends on its own",
                 (unsigned long)update_build.stop_wait_ms);
    }
    CloseHandle(worker_thread);
    worker_thread = nullptr;
    worker = nullptr;
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

static void update_check(worker_ctx *ctx, bool install);

namespace {

DWORD WINAPI update_worker(void *arg)
{
    worker_ctx *ctx = (worker_ctx *)arg;
    HMODULE self = ctx->module;
    WaitForSingleObject(ctx->wake, FIRST_WAIT_S * 1000);
    while (!ctx->stop) {
        bool requested = InterlockedExchange(&install_request, 0) != 0;
        update_check(ctx, auto_update || requested);
        if (ctx->stop)
            break;
        WaitForSingleObject(ctx->wake, RECHECK_MS);
    }
    FreeLibraryAndExitThread(self, 0);
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

/* Swaps the plug-in file for data: new beside it, old moved aside, new in
 * place (the old one moved back when that fails). False with err. */
bool swap_plugin(const char *plugin, const std::vector<uint8_t> &data, char *err, size_t err_size)
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
    if (!update_write_file(fresh, data)) {
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

bool update_download_file(const worker_ctx *ctx, const update_file_entry *e, std::vector<uint8_t> *out,
                          char *err, size_t err_size, update_http_slot *slot)
{
    char url[UPDATE_URL_MAX + 260];
    snprintf(url, sizeof url, "%s%s", ctx->url, e->path);
    if (!update_http_get(url, UPDATE_FILE_MAX, update_build.file_deadline_ms, out, err, err_size, slot))
        return false;
    if (!update_sha256_matches(out->data(), out->size(), e)) {
        snprintf(err, err_size, "%s doesn't match the manifest", e->name);
        out->clear();
        return false;
    }
    return true;
}

} // namespace

static void update_check(worker_ctx *ctx, bool install)
{
    const dm_host_api *h = host;
    if (!h)
        return;
    char err[UPDATE_ERROR_MAX], url[UPDATE_URL_MAX + 16];
    std::vector<uint8_t> text;
    snprintf(url, sizeof url, "%smanifest.txt", ctx->url);
    if (!update_http_get(url, UPDATE_MANIFEST_MAX, update_build.manifest_deadline_ms, &text, err, sizeof err,
                         &ctx->slot)) {
        if (!ctx->stop)
            set_status("check failed: %s", err);
        return;
    }
    update_manifest m;
    if (!update_verify_manifest(update_build.release_key, (const char *)text.data(), text.size(), &m, err,
                                sizeof err)) {
        set_status("rejected the update manifest: %s", err);
        return;
    }

    char plugin[MAX_PATH] = "", live[DM_PATH_MAX], staged[DM_PATH_MAX], next[DM_PATH_MAX];
    HMODULE pm = GetModuleHandleW(L"drovemark.dll");
    bool plugin_known = pm && dm_module_path(pm, plugin, sizeof plugin);
    if (!base_path(live, sizeof live, LIVE_CORE) || !base_path(staged, sizeof staged, STAGED_CORE) ||
        !base_path(next, sizeof next, NEXT_CORE))
        return; // stopping: the host is gone

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
    bool same_api = m.api == (int32_t)h->version;
    if (core_entry) {
        if (same_api ? core_staged && update_file_matches(staged, core_entry)
                     : update_file_matches(next, core_entry)) {
            set_status("build %s downloaded; it installs when you leave the server%s", m.build,
                       same_api ? "" : " and restart the game");
            return;
        }
    }
    if (!plugin_entry && !core_entry) {
        InterlockedExchange(&available, 0);
        if (old_plugin_stays)
            set_status("build %s installed; restart the game to finish", m.build);
        else
            set_status("up to date (build %s)", m.build);
        return;
    }
    InterlockedExchange(&available, 1);
    if (update_build_is_dirty(update_build.build_id)) {
        set_status("build %s available; not installing over a dev build (%s)", m.build, update_build.build_id);
        return;
    }
    if (!install) {
        set_status("build %s available", m.build);
        return;
    }
    if (core_entry && !same_api && !plugin_entry) {
        set_status("build %s needs a reinstall (plugin API %u -> %d): run install.cmd", m.build, h->version,
                   m.api);
        return;
    }

    set_status("downloading build %s", m.build);
    std::vector<uint8_t> plugin_data, core_data;
    if ((plugin_entry && !update_download_file(ctx, plugin_entry, &plugin_data, err, sizeof err, &ctx->slot)) ||
        (core_entry && !update_download_file(ctx, core_entry, &core_data, err, sizeof err, &ctx->slot))) {
        if (!ctx->stop)
            set_status("download failed: %s", err);
        return;
    }
    if (ctx->stop)
        return; // a worker left to end on its own writes nothing

    // The core goes first: a new plug-in never stands beside an old core of
    // another interface. When the plug-in swap fails the core is taken back.
    const char *core_target = same_api ? staged : next;
    if (core_entry) {
        char folder[DM_PATH_MAX];
        if (base_path(folder, sizeof folder, "update"))
            dm_dir_create(folder);
        if (!update_write_file(core_target, core_data)) {
            set_status("can't save the new core (%lu)", GetLastError());
            return;
        }
    }
    if (plugin_entry && !swap_plugin(plugin, plugin_data, err, sizeof err)) {
        if (core_entry)
            dm_file_delete(core_target);
        set_status("plugin update failed: %s (close the game and run install.cmd)", err);
        return;
    }
    if (core_entry && same_api)
        InterlockedExchange(&core_staged, 1);
    InterlockedExchange(&available, 0);
    if (core_entry && same_api)
        set_status("build %s downloaded; it installs when you leave the server%s", m.build,
                   plugin_entry ? " (plugin: restart the game)" : "");
    else
        set_status("build %s installed; restart the game to finish", m.build);
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
        if (!worker_thread) {
            core_log("[update] %s", status);
            break;
        }
        if (update_parse_command(rest) == UPDATE_CMD_INSTALL)
            InterlockedExchange(&install_request, 1);
        SetEvent(worker->wake);
        break;
    case UPDATE_CMD_USAGE:
        core_log("[update] usage: update | update check | update install");
        break;
    }
}

bool update_worker_running() { return worker_thread != nullptr; }
bool update_auto_enabled() { return auto_update; }
bool update_available() { return available != 0; }
