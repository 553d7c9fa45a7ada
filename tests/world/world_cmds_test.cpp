// The damage, repair, gps and roadevents commands through the real plug-in
// and core in the simulated game: the wear of the truck and its coupled
// trailers, the game's navigation route, and road events listed, removed
// and re-created from their replay line.
#include <math.h>
#include "runtime/runtime_fixture.h"
#include "sim/sim_journey.h"
#include "sim/sim_vehicles.h"
#include "sim/sim_wear.h"

using rt::fmt;

namespace {

std::string ptr(const void *p) { return fmt("%p", p); }

/* A command line and every line it logs. */
struct line_case {
    const char *line;
    std::vector<std::string> log;
};

class world_cmds : public rt::core_test {
protected:
    void SetUp() override
    {
        rt::core_test::SetUp();
        sim::vehicle_world_install();
        sim::journey_install(player);
    }

    /* The truck position that the frame info carries from now on. */
    void truck_at(double x, double y, double z)
    {
        sim::channel_placement(x, y, z, 0, 0, 0);
        sim::frames(1, 0.05);
    }

    /* A fault line "<head>FAULT 0xc0000005 at <p> (game VA 0x<va>), data <p>":
     * the address lies in the faulting stub and the game VA is its own. */
    void expect_fault_line(const std::string &line, const std::string &head, const uint8_t *stub)
    {
        std::string prefix = head + "FAULT 0xc0000005 at ";
        ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
        void *at = nullptr;
        unsigned long long va = 0;
        char data[40] = "";
        ASSERT_EQ(sscanf(line.c_str() + prefix.size(), "%p (game VA 0x%llx), data %39s", &at, &va, data), 3) << line;
        EXPECT_GE((const uint8_t *)at, stub);
        EXPECT_LT((const uint8_t *)at, stub + 16);
        EXPECT_EQ(va, sim::game_va(at));
        EXPECT_EQ(std::string(data), ptr((void *)sim::fault_data_address));
    }

    /* The game function at the offset faults: the command logs n lines, the
     * last one the fault line. */
    void expect_faulting_call(uint32_t offset, const std::string &line, size_t n, const std::string &head)
    {
        uint8_t *stub = sim::game_function_faulting(offset);
        auto lines = command(line);
        ASSERT_EQ(lines.size(), n) << line;
        expect_fault_line(lines.back(), head, stub);
    }
};

/* ---- damage and repair ---- */

class damage : public world_cmds {
protected:
    uint8_t *truck = nullptr, *trailers[5] = {};

    /* A truck with 70 fixable and 3 unfixable wheel values, and five
     * coupled trailers of which the first has wheels. */
    void build(bool with_trailers = true)
    {
        truck = sim::def_new(sim::def_kind::vehicle);
        sim::player_truck_def(player, truck);
        set_wear();
        if (!with_trailers)
            return;
        for (int i = 0; i < 5; i++) {
            trailers[i] = sim::def_new(sim::def_kind::trailer);
            if (i)
                sim::trailer_couple(trailers[i - 1], trailers[i]);
        }
        sim::player_trailer_new(player, trailers[0]);
        set_wear();
    }

    static sim::wear_values truck_wear()
    {
        sim::wear_values w = {};
        w.engine[0] = 0.5f, w.engine[1] = 0.25f;
        w.transmission[0] = 0.125f, w.transmission[1] = 0.375f;
        w.cabin[0] = 1.0f, w.cabin[1] = 0.75f;
        w.chassis[0] = 0.375f, w.chassis[1] = 0.125f;
        for (int i = 0; i < 70; i++)
            w.wheels_fix.push_back((float)(i + 1) / 8);
        w.wheels_unfix = { 0.5f, 0.25f, 0.125f };
        return w;
    }

    static sim::wear_values trailer_wear(int i)
    {
        sim::wear_values w = {};
        w.body[0] = 0.5f + i, w.body[1] = 0.25f;
        w.cargo = 0.75f + i;
        w.chassis[0] = 0.125f, w.chassis[1] = 0.625f;
        if (i == 0) {
            w.wheels_fix = { 0.25f, 0.5f };
            w.wheels_unfix = { 0.125f, 0.875f };
        }
        return w;
    }

