// The g_traffic lock (see traffic_lock.h): g_traffic recognised by its
// layout, its change callback swapped for one that refuses while traffic is
// off, its cached value held at 0 and the manager's density pushed to 0; the
// player's own callback and value given back when traffic is local.
//
// Index of this file:
//   game layout   g_traffic and the calls on it
//   state         the three modes, the timer, what was said and zeroed
//   the manager   traffic_manager
//   the lock      g_traffic recognised, density pushed, the lock applied
//   modes         the tick, the command, the report, the config mode
#include <stdio.h>
#include <string.h>
#include "base/core.h"
#include "dm_guard.h"
#include "base/game_mem.h"
#include "net/net.h"
#include "world/traffic_lock.h"
#include "world/traffic_tables.h"
#include "world/world.h"
#include "world/world_game.h"

namespace {

/* ---- state ---- */

int32_t config_mode = TRAFFIC_MODE_OFF, command_mode = TRAFFIC_MODE_NONE, server_mode = TRAFFIC_MODE_NONE;
double lock_timer;
bool warned;
uint64_t manager_zeroed;

int32_t in_effect() { return traffic_mode_in_effect(config_mode, command_mode, server_mode); }

/* ---- the lock ---- */

/* g_traffic when it has the layout this build expects, else 0. The
 * variable and the refusing callback's code are in the game's image, which
 * stays mapped while the game runs: read under one guard, without a probe;
 * a fault is a variable not recognised. */
uint64_t traffic_find_cvar()
{
    uint64_t var = game_addr(GAME_OFF_G_TRAFFIC);
    static const char name[] = "g_traffic"; /* inline, with its NUL */
    static const uint8_t returns_false[3] = { 0x32, 0xC0, 0xC3 };
    bool ours = false;
    dm_guarded([&] {
        ours = game_field<uint64_t>(var, 0) == game_addr(GAME_OFF_CVAR_VTABLE) &&
               memcmp(&game_field<char>(var, CVAR_NAME), name, sizeof name) == 0 &&
               game_field<uint32_t>(var, CVAR_KIND) == 2 && game_field<uint64_t>(var, CVAR_ZERO_WORD) == 0 &&
               memcmp(game_ptr(game_addr(GAME_OFF_CVAR_REFUSE)), returns_false, sizeof returns_false) == 0;
    });
    return ours ? var : 0;
}

void traffic_push_density(uint64_t manager, float density)
{
    typedef void (*density_fn)(uint64_t manager, float density);
    density_fn push = game_fn<density_fn>(GAME_OFF_TRAFFIC_DENSITY);
    if (!dm_guarded([&] { push(manager, density); }))
        core_log("[traffic] fault pushing density %.2f to the manager %p", density, (void *)(uintptr_t)manager);
}

bool cvar_value(uint64_t var, float *out)
{
    typedef float (*value_fn)(uint64_t var);
    value_fn value = game_fn<value_fn>(GAME_OFF_CVAR_VALUE);
    return dm_guarded([&] { *out = value(var); });
}

void traffic_apply_lock(double at, bool force)
{
    if (!force && at < lock_timer)
        return;
    lock_timer = at + 0.5;
    uint64_t var = traffic_find_cvar();
    if (!var) {
        if (!warned)
            core_log("[traffic] g_traffic cvar not recognised (game build?); traffic lock unavailable");
        warned = true;
        return;
    }
    uint64_t manager = traffic_manager();
    uint64_t callback = 0;
    game_copy_unprobed(&callback, var + CVAR_CALLBACK, sizeof callback);
    uint64_t refuse = game_addr(GAME_OFF_CVAR_REFUSE), own = game_addr(GAME_OFF_TRAFFIC_CALLBACK);
    if (in_effect() == TRAFFIC_MODE_LOCAL) {
        if (callback != refuse)
            return;
        float value = 0;
        if (!world_write_guarded<uint64_t>(var + CVAR_CALLBACK, own) ||
            !world_write_guarded<uint8_t>(var + CVAR_CACHED, 0) || !cvar_value(var, &value))
            return;
        if (manager)
            traffic_push_density(manager, value);
        manager_zeroed = 0;
        core_log("[traffic] AI traffic local: g_traffic unlocked, back to your %.2f", value);
        return;
    }
    if (callback != refuse) {
        if (callback && callback != own) {
            if (!warned)
                core_log("[traffic] g_traffic has a foreign callback %p; not locking", (void *)(uintptr_t)callback);
            warned = true;
            return;
        }
        manager_zeroed = 0;
        char text[CVAR_CACHED - CVAR_VALUE_TEXT] = "";
        game_read_guarded_text(var + CVAR_VALUE_TEXT, text, sizeof text);
        if (!world_write_guarded<uint64_t>(var + CVAR_CALLBACK, refuse))
            return;
        core_log("[traffic] AI traffic off: g_traffic locked at 0 (your setting '%s' is kept)", text);
    }
    world_write_guarded<float>(var + CVAR_CACHED_VALUE, 0.0f);
    world_write_guarded<uint8_t>(var + CVAR_CACHED, 1);
    if (manager && manager != manager_zeroed) {
        uint64_t cars = 0;
        safe_read_u64(manager + TRAFFIC_MGR_COUNT, &cars);
        traffic_push_density(manager, 0.0f);
        manager_zeroed = manager;
        core_log("[traffic] traffic manager %p: density 0 (%llu cars despawned)", (void *)(uintptr_t)manager,
                 (unsigned long long)cars);
    }
}

} // namespace

/* ---- the manager ---- */

uint64_t traffic_manager() { return game_image_value<uint64_t>(GAME_OFF_TRAFFIC_MANAGER); }

/* ---- modes ---- */

void traffic_lock_tick(double now)
{
    int32_t server = traffic_server_mode(net_traffic_slot());
    if (server != server_mode) {
        lock_timer = 0;
        server_mode = server;
        core_log("[traffic] server traffic setting: %s", traffic_mode_text(server));
    }
    traffic_apply_lock(now, false);
}

void traffic_lock_command(int32_t mode, double now)
{
    command_mode = mode;
    traffic_apply_lock(now, true);
    core_log("[traffic] mode %s by command (config %s, server %s, in effect %s)", traffic_mode_text(command_mode),
             traffic_mode_text(config_mode), traffic_mode_text(server_mode), traffic_mode_text(in_effect()));
}

void traffic_lock_report()
{
    uint64_t var = traffic_find_cvar();
    const char *lock = "unknown";
    char text[CVAR_CACHED - CVAR_VALUE_TEXT] = "";
    uint8_t cached = 0;
    float cached_value = 0;
    if (var) {
        uint64_t callback = 0;
        game_read_guarded(var + CVAR_CALLBACK, &callback);
        lock = callback == game_addr(GAME_OFF_CVAR_REFUSE) ? "locked" : "free";
        game_read_guarded_text(var + CVAR_VALUE_TEXT, text, sizeof text);
        game_read_guarded(var + CVAR_CACHED, &cached);
        game_read_guarded(var + CVAR_CACHED_VALUE, &cached_value);
    }
    core_log("[traffic] mode: config %s, command %s, server %s, in effect %s; g_traffic %s value '%s' cached %u/%.2f",
             traffic_mode_text(config_mode), traffic_mode_text(command_mode), traffic_mode_text(server_mode),
             traffic_mode_text(in_effect()), lock, text, cached, cached_value);
}

void traffic_set_config_mode(int32_t mode)
{
    config_mode = mode;
    command_mode = TRAFFIC_MODE_NONE;
}
