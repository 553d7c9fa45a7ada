// Vehicle features not in this build: the spawned trailer, the restore
// after a core reload, the convoy remote vehicles, other players shown as
// vehicles, and publishing our own accessory lists.
// Frame and life cycle entry points do nothing; each console command says it
// is not in this build. A feature that lands deletes
// its lines here.
#include "core.h"
#include "spawn.h"

/* life cycle and frame */
void dm_restore_after_reload() {}
void dm_rv_restore_after_reload() {}
void dm_rv_tick(const dm_frame_info *) {}

/* state: no trailer, no rv */
void dm_trailer_tick(const dm_frame_info *) {}
void *dm_rv_slot_netobj(int) { return nullptr; }
void dm_rv_info(int) {}          /* only for a slot that holds a vehicle */
void dm_trailer_remove(const char *) {} /* only while a trailer exists */
void dm_trailer_info() {}               /* only while a trailer exists */

/* console */
void spawn_trailer() { core_not_in_build("trailer"); }
void cmd_rvspawn(const char *) { core_not_in_build("rvspawn"); }
void cmd_rvdespawn(const char *) { core_not_in_build("rvdespawn"); }
void cmd_remote(const char *) { core_not_in_build("remote"); }
void cmd_rvmove(const char *) { core_not_in_build("rvmove"); }
void dm_rv_inline_command(cmd_id id, const char *) { core_not_in_build(cmd_word(id)); }
