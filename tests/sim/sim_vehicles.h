/* The simulated game's vehicle accessories: accessory objects of each kind,
 * cargo definitions, and the game's token-to-text call that names a cargo.
 * Built on the memory framework of sim_game.h (objects, image vtables, game
 * functions, call recording).
 *
 *   accessories   accessory_new: a generic, wheel, paint or cargo accessory
 *                 with its data path; the kind's fields set with put and the
 *                 acc:: offsets, or with accessory_set_cargo
 *   cargo         cargo_def_new: a cargo definition whose name the
 *                 token-to-text call gives
 *   token-to-text token_to_text_install (the fake, recorded as
 *                 "token_to_text" with builder, name id and definition) or
 *                 token_to_text_faulting
 *
 * Layout choices (offsets of this simulation, from the accessory unless
 * said otherwise):
 * - an accessory holds its vtable at +0, its reference word (u32) at +8 and
 *   its data path string object at +0x10: the string's own vtable at +0x10,
 *   its character pointer at +0x18, its length (u64) at +0x20;
 * - the characters are an object of their own that ends with the NUL, so a
 *   read past the NUL faults;
 * - each kind's object ends right after its fields, so a read of another
 *   kind's fields faults: generic 0x40 bytes, wheel 0x48 (u16 at +0x40),
 *   paint 0x88 (18 f32 at +0x40), cargo 0x80 (+0x40 the cargo definition,
 *   +0x48 seed, +0x50 load, lash, gear, +0x5C hook, +0x68 units,
 *   +0x6C models, +0x70 dims);
 * - a cargo definition is 0x40 bytes with its u32 name id at +0xC; the names
 *   are kept by the simulation, indexed by that id (ids from 1; 0 names
 *   nothing);
 * - the token-to-text call takes (text builder, name id, definition); the
 *   builder is the caller's { char *chars; u64 length; u64 capacity }: the
 *   fake writes at most capacity - 1 characters and a NUL into chars and
 *   sets length to the whole name's length; an unknown id leaves the builder
 *   untouched. It returns the builder. */
#pragma once
#include <stdint.h>
#include "sim/sim_game.h"

namespace sim {

/* Offsets of game build 1.61.3.1 from the game's base. */
namespace veh_off {
constexpr uint32_t generic_accessory_vtable = 0x22D7A50;
constexpr uint32_t wheel_vtable = 0x22E79C8;
constexpr uint32_t paint_vtable = 0x22D82B8;
constexpr uint32_t cargo_vtable = 0x22EE018;
constexpr uint32_t token_to_text = 0x12BBD0;
} // namespace veh_off

/* Accessory fields, from the accessory. */
namespace acc {
constexpr uint32_t ref_word = 0x08;
constexpr uint32_t path_string = 0x10;
constexpr uint32_t path_chars = 0x18;
constexpr uint32_t path_length = 0x20;
constexpr uint32_t wheel_offset = 0x40; /* u16 */
constexpr uint32_t paint = 0x40;        /* 18 f32 */
constexpr uint32_t cargo_def = 0x40;
constexpr uint32_t cargo_seed = 0x48;
constexpr uint32_t cargo_load = 0x50, cargo_lash = 0x54, cargo_gear = 0x58;
constexpr uint32_t cargo_hook = 0x5C;   /* 3 f32 */
constexpr uint32_t cargo_units = 0x68;
constexpr uint32_t cargo_models = 0x6C;
constexpr uint32_t cargo_dims = 0x70;   /* 3 f32 */
constexpr size_t generic_size = 0x40, wheel_size = 0x48, paint_size = 0x88, cargo_size = 0x80;
constexpr uint32_t cargo_def_name_id = 0x0C; /* from the cargo definition */
constexpr size_t cargo_def_size = 0x40;
} // namespace acc

enum class accessory_kind { generic, wheel, paint, cargo };

/* An accessory of the kind with its vtable at the game's offset (filled with
 * recording slots the first time after game_reset) and the data path (null:
 * a null character pointer). */
SIM_API uint8_t *accessory_new(accessory_kind kind, const char *path);
/* The vtable address of a kind, in the image. */
SIM_API void **accessory_vtable(accessory_kind kind);

struct cargo_fields {
    uint64_t seed;
    uint32_t load, lash, gear;
    float hook[3];
    float units;
    uint32_t models;
    float dims[3];
};
/* Stores the definition (may be null) and the fields in a cargo accessory. */
SIM_API void accessory_set_cargo(uint8_t *accessory, const uint8_t *definition, const cargo_fields &f);

/* A cargo definition named by the text (null: name id 0, which names nothing). */
SIM_API uint8_t *cargo_def_new(const char *name);

SIM_API void token_to_text_install();
SIM_API void token_to_text_faulting();

} // namespace sim
