// The simulated game's picture: a real window, a D3D11 device and swap chain
// presenting one flat colour each frame, and a capture layer in the swap
// chain's table.
//
// Index of this file:
// - state
// - the layer below the hooks (capture, ResizeBuffers)
// - device, chain and Present
// - exports: window and chain
// - exports: capture
#include "sim/sim_render.h"
#include "sim/sim_dinput.h"
#include "sim/sim_input.h"
#include "sim/sim_render_internal.h"
#include <d3d11.h>
#include <dxgi1_2.h>
#include <string.h>
#include <vector>

namespace sim {
namespace {

// ---- state ----

typedef HRESULT(STDMETHODCALLTYPE *present_fn)(IDXGISwapChain *, UINT, UINT);
typedef HRESULT(STDMETHODCALLTYPE *present1_fn)(IDXGISwapChain1 *, UINT, UINT, const DXGI_PRESENT_PARAMETERS *);
typedef HRESULT(STDMETHODCALLTYPE *resize_fn)(IDXGISwapChain *, UINT, UINT, UINT, DXGI_FORMAT, UINT);

render_config cfg;
HWND window, other_window;
ID3D11Device *device;
ID3D11DeviceContext *context;
IDXGISwapChain1 *chain;
void **chain_vtable;
present_fn real_present;
present1_fn real_present1;
resize_fn real_resize;
ID3D11RenderTargetView *game_view; // the view the game bound for this frame (not referenced)
render_bindings bound_at_present = { false, -1.0f };

volatile LONG capture_wanted;
std::vector<uint32_t> pixels;
int cap_w, cap_h;

// ---- the layer below the hooks ----

void do_capture(IDXGISwapChain *sc)
{
    ID3D11Texture2D *tex = nullptr;
    if (FAILED(sc->GetBuffer(0, __uuidof(ID3D11Texture2D), (void **)&tex)) || !tex)
        return;
    ID3D11Device *dev = nullptr;
    tex->GetDevice(&dev);
    ID3D11DeviceContext *ctx = nullptr;
    dev->GetImmediateContext(&ctx);
    D3D11_TEXTURE2D_DESC d;
    tex->GetDesc(&d);
    d.Usage = D3D11_USAGE_STAGING;
    d.BindFlags = 0;
    d.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    d.MiscFlags = 0;
    ID3D11Texture2D *staging = nullptr;
    if (SUCCEEDED(dev->CreateTexture2D(&d, nullptr, &staging))) {
        ctx->CopyResource(staging, tex);
        D3D11_MAPPED_SUBRESOURCE m;
        if (SUCCEEDED(ctx->Map(staging, 0, D3D11_MAP_READ, 0, &m))) {
            cap_w = (int)d.Width;
            cap_h = (int)d.Height;
            pixels.assign((size_t)cap_w * cap_h, 0);
            for (int y = 0; y < cap_h; y++)
                memcpy(&pixels[(size_t)y * cap_w], (const uint8_t *)m.pData + (size_t)y * m.RowPitch, (size_t)cap_w * 4);
            ctx->Unmap(staging, 0);
        }
        staging->Release();
    }
    ctx->Release();
    dev->Release();
    tex->Release();
}

void record_bindings(IDXGISwapChain *sc)
{
    if (sc != chain || !context)
        return;
    ID3D11RenderTargetView *v = nullptr;
    context->OMGetRenderTargets(1, &v, nullptr);
    bound_at_present.game_view_bound = v && v == game_view;
    release(v);
    UINT n = 1;
    D3D11_VIEWPORT vp;
    context->RSGetViewports(&n, &vp);
    bound_at_present.viewport_max_depth = n ? vp.MaxDepth : -1.0f;
}

HRESULT STDMETHODCALLTYPE layer_present(IDXGISwapChain *sc, UINT sync, UINT flags)
{
    record_bindings(sc);
    if (InterlockedExchange(&capture_wanted, 0))
        do_capture(sc);
    return real_present(sc, sync, flags);
}

HRESULT STDMETHODCALLTYPE layer_present1(IDXGISwapChain1 *sc, UINT sync, UINT flags, const DXGI_PRESENT_PARAMETERS *p)
{
    record_bindings(sc);
    if (InterlockedExchange(&capture_wanted, 0))
        do_capture(sc);
    return real_present1(sc, sync, flags, p);
}

// Windows: "ResizeBuffers fails when an application holds references to the
// back buffers"; a view bound in a device-context state (active or not) is
// one. Wine does not count the bindings.
HRESULT STDMETHODCALLTYPE layer_resize(IDXGISwapChain *sc, UINT count, UINT w, UINT h, DXGI_FORMAT fmt, UINT flags)
{
    if (d3d_rules_back_buffer_bound(sc))
        return DXGI_ERROR_INVALID_CALL;
    return real_resize(sc, count, w, h, fmt, flags);
}

// ---- device, chain and Present ----

bool make_chain(ID3D11Device *dev, HWND hwnd, IDXGISwapChain1 **out)
{
    IDXGIDevice *dxgi = nullptr;
    IDXGIAdapter *adapter = nullptr;
    IDXGIFactory2 *factory = nullptr;
    HRESULT hr = dev->QueryInterface(__uuidof(IDXGIDevice), (void **)&dxgi);
    if (SUCCEEDED(hr))
        hr = dxgi->GetAdapter(&adapter);
    if (SUCCEEDED(hr))
        hr = adapter->GetParent(__uuidof(IDXGIFactory2), (void **)&factory);
    if (SUCCEEDED(hr)) {
        RECT rc;
        GetClientRect(hwnd, &rc);
        DXGI_SWAP_CHAIN_DESC1 d = {};
        d.Width = (UINT)(rc.right - rc.left);
        d.Height = (UINT)(rc.bottom - rc.top);
        d.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
        d.SampleDesc.Count = 1;
        d.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
        d.BufferCount = 2;
        d.SwapEffect = DXGI_SWAP_EFFECT_FLIP_DISCARD;
        hr = factory->CreateSwapChainForHwnd(dev, hwnd, &d, nullptr, nullptr, out);
    }
    release(factory);
    release(adapter);
    release(dxgi);
    return SUCCEEDED(hr) && *out;
}

bool make_device(ID3D11Device **dev, ID3D11DeviceContext **ctx)
{
    HRESULT hr = D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION, dev,
                                   nullptr, ctx);
    if (FAILED(hr))
        return false;
    d3d_rules_install(*ctx);
    d3d_rules_reset();
    return true;
}

} // namespace

