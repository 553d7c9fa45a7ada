// The spawned vehicle across a core reload (spawn_reload.h): spawn_state and
// trailer_rig into the core and trailer blocks at shutdown, and back at init;
// the binding to remote players for the net block.
//
// Index
//   saving      spawn_reload_save, spawn_reload_save_trailer
//   restoring   spawn_reload_restore, spawn_reload_restore_trailer
//   the binding spawn_reload_save_binding, spawn_reload_restore_binding
#include <string.h>
#include "base/core.h"
#include "base/game_mem.h"
#include "vehicles/spawn.h"
#include "vehicles/spawn_reload.h"
#include "vehicles/vehicle_game.h"

namespace {

/* A vehicle is taken back only while it still answers the physics
 * vehicle's class (vehicle_game.h). */
bool is_our_vehicle_class(uint64_t vehicle)
{
    return game_build_ok() && game_object_class(vehicle) == game_from_va(physics_vehicle_class_va);
}

bool spawned() { return spawn_state_value() == SPAWN_SPAWNED; }

} // namespace

/* ---- saving ---- */

void spawn_reload_save(dm_core_state_block *block)
{
    const spawn_state_record &s = spawn_state;
    dm_core_state_block &b = *block;
    b.vehicle = s.vehicle;
    b.definition = s.definition;
    b.state = spawned() ? SPAWN_SPAWNED : SPAWN_NONE;
    b.move_mode = s.move_mode;
    b.flags = (s.spawn_mode_clone ? RELOAD_FLAG_SPAWN_CLONE : 0) | (s.owns_definition ? RELOAD_FLAG_OWN_DEF : 0) |
              (s.built_from_look_list ? RELOAD_FLAG_LOOK_BUILT : 0);
    b.place = s.place;
    memcpy(b.circle_centre, s.circle_centre, sizeof b.circle_centre);
    b.circle_radius = s.circle_radius;
    b.circle_speed = s.circle_speed;
    b.circle_angle = s.circle_angle;
    b.follow_distance = s.follow_distance;
    b.steer_sign = s.steer_sign;
}

void spawn_reload_save_trailer(trailer_state_block *block)
{
    const spawn_state_record &s = spawn_state;
    const trailer_rig_record &r = trailer_rig;
    trailer_state_block &t = *block;
    t.vehicle = s.vehicle;
    t.trailer = s.trailer_actor;
    t.definition = s.trailer_definition;
    t.state = spawned() && spawn_trailer_state_value() == SPAWN_SPAWNED ? SPAWN_SPAWNED : SPAWN_NONE;
    t.rigid = r.mode == TRAILER_RIGID ? 1 : 0;
    memcpy(t.fifth_wheel, r.fifth_wheel, sizeof t.fifth_wheel);
    memcpy(t.kingpin, r.kingpin, sizeof t.kingpin);
    memcpy(t.rigid_offset, r.rigid_offset, sizeof t.rigid_offset);
    t.drag_length = r.drag_length;
    t.articulation_offset = r.articulation_offset;
    memcpy(t.drag_point, r.drag_point, sizeof t.drag_point);
    memcpy(t.last_hitch, r.last_hitch, sizeof t.last_hitch);
    t.drag_set = r.drag_set;
    memcpy(t.rigid_rotation, r.rigid_rotation, sizeof t.rigid_rotation);
}

/* ---- restoring ---- */

