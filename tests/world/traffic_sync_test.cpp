// Traffic sync through the real plug-in and core in the simulated game,
// joined to the test server on 127.0.0.1: the traffic owner sends the AI cars
// near a remote player (a bot on the server) as definitions, states and
// removals; cars another player sends are kept, aged out and listed; and
// g_traffic is locked or left to the player as config.ini, the command and
// the server decide.
#include "runtime/runtime_fixture.h"
#include "sim/sim_traffic.h"
#include "net/net_wire.h"
#include <math.h>

using rt::as_pointer;
using rt::fmt;

namespace {

/* The bot with id 2 circles 40 m around this point (tests/server). */
const double bot_x = 1200, bot_y = 50, bot_z = -2000;

sim::traffic_car_desc car_at(double x, double z, std::vector<std::string> paths = { "/def/vehicle/ai/van/data.sii" })
{
    sim::traffic_car_desc s;
    s.pos[0] = x;
    s.pos[1] = bot_y;
    s.pos[2] = z;
    s.paths = paths;
    return s;
}

class traffic_sync : public rt::server_test {
protected:
    uint16_t us = 0, bot = 0;
    double next_state = 0, next_lists = 0;
    bool cars_move = true; /* false: the game's traffic stands still (it touches no car) */

    void SetUp() override
    {
        rt::server_test::SetUp();
        sim::traffic_create("0.75");
    }

    /* Frames of dt: before each the server and its bots answer and the AI
     * cars move on. */
    void server_frames(int n, double dt) override
    {
        for (int i = 0; i < n; i++) {
            if (server_up) {
                ts_bots_tick(&server, sim::clock_now(), &next_state, &next_lists);
                ts_poll(&server, sim::clock_now());
            }
            if (cars_move)
                sim::traffic_frames(1, dt);
            else
                sim::frames(1, dt);
        }
        if (server_up)
            ts_poll(&server, sim::clock_now());
    }
    void run_for(double seconds, double dt = 0.1) { server_frames((int)(seconds / dt + 0.5), dt); }

    /* The server up, the game started with the config lines, joined, and a
     * bot on the server (no traffic owner yet). */
    void join(const std::string &config = "traffic = local\n")
    {
        rt::server_test::join(config);
        if (HasFatalFailure())
            return;
        us = ts_find_name(&server, "tester")->id;
        bot = ts_add_bot(&server, "bot", sim::clock_now());
        ASSERT_EQ(bot, 2) << "the cars are placed around bot 2's circle";
        run_for(0.5);
    }

    /* For the next row of a table: the plug-in loaded afresh, the server
     * down, and a new game with a player and its traffic. */
    void fresh_game()
    {
        restart();
        ts_stop(&server);
        server_up = false;
        sim::game_reset();
        sim::set_build_hash();
        player = sim::game_player_create();
        sim::traffic_create("0.75");
    }

    /* The cars the server holds from us. */
    std::vector<ts_traffic_car> our_cars()
    {
        std::vector<ts_traffic_car> out;
        for (int i = 0; i < server.traffic.car_count; i++)
            if (server.traffic.cars[i].sender == us)
                out.push_back(server.traffic.cars[i]);
        return out;
    }

