/* The simulated game's world: its clock with the time scale, and its weather
 * with the game's own weather roll, at the game's offsets, on top of the
 * memory framework of sim_game.h.
 *
 *   create     world_create: the economy object (the clock) and the
 *              environment object (the weather) hung where the game keeps
 *              them, the scale in game_ctrl, the set-weather and
 *              apply-weather functions as recording fakes
 *   time       world_advance: one frame of the game's world: the clock runs
 *              at the scale, the weather timer runs down and, at 0, the game
 *              rolls a weather of its own; world_pause stops both
 *   calls      "set_weather" (environment, kind, instant), "apply_weather"
 *              (environment), "game_roll" (environment, the new kind)
 *   faults     world_fault_set_weather / world_fault_apply_weather put a
 *              faulting stub in the function's place; game_protect (sim_game.h)
 *              on the objects for unreadable fields
 *
 * world_create again (after game_reset, which frees the objects) starts a new
 * world. Game thread only. */
#pragma once
#include <stdint.h>
#include "sim/sim_game.h"

namespace sim {

/* Offsets of game build 1.61.3.1. Layout choices: the economy object and the
 * environment object are separate objects outside the image, reached through
 * a pointer in the image (economy) and in game_ctrl (environment); the clock
 * is whole minutes since the game began (u32) plus seconds within the minute
 * (f32); the environment keeps its own copy of the clock, which the sim keeps
 * equal to the economy's. */
namespace world_off {
constexpr uint32_t economy = 0x304FD20;          /* image: u64 pointer to the economy object */
constexpr uint32_t economy_minutes = 0x19C;      /* economy + : u32 total game minutes */
constexpr uint32_t economy_seconds = 0x1A0;      /* economy + : f32 seconds within the minute */
constexpr uint32_t ctrl_time_scale = 0x31BC;     /* game_ctrl + : f32 game seconds per real second */
constexpr uint32_t ctrl_environment = 0x998;     /* game_ctrl + : u64 pointer to the environment */
constexpr uint32_t set_weather = 0x4F20F0;       /* (environment, u8 kind, u8 instant) */
constexpr uint32_t apply_weather = 0x4E71E0;     /* (environment) */
/* environment + */
constexpr uint32_t env_index = 0x3E78;           /* i32: the sim sets it to the kind */
constexpr uint32_t env_kind = 0x3E7C;            /* u32: 0 normal, 1 bad */
constexpr uint32_t env_clock_minutes = 0x3E80;   /* u32 */
constexpr uint32_t env_clock_seconds = 0x3E84;   /* f32 */
constexpr uint32_t env_mix = 0x3F28;             /* f32 */
constexpr uint32_t env_pair = 0x4568;            /* i32 x 2 */
constexpr uint32_t env_next_pair = 0x4570;       /* i32 x 2 */
constexpr uint32_t env_weather_timer = 0x4578;   /* f32 seconds until the game's own roll */
constexpr uint32_t env_transition = 0x457C;      /* i32: the sim's set-weather writes 1 to blend, 0 at once */
constexpr uint32_t env_second_timer = 0x4588;    /* f32 */
constexpr uint32_t env_rain = 0x45E8;            /* f32 */
constexpr uint32_t env_seed = 0x2A38;            /* u32 */
constexpr uint32_t env_lock = 0x4714;            /* i32 */
constexpr uint32_t env_climate = 0x2AB8;         /* u64 x 2 */
} // namespace world_off

constexpr size_t economy_size = 0x400, environment_size = 0x4800;

struct world {
    uint8_t *economy, *environment;
};

/* A world for the player's game_ctrl: the clock at day 0 00:00:00, scale 1,
 * normal weather, the game's roll due in roll_period seconds. */
SIM_API world world_create(const player &p);
SIM_API void world_remove_economy();    /* the image pointer := null */
SIM_API void world_remove_environment(); /* game_ctrl's pointer := null */

/* ---- the clock ---- */
SIM_API void world_set_clock(uint32_t day, int hours, int minutes, float seconds);
SIM_API uint32_t world_minutes();       /* total game minutes */
SIM_API float world_seconds();          /* seconds within the minute */
SIM_API double world_time_of_day();     /* (minutes mod 1440) * 60 + seconds */
SIM_API uint32_t world_day();
SIM_API void world_set_scale(float scale);

/* ---- the weather ---- */
SIM_API uint32_t world_kind();
SIM_API float world_timer();
SIM_API void world_set_weather(uint32_t kind, float timer);
/* Seconds the weather timer is set to after each roll of the game's own. */
SIM_API void world_set_roll_period(float seconds);

/* ---- time ----
 * One frame of dt real seconds: unless paused, the clock moves dt * scale
 * game seconds and the weather timer dt seconds down; when the timer reaches
 * 0 the game rolls: the other kind, the timer back to the roll period. */
SIM_API void world_advance(double dt);
SIM_API void world_pause(bool paused);
/* n frames: world_advance(dt), then a game frame (sim::frames(1, dt)). */
SIM_API void world_frames(int n, double dt);

/* ---- faults ---- */
SIM_API void world_fault_set_weather(bool faulting);
SIM_API void world_fault_apply_weather(bool faulting);

} // namespace sim
