// The inline hook and the light strength, called directly: the core's
// sources are linked into this simulated game and started with a host API of
// the test's own; the routines are the simulated game's (sim_draw.h).
#include <windows.h>
#include <string.h>
#include "runtime_fixture.h"
#include "log_capture.h"
#include "sim/sim_draw.h"
#include "base/core.h"
#include "runtime/hooks.h"
#include "base/inline_hook.h"
#include "dm_guard.h"

extern "C" int32_t dm_core_init(const dm_host_api *api);
extern "C" void dm_core_shutdown(void);

namespace {

/* The prologues, as the game's routines begin. */
const uint8_t draw_prologue[14] = { 0x48, 0x89, 0x74, 0x24, 0x20, 0x57, 0x48, 0x83, 0xEC, 0x20, 0x48, 0x8B, 0x42, 0x18 };
const uint8_t shadow_prologue[15] = { 0x40, 0x55, 0x56, 0x41, 0x56, 0x48, 0x83, 0xEC,
                                      0x30, 0x48, 0x8B, 0xE9, 0x4D, 0x8B, 0xF0 };

/* Calls of VirtualAlloc and VirtualProtect made through this game's imports
 * (the core's sources linked here use them). */
LONG allocs, protects;
void *(WINAPI *real_alloc)(void *, SIZE_T, DWORD, DWORD);
BOOL(WINAPI *real_protect)(void *, SIZE_T, DWORD, DWORD *);
void *WINAPI counting_alloc(void *a, SIZE_T n, DWORD t, DWORD p)
{
    InterlockedIncrement(&allocs);
    return real_alloc(a, n, t, p);
}
BOOL WINAPI counting_protect(void *a, SIZE_T n, DWORD p, DWORD *old)
{
    InterlockedIncrement(&protects);
    return real_protect(a, n, p, old);
}

uint64_t detour_marker(uint64_t, uint64_t, uint64_t, uint64_t) { return 0; }

class hook_layer : public ::testing::Test {
protected:
    std::string base;
    dm_host_api api {};
    sim::draw_world world {};
    uint8_t *draw = nullptr, *shadow = nullptr;

