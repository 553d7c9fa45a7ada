// The draw and shadow hooks through the plug-in and the core, in the
// simulated game whose render thread runs the draw and shadow routines frame
// after frame while the game thread runs the core's frames and commands.
//
// Index of this file:
//   fixture
//   install and remove    bytes, hook on twice, a prologue that differs
//   drawing               counts, arguments, the statistics line
//   faults                a vehicle draw fault, the render word, an unwind
//                         from the game's routine
//   concurrency           removal while the render thread draws, a hook
//                         chained onto ours, core reload
#include <windows.h>
#include <string.h>
#include "runtime_fixture.h"
#include "sim/sim_draw.h"
#include "dm_module.h"
#include "hooks_test_core.h"

using rt::fmt;

namespace {

/* ---- fixture ---- */

const uint8_t draw_prologue[14] = { 0x48, 0x89, 0x74, 0x24, 0x20, 0x57, 0x48, 0x83, 0xEC, 0x20, 0x48, 0x8B, 0x42, 0x18 };
const uint8_t shadow_prologue[15] = { 0x40, 0x55, 0x56, 0x41, 0x56, 0x48, 0x83, 0xEC,
                                      0x30, 0x48, 0x8B, 0xE9, 0x4D, 0x8B, 0xF0 };

class hooks : public rt::core_test {
protected:
    sim::draw_world world {};
    uint8_t *draw = nullptr, *shadow = nullptr;
    std::vector<uint8_t> draw_before, shadow_before;

