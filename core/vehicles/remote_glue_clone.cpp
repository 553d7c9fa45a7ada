// The remote-player glue after the network client's tick: other players shown
// as vehicles. Clone mode binds the core's one spawned vehicle to the first
// player in the roster (built from that player's accessory list, or a clone
// of our truck when none comes), follows that player's pose and lets it go
// when the player leaves; rv mode hands the players to the convoy remote
// vehicles. Also the lookups props use and the "remote" command. Game thread
// only.
//
// Index
//   the binding        clone binding state, logged names
//   remote gone        remote_gone
//   clone step         bind, follow, the player's trailer
//   frame              remote_glue_tick
//   lookups            player_vehicle, remote_rv_pose, remote_slot_status
//   console            cmd_remote
#include <string.h>
#include "base/core.h"
#include "base/core_config.h"
#include "base/game_mem.h"
#include "net/net.h"
#include "base/plain_text.h"
#include "vehicles/spawn.h"
#include "vehicles/vehicle_defs.h"

/* ---- the binding ---- */

namespace {

const double list_wait = 3.0;      /* seconds for a player's accessory list before a clone of ours */
const double spawn_retry = 10.0;   /* seconds between spawn attempts */
const float spawn_metres = 6.0f;
const float parked_drop = 200.0f;  /* metres below its place for a parked vehicle */

/* The bound player is spawn_state.net_player (0 none). */
struct clone_binding {
    uint16_t trailer_player;  /* the player the spawned trailer was built for */
    uint32_t truck_hash;      /* list hash the vehicle was built from; 0 for a clone of ours */
    uint32_t trailer_hash;
    uint8_t skip_once;        /* the first hash change after a reload only updates the hash */
    uint8_t trailer_skip_once; /* the same for the trailer's list: a reload rebuilds no trailer */
    uint16_t waiting_player;
    double wait_ends;
    double retry_time;
} bind;

/* A vehicle was spawned for a remote player in this tick: the draw hook must
 * draw it (remote_glue_tick's result). */
bool spawned_for_player;

/* A player's name from the roster, control bytes replaced. */
struct shown_name {
    char text[NET_NAME_MAX + 8];
    explicit shown_name(uint16_t id)
    {
        const char *name = net_player_name(id);
        text_clean(text, sizeof text, name, strnlen(name, NET_NAME_MAX + 1));
    }
};

/* The player's list when it is complete and not empty. */
bool player_list(uint16_t id, int list, uint32_t *hash, const char **entries, uint32_t *count)
{
    return net_player_accessories(id, list, hash, entries, count) && *count > 0;
}

void clear_remote_flags()
{
    spawn_state.net_pose_valid = 0;
    spawn_state.net_has_trailer = 0;
    spawn_state.net_has_extra = 0;
}

} // namespace

/* ---- remote gone ---- */

void remote_gone(const char *reason)
{
    spawn_state_record &s = spawn_state;
    if (!s.net_player)
        return;
    core_log("[core] net: remote %u gone (%s)", s.net_player, reason);
    s.net_player = 0;
    clear_remote_flags();
    bind.trailer_player = 0;
    if (s.trailer_state != SPAWN_NONE)
        trailer_remove("remote gone");
    if (s.state == SPAWN_NONE)
        return;
    if (s.state == SPAWN_SPAWNED && s.built_from_look_list) {
        spawn_despawn();
        s.hidden = 0;
        if (s.state == SPAWN_NONE)
            return;
    }
    // Still loading, or on a definition that cannot be despawned: out of
    // sight below its place, and reused for the next remote player.
    s.place.y -= parked_drop;
    s.move_mode = MOVE_PARK;
    spawn_set_hidden(true);
    core_log("[core] net: vehicle %p hidden and parked (%s); reused for the next remote player", game_ptr(s.vehicle),
             s.state == SPAWN_LOADING ? "still loading" : "shared definition, despawn refused");
}

/* ---- clone step ---- */

