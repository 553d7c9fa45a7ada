/* The spawned vehicle's side of a core reload (spawn_reload.cpp): the
 * layouts of the core block (the vehicle and its motion settings) and the
 * trailer block (the trailer and its follower), what fills them at shutdown
 * and what is taken back from them at init, and the vehicle's part of the
 * net block (the binding to remote players). The runtime maps the sections,
 * writes and checks magic, version and profile, keeps the net block and
 * calls these in their order (reload_blocks.h).
 *
 * The layouts are read by other core builds: little-endian, every field at
 * the offset asserted below, never moved. */
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "base/placement.h"

/* core block flags */
#define RELOAD_FLAG_SPAWN_CLONE 0x1u /* the spawnmode setting is clone */
#define RELOAD_FLAG_OWN_DEF 0x2u     /* the vehicle's definition is our own */
#define RELOAD_FLAG_LOOK_BUILT 0x4u  /* built from a look list (older readers ignore it) */

typedef struct dm_core_state_block {
    uint32_t magic, version;
    uint64_t game_ctrl;     /* identifies the loaded profile */
    uint64_t vehicle, definition;
    uint32_t state;         /* 2 fully spawned, else 0 */
    uint32_t move_mode;     /* 0 park, 1 circle, 2 follow, 3 net */
    uint32_t flags;         /* RELOAD_FLAG_* */
    uint32_t drawing;       /* the draw and shadow hooks were on */
    placement place;
    double circle_centre[3];
    double circle_radius, circle_speed, circle_angle;
    double follow_distance;
    float steer_sign;
    uint32_t reserved;      /* not written */
} dm_core_state_block;
static_assert(offsetof(dm_core_state_block, game_ctrl) == 8 && offsetof(dm_core_state_block, vehicle) == 16 &&
                  offsetof(dm_core_state_block, definition) == 24 && offsetof(dm_core_state_block, state) == 32 &&
                  offsetof(dm_core_state_block, move_mode) == 36 && offsetof(dm_core_state_block, flags) == 40 &&
                  offsetof(dm_core_state_block, drawing) == 44 && offsetof(dm_core_state_block, place) == 48 &&
                  offsetof(dm_core_state_block, circle_centre) == 80 &&
                  offsetof(dm_core_state_block, circle_radius) == 104 &&
                  offsetof(dm_core_state_block, circle_speed) == 112 &&
                  offsetof(dm_core_state_block, circle_angle) == 120 &&
                  offsetof(dm_core_state_block, follow_distance) == 128 &&
                  offsetof(dm_core_state_block, steer_sign) == 136 && offsetof(dm_core_state_block, reserved) == 140 &&
                  sizeof(dm_core_state_block) == 144,
              "the core block's layout");

typedef struct trailer_state_block {
    uint32_t magic, version;
    uint64_t game_ctrl;
    uint64_t vehicle;       /* the spawned vehicle that pulls it */
    uint64_t trailer, definition;
    uint32_t state;         /* 2 when trailer and vehicle are fully spawned, else 0 */
    uint32_t rigid;         /* non-zero rigid, 0 articulated */
    double fifth_wheel[3];  /* the hitch in the truck frame */
    double kingpin[3];      /* the hitch in the trailer frame */
    double rigid_offset[3]; /* the trailer's position in the truck frame */
    double drag_length, articulation_offset;
    double drag_point[2];   /* world x, z */
    double last_hitch[2];   /* world x, z */
    uint32_t drag_set;
    float rigid_rotation[4];
    uint32_t reserved;      /* not written */
} trailer_state_block;
static_assert(offsetof(trailer_state_block, game_ctrl) == 8 && offsetof(trailer_state_block, vehicle) == 16 &&
                  offsetof(trailer_state_block, trailer) == 24 &&
                  offsetof(trailer_state_block, definition) == 32 && offsetof(trailer_state_block, state) == 40 &&
                  offsetof(trailer_state_block, rigid) == 44 &&
                  offsetof(trailer_state_block, fifth_wheel) == 48 &&
                  offsetof(trailer_state_block, kingpin) == 72 &&
                  offsetof(trailer_state_block, rigid_offset) == 96 &&
                  offsetof(trailer_state_block, drag_length) == 120 &&
                  offsetof(trailer_state_block, articulation_offset) == 128 &&
                  offsetof(trailer_state_block, drag_point) == 136 &&
                  offsetof(trailer_state_block, last_hitch) == 152 &&
                  offsetof(trailer_state_block, drag_set) == 168 &&
                  offsetof(trailer_state_block, rigid_rotation) == 172 &&
                  offsetof(trailer_state_block, reserved) == 188 && sizeof(trailer_state_block) == 192,
              "the trailer block's layout");

/* dm_core_shutdown: the vehicle and its motion settings into the core
 * block, the trailer and its follower into the trailer block; all but
 * magic, version, game_ctrl and the core block's drawing word. */
void spawn_reload_save(dm_core_state_block *b);
void spawn_reload_save_trailer(trailer_state_block *t);
/* dm_core_init, from a block whose magic and version matched; ctrl is the
 * profile now (0 when none). The motion settings are always taken back; the
 * vehicle only when the block says spawned, was written for this profile and
 * the vehicle still answers the physics vehicle's class; it comes back hidden
 * when it is hidden_vehicle (the net block's hidden vehicle, 0: none). The
 * trailer only behind that same restored vehicle. Each restore logs its line. */
void spawn_reload_restore(const dm_core_state_block *b, uint64_t ctrl, uint64_t hidden_vehicle);
void spawn_reload_restore_trailer(const trailer_state_block *t, uint64_t ctrl);

/* What the net block carries of our vehicle. */
typedef struct spawn_reload_binding {
    uint64_t vehicle;        /* the spawned vehicle when fully spawned, else 0 */
    uint8_t hidden;          /* fully spawned and hidden */
    uint16_t vehicle_player; /* the remote player our vehicle shows (fully spawned only) */
    uint16_t trailer_player; /* the remote player our trailer shows */
} spawn_reload_binding;
void spawn_reload_save_binding(spawn_reload_binding *out);
/* The first frame: the binding back when our vehicle is the one saved and
 * same_profile; else a vehicle following a remote player stops. Returns the
 * remote player our vehicle shows now. */
uint16_t spawn_reload_restore_binding(const spawn_reload_binding *in, bool same_profile);
