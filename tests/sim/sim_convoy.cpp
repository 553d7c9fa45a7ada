// The simulated game's convoy remote vehicles (see sim_convoy.h).
//
// Index
//   state        what convoy_install made, the netobjs
//   the netobj   its table's slots, its vehicle's slots, the factory
//   the world    server_config, the getter, the pending flush, the frame's tick
//   install      convoy_install, convoy_forget
//   control      the world, faults, what tests read
#include "sim/sim_convoy.h"
#include "sim/sim_draw.h"
#include "sim/sim_props.h"
#include "sim/sim_vehicles_internal.h"
#include <string.h>

namespace sim {
namespace {

/* ---- state ---- */

const uint32_t faulting_stub = 0x1100;   /* the vehicle world's faulting stub (sim_vehicles.h) */
const uint32_t link_array_table = 0x1200; /* this simulation's: the links' array table, in the image */
const int ctrl_capacity = 16;
const size_t wc_size = 0x400, ctrl_size = 0x100, clock_size = 0xC00, netobj_size = 0x300, vehicle_size = 0x300;
const int netobj_slot_free = 0, netobj_slot_add = 4, netobj_slot_remove = 5, netobj_slot_apply = 6;
const int vehicle_slot_build = 13, vehicle_slot_step = 16;

bool installed;
convoy cv;
uint8_t *ctrl_data;
uint8_t *game_ctrl_object;
uint8_t *player_block;
bool game_steps = true;
uint16_t timezone_count = 4;
uint64_t stamp_counter;
bool faults[9];
void **rv_vtable;
std::vector<convoy_netobj> netobjs;

bool fault(convoy_call c) { return faults[(int)c]; }
uint64_t addr(const void *p) { return (uint64_t)(uintptr_t)p; }
uint8_t *ptr(uint64_t a) { return (uint8_t *)(uintptr_t)a; }

convoy_netobj *record_of(uint64_t netobj)
{
    for (auto &n : netobjs)
        if (addr(n.netobj) == netobj)
            return &n;
    return nullptr;
}
convoy_netobj *record_of_vehicle(uint64_t vehicle)
{
    for (auto &n : netobjs)
        if (addr(n.vehicle) == vehicle)
            return &n;
    return nullptr;
}

/* the controller's array */
void ctrl_list(uint8_t *vehicle)
{
    if (!cv.ctrl)
        return;
    uint64_t n = get<uint64_t>(cv.ctrl, tc_f::count);
    uint8_t *data = ptr(get<uint64_t>(cv.ctrl, tc_f::array));
    if (n >= (uint64_t)ctrl_capacity)
        return;
    put<uint64_t>(data, (uint32_t)(8 * n), addr(vehicle));
    put<uint64_t>(cv.ctrl, tc_f::count, n + 1);
}
void ctrl_unlist(uint8_t *vehicle)
{
    if (!cv.ctrl)
        return;
    uint64_t n = get<uint64_t>(cv.ctrl, tc_f::count);
    uint8_t *data = ptr(get<uint64_t>(cv.ctrl, tc_f::array));
    for (uint64_t i = 0; i < n; i++) {
        if (get<uint64_t>(data, (uint32_t)(8 * i)) != addr(vehicle))
            continue;
        memmove(data + 8 * i, data + 8 * i + 8, (size_t)(n - i - 1) * 8);
        put<uint64_t>(cv.ctrl, tc_f::count, n - 1);
        return;
    }
}

/* ---- the netobj ---- */

uint64_t netobj_add(uint64_t netobj, uint64_t arg, uint64_t, uint64_t)
{
    record("rv_add", netobj, arg);
    convoy_netobj *n = record_of(netobj);
    if (n && !n->listed) {
        n->listed = true;
        ctrl_list(n->vehicle);
        if (unit *u = unit_of(n->netobj))
            u->added = 1;
    }
    return 0;
}

uint64_t netobj_remove(uint64_t netobj, uint64_t arg, uint64_t, uint64_t)
{
    record("rv_remove", netobj, arg);
    convoy_netobj *n = record_of(netobj);
    if (n && n->listed) {
        n->listed = false;
        ctrl_unlist(n->vehicle);
        if (unit *u = unit_of(n->netobj))
            u->added = 0;
    }
    return 0;
}

uint64_t netobj_free(uint64_t netobj, uint64_t arg, uint64_t, uint64_t)
{
    record("rv_free", netobj, arg);
    convoy_netobj *n = record_of(netobj);
    if (!n)
        return 0;
    // The unit's destroy counts a second free and a free while listed.
    unit_destroy(n->netobj);
    if (!n->freed)
        unit_release(n->link);
    n->freed = true;
    return 0;
}

const void *apply_faults_on;
volatile uintptr_t apply_fault_address = fault_data_address;

uint64_t netobj_apply(uint64_t netobj, uint64_t, uint64_t, uint64_t)
{
    record("rv_apply", netobj);
    if (apply_faults_on && netobj == addr(apply_faults_on))
        return *(volatile uint64_t *)apply_fault_address; // the game faults on this one
    convoy_netobj *n = record_of(netobj);
    if (!n)
        return 0;
    n->applies++;
    memcpy(n->vehicle + rv_f::pose, n->netobj + no_f::key_current, 32);
    return 0;
}

uint64_t vehicle_build(uint64_t vehicle, uint64_t, uint64_t, uint64_t)
{
    record("rv_build", vehicle);
    uint8_t *v = ptr(vehicle);
    uint8_t *model = vehicle_model_new(false), *physics = object_new(0x100);
    put<uint8_t>(physics, rv_f::physics_state, 1);
    put<uint8_t>(physics, rv_f::physics_requested, 2);
    put<uint64_t>(v, rv_f::model, addr(model));
    put<uint64_t>(v, rv_f::physics, addr(physics));
    put<uint16_t>(v, rv_f::flags, 0x0101);
    if (convoy_netobj *n = record_of_vehicle(vehicle))
        n->builds++;
    return 0;
}

uint64_t vehicle_step(uint64_t vehicle, uint64_t a, uint64_t b, uint64_t)
{
    record("rv_step", vehicle, a, b);
    put<uint64_t>(ptr(vehicle), rv_f::stamp, ++stamp_counter);
    if (convoy_netobj *n = record_of_vehicle(vehicle))
        n->steps++;
    return 0;
}

void set_slot(void **vt, int slot, void *fake, bool faulting) { vtable_set(vt, slot, faulting ? game_at(faulting_stub) : fake); }

void netobj_table()
{
    void **vt = vtable_at(cv_off::netobj_vtable, 8);
    set_slot(vt, netobj_slot_free, (void *)netobj_free, fault(convoy_call::free));
    set_slot(vt, netobj_slot_add, (void *)netobj_add, fault(convoy_call::add));
    set_slot(vt, netobj_slot_remove, (void *)netobj_remove, fault(convoy_call::remove));
    set_slot(vt, netobj_slot_apply, (void *)netobj_apply, fault(convoy_call::apply));
    set_slot(rv_vtable, vehicle_slot_build, (void *)vehicle_build, fault(convoy_call::build));
    set_slot(rv_vtable, vehicle_slot_step, (void *)vehicle_step, fault(convoy_call::step));
}

uint64_t fake_factory(uint64_t owner, uint64_t id, uint64_t placement, uint64_t)
{
    uint32_t low = get<uint32_t>(ptr(id), 0);
    record("rv_factory", owner, low, placement);
    if (fault(convoy_call::factory_null))
        return 0;
    uint8_t *netobj = object_new(netobj_size, (void **)game_at(cv_off::netobj_vtable));
    unit_add(netobj, unit_type::netobj, nullptr);
    uint8_t *vehicle = object_new(vehicle_size, rv_vtable);
    uint8_t *link = def_new(def_kind::vehicle);
    // The link's array table lives in the image, as the game's own does.
    void **table = vtable_at(link_array_table, unit_vtable_slots);
    void **made = (void **)(uintptr_t)get<uint64_t>(link, vdef::accessories);
    for (int i = 0; i < unit_vtable_slots; i++)
        table[i] = made[i];
    put<uint64_t>(link, vdef::accessories, addr(table));
    owned_release(addr(made)); // the table it made is freed for the image's
    unit_ref(link);
    put<uint32_t>(netobj, no_f::id, low);
    put<uint16_t>(netobj, no_f::id_high, 0x10);
    put<uint32_t>(netobj, no_f::status, 0x03);
    put<uint64_t>(netobj, no_f::vehicle, addr(vehicle));
    put<uint64_t>(netobj, no_f::link, addr(link));
    put<uint64_t>(vehicle, rv_f::definition, addr(link));
    put<uint8_t>(vehicle, rv_f::flags2, 0x02);
    memcpy(netobj + no_f::key_current, ptr(placement), 32);
    convoy_netobj n = { netobj, vehicle, link, owner, low, false, false, 0, 0, 0 };
    netobjs.push_back(n);
    return addr(netobj);
}

/* ---- the world ---- */

uint64_t fake_server_config_create(uint64_t factory, uint64_t, uint64_t, uint64_t)
{
    if (fault(convoy_call::server_config_null)) {
        record("create_unit", preferred_base + cv_off::server_config_class, factory);
        return 0;
    }
    uint8_t *sc = counted_unit_create(cv_off::server_config_class, factory, 0x300, unit_vtable_new());
    if (sc)
        put<uint16_t>(sc, sc_f::max_players, 8);
    return addr(sc);
}

uint64_t fake_pending_flush(uint64_t ctrl, uint64_t, uint64_t, uint64_t)
{
    record("rv_flush", ctrl);
    put<uint64_t>(ptr(ctrl), tc_f::pending, 0);
    return 0;
}

uint8_t *new_ctrl()
{
    uint8_t *c = object_new(ctrl_size);
    ctrl_data = object_new(8 * ctrl_capacity);
    put<uint64_t>(c, tc_f::array, addr(ctrl_data));
    return c;
}

} // namespace

void convoy_frame_tick()
{
    if (!installed)
        return;
    // The sim clock follows the simulated frames.
    put<uint64_t>(cv.clock, 0xB38, (uint64_t)(clock_now() * 1e6));
    uint8_t *c = ptr(game_get<uint64_t>(cv_off::truck_ctrl));
    if (!c)
        return;
    // The ticked list: the listed vehicles that can be stepped.
    uint64_t n = get<uint64_t>(c, tc_f::count), ticked = 0;
    uint8_t *data = ptr(get<uint64_t>(c, tc_f::array));
    for (uint64_t i = 0; i < n; i++) {
        uint8_t *v = ptr(get<uint64_t>(data, (uint32_t)(8 * i)));
        if (!v || !(get<uint8_t>(v, rv_f::flags2) & 0x02))
            continue;
        ticked++;
        if (game_steps)
            put<uint64_t>(v, rv_f::stamp, ++stamp_counter);
    }
    put<uint64_t>(c, tc_f::ticked, ticked);
}

uint64_t convoy_getter_answer(uint64_t setting, bool *answered)
{
    *answered = installed && setting == addr(game_at(cv_off::timezone_setting));
    return *answered ? timezone_count : 0;
}

/* ---- install ---- */

void convoy_forget()
{
    installed = false;
    cv = convoy {};
    netobjs.clear();
    game_steps = true;
    timezone_count = 4;
    memset(faults, 0, sizeof faults);
    apply_faults_on = nullptr;
    game_ctrl_object = player_block = nullptr;
}

convoy convoy_install(const player &p)
{
    convoy_forget();
    game_ctrl_object = p.ctrl;
    player_block = p.block;
    rv_vtable = vtable_new(20);
    // One world controller: the journey's object when it stands there.
    cv.wc = ptr(game_get<uint64_t>(cv_off::world_controller));
    if (!cv.wc) {
        cv.wc = object_new(wc_size);
        game_put<uint64_t>(cv_off::world_controller, addr(cv.wc));
    }
    cv.ctrl = new_ctrl();
    game_put<uint64_t>(cv_off::truck_ctrl, addr(cv.ctrl));
    put<uint64_t>(p.ctrl, cv_off::ctrl_truck_ctrl, addr(cv.ctrl));
    cv.clock = object_new(clock_size);
    game_put<uint64_t>(cv_off::clock, addr(cv.clock));
    cv.network_game = nullptr;
    game_function_faulting(faulting_stub);
    game_function(cv_off::factory, (void *)fake_factory);
    game_function(cv_off::pending_flush, (void *)fake_pending_flush);
    put<uint64_t>(game_at(cv_off::server_config_class), 8, addr((void *)fake_server_config_create));
    installed = true;
    netobj_table();
    // The getter, which also answers the render thread's light test.
    light_test_install();
    return cv;
}

convoy convoy_state() { return cv; }

/* ---- control ---- */

void convoy_network_game(bool on)
{
    if (on && !cv.network_game)
        cv.network_game = object_new(0x100);
    put<uint64_t>(cv.wc, wc_f::network_game, on ? addr(cv.network_game) : 0);
}

void convoy_network_session(bool on)
{
    convoy_network_game(on);
    uint8_t *info = nullptr, *rules = nullptr;
    if (on) {
        // The game's own objects: a player info without our tag, the
        // session's server_config.
        info = object_new(0x400, vtable_new(8));
        rules = object_new(0x300, unit_vtable_new());
        unit_add(rules, unit_type::vehicle, game_at(cv_off::server_config_class));
        put<uint16_t>(rules, sc_f::max_players, 8);
    }
    put<uint64_t>(cv.wc, wc_f::player_info, addr(info));
    put<uint64_t>(cv.wc, wc_f::rules, addr(rules));
}

void convoy_ctrl_remove()
{
    game_put<uint64_t>(cv_off::truck_ctrl, 0);
    if (game_ctrl_object)
        put<uint64_t>(game_ctrl_object, cv_off::ctrl_truck_ctrl, 0);
    cv.ctrl = nullptr;
}

uint8_t *convoy_ctrl_new(bool also_in_game_ctrl)
{
    cv.ctrl = new_ctrl();
    game_put<uint64_t>(cv_off::truck_ctrl, addr(cv.ctrl));
    if (also_in_game_ctrl && game_ctrl_object)
        put<uint64_t>(game_ctrl_object, cv_off::ctrl_truck_ctrl, addr(cv.ctrl));
    return cv.ctrl;
}

void convoy_game_steps(bool on) { game_steps = on; }
void convoy_timezones(uint16_t count) { timezone_count = count; }

void convoy_owner(uint64_t owner)
{
    if (!player_block)
        return;
    uint8_t *object = owner ? object_new(0x40) : nullptr;
    if (object)
        put<uint64_t>(object, 8, owner);
    put<uint64_t>(player_block, cv_off::player_network, addr(object));
}

std::vector<convoy_netobj> convoy_netobjs() { return netobjs; }
size_t convoy_records_bytes() { return netobjs.capacity() * sizeof(convoy_netobj); }

std::vector<uint8_t *> convoy_listed()
{
    std::vector<uint8_t *> out;
    if (!cv.ctrl)
        return out;
    uint64_t n = get<uint64_t>(cv.ctrl, tc_f::count);
    uint8_t *data = ptr(get<uint64_t>(cv.ctrl, tc_f::array));
    for (uint64_t i = 0; i < n; i++)
        out.push_back(ptr(get<uint64_t>(data, (uint32_t)(8 * i))));
    return out;
}

void convoy_fault_apply_on(const void *netobj) { apply_faults_on = netobj; }

void convoy_fault(convoy_call call, bool on)
{
    faults[(int)call] = on;
    if (call == convoy_call::factory)
        on ? (void)game_function_faulting(cv_off::factory) : (void)game_function(cv_off::factory, (void *)fake_factory);
    else
        netobj_table();
}

} // namespace sim
