// The spawned trailer behind the spawned vehicle: copying the player's own
// coupled trailer (the "trailer" command), creating the actor and its
// loading state machine, finalize, the wanted pose (rigid or articulated
// about the hitch), its chained parts, wheels, removal and the info report
// (see spawn.h).
//
// Index
//   game addresses   fields, slots and calls of build 1.61.3.1
//   quaternions      quat_mul_norm, quat_transform_point, yaw
//   the record       trailer_rig
//   measuring        trailer_clone_player
//   the command      spawn_trailer
//   creating         trailer_create, trailer_create_remote
//   pose             trailer_wanted_pose, trailer_place_parts
//   finalize         spawn_trailer_finalize, spawn_trailer_builds
//   frame            wheels, trailer_tick
//   removing         trailer_remove
//   info             trailer_info
#include <windows.h>
#include <math.h>
#include <string.h>
#include "base/core.h"
#include "dm_guard.h"
#include "base/game_mem.h"
#include "vehicles/motion_math.h"
#include "vehicles/spawn.h"
#include "vehicles/vehicle_defs.h"
#include "vehicles/vehicle_game.h"

/* ---- game addresses ---- */

namespace {

using namespace trailer_game; /* vehicle_game.h */

const int parts_max = TRAILER_PARTS_MAX + 1; /* the actor and its chained parts */
const int chain_defs_max = 4;
const double rad_to_deg = 57.2958;

uint32_t trailer_builds; /* trailers completed so far (spawn_trailer_builds) */

} // namespace

/* ---- quaternions ---- */

void quat_mul_norm(const float a[4], const float b[4], float out[4])
{
    float r[4] = {
        a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3],
        a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2],
        a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1],
        a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0],
    };
    float length = sqrtf(r[0] * r[0] + r[1] * r[1] + r[2] * r[2] + r[3] * r[3]);
    float d = length < 1e-6f ? 1.0f : length;
    for (int i = 0; i < 4; i++)
        out[i] = r[i] / d;
}

void quat_transform_point(const float q[4], const double p[3], double out[3])
{
    double w = q[0], x = q[1], y = q[2], z = q[3];
    // t = 2 (u x p); out = p + w t + u x t
    double tx = 2.0 * (y * p[2] - z * p[1]), ty = 2.0 * (z * p[0] - x * p[2]), tz = 2.0 * (x * p[1] - y * p[0]);
    out[0] = p[0] + w * tx + (y * tz - z * ty);
    out[1] = p[1] + w * ty + (z * tx - x * tz);
    out[2] = p[2] + w * tz + (x * ty - y * tx);
}

namespace {

void quat_of(const placement *p, float q[4])
{
    q[0] = p->qw;
    q[1] = p->qx;
    q[2] = p->qy;
    q[3] = p->qz;
}
void conj(const float q[4], float out[4])
{
    out[0] = q[0];
    out[1] = -q[1];
    out[2] = -q[2];
    out[3] = -q[3];
}
/* The yaw about the vertical axis: 0 facing -z, the backward axis is
 * (sin, cos) in x, z. */
double yaw_of(const float q[4])
{
    double fx = -2.0 * (q[0] * q[2] + q[1] * q[3]);
    double fz = -(1.0 - 2.0 * (q[1] * q[1] + q[2] * q[2]));
    return atan2(-fx, -fz);
}
/* The point in world metres brought into the frame (position, q). */
void into_frame(const double world[3], const double origin[3], const float q[4], double out[3])
{
    float c[4];
    conj(q, c);
    double d[3] = { world[0] - origin[0], world[1] - origin[1], world[2] - origin[2] };
    quat_transform_point(c, d, out);
}
placement make_placement(const double pos[3], const float q[4])
{
    placement out;
    placement_from_world(&out, pos[0], pos[1], pos[2], q[0], q[1], q[2], q[3]);
    return out;
}

} // namespace

/* ---- the record ---- */

trailer_rig_record trailer_rig;

/* ---- measuring ---- */

