/* One game frame of the benchmarks that run the real plug-in and core
 * joined to the test server: the server and its bots answer first, then the
 * simulated frame event (the core's whole frame) is timed; its game-thread
 * CPU time (0 without the thread clock, bench_clock.h) and wall time in us. */
#pragma once
#include <windows.h>
#include "bench_clock.h"
#include "bench_game.h"
#include "sim/sim.h"
#include "sim/sim_draw.h"
#include "sim/sim_game.h"
#include "testserver.h"

inline void bench_joined_frame(ts_server *srv, double *next_state, double *next_lists, double dt,
                               double *cpu_us = nullptr, double *wall_us = nullptr)
{
    static LARGE_INTEGER freq;
    static bool thread_clock = bench_thread_clock_usable();
    if (!freq.QuadPart)
        QueryPerformanceFrequency(&freq);
    ts_poll(srv, sim::clock_now());
    ts_bots_tick(srv, sim::clock_now(), next_state, next_lists);
    Sleep(1); /* let loopback deliver before the frame reads it */
    sim::clock_advance(dt);
    LARGE_INTEGER a, b;
    LONGLONG ca = thread_clock ? bench_thread_cpu_ns() : 0;
    QueryPerformanceCounter(&a);
    sim::frame();
    QueryPerformanceCounter(&b);
    LONGLONG cb = thread_clock ? bench_thread_cpu_ns() : 0;
    if (cpu_us)
        *cpu_us = (double)(cb - ca) / 1000.0;
    if (wall_us)
        *wall_us = (double)(b.QuadPart - a.QuadPart) * 1e6 / (double)freq.QuadPart;
}

/* The plug-in from beside the executable in a fresh simulated game with its
 * build hash, the clock at 1000 s; false when the plug-in would not load. */
inline bool bench_game_load()
{
    sim::clock_set(1000.0);
    if (!sim::plugin_load((bench_exe_dir() + "\\drovemark.dll").c_str()))
        return false;
    sim::game_reset();
    sim::set_build_hash();
    return true;
}

/* The plug-in shut down and unloaded, the draw routines and the test server gone. */
inline void bench_game_unload(ts_server *srv)
{
    sim::plugin_shutdown();
    sim::draw_uninstall();
    sim::plugin_unload();
    ts_stop(srv);
}