    void SetUp() override
    {
        sim::game_reset();
        sim::set_build_hash();
        sim::game_player_create();
        world = sim::draw_install();
        sim::draw_uninstall(); // nothing runs the routines here
        draw = sim::game_at(sim::off::draw_routine);
        shadow = sim::game_at(sim::off::shadow_routine);
        base = fx::test_out_dir() + "\\";
        api = { 24, 1, fx::capture_log, base.c_str() };
        fx::captured_clear();
        ASSERT_EQ(dm_core_init(&api), 1);
        HMODULE exe = GetModuleHandleA(nullptr);
        real_alloc = (decltype(real_alloc))sim::patch_import(exe, "kernel32.dll", "VirtualAlloc", (void *)counting_alloc);
        real_protect = (decltype(real_protect))sim::patch_import(exe, "kernel32.dll", "VirtualProtect",
                                                                 (void *)counting_protect);
        ASSERT_TRUE(real_alloc && real_protect);
        allocs = protects = 0;
    }
    void TearDown() override
    {
        HMODULE exe = GetModuleHandleA(nullptr);
        sim::patch_import(exe, "kernel32.dll", "VirtualAlloc", (void *)real_alloc);
        sim::patch_import(exe, "kernel32.dll", "VirtualProtect", (void *)real_protect);
        dm_core_shutdown();
        sim::game_reset();
    }
    static std::vector<uint8_t> bytes(const void *at, size_t n)
    {
        return std::vector<uint8_t>((const uint8_t *)at, (const uint8_t *)at + n);
    }
    static DWORD protection(const void *at)
    {
        MEMORY_BASIC_INFORMATION mbi;
        VirtualQuery(at, &mbi, sizeof mbi);
        return mbi.Protect;
    }
};

/* The hook block's data page, read by hand-written offsets: tag at 0x1000,
 * target at 0x1010, detour at 0x1018, count at 0x1020. */
std::string block_tag(uint64_t block) { return std::string((const char *)(uintptr_t)(block + 0x1000), 16); }
uint64_t block_u64(uint64_t block, size_t at)
{
    uint64_t v;
    memcpy(&v, (const void *)(uintptr_t)(block + 0x1000 + at), 8);
    return v;
}
int32_t block_count(uint64_t block) { return *(volatile int32_t *)(uintptr_t)(block + 0x1020); }

/* The jump as it must stand: FF 25 00 00 00 00, then the destination. */
std::vector<uint8_t> jump_to(uint64_t destination)
{
    std::vector<uint8_t> j = { 0xFF, 0x25, 0x00, 0x00, 0x00, 0x00 };
    for (int i = 0; i < 8; i++)
        j.push_back((uint8_t)(destination >> (8 * i)));
    return j;
}

TEST_F(hook_layer, BytesInstalledAndRestoredExactly)
{
    struct {
        const char *name;
        uint8_t *target;
        size_t length;
        size_t routine_size;
    } cases[] = {
        { "draw, 14", draw, 14, sim::draw_routine_size },
        { "shadow, 15", shadow, 15, sim::shadow_routine_size },
        { "draw, 32", draw, 32, sim::draw_routine_size }, // past the first 16 bytes
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto before = bytes(c.target, c.routine_size);
        inline_hook h = {};
        uint64_t tramp = hook_install_inline(&h, (uint64_t)(uintptr_t)c.target, c.target, c.length,
                                             (const void *)detour_marker);
        ASSERT_NE(tramp, 0u);
        EXPECT_EQ(h.target, (uint64_t)(uintptr_t)c.target);
        EXPECT_EQ(h.trampoline, tramp);
        EXPECT_EQ(h.length, c.length);
        EXPECT_EQ(bytes(h.saved, c.length), std::vector<uint8_t>(before.begin(), before.begin() + c.length));

        // The target: the jump to the block's stub, 0xCC up to the length,
        // the rest untouched.
        auto now = bytes(c.target, c.routine_size);
        auto want = jump_to(tramp + 0x40);
        want.resize(c.length, 0xCC);
        want.insert(want.end(), before.begin() + c.length, before.end());
        EXPECT_EQ(now, want);
        // The trampoline: the saved bytes, then the jump back.
        auto tramp_want = std::vector<uint8_t>(before.begin(), before.begin() + c.length);
        auto back = jump_to((uint64_t)(uintptr_t)c.target + c.length);
        tramp_want.insert(tramp_want.end(), back.begin(), back.end());
        EXPECT_EQ(bytes((const void *)(uintptr_t)tramp, c.length + 14), tramp_want);
        // The game's code page keeps its protection.
        EXPECT_EQ(protection(c.target), (DWORD)PAGE_EXECUTE_READ);
        // The block: code read and execute, then its data page.
        EXPECT_EQ(protection((const void *)(uintptr_t)tramp), (DWORD)PAGE_EXECUTE_READ);
        EXPECT_EQ(protection((const void *)(uintptr_t)(tramp + 0x1000)), (DWORD)PAGE_READWRITE);
        EXPECT_EQ(block_tag(tramp), "drovemark hook 1");
        EXPECT_EQ(block_u64(tramp, 0x10), (uint64_t)(uintptr_t)c.target);
        EXPECT_EQ(block_u64(tramp, 0x18), (uint64_t)(uintptr_t)detour_marker);
        EXPECT_EQ(block_count(tramp), 0);

        detour_gate gate = {};
        EXPECT_TRUE(hook_remove(&h, &gate, "test"));
        EXPECT_EQ(bytes(c.target, c.routine_size), before);
        EXPECT_EQ(protection(c.target), (DWORD)PAGE_EXECUTE_READ);
        EXPECT_EQ(h.target, 0u);
        EXPECT_EQ(h.length, 0u);
        EXPECT_EQ(block_u64(tramp, 0x18), 0u) << "the stub no longer calls the detour";
        // A thread that came through the jump before the bytes went back
        // still calls the routine through the trampoline.
        EXPECT_EQ(h.trampoline, tramp) << "what the detour calls through is never zeroed";
        MEMORY_BASIC_INFORMATION mbi;
        VirtualQuery((void *)(uintptr_t)tramp, &mbi, sizeof mbi);
        EXPECT_EQ(mbi.State, (DWORD)MEM_COMMIT) << "the trampoline stays callable";
        EXPECT_EQ(bytes((const void *)(uintptr_t)tramp, c.length + 14), tramp_want);
        // Installed again: the same trampoline, nothing allocated.
        allocs = 0;
        EXPECT_EQ(hook_install_inline(&h, (uint64_t)(uintptr_t)c.target, c.target, c.length, (const void *)detour_marker),
                  tramp);
        EXPECT_EQ(allocs, 0);
        EXPECT_TRUE(hook_remove(&h, &gate, "test"));
        EXPECT_EQ(bytes(c.target, c.routine_size), before);
        h = {}; // the next case's record
    }
    // The hand-written prologues are what the routines begin with.
    EXPECT_EQ(bytes(draw, 14), bytes(draw_prologue, 14));
    EXPECT_EQ(bytes(shadow, 15), bytes(shadow_prologue, 15));
}

TEST_F(hook_layer, RefusedBeforeAnythingIsAllocatedOrWritten)
{
    uint8_t *noaccess = sim::object_new(0x1000) + 0x1000; // the no-access page after an object
    uint8_t *odd = draw + 1;
    inline_hook busy = {};
    busy.target = 0x1000; // a record in use
    struct {
        const char *name;
        inline_hook *record;
        uint8_t *target;
        const uint8_t *expected;
        size_t length;
    } cases[] = {
        { "length 13", nullptr, draw, draw, 13 },
        { "length 33", nullptr, draw, draw, 33 },
        { "prologue differs", nullptr, draw, shadow_prologue, 14 },
        { "record in use", &busy, draw, draw, 14 },
        { "not 16-byte aligned", nullptr, odd, odd, 14 },
        { "unreadable", nullptr, noaccess, draw, 14 },
    };
    auto before = bytes(draw, sim::draw_routine_size);
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        inline_hook fresh = {};
        inline_hook *h = c.record ? c.record : &fresh;
        inline_hook was = *h;
        allocs = protects = 0;
        EXPECT_EQ(hook_install_inline(h, (uint64_t)(uintptr_t)c.target, c.expected, c.length,
                                      (const void *)detour_marker),
                  0u);
        EXPECT_EQ(allocs, 0);
        EXPECT_EQ(protects, 0);
        EXPECT_EQ(memcmp(h, &was, sizeof was), 0);
        EXPECT_EQ(bytes(draw, sim::draw_routine_size), before);
    }
    // A record emptied by removal takes a hook again: one block, or none
    // when an earlier install left one for this routine.
    inline_hook h = {};
    ASSERT_NE(hook_install_inline(&h, (uint64_t)(uintptr_t)draw, draw_prologue, 14, (const void *)detour_marker), 0u);
    EXPECT_LE(allocs, 1);
    detour_gate gate = {};
    hook_remove(&h, &gate, "test");
    ASSERT_NE(hook_install_inline(&h, (uint64_t)(uintptr_t)draw, draw_prologue, 14, (const void *)detour_marker), 0u);
    hook_remove(&h, &gate, "test");
    EXPECT_EQ(bytes(draw, sim::draw_routine_size), before);
}

