/* What the world-sync subsystem offers the rest of the core: props, traffic,
 * server jobs, damage, weather, the clock, GPS routes and road events, in
 * the life cycle, the frame and the console. Not in this build: every entry
 * point is a stub in world_stubs.cpp. */
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
