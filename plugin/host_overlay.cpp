// The overlay on the game's swap chain.
#include "host.h"

bool host_overlay_active;
bool host_present_seen;

bool host_overlay_start(bool isolate)
{
    (void)isolate;
    host_log("[host] ui: Present hook failed; no overlay");
    return false;
}

void host_teardown() {}

void host_ui_fill_args(dm_ui_frame_args *args) { (void)args; }
