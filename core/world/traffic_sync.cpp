// Traffic sync: for the traffic owner the server names, the AI cars near
// other players sent as definitions, states and removals. Cars received from
// other players are kept in a table, aged out and listed (their paths, a
// peer's text, with control bytes cleaned); nothing places them in the game.
// The g_traffic lock (AI traffic off or local) is traffic_lock.cpp; the tick
// and the command lead to it. Game thread only: the tick, the command and
// the network handlers (inside net_tick).
//
// Index of this file:
//   game layout    offsets of AI cars and their definitions
//   state          timers, the two tables
//   the game       the manager's cars, snapshots, definition paths, descriptions
//   owner          the owner pass: selection, definitions, states, removals
//   handlers       definitions, states and removals from other players
//   life cycle     init, shutdown, the tick
//   command        dump, remote list, modes, sending switch
#include <math.h>
#include <stdio.h>
#include <string.h>
#include "base/core.h"
#include "dm_guard.h"
#include "base/game_mem.h"
#include "net/net.h"
#include "base/placement.h"
#include "base/plain_text.h"
#include "world/traffic_lock.h"
#include "world/traffic_tables.h"
#include "world/world.h"
#include "world/world_game.h"

namespace {

/* One AI car of our game. */
struct traffic_car_snapshot {
    uint64_t car, second_word;
    uint32_t car_id;
    uint8_t excluded;
    uint32_t type, lights, model_flags;
    uint64_t model, definition;
    placement place;
    uint8_t more[24]; /* copied after the placement, not used */
};

/* ---- state ---- */

const dm_host_api *api;
bool owner, sending, ids_sent;
double next_send, next_resend, next_owner_report, next_remote_report;
uint32_t next_net_id = 1;
uint64_t states_received, states_unknown;
double now;

traffic_sent_car sent[TRAFFIC_SENT_MAX];
/* The definition each sent slot sends, as read when the slot took it. */
struct sent_definition {
    uint64_t definition; /* the game's definition object it was read from */
    uint32_t type;
    traffic_car_definition def;
};
sent_definition sent_defs[TRAFFIC_SENT_MAX];
traffic_remote_car remote[TRAFFIC_REMOTE_MAX];

/* what the previous dump saw, for its speeds */
struct dumped_car {
    uint64_t car;
    uint32_t car_id;
    double time, pos[3];
};
dumped_car dumped[TRAFFIC_SENT_MAX];
int dumped_count;

const char usage[] = "[traffic] usage: traffic [dump] | traffic off|on|local|mode | traffic remote | traffic net on|off";

/* ---- the game ---- */

/* The manager, and the car in each of its entries and that car's model, are
 * the game's: it spawns and frees them and we hold no reference. Each is
 * probed when it is taken (a manager made, another car in an entry, another
 * model on a car), up to the last field the pass reads from it; in every
 * pass they are read with plain loads under one guard a car, and a fault
 * skips the car. The manager's entry array is its own storage, read under
 * the guard without a probe. */
struct taken_car {
    game_taken car, model;
};
game_taken taken_manager;
taken_car taken_cars[TRAFFIC_MGR_COUNT_MAX]; /* by entry */
const size_t manager_bytes = TRAFFIC_MGR_COUNT + 8, car_bytes = AI_CAR_ID + 4, model_bytes = AI_MODEL_LIGHTS + 4;
static_assert(AI_CAR_ID > AI_CAR_DEFINITION && AI_CAR_ID > AI_CAR_EXCLUDED && AI_MODEL_LIGHTS > AI_MODEL_FLAGS,
              "the car's id and the model's light word are the last fields read");

/* The car in the manager's entry index, false (out untouched) when the
 * entry is empty, holds no AI car or cannot be read. */
bool traffic_snapshot_car(uint64_t entries, uint32_t index, traffic_car_snapshot *out)
{
    taken_car &taken = taken_cars[index];
    uint64_t car_table = game_addr(GAME_OFF_AI_CAR_VTABLE);
    traffic_car_snapshot s = {};
    bool car_read = false;
    // The model's two words after the car's fields: a fault in them leaves
    // them 0 and keeps the car.
    dm_guarded([&] {
        s.car = game_field<uint64_t>(entries, 16 * index);
        s.second_word = game_field<uint64_t>(entries, 16 * index + 8);
        uint64_t car = game_take(&taken.car, s.car, car_bytes);
        if (!car || game_field<uint64_t>(car, 0) != car_table)
            return;
        s.car_id = game_field<uint32_t>(car, AI_CAR_ID);
        s.excluded = game_field<uint8_t>(car, AI_CAR_EXCLUDED);
        s.type = game_field<uint32_t>(car, AI_CAR_TYPE);
        s.model = game_field<uint64_t>(car, AI_CAR_MODEL);
        s.definition = game_field<uint64_t>(car, AI_CAR_DEFINITION);
        s.place = game_field<placement>(car, AI_CAR_PLACEMENT);
        memcpy(s.more, &game_field<uint8_t>(car, AI_CAR_PLACEMENT + sizeof s.place), sizeof s.more);
        car_read = true;
        if (game_take(&taken.model, s.model, model_bytes)) {
            s.lights = game_field<uint32_t>(s.model, AI_MODEL_LIGHTS);
            s.model_flags = game_field<uint32_t>(s.model, AI_MODEL_FLAGS);
        }
    });
    if (car_read)
        *out = s;
    return car_read;
}

/* Our AI cars, or -1 when the manager or its entries are unreadable. */
int traffic_list_cars(traffic_car_snapshot *out, int maximum)
{
    uint64_t manager = game_take(&taken_manager, traffic_manager(), manager_bytes), entries = 0, count = 0;
    if (!manager || !game_copy_unprobed(&entries, manager + TRAFFIC_MGR_ENTRIES, sizeof entries) ||
        !game_copy_unprobed(&count, manager + TRAFFIC_MGR_COUNT, sizeof count) || count > TRAFFIC_MGR_COUNT_MAX ||
        (count && !entries))
        return -1;
    int n = 0;
    for (uint32_t i = 0; i < count && n < maximum; i++)
        if (traffic_snapshot_car(entries, i, &out[n]))
            n++;
    return n;
}

/* The definition's first maximum paths; how many. Every object on the way
 * is probed: this runs when a sent slot takes a definition, not in every
 * pass, and walks objects no earlier read has vouched for. */
int traffic_definition_paths(uint64_t definition, char (*out)[NET_TRAFFIC_PATH_MAX + 1], int maximum)
{
    uint64_t entries = 0, count = 0;
    if (!definition || !game_read_guarded(definition + CAR_DEF_ENTRIES, &entries) ||
        !game_read_guarded(definition + CAR_DEF_ENTRY_COUNT, &count) || !entries)
        return 0;
    int n = 0;
    for (uint64_t i = 0; i < count && i < CAR_DEF_ENTRIES_WALKED && n < maximum; i++) {
        uint64_t entry = 0, text = 0;
        if (!game_read_guarded(entries + 8 * i, &entry) || !entry ||
            !game_read_guarded(entry + CAR_DEF_ENTRY_PATH, &text) || !text)
            continue;
        if (game_read_guarded_text(text, out[n], NET_TRAFFIC_PATH_MAX + 1) && out[n][0])
            n++;
    }
    return n;
}

void traffic_describe_definition(uint64_t definition, bool full, char *buffer, size_t size)
{
    char name[64];
    uint64_t colours = 0, colour_count = 0;
    game_read_guarded(definition + CAR_DEF_COLOURS, &colours);
    game_read_guarded(definition + CAR_DEF_COLOUR_COUNT, &colour_count);
    size_t at = 0;
    auto add = [&](const char *fmt, auto... args) {
        if (at < size) {
            int w = snprintf(buffer + at, size - at, fmt, args...);
            at = w < 0 ? size : at + (size_t)w;
        }
    };
    buffer[0] = 0;
    add("class=%s colors=%llu", game_class_name(game_object_class(definition), name, sizeof name),
        (unsigned long long)colour_count);
    if (!full)
        return;
    for (uint64_t i = 0; colours && i < colour_count && i < 8; i++) {
        float c[3];
        if (game_copy_guarded(c, colours + 12 * i, sizeof c))
            add(" (%.3f %.3f %.3f)", c[0], c[1], c[2]);
    }
    uint64_t entries = 0, count = 0;
    if (!game_read_guarded(definition + CAR_DEF_ENTRIES, &entries) ||
        !game_read_guarded(definition + CAR_DEF_ENTRY_COUNT, &count) || !entries)
        return;
    for (uint64_t i = 0; i < count && i < 16; i++) {
        uint64_t entry = 0, text = 0;
        char path[NET_TRAFFIC_PATH_MAX + 1] = "";
        if (!game_read_guarded(entries + 8 * i, &entry) || !entry)
            continue;
        if (game_read_guarded(entry + CAR_DEF_ENTRY_PATH, &text) && text)
            game_read_guarded_text(text, path, sizeof path);
        add(" [%s %s]", game_class_name(game_object_class(entry), name, sizeof name), path);
    }
}

/* ---- owner ---- */

void forget_sent() { memset(sent, 0, sizeof sent); }

/* Receivers drop every car of ours. */
void send_remove_all() { net_send_traffic_ids(nullptr, 0, 1); }

/* Sends the definition of the car in the sent slot under the slot's net
 * id: its type and its definition object's paths. The paths are read (each
 * object probed) when the slot takes the definition: a car sent anew, or a
 * car whose type or definition changed; the 5 s resends send that copy.
 * False (nothing sent) when it has no path or the send fails. */
bool traffic_send_definition(int at_slot, const traffic_car_snapshot &car)
{
    sent_definition &d = sent_defs[at_slot];
    uint32_t net_id = sent[at_slot].net_id;
    if (d.definition != car.definition || d.type != car.type || d.def.net_id != net_id) {
        static char paths[NET_TRAFFIC_PATHS_MAX][NET_TRAFFIC_PATH_MAX + 1];
        int count = traffic_definition_paths(car.definition, paths, NET_TRAFFIC_PATHS_MAX);
        traffic_definition_make(&d.def, net_id, car.type, paths, count);
        d.definition = car.definition;
        d.type = car.type;
    }
    return d.def.path_count > 0 && net_send_traffic_defs(&d.def);
}

/* One owner pass at time at. */
void traffic_owner_send(double at)
{
    // 1. The other players with a position; none: our sent cars removed.
    uint16_t ids[64];
    double players[64][3];
    int player_count = 0;
    int listed = net_list_players(ids, 64);
    for (int i = 0; i < listed; i++) {
        net_pose pose;
        if (net_sample_player(ids[i], at, &pose)) {
            memcpy(players[player_count], pose.pos, sizeof players[0]);
            player_count++;
        }
    }
    int sent_count = traffic_sent_used(sent);
    if (player_count == 0) {
        if (sent_count) {
            core_log("[traffic] no remote players with a position; removing %d sent cars", sent_count);
            send_remove_all();
            forget_sent();
        }
        return;
    }
    // 2. Our AI cars; no manager: our sent cars removed.
    static traffic_car_snapshot cars[TRAFFIC_SENT_MAX];
    int car_count = traffic_list_cars(cars, TRAFFIC_SENT_MAX);
    if (car_count < 0) {
        if (sent_count) {
            core_log("[traffic] traffic manager gone; removing %d sent cars", sent_count);
            send_remove_all();
            forget_sent();
        }
        return;
    }
    // 3. Each car near a player: a sent one kept (its definition resent every
    // 5 s), a new one defined, and a state for each.
    for (auto &s : sent)
        s.seen = 0;
    bool resend = at >= next_resend;
    if (resend)
        next_resend = at + 5.0;
    static traffic_car_state states[TRAFFIC_SENT_MAX];
    int state_count = 0, added = 0, removed = 0;
    for (int i = 0; i < car_count; i++) {
        const traffic_car_snapshot &car = cars[i];
        if (car.excluded)
            continue;
        double pos[3];
        placement_world(&car.place, pos);
        double d = traffic_nearest(pos, players, player_count);
        int at_slot = traffic_sent_find(sent, car.car, car.car_id);
        if (at_slot >= 0) {
            if (d > TRAFFIC_KEEP_RADIUS)
                continue;
            if (resend)
                traffic_send_definition(at_slot, car);
        } else {
            if (d > TRAFFIC_SEND_RADIUS)
                continue;
            at_slot = traffic_sent_free_slot(sent);
            if (at_slot < 0)
                continue;
            traffic_sent_car &slot = sent[at_slot];
            memset(&slot, 0, sizeof slot);
            slot.used = 1;
            slot.car = car.car;
            slot.car_id = car.car_id;
            slot.net_id = traffic_take_net_id(&next_net_id);
            memcpy(slot.pos, pos, sizeof slot.pos);
            slot.sample_time = at;
            if (!traffic_send_definition(at_slot, car)) {
                core_log("[traffic] car %p (id %u): no definition paths; not sent", (void *)(uintptr_t)car.car,
                         car.car_id);
                slot.used = 0;
                continue;
            }
            added++;
        }
        traffic_sent_car &slot = sent[at_slot];
        slot.seen = 1;
        traffic_sent_sample(&slot, pos, at);
        traffic_car_state &st = states[state_count++];
        st.net_id = slot.net_id;
        memcpy(st.pos, pos, sizeof st.pos);
        st.rot[0] = car.place.qw;
        st.rot[1] = car.place.qx;
        st.rot[2] = car.place.qy;
        st.rot[3] = car.place.qz;
        st.speed = slot.speed;
        st.lights = car.lights;
    }
    // 4. Sent cars not seen in this pass removed, then the states sent.
    static uint32_t gone[TRAFFIC_SENT_MAX];
    for (auto &s : sent)
        if (s.used && !s.seen) {
            gone[removed++] = s.net_id;
            s.used = 0;
        }
    if (removed)
        net_send_traffic_ids(gone, removed, 0);
    if (state_count)
        net_send_traffic_cars((uint32_t)(int64_t)(at * 1000.0), states, state_count);
    // 5. The report: on a change, else every 30 s.
    if (added || removed || at >= next_owner_report) {
        next_owner_report = at + 30.0;
        core_log("[traffic] owner: sending %d cars (%d new, %d removed) to %d player(s)", state_count, added, removed,
                 player_count);
    }
}

/* ---- handlers ---- */

void traffic_on_car_definition(uint16_t sender, const traffic_car_definition *def)
{
    if (!def || !traffic_definition_valid(def))
        return;
    bool is_new = false;
    int at = traffic_remote_define(remote, sender, def, now, &is_new);
    char path[NET_TRAFFIC_PATH_MAX + 1];
    if (at >= 0 && is_new)
        core_log("[traffic] remote car %u from player %u: type %u, %d paths, %s", def->net_id, sender, def->car_type,
                 (int)def->path_count, text_clean(path, sizeof path, remote[at].first_path, NET_TRAFFIC_PATH_MAX));
}

void traffic_on_car_states(uint16_t sender, uint32_t, const traffic_car_state *states, int count)
{
    for (int i = 0; states && i < count; i++) {
        if (!traffic_state_valid(&states[i]))
            continue;
        if (traffic_remote_state(remote, sender, &states[i], now))
            states_received++;
        else
            states_unknown++;
    }
}

void traffic_on_cars_removed(uint16_t sender, const uint32_t *ids, uint16_t count, uint8_t flags)
{
    bool complete = flags & 1;
    int freed = traffic_remote_remove(remote, sender, ids, ids ? count : 0, complete);
    if (freed)
        core_log("[traffic] player %u removed %d car(s)%s", sender, freed, complete ? " (all)" : "");
}

const net_traffic_handlers traffic_net_handlers = { traffic_on_car_definition, traffic_on_car_states,
                                                    traffic_on_cars_removed };

/* ---- command ---- */

void traffic_dump(const dm_frame_info *info)
{
    static traffic_car_snapshot cars[TRAFFIC_SENT_MAX];
    int n = traffic_list_cars(cars, TRAFFIC_SENT_MAX);
    if (n < 0) {
        core_log("[traffic] no traffic manager (or unreadable)");
        return;
    }
    core_log("[traffic] own cars %d, player at (%.1f, %.1f, %.1f)", n, info->x, info->y, info->z);
    static dumped_car seen_now[TRAFFIC_SENT_MAX];
    static char description[1536];
    for (int i = 0; i < n; i++) {
        const traffic_car_snapshot &c = cars[i];
        double pos[3];
        placement_world(&c.place, pos);
        double dx = pos[0] - info->x, dy = pos[1] - info->y, dz = pos[2] - info->z;
        double dist = sqrt(dx * dx + dy * dy + dz * dz);
        char speed[32] = "-";
        for (int k = 0; k < dumped_count; k++) {
            const dumped_car &d = dumped[k];
            double dt = now - d.time;
            if (d.car == c.car && d.car_id == c.car_id && dt > 0 && dt < 30.0) {
                double mx = pos[0] - d.pos[0], my = pos[1] - d.pos[1], mz = pos[2] - d.pos[2];
                snprintf(speed, sizeof speed, "%.1f", sqrt(mx * mx + my * my + mz * mz) / dt * 3.6);
                break;
            }
        }
        traffic_describe_definition(c.definition, dist < 150.0, description, sizeof description);
        core_log("[traffic] [%d] %p fl=%llx id=%u type=%d mode=%u world(%.1f, %.1f, %.1f) dist=%.0f "
                 "q(%.3f %.3f %.3f %.3f) speed=%s km/h lights=%08x mflags=%08x model=%p def=%p %s",
                 i, (void *)(uintptr_t)c.car, (unsigned long long)c.second_word, c.car_id, (int)c.type, c.excluded,
                 pos[0], pos[1], pos[2], dist, c.place.qw, c.place.qx, c.place.qy, c.place.qz, speed, c.lights,
                 c.model_flags, (void *)(uintptr_t)c.model, (void *)(uintptr_t)c.definition, description);
        seen_now[i] = { c.car, c.car_id, now, { pos[0], pos[1], pos[2] } };
    }
    memcpy(dumped, seen_now, sizeof(dumped_car) * (size_t)n);
    dumped_count = n;
}

void traffic_list_remote(const dm_frame_info *info)
{
    for (const auto &r : remote) {
        if (!r.used)
            continue;
        double dist = r.has_state ? traffic_horizontal_distance(r.pos, info->x, info->z) : -1.0;
        char path[NET_TRAFFIC_PATH_MAX + 1];
        text_clean(path, sizeof path, r.first_path, NET_TRAFFIC_PATH_MAX);
        core_log("[traffic] remote %u/%u type %u %s pos(%.1f, %.1f, %.1f) dist=%.0f q(%.3f %.3f %.3f %.3f) "
                 "speed=%.1f km/h lights=%08x age=%.1fs",
                 r.sender, r.net_id, r.car_type, path, r.pos[0], r.pos[1], r.pos[2], dist, r.rot[0], r.rot[1],
                 r.rot[2], r.rot[3], r.speed * 3.6, r.lights, now - r.last_time);
    }
    core_log("[traffic] remote: %d cars; owner %u; we are %u; sending %s, %d cars sent", traffic_remote_used(remote),
             net_traffic_owner(), net_our_player_id(), sending ? "on" : "off", traffic_sent_used(sent));
}

} // namespace

