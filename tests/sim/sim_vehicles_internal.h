/* What the files of the simulated game's vehicle world share inside
 * dm_sim.dll (not exported).
 *
 *   sim_units.cpp             units, strings, arrays, classes, the factory
 *   sim_vehicle_defs.cpp      accessories, definitions, data and their calls
 *   sim_physics_vehicles.cpp  physics vehicles, the world, the player
 *   sim_trailers.cpp          trailer actors */
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <string>
#include <vector>
#include "sim/sim_vehicles.h"

namespace sim {

const int unit_vtable_slots = 8;

/* sim_units.cpp: the registry of units */
enum class unit_type { accessory, definition, data, cargo_def, entry, actor, vehicle, netobj };

struct unit {
    uint8_t *object;
    unit_type type;
    accessory_kind kind; /* accessories */
    def_kind dkind;      /* definitions */
    const void *cls;
    int destroyed;
    int released_dead;
    int destroyed_drawing; /* its destroy came while a draw of it ran */
    /* vehicles */
    int added;          /* in the game's list of vehicles */
    int destroyed_added;
    int removed_unadded;
};

extern std::vector<unit> units;
extern void (*observer)(const void *object); /* removal_observer's */
unit *unit_of(const void *object);
unit &unit_add(uint8_t *object, unit_type type, const void *cls);
void unit_release(uint8_t *object);
void unit_ref(const void *object);
void unit_destroy(uint8_t *object);
/* sim_units.cpp: a draw or shadow call of the unit running (render thread) */
void unit_draw_begin(const void *object);
void unit_draw_end(const void *object, bool shadow);
int unit_being_drawn(const void *object);

/* sim_units.cpp: strings, arrays, classes and tables */
uint8_t *exact_buffer(size_t n);
void string_init(uint8_t *at, const char *text);
std::string string_text(const uint8_t *at);
void array_init(uint8_t *at);
/* Frees a table or buffer that a string or array made for itself (nothing
 * else, and each once); the destroy of a unit frees those of its own. */
void owned_release(uint64_t p);
void array_push(uint8_t *array, uint8_t *object);
std::vector<uint8_t *> array_elements(const uint8_t *array);
void class_init(uint8_t *at, const char *name, const void *parent);
void unit_vtable_fill(void **vt, void *clone);
void **unit_vtable_new();

/* sim_units.cpp: the factory; made_observer (null: none; cleared by
 * units_install) sees every counted unit it makes, with its class record */
uint8_t *counted_unit_create(uint32_t class_record, uint64_t factory, size_t size, void **vtable);
extern void (*made_observer)(uint8_t *object, uint32_t class_record);
/* sim_units.cpp: sees every counted unit of the factory destroyed (vehicles,
 * trailers, models), before its pages go (null: none; cleared by
 * units_install) */
extern void (*destroyed_observer)(uint8_t *vehicle);

/* sim_physics_vehicles.cpp: the slots trailer actors share with physics
 * vehicles */
uint64_t v_set_data(uint64_t vehicle, uint64_t def, uint32_t flags);
uint64_t v_continue_loading(uint64_t vehicle);
bool v_is_loaded(uint64_t vehicle);
uint64_t v_finalize(uint64_t vehicle, uint64_t def, uint32_t flags);
uint64_t v_update(uint64_t vehicle);
uint64_t v_get_placement(uint64_t vehicle, placement32 *out);
uint64_t v_set_placement(uint64_t vehicle, const placement32 *p);
/* The heap bytes of the placements kept and of those set, per vehicle. */
size_t physics_records_bytes();
void v_draw(uint64_t vehicle, uint64_t context, uint64_t, uint64_t);
void v_shadow(uint64_t vehicle, uint64_t a2, uint64_t light_word, float strength);

/* What vehicle_world_install runs, in its order. */
void units_install();       /* sim_units.cpp */
void definitions_install(); /* sim_vehicle_defs.cpp */
void trailer_install();     /* sim_trailers.cpp */

} // namespace sim
