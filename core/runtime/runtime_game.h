/* The game's layout that the runtime itself uses (game build 1.61.3.1): the
 * draw and shadow routines the hooks detour and what the shadow strength
 * reads (offsets from game_base unless said otherwise), and the player
 * block's words the "watch" command follows. What a subsystem reads is in
 * its own layout header. */
#pragma once
#include <stdint.h>

namespace hook_addr {
constexpr uint32_t draw = 0x799CC0;        /* the draw routine (a1, draw context, a3, a4) */
constexpr uint32_t shadow = 0x484630;      /* the shadow routine (context, a2, light, a4) */
constexpr uint32_t light_table = 0x2D5ABB0; /* handed to GAME_OFF_SETTING_GETTER with the light */
} // namespace hook_addr

/* virtual slots (indexes) of the spawned vehicle and trailer */
constexpr int hook_vslot_draw = 96, hook_vslot_shadow = 43;

/* The shadow strength: 1 + (1 - w) x k x (f - 1). */
namespace shadow_field {
constexpr uint32_t light_kind = 0x00;  /* light + : u64 its kind object */
constexpr uint32_t kind_flags = 0x18;  /* kind + : u64 flags */
constexpr uint32_t light_bits = 0x08;  /* light + : u8, bit 0 casts nothing */
constexpr uint64_t flags_cast = 0x980000000003FC0FULL, flags_none = 0x180000000001FC00ULL;
constexpr uint32_t w = 0x9A8;          /* a1 + : f32 */
constexpr uint32_t k_object = 0x998;   /* a1 + : u64 (k: its f32 at k) */
constexpr uint32_t k = 0x45E8;
constexpr uint32_t f_object = 0x70;    /* a1 + : u64 (f: its f32 at f) */
constexpr uint32_t f = 0x154;
} // namespace shadow_field

/* player block + : the words "watch" follows; the helper is actor_off::helper */
namespace watch_field {
constexpr uint32_t slot248 = 0x248, slot234 = 0x234, slot1bc = 0x1BC; /* u32, u8, u8 */
constexpr uint32_t f438 = 0x438, f450 = 0x450;                       /* f32 */
constexpr uint32_t helper_byte = 0x3C;                               /* helper + : u8 */
} // namespace watch_field
