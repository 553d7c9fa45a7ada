// The spawned vehicle's motion in the simulated game, through the core's
// own code: the circle and paused frames, the trail behind the local truck,
// the net mode from a remote player's interpolated pose, the light word and
// the game's update, steering and wheels, and collision.
//
// Index
//   modes       circle, pause, trail, net
//   the frame   light word, update, wheel debug
//   animation   steering at 0.3 and 0.31 m/s, wheels, more than 32 wheels
//   collision   the part chain, limits, faults, after finalize
#include "spawn_fixture.h"
#include <math.h>
#include "net/net.h"
#include "net/net_internal.h"
#include "net/net_wire.h"

namespace {

using namespace spawn_fx;

sim::placement32 last_placed(const uint8_t *veh) { return sim::vehicle_placements(veh).back(); }

double world_x(const sim::placement32 &p) { return p.sector_x * 512.0 + p.x; }
double world_z(const sim::placement32 &p) { return p.sector_z * 512.0 + p.z; }

/* ---- modes ---- */

// Radius 20 at 5 m/s: 0.125 rad per half second, from where the vehicle
// stood; a paused frame places and updates but does not move, and the step
// after it covers one frame.
TEST_F(spawn_test, CircleAndPausedFrames)
{
    uint8_t *veh = spawned(1.0);
    spawn_move_circle(100.0, 0.0, 50.0); // the vehicle is at (106, 10, 50): angle 0
    EXPECT_EQ(spawn_state.circle_angle, 0.0);
    struct { double t; bool paused; double angle; } frames[] = {
        { 2.0, false, 0.0 }, { 2.5, false, 0.125 }, { 3.0, true, 0.125 }, { 3.5, false, 0.25 },
    };
    for (auto &f : frames) {
        sim::calls_clear();
        tick(f.t, f.paused);
        EXPECT_EQ(call_names({ "set_placement", "update" }), (std::vector<std::string>{ "set_placement", "update" }))
            << f.t;
        sim::placement32 p = last_placed(veh);
        EXPECT_NEAR(world_x(p), 100 + 20 * cos(f.angle), 1e-4) << f.t;
        EXPECT_NEAR(world_z(p), 50 + 20 * sin(f.angle), 1e-4) << f.t;
        EXPECT_FLOAT_EQ(p.y, 0.0f);
        EXPECT_NEAR(p.qw, cos((M_PI - f.angle) / 2), 1e-6) << f.t;
        EXPECT_NEAR(p.qy, sin((M_PI - f.angle) / 2), 1e-6) << f.t;
    }
    EXPECT_EQ(spawn_state.last_update, 3.5);
}

// The vehicle keeps its place while the trail is shorter than the
// distance, then stands exactly that far back along it.
TEST_F(spawn_test, FollowsTheTrail)
{
    uint8_t *veh = spawned(1.0);
    spawn_state.follow_distance = 5.0;
    spawn_move_follow(); // one sample at the vehicle, (106, 10, 50)
    struct { float truck_x, truck_y; double x; } frames[] = {
        { 110, 10, 106 },   // 4 m of trail: stays
        { 110, 14, 106 },   // climbing straight up takes no sample
        { 111, 10, 106 },   // 1 + 4: exactly the distance, at the oldest sample
        { 112, 10, 107 },   // 1 + 1 + 3 of 4
    };
    double t = 2.0;
    for (auto &f : frames) {
        truck_at(f.truck_x, f.truck_y, 50.0f);
        tick(t += 0.5);
        EXPECT_NEAR(world_x(last_placed(veh)), f.x, 1e-5) << f.truck_x;
        EXPECT_NEAR(world_z(last_placed(veh)), 50.0, 1e-5);
    }
    // The local truck gone: the vehicle keeps its placement.
    sim::placement32 none = {};
    sim::player_set_placement(&none, false);
    tick(t += 0.5);
    EXPECT_NEAR(world_x(last_placed(veh)), 107, 1e-5);
}

struct remote {
    uint32_t seq = 1;
    void state(double sender_t, const net_pose &s)
    {
        uint8_t b[160];
        int n = net_build_state(b, sizeof b, (uint32_t)llround(sender_t * 1000), &s, 0);
        ASSERT_GT(n, 0);
        net_roster_on_state(2, seq++, b, (size_t)n, sender_t + 10.0);
        net_roster_find(2)->offset = 10.0;
    }
};

net_pose pose_at(double x, uint32_t lights, uint8_t horns, float steering)
{
    net_pose s = {};
    s.flags = 4;
    s.pos[0] = x;
    s.pos[1] = 12.5;
    s.pos[2] = -700.25;
    s.rot[0] = 0.8f;
    s.rot[2] = 0.6f;
    s.has_lights = 1;
    s.lights = lights;
    s.horns = horns;
    s.steering = steering;
    s.has_trailer = 1;
    s.trailer_pos[0] = x - 8;
    s.trailer_pos[1] = 12.5;
    s.trailer_pos[2] = -700.25;
    s.trailer_rot[0] = 1;
    return s;
}

// Net mode places the vehicle at the remote player's pose as sampled for
// the frame, takes its lights into the light word without the game's bit,
// logs light and horn changes (not the 0x40/0x80 ones), steers toward it.
TEST_F(spawn_test, NetModeFollowsTheRemotePose)
{
    net_roster_reset();
    uint8_t name[] = { 3, 'b', 'o', 'b' };
    net_roster_on_joined(2, 1, name, sizeof name, 1.0);
    uint8_t *veh = spawned(1.0);
    sim::put<uint32_t>(veh, sim::phys::lights, 0x200);
    spawn_state.move_mode = MOVE_NET;
    spawn_state.net_player = 2;
    remote r;
    r.state(1.0, pose_at(1000.0, 0x241, 1, 0.8f));
    r.state(1.1, pose_at(1001.0, 0x241, 1, 0.8f));
    tick(11.2); // render time 1.05: half way

    net_pose want;
    ASSERT_TRUE(net_sample_player(2, 11.2, &want));
    EXPECT_NEAR(want.pos[0], 1000.5, 1e-6);
    sim::placement32 p = last_placed(veh);
    placement expect;
    placement_from_world(&expect, want.pos[0], want.pos[1], want.pos[2], want.rot[0], want.rot[1], want.rot[2],
                         want.rot[3]);
    EXPECT_EQ(memcmp(&p, &expect, sizeof p), 0);
    EXPECT_EQ(p.sector_x, 2);
    EXPECT_EQ(p.sector_z, -1);
    placement trailer;
    placement_from_world(&trailer, want.trailer_pos[0], want.trailer_pos[1], want.trailer_pos[2], want.trailer_rot[0],
                         want.trailer_rot[1], want.trailer_rot[2], want.trailer_rot[3]);
    EXPECT_EQ(memcmp(&spawn_state.net_trailer, &trailer, sizeof trailer), 0);
    EXPECT_EQ(spawn_state.net_pose_valid, 1);
    EXPECT_EQ(spawn_state.net_has_trailer, 1);
    EXPECT_EQ(spawn_state.net_has_extra, 1);
    EXPECT_EQ(sim::get<uint32_t>(veh, sim::phys::lights), 0x241u);
    EXPECT_EQ(fx::captured(), std::vector<std::string>{ "[core] net: remote lights 00000241 horns 1" });
    EXPECT_FLOAT_EQ(sim::get<float>(veh, sim::phys::steering), 0.8f * 0.3f);

    // The game's bit is the game's: off in the word, it stays off.
    sim::put<uint32_t>(veh, sim::phys::lights, 0);
    r.state(1.2, pose_at(1002.0, 0x2C1, 1, 0.8f)); // 0x80 changes: not logged
    tick(11.3);
    EXPECT_EQ(sim::get<uint32_t>(veh, sim::phys::lights), 0xC1u);
    EXPECT_EQ(fx::captured().size(), 1u);
    r.state(1.3, pose_at(1003.0, 0x2C1, 2, 0.8f));
    tick(11.4);
    EXPECT_EQ(fx::captured_last(), "[core] net: remote lights 000002c1 horns 2");

    // A player who is not there leaves the vehicle where it was.
    spawn_state.net_player = 9;
    size_t placed = sim::vehicle_placements(veh).size();
    sim::placement32 before = last_placed(veh);
    tick(11.5);
    ASSERT_EQ(sim::vehicle_placements(veh).size(), placed + 1);
    sim::placement32 after = last_placed(veh);
    EXPECT_EQ(memcmp(&before, &after, sizeof before), 0);
    net_roster_reset();
}

/* ---- the frame ---- */

namespace {
uint32_t lights_in_update;
void lights_at_update(const sim::call &c)
{
    if (c.name == "update")
        lights_in_update = (uint32_t)c.args[1];
}
} // namespace

// Forced flags replace the light word but the game's bit 0x200; the update
// never sees that bit and finds it put back; "tick off" skips the update.
TEST_F(spawn_test, LightWordAndTheGamesUpdate)
{
    struct { uint32_t word, forced, after; } rows[] = {
        { 0x200, 0x1034, 0x1234 },
        { 0x000, 0x1234, 0x1034 },
        { 0x3FF, 0x0000, 0x0200 },
    };
    for (auto &r : rows) {
        SetUp();
        uint8_t *veh = spawned();
        sim::calls_observe(lights_at_update);
        sim::put<uint32_t>(veh, sim::phys::lights, r.word);
        spawn_state.forced_on = 1;
        spawn_state.forced_word = r.forced;
        tick(2.0);
        EXPECT_EQ(sim::get<uint32_t>(veh, sim::phys::lights), r.after) << std::hex << r.forced;
        EXPECT_EQ(lights_in_update, r.after & ~0x200u) << std::hex << r.forced;
    }
    spawn_state.forced_on = 0;
    spawn_state.tick_on = 0;
    sim::calls_clear();
    tick(3.0);
    EXPECT_EQ(call_names({ "set_placement", "update" }), std::vector<std::string>{ "set_placement" });
}

TEST_F(spawn_test, WheelDebugLogsAroundTheUpdate)
{
    uint8_t *veh = spawned();
    uint8_t *block = sim::wheel_block_new(veh, 2, 2, 1.0f, {});
    sim::wheel_spins(block)[0] = 1.5f;
    sim::put<float>(veh, sim::phys::steering, 0.25f);
    spawn_state.wheel_debug = 2;
    tick(1.0); // no time passed: nothing animated
    tick(1.0);
    tick(1.0);
    auto lines = fx::captured();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "[core] wheeldbg: spin[0] before update 1.5000 after 1.5000 | steer before 0.250 after 0.250");
    EXPECT_EQ(spawn_state.wheel_debug, 0u);
}

