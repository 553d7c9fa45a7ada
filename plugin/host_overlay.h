/* Shared state of the overlay renderer (host_overlay*.cpp, host_dxgi_probe.cpp)
 * and the input routing (host_input.cpp, host_dinput.cpp). */
#pragma once
#include "host_patch.h"

struct IDXGISwapChain;

/* Releases a COM object and clears the pointer. */
template <class T> void host_release(T *&p)
{
    if (p) {
        p->Release();
        p = nullptr;
    }
}

/* Hook bookkeeping: every hook entry counts itself while it runs. */
extern volatile LONG host_in_flight;
struct host_in_flight_scope {
    host_in_flight_scope() { InterlockedIncrement(&host_in_flight); }
    ~host_in_flight_scope() { InterlockedDecrement(&host_in_flight); }
};

/* Overlay state read by the input side. */
extern volatile LONG host_ui_mode;      /* 1 while UI mode is on */
extern volatile LONG host_imgui_ready;  /* context exists and is attached */
bool host_overlay_is_active();
/* Turns the overlay off for good (fault, failed attach): clears UI mode and
 * gives the game its cursor clip back. */
void host_overlay_off();
bool host_overlay_isolate(); /* overlay_isolate as read at start */

/* host_overlay.cpp: the swap-chain hooks for slot 8, 13, 22 or 39 (null for others). */
void *host_swap_chain_hook(int slot);

/* host_dxgi_probe.cpp: finds and patches the swap chain's table. */
bool host_dxgi_probe();
bool host_dxgi_unpatch(); /* false when a slot no longer held our hook */

/* host_overlay_frame.cpp (render thread, host_lock held) */
void host_overlay_frame(IDXGISwapChain *sc);
/* After a fault inside a frame: the game's pipeline state back, as it was
 * before the overlay drew. */
void host_overlay_frame_recover();
/* Drops the render-target view when sc is the attached chain (resizes). */
void host_overlay_drop_view(IDXGISwapChain *sc);
bool host_overlay_made();        /* a Dear ImGui context exists */
void host_overlay_release_all(); /* teardown: the context and every Direct3D object */

/* host_input.cpp */
LRESULT CALLBACK host_wndproc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
/* Subclasses the window (restoring the previously subclassed one); logs. */
void host_subclass_window(HWND hwnd);
HWND host_game_window();
void host_cursor_imports_patch();
/* UI mode on or off with its effects on Dear ImGui and the cursor
 * (render thread, host_lock held, plug-in context current). */
void host_ui_mode_set(bool on);
/* Frees or re-applies the game's cursor clip through the game's entry. */
void host_cursor_release();
void host_cursor_reapply();
/* Teardown of the input side; returns false when something of ours may
 * still be reached (a slot or the window procedure no longer held our
 * value). */
bool host_input_teardown();

/* host_dinput.cpp */
bool host_dinput_probe();
bool host_dinput_teardown();

/* host_core.cpp: 0 no core loaded, 1 a core without a UI entry, 2 a UI entry bound. */
int host_core_ui_state();
