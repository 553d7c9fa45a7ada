// Network client entry points not built yet.
#include "core_features.h"
#include "net_client.h"
void net_set_log(dm_log_fn) {}
bool net_load_player_key(const char *) { return false; }
void net_shutdown() {}
bool net_recording_close() { return false; }
bool net_is_open() { return false; }
void net_command(const char *, const dm_frame_info *) {}
bool net_connect(const char *, uint16_t, const char *, uint32_t, double) { return false; }
void net_disconnect(bool) {}
void net_tick(double) {}
uint16_t net_our_player_id() { return 0; }
bool net_join_settled(double) { return false; }
uint8_t net_last_refusal() { return 0; }
void net_query_info(const char *, uint16_t, double) {}
bool net_get_connection(net_connection *) { return false; }
const char *net_status_line() { return "offline"; }
void net_print_status(double) {}
bool net_has_player(uint16_t) { return false; }
const char *net_player_name(uint16_t) { return "?"; }
bool net_player_role(uint16_t, const char **, uint32_t *, uint32_t *) { return false; }
int net_list_players(uint16_t *, int) { return 0; }
bool net_player_accessories(uint16_t, int, uint32_t *, const char **, uint32_t *) { return false; }
bool net_get_kick_info(net_kick_record *) { return false; }
void net_set_local_accessories(int, const char *const *, int) {}
void net_send_accessories(int) {}
bool net_send_state(double, const net_pose *) { return false; }
bool net_sample_player(uint16_t, double, net_pose *) { return false; }
void net_set_interp_mode(int) {}
int net_interp_mode() { return 1; }
void net_get_interp_stats(net_interp_stats *out) { *out = {}; }
void net_set_prop_handlers(const net_prop_handlers *) {}
void net_set_job_handlers(const net_job_handlers *) {}
void net_set_traffic_handlers(const net_traffic_handlers *) {}
bool net_send_prop(const prop_state *) { return false; }
bool net_send_prop_remove(uint32_t) { return false; }
bool net_send_layout_cmd(uint8_t, const char *) { return false; }
bool net_send_traffic_defs(const traffic_car_definition *) { return false; }
bool net_send_traffic_ids(const uint32_t *, int, uint8_t) { return false; }
bool net_send_traffic_cars(uint32_t, const traffic_car_state *, int64_t) { return false; }
bool net_send_time_of_day(double, float) { return false; }
bool net_server_time(double *, float *, double *) { return false; }
bool net_server_weather(uint8_t *, uint8_t *, float *) { return false; }
uint16_t net_traffic_owner() { return 0; }
uint32_t net_traffic_slot() { return 0xFFFFFFFFu; }
void net_set_command_env(const net_command_env *) {}
bool net_remote_trailers() { return false; }
bool net_recording_is_open() { return false; }
void net_recording_write(double, const net_pose *) {}
void net_sample_local_telemetry(const dm_frame_info *, net_pose *out) { *out = {}; }
