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
// then with seven bots as convoy vehicles; then, with the seven bots, as the
// traffic owner with 128 AI cars near them and the game's clock and weather
// following the server's, in frames 0.11 s apart so that every frame runs
// the owner's pass (which runs at most every 0.1 s), and about one frame in
// 45 its 5 s resend of the cars' definitions as well. No trailer: the test
// server's bots send an empty trailer list. Median and 99th percentile in
// microseconds per frame of the game thread's CPU time (bench_clock.h; it
// leaves out waits and the machine's other work) and of the wall time; and
// the wall time of the frames in which the plug-in hot-reloads the core
// while joined (the old core's shutdown, the new core's start and first
// frame). Figures only, nothing is judged.
//
// Beside the whole frame, each frame step: the core is bench_core.dll,
// which announces each step to the benchmark as it begins, so the clocks
// are read between the steps. Those reads cost time of their own, so the
// steps are timed in frames of their own, in short runs between the runs
// whose whole frames are timed; a step that runs only when due ("write_state",
// "poll_commands") is figured over the frames in which it ran.
#include <winsock2.h>
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include "bench_clock.h"
#include "bench_game.h"
#include "bench_joined.h"
#include "bench_stats.h"
#include "bench_world.h"
#include "sim/sim.h"
#include "sim/sim_draw.h"
#include "sim/sim_game.h"
#include "sim/sim_traffic.h"
#include "sim/sim_vehicles.h"
#include "sim/sim_world.h"
#include "testserver.h"