void trailer_measure_parts(uint64_t trailer)
{
    trailer_rig_record &r = trailer_rig;
    r.part_count = 0;
    placement pr;
    if (game_object_placement(trailer, &pr) != GAME_PLACEMENT_OK)
        return;
    double trailer_pos[3];
    float q_trailer[4];
    placement_world(&pr, trailer_pos);
    quat_of(&pr, q_trailer);
    double parent_pos[3] = { trailer_pos[0], trailer_pos[1], trailer_pos[2] };
    float parent_q[4] = { q_trailer[0], q_trailer[1], q_trailer[2], q_trailer[3] };
    for (uint64_t part = game_u64_guarded(trailer + actor_off::next_part); part && r.part_count < TRAILER_PARTS_MAX;
         part = game_u64_guarded(part + actor_off::next_part)) {
        if (!game_is_trailer_actor(part)) {
            core_log("[core] trailer: chained part %p is not a game_trailer_actor; stop", game_ptr(part));
            break;
        }
        placement pp;
        if (game_object_placement(part, &pp) != GAME_PLACEMENT_OK) {
            core_log("[core] trailer: get_placement failed on chained part %p", game_ptr(part));
            break;
        }
        trailer_part_pose &stored = r.parts[r.part_count];
        double pos[3];
        float q[4], c[4];
        placement_world(&pp, pos);
        quat_of(&pp, q);
        conj(parent_q, c);
        into_frame(pos, parent_pos, parent_q, stored.offset);
        quat_mul_norm(c, q, stored.rotation);
        core_log("[core] trailer: chained part %d %p: offset in parent frame (%.3f, %.3f, %.3f), yaw %.1f deg",
                 (int)r.part_count, game_ptr(part), stored.offset[0], stored.offset[1], stored.offset[2],
                 yaw_of(stored.rotation) * rad_to_deg);
        r.part_count++;
        memcpy(parent_pos, pos, sizeof pos);
        memcpy(parent_q, q, sizeof q);
    }
}

bool trailer_clone_player(uint64_t truck, uint64_t trailer)
{
    trailer_rig_record &r = trailer_rig;
    placement pt, pr;
    if (game_object_placement(truck, &pt) != GAME_PLACEMENT_OK ||
        game_object_placement(trailer, &pr) != GAME_PLACEMENT_OK) {
        core_log("[core] trailer: get_placement failed on the player's rig");
        return false;
    }
    uint64_t master = game_u64_guarded(trailer + actor_off::coupled_to), joint = game_u64_guarded(trailer + tr_joint);
    core_log("[core] trailer: player's trailer %p master=%p (truck %p) joint=%p", game_ptr(trailer), game_ptr(master),
             game_ptr(truck), game_ptr(joint));
    if (master != truck || !joint) {
        core_log("[core] trailer: the player's trailer is not coupled; couple it first");
        return false;
    }

    double truck_pos[3], trailer_pos[3];
    float q_truck[4], q_trailer[4], c_truck[4];
    placement_world(&pt, truck_pos);
    placement_world(&pr, trailer_pos);
    quat_of(&pt, q_truck);
    quat_of(&pr, q_trailer);
    conj(q_truck, c_truck);
    into_frame(trailer_pos, truck_pos, q_truck, r.rigid_offset);
    quat_mul_norm(c_truck, q_trailer, r.rigid_rotation);
    r.articulation_offset = wrap_angle(yaw_of(q_trailer) - yaw_of(q_truck));
    core_log("[core] trailer: rig offset in truck frame (%.3f, %.3f, %.3f), articulation %.1f deg", r.rigid_offset[0],
             r.rigid_offset[1], r.rigid_offset[2], r.articulation_offset * rad_to_deg);

    r.mode = TRAILER_RIGID;
    trailer_measure_parts(trailer);

    uint64_t physics = game_u64_guarded(trailer + tr_physics);
    float k[3];
    if (!physics || !game_copy_guarded(k, physics + physics_kingpin, sizeof k)) {
        core_log("[core] trailer: no physics data; rigid mode");
        return true;
    }
    bool plausible = isfinite(k[0]) && isfinite(k[1]) && isfinite(k[2]) && fabsf(k[0]) < 2.0f && fabsf(k[1]) < 5.0f &&
                     fabsf(k[2]) < 20.0f;
    double kingpin[3] = { k[0], k[1], k[2] }, rotated[3], hitch[3];
    quat_transform_point(q_trailer, kingpin, rotated);
    for (int i = 0; i < 3; i++)
        hitch[i] = trailer_pos[i] + rotated[i];
    double fifth[3];
    into_frame(hitch, truck_pos, q_truck, fifth);
    core_log("[core] trailer: kingpin (trailer frame) (%.3f, %.3f, %.3f) -> fifth wheel (truck frame) (%.3f, %.3f, "
             "%.3f)",
             kingpin[0], kingpin[1], kingpin[2], fifth[0], fifth[1], fifth[2]);
    if (plausible && fabs(fifth[0]) < 1.0 && fabs(fifth[1]) < 4.0 && fabs(fifth[2]) < 8.0) {
        memcpy(r.kingpin, kingpin, sizeof kingpin);
        memcpy(r.fifth_wheel, fifth, sizeof fifth);
        r.drag_length = hypot(kingpin[0], kingpin[2]);
        if (r.drag_length < 3.0)
            r.drag_length = TRAILER_DRAG_LENGTH_DEFAULT;
        r.mode = TRAILER_ARTICULATED;
        core_log("[core] trailer: articulated mode, drag length %.2f m", r.drag_length);
    } else {
        core_log("[core] trailer: hitch values implausible; rigid mode (no articulation)");
    }
    return true;
}

