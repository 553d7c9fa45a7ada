// The spawned vehicle and trailer drawn by the game's render thread while the
// game thread spawns, hides and removes them: the core's code linked into the
// simulated game, the draw hooks installed, the render thread calling the
// draw and shadow routines one frame after the other. The game's draw of a
// vehicle reads it all through the call and a released unit is unreadable,
// so a release under a running draw faults or shows in unit_problems.
#include "spawn_fixture.h"
#include <string.h>
#include "runtime/hooks.h"
#include "sim/sim_draw.h"

namespace {

using namespace spawn_fx;

const int wait_ms = 5000;

class spawn_draw_test : public spawn_test {
protected:
    uint8_t *rig = nullptr;

    void SetUp() override
    {
        spawn_test::SetUp();
        trailer_rig = trailer_rig_record{};
        memset((void *)&hook_stats, 0, sizeof hook_stats);
        sim::draw_world world = sim::draw_install();
        sim::put<uint64_t>(world.light_kind, sim::light_kind_flags, 1);
        sim::put<float>(world.shadow_context, sim::shadow_w, 1.0f); // our shadows at strength 1
        // The player's coupled trailer, which the "trailer" command copies.
        rig = sim::player_trailer_new(pl, sim::def_new(sim::def_kind::trailer, "TR 1"));
        sim::vehicle_set_placement(rig, { 100, 10, 58, 0, 0, 1, 0, 0, 0 });
        sim::trailer_couple(rig, pl.truck);
        hook_install_draw();
        ASSERT_TRUE(hook_draw_installed()) << log_text();
        sim::draw_thread_start(true);
    }
    void TearDown() override
    {
        sim::draw_thread_stop();
        hook_remove_all();
        sim::draw_uninstall();
        trailer_rig = trailer_rig_record{};
        spawn_test::TearDown();
    }

    /* Waits until the object's draws and shadows moved on from what they
     * were; false after wait_ms. */
    static bool drawn_again(const void *object)
    {
        sim::unit_drawn was = sim::unit_draws(object);
        DWORD start = GetTickCount();
        for (;;) {
            sim::unit_drawn now = sim::unit_draws(object);
            if (now.draws > was.draws && now.shadows > was.shadows)
                return true;
            if (GetTickCount() - start > (DWORD)wait_ms)
                return false;
            Sleep(0);
        }
    }
    /* Neither draw nor shadow of the object in the next frames. */
    static bool not_drawn(const void *object)
    {
        sim::unit_drawn was = sim::unit_draws(object);
        if (!sim::draw_wait_frames(20, wait_ms))
            return false;
        sim::unit_drawn now = sim::unit_draws(object);
        return now.draws == was.draws && now.shadows == was.shadows;
    }
    uint8_t *trailer_spawned(double t)
    {
        spawn_trailer();
        tick(t);
        tick(t);
        EXPECT_EQ(spawn_trailer_state_value(), SPAWN_SPAWNED) << log_text();
        return p(spawn_state.trailer_actor);
    }
};

// Each cycle: the vehicle spawns (clone or share) and is drawn; with a
// trailer, the trailer spawns and is drawn; hidden, neither is drawn;
// then the trailer goes, and a clone goes too (a shared vehicle cannot be
// despawned: it stays and is shown again). A release waits for the draws.
TEST_F(spawn_draw_test, SpawnedAndRemovedUnderALiveRenderThread)
{
    struct {
        const char *name;
        bool clone, trailer, hide;
        int cycles;
    } cases[] = {
        { "clone", true, false, false, 150 },
        { "clone with a trailer", true, true, false, 100 },
        { "clone, hidden before the despawn", true, true, true, 60 },
        { "share with a trailer, hidden and shown", false, true, true, 100 },
    };
    double t = 1.0;
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        spawn_state.spawn_mode_clone = c.clone ? 1 : 0;
        for (int i = 0; i < c.cycles; i++) {
            SCOPED_TRACE(i);
            if (spawn_state_value() == SPAWN_NONE) {
                spawn_vehicle(6.0f, nullptr, 0);
                tick(t);
                tick(t);
                ASSERT_EQ(spawn_state_value(), SPAWN_SPAWNED) << log_text();
            }
            uint8_t *v = vehicle();
            ASSERT_TRUE(drawn_again(v));
            uint8_t *a = nullptr;
            if (c.trailer) {
                a = trailer_spawned(t);
                ASSERT_TRUE(a);
                ASSERT_TRUE(drawn_again(a));
            }
            if (c.hide) {
                spawn_set_hidden(true);
                ASSERT_TRUE(not_drawn(v)) << "a hidden vehicle is drawn";
                if (a) {
                    ASSERT_TRUE(not_drawn(a)) << "a hidden vehicle's trailer is drawn";
                }
            }
            if (a)
                trailer_remove("trailer off");
            if (c.clone) {
                spawn_despawn();
                ASSERT_EQ(spawn_state_value(), SPAWN_NONE);
                ASSERT_EQ(sim::destroyed(v), 1) << "released now: the draws left in time";
            }
            spawn_set_hidden(false); // as the remote glue does for the next player
            if (a) {
                ASSERT_EQ(sim::destroyed(a), 1);
            }
            tick(t);
            t += 0.05;
            ASSERT_FALSE(hook_stats.draw_fault || hook_stats.shadow_fault || hook_stats.trailer_draw_fault ||
                         hook_stats.trailer_shadow_fault)
                << "a draw faulted";
            ASSERT_EQ(sim::unit_problems(), std::vector<std::string>{});
        }
        if (!c.clone)
            spawn_forget("test: the shared vehicle stays in the game");
    }
    EXPECT_EQ(spawn_releases_waiting(), 0);
    EXPECT_EQ(sim::draw_stats().unwinds, 0u);
}

// A draw that takes longer than the despawn waits: the vehicle leaves the
// game's list and is released only in a later frame, once the draw ended.
TEST_F(spawn_draw_test, AReleaseUnderALongDrawWaitsForALaterFrame)
{
    spawn_state.spawn_mode_clone = 1;
    spawned();
    uint8_t *v = vehicle();
    ASSERT_TRUE(drawn_again(v));
    sim::draw_delay_ms(400); // the game's own draw, before ours in the same call
    ASSERT_TRUE(sim::draw_wait_frames(1, wait_ms));
    Sleep(50); // inside the next call
    spawn_despawn();
    EXPECT_EQ(spawn_state_value(), SPAWN_NONE);
    EXPECT_TRUE(logged(fmt("[core] despawn: %p still being drawn after 100 ms; released in a later frame", (void *)v)))
        << log_text();
    EXPECT_EQ(sim::destroyed(v), 0);
    EXPECT_TRUE(sim::vehicle_listed(v)) << "not removed from the game's list either";
    EXPECT_EQ(spawn_releases_waiting(), 1);
    sim::draw_delay_ms(0);
    DWORD start = GetTickCount();
    while (spawn_releases_waiting() > 0 && GetTickCount() - start < (DWORD)wait_ms) {
        tick(2.0);
        Sleep(5);
    }
    EXPECT_EQ(sim::destroyed(v), 1) << log_text();
    EXPECT_FALSE(sim::vehicle_listed(v));
    EXPECT_TRUE(logged(fmt("[core] despawn: release veh %p (refword 20000001)", (void *)v))) << log_text();
    EXPECT_EQ(sim::unit_problems(), std::vector<std::string>{});
    EXPECT_FALSE(hook_stats.draw_fault);
}

} // namespace
