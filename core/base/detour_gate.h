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
 * game thread only. */
#pragma once
#include <stdint.h>

typedef struct detour_gate {
    volatile uint32_t epoch;
    volatile int32_t count[2];
} detour_gate;

/* The draw and shadow detours' gate. */
extern detour_gate render_gate;

/* Counts a detour in; the result is what it hands to detour_gate_leave. */
uint32_t detour_gate_enter(detour_gate *g);
void detour_gate_leave(detour_gate *g, uint32_t entered);

/* Waits up to timeout_ms for every detour inside the gate now to leave;
 * true once they have, false when one is still inside at the end (a later
 * drain waits for it again). */
bool detour_gate_drain(detour_gate *g, unsigned timeout_ms);
