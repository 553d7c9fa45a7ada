// The game's render thread (render_config::render_thread): Presents made on
// a thread of their own while the game thread keeps its window messages
// flowing, as a game with a separate render thread does.
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
        WaitForSingleObject(rt_go, INFINITE);
        if (rt_quit)
            break;
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
