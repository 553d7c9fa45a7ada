/* What the core's life cycle and frame steps call in each feature. */
#pragma once
#include <stdint.h>
#include "dm_api.h"

/* network client */
void net_set_log(dm_log_fn log);
bool net_load_player_key(const char *path);
void net_shutdown();
bool net_recording_close(); /* true when a recording was open */
bool net_is_open();
/* The "net" console command: the whole line, beginning with "net". */
void net_command(const char *line, const dm_frame_info *info);

/* runtime */
void config_load();
void reload_blocks_map();
void reload_blocks_write();
void reload_restore_net(double now); /* first frame: reconnect from the net block */
void game_build_report();
void hook_remove_all();
void hook_set_drawing_enabled(bool on);
void hook_remove_shadow();
void hook_remove_draw();
bool hook_draw_installed();
void hook_install_draw();
void core_stats_step(double now);
void dm_watch_tick();
void memrec_sample(double now);
/* The draw and shadow detours' counts and fault flags, read by the "stats" step. */
typedef struct hook_counters {
    volatile uint32_t draw, shadow, trailer_draw, trailer_shadow;
    volatile uint8_t draw_fault, shadow_fault, trailer_draw_fault, trailer_shadow_fault;
} hook_counters;
extern hook_counters hook_stats;
extern volatile uint8_t hook_shadow_off; /* set by "shadow off", read by the shadow detour */
bool hook_drawing_enabled();
int dm_cmd_run(const char *line, const dm_frame_info *info);
/* Stops the core's worker threads with a bounded wait; false when one still runs. */
bool core_workers_stop_bounded();

/* vehicles */
#define DM_RV_SLOTS 8
void dm_restore_after_reload();
void dm_rv_restore_after_reload();
void dm_remote_tick(const dm_frame_info *info);
void dm_spawn_tick(const dm_frame_info *info);
void dm_rv_tick(const dm_frame_info *info);
void *dm_spawn_vehicle_ptr();
void *dm_spawn_trailer_ptr();
int dm_spawn_state_value();
int dm_spawn_trailer_state_value();
void *dm_rv_slot_netobj(int slot);

/* world */
void props_init(const dm_host_api *api);
void props_shutdown();
bool props_tick(const dm_frame_info *info); /* true when the draw hook is needed */
void traffic_init(const dm_host_api *api);
void traffic_shutdown();
void traffic_tick(const dm_frame_info *info);
void job_init(const dm_host_api *api);
void job_unhook();
void damage_init(const dm_host_api *api);
void clock_sync_tick(const dm_frame_info *info);
void traffic_set_config_mode(int32_t mode); /* 0 local, 1 off */

/* ui */
void dm_ui_init(const dm_host_api *api);
void dm_ui_shutdown();
void dm_ui_run(const dm_ui_frame_args *args);
void dm_ui_game_tick(const dm_frame_info *info, int (*run)(const char *, const dm_frame_info *));
void dm_nametags_init(const dm_host_api *api);
void dm_nametags_shutdown();
void dm_view_snapshot_update(const dm_frame_info *info);
void update_init(const dm_host_api *api);
void update_shutdown();
void update_install_staged_core(bool net_open);
void update_configure(const char *url, bool auto_update);