/* ---- the command ---- */

void spawn_trailer()
{
    spawn_state_record &s = spawn_state;
    if (s.trailer_state != SPAWN_NONE) {
        core_log("[core] trailer: already there; `trailer off` first");
        return;
    }
    if (s.state != SPAWN_SPAWNED) {
        core_log("[core] trailer: spawn a truck first");
        return;
    }
    uint64_t block = game_player_block_guarded();
    uint64_t truck = block ? game_u64_guarded(block + GAME_PLAYER_LOCAL_TRUCK) : 0;
    uint64_t trailer = block ? game_u64_guarded(block + GAME_PLAYER_TRAILER) : 0;
    if (!trailer) {
        core_log("[core] trailer: the player has no trailer (game_ctrl+0x31b0 -> +0xc8 is null); refusing");
        return;
    }
    if (!game_is_trailer_actor(trailer)) {
        core_log("[core] trailer: player's trailer %p is not the expected game_trailer_actor (vtable %p, expect %p); "
                 "refusing",
                 game_ptr(trailer), game_ptr(game_u64_guarded(trailer)), game_ptr(game_addr(GAME_OFF_TRAILER_ACTOR_VTABLE)));
        return;
    }
    if (!trailer_clone_player(truck, trailer))
        return;
    uint64_t source = game_u64_guarded(trailer + actor_off::definition);
    uint64_t def = def_clone(source, &def_class_trailer);
    if (!def) {
        core_log("[core] trailer: clone failed; not spawning");
        return;
    }
    // The clone's chained definitions carry our plate too; one that cannot
    // be read ends the walk.
    uint64_t slave = game_u64_guarded(def + def_off::trailer_next), src = game_u64_guarded(source + def_off::trailer_next);
    for (int n = 0; slave && n < chain_defs_max; n++) {
        core_log("[core] trailer: slave def %p (src %p)%s", game_ptr(slave), game_ptr(src), slave == src ? "  SHARED?!" : "");
        if (!probe_read(slave, def_class_trailer.readable_size))
            break;
        def_set_plate(slave);
        slave = game_u64_guarded(slave + def_off::trailer_next);
        src = src ? game_u64_guarded(src + def_off::trailer_next) : 0;
    }
    s.trailer_definition = def;
    trailer_rig.remote = 0;
    trailer_create();
}

