// Props with the core's code linked into the simulated game and called
// directly: the table and its release batch, world changes and the block's
// magic, spawning and its faults, the commands' lines, attachment to our
// truck, cabin, roof and trailer, to the player shown by the spawned
// vehicle and to a player shown as a convoy vehicle, levelling on the height field, collision and its faults, light
// modes and hookups, and drawing on a thread of its own while the game
// thread spawns and releases.
#include <winsock2.h>
#include <windows.h>
#include <gtest/gtest.h>
#include <math.h>
#include <atomic>
#include <string>
#include <thread>
#include <vector>
#include "base/core.h"
#include "core_linked.h"
#include "base/game_mem.h"
#include "log_capture.h"
#include "net/net_client_state.h"
#include "props/props_internal.h"
#include "vehicles/rv.h"
#include "vehicles/spawn.h"
#include "vehicles/vehicle_defs.h"
#include "props/props.h"
#include "sim/sim_convoy.h"
#include "sim/sim_props.h"
#include "sim/sim_vehicles.h"

namespace {

using fx::fmt;
const char *cone = "/model/cone.pmd";
const char *lamp = "/model/lamp.pmd";

uint64_t u(const void *p) { return (uint64_t)(uintptr_t)p; }
uint8_t *p8(uint64_t a) { return (uint8_t *)(uintptr_t)a; }

/* The props section as the next core build would find it: a view of the
 * test's own, kept for the process (the core unmaps only views it noted). */
props_state_block *section()
{
    static props_state_block *view;
    if (!view) {
        char name[64];
        snprintf(name, sizeof name, "Localdrovemark_props_state_v7_%lu", GetCurrentProcessId());
        HANDLE h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 21016, name);
        view = h ? (props_state_block *)MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, 21016) : nullptr;
    }
    return view;
}

class props_core : public ::testing::Test {
protected:
    dm_host_api api {};
    sim::player pl {};

    void SetUp() override
    {
        fx::core_linked_setup(api);
        game_build_state = 1;
        pl = sim::game_player_create();
        sim::props_world_install(pl);
        sim::model_entry c;
        c.path = cone;
        sim::model_add(c);
        sim::model_entry l;
        l.path = lamp;
        l.lights = 2;
        l.flares = 1;
        l.box_min[0] = -1;
        l.box_max[0] = 1;
        sim::model_add(l);
        truck_at(100, 10, 50);
        sim::ground_set(sim::ground_kind::flat, 10);
        // A fresh block each test: the section lives as long as the process.
        memset(section(), 0, sizeof(props_state_block));
        props_autosnap = 1;
        props_collision_on = 0;
        props_ray_filter = 0xFFFFFFFFu;
        props_last_id = 0;
        props_pending_creates = 0;
        props_draw_calls = 0;
        props_init(&api);
        ASSERT_TRUE(props_block);
        spawn_state = spawn_state_record{};
        tick();
        sim::calls_clear();
    }
    void TearDown() override
    {
        net_client.our_id = 0; // a test that named us joined
        props_shutdown();
        spawn_state = spawn_state_record{};
        core_api = nullptr;
        EXPECT_EQ(sim::unit_problems(), std::vector<std::string>{});
        sim::game_reset();
    }

    void truck_at(float x, float y, float z, float yaw_deg = 0)
    {
        float h = yaw_deg * 3.1415927f / 360;
        sim::placement32 at = { x, y, z, 0, 0, cosf(h), 0, sinf(h), 0 };
        sim::player_set_placement(&at);
    }
    void tick(int n = 1)
    {
        for (int i = 0; i < n; i++)
            props_tick(nullptr);
    }
    std::vector<std::string> cmd(const std::string &text)
    {
        size_t before = fx::captured().size();
        props_command(text.c_str());
        auto all = fx::captured();
        return std::vector<std::string>(all.begin() + (long)before, all.end());
    }
    std::string first(const std::string &text)
    {
        auto out = cmd(text);
        return out.empty() ? "(nothing)" : out[0];
    }
    std::string last_line(const std::string &text)
    {
        auto out = cmd(text);
        return out.empty() ? "(nothing)" : out.back();
    }
    static bool has(const std::vector<std::string> &lines, const std::string &l)
    {
        for (auto &x : lines)
            if (x == l)
                return true;
        return false;
    }
    static std::string text(const std::vector<std::string> &lines)
    {
        std::string s;
        for (auto &l : lines)
            s += l + "\n";
        return s;
    }
    prop_record *rec(uint32_t local_id)
    {
        for (auto &r : props_block->table)
            if (r.state != PROP_FREE && r.local_id == local_id)
                return &r;
        return nullptr;
    }
    int count_state(uint32_t state)
    {
        int n = 0;
        for (auto &r : props_block->table)
            n += r.state == state;
        return n;
    }
    prop_record *spawn(const char *path = cone, const char *args = "")
    {
        cmd(fmt("spawn %s %s", path, args));
        return rec(props_block->last_local_id);
    }
    static void world(const prop_record *r, double w[3]) { placement_world(&r->place, w); }
};

/* ---- table, release, world change ---- */

TEST_F(props_core, SpawnMovesRelightsRemovesAndReleasesInOneBatch)
{
    auto out = cmd(fmt("spawn %s 10 2", cone));
    prop_record *r = rec(1);
    ASSERT_TRUE(r) << text(out);
    EXPECT_EQ(r->state, PROP_LIVE);
    EXPECT_EQ(out.back(), "[props] #1 spawned /model/cone.pmd (look default, variant default) at (102.0, 10.0, 40.0), 10 m "
                          "ahead 2 m right")
        << text(out);
    uint8_t *model = p8(r->model);
    EXPECT_EQ(sim::refword(model) & GAME_REF_COUNT_MASK, 1u);
    EXPECT_EQ(sim::refword(model) & GAME_REF_CORE_FLAG, GAME_REF_CORE_FLAG);
    // the game's model holds the placement at +0x30
    EXPECT_EQ(memcmp(model + 0x30, &r->place, 32), 0);
    EXPECT_EQ(last_line("nudge 1 1 2 0"), "[props] #1 nudge: (103.00, 12.00, 40.00)");
    EXPECT_EQ(memcmp(model + 0x30, &r->place, 32), 0);
    EXPECT_EQ(last_line("light last headlights"), "[props] #1 light headlights (0 blinking flare(s))");
    EXPECT_EQ(r->light_applied, 0xFF);
    EXPECT_EQ(first("despawn 1"), "[props] #1 despawn queued");
    EXPECT_EQ(r->state, PROP_QUEUED);
    tick(2);
    EXPECT_EQ(r->state, PROP_QUEUED);
    EXPECT_EQ(sim::destroyed(model), 0);
    size_t before = fx::captured().size();
    tick();
    EXPECT_EQ(r->state, PROP_FREE);
    EXPECT_EQ(sim::destroyed(model), 1);
    EXPECT_TRUE(fx::captured()[before] == "[props] #1 released") << fx::captured()[before];
    // a record in state 0 is all zero
    prop_record zero = {};
    EXPECT_EQ(memcmp(r, &zero, sizeof zero), 0);
}

TEST_F(props_core, ReleaseBatchCounterAndTheSixtyFifthSpawn)
{
    for (int i = 0; i < 64; i++)
        ASSERT_TRUE(spawn()) << i;
    EXPECT_EQ(first(fmt("spawn %s", cone)), "[props] all 64 slots used; despawn some");
    cmd("despawn 1");
    // a record queued for release still holds its model: a spawn never takes it
    uint64_t queued_model = rec(1)->model;
    EXPECT_EQ(first(fmt("spawn %s", cone)), "[props] all 64 slots used; despawn some");
    ASSERT_NE(rec(1), nullptr);
    EXPECT_EQ(rec(1)->state, PROP_QUEUED);
    EXPECT_EQ(rec(1)->model, queued_model);
    EXPECT_EQ(sim::models_made().size(), 64u);
    tick(2); // counter at 2
    cmd("despawn 2"); // queued while the counter runs: goes with the same batch
    tick();
    EXPECT_EQ(rec(1), nullptr);
    EXPECT_EQ(rec(2), nullptr);
    // a tick without queued props resets the counter: three ticks again
    tick();
    cmd("despawn 3");
    tick(2);
    EXPECT_NE(rec(3), nullptr);
    tick();
    EXPECT_EQ(rec(3), nullptr);
    // ids go on
    ASSERT_TRUE(spawn());
    EXPECT_EQ(props_block->last_local_id, 65u);
}