    void SetUp() override
    {
        rt::core_test::SetUp();
        world = sim::draw_install();
        draw = sim::game_at(sim::off::draw_routine);
        shadow = sim::game_at(sim::off::shadow_routine);
        draw_before = bytes(draw, sim::draw_routine_size);
        shadow_before = bytes(shadow, sim::shadow_routine_size);
    }
    void TearDown() override
    {
        sim::draw_thread_stop();
        sim::draw_uninstall();
        rt::core_test::TearDown();
    }
    static std::vector<uint8_t> bytes(const void *at, size_t n)
    {
        return std::vector<uint8_t>((const uint8_t *)at, (const uint8_t *)at + n);
    }
    /* The loaded core (a copy "loaded_<n>.dll" of the installed one). */
    HMODULE core_module()
    {
        for (int g = 9; g >= 1; g--) {
            HMODULE m = GetModuleHandleA((base + "core\\loaded_" + std::to_string(g) + ".dll").c_str());
            if (m)
                return m;
        }
        return nullptr;
    }
    /* With hooks_test_core installed: the spawned vehicle's state words. */
    void spawn(int state, void *vehicle, int trailer_state = 0, void *trailer = nullptr, int hidden = 0)
    {
        auto fn = (hooktest_spawn_fn)(void *)GetProcAddress(core_module(), HOOKTEST_SPAWN);
        ASSERT_TRUE(fn);
        hooktest_state s = { state, vehicle, trailer_state, trailer, hidden };
        fn(&s);
    }
    void start_test_core()
    {
        install_core("hooks_test_core.dll", "drovemark_core.dll");
        start();
    }
    /* Where the jump at a hooked routine leads. */
    static uint64_t jump_destination(const uint8_t *at)
    {
        static const uint8_t head[6] = { 0xFF, 0x25, 0, 0, 0, 0 };
        if (memcmp(at, head, 6) != 0)
            return 0;
        uint64_t d;
        memcpy(&d, at + 6, 8);
        return d;
    }
    /* The detour the stub at that jump's destination calls: the hook
     * block's detour field (stub at block + 0x40, detour at block + 0x1018);
     * 0 when there is no jump. */
    static uint64_t hooked_detour(const uint8_t *at)
    {
        uint64_t stub = jump_destination(at);
        if (!stub)
            return 0;
        uint64_t d;
        memcpy(&d, (const void *)(uintptr_t)(stub - 0x40 + 0x1018), 8);
        return d;
    }
    void set_strength_one()
    {
        sim::put<uint64_t>(world.light_kind, sim::light_kind_flags, 1);
        sim::put<float>(world.shadow_context, sim::shadow_w, 1.0f); // s = 1
    }
};

/* ---- install and remove ---- */

TEST_F(hooks, InstalledTwiceRemovedAndInstalledAgain)
{
    start();
    EXPECT_EQ(bytes(draw, 14), bytes(draw_prologue, 14));
    EXPECT_EQ(bytes(shadow, 15), bytes(shadow_prologue, 15));

    auto on = command("hook on");
    ASSERT_EQ(on.size(), 2u) << log_text();
    EXPECT_EQ(on[0].rfind(fmt("[core] draw hook installed at %p (trampoline ", (void *)draw), 0), 0u) << on[0];
    EXPECT_EQ(on[1], fmt("[core] shadow hook installed at %p", (void *)shadow));
    HMODULE core = core_module();
    EXPECT_EQ(dm_module_at((void *)(uintptr_t)jump_destination(draw)), nullptr) << "the stub is outside any image";
    EXPECT_EQ(dm_module_at((void *)(uintptr_t)hooked_detour(draw)), core);
    EXPECT_EQ(dm_module_at((void *)(uintptr_t)hooked_detour(shadow)), core);
    EXPECT_EQ(bytes(draw + 14, sim::draw_routine_size - 14),
              std::vector<uint8_t>(draw_before.begin() + 14, draw_before.end()));
    EXPECT_EQ(shadow[14], 0xCC) << "one filler byte for a 15-byte hook";
    EXPECT_EQ(bytes(shadow + 15, sim::shadow_routine_size - 15),
              std::vector<uint8_t>(shadow_before.begin() + 15, shadow_before.end()));

    EXPECT_EQ(command("hook on"), std::vector<std::string>{ "[core] draw hook already installed" });

    EXPECT_EQ(command("hook off"), (std::vector<std::string>{ "[core] shadow hook removed (shadow calls so far: 0)",
                                                              "[core] draw hook removed (draw calls so far: 0)" }));
    EXPECT_EQ(bytes(draw, sim::draw_routine_size), draw_before);
    EXPECT_EQ(bytes(shadow, sim::shadow_routine_size), shadow_before);
    EXPECT_TRUE(command("hook off").empty());

    on = command("hook on");
    ASSERT_EQ(on.size(), 2u);
    EXPECT_EQ(on[1], fmt("[core] shadow hook installed at %p", (void *)shadow));
    shutdown(); // the core's stop removes them
    EXPECT_EQ(bytes(draw, sim::draw_routine_size), draw_before);
    EXPECT_EQ(bytes(shadow, sim::shadow_routine_size), shadow_before);
    EXPECT_GE(log_find("[core] draw hook removed (draw calls so far: 0)"), 0);
}

TEST_F(hooks, APrologueThatDiffersLeavesTheGameUntouched)
{
    struct {
        const char *name;
        uint8_t *changed;
        std::vector<std::string> lines;
        bool draw_hooked;
    } cases[] = {
        { "draw", draw + 13, { "[core] draw hook: prologue bytes differ or install failed; not hooked" }, false },
        { "shadow", shadow + 14, { "", "[core] shadow hook: prologue bytes differ or install failed; no shadows" }, true },
    };
    start();
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        sim::game_protect(c.changed, 1, PAGE_EXECUTE_READWRITE);
        *c.changed ^= 0x01;
        auto d = bytes(draw, sim::draw_routine_size), s = bytes(shadow, sim::shadow_routine_size);
        auto out = command("hook on");
        ASSERT_EQ(out.size(), c.lines.size()) << log_text();
        EXPECT_EQ(out.back(), c.lines.back());
        EXPECT_EQ(bytes(c.draw_hooked ? shadow : draw, 14), bytes(c.draw_hooked ? s.data() : d.data(), 14));
        if (!c.draw_hooked) {
            EXPECT_EQ(bytes(shadow, sim::shadow_routine_size), s) << "no shadow hook without the draw hook";
        }
        command("hook off");
        EXPECT_EQ(bytes(draw, sim::draw_routine_size), d);
        EXPECT_EQ(bytes(shadow, sim::shadow_routine_size), s);
        *c.changed ^= 0x01;
    }
}

/* ---- drawing ---- */

