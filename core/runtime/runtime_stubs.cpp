// Runtime pieces not built yet.
#include "core_features.h"
void config_load() {}
void reload_blocks_map() {}
void reload_blocks_write() {}
void reload_restore_net(double) {}
void game_build_report() {}
void hook_remove_all() {}
void hook_set_drawing_enabled(bool) {}
void hook_remove_shadow() {}
void hook_remove_draw() {}
bool hook_draw_installed() { return false; }
void hook_install_draw() {}
void core_stats_step(double) {}
void dm_watch_tick() {}
int dm_cmd_run(const char *, const dm_frame_info *) { return 0; }
bool core_workers_stop_bounded() { return true; }
