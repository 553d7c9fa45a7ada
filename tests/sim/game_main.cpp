// drovemark_game.exe: the simulated game for the demo. It loads the plug-in
// from its own folder, runs game frames at 60 Hz for the given number of
// seconds, and shuts down. Usage:
//   drovemark_game [seconds] [LOCALAPPDATA] [PNG] [servers PNG] [name tags PNG] [players PNG]
// The game is build 1.61.3.1 with a profile loaded (so the core recognises it
// and may join a server); its clock starts at day 3, 14:00, in normal weather,
// and runs at the game's pace. It has a real window and swap chain and presents
// every frame; a third of the way through the player presses F2, a little
// later opens the Players page, and the last frame is saved to the PNG when
// one is named (and the Servers page, the menu's first, just before the
// Players page opens to the servers PNG; the frame just before F2, with the
// menu closed and the bots' name tags over them, to the name tags PNG; and
// the Players page 0.4 s after it opens, while the bots are still there, to
// the players PNG).
// Its camera looks at the circles the test server's bots drive (bot n around
// x = 1000 + 100 n, z = -2000, 50 m up). Its vehicle world is installed,
// the player's truck has a definition (a chassis and a wheel) and the render
// thread runs the game's draw and shadow routines each frame (its light casts
// shadows), so other players can be shown as vehicles with their shadows. Its
// AI traffic holds three cars driving near the bots' circles and one far from
// them, with g_traffic at 1.00. Its props world knows one model,
// /model/cone.pmd, and its vehicles carry part models. Its convoy machinery (sim_convoy.h) shows
// other players as the game's own convoy vehicles.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "sim/sim.h"
#include "sim/sim_camera.h"
#include "sim/sim_convoy.h"
#include "sim/sim_draw.h"
#include "sim/sim_economy.h"
#include "sim/sim_game.h"
#include "sim/sim_input.h"
#include "sim/sim_props.h"
#include "sim/sim_render.h"
#include "sim/sim_traffic.h"
#include "sim/sim_vehicles.h"
#include "sim/sim_world.h"

