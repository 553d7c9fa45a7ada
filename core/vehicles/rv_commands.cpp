// The convoy remote vehicles' console commands (rv.h): a test vehicle in
// slot 0 twenty metres ahead of the local truck, its motion, despawning, the
// state dump and peek, and the switches of the per-frame driving. All output
// goes to the log.
//
// Index
//   info and peek   rv_info, rv_peek
//   rvspawn         cmd_rvspawn
//   rvdespawn       cmd_rvdespawn
//   rvmove          cmd_rvmove
//   switches        cmd_rvvel, cmd_rvclock, cmd_rvstep
#include <stdlib.h>
#include <string.h>
#include "base/core.h"
#include "base/game_mem.h"
#include "net/net.h"
#include "base/plain_text.h"
#include "vehicles/rv.h"
#include "vehicles/rv_game.h"
#include "vehicles/spawn.h"
#include "vehicles/vehicle_defs.h"
#include "vehicles/vehicle_game.h"

namespace {

const char *const move_names[] = { "hold", "circle", "net" };
const char *const step_names[] = { "auto", "on", "off" };
const double ahead_metres = 20.0;
const double circle_radius_min = 2.0;

/* The rest of the line is the word (trailing blanks allowed). */
bool is_word(const char *rest, const char *word)
{
    size_t n = strlen(word);
    if (strncmp(rest, word, n) != 0)
        return false;
    return text_skip_blanks(rest + n)[0] == 0;
}

/* A switch's argument: none, "on" or "off" (none keeps the switch's
 * default: velocity off, clock on). */
bool switch_word(const char *rest) { return !*rest || is_word(rest, "on") || is_word(rest, "off"); }

placement world_placement(uint64_t object, uint32_t offset)
{
    placement p = {};
    game_copy_guarded(&p, object + offset, sizeof p);
    return p;
}

} // namespace

/* ---- info and peek ---- */

void rv_info(int index)
{
    const rv_slot_state &s = rv_slots[index];
    if (!s.netobj) {
        core_log("[core] rv[%d]: none", index);
        return;
    }
    uint64_t netobj = s.netobj, ctrl = rv_truck_ctrl(), wc = rv_world_controller();
    uint64_t vehicle = game_u64_guarded(netobj + netobj_field::vehicle);
    uint64_t physics = vehicle ? game_u64_guarded(vehicle + rv_field::physics) : 0;
    uint64_t clock = game_u64_guarded(game_addr(rv_addr::clock));
    core_log("[core] rv[%d]: net=%p stage %d player %u status(+0x154)=%x rv=%p flags=%04x flags2=%08x interp=%u "
             "model=%p phys=%p state req/applied=%u/%u; ctrl trucks %llu pending %llu ticked %llu",
             index, game_ptr(netobj), (int)s.stage, (unsigned)s.player, game_u32_guarded(netobj + netobj_field::status),
             game_ptr(vehicle), vehicle ? game_read_guarded_or_zero<uint16_t>(vehicle + rv_field::flags) : 0,
             vehicle ? game_u32_guarded(vehicle + rv_field::flags2) : 0,
             vehicle ? game_read_guarded_or_zero<uint8_t>(vehicle + rv_field::interp) : 0,
             game_ptr(vehicle ? game_u64_guarded(vehicle + rv_field::model) : 0), game_ptr(physics),
             physics ? game_read_guarded_or_zero<uint8_t>(physics + rv_field::physics_requested) : 0,
             physics ? game_read_guarded_or_zero<uint8_t>(physics + rv_field::physics_state) : 0,
             (unsigned long long)(ctrl ? game_u64_guarded(ctrl + ctrl_field::count) : 0),
             (unsigned long long)(ctrl ? game_u64_guarded(ctrl + ctrl_field::pending) : 0),
             (unsigned long long)(ctrl ? game_u64_guarded(ctrl + ctrl_field::ticked) : 0));
    core_log("[core] rv[%d]: move %s, step %s%s, step ts(+0x230) %lld, sim clock(clk+0xb38) %lld, phys "
             "clock(wc+0x50) %lld%s, net time %lld, lights %08x (netobj +0x2dc %08x), vel %s",
             index, move_names[s.move_mode <= RV_MOVE_NET ? s.move_mode : 0],
             step_names[rv_config.step_mode <= RV_STEP_OFF ? rv_config.step_mode : 0], s.stepping_ourselves ? " (ours)" : "",
             (long long)(vehicle ? game_u64_guarded(vehicle + rv_field::stamp) : 0),
             (long long)(clock ? game_u64_guarded(clock + clock_field::sim_clock) : 0),
             (long long)(wc ? game_u64_guarded(wc + wc_field::physics_clock) : 0), rv_config.clock ? " (advancing)" : "",
             (long long)rv_net_time_us(), s.lights_present ? s.light_bits : 0,
             game_u32_guarded(netobj + netobj_field::lights), rv_config.velocity ? "on" : "off");
    if (!vehicle)
        return;
    placement key = world_placement(netobj, netobj_field::key_current);
    placement pose = world_placement(vehicle, rv_field::pose);
    core_log("[core] rv[%d]: key (%.2f, %.2f, %.2f) ts %lld; rv pose(+0x28) (%.2f, %.2f, %.2f); snap ts(+0xe0) %lld",
             index, placement_world_x(&key), (double)key.y, placement_world_z(&key),
             (long long)game_u64_guarded(netobj + netobj_field::key_time), placement_world_x(&pose), (double)pose.y,
             placement_world_z(&pose), (long long)game_u64_guarded(vehicle + rv_field::snap));
}

