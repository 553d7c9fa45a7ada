// The spawned vehicle: spawn_state, spawning beside the local truck, the
// loading state machine with its time-out, finalize, despawn and the drop
// without game calls (see spawn.h).
//
// Index
//   game addresses   fields, slots and calls of build 1.61.3.1
//   the record       spawn_state, its state words and readers
//   dropping         clear_vehicle, spawn_forget
//   spawning         the definition, spawn_vehicle
//   finalize         spawn_finalize_body, spawn_finalize
//   loading          spawn_poll_loaded, spawn_tick
//   despawn          spawn_despawn
//   update           spawn_update_guarded
#include <windows.h>
#include <string.h>
#include "base/core.h"
#include "base/detour_gate.h"
#include "dm_guard.h"
#include "base/game_mem.h"
#include "vehicles/motion_math.h"
#include "vehicles/spawn.h"
#include "vehicles/vehicle_defs.h"
#include "vehicles/vehicle_game.h"

/* ---- game addresses ---- */

namespace {

using namespace truck_game; /* vehicle_game.h */

uint32_t load_state(uint64_t vehicle) { return game_u32_guarded(vehicle + actor_off::load_state); }

} // namespace

/* ---- the record ---- */

spawn_state_record spawn_state;

void spawn_set_state(uint32_t state) { __atomic_store_n(&spawn_state.state, state, __ATOMIC_RELEASE); }
void spawn_set_trailer_state(uint32_t state) { __atomic_store_n(&spawn_state.trailer_state, state, __ATOMIC_RELEASE); }
int spawn_state_value() { return (int)__atomic_load_n(&spawn_state.state, __ATOMIC_ACQUIRE); }
int spawn_trailer_state_value() { return (int)__atomic_load_n(&spawn_state.trailer_state, __ATOMIC_ACQUIRE); }
void *spawn_vehicle_ptr() { return game_ptr(__atomic_load_n(&spawn_state.vehicle, __ATOMIC_RELAXED)); }
void *spawn_trailer_ptr() { return game_ptr(__atomic_load_n(&spawn_state.trailer_actor, __ATOMIC_RELAXED)); }
bool spawn_hidden() { return __atomic_load_n(&spawn_state.hidden, __ATOMIC_ACQUIRE) != 0; }

void spawn_set_hidden(bool hidden)
{
    __atomic_store_n(&spawn_state.hidden, (uint8_t)(hidden ? 1 : 0), __ATOMIC_RELEASE);
    if (hidden && !detour_gate_drain(render_gate, SPAWN_DRAW_WAIT_MS))
        core_log("[core] vehicle %p hidden while a draw of it still runs", game_ptr(spawn_state.vehicle));
}

/* ---- dropping ---- */

namespace {

/* Forgets the vehicle (and with it the trailer) without a game call: the
 * state words first, so the detours stop before the pointers go. */
void clear_vehicle()
{
    spawn_state_record &s = spawn_state;
    spawn_set_state(SPAWN_NONE);
    spawn_set_trailer_state(SPAWN_NONE);
    s.vehicle = s.definition = 0;
    s.trailer_actor = s.trailer_definition = 0;
    s.owns_definition = s.built_from_look_list = 0;
    s.hidden = 0;
}

} // namespace

void spawn_forget(const char *reason)
{
    spawn_state_record &s = spawn_state;
    if (s.state == SPAWN_NONE && s.trailer_state == SPAWN_NONE)
        return;
    core_log("[core] %s; dropping vehicle %p%s without game calls (leaked)", reason, game_ptr(s.vehicle),
             s.trailer_state != SPAWN_NONE ? " and trailer" : "");
    clear_vehicle();
}

/* ---- spawning ---- */

