/* The game's layout that the vehicle code uses (game build 1.61.3.1): a
 * truck (game_physics_vehicle) and a trailer actor alike hold these fields,
 * answer these virtual slots (indexes into their table) and go into the
 * world through these game calls (offsets from game_base); then their
 * wheels, definitions, accessories and classes, and at the end what one
 * file alone uses, each in a namespace that file opens. Every fact once:
 * where the game's parts have two names for one address, the other name is
 * in the comment. */
#pragma once
#include <stdint.h>
#include "base/game_mem.h"

namespace actor_off {
constexpr uint32_t body = 0x30;        /* the chassis body */
constexpr uint32_t wheels = 0x150;     /* the wheel block */
constexpr uint32_t definition = 0x1F8; /* u64 the definition: also the accessory container and the
                                          damage code's vehicle data */
constexpr uint32_t time_scale = 0x238; /* f32 wheel time scale */
constexpr uint32_t finalize_byte = 0x25B; /* u8, cleared at finalize */
constexpr uint32_t lights = 0x2A0;     /* u32 light word (bit 0x200 is the game's) */
constexpr uint32_t steering = 0x690;   /* f32 */
constexpr uint32_t steering_object = 0x698;
constexpr uint32_t helper = 0x6A0;     /* u64 helper object (its byte +0x3C is watched) */
constexpr uint32_t load_state = 0xC70; /* u32 */
constexpr uint32_t coupled_to = 0x1058; /* trailer actor + : u64 the truck it hangs on */
constexpr uint32_t next_part = 0x1060; /* u64 the next chained part */
} // namespace actor_off

namespace actor_slot {
constexpr uint32_t set_data = 12, continue_loading = 13, is_loaded = 15, finalize = 16;
constexpr uint32_t update = 21, body_placement = 31 /* (vehicle, out placement) */, set_placement = 34;
} // namespace actor_slot

/* a game array object + */
namespace game_array_off {
constexpr uint32_t array_data = 0x08, array_count = 0x10; /* u64 element data, u64 count */
} // namespace game_array_off

/* wheel block + */
namespace wheel_off {
constexpr uint32_t spin_to_angle = 0x20; /* f32 */
constexpr uint32_t spins = 0x170, count = 0x178;       /* f32 per wheel, u64 */
constexpr uint32_t angles = 0x308, angle_count = 0x310; /* f32 per wheel, u64 */
} // namespace wheel_off

/* definition + : the wheel radii; a trailer definition's next chained one */
namespace def_off {
constexpr uint32_t radii = 0x120, radius_count = 0x128; /* f32 per wheel, u64 */
constexpr uint32_t trailer_next = 0x1B8;                /* u64 (the damage code's next trailer data) */
} // namespace def_off

/* definition + (the whole layout is written in vehicle_defs.h) */
#define DEF_ACCESSORY_ARRAY 0x10u /* definition + this: the accessory array object */
#define DEF_ACCESSORY_DATA 0x18u
#define DEF_ACCESSORY_COUNT 0x20u
#define DEF_PLATE 0x70u
#define DEF_PLATE_CHARS 0x78u
#define DEF_PLATE_LENGTH 0x80u
#define DEF_TRAILER_DEF 0x1A0u

/* Class records (each also the class object), as game VAs. */
constexpr uint64_t physics_vehicle_class_va = 0x141E22410; /* game_physics_vehicle */
constexpr uint64_t vehicle_def_class_va = 0x141E1C370;     /* a truck's definition ("vehicle") */
constexpr uint64_t trailer_def_class_va = 0x141E1CE30;     /* a trailer's definition ("trailer") */

/* Game VAs of the accessory classes (each class object is also the class
 * record the unit factory creates from) and their virtual tables. */
constexpr uint64_t accessory_base_class = 0x141E1F200; /* every accessory; also the generic one */
constexpr uint64_t generic_accessory_vtable = 0x1422D7A50;
constexpr uint64_t wheel_accessory_vtable = 0x1422E79C8;
constexpr uint64_t paint_accessory_vtable = 0x1422D82B8;
constexpr uint64_t cargo_accessory_class = 0x141E21C80;
constexpr uint64_t cargo_accessory_vtable = 0x1422EE018;
constexpr uint64_t cargo_holder_data_class = 0x141E1F420;
constexpr uint64_t cargo_class = 0x141E26680;

/* accessory + ; cargo definition + */
namespace acc_off {
constexpr uint32_t path_string = 0x10, path_chars = 0x18, path_length = 0x20; /* the data path string */
constexpr uint32_t wheel_offset = 0x40; /* a wheel accessory's */
constexpr uint32_t paint = 0x40;        /* a paint accessory's */
constexpr uint32_t cargo_name_id = 0x0C; /* cargo definition + : u32 */
} // namespace acc_off

