// Prop hookups and lights: the model's hookups created once it has loaded,
// light hookups and blinking flares counted, the light mode applied
// (fixed, or following the carrying vehicle's headlights or beacons), and
// the "hookups" dump. Game thread (the props tick and the dispatcher).
//
// Index of this file:
//   game layout   hookup classes and fields, the creation context
//   classes       a hookup's class chain
//   creation      props_create_hookups, props_count_flares
//   modes         the effective state, props_apply_lights
//   dump          props_cmd_hookups, the light records
#include <stdio.h>
#include <string.h>
#include "base/core.h"
#include "dm_guard.h"
#include "base/game_mem.h"
#include "net/net.h"
#include "props/props_internal.h"

namespace {

/* ---- classes ---- */

bool hookup_is(uint64_t hookup, uint32_t class_offset)
{
    return game_class_reaches(game_object_class(hookup), game_addr(class_offset));
}

bool hookup_list(uint64_t model, uint64_t *list, uint64_t *count)
{
    *list = game_u64_guarded(model + MODEL_HOOKUPS);
    *count = game_u64_guarded(model + MODEL_HOOKUP_COUNT);
    return *list && *count <= HOOKUPS_MAX && probe_read(*list, *count * 8);
}

/* The game's inline list: its table, a pointer to its own slot, size 0,
 * capacity 1, the slot. */
struct inline_list {
    uint64_t table, data, size, capacity, slot;
};
struct creation_context {
    uint64_t table;
    inline_list lists[2];
};

} // namespace

/* ---- creation ---- */

int32_t props_count_flares(uint64_t model, uint32_t *hookups)
{
    uint64_t list, count;
    bool ok = hookup_list(model, &list, &count);
    *hookups = (uint32_t)(count > HOOKUPS_MAX ? 0 : count);
    if (!ok)
        return 0;
    int32_t flares = 0;
    for (uint64_t i = 0; i < count; i++) {
        uint64_t h = game_u64_guarded(list + 8 * i);
        if (h && hookup_is(h, GAME_OFF_FLARE_BLINK_CLASS))
            flares++;
    }
    return flares;
}

void props_create_hookups(prop_record *r)
{
    // Not drawn while the game builds them: created once the calls are done.
    __atomic_store_n(&r->hookup_state, (uint8_t)PROP_HOOKUPS_CREATING, __ATOMIC_SEQ_CST);
    uint64_t model = r->model;
    creation_context ctx;
    ctx.table = game_addr(GAME_OFF_HOOKUP_CONTEXT);
    for (auto &l : ctx.lists) {
        l.table = game_addr(GAME_OFF_INLINE_LIST);
        l.data = (uint64_t)(uintptr_t)&l.slot;
        l.size = 0;
        l.capacity = 1;
        l.slot = 0;
    }
    bool ok = dm_guarded([&] {
        game_vslot<uint64_t (*)(uint64_t)>(model, MODEL_SLOT_HOOKUPS_PREPARE)(model);
        game_vslot<uint64_t (*)(uint64_t, uint64_t, uint64_t)>(model, MODEL_SLOT_HOOKUPS_CREATE)(
            model, (uint64_t)(uintptr_t)&ctx, 1);
    });
    if (!ok) {
        // No hookups are made after a fault in their creation.
        r->hookup_state = PROP_HOOKUPS_STOPPED;
        props_log("[props] #%u: creating hookups faulted", r->local_id);
        return;
    }
    __atomic_store_n(&r->hookup_state, (uint8_t)PROP_HOOKUPS_CREATED, __ATOMIC_RELEASE);
    uint32_t hookups = 0;
    int32_t flares = props_count_flares(model, &hookups);
    if (hookups)
        props_log("[props] #%u: %d hookup(s), %d blinking flare(s)", r->local_id, (int)hookups, flares);
    r->light_applied = 0xFF;
}

/* ---- modes ---- */

static bool effective_on(const prop_record *r)
{
    uint8_t mode = r->light_mode > 6 ? 0 : r->light_mode;
    if (mode <= 1)
        return true;
    if (mode == 2 || !r->attach_part)
        return false;
    uint32_t word = 0;
    if (!props_carrier_light_word(r, &word))
        return false;
    bool head = word & LIGHT_HEADLIGHTS, beacons = word & LIGHT_BEACONS;
    switch (mode) {
    case 3: return head;
    case 4: return !head;
    case 5: return beacons;
    default: return !beacons;
    }
}

void props_apply_lights(prop_record *r)
{
    // The state is compared first: the model is touched only on a change.
    uint8_t on = effective_on(r) ? 1 : 0;
    if (on == r->light_applied)
        return;
    uint64_t model = r->model;
    if (!props_model_loaded(model))
        return;
    uint64_t list, count;
    if (!hookup_list(model, &list, &count))
        return;
    uint8_t mode = r->light_mode > 6 ? 0 : r->light_mode;
    for (uint64_t i = 0; i < count; i++) {
        uint64_t h = *(const uint64_t *)(uintptr_t)(list + 8 * i);
        if (!h)
            continue;
        if (hookup_is(h, GAME_OFF_FLARE_BLINK_CLASS)) {
            if (mode != 0)
                *(volatile uint8_t *)(uintptr_t)(h + FLARE_DISABLED) = on ? 0 : 1;
        } else if (hookup_is(h, GAME_OFF_LIGHT_CLASS)) {
            *(volatile uint8_t *)(uintptr_t)(h + LIGHT_ALWAYS_ON) = on;
        }
    }
    r->light_applied = on;
}

