// The spawned vehicle as the draw and shadow detours see it, set by the test
// through hooktest_spawn: the detours read only through the view they are
// given (hooks.h), so every reader of theirs reads the test's state.
#include "runtime/hooks.h"
#include "hooks_test_core.h"

namespace {

volatile int state, trailer_state;
void *volatile vehicle, *volatile trailer;
volatile bool hidden;

const hook_spawn_view test_view = {
    [] { return (int)state; },
    [] { return (void *)vehicle; },
    [] { return (int)trailer_state; },
    [] { return (void *)trailer; },
    [] { return (bool)hidden; },
};

} // namespace

extern "C" __declspec(dllexport) void hooktest_spawn(const hooktest_state *s)
{
    state = s->state;
    vehicle = s->vehicle;
    trailer_state = s->trailer_state;
    trailer = s->trailer;
    hidden = s->hidden != 0;
    hook_set_spawn_view(&test_view);
}
