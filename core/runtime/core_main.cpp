// The core's exports: start order, stop order, the leave at game exit, the
// emergency unhook, the UI hand-off, and the frame fault filter that names
// the failing frame step.
//
// Index of this file:
//   the frame's globals
//   export guard         a C++ exception never leaves an export
//   dm_core_init
//   dm_core_frame        and its fault filter
//   dm_core_ui
//   dm_core_exit         the game closes: leave the server
//   dm_core_shutdown
//   dm_core_unhook
#include <windows.h>
#include <psapi.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include "runtime/auto_connect.h"
#include "base/core.h"
#include "base/core_config.h"
#include "base/detour_gate.h"
#include "dm_guard.h"
#include "dm_module.h"
#include "runtime/hooks.h"
#include "net/net.h"
#include "online/online.h"
#include "props/props.h"
#include "runtime/reload_blocks.h"
#include "runtime/runtime.h"
#include "runtime/state_files.h"
#include "ui/ui.h"
#include "vehicles/vehicles.h"
#include "world/world.h"

/* ---- the frame's globals ---- */

const char *volatile core_frame_step = "start";
bool core_first_frame;
static bool core_exiting; /* dm_core_exit came: the game is closing */

/* ---- export guard ---- */

namespace {

/* How an export ends after a C++ exception inside it. The guard's thunk has
 * turned the exception into DM_FAULT_CXX_EXCEPTION once the exception object
 * was gone, so nothing of it unwinds into the plug-in or the game. */
struct export_guard {
    const char *name;
    bool returns; /* true: the export returns (init: 0); false: the fault goes
                     on to the plug-in's guard as a fault of that call */
};

long export_exception_filter(EXCEPTION_POINTERS *pointers, void *ctx)
{
    // A structured fault (an access violation, ...) goes on to the plug-in's
    // guard as before; only a C++ exception is reported here.
    if (pointers->ExceptionRecord->ExceptionCode != DM_FAULT_CXX_EXCEPTION)
        return EXCEPTION_CONTINUE_SEARCH;
    const export_guard *guard = (const export_guard *)ctx;
    core_log("[core] %s: C++ exception; the call is abandoned", guard->name);
    return guard->returns ? EXCEPTION_EXECUTE_HANDLER : EXCEPTION_CONTINUE_SEARCH;
}

/* Runs an export's body; false when a C++ exception ended it. */
template <typename F> bool export_guarded(const export_guard &guard, F &&body)
{
    return dm_guarded_filter(body, export_exception_filter, (void *)&guard);
}

/* What dm_core_unhook takes down: the hooks first (drawing stops at once),
 * the job hook, then the worker threads. */
void unhook_all()
{
    hook_set_drawing_enabled(false);
    hook_remove_shadow();
    hook_remove_draw();
    job_unhook();
    // Workers that cannot be stopped in time keep this library mapped.
    if (!core_workers_stop_bounded())
        core_pin_self();
    // The file worker holds its own reference; the lines it has taken are
    // dropped, as a fault's leftover is.
    state_files_stop(false);
}

const export_guard init_guard = { "dm_core_init", true };
const export_guard ui_guard = { "dm_core_ui", false };
const export_guard exit_guard = { "dm_core_exit", false };
const export_guard shutdown_guard = { "dm_core_shutdown", false };
const export_guard unhook_guard = { "dm_core_unhook", false };

} // namespace

/* ---- dm_core_init ---- */

static void core_start(const dm_host_api *api)
{
    core_api = api;
    core_frame_reset();
    core_game_thread = GetCurrentThreadId();
    game_base = (uint64_t)(uintptr_t)GetModuleHandleW(nullptr);
    core_log("[core] init (build %s, compiled %s %s)", update_build_id(), __DATE__, __TIME__);

    net_set_log(api->log);
    auto_connect_env_install();
    char key_path[DM_PATH_MAX];
    if (core_path(key_path, sizeof key_path, "identity.key"))
        net_load_player_key(key_path);
    config_load();
    render_gate_share(); // before any hook: the detours of an earlier core count in it too
    reload_blocks_map();
    rv_section_map();
    restore_after_reload();
    draw_hook_decide(); // the old core drew: the hook is back before the first frame

    props_init(api);
    traffic_init(api);
    job_init(api);
    damage_init(api);
    ui_init(api);
    nametags_init(api);
    update_init(api);
    state_files_start(api->base_dir);

    core_first_frame = true;
}

