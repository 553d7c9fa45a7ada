// The convoy remote vehicles through the real plug-in and core in the
// simulated game: the console commands line by line, the netobjs the game's
// factory is asked for, the test server's bots shown as convoy vehicles in
// `remote mode rv` (slots, keys, velocity, blinkers, leaving), and the slots
// kept through the plug-in's hot reload, in single player and in a game that
// runs its own network game.
//
// Index
//   fixture     the convoy machinery, the bots, reload_core
//   commands    every line of the rv commands
//   netobjs     the factory's owner, key times that never wrap
//   rv mode     bots as convoy vehicles
//   reload      the slots, in a network game, the record's saves, the page's
//               record before the section's, a vehicle given another id, the
//               older record, a vehicle gone meanwhile
#include <math.h>
#include <algorithm>
#include "runtime/runtime_fixture.h"
#include "sim/sim_convoy.h"
#include "sim/sim_vehicles.h"

using rt::fmt;

namespace {

/* The convoy record's tag, "rvsave2" with its NUL. */
const uint8_t rvsave2_tag[8] = { 0x72, 0x76, 0x73, 0x61, 0x76, 0x65, 0x32, 0x00 };

/* ---- fixture ---- */

class rv_game : public rt::reload_server_test {
protected:
    void SetUp() override
    {
        rt::reload_server_test::SetUp();
        sim::vehicle_world_install();
        rt::bot_truck_data();
        rt::player_truck(player);
        sim::convoy_install(player);
    }

    /* A hot reload with the truck controller away while the cores change:
     * the new core's restore waits for it. The controller, which the test
     * puts back once it has done what comes between. */
    uint64_t reload_without_controller()
    {
        uint64_t ctrl = sim::game_get<uint64_t>(sim::cv_off::truck_ctrl);
        int before = (int)log_lines().size();
        step(1, 0.5);
        touch_core();
        step(1, 0.5); // the poll that sees the file changed
        sim::game_put<uint64_t>(sim::cv_off::truck_ctrl, 0);
        step(1, 0.5);
        EXPECT_GE(log_find("[core] shutdown", before), 0) << log_text();
        return ctrl;
    }

    /* `rvspawn` and three frames: the test slot's netobj (null: none). */
    uint8_t *test_slot_spawned()
    {
        command("rvspawn");
        step(3, 0.05);
        return slot_netobj(0);
    }

