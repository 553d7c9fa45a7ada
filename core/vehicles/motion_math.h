/* The spawned vehicle's motion maths over plain values: moving a placement
 * along its own axes, angles, the circle, the trail of the local truck and
 * the follow walk along it, steering and wheel spin. Pure: no windows.h, no
 * game memory; spawn_motion.cpp reads and writes the game's fields.
 *
 * Quaternions are w, x, y, z; the vehicle's local +x axis is its right, its
 * local -z axis its forward, y is up. */
#pragma once
#include <stdint.h>
#include "base/placement.h"

#define MOTION_PI 3.14159265
#define MOTION_TWO_PI 6.2831853
#define MOTION_WHEEL_TURN 6.2831855f /* a wheel angle wraps at this (f32) */
#define MOTION_WHEELS_MAX 32         /* more wheels than this: spins and angles untouched */
#define MOTION_WHEEL_RADIUS_MIN 0.05f
#define MOTION_WHEEL_RADIUS_DEFAULT 0.5f
#define MOTION_STEER_MIN_SPEED 0.3 /* m/s; at or below it the steering value stays */
#define MOTION_LIGHT_GAME_BIT 0x200u /* the game's own bit of the light word */

/* The placement moved metres along its rotation's local +x axis, local x and
 * z brought strictly inside -512..512 by whole 512 m steps (each moving the
 * sector by one). Computed in f32. */
placement placement_advance(const placement *p, float metres);
/* The placement moved metres along its forward axis (local -z), the same way. */
placement motion_advance_forward(const placement *p, float metres);
/* radians in [-pi, pi] by whole steps of 2 pi. */
double wrap_angle(double radians);

/* The circle's placement at angle: centre + (cos, 0, sin) * radius, a yaw of
 * pi - angle about the vertical axis. */
placement motion_circle_placement(double cx, double cy, double cz, double radius, double angle);

/* ---- the trail of the local truck ---- */
#define TRAIL_SAMPLES 4096
#define TRAIL_MIN_STEP 0.25 /* metres of horizontal movement between samples */
typedef struct trail_sample {
    double x, y, z;
    float qw, qx, qy, qz;
} trail_sample;
typedef struct trail_ring {
    trail_sample samples[TRAIL_SAMPLES];
    uint32_t head;  /* the next slot */
    uint32_t count; /* at most TRAIL_SAMPLES */
} trail_ring;
/* Empties the ring, then holds one sample at the placement. */
void trail_reset(trail_ring *ring, const placement *p);
/* A new sample when the ring is empty or the placement is at least
 * TRAIL_MIN_STEP from the newest horizontally; true when one was written. */
bool trail_add(trail_ring *ring, const placement *p);
/* The point distance metres back along the trail from the newest sample
 * (position lerped, quaternion nlerped along the shorter way); false when
 * the ring holds fewer than 2 samples or the trail is shorter. Walks at most
 * count - 1 segments: never into a slot that was not written. */
bool trail_follow(const trail_ring *ring, double distance, double pos[3], float q[4]);

/* ---- steering and wheels ---- */
/* The forward axis (local -z) of a placement's rotation, x and z. */
void motion_forward(const placement *p, float *fx, float *fz);
/* Signed speed along the current placement's forward axis (m/s). */
double motion_speed(const placement *now, const placement *before, double dt);
/* The yaw change from before to now, in (-pi, pi]. */
double motion_yaw_change(const placement *now, const placement *before);
/* The steering value after one frame of driving at v m/s turning by
 * yaw_change over dt: unchanged at or below MOTION_STEER_MIN_SPEED, else 15 %
 * toward atan((yaw_change / dt) * 4.5 / v) * sign / 0.6 clamped to -1..1. */
float motion_steer_step(float value, double v, double yaw_change, double dt, float sign);
/* The net steering: 30 % toward the remote player's value. */
float motion_steer_net(float value, float net_steering);
/* Wheel i's radius: radii[i] when i < count and above MOTION_WHEEL_RADIUS_MIN,
 * else MOTION_WHEEL_RADIUS_DEFAULT. */
float motion_wheel_radius(const float *radii, uint64_t count, uint64_t i);
/* The spin of a wheel: v * (frame_us * 1e-6 / time_scale) / radius. */
float motion_wheel_spin(double v, uint64_t frame_us, float time_scale, float radius);
/* The next wheel angle: fmod(angle - k * spin, MOTION_WHEEL_TURN). */
float motion_wheel_angle(float angle, float k, float spin);

/* ---- the light word ---- */
/* bits with the game's bit taken from game_word. */
uint32_t motion_light_merge(uint32_t game_word, uint32_t bits);