/* ---- creating ---- */

void trailer_create()
{
    spawn_state_record &s = spawn_state;
    trailer_rig_record &r = trailer_rig;
    uint64_t def = s.trailer_definition;
    core_log("[core] trailer: def=%p trailer_definition=%p (shared link, expected)", game_ptr(def),
             game_ptr(game_u64_guarded(def + DEF_TRAILER_DEF)));
    uint64_t actor = game_create_unit(GAME_PREFERRED_BASE + GAME_OFF_TRAILER_ACTOR_CLASS);
    if (!actor || !game_is_trailer_actor(actor)) {
        core_log("[core] trailer: create_unit(game_trailer_actor) gave %p (not the expected class); aborting",
                 game_ptr(actor));
        s.trailer_actor = s.trailer_definition = 0;
        game_release(def);
        return;
    }
    game_take_ref(actor);
    s.trailer_actor = actor;
    core_log("[core] trailer: actor=%p, set_data(def, 0x%x)", game_ptr(actor), trailer_flags);
    if (!dm_guarded_filter(
            [&] { game_vslot<void (*)(uint64_t, uint64_t, uint32_t)>(actor, actor_slot::set_data)(actor, def, trailer_flags); },
            fault_record_filter, nullptr)) {
        core_log("[core] FAULT %08x in set_data of trailer %p at game VA %llx, data address %llx; dropped and leaked",
                 last_fault_code, game_ptr(actor), last_fault_va(), (unsigned long long)last_fault_data);
        s.trailer_actor = s.trailer_definition = 0;
        return;
    }
    core_log("[core] trailer: loading (state %u)", game_u32_guarded(actor + actor_off::load_state));
    r.drag_set = 0;
    r.wheel_previous_valid = 0;
    r.place = s.move_mode == MOVE_NET && s.net_has_trailer ? s.net_trailer : trailer_wanted_pose();
    r.load_deadline = 0;
    spawn_set_trailer_state(SPAWN_LOADING);
}

void trailer_create_remote(uint64_t definition)
{
    trailer_rig_record &r = trailer_rig;
    spawn_state.trailer_definition = definition;
    r.mode = TRAILER_RIGID;
    r.part_count = 0;
    r.rigid_offset[0] = r.rigid_offset[1] = r.rigid_offset[2] = 0;
    r.rigid_rotation[0] = 1.0f;
    r.rigid_rotation[1] = r.rigid_rotation[2] = r.rigid_rotation[3] = 0;
    r.remote = 1;
    trailer_create();
}

/* ---- pose ---- */

namespace {

/* The wanted pose for the rig r, whose drag point and last hitch it moves. */
placement wanted_pose(trailer_rig_record &r)
{
    const placement *v = &spawn_state.place;
    double P[3], rotated[3];
    float q[4], rot[4];
    placement_world(v, P);
    quat_of(v, q);
    if (r.mode == TRAILER_RIGID) {
        double pos[3];
        quat_transform_point(q, r.rigid_offset, rotated);
        for (int i = 0; i < 3; i++)
            pos[i] = P[i] + rotated[i];
        quat_mul_norm(q, r.rigid_rotation, rot);
        return make_placement(pos, rot);
    }
    double H[3];
    quat_transform_point(q, r.fifth_wheel, rotated);
    for (int i = 0; i < 3; i++)
        H[i] = P[i] + rotated[i];
    double psi = yaw_of(q), L = r.drag_length;
    if (!r.drag_set || hypot(H[0] - r.last_hitch[0], H[2] - r.last_hitch[1]) > TRAILER_HITCH_JUMP) {
        r.drag_point[0] = H[0] + sin(psi + r.articulation_offset) * L;
        r.drag_point[1] = H[2] + cos(psi + r.articulation_offset) * L;
        r.drag_set = 1;
    }
    double dx = r.drag_point[0] - H[0], dz = r.drag_point[1] - H[2], d = hypot(dx, dz);
    if (d > 0.0001) {
        r.drag_point[0] = H[0] + dx / d * L;
        r.drag_point[1] = H[2] + dz / d * L;
    }
    double theta = wrap_angle(atan2(-(H[0] - r.drag_point[0]), -(H[2] - r.drag_point[1])) - psi);
    if (fabs(theta) > TRAILER_ARTICULATION_MAX) {
        theta = theta > 0 ? TRAILER_ARTICULATION_MAX : -TRAILER_ARTICULATION_MAX;
        r.drag_point[0] = H[0] + sin(psi + theta) * L;
        r.drag_point[1] = H[2] + cos(psi + theta) * L;
    }
    r.last_hitch[0] = H[0];
    r.last_hitch[1] = H[2];
    float turn[4] = { (float)cos(theta / 2), 0, (float)sin(theta / 2), 0 };
    quat_mul_norm(q, turn, rot);
    double pos[3];
    quat_transform_point(rot, r.kingpin, rotated);
    for (int i = 0; i < 3; i++)
        pos[i] = H[i] - rotated[i];
    return make_placement(pos, rot);
}

} // namespace

