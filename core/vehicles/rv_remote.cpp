// The remote-player glue's convoy side (rv.h): in rv mode every remote
// player gets one of the convoy slots 1 to 7, built from the player's
// accessory list (or a clone of our truck when none comes within 3 s),
// despawned when the player leaves or changes trucks; the lookups props use;
// the "remote" command's rv lines. Game thread only.
//
// Index
//   the wait table   players waiting for a slot or a retry
//   rv step          rv_remote_update
//   lookups          rv_player_object, rv_player_placement
//   console          remote_mode_rv_command, rv_remote_report
#include <string.h>
#include "base/core.h"
#include "base/core_config.h"
#include "base/game_mem.h"
#include "net/net.h"
#include "base/plain_text.h"
#include "vehicles/rv.h"
#include "vehicles/rv_game.h"
#include "vehicles/spawn.h"
#include "vehicles/vehicle_defs.h"
#include "vehicles/vehicle_game.h"

/* ---- the wait table ---- */

namespace {

const double list_wait = 3.0;    /* seconds for a player's list before a clone of ours */
const double spawn_retry = 10.0; /* seconds between spawn attempts for a player */
const double missing_slot_every = 30.0;
const int wait_entries = 16;
const int roster_max = 16;

struct rv_wait {
    uint16_t player;
    double first_seen, retry_at;
} waits[wait_entries];
double missing_slot_log_at;

/* The player's entry; a player without one takes over the oldest. */
rv_wait &wait_of(uint16_t player, double now)
{
    rv_wait *oldest = &waits[0];
    for (rv_wait &w : waits) {
        if (w.player == player)
            return w;
        if (w.first_seen < oldest->first_seen)
            oldest = &w;
    }
    *oldest = rv_wait { player, now, 0 };
    return *oldest;
}

int slot_of(uint16_t player)
{
    for (int i = 1; i < DM_RV_SLOTS; i++)
        if (rv_slots[i].netobj && rv_slots[i].player == player)
            return i;
    return -1;
}

struct shown_name {
    char text[NET_NAME_MAX + 8];
    explicit shown_name(uint16_t id)
    {
        const char *name = net_player_name(id);
        text_clean(text, sizeof text, name, strnlen(name, NET_NAME_MAX + 1));
    }
};

bool player_list(uint16_t id, uint32_t *hash, const char **entries, uint32_t *count)
{
    return net_player_accessories(id, 0, hash, entries, count) && *count > 0;
}

/* Step 4e: one spawn for the player in the slot. */
void spawn_for(uint16_t player, int index, const net_pose &pose, bool has_list, const char *list, uint32_t count,
               uint32_t hash, uint64_t truck)
{
    shown_name name(player);
    core_log("[core] net: spawning an rv for player %u '%s' in slot %d (%s)", (unsigned)player, name.text, index,
             has_list ? "their accessories" : "no accessory list after 3 s: clone of ours");
    uint64_t def = 0;
    if (has_list) {
        def = look_build_def(list, (int32_t)count, LOOK_BUILD_TRUCK);
        if (!def)
            core_log("[core] net: couldn't build their definition; using a clone of ours");
    }
    if (!def) {
        has_list = false;
        def = def_clone(game_u64_guarded(truck + actor_off::definition), &def_class_vehicle);
        if (!def) {
            core_log("[core] net: definition clone failed; not spawning");
            return;
        }
    }
    placement at;
    placement_from_world(&at, pose.pos[0], pose.pos[1], pose.pos[2], pose.rot[0], pose.rot[1], pose.rot[2],
                         pose.rot[3]);
    rv_slot_state &slot = rv_slots[index];
    if (!rv_spawn(index, &at, def, def + DEF_ACCESSORY_ARRAY, RV_STAGE_C)) {
        if (rv_release_definition(def))
            core_log("[core] net: released the unused definition %p", game_ptr(def));
        return;
    }
    if (slot.stage < RV_STAGE_C) {
        // An incomplete one goes again, with the definition it may hold.
        if (slot.definition == def)
            slot.owns_definition = 1;
        else if (rv_release_definition(def))
            core_log("[core] net: released the unused definition %p", game_ptr(def));
        rv_despawn(index, "spawn incomplete");
        return;
    }
    slot.owns_definition = 1;
    slot.player = player;
    slot.move_mode = RV_MOVE_NET;
    slot.follow_player = player;
    slot.accessory_hash = has_list ? hash : 0;
    rv_save_slots();
}

} // namespace

/* ---- rv step ---- */