    void set_wear()
    {
        sim::wear_set(truck, true, truck_wear());
        for (int i = 0; i < 5; i++)
            if (trailers[i])
                sim::wear_set(trailers[i], false, trailer_wear(i));
    }

    std::string truck_lines_wheels()
    {
        std::string list;
        for (int i = 0; i < 16; i++)
            list += fmt("%s%.3f+%.3f", i ? " " : "", (i + 1) / 8.0, i < 3 ? truck_wear().wheels_unfix[i] : 0.0);
        return list;
    }

    std::vector<std::string> printed()
    {
        std::vector<std::string> out = {
            "[core] damage: truck " + ptr(truck) + " engine 0.500+0.250 transmission 0.125+0.375 cabin 1.000+0.750",
            "[core] damage: truck " + ptr(truck) + " chassis 0.375+0.125 wheels [" + truck_lines_wheels() +
                "] (fixable+unfixable)",
        };
        for (int i = 0; i < 4; i++) {
            out.push_back(fmt("[core] damage: trailer[%d] %s body %.3f+0.250 cargo %.3f", i, ptr(trailers[i]).c_str(),
                              0.5 + i, 0.75 + i));
            out.push_back(fmt("[core] damage: %s %s chassis 0.125+0.625 wheels [%s] (fixable+unfixable)",
                              i ? "trailer(slave)" : "trailer", ptr(trailers[i]).c_str(),
                              i ? "-" : "0.250+0.125 0.500+0.875"));
        }
        return out;
    }
};

TEST_F(damage, PrintsTheTruckAndFourOfTheCoupledTrailers)
{
    build();
    start();
    EXPECT_EQ(command("damage"), printed());
}

TEST_F(damage, RepairResetsWhatItsWordsChoose)
{
    build();
    start();
    auto zero_fix = [](sim::wear_values w, bool truck) {
        w.engine[0] = w.transmission[0] = w.cabin[0] = 0;
        if (!truck)
            w.body[0] = 0;
        w.chassis[0] = 0;
        for (size_t i = 0; i < w.wheels_fix.size() && i < 64; i++)
            w.wheels_fix[i] = 0;
        return w;
    };
    auto zero_all = [&](sim::wear_values w, bool truck) {
        w = zero_fix(w, truck);
        w.engine[1] = w.transmission[1] = w.cabin[1] = 0;
        if (!truck)
            w.body[1] = 0;
        w.chassis[1] = 0;
        for (float &v : w.wheels_unfix)
            v = 0;
        return w;
    };
    enum what { kept, fixable, all };
    const std::string usage = "[core] usage: repair [fixable] [truck] [trailer] [cargo]";
    struct {
        std::string line;
        what truck, trailer;
        bool cargo;
        std::vector<std::string> log; /* the repair lines, %T truck, %0.. trailers */
    } cases[] = {
        { "repair", all, all, true,
          { "[core] repair: truck %T", "[core] repair: trailer[0] %0 body/chassis/wheels cargo",
            "[core] repair: trailer[1] %1 body/chassis/wheels cargo",
            "[core] repair: trailer[2] %2 body/chassis/wheels cargo",
            "[core] repair: trailer[3] %3 body/chassis/wheels cargo" } },
        { "repair fixable cargo", kept, kept, true,
          { "[core] repair: trailer[0] %0 cargo", "[core] repair: trailer[1] %1 cargo",
            "[core] repair: trailer[2] %2 cargo", "[core] repair: trailer[3] %3 cargo" } },
        { "repair truck fixable", fixable, kept, false, { "[core] repair: truck %T (fixable only)" } },
        { "repair trailer fixable", kept, fixable, false,
          { "[core] repair: trailer[0] %0 body/chassis/wheels", "[core] repair: trailer[1] %1 body/chassis/wheels",
            "[core] repair: trailer[2] %2 body/chassis/wheels", "[core] repair: trailer[3] %3 body/chassis/wheels" } },
        // A word of another kind is refused before anything is reset: no
        // full repair for a number, a typo or a word too long to be one.
        { "repair -1", kept, kept, false, { usage } },
        { "repair nan", kept, kept, false, { usage } },
        { "repair " + std::string(248, 'x'), kept, kept, false, { usage } }, // the longest line of cmd.txt
        { "repair unfixable truck", kept, kept, false, { usage } }, // "unfixable" is not "fixable"
        { "repair truck 2", kept, kept, false, { usage } },
    };
    auto same = [](const sim::wear_values &a, const sim::wear_values &b) {
        return !memcmp(a.engine, b.engine, sizeof a.engine) && !memcmp(a.transmission, b.transmission, 8) &&
               !memcmp(a.cabin, b.cabin, 8) && !memcmp(a.body, b.body, 8) && a.cargo == b.cargo &&
               !memcmp(a.chassis, b.chassis, 8) && a.wheels_fix == b.wheels_fix && a.wheels_unfix == b.wheels_unfix;
    };
    for (auto &c : cases) {
        set_wear();
        auto lines = command(c.line);
        std::vector<std::string> want;
        bool refused = c.log == std::vector<std::string>{ usage };
        for (std::string l : c.log) {
            size_t at = l.find('%');
            if (at == std::string::npos) {
                want.push_back(l);
                continue;
            }
            std::string who = l[at + 1] == 'T' ? ptr(truck) : ptr(trailers[l[at + 1] - '0']);
            want.push_back(l.replace(at, 2, who));
        }
        ASSERT_GE(lines.size(), want.size()) << c.line;
        EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + want.size()), want) << c.line;
        EXPECT_EQ(lines.size(), want.size() + (refused ? 0 : 10)) << c.line; // then the damage listing

