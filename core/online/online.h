/* What the online services offer the rest of the core: the updater in the
 * life cycle, the frame and the console, and its state for the Settings
 * page. The server list behind the Servers window is servers.h. */
#pragma once
#include "dm_api.h"

/* the updater */
void update_init(const dm_host_api *api);
void update_shutdown();
void update_configure(const char *url, bool auto_update);
void update_install_staged_core(bool net_open); /* the "update" frame step */
void update_command(const char *rest);
/* This build's id (update_build.cpp): the one the log's init line and the
 * "update" command show. */
const char *update_build_id();

/* the updater's state for the Settings page (update.cpp) */
void update_get_status(char *out, unsigned size);
bool update_worker_running();
bool update_auto_enabled();
bool update_available();
