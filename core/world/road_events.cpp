// The "roadevents" command: the game's road events (journey events on road
// items) listed, explained, created from a replay line and removed, through
// the game's journey-events manager on the game thread. Every read is the
// probed and guarded one; the game's calls run under the fault guard.
//
// Index: game data, handles, listings, apply and remove, the command.
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include "base/core.h"
#include "dm_guard.h"
#include "base/game_mem.h"
#include "base/plain_text.h"
#include "vehicles/rv_game.h"
#include "world/world.h"
#include "world/world_game.h"
#include "world/world_text.h"

namespace {

/* ---- game data (the layout in world_game.h) ---- */

using namespace road_field;
constexpr int active_max = 64, defs_max = 256;
const char usage_line[] =
    "[core] roadevents: usage roadevents | defs | near | apply <name> <seed> <b0> <b1> <b2> <road> <uid> | remove <uid>";

template <typename T> T rd(uint64_t at) { return at ? game_read_guarded_or_zero<T>(at) : 0; }

uint64_t manager() { return rd<uint64_t>(game_addr(off_manager)); }
uint64_t session() { return rd<uint64_t>(game_addr(rv_addr::world_controller)); }
uint64_t world_controller()
{
    uint64_t s = session();
    return s ? rd<uint64_t>(s + wc_field::grid) : 0;
}

struct road_item {
    uint64_t road;
    uint32_t type, loaded;
    float min[3], max[3];
};

road_item item_fields(uint64_t item)
{
    road_item r = {};
    if (!item)
        return r;
    r.road = rd<uint64_t>(item + item_road);
    r.type = rd<uint8_t>(item + item_type);
    r.loaded = rd<uint8_t>(item + item_loaded) & 1;
    game_copy_guarded(r.min, item + item_min, sizeof r.min);
    game_copy_guarded(r.max, item + item_max, sizeof r.max);
    return r;
}

} // namespace

/* ---- handles ---- */

uint64_t game_handle_resolve(uint64_t object)
{
    uint32_t handle = rd<uint32_t>(object ? object + def_handle : 0);
    if (!handle)
        return 0;
    uint64_t table = rd<uint64_t>(game_addr(off_handle_tables) + 8ull * ((handle >> 20) & 0x7FF));
    if (!table)
        return 0;
    uint64_t data = rd<uint64_t>(table);
    uint8_t stride = rd<uint8_t>(table + 0x88);
    // A stride of 0 would index before the array: no value.
    if (!data || !stride)
        return 0;
    return rd<uint64_t>(data + 8ull * (((uint64_t)(handle & 0xFFFF) + 1) * stride - 1));
}

/* ---- listings ---- */

namespace {

/* One active record as the listings show it; false when it cannot be read. */
bool record_view(uint64_t records, uint64_t i, roadevent_view *v, uint64_t *item)
{
    uint8_t rec[record_size];
    if (!game_copy_guarded(rec, records + i * record_size, sizeof rec))
        return false;
    auto field = [&](uint32_t at, auto *out) { memcpy(out, rec + at, sizeof *out); };
    uint64_t def;
    *v = {};
    v->index = i;
    field(rec_item, item);
    field(rec_block, &v->block);
    field(rec_def, &def);
    field(rec_set, &v->set);
    field(rec_seed, &v->seed);
    field(rec_uid, &v->uid);
    uint8_t flag;
    field(rec_flag, &flag);
    v->flag = flag;
    v->token = def ? game_handle_resolve(def) : 0;
    road_item r = item_fields(*item);
    v->road = r.road;
    v->type = r.type;
    v->loaded = r.loaded;
    return true;
}

uint64_t listed(uint64_t count, int max) { return count < (uint64_t)max ? count : (uint64_t)max; }

} // namespace

void roadevents_dump_active()
{
    uint64_t m = manager();
    if (!m) {
        core_log("[core] roadevents: no journey events manager (profile not loaded?)");
        return;
    }
    uint64_t count = rd<uint64_t>(m + mgr_count), records = rd<uint64_t>(m + mgr_events);
    uint64_t s = session();
    core_log("[core] roadevents: jm %p, %llu active, next uid %llu, session %p, wc (session+0x2d0) %p",
             (void *)(uintptr_t)m, (unsigned long long)count, (unsigned long long)rd<uint64_t>(m + mgr_next_uid),
             (void *)(uintptr_t)s, (void *)(uintptr_t)world_controller());
    for (uint64_t i = 0; i < listed(count, active_max); i++) {
        roadevent_view v;
        uint64_t item;
        if (!records || !record_view(records, i, &v, &item)) {
            core_log("[core] roadevent %llu: unreadable", (unsigned long long)i);
            break;
        }
        char line[512];
        roadevent_format_line(line, sizeof line, &v);
        core_log("%s", line);
        roadevent_format_replay(line, sizeof line, &v);
        core_log("%s", line);
    }
}