TEST_F(props_core, WorldChangeForgetsOnceAndProfileReloadDoesNotAgain)
{
    spawn();
    spawn();
    uint8_t *ctrl = pl.ctrl;
    sim::game_put<uint64_t>(sim::off::game_ctrl, 0); // the profile unloaded
    size_t before = fx::captured().size();
    tick();
    EXPECT_EQ(count_state(PROP_FREE), 64);
    auto lines = fx::captured();
    EXPECT_EQ(std::vector<std::string>(lines.begin() + (long)before, lines.end()),
              std::vector<std::string>{ "[props] world changed; forgot 2 prop(s)" });
    sim::game_put<uint64_t>(sim::off::game_ctrl, u(ctrl)); // a profile loaded again
    before = fx::captured().size();
    tick(2);
    EXPECT_EQ(fx::captured().size(), before);
    // the models were not released: the world that held them is gone
    for (auto *m : sim::models_made())
        EXPECT_EQ(sim::destroyed(m), 0);
    // leave no references for the unit check
    for (auto *m : sim::models_made())
        sim::put<uint32_t>(m, 8, 0);
}

// A world change clears the table only once a pass that is still drawing
// has ended (the models went with the world; the pass reads the records).
TEST_F(props_core, AWorldChangeWaitsForAPassStillDrawing)
{
    prop_record *a = spawn(cone, "10 0");
    spawn(cone, "14 0");
    tick();
    uint8_t *ctx = sim::object_new(0x40), *ctrl = pl.ctrl;
    sim::unit_draw_hold(p8(a->model));
    std::thread pass([&] { props_draw(u(ctx)); });
    ASSERT_TRUE(sim::unit_draw_held(2000));
    std::atomic<bool> letting_go { false };
    std::thread go([&] {
        Sleep(150);
        letting_go = true;
        sim::unit_draw_let_go();
    });
    sim::game_put<uint64_t>(sim::off::game_ctrl, 0); // the profile unloaded
    tick();
    EXPECT_TRUE(letting_go) << "the table was cleared under a pass still drawing";
    go.join();
    pass.join();
    EXPECT_EQ(count_state(PROP_FREE), 64);
    sim::game_put<uint64_t>(sim::off::game_ctrl, u(ctrl));
    for (auto *m : sim::models_made())
        sim::put<uint32_t>(m, 8, 0);
}

// After props_shutdown the core reads nothing of the block: a pass that
// begins later draws nothing, while the block keeps its live props.
TEST_F(props_core, AfterShutdownAPassReadsNothing)
{
    prop_record *r = spawn(cone, "10 0");
    tick();
    uint8_t *ctx = sim::object_new(0x40), *model = p8(r->model);
    props_draw(u(ctx));
    EXPECT_EQ(sim::model_draws(model).draws, 1u);
    props_shutdown();
    EXPECT_EQ(section()->table[0].state, (uint32_t)PROP_LIVE);
    props_draw(u(ctx));
    EXPECT_EQ(sim::model_draws(model).draws, 1u);
    props_init(&api);
    props_draw(u(ctx));
    EXPECT_EQ(sim::model_draws(model).draws, 2u);
}

TEST_F(props_core, ABlockOfAnotherLayoutStartsEmptyWithDrawingOn)
{
    spawn();
    props_shutdown();
    struct {
        uint32_t magic, version;
    } cases[] = { { PROPS_MAGIC, 6 }, { 0x12345678, PROPS_VERSION }, { PROPS_MAGIC, PROPS_VERSION } };
    for (auto &c : cases) {
        section()->magic = c.magic;
        section()->version = c.version;
        section()->drawing_on = 0;
        props_init(&api);
        bool kept = c.magic == PROPS_MAGIC && c.version == PROPS_VERSION;
        EXPECT_EQ(props_block->drawing_on, kept ? 0u : 1u);
        EXPECT_EQ(props_live_count(), kept ? 1 : 0);
        if (!kept) {
            EXPECT_EQ(props_block->last_local_id, 0u);
        }
        props_shutdown();
        if (!kept) {
            props_init(&api);
            spawn();
            props_shutdown();
        }
    }
    props_init(&api);
    for (auto *m : sim::models_made())
        if (sim::destroyed(m) == 0)
            sim::put<uint32_t>(m, 8, 0);
}

/* ---- spawning ---- */

TEST_F(props_core, SpawnFailuresLeaveTheTableAsItWasAndNothingLeaks)
{
    sim::model_entry nodesc;
    nodesc.path = "/model/nodesc.pmd";
    nodesc.descriptor = false;
    sim::model_add(nodesc);
    struct {
        const char *args;
        std::string line;
    } cases[] = {
        { "/model/none.pmd", "[props] spawn: /model/none.pmd isn't a .pmd in the game's files" },
        { "/model/../cone.pmd", "[props] spawn: /model/../cone.pmd isn't a .pmd in the game's files" },
        { "/model/cone.pmd 10 0 Red", "[props] look/variant must be tokens (a-z0-9_, max 12)" },
        { "/model/cone.pmd 10 0 aaaaaaaaaaaaa", "[props] look/variant must be tokens (a-z0-9_, max 12)" },
        { "/model/cone.pmd nan", "[props] spawn: numbers must be finite (within 1e6)" },
        { "/model/nodesc.pmd", "[props] missing model descriptor: /model/nodesc.pmd (look default, variant default); "
                               "released" },
        { "", "[props] usage: model spawn <name|token|/path.pmd> [metres ahead] [metres right] [look] [variant]" },
    };
    for (auto &c : cases) {
        auto out = cmd(std::string("spawn ") + c.args);
        EXPECT_TRUE(has(out, c.line)) << c.args << "\n" << text(out);
        EXPECT_EQ(count_state(PROP_FREE), 64) << c.args;
    }
    // the model without a descriptor was released through the game at once
    ASSERT_EQ(sim::models_made().size(), 1u);
    EXPECT_EQ(sim::destroyed(sim::models_made()[0]), 1);
    struct {
        sim::create_result r;
        const char *line;
    } creates[] = {
        { sim::create_result::null, "[props] create_unit(model_object) returned null" },
        { sim::create_result::foreign_vtable, "[props] create_unit(model_object) returned another kind of object; released" },
    };
    for (auto &c : creates) {
        sim::create_behaviour(sim::prop_off::model_class, c.r);
        EXPECT_TRUE(has(cmd(fmt("spawn %s", cone)), c.line));
        EXPECT_EQ(count_state(PROP_FREE), 64);
        if (c.r == sim::create_result::null) {
            EXPECT_EQ(sim::models_made().size(), 1u);
        } else {
            EXPECT_EQ(sim::destroyed(sim::models_made().back()), 1);
        }
    }
}

TEST_F(props_core, AFaultAfterTheReferenceLeavesTheModelForTheNormalRelease)
{
    sim::vtable_set(sim::vtable_at(sim::prop_off::model_vtable, sim::vtable_max_slots), 33, sim::game_at(0x1100));
    auto out = cmd(fmt("spawn %s", cone));
    ASSERT_EQ(sim::models_made().size(), 1u);
    uint8_t *model = sim::models_made()[0];
    EXPECT_EQ(count_state(PROP_QUEUED), 1) << text(out);
    EXPECT_EQ(count_state(PROP_LIVE), 0);
    tick(3);
    EXPECT_EQ(count_state(PROP_FREE), 64);
    EXPECT_EQ(sim::destroyed(model), 1);
}