TEST_F(hooks, TheRenderThreadDrawsOurVehicleAndTrailer)
{
    start_test_core();
    uint8_t *vehicle = sim::draw_object_new(), *trailer = sim::draw_object_new();
    spawn(2, vehicle, 2, trailer);
    set_strength_one();
    sim::put<uint32_t>(world.render, sim::render_word, 7); // the active camera index
    command("hook on");

    sim::draw_thread_start();
    ASSERT_TRUE(sim::draw_wait_frames(20));
    sim::frames(1, 0.1); // the game thread works while the render thread draws
    ASSERT_TRUE(sim::draw_wait_frames(20));
    sim::draw_thread_stop();

    auto v = sim::draw_object_seen(vehicle), t = sim::draw_object_seen(trailer);
    auto g = sim::draw_stats();
    EXPECT_GE(v.draws, 40u);
    EXPECT_EQ(g.draws, g.frames) << "the game's own routine ran in every frame";
    EXPECT_EQ(g.shadows, g.frames);
    EXPECT_EQ(v.draws, g.frames);
    EXPECT_EQ(v.shadows, g.frames);
    EXPECT_EQ(t.draws, g.frames);
    EXPECT_EQ(t.shadows, g.frames);
    // The game's routines got their arguments through the trampolines, RAX
    // loaded by the replaced bytes included, and the draw result came back.
    uint64_t ctx = (uint64_t)(uintptr_t)world.draw_context;
    EXPECT_EQ(std::vector<uint64_t>(g.draw_args, g.draw_args + 5),
              (std::vector<uint64_t>{ 0xA1, ctx, 0xA3, 0xA4, sim::get<uint64_t>(world.draw_context, 0x18) }));
    EXPECT_EQ(std::vector<uint64_t>(g.shadow_args, g.shadow_args + 4),
              (std::vector<uint64_t>{ (uint64_t)(uintptr_t)world.shadow_context, 0xB2,
                                      (uint64_t)(uintptr_t)world.light, 0xB4 }));
    EXPECT_EQ(g.last_result, sim::draw_result);
    // A stack walk from inside the game's routine reaches the detour.
    EXPECT_EQ(dm_module_at((void *)(uintptr_t)g.draw_caller), core_module());
    // Our draws: the draw context, the render word 1 during and back after.
    EXPECT_EQ(v.draw_context, ctx);
    EXPECT_EQ(v.render_seen, 1u);
    EXPECT_EQ(t.render_seen, 1u);
    EXPECT_EQ(sim::get<uint32_t>(world.render, sim::render_word), 7u);
    EXPECT_EQ(v.shadow_a2, 0xB2u);
    EXPECT_EQ(v.shadow_light_word, (uint64_t)(uintptr_t)world.light_kind);
    EXPECT_EQ(v.strength, 1.0f);

    // The statistics line: every 5 s while the count moves.
    int before = (int)log_lines().size();
    sim::frames(2, 5.0);
    auto line = fmt("[core] draw calls: %llu, shadow calls: %llu, trailer draw/shadow: %llu/%llu",
                    (unsigned long long)v.draws, (unsigned long long)v.shadows, (unsigned long long)t.draws,
                    (unsigned long long)t.shadows);
    int n = 0;
    auto lines = log_lines();
    for (int i = before; i < (int)lines.size(); i++)
        n += lines[i].rfind("[core] draw calls: ", 0) == 0;
    EXPECT_EQ(n, 1) << log_text();
    EXPECT_GE(log_find(line, before), 0) << log_text();
    EXPECT_EQ(command("hook off"),
              (std::vector<std::string>{ fmt("[core] shadow hook removed (shadow calls so far: %llu)",
                                             (unsigned long long)v.shadows),
                                         fmt("[core] draw hook removed (draw calls so far: %llu)",
                                             (unsigned long long)v.draws) }));
}