        sim::wear_values t = truck_wear();
        sim::wear_values want_truck = c.truck == all ? zero_all(t, true) : c.truck == fixable ? zero_fix(t, true) : t;
        EXPECT_TRUE(same(sim::wear_get(truck, true), want_truck)) << c.line;
        for (int i = 0; i < 5; i++) {
            sim::wear_values w = trailer_wear(i);
            if (i < 4) { // the fifth is past the walk
                w = c.trailer == all ? zero_all(w, false) : c.trailer == fixable ? zero_fix(w, false) : w;
                if (c.cargo)
                    w.cargo = 0;
            }
            EXPECT_TRUE(same(sim::wear_get(trailers[i], false), w)) << c.line << " trailer " << i;
        }
    }
    // 64 of the truck's 70 fixable wheel values were reset, the rest kept.
    set_wear();
    command("repair truck");
    auto wheels = sim::wear_get(truck, true).wheels_fix;
    EXPECT_EQ(wheels[63], 0.0f);
    EXPECT_EQ(wheels[64], 65 / 8.0f);
}

TEST_F(damage, AbsentOrForeignDataCountsAsNone)
{
    start();
    EXPECT_EQ(command("damage"), (std::vector<std::string>{ "[core] damage: no player truck",
                                                              "[core] damage: no trailer attached" }));
    EXPECT_EQ(command("repair"), (std::vector<std::string>{ "[core] repair: no player truck",
                                                              "[core] repair: no trailer attached",
                                                              "[core] damage: no player truck",
                                                              "[core] damage: no trailer attached" }));
    build();
    // The truck without a trailer still prints.
    sim::put<uint64_t>(player.block, sim::vdef::player_trailer, 0);
    auto lines = command("damage");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], printed()[0]);
    EXPECT_EQ(lines[2], "[core] damage: no trailer attached");
    // A truck data object of another class is no truck; a trailer of
    // another class ends the chain.
    sim::player_trailer_new(player, trailers[0]);
    sim::unit_set_class(truck, sim::game_at(sim::veh_off::trailer_def_class));
    sim::unit_set_class(trailers[1], sim::game_at(sim::veh_off::vehicle_def_class));
    auto expect = printed();
    EXPECT_EQ(command("damage"), (std::vector<std::string>{ "[core] damage: no player truck", expect[2], expect[3] }));
}

