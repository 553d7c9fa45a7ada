/* The simulated game's vehicle world: accessories of each kind, cargo
 * definitions, the token-to-text call that names a cargo, vehicle and
 * trailer definitions with their clone functions, the unit factory's
 * accessory and trailer classes, accessory data, and reference words that
 * really count. Built on the memory framework of sim_game.h (objects, image
 * vtables, game functions, call recording).
 *
 *   world         vehicle_world_install: class objects, tables and game
 *                 functions of this file at the game's offsets (call it
 *                 after game_reset, before making anything below)
 *   accessories   accessory_new: a generic, part, wheel, paint or cargo
 *                 accessory with its data path; the kind's fields set with
 *                 put and the acc:: offsets, or with accessory_set_cargo
 *   cargo         cargo_def_new: a cargo definition whose name the
 *                 token-to-text call gives and the cargo lookup finds
 *   token-to-text token_to_text_install (the fake, recorded as
 *                 "token_to_text" with builder, name id and definition) or
 *                 token_to_text_faulting
 *   definitions   def_new, def_push, def_accessories, def_plate
 *   data          data_new: what the accessory data call gives for a path;
 *                 class_new: a class outside the image, for class chains
 *   units         every object made here is a unit with a reference word:
 *                 refword, destroyed, units_since, unit_problems,
 *                 units_records_bytes
 *   behaviours    what the game's functions do, by test choice: the
 *                 definition and accessory clones, the factory's creates,
 *                 the erase, the data call, the cargo lookup
 *   physics vehicles  game_physics_vehicle units from the factory, their
 *                 table's slots, bodies, wheel blocks, the steering object,
 *                 chained parts, collision arrays, the game's list of
 *                 vehicles; vehicle_loaded_after, vehicle_slot_faulting
 *   the player    player_truck_def, player_trailer_new, ctrl_trailer_defs
 *   trailer actors game_trailer_actor units from the factory, chained
 *                 parts, coupling, kingpin, dynamic cargo
 *
 * Layout choices (offsets of this simulation, from the accessory unless
 * said otherwise):
 * - an accessory holds its vtable at +0, its reference word (u32) at +8 and
 *   its data path string object at +0x10: the string's own vtable at +0x10,
 *   its character pointer at +0x18, its length (u64) at +0x20;
 * - the characters are an object of their own that ends with the NUL, so a
 *   read past the NUL faults;
 * - each kind's object ends right after its fields, so a read of another
 *   kind's fields faults: generic and part 0x40 bytes, wheel 0x48 (u16 at
 *   +0x40), paint 0x88 (18 f32 at +0x40), cargo 0x80 (+0x40 the cargo
 *   definition, +0x48 seed, +0x50 load, lash, gear, +0x5C hook, +0x68 units,
 *   +0x6C models, +0x70 dims);
 * - a cargo definition is 0x40 bytes: vtable, reference word (count 1: the
 *   game's list of cargoes holds it), its u32 name id at +0xC; the names are kept by the simulation, indexed by that id
 *   (ids from 1; 0 names nothing);
 * - the token-to-text call takes (text builder, name id, definition); the
 *   builder is the caller's { char *chars; u64 length; u64 capacity }: the
 *   fake writes at most capacity - 1 characters and a NUL into chars and
 *   sets length to the whole name's length; an unknown id leaves the builder
 *   untouched. It returns the builder.
 * - a string object (an accessory's data path, a definition's plate) is
 *   { vtable, char *chars, u64 length }; its slot 2 (+0x10) reserve(string,
 *   n) puts the text into a new buffer of exactly n bytes that ends at a
 *   no-access page, so a write past what was reserved faults;
 * - a game array object is { vtable, u64 *data, u64 count, u64 capacity };
 *   its slot 3 (+0x18) grow(array, n) moves the elements into a new buffer
 *   of exactly n elements when the capacity is below n (ending at a
 *   no-access page); the array holds one game reference on each element;
 * - a definition (vehicle 0x218 bytes, trailer 0x1D0, each ending there)
 *   holds its vtable at +0, reference word at +8, its accessory array object
 *   embedded at +0x10 (so data at +0x18, count at +0x20, capacity at
 *   +0x28), the plate string object at +0x70 (chars +0x78, length +0x80)
 *   and, for a trailer, the trailer_def entry at +0x1A0 (one reference);
 * - a class object is also the class record the factory creates from:
 *   +0 its name object (whose first word is the name's characters), +8 the
 *   create function (factory) -> unit, +0x18 the parent class;
 * - a definition's clone (shared behaviour aside) copies each accessory
 *   into a new unit and keeps a null element null;
 * - every unit's get-class (slot 5, +0x28) answers the class it was made
 *   with (unit_set_class changes it); slot 1 (+8) is the release hook, which
 *   records "release"; slot 2 (+0x10) of definitions and accessories clones;
 * - game calls: accessory data (accessory) -> the data object made by
 *   data_new for its path, or null; array erase (array, address of the
 *   element in the array's data) releases the element and closes the gap;
 *   data key (u64 *out, u32 id, data) writes data_key_of(id); cargo lookup
 *   (const char **name) -> the cargo definition of that name, or null;
 *   destroy (unit) marks the unit destroyed and releases what it holds (a
 *   definition its accessories and trailer_def entry, a cargo accessory its
 *   cargo definition);
 * - references count for real: a new unit has count 0; a release that
 *   reaches count 0 destroys, and a destroyed unit's pages are decommitted
 *   (object_release), so any later read or write of it faults and its
 *   address is not taken again before game_reset; unit_problems names every
 *   unit destroyed twice, released after its destroy, destroyed while a
 *   draw or shadow call of it ran, or counted below 0;
 * - the unit factory is index 0 of the factory table; each create records
 *   "create_unit" with the class record's game VA.
 * - a physics vehicle (phys:: offsets, 0x1800 bytes) from the factory has
 *   one shared table (64 slots, outside the image) whose slots record
 *   their calls by name with their real argument types: set_data (+0x60;
 *   keeps the definition at +0x1F8 with one game reference, released when
 *   the vehicle is destroyed), continue_loading (+0x68; the load state word
 *   +0xC70 counts the calls), is_loaded (+0x78; true once the calls reach
 *   vehicle_loaded_after, never for -1), finalize (+0x80), update (+0xA8;
 *   records the light word as it sees it), get_placement (+0xE8) and
 *   set_placement (+0x110) on a placement kept per vehicle, +0x28 its class,
 *   and the draw (slot 96) and shadow (slot 43) the game's render thread
 *   calls: each reads the whole object and its definition through the call
 *   and counts in unit_draws when it returns;
 *   the byte at +0x25B starts at 1; the game's list of vehicles is a flag
 *   per vehicle set by ctrl_add_vehicle and cleared by ctrl_remove_vehicle,
 *   and unit_problems names a vehicle destroyed while listed or removed
 *   without being added;
 * - a body (body_new, 0x200 bytes) has slots +0x190 (body, u32, f32,
 *   pointer: recorded with the f32's bits and whether the pointer holds 16
 *   zero bytes) and +0x1C0 (body, f32), children at +0x10 (pointers) with
 *   their count (u64) at +0x18, each child's slot +0x48 recorded;
 * - a wheel block (wheel_block_new, 0x318 bytes) holds its f32 spins and
 *   angles in arrays of their own that end at a no-access page; the radii
 *   are an array of the definition's;
 * - classes for the collision chain at 0x1E18320 and 0x1E1A1E0; the
 *   physics vehicle class's parent is 0x1E1A1E0, whose parent is
 *   0x1E18320; a collision array element's slots +0x08 and +0x10 record
 *   "collide_on" and "collide_off";
 * - virtual slots made to fault jump to a faulting stub at image offset
 *   0x1100 (an offset of this simulation), so the fault's game VA is
 *   0x140001100 + 10;
 * - the player: the truck's definition at truck +0x1F8; the trailer actor
 *   (4792 bytes, the trailer actor table and class) at player block +0xC8
 *   with its definition at +0x1F8; game_ctrl's trailer_def entries are an
 *   array object at game_ctrl +0x430 (data +0x438, count +0x440);
 * - trailer actors (trl:: offsets, 4792 bytes) all share the trailer actor
 *   table in the image, whose slots are the physics vehicle's (set_data,
 *   continue_loading, is_loaded, finalize, update, get_placement,
 *   set_placement, draw, shadow) plus +0x328 (actor, int) recorded as
 *   "slot_328"; those
 *   from the factory (class record 0x1E18250, recorded "create_unit") are
 *   counted like physics vehicles (definition, the game's list); the
 *   player's trailer and chained parts are not released by anyone;
 * - a trailer actor's physics data (trailer_kingpin) is an object of 0x74C
 *   bytes whose kingpin (3 f32) ends it; the joint is any object;
 * - a dynamic-cargo object's slot 0 records "cargo_delete" (object, arg);
 * - a trailer definition's next chained definition at +0x1B8 (one
 *   reference, released by its destroy); the clone clones the chain too,
 *   or keeps the source's own link (chain_shared). */
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <string>
#include <vector>
#include "sim/sim_game.h"