    /* One traffic datagram to us, as the bot sent it. */
    void send_def(uint32_t id, uint8_t type, std::vector<std::string> paths)
    {
        static traffic_car_definition def;
        memset(&def, 0, sizeof def);
        def.net_id = id;
        def.car_type = type;
        def.path_count = (uint32_t)paths.size();
        for (size_t i = 0; i < paths.size(); i++)
            snprintf(def.paths[i], sizeof def.paths[i], "%s", paths[i].c_str());
        uint8_t p[NET_TRAFFIC_DEFS_MAX];
        ts_traffic_send_as(&server, bot, NET_TRAFFIC_DEFS, p, net_build_traffic_defs(p, sizeof p, &def));
    }
    void send_states(const std::vector<traffic_car_state> &cars)
    {
        uint8_t p[5 + 30 * NET_TRAFFIC_CARS_PER_DATAGRAM];
        ts_traffic_send_as(&server, bot, NET_TRAFFIC_CARS, p,
                           net_build_traffic_cars(p, sizeof p, 1234, cars.data(), (int)cars.size()));
    }
    void send_ids(const std::vector<uint32_t> &ids, bool complete)
    {
        uint8_t p[3 + 4 * NET_TRAFFIC_IDS_PER_DATAGRAM];
        ts_traffic_send_as(&server, bot, NET_TRAFFIC_IDS, p,
                           net_build_traffic_ids(p, sizeof p, ids.data(), (int)ids.size(), complete ? 1 : 0));
    }
};

/* ---- the owner ---- */

TEST_F(traffic_sync, OwnerSendsCarsNearARemotePlayerKeepsThemTo1100MetresAndRemovesThem)
{
    sim::traffic_car_desc a = car_at(bot_x + 100, bot_z, { "/def/vehicle/ai/van/data.sii", "/def/vehicle/ai/van/paint.sii" });
    a.vel[0] = 10;
    a.type = 3;
    a.lights = 0x5;
    uint8_t *car_a = sim::traffic_add_car(a);
    sim::traffic_add_car(car_at(bot_x, bot_z + 1150));                  // 1110..1190 m: never sent
    sim::traffic_car_desc excluded = car_at(bot_x + 50, bot_z + 50);
    excluded.excluded = true;
    sim::traffic_add_car(excluded);                                     // never sent
    uint8_t *bare = sim::traffic_add_car(car_at(bot_x - 50, bot_z - 50, {})); // no definition
    join();
    ts_traffic_set_owner(&server, us, 0);
    run_for(1.0);
    EXPECT_GE(log_find("[traffic] we are the traffic owner"), 0) << log_text();
    EXPECT_EQ(server.traffic.defs_in + server.traffic.cars_in + server.traffic.ids_in, 0u) << "sending is off at start";

    size_t mark = log_lines().size();
    EXPECT_EQ(first("traffic net on"), "[traffic] sending on");
    run_for(2.0);
    EXPECT_EQ(server.traffic.complete_lists, 1u);
    auto cars = our_cars();
    ASSERT_EQ(cars.size(), 1u) << log_text();
    const ts_traffic_car &c = cars[0];
    EXPECT_EQ(c.net_id, 1u);
    EXPECT_EQ(c.car_type, 3);
    EXPECT_EQ(c.path_count, 2u);
    EXPECT_STREQ(c.first_path, "/def/vehicle/ai/van/data.sii");
    ASSERT_TRUE(c.has_state);
    EXPECT_GE(c.states, 15u);
    EXPECT_NEAR(c.speed, 10.0, 0.2);
    EXPECT_EQ(c.lights, 0x5u);
    EXPECT_NEAR(c.rot[0], 1.0, 1e-4);
    double ax = sim::get<int16_t>(car_a, 0x34) * 512.0 + sim::get<float>(car_a, 0x28);
    EXPECT_NEAR(c.pos[0], ax, 1.5); // at most a frame behind
    EXPECT_NEAR(c.pos[1], bot_y, 0.01);
    EXPECT_NEAR(c.pos[2], bot_z, 0.01);
    EXPECT_GE(lines_since(mark, "[traffic] owner: sending 1 cars (1 new, 0 removed) to 1 player(s)").size(), 1u)
        << log_text();
    EXPECT_GE(lines_since(mark, fmt("[traffic] car %p (id 1003): no definition paths; not sent", as_pointer(bare)))
                  .size(), 1u);

    // 1010..1090 m from the bot: a sent car stays sent.
    sim::traffic_set_velocity(car_a, std::vector<float>{ 0, 0, 0 }.data());
    double keep[3] = { bot_x + 1050, bot_y, bot_z };
    sim::traffic_move_car(car_a, keep);
    uint64_t states = c.states;
    run_for(1.0);
    ASSERT_EQ(our_cars().size(), 1u);
    EXPECT_GT(our_cars()[0].states, states + 5);
    EXPECT_EQ(server.traffic.ids_removed, 0u);
    // 1110..1190 m: removed.
    mark = log_lines().size();
    double gone[3] = { bot_x + 1150, bot_y, bot_z };
    sim::traffic_move_car(car_a, gone);
    run_for(0.5);
    EXPECT_EQ(our_cars().size(), 0u);
    EXPECT_EQ(server.traffic.ids_removed, 1u);
    EXPECT_EQ(lines_since(mark, "[traffic] owner: sending 0 cars (0 new, 1 removed) to 1 player(s)").size(), 1u)
        << log_text();
    // Back within 1000 m: sent again under a new id (the bare car took ids on every pass).
    double back[3] = { bot_x + 900, bot_y, bot_z };
    sim::traffic_move_car(car_a, back);
    run_for(0.5);
    ASSERT_EQ(our_cars().size(), 1u);
    EXPECT_GT(our_cars()[0].net_id, 2u);

    // "net off" with cars sent: one complete empty list; "net on": another before the next states.
    EXPECT_EQ(first("traffic net off"), "[traffic] sending off");
    EXPECT_EQ(server.traffic.complete_lists, 1u);
    run_for(0.3);
    EXPECT_EQ(server.traffic.complete_lists, 2u);
    EXPECT_EQ(our_cars().size(), 0u);
    uint64_t cars_in = server.traffic.cars_in;
    run_for(0.5);
    EXPECT_EQ(server.traffic.cars_in, cars_in) << "no states while sending is off";
    command("traffic net on");
    run_for(0.5);
    EXPECT_EQ(server.traffic.complete_lists, 3u);
    EXPECT_EQ(our_cars().size(), 1u);

    // Ownership passes to the bot: our sent table is forgotten.
    ts_traffic_set_owner(&server, bot, 0);
    run_for(0.3);
    EXPECT_GE(log_find("[traffic] no longer the traffic owner; forgetting 1 sent cars"), 0) << log_text();
    cars_in = server.traffic.cars_in;
    run_for(0.5);
    EXPECT_EQ(server.traffic.cars_in, cars_in);
}

TEST_F(traffic_sync, OwnerSendsAtMost128CarsAndStopsWithoutAManager)
{
    std::vector<uint8_t *> old;
    for (int i = 0; i < 130; i++)
        old.push_back(sim::traffic_add_car(car_at(bot_x + 60 + i, bot_z + 10)));
    join();
    ts_traffic_set_owner(&server, us, 0);
    command("traffic net on");
    run_for(1.0);
    EXPECT_EQ(our_cars().size(), 128u);
    EXPECT_GE(log_find("[traffic] owner: sending 128 cars (128 new, 0 removed) to 1 player(s)"), 0) << log_text();

    // Every car replaced at once: the full table skips the new cars for one
    // pass while the old ones are removed, then sends them.
    for (uint8_t *car : old)
        sim::traffic_remove_car(car);
    for (int i = 0; i < 128; i++)
        sim::traffic_add_car(car_at(bot_x + 60 + i, bot_z - 10));
    run_for(1.0);
    auto cars = our_cars();
    EXPECT_EQ(cars.size(), 128u);
    for (auto &c : cars)
        EXPECT_GT(c.net_id, 128u) << "an old car was never removed";
    EXPECT_EQ(server.traffic.ids_removed, 128u);

    // The manager goes: every sent car is removed with one complete list.
    uint64_t lists = server.traffic.complete_lists;
    sim::traffic_remove_manager();
    run_for(0.5);
    EXPECT_EQ(log_count("[traffic] traffic manager gone; removing 128 sent cars"), 1) << log_text();
    EXPECT_EQ(server.traffic.complete_lists, lists + 1);
    EXPECT_EQ(our_cars().size(), 0u);
    EXPECT_EQ(first("traffic"), "[traffic] no traffic manager (or unreadable)");
}

TEST_F(traffic_sync, OwnerWithoutRemotePlayersRemovesItsCars)
{
    sim::traffic_add_car(car_at(bot_x + 60, bot_z));
    join();
    ts_traffic_set_owner(&server, us, 0);
    command("traffic net on");
    run_for(1.0);
    ASSERT_EQ(our_cars().size(), 1u);
    ts_drop(&server, bot, 0, nullptr);
    run_for(0.5);
    EXPECT_EQ(log_count("[traffic] no remote players with a position; removing 1 sent cars"), 1) << log_text();
    EXPECT_EQ(our_cars().size(), 0u);
}

// The game frees or replaces what the owner's pass reads under a pointer it
// still lists: the pass skips that car (its receivers are told it is gone)
// or reads its model's light word as 0, and the frame goes on without a fault.
TEST_F(traffic_sync, ACarOrModelGoneUnderItsPointerIsSkippedWithoutAFault)
{
    struct {
        const char *name;
        void (*change)(uint8_t *car);
        bool removed;
    } cases[] = {
        { "the car freed", [](uint8_t *car) { sim::object_release(car); }, true },
        { "another object in its place", [](uint8_t *car) { sim::put<uint64_t>(car, 0, 0x1234); }, true },
        { "its model freed",
          [](uint8_t *car) { sim::object_release(as_pointer(sim::get<uint64_t>(car, sim::traffic_off::car_model))); },
          false },
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        fresh_game();
        cars_move = false;
        sim::traffic_car_desc lit = car_at(bot_x + 60, bot_z);
        lit.lights = 0x5;
        uint8_t *car = sim::traffic_add_car(lit);
        sim::traffic_add_car(car_at(bot_x - 60, bot_z));
        join();
        ts_traffic_set_owner(&server, us, 0);
        command("traffic net on");
        run_for(1.0);
        ASSERT_EQ(our_cars().size(), 2u) << log_text();
        ASSERT_EQ(our_cars()[0].lights, 0x5u);

        size_t mark = log_lines().size();
        c.change(car);
        run_for(1.0);
        auto cars = our_cars();
        ASSERT_EQ(cars.size(), c.removed ? 1u : 2u) << log_text();
        EXPECT_EQ(cars[0].net_id, c.removed ? 2u : 1u);
        EXPECT_EQ(cars[0].lights, 0u);
        EXPECT_EQ(lines_since(mark, "[traffic] owner: sending 1 cars (0 new, 1 removed) to 1 player(s)").size(),
                  c.removed ? 1u : 0u)
            << log_text();
        EXPECT_EQ(log_find("FRAME FAULT"), -1) << log_text();
        EXPECT_EQ(first("traffic mode").rfind("[traffic] mode: ", 0), 0u) << "the core runs on";
    }
}

// The definition goes out with a new car and again every 5 s; a car whose
// definition or type the game changed is sent with the new ones.
TEST_F(traffic_sync, DefinitionsAreResentEveryFiveSecondsAndFollowTheCar)
{
    uint8_t *car = sim::traffic_add_car(car_at(bot_x + 60, bot_z));
    uint8_t *bus = sim::traffic_add_car(car_at(bot_x + 5000, bot_z, { "/def/vehicle/ai/bus/data.sii" }));
    join();
    ts_traffic_set_owner(&server, us, 0);
    command("traffic net on");
    run_for(1.0);
    ASSERT_EQ(our_cars().size(), 1u) << log_text();
    uint64_t defs = server.traffic.defs_in;
    EXPECT_EQ(defs, 1u);
    run_for(10.0);
    EXPECT_EQ(server.traffic.defs_in, defs + 2) << "one resend every 5 s";
    EXPECT_STREQ(our_cars()[0].first_path, "/def/vehicle/ai/van/data.sii");

    using sim::traffic_off::car_definition;
    sim::put<uint64_t>(car, car_definition, sim::get<uint64_t>(bus, car_definition));
    sim::put<uint32_t>(car, sim::traffic_off::car_type, 7);
    run_for(5.0);
    auto cars = our_cars();
    ASSERT_EQ(cars.size(), 1u);
    EXPECT_EQ(cars[0].net_id, 1u) << "the same car";
    EXPECT_STREQ(cars[0].first_path, "/def/vehicle/ai/bus/data.sii");
    EXPECT_EQ(cars[0].car_type, 7);
}

/* ---- cars of another player ---- */

TEST_F(traffic_sync, CarsOfAnotherPlayerAreKeptListedRemovedAndAgedOut)
{
    join();
    ts_traffic_set_owner(&server, bot, 0);
    sim::channel_placement(bot_x, bot_y, bot_z, 0, 0, 0);
    run_for(0.3);
    traffic_car_state st = { 7, { bot_x + 30, bot_y, bot_z + 40 }, { 1, 0, 0, 0 }, 10, 0x5 };
    traffic_car_state unknown = { 99, { 0, 0, 0 }, { 1, 0, 0, 0 }, 0, 0 };
    send_def(7, 3, { "/def/vehicle/ai/van/data.sii", "/def/vehicle/ai/van/paint.sii" });
    send_def(8, 1, {});
    send_states({ st, unknown });
    run_for(0.2);
    EXPECT_GE(log_find("[traffic] remote car 7 from player 2: type 3, 2 paths, /def/vehicle/ai/van/data.sii"), 0)
        << log_text();
    EXPECT_GE(log_find("[traffic] remote car 8 from player 2: type 1, 0 paths, "), 0);
    send_def(7, 3, { "/def/vehicle/ai/van/data.sii" }); // a resent definition logs nothing
    run_for(0.2);
    EXPECT_EQ(log_count("[traffic] remote car 7 from player 2"), 1);

    auto listed = command("traffic remote");
    ASSERT_EQ(listed.size(), 3u) << log_text();
    const std::string car7 = "[traffic] remote 2/7 type 3 /def/vehicle/ai/van/data.sii pos(1230.0, 50.0, -1960.0) "
                             "dist=50 q(1.000 0.000 0.000 0.000) speed=36.0 km/h lights=00000005 age=";
    EXPECT_EQ(listed[0].rfind(car7, 0), 0u) << listed[0];
    EXPECT_LT(atof(listed[0].c_str() + car7.size()), 1.0) << listed[0];
    EXPECT_EQ(listed[1].rfind("[traffic] remote 2/8 type 1  pos(0.0, 0.0, 0.0) dist=-1 q(", 0), 0u) << listed[1];
    EXPECT_EQ(listed[2], fmt("[traffic] remote: 2 cars; owner 2; we are %u; sending off, 0 cars sent", us));
    EXPECT_GE(log_find("[traffic] remote: 2 cars, nearest 50 m, 1 car states received (1 for unknown cars)"), 0)
        << log_text();

    // Car 7 keeps getting states; car 8 has none and times out after 5 s.
    for (int i = 0; i < 12; i++) {
        send_states({ st });
        run_for(0.5);
    }
    EXPECT_EQ(log_count("[traffic] 1 remote car(s) timed out"), 1) << log_text();
    EXPECT_EQ(command("traffic remote").size(), 2u);

    send_ids({ 7, 123 }, false);
    run_for(0.2);
    EXPECT_EQ(log_count("[traffic] player 2 removed 1 car(s)"), 1) << log_text();
    send_def(9, 1, { "/a.sii" });
    send_def(10, 1, { "/b.sii" });
    send_ids({}, true);
    run_for(0.2);
    EXPECT_EQ(log_count("[traffic] player 2 removed 2 car(s) (all)"), 1) << log_text();
    EXPECT_EQ(command("traffic remote"),
              std::vector<std::string>{ fmt("[traffic] remote: 0 cars; owner 2; we are %u; sending off, 0 cars sent", us) });
}

// The table of received cars is the core's own: a hot-reloaded core starts
// with it empty, and the bot's cars are listed again once their definitions
// come round (the sender repeats them every 5 s); states alone add no car.
TEST_F(traffic_sync, AReloadedCoreListsTheCarsAgainWithTheirNextDefinitions)
{
    join();
    double next_cars = 0, next_defs = 0;
    auto bots_for = [&](double seconds) {
        for (double t = 0; t < seconds - 1e-9; t += 0.1) {
            ts_bots_traffic_tick(&server, sim::clock_now(), &next_cars, &next_defs);
            server_frames(1, 0.1);
        }
    };
    auto listed = [&] {
        auto lines = command("traffic remote");
        return lines.empty() ? std::string("(nothing)") : lines.back();
    };
    const std::string two = fmt("[traffic] remote: 2 cars; owner 0; we are %u;", us);
    const std::string none = fmt("[traffic] remote: 0 cars; owner 0; we are %u;", us);
    bots_for(1.0);
    ASSERT_EQ(listed().rfind(two, 0), 0u) << log_text();

    double defs_at = next_defs; // the bot's next definitions
    fx::set_write_time(base + "core\\drovemark_core.dll", 60);
    bots_for(1.5);
    ASSERT_GE(log_find("[host] core generation 2 loaded"), 0) << log_text();
    ASSERT_LT(sim::clock_now(), defs_at);
    EXPECT_EQ(listed().rfind(none, 0), 0u) << "states of cars it has no definition of\n" << log_text();
    bots_for(defs_at - sim::clock_now() + 0.5);
    EXPECT_EQ(listed().rfind(two, 0), 0u) << log_text();
}

// A peer's definition path is its text: control bytes reach the log (the
// first line and the listing) as '?', so no line of it can be forged.
TEST_F(traffic_sync, ControlBytesOfAPeersPathAreLoggedAsQuestionMarks)
{
    join();
    send_def(11, 1, { "/def/a\n[core] forged\x1b[2J\x7f.sii" });
    run_for(0.2);
    const char *clean = "/def/a?[core] forged?[2J?.sii";
    EXPECT_GE(log_find(fmt("[traffic] remote car 11 from player 2: type 1, 1 paths, %s", clean)), 0) << log_text();
    auto listed = command("traffic remote");
    ASSERT_EQ(listed.size(), 2u) << log_text();
    EXPECT_EQ(listed[0].rfind(fmt("[traffic] remote 2/11 type 1 %s pos(", clean), 0), 0u) << listed[0];
    for (auto &l : log_lines())
        EXPECT_NE(l.rfind("[core] forged", 0), 0u) << l;
}

TEST_F(traffic_sync, TheRemoteTableHolds256CarsAndSkipsTheRest)
{
    join();
    for (uint32_t id = 1; id <= 300; id++) {
        send_def(id, 1, { "/a.sii" });
        if (id % 50 == 0)
            run_for(0.1);
    }
    run_for(0.2);
    EXPECT_EQ(log_count("[traffic] remote car "), 256) << log_text();
    auto listed = command("traffic remote");
    ASSERT_FALSE(listed.empty());
    EXPECT_EQ(listed.back(), fmt("[traffic] remote: 256 cars; owner 0; we are %u; sending off, 0 cars sent", us));
}

/* ---- our own cars ---- */

TEST_F(traffic_sync, DumpListsOwnCarsWithTheirDefinitionAndSpeed)
{
    sim::traffic_car_desc close = car_at(1100, -2000, { "/def/a.sii" });
    close.type = 3;
    close.lights = 0x5;
    close.model_flags = 0x9;
    close.vel[0] = 10;
    close.colours = { 0.1f, 0.2f, 0.3f };
    uint8_t *car = sim::traffic_add_car(close);
    sim::traffic_car_desc distant = car_at(1000, -1000, { "/def/b.sii" });
    distant.colours = { 0.5f, 0.5f, 0.5f };
    distant.excluded = true;
    uint8_t *far_car = sim::traffic_add_car(distant);
    start();
    sim::channel_placement(1000, bot_y, -2000, 0, 0, 0);
    auto out = command("traffic");
    ASSERT_EQ(out.size(), 3u) << log_text();
    EXPECT_EQ(out[0], "[traffic] own cars 2, player at (1000.0, 50.0, -2000.0)");
    EXPECT_EQ(out[1], fmt("[traffic] [0] %p fl=100 id=1000 type=3 mode=0 world(1100.0, 50.0, -2000.0) dist=100 "
                          "q(1.000 0.000 0.000 0.000) speed=- km/h lights=00000005 mflags=00000009 model=%p def=%p "
                          "class=? colors=1 (0.100 0.200 0.300) [? /def/a.sii]",
                          as_pointer(car), as_pointer(sim::get<uint64_t>(car, 0x210)),
                          as_pointer(sim::get<uint64_t>(car, 0x410))));
    // 1000 m away: the description without colours and entries.
    EXPECT_EQ(out[2].substr(out[2].find(" mode=")), fmt(" mode=1 world(1000.0, 50.0, -1000.0) dist=1000 "
                          "q(1.000 0.000 0.000 0.000) speed=- km/h lights=00000000 mflags=00000000 model=%p def=%p "
                          "class=? colors=1", as_pointer(sim::get<uint64_t>(far_car, 0x210)),
                          as_pointer(sim::get<uint64_t>(far_car, 0x410))));
    run_for(1.0); // 10 m in the 1.25 s since the last dump (whose frame moved no car): 8 m/s
    out = command("traffic");
    ASSERT_EQ(out.size(), 3u);
    EXPECT_NE(out[1].find(" speed=28.8 km/h "), std::string::npos) << out[1];
    EXPECT_NE(out[2].find(" speed=0.0 km/h "), std::string::npos) << out[2];
}

/* ---- modes and the g_traffic lock ---- */

TEST_F(traffic_sync, ModesFromConfigCommandAndServerLockOrFreeGTraffic)
{
    struct {
        const char *config;   /* the traffic line's value, null: no line */
        const char *command;  /* after "traffic ", null: none */
        int slot;             /* server slot, -1: none sent */
        const char *report;   /* "config %s, command %s, server %s, in effect %s; g_traffic %s" */
        const char *cached;   /* flag/value: locked 1/0.00; unlocked after a lock 0/0.00; never locked 1/0.75 */
    } cases[] = {
        { nullptr, nullptr, -1, "config off, command -, server -, in effect off; g_traffic locked", "1/0.00" },
        { "off", nullptr, -1, "config off, command -, server -, in effect off; g_traffic locked", "1/0.00" },
        { "ON", nullptr, -1, "config local, command -, server -, in effect local; g_traffic free", "1/0.75" },
        { "Local", nullptr, -1, "config local, command -, server -, in effect local; g_traffic free", "1/0.75" },
        { "no", nullptr, -1, "config off, command -, server -, in effect off; g_traffic locked", "1/0.00" },
        { "off", "local", -1, "config off, command local, server -, in effect local; g_traffic free", "0/0.00" },
        { "off", "on", -1, "config off, command local, server -, in effect local; g_traffic free", "0/0.00" },
        { "local", "off", -1, "config local, command off, server -, in effect off; g_traffic locked", "1/0.00" },
        { "local", nullptr, 1, "config local, command -, server off, in effect off; g_traffic locked", "1/0.00" },
        { "local", "local", 1, "config local, command local, server off, in effect off; g_traffic locked", "1/0.00" },
        { "off", nullptr, 0, "config off, command -, server local, in effect off; g_traffic locked", "1/0.00" },
        { "off", "local", 0, "config off, command local, server local, in effect local; g_traffic free", "0/0.00" },
    };
    bool first_case = true;
    for (auto &c : cases) {
        SCOPED_TRACE(fmt("config %s, command %s, slot %d", c.config ? c.config : "(none)",
                         c.command ? c.command : "(none)", c.slot));
        if (!first_case)
            fresh_game();
        first_case = false;
        sim::traffic_add_car(car_at(0, 0));
        join(c.config ? fmt("traffic = %s\n", c.config) : "");
        if (c.slot >= 0)
            ts_traffic_set_owner(&server, 0, c.slot);
        run_for(0.6);
        if (c.command)
            command(fmt("traffic %s", c.command));
        run_for(0.6);
        bool locked = strstr(c.report, "locked") != nullptr;
        std::string report = first("traffic mode");
        EXPECT_EQ(report.rfind(std::string("[traffic] mode: ") + c.report, 0), 0u) << report;
        EXPECT_EQ(sim::traffic_cvar_callback(), locked ? sim::traffic_refuse_callback() : sim::traffic_own_callback());
        EXPECT_EQ(sim::traffic_density(), locked ? 0.0f : 0.75f);
        EXPECT_EQ(sim::traffic_cvar_text(), "0.75") << "the player's own setting is kept";
        EXPECT_EQ(report.substr(report.find(" value ")), std::string(" value '0.75' cached ") + c.cached);
    }
}

TEST_F(traffic_sync, OffLocksOnceAndLocalGivesThePlayersSettingBack)
{
    sim::traffic_add_car(car_at(0, 0));
    sim::traffic_add_car(car_at(10, 0));
    join("traffic = off\n");
    run_for(2.0);
    EXPECT_EQ(log_count("[traffic] AI traffic off: g_traffic locked at 0 (your setting '0.75' is kept)"), 1)
        << log_text();
    EXPECT_EQ(log_count("[traffic] traffic manager "), 1);
    EXPECT_EQ(sim::calls_named("traffic_density").size(), 1u);
    // The player's change is refused while locked.
    sim::traffic_cvar_set("1.00");
    EXPECT_EQ(sim::traffic_density(), 0.0f);
    EXPECT_EQ(sim::traffic_cvar_cached_value(), 0.0f);

    auto out = command("traffic local");
    ASSERT_EQ(out.size(), 2u) << log_text();
    EXPECT_EQ(out[0], "[traffic] AI traffic local: g_traffic unlocked, back to your 1.00");
    EXPECT_EQ(out[1], "[traffic] mode local by command (config off, server -, in effect local)");
    EXPECT_EQ(sim::traffic_density(), 1.0f);
    EXPECT_EQ(sim::traffic_cvar_callback(), sim::traffic_own_callback());
    sim::traffic_cvar_set("0.50"); // the game's own callback takes it
    EXPECT_EQ(sim::traffic_density(), 0.5f);
}

TEST_F(traffic_sync, AForeignCallbackOrAnUnknownVariableIsLeftAlone)
{
    struct {
        const char *name;
        void (*change)();
        const char *line;
    } cases[] = {
        { "foreign callback", [] { sim::traffic_cvar_set_callback(0x1234); },
          "[traffic] g_traffic has a foreign callback %p; not locking" },
        { "another name", [] { memcpy(sim::traffic_cvar() + 8, "g_trafficx", 11); },
          "[traffic] g_traffic cvar not recognised (game build?); traffic lock unavailable" },
        { "another kind", [] { sim::put<uint32_t>(sim::traffic_cvar(), 0x90, 3); },
          "[traffic] g_traffic cvar not recognised (game build?); traffic lock unavailable" },
        { "no refusing code", [] { sim::game_put<uint8_t>(sim::traffic_off::cvar_refuse + 2, 0x90); },
          "[traffic] g_traffic cvar not recognised (game build?); traffic lock unavailable" },
    };
    bool first_case = true;
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        if (!first_case)
            fresh_game();
        first_case = false;
        c.change();
        uint64_t callback = sim::traffic_cvar_callback();
        join("traffic = off\n");
        run_for(2.0);
        command("traffic off");
        EXPECT_EQ(log_count(fmt(c.line, (void *)0x1234)), 1) << log_text();
        EXPECT_EQ(sim::traffic_cvar_callback(), callback);
        EXPECT_EQ(sim::calls_named("traffic_density").size(), 0u);
    }
}

} // namespace