TEST_F(props_core, SetUpReferenceDroppedAndPathRules)
{
    spawn();
    auto refs = sim::calls_named("setup_ref");
    ASSERT_EQ(refs.size(), 1u);
    EXPECT_EQ(sim::destroyed(p8(refs[0].args[1])), 1); // our drop took it to 0
    EXPECT_EQ(sim::calls_named("setup_attach").size(), 1u);
    struct {
        const char *path;
        const char *line;
    } cases[] = {
        { cone, "[props] exists /model/cone.pmd: yes (prop path ok)" },
        { "/model/CONE.PMD", "[props] exists /model/CONE.PMD: no (prop path refused)" },
        { "model/cone.pmd", "[props] exists model/cone.pmd: no (prop path refused)" },
    };
    for (auto &c : cases)
        EXPECT_EQ(first(fmt("exists %s", c.path)), c.line);
    sim::file_add("/model/CONE.PMD");
    EXPECT_EQ(first("exists /model/CONE.PMD"), "[props] exists /model/CONE.PMD: yes (prop path ok)");
    // a file system with four entries answers nothing
    sim::game_put<uint64_t>(sim::prop_off::files_count, 4);
    EXPECT_EQ(first(fmt("exists %s", cone)), "[props] exists /model/cone.pmd: no (prop path refused)");
}

/* ---- commands ---- */

TEST_F(props_core, CommandLinesAndUsage)
{
    struct {
        std::string line;
        std::string want;
    } cases[] = {
        { "", "[props] 0 live, drawing on, 0 draw calls" },
        { "frobnicate", "[props] unknown: model frobnicate (search|spawn|here|move|rot|snap|autosnap|nudge|attach|"
                        "detach|list|despawn|draw|save|load|layouts|delete|ray)" },
        { "despawn last", "[props] no prop 'last'" },
        { "despawn lastly", "[props] no prop 'lastly'" },
        { "nudge 1 1 2", "[props] usage: model nudge <id|last> <dx> <dy> <dz> [yaw deg]" },
        { "move 1", "[props] usage: model move <id|last> <ahead> [right] [up]" },
        { "rot 1", "[props] usage: model rot <id|last> <degrees>" },
        { "light 1", "[props] usage: model light <id|last> on|off|headlights|!headlights|beacons|!beacons|default" },
        { "light 1 blink", "[props] light: unknown mode 'blink'" },
        { "attach 1", "[props] usage: model attach <id|last> truck|cabin|roof|trailer[@player] [ahead right up [yaw]]" },
        { "attach 1 wheel", "[props] attach: unknown part 'wheel' (truck|cabin|roof|trailer)" },
        // a player behind '@' must be a number in 1..65535: never our truck by accident
        { "attach 1 truck@abc", "[props] usage: model attach <id|last> truck|cabin|roof|trailer[@player] [ahead right up [yaw]]" },
        { "attach 1 truck@70000", "[props] usage: model attach <id|last> truck|cabin|roof|trailer[@player] [ahead right up [yaw]]" },
        { "attach 1 truck@0 3", "[props] usage: model attach <id|last> truck|cabin|roof|trailer[@player] [ahead right up [yaw]]" },
        { "autosnap off", "[props] autosnap off" },
        { "autosnap on", "[props] autosnap on" },
        { "raymask zz", "[props] ray filter 00000000" },
        { "raymask ffff", "[props] ray filter 0000ffff" },
        { "save base", "[props] layouts live on the server: connect first (net connect ...)" },
        { "layouts", "[props] layouts live on the server: connect first (net connect ...)" },
        { "save " + std::string(33, 'n'), "[props] layout names are 1 to 32 bytes" },
        { "draw off", "[props] drawing off" },
        { "draw on", "[props] drawing on" },
        { "collide off", "[props] collision off" },
        { "ray 10", "[props] ray at 10 m ahead: hit (100.00, 10.00, 40.00), 20.00 m from the start, normal (0.00 1.00 "
                    "0.00), actor " + fmt("%p", (void *)(uintptr_t)sim::ground_actor()) +
                        ", substance 7; truck-plane height there 10.00" },
    };
    for (auto &c : cases)
        EXPECT_EQ(first(c.line), c.want) << c.line;
    ASSERT_TRUE(spawn(cone, "10 0"));
    auto list = cmd("list");
    ASSERT_EQ(list.size(), 2u) << text(list);
    EXPECT_EQ(list[0], "[props] 1 live, drawing on, 0 draw calls");
    EXPECT_EQ(list[1].rfind("[props]  #1 (local) /model/cone.pmd at (100.0, 10.0, 40.0) model ", 0), 0u) << list[1];
    // moving 5 m ahead follows the truck's heading, whatever the prop's own rotation
    truck_at(100, 10, 50, 90); // heading -x
    cmd("rot 1 33");
    double before[3], after[3];
    world(rec(1), before);
    EXPECT_EQ(last_line("move 1 5").rfind("[props] #1 move: (95.00, 10.00, 40.00)", 0), 0u);
    world(rec(1), after);
    EXPECT_NEAR(after[0] - before[0], -5, 1e-3);
    EXPECT_NEAR(after[2] - before[2], 0, 1e-3);
    EXPECT_EQ(first("despawn all"), "[props] despawn all");
    EXPECT_EQ(count_state(PROP_QUEUED), 1);
}

/* ---- attachment ---- */

TEST_F(props_core, AttachedToTruckCabinRoofAndTrailerFollowsWithinAMillimetre)
{
    uint8_t *trailer = sim::player_trailer_new(pl, sim::def_new(sim::def_kind::trailer));
    sim::part_models_add(trailer, false);
    sim::placement32 tp = { 100, 10, 62, 0, 0, 1, 0, 0, 0 };
    sim::vehicle_set_placement(trailer, tp);
    struct {
        const char *args;
        uint8_t part;
        uint8_t *vehicle;
        bool cabin;
        float rel[3];
    } cases[] = {
        { "truck 2", PROP_PART_TRUCK, pl.truck, false, { 0, 0, -2 } },
        { "truck 2 1 0.5 90", PROP_PART_TRUCK, pl.truck, false, { 1, 0.5f, -2 } },
        { "cabin 0 0 1", PROP_PART_CABIN, pl.truck, true, { 0, 1, 0 } },
        { "trailer 1 0 2", PROP_PART_TRAILER, trailer, false, { 0, 2, -1 } },
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.args);
        truck_at(100, 10, 50);
        prop_record *r = spawn(cone, "10 0");
        ASSERT_TRUE(r);
        auto out = cmd(fmt("attach last %s", c.args));
        EXPECT_EQ(r->attach_part, c.part) << text(out);
        EXPECT_FLOAT_EQ(r->rel.x, c.rel[0]);
        EXPECT_FLOAT_EQ(r->rel.y, c.rel[1]);
        EXPECT_FLOAT_EQ(r->rel.z, c.rel[2]);
        // the vehicle drives on; the prop follows in the props tick
        for (int step = 0; step < 3; step++) {
            float x = 100 + 7.5f * (float)step, yaw = 20.0f * (float)step;
            truck_at(x, 10, 50, yaw);
            float h = yaw * 3.1415927f / 360;
            sim::placement32 tpl = { x, 10, 62, 0, 0, cosf(h), 0, sinf(h), 0 };
            sim::vehicle_set_placement(trailer, tpl);
            tick();
            uint8_t *part = sim::part_model(c.vehicle, c.cabin);
            ASSERT_TRUE(part);
            // where the part is, composed with the offset, by the simulation's own maths
            placement frame;
            ASSERT_TRUE(props_game_world_placement(u(part), &frame));
            placement want;
            props_compose(&want, &frame, &r->rel);
            double a[3], b[3];
            placement_world(&want, a);
            world(r, b);
            for (int i = 0; i < 3; i++)
                EXPECT_NEAR(a[i], b[i], 0.001) << i;
            EXPECT_EQ(r->attach_missing, 0);
        }
        cmd("despawn last");
        tick(3);
    }
}