/* ---- animation ---- */

// At exactly 0.3 m/s the steering value stays; at 0.31 it moves 15 % toward
// the target (0: no turn). Wheels spin by their radius (0.05 and missing
// ones count 0.5), their angles turn, the steering object is called; with
// more than 32 wheels only the steering value is written.
TEST_F(spawn_test, SteeringAndWheels)
{
    uint8_t *veh = spawned(1.0);
    spawn_state.steering = 0.5f;
    spawn_state.place.z = 49.625f; // 0.375 m forward (-z) in 1.25 s
    tick(2.25);
    EXPECT_EQ(sim::get<float>(veh, sim::phys::steering), 0.5f);

    uint8_t *block = sim::wheel_block_new(veh, 3, 2, 2.0f, { 0.4f, 0.05f });
    sim::wheel_angles(block)[0] = 1.0f;
    sim::wheel_angles(block)[1] = 7.0f;
    sim::put<float>(veh, sim::phys::time_scale, 0.5f);
    uint8_t *steer = sim::steering_object_new(veh);
    float z = 49.625f - 0.3875f;
    spawn_state.place.z = z;
    tick(3.5);
    double v = (49.625 - (double)z) / 1.25;
    ASSERT_GT(v, 0.3);
    float value = (float)(0.5 + (0.0 - 0.5) * 0.15);
    EXPECT_FLOAT_EQ(sim::get<float>(veh, sim::phys::steering), value);
    double factor = (frame_us * 1e-6) / 0.5;
    const float radius[3] = { 0.4f, 0.5f, 0.5f };
    float spin[3];
    for (int i = 0; i < 3; i++) {
        spin[i] = (float)(v * factor / radius[i]);
        EXPECT_FLOAT_EQ(sim::wheel_spins(block)[i], spin[i]) << i;
    }
    EXPECT_FLOAT_EQ(sim::wheel_angles(block)[0], fmodf(1.0f - 2.0f * spin[0], 6.2831855f));
    EXPECT_FLOAT_EQ(sim::wheel_angles(block)[1], fmodf(7.0f - 2.0f * spin[1], 6.2831855f));
    auto steers = sim::calls_named("steer");
    ASSERT_EQ(steers.size(), 1u);
    EXPECT_EQ(steers[0].args[0], u(steer));
    float got;
    uint32_t bits = (uint32_t)steers[0].args[1];
    memcpy(&got, &bits, 4);
    EXPECT_FLOAT_EQ(got, value);
    EXPECT_EQ(steers[0].args[2], 1u);
    EXPECT_TRUE(logged(fmt("[core] wheels: n=3 radii=2 (r0=0.400) veh+0x238=0.5000 frame_us=%llu angles=2 k=2.00000",
                           (unsigned long long)frame_us)))
        << log_text();

    // 33 wheels: spins, angles and the steering object untouched.
    uint8_t *many = sim::wheel_block_new(veh, 33, 33, 2.0f, {});
    for (int i = 0; i < 33; i++)
        sim::wheel_spins(many)[i] = sim::wheel_angles(many)[i] = 9.0f;
    sim::calls_clear();
    spawn_state.place.z = z - 1.0f;
    tick(4.0);
    for (int i = 0; i < 33; i++) {
        EXPECT_EQ(sim::wheel_spins(many)[i], 9.0f) << i;
        EXPECT_EQ(sim::wheel_angles(many)[i], 9.0f) << i;
    }
    EXPECT_TRUE(sim::calls_named("steer").empty());
    EXPECT_FLOAT_EQ(sim::get<float>(veh, sim::phys::steering), (float)(value + (0.0 - value) * 0.15));
    EXPECT_EQ(fx::captured().size(), 1u) << "the wheel line once per core life";
}

