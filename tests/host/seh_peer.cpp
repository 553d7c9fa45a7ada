// A second library with its own copy of the guard (and of the C++ runtime):
// its filter records the fault and lets the search go on, so an outer guard
// elsewhere catches it; and it throws C++ exceptions across its boundary.
#include <windows.h>
#include <stdexcept>
#include "dm_seh.h"

static long record_and_continue(EXCEPTION_POINTERS *p, void *seen)
{
    dm_seh_record_filter(p, seen);
    ((dm_seh_fault *)seen)->param_count |= 0x1000; // marks "seen by the peer"
    return EXCEPTION_CONTINUE_SEARCH;
}

extern "C" __declspec(dllexport) int peer_guard_log_and_continue(dm_seh_body_fn fn, void *arg,
                                                                 dm_seh_fault *seen)
{
    return dm_seh_call(fn, arg, record_and_continue, seen);
}

extern "C" __declspec(dllexport) void peer_throw(void)
{
    throw std::runtime_error("thrown in the peer");
}