namespace {

/* Step 5 of spawning: the definition, with one reference of ours; 0 when
 * there is none to spawn with. */
uint64_t spawn_definition(uint64_t local_def, const char *look_list, int count)
{
    spawn_state_record &s = spawn_state;
    s.built_from_look_list = 0;
    if (look_list) {
        core_log("[core] spawn: building the definition from %d accessory entries", count);
        uint64_t def = look_build_def(look_list, count, LOOK_BUILD_TRUCK);
        s.built_from_look_list = def != 0;
        if (!def) {
            core_log("[core] spawn: build failed; falling back to a clone of our truck");
            def = def_clone(local_def, &def_class_vehicle);
            if (!def) {
                core_log("[core] spawn: clone failed too; not spawning");
                return 0;
            }
        }
        s.owns_definition = 1;
        return def;
    }
    if (s.spawn_mode_clone) {
        uint64_t def = def_clone(local_def, &def_class_vehicle);
        if (!def) {
            core_log("[core] spawn: clone failed; not spawning (use spawnmode share)");
            return 0;
        }
        s.owns_definition = 1;
        return def;
    }
    // Shared: the reference word is the only thing written, so the object
    // must be there to take it.
    if (!local_def || !probe_read(local_def, GAME_REF_WORD + 4)) {
        core_log("[core] spawn: the local truck's definition %p can't be read; not spawning", game_ptr(local_def));
        return 0;
    }
    s.owns_definition = 0;
    game_add_ref(local_def);
    return local_def;
}

} // namespace

void spawn_vehicle(float metres, const char *look_list, int count)
{
    spawn_state_record &s = spawn_state;
    if (s.state != SPAWN_NONE) {
        core_log("[core] already spawned; despawn first");
        return;
    }
    uint64_t truck = game_local_truck();
    if (!truck) {
        core_log("[core] spawn: no local truck");
        return;
    }
    placement here;
    if (!local_truck_placement(&here))
        return;
    s.place = placement_advance(&here, metres);
    log_placement("spawn at", &s.place);

    uint64_t local_def = game_read_guarded_or_zero<uint64_t>(truck + actor_off::definition);
    uint64_t def = spawn_definition(local_def, look_list, count);
    if (!def)
        return;
    core_log("[core] spawn: def=%p (%s)", game_ptr(def), s.owns_definition ? "clone" : "shared");

    core_log("[core] spawn: create_unit(game_physics_vehicle)");
    uint64_t vehicle = game_create_unit(physics_vehicle_class_va);
    if (!vehicle) {
        core_log("[core] spawn: create_unit returned null");
        game_release(def);
        return;
    }
    // The factory's result is unchecked: every later call goes through its
    // table, so it must be a vehicle of the class asked for.
    uint64_t vehicle_class = game_object_class(vehicle);
    if (vehicle_class != game_from_va(physics_vehicle_class_va)) {
        char name[64];
        core_log("[core] spawn: create_unit gave %p of class %s, not game_physics_vehicle; not using it (leaked)",
                 game_ptr(vehicle), game_class_name(vehicle_class, name, sizeof name));
        game_release(def);
        return;
    }
    game_take_ref(vehicle);
    s.vehicle = vehicle;
    s.definition = def;

    core_log("[core] spawn: veh=%p vtable=%p, calling set_data", game_ptr(vehicle),
             game_ptr(game_read_guarded_or_zero<uint64_t>(vehicle)));
    if (!dm_guarded_filter(
            [&] { game_vslot<void (*)(uint64_t, uint64_t, uint32_t)>(vehicle, actor_slot::set_data)(vehicle, def, truck_flags); },
            fault_record_filter, nullptr)) {
        core_log("[core] FAULT %08x in set_data of vehicle %p at game VA %llx, data address %llx; dropped and leaked",
                 last_fault_code, game_ptr(vehicle), last_fault_va(), (unsigned long long)last_fault_data);
        clear_vehicle();
        return;
    }
    core_log("[core] spawn: set_data ok, load state %u; loading", load_state(vehicle));
    s.load_deadline = 0;
    spawn_set_state(SPAWN_LOADING);
}

