// Online services not in this build: name tags and the camera view. Frame
// and life cycle entry points do nothing, the UI shows them as unavailable,
// and each console command says it is not in this build. A feature that
// lands deletes its lines here.
#include <stdio.h>
#include "core.h"
#include "ui.h"
#include "ui_frame.h"

/* name tags and the camera view */
void dm_nametags_init(const dm_host_api *) {}
void dm_nametags_shutdown() {}
void dm_view_snapshot_update(const dm_frame_info *) {}
bool dm_nametags_enabled() { return false; }
void dm_cam_command(const char *) { core_not_in_build("cam"); }
void dm_nametags_command(const char *) { core_not_in_build("nametags"); }
