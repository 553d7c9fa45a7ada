/* The simulated game's cameras: the camera manager that game_ctrl points to
 * and the camera objects it lists, with the values a test sets.
 *
 *   manager   camera_manager_create: the manager object, its camera array
 *             and its override list, its pointer put into game_ctrl
 *   cameras   camera_new / camera_set: fields of view, sector, local
 *             position and orientation
 *   choice    camera_set_active (an index into the array, any value),
 *             camera_set_override (a camera in front of the array's, or none)
 *
 * Layout choices (offsets of the simulation's own): the manager is a game
 * object of 0x100 bytes; the array and the override list are separate
 * objects of u64 pointers to camera objects, entry 0 first; the active index
 * is an i32, the array's count a u64 and the override count a u32. Camera
 * objects are 0x100 bytes unless a test asks for another size, so that their
 * last field ends 0xA0 bytes before the no-access page that follows them.
 * game_reset frees all of it along with the other objects. */
#pragma once
#include <stdint.h>
#include "sim/sim_game.h"

namespace sim {

namespace cam_off {
constexpr uint32_t ctrl_manager = 0x960;   /* game_ctrl + : u64 camera manager */
constexpr uint32_t active_index = 0x10;    /* i32 */
constexpr uint32_t array = 0x38;           /* u64 pointer to the camera array */
constexpr uint32_t array_count = 0x40;     /* u64 */
constexpr uint32_t overrides = 0x68;       /* u64 pointer to the override list */
constexpr uint32_t override_count = 0x70;  /* u32 */
constexpr uint32_t fov_h = 0x38;           /* camera: f32 degrees */
constexpr uint32_t fov_v = 0x3C;           /* f32 degrees */
constexpr uint32_t position = 0x40;        /* f32 x, y, z; x and z local to the sector */
constexpr uint32_t sector_x = 0x4C;        /* i16 */
constexpr uint32_t sector_z = 0x4E;        /* i16 */
constexpr uint32_t orientation = 0x50;     /* f32 w, x, y, z */
} // namespace cam_off

constexpr size_t camera_manager_size = 0x100, camera_size = 0x100;
constexpr int camera_array_max = 8;

struct camera_values {
    float fov_h = 70, fov_v = 45;
    float x = 0, y = 0, z = 0;
    int16_t sector_x = 0, sector_z = 0;
    float q[4] = { 1, 0, 0, 0 }; /* w, x, y, z */
};

struct camera_manager {
    uint8_t *object;
    uint64_t *array;     /* camera_array_max entries */
    uint64_t *overrides; /* one entry */
};

/* A manager whose array holds count cameras (at most camera_array_max, each
 * with the default values) and whose active index is 0; game_ctrl (which
 * game_player_create made) points to it. */
SIM_API camera_manager camera_manager_create(const player &p, int count);
SIM_API uint8_t *camera_new(const camera_values &v, size_t size = camera_size);
SIM_API void camera_set(uint8_t *camera, const camera_values &v);
SIM_API void camera_set_active(const camera_manager &m, int32_t index);
/* null: no override camera (count 0). */
SIM_API void camera_set_override(const camera_manager &m, uint8_t *camera);
/* The array's entry (the count stays). */
SIM_API void camera_put(const camera_manager &m, int index, uint8_t *camera);

} // namespace sim
