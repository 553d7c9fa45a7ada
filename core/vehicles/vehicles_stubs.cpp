// Vehicle features not in this build: the restore after a core reload and
// the convoy remote vehicles, with their side of the remote-player glue.
// Frame and life cycle entry points do nothing; each console command says it
// is not in this build. A feature that lands deletes
// its lines here.
#include "core.h"
#include "spawn.h"

/* life cycle and frame */
void dm_rv_restore_after_reload() {}
void dm_rv_tick(const dm_frame_info *) {}

/* state: no rv */
void *dm_rv_slot_netobj(int) { return nullptr; }
void dm_rv_info(int) {}          /* only for a slot that holds a vehicle */
/* the remote-player glue's convoy side: no convoy remote vehicles */
void dm_rv_despawn_remotes(const char *) {}
void dm_rv_remote_update(double) {}
void *dm_rv_player_object(uint16_t) { return nullptr; }
bool dm_rv_player_placement(uint16_t, placement *) { return false; }
void dm_remote_mode_rv_command() { core_log("[core] remote mode rv: convoy remote vehicles are not in this build"); }

/* console */
void cmd_rvspawn(const char *) { core_not_in_build("rvspawn"); }
void cmd_rvdespawn(const char *) { core_not_in_build("rvdespawn"); }
void cmd_rvmove(const char *) { core_not_in_build("rvmove"); }
void dm_rv_inline_command(cmd_id id, const char *) { core_not_in_build(cmd_word(id)); }
