/* One guarded call for both libraries: dm_guarded(fn, ...) runs a callable
 * under the structured-exception guard (dm_seh.h) and reports whether it
 * returned normally.
 *
 * A C++ exception must never unwind into the game's frames or across a
 * library boundary (each library carries its own unwinder). The thunk catches
 * any C++ exception inside the guarded call and raises DM_FAULT_CXX_EXCEPTION
 * in its place once the exception object is gone, so the filter sees it as
 * one more fault of that call and logs it the same way. */
#pragma once
#include <windows.h>
#include <type_traits>
#include "dm_seh.h"

/* The code a caught C++ exception is reported with (customer bit set). */
#define DM_FAULT_CXX_EXCEPTION 0xE0444D43ul

template <typename F> void dm_guard_thunk(void *callable)
{
    bool thrown = false;
    try {
        (*(F *)callable)();
    } catch (...) {
        thrown = true;
    }
    if (thrown)
        RaiseException(DM_FAULT_CXX_EXCEPTION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
}

/* Runs fn() with filter(pointers, ctx) deciding about a fault (null filter:
 * catch everything). Returns true when fn returned normally. */
template <typename F> bool dm_guarded_filter(F &&fn, dm_seh_filter_fn filter, void *ctx)
{
    using callable = typename std::remove_reference<F>::type;
    return dm_seh_call(dm_guard_thunk<callable>, (void *)&fn, filter, ctx) != 0;
}

/* Runs fn(); on a fault records it into *fault (when not null) and returns false. */
template <typename F> bool dm_guarded(F &&fn, dm_seh_fault *fault = nullptr)
{
    dm_seh_fault local = {};
    return dm_guarded_filter(fn, dm_seh_record_filter, fault ? fault : &local);
}

template <typename F> void dm_unwind_body_thunk(void *callable) { (*(F *)callable)(); }

/* Runs fn(), catching nothing; when a structured exception raised inside it
 * unwinds to a handler further out (the game's own, around a routine a
 * detour wraps), cleanup() runs on the way (dm_seh_call_unwind). The caller
 * does its normal-path cleanup itself after the call returns. */
template <typename F, typename C> void dm_unwind_guarded(F &&fn, C &&cleanup)
{
    using body = typename std::remove_reference<F>::type;
    using after = typename std::remove_reference<C>::type;
    dm_seh_call_unwind(dm_unwind_body_thunk<body>, (void *)&fn, dm_unwind_body_thunk<after>, (void *)&cleanup);
}
