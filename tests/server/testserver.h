/* A server of the drovemark UDP protocol for tests and the demo: joins
 * clients, sends the auth challenge and checks the reply, relays states and
 * accessory lists with per-player sequences, and sends whatever a test asks
 * for. Single-threaded: the caller drives it with ts_poll(now). Binds to
 * 127.0.0.1 only. */
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "net/net_records.h"

#define TS_MAX_CLIENTS 64

typedef struct ts_client {
    bool used;
    bool bot;
    uint32_t addr;   /* network order */
    uint16_t port;   /* network order */
    uint16_t id;
    char name[33];
    uint32_t nonce;
    uint32_t out_seq;      /* sequence of datagrams about this player */
    double last_seen;
    uint8_t challenge[32];
    bool challenged;
    int auth_result;       /* 0 none, 1 verified, -1 failed */
    uint8_t auth_pub[32];
    uint64_t states_in;
    uint8_t last_state[128];
    int last_state_len;
    uint64_t hellos;
    /* the client's accessory list parts (type 17): how many, and the last
     * one of each list (0 truck, 1 trailer) */
    uint64_t acc_parts_in;
    uint8_t last_acc_part[2][600];
    int last_acc_part_len[2];
    double bot_phase;
    /* the client's time-of-day reports (type 18) */
    uint64_t time_reports;
    double time_reported;  /* seconds since midnight */
    float rate_reported;
} ts_client;

/* The server's world, once a test sets it: a time of day running at its rate
 * and a weather kind with its roll id, sent to every client every period
 * seconds (and at once after each change) from ts_poll. */
typedef struct ts_world {
    bool has_time, has_weather;
    double time_base;      /* seconds since midnight at time_epoch */
    double time_epoch;     /* the server's now */
    float rate;
    uint8_t kind, roll;
    double roll_at;        /* the server's now of the next roll (only told) */
    double period;         /* seconds between sends, 2 by default */
    double next_send;
} ts_world;

/* Traffic: the owner the server names (0 none) with the slot it gives every
 * client (-1: the two-byte owner packet, no slot), and what the players sent
 * of types 25 to 27, parsed, before it was relayed to the others. */
#define TS_TRAFFIC_CARS_MAX 256
typedef struct ts_traffic_car {
    uint16_t sender;
    uint32_t net_id;
    uint8_t car_type;
    uint32_t path_count;
    char first_path[161];
    bool has_state;
    double pos[3];
    float rot[4];
    float speed;
    uint32_t lights;
    uint64_t states;     /* states received for it */
} ts_traffic_car;

typedef struct ts_traffic {
    uint16_t owner;
    int slot;
    uint64_t defs_in, cars_in, ids_in;      /* datagrams */
    uint64_t complete_lists;                /* type 27 with the complete flag */
    uint64_t ids_removed;                   /* ids in lists without it */
    uint32_t last_sender_ms;
    ts_traffic_car cars[TS_TRAFFIC_CARS_MAX]; /* by sender and net id, removals drop them */
    int car_count;
} ts_traffic;

/* Props: the server's store of placed props (ids from 1), what came in, and
 * a behaviour for tests: hold_echoes takes players' requests (type 20 and 21)
 * without storing or answering them (counted in held). */
#define TS_PROPS_MAX 256
typedef struct ts_prop {
    bool used;
    uint16_t owner;
    prop_state state;   /* server_id is the prop's id */
} ts_prop;
typedef struct ts_props {
    ts_prop props[TS_PROPS_MAX];
    uint32_t next_id;
    bool hold_echoes;
    uint64_t creates, updates, removes, layouts_in, held;
    uint8_t last_layout_op;
    char last_layout_name[33];
    prop_state last_request;  /* the last type 20 a player sent, as parsed */
    uint8_t last_request_bytes[512]; /* and its payload as it came */
    int last_request_len;
} ts_props;

typedef struct ts_server {
    uintptr_t sock;
    uintptr_t second_sock;  /* for "answers from a second port" */
    uint16_t port;
    ts_client clients[TS_MAX_CLIENTS];
    uint16_t next_id;
    /* behaviour */
    int refuse_reason;      /* -1: accept */
    char refuse_text[201];
    bool silent;            /* receive but never answer */
    bool send_challenge;
    bool welcome_id_zero;   /* misbehave: welcome with player id 0 */
    uint8_t max_players;
    uint16_t protocol;      /* in info replies */
    char info_name[256]; /* the wire carries up to 255 bytes */
    int info_ignore;        /* info queries still to be left unanswered */
    double client_timeout;  /* seconds without a datagram before a drop */
    /* what came in */
    uint64_t by_type[256];
    uint64_t datagrams;
    uint32_t last_seq_in;
    uint8_t last_type_in;
    double last_hello_at[64];
    int hello_times;
    double now;
    uint8_t last_payload[2048];
    int last_payload_len;
    uint8_t last_payload_type;
    ts_world world;
    uint32_t info_from_addr; /* the last info query: source (network order) and nonce */
    uint16_t info_from_port;
    uint32_t info_nonce;
    ts_traffic traffic;
    ts_props props;
    /* the bots' lights: a lights block with these bits when bot_lights_on,
     * the left blinker (0x40) added for bot_blink seconds of every
     * 2 * bot_blink (0: no blinker) */
    bool bot_lights_on;
    uint32_t bot_lights;
    double bot_blink;
    /* the bots pull a trailer when this is set: their states carry a trailer
     * pose 8 m behind on their circle, and their trailer list holds this one
     * entry (null: no trailer, an empty trailer list) */
    const char *bot_trailer_path;
} ts_server;

