// The convoy remote vehicles in the simulated game, through the core's own
// code: a slot's life cycle through the stages and back, the stand-ins, the
// refusals and faults with their lines and what was released, the world
// going away, and the per-frame driving (keys, clock, stepping).
//
// Index
//   fixture      the convoy machinery on top of the spawned vehicle's world
//   life cycle   stages, despawn from each, slots 0..7, cycles, stand-ins
//   faults       the fault table, the world going away
//   driving      keys on a circle, key time, velocity, stepping, the clock
//   the record   saved every frame, restored by a new core's first frames
#include "spawn_fixture.h"
#include <math.h>
#include <string.h>
#include "base/core_config.h"
#include "vehicles/rv.h"
#include "sim/sim_convoy.h"

namespace {

using namespace spawn_fx;

/* ---- fixture ---- */

class rv_test : public spawn_test {
protected:
    sim::convoy cv {};
    double now = 100.0;

    void SetUp() override
    {
        spawn_test::SetUp();
        cv = sim::convoy_install(pl);
        rv_forget_all();
        rv_config = rv_settings {};
        rv_config.restore_done = 1;
        core_config.remote_mode_rv = false;
        core_remote_mode_by_command = false;
        now = 100.0;
        sim::calls_clear();
        fx::captured_clear();
    }
    void TearDown() override
    {
        rv_forget_all();
        rv_config = rv_settings {};
        spawn_test::TearDown();
    }

    /* One game frame of dt: the game ticks its truck controller, then the
     * core's "rv" step. */
    void rv_frame(double dt = 0.05, bool paused = false)
    {
        now += dt;
        sim::frame();
        dm_frame_info f = frame(now, paused);
        rv_tick(&f);
    }
    void rv_frames(int n, double dt = 0.05)
    {
        for (int i = 0; i < n; i++)
            rv_frame(dt);
    }

