/* The simulated game's wear values: what the damage commands read and reset
 * on the local truck's and the coupled trailers' data, that is their vehicle
 * and trailer definitions (def_new of sim_vehicles.h: the truck's at truck
 * +0x1F8, a trailer's at its actor's +0x1F8).
 *
 * Layout choices (offsets of this simulation, from the definition): every
 * wear value is an f32; wheels are f32 arrays of their own, each an object
 * that ends right after its last value (a read or write past the count
 * faults), pointer and u64 count in the definition; an empty list has a
 * null pointer and count 0. A trailer's next coupled trailer is its
 * definition's pointer at +0x1B8. */
#pragma once
#include <stdint.h>
#include <vector>
#include "sim/sim_game.h"

namespace sim {

namespace wear_off {
/* vehicle definition (truck): fixable, then unfixable at +0xC */
constexpr uint32_t engine = 0x1A0, transmission = 0x1A4, cabin = 0x1A8, unfixable_step = 0xC;
/* trailer definition */
constexpr uint32_t body_fix = 0x1C4, body_unfix = 0x1C8, cargo = 0x1B0, next_trailer = 0x1B8;
/* both */
constexpr uint32_t chassis_fix = 0x98, chassis_unfix = 0x9C;
constexpr uint32_t wheels_fix = 0xA8, wheels_fix_count = 0xB0, wheels_unfix = 0xD0, wheels_unfix_count = 0xD8;
} // namespace wear_off

struct wear_values {
    float engine[2], transmission[2], cabin[2]; /* truck: fixable, unfixable */
    float body[2], cargo;                       /* trailer */
    float chassis[2];
    std::vector<float> wheels_fix, wheels_unfix;
};

/* Writes the values of the definition's kind (truck or trailer); the
 * wheels go into new arrays. */
SIM_API void wear_set(uint8_t *def, bool truck, const wear_values &w);
/* Reads them back (wheels: the whole arrays). */
SIM_API wear_values wear_get(const uint8_t *def, bool truck);
/* The trailer coupled behind this one (null: none). */
SIM_API void trailer_couple(uint8_t *def, const uint8_t *next);

} // namespace sim
