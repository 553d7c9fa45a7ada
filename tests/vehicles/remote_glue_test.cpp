// The local truck's samples through the real plug-in and core in the
// simulated game: the network recording's CSV rows (from telemetry on another
// game build, from the game's truck on the supported one), the states and
// accessory lists the test server receives while we are joined, and the
// test server's bots shown as the spawned vehicle.
#include "runtime/runtime_fixture.h"
#include <math.h>
#include "base/placement.h"
#include "sim/sim_draw.h"
#include "sim/sim_vehicles.h"

using rt::fmt;
using rt::frames_with;

namespace {

const char *const csv_header = "t,pid,flags,x,y,z,qw,qx,qy,qz,vx,vy,vz,steer,speed,rpm,tx,ty,tz,tqw,tqx,tqy,tqz";

/* The trailer's get_placement: the placement and answer a test set. */
placement trailer_placement;
bool trailer_answers = true;

uint64_t trailer_get_placement(uint64_t trailer, uint64_t out, uint64_t, uint64_t)
{
    sim::record("trailer_get_placement", trailer, out);
    memcpy((void *)(uintptr_t)out, &trailer_placement, sizeof trailer_placement);
    return trailer_answers ? 1 : 0;
}

placement at(int16_t sector_x, int16_t sector_z, float x, float y, float z, float qw = 1, float qx = 0,
             float qy = 0, float qz = 0)
{
    placement p;
    p.x = x;
    p.y = y;
    p.z = z;
    p.sector_x = sector_x;
    p.sector_z = sector_z;
    p.qw = qw;
    p.qx = qx;
    p.qy = qy;
    p.qz = qz;
    return p;
}

class remote_glue : public rt::core_test {
protected:
    void SetUp() override
    {
        rt::core_test::SetUp();
        trailer_placement = at(0, 0, 0, 0, 0);
        trailer_answers = true;
    }

    std::string csv_path() { return base + "rec.csv"; }

    void record_on()
    {
        ASSERT_EQ(first("net record rec.csv"),
                  "[core] net: recording the local truck at 10 Hz to " + csv_path() +
                      " (see README.md)");
    }

    /* Stops the recording with frames of dt (at most 2 s of them) and
     * returns the file's lines without line ends. */
    std::vector<std::string> record_off(double dt, uint32_t *rows)
    {
        const std::string stopped = "[core] net: recording stopped (";
        fx::write_file(base + "cmd.txt", "net record off\n");
        for (double t = 0; t < 2.0 && log_find(stopped) < 0; t += dt) {
            sim::frames(1, dt);
            Sleep(2); // the core's file worker takes cmd.txt between frames
        }
        auto lines = log_lines();
        int at = log_find(stopped);
        unsigned n = 0;
        EXPECT_GE(at, 0) << log_text();
        if (at >= 0) {
            EXPECT_EQ(sscanf(lines[at].c_str(), "[core] net: recording stopped (%u rows)", &n), 1) << lines[at];
        }
        *rows = n;
        std::vector<std::string> out;
        std::string text = fx::read_file(csv_path());
        size_t pos = 0;
        while (pos < text.size()) {
            size_t end = text.find('\n', pos);
            if (end == std::string::npos)
                end = text.size();
            std::string l = text.substr(pos, end - pos);
            if (!l.empty() && l.back() == '\r')
                l.pop_back();
            out.push_back(l);
            pos = end + 1;
        }
        return out;
    }

    static double row_time(const std::string &row) { return atof(row.c_str()); }
    static std::string after_time(const std::string &row) { return row.substr(row.find(',') + 1); }

    /* A trailer actor of the game's class, with the trailer's get_placement. */
    uint8_t *trailer_actor()
    {
        void **vt = sim::vtable_at(sim::off::trailer_actor_vtable, 40);
        sim::vtable_set(vt, 29, (void *)trailer_get_placement);
        sim::vslot_result(5, (uint64_t)(uintptr_t)sim::game_at(sim::off::trailer_actor_class));
        return sim::object_new(4792, vt);
    }

