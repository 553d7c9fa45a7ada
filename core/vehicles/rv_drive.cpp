// Driving the convoy remote vehicles each frame and keeping them across a
// core reload (rv.h): every live slot gets a key (where, how fast, which
// lights) stamped slightly in the past, so the game's own interpolation
// moves it; the core steps a vehicle the game does not step and advances the
// physics clock in single player. The slots are saved into the player-info
// page and into a named section of the process, where the next core finds
// them (the page is ours only in single player; in a game that runs its own
// network game only the section carries them).
//
// Index
//   time         rv_net_time_us
//   the frame    rv_tick, rv_tick_slot
//   keys         rv_target_pose, rv_step
//   the record   "rvsave2" layout, the section, rv_save_slots,
//                rv_restore_after_reload
#include <windows.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include "base/core.h"
#include "base/core_config.h"
#include "dm_guard.h"
#include "base/game_mem.h"
#include "net/net.h"
#include "vehicles/rv.h"
#include "vehicles/rv_game.h"
#include "base/shared_section.h"
#include "vehicles/spawn.h"
#include "vehicles/vehicle_game.h"

/* ---- time ---- */

namespace {

/* The network game and the clock object, probed when taken, as the
 * controllers are (rv_slots.cpp). */
game_taken taken_network, taken_clock;

} // namespace

uint64_t rv_net_time_us()
{
    uint64_t wc = rv_world_controller();
    if (!wc)
        return 0;
    uint64_t t = 0, base = 0;
    uint64_t clock = game_take(&taken_clock, game_image_value<uint64_t>(rv_addr::clock), clock_field::net_base + 8);
    // One guard for the reads; a fault is a time of 0, as no controller is.
    bool read = dm_guarded([&] {
        t = game_field<uint64_t>(wc, wc_field::physics_clock);
        if (!game_field<uint64_t>(wc, wc_field::word2)) {
            uint64_t network = game_take(&taken_network, game_field<uint64_t>(wc, wc_field::network_game),
                                         wc_field::network_clock + 8);
            if (network)
                t += game_field<uint64_t>(network, wc_field::network_clock);
        }
        if (clock)
            base = game_field<uint64_t>(clock, clock_field::net_base);
    });
    if (!read)
        return 0;
    return t > base ? t - base : 0; // saturates: never a wrapped time far ahead
}

/* ---- the frame ---- */

namespace {

bool any_live()
{
    for (const rv_slot_state &s : rv_slots)
        if (s.netobj && s.stage >= RV_STAGE_C)
            return true;
    return false;
}

/* The physics clock in single player: the frame's seconds since the
 * previous live frame, at most a second. */
void advance_clock(double now)
{
    uint64_t wc = rv_world_controller();
    double elapsed = rv_config.previous_stamp > 0 ? (now - rv_config.previous_stamp) * 1e6 : 0;
    rv_config.previous_stamp = now;
    if (!rv_config.clock || !wc || elapsed <= 0)
        return;
    uint64_t add = elapsed >= (double)RV_CLOCK_CAP_US ? RV_CLOCK_CAP_US : (uint64_t)llround(elapsed);
    dm_guarded_filter(
        [&] {
            if (!game_field<uint64_t>(wc, wc_field::network_game) && !game_field<uint64_t>(wc, wc_field::word2))
                game_field<uint64_t>(wc, wc_field::physics_clock) += add;
        },
        fault_record_filter, nullptr);
}

/* Slots whose world went away are forgotten without a game call. */
bool forget_gone()
{
    if (!rv_any_netobj())
        return false;
    uint64_t ctrl = rv_truck_ctrl();
    if (!ctrl) {
        core_log("[core] rv: ctrl went away (world unloaded?); forgetting the rvs without game calls");
        rv_forget_all();
        return true;
    }
    bool forgot = false;
    for (int i = 0; i < DM_RV_SLOTS; i++) {
        rv_slot_state &s = rv_slots[i];
        if (s.netobj && (s.ctrl != ctrl || !rv_netobj_listed(s.netobj, i, ctrl))) {
            core_log("[core] rv[%d]: netobj %p is gone; forgotten without game calls", i, game_ptr(s.netobj));
            rv_slot_reset(&s);
            forgot = true;
        }
    }
    return forgot;
}

} // namespace

void rv_tick(const dm_frame_info *info)
{
    if (!game_build_ok())
        return;
    rv_save_slots();
    if (forget_gone())
        rv_save_slots();
    if (!any_live()) {
        rv_config.previous_stamp = 0;
        return;
    }
    advance_clock(info->seconds);
    for (int i = 0; i < DM_RV_SLOTS; i++)
        rv_tick_slot(i, info);
}