/* ---- dump ---- */

static void dump_light(uint64_t light)
{
    uint64_t ctrl = game_ctrl_guarded();
    uint64_t lights = game_u64_guarded(ctrl + CTRL_LIGHTS), light_count = game_u64_guarded(ctrl + CTRL_LIGHTS + 8);
    int index = -1;
    for (uint64_t i = 0; lights && i < light_count && i < 100000; i++)
        if (game_u64_guarded(lights + 8 * i) == light) {
            index = (int)i;
            break;
        }
    const uint32_t at[2] = { CTRL_STATIC_LIGHTS, CTRL_MOVING_LIGHTS };
    uint64_t counts[2];
    int record = -1;
    for (int k = 0; k < 2; k++) {
        uint64_t recs = game_u64_guarded(ctrl + at[k]);
        counts[k] = game_u64_guarded(ctrl + at[k] + 8);
        for (uint64_t i = 0; record < 0 && recs && i < counts[k] && i < 100000; i++) {
            struct {
                uint8_t flag, pad[3];
                float x, y, z;
                int16_t sx, sz;
                float radius;
                uint64_t light;
            } rec;
            static_assert(sizeof rec == 32, "a light record is 32 bytes");
            if (!game_copy_guarded(&rec, recs + 32 * i, sizeof rec) || rec.light != light)
                continue;
            record = (int)i;
            props_log("[props]     record %s[%d]: flag %u pos (%.1f, %.1f, %.1f) sector (%d, %d) radius %.1f",
                      k ? "moving" : "static", record, rec.flag, rec.x, rec.y, rec.z, rec.sx, rec.sz, rec.radius);
        }
    }
    uint64_t lamp = game_u64_guarded(light + LIGHT_LAMP);
    props_log("[props]     light: always %u lampword %p(%u) range %.2f/%.2f type %d intensity %.2f fade %.2f registered "
              "%u parent %p +1a0 %p; manager %p: %llu lights (ours %d), %llu static, %llu moving records (ours %d)",
              game_read_guarded_or_zero<uint8_t>(light + LIGHT_ALWAYS_ON), (void *)(uintptr_t)lamp,
              lamp ? game_read_guarded_or_zero<uint8_t>(lamp) : 0, game_read_guarded_or_zero<float>(light + LIGHT_RANGE_A),
              game_read_guarded_or_zero<float>(light + LIGHT_RANGE_B), game_read_guarded_or_zero<int32_t>(light + LIGHT_TYPE),
              game_read_guarded_or_zero<float>(light + LIGHT_INTENSITY), game_read_guarded_or_zero<float>(light + LIGHT_FADE),
              game_read_guarded_or_zero<uint8_t>(light + LIGHT_REGISTERED), (void *)(uintptr_t)game_u64_guarded(light + LIGHT_PARENT),
              (void *)(uintptr_t)game_u64_guarded(light + LIGHT_1A0), (void *)(uintptr_t)ctrl,
              (unsigned long long)light_count, index, (unsigned long long)counts[0], (unsigned long long)counts[1],
              record);
    placement w = {};
    props_game_world_placement(light + LIGHT_FRAME - MODEL_TRANSFORM, &w);
    props_log("[props]     hookup local (%.2f, %.2f, %.2f); light world (%.1f, %.1f, %.1f) sector (%d, %d)",
              game_read_guarded_or_zero<float>(light + LIGHT_HOOKUP_LOCAL),
              game_read_guarded_or_zero<float>(light + LIGHT_HOOKUP_LOCAL + 4),
              game_read_guarded_or_zero<float>(light + LIGHT_HOOKUP_LOCAL + 8), w.x, w.y, w.z, w.sector_x, w.sector_z);
}

void props_cmd_hookups(const char *rest)
{
    prop_record *r = props_find_first_word(rest, nullptr);
    if (!r)
        return;
    uint64_t list = game_u64_guarded(r->model + MODEL_HOOKUPS), count = game_u64_guarded(r->model + MODEL_HOOKUP_COUNT);
    props_log("[props] #%u: %llu hookup(s) at %p", r->local_id, (unsigned long long)count, (void *)(uintptr_t)list);
    bool ok = dm_guarded([&] {
        for (uint64_t i = 0; list && i < count && i < 64; i++) {
            uint64_t h = game_u64_guarded(list + 8 * i);
            if (!h)
                continue;
            bool flare = hookup_is(h, GAME_OFF_FLARE_BLINK_CLASS);
            const char *suffix =
                flare ? (game_read_guarded_or_zero<uint8_t>(h + FLARE_DISABLED) ? " (flare_blink, disabled)"
                                                                                 : " (flare_blink, on)")
                      : "";
            char name[64];
            game_class_name(game_object_class(h), name, sizeof name);
            props_log("[props]   [%llu] %p %s%s", (unsigned long long)i, (void *)(uintptr_t)h, name, suffix);
            if (!flare && hookup_is(h, GAME_OFF_LIGHT_CLASS))
                dump_light(h);
        }
    });
    if (!ok)
        props_log("[props]     light dump faulted");
}
