// Frame cost: the core's whole frame on the game thread, with everything
// off and then with more and more on. The real plug-in and core run in the
// simulated game (vehicle, convoy, draw and props worlds). Off: not
// connected, no prop. Then 16 and 64 props, every other one attached to our
// truck, which drives a circle (so the props step re-places half of them a
// frame); then, with the 64 props, joined to the test server on 127.0.0.1
// with our spawned vehicle, a copy of our trailer and the name tags on, and
// 1, 8 and 63 bots sending states at 10 Hz (the test server holds 64
// clients, we are one), up to seven of them shown as convoy vehicles
// (`remote_mode = rv`): the last case has everything on. The steps show how
// the frame grows with props and with bots. Traffic sync and the freight
// market's row hook are not part of this frame. Median and 99th percentile
// in microseconds per frame of the game thread's CPU time (bench_clock.h);
// joined, also apart for the frames that read the test server's tick (every
// bot's state at once, one datagram each, every 0.1 s: about one frame in
// six) and for the others, as the tick's frames make the tail. And the draw
// detour's added cost per render frame: the simulated render frame
// (sim::draw_frame, which the detour hooks) timed on the calling thread, all
// on minus off. Figures only, nothing is judged.
#include <winsock2.h>
#include <windows.h>
#include <math.h>
#include <stdio.h>
#include <string>
#include "bench_clock.h"
#include "bench_game.h"
#include "bench_joined.h"
#include "bench_stats.h"
#include "bench_world.h"
#include "sim/sim_props.h"

namespace {

constexpr double frame_dt = 1.0 / 60.0;
constexpr int warmup_frames = 120;
constexpr int measured_frames = 1800; /* 30 s per case */
constexpr int bots = 63;

ts_server srv;
double next_state, next_lists;
std::string base_dir, log_path;
double game_cpu[measured_frames], draw_cpu[measured_frames];
double tick_cpu[measured_frames], rest_cpu[measured_frames]; /* game_cpu by the tick read or not */
double truck_t;

// Our truck drives a circle of 30 m around where it was parked.
void frame(double *cpu_us = nullptr)
{
    truck_t += frame_dt;
    float yaw = (float)(truck_t * 0.3), h = yaw / 2;
    sim::placement32 at = { 100 + 30 * sinf(yaw), 10, 50 + 30 * cosf(yaw), 0, 0, cosf(h), 0, sinf(h), 0 };
    sim::player_set_placement(&at);
    bench_joined_frame(&srv, &next_state, &next_lists, frame_dt, cpu_us);
}

bool frames_until(const char *text, int count, double seconds)
{
    for (double t = 0; t < seconds && bench_log_count(log_path, text) < count; t += frame_dt)
        frame();
    return bench_log_count(log_path, text) >= count;
}

bool command(const std::string &lines, const char *done, int count)
{
    FILE *f = fopen((base_dir + "\\cmd.txt").c_str(), "wb");
    if (!f)
        return false;
    fputs(lines.c_str(), f);
    fclose(f);
    return frames_until(done, count, 20);
}

struct figures {
    double game_median, game_p99, draw_median, draw_p99;
    double tick_median, tick_p99, rest_median, rest_p99; /* joined: the tick's frames, the others */
};

figures measure()
{
    for (int i = 0; i < warmup_frames; i++)
        frame();
    int n_tick = 0, n_rest = 0;
    for (int i = 0; i < measured_frames; i++) {
        double state_due = next_state;
        frame(&game_cpu[i]);
        if (next_state != state_due) // the server's tick went out just before this frame
            tick_cpu[n_tick++] = game_cpu[i];
        else
            rest_cpu[n_rest++] = game_cpu[i];
        LONGLONG a = bench_thread_cpu_ns();
        sim::draw_frame();
        draw_cpu[i] = (double)(bench_thread_cpu_ns() - a) / 1000.0;
    }
    bench_sort(game_cpu, measured_frames);
    bench_sort(draw_cpu, measured_frames);
    bench_sort(tick_cpu, n_tick);
    bench_sort(rest_cpu, n_rest);
    return { bench_percentile(game_cpu, measured_frames, 0.5), bench_percentile(game_cpu, measured_frames, 0.99),
             bench_percentile(draw_cpu, measured_frames, 0.5), bench_percentile(draw_cpu, measured_frames, 0.99),
             bench_percentile(tick_cpu, n_tick, 0.5), bench_percentile(tick_cpu, n_tick, 0.99),
             bench_percentile(rest_cpu, n_rest, 0.5), bench_percentile(rest_cpu, n_rest, 0.99) };
}

int fail(const char *why)
{
    printf("frame cost: %s (log: %s)\n", why, log_path.c_str());
    bench_game_unload(&srv);
    return 1;
}

} // namespace

