// The overlay on the game's Direct3D 11 swap chain: the probe that finds and
// patches the swap chain's virtual table, the Present and resize hooks, and
// one Dear ImGui frame per game Present on the render thread, in which the
// core draws through dm_core_ui.
#include "dm_windows_dir.h"
#include "host_overlay.h"
#include "dm_guard.h"
#include "dm_module.h"
#include <d3d11_1.h>
#include <dxgi1_4.h>
#include <stdio.h>
#include <string.h>
#include "imgui.h"
#include "imgui_internal.h"
#include "imgui_impl_dx11.h"
#include "imgui_impl_win32.h"

bool host_overlay_active;
bool host_present_seen;

volatile LONG host_in_flight;
volatile LONG host_ui_mode;
volatile LONG host_imgui_ready;

namespace {

typedef HRESULT(STDMETHODCALLTYPE *present_fn)(IDXGISwapChain *, UINT, UINT);
typedef HRESULT(STDMETHODCALLTYPE *present1_fn)(IDXGISwapChain1 *, UINT, UINT, const DXGI_PRESENT_PARAMETERS *);
typedef HRESULT(STDMETHODCALLTYPE *resize_fn)(IDXGISwapChain *, UINT, UINT, UINT, DXGI_FORMAT, UINT);
typedef HRESULT(STDMETHODCALLTYPE *resize1_fn)(IDXGISwapChain3 *, UINT, UINT, UINT, DXGI_FORMAT, UINT,
                                               const UINT *, IUnknown *const *);

enum { SLOT_PRESENT = 8, SLOT_RESIZE = 13, SLOT_PRESENT1 = 22, SLOT_RESIZE1 = 39 };

host_slot_patch patch_present, patch_resize, patch_present1, patch_resize1;
// The replaced entries, kept for the life of the process: a hook that is
// still reached after teardown passes straight through to them.
present_fn prev_present;
present1_fn prev_present1;
resize_fn prev_resize;
resize1_fn prev_resize1;

volatile LONG overlay_active_word;
volatile LONG first_present_logged;
DWORD tls_in_present = TLS_OUT_OF_INDEXES;
bool isolate;

ImGuiContext *imgui_ctx;
IDXGISwapChain *chain;          // the attached chain (not referenced)
ID3D11Device *device;
ID3D11DeviceContext *context;
ID3D11DeviceContext1 *context1;
ID3DDeviceContextState *own_state;
ID3D11RenderTargetView *rtv;
UINT bb_width, bb_height;
bool f2_held;
char font_path[MAX_PATH];

bool in_present()
{
    return tls_in_present != TLS_OUT_OF_INDEXES && TlsGetValue(tls_in_present) != nullptr;
}
void set_in_present(bool on)
{
    if (tls_in_present != TLS_OUT_OF_INDEXES)
        TlsSetValue(tls_in_present, on ? (void *)1 : nullptr);
}

template <class T> void release(T *&p)
{
    if (p) {
        p->Release();
        p = nullptr;
    }
}

// ---- probe ----

bool host_dxgi_probe();

// ---- overlay frame ----

bool host_overlay_attach(IDXGISwapChain *sc);
void host_overlay_release();


bool create_imgui()
{
    if (!ImGui::DebugCheckVersionAndDataLayout(IMGUI_VERSION, sizeof(ImGuiIO), sizeof(ImGuiStyle), sizeof(ImVec2),
                                               sizeof(ImVec4), sizeof(ImDrawVert), sizeof(ImDrawIdx))) {
        host_log("[host] ui: Dear ImGui version or data layout mismatch; overlay off");
        return false;
    }
    imgui_ctx = ImGui::CreateContext();
    ImGui::SetCurrentContext(imgui_ctx);
    ImGuiIO &io = ImGui::GetIO();
    io.ConfigFlags |= ImGuiConfigFlags_NoMouse | ImGuiConfigFlags_NoMouseCursorChange;
    io.IniFilename = host_imgui_ini;
    // Recovery from a faulting core UI must never stop on an assert or
    // show its debugging tooltip in the player's game.
    io.ConfigErrorRecovery = true;
    io.ConfigErrorRecoveryEnableAssert = false;
    io.ConfigErrorRecoveryEnableTooltip = false;
    char dir[MAX_PATH];
    dm_windows_dir(dir, sizeof dir);
    snprintf(font_path, sizeof font_path, "%s\\Fonts\\segoeui.ttf", dir);
    ImFont *font = nullptr;
    if (dir[0] && GetFileAttributesA(font_path) != INVALID_FILE_ATTRIBUTES)
        font = io.Fonts->AddFontFromFileTTF(font_path, 18.0f);
    if (!font)
        io.Fonts->AddFontDefault();
    ImGui::StyleColorsDark();
    ImGui::GetStyle().WindowRounding = 4.0f;
    return true;
}

void draw_notice()
{
    ImGui::SetNextWindowPos(ImVec2(20, 20), ImGuiCond_FirstUseEver);
    if (ImGui::Begin("drovemark", nullptr, ImGuiWindowFlags_AlwaysAutoResize | ImGuiWindowFlags_NoCollapse)) {
        ImGui::TextUnformatted(host_core_ui_state() == 0 ? "No core loaded." : "This core has no UI (dm_core_ui).");
        ImGui::TextUnformatted("F2 closes UI mode.");
    }
    ImGui::End();
}

bool make_rtv()
{
    ID3D11Texture2D *tex = nullptr;
    if (FAILED(chain->GetBuffer(0, __uuidof(ID3D11Texture2D), (void **)&tex)) || !tex)
        return false;
    HRESULT hr = device->CreateRenderTargetView(tex, nullptr, &rtv);
    D3D11_TEXTURE2D_DESC desc;
    tex->GetDesc(&desc);
    tex->Release();
    if (FAILED(hr) || !rtv) {
        rtv = nullptr;
        return false;
    }
    if (desc.Width != bb_width || desc.Height != bb_height) {
        host_log("[host] ui: back buffer %ux%u format %d", desc.Width, desc.Height, (int)desc.Format);
        bb_width = desc.Width;
        bb_height = desc.Height;
    }
    return true;
}

void draw_to_back_buffer()
{
    ImDrawData *data = ImGui::GetDrawData();
    if (own_state && context1) {
        ID3DDeviceContextState *game_state = nullptr;
        context1->SwapDeviceContextState(own_state, &game_state);
        context->OMSetRenderTargets(1, &rtv, nullptr);
        ImGui_ImplDX11_RenderDrawData(data);
        context1->SwapDeviceContextState(game_state, nullptr);
        release(game_state);
        return;
    }
    ID3D11RenderTargetView *saved[D3D11_SIMULTANEOUS_RENDER_TARGET_COUNT] = {};
    ID3D11DepthStencilView *saved_depth = nullptr;
    context->OMGetRenderTargets(D3D11_SIMULTANEOUS_RENDER_TARGET_COUNT, saved, &saved_depth);
    context->OMSetRenderTargets(1, &rtv, nullptr);
    ImGui_ImplDX11_RenderDrawData(data);
    context->OMSetRenderTargets(D3D11_SIMULTANEOUS_RENDER_TARGET_COUNT, saved, saved_depth);
    for (auto *v : saved)
        if (v)
            v->Release();
    if (saved_depth)
        saved_depth->Release();
}

void host_overlay_frame(IDXGISwapChain *sc)
{
    if (!imgui_ctx) {
        if (!create_imgui()) {
            host_overlay_off();
            return;
        }
        if (!host_overlay_attach(sc)) {
            host_overlay_release();
            ImGui::DestroyContext(imgui_ctx);
            imgui_ctx = nullptr;
            host_overlay_off();
            return;
        }
        InterlockedExchange(&host_imgui_ready, 1);
        host_log("[host] ui: ImGui %s ready on render thread %lu (F2 toggles UI mode)", IMGUI_VERSION,
                 GetCurrentThreadId());
    }
    ImGui::SetCurrentContext(imgui_ctx);

    if (sc != chain) {
        DXGI_SWAP_CHAIN_DESC desc;
        if (FAILED(sc->GetDesc(&desc)) || desc.OutputWindow != host_game_window())
            return; // never draw on another window's chain
        ID3D11Device *dev = nullptr;
        sc->GetDevice(__uuidof(ID3D11Device), (void **)&dev);
        bool same = dev && dev == device;
        host_log("[host] ui: the game made a new swap chain %p (device %s)", (void *)sc, same ? "same" : "new");
        if (!same) {
            release(dev);
            host_overlay_release();
            if (!host_overlay_attach(sc)) {
                host_overlay_release();
                host_overlay_off();
                return;
            }
        } else {
            release(dev);
            release(rtv);
            chain = sc;
        }
    }

    if (!rtv && !make_rtv())
        return;

    bool f2 = (GetAsyncKeyState(VK_F2) & 0x8000) != 0 && GetForegroundWindow() == host_game_window();
    if (f2 && !f2_held)
        host_ui_mode_set(host_ui_mode == 0);
    f2_held = f2;

    ImGui_ImplDX11_NewFrame();
    ImGui_ImplWin32_NewFrame();
    ImGui::GetIO().DisplaySize = ImVec2((float)bb_width, (float)bb_height);
    ImGui::NewFrame();

    uint32_t mode = host_ui_mode ? 1 : 0;
    if (host_core_ui_state() == 2)
        host_core_ui_call((float)bb_width, (float)bb_height, mode);
    else if (mode)
        draw_notice();
    ImGui::SetCurrentContext(imgui_ctx); // the core may have left its own copy's pointer; ours is unchanged

    ImGui::Render();
    draw_to_back_buffer();
}

bool host_guard_overlay(IDXGISwapChain *sc)
{
    dm_seh_fault fault = {};
    if (dm_guarded([sc] { host_overlay_frame(sc); }, &fault))
        return true;
    host_log("[host] ui: overlay faulted (0x%08lx); overlay off until restart", fault.code);
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

HRESULT STDMETHODCALLTYPE host_present_hook(IDXGISwapChain *sc, UINT sync, UINT flags)
{
    host_in_flight_scope scope;
    if (!(flags & DXGI_PRESENT_TEST))
        host_overlay_present(sc);
    bool was = in_present();
    set_in_present(true);
    HRESULT hr = prev_present(sc, sync, flags);
    set_in_present(was);
    return hr;
}

HRESULT STDMETHODCALLTYPE host_present1_hook(IDXGISwapChain1 *sc, UINT sync, UINT flags,
                                             const DXGI_PRESENT_PARAMETERS *params)
{
    host_in_flight_scope scope;
    if (!(flags & DXGI_PRESENT_TEST))
        host_overlay_present(sc);
    bool was = in_present();
    set_in_present(true);
    HRESULT hr = prev_present1(sc, sync, flags, params);
    set_in_present(was);
    return hr;
}

void drop_view_of(IDXGISwapChain *sc)
{
    EnterCriticalSection(&host_lock);
    if (sc == chain)
        release(rtv);
    LeaveCriticalSection(&host_lock);
}

HRESULT STDMETHODCALLTYPE host_resize_buffers_hook(IDXGISwapChain *sc, UINT count, UINT w, UINT h, DXGI_FORMAT fmt,
                                                   UINT flags)
{
    host_in_flight_scope scope;
    drop_view_of(sc);
    HRESULT hr = prev_resize(sc, count, w, h, fmt, flags);
    host_log("[host] ui: ResizeBuffers %ux%u (flags %x) -> 0x%08lx", w, h, flags, (unsigned long)hr);
    return hr;
}

HRESULT STDMETHODCALLTYPE host_resize_buffers1_hook(IDXGISwapChain3 *sc, UINT count, UINT w, UINT h, DXGI_FORMAT fmt,
                                                    UINT flags, const UINT *mask, IUnknown *const *queues)
{
    host_in_flight_scope scope;
    drop_view_of(sc);
    HRESULT hr = prev_resize1(sc, count, w, h, fmt, flags, mask, queues);
    host_log("[host] ui: ResizeBuffers1 %ux%u (flags %x) -> 0x%08lx", w, h, flags, (unsigned long)hr);
    return hr;
}

bool host_overlay_attach(IDXGISwapChain *sc)
{
    if (FAILED(sc->GetDevice(__uuidof(ID3D11Device), (void **)&device)) || !device) {
        device = nullptr;
        host_log("[host] ui: the swap chain has no D3D11 device (dx12?); overlay off");
        return false;
    }
    device->GetImmediateContext(&context);
    if (isolate) {
        ID3D11Device1 *device1 = nullptr;
        HRESULT hr = E_NOINTERFACE;
        if (SUCCEEDED(device->QueryInterface(__uuidof(ID3D11Device1), (void **)&device1)) && device1 &&
            SUCCEEDED(hr = context->QueryInterface(__uuidof(ID3D11DeviceContext1), (void **)&context1)) && context1) {
            UINT flags = (device->GetCreationFlags() & D3D11_CREATE_DEVICE_SINGLETHREADED)
                             ? D3D11_1_CREATE_DEVICE_CONTEXT_STATE_SINGLETHREADED
                             : 0;
            D3D_FEATURE_LEVEL level = device->GetFeatureLevel();
            hr = device1->CreateDeviceContextState(flags, &level, 1, D3D11_SDK_VERSION, __uuidof(ID3D11Device),
                                                   nullptr, &own_state);
        }
        release(device1);
        if (FAILED(hr) || !own_state) {
            own_state = nullptr;
            release(context1);
        }
        host_log("[host] ui: own device-context state %s (0x%08lx)", own_state ? "ready" : "FAILED, using save/restore",
                 (unsigned long)hr);
    }
    DXGI_SWAP_CHAIN_DESC desc = {};
    sc->GetDesc(&desc);
    if (desc.OutputWindow != host_game_window())
        host_subclass_window(desc.OutputWindow);
    ImGui_ImplWin32_Init(desc.OutputWindow);
    ImGui_ImplDX11_Init(device, context);
    chain = sc;
    ImGui::GetIO().LogFilename = nullptr;
    return true;
}

void host_overlay_release()
{
    if (ImGui::GetCurrentContext() && ImGui::GetIO().BackendRendererUserData)
        ImGui_ImplDX11_Shutdown();
    release(own_state);
    release(context1);
    if (ImGui::GetCurrentContext() && ImGui::GetIO().BackendPlatformUserData)
        ImGui_ImplWin32_Shutdown();
    release(rtv);
    release(context);
    release(device);
    chain = nullptr;
    bb_width = bb_height = 0;
}

bool host_dxgi_probe()
{
    HINSTANCE game = GetModuleHandleA(nullptr);
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = game;
    wc.lpszClassName = "drovemark_dxgi_probe";
    RegisterClassExA(&wc);
    HWND hwnd = CreateWindowA("drovemark_dxgi_probe", "", WS_OVERLAPPEDWINDOW, 0, 0, 64, 64, nullptr, nullptr, game,
                              nullptr);
    ID3D11Device *dev = nullptr;
    ID3D11DeviceContext *ctx = nullptr;
    IDXGIDevice *dxgi_dev = nullptr;
    IDXGIAdapter *adapter = nullptr;
    IDXGIFactory2 *factory = nullptr;
    IDXGISwapChain1 *sc = nullptr;
    IDXGISwapChain3 *sc3 = nullptr;
    bool hooked = false;
    HRESULT hr = hwnd ? S_OK : HRESULT_FROM_WIN32(GetLastError());
    if (SUCCEEDED(hr)) {
        hr = D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION, &dev,
                               nullptr, &ctx);
        if (FAILED(hr))
            hr = D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_WARP, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION, &dev,
                                   nullptr, &ctx);
    }
    if (SUCCEEDED(hr))
        hr = dev->QueryInterface(__uuidof(IDXGIDevice), (void **)&dxgi_dev);
    if (SUCCEEDED(hr))
        hr = dxgi_dev->GetAdapter(&adapter);
    if (SUCCEEDED(hr))
        hr = adapter->GetParent(__uuidof(IDXGIFactory2), (void **)&factory);
    if (FAILED(hr)) {
        host_log("[host] ui: probe device failed (0x%08lx)", (unsigned long)hr);
    } else {
        DXGI_SWAP_CHAIN_DESC1 d = {};
        d.Width = 64;
        d.Height = 64;
        d.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
        d.SampleDesc.Count = 1;
        d.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
        d.BufferCount = 2;
        d.SwapEffect = DXGI_SWAP_EFFECT_FLIP_DISCARD;
        d.AlphaMode = DXGI_ALPHA_MODE_UNSPECIFIED;
        hr = factory->CreateSwapChainForHwnd(dev, hwnd, &d, nullptr, nullptr, &sc);
        if (FAILED(hr) || !sc) {
            host_log("[host] ui: probe swap chain failed (0x%08lx)", (unsigned long)hr);
        } else {
            void **vt = *(void ***)sc;
            void *old_present = vt[SLOT_PRESENT], *old_resize = vt[SLOT_RESIZE], *old_present1 = vt[SLOT_PRESENT1];
            // A slot that already holds our hook keeps the entry saved when it
            // was first patched (the hooks' previous pointers live on).
            bool ok = true;
            if (vt[SLOT_PRESENT] != (void *)host_present_hook && !prev_present)
                prev_present = (present_fn)vt[SLOT_PRESENT];
            ok = ok && host_patch_slot(&patch_present, &vt[SLOT_PRESENT], (void *)host_present_hook);
            if (ok && vt[SLOT_RESIZE] != (void *)host_resize_buffers_hook && !prev_resize)
                prev_resize = (resize_fn)vt[SLOT_RESIZE];
            ok = ok && host_patch_slot(&patch_resize, &vt[SLOT_RESIZE], (void *)host_resize_buffers_hook);
            if (ok && vt[SLOT_PRESENT1] != (void *)host_present1_hook && !prev_present1)
                prev_present1 = (present1_fn)vt[SLOT_PRESENT1];
            ok = ok && host_patch_slot(&patch_present1, &vt[SLOT_PRESENT1], (void *)host_present1_hook);
            hooked = ok;
            bool hooked1 = false;
            if (ok && SUCCEEDED(sc->QueryInterface(__uuidof(IDXGISwapChain3), (void **)&sc3)) && sc3 &&
                *(void ***)sc3 == vt) {
                if (vt[SLOT_RESIZE1] != (void *)host_resize_buffers1_hook && !prev_resize1)
                    prev_resize1 = (resize1_fn)vt[SLOT_RESIZE1];
                hooked1 = host_patch_slot(&patch_resize1, &vt[SLOT_RESIZE1], (void *)host_resize_buffers1_hook);
            }
            char mod[MAX_PATH];
            host_module_name(vt, mod, sizeof mod);
            host_log("[host] ui: swap chain vtable %p (%s): Present %p ResizeBuffers %p Present1 %p ResizeBuffers1 %s",
                     (void *)vt, mod, old_present, old_resize, old_present1, hooked1 ? "hooked" : "-");
        }
    }
    release(sc3);
    release(sc);
    release(factory);
    release(adapter);
    release(dxgi_dev);
    release(ctx);
    release(dev);
    if (hwnd)
        DestroyWindow(hwnd);
    UnregisterClassA("drovemark_dxgi_probe", game);
    return hooked;
}

} // namespace

