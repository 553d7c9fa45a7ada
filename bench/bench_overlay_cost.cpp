// Overlay cost: what the plug-in's Present hook takes from the presenting
// thread, with the real plug-in and the real core on the simulated game's
// window and swap chain (Mesa under Wine here, so the figures include
// wined3d's translation of the overlay's Direct3D calls). Two timing layers
// sit in the swap chain's Present slot, one below the hook (installed before
// the plug-in starts, so the hook chains to it) and one above it; the hook's
// own time is the time inside the upper layer less the time inside the
// lower one, which leaves out the real Present (the whole Present, hook
// and real Present together, is printed too). Beside it: the game
// thread's cost of the same frames, the telemetry frame event that runs the
// core's frame. Median and 99th percentile in microseconds per frame, for
// the UI closed (the status line switched off), the status line only, and
// the menu open on each page. Figures only; nothing is judged.
#include <windows.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include "bench_clock.h"
#include "bench_game.h"
#include "bench_stats.h"
#include "sim/sim.h"
#include "sim/sim_game.h"
#include "sim/sim_render.h"

namespace {

constexpr double frame_dt = 1.0 / 60.0;
constexpr int warmup_frames = 60;
constexpr int measured_frames = 600;

typedef HRESULT(STDMETHODCALLTYPE *present_fn)(IDXGISwapChain *, UINT, UINT);
present_fn below_next, above_next;
LARGE_INTEGER qpc_freq;
LONGLONG below_ticks, above_ticks; // time inside each layer during the last Present

// The clock: the CPU time of this (the presenting) thread where there is
// one (bench_clock.h), which matters here: a software GPU makes the
// presenting thread wait for the translation layer's worker at
// unpredictable points, and wall time would show those waits rather than
// the overlay's work. Elsewhere the wall clock is used, and said so.
bool thread_clock;

LONGLONG now()
{
    if (thread_clock)
        return bench_thread_cpu_ns();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

double micros(LONGLONG ticks)
{
    return thread_clock ? (double)ticks / 1000.0 : (double)ticks * 1e6 / (double)qpc_freq.QuadPart;
}

HRESULT STDMETHODCALLTYPE below_layer(IDXGISwapChain *sc, UINT sync, UINT flags)
{
    LONGLONG t = now();
    HRESULT r = below_next(sc, sync, flags);
    below_ticks = now() - t;
    return r;
}

HRESULT STDMETHODCALLTYPE above_layer(IDXGISwapChain *sc, UINT sync, UINT flags)
{
    LONGLONG t = now();
    HRESULT r = above_next(sc, sync, flags);
    above_ticks = now() - t;
    return r;
}

void patch(void **slot, void *value)
{
    DWORD old;
    VirtualProtect(slot, sizeof(void *), PAGE_READWRITE, &old);
    *slot = value;
    VirtualProtect(slot, sizeof(void *), old, &old);
}

std::string log_path;

// The game's folder (bench_game.h) and a Windows folder with free fonts
// under the names the UI loads (the prefix has none of its own).
bool prepare(const std::string &root, const char *config)
{
    std::string base = bench_game_folder(root, config), win = root + "\\windows";
    if (base.empty())
        return false;
    log_path = base + "\\drovemark.log";
    CreateDirectoryA(win.c_str(), nullptr);
    CreateDirectoryA((win + "\\Fonts").c_str(), nullptr);
    const char *src = "Z:\\usr\\share\\fonts\\truetype\\dejavu\\";
    const char *fonts[][2] = { { "DejaVuSans.ttf", "segoeui.ttf" },
                               { "DejaVuSans-Bold.ttf", "seguisb.ttf" },
                               { "DejaVuSans-Bold.ttf", "segoeuib.ttf" } };
    for (auto &f : fonts)
        CopyFileA((std::string(src) + f[0]).c_str(), (win + "\\Fonts\\" + f[1]).c_str(), FALSE);
    SetEnvironmentVariableA("WINDIR", win.c_str());
    return true;
}

int log_count(const char *text) { return bench_log_count(log_path, text); }

bool start(const std::string &root, const char *config)
{
    if (!prepare(root, config))
        return false;
    sim::clock_set(1000.0);
    if (!sim::plugin_load((bench_exe_dir() + "\\drovemark.dll").c_str()) || !sim::render_open())
        return false;
    void **vt = sim::render_swap_chain_vtable();
    below_next = (present_fn)vt[8];
    patch(&vt[8], (void *)below_layer);
    sim::game_reset();
    sim::set_build_hash();
    sim::game_player_create();
    if (sim::plugin_init(SCS_TELEMETRY_VERSION_1_01) != SCS_RESULT_OK)
        return false;
    sim::event_started();
    sim::game_frames(30);
    above_next = (present_fn)vt[8]; // the plug-in's hook
    patch(&vt[8], (void *)above_layer);
    return true;
}

void stop()
{
    void **vt = sim::render_swap_chain_vtable();
    patch(&vt[8], (void *)above_next); // the hook's own value back before it checks
    sim::plugin_shutdown();
    patch(&vt[8], (void *)below_next);
    sim::plugin_unload();
    sim::render_close();
}

// F2, pressed again when the desktop did not deliver it.
bool toggle_ui()
{
    int before = log_count("[host] ui: UI mode ");
    for (int attempt = 0; attempt < 3; attempt++) {
        sim::key_input(VK_F2, true);
        sim::game_frames(1);
        sim::key_input(VK_F2, false);
        for (int i = 0; i < 50 && log_count("[host] ui: UI mode ") == before; i++) {
            Sleep(10);
            sim::game_frames(1);
        }
        if (log_count("[host] ui: UI mode ") != before)
            return true;
    }
    return false;
}

double game_us[measured_frames], hook_us[measured_frames], present_us[measured_frames];

void measure(const char *name)
{
    double t = 0;
    LARGE_INTEGER frame_start;
    QueryPerformanceCounter(&frame_start);
    for (int i = 0; i < warmup_frames + measured_frames; i++) {
        sim::clock_advance(frame_dt);
        t += frame_dt;
        sim::channel_placement(t * 10.0, 0.0, -t * 5.0, 0.25f, 0.0f, 0.0f);
        sim::channel_speed(10.0f);
        LONGLONG a = now();
        sim::frame();
        LONGLONG b = now();
        sim::pump();
        above_ticks = below_ticks = 0;
        sim::render_present(0);
        // Paced at 60 Hz as the game is, so the software GPU's worker has
        // the rest of the frame to catch up and the next frame does not wait.
        LARGE_INTEGER w;
        QueryPerformanceCounter(&w);
        double left_ms = frame_dt * 1000.0 - (double)(w.QuadPart - frame_start.QuadPart) * 1000.0 / (double)qpc_freq.QuadPart;
        if (left_ms > 1)
            Sleep((DWORD)left_ms);
        QueryPerformanceCounter(&frame_start);
        if (i < warmup_frames)
            continue;
        game_us[i - warmup_frames] = micros(b - a);
        hook_us[i - warmup_frames] = micros(above_ticks - below_ticks);
        present_us[i - warmup_frames] = micros(above_ticks);
    }
    bench_sort(game_us, measured_frames);
    bench_sort(hook_us, measured_frames);
    bench_sort(present_us, measured_frames);
    printf("%-18s %8.1f %8.1f  %8.1f %8.1f  %8.1f %8.1f\n", name, bench_percentile(hook_us, measured_frames, 0.5),
           bench_percentile(hook_us, measured_frames, 0.99), bench_percentile(present_us, measured_frames, 0.5),
           bench_percentile(present_us, measured_frames, 0.99), bench_percentile(game_us, measured_frames, 0.5),
           bench_percentile(game_us, measured_frames, 0.99));
    fflush(stdout);
}

} // namespace

int main()
{
    QueryPerformanceFrequency(&qpc_freq);
    thread_clock = bench_thread_clock_usable();
    std::string root = bench_exe_dir() + "\\..\\benchout";
    CreateDirectoryA(root.c_str(), nullptr);
    root += "\\overlay_cost";

    printf("overlay cost: the plug-in's Present hook (drawing the core's UI) and the game thread's frame event,\n");
    printf("real plug-in and core, 1280x720, frames paced at 60 Hz, %d measured per case after %d warm-up frames;\n",
           measured_frames, warmup_frames);
    printf("%s of the presenting thread, in microseconds per frame\n\n",
           thread_clock ? "CPU time" : "wall time (no per-thread CPU clock here)");
    printf("case               Present hook       whole Present      game thread\n");
    printf("                     median      p99    median      p99    median      p99\n");

    if (!start(root + "_closed", "ui_statusbar = 0\n")) {
        printf("overlay cost: the plug-in or the window did not start\n");
        return 1;
    }
    measure("UI closed");
    stop();

    if (!start(root + "_open", "ui_statusbar = 1\n")) {
        printf("overlay cost: the plug-in or the window did not start\n");
        return 1;
    }
    measure("status line only");
    if (!toggle_ui()) {
        printf("overlay cost: F2 did not open the menu\n");
        stop();
        return 1;
    }
    const struct {
        const char *name;
        int y; // the page's entry in the menu's sidebar
    } pages[] = { { "menu: Servers", 166 }, { "menu: Players", 216 }, { "menu: Settings", 266 } };
    for (auto &p : pages) {
        sim::mouse_click_message(225, p.y);
        measure(p.name);
    }
    toggle_ui();
    stop();
    return 0;
}