TEST_F(damage, AFaultEndsTheCommandAndKeepsWhatWasReset)
{
    build();
    start();
    // The truck's unfixable wheels are read-only: the truck's parts and its
    // fixable wheels were reset before the write that faults.
    uint8_t *unfix = (uint8_t *)(uintptr_t)sim::get<uint64_t>(truck, sim::wear_off::wheels_unfix);
    sim::game_protect(unfix, 12, PAGE_READONLY);
    EXPECT_EQ(command("repair"), std::vector<std::string>{ "[core] damage: fault (0xc0000005)" });
    auto w = sim::wear_get(truck, true);
    EXPECT_EQ(w.engine[0], 0.0f);
    EXPECT_EQ(w.cabin[1], 0.0f);
    EXPECT_EQ(w.wheels_fix[0], 0.0f);
    EXPECT_EQ(w.wheels_unfix[0], 0.5f);
    EXPECT_EQ(sim::wear_get(trailers[0], false).cargo, 0.75f); // never reached
    sim::game_protect(unfix, 12, PAGE_READWRITE);

    // A guard page under the first trailer's wheels ends the listing and is
    // never touched.
    uint8_t *wheels = (uint8_t *)(uintptr_t)sim::get<uint64_t>(trailers[0], sim::wear_off::wheels_fix);
    sim::game_protect(wheels, 8, PAGE_READWRITE | PAGE_GUARD);
    auto lines = command("damage");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[3], "[core] damage: fault (0xc0000005)");
    MEMORY_BASIC_INFORMATION mbi;
    VirtualQuery(wheels, &mbi, sizeof mbi);
    EXPECT_TRUE(mbi.Protect & PAGE_GUARD);
    sim::game_protect(wheels, 8, PAGE_READWRITE);
}

/* ---- gps ---- */

class gps : public world_cmds {
protected:
    const sim::nav_node job_a = { 1, 11, 0xA1, 0, 0 }, job_dest = { 1, 12, 0xD1, 1, 0 };
    const sim::nav_node near_a = { 1, 7, 0xABC, 0, 0 }, near_b = { 1, 8, 0xBCD, 1, 0 }, near_c = { 1, 9, 0xCDE, 0, 0 };

    void SetUp() override
    {
        world_cmds::SetUp();
        sim::road_node_add(100, 0, 200, near_a);
        sim::road_node_add(300, 0, 400, near_b);
        sim::road_node_add(1000.5, 0, -2000, near_c);
        sim::put<uint8_t>(player.block, sim::nav::player_flag, 0x5A);
        start();
        truck_at(1000.5, 12.5, -2000);
    }

    std::string nav_line(double x, double y, double z, const sim::nav_node &n)
    {
        return fmt("[core] gps: (%.1f, %.1f, %.1f) -> node type %d idx %u item %llx dir %u", x, y, z, n.type, n.index,
                   (unsigned long long)n.item, n.direction);
    }
};

TEST_F(gps, StatusListsTheRoute)
{
    sim::nav_set(1, { job_a, job_dest });
    uint8_t *nav = sim::navigation();
    sim::put<int32_t>(nav, sim::nav::revision, 41);
    sim::put<uint64_t>(nav, sim::nav::behind_count, 3);
    sim::put<uint64_t>(nav, sim::nav::avoid_count, 4);
    sim::put<uint64_t>(nav, sim::nav::history_count, 5);
    EXPECT_EQ(command("gps"), (std::vector<std::string>{
                                  "[core] gps: mode 1 (job) rev 41 behind 3 ahead 2 avoid 4 history 5",
                                  "[core] gps:   ahead[0] type 1 idx 11 item a1 dir 0",
                                  "[core] gps:   ahead[1] type 1 idx 12 item d1 dir 1",
                              }));
    sim::put<int32_t>(nav, sim::nav::mode, 9);
    EXPECT_EQ(first("gps"), "[core] gps: mode 9 (?) rev 41 behind 3 ahead 2 avoid 4 history 5");
}

