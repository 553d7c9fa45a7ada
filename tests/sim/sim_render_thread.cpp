// The game's render thread (render_config::render_thread): Presents made on
// a thread of their own while the game thread keeps its window messages
// flowing, as a game with a separate render thread does. Each frame runs the
// game's draw and shadow routines first (sim_draw.h); started by sim_draw
// alone, it draws frame after frame without a picture.
#include "sim/sim_draw.h"
#include "sim/sim_economy.h"
#include "sim/sim_render.h"
#include "sim/sim_render_internal.h"

namespace sim {
namespace {

HANDLE rt_thread, rt_go, rt_done;
volatile LONG rt_quit;
uint32_t rt_flags;
HRESULT rt_result;

DWORD WINAPI render_thread_main(void *)
{
    for (;;) {
        // Free running (sim_draw.h): a frame every millisecond between
        // Presents, or one after the other at full speed.
        bool running = draw_free_running();
        DWORD r = WaitForSingleObject(rt_go, running ? (draw_full_speed() ? 0 : 1) : 100);
        if (rt_quit)
            break;
        if (r != WAIT_OBJECT_0) {
            if (running) {
                draw_frame();
                economy_draw_rows();
            }
            continue;
        }
        draw_frame(); // the game's draw and shadow routines, its freight list, then its Present
        economy_draw_rows();
        rt_result = render_present_now(rt_flags);
        SetEvent(rt_done);
    }
    return 0;
}

} // namespace

void render_thread_start()
{
    rt_go = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    rt_done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    rt_quit = 0;
    rt_thread = CreateThread(nullptr, 0, render_thread_main, nullptr, 0, nullptr);
}

void render_thread_stop()
{
    if (!rt_thread)
        return;
    rt_quit = 1;
    SetEvent(rt_go);
    WaitForSingleObject(rt_thread, 5000);
    CloseHandle(rt_thread);
    CloseHandle(rt_go);
    CloseHandle(rt_done);
    rt_thread = rt_go = rt_done = nullptr;
}

bool render_thread_running() { return rt_thread != nullptr; }

HRESULT render_thread_present(uint32_t flags)
{
    rt_flags = flags;
    SetEvent(rt_go);
    // Window messages keep flowing while the render thread presents (the
    // overlay may wait for the window thread's handler, and the other way).
    DWORD start = GetTickCount();
    for (;;) {
        DWORD r = MsgWaitForMultipleObjects(1, &rt_done, FALSE, 50, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0)
            return rt_result;
        pump();
        if (GetTickCount() - start > 10000)
            return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    }
}

} // namespace sim
