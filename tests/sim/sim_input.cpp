// The player's input to the simulated game's window: real input through
// SendInput, mouse messages posted, and the record of what the game's own
// window procedure received.
#include "sim/sim_input.h"
#include "sim/sim_render.h"
#include "sim/sim_render_internal.h"
#include <mutex>

namespace sim {
namespace {

std::mutex msg_mutex;
std::vector<window_message> messages;

} // namespace

LRESULT CALLBACK game_wndproc(HWND h, UINT m, WPARAM w, LPARAM l)
{
    {
        std::lock_guard<std::mutex> g(msg_mutex);
        if (messages.size() < 100000)
            messages.push_back({ m, w, l });
    }
    if (m == WM_CLOSE)
        return 0; // the game decides itself when to close
    return DefWindowProcW(h, m, w, l);
}

std::vector<window_message> game_messages()
{
    std::lock_guard<std::mutex> g(msg_mutex);
    return messages;
}

void clear_game_messages()
{
    std::lock_guard<std::mutex> g(msg_mutex);
    messages.clear();
}

LRESULT window_send(UINT msg, WPARAM wp, LPARAM lp) { return SendMessageW(render_game_window(), msg, wp, lp); }

void key_input(WORD vk, bool down)
{
    // Input goes to the foreground window; the desktop hands focus over
    // asynchronously, so wait (bounded) until it has.
    HWND window = render_game_window();
    for (int i = 0; window && GetForegroundWindow() != window && i < 50; i++) {
        SetForegroundWindow(window);
        pump();
        Sleep(10);
    }
    INPUT in = {};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = (WORD)MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
    in.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    SendInput(1, &in, sizeof in);
    Sleep(5);
    pump();
}

void mouse_input_move(int x, int y)
{
    POINT p = { x, y };
    ClientToScreen(render_game_window(), &p);
    SetCursorPos(p.x, p.y);
    INPUT in = {};
    in.type = INPUT_MOUSE;
    in.mi.dx = p.x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1);
    in.mi.dy = p.y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1);
    in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &in, sizeof in);
    Sleep(5);
    pump();
}

void mouse_input_button(bool down)
{
    INPUT in = {};
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
    SendInput(1, &in, sizeof in);
    Sleep(5);
    pump();
}

void mouse_click_message(int x, int y)
{
    LPARAM lp = MAKELPARAM(x, y);
    HWND window = render_game_window();
    PostMessageW(window, WM_MOUSEMOVE, 0, lp);
    game_frames(1);
    PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, lp);
    game_frames(1);
    PostMessageW(window, WM_LBUTTONUP, 0, lp);
    game_frames(1);
}

} // namespace sim
