/* The simulated game's journey: the navigation with its route and
 * via-points, and the journey-events manager with road events on road
 * items. Built on the memory framework of sim_game.h (objects, game
 * functions, call recording, faulting stubs at any offset).
 *
 *   install      journey_install: the navigation block in game_ctrl, the
 *                manager, the session, the handle table and the game
 *                functions below (after game_player_create)
 *   navigation   road_node_add (what the nearest-node search finds),
 *                nav_set, nav_ahead, nav_mode, nav_revision
 *   road events  road_item_new, road_event_def_new, road_event_add,
 *                road_events, sim_token; journey_manager_remove
 *
 * Layout choices (offsets of this simulation):
 * - the navigation block lies in game_ctrl at +0x4128 (not a pointer): mode
 *   i32 +0x1C8, revision i32 +0x270, behind/avoid/history counts u64 at
 *   +0x1E0/+0x230/+0x258, the ahead list's pointer +0x200 and count +0x208;
 *   the ahead list is an array object of 64 nodes of 24 bytes
 *   { i32 type, u32 index, u64 item, u32 direction, u32 spare };
 * - the nearest-node search (ctrl, node *out, 0, i32 x, i32 y, i32 z, u8
 *   flag, 0, 1), coordinates in 1/256 m, writes the added road node nearest
 *   in x and z within 100 m, else the none node (type 2, direction 2); it
 *   records "nav_nearest" (x, y, z, flag) and "nav_bad_args" (the other
 *   arguments) when ctrl, the zeros or the one are not what they must be;
 * - the route setter (nav, i32 mode, list *start, list *points, nav+0x220,
 *   nav+0x248), a list being { marker, data, count, capacity } with the
 *   marker the address of game+0x21FC348: records "nav_route_set" (nav,
 *   mode, count, the start node's type) and "nav_bad_args" for a wrong
 *   marker, start list or pointer; sets the mode, copies the points into
 *   the ahead list and counts the revision up;
 * - the route clear (nav): records "nav_route_clear" (nav), mode 0, no
 *   points, revision up;
 * - the manager (the pointer at game+0x36B8DC8) is 0x1800 bytes: its event
 *   records (an array of 64 records of 144 bytes) at +0x220, count +0x228,
 *   next uid +0x240, +0x16E8 a holder whose +0x38 is the definition list
 *   { +0x18 data (pointers), +0x20 count };
 * - an event record: +0 road item, +8 three u32 block words, +0x18
 *   definition, +0x74 set i32, +0x78 seed u32, +0x80 uid u64, +0x88 flag u8;
 * - a road item is 0x60 bytes: type u8 +0x0A, box min f32 x y z +0x0C, max
 *   +0x20, road id u64 +0x40, loaded bit 0 of +0x5F;
 * - a definition is 0x40 bytes with its handle (u32) at +0x0C: table 5
 *   ((handle >> 20) & 0x7FF), entry n (handle & 0xFFFF); the table (its
 *   pointer at game+0x30517A0 + 8 x 5) holds its data array at +0 and the
 *   stride 2 (u8) at +0x88; the token is the data's u64 at (n + 1) x 2 - 1,
 *   the one before it a decoy;
 * - the session (pointer at game+0x36B8E00) holds the world controller at
 *   +0x2D0;
 * - road item of a road id (ctrl, road) -> the item made with that id or
 *   null, records "road_item_of" (ctrl, road); apply (manager, item, u64
 *   *token, u32 seed, u32 *blocks, u64 uid) -> 1 when a definition has the
 *   token (the record is added, next uid past uid), else 0; records
 *   "road_event_apply" (item, token, seed, uid) and "road_event_blocks"
 *   (b0, b1, b2, manager); remove (manager, uid) drops the record of that
 *   uid, records "road_event_remove" (manager, uid). */
#pragma once
#include <stdint.h>
#include <string>
#include <vector>
#include "sim/sim_game.h"

namespace sim {

/* Offsets of game build 1.61.3.1 from the game's base. */
namespace jny_off {
constexpr uint32_t nearest_node = 0x7B65B0, route_set = 0x4FC3A0, route_clear = 0x4FC000;
constexpr uint32_t list_marker = 0x21FC348;
constexpr uint32_t journey_manager = 0x36B8DC8, session = 0x36B8E00, handle_tables = 0x30517A0;
constexpr uint32_t road_item_of = 0x48DFB0, event_apply = 0x8E3830, event_remove = 0x8E3B80;
} // namespace jny_off

namespace nav {
constexpr uint32_t in_ctrl = 0x4128;
constexpr uint32_t mode = 0x1C8, revision = 0x270, behind_count = 0x1E0, ahead = 0x200, ahead_count = 0x208;
constexpr uint32_t avoid_count = 0x230, history_count = 0x258, setter_a = 0x220, setter_b = 0x248;
constexpr uint32_t player_flag = 0x28; /* player block + : u8 handed to the search */
} // namespace nav

struct nav_node {
    int32_t type;
    uint32_t index;
    uint64_t item;
    uint32_t direction, spare;
};
inline bool operator==(const nav_node &a, const nav_node &b)
{
    return a.type == b.type && a.index == b.index && a.item == b.item && a.direction == b.direction;
}

struct road_event {
    uint8_t *item, *def;
    uint32_t block[3], seed;
    uint64_t uid;
    int32_t set;
    uint8_t flag;
};

/* ---- install ---- */
SIM_API void journey_install(const player &p);
SIM_API uint8_t *journey_manager();
SIM_API uint8_t *world_controller();
SIM_API void journey_manager_remove(); /* the manager pointer := null */

/* ---- navigation ---- */
SIM_API void road_node_add(double x, double y, double z, const nav_node &node);
SIM_API void nav_set(int32_t mode, const std::vector<nav_node> &ahead);
SIM_API std::vector<nav_node> nav_ahead();
SIM_API int32_t nav_mode();
SIM_API int32_t nav_revision();
SIM_API uint8_t *navigation();

/* ---- road events ---- */
SIM_API uint8_t *road_item_new(uint64_t road, uint8_t type, bool loaded, const float min[3], const float max[3]);
SIM_API uint8_t *road_event_def_new(const char *name);
SIM_API void road_event_add(const road_event &e);
SIM_API std::vector<road_event> road_events();
/* The game's token of a name (this simulation's own encoder). */
SIM_API uint64_t sim_token(const char *name);

} // namespace sim
