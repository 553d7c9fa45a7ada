// A reload whose block sections cannot be made: the names are taken by
// objects of another kind before any core maps them, in a process of its
// own (a section, once made, lasts for the process). Each block is then off
// without a word: nothing is written or taken back, and the cores run on.
#include "sim/reload_sections.h"
#include "runtime_fixture.h"
#include "sim/sim_convoy.h"
#include "sim/sim_draw.h"
#include "sim/sim_props.h"
#include "sim/sim_vehicles.h"

using rt::fmt;
using namespace reload_fx;

namespace {

class reload_blocked : public rt::core_test {
protected:
    /* Every name a core maps, taken before the first core of the process. */
    void block_all()
    {
        for (const block_name &b : all_blocks)
            ASSERT_TRUE(block_the_name(b)) << b.format;
        ASSERT_TRUE(block_the_name(props_block));
        ASSERT_TRUE(block_the_name(render_gate));
    }
    /* The plug-in's hot reload of the same core. */
    void reload()
    {
        sim::frames(1, 0.5);
        fx::set_write_time(base + "core\\drovemark_core.dll", 60);
        sim::frames(2, 0.5); // seen changed, then alike: reloaded
        ASSERT_GE(log_find("[host] core generation 2 loaded"), 0) << log_text();
    }
};

TEST_F(reload_blocked, BlockedNamesLeaveTheBlocksOffSilently)
{
    block_all();
    sim::vehicle_world_install();
    rt::player_truck(player);
    start();
    command("spawn");
    sim::frames(2, 0.05);
    ASSERT_GE(log_find("[core] spawn complete"), 0) << log_text();
    int lines_before = (int)log_lines().size();

    ASSERT_NO_FATAL_FAILURE(reload());
    sim::frames(5, 0.05);
    EXPECT_LT(log_find("[core] restored", lines_before), 0) << log_text();
    auto lines = log_lines();
    for (int i = lines_before; i < (int)lines.size(); i++) {
        EXPECT_EQ(lines[i].find("section"), std::string::npos) << lines[i];
    }
    for (const block_name &b : all_blocks)
        EXPECT_TRUE(read_block(b).empty()) << b.format;
    EXPECT_EQ(first("info"), "[core] info: nothing spawned");
}

// A props block that cannot be mapped: props work for this core (spawned,
// drawn on the render thread, released), with one line; the next core
// starts with none of them and says so again.
TEST_F(reload_blocked, APropsBlockThatCannotBeMappedServesThisCoreOnly)
{
    block_all();
    sim::draw_install();
    sim::vehicle_world_install();
    sim::props_world_install(player);
    sim::model_entry cone;
    cone.path = "/model/cone.pmd";
    sim::model_add(cone);
    sim::placement32 at = { 100, 10, 50, 0, 0, 1, 0, 0, 0 };
    sim::player_set_placement(&at);
    sim::ground_set(sim::ground_kind::flat, 10);
    start();
    EXPECT_EQ(log_count("[props] shared memory failed; props won't survive a reload"), 1) << log_text();
    command("model spawn /model/cone.pmd 10 0");
    command("model spawn /model/cone.pmd 12 0");
    sim::frames(2, 0.05);
    ASSERT_EQ(sim::models_made().size(), 2u) << log_text();
    sim::draw_thread_start();
    ASSERT_TRUE(sim::draw_wait_frames(3));
    sim::draw_thread_stop();
    for (auto *m : sim::models_made())
        EXPECT_GE(sim::model_draws(m).draws, 1u);
    command("model despawn 2");
    sim::frames(4, 0.05);
    EXPECT_GE(log_find("[props] #2 released"), 0) << log_text();

    int lines_before = (int)log_lines().size();
    ASSERT_NO_FATAL_FAILURE(reload());
    sim::frames(3, 0.05);
    EXPECT_GE(log_find("[props] shared memory failed; props won't survive a reload", lines_before), 0);
    EXPECT_LT(log_find("[props] 1 prop(s) kept", lines_before), 0) << log_text();
    EXPECT_EQ(first("model list"), "[props] 0 live, drawing on, 0 draw calls");
    EXPECT_EQ(sim::unit_problems(), std::vector<std::string>{});
}

// The convoy slots' section cannot be mapped: one line a core, and the slots
// go on across the reload through the player-info page of single player, as
// they did before the section.
TEST_F(reload_blocked, AnRvBlockThatCannotBeMappedLeavesThePage)
{
    block_all();
    sim::vehicle_world_install();
    rt::player_truck(player);
    sim::convoy_install(player);
    const std::string line = "[core] rv: shared memory failed; convoy vehicles survive a reload only in single player";
    start();
    EXPECT_EQ(log_count(line), 1) << log_text();
    command("rvspawn");
    sim::frames(3, 0.05);
    ASSERT_EQ(sim::convoy_listed().size(), 1u) << log_text();
    void *netobj = sim::convoy_netobjs()[0].netobj;
    int lines_before = (int)log_lines().size();

    ASSERT_NO_FATAL_FAILURE(reload());
    sim::frames(2, 0.05);
    EXPECT_EQ(log_count(line), 2) << log_text();
    EXPECT_GE(log_find(fmt("[core] rv: restored slot 0 from before the reload (net %p, stage 3, player 0)", netobj),
                       lines_before),
              0)
        << log_text();
    EXPECT_TRUE(read_block(rv_block).empty());
    EXPECT_EQ(sim::convoy_listed().size(), 1u);
}

} // namespace