TEST_F(hooks, WhatIsNotDrawn)
{
    start_test_core();
    uint8_t *vehicle = sim::draw_object_new(), *trailer = sim::draw_object_new();
    set_strength_one();
    command("hook on");
    struct {
        const char *name;
        int state;
        int hidden;
        const char *command;
        int32_t light_test;
        float w_k_f[3];
        uint64_t draws, shadows; /* of each object in one frame */
        float strength;
    } cases[] = {
        { "drawn", 2, 0, nullptr, 1, { 1, 1, 1 }, 1, 1, 1.0f },
        { "loading", 1, 0, nullptr, 1, { 1, 1, 1 }, 0, 0, 0 },
        { "hidden", 2, 1, nullptr, 1, { 1, 1, 1 }, 0, 0, 0 },
        { "shadow off", 2, 0, "shadow off", 1, { 1, 1, 1 }, 1, 0, 0 },
        { "shadow on", 2, 0, "shadow on", 1, { 1, 1, 1 }, 1, 1, 1.0f },
        { "a light that casts none", 2, 0, nullptr, 0, { 1, 1, 1 }, 1, 0, 0 },
        { "strength 0", 2, 0, nullptr, 1, { 0, 1, 0 }, 1, 1, 0.0f },
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        spawn(c.state, vehicle, 2, trailer, c.hidden);
        if (c.command)
            command(c.command);
        sim::draw_light_casts(c.light_test);
        sim::put<float>(world.shadow_context, sim::shadow_w, c.w_k_f[0]);
        sim::put<float>(world.k_object, sim::k_value, c.w_k_f[1]);
        sim::put<float>(world.f_object, sim::f_value, c.w_k_f[2]);
        auto v0 = sim::draw_object_seen(vehicle), t0 = sim::draw_object_seen(trailer);
        sim::draw_thread_start();
        ASSERT_TRUE(sim::draw_wait_frames(1));
        sim::draw_thread_stop();
        auto v = sim::draw_object_seen(vehicle), t = sim::draw_object_seen(trailer);
        uint64_t vd = v.draws - v0.draws, vs = v.shadows - v0.shadows;
        uint64_t td = t.draws - t0.draws, ts = t.shadows - t0.shadows;
        EXPECT_EQ(vd != 0, c.draws != 0);
        EXPECT_EQ(td, vd);
        EXPECT_EQ(vs != 0, c.shadows != 0);
        EXPECT_EQ(ts, vs);
        if (c.shadows) {
            EXPECT_EQ(v.strength, c.strength);
            EXPECT_EQ(t.strength, c.strength);
        }
    }
}

/* ---- faults ---- */

TEST_F(hooks, AVehicleDrawFaultIsCaughtAndTheRenderThreadGoesOn)
{
    start_test_core();
    uint8_t *faulting = sim::draw_object_new(true, false), *trailer = sim::draw_object_new();
    spawn(2, faulting, 2, trailer);
    set_strength_one();
    sim::put<uint32_t>(world.render, sim::render_word, 5);
    command("hook on");
    sim::draw_thread_start();
    ASSERT_TRUE(sim::draw_wait_frames(10));
    ASSERT_TRUE(sim::draw_wait_frames(10)) << "the render thread stopped";

    auto v = sim::draw_object_seen(faulting), t = sim::draw_object_seen(trailer);
    EXPECT_EQ(v.draws, 1u) << "the fault flag stops later draws";
    EXPECT_EQ(v.render_seen, 1u);
    EXPECT_EQ(sim::get<uint32_t>(world.render, sim::render_word), 5u) << "the render word is put back after a fault";
    EXPECT_EQ(t.draws, 1u) << "the trailer is drawn in the faulting call only";
    EXPECT_GT(t.shadows, 10u) << "shadows go on";

    sim::frames(1, 0.1);
    EXPECT_EQ(log_count("[core] draw call faulted; drawing disabled (hook stays)"), 1);
    EXPECT_NE(jump_destination(draw), 0u) << "the hook stays";
    sim::frames(3, 0.1);
    EXPECT_EQ(log_count("[core] draw call faulted; drawing disabled (hook stays)"), 1);
    EXPECT_EQ(log_count("[core] FRAME FAULT"), 0);

    // hook off and on clear the flag: a vehicle that draws is drawn again.
    uint8_t *good = sim::draw_object_new();
    spawn(2, good, 2, trailer);
    command("hook off");
    command("hook on");
    ASSERT_TRUE(sim::draw_wait_frames(5));
    EXPECT_GT(sim::draw_object_seen(good).draws, 0u);
}

TEST_F(hooks, AShadowFaultStopsVehicleAndTrailerShadows)
{
    start_test_core();
    uint8_t *faulting = sim::draw_object_new(false, true), *trailer = sim::draw_object_new();
    spawn(2, faulting, 2, trailer);
    set_strength_one();
    command("hook on");
    sim::draw_thread_start();
    ASSERT_TRUE(sim::draw_wait_frames(10));
    sim::draw_thread_stop();
    auto v = sim::draw_object_seen(faulting), t = sim::draw_object_seen(trailer);
    EXPECT_EQ(v.shadows, 1u);
    EXPECT_EQ(t.shadows, 0u);
    EXPECT_EQ(v.draws, t.draws);
    EXPECT_GE(v.draws, 10u) << "draws go on";
    sim::frames(2, 0.1);
    EXPECT_EQ(log_count("[core] shadow call faulted; shadows disabled"), 1);
}