TEST_F(hook_layer, RemovalWaitsForRunningDetoursAndIsBounded)
{
    auto before = bytes(draw, sim::draw_routine_size);
    static detour_gate gate;
    gate = {};
    uint32_t entered = detour_gate_enter(&gate); // a detour is running
    inline_hook h = {};
    ASSERT_NE(hook_install_inline(&h, (uint64_t)(uintptr_t)draw, draw_prologue, 14, (const void *)detour_marker), 0u);
    static uint32_t leaving;
    leaving = entered;
    HANDLE done = CreateThread(
        nullptr, 0,
        [](void *) -> DWORD {
            Sleep(200);
            detour_gate_leave(&gate, leaving);
            return 0;
        },
        nullptr, 0, nullptr);
    DWORD start = GetTickCount();
    EXPECT_TRUE(hook_remove(&h, &gate, "test"));
    EXPECT_GE(GetTickCount() - start, 150u) << "returned before the detour did";
    WaitForSingleObject(done, 5000);
    CloseHandle(done);
    EXPECT_EQ(bytes(draw, sim::draw_routine_size), before);

    // One that never returns: the bytes go back, the trampoline stays.
    entered = detour_gate_enter(&gate);
    ASSERT_NE(hook_install_inline(&h, (uint64_t)(uintptr_t)draw, draw_prologue, 14, (const void *)detour_marker), 0u);
    uint64_t tramp = h.trampoline;
    fx::captured_clear();
    EXPECT_FALSE(hook_remove(&h, &gate, "test"));
    EXPECT_EQ(bytes(draw, sim::draw_routine_size), before);
    EXPECT_EQ(h.target, 0u);
    EXPECT_EQ(h.trampoline, tramp);
    MEMORY_BASIC_INFORMATION mbi;
    VirtualQuery((void *)(uintptr_t)tramp, &mbi, sizeof mbi);
    EXPECT_EQ(mbi.State, (DWORD)MEM_COMMIT) << "the trampoline stays for the running detour";
    EXPECT_TRUE(fx::captured_has(rt::fmt("[core] test hook at %p: detour still running after 1 s; trampoline "
                                         "kept, the core stays loaded",
                                         (void *)draw)))
        << fx::captured_last();
    detour_gate_leave(&gate, entered);

    // Our jump overwritten by someone else's: their bytes stay.
    ASSERT_NE(hook_install_inline(&h, (uint64_t)(uintptr_t)draw, draw_prologue, 14, (const void *)detour_marker), 0u);
    sim::game_protect(draw, 16, PAGE_EXECUTE_READWRITE);
    draw[0] = 0xE9; // another hook's relative jump
    auto theirs = bytes(draw, sim::draw_routine_size);
    EXPECT_FALSE(hook_remove(&h, &gate, "test"));
    EXPECT_EQ(bytes(draw, sim::draw_routine_size), theirs);
    EXPECT_TRUE(fx::captured_has(rt::fmt("[core] test hook at %p: our jump is no longer there; calls through it "
                                         "go straight to the game's routine",
                                         (void *)draw)))
        << fx::captured_last();
}

