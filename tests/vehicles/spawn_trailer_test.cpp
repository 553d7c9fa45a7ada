// The spawned trailer in the simulated game, through the core's own code:
// the game calls of copying the player's trailer, loading and finalize in
// their order; rigid and articulated rigs; following the truck; every
// refusal and fault with its line and the reference words of what was (not)
// released; removal.
//
// Index
//   fixture    the player's coupled rig, a spawned trailer
//   spawning   the call order, rigid and articulated, chained parts
//   following  the wanted pose as the truck moves, wheels
//   refusals   every refusal and fault path
//   removal    trailer off, while loading, with the truck, remote
#include "spawn_fixture.h"
#include <math.h>
#include <string.h>
#include <functional>
#include "runtime/hooks.h"

namespace {

using namespace spawn_fx;

const std::vector<std::string> game_calls = {
    "create_unit", "set_data",  "is_loaded",   "continue_loading", "finalize",           "pre_add",
    "slot_328",    "ctrl_add_vehicle", "body_190", "set_placement", "cargo_delete", "update",
    "ctrl_remove_vehicle",
};

const float identity[4] = { 1, 0, 0, 0 };

/* The trailer state the draw detours would read when the game is told to
 * remove or release the trailer actor; -1 when it was not. */
const void *watched_actor;
int state_at_removal;
void watch_removal(const void *object)
{
    if (object == watched_actor && state_at_removal != 1 && state_at_removal != 2)
        state_at_removal = spawn_trailer_state_value();
}

/* ---- fixture ---- */

class trailer_test : public spawn_test {
protected:
    uint8_t *source_def = nullptr; /* the player's trailer's definition */
    uint8_t *rig = nullptr;        /* the player's trailer actor */

    void SetUp() override
    {
        spawn_test::SetUp();
        trailer_rig = trailer_rig_record{};
        memset((void *)&hook_stats, 0, sizeof hook_stats);
    }
    void TearDown() override
    {
        trailer_rig = trailer_rig_record{};
        spawn_test::TearDown();
    }

