// The draw and shadow hooks: the core's own objects drawn inside the game's
// draw and shadow routines, through inline hooks (inline_hook.h).
//
// Index of this file:
//   game offsets and state
//   what the detours read  the spawned vehicle's view, hook_set_spawn_view
//   guarded object calls   the vehicle and trailer virtuals, the render word
//   shadow_strength
//   the detours            hook_draw_detour, shadow_detour
//   install and remove     hook_install_draw, hook_remove_all, ...
//   commands               hook_shadows (shadow on|off)
//
// The detours run on the game's render thread, the rest on the game thread.
// They read the spawned vehicle's and trailer's state only through the
// spawned vehicle's view (the vehicles subsystem's readers unless a test
// core set its own), as it stands (no lock), and only inside render_gate:
// the game thread drains the gate before it releases what they may hold.
#include <windows.h>
#include <string.h>
#include "base/core.h"
#include "dm_guard.h"
#include "base/game_mem.h"
#include "runtime/hooks.h"
#include "base/inline_hook.h"
#include "props/props.h"
#include "runtime/runtime_game.h"
#include "vehicles/vehicles.h"

/* ---- game offsets and state ---- */

namespace {


const uint8_t draw_prologue[14] = { 0x48, 0x89, 0x74, 0x24, 0x20, 0x57, 0x48,
                                    0x83, 0xEC, 0x20, 0x48, 0x8B, 0x42, 0x18 };
const uint8_t shadow_prologue[15] = { 0x40, 0x55, 0x56, 0x41, 0x56, 0x48, 0x83, 0xEC,
                                      0x30, 0x48, 0x8B, 0xE9, 0x4D, 0x8B, 0xF0 };

inline_hook draw_hook, shadow_hook;
volatile uint8_t drawing_enabled;
volatile uint8_t shadows_off;

typedef uint64_t (*game_routine)(uint64_t, uint64_t, uint64_t, uint64_t);
typedef void (*draw_slot)(uint64_t object, uint64_t context, uint64_t, uint64_t);
typedef void (*shadow_slot)(uint64_t object, uint64_t a2, uint64_t light_word, float strength);

void count(volatile uint32_t *counter) { __atomic_add_fetch(counter, 1, __ATOMIC_RELAXED); }

/* ---- what the detours read ---- */

const hook_spawn_view vehicles_view = { spawn_state_value, spawn_vehicle_ptr, spawn_trailer_state_value,
                                        spawn_trailer_ptr, spawn_hidden };
const hook_spawn_view *spawn_view = &vehicles_view;

const hook_spawn_view *view() { return __atomic_load_n(&spawn_view, __ATOMIC_ACQUIRE); }

/* ---- guarded object calls ---- */

/* The object's draw virtual with the render word at 1 around it; the word
 * gets its value back whether the call returned or faulted. False after a
 * fault. */
bool draw_object(uint64_t object, uint64_t context, uint64_t ctrl)
{
    game_render_word word = {};
    bool ok = dm_guarded([&] {
        game_render_word_set(&word, game_field<volatile uint64_t>(ctrl, GAME_CTRL_CAMERA_MANAGER));
        game_vslot<draw_slot>(object, hook_vslot_draw)(object, context, 0, 0);
    });
    if (!game_render_word_restore(&word))
        ok = false;
    return ok;
}

bool shadow_object(uint64_t object, uint64_t a2, uint64_t light, float strength)
{
    return dm_guarded([&] {
        uint64_t word = *(volatile uint64_t *)(uintptr_t)light;
        game_vslot<shadow_slot>(object, hook_vslot_shadow)(object, a2, word, strength);
    });
}

/* The spawned vehicle when it is to be drawn now, else 0. */
uint64_t vehicle_drawable(const hook_spawn_view *v)
{
    if (v->state() != SPAWN_SPAWNED || v->hidden())
        return 0;
    return (uint64_t)(uintptr_t)v->vehicle();
}

uint64_t trailer_drawable(const hook_spawn_view *v)
{
    return v->trailer_state() == SPAWN_SPAWNED ? (uint64_t)(uintptr_t)v->trailer() : 0;
}

} // namespace

void hook_set_spawn_view(const hook_spawn_view *v)
{
    __atomic_store_n(&spawn_view, v ? v : &vehicles_view, __ATOMIC_RELEASE);
}

/* ---- shadow_strength ---- */

float shadow_strength(uint64_t a1, uint64_t light)
{
    typedef int32_t (*light_test_fn)(uint64_t table, uint64_t light);
    int32_t casts = game_fn<light_test_fn>(GAME_OFF_SETTING_GETTER)(game_addr(hook_addr::light_table), light);
    if (casts < 1)
        return -1.0f;
    uint64_t kind = 0, flags = 0;
    uint8_t light_bits = 0;
    if (!game_read_guarded(light + shadow_field::light_kind, &kind) ||
        !game_read_guarded(kind + shadow_field::kind_flags, &flags) ||
        !game_read_guarded(light + shadow_field::light_bits, &light_bits))
        return -1.0f;
    if (!(flags & shadow_field::flags_cast) || (light_bits & 1) || (flags & shadow_field::flags_none))
        return -1.0f;
    float w = 0, k = 0, f = 0;
    uint64_t k_object = 0, f_object = 0;
    if (!game_read_guarded(a1 + shadow_field::w, &w) || !game_read_guarded(a1 + shadow_field::k_object, &k_object) ||
        !game_read_guarded(k_object + shadow_field::k, &k) ||
        !game_read_guarded(a1 + shadow_field::f_object, &f_object) ||
        !game_read_guarded(f_object + shadow_field::f, &f))
        return -1.0f;
    return 1.0f + (1.0f - w) * k * (f - 1.0f);
}

