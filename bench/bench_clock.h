/* The benchmarks' per-thread clock: the CPU time of the calling thread in
 * nanoseconds. Windows has no per-thread CPU clock finer than its scheduler
 * tick, and Wine none at all, so under Wine the Linux thread's own clock is
 * read with the clock_gettime system call (the process is a Linux process
 * there). It leaves out the time the thread waits, so neither other work on
 * the machine nor waits on other threads show in the figures. */
#pragma once
#include <windows.h>

/* Only under Wine (see bench_thread_clock_usable); -1 on failure. */
inline LONGLONG bench_thread_cpu_ns()
{
    struct {
        long long sec, nsec;
    } ts = { 0, 0 };
    long ret;
    // clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) on x86-64 Linux
    __asm__ volatile("syscall" : "=a"(ret) : "a"(228L), "D"(3L), "S"(&ts) : "rcx", "r11", "memory");
    return ret ? -1 : ts.sec * 1000000000LL + ts.nsec;
}

inline bool bench_thread_clock_usable()
{
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") && bench_thread_cpu_ns() > 0;
}
