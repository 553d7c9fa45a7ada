/* The core's own spawned vehicle: spawn_state (the one record the draw and
 * shadow detours, the fault report, the remote-player glue, the trailer and
 * the vehicle commands share), spawning and its loading state machine,
 * finalize, despawn and the drop without game calls (spawn_vehicle.cpp);
 * its motion, steering, wheels, lights and collision (spawn_motion.cpp,
 * maths in motion_math.h). Game thread only, except the readers marked
 * below. Offsets are those of game build 1.61.3.1. */
#pragma once
#include <stdint.h>
#include "dm_api.h"
#include "base/placement.h"
#include "vehicles/vehicles.h"

enum { MOVE_PARK = 0, MOVE_CIRCLE = 1, MOVE_FOLLOW = 2, MOVE_NET = 3 };

#define SPAWN_LOAD_SECONDS 30.0 /* a vehicle not loaded by then is released */
#define SPAWN_INFO_FRAMES 30    /* the info report this many frames after a spawn */
#define SPAWN_METRES_RIGHT 6.0f /* the default distance beside the local truck */

typedef struct spawn_state_record {
    /* state and trailer_state are read on the render thread by the draw and
     * shadow detours: written only through spawn_set_state and
     * spawn_set_trailer_state (release), read through spawn_state_value
     * and spawn_trailer_state_value (acquire). A drop stores 0 before any
     * game call removes or releases the objects, and a removal then waits
     * for the detours that may still draw them (spawn_release.cpp). */
    uint32_t state;            /* SPAWN_NONE, SPAWN_LOADING, SPAWN_SPAWNED */
    uint64_t vehicle;          /* one reference of ours; 0 when none */
    uint64_t definition;       /* one reference of ours; 0 when none */
    placement place;           /* where the vehicle is put, kept by the motion */
    double load_deadline;      /* frame seconds; 0 = not set yet */
    uint8_t spawn_mode_clone;  /* 1 clone the local definition, 0 share it */
    uint8_t owns_definition;   /* 1 a clone or a look-built definition of ours */
    uint8_t built_from_look_list;
    uint8_t hidden;            /* owned by the remote-player glue; cleared by a drop */
    int32_t info_countdown = -1; /* frames until the info report; -1 idle */
    uint64_t remembered_truck; /* the local truck seen in the previous frame */

    /* the trailer, beside the vehicle (its own file fills these) */
    uint32_t trailer_state;    /* as state */
    uint64_t trailer_actor, trailer_definition;

    /* motion */
    uint32_t move_mode;        /* MOVE_PARK, MOVE_CIRCLE, MOVE_FOLLOW, MOVE_NET */
    double circle_centre[3];   /* world metres */
    double circle_angle;       /* radians */
    double circle_radius = 20.0;
    double circle_speed = 5.0; /* m/s */
    double follow_distance = 15.0;
    float steer_sign = 1.0f;
    double last_update;        /* frame seconds of the last update; 0 = none */
    double frame_step;         /* seconds since the update before */
    placement previous;        /* for the steering and wheels */
    uint8_t previous_valid;
    float steering;            /* -1..1; 1 is 0.6 rad */
    uint8_t wheels_logged;
    /* net mode: the remote player shown (bound by the remote-player glue; 0
     * none) and what the last sample of that player gave */
    uint16_t net_player;
    uint8_t net_pose_valid, net_has_trailer, net_has_extra;
    uint32_t net_lights;
    float net_steering;
    placement net_trailer;     /* read by the trailer */
    uint32_t logged_lights;    /* without 0x40 and 0x80 */
    uint8_t logged_horns;
    /* the settings of the vehicle commands */
    uint8_t forced_on;
    uint32_t forced_word;      /* the light word while forced_on */
    uint32_t wheel_debug;      /* updates still to log their wheel line */
    uint8_t tick_on = 1;       /* run the game's update each frame */
    uint8_t collision_on = 1;
} spawn_state_record;
extern spawn_state_record spawn_state;

void spawn_set_state(uint32_t state);
void spawn_set_trailer_state(uint32_t state);

/* ---- spawning (spawn_vehicle.cpp) ----
 * spawn_vehicle, spawn_despawn and the state readers are in vehicles.h. */
/* One guarded loading step (continue loading, or finalize once loaded);
 * false only when a fault was caught. */
bool spawn_poll_loaded();
void spawn_finalize();
void spawn_finalize_body(uint64_t body);
/* Drops vehicle and trailer without any game call (they may belong to a
 * world that is gone); nothing when neither exists. */
void spawn_forget(const char *reason);
/* spawn_update under the guard; false when a fault was caught. */
bool spawn_update_guarded(const dm_frame_info *info);

/* ---- releases after the draws (spawn_release.cpp) ----
 * A draw or shadow detour may still be inside a call on an object whose
 * state word was just stored 0. Its removal from the game's list and its
 * release wait for every detour that entered before (the render gate,
 * detour_gate.h), up to SPAWN_DRAW_WAIT_MS; when one is still inside then,
 * the release is left to a later frame ("tick_spawn"), which looks again
 * for SPAWN_DRAW_RETRY_MS each time. Never released under a running draw. */