TEST_F(props_core, RoofFitKeptInPlaceRoundTripAndMissingPart)
{
    prop_record *r = spawn(cone, "10 0");
    auto out = cmd("attach last roof");
    EXPECT_TRUE(has(out, "[props] attach: cabin box (-1.20 -1.00 -1.00)..(1.20 1.20 1.00)")) << text(out);
    EXPECT_EQ(r->attach_part, PROP_PART_CABIN);
    // the prop rests on the cabin's top (1.2 m in the cabin's frame)
    EXPECT_NEAR(r->rel.y, 1.2, 1e-3) << text(out);
    EXPECT_TRUE(has(out, "[props] attach: rests on the cabin on 4 corners (1.00x1.00 m): up 1.20, tilt 0.0 deg, worst "
                         "corner gap 0.00 m"))
        << text(out);
    // kept in place: no numbers on the truck
    prop_record *k = spawn(cone, "6 3");
    double before[3];
    world(k, before);
    out = cmd("attach last truck");
    EXPECT_TRUE(has(out, "[props] attach: kept in place; round trip error 0.000 m")) << text(out);
    double after[3];
    world(k, after);
    for (int i = 0; i < 3; i++)
        EXPECT_NEAR(after[i], before[i], 1e-3);
    // the part gone: hidden and not drawn; back: drawn again
    tick();
    uint8_t *ctx = sim::object_new(0x40);
    props_draw(u(ctx));
    uint64_t drawn = sim::model_draws(p8(k->model)).draws;
    EXPECT_EQ(drawn, 1u);
    sim::part_models_remove(pl.truck);
    tick();
    EXPECT_EQ(k->attach_missing, 1);
    props_draw(u(ctx));
    EXPECT_EQ(sim::model_draws(p8(k->model)).draws, drawn);
    EXPECT_NE(text(cmd("list")).find("attached to our truck: right 3.00 up 0.00 ahead 6.00 (part missing: hidden)"),
              std::string::npos)
        << text(cmd("list"));
    sim::part_models_add(pl.truck, true);
    tick();
    EXPECT_EQ(k->attach_missing, 0);
    props_draw(u(ctx));
    EXPECT_EQ(sim::model_draws(p8(k->model)).draws, drawn + 1);
    // no trailer hitched
    EXPECT_EQ(first("attach 1 trailer"), "[props] attach: no trailer model on our vehicle (no trailer? not spawned here?)");
    out = cmd("detach last");
    EXPECT_TRUE(has(out, fmt("[props] #%u detached at (%.1f, %.1f, %.1f)", k->local_id, before[0], before[1], before[2])))
        << text(out);
    EXPECT_EQ(first("detach last"), fmt("[props] #%u isn't attached", k->local_id));
}

// Props on several parts and players in the same ticks: each follows its
// own part, two on one part both follow it, and every tick reads the parts
// again (nothing of one tick's reads holds in the next).
TEST_F(props_core, PropsOnDifferentPartsAndPlayersFollowTheirOwnPartEveryTick)
{
    uint8_t *trailer = sim::player_trailer_new(pl, sim::def_new(sim::def_kind::trailer));
    sim::part_models_add(trailer, false);
    uint8_t *v = p8(game_create_unit(GAME_PREFERRED_BASE + sim::phys::class_record));
    ASSERT_TRUE(v);
    game_take_ref(u(v));
    spawn_state.net_player = 7;
    spawn_state.vehicle = u(v);
    spawn_state.state = SPAWN_SPAWNED;
    struct {
        const char *args;
        uint8_t *vehicle;
        bool cabin;
        prop_record *r;
    } cases[] = {
        { "truck 2", pl.truck, false, nullptr },       { "truck 4 1 0", pl.truck, false, nullptr },
        { "cabin 0 0 1", pl.truck, true, nullptr },    { "trailer 1 0 2", trailer, false, nullptr },
        { "cabin@7 0 0 1", v, true, nullptr },         { "truck@7 3 0 0", v, false, nullptr },
    };
    for (auto &c : cases) {
        c.r = spawn(cone, "10 0");
        ASSERT_TRUE(c.r);
        auto out = cmd(fmt("attach last %s", c.args));
        ASSERT_NE(c.r->attach_part, 0) << c.args << "\n" << text(out);
    }
    for (int step = 0; step < 3; step++) {
        float x = 100 + 7.5f * (float)step, yaw = 20.0f * (float)step, h = yaw * 3.1415927f / 360;
        truck_at(x, 10, 50, yaw);
        sim::placement32 tp = { x, 10, 62, 0, 0, cosf(h), 0, sinf(h), 0 };
        sim::vehicle_set_placement(trailer, tp);
        sim::placement32 vp = { 300 - 5.0f * (float)step, 10, 80, 0, 0, cosf(-h), 0, sinf(-h), 0 };
        sim::vehicle_set_placement(v, vp);
        tick();
        for (auto &c : cases) {
            SCOPED_TRACE(fmt("%s, step %d", c.args, step));
            placement frame, want;
            ASSERT_TRUE(props_game_world_placement(u(sim::part_model(c.vehicle, c.cabin)), &frame));
            props_compose(&want, &frame, &c.r->rel);
            double a[3], b[3];
            placement_world(&want, a);
            world(c.r, b);
            for (int i = 0; i < 3; i++)
                EXPECT_NEAR(a[i], b[i], 0.001) << i;
            EXPECT_EQ(c.r->attach_missing, 0);
        }
    }
    // the remote vehicle gone: its two props hidden in the next tick, ours not
    spawn_state.state = SPAWN_NONE;
    tick();
    for (auto &c : cases)
        EXPECT_EQ(c.r->attach_missing, c.vehicle == v ? 1 : 0) << c.args;
}

// Kept in place 150 m ahead of the truck: the offset would pass the 100 m
// every receiver refuses, so the command refuses it before anything, for a
// local prop and for a server prop's request alike (nothing is sent).
TEST_F(props_core, AttachKeptInPlaceBeyondTheBoundIsRefusedBeforeSending)
{
    prop_record *r = spawn(cone, "150 0");
    ASSERT_TRUE(r);
    auto out = cmd("attach last truck");
    EXPECT_EQ(out.back(), "[props] attach: offsets must be finite metres within 100") << text(out);
    EXPECT_EQ(r->attach_part, 0);
    // the same as a server prop while joined: no request goes out
    r->server_id = 9;
    net_client.our_id = 5;
    out = cmd("attach 9 truck");
    net_client.our_id = 0;
    EXPECT_EQ(out.back(), "[props] attach: offsets must be finite metres within 100") << text(out);
    EXPECT_EQ(text(out).find("request"), std::string::npos) << text(out);
    // within the bound it is kept in place as before
    prop_record *k = spawn(cone, "90 0");
    out = cmd(fmt("attach %u truck", k->local_id));
    EXPECT_EQ(k->attach_part, PROP_PART_TRUCK) << text(out);
}

