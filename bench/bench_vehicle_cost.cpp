// Vehicle cost: what showing another player as a vehicle takes from the game
// thread. The real plug-in and core run in the simulated game with its
// vehicle world installed and a local truck with a definition; the core
// joins the test server on 127.0.0.1, where one bot drives its circle,
// sending states at 10 Hz and its accessory lists. Game frames (the
// telemetry frame event that runs the core's whole frame) are timed in
// turns with the same traffic: in remote mode rv with the bot shown as one
// of the game's convoy vehicles (the core keys it each frame, the game's
// truck controller steps it), and in clone mode with the bot shown as the
// spawned vehicle (the glue's clone step and the vehicle's step on top);
// then with seven bots as convoy vehicles. No trailer: the test server's
// bots send an empty trailer list. Median and 99th percentile in
// microseconds per frame of the game thread's CPU time (bench_clock.h; it
// leaves out waits and the machine's other work) and of the wall time; and
// the wall time of the frames in which the plug-in hot-reloads the core
// while joined (the old core's shutdown, the new core's start and first
// frame). Figures only, nothing is judged.
#include <winsock2.h>
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include "bench_clock.h"
#include "bench_game.h"
#include "bench_stats.h"
#include "bench_world.h"
#include "sim/sim.h"
#include "sim/sim_convoy.h"
#include "sim/sim_draw.h"
#include "sim/sim_game.h"
#include "sim/sim_vehicles.h"
#include "testserver.h"

namespace {

constexpr double frame_dt = 1.0 / 60.0;
constexpr int warmup_frames = 60;     /* after each switch */
constexpr int measured_frames = 1800; /* 30 s per case */
constexpr int rounds = 6;             /* blocks per case */

ts_server srv;
double next_state, next_lists;
LARGE_INTEGER qpc_freq;
bool thread_clock;
std::string base_dir, log_path; /* %LOCALAPPDATA%\drovemark and its log */

bool logged(const char *text) { return bench_log_count(log_path, text) > 0; }


// One game frame: the server and its bots first, then the timed frame
// event; its CPU time (0 without the thread clock) and wall time in us.
void frame(double *cpu_us = nullptr, double *wall_us = nullptr)
{
    ts_poll(&srv, sim::clock_now());
    ts_bots_tick(&srv, sim::clock_now(), &next_state, &next_lists);
    Sleep(1); /* let loopback deliver before the frame reads it */
    sim::clock_advance(frame_dt);
    LARGE_INTEGER a, b;
    LONGLONG ca = thread_clock ? bench_thread_cpu_ns() : 0;
    QueryPerformanceCounter(&a);
    sim::frame();
    QueryPerformanceCounter(&b);
    LONGLONG cb = thread_clock ? bench_thread_cpu_ns() : 0;
    if (cpu_us)
        *cpu_us = (double)(cb - ca) / 1000.0;
    if (wall_us)
        *wall_us = (double)(b.QuadPart - a.QuadPart) * 1e6 / (double)qpc_freq.QuadPart;
}

bool frames_until(const char *text, double seconds)
{
    for (double t = 0; t < seconds; t += frame_dt) {
        if (logged(text))
            return true;
        frame();
    }
    return logged(text);
}

// The spawned vehicle, from the core's last spawn line.
const void *spawned_vehicle()
{
    FILE *f = fopen(log_path.c_str(), "rb");
    if (!f)
        return nullptr;
    char line[1024];
    void *v = nullptr;
    while (fgets(line, sizeof line, f)) {
        const char *at = strstr(line, "[core] spawn: veh=");
        if (at)
            sscanf(at, "[core] spawn: veh=%p", &v);
    }
    fclose(f);
    return v;
}

// The two cases take turns in blocks, so that a change in the machine's
// load while the benchmark runs falls on both alike.
struct bench_case {
    const char *name;
    double cpu_us[measured_frames], wall_us[measured_frames];
    int n;
};
bench_case rv_case = { "client + the bot, convoy (rv)", {}, {}, 0 };
bench_case shown_case = { "client + the bot shown (clone)", {}, {}, 0 };
bench_case rv7_case = { "client + 7 bots, convoy (rv)", {}, {}, 0 };

void measure(bench_case &c, int frames)
{
    for (int i = 0; i < warmup_frames; i++)
        frame();
    for (int i = 0; i < frames && c.n < measured_frames; i++, c.n++)
        frame(&c.cpu_us[c.n], &c.wall_us[c.n]);
}

void report(bench_case &c)
{
    bench_sort(c.cpu_us, c.n);
    bench_sort(c.wall_us, c.n);
    if (thread_clock)
        printf("%-32s %8.1f %8.1f %8.1f", c.name, bench_percentile(c.cpu_us, c.n, 0.5),
               bench_percentile(c.cpu_us, c.n, 0.99), c.cpu_us[c.n - 1]);
    else
        printf("%-32s %8s %8s %8s", c.name, "n/a", "n/a", "n/a");
    printf("  %8.1f %8.1f %8.1f\n", bench_percentile(c.wall_us, c.n, 0.5), bench_percentile(c.wall_us, c.n, 0.99),
           c.wall_us[c.n - 1]);
}

// Clone mode by command; back to rv by reloading config.ini (which says rv),
// which despawns the vehicle built from the bot's list and gives the bot a
// convoy vehicle again.
bool show_bot(bool shown)
{
    const char *done = shown ? "[core] spawn complete" : "[core] net: spawning an rv for player";
    int before = bench_log_count(log_path, done);
    FILE *cmd = fopen((base_dir + "\\cmd.txt").c_str(), "wb");
    if (!cmd)
        return false;
    fputs(shown ? "remote mode clone\n" : "config reload\n", cmd);
    fclose(cmd);
    for (int i = 0; i < 600; i++) {
        if (bench_log_count(log_path, done) > before)
            return true;
        frame();
    }
    return false;
}

int fail(const char *why)
{
    printf("vehicle cost: %s (log: %s)\n", why, log_path.c_str());
    sim::plugin_shutdown();
    sim::draw_uninstall();
    sim::plugin_unload();
    ts_stop(&srv);
    return 1;
}

} // namespace