// ---- shared helpers ----

bool host_patch_slot(host_slot_patch *p, void **slot, void *replacement)
{
    if (*slot == replacement)
        return true;
    DWORD old;
    if (!VirtualProtect(slot, sizeof(void *), PAGE_READWRITE, &old))
        return false;
    p->previous = InterlockedExchangePointer(slot, replacement);
    VirtualProtect(slot, sizeof(void *), old, &old);
    FlushInstructionCache(GetCurrentProcess(), slot, sizeof(void *));
    p->slot = slot;
    p->replacement = replacement;
    return true;
}

bool host_unpatch_slot(host_slot_patch *p)
{
    if (!p->slot)
        return true;
    bool ok = false;
    if (*p->slot == p->replacement) {
        DWORD old;
        if (VirtualProtect(p->slot, sizeof(void *), PAGE_READWRITE, &old)) {
            InterlockedExchangePointer(p->slot, p->previous);
            VirtualProtect(p->slot, sizeof(void *), old, &old);
            ok = true;
        }
    }
    *p = {};
    return ok;
}

void host_module_name(const void *address, char *out, size_t size)
{
    if (!dm_module_file_name(dm_module_at(address), out, size))
        snprintf(out, size, "?");
}

void host_pin_self(const char *why)
{
    dm_module_pin((const void *)&host_pin_self);
    host_log("[host] ui: %s; the plug-in stays loaded", why);
}

