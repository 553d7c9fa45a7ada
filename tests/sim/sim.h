/* The simulated game: a host that loads the plug-in as the game does and
 * carries the game's image. Exported by dm_sim.dll. */
#pragma once
#include <stdint.h>
#include <windows.h>
#include "dm_telemetry_sdk.h"

#ifdef DM_SIM_BUILD
#define SIM_API __declspec(dllexport)
#else
#define SIM_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif
/* The game executable's cursor calls, made through its own imports. */
typedef struct sim_exe_imports {
    BOOL(WINAPI *set_cursor_pos)(int x, int y);
    BOOL(WINAPI *clip_cursor)(const RECT *r);
    HCURSOR(WINAPI *set_cursor)(HCURSOR c);
} sim_exe_imports;
SIM_API void sim_register_exe(const sim_exe_imports *imports);
#ifdef __cplusplus
}

#include <string>
#include <vector>

namespace sim {

/* ---- the game's telemetry SDK ---- */
struct telemetry_config {
    const char *game_name = "American Truck Simulator";
    const char *game_id = "ats";
    uint32_t game_version = SCS_MAKE_VERSION(1, 5);
    bool with_log = true;
    int fail_event = -1;    /* event id whose registration fails, -1 none */
    bool fail_channels = false;
    bool with_unregister = true; /* false: no unregister functions in the parameters */
    bool log_throws = false;     /* the game's log callback throws a C++ exception */
};

struct channel_registration {
    std::string name;
    uint32_t index, type, flags;
};

/* Loads the plug-in from a (UTF-8) path; its clock (the performance counter) is then
 * the simulation's clock, which only moves when the test moves it. */
SIM_API bool plugin_load(const char *path);
SIM_API void plugin_unload();
SIM_API HMODULE plugin_module();
SIM_API int32_t plugin_init(uint32_t sdk_version, const telemetry_config &config = telemetry_config());
SIM_API void plugin_shutdown();

SIM_API void frame();             /* one frame-end event */
SIM_API void frames(int n, double dt); /* n frames, the clock advancing dt before each */
SIM_API void event_paused();
SIM_API void event_started();
SIM_API void channel_placement(double x, double y, double z, float heading, float pitch,
                               float roll, uint32_t value_type = SCS_VALUE_TYPE_DPLACEMENT);
SIM_API void channel_speed(float speed, uint32_t value_type = SCS_VALUE_TYPE_FLOAT);
SIM_API std::vector<uint32_t> registered_events();
SIM_API std::vector<channel_registration> registered_channels();
SIM_API std::vector<std::string> game_log();

/* ---- the clock ---- */
SIM_API void clock_set(double seconds);
SIM_API void clock_advance(double seconds);
SIM_API double clock_now();

/* ---- the game's image ---- */
SIM_API uint8_t *game_base();                 /* the main module */
SIM_API uint8_t *game_at(uint32_t offset);    /* base + offset, inside the image section */
SIM_API void game_write(uint32_t offset, const void *bytes, size_t size);
SIM_API void game_clear();                    /* zero the whole image section */
SIM_API const sim_exe_imports *exe_imports();
/* The last clip rectangle passed on to user32 through the game's ClipCursor
 * import (whoever made the call: the game or a hook in front of it); false
 * when the last call freed the cursor. The desktop may still drop a clip on
 * its own, so this says what was asked for, not what holds. */
SIM_API bool exe_last_clip(RECT *out);

/* ---- imports of a loaded module ---- */
/* Replaces one import slot of a module; returns the old value (null when
 * the module does not import it). */
SIM_API void *patch_import(HMODULE module, const char *dll, const char *function, void *replacement);

} // namespace sim
#endif
