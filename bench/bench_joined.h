/* One game frame of the benchmarks that run the real plug-in and core
 * joined to the test server: the server and its bots answer first, then the
 * simulated frame event (the core's whole frame) is timed; its game-thread
 * CPU time (0 without the thread clock, bench_clock.h) and wall time in us. */
#pragma once
#include <windows.h>
#include "bench_clock.h"
#include "sim/sim.h"
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
