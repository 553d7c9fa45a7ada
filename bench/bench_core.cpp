// bench_core.dll: the real core with one export more, through which the
// vehicle-cost benchmark has each frame step announced to it as it begins,
// to time the steps one by one.
#include "runtime/runtime.h"

extern "C" __declspec(dllexport) void dm_bench_observe_steps(void (*observer)(const char *step))
{
    core_frame_observer = observer;
}
