// The overlay on the game's Direct3D 11 swap chain: its state, the Present
// and resize hooks that the probe (host_dxgi_probe.cpp) puts into the swap
// chain's table, the guarded overlay frame (host_overlay_frame.cpp), and the
// start and teardown of the overlay and input hooks.
//
// Index of this file:
// - state
// - Present and resize hooks
// - start and teardown
#include "host_overlay.h"
#include <d3d11.h>
#include <dxgi1_4.h>

bool host_overlay_active;
bool host_present_seen;

volatile LONG host_in_flight;
volatile LONG host_ui_mode;
volatile LONG host_imgui_ready;

namespace {

// ---- state ----

typedef HRESULT(STDMETHODCALLTYPE *present_fn)(IDXGISwapChain *, UINT, UINT);
typedef HRESULT(STDMETHODCALLTYPE *present1_fn)(IDXGISwapChain1 *, UINT, UINT, const DXGI_PRESENT_PARAMETERS *);
typedef HRESULT(STDMETHODCALLTYPE *resize_fn)(IDXGISwapChain *, UINT, UINT, UINT, DXGI_FORMAT, UINT);
typedef HRESULT(STDMETHODCALLTYPE *resize1_fn)(IDXGISwapChain3 *, UINT, UINT, UINT, DXGI_FORMAT, UINT,
                                               const UINT *, IUnknown *const *);

volatile LONG overlay_active_word;
volatile LONG first_present_logged;
DWORD tls_in_present = TLS_OUT_OF_INDEXES;
bool isolate;

bool in_present()
{
    return tls_in_present != TLS_OUT_OF_INDEXES && TlsGetValue(tls_in_present) != nullptr;
}
void set_in_present(bool on)
{
    if (tls_in_present != TLS_OUT_OF_INDEXES)
        TlsSetValue(tls_in_present, on ? (void *)1 : nullptr);
}

// ---- Present and resize hooks ----

bool host_guard_overlay(IDXGISwapChain *sc)
{
    dm_seh_fault fault = {};
    if (dm_guarded([sc] { host_overlay_frame(sc); }, &fault))
        return true;
    host_log("[host] ui: overlay faulted (0x%08lx); overlay off until restart", fault.code);
    dm_guarded([] { host_overlay_frame_recover(); });
    return false;
}

void host_overlay_present(IDXGISwapChain *sc)
{
    if (!overlay_active_word || in_present())
        return;
    host_present_seen = true;
    if (InterlockedExchange(&first_present_logged, 1) == 0)
        host_log("[host] ui: first Present on thread %lu (swap chain %p)", GetCurrentThreadId(), (void *)sc);
    set_in_present(true);
    EnterCriticalSection(&host_lock);
    if (!host_guard_overlay(sc))
        host_overlay_off();
    LeaveCriticalSection(&host_lock);
    set_in_present(false);
}

// The replaced entries are found by the chain's own table (host_patch.h):
// a hook still reached after teardown passes straight through to them.
HRESULT STDMETHODCALLTYPE host_present_hook(IDXGISwapChain *sc, UINT sync, UINT flags)
{
    host_in_flight_scope scope;
    if (!(flags & DXGI_PRESENT_TEST))
        host_hook_guarded("Present hook", [sc] { host_overlay_present(sc); });
    auto prev = (present_fn)host_object_previous(sc, 8);
    if (!prev)
        return DXGI_ERROR_INVALID_CALL;
    bool was = in_present();
    set_in_present(true);
    HRESULT hr = prev(sc, sync, flags);
    set_in_present(was);
    return hr;
}

HRESULT STDMETHODCALLTYPE host_present1_hook(IDXGISwapChain1 *sc, UINT sync, UINT flags,
                                             const DXGI_PRESENT_PARAMETERS *params)
{
    host_in_flight_scope scope;
    if (!(flags & DXGI_PRESENT_TEST))
        host_hook_guarded("Present1 hook", [sc] { host_overlay_present(sc); });
    auto prev = (present1_fn)host_object_previous(sc, 22);
    if (!prev)
        return DXGI_ERROR_INVALID_CALL;
    bool was = in_present();
    set_in_present(true);
    HRESULT hr = prev(sc, sync, flags, params);
    set_in_present(was);
    return hr;
}

void drop_view_of(IDXGISwapChain *sc)
{
    EnterCriticalSection(&host_lock);
    host_hook_guarded("ResizeBuffers hook", [sc] { host_overlay_drop_view(sc); });
    LeaveCriticalSection(&host_lock);
}

HRESULT STDMETHODCALLTYPE host_resize_buffers_hook(IDXGISwapChain *sc, UINT count, UINT w, UINT h, DXGI_FORMAT fmt,
                                                   UINT flags)
{
    host_in_flight_scope scope;
    drop_view_of(sc);
    auto prev = (resize_fn)host_object_previous(sc, 13);
    HRESULT hr = prev ? prev(sc, count, w, h, fmt, flags) : DXGI_ERROR_INVALID_CALL;
    host_log("[host] ui: ResizeBuffers %ux%u (flags %x) -> 0x%08lx", w, h, flags, (unsigned long)hr);
    return hr;
}

HRESULT STDMETHODCALLTYPE host_resize_buffers1_hook(IDXGISwapChain3 *sc, UINT count, UINT w, UINT h, DXGI_FORMAT fmt,
                                                    UINT flags, const UINT *mask, IUnknown *const *queues)
{
    host_in_flight_scope scope;
    drop_view_of(sc);
    auto prev = (resize1_fn)host_object_previous(sc, 39);
    HRESULT hr = prev ? prev(sc, count, w, h, fmt, flags, mask, queues) : DXGI_ERROR_INVALID_CALL;
    host_log("[host] ui: ResizeBuffers1 %ux%u (flags %x) -> 0x%08lx", w, h, flags, (unsigned long)hr);
    return hr;
}

} // namespace

