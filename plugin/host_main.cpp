// The plug-in's entry and exit: the telemetry SDK exports, the events and
// channels that fill dm_frame_info, the base directory and the log.
//
// Index:
// - Event and channel callbacks
// - Start and stop: events, staged core, the start itself, the stop
// - The SDK exports: each runs under the guard, so no fault and no C++
//   exception of the plug-in ever unwinds into the game's frames
#include "host.h"
#include <stdio.h>
#include <string.h>
#include "dm_build_id.h"
#include "dm_env.h"
#include "dm_file.h"

char host_base_dir[DM_PATH_MAX];
char host_imgui_ini[DM_PATH_MAX];
dm_frame_info host_frame;
dm_host_api host_api;
CRITICAL_SECTION host_lock;

static scs_log_t game_log;
static LARGE_INTEGER perf_freq, perf_start;
static bool lock_ready;
/* Set when a start has finished; until then (and after a failed start) a
 * frame end that still reaches the plug-in does nothing. */
static bool host_ready;
/* The events registered by the start now running, to take back when it fails. */
static scs_u32_t events_registered[3];
static unsigned events_registered_count;
static scs_telemetry_unregister_from_event_t unregister_event;
/* Time of the first game frame seen while the overlay waits for its first
 * Present; 1e300 once the warning has been given. */
static double no_present_since;

/* The longest name the plug-in forms under its base directory. */
static const char longest_suffix[] = "core\\drovemark_core.next.dll";

/* ---- Event and channel callbacks ---- */

static void host_frame_end()
{
    host_frame.frame++;
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    host_frame.seconds = (double)(now.QuadPart - perf_start.QuadPart) / (double)perf_freq.QuadPart;
    if (host_overlay_active && !host_present_seen) {
        if (no_present_since == 0) {
            no_present_since = host_frame.seconds;
            host_log("[host] game frames on thread %lu", GetCurrentThreadId());
        } else if (no_present_since < 1e299 && host_frame.seconds - no_present_since > 10.0) {
            no_present_since = 1e300;
            host_log("[host] ui: no Present seen in 10 s of game frames; the overlay hook did "
                     "not catch the game's swap chain");
        }
    }
    host_core_frame();
}

static void host_on_frame_end(scs_u32_t, const void *, void *)
{
    if (host_ready)
        host_guarded([] { host_frame_end(); }, "[host] frame end faulted (0x%08lx)");
}

static void host_on_pause(scs_u32_t event, const void *, void *)
{
    host_guarded([event] {
        bool paused = event == SCS_TELEMETRY_EVENT_PAUSED;
        host_frame.paused = paused ? 1 : 0;
        host_log("[host] %s", paused ? "paused" : "started");
    }, "[host] pause event faulted (0x%08lx)");
}

static void host_on_placement(const char *, scs_u32_t, const scs_value_t *v, void *)
{
    host_guarded([v] {
        if (!v || v->type != SCS_VALUE_TYPE_DPLACEMENT)
            return;
        host_frame.x = v->value_dplacement.x;
        host_frame.y = v->value_dplacement.y;
        host_frame.z = v->value_dplacement.z;
        host_frame.heading = v->value_dplacement.heading;
        host_frame.pitch = v->value_dplacement.pitch;
        host_frame.roll = v->value_dplacement.roll;
    }, "[host] placement channel faulted (0x%08lx)");
}

static void host_on_speed(const char *, scs_u32_t, const scs_value_t *v, void *)
{
    host_guarded([v] {
        if (v && v->type == SCS_VALUE_TYPE_FLOAT)
            host_frame.speed = v->value_float;
    }, "[host] speed channel faulted (0x%08lx)");
}

/* ---- Start: events, staged core, the start itself ---- */

/* One message to the game's own log, when the game gave one. */
static void host_game_log(scs_log_t log, const char *text)
{
    if (log)
        log(SCS_LOG_TYPE_MESSAGE, text);
}

