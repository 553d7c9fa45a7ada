// The spawned vehicle in the simulated game, through the core's own code:
// the game calls of spawning, loading and finalize in their order, the
// time-out, every refusal and fault with its line and the reference words
// of what was (not) released, despawn, and the drops without game calls.
//
// Index
//   spawning   the call order, refusals
//   loading    the time-out, faults
//   despawn    what is removed and released, and when the state says so
//   drops      truck change, profile unload, update fault
#include "spawn_fixture.h"
#include <functional>

namespace {

using namespace spawn_fx;

const std::vector<std::string> game_calls = {
    "create_unit", "set_data", "is_loaded", "continue_loading", "finalize", "pre_add", "ctrl_add_vehicle",
    "body_190", "body_1c0", "body_settle", "child_48", "set_placement", "update", "ctrl_remove_vehicle",
    "release", "destroy",
};

const uint64_t faulting_va = 0x140001100 + 10; /* the sim's faulting stub, at its load */

/* ---- spawning ---- */

// Clone and share: set_data, loading steps, finalize, pre-add, the byte
// cleared before the add, both bodies settled (null child skipped), the
// placement 6 m to the right; the references each object holds.
TEST_F(spawn_test, LoadsThenFinalizesInTheGamesOrder)
{
    for (int clone = 0; clone < 2; clone++) {
        SetUp();
        spawn_state.spawn_mode_clone = (uint8_t)clone;
        const float yaw90[4] = { 0.70710678f, 0, 0.70710678f, 0 }; // +x points to -z
        truck_at(100.0f, 10.0f, 50.0f, yaw90);
        uint32_t local_word = sim::refword(local);
        spawn_vehicle(6.0f, nullptr, 0);
        ASSERT_EQ(spawn_state_value(), SPAWN_LOADING) << log_text();
        uint8_t *veh = vehicle(), *def = p(spawn_state.definition);
        EXPECT_EQ(sim::refword(veh), 0x20000001u);
        if (clone) {
            EXPECT_NE(def, local);
            EXPECT_EQ(sim::refword(def), 0x20000002u) << "ours and the vehicle's";
        } else {
            EXPECT_EQ(def, local);
            EXPECT_EQ(sim::refword(local), local_word + 2) << "ours and the vehicle's";
        }
        EXPECT_TRUE(logged(fmt("[core] spawn: def=%p (%s)", def, clone ? "clone" : "shared"))) << log_text();
        EXPECT_TRUE(logged(fmt("[core] spawn: veh=%p vtable=%p, calling set_data", veh, sim::vehicle_vtable())));
        EXPECT_TRUE(logged("[core] spawn: set_data ok, load state 0; loading"));
        EXPECT_TRUE(logged("[core] spawn at: local(100.000, 10.000, 44.000) sector(0, 0) -> world(100.000, 10.000, "
                           "44.000) q(w=0.7071 x=0.0000 y=0.7071 z=0.0000)"))
            << log_text();

        tick(10.0);
        EXPECT_EQ(spawn_state_value(), SPAWN_LOADING);
        uint8_t *chassis = sim::body_new(3, true), *cabin = sim::body_new(1);
        sim::put<uint64_t>(veh, sim::phys::chassis, u(chassis));
        sim::put<uint64_t>(veh, sim::phys::cabin, u(cabin));
        tick(10.5);
        ASSERT_EQ(spawn_state_value(), SPAWN_SPAWNED) << log_text();
        EXPECT_EQ(call_names(game_calls),
                  (std::vector<std::string>{ "create_unit", "set_data", "is_loaded", "continue_loading", "is_loaded",
                                             "finalize", "pre_add", "ctrl_add_vehicle", "body_190", "body_1c0",
                                             "body_settle", "child_48", "child_48", "body_190", "body_1c0",
                                             "body_settle", "child_48", "set_placement",
                                             // the first motion step of the same frame
                                             "set_placement", "update" }));
        auto one = [](const char *name) { return sim::calls_named(name).at(0); };
        EXPECT_EQ(one("create_unit").args[0], 0x141E22410ull);
        EXPECT_EQ(one("set_data").args[1], u(def));
        EXPECT_EQ(one("set_data").args[2], 0x401u);
        EXPECT_EQ(one("finalize").args[1], u(def));
        EXPECT_EQ(one("finalize").args[2], 0x401u);
        EXPECT_EQ(one("pre_add").args[0], u(veh));
        auto add = one("ctrl_add_vehicle");
        EXPECT_EQ(add.args[0], u(pl.ctrl));
        EXPECT_EQ(add.args[1], u(veh));
        EXPECT_EQ(add.args[2], 0u) << "the byte at +0x25B is 0 before the add";
        auto b190 = one("body_190");
        EXPECT_EQ(b190.args[0], u(chassis));
        EXPECT_EQ(b190.args[1], 0u);
        EXPECT_EQ(b190.args[2], 0u) << "0.0f";
        EXPECT_EQ(b190.args[3], 1u) << "16 zero bytes";
        EXPECT_EQ(one("body_1c0").args[1], 0u);
        EXPECT_EQ(one("body_settle").args[1], 30u);
        auto children = sim::calls_named("child_48");
        EXPECT_EQ(children[0].args[0], u(sim::body_children(chassis)[0]));
        EXPECT_EQ(children[1].args[0], u(sim::body_children(chassis)[2]));
        EXPECT_EQ(children[2].args[0], u(sim::body_children(cabin)[0]));
        auto placed = sim::vehicle_placements(veh).at(0);
        EXPECT_FLOAT_EQ(placed.x, 100.0f);
        EXPECT_FLOAT_EQ(placed.z, 44.0f);
        EXPECT_FLOAT_EQ(placed.qy, 0.70710678f);
        EXPECT_TRUE(sim::vehicle_listed(veh));
        EXPECT_TRUE(logged("[core] spawn complete"));
        EXPECT_EQ(spawn_state.info_countdown, SPAWN_INFO_FRAMES - 1) << "counted by the first update";

        fx::captured_clear();
        spawn_vehicle(6.0f, nullptr, 0);
        EXPECT_EQ(fx::captured(), std::vector<std::string>{ "[core] already spawned; despawn first" });
        EXPECT_EQ(vehicle(), veh);
    }
}

// Every spawn that does not get to set_data: its line, state 0, and what
// it made released (or, when the game's own, left to it).
TEST_F(spawn_test, SpawnRefusals)
{
    std::string list = std::string(wheel_path) + std::string(1, '\0');
    struct row {
        const char *what;
        std::function<void()> setup;
        const char *list;
        std::string line; /* the last line, or its beginning */
        int kept;         /* units made by the game that stay */
    } rows[] = {
        { "no local truck", [this] { sim::put<uint64_t>(pl.block, 0x18, 0); }, nullptr,
          "[core] spawn: no local truck", 0 },
        { "no profile", [] { sim::game_player_remove(); }, nullptr, "[core] spawn: no local truck", 0 },
        { "placement refused", [] {
              sim::placement32 at = {};
              sim::player_set_placement(&at, false);
          },
          nullptr, "[core] get_placement returned false", 0 },
        { "clone refused", [] {
              spawn_state.spawn_mode_clone = 1;
              sim::def_clone_behaviour(sim::def_clone_result::null);
          },
          nullptr, "[core] spawn: clone failed; not spawning (use spawnmode share)", 0 },
        { "look list and clone both fail", [] { sim::def_clone_behaviour(sim::def_clone_result::null); },
          list.c_str(), "[core] spawn: clone failed too; not spawning", 0 },
        { "shared definition unreadable", [this] { sim::game_protect(local, 16, PAGE_NOACCESS); }, nullptr,
          "[core] spawn: the local truck's definition ", 0 },
        { "no vehicle from the factory", [] {
              spawn_state.spawn_mode_clone = 1;
              sim::create_behaviour(sim::phys::class_record, sim::create_result::null);
          },
          nullptr, "[core] spawn: create_unit returned null", 0 },
        // The game's object of another class is left to it.
        { "a vehicle of another class", [] {
              spawn_state.spawn_mode_clone = 1;
              sim::create_behaviour(sim::phys::class_record, sim::create_result::foreign_class);
          },
          nullptr, "[core] spawn: create_unit gave ", 1 },
    };
    for (auto &r : rows) {
        SetUp();
        r.setup();
        uint32_t local_word = sim::refword(local);
        size_t mark = sim::units_mark();
        spawn_vehicle(6.0f, r.list, r.list ? 1 : 0);
        EXPECT_EQ(spawn_state_value(), SPAWN_NONE) << r.what;
        EXPECT_EQ(spawn_state.vehicle, 0u) << r.what;
        EXPECT_EQ(spawn_state.definition, 0u) << r.what;
        EXPECT_EQ(fx::captured_last().compare(0, r.line.size(), r.line), 0)
            << r.what << ": wanted " << r.line << "\n" << log_text();
        int alive = 0;
        for (uint8_t *unit : sim::units_since(mark))
            alive += sim::destroyed(unit) == 0;
        EXPECT_EQ(alive, r.kept) << r.what << "\n" << log_text();
        if (sim::refword(local)) {
            EXPECT_EQ(sim::refword(local) & GAME_REF_COUNT_MASK, local_word & GAME_REF_COUNT_MASK) << r.what;
        }
        EXPECT_TRUE(sim::calls_named("set_data").empty()) << r.what;
        EXPECT_EQ(sim::unit_problems(), std::vector<std::string>{}) << r.what;
    }
}

// A look list builds the definition; when the build fails the spawn falls
// back to a clone even in share mode.
TEST_F(spawn_test, LookListOrItsCloneFallback)
{
    std::string good = std::string(wheel_path) + std::string(1, '\0');
    std::string bad = std::string("/def/missing.sii") + std::string(1, '\0');
    for (int failing = 0; failing < 2; failing++) {
        SetUp();
        spawn_vehicle(6.0f, failing ? bad.c_str() : good.c_str(), 1);
        ASSERT_EQ(spawn_state_value(), SPAWN_LOADING) << log_text();
        EXPECT_TRUE(logged("[core] spawn: building the definition from 1 accessory entries"));
        EXPECT_EQ(spawn_state.owns_definition, 1);
        EXPECT_NE(spawn_state.definition, u(local));
        EXPECT_EQ(spawn_state.built_from_look_list, failing ? 0 : 1);
        EXPECT_EQ(logged("[core] spawn: build failed; falling back to a clone of our truck"), failing == 1);
        EXPECT_TRUE(logged(fmt("[core] spawn: def=%p (clone)", p(spawn_state.definition))));
    }
}

/* ---- loading ---- */

// Released 30 s after the first tick that saw the vehicle loading, not after
// the command; a vehicle never added is never removed.
TEST_F(spawn_test, TimeOutCountsFromTheFirstTick)
{
    spawn_state.spawn_mode_clone = 1;
    sim::vehicle_loaded_after(-1);
    size_t mark = sim::units_mark();
    spawn_vehicle(6.0f, nullptr, 0);
    uint8_t *veh = vehicle(), *def = p(spawn_state.definition);
    tick(100.0);
    tick(130.0);
    EXPECT_EQ(spawn_state_value(), SPAWN_LOADING) << "exactly at the deadline";
    sim::calls_clear();
    tick(130.001);
    EXPECT_EQ(spawn_state_value(), SPAWN_NONE);
    EXPECT_EQ(fx::captured_last(), "[core] load timed out (state 3); releasing");
    EXPECT_EQ(spawn_state.vehicle, 0u);
    EXPECT_EQ(spawn_state.definition, 0u);
    EXPECT_EQ(spawn_state.owns_definition, 0);
    auto released = sim::calls_named("release");
    ASSERT_EQ(released.size(), 2u);
    EXPECT_EQ(released[0].args[0], u(veh));
    EXPECT_EQ(released[1].args[0], u(def));
    EXPECT_TRUE(sim::calls_named("ctrl_remove_vehicle").empty());
    for (uint8_t *unit : sim::units_since(mark))
        EXPECT_EQ(sim::destroyed(unit), 1) << "everything the spawn made is gone";
    EXPECT_EQ(sim::unit_problems(), std::vector<std::string>{});
}

// A fault in any loading or finalize step: the line from the fault record,
// state 0, nothing released; a look-built definition turns building off.
TEST_F(spawn_test, AFaultWhileLoadingLeaksAndLogs)
{
    std::string list = std::string(wheel_path) + std::string(1, '\0');
    struct row {
        const char *what;
        std::function<void()> inject;
        uint64_t va;
        uint32_t load_state; /* the load state word at the fault */
        bool look;
    } rows[] = {
        { "is-loaded", [] { sim::vehicle_slot_faulting(0x78); }, faulting_va, 0, false },
        { "continue loading", [] { sim::vehicle_slot_faulting(0x68); }, faulting_va, 0, false },
        { "finalize", [] { sim::vehicle_slot_faulting(0x80); }, faulting_va, 1, false },
        { "set_placement", [] { sim::vehicle_slot_faulting(0x110); }, faulting_va, 1, false },
        { "pre-add", [] { sim::game_function_faulting(sim::phys::pre_add); }, 0x140870520 + 10, 1, false },
        { "add", [] { sim::game_function_faulting(sim::phys::ctrl_add); }, 0x140473E70 + 10, 1, false },
        { "body settle", [] { sim::game_function_faulting(sim::phys::body_settle); }, 0x141686250 + 10, 1, false },
        { "look-built", [] { sim::vehicle_slot_faulting(0x68); }, faulting_va, 0, true },
    };
    for (auto &r : rows) {
        SetUp();
        spawn_vehicle(6.0f, r.look ? list.c_str() : nullptr, r.look ? 1 : 0);
        uint8_t *veh = vehicle();
        sim::put<uint64_t>(veh, sim::phys::chassis, u(sim::body_new(1)));
        uint32_t veh_word = sim::refword(veh), def_word = sim::refword(p(spawn_state.definition));
        uint8_t *def = p(spawn_state.definition);
        r.inject();
        sim::calls_clear();
        tick(1.0);
        if (spawn_state_value() != SPAWN_NONE)
            tick(1.1);
        EXPECT_EQ(spawn_state_value(), SPAWN_NONE) << r.what;
        std::string line = fmt("[core] FAULT c0000005 while loading vehicle %p (load state %u) at game VA %llx, data "
                               "address 10; dropped and leaked",
                               veh, r.load_state, (unsigned long long)r.va);
        EXPECT_TRUE(logged(line)) << r.what << ": wanted " << line << "\n" << log_text();
        EXPECT_EQ(logged("[core] look: building from accessory lists is OFF until the next core build"), r.look)
            << r.what;
        EXPECT_EQ(look_building_off, r.look ? 1 : 0) << r.what;
        EXPECT_EQ(spawn_state.vehicle, 0u);
        EXPECT_EQ(spawn_state.definition, 0u);
        EXPECT_EQ(spawn_state.owns_definition, 0);
        EXPECT_EQ(spawn_state.built_from_look_list, 0);
        EXPECT_TRUE(sim::calls_named("release").empty()) << r.what;
        EXPECT_EQ(sim::refword(veh), veh_word) << r.what;
        EXPECT_EQ(sim::refword(def), def_word) << r.what;
        tick(2.0);
        EXPECT_TRUE(sim::calls_named("is_loaded").size() <= 2) << r.what << ": no more loading steps";
    }
    // Building is now off: the next look list falls back to a clone.
    fx::captured_clear();
    spawn_vehicle(6.0f, list.c_str(), 1);
    EXPECT_TRUE(logged("[core] look: disabled after a load fault this session; using the plain clone"));
    EXPECT_TRUE(logged("[core] spawn: build failed; falling back to a clone of our truck"));
}

// A vehicle whose table is not the physics vehicle's faults in set_data:
// dropped and left to the game.
TEST_F(spawn_test, AForeignVehicleFaultsInSetData)
{
    spawn_state.spawn_mode_clone = 1;
    sim::create_behaviour(sim::phys::class_record, sim::create_result::foreign_vtable);
    spawn_vehicle(6.0f, nullptr, 0);
    EXPECT_EQ(spawn_state_value(), SPAWN_NONE);
    EXPECT_EQ(spawn_state.vehicle, 0u);
    EXPECT_EQ(fx::captured_last().rfind("[core] FAULT c0000005 in set_data of vehicle ", 0), 0u) << log_text();
    EXPECT_TRUE(sim::calls_named("release").empty());
}

/* ---- despawn ---- */

namespace {
/* What the state said when the game was asked to remove or release. */
std::vector<int> state_seen;
void state_at_call(const sim::call &c)
{
    if (c.name == "ctrl_remove_vehicle" || c.name == "release")
        state_seen.push_back(spawn_state_value());
}
} // namespace

// A clone despawned while spawned or still loading: the state is 0 before
// the game removes or releases anything; removed only when it was added;
// every object made for it is gone.
TEST_F(spawn_test, DespawnRemovesAndReleases)
{
    for (int loading = 0; loading < 2; loading++) {
        SetUp();
        spawn_state.spawn_mode_clone = 1;
        size_t mark = sim::units_mark();
        uint8_t *veh = nullptr;
        if (loading) {
            spawn_vehicle(6.0f, nullptr, 0);
            tick(1.0);
            veh = vehicle();
        } else {
            veh = spawned();
        }
        uint8_t *def = p(spawn_state.definition);
        state_seen.clear();
        sim::calls_observe(state_at_call);
        sim::calls_clear();
        fx::captured_clear();
        uint32_t veh_word = sim::refword(veh), def_word = sim::refword(def);
        spawn_despawn();
        std::vector<std::string> calls_want = { "release", "release" };
        if (!loading)
            calls_want.insert(calls_want.begin(), "ctrl_remove_vehicle");
        EXPECT_EQ(call_names({ "ctrl_remove_vehicle", "release" }), calls_want);
        EXPECT_EQ(state_seen, std::vector<int>(calls_want.size(), 0));
        std::vector<std::string> want;
        if (!loading)
            want.push_back("[core] despawn: game_ctrl_remove_vehicle");
        want.push_back(fmt("[core] despawn: release veh %p (refword %08x)", veh, veh_word));
        // The vehicle's destroy has dropped its own reference on the definition.
        want.push_back(fmt("[core] despawn: release cloned def %p (refword %08x before)", def, def_word - 1));
        want.push_back("[core] despawned");
        EXPECT_EQ(fx::captured(), want);
        EXPECT_EQ(spawn_state.vehicle, 0u);
        EXPECT_EQ(spawn_state.definition, 0u);
        EXPECT_EQ(spawn_state.owns_definition, 0);
        for (uint8_t *unit : sim::units_since(mark))
            EXPECT_EQ(sim::destroyed(unit), 1) << "loading " << loading;
        EXPECT_EQ(sim::unit_problems(), std::vector<std::string>{}) << "loading " << loading;
    }
}

TEST_F(spawn_test, DespawnRefusals)
{
    spawn_despawn();
    EXPECT_EQ(fx::captured_last(), "[core] nothing spawned");

    uint8_t *veh = spawned(); // shared
    spawn_despawn();
    EXPECT_EQ(fx::captured_last(), "[core] despawn refused: shared definition (crashes the game); restart instead");
    EXPECT_EQ(spawn_state_value(), SPAWN_SPAWNED);
    EXPECT_EQ(vehicle(), veh);

    // A definition of ours that the local truck has taken.
    spawn_state.owns_definition = 1;
    fx::captured_clear();
    spawn_despawn();
    EXPECT_EQ(fx::captured_last(),
              fmt("[core] despawn refused: def %p is the local truck's definition after all", local));
    EXPECT_EQ(spawn_state_value(), SPAWN_SPAWNED);
    EXPECT_TRUE(sim::calls_named("release").empty());
    EXPECT_TRUE(sim::calls_named("ctrl_remove_vehicle").empty());
}

/* ---- drops ---- */

// The first truck seen drops nothing; another truck drops the vehicle and
// its trailer without a game call.
TEST_F(spawn_test, AnotherTruckDropsWithoutGameCalls)
{
    tick(0.5);
    EXPECT_EQ(fx::captured(), std::vector<std::string>{ fmt("[core] local truck %p -> %p", nullptr, pl.truck) });
    uint8_t *veh = spawned();
    spawn_set_trailer_state(SPAWN_SPAWNED);
    spawn_state.trailer_actor = 0x1234;
    spawn_state.hidden = 1;
    uint8_t *other = sim::object_new(sim::truck_size, pl.truck_vtable);
    sim::put<uint64_t>(pl.block, 0x18, u(other));
    uint32_t word = sim::refword(veh);
    tick(2.0);
    EXPECT_EQ(fx::captured(),
              (std::vector<std::string>{ fmt("[core] local truck %p -> %p", pl.truck, other),
                                         fmt("[core] local truck changed; dropping vehicle %p and trailer without game "
                                             "calls (leaked)",
                                             veh) }));
    EXPECT_EQ(spawn_state_value(), SPAWN_NONE);
    EXPECT_EQ(spawn_trailer_state_value(), SPAWN_NONE);
    EXPECT_EQ(spawn_vehicle_ptr(), nullptr);
    EXPECT_EQ(spawn_trailer_ptr(), nullptr);
    EXPECT_FALSE(spawn_hidden());
    EXPECT_EQ(call_names(game_calls), std::vector<std::string>{});
    EXPECT_EQ(sim::refword(veh), word);
    EXPECT_TRUE(sim::vehicle_listed(veh)) << "left to the game";
    // Nothing left: another drop says nothing.
    fx::captured_clear();
    spawn_forget("again");
    EXPECT_TRUE(fx::captured().empty());
}

// An unloaded profile drops the state and every pointer with it, without a
// game call, while loading and while spawned (a vehicle taken over at a
// core start, before any truck was seen).
TEST_F(spawn_test, AnUnloadedProfileDropsEverything)
{
    for (int was_spawned = 0; was_spawned < 2; was_spawned++) {
        SetUp();
        spawn_vehicle(6.0f, nullptr, 0);
        if (was_spawned) {
            tick(1.0);
            tick(1.0);
            spawn_set_trailer_state(SPAWN_SPAWNED);
            spawn_state.trailer_actor = 0x1234;
            spawn_state.remembered_truck = 0;
        }
        sim::game_player_remove();
        sim::calls_clear();
        fx::captured_clear();
        tick(2.0);
        EXPECT_EQ(fx::captured_last(), was_spawned ? "[core] profile unloaded; dropping vehicle and trailer"
                                                   : "[core] profile unloaded while loading; dropping");
        EXPECT_EQ(spawn_state_value(), SPAWN_NONE);
        EXPECT_EQ(spawn_trailer_state_value(), SPAWN_NONE);
        EXPECT_EQ(spawn_vehicle_ptr(), nullptr);
        EXPECT_EQ(spawn_trailer_ptr(), nullptr);
        EXPECT_EQ(spawn_state.definition, 0u);
        EXPECT_EQ(spawn_state.owns_definition, 0);
        EXPECT_EQ(call_names(game_calls), std::vector<std::string>{});
    }
}

// A fault in the per-frame update: its line, then the drop.
TEST_F(spawn_test, AFaultInTheUpdateDrops)
{
    uint8_t *veh = spawned();
    sim::vehicle_slot_faulting(0xA8);
    tick(2.0);
    EXPECT_EQ(fx::captured(),
              (std::vector<std::string>{
                  fmt("[core] FAULT c0000005 updating vehicle %p at game VA %llx, data address 10", veh,
                      (unsigned long long)faulting_va),
                  fmt("[core] vehicle update faulted; dropping vehicle %p without game calls (leaked)", veh) }));
    EXPECT_EQ(spawn_state_value(), SPAWN_NONE);
    EXPECT_TRUE(sim::calls_named("release").empty());
}

} // namespace
