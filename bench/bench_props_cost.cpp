// Props cost: the game thread's props step and the draw detour's props pass
// with 64 props, half of them attached to the local truck while it drives
// (so the step re-places 32 props a frame), beside the same calls with no
// prop. The core's objects are linked into the simulated game and its props
// functions called directly: props_tick as the "props" frame step runs it,
// props_draw as the draw detour calls it on the render thread (timed here on
// one thread, which is where its cost falls). Median and 99th percentile in
// microseconds of the calling thread's CPU time (bench_clock.h); figures
// only, nothing is judged.
#include <windows.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include "bench_clock.h"
#include "bench_stats.h"
#include "bench_world.h"
#include "base/core.h"
#include "base/game_mem.h"
#include "props/props_internal.h"
#include "base/shared_section.h"
#include "props/props.h"
#include "sim/sim_game.h"
#include "sim/sim_props.h"
#include "sim/sim_vehicles.h"

namespace {

constexpr int frames = 3000;
double samples[frames];

void quiet_log(const char *, ...) {}

double now_us() { return (double)bench_thread_cpu_ns() / 1000.0; }

void truck_at(double t)
{
    float yaw = (float)(t * 0.3), h = yaw / 2;
    sim::placement32 at = { (float)(100 + 10 * t), 10, 50, 0, 0, cosf(h), 0, sinf(h), 0 };
    sim::player_set_placement(&at);
}

void report(const char *label, int n)
{
    bench_sort(samples, n);
    printf("%-44s median %8.2f us  p99 %8.2f us\n", label, bench_percentile(samples, n, 0.5),
           bench_percentile(samples, n, 0.99));
}

void run(bool with_props, uint8_t *context)
{
    char label[64];
    for (int i = 0; i < frames; i++) {
        truck_at(i / 60.0);
        double a = now_us();
        props_tick(nullptr);
        samples[i] = now_us() - a;
    }
    snprintf(label, sizeof label, "props step, %s", with_props ? "64 props (32 attached)" : "no prop");
    report(label, frames);
    for (int i = 0; i < frames; i++) {
        double a = now_us();
        props_draw((uint64_t)(uintptr_t)context);
        samples[i] = now_us() - a;
    }
    snprintf(label, sizeof label, "draw detour's props pass, %s", with_props ? "64 props" : "no prop");
    report(label, frames);
    if (!with_props)
        return;
    // The simulated game's own share of that pass: its draw routine called
    // on the same models, without the pass around it.
    uint64_t models[PROPS_SLOTS];
    int count = 0;
    for (auto &r : props_block->table)
        if (props_state_of(&r) == PROP_LIVE && r.model)
            models[count++] = r.model;
    for (int i = 0; i < frames; i++) {
        double a = now_us();
        for (int k = 0; k < count; k++)
            game_vslot<uint64_t (*)(uint64_t, uint64_t)>(models[k], MODEL_SLOT_DRAW)(models[k], (uint64_t)(uintptr_t)context);
        samples[i] = now_us() - a;
    }
    snprintf(label, sizeof label, "of it, the game's own %d model draws", count);
    report(label, frames);
}

} // namespace

int main()
{
    if (!bench_thread_clock_usable()) {
        printf("bench_props_cost: the thread clock needs Wine\n");
        return 0;
    }
    sim::game_reset();
    sim::vehicle_world_install();
    game_base = (uint64_t)(uintptr_t)GetModuleHandleA(nullptr);
    game_build_state = 1;
    static dm_host_api api = { 24, 1, quiet_log, "" };
    core_api = &api;
    sim::player pl = sim::game_player_create();
    sim::props_world_install(pl);
    bench_cone_model();
    truck_at(0);
    props_init(&api);
    uint8_t *context = sim::object_new(0x40);
    props_tick(nullptr);
    run(false, context);
    for (int i = 0; i < 64; i++) {
        char line[96];
        snprintf(line, sizeof line, "spawn /model/cone.pmd %d %d", 5 + i % 8, i / 8);
        props_command(line);
        if (i < 32) {
            snprintf(line, sizeof line, "attach last truck %d %d 0", 3 + i % 8, i / 8 - 4);
            props_command(line);
        }
    }
    props_tick(nullptr); // hookups
    run(true, context);
    props_shutdown();
    return 0;
}
