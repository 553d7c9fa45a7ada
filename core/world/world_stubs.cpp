// World sync features not built yet.
#include "core_features.h"
void props_init(const dm_host_api *) {}
void props_shutdown() {}
bool props_tick(const dm_frame_info *) { return false; }
void traffic_init(const dm_host_api *) {}
void traffic_shutdown() {}
void traffic_tick(const dm_frame_info *) {}
void job_init(const dm_host_api *) {}
void job_unhook() {}
void damage_init(const dm_host_api *) {}
void clock_sync_tick(const dm_frame_info *) {}
