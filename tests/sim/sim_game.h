/* The simulated game's memory: what the core reads and calls at the game's
 * fixed offsets, laid out in the image section of the main module
 * (RVA 0x1000..0x3700000) and in game objects of their own.
 *
 *   bytes      game_put / game_get / set_build_hash at image offsets
 *   functions  game_function: a jump stub at the offset into a C++ fake (the
 *              Microsoft x64 ABI, so a fake is a plain function of up to four
 *              u64 arguments); game_function_faulting: a stub that faults
 *   vtables    vtable_at (in the image, as the game's own tables are) and
 *              vtable_new (elsewhere: a foreign table); slot n at byte 8n; every
 *              slot starts as a recording fake "vslot<n>" that returns the
 *              value vslot_result set (0)
 *   objects    object_new: zeroed, ending right at a page with no access, so a
 *              read past the size the core probes faults; game_records_bytes
 *   calls      record / calls / calls_named / calls_clear / calls_observe
 *   faults     game_protect (PAGE_NOACCESS, PAGE_GUARD pages), a wrong vtable,
 *              a wrong build hash, a faulting stub
 *   the player game_player_create: game_ctrl, its player block and local truck
 *
 * game_reset puts everything back: a zeroed image with its protection, no
 * objects, no calls. Game thread only, like the game's own frame. */
#pragma once
#include <stdint.h>
#include <string.h>
#include <string>
#include <vector>
#include "sim/sim.h"

