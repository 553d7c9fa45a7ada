// Command handlers of features not built yet: each answers as an unknown
// command until its feature replaces it (delete its line here then).
#include "core.h"
#include "core_commands.h"

static void not_built() { core_log("[core] unknown command"); }

/* vehicles */
void cmd_local(const dm_frame_info *) { not_built(); }
void spawn_vehicle(float, const char *, int) { not_built(); }
void spawn_despawn() { not_built(); }
void spawn_trailer() { not_built(); }
void dm_trailer_remove(const char *) { not_built(); }
void cmd_info() { not_built(); }
void cmd_cargodump() { not_built(); }
void cmd_rvspawn(const char *) { not_built(); }
void cmd_rvdespawn(const char *) { not_built(); }
void dm_rv_info(int) {}
void cmd_remote(const char *) { not_built(); }
void cmd_rvmove(const char *) { not_built(); }
void cmd_move(const char *) { not_built(); }
void cmd_defdump(const char *) { not_built(); }
void cmd_spawnlist(const char *) { not_built(); }
void dm_vehicle_inline_command(cmd_id, const char *) { not_built(); }

/* world */
void traffic_command(const dm_frame_info *, const char *) { not_built(); }
void weather_command(const char *) { not_built(); }
void roadevents_command(const dm_frame_info *, const char *) { not_built(); }
void clock_command(const char *, double) { not_built(); }
void props_command(const char *) { not_built(); }
bool props_any_live() { return false; }
void gps_command(const dm_frame_info *, const char *) { not_built(); }
void job_command(const char *, const dm_frame_info *) { not_built(); }
void damage_command(const char *) { not_built(); }

/* ui and online services */
void update_command(const char *) { not_built(); }
