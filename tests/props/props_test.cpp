// Props through the real plug-in and core in the simulated game: joined to
// the test server on 127.0.0.1 (our requests and the server's echoes, props
// placed by another player, refused packets, removals, the id list and a
// disconnect), the model catalog in a temporary LOCALAPPDATA, props drawn by
// the draw detour on the game's render thread, and two real core reloads
// through the plug-in's hot reload.
#include "runtime/runtime_fixture.h"
#include <math.h>
#include "net/net_records.h"
#include "net/net_wire.h"
#include "sim/sim_convoy.h"
#include "sim/sim_draw.h"
#include "sim/sim_props.h"
#include "sim/sim_vehicles.h"

using rt::as_address;
using rt::fmt;

namespace {

const char *cone = "/model/cone.pmd";

class props : public rt::server_test {
protected:
    void SetUp() override
    {
        rt::server_test::SetUp();
        // Each test is a new game in the same process: the props block of
        // the last test's core is dropped.
        char name[64];
        snprintf(name, sizeof name, "Localdrovemark_props_state_v7_%lu", GetCurrentProcessId());
        if (HANDLE h = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name)) {
            if (void *view = MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, 0)) {
                memset(view, 0, 21016);
                UnmapViewOfFile(view);
            }
            CloseHandle(h);
        }
        sim::vehicle_world_install();
        sim::props_world_install(player);
        sim::model_entry c;
        c.path = cone;
        sim::model_add(c);
        sim::placement32 at = { 100, 10, 50, 0, 0, 1, 0, 0, 0 };
        sim::player_set_placement(&at);
        sim::ground_set(sim::ground_kind::flat, 10);
    }

    /* Frames with the server answering until a log line starts with the
     * text (bounded); true when it came. */
    bool until(const std::string &prefix, size_t from = 0, int frames = 40)
    {
        for (int i = 0; i < frames; i++) {
            if (!lines_since(from, prefix).empty())
                return true;
            server_frames(1, 0.05);
        }
        return !lines_since(from, prefix).empty();
    }

    prop_state state_at(double x, double y, double z, const char *path = cone)
    {
        prop_state s = {};
        s.pos[0] = x;
        s.pos[1] = y;
        s.pos[2] = z;
        s.rot[0] = 1;
        s.look = s.variant = 0x1234; // any token
        snprintf(s.model, sizeof s.model, "%s", path);
        return s;
    }

    uint16_t our_id() { return ts_find_name(&server, "tester")->id; }

    /* Runs an attach sub-command for server prop 1: its request goes out
     * with these offsets ("truck, right .. up .. ahead .."), and the
     * server's echo attaches it with that line. The log's length before. */
    size_t attach_echoed(const std::string &command, const std::string &request, const std::string &echo)
    {
        size_t from = log_lines().size();
        run(command + "\n");
        bool came = until("[props] server prop 1 attached to player", from);
        EXPECT_TRUE(came) << log_text();
        if (!came)
            return from;
        EXPECT_FALSE(lines_since(from, "[props] attach request for server prop 1 sent (" + request + ")").empty())
            << log_text();
        EXPECT_EQ(lines_since(from, "[props] server prop 1 attached to player")[0], echo);
        return from;
    }

    /* Joined, with a bot that has placed server props 1 at (120, 10, 40)
     * and 2 at (130, 10, 40); the bot's id. */
    uint16_t join_with_bot_props()
    {
        join();
        uint16_t bot = ts_add_bot(&server, "bot", sim::clock_now());
        prop_state a = state_at(120, 10, 40), b = state_at(130, 10, 40);
        ts_props_place_as(&server, bot, &a);
        ts_props_place_as(&server, bot, &b);
        EXPECT_TRUE(until("[props] server prop 2 (by player")) << log_text();
        return bot;
    }
};