int main()
{
    QueryPerformanceFrequency(&qpc_freq);
    thread_clock = bench_thread_clock_usable();
    if (!ts_start(&srv, 0)) {
        printf("vehicle cost: the test server can't listen on 127.0.0.1\n");
        return 1;
    }
    std::string root = bench_exe_dir() + "\\..\\benchout";
    CreateDirectoryA(root.c_str(), nullptr);
    char config[128];
    snprintf(config, sizeof config, "server = 127.0.0.1\nport = %u\nname = bench\nui_statusbar = 0\nremote_mode = rv\n",
             srv.port);
    base_dir = bench_game_folder(root + "\\vehicle_cost", config);
    log_path = base_dir + "\\drovemark.log";
    if (base_dir.empty()) {
        printf("vehicle cost: cannot prepare the game's folder\n");
        ts_stop(&srv);
        return 1;
    }
    sim::clock_set(1000.0);
    if (!sim::plugin_load((bench_exe_dir() + "\\drovemark.dll").c_str())) {
        printf("vehicle cost: cannot load the plug-in\n");
        ts_stop(&srv);
        return 1;
    }
    sim::game_reset();
    sim::set_build_hash();
    sim::player pl = sim::game_player_create();
    bench_vehicle_world(pl, "BENCH 1");
    if (sim::plugin_init(SCS_TELEMETRY_VERSION_1_01) != SCS_RESULT_OK)
        return fail("the plug-in did not start");
    sim::event_started();
    if (!frames_until("[net] joined as player", 10))
        return fail("no join");

    next_state = next_lists = 0;
    uint16_t bot = ts_add_bot(&srv, "bot", sim::clock_now());
    char listed[80];
    snprintf(listed, sizeof listed, "[net] player %u 'bot' truck accessories: 2 entries", bot);
    if (!frames_until(listed, 10))
        return fail("no states or list from the bot");

    printf("vehicle cost: the game thread's frame event, real plug-in and core joined to the test server on\n");
    printf("127.0.0.1 with one bot sending states at 10 Hz; 60 Hz frames, %d measured per case in %d blocks\n",
           measured_frames, rounds);
    printf("taking turns, %d warm-up frames after each switch; microseconds per frame\n\n", warmup_frames);
    printf("case                             game thread CPU time        wall time\n");
    printf("                                   median      p99      max    median      p99      max\n");
    int joins = bench_log_count(log_path, "[net] joined as player"), placed = 0;
    if (!frames_until("[core] net: spawning an rv for player", 10))
        return fail("the bot was not shown as a convoy vehicle");
    for (int round = 0; round < rounds; round++) {
        measure(rv_case, measured_frames / rounds);
        if (!show_bot(true))
            return fail("the bot was not shown as a vehicle");
        const void *vehicle = spawned_vehicle();
        size_t before = vehicle ? sim::vehicle_placements(vehicle).size() : 0;
        measure(shown_case, measured_frames / rounds);
        placed += vehicle ? (int)(sim::vehicle_placements(vehicle).size() - before) : 0;
        if (!show_bot(false))
            return fail("the vehicle did not go in rv mode");
    }
    for (int i = 0; i < 6; i++) {
        char name[8];
        snprintf(name, sizeof name, "bot%d", i + 2);
        ts_add_bot(&srv, name, sim::clock_now());
    }
    next_state = next_lists = 0;
    int shown_rv = bench_log_count(log_path, "[core] net: spawning an rv for player");
    for (int i = 0; i < 600 && bench_log_count(log_path, "[core] net: spawning an rv for player") < shown_rv + 6; i++)
        frame();
    if (bench_log_count(log_path, "[core] net: spawning an rv for player") < shown_rv + 6)
        return fail("not every bot got a convoy vehicle");
    measure(rv7_case, measured_frames);
    report(rv_case);
    report(shown_case);
    report(rv7_case);
    printf("\nthe shown vehicle placed %d times in the %d frames it was measured and warmed up in; %d rejoins\n",
           placed, shown_case.n + rounds * warmup_frames, bench_log_count(log_path, "[net] joined as player") - joins);

    // Hot reloads while joined with seven convoy vehicles: the wall time of
    // the frame that swaps the cores.
    const int reload_count = 5;
    double reload_us[reload_count];
    int made = 0;
    for (int i = 0; i < reload_count; i++) {
        int loaded = bench_log_count(log_path, "[host] core generation");
        bench_touch(base_dir + "\\core\\drovemark_core.dll", 60.0 * (i + 1));
        for (int f = 0; f < 120 && bench_log_count(log_path, "[host] core generation") == loaded; f++) {
            double wall = 0;
            frame(nullptr, &wall);
            reload_us[made] = wall;
        }
        if (bench_log_count(log_path, "[host] core generation") > loaded)
            made++;
        for (int f = 0; f < 120; f++)
            frame();
    }
    bench_sort(reload_us, made);
    if (made)
        printf("the frame of a hot reload (joined, seven convoy vehicles), %d reloads: wall time median %.1f us, "
               "max %.1f us; %d convoy vehicles restored, %d respawned, %d left\n",
               made, bench_percentile(reload_us, made, 0.5), reload_us[made - 1],
               bench_log_count(log_path, "from before the reload (net"),
               bench_log_count(log_path, "[core] net: spawning an rv for player") - shown_rv - 6,
               bench_log_count(log_path, "gone (left the server)"));

    sim::plugin_shutdown();
    sim::draw_uninstall();
    sim::plugin_unload();
    ts_stop(&srv);
    return 0;
}
