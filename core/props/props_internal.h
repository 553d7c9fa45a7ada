/* What the props files share inside the props subsystem: the reload block
 * and its records, the game's offsets props use, the core-side state, and
 * the operations of each file.
 *
 *   props_table.cpp      block, init, shutdown, tick, release, draw passes
 *   props_models.cpp     spawn, paths, placement push, draw, find, slot lists
 *   props_server.cpp     prop_state, commit, the network handlers, disconnect
 *   props_commands.cpp   the "model" command family
 *   model_catalog.cpp    models.txt
 *   props_attach.cpp     attachment to vehicle parts
 *   props_level.cpp      ground rays, levelling, part fit, truck offset
 *   props_collision.cpp  static collision actors, physics server and scene
 *   props_lights.cpp     hookups, light modes, the hookup dump
 *
 * Threads: everything runs on the game thread except props_draw, which runs
 * on the game's render thread inside render_gate. A record is published by
 * storing its state last (release); the draw reads the state first
 * (acquire) and reads only what a live record whose hookups exist holds.
 * Records are zeroed only by the game thread, after the three-tick batch
 * and a drained render gate (every pass that began before the record was
 * queued has ended, a pass of the core before a reload included). */
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "dm_api.h"
#include "net/net_records.h"
#include "base/placement.h"
#include "props/props_game.h"
#include "props/props_math.h"

/* ---- the reload block ---- */
#define PROPS_MAGIC 0x50525053u
#define PROPS_VERSION 7u
#define PROPS_SLOTS 64
#define PROPS_SECTION_NAME "Localdrovemark_props_state_v%u_%lu"

enum { PROP_FREE = 0, PROP_LIVE = 1, PROP_QUEUED = 2 };
/* PROP_HOOKUPS_CREATING only while the game thread runs the creation calls
 * (never across a frame, so never seen by another core build): not drawn. */
enum { PROP_HOOKUPS_NONE = 0, PROP_HOOKUPS_CREATED = 1, PROP_HOOKUPS_STOPPED = 2, PROP_HOOKUPS_CREATING = 3 };
enum { PROP_PART_NONE = 0, PROP_PART_TRUCK = 1, PROP_PART_CABIN = 2, PROP_PART_TRAILER = 3 };

typedef struct prop_record {
    uint64_t model;          /* the game model object (our reference on it); 0 when free */
    uint32_t state;          /* PROP_FREE, PROP_LIVE, PROP_QUEUED */
    uint32_t local_id;
    uint32_t server_id;      /* 0 for a local prop */
    uint16_t owner;
    uint8_t reserved0[2];
    uint64_t look, variant;  /* tokens */
    placement place;
    char path[PROPS_PATH_MAX]; /* NUL-terminated when shorter than 160 */
    uint8_t reserved1[8];
    uint64_t actor;          /* static collision actor */
    uint64_t shapes[5];      /* the actor's shape list; [2] the shape count */
    uint8_t attach_part;
    uint8_t attach_missing;
    uint16_t attach_player;
    props_relative rel;      /* right, up, back, 0, rotation w, x, y, z */
    uint8_t light_mode;
    uint8_t light_applied;   /* 0xFF forces the next application */
    uint8_t hookup_state;
    uint8_t reserved3;
} prop_record;
static_assert(offsetof(prop_record, state) == 8 && offsetof(prop_record, local_id) == 12 &&
                  offsetof(prop_record, server_id) == 16 && offsetof(prop_record, owner) == 20 &&
                  offsetof(prop_record, look) == 24 && offsetof(prop_record, variant) == 32 &&
                  offsetof(prop_record, place) == 40 && offsetof(prop_record, path) == 72 &&
                  offsetof(prop_record, actor) == 240 && offsetof(prop_record, shapes) == 248 &&
                  offsetof(prop_record, attach_part) == 288 && offsetof(prop_record, attach_missing) == 289 &&
                  offsetof(prop_record, attach_player) == 290 && offsetof(prop_record, rel) == 292 &&
                  offsetof(prop_record, rel.qw) == 308 && offsetof(prop_record, light_mode) == 324 &&
                  offsetof(prop_record, light_applied) == 325 && offsetof(prop_record, hookup_state) == 326 &&
                  sizeof(prop_record) == 328,
              "prop_record: the 328 bytes a later core build maps");

typedef struct props_state_block {
    uint32_t magic, version;
    uint64_t game_ctrl;
    uint32_t last_local_id;
    uint32_t drawing_on;
    prop_record table[PROPS_SLOTS];
} props_state_block;
static_assert(offsetof(props_state_block, game_ctrl) == 8 && offsetof(props_state_block, last_local_id) == 16 &&
                  offsetof(props_state_block, drawing_on) == 20 && offsetof(props_state_block, table) == 24 &&
                  sizeof(props_state_block) == 21016,
              "props_state_block: the 21016 bytes a later core build maps");

/* ---- core-side state (props_table.cpp; lost on a reload) ---- */
extern const dm_host_api *props_api;
extern props_state_block *props_block;
extern volatile uint8_t props_draw_faulted;
extern bool props_fault_reported; /* the tick logged the fault */
extern volatile long props_draw_calls;
extern uint32_t props_last_id;
extern bool props_last_is_server; /* what kind of id "last" holds */
extern uint32_t props_pending_creates; /* create requests sent and not yet echoed */
extern uint8_t props_autosnap, props_collision_on;
extern uint32_t props_ray_filter;

