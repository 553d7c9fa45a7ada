// The lookups props use to find other players' vehicles, with the core's
// code linked into the simulated game: the spawned vehicle and trailer for
// the player it shows, nothing for the rest (no convoy remote vehicles here).
#include "spawn_fixture.h"

namespace {

using spawn_fx::spawn_test;

TEST_F(spawn_test, PlayerVehicleIsTheSpawnedOneOnlyForItsPlayerAndOnlyOnceSpawned)
{
    uint8_t *vehicle = spawned();
    uint8_t *trailer = sim::object_new(0x100);
    spawn_state.net_player = 7;
    spawn_state.trailer_actor = spawn_fx::u(trailer);
    struct {
        uint16_t id;
        bool trailer;
        uint32_t state, trailer_state;
        void *result;
    } cases[] = {
        { 7, false, SPAWN_SPAWNED, SPAWN_NONE, vehicle },
        { 7, false, SPAWN_LOADING, SPAWN_NONE, nullptr },
        { 7, true, SPAWN_SPAWNED, SPAWN_SPAWNED, trailer },
        { 7, true, SPAWN_SPAWNED, SPAWN_NONE, nullptr },
        { 8, false, SPAWN_SPAWNED, SPAWN_SPAWNED, nullptr },
        { 8, true, SPAWN_SPAWNED, SPAWN_SPAWNED, nullptr },
        { 0, false, SPAWN_SPAWNED, SPAWN_SPAWNED, nullptr },
    };
    for (auto &c : cases) {
        SCOPED_TRACE(spawn_fx::fmt("player %u trailer %d state %u/%u", c.id, c.trailer, c.state, c.trailer_state));
        spawn_state.state = c.state;
        spawn_state.trailer_state = c.trailer_state;
        void *out = (void *)1;
        EXPECT_EQ(player_vehicle(c.id, c.trailer, &out), c.result);
        EXPECT_EQ(out, nullptr);
    }
    placement p;
    EXPECT_FALSE(remote_rv_pose(0, &p));
    EXPECT_FALSE(remote_rv_pose(7, &p));
    EXPECT_FALSE(remote_rv_pose(8, &p));
    spawn_state.state = SPAWN_SPAWNED;
    spawn_state.trailer_state = SPAWN_NONE;
    spawn_state.trailer_actor = 0;
}

} // namespace
