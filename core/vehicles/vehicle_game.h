/* The game's layout that the vehicle code shares (game build 1.61.3.1): a
 * truck (game_physics_vehicle) and a trailer actor alike hold these fields,
 * answer these virtual slots (byte offsets into their table) and go into
 * the world through these game calls (offsets from game_base). What one
 * kind alone has stays beside the code that uses it. */
#pragma once
#include <stdint.h>
#include "game_mem.h"

namespace actor_off {
constexpr uint32_t ref_word = 0x08;    /* u32 reference word */
constexpr uint32_t body = 0x30;        /* the chassis body */
constexpr uint32_t wheels = 0x150;     /* the wheel block */
constexpr uint32_t definition = 0x1F8; /* u64 the definition */
constexpr uint32_t lights = 0x2A0;     /* u32 light word (bit 0x200 is the game's) */
constexpr uint32_t load_state = 0xC70; /* u32 */
constexpr uint32_t next_part = 0x1060; /* u64 the next chained part */
} // namespace actor_off

namespace actor_slot {
constexpr uint32_t set_data = 0x60, continue_loading = 0x68, is_loaded = 0x78, finalize = 0x80;
constexpr uint32_t update = 0xA8, set_placement = 0x110;
} // namespace actor_slot

namespace game_call {
constexpr uint32_t pre_add = 0x870520;
constexpr uint32_t ctrl_add_vehicle = 0x473E70;
constexpr uint32_t ctrl_remove_vehicle = 0x473F10;
} // namespace game_call

/* truck + : the cabin body */
constexpr uint32_t truck_cabin = 0x1278;

/* player block + : u64 the player's trailer actor */
constexpr uint32_t player_block_trailer = 0xC8;

/* The last fault's code address as a game VA, for the log lines. */
inline unsigned long long last_fault_va() { return (unsigned long long)game_va(last_fault_address); }