void rv_peek()
{
    uint64_t wc = rv_world_controller();
    uint64_t word = 0;
    if (wc)
        game_read_guarded(wc + wc_field::word, &word);
    core_log("[core] rv peek: wc=%p state(+0xb)=%u session(+0x10)=%p +0x18=%p grid(+0x2d0)=%p", game_ptr(wc),
             (unsigned)((word >> 24) & 0xFF), game_ptr(wc ? game_u64_guarded(wc + wc_field::network_game) : 0),
             game_ptr(wc ? game_u64_guarded(wc + wc_field::word2) : 0),
             game_ptr(wc ? game_u64_guarded(wc + wc_field::grid) : 0));
    uint64_t ctrl = rv_truck_ctrl(), game_ctrl = game_ctrl_guarded();
    uint64_t in_game_ctrl = game_ctrl ? game_u64_guarded(game_ctrl + game_ctrl_truck_ctrl) : 0;
    core_log("[core] rv peek: ctrl=%p game_ctrl+0x80=%p%s; trucks(+0x40)=%llu trailers(+0x68)=%llu "
             "pending(+0x90)=%llu ticked(+0xb8)=%llu flag(+0xd0)=%u; net time %lld us",
             game_ptr(ctrl), game_ptr(in_game_ctrl),
             in_game_ctrl == ctrl ? " (same)" : " (DIFFERENT: tick may not run)",
             (unsigned long long)(ctrl ? game_u64_guarded(ctrl + ctrl_field::count) : 0),
             (unsigned long long)(ctrl ? game_u64_guarded(ctrl + ctrl_field::trailers) : 0),
             (unsigned long long)(ctrl ? game_u64_guarded(ctrl + ctrl_field::pending) : 0),
             (unsigned long long)(ctrl ? game_u64_guarded(ctrl + ctrl_field::ticked) : 0),
             (unsigned)(ctrl ? game_read_guarded_or_zero<uint8_t>(ctrl + ctrl_field::flag) : 0),
             (long long)rv_net_time_us());
    uint64_t block = game_player_block_guarded();
    uint64_t network = block ? game_u64_guarded(block + player_block_network) : 0;
    core_log("[core] rv peek: player network object (slot+0x1e6b0)=%p%s", game_ptr(network),
             network ? "" : " (none: single player)");
}

/* ---- rvspawn ---- */

