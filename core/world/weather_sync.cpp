// Weather sync: the game's weather follows the kind the server announces,
// and the game's own weather roll is held off while sync is on. The clock
// step runs the tick once a second while joined; the "weather" command shows,
// switches and sets the weather by hand. Game thread only.
//
// Index of this file:
//   the environment   the object behind game_ctrl, weather_set, weather_dump
//   the sync tick     weather_sync_tick, weather_sync_idle
//   the command       weather_command
#include <stdio.h>
#include <string.h>
#include "base/core.h"
#include "dm_guard.h"
#include "base/game_mem.h"
#include "net/net.h"
#include "world/world.h"
#include "world/world_game.h"
#include "world/world_sync_math.h"

namespace {

bool sync_on = true;
int32_t last_roll = -1;

const char no_environment[] = "[core] weather: no environment (profile not loaded?)";
const char usage[] = "[core] weather: usage weather | weather set <0|1> [i|f] | weather apply <idx> <p0> <p1> "
                     "<n0> <n1> <mix> <wt> <ct>";

/* ---- the environment ---- */

/* game_ctrl, probed when it is taken (a profile loaded) up to its
 * environment pointer, and the environment, probed when it is taken up to
 * the last field the sync tick reads (its weather timer); the tick then
 * reads under one guard. The commands read the environment's other fields
 * with probed reads. */
game_taken taken_ctrl, taken_environment;
static_assert(GAME_ENV_WEATHER_TIMER > GAME_ENV_KIND, "the weather timer is the last field the tick reads");

uint64_t environment()
{
    uint64_t ctrl = game_take(&taken_ctrl, game_ctrl_guarded(), GAME_CTRL_ENVIRONMENT + 8), env = 0;
    if (!ctrl || !game_copy_unprobed(&env, ctrl + GAME_CTRL_ENVIRONMENT, sizeof env))
        return 0;
    return env;
}

struct weather_fields {
    int32_t index;
    uint32_t kind, clock_minutes;
    float clock_seconds, mix;
    int32_t pair[2], next[2];
    float weather_timer;
    int32_t transition;
    float second_timer, rain;
    uint32_t seed;
    int32_t lock;
    uint64_t climate[2];
};

bool read_fields(uint64_t env, weather_fields *f)
{
    return game_read_guarded(env + GAME_ENV_INDEX, &f->index) && game_read_guarded(env + GAME_ENV_KIND, &f->kind) &&
           game_read_guarded(env + GAME_ENV_CLOCK_MINUTES, &f->clock_minutes) &&
           game_read_guarded(env + GAME_ENV_CLOCK_SECONDS, &f->clock_seconds) &&
           game_read_guarded(env + GAME_ENV_MIX, &f->mix) && game_copy_guarded(f->pair, env + GAME_ENV_PAIR, 8) &&
           game_copy_guarded(f->next, env + GAME_ENV_NEXT_PAIR, 8) &&
           game_read_guarded(env + GAME_ENV_WEATHER_TIMER, &f->weather_timer) &&
           game_read_guarded(env + GAME_ENV_TRANSITION, &f->transition) &&
           game_read_guarded(env + GAME_ENV_SECOND_TIMER, &f->second_timer) &&
           game_read_guarded(env + GAME_ENV_RAIN, &f->rain) && game_read_guarded(env + GAME_ENV_SEED, &f->seed) &&
           game_read_guarded(env + GAME_ENV_LOCK, &f->lock) &&
           game_copy_guarded(f->climate, env + GAME_ENV_CLIMATE, 16);
}

} // namespace

bool weather_set(uint64_t environment, uint8_t kind, uint8_t instant)
{
    typedef void (*set_weather_fn)(uint64_t environment, uint8_t kind, uint8_t instant);
    set_weather_fn set = game_fn<set_weather_fn>(GAME_OFF_SET_WEATHER);
    if (dm_guarded([&] { set(environment, kind, instant); }))
        return true;
    core_log("[core] weather: set_weather faulted");
    return false;
}

void weather_dump(const char *label)
{
    uint64_t env = environment();
    if (!env) {
        core_log("%s", no_environment);
        return;
    }
    weather_fields f;
    if (!read_fields(env, &f)) {
        core_log("[core] weather: read fault");
        return;
    }
    uint64_t economy = clock_economy();
    uint32_t econ = economy ? game_read_guarded_or_zero<uint32_t>(economy + GAME_ECONOMY_MINUTES) : 0;
    uint32_t of_day = f.clock_minutes % 1440u, econ_of_day = econ % 1440u;
    core_log("[core] weather(%s): idx %d/%d pair %d %d next %d %d mix %.3f wtimer %.2f ctimer %.2f trans %d "
             "rain %.3f seed %08x envlock %d clock %02u:%02u+%.1fs econ %u (day %u %02u:%02u) climate %p/%p",
             label, f.index, (int)f.kind, f.pair[0], f.pair[1], f.next[0], f.next[1], f.mix, f.weather_timer,
             f.second_timer, f.transition, f.rain, f.seed, f.lock, of_day / 60, of_day % 60, f.clock_seconds, econ,
             econ / 1440u, econ_of_day / 60, econ_of_day % 60, (void *)(uintptr_t)f.climate[0],
             (void *)(uintptr_t)f.climate[1]);
}