TEST_F(props_core, OnTheRemotePlayersSpawnedVehicleAndGoneWithIt)
{
    // the spawned vehicle shows player 7: a vehicle from the factory, with its part models
    uint8_t *v = p8(game_create_unit(GAME_PREFERRED_BASE + sim::phys::class_record));
    ASSERT_TRUE(v);
    ASSERT_TRUE(sim::part_model(v, true));
    game_take_ref(u(v));
    sim::placement32 vp = { 300, 10, 80, 0, 0, 1, 0, 0, 0 };
    sim::vehicle_set_placement(v, vp);
    spawn_state.net_player = 7;
    spawn_state.vehicle = u(v);
    spawn_state.state = SPAWN_SPAWNED;
    prop_record *r = spawn(cone, "10 0");
    auto out = cmd("attach last cabin@7 0 0 1");
    EXPECT_EQ(r->attach_player, 7) << text(out);
    EXPECT_NE(text(out).find("[props] #1 attached to the cabin (model "), std::string::npos) << text(out);
    tick();
    double w[3];
    world(r, w);
    // the cabin sits 1.5 m up and 1 m ahead of the vehicle; the prop 1 m above it
    EXPECT_NEAR(w[0], 300, 1e-3);
    EXPECT_NEAR(w[1], 12.5, 1e-3);
    EXPECT_NEAR(w[2], 79, 1e-3);
    auto list = text(cmd("list"));
    EXPECT_NE(list.find("[props]     attached to a remote cabin: right 0.00 up 1.00 ahead 0.00\n[props]     (player 7)"),
              std::string::npos)
        << list;
    // a trailer of that player: none, so hidden
    cmd("attach last trailer@7 0 0 0");
    spawn_state.state = SPAWN_NONE;
    tick();
    EXPECT_EQ(r->attach_missing, 1);
}

// Player 9 shown as a convoy vehicle (slot 2 of `remote mode rv`): the prop
// follows the vehicle's pose, is hidden while the slot is empty and drawn
// again once the player's vehicle is back.
TEST_F(props_core, OnAPlayerShownAsAConvoyVehicleFollowsItWithinAMillimetre)
{
    sim::convoy_install(pl);
    rv_forget_all();
    rv_config = rv_settings {};
    rv_config.restore_done = 1;
    uint8_t *source = sim::def_new(sim::def_kind::vehicle, "AB 123");
    auto convoy_vehicle = [&](double x, double z) -> uint8_t * {
        uint64_t def = def_clone(u(source), &def_class_vehicle);
        placement at;
        placement_from_world(&at, x, 10, z, 1, 0, 0, 0);
        if (!def || !rv_spawn(2, &at, def, def + DEF_ACCESSORY_ARRAY, RV_STAGE_C))
            return nullptr;
        rv_slots[2].player = 9;
        return p8(sim::get<uint64_t>(p8(rv_slots[2].netobj), sim::no_f::vehicle));
    };
    uint8_t *v = convoy_vehicle(300, 80);
    ASSERT_TRUE(v) << text(fx::captured());
    prop_record *r = spawn(cone, "10 0");
    ASSERT_TRUE(r);
    // attached as a server echo would attach it: 2 m ahead, 1 m up, turned 90 degrees
    r->attach_part = PROP_PART_TRUCK;
    r->attach_player = 9;
    r->rel = props_relative { 0, 1, -2, 0, 0.70710678f, 0, 0.70710678f, 0 };
    uint8_t *ctx = sim::object_new(0x40);
    for (int step = 0; step < 4; step++) {
        SCOPED_TRACE(step);
        float yaw = 35.0f * (float)step, h = yaw * 3.1415927f / 360;
        placement pose;
        placement_from_world(&pose, 300 + 6.25 * step, 10 + 0.5 * step, 80 - 3.0 * step, cosf(h), 0, sinf(h), 0);
        sim::put<placement>(v, sim::rv_f::pose, pose);
        tick();
        EXPECT_EQ(r->attach_missing, 0);
        placement want;
        props_compose(&want, &pose, &r->rel);
        double a[3], b[3];
        placement_world(&want, a);
        world(r, b);
        for (int i = 0; i < 3; i++)
            EXPECT_NEAR(a[i], b[i], 0.001) << i;
        // and where the simulated game draws the model
        placement drawn;
        ASSERT_TRUE(props_game_world_placement(r->model, &drawn));
        placement_world(&drawn, b);
        for (int i = 0; i < 3; i++)
            EXPECT_NEAR(a[i], b[i], 0.001) << i;
    }
    props_draw(u(ctx));
    uint64_t drawn = sim::model_draws(p8(r->model)).draws;
    EXPECT_EQ(drawn, 1u);
    // the convoy vehicle goes: hidden, not drawn, kept in the table
    rv_despawn(2, "test");
    ASSERT_EQ(rv_slots[2].netobj, 0u);
    tick();
    EXPECT_EQ(r->attach_missing, 1);
    props_draw(u(ctx));
    EXPECT_EQ(sim::model_draws(p8(r->model)).draws, drawn);
    EXPECT_NE(text(cmd("list")).find("(part missing: hidden)"), std::string::npos) << text(cmd("list"));
    // back (a new netobj for the same player): drawn on it again
    v = convoy_vehicle(400, 90);
    ASSERT_TRUE(v) << text(fx::captured());
    placement pose, want;
    placement_from_world(&pose, 400, 10, 90, 1, 0, 0, 0);
    sim::put<placement>(v, sim::rv_f::pose, pose);
    tick();
    EXPECT_EQ(r->attach_missing, 0);
    double w[3];
    world(r, w);
    props_compose(&want, &pose, &r->rel);
    double a[3];
    placement_world(&want, a);
    for (int i = 0; i < 3; i++)
        EXPECT_NEAR(a[i], w[i], 0.001) << i;
    props_draw(u(ctx));
    EXPECT_EQ(sim::model_draws(p8(r->model)).draws, drawn + 1);
    rv_despawn(2, "test");
    rv_forget_all();
    rv_config = rv_settings {};
}

/* ---- requests ---- */

// Every request whose sender returns false says so with one "not sent" line
// and changes nothing here. The network client names us joined (our id 5)
// while its socket is closed, so every sender refuses.
TEST_F(props_core, RequestsTheSenderRefusesSayNotSent)
{
    prop_record *r = spawn(cone, "10 0");
    prop_record *a = spawn(cone, "20 0");
    ASSERT_TRUE(r && a);
    cmd("attach 2 truck 2");
    ASSERT_EQ(a->attach_part, PROP_PART_TRUCK);
    r->server_id = 9;
    a->server_id = 10;
    placement kept = r->place;
    props_relative kept_rel = a->rel;
    net_client.our_id = 5;
    struct {
        const char *command;
        const char *line;
    } cases[] = {
        { "nudge 9 1 0 0", "[props] nudge request for server prop 9 not sent" },
        { "move 9 1", "[props] move request for server prop 9 not sent" },
        { "rot 9 90", "[props] rotate request for server prop 9 not sent" },
        { "here 9", "[props] here request for server prop 9 not sent" },
        { "level 9", "[props] level request for server prop 9 not sent" },
        { "light 9 on", "[props] light request for server prop 9 not sent (on)" },
        { "attach 9 truck 2", "[props] attach request for server prop 9 not sent (truck, right 0.00 up 0.00 ahead 2.00)" },
        { "despawn 9", "[props] remove request for server prop 9 not sent" },
        { "move 10 1", "[props] move request for server prop 10 not sent" },
        { "rot 10 90", "[props] rotate request for server prop 10 not sent" },
        { "level 10", "[props] level request for server prop 10 not sent" },
        { "detach 10", "[props] detach request for server prop 10 not sent" },
        { "despawn all", "[props] despawn all (server props: request not sent)" },
        { "spawn /model/cone.pmd 30 0", "[props] create request not sent to the server: /model/cone.pmd at (100.0, 10.0, "
                                        "20.0)" },
    };
    for (auto &c : cases) {
        auto out = cmd(c.command);
        EXPECT_EQ(out.empty() ? "(nothing)" : out.back(), c.line) << c.command << "\n" << text(out);
        int sent = 0;
        for (auto &l : out)
            sent += l.find(" sent") != std::string::npos && l.find(" not sent") == std::string::npos;
        EXPECT_EQ(sent, 0) << c.command << "\n" << text(out);
    }
    net_client.our_id = 0;
    EXPECT_EQ(memcmp(&r->place, &kept, sizeof kept), 0);
    EXPECT_EQ(memcmp(&a->rel, &kept_rel, sizeof kept_rel), 0);
    EXPECT_EQ(a->attach_part, PROP_PART_TRUCK);
    EXPECT_EQ(r->light_mode, 0);
    EXPECT_EQ(count_state(PROP_LIVE), 2);
    EXPECT_EQ(props_pending_creates, 0u) << "a create request not sent is not awaited";
}