void cmd_rvspawn(const char *rest)
{
    rest = text_skip_blanks(rest ? rest : "");
    if (is_word(rest, "peek")) {
        rv_peek();
        return;
    }
    int stage;
    if (!*rest || is_word(rest, "c"))
        stage = RV_STAGE_C;
    else if (is_word(rest, "b"))
        stage = RV_STAGE_B;
    else if (is_word(rest, "a"))
        stage = RV_STAGE_A;
    else {
        core_log("[core] usage: rvspawn [peek|a|b|c]");
        return;
    }
    rv_slot_state &slot = rv_slots[0];
    if (slot.netobj) {
        core_log("[core] rv: already spawned (%p); rvdespawn first", game_ptr(slot.netobj));
        return;
    }
    if (!rv_truck_ctrl() || !rv_unit_factory_ok()) {
        core_log("[core] rv: no remote_vehicle_ctrl / unit system (no profile loaded?)");
        return;
    }
    // The placement read says why there is none (no truck, no placement).
    placement here;
    if (!local_truck_placement(&here))
        return;
    uint64_t truck = game_local_truck();
    double x = placement_world_x(&here), z = placement_world_z(&here);
    double qw = here.qw, qx = here.qx, qy = here.qy, qz = here.qz;
    x -= 2 * (qw * qy + qx * qz) * ahead_metres;
    z -= (1 - 2 * (qx * qx + qy * qy)) * ahead_metres;
    placement target;
    placement_from_world(&target, x, here.y, z, here.qw, here.qx, here.qy, here.qz);
    rv_peek();
    uint64_t clone = 0;
    if (stage >= RV_STAGE_B) {
        clone = def_clone(game_u64_guarded(truck + actor_off::definition), &def_class_vehicle);
        if (!clone) {
            core_log("[core] rv: definition clone failed; not spawning");
            return;
        }
    }
    bool ok = rv_spawn(0, &target, clone, clone ? clone + DEF_ACCESSORY_ARRAY : 0, stage);
    if (clone) {
        // The clone is slot 0's while the slot holds it; otherwise it goes back.
        if (ok && slot.definition == clone) {
            slot.owns_definition = 1;
            rv_save_slots();
        } else if (rv_release_definition(clone)) {
            core_log("[core] rv: released the unused definition %p", game_ptr(clone));
        }
    }
    if (ok && stage == RV_STAGE_C && slot.stage >= RV_STAGE_C)
        core_log("[core] rv: stage C: promoting into the tick/draw list every frame; it should appear 20 m ahead");
}

/* ---- rvdespawn ---- */

void cmd_rvdespawn(const char *rest)
{
    rest = text_skip_blanks(rest ? rest : "");
    if (is_word(rest, "all")) {
        for (int i = 0; i < DM_RV_SLOTS; i++)
            if (rv_slots[i].netobj)
                rv_despawn(i, "rvdespawn all");
        return;
    }
    long n = 0;
    if (*rest) {
        char *end = nullptr;
        n = strtol(rest, &end, 10);
        if (end == rest || *text_skip_blanks(end)) {
            core_log("[core] usage: rvdespawn [all|n]");
            return;
        }
    }
    if (n < 0 || n >= DM_RV_SLOTS || !rv_slots[n].netobj) {
        core_log("[core] rv[%d]: nothing to despawn", (int)(n < -1000000 ? -1000000 : n > 1000000 ? 1000000 : n));
        return;
    }
    if (rv_slots[n].player)
        core_log("[core] rv[%d]: shows player %u; respawns while `remote mode rv` is on", (int)n,
                 (unsigned)rv_slots[n].player);
    rv_despawn((int)n, "rvdespawn");
}

/* ---- rvmove ---- */

namespace {

const char *const move_usage = "[core] usage: rvmove circle [r] [speed] | rvmove net [pid] | rvmove stop";

/* Up to two positive finite decimals after the word; false on anything else. */
bool read_numbers(const char *s, double *out, int max, int *given)
{
    *given = 0;
    while (!text_at_end(s)) {
        double v;
        if (*given == max || !text_parse_f64(&s, &v) || v <= 0)
            return false;
        out[(*given)++] = v;
    }
    return true;
}

} // namespace