/* ---- finalize ---- */

void spawn_finalize_body(uint64_t body)
{
    static const uint8_t zeros[16] = {};
    core_log("[core] finalize: body %p", game_ptr(body));
    game_vslot<void (*)(uint64_t, uint32_t, float, const void *)>(body, bs_settle_a)(body, 0, 0.0f, zeros);
    game_vslot<void (*)(uint64_t, float)>(body, bs_settle_b)(body, 0.0f);
    game_fn<void (*)(uint64_t, int)>(game_call::body_settle)(body, body_settle_steps);
    uint64_t children = game_field<uint64_t>(body, body_children);
    uint64_t count = game_field<uint64_t>(body, body_child_count);
    for (uint64_t i = 0; children && i < count && i < body_children_max; i++) {
        uint64_t child = game_field<uint64_t>(children, (uint32_t)(8 * i));
        if (child)
            game_vslot<void (*)(uint64_t)>(child, child_slot)(child);
    }
}

void spawn_finalize()
{
    spawn_state_record &s = spawn_state;
    uint64_t vehicle = s.vehicle;
    core_log("[core] finalize: vfunc +0x80");
    game_vslot<void (*)(uint64_t, uint64_t, uint32_t)>(vehicle, actor_slot::finalize)(vehicle, s.definition, truck_flags);
    core_log("[core] finalize: pre-add 0x140870520");
    game_fn<void (*)(uint64_t)>(game_call::pre_add)(vehicle);
    game_field<volatile uint8_t>(vehicle, actor_off::finalize_byte) = 0;
    core_log("[core] finalize: game_ctrl_add_vehicle");
    game_fn<void (*)(uint64_t, uint64_t)>(game_call::ctrl_add_vehicle)(game_ctrl_guarded(), vehicle);
    const uint32_t bodies[] = { actor_off::body, truck_cabin };
    for (uint32_t at : bodies) {
        uint64_t body = game_field<uint64_t>(vehicle, at);
        if (body)
            spawn_finalize_body(body);
    }
    core_log("[core] finalize: set_placement");
    game_vslot<void (*)(uint64_t, const placement *)>(vehicle, actor_slot::set_placement)(vehicle, &s.place);
    spawn_set_state(SPAWN_SPAWNED);
    s.info_countdown = SPAWN_INFO_FRAMES;
    core_log("[core] spawn complete");
    if (!s.collision_on)
        spawn_apply_collision("new truck");
}

/* ---- loading ---- */

bool spawn_poll_loaded()
{
    uint64_t vehicle = spawn_state.vehicle;
    return dm_guarded_filter(
        [&] {
            if (!(game_vslot<bool (*)(uint64_t)>(vehicle, actor_slot::is_loaded)(vehicle)))
                game_vslot<void (*)(uint64_t)>(vehicle, actor_slot::continue_loading)(vehicle);
            else
                spawn_finalize();
        },
        fault_record_filter, nullptr);
}

namespace {

void loading_step(const dm_frame_info *info, uint64_t ctrl)
{
    spawn_state_record &s = spawn_state;
    if (!ctrl) {
        core_log("[core] profile unloaded while loading; dropping");
        clear_vehicle();
        return;
    }
    if (s.load_deadline == 0)
        s.load_deadline = info->seconds + SPAWN_LOAD_SECONDS;
    if (!spawn_poll_loaded()) {
        core_log("[core] FAULT %08x while loading vehicle %p (load state %u) at game VA %llx, data address %llx; "
                 "dropped and leaked",
                 last_fault_code, game_ptr(s.vehicle), load_state(s.vehicle), last_fault_va(),
                 (unsigned long long)last_fault_data);
        if (s.built_from_look_list) {
            look_building_off = 1;
            core_log("[core] look: building from accessory lists is OFF until the next core build");
        }
        clear_vehicle();
        return;
    }
    if (s.state == SPAWN_LOADING && info->seconds > s.load_deadline) {
        core_log("[core] load timed out (state %u); releasing", load_state(s.vehicle));
        uint64_t vehicle = s.vehicle, def = s.definition;
        spawn_set_state(SPAWN_NONE);
        s.vehicle = s.definition = 0;
        s.owns_definition = s.built_from_look_list = 0;
        // Never added to the game's list: released without a remove.
        game_release(vehicle);
        game_release(def);
    }
}

} // namespace