placement trailer_wanted_pose() { return wanted_pose(trailer_rig); }

void trailer_place_parts()
{
    trailer_rig_record &r = trailer_rig;
    double parent_pos[3];
    float parent_q[4];
    placement_world(&r.place, parent_pos);
    quat_of(&r.place, parent_q);
    uint64_t part = spawn_state.trailer_actor;
    for (uint32_t i = 0; i < r.part_count && i < TRAILER_PARTS_MAX; i++) {
        part = game_field<uint64_t>(part, actor_off::next_part);
        if (!part)
            break; // the game made fewer parts than the player's rig had
        double rotated[3], pos[3];
        float q[4];
        quat_transform_point(parent_q, r.parts[i].offset, rotated);
        for (int k = 0; k < 3; k++)
            pos[k] = parent_pos[k] + rotated[k];
        quat_mul_norm(parent_q, r.parts[i].rotation, q);
        placement at = make_placement(pos, q);
        game_vslot<void (*)(uint64_t, const placement *)>(part, actor_slot::set_placement)(part, &at);
        memcpy(parent_pos, pos, sizeof pos);
        memcpy(parent_q, q, sizeof q);
    }
}

namespace {

/* The actor and its chained parts, at most parts_max; returns the count. */
int trailer_parts(uint64_t out[parts_max])
{
    int n = 0;
    for (uint64_t part = spawn_state.trailer_actor; part && n < parts_max; part = game_field<uint64_t>(part, actor_off::next_part))
        out[n++] = part;
    return n;
}

void place_now()
{
    spawn_state_record &s = spawn_state;
    trailer_rig_record &r = trailer_rig;
    uint64_t actor = s.trailer_actor;
    r.place = s.move_mode == MOVE_NET && s.net_has_trailer ? s.net_trailer : trailer_wanted_pose();
    game_vslot<void (*)(uint64_t, const placement *)>(actor, actor_slot::set_placement)(actor, &r.place);
    trailer_place_parts();
}

} // namespace

/* ---- finalize ---- */

