/* Code hooks: the draw and shadow detours in the game's rendering, and the
 * console commands that install and remove them. Not in this build: every
 * entry point is a stub in runtime_stubs.cpp. */
#pragma once
#include <stdint.h>
#include "cmd_table.h"

/* The detours' counts and fault flags, read by the "stats" frame step. */
typedef struct hook_counters {
    volatile uint32_t draw, shadow, trailer_draw, trailer_shadow;
    volatile uint8_t draw_fault, shadow_fault, trailer_draw_fault, trailer_shadow_fault;
} hook_counters;
extern hook_counters hook_stats;

void hook_install_draw();
void hook_remove_all();
void hook_remove_shadow();
void hook_remove_draw();
bool hook_draw_installed();
bool hook_drawing_enabled();
void hook_set_drawing_enabled(bool on);
/* The "hook on", "hook off", "shadow on" and "shadow off" rows. */
void hook_command(cmd_id id);