TEST_F(props, OurSpawnGoesAsARequestAndTheEchoCreatesMovesRelightsRemoves)
{
    join();
    size_t from = log_lines().size();
    run(fmt("model spawn %s 10 0\n", cone));
    ASSERT_TRUE(until("[props] server prop 1 (by player", from)) << log_text();
    EXPECT_FALSE(lines_since(from, "[props] create request sent to the server: /model/cone.pmd at (100.0, 10.0, 40.0)")
                     .empty());
    EXPECT_EQ(server.props.creates, 1u);
    const ts_prop *p = ts_props_find(&server, 1);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->owner, our_id());
    EXPECT_EQ(lines_since(from, "[props] server prop 1 (by player")[0],
              fmt("[props] server prop 1 (by player %u): /model/cone.pmd at (100.0, 10.0, 40.0), local #1", our_id()));
    // "last" is the server id now: a move request for it
    from = log_lines().size();
    run("model nudge last 1 0 0\n");
    ASSERT_TRUE(until("[props] server prop 1 moved to (101.0, 10.0, 40.0)", from)) << log_text();
    EXPECT_FALSE(lines_since(from, "[props] nudge request for server prop 1 sent").empty());
    // a request the server holds changes nothing here
    server.props.hold_echoes = true;
    from = log_lines().size();
    run("model nudge last 5 0 0\n");
    server_frames(10, 0.05);
    EXPECT_TRUE(lines_since(from, "[props] server prop 1 moved").empty());
    EXPECT_EQ(server.props.held, 1u);
    EXPECT_EQ(server.props.updates, 2u); // the level of our spawn, the first nudge
    server.props.hold_echoes = false;
    // the server relights and moves it (an echo of its own store)
    prop_state s = ts_props_find(&server, 1)->state;
    s.light_mode = 7; // above 6 counts as "default"... which it already is: nothing
    from = log_lines().size();
    ts_props_place_as(&server, our_id(), &s);
    server_frames(5, 0.05);
    EXPECT_TRUE(lines_since(from, "[props] server prop 1 light").empty());
    s.light_mode = 5;
    ts_props_place_as(&server, our_id(), &s);
    ASSERT_TRUE(until("[props] server prop 1 light beacons", from)) << log_text();
    EXPECT_TRUE(lines_since(from, "[props] server prop 1 moved").empty());
    // removal by the server
    from = log_lines().size();
    run("model despawn last\n");
    ASSERT_TRUE(until("[props] server prop 1 removed", from)) << log_text();
    EXPECT_FALSE(lines_since(from, "[props] remove request for server prop 1 sent").empty());
    server_frames(5, 0.05);
    EXPECT_FALSE(lines_since(from, "[props] #1 released").empty());
}

// A ray cast where our spawned vehicle stood meets its part models, and once
// the vehicle is despawned (destroyed in the game) the ground under it.
TEST_F(props, ARayAfterADespawnMeetsTheGroundWhereTheVehicleStood)
{
    const char *chassis = "/def/truck/chassis.sii";
    sim::data_new(chassis, sim::game_at(sim::veh_off::part_data_class));
    uint8_t *def = sim::def_new(sim::def_kind::vehicle, "AB 123");
    sim::def_push(def, sim::accessory_new(sim::accessory_kind::part, chassis));
    sim::player_truck_def(player, def);
    start();
    command("spawnmode clone"); // a vehicle of its own definition, which a despawn may release
    command("spawn");           // 6 m right of the truck: at (106, 10, 50)
    server_frames(2, 0.05);
    int made = log_find("[core] spawn: veh=");
    ASSERT_GE(made, 0) << log_text();
    void *vehicle = nullptr;
    sscanf(log_lines()[made].c_str(), "[core] spawn: veh=%p", &vehicle);
    ASSERT_TRUE(sim::part_model((uint8_t *)vehicle, false)) << log_text();
    // The truck 11 m behind it: the ray 10 m ahead comes down on its chassis.
    sim::placement32 behind = { 106, 10, 61, 0, 0, 1, 0, 0, 0 };
    sim::player_set_placement(&behind);
    auto ray = [this] {
        for (auto &l : command("model ray 10"))
            if (l.rfind("[props] ray", 0) == 0 || l == "[props] raycast faulted")
                return l;
        return std::string("(no ray line)");
    };
    EXPECT_EQ(ray().rfind("[props] ray at 10 m ahead: hit (106.00, 11.20, 51.00)", 0), 0u) << log_text();

    command("despawn");
    server_frames(10, 0.05);
    ASSERT_EQ(sim::destroyed(vehicle), 1) << log_text();
    EXPECT_EQ(ray().rfind("[props] ray at 10 m ahead: hit (106.00, 10.00, 51.00)", 0), 0u) << log_text();
    EXPECT_EQ(log_find("[props] raycast faulted"), -1) << log_text();
}