#define SPAWN_DRAW_WAIT_MS 100
#define SPAWN_DRAW_RETRY_MS 2
/* What a release does once no draw can reach the object: the removal from
 * the game's list when listed, the releases and their log lines. */
typedef void (*spawn_release_fn)(uint64_t object, uint64_t definition, uint8_t listed);
/* release(object, definition, listed) now when the detours left in time
 * (true), else in a later frame (false, one log line naming what). */
bool spawn_release_after_draws(const char *what, spawn_release_fn release, uint64_t object, uint64_t definition,
                               uint8_t listed);
/* The releases left waiting, once the detours left (start of spawn_tick);
 * those of a world that went away meanwhile are dropped without a call. */
void spawn_release_tick();
int spawn_releases_waiting();
/* Hides or shows the vehicle; once hide returns no draw or shadow of it is
 * running (bounded as above). */
void spawn_set_hidden(bool hidden);

/* ---- motion (spawn_motion.cpp) ---- */
void spawn_update(const dm_frame_info *info);
void spawn_follow_trail();
void spawn_animate(double dt);
/* Switches the collision of a vehicle or trailer actor and its chained
 * parts; false when a fault was caught. */
bool vehicle_set_collision(uint64_t object, uint8_t on);
/* The collision setting applied to the spawned vehicle and trailer. */
void spawn_apply_collision(const char *reason);
/* The move modes, for the vehicle commands and the restore after a reload.
 * Circle: around the centre from where the vehicle stands now, at the
 * record's radius and speed. Follow: the trail starts again at the
 * vehicle's placement. Park: stands at the placement. */
void spawn_move_circle(double cx, double cy, double cz);
void spawn_move_follow();
void spawn_move_park(const placement *p);
void spawn_move_stop();
/* The trail of the local truck starts again with one sample at p. */
void spawn_trail_reset(const placement *p);

/* ---- the trailer (spawn_trailer.cpp) ----
 * spawn_trailer and trailer_remove are in vehicles.h. The trailer's
 * state, actor and definition are in spawn_state; the rest of it here. */
enum { TRAILER_ARTICULATED = 0, TRAILER_RIGID = 1 };
#define TRAILER_PARTS_MAX 3               /* chained parts measured and placed */
#define TRAILER_DRAG_LENGTH_DEFAULT 6.0   /* metres, for a shorter measured one */
#define TRAILER_HITCH_JUMP 10.0           /* metres: a longer jump re-seats the drag point */
#define TRAILER_ARTICULATION_MAX 1.4      /* radians either side */
#define TRAILER_WHEEL_STEP_MAX 5.0        /* metres: a longer step turns no wheel */
typedef struct trailer_part_pose {
    double offset[3];  /* in the parent's frame */
    float rotation[4]; /* relative to the parent */
} trailer_part_pose;
typedef struct trailer_rig_record {
    uint32_t mode = TRAILER_RIGID;
    placement place;              /* the trailer's wanted placement */
    double load_deadline;         /* frame seconds; 0 = not set yet */
    int32_t info_countdown;       /* frames until the info report; 0 idle */
    double rigid_offset[3];       /* the trailer's position in the truck frame */
    float rigid_rotation[4] = { 1, 0, 0, 0 };
    double articulation_offset;   /* radians, the trailer's yaw minus the truck's */
    double fifth_wheel[3];        /* the hitch in the truck frame */
    double kingpin[3];            /* the hitch in the trailer frame */
    double drag_length = TRAILER_DRAG_LENGTH_DEFAULT;
    double drag_point[2];         /* world x, z */
    uint8_t drag_set;
    double last_hitch[2];         /* world x, z */
    uint32_t part_count;          /* 0..TRAILER_PARTS_MAX */
    trailer_part_pose parts[TRAILER_PARTS_MAX];
    uint8_t remote;               /* made for a remote player */
    placement wheel_previous;     /* the placement the wheels last turned from */
    uint8_t wheel_previous_valid;
} trailer_rig_record;
extern trailer_rig_record trailer_rig;

/* Measures the player's rig into trailer_rig; true when the trailer is
 * coupled to that truck (also when the hitch leaves it rigid). */
bool trailer_clone_player(uint64_t truck, uint64_t trailer);
/* The trailer's chained parts as they stand now, each in its parent's frame
 * (trailer_rig.parts); none when the trailer gives no placement. */
void trailer_measure_parts(uint64_t trailer);
/* Creates the actor for spawn_state.trailer_definition (our reference,
 * released on any failure) and starts loading. */
void trailer_create();
/* A remote player's trailer, rigid at the remote trailer's pose: takes our
 * reference on the definition (from look_build_def, kind 1) and creates it.
 * Call with the trailer state 0; trailer_remove takes it away. */
void trailer_create_remote(uint64_t definition);
/* The trailer's frame step, at the end of the vehicle's update (guarded). */
void trailer_tick(const dm_frame_info *info);
void spawn_trailer_finalize();
placement trailer_wanted_pose();
void trailer_place_parts();
/* The trailer info lines; nothing without a trailer. */
void trailer_info();
/* a x b divided by its length (by 1 below 1e-6), f32 */
void quat_mul_norm(const float a[4], const float b[4], float out[4]);
/* the point rotated by the quaternion */
void quat_transform_point(const float q[4], const double p[3], double out[3]);