void *host_swap_chain_hook(int slot)
{
    switch (slot) {
    case 8: return (void *)host_present_hook;
    case 13: return (void *)host_resize_buffers_hook;
    case 22: return (void *)host_present1_hook;
    case 39: return (void *)host_resize_buffers1_hook;
    default: return nullptr;
    }
}

// ---- start and teardown ----

bool host_overlay_is_active() { return overlay_active_word != 0; }
bool host_overlay_isolate() { return isolate; }

void host_overlay_off()
{
    InterlockedExchange(&overlay_active_word, 0);
    host_overlay_active = false;
    if (InterlockedExchange(&host_ui_mode, 0))
        host_cursor_reapply();
}

bool host_overlay_start(bool isolate_on)
{
    isolate = isolate_on;
    if (tls_in_present == TLS_OUT_OF_INDEXES)
        tls_in_present = TlsAlloc();
    host_present_seen = false;
    first_present_logged = 0;
    if (!host_dxgi_probe()) {
        host_log("[host] ui: Present hook failed; no overlay");
        return false;
    }
    host_dinput_probe();
    host_cursor_imports_patch();
    InterlockedExchange(&overlay_active_word, 1);
    host_overlay_active = true;
    return true;
}

void host_teardown()
{
    InterlockedExchange(&overlay_active_word, 0);
    host_overlay_active = false;
    InterlockedExchange(&host_ui_mode, 0);
    bool clean = host_dxgi_unpatch();
    clean &= host_input_teardown();
    int waits = 0;
    while (host_in_flight > 0 && waits < 100) {
        Sleep(10);
        waits++;
    }
    if (!clean)
        host_pin_self("teardown: a hooked slot or the window procedure no longer held our value");
    else if (host_in_flight > 0)
        host_pin_self("teardown: hooks still running after 1 s");
    if (!host_overlay_made() && !host_imgui_ready)
        return; // nothing was made (and host_lock may never have been set up)
    EnterCriticalSection(&host_lock);
    host_overlay_release_all();
    LeaveCriticalSection(&host_lock);
}