TEST_F(props, AnotherPlayersPropsTheListAndADisconnect)
{
    uint16_t bot = join_with_bot_props();
    auto placed = lines_since(0, "[props] server prop 1 (by player");
    ASSERT_EQ(placed.size(), 1u) << log_text();
    EXPECT_EQ(placed[0], fmt("[props] server prop 1 (by player %u): /model/cone.pmd at (120.0, 10.0, 40.0), local #1", bot));
    // the id list without 1 removes it; a local prop is never touched
    size_t from = log_lines().size();
    server.props.props[0].used = false;
    ts_props_send_list(&server);
    ASSERT_TRUE(until("[props] server prop 1 is gone from the server list; removed", from)) << log_text();
    EXPECT_TRUE(lines_since(from, "[props] server prop 2 is gone").empty());
    // type 21 with 0: every server prop
    from = log_lines().size();
    ts_props_remove(&server, 0);
    ASSERT_TRUE(until("[props] server prop 2 removed", from)) << log_text();
    // a disconnect queues what is left
    prop_state a = state_at(120, 10, 40);
    ts_props_place_as(&server, bot, &a);
    ASSERT_TRUE(until("[props] server prop 3 (by player", from)) << log_text();
    from = log_lines().size();
    run("net disconnect\n");
    ASSERT_TRUE(until("[props] server prop 3 removed (not connected)", from)) << log_text();
}

TEST_F(props, ReceivedPropsOutOfRangeOrMalformedAreRefusedOncePerProp)
{
    join();
    uint16_t bot = ts_add_bot(&server, "bot", sim::clock_now());
    auto attached = [&](prop_state s) {
        s.attach_part = 1;
        s.attach_rot[0] = 1;
        return s;
    };
    struct {
        prop_state s;
        const char *why;
    } cases[] = {
        { state_at(4e8, 0, 0), "position not finite or out of range" },
        { state_at(0, 1e39, 0), "position not finite or out of range" },
        { state_at(NAN, 10, 40), "position not finite or out of range" },
        { state_at(100, INFINITY, 40), "position not finite or out of range" },
        { state_at(100, 10, 40), "rotation not a unit quaternion" },
        { state_at(100, 10, 40), "rotation not a unit quaternion" },
        { state_at(100, 10, 40, "/model/co\x01ne.pmd"), "model path refused" },
        { attached(state_at(100, 10, 40)), "attach offset out of range" },
        { attached(state_at(100, 10, 40)), "attach offset out of range" },
        { attached(state_at(100, 10, 40)), "attach rotation not a unit quaternion" },
    };
    cases[4].s.rot[0] = 0.9f;
    cases[5].s.rot[2] = NAN;
    cases[7].s.attach_offset[2] = -1000;
    cases[8].s.attach_offset[0] = NAN;
    cases[9].s.attach_rot[3] = INFINITY;
    for (auto &c : cases) {
        size_t from = log_lines().size();
        uint32_t id = ts_props_place_as(&server, bot, &c.s);
        // the server sends it twice more, as it resends its props
        c.s.server_id = id;
        ts_props_place_as(&server, bot, &c.s);
        ts_props_place_as(&server, bot, &c.s);
        std::string line = fmt("[props] server prop %u refused (%s): ", id, c.why);
        bool came = until(line, from);
        EXPECT_TRUE(came) << line << "\n" << log_text();
        if (!came)
            continue;
        server_frames(5, 0.05);
        EXPECT_EQ(lines_since(from, fmt("[props] server prop %u ", id)), std::vector<std::string>{ lines_since(from, line)[0] })
            << c.why;
    }
    // an attach block naming player 0 rides on the sender's vehicle, not ours
    prop_state s = attached(state_at(100, 10, 40));
    s.attach_player = 0;
    s.attach_offset[2] = -2;
    size_t from = log_lines().size();
    uint32_t id = ts_props_place_as(&server, bot, &s);
    ASSERT_TRUE(until(fmt("[props] server prop %u attached to player %u's truck: right 0.00 up 0.00 ahead 2.00", id, bot),
                      from))
        << log_text();
    // with no sender (player 0, the server's own) there is no vehicle: it stands unattached
    from = log_lines().size();
    prop_state own = attached(state_at(105, 10, 40));
    own.attach_offset[2] = -2;
    uint32_t own_id = ts_props_place_as(&server, 0, &own);
    ASSERT_TRUE(until(fmt("[props] server prop %u (by player 0): /model/cone.pmd at (105.0, 10.0, 40.0)", own_id), from))
        << log_text();
    server_frames(3, 0.05);
    EXPECT_TRUE(lines_since(from, fmt("[props] server prop %u attached", own_id)).empty()) << log_text();
    // an attach kind beyond the trailer (4) is no attach block: the prop stands unattached
    prop_state k4 = state_at(110, 10, 40);
    k4.attach_part = 4;
    k4.attach_rot[0] = 1;
    from = log_lines().size();
    uint32_t k4_id = ts_props_place_as(&server, bot, &k4);
    ASSERT_TRUE(until(fmt("[props] server prop %u (by player %u): /model/cone.pmd at (110.0, 10.0, 40.0)", k4_id, bot),
                      from))
        << log_text();
    EXPECT_TRUE(lines_since(from, fmt("[props] server prop %u attached", k4_id)).empty());
}

