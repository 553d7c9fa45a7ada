/* The simulated game's vehicle world for the benchmarks that show other
 * players as vehicles: the draw routines, the vehicle world with the
 * player's truck (a chassis and a wheel) and what the test server's bots are
 * built from (a bot's cabin entry stands for its wheels), the truck parked
 * at (100, 10, 50), and the convoy machinery. As in the demo game. And
 * the props benchmarks' model (bench_cone_model). */
#pragma once
#include "sim/sim_convoy.h"
#include "sim/sim_draw.h"
#include "sim/sim_game.h"
#include "sim/sim_props.h"
#include "sim/sim_vehicles.h"

inline void bench_vehicle_world(const sim::player &pl, const char *plate)
{
    sim::draw_install();
    sim::vehicle_world_install();
    const void *part = sim::game_at(sim::veh_off::part_data_class);
    const void *wheel = sim::game_at(sim::veh_off::wheel_data_class);
    sim::data_new("/def/truck/chassis.sii", part);
    sim::data_new("/def/truck/wheel.sii", wheel);
    sim::data_new("/def/vehicle/truck/demo.truck/chassis/4x2.sii", part);
    sim::data_new("/def/vehicle/truck/demo.truck/cabin/big.sii", wheel);
    uint8_t *def = sim::def_new(sim::def_kind::vehicle, plate);
    sim::def_push(def, sim::accessory_new(sim::accessory_kind::part, "/def/truck/chassis.sii"));
    sim::def_push(def, sim::accessory_new(sim::accessory_kind::wheel, "/def/truck/wheel.sii"));
    sim::player_truck_def(pl, def);
    sim::placement32 parked = { 100, 10, 50, 0, 0, 1, 0, 0, 0 };
    sim::player_set_placement(&parked);
    sim::convoy_install(pl);
}

/* The props benchmarks' model: a cone with two lights and a flare, on flat
 * ground at 10 m. */
inline void bench_cone_model()
{
    sim::model_entry e;
    e.path = "/model/cone.pmd";
    e.lights = 2;
    e.flares = 1;
    sim::model_add(e);
    sim::ground_set(sim::ground_kind::flat, 10);
}
