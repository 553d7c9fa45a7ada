// The reload blocks through the plug-in's hot reload: the real core is
// touched in core\drovemark_core.dll and the plug-in loads it again; the old
// core's shutdown writes the blocks, the new core's init and first frame take
// them back. The spawned vehicle, its trailer, the connection and the binding
// of a remote player stay; a profile change before the reload takes nothing
// back; the blocks' bytes are pinned by hand-written offsets.
//
// Index
//   fixture       a player with a truck definition, the draw routines, the
//                 blocks cleared, reload_core
//   the vehicle   each move mode, the trailer rigid and articulated
//   the network   joined with a bound bot, the bot's trailer, our vehicle
//                 hidden from the new core's start
//   refusals      a profile change, a block taken once
//   bytes         what shutdown writes, what init reads
#include <math.h>
#include "sim/reload_sections.h"
#include "net/net_wire.h"
#include "runtime_fixture.h"
#include "sim/sim_draw.h"
#include "sim/sim_vehicles.h"

using rt::fmt;
using namespace reload_fx;

namespace {

constexpr const char *chassis_path = "/def/truck/chassis.sii";
constexpr const char *wheel_path = "/def/truck/wheel.sii";

/* ---- fixture ---- */

class reload : public rt::reload_server_test {
protected:
    uint8_t *local_def = nullptr;

    void SetUp() override
    {
        rt::reload_server_test::SetUp();
        sim::draw_install();
        sim::vehicle_world_install();
        sim::data_new(chassis_path, sim::game_at(sim::veh_off::part_data_class));
        sim::data_new(wheel_path, sim::game_at(sim::veh_off::wheel_data_class));
        truck_for(player);
    }
    void TearDown() override
    {
        sim::draw_uninstall();
        rt::reload_server_test::TearDown();
    }

    /* A truck definition with a chassis and a wheel for the player, at
     * (100, 10, 50). */
    void truck_for(const sim::player &p)
    {
        local_def = sim::def_new(sim::def_kind::vehicle, "AB 123");
        sim::def_push(local_def, sim::accessory_new(sim::accessory_kind::part, chassis_path));
        sim::def_push(local_def, sim::accessory_new(sim::accessory_kind::wheel, wheel_path));
        sim::player_truck_def(p, local_def);
        sim::placement32 at = { 100, 10, 50, 0, 0, 1, 0, 0, 0 };
        sim::player_set_placement(&at);
    }

    /* The vehicle the core made, from its (first) spawn line. */
    uint8_t *spawned_vehicle(int from = 0)
    {
        int at = log_find("[core] spawn: veh=", from);
        void *v = nullptr;
        if (at >= 0)
            sscanf(log_lines()[at].c_str(), "[core] spawn: veh=%p", &v);
        return (uint8_t *)v;
    }