/* ---- life cycle ---- */

void traffic_init(const dm_host_api *host)
{
    api = host;
    net_set_traffic_handlers(&traffic_net_handlers);
}

void traffic_shutdown()
{
    net_set_traffic_handlers(nullptr);
    api = nullptr;
}

void traffic_tick(const dm_frame_info *info)
{
    now = info->seconds;
    traffic_lock_tick(now);

    uint16_t us = net_our_player_id();
    bool owner_now = us != 0 && net_traffic_owner() == us;
    if (owner_now && !owner) {
        core_log("[traffic] we are the traffic owner");
        owner = true;
        ids_sent = false;
    } else if (!owner_now && owner) {
        core_log("[traffic] no longer the traffic owner; forgetting %d sent cars", traffic_sent_used(sent));
        forget_sent();
        owner = false;
    }
    if (owner && sending && info->paused == 0 && now >= next_send) {
        next_send = now + 0.1;
        if (!ids_sent) {
            send_remove_all();
            ids_sent = true;
        }
        traffic_owner_send(now);
    }

    int live = 0;
    double nearest = 0;
    int freed = traffic_remote_age(remote, now, info->x, info->z, &live, &nearest);
    if (freed)
        core_log("[traffic] %d remote car(s) timed out", freed);
    if (live && now >= next_remote_report) {
        next_remote_report = now + 10.0;
        core_log("[traffic] remote: %d cars, nearest %.0f m, %llu car states received (%llu for unknown cars)", live,
                 nearest, (unsigned long long)states_received, (unsigned long long)states_unknown);
    }
}

void traffic_command(const dm_frame_info *info, const char *rest)
{
    while (*rest == ' ' || *rest == '\t')
        rest++;
    if (!*rest || !strcmp(rest, "dump")) {
        traffic_dump(info);
    } else if (!strcmp(rest, "remote")) {
        traffic_list_remote(info);
    } else if (!strcmp(rest, "off") || !strcmp(rest, "on") || !strcmp(rest, "local")) {
        traffic_lock_command(!strcmp(rest, "off") ? TRAFFIC_MODE_OFF : TRAFFIC_MODE_LOCAL, now);
    } else if (!strcmp(rest, "mode")) {
        traffic_lock_report();
    } else if (!strcmp(rest, "net off")) {
        sending = false;
        if (traffic_sent_used(sent)) {
            send_remove_all();
            forget_sent();
        }
        core_log("[traffic] sending off");
    } else if (!strcmp(rest, "net on")) {
        sending = true;
        ids_sent = false;
        core_log("[traffic] sending on");
    } else {
        core_log("%s", usage);
    }
}
