/* The gate of the detours that read what the game thread releases: the
 * draw and shadow detours (render_gate) and the freight-row hook each count
 * themselves through one while they run, and the game thread, once it
 * stopped them from finding an object (its state word stored 0), waits at
 * the gate for the detours that may still hold it before it removes or
 * releases the object.
 *
 * A gate keeps two counts, one per parity of its epoch. A detour enters
 * under the current epoch (and enters again when the epoch moved on while
 * it counted itself), before it reads anything. A drain moves the epoch on
 * and waits for the count of the parity it left, twice, so both parities
 * are waited for once each: every detour that entered before the drain has
 * left when it returns true, while detours that keep arriving on a busy
 * render thread count under the new parity and never hold it up. Moving the
 * epoch is a full fence: a detour that entered after it reads the state
 * words as they were stored before the drain.
 *
 * A detour gives its count back on every path, also when a structured
 * exception unwinds through it (dm_unwind_guarded). Closing and waiting: the
 * game thread only.
 *
 * The render gate is shared by every core build of the process: it lives in
 * a named section, so a core that releases what the render thread reads
 * also waits for the detours of the core before it that still run (a draw
 * held inside the game's routine across a hot reload). Its layout, 12
 * bytes, is read by other core builds: u32 epoch at 0, i32 counts at 4 and
 * 8. */
#pragma once
#include <stdint.h>

typedef struct detour_gate {
    volatile uint32_t epoch;
    volatile int32_t count[2];
} detour_gate;
static_assert(sizeof(detour_gate) == 12, "the shared gate's 12 bytes");

#define RENDER_GATE_NAME "Localdrovemark_render_gate_%lu"

/* The draw and shadow detours' gate, and everything else the render thread
 * reads inside them (props). The core's own until render_gate_share. */
extern detour_gate *render_gate;
/* dm_core_init, before any hook is installed: the process's shared gate;
 * the core keeps its own when the section cannot be mapped. */
void render_gate_share();

/* Counts a detour in; the result is what it hands to detour_gate_leave. */
uint32_t detour_gate_enter(detour_gate *g);
void detour_gate_leave(detour_gate *g, uint32_t entered);

/* Waits up to timeout_ms for every detour inside the gate now to leave;
 * true once they have, false when one is still inside at the end (a later
 * drain waits for it again). */
bool detour_gate_drain(detour_gate *g, unsigned timeout_ms);