void props_log(const char *fmt, ...) __attribute__((format(gnu_printf, 1, 2)));
bool props_joined();
bool props_our_player(uint16_t player); /* 0 or our id */
/* Queues the record for release (state 2): stored before anything else, so
 * a pass that begins afterwards skips it. The observer (null in the shipped
 * core) runs right after the store; tests hold the game thread there. */
void props_queue(prop_record *r);
extern void (*props_queue_observer)(const prop_record *r);
/* State published for the render thread. */
uint32_t props_state_of(const prop_record *r);
void props_publish(prop_record *r, uint32_t state);
bool props_model_ok(uint64_t model); /* readable for 896 bytes, of the model table */
bool props_model_loaded(uint64_t model);
/* The record took its model (spawn, restore): props_model_ok is asked once
 * here, and props_model_held answers from it in every frame after. */
void props_model_taken(const prop_record *r);
bool props_model_held(const prop_record *r);
/* Held, and its loaded flag set (read under the guard, no probe). */
bool props_model_held_loaded(const prop_record *r);
int props_live_count();

/* ---- props_models.cpp ---- */
prop_record *props_spawn_model(const char *path, uint64_t look, uint64_t variant, const placement *p,
                               uint32_t server_id, uint16_t owner);
bool props_path_ok(const char *path);
bool props_game_file_exists(const char *path);
void props_push_placement(prop_record *r);
prop_record *props_find(const char *text);
/* props_find of the first word (up to 15 characters), kept in id when given. */
prop_record *props_find_first_word(const char *rest, char id[16]);
uint64_t props_model_from_slot(uint64_t object, uint32_t offset);
void props_model_release(uint64_t model);
/* True when this server prop's refusal was logged already (one of the last
 * 32 refused); otherwise notes it and answers false, so the caller logs. */
bool props_refused_before(uint32_t server_id);

/* ---- props_server.cpp ---- */
void props_to_state(const prop_record *r, prop_state *out);
void props_commit_placement(prop_record *r, const double pos[3], const float q[4], const char *label);
extern const net_prop_handlers props_net_handlers;
/* True while the connection's socket is closed; a create request still
 * awaited is forgotten then, since its echo can no longer come. */
bool props_disconnected();

/* ---- props_attach.cpp ---- */
/* Between begin and end (the props tick) a part's frame and a carrying
 * vehicle's light word are read once per (player, part) and shared by the
 * props on it; outside, every call reads them afresh. */
void props_shared_reads_begin();
void props_shared_reads_end();
/* The light word of the vehicle that carries the prop (our truck, or the
 * attach player's vehicle); false when there is none or it is unreadable. */
bool props_carrier_light_word(const prop_record *r, uint32_t *word);
uint64_t props_attach_target_model(const prop_record *r);
bool props_attach_source_placement(const prop_record *r, placement *out);
bool props_update_attached(prop_record *r);
/* True when the request went out. */
bool props_send_attach(const prop_record *r, uint8_t part, uint16_t player, const props_relative *rel);
bool props_apply_server_attach(prop_record *r, const prop_state *s);
void props_cmd_attach(const char *rest);
bool props_game_world_placement(uint64_t model, placement *out);
bool props_game_compose(const placement *frame, const props_relative *rel, placement *out);

/* ---- props_level.cpp ---- */
typedef struct props_hit {
    float x, y, z;
    int16_t sector_x, sector_z;
    float normal[3];
    uint8_t unused[4];
    uint64_t actor;
    uint32_t substance;
    float fraction;
} props_hit;
static_assert(sizeof(props_hit) == 48 && offsetof(props_hit, actor) == 32 && offsetof(props_hit, fraction) == 44,
              "the game's 48-byte ray hit record");
bool props_raycast_down(double x, double y, double z, double length, props_hit *out, uint32_t filter);
bool props_ground_probe(double pos[3], double *previous_y);
bool props_level_on_ground(uint64_t model, double pos[3], float q[4], const char *label, uint64_t own_actor);
bool props_fit_on_part(const prop_record *r, uint64_t part_model, const placement *frame, props_relative *rel,
                       const char *label);
bool props_part_bounds(uint64_t model, float min[3], float max[3]);
bool props_truck_offset(double ahead, double right, double up, double out[3], float q[4]);
bool props_corner_ray(const float part_max[3], const placement *frame, const float part_min[3], double x, double z,
                      double *height);
void props_cmd_snap_level(const char *rest);

/* ---- props_collision.cpp ---- */
bool props_create_collision(prop_record *r);
void props_remove_collision(prop_record *r);
uint64_t props_physics_server();
uint64_t props_physics_scene();

/* ---- props_lights.cpp ---- */
void props_create_hookups(prop_record *r);
void props_apply_lights(prop_record *r);
int32_t props_count_flares(uint64_t model, uint32_t *hookups);
void props_cmd_hookups(const char *rest);

/* ---- model_catalog.cpp ---- */
bool model_catalog_load();
bool model_catalog_resolve(const char *arg, char *out, size_t size);
void model_catalog_search_command(const char *query);
void model_catalog_destroy();
