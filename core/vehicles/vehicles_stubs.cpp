// Vehicle features not built yet.
#include "core_features.h"
void dm_restore_after_reload() {}
void dm_rv_restore_after_reload() {}
void dm_spawn_tick(const dm_frame_info *) {}
void dm_rv_tick(const dm_frame_info *) {}
void *dm_spawn_vehicle_ptr() { return nullptr; }
void *dm_spawn_trailer_ptr() { return nullptr; }
int dm_spawn_state_value() { return 0; }
int dm_spawn_trailer_state_value() { return 0; }
void *dm_rv_slot_netobj(int) { return nullptr; }