    void couple(uint8_t *trailer, const void *truck)
    {
        sim::put<uint64_t>(trailer, 0x1058, (uint64_t)(uintptr_t)truck);
        sim::put<uint64_t>(player.block, 0xC8, (uint64_t)(uintptr_t)trailer);
    }
};

TEST_F(remote_glue, RecordingFromTelemetryOnAnotherBuild)
{
    sim::set_build_hash("000000000000");
    start();
    // Heading a quarter turn, pitch a half, roll a quarter: qh * qp * qr.
    sim::channel_placement(1000.5, 20.25, -30.125, 0.25f, 0.5f, 0.25f);
    sim::channel_speed(12.5f);
    uint8_t *trailer = trailer_actor(); // the game's objects are not read on this build
    couple(trailer, player.truck);
    sim::put<float>(player.truck, 0x690, 0.5f);
    record_on();
    sim::frames(50, 0.02);
    sim::event_paused();
    sim::frames(20, 0.02);
    sim::event_started();
    sim::frames(20, 0.02);
    uint32_t rows = 0;
    auto lines = record_off(0.02, &rows);

    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], csv_header);
    EXPECT_EQ(lines.size(), rows + 1u);
    EXPECT_GE(rows, 15u);
    const std::string pose = "1000.5000,20.2500,-30.1250,0.500000,0.500000,-0.500000,-0.500000,0.0000,0.0000,0.0000,"
                             "0.0000,12.5000,0.0,,,,,,,";
    int paused = 0;
    for (size_t i = 1; i < lines.size(); i++) {
        SCOPED_TRACE(lines[i]);
        std::string rest = after_time(lines[i]);
        bool is_paused = rest == "0,5," + pose;
        paused += is_paused;
        EXPECT_TRUE(is_paused || rest == "0,4," + pose);
        if (i > 1) {
            // The first frame at or after 0.1 s since the last row (frames of 0.02 s).
            double dt = row_time(lines[i]) - row_time(lines[i - 1]);
            EXPECT_GE(dt, 0.0995);
            EXPECT_LE(dt, 0.1205);
        }
    }
    EXPECT_GE(paused, 3);
    EXPECT_LE(paused, 5);
    EXPECT_EQ(after_time(lines.back()).substr(0, 4), "0,4,");
    EXPECT_TRUE(sim::calls_named("get_placement").empty());
    EXPECT_TRUE(sim::calls_named("trailer_get_placement").empty());
}