void rv_remote_update(double now)
{
    if (!rv_truck_ctrl() || !rv_unit_factory_ok())
        return;
    for (int i = 1; i < DM_RV_SLOTS; i++) {
        rv_slot_state &s = rv_slots[i];
        if (!s.netobj || !s.player)
            continue;
        uint16_t player = s.player;
        uint32_t hash = 0, count = 0;
        const char *list = nullptr;
        if (!net_has_player(player)) {
            core_log("[core] net: remote %u gone (left the server)", (unsigned)player);
            rv_despawn(i, "remote left");
        } else if (player_list(player, &hash, &list, &count) && hash != s.accessory_hash) {
            core_log("[core] net: player %u's accessories changed (%08x -> %08x); respawning their rv",
                     (unsigned)player, s.accessory_hash, hash);
            rv_despawn(i, "accessories changed");
            wait_of(player, now).retry_at = 0;
        }
    }
    uint64_t truck = game_local_truck();
    if (!truck)
        return;
    uint16_t ids[roster_max];
    int n = net_list_players(ids, roster_max);
    for (int k = 0; k < n; k++) {
        uint16_t player = ids[k];
        if (slot_of(player) >= 0)
            continue;
        int free_slot = -1;
        for (int i = 1; i < DM_RV_SLOTS && free_slot < 0; i++)
            if (!rv_slots[i].netobj)
                free_slot = i;
        if (free_slot < 0) {
            if (now >= missing_slot_log_at) {
                missing_slot_log_at = now + missing_slot_every;
                core_log("[core] net: no free rv slot for player %u (%d max)", (unsigned)player, DM_RV_SLOTS - 1);
            }
            return;
        }
        rv_wait &w = wait_of(player, now);
        net_pose pose;
        if (now < w.retry_at || !net_sample_player(player, now, &pose))
            continue;
        uint32_t hash = 0, count = 0;
        const char *list = nullptr;
        bool has_list = player_list(player, &hash, &list, &count);
        if (!has_list && now - w.first_seen < list_wait)
            continue;
        w.retry_at = now + spawn_retry;
        spawn_for(player, free_slot, pose, has_list, list, count, hash, truck);
        return; // one spawn a frame
    }
}

/* ---- lookups ---- */

namespace {

uint64_t live_vehicle_of(uint16_t id)
{
    if (!id)
        return 0;
    for (int i = 1; i < DM_RV_SLOTS; i++) {
        const rv_slot_state &s = rv_slots[i];
        if (s.netobj && s.player == id && s.stage >= RV_STAGE_C)
            return game_u64_guarded(s.netobj + netobj_field::vehicle);
    }
    return 0;
}

} // namespace

void *rv_player_object(uint16_t id)
{
    uint64_t vehicle = live_vehicle_of(id);
    return vehicle ? game_ptr(game_u64_guarded(vehicle + rv_field::model)) : nullptr;
}

bool rv_player_placement(uint16_t id, placement *out)
{
    uint64_t vehicle = live_vehicle_of(id);
    return vehicle && game_copy_guarded(out, vehicle + rv_field::pose, sizeof *out);
}

/* ---- console ---- */

void remote_mode_rv_command()
{
    core_config.remote_mode_rv = true;
    core_remote_mode_by_command = true;
    core_log("[core] remote mode rv (native convoy remote_vehicle_u per player, no trailers yet) (applies on the next "
             "frame; kept across core reloads until `config reload`)");
}

void rv_remote_report()
{
    core_log("[core] remote mode %s, rv velocity %s", core_config.remote_mode_rv ? "rv" : "clone",
             rv_config.velocity ? "on" : "off");
    for (int i = 0; i < DM_RV_SLOTS; i++) {
        const rv_slot_state &s = rv_slots[i];
        if (!s.netobj)
            continue;
        uint64_t vehicle = game_u64_guarded(s.netobj + netobj_field::vehicle);
        uint64_t physics = vehicle ? game_u64_guarded(vehicle + rv_field::physics) : 0;
        unsigned state = physics ? game_read_guarded_or_zero<uint8_t>(physics + rv_field::physics_state) : 255;
        shown_name name(s.player);
        core_log("[core]   rv[%d] %s player %u '%s' stage %d physics %u lights %08x acc %08x", i,
                 i == 0 ? "manual" : "net", (unsigned)s.player, s.player && net_has_player(s.player) ? name.text : "",
                 (int)s.stage, state, s.light_bits, s.accessory_hash);
    }
}
