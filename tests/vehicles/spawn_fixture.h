/* The spawned vehicle's tests: the core's code linked into the simulated
 * game and called directly, with a local truck, its definition (a chassis
 * and a wheel, so that a look list builds) and the frame given by hand. */
#pragma once
#include <windows.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "base/core.h"
#include "core_linked.h"
#include "base/game_mem.h"
#include "log_capture.h"
#include "vehicles/motion_math.h"
#include "vehicles/spawn.h"
#include "vehicles/vehicle_defs.h"
#include "sim/sim_vehicles.h"

namespace spawn_fx {

inline uint64_t u(const void *address) { return (uint64_t)(uintptr_t)address; }
inline uint8_t *p(uint64_t address) { return (uint8_t *)(uintptr_t)address; }
using fx::fmt;

constexpr const char *chassis_path = "/def/truck/chassis.sii";
constexpr const char *wheel_path = "/def/truck/wheel.sii";
constexpr uint64_t frame_us = 16667;

class spawn_test : public ::testing::Test {
protected:
    dm_host_api api {};
    sim::player pl {};
    uint8_t *local = nullptr; /* the local truck's definition */
    uint64_t frame_no = 0;

    void SetUp() override
    {
        fx::core_linked_setup(api);
        game_build_state = 1;
        look_building_off = 0;
        spawn_state = spawn_state_record{};
        frame_no = 0;

        sim::data_new(chassis_path, sim::game_at(sim::veh_off::part_data_class));
        sim::data_new(wheel_path, sim::game_at(sim::veh_off::wheel_data_class));
        pl = sim::game_player_create();
        local = sim::def_new(sim::def_kind::vehicle, "AB 123");
        sim::def_push(local, sim::accessory_new(sim::accessory_kind::part, chassis_path));
        sim::def_push(local, sim::accessory_new(sim::accessory_kind::wheel, wheel_path));
        sim::player_truck_def(pl, local);
        truck_at(100.0f, 10.0f, 50.0f);
        sim::game_put<uint64_t>(sim::phys::frame_us, frame_us);
        sim::calls_clear();
    }
    void TearDown() override
    {
        spawn_state = spawn_state_record{};
        core_api = nullptr;
        sim::game_reset();
    }

    /* The local truck's placement: sector 0, unrotated unless q is given. */
    void truck_at(float x, float y, float z, const float q[4] = nullptr)
    {
        sim::placement32 at = { x, y, z, 0, 0, 1, 0, 0, 0 };
        if (q) {
            at.qw = q[0];
            at.qx = q[1];
            at.qy = q[2];
            at.qz = q[3];
        }
        sim::player_set_placement(&at);
    }

    dm_frame_info frame(double seconds, bool paused = false)
    {
        dm_frame_info f {};
        f.size = sizeof f;
        f.paused = paused ? 1 : 0;
        f.frame = ++frame_no;
        f.seconds = seconds;
        f.game_base = game_base;
        return f;
    }
    void tick(double seconds, bool paused = false)
    {
        dm_frame_info f = frame(seconds, paused);
        spawn_tick(&f);
    }

    uint8_t *vehicle() { return p(spawn_state.vehicle); }

    /* A vehicle in state 2: spawned, one loading step at t, finalized at t. */
    uint8_t *spawned(double t = 1.0)
    {
        spawn_vehicle(6.0f, nullptr, 0);
        tick(t);
        tick(t);
        EXPECT_EQ(spawn_state_value(), SPAWN_SPAWNED) << log_text();
        sim::calls_clear();
        fx::captured_clear();
        return vehicle();
    }

    /* The names of the recorded calls among those given, in order. */
    static std::vector<std::string> call_names(const std::vector<std::string> &wanted)
    {
        std::vector<std::string> out;
        for (auto &c : sim::calls())
            for (auto &w : wanted)
                if (c.name == w)
                    out.push_back(c.name);
        return out;
    }
    static bool logged(const std::string &line) { return fx::captured_has(line); }
    static std::string log_text()
    {
        std::string out;
        for (auto &l : fx::captured())
            out += l + "\n";
        return out;
    }
};

} // namespace spawn_fx