void roadevents_dump_defs()
{
    uint64_t m = manager();
    if (!m) {
        core_log("[core] roadevents: no journey events manager");
        return;
    }
    uint64_t holder = rd<uint64_t>(m + mgr_defs_holder);
    uint64_t list = holder ? rd<uint64_t>(holder + holder_list) : 0;
    uint64_t defs = list ? rd<uint64_t>(list + list_data) : 0;
    uint64_t count = list ? rd<uint64_t>(list + list_count) : 0;
    char line[1024] = "";
    size_t used = 0;
    bool logged = false;
    for (uint64_t i = 0; i < listed(count, defs_max); i++) {
        char name[13];
        roadevents_token_name(game_handle_resolve(rd<uint64_t>(defs ? defs + 8 * i : 0)), name);
        int n = snprintf(line + used, sizeof line - used, " %s", name);
        used += n > 0 ? (size_t)n : 0;
        if (used >= 901) {
            core_log("[core] roadevents defs (%llu):%s", (unsigned long long)count, line);
            used = 0;
            line[0] = 0;
            logged = true;
        }
    }
    if (used || !logged)
        core_log("[core] roadevents defs (%llu):%s", (unsigned long long)count, line);
}

void roadevents_dump_near(const dm_frame_info *info)
{
    uint64_t m = manager();
    if (!m) {
        core_log("[core] roadevents: no journey events manager");
        return;
    }
    uint64_t count = rd<uint64_t>(m + mgr_count), records = rd<uint64_t>(m + mgr_events);
    for (uint64_t i = 0; records && i < listed(count, active_max); i++) {
        roadevent_view v;
        uint64_t item;
        if (!record_view(records, i, &v, &item))
            break;
        if (!item)
            continue;
        road_item r = item_fields(item);
        roadevents_box b = roadevents_box_from(r.min, r.max, info->x, info->z);
        char name[13];
        roadevents_token_name(v.token, name);
        core_log("[core] roadevent %llu '%s' uid %llu road %llx: centre %.0f %.0f %.0f, %.0f m from us (box %.0f x "
                 "%.0f m)",
                 (unsigned long long)i, name, (unsigned long long)v.uid, (unsigned long long)r.road, b.centre[0],
                 b.centre[1], b.centre[2], b.distance, b.width_x, b.width_z);
    }
    core_log("[core] our truck: %.1f %.1f %.1f", info->x, info->y, info->z);
}

void roadevents_log_fault(const char *label)
{
    core_log("[core] roadevents %s: FAULT 0x%08x at %p (game VA 0x%llx), data %p", label, last_fault_code,
             (void *)(uintptr_t)last_fault_address, (unsigned long long)game_va(last_fault_address),
             (void *)(uintptr_t)last_fault_data);
}

/* ---- apply and remove ---- */

namespace {

typedef uint64_t (*road_item_of_fn)(uint64_t ctrl, uint64_t road);
typedef uint8_t (*apply_fn)(uint64_t manager, uint64_t item, const uint64_t *token, uint32_t seed,
                            const uint32_t *block, uint64_t uid);
typedef void (*remove_fn)(uint64_t manager, uint64_t uid);

template <typename F> bool guarded_call(const char *label, F &&fn)
{
    if (dm_guarded_filter(fn, fault_record_filter, nullptr))
        return true;
    roadevents_log_fault(label);
    return false;
}

void roadevents_apply(uint64_t m, const char *text)
{
    roadevents_apply_args a;
    if (!roadevents_parse_apply(text, &a)) {
        core_log("[core] roadevents apply: need <name> <seed> <b0> <b1> <b2> <road uid> <event uid> (hex, as "
                 "`roadevents` prints)");
        return;
    }
    uint64_t item = 0, ctrl = game_ctrl_guarded();
    if (ctrl && !guarded_call("road", [&] { item = game_fn<road_item_of_fn>(off_road_item_of)(ctrl, a.road); }))
        return;
    road_item r = item_fields(item);
    core_log("[core] roadevents apply: road %llx -> item %p (type %u, loaded %u), wc %p", (unsigned long long)a.road,
             (void *)(uintptr_t)item, r.type, r.loaded, (void *)(uintptr_t)world_controller());
    if (!item || r.type != item_type_road) {
        core_log("[core] roadevents apply: road item not found / not a road (not loaded here?)");
        return;
    }
    uint8_t result = 0;
    if (!guarded_call("apply", [&] {
            result = game_fn<apply_fn>(off_apply)(m, item, &a.token, a.seed, a.block, a.uid);
        }))
        return;
    core_log("[core] roadevents apply: returned %d", (int)result);
    roadevents_dump_active();
}

void roadevents_remove(uint64_t m, const char *text)
{
    uint64_t uid;
    const char *p = text;
    if (!text_parse_hex_u64(&p, &uid) || !text_at_end(p)) {
        core_log("%s", usage_line);
        return;
    }
    if (!guarded_call("remove", [&] { game_fn<remove_fn>(off_remove)(m, uid); }))
        return;
    core_log("[core] roadevents remove %llx: done", (unsigned long long)uid);
    roadevents_dump_active();
}

} // namespace

/* ---- the command ---- */

void roadevents_command(const dm_frame_info *info, const char *rest)
{
    const char *p = rest;
    while (*p == ' ' || *p == '\t')
        p++;
    bool apply = !strncmp(p, "apply ", 6), remove = !strncmp(p, "remove ", 7);
    if (text_at_end(p)) {
        roadevents_dump_active();
    } else if (!strcmp(p, "defs")) {
        roadevents_dump_defs();
    } else if (!strcmp(p, "near")) {
        roadevents_dump_near(info);
    } else if (apply || remove) {
        uint64_t m = manager();
        if (!m)
            core_log("[core] roadevents: no journey events manager");
        else if (apply)
            roadevents_apply(m, p + 6);
        else
            roadevents_remove(m, p + 7);
    } else {
        core_log("%s", usage_line);
    }
}
