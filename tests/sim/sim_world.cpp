// The simulated game's clock and weather (see sim_world.h).
#include "sim/sim_world.h"
#include <math.h>

namespace sim {
namespace {

world current;
uint8_t *ctrl;
bool paused;
float roll_period = 1800.0f;

template <typename T> T env_get(uint32_t offset) { return get<T>(current.environment, offset); }
template <typename T> void env_put(uint32_t offset, T value) { put<T>(current.environment, offset, value); }

uint64_t fake_set_weather(uint64_t env, uint64_t kind, uint64_t instant, uint64_t)
{
    // The kind and the flag are bytes: the upper bits of their registers are
    // whatever the caller left there.
    record("set_weather", env, kind & 0xFF, instant & 0xFF);
    uint8_t *e = (uint8_t *)(uintptr_t)env;
    put<uint32_t>(e, world_off::env_kind, (uint32_t)(kind & 1));
    put<int32_t>(e, world_off::env_index, (int32_t)(kind & 1));
    put<int32_t>(e, world_off::env_transition, (instant & 0xFF) ? 0 : 1);
    return 0;
}

uint64_t fake_apply_weather(uint64_t env, uint64_t, uint64_t, uint64_t)
{
    record("apply_weather", env);
    return 0;
}

/* The environment's copy of the clock follows the economy's. */
void mirror_clock()
{
    if (!current.environment || !current.economy)
        return;
    env_put<uint32_t>(world_off::env_clock_minutes, world_minutes());
    env_put<float>(world_off::env_clock_seconds, world_seconds());
}

} // namespace

world world_create(const player &p)
{
    ctrl = p.ctrl;
    paused = false;
    roll_period = 1800.0f;
    current.economy = object_new(economy_size);
    current.environment = object_new(environment_size);
    game_put<uint64_t>(world_off::economy, (uint64_t)(uintptr_t)current.economy);
    put<uint64_t>(ctrl, world_off::ctrl_environment, (uint64_t)(uintptr_t)current.environment);
    put<float>(ctrl, world_off::ctrl_time_scale, 1.0f);
    env_put<float>(world_off::env_weather_timer, roll_period);
    game_function(world_off::set_weather, (void *)fake_set_weather);
    game_function(world_off::apply_weather, (void *)fake_apply_weather);
    return current;
}

void world_remove_economy() { game_put<uint64_t>(world_off::economy, 0); }
void world_remove_environment() { put<uint64_t>(ctrl, world_off::ctrl_environment, 0); }

void world_set_clock(uint32_t day, int hours, int minutes, float seconds)
{
    put<uint32_t>(current.economy, world_off::economy_minutes, day * 1440u + (uint32_t)(hours * 60 + minutes));
    put<float>(current.economy, world_off::economy_seconds, seconds);
    mirror_clock();
}

uint32_t world_minutes() { return get<uint32_t>(current.economy, world_off::economy_minutes); }
float world_seconds() { return get<float>(current.economy, world_off::economy_seconds); }
double world_time_of_day() { return (double)(world_minutes() % 1440u) * 60.0 + (double)world_seconds(); }
uint32_t world_day() { return world_minutes() / 1440u; }
void world_set_scale(float scale) { put<float>(ctrl, world_off::ctrl_time_scale, scale); }

uint32_t world_kind() { return env_get<uint32_t>(world_off::env_kind); }
float world_timer() { return env_get<float>(world_off::env_weather_timer); }

void world_set_weather(uint32_t kind, float timer)
{
    env_put<uint32_t>(world_off::env_kind, kind);
    env_put<int32_t>(world_off::env_index, (int32_t)kind);
    env_put<float>(world_off::env_weather_timer, timer);
}

void world_set_roll_period(float seconds) { roll_period = seconds; }

void world_advance(double dt)
{
    if (paused || !current.economy)
        return;
    // The clock: whole minutes carried out of the seconds.
    double seconds = (double)world_seconds() + dt * (double)get<float>(ctrl, world_off::ctrl_time_scale);
    uint32_t minutes = world_minutes();
    double carry = floor(seconds / 60.0);
    if (carry > 0) {
        minutes += (uint32_t)carry;
        seconds -= carry * 60.0;
    }
    put<uint32_t>(current.economy, world_off::economy_minutes, minutes);
    put<float>(current.economy, world_off::economy_seconds, (float)seconds);
    mirror_clock();
    // The game's own roll: the timer counts real seconds down.
    float timer = world_timer() - (float)dt;
    if (timer <= 0) {
        uint32_t kind = world_kind() ^ 1u;
        world_set_weather(kind, roll_period);
        record("game_roll", (uint64_t)(uintptr_t)current.environment, kind);
    } else {
        env_put<float>(world_off::env_weather_timer, timer);
    }
}

void world_pause(bool on) { paused = on; }

void world_frames(int n, double dt)
{
    for (int i = 0; i < n; i++) {
        world_advance(dt);
        frames(1, dt);
    }
}

void world_fault_set_weather(bool faulting)
{
    if (faulting)
        game_function_faulting(world_off::set_weather);
    else
        game_function(world_off::set_weather, (void *)fake_set_weather);
}

void world_fault_apply_weather(bool faulting)
{
    if (faulting)
        game_function_faulting(world_off::apply_weather);
    else
        game_function(world_off::apply_weather, (void *)fake_apply_weather);
}

} // namespace sim
