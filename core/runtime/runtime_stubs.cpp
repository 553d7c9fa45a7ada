// What the runtime gets from later work: the reload blocks and the code hooks.
#include "core_features.h"
void reload_blocks_map() {}
void reload_blocks_write() {}
void reload_restore_net(double) {}
void hook_remove_all() {}
void hook_set_drawing_enabled(bool) {}
bool hook_drawing_enabled() { return false; }
void hook_remove_shadow() {}
void hook_remove_draw() {}
bool hook_draw_installed() { return false; }
void hook_install_draw() {}

// Entry points of features built later, called by config_load.
void traffic_set_config_mode(int32_t) {}
void update_configure(const char *, bool) {}