TEST_F(remote_glue, RecordingFromTheGameTruck)
{
    start();
    sim::channel_speed(22.5f);
    sim::put<float>(player.truck, 0x690, -0.375f);
    record_on();
    // Frames of 0.125 s: one sample each. World = sector * 512 + local.
    struct {
        double dt;
        placement where;
        bool answers;
        const char *position; /* x,y,z; null: no row */
        const char *velocity;
    } steps[] = {
        { 0.125, at(2, -1, 246, 12.5f, 209.5f), true, "1270.0000,12.5000,-302.5000", "0.0000,0.0000,0.0000" },
        { 0.125, at(2, -1, 247.25f, 12.5625f, 207), true, "1271.2500,12.5625,-305.0000", "10.0000,0.5000,-20.0000" },
        // Into the next sector at 99 m/s.
        { 0.125, at(3, -1, -252.375f, 12.5625f, 207), true, "1283.6250,12.5625,-305.0000", "99.0000,0.0000,0.0000" },
        // 101 m/s on one axis is a jump: no velocity.
        { 0.125, at(3, -1, -252.375f, 12.5625f, 194.375f), true, "1283.6250,12.5625,-317.6250",
          "0.0000,0.0000,0.0000" },
        // The truck does not answer its placement: no row, and no sample kept.
        { 0.125, at(3, -1, 0, 0, 0), false, nullptr, nullptr },
        // 0.25 s since the last sample.
        { 0.125, at(3, -1, -249.875f, 12.5625f, 194.375f), true, "1286.1250,12.5625,-317.6250",
          "10.0000,0.0000,0.0000" },
        // 1.5 s since the last sample: too long for a velocity, but this sample is kept.
        { 1.5, at(3, -1, -248.375f, 12.5625f, 194.375f), true, "1287.6250,12.5625,-317.6250", "0.0000,0.0000,0.0000" },
        { 0.125, at(3, -1, -247.125f, 12.5f, 194.375f), true, "1288.8750,12.5000,-317.6250", "10.0000,-0.5000,0.0000" },
    };
    std::vector<std::string> expect;
    std::vector<double> times;
    double since_row = 0;
    for (auto &s : steps) {
        placement p = s.where;
        p.qw = 0.5f, p.qx = -0.5f, p.qy = 0.5f, p.qz = 0.5f;
        sim::player_set_placement(&p, s.answers);
        sim::frames(1, s.dt);
        since_row += s.dt;
        if (!s.position)
            continue;
        expect.push_back(std::string("0,4,") + s.position + ",0.500000,-0.500000,0.500000,0.500000," + s.velocity +
                         ",-0.3750,22.5000,0.0,,,,,,,");
        times.push_back(since_row);
        since_row = 0;
    }
    // Without an answer from the truck the frames that stop the recording add no row.
    sim::player_set_placement(&steps[0].where, false);
    uint32_t rows = 0;
    auto lines = record_off(0.125, &rows);
    ASSERT_EQ(lines.size(), expect.size() + 1) << log_text();
    EXPECT_EQ(rows, expect.size());
    EXPECT_EQ(lines[0], csv_header);
    for (size_t i = 0; i < expect.size(); i++) {
        EXPECT_EQ(after_time(lines[i + 1]), expect[i]) << "row " << i + 1;
        if (i > 0) {
            EXPECT_NEAR(row_time(lines[i + 1]) - row_time(lines[i]), times[i], 0.0015) << "row " << i + 1;
        }
    }
    // Asked once a sample, the truck itself.
    auto asked = sim::calls_named("get_placement");
    ASSERT_GT(asked.size(), sizeof steps / sizeof steps[0]);
    for (auto &a : asked)
        EXPECT_EQ(a.args[0], (uint64_t)(uintptr_t)player.truck);
}

TEST_F(remote_glue, TrailerCountsWhenATrailerActorCoupledToTheTruckAnswers)
{
    start();
    sim::put<float>(player.truck, 0x690, 0.25f);
    placement truck = at(0, 0, 10, 2, 20);
    sim::player_set_placement(&truck);
    uint8_t *actor = trailer_actor();
    uint8_t *other_truck = sim::object_new(sim::truck_size, player.truck_vtable);
    uint8_t *foreign = sim::object_new(4792, sim::vtable_new(40));
    sim::vtable_set(*(void ***)foreign, 29, (void *)trailer_get_placement);
    trailer_placement = at(-1, 2, 300, 3.5f, -100, 0.707107f, 0, -0.707107f, 0);
    const std::string hitched = "0,6,10.0000,2.0000,20.0000,1.000000,0.000000,0.000000,0.000000,0.0000,0.0000,0.0000,"
                                "0.2500,0.0000,0.0,-212.0000,3.5000,924.0000,0.707107,0.000000,-0.707107,0.000000";
    const std::string alone = "0,4,10.0000,2.0000,20.0000,1.000000,0.000000,0.000000,0.000000,0.0000,0.0000,0.0000,"
                              "0.2500,0.0000,0.0,,,,,,,";
    struct {
        const char *name;
        uint8_t *trailer;
        const void *coupled_to;
        bool answers;
        const std::string &row;
    } cases[] = {
        { "coupled trailer actor", actor, player.truck, true, hitched },
        { "coupled to another truck", actor, other_truck, true, alone },
        { "not a trailer actor", foreign, player.truck, true, alone },
        { "no placement", actor, player.truck, false, alone },
        { "no trailer", nullptr, nullptr, true, alone },
    };
    record_on();
    for (auto &c : cases) {
        if (c.trailer)
            couple(c.trailer, c.coupled_to);
        else
            sim::put<uint64_t>(player.block, 0xC8, 0);
        trailer_answers = c.answers;
        sim::frames(1, 0.125);
    }
    sim::player_set_placement(&truck, false);
    uint32_t rows = 0;
    auto lines = record_off(0.125, &rows);
    ASSERT_EQ(lines.size(), 1 + sizeof cases / sizeof cases[0]);
    EXPECT_EQ(rows, sizeof cases / sizeof cases[0]);
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++)
        EXPECT_EQ(after_time(lines[i + 1]), cases[i].row) << cases[i].name;
}