void spawn_reload_restore(const dm_core_state_block *block, uint64_t ctrl, uint64_t hidden_vehicle)
{
    const dm_core_state_block &b = *block;
    spawn_state_record &s = spawn_state;
    s.spawn_mode_clone = (b.flags & RELOAD_FLAG_SPAWN_CLONE) ? 1 : 0;
    s.steer_sign = b.steer_sign == 0.0f ? 1.0f : b.steer_sign;
    s.circle_radius = b.circle_radius;
    s.circle_speed = b.circle_speed;
    s.follow_distance = b.follow_distance;
    if (b.state != SPAWN_SPAWNED || !b.vehicle || !ctrl || b.game_ctrl != ctrl || !is_our_vehicle_class(b.vehicle))
        return;
    s.vehicle = b.vehicle;
    s.definition = b.definition;
    s.place = b.place;
    memcpy(s.circle_centre, b.circle_centre, sizeof s.circle_centre);
    s.circle_angle = b.circle_angle;
    s.move_mode = b.move_mode;
    s.owns_definition = (b.flags & RELOAD_FLAG_OWN_DEF) ? 1 : 0;
    s.built_from_look_list = (b.flags & RELOAD_FLAG_LOOK_BUILT) ? 1 : 0;
    if (s.move_mode == MOVE_FOLLOW)
        spawn_trail_reset(&s.place);
    // The truck the old core saw: the restore is not a change of truck.
    s.remembered_truck = game_local_truck();
    s.hidden = hidden_vehicle && hidden_vehicle == s.vehicle ? 1 : 0;
    spawn_set_state(SPAWN_SPAWNED);
    core_log("[core] restored spawned vehicle %p def %p (%s, move mode %d)", game_ptr(s.vehicle),
             game_ptr(s.definition), s.owns_definition ? "clone" : "shared", (int)s.move_mode);
}

void spawn_reload_restore_trailer(const trailer_state_block *block, uint64_t ctrl)
{
    const trailer_state_block &t = *block;
    spawn_state_record &s = spawn_state;
    if (t.state != SPAWN_SPAWNED || !t.trailer || !t.definition || s.state != SPAWN_SPAWNED || t.vehicle != s.vehicle ||
        t.game_ctrl != ctrl || !game_is_trailer_actor(t.trailer))
        return;
    trailer_rig_record &r = trailer_rig;
    s.trailer_actor = t.trailer;
    s.trailer_definition = t.definition;
    r.mode = t.rigid ? TRAILER_RIGID : TRAILER_ARTICULATED;
    memcpy(r.fifth_wheel, t.fifth_wheel, sizeof r.fifth_wheel);
    memcpy(r.kingpin, t.kingpin, sizeof r.kingpin);
    memcpy(r.rigid_offset, t.rigid_offset, sizeof r.rigid_offset);
    r.drag_length = t.drag_length;
    r.articulation_offset = t.articulation_offset;
    memcpy(r.drag_point, t.drag_point, sizeof r.drag_point);
    memcpy(r.last_hitch, t.last_hitch, sizeof r.last_hitch);
    r.drag_set = t.drag_set ? 1 : 0;
    memcpy(r.rigid_rotation, t.rigid_rotation, sizeof r.rigid_rotation);
    trailer_measure_parts(t.trailer);
    spawn_set_trailer_state(SPAWN_SPAWNED);
    core_log("[core] restored trailer %p def %p (%s mode)", game_ptr(t.trailer), game_ptr(t.definition),
             t.rigid ? "rigid" : "articulated");
}

/* ---- the binding ---- */

void spawn_reload_save_binding(spawn_reload_binding *out)
{
    const spawn_state_record &s = spawn_state;
    bool on = spawned();
    out->vehicle = on ? s.vehicle : 0;
    out->hidden = on && s.hidden ? 1 : 0;
    out->vehicle_player = on ? s.net_player : 0;
    out->trailer_player = remote_trailer_player();
}

uint16_t spawn_reload_restore_binding(const spawn_reload_binding *in, bool same_profile)
{
    spawn_state_record &s = spawn_state;
    if (spawned() && in->vehicle == s.vehicle && same_profile) {
        s.hidden = in->hidden ? 1 : 0;
        remote_restore_binding(in->vehicle_player,
                                  spawn_trailer_state_value() == SPAWN_SPAWNED ? in->trailer_player : 0);
    } else if (s.move_mode == MOVE_NET) {
        // Followed a remote player without the binding: it stops.
        s.move_mode = MOVE_PARK;
    }
    return s.net_player;
}