namespace {

/* Steps 3 to 7: a vehicle for the first player in the roster. */
void clone_bind(double now)
{
    spawn_state_record &s = spawn_state;
    if (s.state == SPAWN_SPAWNED && s.hidden && s.built_from_look_list) {
        spawn_despawn();
        s.hidden = s.state != SPAWN_NONE ? s.hidden : 0;
        if (s.state != SPAWN_NONE)
            s.built_from_look_list = 0;
    }
    uint16_t ids[8];
    if (net_list_players(ids, 8) <= 0)
        return;
    if (!game_ctrl_guarded() || !game_player_block_guarded() || !game_local_truck())
        return;
    uint16_t candidate = ids[0];
    shown_name name(candidate);
    if (s.state != SPAWN_NONE) {
        core_log("[core] net: player %u '%s' takes over the existing vehicle %p%s", candidate, name.text,
                 game_ptr(s.vehicle), s.hidden ? " (was hidden)" : "");
        bind.truck_hash = 0;
        bind.skip_once = 0;
    } else {
        if (now < bind.retry_time)
            return;
        uint32_t hash = 0, count = 0;
        const char *list = nullptr;
        bool has_list = player_list(candidate, 0, &hash, &list, &count);
        if (!has_list) {
            if (bind.waiting_player != candidate) {
                bind.waiting_player = candidate;
                bind.wait_ends = now + list_wait;
            }
            if (now < bind.wait_ends)
                return;
            core_log("[core] net: no accessory list from player %u after 3 s; using a clone of our truck", candidate);
        }
        bind.retry_time = now + spawn_retry;
        core_log("[core] net: spawning a vehicle for player %u '%s' (%s)", candidate, name.text,
                 has_list ? "their accessories" : "clone of ours");
        if (has_list) {
            spawn_vehicle(spawn_metres, list, (int)count);
        } else {
            uint8_t was = s.spawn_mode_clone;
            s.spawn_mode_clone = 1;
            spawn_vehicle(spawn_metres, nullptr, 0);
            s.spawn_mode_clone = was;
        }
        bind.skip_once = 0;
        bind.truck_hash = has_list ? hash : 0;
        if (s.state == SPAWN_NONE)
            return;
        spawned_for_player = true;
    }
    s.net_player = candidate;
    bind.trailer_player = 0;
    s.hidden = 0;
    clear_remote_flags();
}

/* Step 8c: the bound player's trailer, when remote trailers are on. */
void follow_trailer(uint16_t player)
{
    spawn_state_record &s = spawn_state;
    uint32_t hash = 0, count = 0;
    const char *list = nullptr;
    bool has_list = player_list(player, 1, &hash, &list, &count);
    if (has_list && bind.trailer_skip_once && bind.trailer_player == player) {
        bind.trailer_skip_once = 0;
        bind.trailer_hash = hash;
    }
    if (s.trailer_state == SPAWN_SPAWNED && bind.trailer_player == player && has_list && hash != bind.trailer_hash) {
        core_log("[core] net: player %u's trailer changed (%08x -> %08x); rebuilding it", player, bind.trailer_hash,
                 hash);
        trailer_remove("remote trailer changed");
        bind.trailer_player = 0;
    }
    if (!s.net_has_trailer) {
        if (bind.trailer_player == player && s.trailer_state != SPAWN_NONE) {
            trailer_remove("remote uncoupled");
            bind.trailer_player = 0;
        }
        return;
    }
    if (s.trailer_state != SPAWN_NONE || bind.trailer_player == player || !has_list)
        return;
    bind.trailer_player = player;
    bind.trailer_hash = hash;
    core_log("[core] net: player %u has a trailer (%d accessory entries); building it", player, (int)count);
    uint64_t def = look_build_def(list, (int32_t)count, LOOK_BUILD_TRAILER);
    if (!def) {
        core_log("[core] net: trailer build failed; trying `trailer` (a clone of our own coupled trailer)");
        spawn_trailer();
        return;
    }
    trailer_create_remote(def);
    if (s.trailer_state == SPAWN_NONE && s.trailer_definition == def) {
        // Nothing took the definition: our reference goes back.
        game_release(def);
        s.trailer_definition = 0;
    }
}

/* Step 8: follow the bound player. */
void clone_follow(uint16_t player)
{
    spawn_state_record &s = spawn_state;
    if (s.state == SPAWN_NONE) {
        s.net_player = 0;
        clear_remote_flags();
        return;
    }
    uint32_t hash = 0, count = 0;
    const char *list = nullptr;
    if (s.state == SPAWN_SPAWNED && player_list(player, 0, &hash, &list, &count) && hash != bind.truck_hash) {
        if (bind.skip_once) {
            bind.skip_once = 0;
        } else if (s.built_from_look_list) {
            core_log("[core] net: player %u's accessories changed (%08x -> %08x); respawning", player,
                     bind.truck_hash, hash);
            spawn_despawn();
        }
        if (s.state == SPAWN_NONE) {
            s.net_player = 0;
            clear_remote_flags();
            bind.retry_time = 0;
            return;
        }
        bind.truck_hash = hash;
    }
    if (s.state == SPAWN_SPAWNED && s.move_mode != MOVE_NET)
        s.move_mode = MOVE_NET;
    if (net_remote_trailers() && s.state == SPAWN_SPAWNED)
        follow_trailer(player);
}

void clone_step(double now)
{
    rv_despawn_remotes("remote mode clone");
    uint16_t bound = spawn_state.net_player;
    if (bound && !net_has_player(bound)) {
        remote_gone("left the server");
        bound = 0;
    }
    if (!bound) {
        clone_bind(now);
        return;
    }
    clone_follow(bound);
}

} // namespace