namespace {

constexpr double frame_dt = 1.0 / 60.0;
constexpr int warmup_frames = 60;     /* after each switch */
constexpr int measured_frames = 1800; /* 30 s per case */
constexpr int rounds = 6;             /* blocks per case */
constexpr int run_frames = 50;        /* whole frames, then steps, in runs of this */
constexpr int max_steps = 24;
constexpr int traffic_cars = 128;     /* the most the owner sends */

ts_server srv;
double next_state, next_lists;
LARGE_INTEGER qpc_freq;
bool thread_clock;
std::string base_dir, log_path; /* %LOCALAPPDATA%\drovemark and its log */

bool logged(const char *text) { return bench_log_count(log_path, text) > 0; }


// One game frame (bench_joined.h), dt after the last.
void frame(double *cpu_us = nullptr, double *wall_us = nullptr, double dt = frame_dt)
{
    bench_joined_frame(&srv, &next_state, &next_lists, dt, cpu_us, wall_us);
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
struct step_samples {
    double cpu_us[measured_frames], wall_us[measured_frames];
    int n;
};
struct bench_case {
    const char *name;
    double dt; /* seconds between its frames */
    double cpu_us[measured_frames], wall_us[measured_frames];
    int n;
    step_samples steps[max_steps]; /* by step_names */
    int step_frames;
};
bench_case rv_case = { "client + the bot, convoy (rv)", frame_dt, {}, {}, 0, {}, 0 };
bench_case shown_case = { "client + the bot shown (clone)", frame_dt, {}, {}, 0, {}, 0 };
bench_case rv7_case = { "client + 7 bots, convoy (rv)", frame_dt, {}, {}, 0, {}, 0 };
bench_case traffic_case = { "7 bots, traffic owner, 128 cars", 0.11, {}, {}, 0, {}, 0 };

/* ---- the steps, as the core announces them ---- */

const char *step_names[max_steps]; /* in the order first seen */
int step_count;
int frame_seq[max_steps], frame_seq_n; /* the steps of the frame now running, in its order */
int step_order[max_steps], step_order_n; /* those of the frame that ran the most steps */
void (*observe_steps)(void (*observer)(const char *step)); /* bench_core.dll's export */
bench_case *observed;  /* the case whose steps are timed now */
int open_step = -1;    /* the step running since the last announcement */
LONGLONG open_cpu, open_wall;

int step_index(const char *name)
{
    for (int i = 0; i < step_count; i++)
        if (strcmp(step_names[i], name) == 0)
            return i;
    if (step_count == max_steps)
        return -1;
    step_names[step_count] = name; // the core's own text, mapped while it runs
    return step_count++;
}

// Game thread, just before each step and once more at "done": the step
// that ran until now gets the time since the last announcement.
void step_begins(const char *name)
{
    LONGLONG cpu = thread_clock ? bench_thread_cpu_ns() : 0;
    LARGE_INTEGER wall;
    QueryPerformanceCounter(&wall);
    if (open_step >= 0 && observed) {
        step_samples &s = observed->steps[open_step];
        if (s.n < measured_frames) {
            s.cpu_us[s.n] = (double)(cpu - open_cpu) / 1000.0;
            s.wall_us[s.n] = (double)(wall.QuadPart - open_wall) * 1e6 / (double)qpc_freq.QuadPart;
            s.n++;
        }
    }
    if (strcmp(name, "done") == 0) {
        open_step = -1;
        if (frame_seq_n > step_order_n) {
            memcpy(step_order, frame_seq, sizeof frame_seq);
            step_order_n = frame_seq_n;
        }
        frame_seq_n = 0;
    } else {
        open_step = step_index(name);
        if (open_step >= 0 && frame_seq_n < max_steps)
            frame_seq[frame_seq_n++] = open_step;
    }
    open_cpu = cpu;
    open_wall = wall.QuadPart;
}

void measure(bench_case &c, int frames)
{
    for (int i = 0; i < warmup_frames; i++)
        frame(nullptr, nullptr, c.dt);
    for (int done = 0; done < frames; done += run_frames) {
        for (int i = 0; i < run_frames && c.n < measured_frames; i++, c.n++)
            frame(&c.cpu_us[c.n], &c.wall_us[c.n], c.dt);
        observed = &c;
        observe_steps(step_begins);
        for (int i = 0; i < run_frames && c.step_frames < measured_frames; i++, c.step_frames++)
            frame(nullptr, nullptr, c.dt);
        observe_steps(nullptr);
        observed = nullptr;
        open_step = -1;
        frame_seq_n = 0;
    }
}

void print_figures(const char *name, double *cpu_us, double *wall_us, int n)
{
    bench_sort(cpu_us, n);
    bench_sort(wall_us, n);
    if (thread_clock)
        printf("%-32s %8.1f %8.1f %8.1f", name, bench_percentile(cpu_us, n, 0.5), bench_percentile(cpu_us, n, 0.99),
               cpu_us[n - 1]);
    else
        printf("%-32s %8s %8s %8s", name, "n/a", "n/a", "n/a");
    printf("  %8.1f %8.1f %8.1f\n", bench_percentile(wall_us, n, 0.5), bench_percentile(wall_us, n, 0.99),
           wall_us[n - 1]);
}

void report(bench_case &c) { print_figures(c.name, c.cpu_us, c.wall_us, c.n); }

void report_steps(bench_case &c)
{
    printf("\n%s: each step, over the frames it ran in (of %d)\n", c.name, c.step_frames);
    for (int k = 0; k < step_order_n; k++) {
        step_samples &s = c.steps[step_order[k]];
        if (s.n == 0)
            continue;
        char label[64];
        snprintf(label, sizeof label, "  %s (%d)", step_names[step_order[k]], s.n);
        print_figures(label, s.cpu_us, s.wall_us, s.n);
    }
}

// Lines to cmd.txt, then frames until the log says done once more (at most 600).
bool command(const char *lines, const char *done)
{
    int before = bench_log_count(log_path, done);
    FILE *cmd = fopen((base_dir + "\\cmd.txt").c_str(), "wb");
    if (!cmd)
        return false;
    fputs(lines, cmd);
    fclose(cmd);
    for (int i = 0; i < 600; i++) {
        if (bench_log_count(log_path, done) > before)
            return true;
        frame();
    }
    return false;
}

// Clone mode by command; back to rv by reloading config.ini (which says rv),
// which despawns the vehicle built from the bot's list and gives the bot a
// convoy vehicle again.
bool show_bot(bool shown)
{
    return command(shown ? "remote mode clone\n" : "config reload\n",
                   shown ? "[core] spawn complete" : "[core] net: spawning an rv for player");
}

int fail(const char *why)
{
    printf("vehicle cost: %s (log: %s)\n", why, log_path.c_str());
    bench_game_unload(&srv);
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
    base_dir = bench_game_folder(root + "\\vehicle_cost", config, "bench_core.dll");
    log_path = base_dir + "\\drovemark.log";
    if (base_dir.empty()) {
        printf("vehicle cost: cannot prepare the game's folder\n");
        ts_stop(&srv);
        return 1;
    }
    if (!bench_game_load()) {
        printf("vehicle cost: cannot load the plug-in\n");
        ts_stop(&srv);
        return 1;
    }
    sim::player pl = sim::game_player_create();
    bench_vehicle_world(pl, "BENCH 1");
    if (sim::plugin_init(SCS_TELEMETRY_VERSION_1_01) != SCS_RESULT_OK)
        return fail("the plug-in did not start");
    observe_steps = (void (*)(void (*)(const char *)))(void *)GetProcAddress(
        GetModuleHandleA((base_dir + "\\core\\loaded_1.dll").c_str()), "dm_bench_observe_steps");
    if (!observe_steps)
        return fail("the core is not bench_core.dll");
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
    printf("taking turns, %d warm-up frames after each switch, and as many frames more with the steps timed\n",
           warmup_frames);
    printf("(runs of %d frames in turns with the whole frames); microseconds per frame\n\n", run_frames);
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

    // The traffic owner: the AI cars in rows beside the bots' circles (40 m
    // around x = 1200..1800, z = -2000), the game's clock and environment,
    // the server's weather, and the server naming us the owner. Afterwards
    // sending stops and the clock and environment go, as before the case.
    sim::world_create(pl);
    sim::traffic_create("1.00");
    for (int i = 0; i < traffic_cars; i++) {
        sim::traffic_car_desc car;
        car.pos[0] = 1150 + 5.0 * i;
        car.pos[1] = 50;
        car.pos[2] = -1940 - 10.0 * (i % 4);
        sim::traffic_add_car(car);
    }
    ts_world_set_weather(&srv, 1, 1, 1800);
    ts_traffic_set_owner(&srv, ts_find_name(&srv, "bench")->id, 0);
    char sending[64];
    snprintf(sending, sizeof sending, "[traffic] owner: sending %d cars", traffic_cars);
    if (!command("traffic net on\n", sending))
        return fail("the AI cars were not sent");
    uint64_t defs_in = srv.traffic.defs_in, states_in = srv.traffic.cars_in;
    measure(traffic_case, measured_frames / 3);
    defs_in = srv.traffic.defs_in - defs_in;
    states_in = srv.traffic.cars_in - states_in;
    if (!command("traffic net off\n", "[traffic] sending off"))
        return fail("sending did not stop");
    sim::world_remove_environment();
    sim::world_remove_economy();

    report(rv_case);
    report(shown_case);
    report(rv7_case);
    report(traffic_case);
    report_steps(rv_case);
    report_steps(shown_case);
    report_steps(rv7_case);
    report_steps(traffic_case);
    printf("\n%s: frames %.2f s apart; the server took %llu car definitions and %llu datagrams of\n"
           "car states while the case ran\n",
           traffic_case.name, traffic_case.dt, (unsigned long long)defs_in, (unsigned long long)states_in);
    printf("\nthe shown vehicle placed %d times in the %d frames it was measured and warmed up in; %d rejoins\n",
           placed, shown_case.n + rounds * warmup_frames, bench_log_count(log_path, "[net] joined as player") - joins);

    // Hot reloads while joined with seven convoy vehicles: the wall time of
    // the frame that swaps the cores (the steps are not observed any more:
    // the new core is another copy).
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

    bench_game_unload(&srv);
    return 0;
}
