/* What the files of the simulated game's picture and input share inside
 * dm_sim.dll (not exported). */
#pragma once
#include <windows.h>
#include <d3d11.h>
#include <stdint.h>

namespace sim {

/* Releases a COM object and clears the pointer. */
template <class T> void release(T *&p)
{
    if (p) {
        p->Release();
        p = nullptr;
    }
}


/* sim_render.cpp */
HRESULT render_present_now(uint32_t flags); /* on the calling thread */
HWND render_game_window();

/* sim_render_thread.cpp */
void render_thread_start();
void render_thread_stop();
bool render_thread_running();
HRESULT render_thread_present(uint32_t flags);

/* sim_draw.cpp: the render thread draws frames between Presents too. */
bool draw_free_running();
bool draw_full_speed();

/* sim_d3d_rules.cpp: Windows' rule that ResizeBuffers fails while a view of
 * the back buffer is bound in any device-context state. */
void d3d_rules_install(ID3D11DeviceContext *context); /* once per process; the table is shared */
void d3d_rules_reset();                               /* a new device: nothing bound */
void d3d_rules_back_buffer(ID3D11Texture2D *buffer);  /* the game took its back buffer 0 */
bool d3d_rules_back_buffer_bound(IDXGISwapChain *chain);

/* sim_dinput.cpp */
void di_open();  /* the scripted keyboard and mouse (once) */
void di_reset(); /* not acquired, nothing queued, no keys down */

/* sim_input.cpp */
LRESULT CALLBACK game_wndproc(HWND h, UINT m, WPARAM w, LPARAM l);

/* sim_png.cpp: an RGBA PNG of packed R | G<<8 | B<<16 pixels (written opaque). */
bool png_write(const char *path, const uint32_t *pixels, int width, int height);

} // namespace sim