template <typename T> T payload_at(const ts_client *c, int offset)
{
    T v;
    memcpy(&v, c->last_state + offset, sizeof v);
    return v;
}

TEST_F(remote_glue, StatesReachTheServerOnlyWhileJoined)
{
    ts_server server;
    ASSERT_TRUE(ts_start(&server, 0));
    server.silent = true; // hellos go unanswered: joining, never joined
    write_config(fmt("server = 127.0.0.1\nport = %u\nname = tester\n", server.port));
    sim::put<float>(player.truck, 0x690, 0.75f);
    sim::put<uint32_t>(player.truck, 0x2A0, 0xA05); // 0x200 is never sent
    placement truck = at(1, -2, 100, 4, -50, 0.5f, 0.5f, 0.5f, 0.5f);
    sim::player_set_placement(&truck);
    start();
    sim::channel_placement(5.0, 6.0, 7.0, 0, 0, 0);
    sim::channel_speed(8.5f);
    frames_with(&server, 40, 0.05);
    EXPECT_GT(server.by_type[1], 0u) << log_text(); // hellos
    EXPECT_EQ(server.by_type[16], 0u);

    server.silent = false;
    ts_client *c = nullptr;
    for (int i = 0; i < 200 && !(c && c->states_in > 0); i++) {
        frames_with(&server, 1, 0.05);
        c = ts_find_name(&server, "tester");
    }
    ASSERT_TRUE(c && c->states_in > 0) << log_text();

    // About ten a second: the first frame at or after 0.1 s each (frames of 0.02 s).
    uint64_t before = c->states_in;
    frames_with(&server, 100, 0.02);
    EXPECT_GE(c->states_in - before, 16u);
    EXPECT_LE(c->states_in - before, 21u);

    // The game truck's pose with the lights block, and the horns as the sound objects say.
    uint8_t *horn[2] = { sim::object_new(0x100), sim::object_new(0x100) };
    struct {
        bool present[2];
        uint32_t state[2];
        uint8_t horns;
    } horn_cases[] = {
        { { false, false }, { 0, 0 }, 0 },
        { { true, true }, { 2, 0 }, 1 },
        { { true, true }, { 1, 2 }, 2 },
        { { true, true }, { 2, 2 }, 3 },
        { { false, true }, { 2, 3 }, 0 },
    };
    for (auto &h : horn_cases) {
        SCOPED_TRACE(fmt("horns %u", h.horns));
        for (int i = 0; i < 2; i++) {
            sim::put<uint32_t>(horn[i], 0xF8, h.state[i]);
            sim::put<uint64_t>(player.block, i ? 0x1E740 : 0x1E730, h.present[i] ? (uint64_t)(uintptr_t)horn[i] : 0);
        }
        frames_with(&server, 15, 0.02);
        ASSERT_EQ(c->last_state_len, 78);
        EXPECT_EQ(c->last_state[4], 4 | 8);
        EXPECT_EQ(payload_at<double>(c, 5), 612.0);
        EXPECT_EQ(payload_at<double>(c, 13), 4.0);
        EXPECT_EQ(payload_at<double>(c, 21), -1074.0);
        EXPECT_EQ(payload_at<float>(c, 29), 0.5f);
        EXPECT_EQ(payload_at<float>(c, 41), 0.5f);
        EXPECT_EQ(payload_at<float>(c, 45), 0.0f); // standing still
        EXPECT_EQ(payload_at<float>(c, 57), 0.75f);
        EXPECT_EQ(payload_at<float>(c, 61), 8.5f);
        EXPECT_EQ(payload_at<float>(c, 65), 0.0f);
        EXPECT_EQ(payload_at<uint32_t>(c, 73), 0x805u);
        EXPECT_EQ(c->last_state[77], h.horns);
    }

    // With a coupled trailer the trailer block comes before the lights block.
    trailer_placement = at(1, -2, 90, 4, -40, 1, 0, 0, 0);
    couple(trailer_actor(), player.truck);
    frames_with(&server, 15, 0.02);
    ASSERT_EQ(c->last_state_len, 118);
    EXPECT_EQ(c->last_state[4], 2 | 4 | 8);
    EXPECT_EQ(payload_at<double>(c, 73), 602.0);
    EXPECT_EQ(payload_at<double>(c, 89), -1064.0);
    EXPECT_EQ(payload_at<float>(c, 97), 1.0f);
    EXPECT_EQ(payload_at<uint32_t>(c, 113), 0x805u);

    // On another game build the pose comes from telemetry, without lights.
    ts_stop(&server);
    restart();
    ASSERT_TRUE(ts_start(&server, 0));
    write_config(fmt("server = 127.0.0.1\nport = %u\nname = tester\n", server.port));
    sim::set_build_hash("000000000000");
    start();
    sim::channel_placement(5.0, 6.0, 7.0, 0, 0, 0);
    sim::channel_speed(8.5f);
    c = nullptr;
    for (int i = 0; i < 200 && !(c && c->states_in > 1); i++) {
        frames_with(&server, 1, 0.05);
        c = ts_find_name(&server, "tester");
    }
    ASSERT_TRUE(c && c->states_in > 1) << log_text();
    ASSERT_EQ(c->last_state_len, 73);
    EXPECT_EQ(c->last_state[4], 4);
    EXPECT_EQ(payload_at<double>(c, 5), 5.0);
    EXPECT_EQ(payload_at<double>(c, 13), 6.0);
    EXPECT_EQ(payload_at<double>(c, 21), 7.0);
    EXPECT_EQ(payload_at<float>(c, 29), 1.0f);
    EXPECT_EQ(payload_at<float>(c, 57), 0.0f); // no steering from telemetry
    EXPECT_EQ(payload_at<float>(c, 61), 8.5f);
    ts_stop(&server);
}