bool ts_start(ts_server *s, uint16_t port); /* port 0: any free port */
void ts_stop(ts_server *s);
void ts_poll(ts_server *s, double now);
ts_client *ts_find(ts_server *s, uint16_t id);
ts_client *ts_find_name(ts_server *s, const char *name);

/* Sends one datagram to a client with the server's header (type, seq, subject). */
void ts_send(ts_server *s, const ts_client *to, uint8_t type, uint32_t seq, uint16_t subject,
             const uint8_t *payload, int len);
/* Sends raw bytes to a client, from the main port or the second one. */
void ts_send_raw(ts_server *s, const ts_client *to, const uint8_t *data, int len, bool second_port);
/* To every real (non-bot) client. */
void ts_broadcast(ts_server *s, uint8_t type, uint16_t subject, const uint8_t *payload, int len);
/* Drops a player: type 7 to everybody (the player included), reasons 4/5 with text. */
void ts_drop(ts_server *s, uint16_t id, uint8_t reason, const char *text);
void ts_send_role(ts_server *s, uint16_t id, uint32_t tag, uint32_t name_colour, const char *text);
void ts_send_message(ts_server *s, const char *text);
void ts_send_time(ts_server *s, double seconds, float rate);
void ts_send_weather(ts_server *s, uint8_t kind, uint8_t roll, float seconds);
void ts_send_owner(ts_server *s, uint16_t owner, int slot);
void ts_send_challenge(ts_server *s, ts_client *c);
/* Server jobs: type 48 (the job) and 49 (its id, 0 = all) to every client. */
struct server_job;
void ts_send_job(ts_server *s, const server_job *job);
void ts_send_job_removed(ts_server *s, uint32_t id);

/* The server's world: its time of day from now on, its weather with the
 * seconds to its next roll; what its time of day is at a moment. */
void ts_world_set_time(ts_server *s, double seconds, float rate);
void ts_world_set_weather(ts_server *s, uint8_t kind, uint8_t roll, float next_roll_in);
double ts_world_time(const ts_server *s, double now);
void ts_world_tick(ts_server *s, double now);

/* Traffic: names the owner and our slot to every client (slot -1: none);
 * sends one traffic datagram to every real client as coming from a player
 * (a bot that owns traffic); the car a player sent, or null. */
void ts_traffic_set_owner(ts_server *s, uint16_t owner, int slot);
void ts_traffic_send_as(ts_server *s, uint16_t from, uint8_t type, const uint8_t *payload, int len);
const ts_traffic_car *ts_traffic_find(const ts_server *s, uint16_t sender, uint32_t net_id);

/* Props (testserver_props.cpp): a prop placed by a player (a bot or a
 * client; id 0 takes the next id), echoed to every client; the store's
 * prop of that id or null; the id list (type 22) to every client; a
 * removal (type 21, 0 = all) from the server. */
uint32_t ts_props_place_as(ts_server *s, uint16_t player, const prop_state *prop);
const ts_prop *ts_props_find(const ts_server *s, uint32_t id);
void ts_props_send_list(ts_server *s);
void ts_props_remove(ts_server *s, uint32_t id);
/* What ts_poll calls: a prop datagram from a client, and a client that joined. */
void ts_props_on_datagram(ts_server *s, ts_client *c, uint8_t type, const uint8_t *p, size_t n);
void ts_props_on_join(ts_server *s, ts_client *c);

/* Bots: players on the server that drive a circle and send accessory lists. */
uint16_t ts_add_bot(ts_server *s, const char *name, double now);
void ts_bots_tick(ts_server *s, double now, double *next_state, double *next_lists);
/* The bots' AI traffic, as a traffic owner's game would send it: each bot
 * sends two cars that drive its circle half a turn apart (net ids 1 and 2),
 * their states at 10 Hz and their definitions every 5 s, to every real
 * client. */
void ts_bots_traffic_tick(ts_server *s, double now, double *next_states, double *next_defs);
