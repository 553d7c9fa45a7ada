/* Console command handlers of the features, as the dispatcher calls them.
 * Features not built yet are stood in for by cmd_stubs.cpp. */
#pragma once
#include <stdint.h>
#include "dm_api.h"
#include "cmd_table.h"

/* runtime diagnostics (diagnostics.cpp) */
void log_telemetry_pos(const dm_frame_info *info);
void cmd_threads();
void cmd_config_status();
void cmd_peek(const char *rest);
void cmd_memrec(const char *rest, double now);
void cmd_watch(bool on);
void cmd_cmp();
void log_vehicle_debug(const char *label, uint64_t vehicle);
void memrec_sample(double now); /* the recorder's sample in the "watch" step */

/* vehicles */
void cmd_local(const dm_frame_info *info);
void spawn_vehicle(float metres, const char *look_list, int count);
void spawn_despawn();
void spawn_trailer();
void dm_trailer_remove(const char *reason);
void cmd_info();
void cmd_cargodump();
void cmd_rvspawn(const char *rest);
void cmd_rvdespawn(const char *rest);
void dm_rv_info(int slot);
void cmd_remote(const char *rest);
void cmd_rvmove(const char *rest);
void cmd_move(const char *rest);
void cmd_defdump(const char *file); /* null: none given */
void cmd_spawnlist(const char *rest);
/* The rows the vehicle commands handle inline (rvvel, rvstep, rvclock, flags,
 * flags off, wheeldbg, steer flip, spawnmode, collide, tick). */
void dm_vehicle_inline_command(cmd_id id, const char *rest);

/* world */
void traffic_command(const dm_frame_info *info, const char *rest);
void weather_command(const char *rest);
void roadevents_command(const dm_frame_info *info, const char *rest);
void clock_command(const char *rest, double now);
void props_command(const char *rest);
bool props_any_live();
void gps_command(const dm_frame_info *info, const char *rest);
void job_command(const char *rest, const dm_frame_info *info);
void damage_command(const char *line);

/* ui and online services */
void update_command(const char *rest);
void dm_cam_command(const char *rest);
void dm_nametags_command(const char *rest);