/* Detours that keep arriving on a busy thread never hold a drain up; one
 * that entered before the drain does, until it leaves. */
TEST_F(hook_layer, TheGateWaitsOnlyForThoseInsideBeforeTheDrain)
{
    static detour_gate gate;
    static volatile LONG stop, calls;
    gate = {};
    stop = 0;
    calls = 0;
    HANDLE busy = CreateThread(
        nullptr, 0,
        [](void *) -> DWORD {
            while (!stop) {
                uint32_t e = detour_gate_enter(&gate);
                for (int i = 0; i < 2000; i++)
                    YieldProcessor();
                InterlockedIncrement(&calls);
                detour_gate_leave(&gate, e);
            }
            return 0;
        },
        nullptr, 0, nullptr);
    while (calls < 100)
        Sleep(1);
    for (int i = 0; i < 200; i++)
        ASSERT_TRUE(detour_gate_drain(&gate, 1000)) << i;
    uint32_t held = detour_gate_enter(&gate);
    EXPECT_FALSE(detour_gate_drain(&gate, 50));
    EXPECT_FALSE(detour_gate_drain(&gate, 50)) << "a later drain waits for it again";
    detour_gate_leave(&gate, held);
    EXPECT_TRUE(detour_gate_drain(&gate, 1000));
    stop = 1;
    WaitForSingleObject(busy, 5000);
    CloseHandle(busy);
}

/* A routine of the test's own, 16-byte aligned in a code page:
 * a + 2b + c + d, 14 bytes of whole instructions, then ret. */
typedef uint64_t (*routine_fn)(uint64_t, uint64_t, uint64_t, uint64_t);
uint8_t *routine_new()
{
    static const uint8_t code[15] = {
        0x48, 0x8D, 0x04, 0x51, // lea rax, [rcx+rdx*2]
        0x4C, 0x01, 0xC0,       // add rax, r8
        0x4C, 0x01, 0xC8,       // add rax, r9
        0x90, 0x90, 0x90, 0x90, // nop x4
        0xC3,                   // ret
    };
    uint8_t *p = (uint8_t *)VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    memcpy(p, code, sizeof code);
    DWORD old;
    VirtualProtect(p, 4096, PAGE_EXECUTE_READ, &old);
    return p;
}

inline_hook stub_hook;
HANDLE inside_event, let_go_event;
volatile LONG detour_calls;
uint64_t adding_detour(uint64_t a, uint64_t b, uint64_t c, uint64_t d)
{
    InterlockedIncrement(&detour_calls);
    return ((routine_fn)(uintptr_t)stub_hook.trampoline)(a, b, c, d) + 1000;
}
uint64_t holding_detour(uint64_t a, uint64_t b, uint64_t c, uint64_t d)
{
    SetEvent(inside_event);
    WaitForSingleObject(let_go_event, 10000);
    return ((routine_fn)(uintptr_t)stub_hook.trampoline)(a, b, c, d);
}
uint64_t raising_detour(uint64_t, uint64_t, uint64_t, uint64_t)
{
    RaiseException(0xE0001234u, 0, 0, nullptr);
    return 0;
}