// The attach block's offsets are right, up and back on the wire, as the
// record holds them: our request for "2 m ahead" carries back -2, and a
// received back of 3 is 3 m behind the part. Both pinned by bytes written
// by hand.
TEST_F(props, AttachOffsetsTravelAsRightUpBack)
{
    join();
    size_t from = log_lines().size();
    run(fmt("model spawn %s 10 0\n", cone));
    ASSERT_TRUE(until("[props] server prop 1 (by player", from)) << log_text();
    uint16_t us = our_id();
    // "@" with our own id is the same as our truck
    attach_echoed(fmt("model attach last truck@%u 2", us), "truck, right 0.00 up 0.00 ahead 2.00",
                  fmt("[props] server prop 1 attached to player %u's truck: right 0.00 up 0.00 ahead 2.00 (ours)", us));
    const uint8_t block[32] = {
        (uint8_t)us, (uint8_t)(us >> 8), 0x01, 0x00, // player, kind 1 truck, reserved
        0x00, 0x00, 0x00, 0x00,                      // right 0
        0x00, 0x00, 0x00, 0x00,                      // up 0
        0x00, 0x00, 0x00, 0xc0,                      // back -2.0: 2 m ahead
        0x00, 0x00, 0x80, 0x3f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, // rotation 1 0 0 0
    };
    size_t path = strlen(cone);
    ASSERT_EQ(server.props.last_request_len, (int)(62 + path + 32));
    EXPECT_EQ(server.props.last_request_bytes[60] & 1, 1) << "the attach flag";
    EXPECT_EQ(memcmp(server.props.last_request_bytes + 62 + path, block, sizeof block), 0);

    // a server prop of the bot's, written out byte by byte: 3 m back on its truck
    uint16_t bot = ts_add_bot(&server, "bot", sim::clock_now());
    std::vector<uint8_t> p = {
        0x07, 0x00, 0x00, 0x00,                                                  // id 7
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x59, 0x40,                          // x 100
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x24, 0x40,                          // y 10
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x44, 0x40,                          // z 40
        0x00, 0x00, 0x80, 0x3f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,              // rotation 1 0 0 0
        0x34, 0x12, 0, 0, 0, 0, 0, 0, 0x34, 0x12, 0, 0, 0, 0, 0, 0,              // look, variant
        0x01, (uint8_t)path,                                                     // attach flag, path length
    };
    p.insert(p.end(), cone, cone + path);
    const uint8_t theirs[32] = {
        0x00, 0x00, 0x01, 0x00, // player 0 (the sender's own), kind 1 truck
        0x00, 0x00, 0x00, 0x3f, // right 0.5
        0x00, 0x00, 0x80, 0x3e, // up 0.25
        0x00, 0x00, 0x40, 0x40, // back 3.0: 3 m behind
        0x00, 0x00, 0x80, 0x3f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    };
    p.insert(p.end(), theirs, theirs + sizeof theirs);
    from = log_lines().size();
    ts_broadcast(&server, NET_PROP, bot, p.data(), (int)p.size());
    ASSERT_TRUE(until("[props] server prop 7 attached to player", from)) << log_text();
    EXPECT_EQ(lines_since(from, "[props] server prop 7 attached to player")[0],
              fmt("[props] server prop 7 attached to player %u's truck: right 0.50 up 0.25 ahead -3.00", bot));
}

/* Joined in `remote mode rv` with the game's convoy machinery: the bots are
 * shown as convoy vehicles, built from their accessory lists. */
class props_convoy : public props {
protected:
    double next_state = 0, next_lists = 0;

    void SetUp() override
    {
        props::SetUp();
        rt::bot_truck_data();
        rt::player_truck(player);
        sim::convoy_install(player);
    }
    /* A bot whose state and lists go out from the next frame on. */
    uint16_t add_bot(const char *name)
    {
        next_state = next_lists = 0;
        return ts_add_bot(&server, name, sim::clock_now());
    }
    /* The bots drive and send their lists around each frame. */
    void server_frames(int n, double dt) override
    {
        for (int i = 0; i < n; i++) {
            ts_poll(&server, sim::clock_now());
            ts_bots_tick(&server, sim::clock_now(), &next_state, &next_lists);
            sim::frames(1, dt);
        }
        ts_poll(&server, sim::clock_now());
    }
};

