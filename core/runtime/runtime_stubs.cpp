// Runtime parts not in this build: the reload blocks and the code hooks.
// Entry points do nothing; the hook commands say they are not in this build.
// A part that lands deletes its lines here.
#include "core.h"
#include "hooks.h"
#include "reload_blocks.h"

/* reload blocks */
void reload_blocks_map() {}
void reload_blocks_write() {}
void reload_restore_net(double) {}

/* code hooks: never installed, so no draw, no count, no fault */
hook_counters hook_stats;
void hook_install_draw() {}
void hook_remove_all() {}
void hook_remove_shadow() {}
void hook_remove_draw() {}
bool hook_draw_installed() { return false; }
bool hook_drawing_enabled() { return false; }
void hook_set_drawing_enabled(bool) {}
void hook_command(cmd_id id) { core_not_in_build(cmd_word(id)); }