/* ---- collision ---- */

// The vehicle's class reaches both classes: its five arrays, the two of
// each class, then its chained part; a part whose class reaches only the
// first ends the walk. Null elements are skipped.
TEST_F(spawn_test, CollisionWalksThePartChain)
{
    uint8_t *veh = spawned();
    uint8_t *cab = sim::game_at(sim::phys::cab_class), *chained = sim::game_at(sim::phys::chained_class);
    auto e0 = sim::collision_elements(veh, 0x40, 3, 1);
    auto e_cab = sim::collision_elements(veh, 0x13C8, 1);
    auto e_chained = sim::collision_elements(veh, 0xFD0, 1);
    uint8_t *part1 = sim::vehicle_part_new(chained), *part2 = sim::vehicle_part_new(cab);
    uint8_t *part3 = sim::vehicle_part_new(chained);
    sim::put<uint64_t>(veh, sim::phys::next_part, u(part1));
    sim::put<uint64_t>(part1, sim::phys::next_part, u(part2));
    sim::put<uint64_t>(part2, sim::phys::next_part, u(part3));
    auto p1a = sim::collision_elements(part1, 0xF88, 1), p1b = sim::collision_elements(part1, 0x10A8, 1);
    auto p2a = sim::collision_elements(part2, 0xB0, 1), p2b = sim::collision_elements(part2, 0x13F0, 1);
    sim::collision_elements(part2, 0xFD0, 1);
    sim::collision_elements(part3, 0x40, 1);
    uint8_t *trailer = sim::vehicle_part_new(cab);
    auto t = sim::collision_elements(trailer, 0xED0, 1);
    spawn_set_trailer_state(SPAWN_SPAWNED);
    spawn_state.trailer_actor = u(trailer);

    spawn_state.collision_on = 0;
    spawn_apply_collision("command");
    std::vector<uint64_t> want = { u(e0[0]), u(e0[2]), u(e_cab[0]), u(e_chained[0]), u(p1a[0]),
                                   u(p1b[0]), u(p2a[0]), u(p2b[0]), u(t[0]) };
    std::vector<uint64_t> got;
    for (auto &c : sim::calls_named("collide_off"))
        got.push_back(c.args[0]);
    EXPECT_EQ(got, want);
    EXPECT_TRUE(sim::calls_named("collide_on").empty());
    EXPECT_EQ(fx::captured_last(), "[core] collision OFF (ghost) for our vehicles (command)");

    sim::calls_clear();
    spawn_state.collision_on = 1;
    spawn_apply_collision("command");
    EXPECT_EQ(sim::calls_named("collide_on").size(), want.size());
    EXPECT_EQ(fx::captured_last(), "[core] collision ON for our vehicles (command)");
}