void rv_tick_slot(int index, const dm_frame_info *info)
{
    rv_slot_state &s = rv_slots[index];
    if (!s.netobj || s.stage < RV_STAGE_C)
        return;
    // The netobj and its vehicle were probed when the slot took them (spawn,
    // restore) and its membership checked this frame: plain loads under
    // one guard, a fault reading as the zeros an unreadable field gave.
    uint64_t vehicle = 0, stamp = 0;
    uint32_t flags2 = 0;
    dm_guarded([&] {
        vehicle = game_field<uint64_t>(s.netobj, netobj_field::vehicle);
        if (vehicle) {
            flags2 = game_field<uint32_t>(vehicle, rv_field::flags2);
            stamp = game_field<uint64_t>(vehicle, rv_field::stamp);
        }
    });
    if (vehicle && (flags2 & rv_field::steppable) && !s.stepping_ourselves) {
        s.unchanged_frames = stamp == s.last_stamp ? s.unchanged_frames + 1 : 0;
        s.last_stamp = stamp;
        if (rv_config.step_mode == RV_STEP_AUTO && s.unchanged_frames == RV_AUTO_STEP_FRAMES) {
            s.stepping_ourselves = 1;
            core_log("[core] rv[%d]: step stamp +0x230 unchanged for 30 frames: the game doesn't step it; calling "
                     "vt+0x80 ourselves",
                     index);
            rv_info(index);
        }
    }
    placement target;
    bool has_target = rv_target_pose(&s, info, &target);
    bool self_step = rv_config.step_mode == RV_STEP_ON || (rv_config.step_mode == RV_STEP_AUTO && s.stepping_ourselves);
    if (!rv_step(&s, has_target ? &target : nullptr, self_step)) {
        s.stage = RV_STAGE_B;
        s.move_mode = RV_MOVE_NONE;
        core_log("[core] rv[%d]: per-frame tick disabled", index);
        return;
    }
    uint64_t ctrl = rv_truck_ctrl();
    uint16_t flags = 0;
    uint64_t ticked = 0;
    uint8_t state = 0xFE;
    dm_guarded([&] {
        if (ctrl)
            ticked = game_field<uint64_t>(ctrl, ctrl_field::ticked);
        if (!vehicle)
            return;
        flags = game_field<uint16_t>(vehicle, rv_field::flags);
        // The game makes the physics object later: probed when it appears,
        // an unreadable one reading as state 0.
        uint64_t physics = game_field<uint64_t>(vehicle, rv_field::physics);
        if (physics)
            state = game_take(&s.physics, physics, rv_field::physics_state + 1)
                        ? game_field<uint8_t>(physics, rv_field::physics_state)
                        : 0;
    });
    if (flags != s.last_flags || ticked != s.last_ticked || state != s.last_physics) {
        s.last_flags = flags;
        s.last_ticked = ticked;
        s.last_physics = state;
        rv_info(index);
    }
}

/* ---- keys ---- */

bool rv_target_pose(rv_slot_state *s, const dm_frame_info *info, placement *out)
{
    double now = info->seconds;
    double dt = s->previous_time != 0 ? now - s->previous_time : 0;
    s->previous_time = now;
    if (info->paused)
        return false;
    if (s->move_mode == RV_MOVE_CIRCLE) {
        s->angle += dt * s->speed / s->radius;
        double h = (M_PI - s->angle) / 2;
        placement_from_world(out, s->centre[0] + s->radius * cos(s->angle), s->centre[1],
                             s->centre[2] + s->radius * sin(s->angle), (float)cos(h), 0, (float)sin(h), 0);
        return true;
    }
    if (s->move_mode != RV_MOVE_NET)
        return false;
    net_pose pose;
    if (!net_sample_player(s->follow_player, now, &pose))
        return false;
    placement_from_world(out, pose.pos[0], pose.pos[1], pose.pos[2], pose.rot[0], pose.rot[1], pose.rot[2],
                         pose.rot[3]);
    s->lights_present = pose.has_lights ? 1 : 0;
    if (pose.has_lights) {
        if (pose.lights & RV_LIGHT_LEFT)
            s->left_seen = now;
        if (pose.lights & RV_LIGHT_RIGHT)
            s->right_seen = now;
        // A blinking light reads as steadily on while it keeps coming back.
        s->light_bits = (pose.lights & ~(RV_LIGHT_LEFT | RV_LIGHT_RIGHT)) |
                        (now - s->left_seen < RV_BLINK_HOLD ? RV_LIGHT_LEFT : 0) |
                        (now - s->right_seen < RV_BLINK_HOLD ? RV_LIGHT_RIGHT : 0);
    }
    for (int i = 0; i < 3; i++)
        s->velocity[i] = pose.vel[i];
    s->velocity_valid = 1;
    return true;
}