/* ---- other players shown as the spawned vehicle ---- */

class remote_clone : public remote_glue {
protected:
    ts_server server {};
    double next_state = 0, next_lists = 0;

    void SetUp() override
    {
        remote_glue::SetUp();
        sim::draw_install();
        sim::vehicle_world_install();
        rt::bot_truck_data();
        rt::player_truck(player);
        ASSERT_TRUE(ts_start(&server, 0));
        write_config(fmt("server = 127.0.0.1\nport = %u\nname = tester\n", server.port));
    }
    void TearDown() override
    {
        ts_stop(&server);
        sim::draw_uninstall();
        remote_glue::TearDown();
    }

    /* Frames of dt with the server and its bots, until the log has the line
     * (a prefix) or the time runs out; its index or -1. */
    int frames_until(const std::string &prefix, double seconds, double dt = 0.05)
    {
        for (double t = 0; t < seconds; t += dt) {
            int at = log_find(prefix);
            if (at >= 0)
                return at;
            ts_poll(&server, sim::clock_now());
            ts_bots_tick(&server, sim::clock_now(), &next_state, &next_lists);
            sim::frames(1, dt);
        }
        return log_find(prefix);
    }

    /* A bot whose states and lists go out from the next frame on. */
    uint16_t add_bot(const char *name)
    {
        next_state = next_lists = 0;
        return ts_add_bot(&server, name, sim::clock_now());
    }

