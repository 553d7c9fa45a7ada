// The simulated game's trailer actors (see sim_vehicles.h): the factory's
// trailer actors and their table, chained parts, coupling, kingpin,
// dynamic cargo and chained definitions.
#include "sim/sim_vehicles_internal.h"

namespace sim {

/* ---- trailer actors ---- */

namespace {

const size_t physics_data_size = 0x74C;
int actor_parts = 0;

uint64_t t_slot_328(uint64_t actor, int value)
{
    record("slot_328", actor, (uint64_t)value);
    return 0;
}
uint64_t fake_cargo_delete(uint64_t object, int value)
{
    record("cargo_delete", object, (uint64_t)value);
    return 0;
}

uint64_t fake_create_trailer(uint64_t factory, uint64_t, uint64_t, uint64_t)
{
    uint8_t *a = counted_unit_create(trl::class_record, factory, vdef::trailer_actor_size,
                                     (void **)game_at(off::trailer_actor_vtable));
    uint8_t *parent = a;
    for (int i = 0; a && i < actor_parts; i++)
        parent = trailer_part_new(parent);
    return (uint64_t)(uintptr_t)a;
}

} // namespace

void trailer_install()
{
    actor_parts = 0;
    void **vt = vtable_at(off::trailer_actor_vtable, unit_vtable_slots);
    unit_vtable_fill(vt, nullptr);
    struct { uint32_t slot; void *fn; } slots[] = {
        { 0x60, (void *)v_set_data }, { 0x68, (void *)v_continue_loading }, { 0x78, (void *)v_is_loaded },
        { 0x80, (void *)v_finalize }, { 0xA8, (void *)v_update }, { 0xE8, (void *)v_get_placement },
        { 0x110, (void *)v_set_placement }, { 0x328, (void *)t_slot_328 },
        { 96 * 8, (void *)v_draw }, { 43 * 8, (void *)v_shadow },
    };
    for (auto &sl : slots)
        vtable_set(vt, (int)(sl.slot / 8), sl.fn);
    put<uint64_t>(game_at(trl::class_record), 8, (uint64_t)(uintptr_t)fake_create_trailer);
}

void trailer_actor_parts(int n) { actor_parts = n; }

uint8_t *trailer_part_new(uint8_t *parent)
{
    uint8_t *part = object_new(vdef::trailer_actor_size, (void **)game_at(off::trailer_actor_vtable));
    unit_add(part, unit_type::actor, game_at(off::trailer_actor_class));
    put<uint64_t>(parent, trl::next_part, (uint64_t)(uintptr_t)part);
    return part;
}

void trailer_couple(uint8_t *actor, const void *truck, bool joint)
{
    put<uint64_t>(actor, trl::coupled_to, (uint64_t)(uintptr_t)truck);
    put<uint64_t>(actor, trl::joint, joint ? (uint64_t)(uintptr_t)object_new(0x40) : 0);
}

void trailer_kingpin(uint8_t *actor, float x, float y, float z)
{
    uint8_t *physics = object_new(physics_data_size);
    put<float>(physics, trl::physics_kingpin, x);
    put<float>(physics, trl::physics_kingpin + 4, y);
    put<float>(physics, trl::physics_kingpin + 8, z);
    put<uint64_t>(actor, trl::physics, (uint64_t)(uintptr_t)physics);
}

uint8_t *dynamic_cargo_new(uint8_t *part)
{
    void **vt = vtable_new(4);
    vtable_set(vt, 0, (void *)fake_cargo_delete);
    uint8_t *cargo = object_new(0x20, vt);
    put<uint64_t>(part, trl::dynamic_cargo, (uint64_t)(uintptr_t)cargo);
    return cargo;
}

void def_chain(uint8_t *def, uint8_t *next)
{
    unit_ref(next);
    put<uint64_t>(def, trl::def_next, (uint64_t)(uintptr_t)next);
}

} // namespace sim
