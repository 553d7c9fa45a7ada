/* Code hooks: the draw and shadow detours in the game's rendering, and the
 * console commands that install and remove them (hooks.cpp). */
#pragma once
#include <stdint.h>

/* The detours' counts and fault flags, read by the "stats" frame step. */
typedef struct hook_counters {
    volatile uint32_t draw, shadow, trailer_draw, trailer_shadow;
    volatile uint8_t draw_fault, shadow_fault, trailer_draw_fault, trailer_shadow_fault;
} hook_counters;
extern hook_counters hook_stats;

/* "hook on": the draw hook, then the shadow hook. */
void hook_install_draw();
/* "hook off" and dm_core_shutdown: drawing off, shadow hook, draw hook, with
 * their log lines. */
void hook_remove_all();
/* dm_core_unhook's removal, without log lines (but for one that cannot
 * drain). */
void hook_remove_shadow();
void hook_remove_draw();
bool hook_draw_installed();
/* A new trailer is drawn again even when an earlier one's draw faulted. */
void hook_reset_trailer_faults();
bool hook_drawing_enabled();
void hook_set_drawing_enabled(bool on);
/* "shadow on" and "shadow off": whether our shadows are cast. */
void hook_shadows(bool on);

/* What the detours read of the spawned vehicle and trailer, on the render
 * thread, all through this view: the vehicles' readers (vehicles.h) unless
 * a test core sets a view of its own (null: the vehicles' again). */
typedef struct hook_spawn_view {
    int (*state)();         /* SPAWN_NONE, SPAWN_LOADING, SPAWN_SPAWNED (vehicles.h) */
    void *(*vehicle)();
    int (*trailer_state)(); /* as state */
    void *(*trailer)();
    bool (*hidden)();       /* a parked remote player's vehicle is not drawn */
} hook_spawn_view;
void hook_set_spawn_view(const hook_spawn_view *view);

/* The game's routines while hooked; never called by the core. */
uint64_t hook_draw_detour(uint64_t a1, uint64_t a2, uint64_t a3, uint64_t a4);
uint64_t shadow_detour(uint64_t a1, uint64_t a2, uint64_t a3, uint64_t a4);
/* The light strength of our shadows for the shadow context a1 and a light;
 * -1.0 when the light casts none. */
float shadow_strength(uint64_t a1, uint64_t light);
