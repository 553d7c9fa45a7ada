// Online services not in this build: the server list, the updater, name tags
// and the camera view. Frame and life cycle entry points do nothing, the UI
// shows them as unavailable, and each console command says it is not in this
// build. A feature that lands deletes its lines here.
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

/* the updater */
void update_init(const dm_host_api *) {}
void update_shutdown() {}
void update_configure(const char *, bool) {}
void update_install_staged_core(bool) {}
void update_get_status(char *out, unsigned size)
{
    if (size)
        snprintf(out, size, "%s", "Updates are not available in this build.");
}
bool update_worker_running() { return false; }
bool update_auto_enabled() { return false; }
bool update_available() { return false; }
void update_command(const char *) { core_not_in_build("update"); }

/* the server list */
void servers_request_refresh(bool) {}

/* No worker thread runs. */
bool core_workers_stop_bounded() { return true; }
