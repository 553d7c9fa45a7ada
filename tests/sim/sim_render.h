/* The simulated game's picture: its window, Direct3D 11 device and swap
 * chain, presenting on the game thread or a render thread of its own, and
 * captures of what it presents. Exported by dm_sim.dll. Its input is in
 * sim_input.h (window messages) and sim_dinput.h (DirectInput devices).
 *
 * The game's Present goes through a capture layer that sits in the swap
 * chain's table below any later hook (as another overlay's would): when a
 * capture is asked for, it copies back buffer 0 to a staging texture right
 * before the real Present, after whatever the hooks above it drew. The same
 * layer holds the game to Windows' rules where Wine is kinder (a
 * ResizeBuffers with a view of the back buffer still bound fails).
 * render_open must run before the plug-in is started, so that the layers
 * are in place before it patches the tables. */
#pragma once
#include <windows.h>
#include <dxgi.h>
#include <stdint.h>
#include "sim/sim.h"
/* The window input comes along: most files that drive the picture press
 * keys and click into it too. */
#include "sim/sim_input.h"

namespace sim {

struct render_config {
    int width = 1280, height = 720;
    bool render_thread = false; /* present on a thread of its own, else on the calling (game) thread */
    bool present1 = false;      /* the game presents with Present1 */
    uint32_t clear_rgba = 0xFF503C2E; /* the game's picture: packed R | G<<8 | B<<16 | A<<24 */
};

SIM_API bool render_open(const render_config &config = render_config());
SIM_API void render_close();
SIM_API HWND render_window();
SIM_API IDXGISwapChain *render_swap_chain();
SIM_API void **render_swap_chain_vtable();
SIM_API void *render_layer_present(); /* the capture layer's Present entry (slot 8 below the hooks) */
/* Writes one slot of a read-only virtual table and returns what it held:
 * the layers below the hooks, and the tests' own faulting or chained entries. */
SIM_API void *patch_slot(void **slot, void *value);

/* One game Present (on the render thread when configured; bounded wait). */
SIM_API HRESULT render_present(uint32_t flags = 0);
/* Handles the window messages waiting for the game window's thread. */
SIM_API void pump();
/* n game frames: the clock advances dt, the telemetry frame event, the
 * window messages, one Present. */
SIM_API void game_frames(int n, double dt = 1.0 / 60.0);
/* ResizeBuffers on the game's chain. */
SIM_API HRESULT render_resize(int width, int height);
/* The game makes a new swap chain for its window (optionally on a new device). */
SIM_API bool render_new_chain(bool new_device);
/* A swap chain for another window of the game, presented once. */
SIM_API bool render_present_other_window();

/* What the game had bound when its last Present reached the capture layer
 * (after every hook above it): the game binds its own view of the back
 * buffer and a viewport of its own (MaxDepth 0.5) before it presents. */
struct render_bindings {
    bool game_view_bound;  /* render target 0 is the view the game bound */
    float viewport_max_depth; /* of viewport 0; -1 when none is set */
};
SIM_API render_bindings render_bound_at_present();

/* Capture: the next Present copies the back buffer; the pixels stay until
 * the next capture. Pixels are packed R | G<<8 | B<<16 | A<<24. */
SIM_API bool capture_frame(double dt = 1.0 / 60.0);
SIM_API int capture_width();
SIM_API int capture_height();
SIM_API uint32_t capture_pixel(int x, int y);
SIM_API bool capture_save_png(const char *path);
/* Pixels in a rectangle whose colour is within tol (per channel) of rgb. */
SIM_API int capture_count(int x0, int y0, int x1, int y1, uint32_t rgb, int tol);

} // namespace sim
