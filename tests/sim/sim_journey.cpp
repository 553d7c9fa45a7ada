// The simulated game's journey: navigation and road events (layout in
// sim_journey.h).
//
// Index: state, navigation fakes, road-event fakes, install, navigation,
// road events.
#include "sim/sim_journey.h"
#include <math.h>

namespace sim {

namespace {

/* ---- state ---- */

constexpr int ahead_capacity = 64, records_capacity = 64, defs_capacity = 300;
constexpr uint32_t record_size = 144, table_index = 5, table_stride = 2;
constexpr double search_radius = 100.0;

struct road_node_at {
    double x, y, z;
    nav_node node;
};

struct journey_state {
    uint8_t *ctrl, *nav, *ahead;
    uint8_t *manager, *records, *def_list, *def_data, *table, *table_data, *session, *wc;
    std::vector<road_node_at> nodes;
    std::vector<uint8_t *> items, defs;
} js;

struct game_list {
    uint64_t marker, data, count, capacity;
};

uint64_t addr(const void *p) { return (uint64_t)(uintptr_t)p; }

/* ---- navigation fakes ---- */

uint64_t fake_nearest(uint64_t ctrl, nav_node *out, uint64_t zero, int32_t x, int32_t y, int32_t z, uint8_t flag,
                      uint64_t zero2, uint64_t one)
{
    record("nav_nearest", (uint64_t)(int64_t)x, (uint64_t)(int64_t)y, (uint64_t)(int64_t)z, flag);
    if (ctrl != addr(js.ctrl) || zero || zero2 || one != 1)
        record("nav_bad_args", ctrl, zero, zero2, one);
    double px = x / 256.0, pz = z / 256.0, best = search_radius;
    nav_node found = { 2, 0, 0, 2, 0 };
    for (auto &n : js.nodes) {
        double d = hypot(n.x - px, n.z - pz);
        if (d <= best) {
            best = d;
            found = n.node;
        }
    }
    *out = found;
    return addr(out);
}

uint64_t fake_route_set(uint64_t nav_block, int32_t mode, const game_list *start, const game_list *points,
                        uint64_t a, uint64_t b)
{
    uint64_t marker = addr(game_at(jny_off::list_marker));
    const nav_node *first = (const nav_node *)(uintptr_t)start->data;
    record("nav_route_set", nav_block, (uint64_t)(int64_t)mode, points->count, (uint64_t)(int64_t)first->type);
    if (nav_block != addr(js.nav) || start->marker != marker || points->marker != marker || start->count != 1 ||
        start->capacity != 1 || points->capacity != points->count || first->direction != 2 ||
        a != nav_block + nav::setter_a || b != nav_block + nav::setter_b)
        record("nav_bad_args", start->marker, points->marker, a, b);
    uint64_t n = points->count < ahead_capacity ? points->count : ahead_capacity;
    memcpy(js.ahead, (const void *)(uintptr_t)points->data, n * sizeof(nav_node));
    put<int32_t>(js.nav, nav::mode, mode);
    put<uint64_t>(js.nav, nav::ahead_count, n);
    put<int32_t>(js.nav, nav::revision, get<int32_t>(js.nav, nav::revision) + 1);
    return 1;
}

uint64_t fake_route_clear(uint64_t nav_block)
{
    record("nav_route_clear", nav_block);
    put<int32_t>(js.nav, nav::mode, 0);
    put<uint64_t>(js.nav, nav::ahead_count, 0);
    put<int32_t>(js.nav, nav::revision, get<int32_t>(js.nav, nav::revision) + 1);
    return 0;
}

/* ---- road-event fakes ---- */

constexpr uint32_t rec_item = 0x00, rec_block = 0x08, rec_def = 0x18, rec_set = 0x74, rec_seed = 0x78;
constexpr uint32_t rec_uid = 0x80, rec_flag = 0x88;
constexpr uint32_t mgr_events = 0x220, mgr_count = 0x228, mgr_next_uid = 0x240, mgr_holder = 0x16E8;

uint8_t *record_at(uint64_t i) { return js.records + i * record_size; }
uint64_t event_count() { return get<uint64_t>(js.manager, mgr_count); }

uint64_t fake_road_item_of(uint64_t ctrl, uint64_t road)
{
    record("road_item_of", ctrl, road);
    for (uint8_t *item : js.items)
        if (get<uint64_t>(item, 0x40) == road)
            return addr(item);
    return 0;
}

uint64_t fake_apply(uint64_t mgr, uint64_t item, const uint64_t *token, uint32_t seed, const uint32_t *block,
                    uint64_t uid)
{
    record("road_event_apply", item, *token, seed, uid);
    record("road_event_blocks", block[0], block[1], block[2], mgr);
    uint8_t *def = nullptr;
    for (uint8_t *d : js.defs)
        if (sim::get<uint64_t>(js.table_data, 8 * ((get<uint32_t>(d, 0x0C) & 0xFFFF) * table_stride + 1)) == *token)
            def = d;
    if (!def || event_count() >= records_capacity)
        return 0;
    road_event e = { (uint8_t *)(uintptr_t)item, def, { block[0], block[1], block[2] }, seed, uid, 0, 0 };
    road_event_add(e);
    return 1;
}

uint64_t fake_remove(uint64_t mgr, uint64_t uid)
{
    record("road_event_remove", mgr, uid);
    uint64_t n = event_count();
    for (uint64_t i = 0; i < n; i++) {
        if (get<uint64_t>(record_at(i), rec_uid) != uid)
            continue;
        memmove(record_at(i), record_at(i + 1), (n - i - 1) * record_size);
        memset(record_at(n - 1), 0, record_size);
        put<uint64_t>(js.manager, mgr_count, n - 1);
        break;
    }
    return 0;
}

} // namespace

/* ---- install ---- */

void journey_install(const player &p)
{
    js = journey_state();
    js.ctrl = p.ctrl;
    js.nav = p.ctrl + nav::in_ctrl;
    js.ahead = object_new(ahead_capacity * sizeof(nav_node));
    put<uint64_t>(js.nav, nav::ahead, addr(js.ahead));

    js.manager = object_new(0x1800);
    js.records = object_new(records_capacity * record_size);
    put<uint64_t>(js.manager, mgr_events, addr(js.records));
    put<uint64_t>(js.manager, mgr_next_uid, 1);
    uint8_t *holder = object_new(0x40);
    js.def_list = object_new(0x28);
    js.def_data = object_new(defs_capacity * 8);
    put<uint64_t>(js.manager, mgr_holder, addr(holder));
    put<uint64_t>(holder, 0x38, addr(js.def_list));
    put<uint64_t>(js.def_list, 0x18, addr(js.def_data));
    game_put<uint64_t>(jny_off::journey_manager, addr(js.manager));

    js.table = object_new(0x90);
    js.table_data = object_new(defs_capacity * table_stride * 8);
    put<uint64_t>(js.table, 0, addr(js.table_data));
    put<uint8_t>(js.table, 0x88, (uint8_t)table_stride);
    game_put<uint64_t>(jny_off::handle_tables + 8 * table_index, addr(js.table));

    // One object at this offset: the convoy's world controller when it stands there.
    js.session = (uint8_t *)(uintptr_t)game_get<uint64_t>(jny_off::session);
    if (!js.session)
        js.session = object_new(0x400);
    js.wc = object_new(0x100);
    put<uint64_t>(js.session, 0x2D0, addr(js.wc));
    game_put<uint64_t>(jny_off::session, addr(js.session));

    game_function(jny_off::nearest_node, (void *)fake_nearest);
    game_function(jny_off::route_set, (void *)fake_route_set);
    game_function(jny_off::route_clear, (void *)fake_route_clear);
    game_function(jny_off::road_item_of, (void *)fake_road_item_of);
    game_function(jny_off::event_apply, (void *)fake_apply);
    game_function(jny_off::event_remove, (void *)fake_remove);
}

uint8_t *journey_manager() { return js.manager; }
uint8_t *world_controller() { return js.wc; }
void journey_manager_remove() { game_put<uint64_t>(jny_off::journey_manager, 0); }

/* ---- navigation ---- */

void road_node_add(double x, double y, double z, const nav_node &node) { js.nodes.push_back({ x, y, z, node }); }

void nav_set(int32_t mode, const std::vector<nav_node> &ahead)
{
    memcpy(js.ahead, ahead.data(), ahead.size() * sizeof(nav_node));
    put<int32_t>(js.nav, nav::mode, mode);
    put<uint64_t>(js.nav, nav::ahead_count, ahead.size());
}

std::vector<nav_node> nav_ahead()
{
    const nav_node *a = (const nav_node *)js.ahead;
    return std::vector<nav_node>(a, a + get<uint64_t>(js.nav, nav::ahead_count));
}

int32_t nav_mode() { return get<int32_t>(js.nav, nav::mode); }
int32_t nav_revision() { return get<int32_t>(js.nav, nav::revision); }
uint8_t *navigation() { return js.nav; }

/* ---- road events ---- */

uint64_t sim_token(const char *name)
{
    static const char alphabet[] = "0123456789abcdefghijklmnopqrstuvwxyz_";
    uint64_t value = 0, scale = 1;
    for (const char *c = name; *c; c++, scale *= 38)
        value += (uint64_t)(strchr(alphabet, *c) - alphabet + 1) * scale;
    return value;
}

uint8_t *road_item_new(uint64_t road, uint8_t type, bool loaded, const float min[3], const float max[3])
{
    uint8_t *item = object_new(0x60);
    put<uint8_t>(item, 0x0A, type);
    memcpy(item + 0x0C, min, 12);
    memcpy(item + 0x20, max, 12);
    put<uint64_t>(item, 0x40, road);
    put<uint8_t>(item, 0x5F, loaded ? 0x81 : 0x80); // bit 7 set: only bit 0 is the loaded flag
    js.items.push_back(item);
    return item;
}

uint8_t *road_event_def_new(const char *name)
{
    uint32_t n = (uint32_t)js.defs.size();
    uint8_t *def = object_new(0x40);
    put<uint32_t>(def, 0x0C, (table_index << 20) | n);
    put<uint64_t>(js.table_data, 8 * ((n + 1) * table_stride - 1), sim_token(name));
    put<uint64_t>(js.table_data, 8 * ((n + 1) * table_stride - 2), 0xDEC0DEDEC0DEull);
    js.defs.push_back(def);
    put<uint64_t>(js.def_data, 8 * n, addr(def));
    put<uint64_t>(js.def_list, 0x20, js.defs.size());
    return def;
}

void road_event_add(const road_event &e)
{
    uint64_t n = event_count();
    uint8_t *r = record_at(n);
    put<uint64_t>(r, rec_item, addr(e.item));
    memcpy(r + rec_block, e.block, 12);
    put<uint64_t>(r, rec_def, addr(e.def));
    put<int32_t>(r, rec_set, e.set);
    put<uint32_t>(r, rec_seed, e.seed);
    put<uint64_t>(r, rec_uid, e.uid);
    put<uint8_t>(r, rec_flag, e.flag);
    put<uint64_t>(js.manager, mgr_count, n + 1);
    if (get<uint64_t>(js.manager, mgr_next_uid) <= e.uid)
        put<uint64_t>(js.manager, mgr_next_uid, e.uid + 1);
}

std::vector<road_event> road_events()
{
    std::vector<road_event> out;
    for (uint64_t i = 0; i < event_count(); i++) {
        uint8_t *r = record_at(i);
        road_event e = {};
        e.item = (uint8_t *)(uintptr_t)get<uint64_t>(r, rec_item);
        e.def = (uint8_t *)(uintptr_t)get<uint64_t>(r, rec_def);
        memcpy(e.block, r + rec_block, 12);
        e.seed = get<uint32_t>(r, rec_seed);
        e.uid = get<uint64_t>(r, rec_uid);
        e.set = get<int32_t>(r, rec_set);
        e.flag = get<uint8_t>(r, rec_flag);
        out.push_back(e);
    }
    return out;
}

} // namespace sim
