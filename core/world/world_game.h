/* The game's clock, time scale and weather as clock and weather sync use them:
 * offsets of game build 1.61.3.1 (from game_base, game_ctrl, the economy
 * object or the environment object) and a guarded write. Game thread only. */
#pragma once
#include <stdint.h>
#include "dm_guard.h"

#define GAME_OFF_ECONOMY 0x304FD20u        /* u64 economy object */
#define GAME_ECONOMY_MINUTES 0x19Cu        /* u32 total game minutes */
#define GAME_ECONOMY_SECONDS 0x1A0u        /* f32 seconds within the minute */
#define GAME_CTRL_TIME_SCALE 0x31BCu       /* f32 game seconds per real second */
#define GAME_CTRL_ENVIRONMENT 0x998u       /* u64 environment object */

#define GAME_OFF_SET_WEATHER 0x4F20F0u     /* (environment, u8 kind, u8 instant) */
#define GAME_OFF_APPLY_WEATHER 0x4E71E0u   /* (environment) */

/* environment + */
#define GAME_ENV_INDEX 0x3E78u             /* i32 */
#define GAME_ENV_KIND 0x3E7Cu              /* u32: 0 normal, 1 bad */
#define GAME_ENV_CLOCK_MINUTES 0x3E80u     /* u32 */
#define GAME_ENV_CLOCK_SECONDS 0x3E84u     /* f32 */
#define GAME_ENV_MIX 0x3F28u               /* f32 */
#define GAME_ENV_PAIR 0x4568u              /* i32 x 2 */
#define GAME_ENV_NEXT_PAIR 0x4570u         /* i32 x 2 */
#define GAME_ENV_WEATHER_TIMER 0x4578u     /* f32 seconds until the game rolls its own */
#define GAME_ENV_TRANSITION 0x457Cu        /* i32 */
#define GAME_ENV_SECOND_TIMER 0x4588u      /* f32 */
#define GAME_ENV_RAIN 0x45E8u              /* f32 */
#define GAME_ENV_SEED 0x2A38u              /* u32 */
#define GAME_ENV_LOCK 0x4714u              /* i32 */
#define GAME_ENV_CLIMATE 0x2AB8u           /* u64 x 2, at +0 and +8 */

/* Writes the bytes to a game address under the guard; false on a fault. */
inline bool world_write_guarded(uint64_t address, const void *bytes, size_t size)
{
    return dm_guarded([=] {
        volatile uint8_t *dst = (volatile uint8_t *)(uintptr_t)address;
        const uint8_t *src = (const uint8_t *)bytes;
        for (size_t i = 0; i < size; i++)
            dst[i] = src[i];
    });
}
template <typename T> bool world_write_guarded(uint64_t address, T value)
{
    return world_write_guarded(address, &value, sizeof value);
}

/* The economy object (clock_sync.cpp): 0 without one or when unreadable. */
uint64_t clock_economy();