TEST_F(gps, AddOnAJobRouteGoesBeforeTheDestination)
{
    sim::nav_set(1, { job_a, job_dest });
    sim::calls_clear();
    EXPECT_EQ(command("gps add 100 200"),
              (std::vector<std::string>{ nav_line(100, 12.5, 200, near_a),
                                         "[core] gps: via-point added (3 ahead points, job route)" }));
    EXPECT_EQ(sim::nav_ahead(), (std::vector<sim::nav_node>{ job_a, near_a, job_dest }));
    EXPECT_EQ(sim::nav_mode(), 1);
    auto nearest = sim::calls_named("nav_nearest");
    ASSERT_EQ(nearest.size(), 1u);
    EXPECT_EQ(nearest[0].args[0], 25600u);
    EXPECT_EQ(nearest[0].args[1], 3200u);
    EXPECT_EQ(nearest[0].args[2], 51200u);
    EXPECT_EQ(nearest[0].args[3], 0x5Au);
    auto set = sim::calls_named("nav_route_set");
    ASSERT_EQ(set.size(), 1u);
    EXPECT_EQ(set[0].args[1], 1u); // the job's mode
    EXPECT_EQ(set[0].args[2], 3u);
    EXPECT_EQ(set[0].args[3], 2u); // the start list holds the none node
    EXPECT_TRUE(sim::calls_named("nav_bad_args").empty());
}

TEST_F(gps, CustomRouteTakesViaPointsAndClearsInTwoSteps)
{
    EXPECT_EQ(command("gps to 100 -5 200"),
              (std::vector<std::string>{ nav_line(100, -5, 200, near_a), "[core] gps: custom route set" }));
    EXPECT_EQ(sim::nav_ahead(), (std::vector<sim::nav_node>{ near_a }));
    EXPECT_EQ(sim::nav_mode(), 5);
    // The custom route is an active route: its destination stays last.
    EXPECT_EQ(command("gps to 300 400"),
              (std::vector<std::string>{ nav_line(300, 12.5, 400, near_b),
                                         "[core] gps: via-point added (the destination is fixed) (2 ahead points, "
                                         "custom route)" }));
    EXPECT_EQ(command("gps add 1000 -2000").back(), "[core] gps: via-point added (3 ahead points, custom route)");
    EXPECT_EQ(sim::nav_ahead(), (std::vector<sim::nav_node>{ near_b, near_c, near_a }));
    EXPECT_EQ(command("gps clear"),
              std::vector<std::string>{ "[core] gps: via-points dropped, custom destination kept" });
    EXPECT_EQ(sim::nav_ahead(), (std::vector<sim::nav_node>{ near_a }));
    EXPECT_EQ(sim::nav_mode(), 5);
    sim::calls_clear();
    EXPECT_EQ(command("gps clear"), std::vector<std::string>{ "[core] gps: route cleared" });
    EXPECT_EQ(sim::calls_named("nav_route_clear").size(), 1u);
    EXPECT_EQ(sim::nav_mode(), 0);
    EXPECT_TRUE(sim::calls_named("nav_bad_args").empty());
    // A job route with only its destination keeps it.
    sim::nav_set(1, { job_dest });
    EXPECT_EQ(command("gps clear"), std::vector<std::string>{ "[core] gps: via-points dropped, job destination kept" });
}

TEST_F(gps, MarkIsTheTruckPosition)
{
    sim::calls_clear();
    EXPECT_EQ(command("gps to mark"), std::vector<std::string>{ "[core] gps: no mark yet (gps mark)" });
    EXPECT_TRUE(sim::calls_named("nav_nearest").empty());
    EXPECT_EQ(command("gps mark"), std::vector<std::string>{ "[core] gps: marked (1000.5, 12.5, -2000.0)" });
    truck_at(0, 0, 0);
    EXPECT_EQ(command("gps to mark"),
              (std::vector<std::string>{ nav_line(1000.5, 12.5, -2000, near_c), "[core] gps: custom route set" }));
}

