// Network client entry points not built yet.
#include "core_features.h"
void net_set_log(dm_log_fn) {}
bool net_load_player_key(const char *) { return false; }
void net_shutdown() {}
bool net_recording_close() { return false; }
bool net_is_open() { return false; }
void net_command(const char *, const dm_frame_info *) {}