/* ---- the detours ---- */

namespace {

/* Each detour's whole call: inside the gate, which it leaves on every path,
 * also when the game's routine raises and a handler of the game's further
 * out unwinds through us. */
template <typename F> uint64_t in_gate(F &&body)
{
    detour_gate *gate = render_gate;
    uint32_t entered = detour_gate_enter(gate);
    uint64_t result = 0;
    dm_unwind_guarded([&] { result = body(); }, [&] { detour_gate_leave(gate, entered); });
    detour_gate_leave(gate, entered);
    return result;
}

uint64_t draw_body(uint64_t a1, uint64_t a2, uint64_t a3, uint64_t a4)
{
    uint64_t result = ((game_routine)(uintptr_t)draw_hook.trampoline)(a1, a2, a3, a4);
    props_draw(a2);
    const hook_spawn_view *v = view();
    uint64_t vehicle = drawing_enabled && !hook_stats.draw_fault ? vehicle_drawable(v) : 0;
    if (!vehicle)
        return result;
    uint64_t ctrl = game_ctrl_guarded();
    if (!ctrl)
        return result;
    if (draw_object(vehicle, a2, ctrl))
        count(&hook_stats.draw);
    else
        hook_stats.draw_fault = 1;
    uint64_t trailer = trailer_drawable(v);
    if (trailer && !hook_stats.trailer_draw_fault) {
        if (draw_object(trailer, a2, ctrl))
            count(&hook_stats.trailer_draw);
        else
            hook_stats.trailer_draw_fault = 1;
    }
    return result;
}

uint64_t shadow_body(uint64_t a1, uint64_t a2, uint64_t a3, uint64_t a4)
{
    uint64_t result = ((game_routine)(uintptr_t)shadow_hook.trampoline)(a1, a2, a3, a4);
    const hook_spawn_view *v = view();
    uint64_t vehicle = drawing_enabled && !shadows_off && a1 && a3 ? vehicle_drawable(v) : 0;
    if (!vehicle)
        return result;
    float s = -1.0f;
    if (!hook_stats.shadow_fault) {
        volatile float strength = -1.0f;
        bool ok = dm_guarded([&] { strength = shadow_strength(a1, a3); });
        if (ok && strength >= 0)
            ok = shadow_object(vehicle, a2, a3, strength);
        if (!ok) {
            hook_stats.shadow_fault = 1;
            return result;
        }
        s = strength;
        if (s >= 0)
            count(&hook_stats.shadow);
    }
    uint64_t trailer = trailer_drawable(v);
    if (s >= 0 && trailer && !hook_stats.trailer_shadow_fault) {
        if (shadow_object(trailer, a2, a3, s))
            count(&hook_stats.trailer_shadow);
        else
            hook_stats.trailer_shadow_fault = 1;
    }
    return result;
}

} // namespace

uint64_t hook_draw_detour(uint64_t a1, uint64_t a2, uint64_t a3, uint64_t a4)
{
    return in_gate([&] { return draw_body(a1, a2, a3, a4); });
}

uint64_t shadow_detour(uint64_t a1, uint64_t a2, uint64_t a3, uint64_t a4)
{
    return in_gate([&] { return shadow_body(a1, a2, a3, a4); });
}

/* ---- install and remove ---- */

hook_counters hook_stats;

void hook_install_draw()
{
    if (draw_hook.target) {
        core_log("[core] draw hook already installed");
        return;
    }
    uint64_t draw = hook_install_inline(&draw_hook, game_addr(hook_addr::draw), draw_prologue, sizeof draw_prologue,
                                        (const void *)hook_draw_detour);
    if (!draw) {
        core_log("[core] draw hook: prologue bytes differ or install failed; not hooked");
        return;
    }
    hook_stats.draw_fault = 0;
    drawing_enabled = 1;
    core_log("[core] draw hook installed at %p (trampoline %p)", (void *)(uintptr_t)draw_hook.target,
             (void *)(uintptr_t)draw);
    if (hook_install_inline(&shadow_hook, game_addr(hook_addr::shadow), shadow_prologue, sizeof shadow_prologue,
                            (const void *)shadow_detour)) {
        hook_stats.shadow_fault = 0;
        core_log("[core] shadow hook installed at %p", (void *)(uintptr_t)shadow_hook.target);
    } else {
        core_log("[core] shadow hook: prologue bytes differ or install failed; no shadows");
    }
}

void hook_remove_shadow() { hook_remove(&shadow_hook, render_gate, "shadow"); }
void hook_remove_draw() { hook_remove(&draw_hook, render_gate, "draw"); }

void hook_remove_all()
{
    drawing_enabled = 0;
    if (shadow_hook.target) {
        hook_remove_shadow();
        core_log("[core] shadow hook removed (shadow calls so far: %u)", (unsigned)hook_stats.shadow);
    }
    if (draw_hook.target) {
        hook_remove_draw();
        core_log("[core] draw hook removed (draw calls so far: %u)", (unsigned)hook_stats.draw);
    }
}

bool hook_draw_installed() { return draw_hook.target != 0; }
void hook_reset_trailer_faults()
{
    hook_stats.trailer_draw_fault = 0;
    hook_stats.trailer_shadow_fault = 0;
}
bool hook_drawing_enabled() { return drawing_enabled != 0; }
void hook_set_drawing_enabled(bool on) { drawing_enabled = on ? 1 : 0; }

/* ---- commands ---- */

void hook_shadows(bool on)
{
    shadows_off = on ? 0 : 1;
    core_log("[core] shadow %s", on ? "ON" : "OFF");
}