HRESULT render_present_now(uint32_t flags)
{
    if (!chain)
        return E_FAIL;
    // The game's own picture: one flat colour, its view and a viewport of
    // its own bound while it presents.
    ID3D11Texture2D *tex = nullptr;
    if (SUCCEEDED(chain->GetBuffer(0, __uuidof(ID3D11Texture2D), (void **)&tex)) && tex) {
        d3d_rules_back_buffer(tex);
        ID3D11RenderTargetView *rtv = nullptr;
        if (SUCCEEDED(device->CreateRenderTargetView(tex, nullptr, &rtv))) {
            uint32_t c = cfg.clear_rgba;
            float f[4] = { (c & 0xFF) / 255.0f, ((c >> 8) & 0xFF) / 255.0f, ((c >> 16) & 0xFF) / 255.0f,
                           ((c >> 24) & 0xFF) / 255.0f };
            context->ClearRenderTargetView(rtv, f);
            context->OMSetRenderTargets(1, &rtv, nullptr);
            D3D11_TEXTURE2D_DESC d;
            tex->GetDesc(&d);
            D3D11_VIEWPORT vp = { 0.0f, 0.0f, (float)d.Width, (float)d.Height, 0.0f, 0.5f };
            context->RSSetViewports(1, &vp);
            game_view = rtv;
            rtv->Release(); // the binding keeps it
        }
        tex->Release();
    }
    HRESULT hr;
    if (cfg.present1) {
        DXGI_PRESENT_PARAMETERS p = {};
        hr = chain->Present1(0, flags, &p);
    } else {
        hr = chain->Present(0, flags);
    }
    ID3D11RenderTargetView *none = nullptr;
    context->OMSetRenderTargets(1, &none, nullptr);
    game_view = nullptr;
    return hr;
}

HWND render_game_window() { return window; }

// ---- exports: window and chain ----