extern "C" __declspec(dllexport) int32_t dm_core_init(const dm_host_api *api)
{
    if (!api || api->version != DM_HOST_API_VERSION)
        return 0;
    if (export_guarded(init_guard, [api] { core_start(api); }))
        return 1;
    // A refused core is freed without dm_core_shutdown or dm_core_unhook:
    // take down what the start got to first.
    export_guarded(init_guard, [] { unhook_all(); });
    return 0;
}

/* ---- dm_core_frame ---- */

namespace {

long frame_fault_filter(EXCEPTION_POINTERS *pointers, void *)
{
    const EXCEPTION_RECORD *rec = pointers->ExceptionRecord;
    if (!core_api)
        return EXCEPTION_CONTINUE_SEARCH;
    char name[MAX_PATH] = "?";
    uint64_t offset = 0;
    if (HMODULE mod = dm_module_at(rec->ExceptionAddress)) {
        dm_module_file_name(mod, name, sizeof name);
        offset = (uint64_t)(uintptr_t)rec->ExceptionAddress - (uint64_t)(uintptr_t)mod;
        if ((uint64_t)(uintptr_t)mod == game_base)
            offset += 0x140000000ULL;
    } else {
        // No module holds it: print the raw code address.
        offset = (uint64_t)(uintptr_t)rec->ExceptionAddress;
    }
    void *data = rec->NumberParameters >= 2 ? (void *)rec->ExceptionInformation[1] : nullptr;
    core_log("[core] FRAME FAULT 0x%08lx in '%s' at %s+0x%llx, data addr %p (veh %p, trl %p, sp %d)",
             rec->ExceptionCode, core_frame_step, name, (unsigned long long)offset, data,
             spawn_vehicle_ptr(), spawn_trailer_ptr(), spawn_state_value());
    return EXCEPTION_CONTINUE_SEARCH;
}

} // namespace

extern "C" __declspec(dllexport) void dm_core_frame(const dm_frame_info *info)
{
    dm_guarded_filter([info] { core_frame(info); }, frame_fault_filter, nullptr);
}

/* ---- dm_core_ui ---- */

extern "C" __declspec(dllexport) void dm_core_ui(const dm_ui_frame_args *args)
{
    export_guarded(ui_guard, [args] { ui_run(args); });
}

/* ---- dm_core_exit ---- */

/* The game is closing (the plug-in never calls this on a reload): the
 * shutdown that follows leaves the server, so the other players see us go at
 * once rather than after the server's time-out. */
extern "C" __declspec(dllexport) void dm_core_exit(void)
{
    export_guarded(exit_guard, [] { core_exiting = true; });
}

/* ---- dm_core_shutdown ---- */

static void core_stop()
{
    update_shutdown();
    nametags_shutdown();
    ui_shutdown();
    state_files_stop(true); // lines taken and not run are left for the next core

    reload_blocks_write();
    rv_save_slots();

    if (core_exiting && net_is_open())
        net_disconnect(true); // the game closes: the server hears the leave (a reload never sends one)
    net_shutdown();
    if (net_recording_close())
        core_log("[core] net: recording stopped by the reload");

    hook_remove_all();
    spawn_release_finish();

    props_shutdown();
    traffic_shutdown();
    job_unhook();

    if (spawn_state_value() != SPAWN_NONE)
        core_log("[core] leaving spawned vehicle %p in the world", spawn_vehicle_ptr());
    if (spawn_trailer_state_value() != SPAWN_NONE)
        core_log("[core] leaving trailer %p in the world", spawn_trailer_ptr());
    for (int i = 0; i < DM_RV_SLOTS; i++) {
        void *netobj = rv_slot_netobj(i);
        if (netobj)
            core_log("[core] leaving native rv[%d] netobj %p in the world (the next core picks it up)",
                     i, netobj);
    }
    core_log("[core] shutdown");
    core_api = nullptr;
}

extern "C" __declspec(dllexport) void dm_core_shutdown(void)
{
    export_guarded(shutdown_guard, [] { core_stop(); });
}

/* ---- dm_core_unhook ---- */

extern "C" __declspec(dllexport) void dm_core_unhook(void)
{
    export_guarded(unhook_guard, [] { unhook_all(); });
}