void spawn_tick(const dm_frame_info *info)
{
    spawn_state_record &s = spawn_state;
    spawn_release_tick();
    bool build = game_build_ok();
    uint64_t truck = build ? game_local_truck() : 0;
    if (truck != s.remembered_truck) {
        core_log("[core] local truck %p -> %p", game_ptr(s.remembered_truck), game_ptr(truck));
        if (s.remembered_truck)
            spawn_forget("local truck changed");
        s.remembered_truck = truck;
    }
    if (s.state == SPAWN_NONE)
        return;
    uint64_t ctrl = build ? game_ctrl_guarded() : 0;
    if (s.state == SPAWN_LOADING)
        loading_step(info, ctrl);
    if (s.state != SPAWN_SPAWNED)
        return;
    if (!ctrl) {
        core_log("[core] profile unloaded; dropping vehicle%s", s.trailer_state != SPAWN_NONE ? " and trailer" : "");
        clear_vehicle();
        return;
    }
    if (!spawn_update_guarded(info)) {
        core_log("[core] FAULT %08x updating vehicle %p at game VA %llx, data address %llx", last_fault_code,
                 game_ptr(s.vehicle), last_fault_va(), (unsigned long long)last_fault_data);
        spawn_forget("vehicle update faulted");
    }
}

/* ---- despawn ---- */

namespace {

/* Once no draw can reach the vehicle: out of the game's list, released with
 * its definition. */
void despawn_release(uint64_t vehicle, uint64_t def, uint8_t listed)
{
    uint64_t ctrl = game_ctrl_guarded();
    if (ctrl && listed) {
        core_log("[core] despawn: game_ctrl_remove_vehicle");
        game_fn<void (*)(uint64_t, uint64_t)>(game_call::ctrl_remove_vehicle)(ctrl, vehicle);
    }
    core_log("[core] despawn: release veh %p (refword %08x)", game_ptr(vehicle), game_u32_guarded(vehicle + GAME_REF_WORD));
    game_release(vehicle);
    core_log("[core] despawn: release cloned def %p (refword %08x before)", game_ptr(def), game_u32_guarded(def + GAME_REF_WORD));
    game_release(def);
}

} // namespace

void spawn_despawn()
{
    spawn_state_record &s = spawn_state;
    if (s.state == SPAWN_NONE) {
        core_log("[core] nothing spawned");
        return;
    }
    if (!s.owns_definition) {
        core_log("[core] despawn refused: shared definition (crashes the game); restart instead");
        return;
    }
    uint64_t truck = game_local_truck();
    if (truck && game_read_guarded_or_zero<uint64_t>(truck + actor_off::definition) == s.definition) {
        core_log("[core] despawn refused: def %p is the local truck's definition after all", game_ptr(s.definition));
        return;
    }
    trailer_remove("truck despawn");

    uint64_t vehicle = s.vehicle, def = s.definition;
    bool added = s.state == SPAWN_SPAWNED; // a loading vehicle is not in the game's list yet
    spawn_set_state(SPAWN_NONE);
    s.vehicle = s.definition = 0;
    s.owns_definition = 0;
    spawn_release_after_draws("despawn", despawn_release, vehicle, def, added);
    core_log("[core] despawned");
}

/* ---- update ---- */

bool spawn_update_guarded(const dm_frame_info *info)
{
    return dm_guarded_filter([&] { spawn_update(info); }, fault_record_filter, nullptr);
}