/* Frame end, paused and started, stopping at the first failure; what was
 * registered is kept for host_unregister_events. */
static bool host_register_events(const scs_telemetry_init_params_t *params)
{
    static const struct {
        scs_u32_t event;
        scs_telemetry_event_callback_t callback;
    } wanted[] = {
        { SCS_TELEMETRY_EVENT_FRAME_END, host_on_frame_end },
        { SCS_TELEMETRY_EVENT_PAUSED, host_on_pause },
        { SCS_TELEMETRY_EVENT_STARTED, host_on_pause },
    };
    static_assert(sizeof wanted / sizeof wanted[0] == sizeof events_registered / sizeof events_registered[0]);
    events_registered_count = 0;
    unregister_event = params->unregister_from_event;
    if (!params->register_for_event)
        return false;
    for (auto &w : wanted) {
        if (params->register_for_event(w.event, w.callback, nullptr) != SCS_RESULT_OK)
            return false;
        events_registered[events_registered_count++] = w.event;
    }
    return true;
}

/* Takes back the events of a start that failed: the game would otherwise go
 * on calling a plug-in that is not set up. */
static void host_unregister_events()
{
    for (unsigned i = 0; i < events_registered_count && unregister_event; i++)
        unregister_event(events_registered[i]);
    events_registered_count = 0;
}

static void host_install_staged_core()
{
    char staged[DM_PATH_MAX], core[DM_PATH_MAX];
    snprintf(staged, sizeof staged, "%score\\drovemark_core.next.dll", host_base_dir);
    snprintf(core, sizeof core, "%score\\drovemark_core.dll", host_base_dir);
    if (dm_file_attributes(staged) == INVALID_FILE_ATTRIBUTES)
        return;
    if (dm_file_move(staged, core, MOVEFILE_REPLACE_EXISTING))
        host_log("[host] installed the staged core update");
    else
        host_log("[host] staged core update: move failed (%lu)", GetLastError());
}