/* ---- frame ---- */

bool remote_glue_tick(double now)
{
    if (!net_is_open()) {
        remote_gone("disconnected");
        rv_despawn_remotes("disconnected");
        return false;
    }
    local_accessories_tick(now);
    if (!net_join_settled(now) || !game_build_ok())
        return false;
    if (core_config.remote_mode_rv) {
        remote_gone("remote mode rv");
        rv_remote_update(now);
        return false;
    }
    spawned_for_player = false;
    clone_step(now);
    return spawned_for_player;
}

/* ---- lookups ---- */

void *player_vehicle(uint16_t id, bool trailer, void **out)
{
    *out = nullptr;
    if (!id)
        return nullptr;
    const spawn_state_record &s = spawn_state;
    if (id == s.net_player) {
        if (!trailer)
            return s.state == SPAWN_SPAWNED ? game_ptr(s.vehicle) : nullptr;
        return s.trailer_state == SPAWN_SPAWNED ? game_ptr(s.trailer_actor) : nullptr;
    }
    // Other players are shown by the convoy remote vehicles.
    if (!trailer)
        *out = rv_player_object(id);
    return nullptr;
}

bool remote_rv_pose(uint16_t id, placement *out)
{
    if (!id || id == spawn_state.net_player)
        return false;
    return rv_player_placement(id, out);
}

void remote_restore_binding(uint16_t vehicle_player, uint16_t trailer_player)
{
    spawn_state.net_player = vehicle_player;
    clear_remote_flags();
    bind.trailer_player = trailer_player;
    bind.truck_hash = bind.trailer_hash = 0;
    bind.skip_once = 1;
    bind.trailer_skip_once = trailer_player != 0;
}

uint16_t remote_trailer_player() { return bind.trailer_player; }

void remote_slot_status(uint16_t *player, void **vehicle, int *state, int *mode, bool *hidden)
{
    *player = spawn_state.net_player;
    *vehicle = game_ptr(spawn_state.vehicle);
    *state = spawn_state_value();
    *mode = (int)spawn_state.move_mode;
    *hidden = spawn_hidden();
}

/* ---- console ---- */

void cmd_remote(const char *rest)
{
    if (!rest)
        rest = "";
    while (*rest == ' ' || *rest == '\t')
        rest++;
    size_t n = strlen(rest);
    while (n > 0 && (rest[n - 1] == ' ' || rest[n - 1] == '\t' || rest[n - 1] == '\r' || rest[n - 1] == '\n'))
        n--;
    if (n == 10 && strncmp(rest, "mode clone", n) == 0) {
        core_config.remote_mode_rv = false;
        core_remote_mode_by_command = true;
        core_log("[core] remote mode clone (applies on the next frame; kept across core reloads until `config "
                 "reload`)");
    } else if (n == 7 && strncmp(rest, "mode rv", n) == 0) {
        remote_mode_rv_command();
    } else if (n == 0) {
        rv_remote_report();
    } else {
        core_log("[core] usage: remote [mode clone|rv]");
    }
}