// The game's draw raises and a handler of the game's further out takes it:
// the unwind passes the detour, which still leaves the gate, so removal
// does not wait for a detour that is gone.
TEST_F(hooks, AnUnwindFromTheGamesRoutineThroughTheDetour)
{
    start_test_core();
    uint8_t *vehicle = sim::draw_object_new();
    spawn(2, vehicle);
    set_strength_one();
    command("hook on");
    sim::draw_thread_start();
    ASSERT_TRUE(sim::draw_wait_frames(3));
    sim::draw_raise_once();
    DWORD start = GetTickCount();
    while (sim::draw_stats().unwinds == 0 && GetTickCount() - start < 5000)
        Sleep(1);
    ASSERT_EQ(sim::draw_stats().unwinds, 1u);
    ASSERT_TRUE(sim::draw_wait_frames(3)) << "the render thread went on";
    uint64_t draws = sim::draw_object_seen(vehicle).draws;
    ASSERT_TRUE(sim::draw_wait_frames(3));
    EXPECT_GT(sim::draw_object_seen(vehicle).draws, draws) << "drawn after the unwind";

    start = GetTickCount();
    auto off = command("hook off");
    EXPECT_LT(GetTickCount() - start, 500u);
    EXPECT_EQ(off.size(), 2u) << log_text();
    EXPECT_EQ(log_find("[core] draw hook at"), -1) << "the unwound call left the gate";
    EXPECT_EQ(log_find("[core] shadow hook at"), -1);
    EXPECT_EQ(log_count("[core] FRAME FAULT"), 0);
}

/* ---- concurrency ---- */

TEST_F(hooks, RemovedAndInstalledWhileTheRenderThreadDraws)
{
    start_test_core();
    uint8_t *vehicle = sim::draw_object_new();
    spawn(2, vehicle);
    set_strength_one();
    sim::draw_thread_start();
    for (int i = 0; i < 30; i++) {
        command("hook on");
        ASSERT_TRUE(sim::draw_wait_frames(2));
        command("hook off");
        ASSERT_EQ(bytes(draw, sim::draw_routine_size), draw_before) << i;
        ASSERT_EQ(bytes(shadow, sim::shadow_routine_size), shadow_before) << i;
        ASSERT_TRUE(sim::draw_wait_frames(2));
    }
    EXPECT_GT(sim::draw_object_seen(vehicle).draws, 0u);

    // A slow game draw: removal waits for the detour to return.
    command("hook on");
    sim::draw_delay_ms(300);
    ASSERT_TRUE(sim::draw_wait_frames(1));
    Sleep(50); // inside the next call
    auto off = command("hook off");
    EXPECT_EQ(off.size(), 2u) << log_text();
    sim::draw_delay_ms(0);
    ASSERT_TRUE(sim::draw_wait_frames(3));
    EXPECT_EQ(log_count("[core] FRAME FAULT"), 0);
    EXPECT_EQ(log_find("[core] draw hook at"), -1) << "drained in time";
}