void spawn_trailer_finalize()
{
    spawn_state_record &s = spawn_state;
    trailer_rig_record &r = trailer_rig;
    uint64_t actor = s.trailer_actor;
    void (*pre_add)(uint64_t) = game_fn<void (*)(uint64_t)>(game_call::pre_add);
    core_log("[core] trailer finalize: vfunc +0x80");
    game_vslot<void (*)(uint64_t, uint64_t, uint32_t)>(actor, actor_slot::finalize)(actor, s.trailer_definition, trailer_flags);
    pre_add(actor);
    game_vslot<void (*)(uint64_t, int)>(actor, ts_finalize_extra)(actor, 1);
    core_log("[core] trailer finalize: game_ctrl_add_vehicle");
    game_fn<void (*)(uint64_t, uint64_t)>(game_call::ctrl_add_vehicle)(game_ctrl_guarded(), actor);
    uint64_t parts[parts_max];
    int n = trailer_parts(parts);
    for (int i = 0; i < n; i++) {
        pre_add(parts[i]);
        uint64_t body = game_field<uint64_t>(parts[i], actor_off::body);
        if (body)
            spawn_finalize_body(body);
    }
    for (int i = 0; i < n; i++) {
        uint64_t cargo = game_field<uint64_t>(parts[i], tr_dynamic_cargo);
        game_field<uint64_t>(parts[i], tr_dynamic_cargo) = 0;
        if (cargo) {
            core_log("[core] trailer finalize: deleting dynamic-cargo object %p", game_ptr(cargo));
            game_vslot<void (*)(uint64_t, int)>(cargo, 0)(cargo, 1);
        }
    }
    place_now();
    spawn_set_trailer_state(SPAWN_SPAWNED);
    r.info_countdown = SPAWN_INFO_FRAMES;
    // A new trailer is drawn again even when an earlier one's draw faulted:
    // the frame sees the count change and clears the detours' trailer faults.
    __atomic_add_fetch(&trailer_builds, 1, __ATOMIC_RELAXED);
    if (!s.collision_on)
        spawn_apply_collision("new trailer");
    core_log("[core] trailer complete (%s mode)", r.mode == TRAILER_RIGID ? "rigid" : "articulated");
}

uint32_t spawn_trailer_builds() { return __atomic_load_n(&trailer_builds, __ATOMIC_RELAXED); }

/* ---- frame ---- */

namespace {

/* Turns the wheels of the actor and its parts by the distance moved along
 * the trailer's forward axis since the previous frame. */
void trailer_wheels()
{
    trailer_rig_record &r = trailer_rig;
    if (!r.wheel_previous_valid) {
        r.wheel_previous = r.place;
        r.wheel_previous_valid = 1;
        return;
    }
    float fx, fz;
    motion_forward(&r.place, &fx, &fz);
    double step = (placement_world_x(&r.place) - placement_world_x(&r.wheel_previous)) * fx +
                  (placement_world_z(&r.place) - placement_world_z(&r.wheel_previous)) * fz;
    r.wheel_previous = r.place;
    if (fabs(step) > TRAILER_WHEEL_STEP_MAX)
        return;
    uint64_t parts[parts_max];
    int n = trailer_parts(parts);
    for (int i = 0; i < n; i++) {
        uint64_t block = game_field<uint64_t>(parts[i], actor_off::wheels);
        if (!block)
            continue;
        float *angles = (float *)(uintptr_t)game_field<uint64_t>(block, wheel_off::angles);
        uint64_t count = game_field<uint64_t>(block, wheel_off::angle_count);
        if (count > MOTION_WHEELS_MAX)
            count = MOTION_WHEELS_MAX;
        uint64_t def = game_field<uint64_t>(parts[i], actor_off::definition);
        const float *radii = def ? (const float *)(uintptr_t)game_field<uint64_t>(def, def_off::radii) : nullptr;
        uint64_t radius_count = def ? game_field<uint64_t>(def, def_off::radius_count) : 0;
        for (uint64_t w = 0; angles && w < count; w++)
            angles[w] = fmodf(angles[w] - (float)step / motion_wheel_radius(radii, radius_count, w), MOTION_WHEEL_TURN);
    }
}

/* The game's update with each part's own light bit kept out of it. */
void trailer_update()
{
    uint64_t parts[parts_max];
    uint32_t saved[parts_max];
    int n = trailer_parts(parts);
    if (n == 0)
        return;
    for (int i = 0; i < n; i++) {
        volatile uint32_t &lights = game_field<volatile uint32_t>(parts[i], actor_off::lights);
        saved[i] = lights;
        lights = saved[i] & ~MOTION_LIGHT_GAME_BIT;
    }
    uint64_t actor = parts[0];
    game_vslot<void (*)(uint64_t)>(actor, actor_slot::update)(actor);
    for (int i = 0; i < n; i++) {
        volatile uint32_t &lights = game_field<volatile uint32_t>(parts[i], actor_off::lights);
        lights = (lights & ~MOTION_LIGHT_GAME_BIT) | (saved[i] & MOTION_LIGHT_GAME_BIT);
    }
}

} // namespace

