/* The pure part of traffic sync: the modes, the owner's table of sent cars
 * (selection by distance, speed samples, net ids), the table of cars
 * received from other players (storing, removing, ageing) and the checks a
 * received record must pass. No game memory, no windows.h; traffic_sync.cpp
 * reads the game, talks to the network and logs. */
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "net/net_records.h"

/* ---- modes: -1 none, 0 local, 1 off ---- */
#define TRAFFIC_MODE_NONE (-1)
#define TRAFFIC_MODE_LOCAL 0
#define TRAFFIC_MODE_OFF 1

/* Our traffic slot from the server: 1 off, 0 local, anything else none. */
int32_t traffic_server_mode(uint32_t slot);
/* Off when the server says off; else the command override when set, else
 * the config mode. */
int32_t traffic_mode_in_effect(int32_t config, int32_t command, int32_t server);
/* "off", "local" or "-". */
const char *traffic_mode_text(int32_t mode);

/* ---- the owner's sent cars ---- */
#define TRAFFIC_SENT_MAX 128
#define TRAFFIC_SEND_RADIUS 1000.0   /* a new car is sent within this of a player */
#define TRAFFIC_KEEP_RADIUS 1100.0   /* a sent car stays sent within this */
#define TRAFFIC_SPEED_MIN_DT 0.05    /* seconds between speed samples */
#define TRAFFIC_SPEED_MAX 120.0      /* m/s; a faster sample is a jump, not speed */
#define TRAFFIC_NO_DISTANCE 1e18

typedef struct traffic_sent_car {
    uint8_t used;
    uint64_t car;        /* the game's car */
    uint32_t car_id;     /* the game's car id */
    uint32_t net_id;     /* the id on the wire */
    double pos[3];       /* world position at the last speed sample */
    double sample_time;
    float speed;         /* m/s */
    uint8_t seen;        /* seen in this pass */
} traffic_sent_car;

/* The slot of that game car and id, or -1. */
int traffic_sent_find(const traffic_sent_car *table, uint64_t car, uint32_t car_id);
/* The first free slot, or -1 when all 128 are used. */
int traffic_sent_free_slot(const traffic_sent_car *table);
int traffic_sent_used(const traffic_sent_car *table);
/* A new speed sample at pos: only when more than 0.05 s passed since the
 * last one; a speed above 120 m/s keeps the previous speed. */
void traffic_sent_sample(traffic_sent_car *car, const double pos[3], double now);
/* The next net id, never 0 (after wrapping it is 1 again). */
uint32_t traffic_take_net_id(uint32_t *next);
/* The definition the owner sends for one car: net id, the low byte of the
 * car type and the first count paths (at most 8, each cut to 160 bytes);
 * every other byte zero. */
void traffic_definition_make(traffic_car_definition *out, uint32_t net_id, uint32_t car_type,
                             const char (*paths)[NET_TRAFFIC_PATH_MAX + 1], int count);
/* The smallest horizontal (x, z) distance from pos to the points;
 * TRAFFIC_NO_DISTANCE without points. */
double traffic_nearest(const double pos[3], const double (*points)[3], int count);
double traffic_horizontal_distance(const double a[3], double x, double z);

/* ---- cars received from other players ---- */
#define TRAFFIC_REMOTE_MAX 256
#define TRAFFIC_REMOTE_TIMEOUT 5.0   /* seconds without a definition or state */

typedef struct traffic_remote_car {
    uint8_t used;
    uint16_t sender;
    uint32_t net_id;
    uint8_t car_type;
    uint32_t path_count;
    char first_path[NET_TRAFFIC_PATH_MAX + 1];
    uint8_t has_state;
    double pos[3];        /* metres */
    float rot[4];         /* w, x, y, z */
    float speed;          /* m/s */
    uint32_t lights;
    double last_time;     /* of the last definition or state */
} traffic_remote_car;

/* A definition from a peer: no more than 8 paths and each of them ends
 * within its 161-byte field. */
bool traffic_definition_valid(const traffic_car_definition *def);
/* A state from a peer: every number finite. */
bool traffic_state_valid(const traffic_car_state *state);

int traffic_remote_find(const traffic_remote_car *table, uint16_t sender, uint32_t net_id);
int traffic_remote_used(const traffic_remote_car *table);
/* Stores a definition: the slot of that sender and id, or a fresh one (its
 * *is_new set); -1 when the table is full. */
int traffic_remote_define(traffic_remote_car *table, uint16_t sender, const traffic_car_definition *def,
                          double now, bool *is_new);
/* Stores a state in the slot of that sender and id: false when there is none. */
bool traffic_remote_state(traffic_remote_car *table, uint16_t sender, const traffic_car_state *state, double now);
/* Frees the sender's slots (all with complete, else those with the ids);
 * returns how many. */
int traffic_remote_remove(traffic_remote_car *table, uint16_t sender, const uint32_t *ids, int count,
                          bool complete);
/* Frees slots older than the timeout; counts the others in *live and gives
 * the nearest horizontal distance of those with a state (starting from
 * TRAFFIC_NO_DISTANCE). Returns how many were freed. */
int traffic_remote_age(traffic_remote_car *table, double now, double x, double z, int *live, double *nearest);
