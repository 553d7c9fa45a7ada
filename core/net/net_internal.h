/* What the network client's files share without windows.h: the log (with
 * the bound on lines a server causes), the roster of remote players with
 * their state rings and accessory blocks, our own accessory lists, the
 * recording and the interpolation's quaternion helpers. The Winsock side's
 * state is net_client_state.h. */
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "net/net.h"

/* One "[net]" line through the log function of net_set_log. */
void net_log(const char *fmt, ...) __attribute__((format(gnu_printf, 1, 2)));
/* A line that a server's datagram caused. Each line is flushed on the game
 * thread, so at most this many are written in a second; the rest are
 * counted, and one line tells how many were left out. */
#define NET_LOG_SERVER_LINES_PER_SECOND 200
void net_log_server(const char *fmt, ...) __attribute__((format(gnu_printf, 1, 2)));
/* The frame's time for the count above (net_tick calls it first). */
void net_log_clock(double now);

#define NET_RING 32
#define NET_ACC_PARTS 32

typedef struct net_ring_entry {
    double t; /* sender time, seconds */
    net_pose pose;
} net_ring_entry;

typedef struct net_acc_block {
    uint32_t hash;
    uint8_t part_count;
    uint32_t received;   /* bit per part */
    uint32_t entries;    /* announced so far */
    uint8_t complete;
    uint8_t *parts[NET_ACC_PARTS];
    int part_size[NET_ACC_PARTS];
    char *joined;        /* NUL-terminated entries, once complete */
} net_acc_block;

typedef struct net_player {
    uint8_t used;
    uint16_t id;
    char name[33];
    net_ring_entry ring[NET_RING];
    int head, count;
    uint32_t last_seq;
    uint8_t seq_valid;
    uint8_t offset_valid;
    double offset;
    double last_state_time;
    uint64_t states;
    net_acc_block acc[2];
    char role[24 + 1];
    uint32_t tag_colour, name_colour;
    double jitter, interval;
    /* interpolation */
    double delay, last_sample;
    double out_pos[3];
    float out_vel[3];
    double smooth[3];
} net_player;

extern net_player net_roster[NET_MAX_PLAYERS];
net_player *net_roster_find(uint16_t id);

/* packet handling (payload p of n bytes) */
void net_roster_on_joined(uint16_t id, uint16_t ours, const uint8_t *p, size_t n, double now);
void net_roster_on_dropped(uint16_t id, const uint8_t *p, size_t n);
void net_roster_on_state(uint16_t id, uint32_t seq, const uint8_t *p, size_t n, double now);
void net_roster_on_acc_part(uint16_t id, const uint8_t *p, size_t n);
void net_roster_on_role(uint16_t id, uint16_t ours, const uint8_t *p, size_t n);
void net_roster_on_message(const uint8_t *p, size_t n);
void net_roster_drop_all(const char *reason);
void net_roster_drop_stale(double now);
/* kind 4 kicked, 5 banned; p/n the type-3 or type-7 payload; writes the status text. */
void net_roster_record_kick(uint8_t kind, const uint8_t *p, size_t n, double now, char *status,
                            size_t status_size);
void net_roster_reset(); /* forget everything (tests) */

/* our accessory lists */
typedef struct net_local_list {
    char paths[NET_ACC_MAX][NET_ACC_PATH_MAX + 1];
    int count;
    uint32_t hash;
    uint8_t set;
} net_local_list;
extern net_local_list net_local_lists[2];
/* Set by net_set_local_accessories when a list changed: both are due now. */
extern bool net_local_lists_due;
/* Greedy parts: starts[i] is the first entry of part i, starts[count] the end. */
int net_acc_pack(int list, int starts[NET_ACC_PARTS + 1]);
int net_acc_build_part(int list, const int *starts, int index, int count, uint8_t *p, int cap);
uint32_t net_local_state_hash();

/* the network recording ("net record") */
void net_recording_start(const char *base_dir, const char *name);
void net_recording_stop_logged();

/* interpolation of one ring at render time t (sender clock); the kind is
 * 0 interpolated, 1 extrapolated up to 0.5 s, 2 beyond, 3 older than the ring */
void quat_nlerp(const float a[4], const float b[4], float s, float out[4]);
void quat_mul(const float a[4], const float b[4], float out[4]);
void quat_angular_velocity(const float prev[4], const float newest[4], double dt, double out[3]);
void rotate_by_angular_velocity(const double w[3], double tau, const double v[3], double out[3]);
void net_interp_reset();