    static sim::placement32 at(float x, float y, float z, const float q[4] = identity)
    {
        return { x, y, z, 0, 0, q[0], q[1], q[2], q[3] };
    }
    /* The player's trailer 8 m behind the truck at (100, 10, 50), coupled,
     * with the kingpin given (none: no physics data). */
    uint8_t *player_rig(const float *kingpin = nullptr)
    {
        source_def = sim::def_new(sim::def_kind::trailer, "TR 1");
        rig = sim::player_trailer_new(pl, source_def);
        sim::vehicle_set_placement(rig, at(100, 10, 58));
        sim::trailer_couple(rig, pl.truck);
        if (kingpin)
            sim::trailer_kingpin(rig, kingpin[0], kingpin[1], kingpin[2]);
        return rig;
    }
    uint8_t *actor() { return p(spawn_state.trailer_actor); }
    /* spawn_trailer on a spawned vehicle, then two ticks: loaded and placed. */
    uint8_t *spawned_trailer(double t = 2.0)
    {
        spawn_trailer();
        EXPECT_EQ(spawn_trailer_state_value(), SPAWN_LOADING) << log_text();
        tick(t);
        tick(t + 0.1);
        EXPECT_EQ(spawn_trailer_state_value(), SPAWN_SPAWNED) << log_text();
        return actor();
    }
    static sim::placement32 last_placement(const void *object)
    {
        auto all = sim::vehicle_placements(object);
        return all.empty() ? sim::placement32{} : all.back();
    }
    static double yaw(const sim::placement32 &q)
    {
        return atan2(2.0 * (q.qw * q.qy + q.qx * q.qz), 1.0 - 2.0 * (q.qx * q.qx + q.qy * q.qy));
    }
};

/* ---- spawning ---- */

// create_unit of the trailer actor class (not the definition class),
// set_data with 0x40A, loading, finalize with its pre-adds, slot +0x328, the
// add, each part's body and dynamic cargo, placement, then the first frame.
TEST_F(trailer_test, CopiesThePlayersTrailerInTheGamesOrder)
{
    const float kingpin[3] = { 0, 1, -5 };
    player_rig(kingpin);
    sim::vehicle_set_placement(sim::trailer_part_new(rig), at(100, 10, 70));
    uint32_t source_word = sim::refword(source_def);
    spawned();
    sim::trailer_actor_parts(1);
    uint32_t builds = spawn_trailer_builds();

    spawn_trailer();
    ASSERT_EQ(spawn_trailer_state_value(), SPAWN_LOADING) << log_text();
    uint8_t *a = actor(), *part = p(sim::get<uint64_t>(a, sim::trl::next_part));
    uint8_t *def = p(spawn_state.trailer_definition);
    ASSERT_NE(def, source_def);
    EXPECT_EQ(sim::def_plate(def), "DROVEMARK|california");
    EXPECT_EQ(sim::refword(source_def), source_word) << "the player's definition is untouched";
    EXPECT_EQ(sim::refword(a), 0x20000001u);
    EXPECT_EQ(sim::refword(def), 0x20000002u) << "ours and the actor's";
    uint8_t *body = sim::body_new(0);
    sim::put<uint64_t>(part, sim::trl::body, u(body));
    uint8_t *cargo = sim::dynamic_cargo_new(a);
    EXPECT_TRUE(logged(fmt("[core] trailer: actor=%p, set_data(def, 0x40a)", a))) << log_text();
    EXPECT_TRUE(logged("[core] trailer: loading (state 0)"));

    tick(2.0);
    tick(2.1);
    ASSERT_EQ(spawn_trailer_state_value(), SPAWN_SPAWNED) << log_text();
    std::vector<std::string> trailer_calls;
    for (auto &c : sim::calls())
        for (auto &w : game_calls)
            if (c.name == w && !(c.args[0] == u(vehicle()) && (w == "set_placement" || w == "update")))
                trailer_calls.push_back(c.name);
    EXPECT_EQ(trailer_calls,
              (std::vector<std::string>{ "create_unit", "set_data", "is_loaded", "continue_loading", "is_loaded",
                                         "finalize", "pre_add", "slot_328", "ctrl_add_vehicle", "pre_add", "pre_add",
                                         "body_190", "cargo_delete", "set_placement", "set_placement" }));
    auto one = [](const char *name) { return sim::calls_named(name).at(0); };
    EXPECT_EQ(one("create_unit").args[0], 0x141E18250ull);
    EXPECT_EQ(one("set_data").args[1], u(def));
    EXPECT_EQ(one("set_data").args[2], 0x40Au);
    EXPECT_EQ(sim::calls_named("finalize").back().args[2], 0x40Au);
    EXPECT_EQ(one("slot_328").args[1], 1u);
    EXPECT_EQ(sim::calls_named("ctrl_add_vehicle").back().args[1], u(a));
    EXPECT_EQ(one("body_190").args[0], u(body));
    EXPECT_EQ(one("cargo_delete").args[0], u(cargo));
    EXPECT_EQ(one("cargo_delete").args[1], 1u);
    EXPECT_EQ(sim::get<uint64_t>(a, sim::trl::dynamic_cargo), 0u);
    EXPECT_TRUE(sim::vehicle_listed(a));
    EXPECT_EQ(spawn_trailer_builds(), builds + 1) << "counted, so the frame clears the trailer's draw faults";
    EXPECT_TRUE(logged(fmt("[core] trailer finalize: deleting dynamic-cargo object %p", cargo)));
    EXPECT_TRUE(logged("[core] trailer complete (articulated mode)")) << log_text();

    // The chained part follows 12 m behind the trailer.
    auto part_at = last_placement(part);
    EXPECT_NEAR(part_at.x, 106.0f, 1e-3) << "behind our vehicle, 6 m right of the truck";
    EXPECT_NEAR(part_at.z, 70.0f, 1e-3);

    // The next frame places and updates the trailer.
    sim::calls_clear();
    tick(2.2);
    EXPECT_EQ(sim::calls_named("update").back().args[0], u(a));

    fx::captured_clear();
    spawn_trailer();
    EXPECT_EQ(fx::captured(), std::vector<std::string>{ "[core] trailer: already there; `trailer off` first" });
}

// Rigid and articulated rigs from the kingpin: every one stands where the
// player's trailer stood relative to the truck.
TEST_F(trailer_test, RigidOrArticulatedFromTheKingpin)
{
    const float nan = NAN;
    struct row {
        const char *name;
        bool physics;
        float kingpin[3];
        uint32_t mode;
        double drag;
        const char *line;
    } rows[] = {
        { "articulated", true, { 0, 1, -5 }, TRAILER_ARTICULATED, 5.0, "[core] trailer: articulated mode, drag length 5.00 m" },
        { "short drag", true, { 0, 1, -2.5f }, TRAILER_ARTICULATED, 6.0, "[core] trailer: articulated mode, drag length 6.00 m" },
        { "far kingpin", true, { 0.5f, 1, 25 }, TRAILER_RIGID, 6.0, "[core] trailer: hitch values implausible; rigid mode (no articulation)" },
        { "nan kingpin", true, { nan, 1, -5 }, TRAILER_RIGID, 6.0, "[core] trailer: hitch values implausible; rigid mode (no articulation)" },
        { "hitch off the truck", true, { 0, 1, -17 }, TRAILER_RIGID, 6.0, "[core] trailer: hitch values implausible; rigid mode (no articulation)" },
        { "no physics", false, { 0, 0, 0 }, TRAILER_RIGID, 6.0, "[core] trailer: no physics data; rigid mode" },
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        SetUp();
        player_rig(r.physics ? r.kingpin : nullptr);
        spawned();
        uint8_t *a = spawned_trailer();
        EXPECT_EQ(trailer_rig.mode, r.mode);
        EXPECT_DOUBLE_EQ(trailer_rig.drag_length, r.drag);
        EXPECT_TRUE(logged(r.line)) << log_text();
        EXPECT_TRUE(logged("[core] trailer: rig offset in truck frame (0.000, 0.000, 8.000), articulation 0.0 deg"));
        auto placed = last_placement(a);
        EXPECT_NEAR(placed.x, 106.0f, 1e-3) << "behind our vehicle, 6 m right of the truck";
        EXPECT_NEAR(placed.y, 10.0f, 1e-3);
        EXPECT_NEAR(placed.z, 58.0f, 1e-3);
        EXPECT_NEAR(placed.qw, 1.0f, 1e-5);
        TearDown();
    }
}

// The info report logs the wanted pose without moving the drag point or the
// last hitch: after it the next frame swings the trailer as it would have.
TEST_F(trailer_test, TheInfoReportChangesNothing)
{
    const float kingpin[3] = { 0, 1, -5 };
    player_rig(kingpin);
    spawned();
    spawned_trailer();
    ASSERT_EQ(trailer_rig.mode, (uint32_t)TRAILER_ARTICULATED);
    // The vehicle moved since the trailer's last frame (a move command does that).
    spawn_state.place.x += 3.0f;
    spawn_state.place.z -= 2.0f;
    trailer_rig_record before = trailer_rig;
    fx::captured_clear();
    trailer_info();
    EXPECT_TRUE(logged(fmt("[core] trailer info: actor=%p state=2 load=1 refword=20000001 def=%p next=%p master=%p "
                           "joint=%p mode=0",
                           (void *)actor(), (void *)(uintptr_t)sim::get<uint64_t>(actor(), sim::trl::definition),
                           nullptr, nullptr, nullptr)))
        << log_text();
    EXPECT_EQ(trailer_rig.drag_set, before.drag_set);
    EXPECT_EQ(trailer_rig.drag_point[0], before.drag_point[0]) << "the diagnostic moved the drag point";
    EXPECT_EQ(trailer_rig.drag_point[1], before.drag_point[1]);
    EXPECT_EQ(trailer_rig.last_hitch[0], before.last_hitch[0]);
    EXPECT_EQ(trailer_rig.last_hitch[1], before.last_hitch[1]);
    EXPECT_EQ(memcmp(&trailer_rig.place, &before.place, sizeof before.place), 0);
}

// At most three chained parts are measured; a part of another class or
// without a placement ends the walk; a trailer the game made with fewer
// parts than measured places what it has.
TEST_F(trailer_test, ChainedParts)
{
    struct row {
        const char *name;
        int parts;      /* chained trailer actors behind the player's trailer */
        int foreign_at; /* this one is of another class (-1 none) */
        int actor_parts;
        uint32_t measured;
        const char *line;
    } rows[] = {
        { "four parts", 4, -1, 3, 3, nullptr },
        { "foreign second", 3, 1, 1, 1, "is not a game_trailer_actor; stop" },
        { "fewer made", 2, -1, 1, 2, nullptr },
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        SetUp();
        player_rig();
        uint8_t *parent = rig;
        std::vector<uint8_t *> parts;
        for (int i = 0; i < r.parts; i++) {
            uint8_t *part = i == r.foreign_at ? sim::vehicle_part_new(sim::game_at(sim::phys::chained_class))
                                              : sim::trailer_part_new(parent);
            sim::put<uint64_t>(parent, sim::trl::next_part, u(part));
            sim::vehicle_set_placement(part, at(100, 10, 58.0f + 10.0f * (i + 1)));
            parts.push_back(part);
            parent = part;
        }
        spawned();
        sim::trailer_actor_parts(r.actor_parts);
        uint8_t *a = spawned_trailer();
        EXPECT_EQ(trailer_rig.part_count, r.measured);
        for (uint32_t i = 0; i < r.measured; i++)
            EXPECT_TRUE(logged(fmt("[core] trailer: chained part %d %p: offset in parent frame (0.000, 0.000, 10.000), "
                                   "yaw 0.0 deg",
                                   (int)i, parts[i])))
                << log_text();
        EXPECT_FALSE(logged(fmt("[core] trailer: chained part 3 ")));
        if (r.line) {
            EXPECT_TRUE(logged(fmt("[core] trailer: chained part %p %s", parts[r.foreign_at], r.line))) << log_text();
        }
        uint8_t *part = a;
        for (int i = 0; i < r.actor_parts; i++) {
            part = p(sim::get<uint64_t>(part, sim::trl::next_part));
            auto placed = last_placement(part);
            EXPECT_NEAR(placed.z, 58.0f + 10.0f * (i + 1), 1e-3) << "part " << i;
        }
        EXPECT_EQ(spawn_state_value(), SPAWN_SPAWNED) << "no fault at the end of the made chain";
        TearDown();
    }
}

// The clone's chained definitions get our plate; a chain the clone shares
// with the source is logged as such.
TEST_F(trailer_test, ChainedDefinitionsGetThePlate)
{
    for (bool shared : { false, true }) {
        SCOPED_TRACE(shared ? "shared" : "cloned");
        SetUp();
        player_rig();
        uint8_t *next = sim::def_new(sim::def_kind::trailer, "TR 2");
        sim::def_chain(source_def, next);
        if (shared)
            sim::def_clone_behaviour(sim::def_clone_result::chain_shared);
        spawned();
        spawned_trailer();
        uint8_t *def = p(spawn_state.trailer_definition);
        uint8_t *slave = p(sim::get<uint64_t>(def, sim::trl::def_next));
        EXPECT_EQ(slave == next, shared);
        EXPECT_TRUE(logged(fmt("[core] trailer: slave def %p (src %p)%s", slave, next, shared ? "  SHARED?!" : "")))
            << log_text();
        EXPECT_EQ(sim::def_plate(slave), "DROVEMARK|california");
        trailer_remove("trailer off");
        EXPECT_EQ(sim::destroyed(def), 1);
        EXPECT_EQ(sim::destroyed(next), 0) << "the player's chain stays";
        EXPECT_EQ(sim::unit_problems(), std::vector<std::string>{});
        TearDown();
    }
}

/* ---- following ---- */

// The wanted pose as the truck moves: rigid turns with the truck; the
// articulated trailer trails the hitch, never beyond 1.4 rad, and a hitch
// that jumps re-seats it straight behind.
TEST_F(trailer_test, FollowsTheTruck)
{
    const float kingpin[3] = { 0, 1, -5 };
    const float yaw90[4] = { 0.70710678f, 0, 0.70710678f, 0 };
    struct step {
        float x, z;
        const float *q;
    };
    struct row {
        const char *name;
        bool articulated;
        std::vector<step> steps;
        float x, z;     /* the trailer's last placement */
        double yaw;     /* its yaw, radians */
    } rows[] = {
        // rigid: turns with the truck about the truck's position
        { "rigid turn", false, { { 106, 50, yaw90 } }, 114, 50, 1.5707963 },
        // articulated, straight ahead: stays straight behind
        { "straight", true, { { 106, 49, identity }, { 106, 48, identity } }, 106, 56, 0 },
        // the truck turns 90 degrees on the spot: the trailer swings at most 1.4 rad
        { "sharp turn", true, { { 106, 50, yaw90 } }, 109 + 5 * (float)cos(1.4), 50 + 5 * (float)sin(1.4),
          1.5707963 - 1.4 },
        // a sideways jump of 20 m: seated straight behind again, not swung
        { "jump", true, { { 126, 50, identity } }, 126, 58, 0 },
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        SetUp();
        player_rig(r.articulated ? kingpin : nullptr);
        spawned();
        uint8_t *a = spawned_trailer();
        double t = 3.0;
        for (const step &s : r.steps) {
            placement place;
            placement_from_world(&place, s.x, 10, s.z, s.q[0], s.q[1], s.q[2], s.q[3]);
            spawn_move_park(&place);
            tick(t += 0.1);
        }
        auto placed = last_placement(a);
        EXPECT_NEAR(placed.x, r.x, 1e-3);
        EXPECT_NEAR(placed.z, r.z, 1e-3);
        double y = wrap_angle(yaw(placed) - r.yaw);
        EXPECT_NEAR(y, 0.0, 1e-4) << "yaw " << yaw(placed);
        TearDown();
    }
}

// The wheels turn by the distance along the trailer's forward axis over
// their radius, at most 32 of them, and not for a step over 5 m.
TEST_F(trailer_test, WheelsTurnWithTheDistance)
{
    player_rig();
    spawned();
    uint8_t *a = spawned_trailer();
    uint8_t *block = sim::wheel_block_new(a, 40, 40, 1.0f, { 0.5f, 0.02f });
    float *angles = sim::wheel_angles(block);
    tick(2.5); // the first frame only remembers where the trailer stands
    EXPECT_EQ(angles[0], 0.0f);
    placement place;
    placement_from_world(&place, 106, 10, 49, 1, 0, 0, 0); // 1 m forward
    spawn_move_park(&place);
    tick(3.0);
    EXPECT_NEAR(angles[0], -2.0f, 1e-5) << "1 m over 0.5 m";
    EXPECT_NEAR(angles[1], -2.0f, 1e-5) << "a radius of 0.05 or less counts as 0.5";
    EXPECT_NEAR(angles[31], -2.0f, 1e-5);
    EXPECT_EQ(angles[32], 0.0f) << "no more than 32 wheels";
    placement_from_world(&place, 106, 10, 43, 1, 0, 0, 0); // 6 m forward
    spawn_move_park(&place);
    tick(3.1);
    EXPECT_NEAR(angles[0], -2.0f, 1e-5) << "a step over 5 m turns no wheel";
    tick(3.2, true);
    EXPECT_NEAR(angles[0], -2.0f, 1e-5);
}

/* ---- refusals ---- */

// Every refusal: its line, no trailer, and what it made released.
TEST_F(trailer_test, Refusals)
{
    struct row {
        const char *name;
        std::function<void()> setup;
        const char *line; /* %p: the player's trailer, when there is one */
        bool clone_made;  /* the clone was made and must be released */
    } rows[] = {
        { "no vehicle", [this] { player_rig(); }, "[core] trailer: spawn a truck first", false },
        { "no player trailer", [this] { spawned(); },
          "[core] trailer: the player has no trailer (game_ctrl+0x31b0 -> +0xc8 is null); refusing", false },
        { "not a trailer actor",
          [this] {
              player_rig();
              sim::put<uint64_t>(rig, 0, u(sim::vehicle_vtable()));
              spawned();
          },
          "[core] trailer: player's trailer %p is not the expected game_trailer_actor", false },
        { "placement fails",
          [this] {
              player_rig();
              spawned();
              sim::placement32 here = at(100, 10, 50);
              sim::player_set_placement(&here, false);
          },
          "[core] trailer: get_placement failed on the player's rig", false },
        { "another truck's",
          [this] {
              player_rig();
              sim::trailer_couple(rig, sim::object_new(0x100));
              spawned();
          },
          "[core] trailer: the player's trailer is not coupled; couple it first", false },
        { "no joint",
          [this] {
              player_rig();
              sim::trailer_couple(rig, pl.truck, false);
              spawned();
          },
          "[core] trailer: the player's trailer is not coupled; couple it first", false },
        { "clone fails",
          [this] {
              player_rig();
              sim::def_clone_behaviour(sim::def_clone_result::null);
              spawned();
          },
          "[core] trailer: clone failed; not spawning", false },
        { "factory null",
          [this] {
              player_rig();
              sim::create_behaviour(sim::trl::class_record, sim::create_result::null);
              spawned();
          },
          "(not the expected class); aborting", true },
        { "factory foreign class",
          [this] {
              player_rig();
              sim::create_behaviour(sim::trl::class_record, sim::create_result::foreign_class);
              spawned();
          },
          "(not the expected class); aborting", true },
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        SetUp();
        r.setup();
        size_t mark = sim::units_mark();
        fx::captured_clear();
        sim::calls_clear();
        spawn_trailer();
        EXPECT_EQ(spawn_trailer_state_value(), SPAWN_NONE);
        EXPECT_EQ(spawn_state.trailer_actor, 0u);
        EXPECT_EQ(spawn_state.trailer_definition, 0u);
        std::string line = strstr(r.line, "%p") ? fmt(r.line, rig) : r.line;
        bool found = false;
        for (auto &l : fx::captured())
            found |= l.find(line) != std::string::npos;
        EXPECT_TRUE(found) << line << "\n" << log_text();
        EXPECT_EQ(sim::calls_named("set_data").size(), 0u);
        if (!r.clone_made) {
            EXPECT_EQ(sim::calls_named("create_unit").size(), 0u);
        }
        for (uint8_t *made : sim::units_since(mark))
            if ((sim::refword(made) & 0x20000000u) && (sim::refword(made) & 0x1FFFFFFu))
                ADD_FAILURE() << "kept a reference on " << (void *)made;
        if (r.clone_made) {
            std::vector<uint8_t *> made = sim::units_since(mark);
            ASSERT_FALSE(made.empty());
            EXPECT_EQ(sim::destroyed(made[0]), 1) << "the clone is released";
        }
        EXPECT_EQ(sim::unit_problems(), std::vector<std::string>{});
        TearDown();
    }
}

// A trailer not loaded within 30 s of its first step is released without
// a remove: it never was in the game's list.
TEST_F(trailer_test, LoadTimeOutReleasesWithoutRemove)
{
    player_rig();
    spawned();
    sim::vehicle_loaded_after(-1);
    spawn_trailer();
    uint8_t *a = actor(), *def = p(spawn_state.trailer_definition);
    tick(5.0);
    tick(35.0);
    EXPECT_EQ(spawn_trailer_state_value(), SPAWN_LOADING) << "30 s from the first step";
    tick(35.1);
    EXPECT_EQ(spawn_trailer_state_value(), SPAWN_NONE);
    EXPECT_TRUE(logged("[core] trailer load timed out (state 3)")) << log_text();
    EXPECT_TRUE(logged(fmt("[core] trailer remove (load timeout): actor %p refword 20000001", a)));
    EXPECT_EQ(sim::calls_named("ctrl_remove_vehicle").size(), 0u);
    EXPECT_EQ(sim::destroyed(a), 1);
    EXPECT_EQ(sim::destroyed(def), 1);
    EXPECT_EQ(sim::unit_problems(), std::vector<std::string>{});
    EXPECT_EQ(spawn_state_value(), SPAWN_SPAWNED) << "the vehicle stays";
}

/* ---- removal ---- */

// trailer off, a loading trailer, the vehicle's despawn: each releases the
// actor and the cloned definition once; only a trailer in the game's list
// is removed from it.
TEST_F(trailer_test, Removal)
{
    struct row {
        const char *name;
        bool loaded;
        bool despawn;
        const char *reason;
    } rows[] = {
        { "trailer off", true, false, "trailer off" },
        { "while loading", false, false, "trailer off" },
        { "with the truck", true, true, "truck despawn" },
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        SetUp();
        player_rig();
        spawn_state.spawn_mode_clone = 1;
        spawned();
        uint8_t *a = nullptr;
        if (r.loaded) {
            a = spawned_trailer();
        } else {
            spawn_trailer();
            a = actor();
        }
        uint8_t *def = p(spawn_state.trailer_definition);
        sim::calls_clear();
        fx::captured_clear();
        watched_actor = a;
        state_at_removal = -1;
        sim::removal_observer(watch_removal);
        if (r.despawn)
            spawn_despawn();
        else
            trailer_remove(r.reason);
        EXPECT_EQ(spawn_trailer_state_value(), SPAWN_NONE);
        EXPECT_EQ(spawn_trailer_ptr(), nullptr);
        EXPECT_EQ(state_at_removal, 0) << "the state says none before the game removes or releases it";
        auto removes = sim::calls_named("ctrl_remove_vehicle");
        bool removed = false;
        for (auto &c : removes)
            removed |= c.args[1] == u(a);
        EXPECT_EQ(removed, r.loaded);
        EXPECT_FALSE(sim::vehicle_listed(a));
        EXPECT_EQ(sim::destroyed(a), 1);
        EXPECT_EQ(sim::destroyed(def), 1);
        EXPECT_EQ(sim::destroyed(source_def), 0);
        EXPECT_TRUE(logged(fmt("[core] trailer remove (%s): actor %p refword 20000001", r.reason, a))) << log_text();
        EXPECT_TRUE(logged(fmt("[core] trailer remove: release cloned def %p (refword 20000001 before)", def)));
        EXPECT_TRUE(logged("[core] trailer removed"));
        EXPECT_EQ(sim::unit_problems(), std::vector<std::string>{});
        fx::captured_clear();
        trailer_remove("again");
        EXPECT_EQ(fx::captured(), std::vector<std::string>{}) << "nothing without a trailer";
        TearDown();
    }
}

// A remote player's trailer from a built definition: rigid, at the remote
// trailer's pose when the vehicle follows the network, removed with its
// definition.
TEST_F(trailer_test, RemotePlayersTrailer)
{
    spawned();
    uint8_t *def = sim::def_new(sim::def_kind::trailer, "RT 1");
    game_take_ref(u(def));
    spawn_state.move_mode = MOVE_NET;
    spawn_state.net_has_trailer = 1;
    placement_from_world(&spawn_state.net_trailer, 300, 12, 600, 1, 0, 0, 0);
    trailer_create_remote(u(def));
    tick(2.0);
    tick(2.1);
    ASSERT_EQ(spawn_trailer_state_value(), SPAWN_SPAWNED) << log_text();
    EXPECT_EQ(trailer_rig.mode, (uint32_t)TRAILER_RIGID);
    EXPECT_EQ(trailer_rig.remote, 1);
    uint8_t *a = actor();
    auto placed = last_placement(a);
    EXPECT_NEAR(placed.x + 512.0f * placed.sector_x, 300.0f, 1e-3);
    EXPECT_NEAR(placed.z + 512.0f * placed.sector_z, 600.0f, 1e-3);
    trailer_remove("remote gone");
    EXPECT_EQ(sim::destroyed(a), 1);
    EXPECT_EQ(sim::destroyed(def), 1);
    EXPECT_EQ(sim::unit_problems(), std::vector<std::string>{});
}

} // namespace