    void join()
    {
        start();
        ASSERT_GE(frames_until("[net] joined as player", 10), 0) << log_text();
    }

    /* The spawned vehicle, from its spawn line. */
    uint8_t *spawned_vehicle()
    {
        int at = log_find("[core] spawn: veh=");
        void *v = nullptr;
        if (at >= 0)
            sscanf(log_lines()[at].c_str(), "[core] spawn: veh=%p", &v);
        return (uint8_t *)v;
    }
};

TEST_F(remote_clone, ABotAppearsAsTheSpawnedVehicleFollowsItAndLeavesWithIt)
{
    join();
    uint16_t bot = add_bot("bot\x1b[31m");
    // Its list arrives with its first states: a vehicle built from it, the
    // name's escape byte logged as '?'.
    ASSERT_GE(frames_until(fmt("[core] net: spawning a vehicle for player %u 'bot?[31m' (their accessories)", bot), 10),
              0) << log_text();
    EXPECT_GE(log_find("[core] spawn: building the definition from 2 accessory entries"), 0) << log_text();
    EXPECT_LT(log_find("[core] spawn: build failed"), 0) << log_text();
    ASSERT_GE(frames_until("[core] finalize: game_ctrl_add_vehicle", 5), 0) << log_text();
    uint8_t *vehicle = spawned_vehicle();
    ASSERT_TRUE(vehicle);
    EXPECT_TRUE(sim::vehicle_listed(vehicle));
    EXPECT_GE(log_find("[core] draw hook installed at "), 0) << "the draw detour goes in with the first remote vehicle\n"
                                               << log_text();

    // It follows the bot's circle of 40 m around (1000 + 100 id, -2000).
    frames_until("(never)", 2.0);
    auto placed = sim::vehicle_placements(vehicle);
    ASSERT_GE(placed.size(), 20u);
    for (size_t i = placed.size() - 10; i < placed.size(); i++) {
        const auto &p = placed[i];
        double x = p.sector_x * 512.0 + p.x - (1000 + 100 * bot), z = p.sector_z * 512.0 + p.z + 2000;
        EXPECT_NEAR(sqrt(x * x + z * z), 40.0, 2.0) << i;
        EXPECT_NEAR(p.y, 50.0, 0.5);
    }
    EXPECT_GT(fabs(placed.back().x - placed[placed.size() - 10].x) + fabs(placed.back().z - placed[placed.size() - 10].z),
              1.0f) << "it moves";
    auto status = command("net status");
    ASSERT_GE(status.size(), 1u);
    EXPECT_EQ(status.back(), fmt("[core] net: slot -> player %u, vehicle %p state 2 mode 3, trailers off, recording no",
                                 bot, (void *)vehicle));

    // The bot leaves: the vehicle goes with it and nothing else is bound.
    ts_drop(&server, bot, 0, nullptr);
    ASSERT_GE(frames_until(fmt("[core] net: remote %u gone (left the server)", bot), 5), 0) << log_text();
    ASSERT_GE(frames_until("[core] despawned", 1), 0) << log_text();
    EXPECT_FALSE(sim::vehicle_listed(vehicle));
    EXPECT_LT(log_find("[core] net: vehicle "), 0) << "built from their list: despawned, not parked\n" << log_text();
    frames_until("(never)", 1.0);
    EXPECT_LT(log_find("[core] net: spawning a vehicle for player", log_find("[core] despawned")), 0) << log_text();
    status = command("net status");
    EXPECT_EQ(status.back().rfind("[core] net: slot -> player 0, vehicle 0000000000000000 state 0 ", 0), 0u)
        << status.back();
}

