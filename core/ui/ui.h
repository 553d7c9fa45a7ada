/* What the UI subsystem offers the rest of the core: the windows (ui_shell.cpp),
 * name tags and the camera view in the life cycle, the frame and the console.
 * The server list and the updater are the online services' (online.h). */
#pragma once
#include "dm_api.h"

/* the windows */
void ui_init(const dm_host_api *api);
void ui_shutdown();
void ui_run(const dm_ui_frame_args *args); /* render thread */
/* The "ui" frame step: runs the lines the UI queued through run. */
void ui_game_tick(const dm_frame_info *info, int (*run)(const char *, const dm_frame_info *));

/* name tags and the camera view */
void nametags_init(const dm_host_api *api);
void nametags_shutdown();
void view_snapshot_update(const dm_frame_info *info); /* the "nametags" frame step */
void cam_command(const char *rest);
void nametags_command(const char *rest);

/* Stops the online services' worker threads (updater, server list) with a
 * bounded wait; false when one still runs. */
bool core_workers_stop_bounded();