// Another program hooks the draw routine over ours (its trampoline starts
// with our jump); our removal leaves their bytes, and every call that comes
// through their hook into our detour still reaches the game's routine.
TEST_F(hooks, AHookChainedOntoOursOutlivesOurRemoval)
{
    start_test_core();
    uint8_t *vehicle = sim::draw_object_new();
    spawn(2, vehicle);
    set_strength_one();
    command("hook on");
    uint8_t *theirs = (uint8_t *)VirtualAlloc(nullptr, 64, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
    ASSERT_TRUE(theirs);
    memcpy(theirs, draw, 14); // their trampoline: our jump first
    // Their patch: mov rax, theirs; jmp rax (the routine sets RAX itself).
    uint8_t jump[16] = { 0x48, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xE0 };
    uint64_t to = (uint64_t)(uintptr_t)theirs;
    memcpy(jump + 2, &to, 8);
    memcpy(jump + 12, draw + 12, 4);
    sim::game_protect(draw, 16, PAGE_EXECUTE_READWRITE);
    memcpy(draw, jump, 16);
    FlushInstructionCache(GetCurrentProcess(), draw, 16);

    auto off = command("hook off");
    EXPECT_GE(log_find(fmt("[core] draw hook at %p: our jump is no longer there; calls through it go straight to "
                           "the game's routine",
                           (void *)draw)),
              0)
        << log_text();
    EXPECT_EQ(bytes(draw, 16), bytes(jump, 16)) << "their bytes stay";

    sim::draw_thread_start();
    ASSERT_TRUE(sim::draw_wait_frames(10));
    sim::draw_thread_stop();
    auto g = sim::draw_stats();
    EXPECT_EQ(g.unwinds, 0u) << "a call through their hook faulted";
    EXPECT_EQ(g.draws, g.frames) << "the game's routine ran in every frame";
    EXPECT_EQ(g.last_result, sim::draw_result);

    // Our core goes; their hook stays and still leads through our stub and
    // trampoline, which outlive it, to the game's routine.
    char core_path[MAX_PATH];
    ASSERT_TRUE(GetModuleFileNameA(core_module(), core_path, sizeof core_path));
    restart();
    EXPECT_EQ(GetModuleHandleA(core_path), nullptr) << "the core that hooked is unloaded";
    sim::draw_thread_start();
    ASSERT_TRUE(sim::draw_wait_frames(10));
    sim::draw_thread_stop();
    auto after = sim::draw_stats();
    EXPECT_EQ(after.unwinds, 0u);
    EXPECT_EQ(after.draws, after.frames);
    EXPECT_GT(after.frames, g.frames);
    memcpy(draw, draw_before.data(), 16); // their hook goes again
}

TEST_F(hooks, ACoreReloadWithHooksInstalled)
{
    // A core whose detours all returned within the wait is unloaded: a
    // thread past the jump meets only the stub, which the next core takes
    // again. One whose detour still runs stays mapped.
    struct {
        const char *name;
        uint32_t game_draw_ms; /* how long the game's draw takes */
        bool still_running;
    } cases[] = {
        { "drained", 300, false },
        { "still running after 1 s", 2500, true },
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        if (initialised)
            restart();
        uint8_t *vehicle = sim::draw_object_new();
        install_core("hooks_test_core.dll", "drovemark_core.dll");
        start();
        spawn(2, vehicle);
        set_strength_one();
        command("hook on");
        HMODULE old_core = core_module();
        char old_path[MAX_PATH];
        GetModuleFileNameA(old_core, old_path, sizeof old_path);
        uint64_t stub = jump_destination(draw);
        sim::draw_thread_start();
        ASSERT_TRUE(sim::draw_wait_frames(3));
        sim::draw_delay_ms(c.game_draw_ms);
        ASSERT_TRUE(sim::draw_wait_frames(1, 10000));
        Sleep(50); // the render thread is inside a draw

        auto loads = [this] {
            int n = 0;
            for (auto &l : log_lines())
                n += l.rfind("[host] core generation ", 0) == 0 && l.find(" loaded") != std::string::npos;
            return n;
        };
        int loaded = loads();
        install_core("drovemark_core.dll");
        fx::set_write_time(base + "core\\drovemark_core.dll", 30);
        sim::frames(8, 0.2); // two polls see the file alike
        ASSERT_EQ(loads(), loaded + 1) << log_text();
        HMODULE new_core = core_module();
        EXPECT_NE(new_core, old_core) << "a copy of its own";
        EXPECT_GE(log_find("[core] draw hook removed"), 0);
        EXPECT_EQ(GetModuleHandleA(old_path) != nullptr, c.still_running) << "the old core stays mapped";
        EXPECT_EQ(log_find("[core] draw hook at ") >= 0, c.still_running) << log_text();
        // The core block said the hooks were on: the new core put them back.
        EXPECT_GE(log_find("[core] draw hook installed at ", log_find("[core] shutdown")), 0) << log_text();
        EXPECT_EQ(jump_destination(draw), stub) << "the same stub, taken again";
        EXPECT_EQ(dm_module_at((void *)(uintptr_t)hooked_detour(draw)), core_module());

        sim::draw_delay_ms(0);
        ASSERT_TRUE(sim::draw_wait_frames(3, 10000)) << "the render thread went on";
        sim::draw_thread_stop();
        command("hook off");
        EXPECT_EQ(bytes(draw, sim::draw_routine_size), draw_before);
        EXPECT_EQ(bytes(shadow, sim::shadow_routine_size), shadow_before);
        // The new core hooks again.
        auto on = command("hook on");
        ASSERT_EQ(on.size(), 2u) << log_text();
        EXPECT_EQ(dm_module_at((void *)(uintptr_t)hooked_detour(draw)), core_module());
        command("hook off");
    }
}

} // namespace
