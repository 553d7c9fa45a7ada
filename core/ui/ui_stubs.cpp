// UI and online services not built yet.
#include "core_features.h"
void dm_ui_init(const dm_host_api *) {}
void dm_ui_shutdown() {}
void dm_ui_run(const dm_ui_frame_args *) {}
void dm_ui_game_tick(const dm_frame_info *, int (*)(const char *, const dm_frame_info *)) {}
void dm_nametags_init(const dm_host_api *) {}
void dm_nametags_shutdown() {}
void dm_view_snapshot_update(const dm_frame_info *) {}
void update_init(const dm_host_api *) {}
void update_shutdown() {}
void update_install_staged_core(bool) {}