namespace sim {

constexpr uint64_t preferred_base = 0x140000000ULL;

/* Offsets of game build 1.61.3.1, from the game's base. Layout choices:
 * game_ctrl and the factory table hold pointers to objects outside the image
 * (never inline objects); the factory index is a u32; a class record in the
 * image holds its create function at +8; a class object's first word points
 * to a name object whose first word is the name's characters. */
namespace off {
constexpr uint32_t build_hash = 0x2256940;          /* 12 bytes of text */
constexpr uint32_t game_ctrl = 0x36B8D70;           /* u64 pointer to the controller object */
constexpr uint32_t factory_index = 0x273C848;       /* u32, 4 = none */
constexpr uint32_t factory_table = 0x3688EB8;       /* u64 factory pointers by index */
constexpr uint32_t trailer_actor_vtable = 0x2288758;
constexpr uint32_t trailer_actor_class = 0x1E18250;
constexpr uint32_t destroy = 0xFD290;               /* destroy(object) at count 0 */
constexpr uint32_t ctrl_player_block = 0x31B0;      /* game_ctrl + : u64 player block */
constexpr uint32_t player_local_truck = 0x18;       /* player block + : u64 local truck */
/* game_ctrl + : u64 the camera manager, which the game's draw path also uses
 * as its render object (one object in both roles; sim_draw.h) */
constexpr uint32_t ctrl_camera_manager = 0x960;
} // namespace off

/* ---- bytes in the image ---- */
SIM_API void game_reset();
SIM_API void set_build_hash(const char *text = "da49adfbbbdb"); /* its 12 bytes */
template <typename T> void game_put(uint32_t offset, T value) { game_write(offset, &value, sizeof value); }
template <typename T> T game_get(uint32_t offset)
{
    T value;
    memcpy(&value, game_at(offset), sizeof value);
    return value;
}
/* An address as it would be at the game's preferred base, and back. */
SIM_API uint64_t game_va(const void *address);
SIM_API uint8_t *game_from_va(uint64_t va);

/* ---- call recording ---- */
struct call {
    std::string name;
    uint64_t args[4];
};
SIM_API void record(const char *name, uint64_t a0 = 0, uint64_t a1 = 0, uint64_t a2 = 0, uint64_t a3 = 0);
SIM_API std::vector<call> calls();
SIM_API std::vector<call> calls_named(const char *name);
SIM_API void calls_clear();
/* Called with each call as it is recorded, on the recording thread (null:
 * none); game_reset clears it. For what a test must see at the moment of
 * a call. */
typedef void (*call_observer)(const call &c);
SIM_API void calls_observe(call_observer observer);

/* ---- game functions ---- */
typedef uint64_t (*fake_fn)(uint64_t a0, uint64_t a1, uint64_t a2, uint64_t a3);
/* A 12-byte stub at the offset: mov rax, fake; jmp rax. Returns the stub. */
SIM_API uint8_t *game_function(uint32_t offset, void *fake);
/* A stub that reads the data address and so faults with 0xC0000005. */
constexpr uint64_t fault_data_address = 0x10;
SIM_API uint8_t *game_function_faulting(uint32_t offset, uint64_t data_address = fault_data_address);

/* ---- virtual tables ---- */
constexpr int vtable_max_slots = 64;
SIM_API void **vtable_at(uint32_t offset, int slots);
SIM_API void **vtable_new(int slots);
SIM_API void vtable_set(void **vtable, int slot, void *fake);
SIM_API void vslot_result(int slot, uint64_t value);

/* ---- game objects ---- */
/* size bytes, zeroed, vtable (may be null) in the first word; the byte after
 * the object is the first of a page with no access (reserved, never
 * committed). Objects are carved out of large reservations. */
SIM_API uint8_t *object_new(size_t size, void **vtable = nullptr);
template <typename T> void put(void *object, uint32_t offset, T value)
{
    memcpy((uint8_t *)object + offset, &value, sizeof value);
}
template <typename T> T get(const void *object, uint32_t offset)
{
    T value;
    memcpy(&value, (const uint8_t *)object + offset, sizeof value);
    return value;
}

/* The object's pages decommitted, as the game's allocator gives a freed
 * object back: every read or write of it faults from now on, and its
 * addresses stay reserved (no later object takes them) until game_reset. */
SIM_API void object_release(const void *object);
/* The private bytes the simulated game keeps for itself: the committed
 * pages of its objects (a live object's body; a released one keeps none),
 * its record of them and its record of calls. What a soak sets apart from the
 * process's private bytes. */
SIM_API size_t game_records_bytes();

/* ---- page faults ---- */
/* Sets the protection of every page that holds [address, address + size);
 * game_reset restores the image's and frees the objects'. */
SIM_API void game_protect(const void *address, size_t size, uint32_t protection);

/* ---- the player ----
 * game_ctrl is a pointer in the image (at off::game_ctrl) to a controller
 * object of 0x5000 bytes (it holds the navigation block at +0x4128); its
 * player block (pointer at +0x31B0) is 0x20000 bytes, the size a memory recording takes of it; the local truck (pointer
 * at block +0x18) is 0x4000 bytes with a vtable of its own whose slot 29
 * (get_placement) writes the placement set by player_set_placement. */
struct player {
    uint8_t *ctrl, *block, *truck;
    void **truck_vtable;
};
constexpr size_t ctrl_size = 0x5000, player_block_size = 0x20000, truck_size = 0x4000;
SIM_API player game_player_create();
SIM_API void game_player_remove(); /* game_ctrl := null: no profile loaded */
/* The 32-byte placement the truck's get_placement gives (and its result). */
SIM_API void player_set_placement(const void *placement32, bool result = true);
/* The game's 32-byte placement written at its own byte offsets: f32 x, y, z
 * at 0, 4, 8; i16 sector x, z at 12, 14; f32 quaternion w, x, y, z at 16,
 * 20, 24, 28. Tests hand these bytes to the game, never the core's struct. */
struct placement_bytes {
    uint8_t b[32];
};
inline placement_bytes placement_at(float x, float y, float z, int16_t sector_x, int16_t sector_z, float qw,
                                    float qx, float qy, float qz)
{
    placement_bytes p = {};
    const float head[3] = { x, y, z }, rotation[4] = { qw, qx, qy, qz };
    memcpy(p.b + 0, head, 12);
    memcpy(p.b + 12, &sector_x, 2);
    memcpy(p.b + 14, &sector_z, 2);
    memcpy(p.b + 16, rotation, 16);
    return p;
}

} // namespace sim
