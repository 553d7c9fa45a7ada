/* The network client's interface for the rest of the core: the connection,
 * the roster of remote players, sampling their poses, the feature channels
 * and the network recording. Game thread only. */
#pragma once
#include <stdint.h>
#include "dm_api.h"
#include "net/net_records.h"

#define NET_NAME_MAX 32
#define NET_MAX_PLAYERS 64
#define NET_ACC_MAX 128      /* entries in one local accessory list */
#define NET_ACC_PATH_MAX 223 /* bytes of one local accessory path */

/* connection */
void net_set_log(dm_log_fn log);
/* nonce 0 makes a fresh one; true when the socket is open. */
bool net_connect(const char *host, uint16_t port, const char *name, uint32_t nonce, double now);
void net_disconnect(bool send_leave);
void net_tick(double now);
bool net_is_open();
uint16_t net_our_player_id();
bool net_join_settled(double now);
uint8_t net_last_refusal(); /* 0 none, the reason, 255 for reason 0 */
void net_query_info(const char *host, uint16_t port, double now);
bool net_get_connection(net_connection *out);
const char *net_status_line();
void net_print_status(double now);
void net_shutdown();
bool net_load_player_key(const char *path);

/* roster (pointers stay valid until the next net_tick) */
bool net_has_player(uint16_t id);
const char *net_player_name(uint16_t id); /* "?" when not in the roster */
bool net_player_role(uint16_t id, const char **role, uint32_t *tag_colour, uint32_t *name_colour);
int net_list_players(uint16_t *out, int capacity);
/* list 0 truck, 1 trailer: NUL-terminated entries back to back */
bool net_player_accessories(uint16_t id, int list, uint32_t *hash, const char **entries,
                            uint32_t *count);
bool net_get_kick_info(net_kick_record *out);
void net_set_local_accessories(int list, const char *const *paths, int count);
void net_send_accessories(int list);
/* Type 16 with our pose; sent only while joined. */
bool net_send_state(double now, const net_pose *pose);

/* interpolation */
/* The sampler: that player's pose for this frame, false while the roster has
 * no state of the player. Every caller passes the frame's seconds
 * (dm_frame_info.seconds, or the now handed down from it), the clock the
 * roster measured each state's arrival against. A repeat call in one frame
 * (the same now) gives the same pose and changes nothing: the adaptive
 * delay, the smoothing and the statistics move only when now has advanced,
 * so the vehicles, the traffic owner and the name tags may each sample the
 * same player in one frame. */
bool net_sample_player(uint16_t id, double now, net_pose *out);
void net_set_interp_mode(int mode);
int net_interp_mode();
void net_get_interp_stats(net_interp_stats *out);

/* feature channels: tables are copied; null clears */
void net_set_prop_handlers(const net_prop_handlers *table);
void net_set_job_handlers(const net_job_handlers *table);
void net_set_traffic_handlers(const net_traffic_handlers *table);
bool net_send_prop(const prop_state *prop);
bool net_send_prop_remove(uint32_t id);
bool net_send_layout_cmd(uint8_t operation, const char *name);
bool net_send_traffic_defs(const traffic_car_definition *def);
bool net_send_traffic_ids(const uint32_t *ids, int count, uint8_t complete);
bool net_send_traffic_cars(uint32_t sender_ms, const traffic_car_state *cars, int64_t count);
bool net_send_time_of_day(double seconds, float rate);
bool net_server_time(double *seconds, float *rate, double *received_at);
bool net_server_weather(uint8_t *kind, uint8_t *roll_id, float *seconds);
uint16_t net_traffic_owner();
uint32_t net_traffic_slot();

/* The "net" command: the whole line, beginning with "net". */
void net_command(const char *line, const dm_frame_info *info);
/* What the net command needs from the runtime and the vehicle glue; every
 * member may be null. The table is copied. */
typedef struct net_command_env {
    const char *base_dir;                                   /* ends in a backslash */
    void (*config_name)(char *out, unsigned size);          /* the configured player name */
    bool (*config_server)(char *host, unsigned size, uint16_t *port); /* false: none */
    void (*auto_connect_resume)();  /* "net connect": clear the pause, not owned */
    bool (*auto_connect_pause)();   /* "net disconnect": true when auto-connect is on with a server */
    void (*remote_gone)(const char *reason);
    /* bound player, spawned vehicle, spawn state, motion mode, hidden */
    void (*slot_status)(uint16_t *player, void **vehicle, int *state, int *mode, bool *hidden);
} net_command_env;
void net_set_command_env(const net_command_env *env);
bool net_remote_trailers();
void net_set_remote_trailers(bool on); /* the setting carried across a core reload */

/* The network recording (CSV of the local truck, 10 rows a second). */
bool net_recording_is_open();
bool net_recording_close(); /* true when a recording was open */
/* One row; the vehicle glue calls it with each successful local sample. */
void net_recording_write(double now, const net_pose *pose);
/* The local truck from telemetry (any game build). */
void net_sample_local_telemetry(const dm_frame_info *info, net_pose *out);
