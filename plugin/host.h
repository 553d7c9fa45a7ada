/* The plug-in's internal interface between its files. */
#pragma once
#include <windows.h>
#include <stdint.h>
#include "dm_api.h"
#include "dm_telemetry_sdk.h"
#include "dm_guard.h"

/* host_main.cpp: the plug-in's globals. */
extern char host_base_dir[DM_PATH_MAX]; /* UTF-8 */
extern char host_imgui_ini[DM_PATH_MAX];
extern dm_frame_info host_frame;
extern dm_host_api host_api;
extern CRITICAL_SECTION host_lock;

/* host_log.cpp */
extern "C" void host_log(const char *fmt, ...) __attribute__((format(gnu_printf, 1, 2)));
/* False (with the open's error as the last error) when it cannot be opened. */
bool host_log_open(const char *path);
void host_log_close();

/* Runs fn() under the guard (a C++ exception inside it is a fault too); on a
 * fault logs fault_fmt with the exception code and returns false. */
template <typename F> bool host_guarded(F &&fn, const char *fault_fmt)
{
    dm_seh_fault fault = {};
    if (dm_guarded(fn, &fault))
        return true;
    host_log(fault_fmt, fault.code);
    return false;
}

/* host_config.cpp: the first line of the key wins; a value that is not a
 * number is said in the log and the default used. text gets the value as
 * the file writes it (the default's digits when it is not used). */
int32_t host_config_get_int(const char *key, int32_t def, char *text, size_t size);

/* host_core.cpp */
void host_core_load();   /* at the start: the core file, loaded at once */
void host_core_unload();
void host_core_stop();   /* the game's exit: the core's exit call, then unload; a later init starts afresh */
void host_core_frame();  /* poll (a changed file loads once settled) and frame call, from host_on_frame_end */
/* The UI entry, for the overlay frame (render thread, host_lock held). */
bool host_core_ui_call(float width, float height, uint32_t ui_mode);

/* host_overlay.cpp */
bool host_overlay_start(bool isolate); /* swap-chain probe and hooks */
void host_teardown();                  /* restores every hooked slot and import */
/* The context and allocators of the overlay frame now running (render thread). */
void host_ui_fill_args(dm_ui_frame_args *args);
extern bool host_overlay_active;
extern bool host_present_seen;
