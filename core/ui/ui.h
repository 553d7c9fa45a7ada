/* What the UI subsystem offers the rest of the core: the windows (ui_shell.cpp),
 * name tags and the camera view in the life cycle, the frame and the console.
 * The server list and the updater are the online services' (online.h). */
#pragma once
#include "dm_api.h"

/* the windows */
void dm_ui_init(const dm_host_api *api);
void dm_ui_shutdown();
void dm_ui_run(const dm_ui_frame_args *args); /* render thread */
/* The "ui" frame step: runs the lines the UI queued through run. */
void dm_ui_game_tick(const dm_frame_info *info, int (*run)(const char *, const dm_frame_info *));

/* name tags and the camera view */
void dm_nametags_init(const dm_host_api *api);
void dm_nametags_shutdown();
void dm_view_snapshot_update(const dm_frame_info *info); /* the "nametags" frame step */
void dm_cam_command(const char *rest);
void dm_nametags_command(const char *rest);

/* Stops the online services' worker threads (updater, server list) with a
 * bounded wait; false when one still runs. */
bool core_workers_stop_bounded();
