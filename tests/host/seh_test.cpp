// The structured-exception guard under a real Windows exception dispatcher.
#include <gtest/gtest.h>
#include <windows.h>
#include <stdexcept>
#include "dm_guard.h"

extern "C" __declspec(dllimport) int peer_guard_log_and_continue(dm_seh_body_fn fn, void *arg,
                                                                 dm_seh_fault *seen);
extern "C" __declspec(dllimport) void peer_throw(void);

namespace {

volatile int *volatile bad_pointer = (volatile int *)(uintptr_t)0x1234;
volatile int zero = 0;

void write_bad(void *) { *bad_pointer = 1; }
void read_bad(void *out) { *(int *)out = *(bad_pointer + 4); }
void divide(void *out) { *(int *)out = 100 / zero; }
void raise_one(void *) { ULONG_PTR p = 0xABC; RaiseException(0xE0001234, 0, 1, &p); }
void fine(void *out) { *(int *)out = 42; }

TEST(seh, CatchesAndDescribesEachKindOfFault)
{
    struct {
        const char *what;
        dm_seh_body_fn fn;
        unsigned long code;
        uintptr_t data;
        unsigned long params;
    } cases[] = {
        { "write", write_bad, 0xC0000005, 0x1234, 2 },
        { "read", read_bad, 0xC0000005, 0x1244, 2 },
        { "divide", divide, 0xC0000094, 0, 0 },
        { "raise", raise_one, 0xE0001234, 0, 1 },
    };
    for (auto &c : cases) {
        dm_seh_fault f = {};
        int out = 0;
        EXPECT_EQ(dm_seh_call(c.fn, &out, dm_seh_record_filter, &f), 0) << c.what;
        EXPECT_EQ(f.code, c.code) << c.what;
        EXPECT_EQ((uintptr_t)f.data_address, c.data) << c.what;
        EXPECT_EQ(f.param_count, c.params) << c.what;
        EXPECT_NE(f.code_address, nullptr) << c.what;
    }
    int out = 0;
    EXPECT_EQ(dm_seh_call(fine, &out, dm_seh_record_filter, nullptr), 1);
    EXPECT_EQ(out, 42);
    // A null filter catches everything.
    EXPECT_EQ(dm_seh_call(write_bad, nullptr, nullptr, nullptr), 0);
}

TEST(seh, ManyCaughtFaultsLeaveTheStackAsItWas)
{
    volatile char marker = 7;
    char *before = (char *)&marker;
    for (int i = 0; i < 2000; i++)
        ASSERT_EQ(dm_seh_call(write_bad, nullptr, nullptr, nullptr), 0);
    volatile char marker2 = 8;
    EXPECT_LT(before - (char *)&marker2, 256); // no frame was left behind
    EXPECT_EQ(marker, 7);
}

struct nest {
    dm_seh_fault inner;
    int inner_result;
};
void inner_then_fault(void *p)
{
    auto *n = (nest *)p;
    n->inner_result = dm_seh_call(write_bad, nullptr, dm_seh_record_filter, &n->inner);
    raise_one(nullptr); // after the inner guard: only the outer one sees it
}

TEST(seh, InnerGuardCatchesFirst)
{
    nest n = {};
    dm_seh_fault outer = {};
    EXPECT_EQ(dm_seh_call(inner_then_fault, &n, dm_seh_record_filter, &outer), 0);
    EXPECT_EQ(n.inner_result, 0);
    EXPECT_EQ(n.inner.code, 0xC0000005u);
    EXPECT_EQ(outer.code, 0xE0001234u);
}

struct peer_call {
    dm_seh_fault seen;
    int result;
};
void through_peer(void *p)
{
    auto *c = (peer_call *)p;
    c->result = peer_guard_log_and_continue(write_bad, nullptr, &c->seen);
}

TEST(seh, FilterInOneLibraryGuardInAnother)
{
    peer_call c = {};
    c.result = -1;
    dm_seh_fault outer = {};
    EXPECT_EQ(dm_seh_call(through_peer, &c, dm_seh_record_filter, &outer), 0);
    EXPECT_EQ(c.seen.code, 0xC0000005u);
    EXPECT_EQ(c.seen.param_count & 0x1000, 0x1000u);
    EXPECT_EQ(c.result, -1); // the peer's call never returned
    EXPECT_EQ(outer.code, 0xC0000005u);
    EXPECT_EQ((uintptr_t)outer.data_address, 0x1234u);
}

DWORD WINAPI thread_body(void *p)
{
    dm_seh_fault *f = (dm_seh_fault *)p;
    int r = dm_seh_call(divide, nullptr, dm_seh_record_filter, f);
    return r == 0 ? 1 : 0;
}

TEST(seh, GuardsOnASecondThread)
{
    dm_seh_fault f = {};
    HANDLE t = CreateThread(nullptr, 0, thread_body, &f, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(t, 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(t, &code);
    CloseHandle(t);
    EXPECT_EQ(code, 1u);
    EXPECT_EQ(f.code, 0xC0000094u);
}

void cxx_inside(void *out)
{
    try {
        throw std::runtime_error("kept inside");
    } catch (const std::exception &) {
        *(int *)out = 5;
    }
}

long continue_filter(EXCEPTION_POINTERS *p, void *count)
{
    ++*(int *)count;
    return p->ExceptionRecord->ExceptionCode == 0xE0000001 ? EXCEPTION_CONTINUE_EXECUTION
                                                           : EXCEPTION_CONTINUE_SEARCH;
}
void raise_continuable(void *out)
{
    RaiseException(0xE0000001, 0, 0, nullptr);
    *(int *)out = 9;
}

TEST(seh, CxxExceptionsPassThroughAndExecutionCanContinue)
{
    int out = 0, seen = 0;
    EXPECT_EQ(dm_seh_call(cxx_inside, &out, continue_filter, &seen), 1);
    EXPECT_EQ(out, 5);
    EXPECT_EQ(seen, 0); // GCC's own unwind codes never reach the filter

    EXPECT_EQ(dm_seh_call(raise_continuable, &out, continue_filter, &seen), 1);
    EXPECT_EQ(out, 9);
    EXPECT_EQ(seen, 1);
}

// A C++ exception inside dm_guarded is one more fault of the call, whoever
// threw it (this module or a library with a runtime of its own), and the
// process goes on as after any caught fault.
TEST(seh, GuardedReportsACxxExceptionAsAFault)
{
    struct {
        const char *what;
        void (*fn)();
    } cases[] = {
        { "runtime_error", [] { throw std::runtime_error("here"); } },
        { "int", [] { throw 7; } },
        { "other library", [] { peer_throw(); } },
    };
    for (auto &c : cases) {
        for (int i = 0; i < 200; i++) {
            dm_seh_fault f = {};
            int after = 0;
            ASSERT_FALSE(dm_guarded([&] { c.fn(); after = 1; }, &f)) << c.what;
            ASSERT_EQ(f.code, DM_FAULT_CXX_EXCEPTION) << c.what;
            ASSERT_EQ(after, 0) << c.what;
        }
    }

    // One caught inside never reaches the guard; a plain fault keeps its own code.
    int out = 0;
    dm_seh_fault f = {};
    EXPECT_TRUE(dm_guarded([&] { cxx_inside(&out); }, &f));
    EXPECT_EQ(out, 5);
    EXPECT_FALSE(dm_guarded([] { write_bad(nullptr); }, &f));
    EXPECT_EQ(f.code, 0xC0000005u);

    // Nested: the inner guard reports it, the outer call returns normally.
    bool inner = true;
    EXPECT_TRUE(dm_guarded([&] { inner = dm_guarded([] { throw 1; }); }));
    EXPECT_FALSE(inner);
}

} // namespace

namespace {

// An unwind cleanup frame: catches nothing; its cleanup runs when an outer
// guard takes an exception raised inside it (a destructor of a g++ frame
// would not), never on the normal path, and the fault reaches that guard.
TEST(seh, UnwindCleanupRunsOnlyWhenAnOuterGuardUnwindsThrough)
{
    static int cleanups, bodies;
    cleanups = bodies = 0;
    struct {
        const char *what;
        void (*body)();
        int caught, cleanups;
    } cases[] = {
        { "returns", [] { bodies++; }, 0, 0 },
        { "faults", [] { bodies++; write_bad(nullptr); }, 1, 1 },
        { "raises", [] { bodies++; raise_one(nullptr); }, 1, 1 },
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        cleanups = bodies = 0;
        static void (*body)();
        body = c.body;
        dm_seh_fault f = {};
        int completed = dm_seh_call(
            [](void *) { dm_unwind_guarded([] { body(); }, [] { cleanups++; }); }, nullptr, dm_seh_record_filter, &f);
        EXPECT_EQ(completed, c.caught ? 0 : 1);
        EXPECT_EQ(bodies, 1);
        EXPECT_EQ(cleanups, c.cleanups);
    }
    // Nested: each frame on the way out runs its own cleanup once.
    cleanups = 0;
    EXPECT_EQ(dm_seh_call(
                  [](void *) {
                      dm_unwind_guarded([] { dm_unwind_guarded([] { write_bad(nullptr); }, [] { cleanups += 10; }); },
                                        [] { cleanups += 1; });
                  },
                  nullptr, nullptr, nullptr),
              0);
    EXPECT_EQ(cleanups, 11);
}

} // namespace