/* ---- levelling ---- */

TEST_F(props_core, LevellingOnTheHeightField)
{
    struct {
        sim::ground_kind kind;
        float h, k;
        double x; /* truck x: the prop spawns 10 m ahead */
        std::string line;
        double y;
    } cases[] = {
        { sim::ground_kind::flat, 12, 0, 100, "[props] spawn: leveled on 4 corners (1.00x1.00 m): height 12.00, tilt 0.0 deg, "
                                              "worst corner gap 0.00 m",
          12 },
        { sim::ground_kind::slope, 0, 0.1f, 100, "[props] spawn: leveled on 4 corners (1.00x1.00 m): height 10.00, tilt 5.7 "
                                                 "deg, worst corner gap 0.00 m",
          10 },
        { sim::ground_kind::step, 10, 0.4f, 0, "[props] spawn: leveled on 4 corners (1.00x1.00 m): height 10.20, tilt 21.8 "
                                               "deg, worst corner gap 0.00 m",
          10.2 },
        { sim::ground_kind::hole, 10, 0.25f, 100, "(no corner line)", 10 },
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.line);
        sim::ground_set(c.kind, c.h, c.k);
        truck_at((float)c.x, 10, 50);
        auto out = cmd(fmt("spawn %s 10 0", cone));
        prop_record *r = rec(props_block->last_local_id);
        ASSERT_TRUE(r) << text(out);
        if (c.kind != sim::ground_kind::hole) {
            EXPECT_TRUE(has(out, c.line)) << text(out);
        }
        double w[3];
        world(r, w);
        EXPECT_NEAR(w[1], c.y, 1e-3) << text(out);
        cmd("despawn last");
        tick(3);
    }
    // a hole under the whole box: every corner misses; the centre too
    sim::ground_set(sim::ground_kind::hole, 10, 2);
    truck_at(0, 10, 10);
    auto out = cmd(fmt("spawn %s 10 0", cone));
    EXPECT_TRUE(has(out, "[props] spawn: no ground hit below; using the truck's road plane")) << text(out);
}

TEST_F(props_core, LevellingIgnoresTheOwnActorAndPartFitUsesCentreRay)
{
    cmd("collide on");
    prop_record *r = spawn(cone, "10 0");
    ASSERT_TRUE(r && r->actor);
    // the prop's own box top is 1 m above the ground: a level of the prop
    // must find the ground below, not itself
    auto out = cmd("level last");
    EXPECT_TRUE(has(out, "[props] level: leveled on 4 corners (1.00x1.00 m): height 10.00, tilt 0.0 deg, worst corner "
                         "gap 0.00 m"))
        << text(out);
    double w[3];
    world(r, w);
    EXPECT_NEAR(w[1], 10, 1e-3);
    // a zero-width box: no slope along x, no division by zero
    sim::model_entry thin;
    thin.path = "/model/thin.pmd";
    thin.box_min[0] = thin.box_max[0] = 0;
    sim::model_add(thin);
    sim::ground_set(sim::ground_kind::slope, 0, 0.1f);
    out = cmd("spawn /model/thin.pmd 20 0"); // clear of the cone's actor
    EXPECT_TRUE(has(out, "[props] spawn: leveled on 4 corners (0.00x1.00 m): height 10.00, tilt 0.0 deg, worst corner "
                         "gap 0.00 m"))
        << text(out);
}

/* ---- collision ---- */

TEST_F(props_core, CollisionOnOffAttachedBuilderFalse)
{
    prop_record *a = spawn(cone, "10 0");
    prop_record *b = spawn(cone, "20 0");
    cmd("attach 2 truck 5");
    auto out = cmd("collide on");
    EXPECT_TRUE(a->actor);
    EXPECT_FALSE(b->actor);
    EXPECT_TRUE(has(out, fmt("[props] #1 collision: /model/cone.pmc, 2 shape(s), actor %p", (void *)(uintptr_t)a->actor)))
        << text(out);
    EXPECT_EQ(out.back(), "[props] collision on");
    EXPECT_EQ(sim::actors_live().size(), 1u);
    // building twice builds once
    EXPECT_TRUE(props_create_collision(a));
    EXPECT_EQ(sim::actors_made(), 1u);
    cmd("collide off");
    EXPECT_EQ(sim::actors_live().size(), 0u);
    EXPECT_FALSE(a->actor);
    sim::shape_builder_result(false);
    out = cmd("collide on");
    EXPECT_TRUE(has(out, fmt("[props] #1 collision: /model/cone.pmc, 2 shape(s), actor %p (builder returned false)",
                             (void *)(uintptr_t)a->actor)))
        << text(out);
    // attaching removes the actor; releasing too
    cmd("attach 1 truck 3");
    EXPECT_EQ(sim::actors_live().size(), 0u);
    cmd("detach 1");
    EXPECT_EQ(sim::actors_live().size(), 1u);
    cmd("despawn 1");
    tick(3);
    EXPECT_EQ(sim::actors_live().size(), 0u);
}

TEST_F(props_core, AFaultInEachCollisionStepLeaksNoActor)
{
    struct {
        sim::physics_step step;
        const char *name;
    } cases[] = {
        { sim::physics_step::resource, "load pmc" },     { sim::physics_step::new_actor, "new static actor" },
        { sim::physics_step::build, "build shapes" },    { sim::physics_step::set_placement, "set placement" },
        { sim::physics_step::add, "to scene" },
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        prop_record *a = spawn(cone, "10 0");
        spawn(cone, "20 0");
        sim::physics_fault(c.step);
        auto out = cmd("collide on");
        EXPECT_NE(text(out).find(fmt("[props] #1 collision: fault in '%s' at ", c.name)), std::string::npos) << text(out);
        // the build stopped after the fault; the switch logged as it ended
        EXPECT_EQ(out.back(), "[props] collision off");
        EXPECT_FALSE(has(out, "[props] #2 collision: no physics server/scene"));
        EXPECT_FALSE(a->actor);
        EXPECT_EQ(sim::actors_live().size(), 0u);
        TearDown();
    }
}

// A model whose ".pmc" loads nothing gets no actor and one line; the
// others still get theirs and the switch stays on.
TEST_F(props_core, AModelWithoutCollisionDataIsALineAndNoActor)
{
    sim::model_entry bare;
    bare.path = "/model/bare.pmd";
    bare.collision = false;
    sim::model_add(bare);
    prop_record *a = spawn(bare.path.c_str(), "10 0");
    prop_record *b = spawn(cone, "20 0");
    auto out = cmd("collide on");
    EXPECT_TRUE(has(out, "[props] #1 collision: no /model/bare.pmc (model has no collision)")) << text(out);
    EXPECT_FALSE(a->actor);
    EXPECT_TRUE(b->actor);
    EXPECT_EQ(out.back(), "[props] collision on");
    EXPECT_EQ(props_collision_on, 1);
    EXPECT_EQ(sim::actors_live().size(), 1u);
}

