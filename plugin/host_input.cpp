// Input routing: in UI mode the player's mouse and keyboard belong to the
// overlay. The game window's procedure is subclassed and the game's cursor
// imports are patched here; the DirectInput devices are in host_dinput.cpp.
// F2 never reaches the game.
//
// Index of this file:
// - state
// - cursor imports (hooks)
// - window procedure
// - cursor imports (patching)
// - UI mode
// - teardown
#include "host_overlay.h"
#include <stdio.h>
#include <string.h>
#include "imgui.h"
#include "imgui_impl_win32.h"

extern IMGUI_IMPL_API LRESULT ImGui_ImplWin32_WndProcHandler(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

namespace {

// ---- state ----

const UINT DM_VK_F2 = 0x71, DM_VK_F4 = 0x73;

HWND game_hwnd;
WNDPROC game_wndproc; // kept for the life of the process
volatile LONG window_thread_logged;

typedef BOOL(WINAPI *clip_cursor_fn)(const RECT *);
typedef HCURSOR(WINAPI *set_cursor_fn)(HCURSOR);
typedef BOOL(WINAPI *set_cursor_pos_fn)(int, int);

// The three cursor imports: their records (cleared at teardown) and their
// slots, kept for the life of the process so that a hook still reached
// after teardown finds the entry it replaced (host_slot_previous).
enum { IMPORT_SET_CURSOR_POS, IMPORT_CLIP_CURSOR, IMPORT_SET_CURSOR, IMPORT_COUNT };
const char *const import_names[IMPORT_COUNT] = { "SetCursorPos", "ClipCursor", "SetCursor" };
host_slot_patch imports[IMPORT_COUNT];
void **volatile import_slots[IMPORT_COUNT];
SRWLOCK clip_lock = SRWLOCK_INIT;
RECT game_clip;
bool game_clip_set;

bool in_ui() { return host_ui_mode != 0; }

void *game_entry(int which) { return import_slots[which] ? host_slot_previous(import_slots[which]) : nullptr; }

// ---- cursor imports (hooks) ----

BOOL WINAPI host_clip_cursor_hook(const RECT *r)
{
    host_in_flight_scope scope;
    AcquireSRWLockExclusive(&clip_lock);
    game_clip_set = r != nullptr;
    if (r)
        game_clip = *r;
    ReleaseSRWLockExclusive(&clip_lock);
    if (!in_ui())
        return ((clip_cursor_fn)game_entry(IMPORT_CLIP_CURSOR))(r);
    return TRUE;
}

HCURSOR WINAPI host_set_cursor_hook(HCURSOR c)
{
    host_in_flight_scope scope;
    if (!in_ui())
        return ((set_cursor_fn)game_entry(IMPORT_SET_CURSOR))(c);
    return GetCursor();
}

BOOL WINAPI host_set_cursor_pos_hook(int x, int y)
{
    host_in_flight_scope scope;
    if (!in_ui())
        return ((set_cursor_pos_fn)game_entry(IMPORT_SET_CURSOR_POS))(x, y);
    return TRUE;
}

void *const import_hooks[IMPORT_COUNT] = { (void *)host_set_cursor_pos_hook, (void *)host_clip_cursor_hook,
                                           (void *)host_set_cursor_hook };

} // namespace

// ---- window procedure ----

HWND host_game_window() { return game_hwnd; }

LRESULT CALLBACK host_wndproc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    host_in_flight_scope scope;
    if (InterlockedExchange(&window_thread_logged, 1) == 0)
        host_log("[host] ui: window messages on thread %lu", GetCurrentThreadId());
    if ((msg == WM_KEYDOWN || msg == WM_KEYUP || msg == WM_SYSKEYDOWN || msg == WM_SYSKEYUP) && wp == DM_VK_F2)
        return 0;
    bool input = msg == WM_INPUT || (msg >= 0x100 && msg <= 0x109) || (msg >= 0x200 && msg <= 0x20E);
    bool ui = in_ui();
    if (host_imgui_ready && host_overlay_is_active() && (ui || !input)) {
        LRESULT r = 0;
        EnterCriticalSection(&host_lock);
        host_hook_guarded("window procedure", [&] {
            if (ImGui::GetCurrentContext())
                r = ImGui_ImplWin32_WndProcHandler(hwnd, msg, wp, lp);
        });
        LeaveCriticalSection(&host_lock);
        if (ui && msg == WM_SETCURSOR && r)
            return r;
    }
    if (ui && input) {
        if (msg == WM_SYSKEYDOWN)
            return wp == DM_VK_F4 ? CallWindowProcW(game_wndproc, hwnd, msg, wp, lp) : 0;
        if (msg == WM_INPUT)
            return DefWindowProcW(hwnd, msg, wp, lp);
        return 0;
    }
    return CallWindowProcW(game_wndproc, hwnd, msg, wp, lp);
}

