// Vehicle features not built yet.
#include "core_features.h"
#include "core_config.h"
#include "net_client.h"
void dm_restore_after_reload() {}
void dm_rv_restore_after_reload() {}
// Until the remote-player glue lands: auto-connect, then the network client's tick.
void dm_remote_tick(const dm_frame_info *info)
{
    net_auto_connect_tick(info->seconds);
    net_tick(info->seconds);
}
void dm_spawn_tick(const dm_frame_info *) {}
void dm_rv_tick(const dm_frame_info *) {}
void *dm_spawn_vehicle_ptr() { return nullptr; }
void *dm_spawn_trailer_ptr() { return nullptr; }
int dm_spawn_state_value() { return 0; }
int dm_spawn_trailer_state_value() { return 0; }
void *dm_rv_slot_netobj(int) { return nullptr; }
