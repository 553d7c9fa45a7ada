// drovemark_game.exe: the simulated game for the demo. It loads the plug-in
// from its own folder, runs game frames at 60 Hz for the given number of
// seconds, and shuts down. Usage: drovemark_game [seconds] [LOCALAPPDATA]
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "sim/sim.h"

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
    int32_t r = sim::plugin_init(SCS_TELEMETRY_VERSION_1_01);
    printf("game: scs_telemetry_init returned %d\n", r);
    sim::event_started();
    const double dt = 1.0 / 60.0;
    for (double t = 0; t < seconds; t += dt) {
        sim::clock_advance(dt);
        sim::channel_placement(t * 10.0, 0.0, -t * 5.0, 0.25f, 0.0f, 0.0f);
        sim::channel_speed(10.0f);
        sim::frame();
        Sleep(16);
    }
    sim::plugin_shutdown();
    for (auto &line : sim::game_log())
        printf("game log: %s\n", line.c_str());
    sim::plugin_unload();
    return 0;
}
