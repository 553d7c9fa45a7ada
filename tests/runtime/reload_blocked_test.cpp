// A reload whose block sections cannot be made: the names are taken by
// objects of another kind before any core maps them, in a process of its
// own (a section, once made, lasts for the process). Each block is then off
// without a word: nothing is written or taken back, and the cores run on.
#include "sim/reload_sections.h"
#include "runtime_fixture.h"
#include "sim/sim_vehicles.h"

using rt::fmt;
using namespace reload_fx;

namespace {

class reload_blocked : public rt::core_test {};

TEST_F(reload_blocked, BlockedNamesLeaveTheBlocksOffSilently)
{
    for (const block_name &b : all_blocks)
        ASSERT_TRUE(block_the_name(b)) << b.format;
    sim::vehicle_world_install();
    sim::data_new("/def/truck/chassis.sii", sim::game_at(sim::veh_off::part_data_class));
    uint8_t *def = sim::def_new(sim::def_kind::vehicle, "AB 123");
    sim::def_push(def, sim::accessory_new(sim::accessory_kind::part, "/def/truck/chassis.sii"));
    sim::player_truck_def(player, def);
    sim::placement32 at = { 100, 10, 50, 0, 0, 1, 0, 0, 0 };
    sim::player_set_placement(&at);
    start();
    command("spawn");
    sim::frames(2, 0.05);
    ASSERT_GE(log_find("[core] spawn complete"), 0) << log_text();
    int lines_before = (int)log_lines().size();

    sim::frames(1, 0.5);
    fx::set_write_time(base + "core\\drovemark_core.dll", 60);
    sim::frames(1, 0.5);
    ASSERT_GE(log_find("[host] core generation 2 loaded"), 0) << log_text();
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

} // namespace