bool host_overlay_is_active() { return overlay_active_word != 0; }

void host_overlay_off()
{
    InterlockedExchange(&overlay_active_word, 0);
    host_overlay_active = false;
    if (InterlockedExchange(&host_ui_mode, 0))
        host_cursor_reapply();
}

void host_ui_fill_args(dm_ui_frame_args *args)
{
    args->imgui_context = imgui_ctx;
    ImGuiMemAllocFunc alloc = nullptr;
    ImGuiMemFreeFunc free_fn = nullptr;
    void *user = nullptr;
    ImGui::GetAllocatorFunctions(&alloc, &free_fn, &user);
    args->alloc_func = alloc;
    args->free_func = free_fn;
    args->alloc_user_data = user;
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

bool host_overlay_teardown_slots()
{
    bool ok = true;
    ok &= host_unpatch_slot(&patch_present);
    ok &= host_unpatch_slot(&patch_resize);
    ok &= host_unpatch_slot(&patch_present1);
    ok &= host_unpatch_slot(&patch_resize1);
    return ok;
}

void host_overlay_release_all()
{
    if (!host_imgui_ready && !imgui_ctx)
        return;
    if (imgui_ctx) {
        ImGui::SetCurrentContext(imgui_ctx);
        host_overlay_release();
        ImGui::DestroyContext(imgui_ctx);
        imgui_ctx = nullptr;
    }
    InterlockedExchange(&host_imgui_ready, 0);
    f2_held = false;
}

void host_teardown()
{
    InterlockedExchange(&overlay_active_word, 0);
    host_overlay_active = false;
    InterlockedExchange(&host_ui_mode, 0);
    bool clean = host_overlay_teardown_slots();
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
    if (!imgui_ctx && !host_imgui_ready)
        return; // nothing was made (and host_lock may never have been set up)
    EnterCriticalSection(&host_lock);
    host_overlay_release_all();
    LeaveCriticalSection(&host_lock);
}
