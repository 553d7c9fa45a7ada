/* The simulated game's convoy remote vehicles: the world controller with
 * its network game, the truck controller that ticks the remote trucks each
 * frame, the network-object factory and table, the server_config class with
 * the time-zone setting, and the player's network object. Built on the
 * vehicle world of sim_vehicles.h (units, definitions, the factory).
 *
 *   install     convoy_install (after vehicle_world_install and
 *               game_player_create): the objects and functions below at the
 *               game's offsets; game_reset forgets them
 *   frames      each simulated frame (sim::frame) ticks the truck
 *               controller before the frame-end event: every listed vehicle
 *               with +0x22C bit 0x02 gets a new step stamp (+0x230), unless
 *               convoy_game_steps(false)
 *   netobjs     convoy_netobjs: every netobj the factory made; its vehicle
 *               ("rv"), definition link and what was called on it;
 *               convoy_records_bytes, the heap bytes of those records
 *   faults      convoy_fault: a faulting stub or a null answer per call
 *   world       convoy_ctrl_remove (world unload), convoy_ctrl_new,
 *               convoy_network_game (a network game at wc +0x10),
 *               convoy_network_session (the game's own network game with
 *               its player info and session rules)
 *
 * Layout choices (offsets of this simulation unless said otherwise):
 * - the world controller is one object of 0x400 bytes at the pointer in the
 *   image at +0x36B8E00 (the journey's object: its +0x2D0 is kept); +0x08 a
 *   word whose byte +0x0B is the state, +0x10 the network game (an object
 *   of 0x100 bytes with its u64 clock at +0x50; null in single player),
 *   +0x18 a word (0 in single player), +0x48 the player info, +0x50 the
 *   physics clock (u64 µs), +0x70 the session rules;
 * - the truck controller (0x100 bytes, the pointer at +0x36B8E70 and at
 *   game_ctrl +0x80) holds its vehicle array's data pointer at +0x38 (room
 *   for 16), the count at +0x40, trailers +0x68, pending +0x90, the ticked
 *   list's count +0xB8 (the listed vehicles with +0x22C bit 0x02, counted
 *   at each tick), flag +0xD0;
 * - the clock object (0xC00 bytes, pointer at +0x36B8DB0): u64 +0xB20 the
 *   net time's base, +0xB38 the sim clock (µs of the simulated frames);
 * - a netobj (0x300 bytes) has the table at +0x2320A90 (slots 0 free with
 *   arg 1, 4 add and 5 remove with 0xFFFE, 6 apply the key); the factory
 *   (owner, u64 *id, placement) writes the id's low u32 at +0x10, 0x10 at
 *   +0x16, 0 at +0x18 and 0x03 at +0x154, makes its vehicle (0x300 bytes,
 *   a table of its own: slot 13 builds the model, 16 steps) at +0x290 and
 *   the definition link (a vehicle definition unit holding one reference
 *   from the netobj, its accessory array's table in the image at +0x1200)
 *   at +0x298, also at the vehicle's +0x290; the vehicle's +0x22C is 0x02;
 * - add lists the vehicle in the controller's array, remove takes it out,
 *   free destroys the netobj (a unit: freed twice, or freed while listed,
 *   is a unit problem) and releases the link; apply copies the current key
 *   (+0x1D8) to the vehicle's placement (+0x28) and counts;
 * - the vehicle's slot 13 makes the model (+0x270, a model object of the
 *   game's as the props world makes for a chassis, sim_props.h) and the
 *   physics object (+0x10; byte +0xA8 := 1, +0xA9 := 2),
 *   flags +0x228 := 0x0101; slot 16 (0, 0) counts the step stamp up;
 * - the pending flush (+0x79BB80) with the controller clears pending;
 * - the server_config class record at +0x1E79B80 creates counted units of
 *   0x300 bytes through the unit factory (create_unit); its fields are
 *   zero but max_players +448 := 8;
 * - the game getter at +0x1CD100 answers by its first argument: the setting
 *   object at +0x2D41A50 gives the time-zone count (convoy_timezones,
 *   default 4), anything else is the render thread's light test;
 * - the player block's +0x1E6B0 holds a network object whose +8 is the
 *   owner (convoy_owner; none in single player). */
#pragma once
#include <stdint.h>
#include <string>
#include <vector>
#include "sim/sim_game.h"