// The resource manager the collision file is loaded through: missing,
// freed, or too small to hold its list at +0xD8. Each is one line for each
// prop and no collision for it; the switch stays on and nothing faults.
TEST_F(props_core, CollisionWithoutAReadableResourceManagerIsALinePerProp)
{
    spawn(cone, "10 0");
    spawn(cone, "20 0");
    uint64_t good = sim::game_get<uint64_t>(sim::prop_off::resource_manager);
    uint8_t *freed = sim::object_new(0x200);
    sim::object_release(freed);
    struct {
        const char *what;
        uint64_t manager;
    } cases[] = { { "none", 0 }, { "freed", u(freed) }, { "too small", u(sim::object_new(0x40)) } };
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        sim::game_put<uint64_t>(sim::prop_off::resource_manager, c.manager);
        auto out = cmd("collide on");
        EXPECT_EQ(out, (std::vector<std::string>{ "[props] #1 collision: no readable resource manager",
                                                   "[props] #2 collision: no readable resource manager",
                                                   "[props] collision on" }))
            << text(out);
        EXPECT_EQ(props_collision_on, 1);
        EXPECT_EQ(sim::actors_live().size(), 0u);
        cmd("collide off");
    }
    sim::game_put<uint64_t>(sim::prop_off::resource_manager, good);
    cmd("collide on");
    EXPECT_EQ(sim::actors_live().size(), 2u);
}

/* ---- lights ---- */

TEST_F(props_core, LightModesFollowTheCarryingVehicle)
{
    uint8_t *trailer = sim::player_trailer_new(pl, sim::def_new(sim::def_kind::trailer));
    sim::part_models_add(trailer, false);
    uint8_t *v = sim::object_new(sim::phys::vehicle_size, sim::vehicle_vtable());
    sim::part_models_add(v, true);
    spawn_state.net_player = 7;
    spawn_state.vehicle = u(v);
    spawn_state.state = SPAWN_SPAWNED;
    struct {
        const char *attach; /* "" unattached */
        uint8_t *vehicle;   /* whose light word counts */
    } where[] = { { "", nullptr }, { "truck 0 0 2", pl.truck }, { "trailer 0 0 2", pl.truck }, { "cabin@7 0 0 2", v } };
    const uint32_t words[] = { 0, 0x2, 0x200, 0x202 };
    for (auto &w : where) {
        SCOPED_TRACE(w.attach);
        prop_record *r = spawn(lamp, "10 0");
        if (*w.attach)
            cmd(fmt("attach last %s", w.attach));
        tick(); // hookups
        ASSERT_EQ(r->hookup_state, PROP_HOOKUPS_CREATED);
        auto hookups = sim::model_hookups(p8(r->model));
        ASSERT_EQ(hookups.size(), 3u);
        for (int mode = 0; mode < 7; mode++) {
            for (uint32_t word : words) {
                if (w.vehicle)
                    sim::put<uint32_t>(w.vehicle, 0x2A0, word);
                cmd(fmt("light last %s", props_light_mode_names[mode]));
                tick();
                bool head = word & 2, beacons = word & 0x200, att = w.vehicle != nullptr;
                bool on = mode <= 1 ? true
                          : mode == 2 ? false
                          : !att ? false
                          : mode == 3 ? head
                          : mode == 4 ? !head
                          : mode == 5 ? beacons
                                      : !beacons;
                SCOPED_TRACE(fmt("mode %d word %x", mode, word));
                EXPECT_EQ(r->light_applied, on ? 1 : 0);
                for (auto *h : hookups) {
                    if (sim::hookup_is_flare(h)) {
                        if (mode != 0) {
                            EXPECT_EQ(sim::get<uint8_t>(h, 0x240), on ? 0 : 1);
                        }
                    } else {
                        EXPECT_EQ(sim::get<uint8_t>(h, 0x198), on ? 1 : 0);
                    }
                }
            }
        }
        // default leaves flares as they are
        sim::put<uint8_t>(hookups[2], 0x240, 1);
        cmd("light last default");
        tick();
        EXPECT_EQ(sim::get<uint8_t>(hookups[2], 0x240), 1);
        EXPECT_EQ(sim::get<uint8_t>(hookups[0], 0x198), 1);
        // 0xFF re-applies the same state: the byte written once more
        sim::put<uint8_t>(hookups[0], 0x198, 0);
        cmd("light last on");
        tick();
        EXPECT_EQ(sim::get<uint8_t>(hookups[0], 0x198), 1);
        cmd("despawn last");
        tick(3);
    }
}

TEST_F(props_core, HookupFaultsStopThatPropOnlyAndTheDumpLists)
{
    prop_record *r = spawn(lamp, "10 0");
    auto out = cmd("hookups last");
    EXPECT_EQ(out[0], fmt("[props] #1: 0 hookup(s) at %p", (void *)nullptr));
    size_t before = fx::captured().size();
    tick();
    auto lines = fx::captured();
    EXPECT_EQ(lines[before], "[props] #1: 3 hookup(s), 1 blinking flare(s)");
    out = cmd("hookups last");
    ASSERT_GE(out.size(), 4u) << text(out);
    EXPECT_EQ(out[0].rfind("[props] #1: 3 hookup(s) at ", 0), 0u);
    EXPECT_NE(text(out).find(" light_omni\n"), std::string::npos) << text(out);
    EXPECT_NE(text(out).find(" flare_blink_lamp (flare_blink, on)"), std::string::npos) << text(out);
    EXPECT_NE(text(out).find("[props]     record static[0]: flag 0 "), std::string::npos) << text(out);
    // a fault in the light pass stops that prop's hookups; it stays live and drawn
    sim::physics_fault(sim::physics_step::hookups);
    prop_record *s = spawn(lamp, "20 0");
    tick();
    EXPECT_EQ(s->hookup_state, PROP_HOOKUPS_STOPPED);
    EXPECT_EQ(s->state, PROP_LIVE);
    EXPECT_EQ(r->hookup_state, PROP_HOOKUPS_CREATED);
    uint8_t *ctx = sim::object_new(0x40);
    props_draw(u(ctx));
    EXPECT_EQ(sim::model_draws(p8(s->model)).draws, 1u);
}

// The models of the records a reload keeps are checked again by the new
// core: a model object goes on with its hookups, one that is not a model
// object (here a foreign table with the loaded flag and a hookup count set)
// is never called, in the hookup creation, the hookup tick or the lights.
TEST_F(props_core, KeptModelsAreCheckedAgainAndAForeignOneIsNeverCalled)
{
    prop_record *r = spawn(lamp, "10 0");
    prop_record *s = spawn(lamp, "20 0");
    ASSERT_TRUE(r && s);
    tick();
    ASSERT_EQ(r->hookup_state, PROP_HOOKUPS_CREATED);
    uint8_t *model = p8(r->model);
    uint64_t ticks = sim::model_draws(model).hookup_ticks;
    uint64_t kept_model = s->model;
    uint8_t *foreign = sim::object_new(MODEL_SIZE, sim::vtable_new(64));
    sim::put<uint32_t>(foreign, MODEL_FLAGS, MODEL_LOADED);
    sim::put<uint64_t>(foreign, MODEL_HOOKUP_COUNT, 1);
    size_t slot = (size_t)(s - props_block->table);
    props_shutdown();
    section()->table[slot].model = u(foreign);
    section()->table[slot].hookup_state = PROP_HOOKUPS_NONE;
    props_init(&api);
    sim::calls_clear();
    tick(2);
    EXPECT_EQ(sim::model_draws(model).hookup_ticks, ticks + 2);
    EXPECT_EQ(props_block->table[slot].hookup_state, PROP_HOOKUPS_NONE);
    EXPECT_EQ(sim::calls_named("vslot40").size() + sim::calls_named("vslot30").size() +
                  sim::calls_named("vslot17").size(),
              0u);
    // created hookups on a foreign model: ticked and lit never
    props_block->table[slot].hookup_state = PROP_HOOKUPS_CREATED;
    tick();
    EXPECT_EQ(sim::calls_named("vslot17").size(), 0u);
    EXPECT_EQ(props_block->table[slot].hookup_state, PROP_HOOKUPS_CREATED);
    props_block->table[slot].model = kept_model; // the reference goes back to its release
    cmd("despawn all");
    tick(3);
}