// At most four parts and 256 elements an array; a fault is reported and
// changes nothing else.
TEST_F(spawn_test, CollisionLimitsAndFaults)
{
    uint8_t *veh = spawned();
    uint8_t *chained = sim::game_at(sim::phys::chained_class);
    sim::collision_elements(veh, 0x40, 300);
    uint8_t *prev = veh;
    for (int i = 0; i < 5; i++) {
        uint8_t *part = sim::vehicle_part_new(chained);
        sim::collision_elements(part, 0x40, 1);
        sim::put<uint64_t>(prev, sim::phys::next_part, u(part));
        prev = part;
    }
    EXPECT_TRUE(vehicle_set_collision(u(veh), 0));
    EXPECT_EQ(sim::calls_named("collide_off").size(), 256u + 3u);

    uint8_t *bad = sim::object_new(0x10);
    sim::game_protect(bad, 0x10, PAGE_NOACCESS);
    uint8_t *data = sim::object_new(8);
    sim::put<uint64_t>(data, 0, u(bad));
    sim::put<uint64_t>(veh, 0xB0 + 8, u(data));
    sim::put<uint64_t>(veh, 0xB0 + 0x10, 1);
    spawn_state.collision_on = 0;
    spawn_apply_collision("command");
    EXPECT_EQ(fx::captured_last(), "[core] collision OFF (ghost) for our vehicles (command) -- FAULTED");
    EXPECT_EQ(spawn_state_value(), SPAWN_SPAWNED);
}

// With collision off, a new vehicle is switched off right after finalize.
TEST_F(spawn_test, CollisionOffAfterFinalize)
{
    spawn_state.collision_on = 0;
    spawn_vehicle(6.0f, nullptr, 0);
    auto e = sim::collision_elements(vehicle(), 0x40, 1);
    tick(1.0);
    tick(1.0);
    ASSERT_EQ(spawn_state_value(), SPAWN_SPAWNED);
    auto off = sim::calls_named("collide_off");
    ASSERT_EQ(off.size(), 1u);
    EXPECT_EQ(off[0].args[0], u(e[0]));
    EXPECT_TRUE(logged("[core] collision OFF (ghost) for our vehicles (new truck)"));
}

} // namespace
