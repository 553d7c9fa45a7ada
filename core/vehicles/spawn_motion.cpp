// The spawned vehicle's motion: the per-frame step (park, circle, trail,
// net), steering and wheel animation, the light word, the game's update,
// and collision (see spawn.h; the maths are in motion_math.cpp). Runs inside
// spawn_update_guarded: a fault anywhere here drops the vehicle.
//
// Index
//   game addresses   fields, slots and calls of build 1.61.3.1
//   move modes       the trail ring, spawn_move_*, spawn_trail_reset
//   motion           circle, spawn_follow_trail, net
//   animation        spawn_animate
//   frame            spawn_update
//   collision        vehicle_set_collision, spawn_apply_collision
#include <windows.h>
#include <math.h>
#include "base/core.h"
#include "dm_guard.h"
#include "base/game_mem.h"
#include "vehicles/motion_math.h"
#include "net/net.h"
#include "vehicles/spawn.h"
#include "vehicles/vehicle_game.h"

/* ---- game addresses ---- */

namespace {

using namespace motion_game; /* vehicle_game.h */
using namespace game_array_off;

/* collision */
const int collision_parts_max = 4;
const uint64_t collision_elements_max = 256;

const uint32_t net_blink_bits = 0x40 | 0x80; /* change too often to log */

} // namespace

/* ---- move modes ---- */

namespace {
trail_ring trail;
}

void spawn_trail_reset(const placement *p) { trail_reset(&trail, p); }

void spawn_move_circle(double cx, double cy, double cz)
{
    spawn_state_record &s = spawn_state;
    s.circle_centre[0] = cx;
    s.circle_centre[1] = cy;
    s.circle_centre[2] = cz;
    s.circle_angle = atan2(placement_world_z(&s.place) - cz, placement_world_x(&s.place) - cx);
    s.last_update = 0;
    s.move_mode = MOVE_CIRCLE;
}

void spawn_move_follow()
{
    spawn_trail_reset(&spawn_state.place);
    spawn_state.move_mode = MOVE_FOLLOW;
}

void spawn_move_park(const placement *p)
{
    spawn_state.place = *p;
    spawn_state.move_mode = MOVE_PARK;
}

void spawn_move_stop() { spawn_state.move_mode = MOVE_PARK; }

/* ---- motion ---- */

namespace {

void circle_step(double now)
{
    spawn_state_record &s = spawn_state;
    double step = s.last_update == 0 ? 0 : now - s.last_update;
    s.circle_angle += s.circle_speed * step / s.circle_radius;
    s.place = motion_circle_placement(s.circle_centre[0], s.circle_centre[1], s.circle_centre[2], s.circle_radius,
                                      s.circle_angle);
}

void net_step(double now)
{
    spawn_state_record &s = spawn_state;
    net_pose pose;
    if (!s.net_player || !net_sample_player(s.net_player, now, &pose))
        return;
    placement_from_world(&s.place, pose.pos[0], pose.pos[1], pose.pos[2], pose.rot[0], pose.rot[1], pose.rot[2],
                         pose.rot[3]);
    s.net_pose_valid = 1;
    s.net_has_trailer = pose.has_trailer;
    s.net_lights = pose.lights;
    s.net_steering = pose.steering;
    s.net_has_extra = pose.has_lights;
    if (pose.has_lights) {
        uint32_t lights = pose.lights & ~net_blink_bits;
        if (lights != s.logged_lights || pose.horns != s.logged_horns) {
            core_log("[core] net: remote lights %08x horns %u", pose.lights, pose.horns);
            s.logged_lights = lights;
            s.logged_horns = pose.horns;
        }
    }
    if (pose.has_trailer)
        placement_from_world(&s.net_trailer, pose.trailer_pos[0], pose.trailer_pos[1], pose.trailer_pos[2],
                             pose.trailer_rot[0], pose.trailer_rot[1], pose.trailer_rot[2], pose.trailer_rot[3]);
}

} // namespace