namespace sim {

/* Offsets of game build 1.61.3.1 from the game's base. */
namespace cv_off {
constexpr uint32_t world_controller = 0x36B8E00;
constexpr uint32_t truck_ctrl = 0x36B8E70;
constexpr uint32_t clock = 0x36B8DB0;
constexpr uint32_t factory = 0xB70220;
constexpr uint32_t netobj_vtable = 0x2320A90;
constexpr uint32_t server_config_class = 0x1E79B80;
constexpr uint32_t getter = 0x1CD100;
constexpr uint32_t timezone_setting = 0x2D41A50;
constexpr uint32_t pending_flush = 0x79BB80;
constexpr uint32_t ctrl_truck_ctrl = 0x80;       /* game_ctrl + */
constexpr uint32_t player_network = 0x1E6B0;     /* player block + */
} // namespace cv_off

/* Fields, from their objects. */
namespace wc_f {
constexpr uint32_t word = 0x08, network_game = 0x10, word2 = 0x18, player_info = 0x48, physics_clock = 0x50,
                   rules = 0x70, grid = 0x2D0;
constexpr uint32_t network_clock = 0x50; /* network game + */
} // namespace wc_f
namespace tc_f {
constexpr uint32_t array = 0x38, count = 0x40, trailers = 0x68, pending = 0x90, ticked = 0xB8, flag = 0xD0;
} // namespace tc_f
namespace no_f {
constexpr uint32_t id = 0x10, id_high = 0x16, state = 0x18, reset_a = 0x38, reset_b = 0x40, key_base = 0xF8,
                   key_time = 0x100, status = 0x154, key_previous = 0x1B8, key_current = 0x1D8, key_mode = 0x1F8,
                   velocity_previous = 0x218, velocity = 0x224, lights_b = 0x2D8, lights = 0x2DC, vehicle = 0x290,
                   link = 0x298;
} // namespace no_f
namespace rv_f {
constexpr uint32_t physics = 0x10, pose = 0x28, interp = 0x88, snap = 0xE0, flags = 0x228, flags2 = 0x22C,
                   stamp = 0x230, model = 0x270, definition = 0x290;
constexpr uint32_t physics_state = 0xA8, physics_requested = 0xA9; /* physics object + */
} // namespace rv_f
namespace sc_f {
constexpr uint32_t damage = 600, traffic = 601, hide_in_company = 602, hide_colliding = 603, timezones = 606,
                   no_service_coll = 608, menu_ghost = 609, name_tags = 610, max_players = 448;
} // namespace sc_f

struct convoy {
    uint8_t *wc, *network_game, *ctrl, *clock;
};
SIM_API convoy convoy_install(const player &p);
SIM_API convoy convoy_state();

/* ---- the world ---- */
SIM_API void convoy_network_game(bool on);   /* a network game at wc +0x10 (and +0x18 stays 0) */
/* The game's own network game: convoy_network_game, and at wc +0x48 the
 * game's player info (an object of 0x400 bytes without our tag), at +0x70
 * the session's server_config (max_players 8); off clears all three. */
SIM_API void convoy_network_session(bool on);
SIM_API void convoy_ctrl_remove();           /* the image pointer and game_ctrl +0x80 := null */
SIM_API uint8_t *convoy_ctrl_new(bool also_in_game_ctrl = true); /* a fresh, empty controller */
SIM_API void convoy_game_steps(bool on);     /* the frame's tick steps the listed vehicles (default on) */
SIM_API void convoy_timezones(uint16_t count);
SIM_API void convoy_owner(uint64_t owner);   /* the player's network object with that owner (0: none) */

/* ---- netobjs ---- */
struct convoy_netobj {
    uint8_t *netobj, *vehicle, *link;
    uint64_t owner;
    uint32_t id;
    bool listed, freed;
    uint64_t applies, builds, steps;
};
SIM_API std::vector<convoy_netobj> convoy_netobjs();
/* The heap bytes of the netobjs' records (one per netobj made, kept so that
 * a late free is counted). */
SIM_API size_t convoy_records_bytes();
SIM_API std::vector<uint8_t *> convoy_listed(); /* the controller's array, in order */

/* ---- faults ---- */
enum class convoy_call { factory, factory_null, add, remove, free, apply, build, step, server_config_null };
SIM_API void convoy_fault(convoy_call call, bool on);
/* The apply-key slot faults for this netobj only (null: none). */
SIM_API void convoy_fault_apply_on(const void *netobj);

/* dm_sim.dll inside: the frame's tick and game_reset's forgetting. */
void convoy_frame_tick();
void convoy_forget();
uint64_t convoy_getter_answer(uint64_t setting, bool *answered);

} // namespace sim