TEST_F(remote_clone, OnlyTheFirstBotIsShownAndTheSecondTakesOverWhenItLeaves)
{
    join();
    uint16_t first_bot = add_bot("first");
    uint16_t second_bot = add_bot("second");
    ASSERT_GE(frames_until("[core] finalize: game_ctrl_add_vehicle", 10), 0) << log_text();
    EXPECT_GE(log_find(fmt("[core] net: spawning a vehicle for player %u 'first'", first_bot)), 0) << log_text();
    frames_until("(never)", 1.0);
    EXPECT_LT(log_find(fmt("[core] net: spawning a vehicle for player %u", second_bot)), 0) << log_text();
    ts_drop(&server, first_bot, 0, nullptr);
    ASSERT_GE(frames_until(fmt("[core] net: spawning a vehicle for player %u 'second' (their accessories)", second_bot),
                           15), 0) << log_text();
}

TEST_F(remote_clone, WithoutAListACloneParkedHiddenAndReusedForTheNextBot)
{
    join();
    next_lists = 1e9; // the bots never send their lists
    double added = sim::clock_now();
    uint16_t silent = ts_add_bot(&server, "silent", added);
    next_state = 0;
    int waited = frames_until(fmt("[core] net: no accessory list from player %u after 3 s; using a clone of our truck",
                                  silent), 10);
    ASSERT_GE(waited, 0) << log_text();
    EXPECT_GE(sim::clock_now() - added, 3.0);
    EXPECT_LT(sim::clock_now() - added, 4.5);
    EXPECT_EQ(log_lines()[waited + 1], fmt("[core] net: spawning a vehicle for player %u 'silent' (clone of ours)", silent));
    ASSERT_GE(frames_until("[core] spawn complete", 2), 0) << log_text();
    uint8_t *vehicle = spawned_vehicle();
    frames_until("(never)", 1.0);
    ASSERT_FALSE(sim::vehicle_placements(vehicle).empty());
    float followed_y = sim::vehicle_placements(vehicle).back().y;
    EXPECT_NEAR(followed_y, 50.0f, 0.5f);

    // A clone of ours is not despawned when its player leaves: it waits,
    // 200 m down and not drawn, for the next player.
    ts_drop(&server, silent, 0, nullptr);
    int parked = frames_until(fmt("[core] net: vehicle %p hidden and parked (shared definition, despawn refused); "
                                  "reused for the next remote player", (void *)vehicle), 3);
    ASSERT_GE(parked, 0) << log_text();
    EXPECT_EQ(log_lines()[parked - 1], fmt("[core] net: remote %u gone (left the server)", silent));
    frames_until("(never)", 0.5);
    EXPECT_NEAR(sim::vehicle_placements(vehicle).back().y, followed_y - 200.0f, 0.5f);
    auto status = command("net status");
    EXPECT_EQ(status.back(), fmt("[core] net: slot -> player 0, vehicle %p state 2 mode 0 HIDDEN, trailers off, "
                                 "recording no", (void *)vehicle));

    uint16_t next = add_bot("next");
    ASSERT_GE(frames_until(fmt("[core] net: player %u 'next' takes over the existing vehicle %p (was hidden)", next,
                               (void *)vehicle), 3), 0) << log_text();
    frames_until("(never)", 1.0);
    status = command("net status");
    EXPECT_EQ(status.back(), fmt("[core] net: slot -> player %u, vehicle %p state 2 mode 3, trailers off, "
                                 "recording no", next, (void *)vehicle));
    EXPECT_NEAR(sim::vehicle_placements(vehicle).back().y, 50.0f, 0.5f);
    EXPECT_EQ(log_count("[core] net: spawning a vehicle"), 1) << log_text();
}

