// The simulated game's physics vehicles (see sim_vehicles.h), the world
// that installs the whole vehicle world, and the player's vehicles.
//
// Index
//   physics vehicles  the class, its table's slots, bodies, wheels,
//                steering, collision arrays, the game's list of vehicles
//   world        vehicle_world_install, the player
#include "sim/sim_vehicles_internal.h"
#include <map>
#include <vector>

namespace sim {

/* ---- physics vehicles ---- */

namespace {

/* Up to the draw (96) and shadow (43) slots. */
const int vehicle_slots = 97;
const int slot_shadow = 43, slot_draw = 96;
const uint32_t faulting_stub_offset = 0x1100;
const size_t body_size = 0x200, wheel_block_size = 0x318;
void **physics_vtable;
int loaded_after = 1;
std::map<const void *, std::vector<placement32>> placements_set;
std::map<const void *, placement32> placement_kept;

uint32_t f32_bits(float f)
{
    uint32_t b;
    memcpy(&b, &f, 4);
    return b;
}

} // namespace

uint64_t v_set_data(uint64_t vehicle, uint64_t def, uint32_t flags)
{
    record("set_data", vehicle, def, flags);
    unit_ref((const void *)(uintptr_t)def);
    put<uint64_t>((void *)(uintptr_t)vehicle, phys::definition, def);
    return 0;
}
uint64_t v_continue_loading(uint64_t vehicle)
{
    record("continue_loading", vehicle);
    uint8_t *v = (uint8_t *)(uintptr_t)vehicle;
    put<uint32_t>(v, phys::load_state, get<uint32_t>(v, phys::load_state) + 1);
    return 0;
}
bool v_is_loaded(uint64_t vehicle)
{
    record("is_loaded", vehicle);
    uint32_t loads = get<uint32_t>((void *)(uintptr_t)vehicle, phys::load_state);
    return loaded_after >= 0 && loads >= (uint32_t)loaded_after;
}
uint64_t v_finalize(uint64_t vehicle, uint64_t def, uint32_t flags)
{
    record("finalize", vehicle, def, flags);
    return 0;
}
uint64_t v_update(uint64_t vehicle)
{
    record("update", vehicle, get<uint32_t>((void *)(uintptr_t)vehicle, phys::lights));
    return 0;
}
uint64_t v_get_placement(uint64_t vehicle, placement32 *out)
{
    record("vehicle_get_placement", vehicle);
    *out = placement_kept[(const void *)(uintptr_t)vehicle];
    return 1;
}
uint64_t v_set_placement(uint64_t vehicle, const placement32 *p)
{
    record("set_placement", vehicle);
    placement_kept[(const void *)(uintptr_t)vehicle] = *p;
    placements_set[(const void *)(uintptr_t)vehicle].push_back(*p);
    return 0;
}
size_t physics_records_bytes()
{
    // A map node: its pair and about four words of the tree's own.
    const size_t node = 4 * sizeof(void *);
    size_t bytes = placement_kept.size() * (sizeof(std::pair<const void *, placement32>) + node);
    for (auto &v : placements_set)
        bytes += sizeof(v) + node + v.second.capacity() * sizeof(placement32);
    return bytes;
}
/* The game's draw and shadow of a vehicle or trailer actor read the object
 * and its definition all through the call (sweeps over the object), so a
 * call that runs into the object's release faults; they count in the units'
 * draw records. */
namespace {

const int draw_sweeps = 8, shadow_sweeps = 2;

void read_through(uint64_t object, int sweeps)
{
    volatile uint64_t sum = 0;
    const volatile uint64_t *words = (const volatile uint64_t *)(uintptr_t)object;
    // Both kinds are at least a trailer actor long.
    const size_t n = vdef::trailer_actor_size / 8;
    for (int k = 0; k < sweeps; k++) {
        for (size_t i = 0; i < n; i++)
            sum = sum + words[i];
        uint64_t def = words[phys::definition / 8];
        if (def)
            sum = sum + *(const volatile uint32_t *)(uintptr_t)(def + vdef::ref_word);
    }
}

} // namespace

void v_draw(uint64_t vehicle, uint64_t, uint64_t, uint64_t)
{
    unit_draw_begin((const void *)(uintptr_t)vehicle);
    read_through(vehicle, draw_sweeps);
    unit_draw_end((const void *)(uintptr_t)vehicle, false);
}

void v_shadow(uint64_t vehicle, uint64_t, uint64_t, float)
{
    unit_draw_begin((const void *)(uintptr_t)vehicle);
    read_through(vehicle, shadow_sweeps);
    unit_draw_end((const void *)(uintptr_t)vehicle, true);
}

namespace {

uint64_t fake_pre_add(uint64_t vehicle, uint64_t, uint64_t, uint64_t)
{
    record("pre_add", vehicle);
    return 0;
}
uint64_t fake_ctrl_add(uint64_t ctrl, uint64_t vehicle, uint64_t, uint64_t)
{
    record("ctrl_add_vehicle", ctrl, vehicle, get<uint8_t>((void *)(uintptr_t)vehicle, phys::finalize_byte));
    if (unit *u = unit_of((void *)(uintptr_t)vehicle))
        u->added = 1;
    return 0;
}
uint64_t fake_ctrl_remove(uint64_t ctrl, uint64_t vehicle, uint64_t, uint64_t)
{
    record("ctrl_remove_vehicle", ctrl, vehicle);
    if (observer)
        observer((const void *)(uintptr_t)vehicle);
    if (unit *u = unit_of((void *)(uintptr_t)vehicle)) {
        u->removed_unadded += !u->added;
        u->added = 0;
    }
    return 0;
}
uint64_t fake_body_settle(uint64_t body, int steps)
{
    record("body_settle", body, (uint64_t)steps);
    return 0;
}
uint64_t fake_body_190(uint64_t body, uint32_t zero, float f, const uint8_t *p)
{
    static const uint8_t zeros[16] = {};
    record("body_190", body, zero, f32_bits(f), p && memcmp(p, zeros, 16) == 0);
    return 0;
}
uint64_t fake_body_1c0(uint64_t body, float f)
{
    record("body_1c0", body, f32_bits(f));
    return 0;
}
uint64_t fake_child_48(uint64_t child)
{
    record("child_48", child);
    return 0;
}
uint64_t fake_steer(uint64_t object, float value, int one)
{
    record("steer", object, f32_bits(value), (uint64_t)one);
    return 0;
}
uint64_t fake_collide_on(uint64_t element)
{
    record("collide_on", element);
    return 0;
}
uint64_t fake_collide_off(uint64_t element)
{
    record("collide_off", element);
    return 0;
}
uint64_t fake_create_vehicle(uint64_t factory, uint64_t, uint64_t, uint64_t)
{
    uint8_t *v = counted_unit_create(phys::class_record, factory, phys::vehicle_size, physics_vtable);
    if (v)
        put<uint8_t>(v, phys::finalize_byte, 1);
    return (uint64_t)(uintptr_t)v;
}

void physics_install()
{
    loaded_after = 1;
    placements_set.clear();
    placement_kept.clear();
    class_init(game_at(phys::cab_class), "cab_class", nullptr);
    class_init(game_at(phys::chained_class), "chained_class", game_at(phys::cab_class));
    class_init(game_at(phys::class_record), "game_physics_vehicle", game_at(phys::chained_class));
    put<uint64_t>(game_at(phys::class_record), 8, (uint64_t)(uintptr_t)fake_create_vehicle);
    physics_vtable = vtable_new(vehicle_slots);
    unit_vtable_fill(physics_vtable, nullptr);
    struct { uint32_t slot; void *fn; } slots[] = {
        { 0x60, (void *)v_set_data }, { 0x68, (void *)v_continue_loading }, { 0x78, (void *)v_is_loaded },
        { 0x80, (void *)v_finalize }, { 0xA8, (void *)v_update }, { 0xE8, (void *)v_get_placement },
        { 0x110, (void *)v_set_placement },
    };
    for (auto &sl : slots)
        vtable_set(physics_vtable, (int)(sl.slot / 8), sl.fn);
    vtable_set(physics_vtable, slot_draw, (void *)v_draw);
    vtable_set(physics_vtable, slot_shadow, (void *)v_shadow);
    game_function(phys::pre_add, (void *)fake_pre_add);
    game_function(phys::ctrl_add, (void *)fake_ctrl_add);
    game_function(phys::ctrl_remove, (void *)fake_ctrl_remove);
    game_function(phys::body_settle, (void *)fake_body_settle);
    game_function(phys::steer, (void *)fake_steer);
    game_function_faulting(faulting_stub_offset);
}

} // namespace

void vehicle_loaded_after(int n) { loaded_after = n; }
void vehicle_slot_faulting(uint32_t slot_offset)
{
    vtable_set(physics_vtable, (int)(slot_offset / 8), game_at(faulting_stub_offset));
}
void **vehicle_vtable() { return physics_vtable; }
std::vector<placement32> vehicle_placements(const void *vehicle)
{
    auto it = placements_set.find(vehicle);
    return it == placements_set.end() ? std::vector<placement32>{} : it->second;
}
void vehicle_set_placement(const void *vehicle, const placement32 &p) { placement_kept[vehicle] = p; }
bool vehicle_listed(const void *vehicle)
{
    unit *u = unit_of(vehicle);
    return u && u->added;
}

uint8_t *body_new(int children, bool null_child)
{
    void **vt = vtable_new(vtable_max_slots);
    vtable_set(vt, 0x190 / 8, (void *)fake_body_190);
    vtable_set(vt, 0x1C0 / 8, (void *)fake_body_1c0);
    uint8_t *body = object_new(body_size, vt);
    void **child_vt = vtable_new(16);
    vtable_set(child_vt, 0x48 / 8, (void *)fake_child_48);
    uint8_t *list = object_new((size_t)(children ? children : 1) * 8);
    for (int i = 0; i < children; i++)
        put<uint64_t>(list, (uint32_t)(8 * i), null_child && i == 1 ? 0 : (uint64_t)(uintptr_t)object_new(0x20, child_vt));
    put<uint64_t>(body, 0x10, (uint64_t)(uintptr_t)list);
    put<uint64_t>(body, 0x18, (uint64_t)children);
    return body;
}

std::vector<uint8_t *> body_children(const uint8_t *body)
{
    std::vector<uint8_t *> out;
    const uint8_t *list = (const uint8_t *)(uintptr_t)get<uint64_t>(body, 0x10);
    for (uint64_t i = 0; i < get<uint64_t>(body, 0x18); i++)
        out.push_back((uint8_t *)(uintptr_t)get<uint64_t>(list, (uint32_t)(8 * i)));
    return out;
}

uint8_t *wheel_block_new(uint8_t *vehicle, uint64_t n, uint64_t angle_count, float k, const std::vector<float> &radii,
                         bool spins)
{
    uint8_t *block = object_new(wheel_block_size);
    put<float>(block, phys::wb_spin_to_angle, k);
    put<uint64_t>(block, phys::wb_count, n);
    put<uint64_t>(block, phys::wb_angle_count, angle_count);
    if (spins)
        put<uint64_t>(block, phys::wb_spins, (uint64_t)(uintptr_t)exact_buffer(4 * (n ? n : 1)));
    put<uint64_t>(block, phys::wb_angles, (uint64_t)(uintptr_t)exact_buffer(4 * (angle_count ? angle_count : 1)));
    put<uint64_t>(vehicle, phys::wheels, (uint64_t)(uintptr_t)block);
    uint8_t *def = (uint8_t *)(uintptr_t)get<uint64_t>(vehicle, phys::definition);
    if (def && !radii.empty()) {
        float *r = (float *)exact_buffer(4 * radii.size());
        memcpy(r, radii.data(), 4 * radii.size());
        put<uint64_t>(def, phys::def_radii, (uint64_t)(uintptr_t)r);
        put<uint64_t>(def, phys::def_radius_count, radii.size());
    }
    return block;
}

float *wheel_spins(const uint8_t *block) { return (float *)(uintptr_t)get<uint64_t>(block, phys::wb_spins); }
float *wheel_angles(const uint8_t *block) { return (float *)(uintptr_t)get<uint64_t>(block, phys::wb_angles); }

uint8_t *steering_object_new(uint8_t *vehicle)
{
    uint8_t *object = object_new(0x40);
    put<uint64_t>(vehicle, phys::steering_object, (uint64_t)(uintptr_t)object);
    return object;
}

uint8_t *vehicle_part_new(const void *class_object)
{
    uint8_t *part = object_new(phys::vehicle_size, unit_vtable_new());
    unit_add(part, unit_type::actor, class_object);
    return part;
}

std::vector<uint8_t *> collision_elements(uint8_t *part, uint32_t array_offset, int n, int null_at)
{
    void **vt = vtable_new(4);
    vtable_set(vt, 1, (void *)fake_collide_on);
    vtable_set(vt, 2, (void *)fake_collide_off);
    uint8_t *data = object_new((size_t)(n ? n : 1) * 8);
    std::vector<uint8_t *> out;
    for (int i = 0; i < n; i++) {
        uint8_t *e = i == null_at ? nullptr : object_new(0x10, vt);
        put<uint64_t>(data, (uint32_t)(8 * i), (uint64_t)(uintptr_t)e);
        out.push_back(e);
    }
    put<uint64_t>(part, array_offset + 8, (uint64_t)(uintptr_t)data);
    put<uint64_t>(part, array_offset + 0x10, (uint64_t)n);
    return out;
}

/* ---- world ---- */

void vehicle_world_install()
{
    units_install();
    definitions_install();

    struct { uint32_t offset; const char *name; uint32_t parent; } classes[] = {
        { veh_off::accessory_class, "accessory", 0 },
        { veh_off::part_accessory_class, "accessory_part", veh_off::accessory_class },
        { veh_off::paint_accessory_class, "accessory_paint", veh_off::accessory_class },
        { veh_off::wheel_accessory_class, "accessory_wheel", veh_off::accessory_class },
        { veh_off::cargo_accessory_class, "accessory_cargo", veh_off::accessory_class },
        { veh_off::part_data_class, "part_data", 0 },
        { veh_off::paint_data_class, "paint_data", 0 },
        { veh_off::wheel_data_class, "wheel_data", 0 },
        { veh_off::wheel_data_class_2, "wheel_data_pair", 0 },
        { veh_off::cargo_holder_data_class, "cargo_holder_data", 0 },
        { veh_off::cargo_class, "cargo", 0 },
        { veh_off::vehicle_def_class, "vehicle_def", 0 },
        { veh_off::trailer_def_class, "trailer_def", 0 },
        { off::trailer_actor_class, "game_trailer_actor", 0 },
    };
    for (auto &c : classes)
        class_init(game_at(c.offset), c.name, c.parent ? game_at(c.parent) : nullptr);

    physics_install();
    trailer_install();
}

void player_truck_def(const player &p, uint8_t *def)
{
    put<uint64_t>(p.truck, vdef::vehicle_definition, (uint64_t)(uintptr_t)def);
}

uint8_t *player_trailer_new(const player &p, uint8_t *def)
{
    uint8_t *actor = object_new(vdef::trailer_actor_size, (void **)game_at(off::trailer_actor_vtable));
    unit_add(actor, unit_type::actor, game_at(off::trailer_actor_class));
    put<uint64_t>(actor, vdef::vehicle_definition, (uint64_t)(uintptr_t)def);
    put<uint64_t>(p.block, vdef::player_trailer, (uint64_t)(uintptr_t)actor);
    return actor;
}

std::vector<uint8_t *> ctrl_trailer_defs(const player &p, int n)
{
    uint8_t *array = p.ctrl + vdef::ctrl_trailer_defs;
    array_init(array);
    std::vector<uint8_t *> out;
    uint8_t *cls = class_new("trailer_def_entry", nullptr);
    for (int i = 0; i < n; i++) {
        uint8_t *e = object_new(0x40, unit_vtable_new());
        unit_add(e, unit_type::entry, cls);
        array_push(array, e);
        out.push_back(e);
    }
    return out;
}

} // namespace sim
