/* The blocks that cross between the plug-in and the core, and the core's
 * export signatures. Both libraries are built against this one header. */
#ifndef DM_API_H
#define DM_API_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*dm_log_fn)(const char *fmt, ...);

/* Handed to dm_core_init; lives in the plug-in's static storage. */
typedef struct dm_host_api {
    uint32_t size;        /* 24 */
    uint32_t version;     /* DM_HOST_API_VERSION; the core refuses any other */
    dm_log_fn log;        /* printf-style, format without newline */
    const char *base_dir; /* UTF-8, ends in a backslash, at most 259 bytes */
} dm_host_api;

#define DM_HOST_API_VERSION 1u
/* Bytes of a UTF-8 path with its terminator in either library: base_dir and
 * the files below it. */
#define DM_PATH_MAX 260

/* Handed to dm_core_frame once per game frame (game thread). */
typedef struct dm_frame_info {
    uint32_t size;     /* 72 */
    uint32_t paused;   /* 1 until the game reports "started", then 1 while paused */
    uint64_t frame;    /* incremented before each call; the first call sees 1 */
    double seconds;    /* since scs_telemetry_init */
    double x, y, z;    /* truck world position (telemetry placement) */
    float heading, pitch, roll; /* fractions of a full turn */
    float speed;       /* m/s */
    uint64_t game_base; /* module base of the game executable */
} dm_frame_info;

/* Built on the render thread's stack for one dm_core_ui call. */
typedef struct dm_ui_frame_args {
    void *imgui_context;
    void *(*alloc_func)(size_t size, void *user_data);
    void (*free_func)(void *ptr, void *user_data);
    void *alloc_user_data;
    float width, height; /* back buffer in pixels */
    uint32_t ui_mode;    /* 1 while the overlay's UI mode is on */
} dm_ui_frame_args;

typedef int32_t (*dm_core_init_fn)(const dm_host_api *api);
typedef void (*dm_core_frame_fn)(const dm_frame_info *info);
typedef void (*dm_core_shutdown_fn)(void);
typedef void (*dm_core_unhook_fn)(void);
typedef void (*dm_core_ui_fn)(const dm_ui_frame_args *args);
/* Optional: the game is closing. Called once before dm_core_shutdown when the
 * plug-in stops, never on a reload: that shutdown leaves the server. */
typedef void (*dm_core_exit_fn)(void);

#define DM_EXPORT_CORE_INIT "dm_core_init"
#define DM_EXPORT_CORE_FRAME "dm_core_frame"
#define DM_EXPORT_CORE_SHUTDOWN "dm_core_shutdown"
#define DM_EXPORT_CORE_UNHOOK "dm_core_unhook"
#define DM_EXPORT_CORE_UI "dm_core_ui"
#define DM_EXPORT_CORE_EXIT "dm_core_exit"

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#define DM_STATIC_ASSERT static_assert
#else
#define DM_STATIC_ASSERT _Static_assert
#endif
DM_STATIC_ASSERT(sizeof(dm_host_api) == 24, "dm_host_api size");
DM_STATIC_ASSERT(offsetof(dm_host_api, version) == 4, "dm_host_api.version");
DM_STATIC_ASSERT(offsetof(dm_host_api, log) == 8, "dm_host_api.log");
DM_STATIC_ASSERT(offsetof(dm_host_api, base_dir) == 16, "dm_host_api.base_dir");
DM_STATIC_ASSERT(sizeof(dm_frame_info) == 72, "dm_frame_info size");
DM_STATIC_ASSERT(offsetof(dm_frame_info, paused) == 4, "dm_frame_info.paused");
DM_STATIC_ASSERT(offsetof(dm_frame_info, frame) == 8, "dm_frame_info.frame");
DM_STATIC_ASSERT(offsetof(dm_frame_info, seconds) == 16, "dm_frame_info.seconds");
DM_STATIC_ASSERT(offsetof(dm_frame_info, x) == 24, "dm_frame_info.x");
DM_STATIC_ASSERT(offsetof(dm_frame_info, z) == 40, "dm_frame_info.z");
DM_STATIC_ASSERT(offsetof(dm_frame_info, heading) == 48, "dm_frame_info.heading");
DM_STATIC_ASSERT(offsetof(dm_frame_info, roll) == 56, "dm_frame_info.roll");
DM_STATIC_ASSERT(offsetof(dm_frame_info, speed) == 60, "dm_frame_info.speed");
DM_STATIC_ASSERT(offsetof(dm_frame_info, game_base) == 64, "dm_frame_info.game_base");
DM_STATIC_ASSERT(offsetof(dm_ui_frame_args, alloc_func) == 8, "dm_ui_frame_args.alloc_func");
DM_STATIC_ASSERT(offsetof(dm_ui_frame_args, free_func) == 16, "dm_ui_frame_args.free_func");
DM_STATIC_ASSERT(offsetof(dm_ui_frame_args, alloc_user_data) == 24, "dm_ui_frame_args.user_data");
DM_STATIC_ASSERT(offsetof(dm_ui_frame_args, width) == 32, "dm_ui_frame_args.width");
DM_STATIC_ASSERT(offsetof(dm_ui_frame_args, height) == 36, "dm_ui_frame_args.height");
DM_STATIC_ASSERT(offsetof(dm_ui_frame_args, ui_mode) == 40, "dm_ui_frame_args.ui_mode");
DM_STATIC_ASSERT(sizeof(dm_ui_frame_args) == 48, "dm_ui_frame_args: 44 bytes plus tail padding");

#endif
