// The server list and the updater are not part of this build: their entry
// points do nothing, and the UI shows them as unavailable.
#include <stdio.h>
#include "core_features.h"
#include "ui.h"
void update_init(const dm_host_api *) {}
void update_shutdown() {}
void update_install_staged_core(bool) {}
void update_get_status(char *out, unsigned size)
{
    if (size)
        snprintf(out, size, "%s", "Updates are not available in this build.");
}
bool update_worker_running() { return false; }
bool update_auto_enabled() { return false; }
bool update_available() { return false; }
void servers_request_refresh(bool) {}