// A server prop attached by command to a bot shown as a convoy vehicle: the
// vehicle's model is a model object of the game's, so the request goes out
// (2 m up on the bot's truck), the server's echo attaches it, and the prop is
// drawn riding on the vehicle.
TEST_F(props_convoy, AttachedByCommandToAPlayerShownAsAConvoyVehicle)
{
    sim::draw_install();
    join("remote_mode = rv\n");
    uint16_t bot = add_bot("bot");
    ASSERT_TRUE(until(fmt("[core] net: spawning an rv for player %u 'bot' in slot 1 (their accessories)", bot), 0, 100))
        << log_text();
    size_t from = log_lines().size();
    run(fmt("model spawn %s 10 0\n", cone));
    ASSERT_TRUE(until("[props] server prop 1 (by player", from)) << log_text();
    from = attach_echoed(fmt("model attach last truck@%u 0 0 2", bot), "truck, right 0.00 up 2.00 ahead 0.00",
                         fmt("[props] server prop 1 attached to player %u's truck: right 0.00 up 2.00 ahead 0.00", bot));
    EXPECT_TRUE(lines_since(from, "[props] attach: ").empty()) << log_text();
    ASSERT_FALSE(lines_since(from, "[props] server prop 1 attached to player").empty());

    // Drawn 2 m above the convoy vehicle, where it stands in this draw.
    ASSERT_EQ(sim::convoy_netobjs().size(), 1u) << log_text();
    uint8_t *vehicle = sim::convoy_netobjs()[0].vehicle;
    uint8_t *model = sim::models_made().back();
    uint64_t drawn = sim::model_draws(model).draws;
    sim::draw_frame();
    EXPECT_GT(sim::model_draws(model).draws, drawn);
    sim::placement32 v = sim::get<sim::placement32>(vehicle, 0x28), m = sim::get<sim::placement32>(model, 0x30);
    EXPECT_NEAR(m.sector_x * 512.0 + m.x, v.sector_x * 512.0 + v.x, 1e-3);
    EXPECT_NEAR(m.y, v.y + 2.0, 1e-3);
    EXPECT_NEAR(m.sector_z * 512.0 + m.z, v.sector_z * 512.0 + v.z, 1e-3);
}

// Kept in place 150 m from our truck: an offset every receiver refuses, so
// the command refuses it and sends nothing.
TEST_F(props, AttachKeptInPlaceBeyondTheBoundIsNotSent)
{
    join();
    size_t from = log_lines().size();
    run(fmt("model spawn %s 150 0\n", cone));
    ASSERT_TRUE(until("[props] server prop 1 (by player", from)) << log_text();
    server_frames(3, 0.05);
    uint64_t updates = server.props.updates;
    from = log_lines().size();
    auto out = run("model attach last truck\n");
    server_frames(5, 0.05);
    EXPECT_FALSE(lines_since(from, "[props] attach: offsets must be finite metres within 100").empty()) << log_text();
    EXPECT_TRUE(lines_since(from, "[props] attach request").empty()) << log_text();
    EXPECT_TRUE(lines_since(from, "[props] server prop 1 refused").empty()) << log_text();
    EXPECT_EQ(server.props.updates, updates);
}

// The pending create count: our own echo counts once, an echo nobody asked
// for never, and a request lost with the connection is forgotten.
TEST_F(props, OnlyTheEchoOfOurOwnCreateRequestIsOurs)
{
    join();
    size_t from = log_lines().size();
    run(fmt("model spawn %s 10 0\n", cone));
    ASSERT_TRUE(until("[props] server prop 1 (by player", from)) << log_text();
    ASSERT_TRUE(until("[props] level request for server prop 1 sent", from)) << log_text();
    // a prop the server places as us, unasked: not levelled, "last" stays
    prop_state s = state_at(120, 10, 40);
    ts_props_place_as(&server, our_id(), &s);
    ASSERT_TRUE(until("[props] server prop 2 (by player", from)) << log_text();
    server_frames(5, 0.05);
    EXPECT_TRUE(lines_since(from, "[props] level request for server prop 2").empty()) << log_text();
    from = log_lines().size();
    run("model despawn last\n");
    EXPECT_FALSE(lines_since(from, "[props] remove request for server prop 1 sent").empty()) << log_text();
    ASSERT_TRUE(until("[props] server prop 1 removed", from)) << log_text();

    // a create request the server never answers, then the connection goes
    server.props.hold_echoes = true;
    run(fmt("model spawn %s 10 0\n", cone));
    server_frames(5, 0.05);
    EXPECT_EQ(server.props.held, 1u);
    server.props.hold_echoes = false;
    run("net disconnect\n");
    server_frames(3, 0.05);
    from = log_lines().size();
    run(fmt("net connect 127.0.0.1 %u tester\n", server.port));
    ASSERT_TRUE(until("[net] joined as player", from, 100)) << log_text();
    // an echo nobody asked for on the new connection is not ours
    from = log_lines().size();
    prop_state t = state_at(125, 10, 40);
    uint32_t id = ts_props_place_as(&server, our_id(), &t);
    ASSERT_TRUE(until(fmt("[props] server prop %u (by player", id), from)) << log_text();
    server_frames(5, 0.05);
    EXPECT_TRUE(lines_since(from, fmt("[props] level request for server prop %u", id)).empty()) << log_text();
    from = log_lines().size();
    run("model despawn last\n");
    EXPECT_FALSE(lines_since(from, "[props] no prop 'last'").empty()) << log_text();
}

