// Input routing: in UI mode the player's mouse and keyboard belong to the
// overlay. The game window's procedure is subclassed, the game's cursor
// imports are patched, and the DirectInput device tables are patched so the
// game's device reads come back empty. F2 never reaches the game.
#define DIRECTINPUT_VERSION 0x0800
#include "host_overlay.h"
#include "dm_pe_imports.h"
#include "dm_module.h"
#include <dinput.h>
#include <stdio.h>
#include <string.h>
#include "imgui.h"
#include "imgui_impl_win32.h"

extern IMGUI_IMPL_API LRESULT ImGui_ImplWin32_WndProcHandler(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

namespace {

const UINT DM_VK_F2 = 0x71, DM_VK_F4 = 0x73;
const DWORD DM_DIK_F2 = 0x3C;

// ---- window ----
HWND game_hwnd;
WNDPROC game_wndproc; // kept for the life of the process
volatile LONG window_thread_logged;

// ---- cursor imports ----
typedef BOOL(WINAPI *clip_cursor_fn)(const RECT *);
typedef HCURSOR(WINAPI *set_cursor_fn)(HCURSOR);
typedef BOOL(WINAPI *set_cursor_pos_fn)(int, int);

host_slot_patch import_set_cursor_pos, import_clip_cursor, import_set_cursor;
clip_cursor_fn prev_clip_cursor;
set_cursor_fn prev_set_cursor;
set_cursor_pos_fn prev_set_cursor_pos;
SRWLOCK clip_lock = SRWLOCK_INIT;
RECT game_clip;
bool game_clip_set;

// ---- DirectInput ----
enum { KIND_OTHER = 0, KIND_KEYBOARD = 1, KIND_MOUSE = 2 };
const char *const kind_names[3] = { "other", "keyboard", "mouse" };
const char *const kind_log_names[3] = { "other (left alone)", "keyboard", "mouse" };

struct host_dinput_device {
    void *device;
    int32_t kind;
    volatile uint8_t taken;        // we unacquired it for UI mode
    volatile uint8_t lost_pending; // the next buffered read reports input lost
};
host_dinput_device devices[16];
volatile LONG device_count;
SRWLOCK device_lock = SRWLOCK_INIT;

enum { DI_ACQUIRE = 0, DI_STATE = 1, DI_DATA = 2 };
const int di_slots[3] = { 7, 9, 10 };
struct di_table {
    void **vtable;
    host_slot_patch patch[3];
};
di_table di_tables[4];
int di_table_count;
// Previous entries per table index, kept for the life of the process.
void *di_prev[4][3];
volatile LONG state_logged[3], data_logged[3];

typedef HRESULT(STDMETHODCALLTYPE *acquire_fn)(IDirectInputDevice8W *);
typedef HRESULT(STDMETHODCALLTYPE *state_fn)(IDirectInputDevice8W *, DWORD, void *);
typedef HRESULT(STDMETHODCALLTYPE *data_fn)(IDirectInputDevice8W *, DWORD, DIDEVICEOBJECTDATA *, DWORD *, DWORD);

bool in_ui() { return host_ui_mode != 0; }

bool readable(const void *p, size_t n)
{
    MEMORY_BASIC_INFORMATION mbi;
    if (!p || !VirtualQuery(p, &mbi, sizeof mbi) || mbi.State != MEM_COMMIT)
        return false;
    if (mbi.Protect & (PAGE_NOACCESS | PAGE_GUARD))
        return false;
    return (const uint8_t *)p + n <= (const uint8_t *)mbi.BaseAddress + mbi.RegionSize;
}

host_dinput_device *host_dinput_device_lookup(void *dev)
{
    AcquireSRWLockShared(&device_lock);
    LONG n = device_count;
    for (LONG i = 0; i < n; i++)
        if (devices[i].device == dev) {
            ReleaseSRWLockShared(&device_lock);
            return &devices[i];
        }
    ReleaseSRWLockShared(&device_lock);

    auto *d = (IDirectInputDevice8W *)dev;
    DIDEVCAPS caps = {};
    caps.dwSize = sizeof caps;
    int kind = KIND_OTHER;
    if (SUCCEEDED(d->GetCapabilities(&caps))) {
        BYTE type = (BYTE)(caps.dwDevType & 0xFF);
        kind = type == 0x13 ? KIND_KEYBOARD : type == 0x12 ? KIND_MOUSE : KIND_OTHER;
    }
    host_dinput_device *rec = nullptr;
    bool added = false;
    AcquireSRWLockExclusive(&device_lock);
    for (LONG i = 0; i < device_count; i++)
        if (devices[i].device == dev)
            rec = &devices[i];
    if (!rec && device_count < 16) {
        rec = &devices[device_count];
        rec->device = dev;
        rec->kind = kind;
        rec->taken = 0;
        rec->lost_pending = 0;
        InterlockedIncrement(&device_count);
        added = true;
    }
    ReleaseSRWLockExclusive(&device_lock);
    if (added)
        host_log("[host] ui: dinput device %p is %s", dev, kind_log_names[kind]);
    return rec; // none when the table is full: treated as other
}

HRESULT di_acquire(int t, IDirectInputDevice8W *dev)
{
    host_in_flight_scope scope;
    host_dinput_device *rec = host_dinput_device_lookup(dev);
    int kind = rec ? rec->kind : KIND_OTHER;
    if (in_ui() && kind != KIND_OTHER) {
        rec->taken = 1;
        return DI_OK;
    }
    HRESULT hr = ((acquire_fn)di_prev[t][DI_ACQUIRE])(dev);
    if (SUCCEEDED(hr) && rec)
        rec->taken = 0;
    return hr;
}

void take_for_ui(IDirectInputDevice8W *dev, host_dinput_device *rec)
{
    if (rec->taken)
        return;
    dev->Unacquire();
    rec->taken = 1;
    rec->lost_pending = 1;
}

HRESULT di_state(int t, IDirectInputDevice8W *dev, DWORD size, void *data)
{
    host_in_flight_scope scope;
    host_dinput_device *rec = host_dinput_device_lookup(dev);
    int kind = rec ? rec->kind : KIND_OTHER;
    if (InterlockedExchange(&state_logged[kind], 1) == 0)
        host_log("[host] ui: game reads %s with GetDeviceState(%lu bytes)", kind_names[kind], (unsigned long)size);
    if (kind != KIND_OTHER) {
        if (in_ui()) {
            take_for_ui(dev, rec);
            if (data)
                memset(data, 0, size);
            return DI_OK;
        }
        if (rec->taken && SUCCEEDED(((acquire_fn)di_prev[t][DI_ACQUIRE])(dev))) {
            rec->taken = 0;
            rec->lost_pending = 0;
        }
    }
    HRESULT hr = ((state_fn)di_prev[t][DI_STATE])(dev, size, data);
    if (SUCCEEDED(hr) && kind == KIND_KEYBOARD && data && size >= 61)
        ((uint8_t *)data)[DM_DIK_F2] = 0;
    return hr;
}

HRESULT di_data(int t, IDirectInputDevice8W *dev, DWORD rec_size, DIDEVICEOBJECTDATA *data, DWORD *count, DWORD flags)
{
    host_in_flight_scope scope;
    host_dinput_device *rec = host_dinput_device_lookup(dev);
    int kind = rec ? rec->kind : KIND_OTHER;
    if (InterlockedExchange(&data_logged[kind], 1) == 0)
        host_log("[host] ui: game reads %s with GetDeviceData(%lu-byte records)", kind_names[kind],
                 (unsigned long)rec_size);
    if (kind != KIND_OTHER) {
        if (in_ui()) {
            take_for_ui(dev, rec);
            if (count)
                *count = 0;
            return DI_OK;
        }
        if (rec->taken && SUCCEEDED(((acquire_fn)di_prev[t][DI_ACQUIRE])(dev))) {
            rec->taken = 0;
            if (rec->lost_pending) {
                rec->lost_pending = 0;
                if (count)
                    *count = 0;
                host_log("[host] ui: %s back to the game (DIERR_INPUTLOST once so held keys reset)", kind_names[kind]);
                return DIERR_INPUTLOST;
            }
        }
    }
    HRESULT hr = ((data_fn)di_prev[t][DI_DATA])(dev, rec_size, data, count, flags);
    // A peek or a count-only read (null buffer) leaves the records alone.
    if (SUCCEEDED(hr) && kind == KIND_KEYBOARD && rec_size >= 4 && data && count && !(flags & DIGDD_PEEK)) {
        DWORD kept = 0;
        for (DWORD i = 0; i < *count; i++) {
            const uint8_t *src = (const uint8_t *)data + (size_t)i * rec_size;
            if (*(const uint32_t *)src == DM_DIK_F2)
                continue;
            if (kept != i)
                memmove((uint8_t *)data + (size_t)kept * rec_size, src, rec_size);
            kept++;
        }
        *count = kept;
    }
    return hr;
}

template <int T> HRESULT STDMETHODCALLTYPE host_dinput_acquire_hook(IDirectInputDevice8W *d) { return di_acquire(T, d); }
template <int T> HRESULT STDMETHODCALLTYPE host_dinput_get_device_state_hook(IDirectInputDevice8W *d, DWORD n, void *p)
{
    return di_state(T, d, n, p);
}
template <int T>
HRESULT STDMETHODCALLTYPE host_dinput_get_device_data_hook(IDirectInputDevice8W *d, DWORD sz, DIDEVICEOBJECTDATA *p,
                                                           DWORD *n, DWORD f)
{
    return di_data(T, d, sz, p, n, f);
}

void *const di_hooks[4][3] = {
    { (void *)host_dinput_acquire_hook<0>, (void *)host_dinput_get_device_state_hook<0>,
      (void *)host_dinput_get_device_data_hook<0> },
    { (void *)host_dinput_acquire_hook<1>, (void *)host_dinput_get_device_state_hook<1>,
      (void *)host_dinput_get_device_data_hook<1> },
    { (void *)host_dinput_acquire_hook<2>, (void *)host_dinput_get_device_state_hook<2>,
      (void *)host_dinput_get_device_data_hook<2> },
    { (void *)host_dinput_acquire_hook<3>, (void *)host_dinput_get_device_state_hook<3>,
      (void *)host_dinput_get_device_data_hook<3> },
};

bool is_our_hook(void *p)
{
    for (auto &set : di_hooks)
        for (void *h : set)
            if (h == p)
                return true;
    return false;
}

void add_table(void **vt)
{
    for (int i = 0; i < di_table_count; i++)
        if (di_tables[i].vtable == vt)
            return;
    if (di_table_count < 4)
        di_tables[di_table_count++].vtable = vt;
}

bool inside(const void *p, const uint8_t *lo, const uint8_t *hi) { return (const uint8_t *)p >= lo && (const uint8_t *)p < hi; }

void probe_one(char letter, const GUID &iid, decltype(&DirectInput8Create) create, const uint8_t *lo,
               const uint8_t *hi)
{
    IUnknown *di = nullptr;
    HMODULE self = dm_module_at((const void *)&host_dinput_probe);
    HRESULT hr = create(self, 0x0800, iid, (void **)&di, nullptr);
    IUnknown *dev = nullptr;
    if (SUCCEEDED(hr) && di) {
        // IDirectInput8A and W share the layout: CreateDevice is slot 3.
        if (letter == 'W')
            hr = ((IDirectInput8W *)di)->CreateDevice(GUID_SysKeyboard, (IDirectInputDevice8W **)&dev, nullptr);
        else
            hr = ((IDirectInput8A *)di)->CreateDevice(GUID_SysKeyboard, (IDirectInputDevice8A **)&dev, nullptr);
    }
    if (FAILED(hr) || !dev) {
        host_log("[host] ui: dinput probe %c failed (0x%08lx)", letter, (unsigned long)hr);
    } else {
        void **vt = *(void ***)dev;
        add_table(vt);
        if (!inside(vt, lo, hi)) {
            // A layer that wraps the devices: find dinput8.dll's device inside.
            void **obj = (void **)dev;
            for (int i = 1; i <= 31; i++) {
                if (!readable(&obj[i], sizeof(void *)))
                    break;
                void *field = obj[i];
                if (!readable(field, sizeof(void *)))
                    continue;
                void **inner = *(void ***)field;
                if (inside(inner, lo, hi) && readable(inner, 88)) {
                    char mod[MAX_PATH];
                    host_module_name(vt, mod, sizeof mod);
                    host_log("[host] ui: dinput probe %c is a wrapper (%s); inner device at +0x%x, vtable %p "
                             "(dinput8.dll)",
                             letter, mod, (unsigned)(i * sizeof(void *)), (void *)inner);
                    add_table(inner);
                    break;
                }
            }
        }
        dev->Release();
    }
    if (di)
        di->Release();
}

// ---- cursor hooks ----

BOOL WINAPI host_clip_cursor_hook(const RECT *r)
{
    host_in_flight_scope scope;
    AcquireSRWLockExclusive(&clip_lock);
    game_clip_set = r != nullptr;
    if (r)
        game_clip = *r;
    ReleaseSRWLockExclusive(&clip_lock);
    if (!in_ui())
        return prev_clip_cursor(r);
    return TRUE;
}

HCURSOR WINAPI host_set_cursor_hook(HCURSOR c)
{
    host_in_flight_scope scope;
    if (!in_ui())
        return prev_set_cursor(c);
    return GetCursor();
}

BOOL WINAPI host_set_cursor_pos_hook(int x, int y)
{
    host_in_flight_scope scope;
    if (!in_ui())
        return prev_set_cursor_pos(x, y);
    return TRUE;
}

bool host_iat_hook(host_slot_patch *p, const char *module, const char *function, void *replacement, void **previous)
{
    void **slot = dm_pe_import_slot(GetModuleHandleA(nullptr), module, function);
    if (!slot)
        return false;
    if (*slot != replacement && !*previous)
        *previous = *slot;
    return host_patch_slot(p, slot, replacement);
}

} // namespace

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
        if (ImGui::GetCurrentContext())
            r = ImGui_ImplWin32_WndProcHandler(hwnd, msg, wp, lp);
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

void host_cursor_imports_patch()
{
    bool pos = host_iat_hook(&import_set_cursor_pos, "user32.dll", "SetCursorPos", (void *)host_set_cursor_pos_hook,
                             (void **)&prev_set_cursor_pos);
    bool clip = host_iat_hook(&import_clip_cursor, "user32.dll", "ClipCursor", (void *)host_clip_cursor_hook,
                              (void **)&prev_clip_cursor);
    bool cur = host_iat_hook(&import_set_cursor, "user32.dll", "SetCursor", (void *)host_set_cursor_hook,
                             (void **)&prev_set_cursor);
    host_log("[host] ui: cursor imports SetCursorPos %s, ClipCursor %s, SetCursor %s", pos ? "ok" : "-",
             clip ? "ok" : "-", cur ? "ok" : "-");
}

bool host_dinput_probe()
{
    HMODULE di8 = GetModuleHandleA("dinput8.dll");
    if (!di8)
        di8 = LoadLibraryA("dinput8.dll");
    auto create = di8 ? (decltype(&DirectInput8Create))(void *)GetProcAddress(di8, "DirectInput8Create") : nullptr;
    if (!create) {
        host_log("[host] ui: no DirectInput8Create");
        return false;
    }
    auto *lo = (const uint8_t *)di8;
    auto *nt = (const IMAGE_NT_HEADERS64 *)(lo + ((const IMAGE_DOS_HEADER *)lo)->e_lfanew);
    const uint8_t *hi = lo + nt->OptionalHeader.SizeOfImage;
    probe_one('W', IID_IDirectInput8W, create, lo, hi);
    probe_one('A', IID_IDirectInput8A, create, lo, hi);
    for (int t = 0; t < di_table_count; t++) {
        di_table &tab = di_tables[t];
        bool ok = true;
        for (int k = 0; k < 3 && ok; k++) {
            void **slot = &tab.vtable[di_slots[k]];
            if (!is_our_hook(*slot) && !di_prev[t][k])
                di_prev[t][k] = *slot;
            ok = host_patch_slot(&tab.patch[k], slot, di_hooks[t][k]);
        }
        char mod[MAX_PATH];
        host_module_name(tab.vtable, mod, sizeof mod);
        host_log("[host] ui: dinput device vtable %p (%s) %s", (void *)tab.vtable, mod, ok ? "hooked" : "HOOK FAILED");
    }
    return di_table_count > 0;
}

void host_cursor_release()
{
    clip_cursor_fn clip = prev_clip_cursor && import_clip_cursor.slot ? prev_clip_cursor : ClipCursor;
    clip(nullptr);
}

void host_cursor_reapply()
{
    AcquireSRWLockShared(&clip_lock);
    bool set = game_clip_set;
    RECT r = game_clip;
    ReleaseSRWLockShared(&clip_lock);
    if (set && import_clip_cursor.slot && prev_clip_cursor)
        prev_clip_cursor(&r);
}

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

bool host_input_teardown()
{
    bool clean = true;
    for (int t = 0; t < di_table_count; t++) {
        for (auto &p : di_tables[t].patch)
            clean &= host_unpatch_slot(&p);
        di_tables[t].vtable = nullptr;
    }
    di_table_count = 0;
    clean &= host_unpatch_slot(&import_set_cursor_pos);
    clean &= host_unpatch_slot(&import_clip_cursor);
    clean &= host_unpatch_slot(&import_set_cursor);
    if (game_hwnd) {
        if ((WNDPROC)GetWindowLongPtrW(game_hwnd, GWLP_WNDPROC) == host_wndproc)
            SetWindowLongPtrW(game_hwnd, GWLP_WNDPROC, (LONG_PTR)game_wndproc);
        else if (IsWindow(game_hwnd))
            clean = false; // someone subclassed over us and may still call us
        game_hwnd = nullptr;
    }
    AcquireSRWLockExclusive(&device_lock);
    device_count = 0;
    ReleaseSRWLockExclusive(&device_lock);
    return clean;
}