int main()
{
    if (!bench_thread_clock_usable()) {
        printf("bench_frame_cost: the thread clock needs Wine\n");
        return 0;
    }
    if (!ts_start(&srv, 0)) {
        printf("frame cost: the test server can't listen on 127.0.0.1\n");
        return 1;
    }
    std::string root = bench_exe_dir() + "\\..\\benchout";
    CreateDirectoryA(root.c_str(), nullptr);
    base_dir = bench_game_folder(root + "\\frame_cost", "name = bench\nui_statusbar = 0\nremote_mode = rv\n");
    log_path = base_dir + "\\drovemark.log";
    if (base_dir.empty()) {
        printf("frame cost: cannot prepare the game's folder\n");
        ts_stop(&srv);
        return 1;
    }
    if (!bench_game_load()) {
        printf("frame cost: cannot load the plug-in\n");
        ts_stop(&srv);
        return 1;
    }
    sim::player pl = sim::game_player_create();
    bench_vehicle_world(pl, "BENCH 1");
    sim::props_world_install(pl);
    bench_cone_model();
    uint8_t *rig = sim::player_trailer_new(pl, sim::def_new(sim::def_kind::trailer));
    sim::placement32 behind = { 100, 10, 58, 0, 0, 1, 0, 0, 0 };
    sim::vehicle_set_placement(rig, behind);
    sim::trailer_couple(rig, pl.truck);
    if (sim::plugin_init(SCS_TELEMETRY_VERSION_1_01) != SCS_RESULT_OK)
        return fail("the plug-in did not start");
    sim::event_started();
    for (int i = 0; i < 60; i++)
        frame();

    figures off = measure();

    // The props in two steps, before joining (joined, a spawn would be a
    // request to the server); then joined, our spawned vehicle with a copy
    // of our trailer and the name tags on, and the bots in three steps.
    const int prop_steps[] = { 16, 64 };
    const int bot_steps[] = { 1, 8, bots };
    struct scaled {
        int bots, props;
        figures f;
    } rows[5];
    int n_rows = 0, have_bots = 0, have_props = 0;
    for (int want : prop_steps) {
        std::string lines;
        for (int i = have_props; i < want; i++) {
            char line[128];
            snprintf(line, sizeof line, "model spawn /model/cone.pmd %d %d\n", 5 + i % 8, i / 8);
            lines += line;
            if (i % 2 == 1) { // every other prop, the batch's last one too
                snprintf(line, sizeof line, "model attach last truck %d %d 0\n", 3 + i % 8, i / 8 - 4);
                lines += line;
            }
        }
        char spawned_line[32], attached_line[32];
        snprintf(spawned_line, sizeof spawned_line, "[props] #%d spawned", want);
        snprintf(attached_line, sizeof attached_line, "[props] #%d attached", want);
        if (!command(lines, spawned_line, 1) || !frames_until(attached_line, 1, 2))
            return fail("the props were not spawned and attached");
        have_props = want;
        rows[n_rows++] = { 0, have_props, measure() };
    }
    char connect[96];
    snprintf(connect, sizeof connect, "net connect 127.0.0.1 %u bench\n", srv.port);
    if (!command(connect, "[net] joined as player", 1))
        return fail("no join");
    bool spawned = command("spawn\nnametags on\n", "[core] spawn complete", 1);
    bool trailer = spawned && command("trailer\n", "[core] trailer complete", 1);
    next_state = next_lists = 0;
    for (int want : bot_steps) {
        for (; have_bots < want; have_bots++) {
            char name[16];
            snprintf(name, sizeof name, "bot%d", have_bots);
            if (!ts_add_bot(&srv, name, sim::clock_now()))
                return fail("the test server took no more bots");
        }
        if (!frames_until("[core] net: spawning an rv for player", want < 7 ? want : 7, 30))
            return fail("not as many convoy vehicles as bots, up to seven");
        rows[n_rows++] = { have_bots, have_props, measure() };
    }
    const figures &on = rows[n_rows - 1].f;

    printf("frame cost: the game thread's frame event, real plug-in and core; 60 Hz frames, %d warm-up and %d\n",
           warmup_frames, measured_frames);
    printf("measured per case; microseconds of the calling thread's CPU time per frame\n");
    printf("props: every other one attached to our truck driving a circle; joined (with bots): bots sending\n");
    printf("states at 10 Hz, up to 7 of them convoy vehicles, %s, name tags on;\n",
           trailer ? "our spawned vehicle with a trailer" : spawned ? "our spawned vehicle (its trailer FAILED)"
                                                                   : "(our spawned vehicle FAILED)");
    printf("off: not connected, no prop; joined, also apart: the frames that read the test server's tick\n");
    printf("(every bot's state at once, every 0.1 s) and the other frames\n\n");
    printf("%-40s %10s %10s %21s %21s\n", "", "", "", "the tick's frames", "other frames");
    printf("%-40s %10s %10s %10s %10s %10s %10s\n", "", "median", "p99", "median", "p99", "median", "p99");
    printf("%-40s %10.1f %10.1f\n", "game thread, everything off", off.game_median, off.game_p99);
    for (int i = 0; i < n_rows; i++) {
        char label[64];
        if (rows[i].bots)
            snprintf(label, sizeof label, "game thread, %d props, %d bot%s%s", rows[i].props, rows[i].bots,
                     rows[i].bots == 1 ? "" : "s", i == n_rows - 1 ? " (all on)" : "");
        else
            snprintf(label, sizeof label, "game thread, %d props, not joined", rows[i].props);
        const figures &f = rows[i].f;
        printf("%-40s %10.1f %10.1f", label, f.game_median, f.game_p99);
        if (rows[i].bots)
            printf(" %10.1f %10.1f %10.1f %10.1f", f.tick_median, f.tick_p99, f.rest_median, f.rest_p99);
        printf("\n");
    }
    printf("%-40s %10.1f %10.1f\n", "render frame (draw detour), off", off.draw_median, off.draw_p99);
    printf("%-40s %10.1f %10.1f\n", "render frame (draw detour), all on", on.draw_median, on.draw_p99);
    printf("%-40s %10.1f %10.1f\n", "draw detour's added cost per frame", on.draw_median - off.draw_median,
           on.draw_p99 - off.draw_p99);
    printf("\n%d rv spawns, %d props released, %d draw faults logged\n",
           bench_log_count(log_path, "[core] net: spawning an rv for player"),
           bench_log_count(log_path, " released"), bench_log_count(log_path, "draw faulted"));

    bench_game_unload(&srv);
    return 0;
}