void spawn_follow_trail()
{
    placement truck;
    uint64_t local = game_local_truck();
    if (!local || game_object_placement(local, &truck) != GAME_PLACEMENT_OK)
        return;
    trail_add(&trail, &truck);
    double pos[3];
    float q[4];
    if (trail_follow(&trail, spawn_state.follow_distance, pos, q))
        placement_from_world(&spawn_state.place, pos[0], pos[1], pos[2], q[0], q[1], q[2], q[3]);
}

/* ---- animation ---- */

void spawn_animate(double dt)
{
    spawn_state_record &s = spawn_state;
    if (!s.previous_valid || dt <= 0.0001) {
        s.previous = s.place;
        s.previous_valid = 1;
        return;
    }
    double v = motion_speed(&s.place, &s.previous, dt);
    double yaw_change = motion_yaw_change(&s.place, &s.previous);
    s.previous = s.place;
    if (s.move_mode == MOVE_NET && s.net_pose_valid)
        s.steering = motion_steer_net(s.steering, s.net_steering);
    else
        s.steering = motion_steer_step(s.steering, v, yaw_change, dt, s.steer_sign);

    uint64_t vehicle = s.vehicle;
    game_field<float>(vehicle, actor_off::steering) = s.steering;
    uint64_t block = game_field<uint64_t>(vehicle, actor_off::wheels);
    float time_scale = game_field<float>(vehicle, actor_off::time_scale);
    if (!block || !(time_scale > 0))
        return;
    uint64_t count = game_field<uint64_t>(block, wheel_off::count), angle_count = game_field<uint64_t>(block, wheel_off::angle_count);
    float *spins = (float *)(uintptr_t)game_field<uint64_t>(block, wheel_off::spins);
    float *angles = (float *)(uintptr_t)game_field<uint64_t>(block, wheel_off::angles);
    float k = game_field<float>(block, wheel_off::spin_to_angle);
    uint64_t def = game_field<uint64_t>(vehicle, actor_off::definition);
    const float *radii = def ? (const float *)(uintptr_t)game_field<uint64_t>(def, def_off::radii) : nullptr;
    uint64_t radius_count = def ? game_field<uint64_t>(def, def_off::radius_count) : 0;
    uint64_t frame_us = *(const uint64_t *)(uintptr_t)game_addr(frame_duration_us);
    if (!s.wheels_logged) {
        s.wheels_logged = 1;
        core_log("[core] wheels: n=%llu radii=%llu (r0=%.3f) veh+0x238=%.4f frame_us=%llu angles=%llu k=%.5f",
                 (unsigned long long)count, (unsigned long long)radius_count,
                 radii && radius_count ? radii[0] : MOTION_WHEEL_RADIUS_DEFAULT, time_scale,
                 (unsigned long long)frame_us, (unsigned long long)angle_count, k);
    }
    if (!spins || count > MOTION_WHEELS_MAX)
        return;
    for (uint64_t i = 0; i < count; i++)
        spins[i] = motion_wheel_spin(v, frame_us, time_scale, motion_wheel_radius(radii, radius_count, i));
    if (angles)
        for (uint64_t i = 0; i < count && i < angle_count; i++)
            angles[i] = motion_wheel_angle(angles[i], k, spins[i]);
    uint64_t steering_object = game_field<uint64_t>(vehicle, actor_off::steering_object);
    if (steering_object)
        game_fn<void (*)(uint64_t, float, int)>(call_steer)(steering_object, s.steering, 1);
}

/* ---- frame ---- */