bool rv_step(rv_slot_state *s, const placement *target, bool self_step)
{
    uint64_t netobj = s->netobj;
    uint64_t net_time = rv_net_time_us();
    uint64_t key_time = net_time > RV_KEY_DELAY_US ? net_time - RV_KEY_DELAY_US : 0;
    uint64_t ctrl = rv_truck_ctrl();
    bool ok = dm_guarded_filter(
        [&] {
            game_field<placement>(netobj, netobj_field::key_previous) =
                game_field<placement>(netobj, netobj_field::key_current);
            if (target)
                game_field<placement>(netobj, netobj_field::key_current) = *target;
            float v[3] = { 0, 0, 0 };
            if (rv_config.velocity && s->velocity_valid && target && s->move_mode == RV_MOVE_NET)
                memcpy(v, s->velocity, sizeof v);
            memcpy((void *)(uintptr_t)(netobj + netobj_field::velocity_previous),
                   (const void *)(uintptr_t)(netobj + netobj_field::velocity), sizeof v);
            memcpy((void *)(uintptr_t)(netobj + netobj_field::velocity), v, sizeof v);
            if (s->lights_present) {
                game_field<uint32_t>(netobj, netobj_field::lights) = s->light_bits;
                game_field<uint32_t>(netobj, netobj_field::lights_b) = s->light_bits;
            }
            game_field<uint64_t>(netobj, netobj_field::key_base) = 0;
            game_field<uint64_t>(netobj, netobj_field::key_time) = key_time;
            game_field<uint8_t>(netobj, netobj_field::key_mode) = 2;
            game_vslot<void (*)(uint64_t)>(netobj, netobj_slot::apply_key)(netobj);
            if (ctrl && game_field<uint64_t>(ctrl, ctrl_field::pending))
                game_fn<void (*)(uint64_t)>(rv_addr::pending_flush)(ctrl);
            uint64_t vehicle = game_field<uint64_t>(netobj, netobj_field::vehicle);
            if (vehicle) {
                game_field<uint64_t>(vehicle, rv_field::snap) = rv_field::snap_value;
                if (self_step && (game_field<uint32_t>(vehicle, rv_field::flags2) & rv_field::steppable))
                    game_vslot<void (*)(uint64_t, uint64_t, uint64_t)>(vehicle, rv_slot::step)(vehicle, 0, 0);
            }
        },
        fault_record_filter, nullptr);
    if (!ok)
        rv_log_fault("tick");
    return ok;
}

/* ---- the record ---- */

namespace {

/* "rvsave2", 272 bytes in the save area of the player-info page and in the
 * section, read by the next core; little-endian, at these offsets. */
struct rv_saved_slot {
    uint64_t netobj, definition;
    int32_t stage;
    uint16_t player;
    uint8_t owns_definition, zero;
    uint32_t accessory_hash, zero2;
};
struct rv_record {
    char tag[8];
    rv_saved_slot slots[DM_RV_SLOTS];
    uint32_t remote_mode; /* set by command: 0 none, 1 clone, 2 rv */
    uint32_t zero;
};
static_assert(sizeof(rv_saved_slot) == 32 && offsetof(rv_saved_slot, stage) == 16 &&
                  offsetof(rv_saved_slot, player) == 20 && offsetof(rv_saved_slot, owns_definition) == 22 &&
                  offsetof(rv_saved_slot, accessory_hash) == 24,
              "a saved slot: 32 bytes");
static_assert(offsetof(rv_record, slots) == 8 && offsetof(rv_record, remote_mode) == 264 && sizeof(rv_record) == 272,
              "the rvsave2 record");
/* The older one-slot record "rvsave1": netobj +8, definition +16, stage +24. */
struct rv_record_v1 {
    char tag[8];
    uint64_t netobj, definition;
    int32_t stage;
};
static_assert(offsetof(rv_record_v1, netobj) == 8 && offsetof(rv_record_v1, stage) == 24, "the rvsave1 record");

const char tag_v2[8] = "rvsave2", tag_v1[8] = "rvsave1";

/* The section's copy of the record; null while it is off for this core. */
rv_record *section_record;

bool is_record(const rv_record *r)
{
    return memcmp(r->tag, tag_v2, sizeof tag_v2) == 0 || memcmp(r->tag, tag_v1, sizeof tag_v1) == 0;
}

/* The record the last core left: the player-info page's when the page is
 * ours and holds one, else the section's. */
bool saved_record(rv_record *r)
{
    uint64_t area = rv_pinfo_save_area();
    if (area && game_copy_guarded(r, area, sizeof *r) && is_record(r))
        return true;
    if (!section_record)
        return false;
    memcpy(r, section_record, sizeof *r);
    return is_record(r);
}

void build_record(rv_record *r)
{
    memset(r, 0, sizeof *r);
    memcpy(r->tag, tag_v2, sizeof tag_v2);
    for (int i = 0; i < DM_RV_SLOTS; i++) {
        const rv_slot_state &s = rv_slots[i];
        r->slots[i].netobj = s.netobj;
        r->slots[i].definition = s.definition;
        r->slots[i].stage = s.stage;
        r->slots[i].player = s.player;
        r->slots[i].owns_definition = s.owns_definition;
        r->slots[i].accessory_hash = s.accessory_hash;
    }
    r->remote_mode = !core_remote_mode_by_command ? 0 : core_config.remote_mode_rv ? 2 : 1;
}

} // namespace

