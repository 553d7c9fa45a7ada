/* The simulated game's AI traffic: the traffic manager with its cars, and the
 * console variable store with g_traffic, at the game's offsets, on top of the
 * memory framework of sim_game.h.
 *
 *   create     traffic_create: the manager hung where the game keeps it, its
 *              density function as a recording fake, g_traffic in the image
 *              with the game's own change callback and the refusing one
 *   cars       traffic_add_car (placement, light word, model flags, type,
 *              definition paths, excluded flag), traffic_remove_car
 *   time       traffic_advance: every car moves by its velocity; the manager
 *              keeps its cars while the density is above 0
 *   g_traffic  traffic_cvar_set: the player changes the setting, as the game
 *              applies it (the change callback decides whether it is taken)
 *   calls      "traffic_density" (manager, density as f32 bits),
 *              "traffic_callback" (variable) for the game's own callback
 *
 * traffic_create again (after game_reset, which frees the objects) starts a
 * new traffic. Game thread only. */
#pragma once
#include <stdint.h>
#include <string>
#include <vector>
#include "sim/sim_game.h"

namespace sim {

/* Offsets of game build 1.61.3.1. Layout choices: the manager is an object
 * outside the image reached through a pointer in the image; its entries are
 * one array object of 16-byte entries (car, a second word the sim sets to the
 * car's index + 0x100); an AI car, its model and its definition are objects
 * of their own; a definition's entries are an array of pointers to entry
 * objects, whose path is a pointer to a text object; colours an array of
 * f32 x 3. g_traffic lives in the image; its name is an inline text at +0x8
 * (not a pointer to one), as the value text at +0xB1 is. The density the
 * manager was last given is kept at manager +0x10 (the sim's own field). */
namespace traffic_off {
constexpr uint32_t manager = 0x36B8DC0;           /* image: u64 pointer to the manager */
constexpr uint32_t mgr_entries = 0xF8, mgr_count = 0x100;
constexpr uint32_t mgr_density = 0x10;            /* f32, the sim's own */
constexpr uint32_t density_fn = 0x56C040;         /* (manager, f32 density) */
constexpr uint32_t car_table = 0x22DA610;         /* an AI car's first word: game_base + this */
constexpr uint32_t car_placement = 0x28, car_type = 0x70, car_model = 0x210, car_excluded = 0x389;
constexpr uint32_t car_definition = 0x410, car_id = 0x420;
constexpr uint32_t model_lights = 0x1C0, model_flags = 0x1B8;
constexpr uint32_t def_entries = 0x18, def_entry_count = 0x20, entry_path = 0x18;
constexpr uint32_t def_colours = 0x200, def_colour_count = 0x208;
constexpr uint32_t cvar = 0x2D4EAB0;              /* image: the g_traffic object */
constexpr uint32_t cvar_table = 0x2223C00;        /* its first word: game_base + this */
constexpr uint32_t cvar_refuse = 0xF1D30;         /* code: xor al, al; ret */
constexpr uint32_t cvar_own_callback = 0x41C080;  /* the game's own change callback */
constexpr uint32_t cvar_value_fn = 0x1DC850;      /* (variable) -> f32 */
constexpr uint32_t cvar_name = 0x8, cvar_kind = 0x90, cvar_callback = 0x98, cvar_value_text = 0xB1;
constexpr uint32_t cvar_cached = 0x116, cvar_cached_value = 0x118, cvar_zero = 0x120;
} // namespace traffic_off

constexpr size_t traffic_car_size = 0x500, traffic_manager_size = 0x200, traffic_entries_max = 1024;

struct traffic_car_desc {
    double pos[3];          /* world metres */
    float rot[4] = { 1, 0, 0, 0 };
    float vel[3] = {};      /* m/s, for traffic_advance */
    uint32_t type = 1;
    uint32_t lights = 0;
    uint32_t model_flags = 0;
    bool excluded = false;
    bool with_model = true;
    std::vector<std::string> paths = { "/def/vehicle/ai/sedan/data.sii" }; /* empty: no definition */
    std::vector<float> colours;  /* x 3 */
};

/* The manager (no cars, at the density of the value text) and g_traffic holding value_text with the
 * game's own callback. */
SIM_API uint8_t *traffic_create(const char *value_text = "1.00");
SIM_API void traffic_remove_manager();            /* the image pointer := null */
SIM_API void traffic_set_count(uint64_t count);   /* the manager's count word, as it is */

/* ---- cars ---- */
SIM_API uint8_t *traffic_add_car(const traffic_car_desc &desc); /* its game car id is 1000 + its number */
SIM_API void traffic_remove_car(uint8_t *car);
SIM_API void traffic_move_car(uint8_t *car, const double pos[3]);
SIM_API void traffic_set_velocity(uint8_t *car, const float vel[3]);
SIM_API int traffic_car_count();
/* One frame of dt seconds: every car moves by its velocity. */
SIM_API void traffic_advance(double dt);
/* n frames: traffic_advance(dt), then a game frame (sim::frames(1, dt)). */
SIM_API void traffic_frames(int n, double dt);

/* ---- g_traffic ---- */
SIM_API uint8_t *traffic_cvar();
SIM_API uint64_t traffic_cvar_callback();         /* as an address in this process */
SIM_API void traffic_cvar_set_callback(uint64_t callback);
SIM_API uint64_t traffic_own_callback();
SIM_API uint64_t traffic_refuse_callback();
SIM_API uint8_t traffic_cvar_cached();
SIM_API float traffic_cvar_cached_value();
SIM_API std::string traffic_cvar_text();
/* The player sets g_traffic: the value text changes; a callback that takes it
 * (any but the refusing one) caches the value and gives it to the manager. */
SIM_API void traffic_cvar_set(const char *value_text);
SIM_API float traffic_density();                  /* the manager's, -1 without one */

} // namespace sim
