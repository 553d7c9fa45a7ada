// The detours' gate (see detour_gate.h).
#include "base/detour_gate.h"
#include <windows.h>
#include <stdio.h>
#include "base/shared_section.h"

namespace {
detour_gate own_render_gate;
} // namespace

detour_gate *render_gate = &own_render_gate;

void render_gate_share()
{
    char name[64];
    snprintf(name, sizeof name, RENDER_GATE_NAME, (unsigned long)GetCurrentProcessId());
    if (detour_gate *shared = (detour_gate *)section_map(name, sizeof(detour_gate)))
        render_gate = shared;
}

uint32_t detour_gate_enter(detour_gate *g)
{
    for (;;) {
        uint32_t e = __atomic_load_n(&g->epoch, __ATOMIC_SEQ_CST);
        __atomic_add_fetch(&g->count[e & 1], 1, __ATOMIC_SEQ_CST);
        // Counted under e only while e is still the epoch: a drain that
        // moved it on meanwhile may have looked at this count already.
        if (__atomic_load_n(&g->epoch, __ATOMIC_SEQ_CST) == e)
            return e;
        __atomic_sub_fetch(&g->count[e & 1], 1, __ATOMIC_SEQ_CST);
    }
}

void detour_gate_leave(detour_gate *g, uint32_t entered)
{
    __atomic_sub_fetch(&g->count[entered & 1], 1, __ATOMIC_SEQ_CST);
}

namespace {

int64_t ticks_now()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

/* Moves the epoch on and waits until the deadline for the parity it left. */
bool drain_phase(detour_gate *g, int64_t deadline)
{
    uint32_t left = __atomic_fetch_add(&g->epoch, 1, __ATOMIC_SEQ_CST);
    for (unsigned spins = 0;; spins++) {
        if (__atomic_load_n(&g->count[left & 1], __ATOMIC_SEQ_CST) <= 0)
            return true;
        if (ticks_now() >= deadline)
            return false;
        // A draw call is short: yield first, sleep once it takes longer.
        if (spins < 64)
            SwitchToThread();
        else
            Sleep(1);
    }
}

} // namespace

bool detour_gate_drain(detour_gate *g, unsigned timeout_ms)
{
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    int64_t deadline = ticks_now() + f.QuadPart * (int64_t)timeout_ms / 1000;
    return drain_phase(g, deadline) && drain_phase(g, deadline);
}
