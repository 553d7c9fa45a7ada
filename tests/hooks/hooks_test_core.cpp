// The spawned vehicle's state as the draw and shadow detours read it, set by
// the test through hooktest_spawn (see CMakeLists.txt).
#include "vehicles.h"
#include "hooks_test_core.h"

namespace {
volatile int state, trailer_state;
void *volatile vehicle, *volatile trailer;
volatile bool hidden;
} // namespace

int dm_spawn_state_value() { return state; }
void *dm_spawn_vehicle_ptr() { return vehicle; }
int dm_spawn_trailer_state_value() { return trailer_state; }
void *dm_spawn_trailer_ptr() { return trailer; }
bool dm_spawn_hidden() { return hidden; }

extern "C" __declspec(dllexport) void hooktest_spawn(const hooktest_state *s)
{
    state = s->state;
    vehicle = s->vehicle;
    trailer_state = s->trailer_state;
    trailer = s->trailer;
    hidden = s->hidden != 0;
}