void trailer_tick(const dm_frame_info *info)
{
    spawn_state_record &s = spawn_state;
    trailer_rig_record &r = trailer_rig;
    uint64_t actor = s.trailer_actor;
    if (s.trailer_state == SPAWN_LOADING) {
        if (r.load_deadline == 0)
            r.load_deadline = info->seconds + SPAWN_LOAD_SECONDS;
        if (game_vslot<bool (*)(uint64_t)>(actor, actor_slot::is_loaded)(actor)) {
            spawn_trailer_finalize();
            return;
        }
        game_vslot<void (*)(uint64_t)>(actor, actor_slot::continue_loading)(actor);
        if (info->seconds > r.load_deadline) {
            core_log("[core] trailer load timed out (state %u)", game_u32_guarded(actor + actor_off::load_state));
            trailer_remove("load timeout");
        }
        return;
    }
    if (s.trailer_state != SPAWN_SPAWNED)
        return;
    place_now();
    if (!info->paused)
        trailer_wheels();
    if (s.tick_on)
        trailer_update();
    if (r.info_countdown > 0 && --r.info_countdown == 0)
        trailer_info();
}

/* ---- removing ---- */

namespace {

/* Once no draw can reach the actor: out of the game's list, released with
 * its definition. */
void trailer_release(uint64_t actor, uint64_t def, uint8_t listed)
{
    uint64_t ctrl = game_ctrl_guarded();
    if (ctrl && listed)
        game_fn<void (*)(uint64_t, uint64_t)>(game_call::ctrl_remove_vehicle)(ctrl, actor);
    game_release(actor);
    core_log("[core] trailer remove: release cloned def %p (refword %08x before)", game_ptr(def), game_u32_guarded(def + GAME_REF_WORD));
    game_release(def);
}

} // namespace

void trailer_remove(const char *reason)
{
    spawn_state_record &s = spawn_state;
    uint32_t state = s.trailer_state;
    if (state == SPAWN_NONE)
        return;
    uint64_t actor = s.trailer_actor, def = s.trailer_definition;
    // The draw detours stop before the actor goes.
    spawn_set_trailer_state(SPAWN_NONE);
    core_log("[core] trailer remove (%s): actor %p refword %08x", reason, game_ptr(actor), game_u32_guarded(actor + GAME_REF_WORD));
    s.trailer_actor = s.trailer_definition = 0;
    trailer_rig.remote = 0;
    // A loading trailer is not in the game's list yet.
    spawn_release_after_draws("trailer remove", trailer_release, actor, def, state == SPAWN_SPAWNED);
    core_log("[core] trailer removed");
}

/* ---- info ---- */

void trailer_info()
{
    spawn_state_record &s = spawn_state;
    uint64_t actor = s.trailer_actor;
    if (s.trailer_state == SPAWN_NONE || !actor)
        return;
    core_log("[core] trailer info: actor=%p state=%d load=%u refword=%08x def=%p next=%p master=%p joint=%p mode=%d",
             game_ptr(actor), (int)s.trailer_state, game_u32_guarded(actor + actor_off::load_state),
             game_u32_guarded(actor + GAME_REF_WORD), game_ptr(game_u64_guarded(actor + actor_off::definition)),
             game_ptr(game_u64_guarded(actor + actor_off::next_part)),
             game_ptr(game_u64_guarded(actor + actor_off::coupled_to)),
             game_ptr(game_u64_guarded(actor + tr_joint)), (int)trailer_rig.mode);
    placement now = {};
    if (game_object_placement(actor, &now) == GAME_PLACEMENT_OK)
        log_placement("trailer info: get_placement", &now);
    // On a copy of the rig: the report moves no drag point.
    trailer_rig_record scratch = trailer_rig;
    placement wanted = wanted_pose(scratch);
    log_placement("trailer info: wanted", &wanted);
}