void host_subclass_window(HWND hwnd)
{
    if (game_hwnd && (WNDPROC)GetWindowLongPtrW(game_hwnd, GWLP_WNDPROC) == host_wndproc)
        SetWindowLongPtrW(game_hwnd, GWLP_WNDPROC, (LONG_PTR)game_wndproc);
    WNDPROC orig = (WNDPROC)SetWindowLongPtrW(hwnd, GWLP_WNDPROC, (LONG_PTR)host_wndproc);
    if (orig != host_wndproc)
        game_wndproc = orig;
    game_hwnd = hwnd;
    char mod[MAX_PATH];
    host_module_name((void *)game_wndproc, mod, sizeof mod);
    host_log("[host] ui: game window %p subclassed (orig wndproc %p in %s)", (void *)hwnd, (void *)game_wndproc, mod);
}

// ---- cursor imports (patching) ----

void host_cursor_imports_patch()
{
    bool ok[IMPORT_COUNT];
    for (int i = 0; i < IMPORT_COUNT; i++) {
        ok[i] = host_iat_hook(&imports[i], "user32.dll", import_names[i], import_hooks[i]);
        if (ok[i] && imports[i].slot)
            import_slots[i] = imports[i].slot;
    }
    host_log("[host] ui: cursor imports SetCursorPos %s, ClipCursor %s, SetCursor %s", ok[0] ? "ok" : "-",
             ok[1] ? "ok" : "-", ok[2] ? "ok" : "-");
}

void host_cursor_release()
{
    auto clip = imports[IMPORT_CLIP_CURSOR].slot ? (clip_cursor_fn)game_entry(IMPORT_CLIP_CURSOR) : nullptr;
    (clip ? clip : ClipCursor)(nullptr);
}

void host_cursor_reapply()
{
    AcquireSRWLockShared(&clip_lock);
    bool set = game_clip_set;
    RECT r = game_clip;
    ReleaseSRWLockShared(&clip_lock);
    auto clip = imports[IMPORT_CLIP_CURSOR].slot ? (clip_cursor_fn)game_entry(IMPORT_CLIP_CURSOR) : nullptr;
    if (set && clip)
        clip(&r);
}

// ---- UI mode ----

void host_ui_mode_set(bool on)
{
    ImGuiIO &io = ImGui::GetIO();
    if (on) {
        InterlockedExchange(&host_ui_mode, 1);
        io.ConfigFlags &= ~(ImGuiConfigFlags_NoMouse | ImGuiConfigFlags_NoMouseCursorChange);
        io.MouseDrawCursor = true;
        host_cursor_release();
        host_log("[host] ui: UI mode %s", "ON (game input blocked)");
    } else {
        io.ClearInputKeys();
        io.ClearInputMouse();
        io.ConfigFlags |= ImGuiConfigFlags_NoMouse | ImGuiConfigFlags_NoMouseCursorChange;
        io.MouseDrawCursor = false;
        InterlockedExchange(&host_ui_mode, 0);
        host_cursor_reapply();
        host_log("[host] ui: UI mode %s", "off");
    }
}

// ---- teardown ----

bool host_input_teardown()
{
    bool clean = host_dinput_teardown();
    for (auto &p : imports)
        clean &= host_unpatch_slot(&p);
    if (game_hwnd) {
        if ((WNDPROC)GetWindowLongPtrW(game_hwnd, GWLP_WNDPROC) == host_wndproc)
            SetWindowLongPtrW(game_hwnd, GWLP_WNDPROC, (LONG_PTR)game_wndproc);
        else if (IsWindow(game_hwnd))
            clean = false; // someone subclassed over us and may still call us
        game_hwnd = nullptr;
    }
    return clean;
}