// "despawn all" while joined: the server removes the requester's props only.
TEST_F(props, DespawnAllRemovesOnlyOurServerProps)
{
    join();
    uint16_t bot = ts_add_bot(&server, "bot", sim::clock_now());
    size_t from = log_lines().size();
    prop_state b = state_at(130, 10, 40);
    ts_props_place_as(&server, bot, &b);
    ASSERT_TRUE(until("[props] server prop 1 (by player", from)) << log_text();
    run(fmt("model spawn %s 10 0\n", cone));
    ASSERT_TRUE(until("[props] server prop 2 (by player", from)) << log_text();
    from = log_lines().size();
    run("model despawn all\n");
    EXPECT_FALSE(lines_since(from, "[props] despawn all (server props: request sent)").empty()) << log_text();
    ASSERT_TRUE(until("[props] server prop 2 removed", from)) << log_text();
    server_frames(5, 0.05);
    EXPECT_TRUE(lines_since(from, "[props] server prop 1 removed").empty()) << log_text();
    EXPECT_TRUE(ts_props_find(&server, 1));
    EXPECT_FALSE(ts_props_find(&server, 2));
}

// A client that joins gets the server's props and then its id list, and
// acts on the list: a prop kept over a quick reconnect that the server no
// longer has goes.
TEST_F(props, TheIdListOnJoinRemovesWhatTheServerNoLongerHas)
{
    join_with_bot_props();
    server.props.props[0].used = false; // the server forgets prop 1 without a word
    size_t from = log_lines().size();
    // left and joined again within one frame: the props tick never sees the socket closed
    run(fmt("net disconnect\nnet connect 127.0.0.1 %u tester\n", server.port));
    ASSERT_TRUE(until("[net] joined as player", from, 100)) << log_text();
    ASSERT_TRUE(until("[props] server prop 1 is gone from the server list; removed", from)) << log_text();
    server_frames(5, 0.05);
    EXPECT_TRUE(lines_since(from, "[props] server prop 2 ").empty()) << log_text();
    EXPECT_TRUE(lines_since(from, "[props] server prop 1 removed (not connected)").empty()) << log_text();
}

TEST_F(props, CatalogResolvesTokensAndWords)
{
    CreateDirectoryA(base.c_str(), nullptr);
    std::string lines = "cone\tTraffic cone\t\t/model/cone.pmd\r\n"
                        "barrel\tRed barrel\tx\t/model/barrel_red.pmd\n"
                        "short\tonly three\n" +
                        std::string("long\t") + std::string(1100, 'x') + "\t\t/model/long.pmd\n";
    for (int i = 0; i < 11; i++)
        lines += fmt("b%d\tbox %d\t\t/model/box%d.pmd\n", i, i, i);
    fx::write_file(base + "models.txt", lines);
    start();
    EXPECT_EQ(first("model spawn CONE"), "[props] model catalog: 13 models");
    EXPECT_GE(log_find("[props] #1 spawned /model/cone.pmd"), 0) << log_text();
    EXPECT_EQ(first("model spawn red model"), "[props] spawn: /model/barrel_red.pmd isn't a .pmd in the game's files");
    // the props lines (a draw hook line may follow: this game has no draw routine)
    auto props_lines = [&](const std::string &line) {
        std::vector<std::string> out;
        for (auto &l : command(line))
            if (l.rfind("[props]", 0) == 0)
                out.push_back(l);
        return out;
    };
    auto out = props_lines("model spawn box");
    ASSERT_EQ(out.size(), 11u);
    EXPECT_EQ(out[0], "[props] 'box' matches 11 models; spawn one by its token:");
    EXPECT_EQ(out[1], fmt("[props]   %-12s %-40s %s", "b0", "box 0", "/model/box0.pmd"));
    out = props_lines("model search box");
    EXPECT_EQ(out.size(), 12u);
    EXPECT_EQ(out[0], "[props] search 'box': 11 model(s)");
    EXPECT_EQ(first("model spawn nothing"), "[props] no model matches 'nothing' (model search <words>)");
    EXPECT_EQ(first("model spawn long"), "[props] no model matches 'long' (model search <words>)");
}