void rv_section_map()
{
    char name[64];
    snprintf(name, sizeof name, RV_SECTION_NAME, (unsigned long)GetCurrentProcessId());
    section_record = (rv_record *)section_map(name, sizeof(rv_record));
    if (!section_record)
        core_log("[core] rv: shared memory failed; convoy vehicles survive a reload only in single player");
}

void rv_save_slots()
{
    if (!rv_config.restore_done || !game_build_ok())
        return;
    rv_record r, stored;
    build_record(&r);
    if (section_record && memcmp(section_record, &r, sizeof r) != 0)
        memcpy(section_record, &r, sizeof r);
    uint64_t area = rv_pinfo_save_area();
    if (!area)
        return;
    // Our own page, its tag checked when it was taken: no probe.
    if (game_copy_unprobed(&stored, area, sizeof stored) && memcmp(&stored, &r, sizeof r) == 0)
        return;
    // The page is read and execute only: writable for the copy, then back.
    // A protection that cannot be changed skips the write.
    DWORD old = 0, ignored;
    if (!VirtualProtect((void *)(uintptr_t)area, sizeof r, PAGE_EXECUTE_READWRITE, &old))
        return;
    dm_guarded_filter([&] { memcpy((void *)(uintptr_t)area, &r, sizeof r); }, fault_record_filter, nullptr);
    VirtualProtect((void *)(uintptr_t)area, sizeof r, old, &ignored);
}

void rv_restore_after_reload()
{
    if (rv_config.restore_done || !game_build_ok())
        return;
    uint64_t ctrl = rv_truck_ctrl();
    if (!ctrl)
        return; // until a world is loaded
    rv_config.restore_done = 1;
    rv_record r;
    if (!saved_record(&r))
        return;
    if (memcmp(r.tag, tag_v2, sizeof tag_v2) == 0) {
        if (r.remote_mode) {
            bool rv = r.remote_mode == 2;
            if (rv != core_config.remote_mode_rv)
                core_log("[core] remote mode %s (set by command before the reload)", rv ? "rv" : "clone");
            core_config.remote_mode_rv = rv;
            core_remote_mode_by_command = true;
        }
        for (int i = 0; i < DM_RV_SLOTS; i++) {
            const rv_saved_slot &saved = r.slots[i];
            rv_slot_state &s = rv_slots[i];
            if (!saved.netobj || s.netobj)
                continue;
            if (!rv_netobj_alive(saved.netobj, i)) {
                core_log("[core] rv: saved rv %p (slot %d) is gone; not restoring", game_ptr(saved.netobj), i);
                continue;
            }
            rv_slot_reset(&s);
            s.netobj = saved.netobj;
            s.definition = saved.definition;
            s.stage = saved.stage;
            s.player = saved.player;
            s.owns_definition = saved.owns_definition;
            s.accessory_hash = saved.accessory_hash;
            s.ctrl = ctrl;
            if (s.player) {
                s.move_mode = RV_MOVE_NET;
                s.follow_player = s.player;
            }
            core_log("[core] rv: restored slot %d from before the reload (net %p, stage %d, player %u)", i,
                     game_ptr(s.netobj), (int)s.stage, (unsigned)s.player);
        }
    } else if (memcmp(r.tag, tag_v1, sizeof tag_v1) == 0) {
        rv_record_v1 v1;
        memcpy(&v1, &r, sizeof v1);
        rv_slot_state &s = rv_slots[0];
        if (v1.netobj && !s.netobj) {
            if (rv_netobj_alive(v1.netobj, 0)) {
                rv_slot_reset(&s);
                s.netobj = v1.netobj;
                s.definition = v1.definition;
                s.stage = v1.stage;
                s.ctrl = ctrl;
                core_log("[core] rv: restored the rv from before the reload (net %p, stage %d)", game_ptr(s.netobj),
                         (int)s.stage);
            } else {
                core_log("[core] rv: saved rv %p is gone; not restoring", game_ptr(v1.netobj));
            }
        }
    }
}