    /* A definition for a slot: a clone of the local truck's, one reference of ours. */
    uint64_t definition() { return def_clone(u(local), &def_class_vehicle); }
    placement spot;
    placement at(double x, double y, double z)
    {
        placement p;
        placement_from_world(&p, x, y, z, 1, 0, 0, 0);
        return p;
    }
    const placement *place(double x, double y, double z)
    {
        spot = at(x, y, z);
        return &spot;
    }
    uint8_t *netobj(int slot) { return p(rv_slots[slot].netobj); }
    uint8_t *vehicle_of(int slot) { return p(sim::get<uint64_t>(netobj(slot), sim::no_f::vehicle)); }
    uint64_t wc_u64(uint32_t offset) { return sim::get<uint64_t>(cv.wc, offset); }
    int count(const std::string &prefix)
    {
        int n = 0;
        for (auto &l : fx::captured())
            n += l.compare(0, prefix.size(), prefix) == 0;
        return n;
    }
    bool has_prefix(const std::string &prefix) { return count(prefix) > 0; }
};

/* ---- life cycle ---- */

TEST_F(rv_test, StagesOfTheTestSlotAndDespawnFromEach)
{
    struct row {
        const char *arg;
        int stage;
        bool definition;
    } rows[] = { { "a", 1, false }, { "b", 2, true }, { "c", 3, true }, { "", 3, true } };
    for (const row &r : rows) {
        SCOPED_TRACE(r.arg);
        SetUp();
        cmd_rvspawn(r.arg);
        rv_slot_state &s = rv_slots[0];
        ASSERT_TRUE(s.netobj) << log_text();
        EXPECT_EQ(s.stage, r.stage) << log_text();
        EXPECT_EQ(s.definition != 0, r.definition);
        EXPECT_EQ(s.owns_definition, r.definition ? 1 : 0);
        auto made = sim::convoy_netobjs();
        ASSERT_EQ(made.size(), 1u);
        EXPECT_EQ(made[0].id, 0x17FF0u);
        EXPECT_TRUE(made[0].listed);
        EXPECT_EQ(made[0].builds, r.stage >= 2 ? 1u : 0u);
        EXPECT_TRUE(logged(fmt("[core] rv[0]: netobj=%p vtable ok, id 00017ff0/0010, state word 00000000, status 00000003",
                               made[0].netobj)))
            << log_text();
        EXPECT_TRUE(logged(fmt("[core] rv[0]: added; ctrl trucks 0 -> 1; rv=%p (vtable %p) def link(+0x298)=%p rv "
                               "def(+0x290)=%p (same)",
                               made[0].vehicle, (void *)sim::get<uint64_t>(made[0].vehicle, 0), made[0].link,
                               made[0].link)))
            << log_text();
        EXPECT_EQ(logged("[core] rv: stage C: promoting into the tick/draw list every frame; it should appear 20 m ahead"),
                  r.stage == 3);
        if (r.definition) {
            EXPECT_EQ(sim::def_accessories(made[0].link).size(), 2u) << "the clone's accessories pushed";
        }
        EXPECT_EQ(sim::get<uint8_t>(made[0].netobj, sim::no_f::key_mode), 2);
        EXPECT_EQ(sim::get<uint32_t>(made[0].netobj, sim::no_f::status), 0x0Fu);
        // 20 m ahead along the truck's forward axis (-z for the unrotated truck).
        sim::placement32 key = sim::get<sim::placement32>(made[0].netobj, sim::no_f::key_current);
        EXPECT_NEAR(key.x, 100.0f, 1e-3);
        EXPECT_NEAR(key.z, 30.0f, 1e-3);
        uint64_t def = s.definition;

        fx::captured_clear();
        cmd_rvdespawn("");
        EXPECT_TRUE(logged("[core] rv[0]: despawn (rvdespawn) done; ctrl trucks 1 -> 0, ticked 0")) << log_text();
        EXPECT_FALSE(rv_slots[0].netobj);
        made = sim::convoy_netobjs();
        EXPECT_TRUE(made[0].freed);
        EXPECT_FALSE(made[0].listed);
        if (def) {
            EXPECT_TRUE(logged(fmt("[core] rv[0]: released its definition %p", p(def)))) << log_text();
            EXPECT_EQ(sim::destroyed(p(def)), 1);
        }
        EXPECT_TRUE(logged("[core] rv: removed the server_config stand-in")) << log_text();
        EXPECT_EQ(wc_u64(sim::wc_f::rules), 0u);
        EXPECT_TRUE(sim::unit_problems().empty()) << sim::unit_problems()[0];
        EXPECT_EQ(sim::destroyed(made[0].link), 1) << "the link goes with its netobj";
        EXPECT_EQ(sim::destroyed(made[0].netobj), 1);
        TearDown();
    }
}

TEST_F(rv_test, TheStandInsArePlantedOnceAndTheRulesGoWithTheLastNetobj)
{
    sim::convoy_timezones(6);
    uint64_t def = definition();
    ASSERT_TRUE(rv_spawn(3, place(10, 0, 10), def, def + DEF_ACCESSORY_ARRAY, 3));
    uint64_t info = wc_u64(sim::wc_f::player_info), rules = wc_u64(sim::wc_f::rules);
    ASSERT_TRUE(info && rules);
    EXPECT_TRUE(logged(fmt("[core] rv: installed player-info stand-in %p at wc+0x48 (all slots return 0)", p(info))));
    EXPECT_TRUE(logged(fmt("[core] rv: installed server_config stand-in %p at wc+0x70: damage 0 traffic 0 "
                           "hide_in_company 0 hide_colliding 0 timezones 6 no_service_coll 0 menu_ghost 0 name_tags 0 "
                           "max_players 8",
                           p(rules))))
        << log_text();
    EXPECT_EQ(sim::refword(p(rules)) & 0x1FFFFFF, 1u) << "one reference: ours";
    // The player-info object: its table's slots return 0, its tag.
    EXPECT_EQ(std::string((const char *)p(info) + 8), "drovemark pinfo");
    uint8_t *table = p(sim::get<uint64_t>(p(info), 0));
    typedef uint64_t (*slot_fn)();
    EXPECT_EQ(((slot_fn)(uintptr_t)sim::get<uint64_t>(table, 8 * 77))(), 0u);
    EXPECT_EQ(sim::get<uint32_t>(netobj(3), sim::no_f::id), (3u + 32752u) | 0x10000u);

    fx::captured_clear();
    uint64_t def2 = definition();
    ASSERT_TRUE(rv_spawn(5, place(20, 0, 10), def2, def2 + DEF_ACCESSORY_ARRAY, 3));
    EXPECT_TRUE(logged(fmt("[core] rv: wc+0x48 = %p (our stand-in)", p(info)))) << log_text();
    EXPECT_TRUE(logged(fmt("[core] rv: wc+0x70 = %p (our stand-in)", p(rules)))) << log_text();
    EXPECT_EQ(count("[core] rv: installed"), 0);

    rv_despawn(3, "test");
    EXPECT_EQ(wc_u64(sim::wc_f::rules), rules) << "a netobj is left";
    rv_despawn(5, "test");
    EXPECT_EQ(wc_u64(sim::wc_f::rules), 0u);
    EXPECT_EQ(sim::destroyed(p(rules)), 1);
    EXPECT_EQ(wc_u64(sim::wc_f::player_info), info) << "the page stays for the process's life";
    EXPECT_TRUE(sim::unit_problems().empty());

    // In a network game no stand-in is planted and the session's rules stay.
    sim::put<uint64_t>(cv.wc, sim::wc_f::player_info, 0);
    sim::convoy_network_game(true);
    fx::captured_clear();
    uint64_t def3 = definition();
    EXPECT_FALSE(rv_spawn(1, place(0, 0, 0), def3, def3 + DEF_ACCESSORY_ARRAY, 3));
    EXPECT_TRUE(logged("[core] rv: no player info at wc+0x48 in a network game; not spawning")) << log_text();
    sim::put<uint64_t>(cv.wc, sim::wc_f::player_info, info);
    fx::captured_clear();
    EXPECT_FALSE(rv_spawn(1, place(0, 0, 0), def3, def3 + DEF_ACCESSORY_ARRAY, 3));
    EXPECT_TRUE(logged("[core] rv: no usable session rules at wc+0x70; not spawning")) << log_text();
    EXPECT_EQ(wc_u64(sim::wc_f::rules), 0u);
    EXPECT_TRUE(sim::convoy_netobjs().size() == 2u) << "no factory call";
    rv_release_definition(def3);
}

TEST_F(rv_test, EverySlotItsOwnIdAndTwentyCyclesLeaveNothingBehind)
{
    for (int slot = 0; slot < DM_RV_SLOTS; slot++) {
        uint64_t def = definition();
        ASSERT_TRUE(rv_spawn(slot, place(slot * 10.0, 0, 0), def, def + DEF_ACCESSORY_ARRAY, 3));
        rv_slots[slot].owns_definition = 1;
        EXPECT_EQ(sim::get<uint32_t>(netobj(slot), sim::no_f::id), ((uint32_t)slot + 32752u) | 0x10000u);
    }
    EXPECT_EQ(sim::convoy_listed().size(), 8u);
    cmd_rvdespawn("all");
    EXPECT_EQ(count("[core] rv[0]: despawn (rvdespawn all) done"), 1) << log_text();
    EXPECT_EQ(count("[core] rv[7]: despawn (rvdespawn all) done"), 1) << log_text();
    EXPECT_EQ(count("[core] rv[7]: released its definition"), 1) << log_text();
    EXPECT_TRUE(sim::convoy_listed().empty());

    for (int i = 0; i < 20; i++) {
        cmd_rvspawn("c");
        rv_frames(2);
        cmd_rvdespawn("0");
    }
    EXPECT_EQ(count("[core] rv[0]: despawn (rvdespawn) done"), 20);
    EXPECT_EQ(count("[core] rv: removed the server_config stand-in"), 21);
    EXPECT_EQ(count("[core] rv: installed player-info stand-in"), 1);
    for (auto &n : sim::convoy_netobjs())
        EXPECT_TRUE(n.freed && !n.listed);
    EXPECT_TRUE(sim::unit_problems().empty()) << sim::unit_problems()[0];
}

/* ---- faults ---- */

TEST_F(rv_test, FaultsAndRefusals)
{
    struct row {
        const char *name;
        void (*arrange)(rv_test *t);
        const char *line;     /* a line that begins with this */
        int stage;            /* slot 0 afterwards (0 free) */
        bool clone_released;
    } rows[] = {
        { "no world controller", [](rv_test *) { sim::game_put<uint64_t>(sim::cv_off::world_controller, 0); },
          "[core] rv: no world controller; not spawning", 0, true },
        { "foreign rules", [](rv_test *) { sim::put<uint64_t>(sim::convoy_state().wc, sim::wc_f::rules, u(sim::def_new(sim::def_kind::vehicle))); },
          "[core] rv: no usable session rules at wc+0x70; not spawning", 0, true },
        { "rules create null", [](rv_test *) { sim::convoy_fault(sim::convoy_call::server_config_null, true); },
          "[core] rv: could not create the server_config stand-in", 0, true },
        { "rules of another class", [](rv_test *) { sim::create_behaviour(sim::cv_off::server_config_class, sim::create_result::foreign_class); },
          "[core] rv: server_config create gave ", 0, true },
        { "factory null", [](rv_test *) { sim::convoy_fault(sim::convoy_call::factory_null, true); },
          "[core] rv: factory returned null", 0, true },
        { "factory faults", [](rv_test *) { sim::convoy_fault(sim::convoy_call::factory, true); },
          "[core] rv: create FAULTED 0xc0000005 at ", 0, true },
        { "add faults", [](rv_test *) { sim::convoy_fault(sim::convoy_call::add, true); },
          "[core] rv: create FAULTED 0xc0000005 at ", 0, true },
        { "build faults", [](rv_test *) { sim::convoy_fault(sim::convoy_call::build, true); },
          "[core] rv: build FAULTED 0xc0000005 at ", 1, true },
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        SetUp();
        r.arrange(this);
        cmd_rvspawn("c");
        EXPECT_TRUE(has_prefix(r.line)) << log_text();
        EXPECT_EQ(rv_slots[0].stage, r.stage) << log_text();
        EXPECT_EQ(rv_slots[0].definition, 0u);
        // The clone the command made, from its line.
        void *clone = nullptr;
        for (auto &l : fx::captured())
            if (!clone && sscanf(l.c_str(), "[core] clone: new def=%p", &clone) == 1)
                break;
        ASSERT_TRUE(clone) << log_text();
        EXPECT_EQ(sim::destroyed(clone), r.clone_released ? 1 : 0);
        TearDown();
    }
}

TEST_F(rv_test, FaultsWhileDespawningAndTicking)
{
    cmd_rvspawn("c");
    uint64_t def = definition();
    ASSERT_TRUE(rv_spawn(1, place(0, 0, 0), def, def + DEF_ACCESSORY_ARRAY, 3));
    rv_frames(2);
    // slot 6 of slot 0's netobj faults: its tick goes off, slot 1 goes on.
    sim::convoy_fault_apply_on(netobj(0));
    fx::captured_clear();
    uint64_t applies = sim::convoy_netobjs()[1].applies;
    rv_frames(3);
    EXPECT_TRUE(has_prefix("[core] rv: tick FAULTED 0xc0000005 at ")) << log_text();
    EXPECT_EQ(count("[core] rv[0]: per-frame tick disabled"), 1) << log_text();
    EXPECT_EQ(rv_slots[0].stage, 2);
    EXPECT_EQ(rv_slots[1].stage, 3);
    EXPECT_EQ(sim::convoy_netobjs()[1].applies, applies + 3);
    sim::convoy_fault_apply_on(nullptr);

    // The remove or the free faults: the slot is freed, the object leaked.
    for (sim::convoy_call c : { sim::convoy_call::remove, sim::convoy_call::free }) {
        int slot = c == sim::convoy_call::remove ? 0 : 1;
        sim::convoy_fault(c, true);
        fx::captured_clear();
        uint64_t held = rv_slots[slot].definition;
        rv_despawn(slot, "test");
        EXPECT_TRUE(has_prefix("[core] rv: despawn FAULTED 0xc0000005 at ")) << log_text();
        EXPECT_TRUE(has_prefix(fmt("[core] rv[%d]: despawn (test) FAILED (object leaked); ", slot))) << log_text();
        EXPECT_FALSE(rv_slots[slot].netobj);
        EXPECT_EQ(sim::destroyed(p(held)), 0) << "no release after a failed destruction";
        sim::convoy_fault(c, false);
    }
    EXPECT_NE(wc_u64(sim::wc_f::rules), 0u) << "not removed after a failed destruction";
}

TEST_F(rv_test, AWorldThatGoesAwayForgetsTheSlotsWithoutGameCalls)
{
    struct row {
        const char *name;
        int stage;
        bool new_ctrl;
        const char *line;
    } rows[] = {
        { "unload at stage A", 1, false, "[core] rv: ctrl went away (world unloaded?); forgetting the rvs without game calls" },
        { "unload at stage B", 2, false, "[core] rv: ctrl went away (world unloaded?); forgetting the rvs without game calls" },
        { "unload at stage C", 3, false, "[core] rv: ctrl went away (world unloaded?); forgetting the rvs without game calls" },
        { "another controller", 3, true, "[core] rv[0]: netobj " },
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        SetUp();
        cmd_rvspawn(r.stage == 1 ? "a" : r.stage == 2 ? "b" : "c");
        ASSERT_EQ(rv_slots[0].stage, r.stage);
        rv_frames(2);
        sim::convoy_ctrl_remove();
        if (r.new_ctrl)
            sim::convoy_ctrl_new();
        sim::calls_clear();
        rv_frame();
        EXPECT_TRUE(has_prefix(r.line)) << log_text();
        EXPECT_FALSE(rv_slots[0].netobj);
        cmd_rvdespawn("0");
        EXPECT_TRUE(logged("[core] rv[0]: nothing to despawn"));
        for (auto &c : sim::calls())
            EXPECT_EQ(c.name.rfind("rv_", 0), std::string::npos) << c.name;
        TearDown();
    }
}

/* ---- driving ---- */

TEST_F(rv_test, KeysFollowTheCircleStampedInThePast)
{
    cmd_rvspawn("c");
    cmd_rvmove(" circle 1 3");
    EXPECT_TRUE(logged("[core] rv: move circle r 2.0 m, 3.0 m/s, centre (98.0, 10.0, 30.0)")) << log_text();
    uint8_t *n = netobj(0);
    // Single player: the core's clock drives the net time; the keys are
    // 150 ms behind it, 0 while it is younger.
    EXPECT_EQ(rv_net_time_us(), 0u);
    rv_frame(0.05);
    EXPECT_EQ(sim::get<uint64_t>(n, sim::no_f::key_time), 0u) << "saturates at 0";
    rv_frames(10, 0.05);
    uint64_t t = wc_u64(sim::wc_f::physics_clock);
    EXPECT_EQ(t, 500000u) << "ten frames of 50 ms after the first";
    EXPECT_LE(count("[core] rv[0]: net="), 3) << "the slot is logged again only when its flags, ticked list or "
                                                 "physics byte change\n"
                                              << log_text();
    EXPECT_EQ(sim::get<uint64_t>(n, sim::no_f::key_time), t - 150000u);
    EXPECT_EQ(sim::get<uint64_t>(n, sim::no_f::key_base), 0u);
    // Eleven frames of 0.05 s at 3 m/s on 2 m: the angle 0.825 rad less the
    // first frame's (no previous time).
    double angle = 10 * 0.05 * 3 / 2;
    sim::placement32 key = sim::get<sim::placement32>(n, sim::no_f::key_current);
    EXPECT_NEAR(key.x, 98.0 + 2 * cos(angle), 1e-3);
    EXPECT_NEAR(key.z, 30.0 + 2 * sin(angle), 1e-3);
    EXPECT_NEAR(key.qw, cos((M_PI - angle) / 2), 1e-5);
    EXPECT_NEAR(key.qy, sin((M_PI - angle) / 2), 1e-5);
    sim::placement32 previous = sim::get<sim::placement32>(n, sim::no_f::key_previous);
    EXPECT_LT(fabs(previous.x - key.x) + fabs(previous.z - key.z), 0.5f);
    EXPECT_GT(fabs(previous.x - key.x) + fabs(previous.z - key.z), 0.0f);
    // The game applied the key: the vehicle stands where the key says.
    sim::placement32 pose = sim::get<sim::placement32>(vehicle_of(0), sim::rv_f::pose);
    EXPECT_EQ(pose.x, key.x);
    EXPECT_EQ(sim::get<uint64_t>(vehicle_of(0), sim::rv_f::snap), 0xE000000000000000ULL);
    // No velocity outside net mode, rvvel on or not.
    rv_slots[0].velocity_valid = 1;
    rv_slots[0].velocity[0] = 5;
    rv_frame();
    EXPECT_EQ(sim::get<float>(n, sim::no_f::velocity), 0.0f);
    // A paused frame gives no target: the key stays.
    key = sim::get<sim::placement32>(n, sim::no_f::key_current);
    rv_frame(0.05, true);
    EXPECT_EQ(sim::get<sim::placement32>(n, sim::no_f::key_current).x, key.x);
}

TEST_F(rv_test, ThePhysicsClockAdvancesInSinglePlayerOnly)
{
    struct row {
        const char *name;
        bool network, clock_on;
        double dt;
        uint64_t advance;
    } rows[] = {
        { "a frame", false, true, 0.25, 250000 },
        { "capped at 1 s", false, true, 2.5, 1000000 },
        { "network game", true, true, 0.25, 0 },
        { "rvclock off", false, false, 0.25, 0 },
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        SetUp();
        cmd_rvspawn("c");
        if (r.network) {
            sim::convoy_network_game(true);
            sim::put<uint64_t>(sim::convoy_state().network_game, sim::wc_f::network_clock, 7000000);
        }
        cmd_rvclock(r.clock_on ? " on" : " off");
        rv_frame();
        uint64_t before = wc_u64(sim::wc_f::physics_clock);
        rv_frame(r.dt);
        EXPECT_EQ(wc_u64(sim::wc_f::physics_clock) - before, r.advance);
        if (r.network) {
            EXPECT_EQ(rv_net_time_us(), 7000000u) << "the network game's clock";
        }
        TearDown();
    }
    // Nothing live: the stamp clears, so the first live frame adds nothing.
    SetUp();
    rv_frames(3);
    EXPECT_EQ(rv_config.previous_stamp, 0.0);
}

TEST_F(rv_test, SteppingAutoOnOff)
{
    struct row {
        const char *mode;
        bool game_steps;
        int frames;
        bool ours;
    } rows[] = {
        { "auto", true, 40, false },
        { "auto", false, 40, true },
        { "on", true, 5, true },
        { "off", false, 40, false },
    };
    for (const row &r : rows) {
        SCOPED_TRACE(fmt("%s, game steps %d", r.mode, r.game_steps));
        SetUp();
        cmd_rvstep(r.mode);
        EXPECT_TRUE(logged(fmt("[core] rv: step %s", r.mode)));
        cmd_rvspawn("c");
        sim::convoy_game_steps(r.game_steps);
        rv_frames(r.frames);
        uint64_t steps = sim::convoy_netobjs()[0].steps;
        EXPECT_EQ(steps > 0, r.ours) << log_text();
        bool auto_line = logged("[core] rv[0]: step stamp +0x230 unchanged for 30 frames: the game doesn't step it; "
                                "calling vt+0x80 ourselves");
        EXPECT_EQ(auto_line, !strcmp(r.mode, "auto") && r.ours);
        if (auto_line) {
            EXPECT_EQ(steps, (uint64_t)(r.frames - 29)) << "from the frame of the 30th unchanged stamp on";
        }
        TearDown();
    }
    SetUp();
    cmd_rvstep("");
    EXPECT_TRUE(logged("[core] usage: rvstep auto|on|off"));
    EXPECT_EQ(rv_config.step_mode, (uint32_t)RV_STEP_AUTO);
}

/* ---- the record ---- */

TEST_F(rv_test, TheRecordMirrorsTheSlotsAndANewCoreTakesThemBack)
{
    cmd_rvspawn("c");
    uint64_t def = definition();
    ASSERT_TRUE(rv_spawn(4, place(0, 0, 0), def, def + DEF_ACCESSORY_ARRAY, 3));
    rv_slots[4].player = 9;
    rv_slots[4].owns_definition = 1;
    rv_slots[4].accessory_hash = 0xABCD1234;
    rv_frame();
    uint64_t area = rv_pinfo_save_area();
    ASSERT_TRUE(area);
    const uint8_t *rec = p(area);
    EXPECT_EQ(std::string((const char *)rec), "rvsave2");
    EXPECT_EQ(sim::get<uint64_t>(rec, 8), rv_slots[0].netobj);
    EXPECT_EQ(sim::get<uint64_t>(rec, 16), rv_slots[0].definition);
    EXPECT_EQ(sim::get<int32_t>(rec, 24), 3);
    EXPECT_EQ(sim::get<uint64_t>(rec, 8 + 32 * 4), rv_slots[4].netobj);
    EXPECT_EQ(sim::get<uint16_t>(rec, 28 + 32 * 4), 9u);
    EXPECT_EQ(rec[30 + 32 * 4], 1);
    EXPECT_EQ(sim::get<uint32_t>(rec, 32 + 32 * 4), 0xABCD1234u);
    EXPECT_EQ(sim::get<uint32_t>(rec, 264), 0u);
    MEMORY_BASIC_INFORMATION mbi;
    VirtualQuery(rec, &mbi, sizeof mbi);
    EXPECT_EQ(mbi.Protect, (DWORD)PAGE_EXECUTE_READ) << "never left writable";

    // A new core: empty slots; its first frame with a controller restores.
    uint64_t n0 = rv_slots[0].netobj, n4 = rv_slots[4].netobj;
    rv_forget_all();
    rv_config = rv_settings {};
    core_remote_mode_by_command = true; // rv mode set by command before the reload
    core_config.remote_mode_rv = true;
    uint8_t saved[272];
    memcpy(saved, rec, sizeof saved);
    core_config.remote_mode_rv = false;
    core_remote_mode_by_command = false;
    DWORD old;
    VirtualProtect(p(area), 272, PAGE_EXECUTE_READWRITE, &old);
    sim::put<uint32_t>(p(area), 264, 2);
    VirtualProtect(p(area), 272, old, &old);
    fx::captured_clear();
    rv_restore_after_reload();
    EXPECT_TRUE(logged("[core] remote mode rv (set by command before the reload)")) << log_text();
    EXPECT_TRUE(core_config.remote_mode_rv && core_remote_mode_by_command);
    EXPECT_TRUE(logged(fmt("[core] rv: restored slot 0 from before the reload (net %p, stage 3, player 0)", p(n0))));
    EXPECT_TRUE(logged(fmt("[core] rv: restored slot 4 from before the reload (net %p, stage 3, player 9)", p(n4))));
    EXPECT_EQ(rv_slots[4].move_mode, (uint32_t)RV_MOVE_NET);
    EXPECT_EQ(rv_slots[4].follow_player, 9);
    EXPECT_EQ(rv_slots[4].accessory_hash, 0xABCD1234u);
    core_config.remote_mode_rv = false;
    core_remote_mode_by_command = false;
}

} // namespace