static scs_result_t host_start(scs_u32_t version, const scs_telemetry_init_params_t *params)
{
    if (version != SCS_TELEMETRY_VERSION_1_00 && version != SCS_TELEMETRY_VERSION_1_01)
        return SCS_RESULT_UNSUPPORTED;
    if (!params)
        return SCS_RESULT_GENERIC_ERROR;

    // Read through the wide environment as UTF-8: the ANSI one turns every
    // character outside the code page into "?", and that folder is not there.
    // Without a folder there is no log of our own: what stops the start is
    // said in the game's log.
    char appdata[DM_PATH_MAX];
    int n = dm_env_get("LOCALAPPDATA", appdata, sizeof appdata);
    if (n == 0) {
        host_game_log(params->log, "[drovemark] LOCALAPPDATA is not set; not loaded");
        return SCS_RESULT_GENERIC_ERROR;
    }
    // Every path formed below must fit whole; a cut path would point elsewhere.
    int len = n < 0 ? -1 : snprintf(host_base_dir, sizeof host_base_dir, "%s\\drovemark\\", appdata);
    if (len < 0 || (size_t)len + sizeof longest_suffix > sizeof host_base_dir) {
        host_base_dir[0] = 0;
        // Refused as a missing value is, but said: the log file cannot be there.
        host_game_log(params->log, "[drovemark] LOCALAPPDATA is too long for the drovemark folder; not loaded");
        return SCS_RESULT_GENERIC_ERROR;
    }
    DWORD attributes = dm_file_attributes(appdata);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        host_base_dir[0] = 0;
        char text[DM_PATH_MAX + 64];
        snprintf(text, sizeof text, "[drovemark] LOCALAPPDATA (%s) is not a folder; not loaded", appdata);
        host_game_log(params->log, text);
        return SCS_RESULT_GENERIC_ERROR;
    }
    dm_dir_create(host_base_dir);
    char path[DM_PATH_MAX];
    snprintf(path, sizeof path, "%score", host_base_dir);
    dm_dir_create(path);

    snprintf(path, sizeof path, "%sdrovemark.log", host_base_dir);
    if (!host_log_open(path)) {
        char text[DM_PATH_MAX + 64];
        snprintf(text, sizeof text, "[drovemark] can't open %s (error %lu); running without a log", path,
                 GetLastError());
        host_game_log(params->log, text);
    }

    game_log = params->log;
    QueryPerformanceFrequency(&perf_freq);
    QueryPerformanceCounter(&perf_start);
    memset(&host_frame, 0, sizeof host_frame);
    host_frame.size = sizeof host_frame;
    host_frame.paused = 1;
    host_frame.game_base = (uint64_t)(uintptr_t)GetModuleHandleW(nullptr);

    host_log("[host] ---- init: game '%s' (%s) telemetry %u.%u game %u.%u, base %p, drovemark build %s",
             params->game_id ? params->game_id : "", params->game_name ? params->game_name : "",
             version >> 16, version & 0xFFFF, params->game_version >> 16,
             params->game_version & 0xFFFF, (void *)(uintptr_t)host_frame.game_base, DM_BUILD_ID_DESCRIBED);

    if (!host_register_events(params)) {
        host_log("[host] event registration failed");
        host_unregister_events();
        return SCS_RESULT_GENERIC_ERROR;
    }
    if (params->register_for_channel) {
        params->register_for_channel("truck.world.placement", SCS_U32_NIL, SCS_VALUE_TYPE_DPLACEMENT, 0,
                                     host_on_placement, nullptr);
        params->register_for_channel("truck.speed", SCS_U32_NIL, SCS_VALUE_TYPE_FLOAT, 0,
                                     host_on_speed, nullptr);
    }

    host_api.size = sizeof host_api;
    host_api.version = DM_HOST_API_VERSION;
    host_api.log = host_log;
    host_api.base_dir = host_base_dir;
    if (!lock_ready) {
        InitializeCriticalSection(&host_lock);
        lock_ready = true;
    }

    host_install_staged_core();
    host_core_load();

    snprintf(host_imgui_ini, sizeof host_imgui_ini, "%simgui.ini", host_base_dir);

    char value[64];
    if (host_config_get_int("overlay", 1, value, sizeof value) == 0) {
        host_log("[host] ui: overlay off (config.ini overlay = %s)", value);
    } else {
        bool isolate = host_config_get_int("overlay_isolate", 1, value, sizeof value) != 0;
        if (host_overlay_start(isolate))
            no_present_since = 0;
    }

    if (game_log)
        game_log(SCS_LOG_TYPE_MESSAGE, "[drovemark] plugin loaded");
    host_ready = true;
    return SCS_RESULT_OK;
}

/* Overlay and core down; safe whatever a start has set up so far. */
static void host_stop()
{
    host_teardown();
    host_core_stop();
}

/* ---- The SDK exports ---- */

extern "C" __declspec(dllexport) scs_result_t
scs_telemetry_init(scs_u32_t version, const scs_telemetry_init_params_t *params)
{
    scs_result_t result = SCS_RESULT_GENERIC_ERROR;
    if (host_guarded([&] { result = host_start(version, params); }, "[host] init faulted (0x%08lx)"))
        return result;
    // A start cut short is taken back as far as it went, as after a failed
    // registration: the log stays open, nothing else runs on.
    host_ready = false;
    host_guarded([] {
        host_stop();
        host_unregister_events();
    }, "[host] init faulted (0x%08lx)");
    return SCS_RESULT_GENERIC_ERROR;
}

extern "C" __declspec(dllexport) void scs_telemetry_shutdown(void)
{
    host_ready = false;
    host_guarded([] { host_stop(); }, "[host] shutdown faulted (0x%08lx)");
    host_log("[host] ---- shutdown");
    game_log = nullptr;
    host_log_close();
}
