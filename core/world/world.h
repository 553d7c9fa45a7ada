/* What the world-sync subsystem offers the rest of the core: props, traffic,
 * server jobs, damage, weather, the clock, GPS routes and road events, in
 * the life cycle, the frame and the console. What is not in this build is a
 * stub in world_stubs.cpp. */
#pragma once
#include <stdint.h>
#include "dm_api.h"

/* life cycle */
void props_init(const dm_host_api *api);
void props_shutdown();
void traffic_init(const dm_host_api *api);
void traffic_shutdown();
void job_init(const dm_host_api *api);
void job_unhook();
void damage_init(const dm_host_api *api);
/* config.ini's traffic key: 0 local, 1 off */
void traffic_set_config_mode(int32_t mode);

/* frame steps "clock", "traffic" and "props" */
void clock_sync_tick(const dm_frame_info *info);
void traffic_tick(const dm_frame_info *info);
bool props_tick(const dm_frame_info *info); /* true when the draw hook is needed */
/* Inside the game's draw call (the draw detour), with its draw context. */
void props_draw(uint64_t context);

/* clock and weather sync (clock_sync.cpp, weather_sync.cpp): the clock step
 * runs the weather tick once a second while joined, and marks weather sync
 * idle while not joined, so the first difference after a join is forced. */
void weather_sync_tick();
void weather_sync_idle();
/* The game's set-weather under a fault guard; false (logged) on a fault. */
bool weather_set(uint64_t environment, uint8_t kind, uint8_t instant);
void weather_dump(const char *label);
/* The game clock: false without game_ctrl or the economy, on a fault, or when
 * the seconds or the scale are implausible. */
bool clock_read(double *time_of_day, float *scale, uint32_t *total_minutes);
bool clock_shift(double delta);

/* console */
void traffic_command(const dm_frame_info *info, const char *rest);
void weather_command(const char *rest);
void roadevents_command(const dm_frame_info *info, const char *rest);
void clock_command(const char *rest, double now);
void props_command(const char *rest);
bool props_any_live();
void gps_command(const dm_frame_info *info, const char *rest);
void job_command(const char *rest, const dm_frame_info *info);
void damage_command(const char *line); /* "damage" and "repair" lines */