TEST_F(props, NoCatalogIsReportedOnceForTheCore)
{
    start();
    EXPECT_EQ(first("model spawn cone"),
              "[props] no model catalog at " + appdata + "\\drovemark\\models.txt (README.md says how to make models.txt)");
    fx::write_file(base + "models.txt", "cone\tc\t\t/model/cone.pmd\n");
    EXPECT_EQ(command("model spawn cone"), std::vector<std::string>{});
}

TEST_F(props, CatalogStopsAtItsCap)
{
    CreateDirectoryA(base.c_str(), nullptr);
    std::string lines;
    lines.reserve(65538 * 40);
    for (int i = 0; i < 65538; i++)
        lines += fmt("t%d\tmodel %d\t\t/model/m%d.pmd\n", i, i, i);
    fx::write_file(base + "models.txt", lines);
    start();
    auto out = command("model spawn t65535");
    ASSERT_GE(out.size(), 3u) << log_text();
    EXPECT_EQ(out[0], "[props] model catalog: stopped at 65536 models; the rest of models.txt is skipped");
    EXPECT_EQ(out[1], "[props] model catalog: 65536 models");
    EXPECT_EQ(out[2], "[props] spawn: /model/m65535.pmd isn't a .pmd in the game's files");
    EXPECT_EQ(first("model spawn t65536"), "[props] no model matches 't65536' (model search <words>)");
    EXPECT_EQ(log_count("[props] model catalog: stopped at"), 1);
}

TEST_F(props, DrawnByTheDetourOnTheRenderThread)
{
    sim::draw_world dw = sim::draw_install();
    start();
    for (int i = 0; i < 64; i++)
        run(fmt("model spawn %s %d %d\n", cone, 5 + i % 8, i / 8));
    sim::frames(2, 0.05);
    sim::draw_thread_start();
    ASSERT_TRUE(sim::draw_wait_frames(5));
    sim::draw_thread_stop();
    auto models = sim::models_made();
    ASSERT_EQ(models.size(), 64u);
    for (auto *m : models) {
        auto seen = sim::model_draws(m);
        EXPECT_GE(seen.draws, 1u);
        EXPECT_EQ(seen.context, as_address(dw.draw_context));
        EXPECT_EQ(seen.render_word, 1u);
        EXPECT_NE(seen.draw_thread, GetCurrentThreadId());
    }
    EXPECT_EQ(sim::get<uint32_t>(dw.render, sim::render_word), 0u);
}

// A model draw of the old core held inside the game's draw across a hot
// reload: the game goes on, the draw returns into the props block its pass
// read (the pass goes on to draw the next prop in that frame), the new
// core's despawn of the held prop waits for it, and afterwards the new core
// draws its props.
TEST_F(props, ADrawHeldAcrossACoreReloadReturnsIntoItsBlock)
{
    sim::draw_install();
    start();
    run(fmt("model spawn %s 10 0\nmodel spawn %s 14 0\n", cone, cone));
    sim::frames(2, 0.05);
    auto models = sim::models_made();
    ASSERT_EQ(models.size(), 2u);
    uint8_t *held = models[0], *next = models[1];
    sim::draw_thread_start();
    ASSERT_TRUE(sim::draw_wait_frames(3));
    sim::unit_draw_hold(held);
    uint64_t frame = 0;
    ASSERT_TRUE(sim::unit_draw_held(2000, &frame));

    fx::set_write_time(base + "core\\drovemark_core.dll", 120.0);
    for (int i = 0; i < 20 && log_find("[host] core generation 2 loaded") < 0; i++)
        sim::frames(1, 0.1);
    ASSERT_GE(log_find("[host] core generation 2 loaded"), 0) << log_text();
    EXPECT_GE(log_find("[props] 2 prop(s) kept from before the reload"), 0) << log_text();
    run("model despawn 1\n");
    sim::frames(6, 0.05);
    EXPECT_LT(log_find("[props] #1 released"), 0) << "released under the old core's held draw";

    ASSERT_TRUE(sim::unit_draw_let_go());
    EXPECT_TRUE(sim::model_drawn_in_frame(next, frame)) << "the held pass could not read its block any more";
    for (int i = 0; i < 20 && log_find("[props] #1 released") < 0; i++)
        sim::frames(1, 0.05);
    EXPECT_GE(log_find("[props] #1 released"), 0) << log_text();
    run(fmt("model spawn %s 18 0\n", cone));
    sim::frames(2, 0.05);
    ASSERT_EQ(sim::models_made().size(), 3u);
    uint8_t *third = sim::models_made()[2];
    uint64_t before = sim::model_draws(next).draws;
    ASSERT_TRUE(sim::draw_wait_frames(3));
    EXPECT_GT(sim::model_draws(next).draws, before);
    EXPECT_GT(sim::model_draws(third).draws, 0u);
    sim::draw_thread_stop();
    EXPECT_EQ(sim::destroyed(held), 1);
    EXPECT_EQ(sim::unit_problems(), std::vector<std::string>{});
}