TEST_F(remote_clone, OurTruckListReachesTheServer)
{
    join();
    ts_client *us = ts_find_name(&server, "tester");
    ASSERT_TRUE(us);
    // The truck's list (one entry) and the trailer's (empty), each in one part.
    for (int i = 0; i < 40 && us->acc_parts_in < 2; i++)
        frames_with(&server, 1, 0.05);
    ASSERT_GE(us->acc_parts_in, 2u) << log_text();
    // Golden bytes of the part: list hash, list 0, part 0 of 1, 1 entry, then
    // the entry with its length byte.
    const std::string entry = "/def/truck/chassis.sii";
    uint32_t hash = 0x811C9DC5u;
    for (size_t i = 0; i <= entry.size(); i++)
        hash = (hash ^ (uint8_t)entry.c_str()[i]) * 0x01000193u;
    std::string want((const char *)&hash, 4);
    want += std::string("\0\0\1\1", 4) + (char)entry.size() + entry;
    EXPECT_EQ(std::string((const char *)us->last_acc_part[0], (size_t)us->last_acc_part_len[0]), want);
    EXPECT_EQ(us->last_acc_part_len[1], 8) << "the trailer's list is empty";

    // A trailer coupled to our truck has its list published; one coupled to
    // another truck, or any trailer without our truck, publishes it empty.
    uint8_t *trailer_def = sim::def_new(sim::def_kind::trailer, "TR 1");
    sim::def_push(trailer_def, sim::accessory_new(sim::accessory_kind::part, "/def/trailer/box.sii"));
    uint8_t *actor = sim::player_trailer_new(player, trailer_def);
    struct {
        const char *name;
        const void *coupled_to;
        bool truck;
        const char *line; /* the n-th time it is logged */
        int nth;
    } cases[] = {
        { "coupled", player.truck, true, "[net] local trailer accessories: 1 paths", 1 },
        { "coupled to another truck", actor, true, "[net] local trailer accessories: 0 paths", 2 },
        { "coupled again", player.truck, true, "[net] local trailer accessories: 1 paths", 2 },
        { "no truck", player.truck, false, "[net] local trailer accessories: 0 paths", 3 },
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        sim::put<uint64_t>(actor, 0x1058, (uint64_t)(uintptr_t)c.coupled_to);
        sim::put<uint64_t>(player.block, 0x18, c.truck ? (uint64_t)(uintptr_t)player.truck : 0);
        for (int i = 0; i < 60 && log_count(c.line) < c.nth; i++)
            frames_with(&server, 1, 0.05);
        EXPECT_EQ(log_count(c.line), c.nth) << log_text();
        // A changed list goes out at once.
        frames_with(&server, 2, 0.05);
        std::string part((const char *)us->last_acc_part[1], (size_t)us->last_acc_part_len[1]);
        EXPECT_EQ(part.find("/def/trailer/box.sii") != std::string::npos, c.line[33] == '1');
    }
    // Published once a second, sent only when a list changed.
    frames_with(&server, 40, 0.05);
    EXPECT_EQ(log_count("[net] local truck accessories: "), 1) << log_text();
}

TEST_F(remote_clone, RemoteCommandRows)
{
    start();
    struct {
        const char *line;
        const char *answer;
    } cases[] = {
        { "remote", "[core] remote mode clone, rv velocity on" },
        { "remote mode rv", "[core] remote mode rv (native convoy remote_vehicle_u per player, no trailers yet) "
                            "(applies on the next frame; kept across core reloads until `config reload`)" },
        { "rvvel off", "[core] rv: velocity off" },
        { "remote", "[core] remote mode rv, rv velocity off" },
        { "remote mode clone",
          "[core] remote mode clone (applies on the next frame; kept across core reloads until `config reload`)" },
        { "remote mode", "[core] usage: remote [mode clone|rv]" },
        { "remote bogus", "[core] usage: remote [mode clone|rv]" },
    };
    for (auto &c : cases)
        EXPECT_EQ(command(c.line), std::vector<std::string>{ c.answer }) << c.line;
}

} // namespace