void cmd_rvmove(const char *rest)
{
    rest = text_skip_blanks(rest ? rest : "");
    rv_slot_state &s = rv_slots[0];
    if (!s.netobj || s.stage < RV_STAGE_C) {
        core_log("[core] rvmove: no rv at stage C (rvspawn first)");
        return;
    }
    if (strncmp(rest, "stop", 4) == 0) {
        s.move_mode = RV_MOVE_NONE;
        core_log("[core] rv: move stop (holds its last key)");
    } else if (strncmp(rest, "circle", 6) == 0) {
        double v[2] = { 20.0, 5.0 };
        int given = 0;
        if (!read_numbers(rest + 6, v, 2, &given)) {
            core_log("%s", move_usage);
            return;
        }
        double radius = v[0] < circle_radius_min ? circle_radius_min : v[0];
        placement key = world_placement(s.netobj, netobj_field::key_current);
        s.radius = radius;
        s.speed = v[1];
        s.centre[0] = placement_world_x(&key) - radius;
        s.centre[1] = key.y;
        s.centre[2] = placement_world_z(&key);
        s.angle = 0;
        s.previous_time = 0;
        s.move_mode = RV_MOVE_CIRCLE;
        core_log("[core] rv: move circle r %.1f m, %.1f m/s, centre (%.1f, %.1f, %.1f)", s.radius, s.speed,
                 s.centre[0], s.centre[1], s.centre[2]);
    } else if (strncmp(rest, "net", 3) == 0) {
        const char *arg = text_skip_blanks(rest + 3);
        uint16_t pid = 0;
        if (*arg) {
            char *end = nullptr;
            long v = strtol(arg, &end, 10);
            if (end == arg || *text_skip_blanks(end) || v < 1 || v > 65535) {
                core_log("%s", move_usage);
                return;
            }
            pid = (uint16_t)v;
        } else {
            uint16_t ids[1];
            if (net_list_players(ids, 1) <= 0) {
                core_log("[core] rvmove net: no remote players");
                return;
            }
            pid = ids[0];
        }
        s.previous_time = 0;
        s.move_mode = RV_MOVE_NET;
        s.follow_player = pid;
        const char *name = net_player_name(pid);
        char clean[NET_NAME_MAX + 8];
        text_clean(clean, sizeof clean, name, strnlen(name, NET_NAME_MAX + 1));
        core_log("[core] rv: move net: follows player %u '%s' (over 40 m away = teleport + 2 s ghost)", (unsigned)pid,
                 clean);
    } else {
        core_log("%s", move_usage);
    }
}

/* ---- switches ---- */

void cmd_rvvel(const char *rest)
{
    rest = text_skip_blanks(rest ? rest : "");
    if (!switch_word(rest)) {
        core_log("[core] usage: rvvel [on|off]");
        return;
    }
    rv_config.velocity = is_word(rest, "on");
    core_log("[core] rv: velocity %s", rv_config.velocity ? "on" : "off");
}

void cmd_rvclock(const char *rest)
{
    rest = text_skip_blanks(rest ? rest : "");
    if (!switch_word(rest)) {
        core_log("[core] usage: rvclock [on|off]");
        return;
    }
    rv_config.clock = !is_word(rest, "off");
    core_log("[core] rv: clock %s", rv_config.clock ? "on" : "off");
}

void cmd_rvstep(const char *rest)
{
    rest = text_skip_blanks(rest ? rest : "");
    int mode = -1;
    for (int i = 0; i < 3; i++)
        if (is_word(rest, step_names[i]))
            mode = i;
    if (mode < 0) {
        core_log("[core] usage: rvstep auto|on|off");
        return;
    }
    rv_config.step_mode = (uint32_t)mode;
    for (rv_slot_state &s : rv_slots) {
        s.stepping_ourselves = 0;
        s.unchanged_frames = 0;
    }
    core_log("[core] rv: step %s", step_names[mode]);
}