// Joined: a local prop spawned before the join and server props (the bot's
// and our own echo) are kept by two real core loads through the plug-in's
// hot reload; the connection is carried across (same id, no second join),
// the server's resent props match the kept ones, ids go on, and nothing is
// released twice.
TEST_F(props, KeptAcrossTwoCoreReloadsWithIdsGoingOn)
{
    ASSERT_TRUE(ts_start(&server, 0));
    server_up = true;
    start();
    run(fmt("model spawn %s 10 0\nmodel spawn %s 20 0\nmodel despawn 2\n", cone, cone));
    server_frames(4, 0.05);
    EXPECT_GE(log_find("[props] #2 released"), 0) << log_text();
    run(fmt("net connect 127.0.0.1 %u tester\n", server.port));
    ASSERT_TRUE(until("[net] joined as player", 0, 100)) << log_text();
    uint16_t id = our_id();
    uint16_t bot = ts_add_bot(&server, "bot", sim::clock_now());
    prop_state b = state_at(130, 10, 40);
    size_t from = log_lines().size();
    ts_props_place_as(&server, bot, &b);
    ASSERT_TRUE(until("[props] server prop 1 (by player", from)) << log_text();
    run(fmt("model spawn %s 5 0\n", cone));
    ASSERT_TRUE(until("[props] server prop 2 (by player", from)) << log_text();
    EXPECT_EQ(lines_since(from, "[props] server prop 2 (by player")[0],
              fmt("[props] server prop 2 (by player %u): /model/cone.pmd at (100.0, 10.0, 45.0), local #4", id));
    ASSERT_EQ(sim::models_made().size(), 4u);

    std::string file = base + "core\\drovemark_core.dll";
    for (int gen = 2; gen <= 3; gen++) {
        fx::set_write_time(file, 60.0 * gen);
        for (int i = 0; i < 20 && log_find(fmt("[host] core generation %d loaded", gen)) < 0; i++)
            server_frames(1, 0.1);
        ASSERT_GE(log_find(fmt("[host] core generation %d loaded", gen)), 0) << log_text();
        server_frames(10, 0.05);
    }
    EXPECT_EQ(log_count("[props] 3 prop(s) kept from before the reload"), 2) << log_text();
    for (auto &l : lines_since(0, "[net] joined as player"))
        EXPECT_EQ(l, fmt("[net] joined as player %u", id)) << "rejoined as ourselves";
    EXPECT_EQ(our_id(), id);
    EXPECT_EQ(server.props.creates, 2u) << "the bot's and ours, nothing sent again";
    auto after = lines_since(from, "[props] server prop ");
    for (auto &l : after)
        EXPECT_EQ(l.find("removed"), std::string::npos) << l;
    EXPECT_EQ(lines_since(from, "[props] server prop 1 (by player").size(), 1u) << log_text();
    EXPECT_EQ(sim::models_made().size(), 4u) << "no prop made twice";

    // ids go on, local and server
    from = log_lines().size();
    run(fmt("model spawn %s 15 0\n", cone));
    ASSERT_TRUE(until("[props] server prop 3 (by player", from)) << log_text();
    EXPECT_NE(lines_since(from, "[props] server prop 3 (by player")[0].find(", local #5"), std::string::npos)
        << log_text();
    // the server still drives the kept props
    ts_props_remove(&server, 1);
    ASSERT_TRUE(until("[props] server prop 1 removed", from)) << log_text();
    server_frames(5, 0.05);
    EXPECT_EQ(log_count("[props] #1 released"), 0);
    EXPECT_EQ(log_count("[props] #3 released"), 1) << log_text();
    auto models = sim::models_made();
    ASSERT_EQ(models.size(), 5u);
    int want[] = { 0, 1, 1, 0, 0 };
    for (size_t i = 0; i < models.size(); i++)
        EXPECT_EQ(sim::destroyed(models[i]), want[i]) << i;
    EXPECT_EQ(sim::unit_problems(), std::vector<std::string>{});
}

} // namespace