/* ---- the sync tick ---- */

void weather_sync_tick()
{
    weather_sync_input in = {};
    float until_roll = 0;
    in.sync_on = sync_on;
    in.has_server = net_server_weather(&in.server_kind, &in.server_roll, &until_roll);
    in.last_roll = last_roll;
    if (!in.sync_on || !in.has_server) {
        last_roll = -1;
        return;
    }
    uint64_t env = game_take(&taken_environment, environment(), GAME_ENV_WEATHER_TIMER + 4);
    // Both read before anything changes: an unreadable environment ends the
    // tick with nothing changed.
    if (!env || !dm_guarded([&] {
            in.game_kind = game_field<uint32_t>(env, GAME_ENV_KIND);
            in.game_timer = game_field<float>(env, GAME_ENV_WEATHER_TIMER);
        }))
        return;
    weather_sync_plan plan = weather_sync_decide(&in);
    if (plan.change) {
        core_log("[core] weather: server says %s; %s change", weather_kind_name(in.server_kind),
                 plan.instant ? "forced" : "interpolated");
        if (!weather_set(env, in.server_kind, plan.instant)) {
            sync_on = false;
            core_log("[core] weather sync off after a fault");
            return;
        }
    }
    last_roll = in.server_roll;
    if (plan.hold_timer)
        world_write_guarded(env + GAME_ENV_WEATHER_TIMER, WEATHER_HELD_TIMER);
}

void weather_sync_idle() { last_roll = -1; }

/* ---- the command ---- */

namespace {

void weather_apply(uint64_t env, const char *text)
{
    weather_apply_args a;
    if (!weather_parse_apply(text, &a)) {
        core_log("[core] weather apply: need <idx> <p0> <p1> <n0> <n1> <mix> <wtimer> <ctimer>");
        return;
    }
    weather_dump("before");
    if (!weather_set(env, (uint8_t)(a.index & 1), 1))
        return;
    typedef void (*apply_weather_fn)(uint64_t environment);
    apply_weather_fn apply = game_fn<apply_weather_fn>(GAME_OFF_APPLY_WEATHER);
    bool ok = world_write_guarded(env + GAME_ENV_PAIR, a.pair, sizeof a.pair) &&
              world_write_guarded(env + GAME_ENV_NEXT_PAIR, a.next, sizeof a.next) &&
              world_write_guarded(env + GAME_ENV_MIX, a.mix) &&
              world_write_guarded(env + GAME_ENV_WEATHER_TIMER, a.weather_timer) &&
              world_write_guarded(env + GAME_ENV_SECOND_TIMER, a.second_timer) &&
              dm_guarded([&] { apply(env); });
    if (!ok) {
        core_log("[core] weather apply: fault");
        return;
    }
    weather_dump("after");
}

} // namespace

void weather_command(const char *rest)
{
    const char *t = rest;
    while (*t == ' ' || *t == '\t')
        t++;
    uint64_t env = environment();
    if (!env) {
        core_log("%s", no_environment);
        return;
    }
    if (!*t) {
        weather_dump("now");
        uint8_t kind, roll;
        float until_roll;
        if (net_server_weather(&kind, &roll, &until_roll))
            core_log("[core] weather: server %s (roll %u, next in %.0f s), sync %s", weather_kind_name(kind),
                     (unsigned)roll, until_roll, sync_on ? "on" : "off");
        else
            core_log("[core] weather: no server weather, sync %s", sync_on ? "on" : "off");
    } else if (strcmp(t, "sync on") == 0) {
        sync_on = true;
        core_log("[core] weather sync on");
    } else if (strcmp(t, "sync off") == 0) {
        sync_on = false;
        core_log("[core] weather sync off (the game rolls its own again once its timer runs out)");
    } else if (strncmp(t, "set ", 4) == 0) {
        uint8_t kind, instant;
        if (!weather_parse_set(t + 4, &kind, &instant)) {
            core_log("%s", usage);
            return;
        }
        weather_dump("before");
        if (weather_set(env, kind, instant))
            weather_dump("after");
    } else if (strncmp(t, "apply ", 6) == 0) {
        weather_apply(env, t + 6);
    } else {
        core_log("%s", usage);
    }
}