    uint8_t *slot_netobj(int slot)
    {
        for (auto &n : sim::convoy_netobjs())
            if (!n.freed && n.id == (((uint32_t)slot + 32752u) | 0x10000u))
                return n.netobj;
        return nullptr;
    }
};

bool starts(const std::string &line, const std::string &prefix) { return line.compare(0, prefix.size(), prefix) == 0; }

/* ---- commands ---- */

TEST_F(rv_game, EveryLineOfTheCommands)
{
    start();
    sim::convoy c = sim::convoy_state();
    const std::string usage_move = "[core] usage: rvmove circle [r] [speed] | rvmove net [pid] | rvmove stop";
    struct row {
        const char *command;
        std::string first; /* the first line it logs (a prefix) */
    } rows[] = {
        { "rvinfo", "[core] rv: none" },
        { "rvspawn x", "[core] usage: rvspawn [peek|a|b|c]" },
        { "rvmove circle", "[core] rvmove: no rv at stage C (rvspawn first)" },
        { "rvspawn peek", fmt("[core] rv peek: wc=%p state(+0xb)=0 session(+0x10)=0000000000000000 "
                              "+0x18=0000000000000000 grid(+0x2d0)=0000000000000000",
                              (void *)c.wc) },
        { "rvspawn a", "[core] rv peek: " },
        { "rvmove circle", "[core] rvmove: no rv at stage C (rvspawn first)" },
        { "rvspawn", fmt("[core] rv: already spawned (%p); rvdespawn first", (void *)nullptr) },
        { "rvdespawn 9", "[core] rv[9]: nothing to despawn" },
        { "rvdespawn x", "[core] usage: rvdespawn [all|n]" },
        { "rvdespawn 3", "[core] rv[3]: nothing to despawn" },
        { "rvdespawn", "[core] rv[0]: despawn (rvdespawn) done; ctrl trucks 1 -> 0, ticked " },
        { "rvspawn c", "[core] rv peek: " },
        { "rvmove circle 1 3", "[core] rv: move circle r 2.0 m, 3.0 m/s, centre (98.0, 10.0, 30.0)" },
        { "rvmove circle -1", usage_move },
        { "rvmove circle nan", usage_move },
        { "rvmove circle 5 inf", usage_move },
        { "rvmove circle 5 3 2", usage_move },
        { "rvmove net 0", usage_move },
        { "rvmove net 70000", usage_move },
        { "rvmove net", "[core] rvmove net: no remote players" },
        { "rvmove net 5", "[core] rv: move net: follows player 5 '?' (over 40 m away = teleport + 2 s ghost)" },
        { "rvmove stop", "[core] rv: move stop (holds its last key)" },
        { "rvmove jump", usage_move },
        { "rvvel", "[core] rv: velocity off" },
        { "rvvel on", "[core] rv: velocity on" },
        { "rvclock off", "[core] rv: clock off" },
        { "rvclock", "[core] rv: clock on" },
        { "rvstep", "[core] usage: rvstep auto|on|off" },
        { "rvstep on", "[core] rv: step on" },
        { "rvstep auto", "[core] rv: step auto" },
        { "rvinfo", "[core] rv[0]: net=" },
        { "remote", "[core] remote mode clone, rv velocity on" },
        { "rvdespawn all", "[core] rv[0]: despawn (rvdespawn all) done; ctrl trucks 1 -> 0, ticked " },
    };
    for (auto &r : rows) {
        SCOPED_TRACE(r.command);
        std::string want = r.first;
        if (std::string(r.command) == "rvspawn" && slot_netobj(0))
            want = fmt("[core] rv: already spawned (%p); rvdespawn first", (void *)slot_netobj(0));
        auto out = command(r.command);
        ASSERT_FALSE(out.empty()) << log_text();
        EXPECT_TRUE(starts(out[0], want)) << out[0] << "\nwanted: " << want;
        if (std::string(r.command) == "rvspawn peek") {
            ASSERT_EQ(out.size(), 3u);
            EXPECT_TRUE(starts(out[1], fmt("[core] rv peek: ctrl=%p game_ctrl+0x80=%p (same); trucks(+0x40)=0 "
                                           "trailers(+0x68)=0 pending(+0x90)=0 ticked(+0xb8)=",
                                           (void *)c.ctrl, (void *)c.ctrl)))
                << out[1];
            EXPECT_EQ(out[2], "[core] rv peek: player network object (slot+0x1e6b0)=0000000000000000 (none: single "
                              "player)");
        }
        if (std::string(r.command) == "rvinfo" && slot_netobj(0)) {
            ASSERT_EQ(out.size(), 3u);
            EXPECT_TRUE(starts(out[1], "[core] rv[0]: move hold, step auto, step ts(+0x230) ")) << out[1];
            EXPECT_NE(out[1].find(" (advancing), net time "), std::string::npos) << out[1];
            EXPECT_TRUE(starts(out[2], "[core] rv[0]: key (")) << out[2];
        }
        if (std::string(r.command) == "remote") {
            ASSERT_EQ(out.size(), 2u);
            EXPECT_EQ(out[1], "[core]   rv[0] manual player 0 '' stage 3 physics 1 lights 00000000 acc 00000000");
        }
    }
    // A controller other than game_ctrl's: peek says so.
    sim::convoy_ctrl_new(false);
    auto out = command("rvspawn peek");
    ASSERT_EQ(out.size(), 3u);
    EXPECT_NE(out[1].find(" (DIFFERENT: tick may not run); "), std::string::npos) << out[1];
    EXPECT_TRUE(sim::unit_problems().empty());
}

/* ---- netobjs ---- */

// The factory makes each netobj for the owner the player's network object
// names, and the key times of a new netobj are the network time: the clock
// less the clock object's base, 0 (never a wrapped time far ahead) while the
// base is ahead of the clock.
TEST_F(rv_game, TheFactoryGetsThePlayersOwnerAndKeyTimesNeverWrap)
{
    start();
    const uint64_t owner = 0x5EED00C0FFEE0001ULL;
    sim::convoy_owner(owner);
    struct row {
        const char *name;
        uint64_t clock, base, key_time;
    } rows[] = {
        { "the clock ahead of its base", 3000000, 1000000, 2000000 },
        { "the base ahead of the clock", 1000000, 3000000, 0 },
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        command("rvdespawn all");
        sim::convoy c = sim::convoy_state();
        sim::put<uint64_t>(c.wc, sim::wc_f::physics_clock, r.clock);
        sim::put<uint64_t>(c.clock, 0xB20, r.base);
        command("rvspawn a"); // stage A: no tick touches its keys
        ASSERT_FALSE(sim::convoy_netobjs().empty());
        sim::convoy_netobj n = sim::convoy_netobjs().back();
        ASSERT_FALSE(n.freed) << log_text();
        EXPECT_EQ(n.owner, owner);
        EXPECT_EQ(sim::get<uint64_t>(n.netobj, sim::no_f::key_base), r.key_time);
        EXPECT_EQ(sim::get<uint64_t>(n.netobj, sim::no_f::key_time), r.key_time);
    }
}

/* ---- rv mode ---- */

TEST_F(rv_game, BotsAppearAsConvoyVehiclesUpToSeven)
{
    join("remote_mode = rv\n");
    server.bot_lights_on = true;
    server.bot_lights = 0x01;
    server.bot_blink = 0.4;
    std::vector<uint16_t> bots;
    for (int i = 0; i < 8; i++)
        bots.push_back(add_bot(fmt("bot%d", i).c_str()));
    // One spawn a frame, each from the bot's list.
    for (int i = 0; i < 7; i++)
        ASSERT_GE(step_until(fmt("[core] net: spawning an rv for player %u 'bot%d' in slot %d (their accessories)",
                                 bots[i], i, i + 1),
                             5.0),
                  0)
            << log_text();
    ASSERT_GE(step_until(fmt("[core] net: no free rv slot for player %u (7 max)", bots[7]), 2.0), 0) << log_text();
    step_until("(never)", 3.0);
    EXPECT_EQ(log_count("[core] net: no free rv slot"), 1) << "at most every 30 s";
    EXPECT_EQ(sim::convoy_listed().size(), 7u);

    // Slot 1 follows bot 0 on its circle of 40 m around (1000 + 100 id, -2000),
    // its keys carry the bot's velocity and a blinker held steadily on.
    uint8_t *n1 = slot_netobj(1);
    ASSERT_TRUE(n1);
    uint32_t lights_seen = ~0u;
    for (int i = 0; i < 30; i++) {
        step(1, 0.05);
        lights_seen &= sim::get<uint32_t>(n1, sim::no_f::lights);
    }
    EXPECT_EQ(lights_seen & 0x41u, 0x41u) << "a blinker every 0.4 s stays on";
    sim::placement32 key = sim::get<sim::placement32>(n1, sim::no_f::key_current);
    double x = key.sector_x * 512.0 + key.x - (1000 + 100 * bots[0]), z = key.sector_z * 512.0 + key.z + 2000;
    EXPECT_NEAR(sqrt(x * x + z * z), 40.0, 2.0);
    float v[3];
    memcpy(v, sim::convoy_netobjs()[0].netobj + sim::no_f::velocity, sizeof v);
    EXPECT_NEAR(sqrt(v[0] * v[0] + v[2] * v[2]), 10.0, 0.5) << "the bot's 10 m/s";
    command("rvvel off");
    step(2, 0.05);
    memcpy(v, n1 + sim::no_f::velocity, sizeof v);
    EXPECT_EQ(v[0], 0.0f);
    EXPECT_EQ(v[2], 0.0f);

    // The blinker stops: the bit drops 1.0 s after it was last seen.
    server.bot_blink = 0;
    double stopped = sim::clock_now();
    double dropped = 0;
    for (int i = 0; i < 60 && !dropped; i++) {
        step(1, 0.05);
        if (!(sim::get<uint32_t>(n1, sim::no_f::lights) & 0x40))
            dropped = sim::clock_now();
    }
    ASSERT_GT(dropped, 0);
    EXPECT_GE(dropped - stopped, 0.55);
    EXPECT_LE(dropped - stopped, 1.25);

    // "remote" lists the slots.
    auto out = command("remote");
    ASSERT_GE(out.size(), 8u);
    EXPECT_EQ(out[0], "[core] remote mode rv, rv velocity off");
    EXPECT_TRUE(starts(out[1], fmt("[core]   rv[1] net player %u 'bot0' stage 3 physics 1 lights ", bots[0]))) << out[1];

    // A bot leaves: its slot goes, and the eighth bot takes it.
    int before = (int)log_lines().size();
    ts_drop(&server, bots[0], 0, nullptr);
    ASSERT_GE(step_until(fmt("[core] net: remote %u gone (left the server)", bots[0]), 2.0, before), 0) << log_text();
    EXPECT_GE(log_find("[core] rv[1]: despawn (remote left) done; ctrl trucks 7 -> 6", before), 0) << log_text();
    ASSERT_GE(step_until(fmt("[core] net: spawning an rv for player %u 'bot7' in slot 1", bots[7]), 12.0, before), 0)
        << log_text();
    EXPECT_TRUE(sim::unit_problems().empty());
}

/* ---- reload ---- */

TEST_F(rv_game, SlotsStayThroughAHotReload)
{
    join();
    command("remote mode rv");
    std::vector<uint16_t> bots;
    for (int i = 0; i < 3; i++)
        bots.push_back(add_bot(fmt("bot%d", i).c_str()));
    ASSERT_GE(step_until(fmt("[core] net: spawning an rv for player %u", bots[2]), 8.0), 0) << log_text();
    command("rvspawn");
    step(5, 0.05);
    size_t made = sim::convoy_netobjs().size();
    ASSERT_EQ(made, 4u);
    std::vector<uint8_t *> netobjs;
    for (int slot = 0; slot < 4; slot++)
        netobjs.push_back(slot_netobj(slot));
    int before = (int)log_lines().size();

    reload_core();
    for (int slot = 0; slot < 4; slot++)
        EXPECT_GE(log_find(fmt("[core] leaving native rv[%d] netobj %p in the world (the next core picks it up)", slot,
                               (void *)netobjs[slot]),
                           before),
                  0)
            << log_text();
    ASSERT_GE(step_until("[core] rv: restored slot 3 ", 1.0, before), 0) << log_text();
    EXPECT_GE(log_find("[core] remote mode rv (set by command before the reload)", before), 0) << log_text();
    EXPECT_GE(log_find(fmt("[core] rv: restored slot 0 from before the reload (net %p, stage 3, player 0)",
                           (void *)netobjs[0]),
                       before),
              0);
    for (int slot = 1; slot < 4; slot++)
        EXPECT_GE(log_find(fmt("[core] rv: restored slot %d from before the reload (net %p, stage 3, player %u)", slot,
                               (void *)netobjs[slot], bots[slot - 1]),
                           before),
                  0)
            << log_text();
    step_until("(never)", 3.0);
    EXPECT_EQ(sim::convoy_netobjs().size(), made) << "nothing respawned";
    EXPECT_EQ(count_since(before, "[core] net: remote "), 0) << log_text();
    EXPECT_EQ(count_since(before, "[core] rv[") - count_since(before, "[core] rv[0]") -
                  count_since(before, "[core] rv[1]") - count_since(before, "[core] rv[2]") -
                  count_since(before, "[core] rv[3]"),
              0)
        << "no other slot";
    for (int slot = 0; slot < 4; slot++)
        EXPECT_EQ(slot_netobj(slot), netobjs[slot]);
    auto out = command("remote");
    ASSERT_EQ(out.size(), 5u) << log_text();
    EXPECT_EQ(out[0], "[core] remote mode rv, rv velocity on");
    // The new core finds the player-info page the first one planted.
    uint64_t info = sim::get<uint64_t>(sim::convoy_state().wc, sim::wc_f::player_info);
    command("rvdespawn 0");
    auto spawned = command("rvspawn");
    EXPECT_NE(std::find(spawned.begin(), spawned.end(), fmt("[core] rv: wc+0x48 = %p (our stand-in)", (void *)info)),
              spawned.end())
        << log_text();
    EXPECT_EQ(count_since(before, "[core] rv: installed player-info stand-in"), 0);
}

// A game that runs its own network game: the player info at wc+0x48 is the
// game's, so the record cannot live in our page; the section carries it, and
// the new core takes the same netobjs back instead of spawning the bots again.
TEST_F(rv_game, SlotsStayThroughAHotReloadInANetworkGame)
{
    join("remote_mode = rv\n");
    sim::convoy_network_session(true);
    uint64_t info = sim::get<uint64_t>(sim::convoy_state().wc, sim::wc_f::player_info);
    std::vector<uint16_t> bots = { add_bot("bot0"), add_bot("bot1") };
    ASSERT_GE(step_until(fmt("[core] net: spawning an rv for player %u", bots[1]), 8.0), 0) << log_text();
    step(5, 0.05);
    ASSERT_GE(log_find(fmt("[core] rv: wc+0x48 = %p (the game's own)", (void *)(uintptr_t)info)), 0) << log_text();
    ASSERT_EQ(sim::convoy_listed().size(), 2u) << log_text();
    uint8_t *netobjs[2] = { slot_netobj(1), slot_netobj(2) };
    int before = (int)log_lines().size();

    reload_core();
    step_until("(never)", 3.0);
    EXPECT_EQ(sim::convoy_listed().size(), 2u) << "no bot shown twice\n" << log_text();
    EXPECT_EQ(count_since(before, "[core] net: spawning an rv"), 0) << log_text();
    for (int slot = 1; slot <= 2; slot++) {
        EXPECT_EQ(slot_netobj(slot), netobjs[slot - 1]);
        EXPECT_GE(log_find(fmt("[core] rv: restored slot %d from before the reload (net %p, stage 3, player %u)", slot,
                               (void *)netobjs[slot - 1], bots[slot - 1]),
                           before),
                  0)
            << log_text();
    }
    EXPECT_EQ(sim::get<uint64_t>(sim::convoy_state().wc, sim::wc_f::player_info), info) << "the game's, untouched";
    EXPECT_TRUE(sim::unit_problems().empty());
}

// The record is written by the spawn itself (a vehicle spawned by command in
// the old core's last frame, after that frame's rv step) and at shutdown (a
// remote mode set in the last frame): the next core takes both back. In
// single player the player-info page and the section hold it, in a network
// game the section only; its bytes at the offsets of the layout.
TEST_F(rv_game, TheRecordIsSavedByEachSpawnAndAtShutdown)
{
    for (bool network : { false, true }) {
        SCOPED_TRACE(network ? "network game" : "single player");
        SetUp();
        if (network) {
            join();
            sim::convoy_network_session(true);
        } else {
            start();
        }
        command("rvspawn a");
        uint8_t *n0 = slot_netobj(0);
        ASSERT_TRUE(n0) << log_text();
        std::vector<std::vector<uint8_t>> records = { reload_fx::read_block(reload_fx::rv_block) };
        uint8_t *info = (uint8_t *)(uintptr_t)sim::get<uint64_t>(sim::convoy_state().wc, sim::wc_f::player_info);
        if (!network)
            records.push_back(std::vector<uint8_t>(info + 512, info + 512 + 272));
        for (auto &rec : records) {
            ASSERT_EQ(rec.size(), 272u);
            EXPECT_EQ(memcmp(rec.data(), rvsave2_tag, sizeof rvsave2_tag), 0);
            EXPECT_EQ(reload_fx::at<uint64_t>(rec, 8), (uint64_t)(uintptr_t)n0) << "slot 0's netobj";
            EXPECT_EQ(reload_fx::at<uint64_t>(rec, 16), 0u) << "no definition at stage A";
            EXPECT_EQ(reload_fx::at<int32_t>(rec, 24), 1) << "stage A";
            EXPECT_EQ(reload_fx::at<uint64_t>(rec, 8 + 32), 0u) << "slot 1 free";
            EXPECT_EQ(reload_fx::at<uint32_t>(rec, 264), 0u) << "no remote mode by command";
        }
        int before = (int)log_lines().size();
        touch_core();
        step(1, 0.5); // the poll that sees the file changed
        step(1, 0.5); // the reload comes first in this frame
        EXPECT_GE(log_find(fmt("[core] rv: restored slot 0 from before the reload (net %p, stage 1, player 0)",
                               (void *)n0),
                           before),
                  0)
            << log_text();

        command("remote mode rv");
        before = (int)log_lines().size();
        touch_core();
        step(2, 0.5); // the poll that sees the file changed, then the reload
        EXPECT_GE(log_find("[core] remote mode rv (set by command before the reload)", before), 0) << log_text();
        EXPECT_GE(log_find(fmt("[core] rv: restored slot 0 from before the reload (net %p, stage 1, player 0)",
                               (void *)n0),
                           before),
                  0)
            << log_text();
        EXPECT_EQ(reload_fx::at<uint32_t>(reload_fx::read_block(reload_fx::rv_block), 264), 2u) << "rv";
        TearDown();
        server_up = false; // stopped
    }
}

// Our player-info page's record wins over the section's: a core of an older
// build between two of ours wrote the page only, and the section still holds
// what came before it (here a record of no slots, written by hand). The
// truck controller is away while the cores change, so the new core's restore
// waits until the section is written.
TEST_F(rv_game, ThePagesRecordWinsOverTheSections)
{
    start();
    uint8_t *n0 = test_slot_spawned();
    ASSERT_TRUE(n0) << log_text();
    int before = (int)log_lines().size();
    uint64_t ctrl = reload_without_controller();
    std::vector<uint8_t> none(272, 0);
    memcpy(none.data(), rvsave2_tag, sizeof rvsave2_tag);
    ASSERT_TRUE(reload_fx::write_block(reload_fx::rv_block, none));
    sim::game_put<uint64_t>(sim::cv_off::truck_ctrl, ctrl);
    EXPECT_GE(step_until(fmt("[core] rv: restored slot 0 from before the reload (net %p, stage 3, player 0)", (void *)n0),
                         1.0, before),
              0)
        << log_text();
    EXPECT_EQ(slot_netobj(0), n0);
}

// The saved netobj is taken back only while it carries its slot's own id:
// an object the game gave another id (another slot's here) is not ours.
TEST_F(rv_game, ASavedVehicleIsTakenBackOnlyWithItsSlotsId)
{
    struct row {
        const char *name;
        uint32_t id; /* the netobj's id at the reload; 0: left as it is */
        bool restored;
    } rows[] = {
        { "its own id", 0, true },
        { "slot 5's id", (5u + 32752u) | 0x10000u, false },
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        SetUp();
        start();
        uint8_t *n0 = test_slot_spawned();
        ASSERT_TRUE(n0) << log_text();
        int before = (int)log_lines().size();
        reload_core([&] {
            if (r.id)
                sim::put<uint32_t>(n0, sim::no_f::id, r.id);
        });
        step(2, 0.05);
        if (r.restored)
            EXPECT_GE(log_find(fmt("[core] rv: restored slot 0 from before the reload (net %p, stage 3, player 0)",
                                   (void *)n0),
                               before),
                      0)
                << log_text();
        else
            EXPECT_GE(log_find(fmt("[core] rv: saved rv %p (slot 0) is gone; not restoring", (void *)n0), before), 0)
                << log_text();
        EXPECT_EQ(first("rvinfo") == "[core] rv: none", !r.restored) << log_text();
        TearDown();
    }
}

// The record of an older core ("rvsave1", slot 0 only), and a saved vehicle
// the game took out of its list meanwhile. The truck controller is away
// while the cores change, so the new core's restore waits until the test has
// put the record in place.
TEST_F(rv_game, AnOlderRecordAndAVehicleGoneMeanwhile)
{
    start();
    struct row {
        const char *name;
        bool gone;
        const char *line;
    } rows[] = {
        { "rvsave1", false, "[core] rv: restored the rv from before the reload (net %p, stage 3)" },
        { "rvsave1, gone", true, "[core] rv: saved rv %p is gone; not restoring" },
    };
    for (auto &r : rows) {
        SCOPED_TRACE(r.name);
        command("rvdespawn all");
        uint8_t *n0 = test_slot_spawned();
        ASSERT_TRUE(n0) << log_text();
        uint8_t *info = (uint8_t *)(uintptr_t)sim::get<uint64_t>(sim::convoy_state().wc, sim::wc_f::player_info);
        ASSERT_TRUE(info);
        int before = (int)log_lines().size();
        uint64_t ctrl = reload_without_controller();
        EXPECT_LT(log_find("[core] rv: restored", before), 0) << "waits for the controller";

        uint8_t record[272] = {};
        memcpy(record, "rvsave1", 8);
        uint64_t netobj = (uint64_t)(uintptr_t)n0;
        int32_t stage = 3;
        memcpy(record + 8, &netobj, 8);
        memcpy(record + 24, &stage, 4);
        DWORD old;
        ASSERT_TRUE(VirtualProtect(info + 512, sizeof record, PAGE_EXECUTE_READWRITE, &old));
        memcpy(info + 512, record, sizeof record);
        VirtualProtect(info + 512, sizeof record, old, &old);
        if (r.gone) {
            // The game took the vehicle out of its list.
            typedef uint64_t (*slot_fn)(uint64_t, uint64_t);
            void **vt = (void **)(uintptr_t)sim::get<uint64_t>(n0, 0);
            ((slot_fn)vt[5])(netobj, 0xFFFE);
        }
        sim::game_put<uint64_t>(sim::cv_off::truck_ctrl, ctrl);
        ASSERT_GE(step_until(fmt(r.line, (void *)n0), 1.0, before), 0) << log_text();
        EXPECT_EQ(slot_netobj(0) == n0 && !r.gone, !r.gone);
    }
}

} // namespace