int main(int argc, char **argv)
{
    double seconds = argc > 1 ? atof(argv[1]) : 5.0;
    if (argc > 2)
        SetEnvironmentVariableA("LOCALAPPDATA", argv[2]);
    char dir[MAX_PATH], path[MAX_PATH];
    GetModuleFileNameA(nullptr, dir, sizeof dir);
    *strrchr(dir, '\\') = 0;
    snprintf(path, sizeof path, "%s\\drovemark.dll", dir);
    if (!sim::plugin_load(path)) {
        fprintf(stderr, "game: cannot load %s\n", path);
        return 1;
    }
    // The window and swap chain exist before the plug-in starts.
    if (!sim::render_open())
        fprintf(stderr, "game: no window or swap chain; running without a picture\n");
    sim::game_reset();
    sim::set_build_hash();
    sim::vehicle_world_install();
    sim::player player = sim::game_player_create();
    sim::world eco = sim::world_create(player);
    // The player's truck and what the test server's bots are built from (a
    // bot's cabin entry stands for its wheels).
    const void *part = sim::game_at(sim::veh_off::part_data_class);
    sim::data_new("/def/truck/chassis.sii", part);
    sim::data_new("/def/truck/wheel.sii", sim::game_at(sim::veh_off::wheel_data_class));
    sim::data_new("/def/vehicle/truck/demo.truck/chassis/4x2.sii", part);
    sim::data_new("/def/vehicle/truck/demo.truck/cabin/big.sii", sim::game_at(sim::veh_off::wheel_data_class));
    uint8_t *truck_def = sim::def_new(sim::def_kind::vehicle, "DEMO 1");
    sim::def_push(truck_def, sim::accessory_new(sim::accessory_kind::part, "/def/truck/chassis.sii"));
    sim::def_push(truck_def, sim::accessory_new(sim::accessory_kind::wheel, "/def/truck/wheel.sii"));
    sim::player_truck_def(player, truck_def);
    sim::placement32 parked = { 100, 10, 50, 0, 0, 1, 0, 0, 0 };
    sim::player_set_placement(&parked);
    // The game's convoy machinery: remote players as convoy vehicles.
    sim::convoy_install(player);
    // Props: one model in the game's files, flat ground at the truck's height.
    sim::props_world_install(player);
    sim::model_entry cone;
    cone.path = "/model/cone.pmd";
    sim::model_add(cone);
    sim::ground_set(sim::ground_kind::flat, 10);
    // The camera stands 60 m up at x = 1200, z = -1780 and looks along -z
    // (the identity orientation), at the three bots' circles 220 m ahead. The
    // draw path sets the manager's active index to 1 around its draws, so
    // entries 0 and 1 are the same view; draw_install keeps this manager.
    sim::camera_manager cameras = sim::camera_manager_create(player, 2);
    sim::camera_values view;
    view.fov_h = 80;
    view.fov_v = 50;
    view.sector_x = 2; // 2 * 512 + 176 = 1200
    view.x = 176;
    view.y = 60;
    view.sector_z = -4; // -4 * 512 + 268 = -1780
    view.z = 268;
    for (int i = 0; i < 2; i++)
        sim::camera_set((uint8_t *)(uintptr_t)cameras.array[i], view);
    sim::draw_world draw = sim::draw_install();
    sim::put<uint64_t>(draw.light_kind, sim::light_kind_flags, 1); // a light kind that casts shadows
    sim::draw_thread_start();
    sim::world_set_clock(3, 14, 0, 0);
    // A small freight market: the server's job takes the quarry's first offer.
    sim::economy_create(eco);
    uint8_t *gravel = sim::economy_cargo("gravel");
    uint8_t *quarry = sim::economy_company("quarry", "berlin", 0, 0);
    sim::economy_company("farm", "hamburg", 0, 20000);
    sim::economy_offer(quarry, "farm.hamburg", sim::economy_cargo("milk"), 30);
    sim::economy_offer(quarry, "farm.hamburg", gravel, 28, 2);
    // AI traffic: three cars within 1000 m of the bots (a traffic owner sends
    // those) and one 2 km beyond the last bot (never sent).
    sim::traffic_create("1.00");
    const double cars[4][4] = { { 1150, -1900, 15, 0 }, { 1250, -2100, -15, 0 }, { 1000, -2050, 0, 12 },
                                { 3500, -2000, 0, -12 } };
    for (auto &c : cars) {
        sim::traffic_car_desc car;
        car.pos[0] = c[0];
        car.pos[1] = 50;
        car.pos[2] = c[1];
        car.vel[0] = (float)c[2];
        car.vel[2] = (float)c[3];
        car.lights = 0x1;
        sim::traffic_add_car(car);
    }
    int32_t r = sim::plugin_init(SCS_TELEMETRY_VERSION_1_01);
    printf("game: scs_telemetry_init returned %d\n", r);
    sim::event_started();
    const double dt = 1.0 / 60.0;
    for (double t = 0; t < seconds; t += dt) {
        sim::clock_advance(dt);
        sim::world_advance(dt);
        sim::traffic_advance(dt);
        sim::channel_placement(t * 10.0, 0.0, -t * 5.0, 0.25f, 0.0f, 0.0f);
        sim::channel_speed(10.0f);
        sim::frame();
        sim::pump();
        if (t < seconds / 3 && t + dt >= seconds / 3) {
            if (argc > 5 && sim::capture_frame(0.0) && sim::capture_save_png(argv[5]))
                printf("game: saved %s\n", argv[5]);
            sim::key_input(VK_F2, true);
            sim::render_present(0);
            sim::key_input(VK_F2, false);
        }
        if (t < seconds / 2 && t + dt >= seconds / 2) {
            if (argc > 4 && sim::capture_frame(0.0) && sim::capture_save_png(argv[4]))
                printf("game: saved %s\n", argv[4]);
            sim::mouse_click_message(225, 216); // the menu's Players entry
        }
        double players_at = seconds / 2 + 0.4; // the page drawn, the bots still there
        if (argc > 6 && t < players_at && t + dt >= players_at && sim::capture_frame(0.0) &&
            sim::capture_save_png(argv[6]))
            printf("game: saved %s\n", argv[6]);
        if (argc > 3 && t + dt >= seconds) {
            if (sim::capture_frame(0.0) && sim::capture_save_png(argv[3]))
                printf("game: saved %s\n", argv[3]);
        } else {
            sim::render_present(0);
        }
        Sleep(16);
    }
    sim::plugin_shutdown();
    sim::draw_thread_stop();
    for (auto &line : sim::game_log())
        printf("game log: %s\n", line.c_str());
    sim::plugin_unload();
    sim::render_close();
    return 0;
}
