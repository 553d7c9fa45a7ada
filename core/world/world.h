/* What the world-sync subsystem offers the rest of the core: traffic, server
 * jobs, damage, weather, the clock, GPS routes and road events, in the life
 * cycle, the frame and the console. The props are props.h. */
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "dm_api.h"

/* life cycle */
void traffic_init(const dm_host_api *api);
void traffic_shutdown();
void job_init(const dm_host_api *api);
void job_unhook();
void damage_init(const dm_host_api *api);
/* config.ini's traffic key: 0 local, 1 off */
void traffic_set_config_mode(int32_t mode);

/* frame steps "clock" and "traffic" */
void clock_sync_tick(const dm_frame_info *info);
void traffic_tick(const dm_frame_info *info);

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
void gps_command(const dm_frame_info *info, const char *rest);
void job_command(const char *rest, const dm_frame_info *info);
void damage_command();                 /* "damage" */
void repair_command(const char *rest); /* "repair [fixable] [truck] [trailer] [cargo]" */

/* damage.cpp: the wear data of the local truck and of the first coupled
 * trailer (their definitions), 0 when absent or of another class. */
uint64_t damage_player_truck();
uint64_t damage_player_trailer();

/* gps.cpp: the game's navigation. */
struct gps_node;
void gps_log_status();
/* The road node nearest the world point (none: type 2); false when there is
 * none, without game_ctrl, or for a point out of range. */
bool gps_nearest_node(double x, double y, double z, gps_node *out);
bool gps_set_route(int32_t mode, const gps_node *nodes, size_t count);

/* road_events.cpp: the game's journey events on road items. */
void roadevents_dump_active();
void roadevents_dump_defs();
void roadevents_dump_near(const dm_frame_info *info);
void roadevents_log_fault(const char *label);
/* The value a game handle object's handle (u32 at +0x0C) stands for. */
uint64_t game_handle_resolve(uint64_t object);