/* ---- drawing ---- */

TEST_F(props_core, DrawRestoresTheRenderWordOnEveryPathAndReportsAFaultOnce)
{
    uint8_t *camera = sim::object_new(0x80);
    sim::put<uint64_t>(pl.ctrl, 0x960, u(camera));
    sim::put<uint32_t>(camera, 0x10, 5);
    prop_record *r = spawn(cone, "10 0");
    tick();
    uint8_t *ctx = sim::object_new(0x40);
    props_draw(u(ctx));
    auto seen = sim::model_draws(p8(r->model));
    EXPECT_EQ(seen.draws, 1u);
    EXPECT_EQ(seen.render_word, 1u);
    EXPECT_EQ(seen.context, u(ctx));
    EXPECT_EQ(sim::get<uint32_t>(camera, 0x10), 5u);
    sim::model_draw_faults(true);
    props_draw(u(ctx));
    EXPECT_EQ(sim::get<uint32_t>(camera, 0x10), 5u);
    EXPECT_EQ(props_draw_faulted, 1);
    size_t before = fx::captured().size();
    tick(3);
    auto lines = fx::captured();
    EXPECT_EQ(std::vector<std::string>(lines.begin() + (long)before, lines.end()),
              std::vector<std::string>{ "[props] draw faulted; prop drawing disabled (model draw on to retry)" });
    EXPECT_NE(first("list").find(", DRAW FAULTED"), std::string::npos);
    sim::model_draw_faults(false);
    cmd("draw on");
    props_draw(u(ctx));
    EXPECT_EQ(sim::model_draws(p8(r->model)).draws, 2u);
    // a new fault is reported again
    sim::model_draw_faults(true);
    props_draw(u(ctx));
    tick(2);
    int faults = 0;
    for (auto &l : fx::captured())
        faults += l.rfind("[props] draw faulted", 0) == 0;
    EXPECT_EQ(faults, 2);
    sim::model_draw_faults(false);
}

// The release waits for every draw pass that may have read the record live.
// Row 1: a pass that begins on cue while the game thread queues the prop
// (held there by the queue's observer) must not draw it after its release.
// Row 2: a pass still inside an earlier prop's draw when the next prop is
// queued reads that prop afterwards: its release waits until the pass ends.
TEST_F(props_core, AReleaseWaitsForEveryPassThatMayHaveReadTheProp)
{
    static uint8_t *ctx;
    static std::atomic<bool> pass_done;
    static std::thread *pass;
    ctx = sim::object_new(0x40);
    struct row {
        bool cue_in_queue; /* the pass begins while the game thread queues */
        const char *what;
    } rows[] = { { true, "a pass begun while queueing" }, { false, "a pass held in the prop before" } };
    for (const row &w : rows) {
        SCOPED_TRACE(w.what);
        prop_record *a = spawn(cone, "10 0");
        prop_record *b = spawn(cone, "14 0");
        tick(); // hookups: both are drawn from now on
        uint8_t *held = p8(w.cue_in_queue ? b->model : a->model), *queued = p8(b->model);
        uint32_t queued_id = b->local_id;
        pass_done = false;
        sim::unit_draw_hold(held);
        static void (*begin_pass)() = [] {
            pass = new std::thread([] {
                props_draw(u(ctx));
                pass_done = true;
            });
        };
        if (w.cue_in_queue) {
            // The pass begins while the game thread is inside the queue, and
            // reads the record before the game thread goes on.
            props_queue_observer = [](const prop_record *) {
                begin_pass();
                for (int i = 0; i < 2000 && !pass_done && !sim::unit_draw_held(1); i++) {
                }
            };
        } else {
            begin_pass();
            ASSERT_TRUE(sim::unit_draw_held(2000));
        }
        cmd(fmt("despawn %u", queued_id));
        props_queue_observer = nullptr;
        tick(6);
        if (!w.cue_in_queue) {
            EXPECT_EQ(count_state(PROP_QUEUED), 1) << "released while a pass that reads it next still runs";
        }
        sim::unit_draw_let_go();
        pass->join();
        delete pass;
        for (int t = 0; t < 500 && count_state(PROP_QUEUED); t++) {
            tick();
            Sleep(1);
        }
        EXPECT_EQ(count_state(PROP_QUEUED), 0);
        EXPECT_EQ(sim::destroyed(queued), 1);
        EXPECT_EQ(sim::model_draws(queued).unreferenced_draws, 0u);
        EXPECT_EQ(sim::unit_problems(), std::vector<std::string>{});
        cmd("despawn all");
        tick(3);
    }
}

// A prop is drawn only once its hookups exist: not while the game creates
// them (slots 40 and 30), however long that takes.
TEST_F(props_core, NotDrawnWhileItsHookupsAreBeingCreated)
{
    uint8_t *ctx = sim::object_new(0x40);
    prop_record *r = spawn(lamp, "10 0");
    uint8_t *model = p8(r->model);
    sim::model_hookups_delay(300);
    std::atomic<bool> stop { false };
    std::atomic<uint64_t> passes { 0 };
    std::thread render([&] {
        while (!stop) {
            props_draw(u(ctx));
            passes++;
            Sleep(1);
        }
    });
    tick(); // creates the hookups, slowly
    stop = true;
    render.join();
    sim::model_hookups_delay(0);
    EXPECT_GT(passes.load(), 10u);
    EXPECT_EQ(sim::model_draws(model).creating_draws, 0u) << "drawn while its hookups were being created";
    EXPECT_EQ(r->hookup_state, PROP_HOOKUPS_CREATED);
    props_draw(u(ctx));
    EXPECT_GE(sim::model_draws(model).draws, 1u) << "drawn once they exist";
}

TEST_F(props_core, DrawingOnAThreadOfItsOwnWhileTheGameThreadSpawnsAndReleases)
{
    uint8_t *ctx = sim::object_new(0x40);
    std::atomic<bool> stop { false };
    std::atomic<uint64_t> passes { 0 };
    for (int i = 0; i < 32; i++)
        spawn(cone, fmt("%d 0", i + 5).c_str());
    tick();
    sim::model_draw_delay(1); // a draw pass outlasts many ticks
    std::thread render([&] {
        while (!stop) {
            props_draw(u(ctx));
            passes++;
        }
    });
    // half attached and moving, the rest spawned and despawned round after round
    for (int i = 1; i <= 16; i++)
        cmd(fmt("attach %d truck %d", i, i));
    for (int round = 0; round < 20; round++) {
        truck_at(100 + (float)round, 10, 50, (float)round * 3);
        std::vector<uint32_t> ids;
        for (int k = 0; k < 8; k++)
            ids.push_back(spawn(cone, "12 1")->local_id);
        tick();
        Sleep(70); // a pass or so draws them
        for (uint32_t id : ids)
            cmd(fmt("despawn %u", id));
        for (int t = 0; t < 3 || count_state(PROP_QUEUED); t++) {
            tick();
            if (t >= 3)
                Sleep(1);
            ASSERT_LT(t, 5000) << "a queued prop never released";
        }
    }
    stop = true;
    render.join();
    EXPECT_GT(passes.load(), 0u);
    EXPECT_EQ(props_draw_faulted, 0);
    // every released model was destroyed once and never drawn after its release
    EXPECT_EQ(sim::unit_problems(), std::vector<std::string>{});
    for (auto *m : sim::models_made())
        EXPECT_EQ(sim::model_draws(m).unreferenced_draws, 0u);
    uint64_t thread_seen = sim::model_draws(sim::models_made()[0]).draw_thread;
    EXPECT_NE(thread_seen, (uint64_t)GetCurrentThreadId());
}

} // namespace