TEST_F(gps, RefusalsAndLimits)
{
    const std::string need = "[core] gps: need <x> <z> or <x> <y> <z>";
    line_case cases[] = {
        { "gps to 1", { need } },
        { "gps to 1 nan 2", { need } },
        { "gps add inf 2", { need } },
        { "gps to 1 2 3 4", { need } },
        { "gps to 9000000 2", { "[core] gps: (9000000.0, 12.5, 2.0) is out of range (at most 8388607 m)" } },
        { "gps to 5000 5000",
          { "[core] gps: (5000.0, 12.5, 5000.0) -> node type 2 idx 0 item 0 dir 2",
            "[core] gps: no road node near that point" } },
        { "gps what",
          { "[core] gps: usage gps | gps to <x> <z> | gps to <x> <y> <z> | gps add ... | gps to mark | gps mark | "
            "gps clear" } },
    };
    for (auto &c : cases) {
        sim::calls_clear();
        EXPECT_EQ(command(c.line), c.log) << c.line;
        EXPECT_TRUE(sim::calls_named("nav_route_set").empty()) << c.line;
    }
    EXPECT_TRUE(sim::calls_named("nav_nearest").empty()); // the last ones never searched

    std::vector<sim::nav_node> full(32, job_a);
    sim::nav_set(1, full);
    EXPECT_EQ(command("gps add 100 200"), (std::vector<std::string>{ nav_line(100, 12.5, 200, near_a),
                                                                      "[core] gps: route already has 32 points" }));
    EXPECT_EQ(sim::nav_ahead().size(), 32u);

    sim::game_player_remove();
    EXPECT_EQ(command("gps"), std::vector<std::string>{ "[core] gps: no game_ctrl (profile not loaded?)" });
}

TEST_F(gps, GameFaultsEndTheCommandWithoutASuccessLine)
{
    uint8_t *stub = sim::game_function_faulting(sim::jny_off::route_set);
    auto lines = command("gps to 100 200");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], nav_line(100, 12.5, 200, near_a));
    expect_fault_line(lines[1], "[core] gps: route set ", stub);
    EXPECT_EQ(sim::nav_mode(), 0);

    expect_faulting_call(sim::jny_off::nearest_node, "gps add 100 200", 1, "[core] gps: nearest node ");
    expect_faulting_call(sim::jny_off::route_clear, "gps clear", 1, "[core] gps: route clear ");
}

/* ---- road events ---- */

class roadevents : public world_cmds {
protected:
    uint8_t *works_item = nullptr, *far_item = nullptr, *works = nullptr, *accident = nullptr;

    void SetUp() override
    {
        world_cmds::SetUp();
        const float a_min[3] = { 100, 10, 200 }, a_max[3] = { 140, 14, 260 };
        const float b_min[3] = { -1000, 0, 5000 }, b_max[3] = { -990, 2, 5030 };
        works_item = sim::road_item_new(0x1234, 3, true, a_min, a_max);
        far_item = sim::road_item_new(0xABCDEF012345ull, 3, false, b_min, b_max);
        sim::road_item_new(0x55, 2, true, a_min, a_max); // not a road
        works = sim::road_event_def_new("road_works");
        accident = sim::road_event_def_new("accident");
        sim::road_event_add({ works_item, works, { 0x3fc00000, 2, 0xffffffff }, 0xbeef, 5, -1, 1 });
        sim::road_event_add({ far_item, accident, { 0, 0, 0 }, 1, 9, 2, 0 });
        sim::road_event_add({ nullptr, nullptr, { 7, 8, 9 }, 3, 11, 0, 0 });
        start();
    }

    std::string head(int count)
    {
        return fmt("[core] roadevents: jm %s, %d active, next uid 12, session %s, wc (session+0x2d0) %s",
                   ptr(sim::journey_manager()).c_str(), count,
                   ptr((void *)(uintptr_t)sim::game_get<uint64_t>(sim::jny_off::session)).c_str(),
                   ptr(sim::world_controller()).c_str());
    }

