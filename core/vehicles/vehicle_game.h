/* The game's layout that the vehicle code shares (game build 1.61.3.1): a
 * truck (game_physics_vehicle) and a trailer actor alike hold these fields,
 * answer these virtual slots (indexes into their table) and go into
 * the world through these game calls (offsets from game_base). What one
 * kind alone has stays beside the code that uses it. */
#pragma once
#include <stdint.h>
#include "game_mem.h"

namespace actor_off {
constexpr uint32_t ref_word = 0x08;    /* u32 reference word */
constexpr uint32_t body = 0x30;        /* the chassis body */
constexpr uint32_t wheels = 0x150;     /* the wheel block */
constexpr uint32_t definition = 0x1F8; /* u64 the definition, also its accessory container (the damage
                                          code's vehicle data) */
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
constexpr uint32_t update = 21, set_placement = 34;
} // namespace actor_slot

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
} // namespace game_call

/* truck + : the cabin body */
constexpr uint32_t truck_cabin = 0x1278;

/* player block + : u64 sound objects (the first two are the horns) */
constexpr uint32_t player_block_sounds[3] = { 0x1E730, 0x1E740, 0x1E8E0 };
constexpr uint32_t sound_state = 0xF8; /* sound object + : u32, 2 while sounding */

/* An address as a pointer for %p, and the last fault's code address as a
 * game VA, for the log lines. */
inline void *game_ptr(uint64_t address) { return (void *)(uintptr_t)address; }
inline unsigned long long last_fault_va() { return (unsigned long long)game_va(last_fault_address); }