/* Every call through the jump is counted in the block's stub: removal
 * waits for a thread inside the detour even when the caller's gate is
 * empty, a thread that reaches the stub after removal runs the routine
 * alone, an exception unwinding through the stub gives its count back, and
 * the next core's record takes the same block. */
TEST_F(hook_layer, ThreadsThroughTheStubAreCountedAndWaitedFor)
{
    uint8_t *routine = routine_new();
    uint64_t target = (uint64_t)(uintptr_t)routine;
    routine_fn call = (routine_fn)(void *)routine;
    detour_gate empty = {};
    stub_hook = {};
    uint64_t block = hook_install_inline(&stub_hook, target, routine, 14, (const void *)adding_detour);
    ASSERT_NE(block, 0u);
    EXPECT_EQ(call(1, 2, 3, 4), 1012u) << "a + 2b + c + d through the detour";
    EXPECT_EQ(block_count(block), 0);
    EXPECT_TRUE(hook_remove(&stub_hook, &empty, "test"));

    struct {
        const char *name;
        DWORD hold_ms;
        bool drained;
    } holds[] = { { "returns in time", 200, true }, { "still inside after 1 s", 1500, false } };
    for (auto &c : holds) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(hook_install_inline(&stub_hook, target, routine, 14, (const void *)holding_detour), block);
        static DWORD hold;
        hold = c.hold_ms;
        inside_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        let_go_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        static routine_fn held_call;
        held_call = call;
        HANDLE caller = CreateThread(
            nullptr, 0, [](void *) -> DWORD { return (DWORD)held_call(1, 1, 1, 1); }, nullptr, 0, nullptr);
        ASSERT_EQ(WaitForSingleObject(inside_event, 5000), WAIT_OBJECT_0);
        EXPECT_EQ(block_count(block), 1);
        HANDLE releaser = CreateThread(
            nullptr, 0,
            [](void *) -> DWORD {
                Sleep(hold);
                SetEvent(let_go_event);
                return 0;
            },
            nullptr, 0, nullptr);
        fx::captured_clear();
        DWORD start = GetTickCount();
        EXPECT_EQ(hook_remove(&stub_hook, &empty, "test"), c.drained);
        DWORD took = GetTickCount() - start;
        if (c.drained)
            EXPECT_GE(took, 150u) << "returned before the detour did";
        else
            EXPECT_TRUE(fx::captured_has(rt::fmt("[core] test hook at %p: detour still running after 1 s; "
                                                 "trampoline kept, the core stays loaded",
                                                 (void *)routine)))
                << fx::captured_last();
        ASSERT_EQ(WaitForSingleObject(caller, 5000), WAIT_OBJECT_0);
        DWORD result = 0;
        GetExitCodeThread(caller, &result);
        EXPECT_EQ(result, 5u) << "the held call returned the routine's result";
        WaitForSingleObject(releaser, 5000);
        for (HANDLE h : { caller, releaser, inside_event, let_go_event })
            CloseHandle(h);
        EXPECT_EQ(block_count(block), 0);
        EXPECT_EQ(bytes(routine, 15)[0], 0x48) << "the routine's bytes are back";
    }

    // A thread that was past the jump when it went: the stub alone, with
    // the detour off, runs the routine and leaves the count as it was.
    routine_fn late = (routine_fn)(uintptr_t)(block + 0x40);
    LONG calls = detour_calls;
    EXPECT_EQ(late(1, 2, 3, 4), 12u);
    EXPECT_EQ(detour_calls, calls);
    EXPECT_EQ(block_count(block), 0);

    // An exception from the detour taken by a handler outside the routine:
    // the unwind passes the stub's frame, which gives its count back.
    ASSERT_EQ(hook_install_inline(&stub_hook, target, routine, 14, (const void *)raising_detour), block);
    dm_seh_fault fault = {};
    EXPECT_FALSE(dm_guarded([&] { call(1, 2, 3, 4); }, &fault));
    EXPECT_EQ(fault.code, 0xE0001234u);
    EXPECT_EQ(block_count(block), 0) << "the unwind left the stub's count";
    EXPECT_TRUE(hook_remove(&stub_hook, &empty, "test"));

    // The next core's record: the block noted for the routine is taken
    // again, nothing allocated; the noted row is {target, block}.
    inline_hook next = {};
    allocs = 0;
    EXPECT_EQ(hook_install_inline(&next, target, routine, 14, (const void *)adding_detour), block);
    EXPECT_EQ(allocs, 0);
    EXPECT_EQ(call(1, 2, 3, 4), 1012u);
    EXPECT_TRUE(hook_remove(&next, &empty, "test"));
    char name[64];
    snprintf(name, sizeof name, "Localdrovemark_hook_blocks_%lu", GetCurrentProcessId());
    HANDLE section = OpenFileMappingA(FILE_MAP_READ, FALSE, name);
    ASSERT_TRUE(section);
    const uint64_t *rows = (const uint64_t *)MapViewOfFile(section, FILE_MAP_READ, 0, 0, 256);
    ASSERT_TRUE(rows);
    bool noted = false;
    for (int i = 0; i < 16; i++)
        noted |= rows[2 * i] == target && rows[2 * i + 1] == block;
    EXPECT_TRUE(noted);
    UnmapViewOfFile(rows);
    CloseHandle(section);
}

