/* The simulated game's window, Direct3D 11 device and swap chain, its
 * DirectInput devices, and the input a player would give it. Exported by
 * dm_sim.dll.
 *
 * The game's Present goes through a capture layer that sits in the swap
 * chain's table below any later hook (as another overlay's would): when a
 * capture is asked for, it copies back buffer 0 to a staging texture right
 * before the real Present, after whatever the hooks above it drew. Likewise
 * the DirectInput device slots are wrapped so the game's keyboard and mouse
 * reads return scripted input. render_open must run before the plug-in is
 * started, so that both layers are in place before it patches the tables. */
#pragma once
#define DIRECTINPUT_VERSION 0x0800
#include <windows.h>
#include <dinput.h>
#include <dxgi.h>
#include <stdint.h>
#include <string>
#include <vector>
#include "sim/sim.h"

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

/* Capture: the next Present copies the back buffer; the pixels stay until
 * the next capture. Pixels are packed R | G<<8 | B<<16 | A<<24. */
SIM_API bool capture_frame(double dt = 1.0 / 60.0);
SIM_API int capture_width();
SIM_API int capture_height();
SIM_API uint32_t capture_pixel(int x, int y);
SIM_API bool capture_save_png(const char *path);
/* Pixels in a rectangle whose colour is within tol (per channel) of rgb. */
SIM_API int capture_count(int x0, int y0, int x1, int y1, uint32_t rgb, int tol);

/* ---- what the game's window procedure received ---- */
struct window_message {
    UINT msg;
    WPARAM wp;
    LPARAM lp;
};
SIM_API std::vector<window_message> game_messages();
SIM_API void clear_game_messages();
/* Sent straight to the window (as the system would deliver it). */
SIM_API LRESULT window_send(UINT msg, WPARAM wp, LPARAM lp);
/* Real input through SendInput, then the messages are handled. */
SIM_API void key_input(WORD vk, bool down);
SIM_API void mouse_input_move(int x, int y); /* client coordinates */
SIM_API void mouse_input_button(bool down);
/* Window messages of the mouse at client (x, y), posted and handled. */
SIM_API void mouse_click_message(int x, int y);

/* ---- the game's DirectInput devices (scripted reads) ---- */
enum di_kind { DI_KEYBOARD = 1, DI_MOUSE = 2 };
SIM_API IDirectInputDevice8W *di_device(di_kind kind);
/* Sets a key's state byte and queues one buffered record for it. */
SIM_API void di_script_key(uint8_t code, bool down);
SIM_API void di_script_mouse(int dx, int dy, bool button0);
SIM_API int di_acquired(di_kind kind);      /* 1 while the device is acquired */
SIM_API int di_unacquire_count(di_kind kind);
/* Another device (kind other): a game controller the game also reads. */
SIM_API IDirectInputDevice8W *di_extra_device(int index);

} // namespace sim