namespace sim {

/* Offsets of game build 1.61.3.1 from the game's base. */
namespace veh_off {
constexpr uint32_t generic_accessory_vtable = 0x22D7A50;
constexpr uint32_t part_accessory_vtable = 0x22D7988;
constexpr uint32_t wheel_vtable = 0x22E79C8;
constexpr uint32_t paint_vtable = 0x22D82B8;
constexpr uint32_t cargo_vtable = 0x22EE018;
constexpr uint32_t token_to_text = 0x12BBD0;
/* class objects (and class records) */
constexpr uint32_t accessory_class = 0x1E1F200; /* generic accessories; parent of every accessory class */
constexpr uint32_t part_accessory_class = 0x1E1F1B0;
constexpr uint32_t paint_accessory_class = 0x1E1F4E0;
constexpr uint32_t wheel_accessory_class = 0x1E20870;
constexpr uint32_t cargo_accessory_class = 0x1E21C80;
constexpr uint32_t part_data_class = 0x1E20820;
constexpr uint32_t paint_data_class = 0x1E207C0;
constexpr uint32_t wheel_data_class = 0x1E206D0;
constexpr uint32_t wheel_data_class_2 = 0x1E20720;
constexpr uint32_t cargo_holder_data_class = 0x1E1F420;
constexpr uint32_t cargo_class = 0x1E26680;
constexpr uint32_t vehicle_def_class = 0x1E1C370;
constexpr uint32_t trailer_def_class = 0x1E1CE30;
/* definition tables and their clone functions */
constexpr uint32_t vehicle_def_vtable = 0x22C4B68;
constexpr uint32_t trailer_def_vtable = 0x22C9D30;
constexpr uint32_t vehicle_def_clone = 0x8499B0;
constexpr uint32_t trailer_def_clone = 0x881BD0;
/* calls */
constexpr uint32_t accessory_data = 0x904F70;
constexpr uint32_t array_erase = 0x673990;
constexpr uint32_t data_key = 0x12BE90;
constexpr uint32_t cargo_lookup = 0x12B850;
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

/* Definition fields, from the definition. */
namespace vdef {
constexpr uint32_t ref_word = 0x08;
constexpr uint32_t accessories = 0x10; /* the array object */
constexpr uint32_t accessory_data = 0x18, accessory_count = 0x20, accessory_capacity = 0x28;
constexpr uint32_t plate = 0x70, plate_chars = 0x78, plate_length = 0x80;
constexpr uint32_t trailer_def = 0x1A0;
constexpr size_t vehicle_size = 0x218, trailer_size = 0x1D0;
/* the player's vehicles */
constexpr uint32_t vehicle_definition = 0x1F8; /* truck or trailer actor + */
constexpr uint32_t player_trailer = 0xC8;      /* player block + */
constexpr uint32_t ctrl_trailer_defs = 0x430;  /* game_ctrl +: array object */
constexpr size_t trailer_actor_size = 4792;
} // namespace vdef

enum class accessory_kind { generic, wheel, paint, cargo, part };
enum class def_kind { vehicle, trailer };

/* ---- the world ---- */
SIM_API void vehicle_world_install();

/* ---- accessories ---- */
/* An accessory of the kind with its vtable at the game's offset (filled
 * the first time after game_reset) and the data path (null: a null
 * character pointer). Count 0. */
SIM_API uint8_t *accessory_new(accessory_kind kind, const char *path);
/* The vtable address of a kind, in the image. */
SIM_API void **accessory_vtable(accessory_kind kind);
/* The data path the accessory's string holds ("" when none). */
SIM_API std::string accessory_path(const void *accessory);

struct cargo_fields {
    uint64_t seed;
    uint32_t load, lash, gear;
    float hook[3];
    float units;
    uint32_t models;
    float dims[3];
};
/* Stores the definition (may be null; it gets one reference) and the fields
 * in a cargo accessory. */
SIM_API void accessory_set_cargo(uint8_t *accessory, const uint8_t *definition, const cargo_fields &f);

/* A cargo definition named by the text (null: name id 0, which names
 * nothing and is never found). */
SIM_API uint8_t *cargo_def_new(const char *name);

SIM_API void token_to_text_install();
SIM_API void token_to_text_faulting();

/* ---- definitions ---- */
/* An empty definition of the kind with its plate text. */
SIM_API uint8_t *def_new(def_kind kind, const char *plate = "");
/* Appends the accessory to the definition's array, which takes a game
 * reference on it (+1). */
SIM_API void def_push(uint8_t *def, uint8_t *accessory);
SIM_API std::vector<uint8_t *> def_accessories(const uint8_t *def);
/* The plate's characters up to its length (or its NUL). */
SIM_API std::string def_plate(const uint8_t *def);

/* ---- data ---- */
/* The data object the accessory data call gives for accessories with that
 * path: a unit of the class, its u32 key id at +0xC (unique). */
SIM_API uint8_t *data_new(const char *path, const void *class_object);
SIM_API uint64_t data_key_of(uint32_t id);
/* A class object outside the image with that name and parent. */
SIM_API uint8_t *class_new(const char *name, const void *parent);

/* ---- units and references ---- */
SIM_API uint32_t refword(const void *unit); /* 0 when a test made it unreadable */
SIM_API int destroyed(const void *unit); /* how many times */
SIM_API size_t units_mark();
SIM_API std::vector<uint8_t *> units_since(size_t mark);
/* Units destroyed twice, released after their destroy, or counted below 0. */
SIM_API std::vector<std::string> unit_problems();
/* The heap bytes of the units' registry (a record per unit made, kept so
 * that a late release is counted), of the draw records and of the
 * placements kept and set per physics vehicle (every one set is recorded). */
SIM_API size_t units_records_bytes();
/* The draw (slot 96) and shadow (slot 43) calls of a vehicle or trailer
 * actor that returned (the counts outlive the unit). */
struct unit_drawn {
    uint64_t draws, shadows;
};
SIM_API unit_drawn unit_draws(const void *unit);
/* The next draw of the unit (a vehicle's, a trailer's or a prop model's)
 * waits inside the game's call, counted as being drawn, until let go (at
 * most 30 s): unit_draw_held waits until one does (and gives the render
 * frame it began in), unit_draw_let_go lets it go on and waits until the
 * call has returned; false when none was held (the hold is then off). */
SIM_API void unit_draw_hold(const void *unit);
SIM_API bool unit_draw_held(int timeout_ms, uint64_t *frame = nullptr);
SIM_API bool unit_draw_let_go(int timeout_ms = 5000);
SIM_API void unit_set_class(void *unit, const void *class_object);

/* ---- behaviours ---- */
enum class def_clone_result {
    copy,           /* a new definition with copies of the accessories */
    null,
    source,         /* the source itself */
    foreign_vtable, /* a copy with another table */
    foreign_class,  /* a copy whose get-class answers another class */
    short_object,   /* the right table and class in an object too short */
    shared,         /* a new definition holding the source's own accessories */
    one_less,       /* a copy without the last accessory */
    no_array,       /* a copy whose accessory array has no table */
    chain_shared,   /* a copy whose chained definition is the source's own */
};
SIM_API void def_clone_behaviour(def_clone_result r);
enum class accessory_clone_result { copy, null, self, other_class };
SIM_API void accessory_clone_behaviour(accessory_clone_result r);
enum class create_result {
    unit,
    null,
    foreign_vtable,
    kept_ref,     /* the factory keeps a reference */
    foreign_class /* the unit's get-class answers another class */
};
/* What the create function of the class record at that offset does. */
SIM_API void create_behaviour(uint32_t class_offset, create_result r);
SIM_API void erase_stuck(bool stuck); /* the erase leaves the array as it is */
/* The accessory data call answers null from its n-th call on (from 1;
 * 0: never). */
SIM_API void accessory_data_null_from(int n);
/* The cargo lookup answers this object whatever the name (null: by name). */
SIM_API void cargo_lookup_answer(const void *object);

/* ---- physics vehicles ---- */
/* Offsets of build 1.61.3.1 (from the vehicle unless said otherwise). */
namespace phys {
constexpr uint32_t class_record = 0x1E22410;
constexpr uint32_t cab_class = 0x1E18320, chained_class = 0x1E1A1E0;
constexpr uint32_t chassis = 0x30, wheels = 0x150, definition = 0x1F8, time_scale = 0x238;
constexpr uint32_t finalize_byte = 0x25B, lights = 0x2A0, steering = 0x690, steering_object = 0x698;
constexpr uint32_t load_state = 0xC70, next_part = 0x1060, cabin = 0x1278;
constexpr uint32_t wb_spin_to_angle = 0x20, wb_spins = 0x170, wb_count = 0x178;
constexpr uint32_t wb_angles = 0x308, wb_angle_count = 0x310;
constexpr uint32_t def_radii = 0x120, def_radius_count = 0x128; /* from the definition */
constexpr uint32_t pre_add = 0x870520, ctrl_add = 0x473E70, ctrl_remove = 0x473F10;
constexpr uint32_t body_settle = 0x1686250, steer = 0x85DD10;
constexpr uint32_t frame_us = 0x3680B48;                      /* u64 */
constexpr uint32_t collision_arrays[] = { 0x40, 0xB0, 0xED0, 0xF00, 0xF88 };
constexpr uint32_t cab_arrays[] = { 0x13C8, 0x13F0 };
constexpr uint32_t chained_arrays[] = { 0xFD0, 0x10A8 };
constexpr size_t vehicle_size = 0x1800;
} // namespace phys
/* The game's 32-byte placement, as the sim keeps it. */
struct placement32 {
    float x, y, z;
    int16_t sector_x, sector_z;
    float qw, qx, qy, qz;
};
static_assert(offsetof(placement32, sector_x) == 12 && offsetof(placement32, sector_z) == 14 &&
                  offsetof(placement32, qw) == 16 && offsetof(placement32, qz) == 28 && sizeof(placement32) == 32,
              "the game's placement: f32 x, y, z; i16 sector x, z; f32 quaternion w, x, y, z");
/* is_loaded turns true after n continue-loading calls (-1: never). */
SIM_API void vehicle_loaded_after(int n);
/* The vehicles' table slot (byte offset) jumps to a faulting stub. */
SIM_API void vehicle_slot_faulting(uint32_t slot_offset);
SIM_API void **vehicle_vtable();
/* Every placement set_placement was given for the vehicle, in order. */
SIM_API std::vector<placement32> vehicle_placements(const void *vehicle);
SIM_API void vehicle_set_placement(const void *vehicle, const placement32 &p);
SIM_API bool vehicle_listed(const void *vehicle); /* in the game's list */
/* A body with n children (null_child: the second one is null). */
SIM_API uint8_t *body_new(int children, bool null_child = false);
SIM_API std::vector<uint8_t *> body_children(const uint8_t *body);
/* A wheel block on the vehicle: n wheels, angle_count angles (arrays of at
 * least 1 element; spins null when spins is false), k the spin-to-angle
 * factor; the radii go to the vehicle's definition (none when empty). */
SIM_API uint8_t *wheel_block_new(uint8_t *vehicle, uint64_t n, uint64_t angle_count, float k,
                                 const std::vector<float> &radii, bool spins = true);
SIM_API float *wheel_spins(const uint8_t *block);
SIM_API float *wheel_angles(const uint8_t *block);
SIM_API uint8_t *steering_object_new(uint8_t *vehicle);
/* A chained part of the class (vehicle size, no table slots but get-class). */
SIM_API uint8_t *vehicle_part_new(const void *class_object);
/* n collision elements in the part's array at that offset; returns them
 * (the element at null_at, when given, is left null). */
SIM_API std::vector<uint8_t *> collision_elements(uint8_t *part, uint32_t array_offset, int n, int null_at = -1);

/* ---- the player ---- */
SIM_API void player_truck_def(const player &p, uint8_t *def);
/* A trailer actor with that definition, coupled to the player. */
SIM_API uint8_t *player_trailer_new(const player &p, uint8_t *def);
/* n trailer_def entries (units) in game_ctrl's array. */
SIM_API std::vector<uint8_t *> ctrl_trailer_defs(const player &p, int n);

/* ---- trailer actors ---- */
/* Offsets of build 1.61.3.1, from the trailer actor. */
namespace trl {
constexpr uint32_t class_record = 0x1E18250;
constexpr uint32_t body = 0x30, wheels = 0x150, definition = 0x1F8, physics = 0x200, lights = 0x2A0;
constexpr uint32_t load_state = 0xC70, joint = 0xFB8, coupled_to = 0x1058, next_part = 0x1060;
constexpr uint32_t dynamic_cargo = 0x12B0;
constexpr uint32_t physics_kingpin = 0x740; /* from the physics data */
constexpr uint32_t def_next = 0x1B8;        /* from a trailer definition */
} // namespace trl
/* The factory's trailer actors come with n chained parts (default 0). */
SIM_API void trailer_actor_parts(int n);
/* A trailer actor (not counted) chained at the parent's +0x1060. */
SIM_API uint8_t *trailer_part_new(uint8_t *parent);
/* Couples the trailer to the truck (master and joint; no joint when false). */
SIM_API void trailer_couple(uint8_t *actor, const void *truck, bool joint = true);
SIM_API void trailer_kingpin(uint8_t *actor, float x, float y, float z);
SIM_API uint8_t *dynamic_cargo_new(uint8_t *part);
/* Called with the object by every release hook (slot 1) and every
 * ctrl_remove_vehicle before they do anything (null: none; cleared by
 * vehicle_world_install). */
SIM_API void removal_observer(void (*fn)(const void *object));
/* Chains next at the trailer definition's +0x1B8 (one reference). */
SIM_API void def_chain(uint8_t *def, uint8_t *next);

} // namespace sim