namespace game_call {
constexpr uint32_t pre_add = 0x870520;
constexpr uint32_t ctrl_add_vehicle = 0x473E70;
constexpr uint32_t ctrl_remove_vehicle = 0x473F10;
/* (body, 30); the props' collision calls it with (actor, 1) to set the
 * actor's layer */
constexpr uint32_t body_settle = 0x1686250;
constexpr uint32_t token_to_text = 0x12BBD0; /* (text builder *, u32 name id, cargo definition) */
} // namespace game_call

/* truck + : the cabin body */
constexpr uint32_t truck_cabin = 0x1278;

/* player block + : u64 sound objects (the first two are the horns) */
constexpr uint32_t player_block_sounds[3] = { 0x1E730, 0x1E740, 0x1E8E0 };
constexpr uint32_t sound_state = 0xF8; /* sound object + : u32, 2 while sounding */

/* ---- what one file alone uses ---- */

/* spawn_motion.cpp: game data and calls from game_base, slots, and the
 * collision arrays of a vehicle, its cab and its chained parts */
namespace motion_game {
constexpr uint32_t vs_collision_on = 1, vs_collision_off = 2;
constexpr uint32_t frame_duration_us = 0x3680B48; /* u64 */
constexpr uint32_t call_steer = 0x85DD10;         /* (steering object, value, 1) */
constexpr uint32_t collision_arrays[] = { 0x40, 0xB0, 0xED0, 0xF00, 0xF88 };
constexpr uint32_t cab_arrays[] = { 0x13C8, 0x13F0 };
constexpr uint32_t chained_arrays[] = { 0xFD0, 0x10A8 };
constexpr uint64_t cab_class_va = 0x141E18320;
constexpr uint64_t chained_class_va = 0x141E1A1E0;
} // namespace motion_game

/* spawn_trailer.cpp: the trailer actor's own fields and slot */
namespace trailer_game {
constexpr uint32_t trailer_flags = 0x40A; /* set_data and finalize of a trailer */
constexpr uint32_t tr_physics = 0x200;
constexpr uint32_t tr_joint = 0xFB8;
constexpr uint32_t tr_dynamic_cargo = 0x12B0;
constexpr uint32_t physics_kingpin = 0x740; /* 3 f32, the hitch point in the trailer frame */
constexpr uint32_t ts_finalize_extra = 101;
} // namespace trailer_game

/* spawn_vehicle.cpp: a truck's flags and its bodies */
namespace truck_game {
constexpr uint32_t truck_flags = 0x401; /* set_data and finalize of a truck */
/* bodies: slots, the child array, how many children are settled (ours) and
 * the settle steps handed to game_call::body_settle */
constexpr uint32_t bs_settle_a = 50, bs_settle_b = 56, child_slot = 9;
constexpr uint32_t body_children = 0x10, body_child_count = 0x18;
constexpr uint64_t body_children_max = 64;
constexpr int body_settle_steps = 30;
} // namespace truck_game

/* vehicle_defs.cpp: the definition classes' tables, the accessory mappings
 * and the game calls on definitions */
namespace defs_game {
constexpr uint64_t vehicle_def_vtable_va = 0x1422C4B68, vehicle_def_clone_va = 0x1408499B0;
constexpr uint32_t vehicle_def_size = 0x218; /* readable bytes */
constexpr uint64_t trailer_def_vtable_va = 0x1422C9D30, trailer_def_clone_va = 0x140881BD0;
constexpr uint32_t trailer_def_size = 0x1D0;
/* Which accessory class an accessory's data asks for, first match wins. */
struct data_mapping {
    uint64_t data_class, accessory_class, accessory_vtable;
};
constexpr data_mapping data_mappings[] = {
    { 0x141E20820, 0x141E1F1B0, 0x1422D7988 },
    { 0x141E207C0, 0x141E1F4E0, paint_accessory_vtable },
    { 0x141E206D0, 0x141E20870, wheel_accessory_vtable },
    { 0x141E20720, 0x141E20870, wheel_accessory_vtable },
};

/* Game calls, from game_base. */
constexpr uint32_t call_accessory_data = 0x904F70; /* (accessory) -> data or null */
constexpr uint32_t call_array_erase = 0x673990;    /* (array, address of the element) */
constexpr uint32_t call_data_key = 0x12BE90;       /* (out u64, u32 at data +0xC, data) */
constexpr uint32_t call_cargo_lookup = 0x12B850;   /* (pointer to the name pointer) -> cargo or null */
constexpr uint32_t data_key_id = 0x0C; /* accessory data + : u32 handed to call_data_key */
constexpr uint32_t vslot_clone = 2;    /* definitions and accessories */
constexpr uint32_t vslot_string_reserve = 2;
constexpr uint32_t vslot_array_grow = 3;
constexpr uint32_t ctrl_trailer_defs = 0x438; /* game_ctrl + this: trailer_def entries, count at +0x440 */
constexpr uint32_t ctrl_trailer_def_count = 0x440;
} // namespace defs_game

/* The last fault's code address as a game VA, for the log lines. */
inline unsigned long long last_fault_va() { return (unsigned long long)game_va(last_fault_address); }