TEST_F(hook_layer, ShadowStrengthCases)
{
    const uint64_t m1_bit = 0x1, m1_bit63 = 0x8000000000000000ULL, m2_bit = 0x400, both_bit60 = 0x1000000000000000ULL;
    struct {
        const char *name;
        int32_t light_test;
        uint64_t flags;
        uint8_t bits;
        float w, k, f;
        bool k_object;
        float want;
    } cases[] = {
        { "light test 1", 1, m1_bit, 0, 0.25f, 2.0f, 3.0f, true, 4.0f },
        { "light test 0", 0, m1_bit, 0, 0.25f, 2.0f, 3.0f, true, -1.0f },
        { "light test -3", -3, m1_bit, 0, 0.25f, 2.0f, 3.0f, true, -1.0f },
        { "light test 7", 7, m1_bit63, 0, 1.0f, 2.0f, 3.0f, true, 1.0f },
        { "no casting flag", 1, 0x10, 0, 0.25f, 2.0f, 3.0f, true, -1.0f },
        { "light bit 0 set", 1, m1_bit, 1, 0.25f, 2.0f, 3.0f, true, -1.0f },
        { "light bit 1 set only", 1, m1_bit, 2, 0.25f, 2.0f, 3.0f, true, 4.0f },
        { "excluding flag", 1, m1_bit | m2_bit, 0, 0.25f, 2.0f, 3.0f, true, -1.0f },
        { "flag in both masks", 1, both_bit60, 0, 0.25f, 2.0f, 3.0f, true, -1.0f },
        { "strength 0", 1, m1_bit, 0, 0.0f, 1.0f, 0.0f, true, 0.0f },
        { "negative strength", 1, m1_bit, 0, 0.0f, 2.0f, 0.0f, true, -1.0f },
        { "k object missing", 1, m1_bit, 0, 0.25f, 2.0f, 3.0f, false, -1.0f },
    };
    uint64_t a1 = (uint64_t)(uintptr_t)world.shadow_context, light = (uint64_t)(uintptr_t)world.light;
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        sim::draw_light_casts(c.light_test);
        sim::put<uint64_t>(world.light_kind, sim::light_kind_flags, c.flags);
        sim::put<uint8_t>(world.light, sim::light_bits, c.bits);
        sim::put<float>(world.shadow_context, sim::shadow_w, c.w);
        sim::put<float>(world.k_object, sim::k_value, c.k);
        sim::put<float>(world.f_object, sim::f_value, c.f);
        sim::put<uint64_t>(world.shadow_context, sim::shadow_k_object, c.k_object ? (uint64_t)(uintptr_t)world.k_object : 0);
        uint64_t tests = sim::draw_stats().light_tests;
        EXPECT_EQ(shadow_strength(a1, light), c.want);
        auto s = sim::draw_stats();
        EXPECT_EQ(s.light_tests, tests + 1);
        EXPECT_EQ(s.light_test_args[0], (uint64_t)(uintptr_t)sim::game_at(sim::off::light_table));
        EXPECT_EQ(s.light_test_args[1], light);
    }
}

} // namespace