    uint8_t *spawn()
    {
        command("spawn");
        step(2, 0.05);
        EXPECT_EQ(log_count("[core] spawn complete"), 1) << log_text();
        return spawned_vehicle();
    }
};

/* ---- the vehicle ---- */

TEST_F(reload, TheSpawnedVehicleStaysInEachMoveMode)
{
    struct row {
        const char *name;
        const char *command; /* null: parked */
        int mode;
    } rows[] = {
        { "park", nullptr, 0 },
        { "circle", "move circle 12 3", 1 },
        { "follow", "move follow 9", 2 },
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        SetUp();
        start();
        uint8_t *vehicle = spawn();
        ASSERT_TRUE(vehicle);
        if (r.command)
            command(r.command);
        step(10, 0.05);
        int before = (int)log_lines().size();
        sim::calls_clear();

        reload_core();
        EXPECT_GE(log_find(fmt("[core] leaving spawned vehicle %p in the world", (void *)vehicle), before), 0)
            << log_text();
        EXPECT_GE(log_find(fmt("[core] restored spawned vehicle %p def %p (shared, move mode %d)", (void *)vehicle,
                               (void *)local_def, r.mode),
                           before),
                  0)
            << log_text();
        size_t placed = sim::vehicle_placements(vehicle).size();
        step(10, 0.05);
        EXPECT_TRUE(sim::calls_named("create_unit").empty()) << "nothing respawned";
        EXPECT_EQ(count_since(before, "[core] spawn"), 0) << log_text();
        EXPECT_TRUE(sim::vehicle_listed(vehicle));
        EXPECT_GT(sim::vehicle_placements(vehicle).size(), placed) << "the new core moves it";
        auto info = command("info");
        ASSERT_FALSE(info.empty());
        EXPECT_EQ(info[0].rfind(fmt("[core] info: veh=%p", (void *)vehicle), 0), 0u) << info[0];
        EXPECT_TRUE(sim::unit_problems().empty());
        TearDown();
    }
}

// A draw of the spawned vehicle by the old core, held inside the game's
// draw across a hot reload: the new core takes the vehicle back, and its
// despawn releases the vehicle only once that draw has returned.
TEST_F(reload, ADespawnWaitsForTheOldCoresDrawStillRunning)
{
    start();
    command("spawnmode clone");
    uint8_t *vehicle = spawn();
    ASSERT_TRUE(vehicle);
    command("hook on");
    sim::draw_thread_start();
    ASSERT_TRUE(sim::draw_wait_frames(3));
    sim::unit_draw_hold(vehicle);
    ASSERT_TRUE(sim::unit_draw_held(2000));
    reload_core();
    step(3, 0.05);
    ASSERT_GE(log_find("[core] restored spawned vehicle"), 0) << log_text();
    command("despawn");
    step(10, 0.05);
    EXPECT_EQ(sim::destroyed(vehicle), 0) << "released under the old core's held draw";
    ASSERT_TRUE(sim::unit_draw_let_go());
    step(10, 0.05);
    EXPECT_EQ(sim::destroyed(vehicle), 1) << log_text();
    sim::draw_thread_stop();
    EXPECT_EQ(sim::unit_problems(), std::vector<std::string>{});
}

TEST_F(reload, TheTrailerStaysRigidOrArticulatedWithItsParts)
{
    struct row {
        const char *name;
        bool kingpin;
        const char *mode;
    } rows[] = {
        { "rigid", false, "rigid" },
        { "articulated", true, "articulated" },
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        SetUp();
        uint8_t *source = sim::def_new(sim::def_kind::trailer, "TR 1");
        uint8_t *rig = sim::player_trailer_new(player, source);
        sim::vehicle_set_placement(rig, { 100, 10, 58, 0, 0, 1, 0, 0, 0 });
        sim::trailer_couple(rig, player.truck);
        if (r.kingpin)
            sim::trailer_kingpin(rig, 0, 1, -5);
        uint8_t *parent = rig;
        for (int i = 0; i < 2; i++) {
            uint8_t *part = sim::trailer_part_new(parent);
            sim::put<uint64_t>(parent, sim::trl::next_part, (uint64_t)(uintptr_t)part);
            sim::vehicle_set_placement(part, { 100, 10, 68.0f + 10.0f * i, 0, 0, 1, 0, 0, 0 });
            parent = part;
        }
        sim::trailer_actor_parts(2);
        start();
        ASSERT_TRUE(spawn());
        command("trailer");
        ASSERT_GE(step_until(fmt("[core] trailer complete (%s mode)", r.mode), 2.0), 0) << log_text();
        step(5, 0.05);
        int made = log_find("[core] trailer: actor=");
        ASSERT_GE(made, 0) << log_text();
        void *actor_ptr = nullptr;
        sscanf(log_lines()[made].c_str(), "[core] trailer: actor=%p", &actor_ptr);
        uint8_t *actor = (uint8_t *)actor_ptr;
        uint8_t *parts[2];
        parts[0] = (uint8_t *)(uintptr_t)sim::get<uint64_t>(actor, sim::trl::next_part);
        parts[1] = (uint8_t *)(uintptr_t)sim::get<uint64_t>(parts[0], sim::trl::next_part);
        sim::placement32 part_before[2] = { sim::vehicle_placements(parts[0]).back(),
                                            sim::vehicle_placements(parts[1]).back() };
        uint64_t definition = sim::get<uint64_t>(actor, sim::trl::definition);
        int before = (int)log_lines().size();
        sim::calls_clear();

        reload_core();
        EXPECT_GE(log_find(fmt("[core] restored trailer %p def %p (%s mode)", (void *)actor, (void *)definition, r.mode),
                           before),
                  0)
            << log_text();
        size_t part_placed = sim::vehicle_placements(parts[1]).size();
        step(10, 0.05);
        EXPECT_TRUE(sim::calls_named("create_unit").empty()) << "nothing rebuilt";
        EXPECT_TRUE(sim::vehicle_listed(actor));
        ASSERT_GT(sim::vehicle_placements(parts[1]).size(), part_placed) << "the new core places the parts";
        for (int i = 0; i < 2; i++) {
            sim::placement32 now = sim::vehicle_placements(parts[i]).back();
            EXPECT_NEAR(now.x, part_before[i].x, 1e-3) << i;
            EXPECT_NEAR(now.z, part_before[i].z, 1e-3) << i;
        }
        EXPECT_TRUE(sim::unit_problems().empty());
        TearDown();
    }
}

/* ---- the network ---- */

TEST_F(reload, JoinedStaysJoinedWithTheSameIdAndTheBotKeepsItsVehicle)
{
    rt::bot_truck_data();
    join();
    uint16_t bot = add_bot("bot");
    ASSERT_GE(step_until("[core] spawn complete", 10.0), 0) << log_text();
    uint8_t *vehicle = spawned_vehicle();
    step_until("(never)", 1.0);
    ts_client *me = ts_find_name(&server, "tester");
    ASSERT_TRUE(me);
    const uint16_t id = me->id, port = me->port;
    const uint32_t nonce = me->nonce;
    int used = 0;
    for (auto &c : server.clients)
        used += c.used;
    int before = (int)log_lines().size();

    reload_core();
    ASSERT_GE(step_until(fmt("[core] net: reconnecting to 127.0.0.1:%u as 'tester' after reload (slot -> player %u)",
                             server.port, bot),
                         1.0),
              0)
        << log_text();
    EXPECT_GE(log_find(fmt("[core] restored spawned vehicle %p ", (void *)vehicle), before), 0) << log_text();
    step_until("(never)", 3.0);
    me = ts_find_name(&server, "tester");
    ASSERT_TRUE(me);
    EXPECT_EQ(me->id, id);
    EXPECT_EQ(me->nonce, nonce);
    EXPECT_NE(me->port, port) << "a new socket";
    EXPECT_EQ(me->hellos, 2u);
    EXPECT_EQ(server.by_type[NET_LEAVE], 0u) << "no leave";
    int used_after = 0;
    for (auto &c : server.clients)
        used_after += c.used;
    EXPECT_EQ(used_after, used) << "no new player";
    EXPECT_EQ(count_since(before, "[net] joined as player"), 1) << log_text();
    EXPECT_GE(log_find(fmt("[net] joined as player %u", id), before), 0) << log_text();
    EXPECT_EQ(count_since(before, "[core] net: remote "), 0) << "nobody left\n" << log_text();
    EXPECT_EQ(count_since(before, "[core] net: spawning"), 0) << "nobody respawned\n" << log_text();
    auto status = command("net status");
    ASSERT_FALSE(status.empty());
    EXPECT_EQ(status.back(), fmt("[core] net: slot -> player %u, vehicle %p state 2 mode 3, trailers off, recording no",
                                 bot, (void *)vehicle));
}

// The bot pulls a trailer, which our spawned trailer shows (remote trailers
// on): after the reload the trailer is taken back, and the bot's trailer
// list, which the new core first sees after the reload, only updates the
// hash: no rebuild of the same trailer.
TEST_F(reload, TheBotsTrailerStaysWithoutARebuild)
{
    const char *trailer_path = "/def/trailer/body.sii";
    rt::bot_truck_data();
    sim::data_new(trailer_path, sim::game_at(sim::veh_off::part_data_class));
    sim::ctrl_trailer_defs(player, 1);
    join();
    server.bot_trailer_path = trailer_path;
    command("net trailers on");
    uint16_t bot = add_bot("bot");
    ASSERT_GE(step_until(fmt("[core] net: player %u has a trailer (1 accessory entries); building it", bot), 12.0), 0)
        << log_text();
    ASSERT_GE(step_until("[core] trailer complete", 3.0), 0) << log_text();
    int made = log_find("[core] trailer: actor=");
    ASSERT_GE(made, 0) << log_text();
    void *actor = nullptr;
    sscanf(log_lines()[made].c_str(), "[core] trailer: actor=%p", &actor);
    step_until("(never)", 1.0);
    int before = (int)log_lines().size();

    reload_core();
    EXPECT_GE(log_find(fmt("[core] restored trailer %p ", actor), before), 0) << log_text();
    step_until("(never)", 7.0); // the bot's lists come again within 5 s
    EXPECT_EQ(count_since(before, fmt("[core] net: player %u's trailer changed", bot)), 0) << log_text();
    EXPECT_EQ(count_since(before, fmt("[core] net: player %u has a trailer", bot)), 0) << log_text();
    EXPECT_EQ(count_since(before, "[core] trailer: actor="), 0) << "nothing rebuilt\n" << log_text();
    EXPECT_TRUE(sim::vehicle_listed(actor));
    auto status = command("net status");
    ASSERT_FALSE(status.empty());
    EXPECT_NE(status.back().find(", trailers on,"), std::string::npos) << status.back();
}

// Our vehicle, shown for a bot or hidden and parked once the bot left, with
// the draw hooks on: the game closes and loads the plug-in again
// (dm_core_shutdown, then dm_core_init) and draws before its next frame.
// The hooks come back at init, and so does the hidden flag: no draw of a
// hidden vehicle from the new core's start on.
TEST_F(reload, AHiddenVehicleIsNotDrawnBetweenInitAndTheFirstFrame)
{
    struct row {
        const char *name;
        bool bot_leaves;
    } rows[] = {
        { "shown for the bot", false },
        { "hidden once the bot left", true },
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        SetUp();
        join();
        uint8_t *vehicle = spawn();
        ASSERT_TRUE(vehicle);
        command("hook on");
        uint16_t bot = add_bot("bot");
        ASSERT_GE(step_until(fmt("[core] net: player %u 'bot' takes over the existing vehicle %p", bot, (void *)vehicle),
                             5.0),
                  0)
            << log_text();
        if (r.bot_leaves) {
            ts_drop(&server, bot, 0, nullptr);
            ASSERT_GE(step_until(fmt("[core] net: vehicle %p hidden and parked", (void *)vehicle), 3.0), 0)
                << log_text();
        }
        step(2, 0.05);
        int before = (int)log_lines().size();
        shutdown();
        ASSERT_EQ(init(), SCS_RESULT_OK);
        ASSERT_GE(log_find(fmt("[core] restored spawned vehicle %p ", (void *)vehicle), before), 0) << log_text();
        uint64_t drawn = sim::unit_draws(vehicle).draws;
        for (int i = 0; i < 3; i++)
            sim::draw_frame();
        EXPECT_EQ(sim::unit_draws(vehicle).draws - drawn, r.bot_leaves ? 0u : 3u) << "before the first frame";
        sim::event_started();
        step(1, 0.05);
        drawn = sim::unit_draws(vehicle).draws;
        sim::draw_frame();
        EXPECT_EQ(sim::unit_draws(vehicle).draws - drawn, r.bot_leaves ? 0u : 1u) << "after it";
        TearDown();
        server_up = false; // stopped
    }
}

// The server hears a leave when the game closes, and none at a reload: the
// others see the player go at once, not after the server's time-out.
TEST_F(reload, TheGameExitLeavesTheServerAReloadNever)
{
    join();
    ASSERT_TRUE(ts_find_name(&server, "tester"));
    int before = (int)log_lines().size();
    reload_core();
    ASSERT_GE(step_until("[net] joined as player", 3.0, before), 0) << log_text();
    step(5, 0.1);
    EXPECT_EQ(server.by_type[NET_LEAVE], 0u) << "no leave at the reload";
    ASSERT_TRUE(ts_find_name(&server, "tester"));

    int exit = (int)log_lines().size();
    shutdown();
    for (int i = 0; i < 200 && server.by_type[NET_LEAVE] == 0; i++) {
        Sleep(5);
        ts_poll(&server, sim::clock_now());
    }
    EXPECT_EQ(server.by_type[NET_LEAVE], 1u);
    EXPECT_FALSE(ts_find_name(&server, "tester")) << "dropped by the leave";
    EXPECT_GE(log_find("[net] socket closed (left)", exit), 0) << log_text();
    EXPECT_LT(log_find("[net] socket closed (left)", exit), log_find("[core] shutdown", exit)) << log_text();
}

/* ---- refusals ---- */

TEST_F(reload, AProfileChangedAfterTheLastFrameTakesNothingBack)
{
    start();
    uint8_t *vehicle = spawn();
    ASSERT_TRUE(vehicle);
    int before = (int)log_lines().size();
    // The game loads another profile (a new game_ctrl) after the old core's
    // last frame.
    reload_core([this] {
        player = sim::game_player_create();
        truck_for(player);
    });
    EXPECT_GE(log_find(fmt("[core] leaving spawned vehicle %p in the world", (void *)vehicle), before), 0);
    EXPECT_LT(log_find("[core] restored spawned vehicle", before), 0) << log_text();
    step(3, 0.05);
    EXPECT_EQ(first("info").rfind("[core] info: nothing spawned", 0), 0u) << log_text();
}

TEST_F(reload, ABlockIsTakenBackOnce)
{
    start();
    ASSERT_TRUE(spawn());
    reload_core();
    ASSERT_GE(log_find("[core] restored spawned vehicle"), 0) << log_text();
    for (const block_name &b : { core_block, trailer_block, net_block }) {
        auto bytes = read_block(b);
        ASSERT_EQ(bytes.size(), b.size) << b.format;
        EXPECT_EQ(at<uint32_t>(bytes, 0), 0u) << b.format << ": the magic is cleared by its reader";
    }
}

// A core that faulted is freed without its shutdown, so it writes no block;
// the blocks it took back at its start were consumed then, and the core
// after it takes nothing back.
TEST_F(reload, ACoreThatFaultedLeavesNothingToTakeBack)
{
    uint8_t *rig = sim::player_trailer_new(player, sim::def_new(sim::def_kind::trailer, "TR 1"));
    sim::vehicle_set_placement(rig, { 100, 10, 58, 0, 0, 1, 0, 0, 0 });
    sim::trailer_couple(rig, player.truck);
    start();
    ASSERT_TRUE(spawn());
    reload_core();
    ASSERT_GE(log_find("[core] restored spawned vehicle"), 0) << log_text();
    // The game's trailer create faults where the core calls it unguarded: a
    // frame fault (0x1100: the vehicle world's faulting stub).
    sim::put<uint64_t>(sim::game_at(sim::trl::class_record), 8, (uint64_t)(uintptr_t)sim::game_at(0x1100));
    // More lines behind it than the file worker reads ahead: at the fault it
    // still holds cmd.txt.taken open.
    std::string text = "trailer\n";
    for (int i = 0; i < 80; i++)
        text += "pos\n";
    fx::write_file(base + "cmd.txt", text);
    step(1, 0.25); // the poll that asks for the file
    for (int i = 0; i < 400 && fx::exists(base + "cmd.txt"); i++)
        Sleep(5);
    Sleep(50); // the worker fills its queue and waits for room
    step(2, 0.05);
    ASSERT_GE(log_find("[host] core frame faulted"), 0) << log_text();
    int before = (int)log_lines().size();
    reload_core();
    step(3, 0.05);
    EXPECT_LT(log_find("[core] restored", before), 0) << log_text();
    // The faulted core's file worker was stopped with its hooks: it closed
    // cmd.txt.taken, and the new core's console reads cmd.txt again.
    command("info");
    step(3, 0.05);
    EXPECT_GE(log_find("[core] info: nothing spawned", before), 0) << log_text();
    shutdown();
    EXPECT_LT(log_find("[core] leaving spawned vehicle", before), 0) << log_text();
}

// Each core maps the sections again; the handles of the core before it are
// closed, and so are its views once that core is unloaded, so reloads leave
// no handles and no views behind.
TEST_F(reload, ReloadsLeaveNoHandlesBehind)
{
    // Handles are handed out from the lowest free value: 16,384 values hold
    // every handle this process has, and each probe is a server call.
    auto handles = [] {
        int n = 0;
        for (uintptr_t h = 4; h < (1u << 16); h += 4) {
            DWORD flags;
            n += GetHandleInformation((HANDLE)h, &flags) ? 1 : 0;
        }
        return n;
    };
    // A count over the bound is taken again (a count costs seconds under
    // Wine): a worker's file or thread handle open for a moment is not a
    // leak, a handle left behind is in every count.
    auto handles_within = [&](int bound) {
        int n = handles();
        for (int k = 0; k < 4 && n > bound; k++) {
            Sleep(50);
            n = handles();
        }
        return n;
    };
    auto views = [] {
        int n = 0;
        MEMORY_BASIC_INFORMATION m;
        for (uint8_t *at = nullptr; VirtualQuery(at, &m, sizeof m) == sizeof m; at = (uint8_t *)m.BaseAddress + m.RegionSize)
            n += m.Type == MEM_MAPPED && m.State == MEM_COMMIT && m.BaseAddress == m.AllocationBase;
        return n;
    };
    start();
    ASSERT_TRUE(spawn());
    reload_core();
    step(3, 0.05);
    int after_one = handles(), views_after_one = views();
    ASSERT_GT(after_one, 10) << "the scan sees the handles of this process";
    for (int i = 0; i < 4; i++)
        reload_core();
    step(3, 0.05);
    EXPECT_LE(handles_within(after_one + 2), after_one + 2) << "three sections a reload would be twelve more";
    EXPECT_LE(views(), views_after_one + 2) << "the views of unloaded cores are unmapped";
    EXPECT_EQ(log_count("[core] restored spawned vehicle"), 5) << log_text();
}

/* ---- bytes ---- */

// Shutdown without a next core: the three blocks as the next core would
// read them, field by field at the offsets of their tables.
TEST_F(reload, ShutdownWritesTheBlocksAtTheirOffsets)
{
    join();
    uint8_t *vehicle = spawn();
    ASSERT_TRUE(vehicle);
    command("move circle 12 3");
    step(3, 0.05);
    ts_client *me = ts_find_name(&server, "tester");
    ASSERT_TRUE(me);
    uint32_t nonce = me->nonce;
    shutdown();

    auto c = read_block(core_block);
    ASSERT_EQ(c.size(), 144u);
    const uint8_t dmco[] = { 0x4F, 0x43, 0x4D, 0x44, 1, 0, 0, 0 };
    EXPECT_EQ(memcmp(c.data(), dmco, sizeof dmco), 0);
    EXPECT_EQ(at<uint64_t>(c, 8), (uint64_t)(uintptr_t)player.ctrl);
    EXPECT_EQ(at<uint64_t>(c, 16), (uint64_t)(uintptr_t)vehicle);
    EXPECT_EQ(at<uint64_t>(c, 24), (uint64_t)(uintptr_t)local_def);
    EXPECT_EQ(at<uint32_t>(c, 32), 2u);
    EXPECT_EQ(at<uint32_t>(c, 36), 1u) << "circle";
    EXPECT_EQ(at<uint32_t>(c, 40), 0u) << "share, the local truck's definition";
    EXPECT_EQ(at<uint32_t>(c, 44), 0u) << "no draw hook";
    EXPECT_EQ(at<int16_t>(c, 48 + 12), 0);
    EXPECT_NEAR(at<float>(c, 48 + 4), 10.0f, 1e-3) << "the placement's y";
    EXPECT_NEAR(at<float>(c, 48 + 16) * at<float>(c, 48 + 16) + at<float>(c, 48 + 24) * at<float>(c, 48 + 24), 1.0f,
                1e-3)
        << "a yaw quaternion";
    EXPECT_EQ(at<double>(c, 104), 12.0);
    EXPECT_EQ(at<double>(c, 112), 3.0);
    EXPECT_EQ(at<double>(c, 128), 15.0);
    EXPECT_EQ(at<float>(c, 136), 1.0f);
    EXPECT_EQ(at<uint32_t>(c, 140), 0u);

    auto t = read_block(trailer_block);
    ASSERT_EQ(t.size(), 192u);
    const uint8_t dmrl[] = { 0x4C, 0x52, 0x4D, 0x44, 1, 0, 0, 0 };
    EXPECT_EQ(memcmp(t.data(), dmrl, sizeof dmrl), 0);
    EXPECT_EQ(at<uint64_t>(t, 16), (uint64_t)(uintptr_t)vehicle);
    EXPECT_EQ(at<uint64_t>(t, 24), 0u) << "no trailer";
    EXPECT_EQ(at<uint32_t>(t, 40), 0u);
    EXPECT_EQ(at<double>(t, 120), 6.0) << "the drag length's default";
    EXPECT_EQ(at<float>(t, 172), 1.0f) << "rigid rotation w";

    auto n = read_block(net_block);
    ASSERT_EQ(n.size(), 144u);
    const uint8_t dmnt[] = { 0x54, 0x4E, 0x4D, 0x44, 1, 0, 0, 0 };
    EXPECT_EQ(memcmp(n.data(), dmnt, sizeof dmnt), 0);
    EXPECT_EQ(at<uint64_t>(n, 16), (uint64_t)(uintptr_t)vehicle);
    EXPECT_EQ(at<uint32_t>(n, 24), 1u) << "connected";
    EXPECT_EQ(at<uint32_t>(n, 28), 0u);
    EXPECT_EQ(at<uint32_t>(n, 32), 0u);
    EXPECT_EQ(at<uint16_t>(n, 36), 0u) << "nobody bound";
    EXPECT_EQ(std::string((const char *)n.data() + 40), "127.0.0.1");
    EXPECT_EQ(at<uint16_t>(n, 104), server.port);
    EXPECT_EQ(std::string((const char *)n.data() + 106), "tester");
    EXPECT_EQ(n[139], 0);
    EXPECT_EQ(at<uint32_t>(n, 140), nonce);
}

// A core block written by hand: with state 0 the settings still come back,
// a stored steering sign of 0 reads as 1.0, and nothing is spawned. The
// core's own shutdown writes them out again.
TEST_F(reload, InitTakesTheSettingsOfAHandWrittenBlock)
{
    start(); // maps the sections
    shutdown();
    HANDLE h = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name_of(core_block).c_str());
    ASSERT_TRUE(h);
    uint8_t *b = (uint8_t *)MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, 144);
    ASSERT_TRUE(b);
    memset(b, 0, 144);
    const uint8_t head[] = { 0x4F, 0x43, 0x4D, 0x44, 1, 0, 0, 0 };
    memcpy(b, head, sizeof head);
    const double radius = 33.0, speed = 7.5, follow = 9.0;
    memcpy(b + 40, "\x01\x00\x00\x00", 4); // spawn mode clone
    memcpy(b + 104, &radius, 8);
    memcpy(b + 112, &speed, 8);
    memcpy(b + 128, &follow, 8);
    UnmapViewOfFile(b);
    CloseHandle(h);

    start();
    EXPECT_LT(log_find("[core] restored spawned vehicle"), 0) << log_text();
    EXPECT_EQ(at<uint32_t>(read_block(core_block), 0), 0u) << "taken";
    shutdown();
    auto c = read_block(core_block);
    EXPECT_EQ(at<uint32_t>(c, 32), 0u);
    EXPECT_EQ(at<uint32_t>(c, 40), 1u) << "spawn mode clone kept";
    EXPECT_EQ(at<double>(c, 104), 33.0);
    EXPECT_EQ(at<double>(c, 112), 7.5);
    EXPECT_EQ(at<double>(c, 128), 9.0);
    EXPECT_EQ(at<float>(c, 136), 1.0f) << "a stored 0 reads as 1.0";
}

} // namespace