    std::vector<std::string> event_lines(int index, int which)
    {
        switch (which) {
        case 0:
            return { fmt("[core] roadevent %d: 'road_works' (token %016llx) road 4660 (type 3, loaded 1) seed 0000beef "
                         "block 3fc00000 00000002 ffffffff (f 1.500) uid 5 set -1 flag 1",
                         index, (unsigned long long)sim::sim_token("road_works")),
                     fmt("[core] roadevent %d: as command: roadevents apply road_works beef 3fc00000 2 ffffffff 1234 5",
                         index) };
        case 1:
            return { fmt("[core] roadevent %d: 'accident' (token %016llx) road 188900966474565 (type 3, loaded 0) seed "
                         "00000001 block 00000000 00000000 00000000 (f 0.000) uid 9 set 2 flag 0",
                         index, (unsigned long long)sim::sim_token("accident")),
                     fmt("[core] roadevent %d: as command: roadevents apply accident 1 0 0 0 abcdef012345 9", index) };
        default:
            return { fmt("[core] roadevent %d: '?' (token 0000000000000000) road 0 (type 0, loaded 0) seed 00000003 "
                         "block 00000007 00000008 00000009 (f 0.000) uid 11 set 0 flag 0",
                         index),
                     fmt("[core] roadevent %d: as command: roadevents apply ? 3 7 8 9 0 b", index) };
        }
    }

    std::vector<std::string> listing(std::vector<int> which)
    {
        std::vector<std::string> out = { head((int)which.size()) };
        for (size_t i = 0; i < which.size(); i++)
            for (auto &l : event_lines((int)i, which[i]))
                out.push_back(l);
        return out;
    }
};

TEST_F(roadevents, AnEventIsRecreatedFromItsReplayLine)
{
    EXPECT_EQ(command("roadevents"), listing({ 0, 1, 2 }));
    std::string replay = event_lines(0, 0)[1];
    replay = replay.substr(replay.find("roadevents apply"));

    sim::calls_clear();
    auto removed = command("roadevents remove 5");
    std::vector<std::string> want = { "[core] roadevents remove 5: done" };
    for (auto &l : listing({ 1, 2 }))
        want.push_back(l);
    EXPECT_EQ(removed, want);
    auto remove_calls = sim::calls_named("road_event_remove");
    ASSERT_EQ(remove_calls.size(), 1u);
    EXPECT_EQ(remove_calls[0].args[0], rt::as_address(sim::journey_manager()));
    EXPECT_EQ(remove_calls[0].args[1], 5u);

    auto lines = command(replay);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "[core] roadevents apply: road 1234 -> item " + ptr(works_item) + " (type 3, loaded 1), wc " +
                            ptr(sim::world_controller()));
    EXPECT_EQ(lines[1], "[core] roadevents apply: returned 1");
    auto events = sim::road_events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[2].item, works_item);
    EXPECT_EQ(events[2].def, works);
    EXPECT_EQ(events[2].seed, 0xbeefu);
    EXPECT_EQ(events[2].block[0], 0x3fc00000u);
    EXPECT_EQ(events[2].block[1], 2u);
    EXPECT_EQ(events[2].block[2], 0xffffffffu);
    EXPECT_EQ(events[2].uid, 5u);
    auto item_calls = sim::calls_named("road_item_of");
    ASSERT_EQ(item_calls.size(), 1u);
    EXPECT_EQ(item_calls[0].args[0], rt::as_address(player.ctrl));
    EXPECT_EQ(item_calls[0].args[1], 0x1234u);
    auto blocks = sim::calls_named("road_event_blocks");
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].args[3], rt::as_address(sim::journey_manager()));
}