bool render_open(const render_config &config)
{
    cfg = config;
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = game_wndproc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = L"dm_sim_game";
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    RegisterClassExW(&wc);
    RECT r = { 0, 0, cfg.width, cfg.height };
    window = CreateWindowExW(0, L"dm_sim_game", L"American Truck Simulator", WS_POPUP | WS_VISIBLE, 0, 0, r.right,
                             r.bottom, nullptr, nullptr, wc.hInstance, nullptr);
    if (!window)
        return false;
    SetForegroundWindow(window);
    SetFocus(window);
    if (!make_device(&device, &context) || !make_chain(device, window, &chain)) {
        render_close();
        return false;
    }
    void **vt = *(void ***)chain;
    if (!real_present) {
        // The layer goes in once per process, below everything else.
        chain_vtable = vt;
        real_present = (present_fn)vt[8];
        real_resize = (resize_fn)vt[13];
        real_present1 = (present1_fn)vt[22];
        patch_slot(&vt[8], (void *)layer_present);
        patch_slot(&vt[13], (void *)layer_resize);
        patch_slot(&vt[22], (void *)layer_present1);
    }
    di_open();
    di_reset();
    if (cfg.render_thread)
        render_thread_start();
    pump();
    clear_game_messages();
    return true;
}

void render_close()
{
    render_thread_stop();
    if (context)
        context->ClearState();
    release(chain);
    release(context);
    release(device);
    d3d_rules_reset();
    if (window)
        DestroyWindow(window);
    if (other_window)
        DestroyWindow(other_window);
    window = other_window = nullptr;
    pump();
}

HWND render_window() { return window; }
IDXGISwapChain *render_swap_chain() { return chain; }
void **render_swap_chain_vtable() { return chain_vtable; }
void *render_layer_present() { return (void *)layer_present; }

void *patch_slot(void **slot, void *value)
{
    DWORD old;
    VirtualProtect(slot, sizeof(void *), PAGE_READWRITE, &old);
    void *previous = *slot;
    *slot = value;
    VirtualProtect(slot, sizeof(void *), old, &old);
    return previous;
}
render_bindings render_bound_at_present() { return bound_at_present; }

HRESULT render_present(uint32_t flags)
{
    return render_thread_running() ? render_thread_present(flags) : render_present_now(flags);
}

void pump()
{
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
}

void game_frames(int n, double dt)
{
    for (int i = 0; i < n; i++) {
        clock_advance(dt);
        frame();
        pump();
        render_present(0);
    }
}

HRESULT render_resize(int width, int height)
{
    if (!chain)
        return E_FAIL;
    context->OMSetRenderTargets(0, nullptr, nullptr);
    return chain->ResizeBuffers(0, (UINT)width, (UINT)height, DXGI_FORMAT_UNKNOWN, 0);
}

bool render_new_chain(bool new_device)
{
    release(chain);
    if (new_device) {
        context->ClearState();
        release(context);
        release(device);
        if (!make_device(&device, &context))
            return false;
    }
    return make_chain(device, window, &chain);
}

bool render_present_other_window()
{
    if (!other_window)
        other_window = CreateWindowExW(0, L"dm_sim_game", L"launcher", WS_POPUP, 0, 0, 200, 200, nullptr, nullptr,
                                       GetModuleHandleA(nullptr), nullptr);
    IDXGISwapChain1 *sc = nullptr;
    if (!other_window || !make_chain(device, other_window, &sc))
        return false;
    HRESULT hr = sc->Present(0, 0);
    sc->Release();
    return SUCCEEDED(hr);
}

// ---- exports: capture ----

bool capture_frame(double dt)
{
    pixels.clear();
    InterlockedExchange(&capture_wanted, 1);
    game_frames(1, dt);
    return !pixels.empty();
}

int capture_width() { return cap_w; }
int capture_height() { return cap_h; }
uint32_t capture_pixel(int x, int y)
{
    if (x < 0 || y < 0 || x >= cap_w || y >= cap_h || pixels.empty())
        return 0;
    return pixels[(size_t)y * cap_w + x];
}

int capture_count(int x0, int y0, int x1, int y1, uint32_t rgb, int tol)
{
    int n = 0;
    for (int y = y0; y < y1; y++)
        for (int x = x0; x < x1; x++) {
            uint32_t p = capture_pixel(x, y);
            bool ok = true;
            for (int k = 0; k < 3; k++) {
                int a = (int)((p >> (8 * k)) & 0xFF), b = (int)((rgb >> (8 * k)) & 0xFF);
                ok &= (a > b ? a - b : b - a) <= tol;
            }
            n += ok;
        }
    return n;
}

bool capture_save_png(const char *path) { return !pixels.empty() && png_write(path, pixels.data(), cap_w, cap_h); }

} // namespace sim
