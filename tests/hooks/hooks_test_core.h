/* The extra export of hooks_test_core.dll (the real core otherwise): the
 * spawned vehicle's and trailer's state words as the detours read them. */
#pragma once

typedef struct hooktest_state {
    int state;          /* 0 none, 1 loading, 2 spawned */
    void *vehicle;
    int trailer_state;
    void *trailer;
    int hidden;
} hooktest_state;
typedef void (*hooktest_spawn_fn)(const hooktest_state *s);
#define HOOKTEST_SPAWN "hooktest_spawn"