TEST_F(roadevents, DefinitionsAreListedInLinesOfAboutNineHundred)
{
    std::string all;
    for (int i = 2; i < 300; i++)
        sim::road_event_def_new(fmt("d%011d", i).c_str());
    all = " road_works accident";
    for (int i = 2; i < 256; i++)
        all += fmt(" d%011d", i);
    auto lines = command("roadevents defs");
    std::string joined;
    for (auto &l : lines) {
        const std::string prefix = "[core] roadevents defs (300):";
        ASSERT_EQ(l.rfind(prefix, 0), 0u) << l;
        EXPECT_LE(l.size() - prefix.size(), 913u) << l;
        joined += l.substr(prefix.size());
    }
    EXPECT_EQ(lines.size(), 4u);
    EXPECT_GE(lines[0].size() - strlen("[core] roadevents defs (300):"), 901u);
    EXPECT_EQ(joined, all);
}

TEST_F(roadevents, NearbyEventsMeasureFromTheTruck)
{
    truck_at(90, 1.25, 270);
    EXPECT_EQ(command("roadevents near"),
              (std::vector<std::string>{
                  "[core] roadevent 0 'road_works' uid 5 road 1234: centre 120 12 230, 50 m from us (box 40 x 60 m)",
                  "[core] roadevent 1 'accident' uid 9 road abcdef012345: centre -995 1 5015, 4867 m from us (box 10 x "
                  "30 m)",
                  "[core] our truck: 90.0 1.2 270.0",
              }));
}

TEST_F(roadevents, RefusalsCallNothingInTheGame)
{
    const std::string need = "[core] roadevents apply: need <name> <seed> <b0> <b1> <b2> <road uid> <event uid> (hex, "
                             "as `roadevents` prints)";
    const std::string usage = "[core] roadevents: usage roadevents | defs | near | apply <name> <seed> <b0> <b1> <b2> "
                              "<road> <uid> | remove <uid>";
    const std::string wc = ptr(sim::world_controller());
    line_case cases[] = {
        { "roadevents apply road_works 1 2 3 4 5", { need } },
        { "roadevents apply Road 1 2 3 4 5 6", { need } },
        { "roadevents apply road_works 1 2 3 4 5 nan", { need } },
        { "roadevents apply road_works 100000000 2 3 4 5 6", { need } },
        { "roadevents apply road_works 1 2 3 4 777 6",
          { "[core] roadevents apply: road 777 -> item " + ptr(nullptr) + " (type 0, loaded 0), wc " + wc,
            "[core] roadevents apply: road item not found / not a road (not loaded here?)" } },
        { "roadevents remove xyz", { usage } },
        { "roadevents remove", { usage } },
        { "roadevents bogus", { usage } },
    };
    sim::calls_clear();
    for (auto &c : cases)
        EXPECT_EQ(command(c.line), c.log) << c.line;
    EXPECT_TRUE(sim::calls_named("road_event_apply").empty());
    EXPECT_TRUE(sim::calls_named("road_event_remove").empty());
    EXPECT_EQ(sim::calls_named("road_item_of").size(), 1u);
    // A road item that is not a road.
    auto lines = command("roadevents apply road_works 1 2 3 4 55 6");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("(type 2, loaded 1)"), std::string::npos) << lines[0];
    EXPECT_TRUE(sim::calls_named("road_event_apply").empty());

    sim::journey_manager_remove();
    const std::string none = "[core] roadevents: no journey events manager";
    EXPECT_EQ(command("roadevents"), std::vector<std::string>{ none + " (profile not loaded?)" });
    for (const char *line : { "roadevents defs", "roadevents near", "roadevents apply road_works 1 2 3 4 1234 6",
                              "roadevents remove 5" })
        EXPECT_EQ(command(line), std::vector<std::string>{ none }) << line;
}

TEST_F(roadevents, GameFaultsInApplyAndRemoveAreCaught)
{
    expect_faulting_call(sim::jny_off::event_apply, "roadevents apply road_works beef 3fc00000 2 ffffffff 1234 5", 2,
                         "[core] roadevents apply: ");
    expect_faulting_call(sim::jny_off::event_remove, "roadevents remove 9", 1, "[core] roadevents remove: ");
    EXPECT_EQ(sim::road_events().size(), 3u);
}

} // namespace