namespace {

/* The game's update with its own light bit kept out of it and put back. */
void game_update(uint64_t vehicle)
{
    spawn_state_record &s = spawn_state;
    volatile uint32_t &lights = game_field<volatile uint32_t>(vehicle, actor_off::lights);
    uint64_t block = game_field<uint64_t>(vehicle, actor_off::wheels);
    float *spins = block ? (float *)(uintptr_t)game_field<uint64_t>(block, wheel_off::spins) : nullptr;
    bool debug = s.wheel_debug > 0 && spins;
    float spin_before = debug ? spins[0] : 0, steer_before = game_field<float>(vehicle, actor_off::steering);

    uint32_t saved = lights;
    lights = saved & ~MOTION_LIGHT_GAME_BIT;
    game_vslot<void (*)(uint64_t)>(vehicle, actor_slot::update)(vehicle);
    lights = (lights & ~MOTION_LIGHT_GAME_BIT) | (saved & MOTION_LIGHT_GAME_BIT);

    if (debug) {
        s.wheel_debug--;
        core_log("[core] wheeldbg: spin[0] before update %.4f after %.4f | steer before %.3f after %.3f", spin_before,
                 spins[0], steer_before, game_field<float>(vehicle, actor_off::steering));
    }
}

} // namespace

void spawn_update(const dm_frame_info *info)
{
    spawn_state_record &s = spawn_state;
    double now = info->seconds;
    bool paused = info->paused != 0;
    if (!paused) {
        if (s.move_mode == MOVE_CIRCLE)
            circle_step(now);
        else if (s.move_mode == MOVE_FOLLOW)
            spawn_follow_trail();
        else if (s.move_mode == MOVE_NET)
            net_step(now);
    }
    s.frame_step = s.last_update == 0 ? 0 : now - s.last_update;
    s.last_update = now;

    uint64_t vehicle = s.vehicle;
    game_vslot<void (*)(uint64_t, const placement *)>(vehicle, actor_slot::set_placement)(vehicle, &s.place);
    if (!paused)
        spawn_animate(s.frame_step);

    volatile uint32_t &lights = game_field<volatile uint32_t>(vehicle, actor_off::lights);
    if (s.forced_on)
        lights = motion_light_merge(lights, s.forced_word);
    else if (s.move_mode == MOVE_NET && s.net_has_extra)
        lights = motion_light_merge(lights, s.net_lights);
    if (s.tick_on)
        game_update(vehicle);

    if (s.info_countdown > 0 && --s.info_countdown == 0)
        cmd_info();
    trailer_tick(info);
}

/* ---- collision ---- */

namespace {

void switch_array(uint64_t array, uint8_t on)
{
    uint64_t data = game_field<uint64_t>(array, array_data), count = game_field<uint64_t>(array, array_count);
    for (uint64_t i = 0; data && i < count && i < collision_elements_max; i++) {
        uint64_t element = game_field<uint64_t>(data, (uint32_t)(8 * i));
        if (element)
            game_vslot<void (*)(uint64_t)>(element, on ? vs_collision_on : vs_collision_off)(element);
    }
}

} // namespace

bool vehicle_set_collision(uint64_t object, uint8_t on)
{
    return dm_guarded_filter(
        [&] {
            uint64_t part = object;
            for (int n = 0; n < collision_parts_max && part; n++) {
                for (uint32_t at : collision_arrays)
                    switch_array(part + at, on);
                uint64_t cls = game_object_class(part);
                if (game_class_reaches(cls, game_from_va(cab_class_va)))
                    for (uint32_t at : cab_arrays)
                        switch_array(part + at, on);
                if (!game_class_reaches(cls, game_from_va(chained_class_va)))
                    break;
                for (uint32_t at : chained_arrays)
                    switch_array(part + at, on);
                part = game_field<uint64_t>(part, actor_off::next_part);
            }
        },
        fault_record_filter, nullptr);
}

void spawn_apply_collision(const char *reason)
{
    spawn_state_record &s = spawn_state;
    bool faulted = false;
    if (s.state == SPAWN_SPAWNED)
        faulted |= !vehicle_set_collision(s.vehicle, s.collision_on);
    if (s.trailer_state == SPAWN_SPAWNED)
        faulted |= !vehicle_set_collision(s.trailer_actor, s.collision_on);
    core_log("[core] collision %s for our vehicles (%s)%s", s.collision_on ? "ON" : "OFF (ghost)", reason,
             faulted ? " -- FAULTED" : "");
}
