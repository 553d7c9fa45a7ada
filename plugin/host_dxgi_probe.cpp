// The swap-chain probe: a throw-away swap chain of our own shows the table
// that the game's chains share; its Present, ResizeBuffers, Present1 and
// ResizeBuffers1 slots get the overlay's hooks (host_overlay.cpp).
#include "host_overlay.h"
#include <d3d11.h>
#include <dxgi1_4.h>

namespace {

enum { SLOT_PRESENT = 8, SLOT_RESIZE = 13, SLOT_PRESENT1 = 22, SLOT_RESIZE1 = 39 };

host_slot_patch patch_present, patch_resize, patch_present1, patch_resize1;

bool patch(host_slot_patch *p, void **vt, int slot) { return host_patch_slot(p, &vt[slot], host_swap_chain_hook(slot)); }

} // namespace

bool host_dxgi_probe()
{
    HINSTANCE game = GetModuleHandleW(nullptr);
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
            hooked = patch(&patch_present, vt, SLOT_PRESENT) && patch(&patch_resize, vt, SLOT_RESIZE) &&
                     patch(&patch_present1, vt, SLOT_PRESENT1);
            bool hooked1 = false;
            if (hooked && SUCCEEDED(sc->QueryInterface(__uuidof(IDXGISwapChain3), (void **)&sc3)) && sc3 &&
                *(void ***)sc3 == vt)
                hooked1 = patch(&patch_resize1, vt, SLOT_RESIZE1);
            char mod[MAX_PATH];
            host_module_name(vt, mod, sizeof mod);
            host_log("[host] ui: swap chain vtable %p (%s): Present %p ResizeBuffers %p Present1 %p ResizeBuffers1 %s",
                     (void *)vt, mod, old_present, old_resize, old_present1, hooked1 ? "hooked" : "-");
        }
    }
    host_release(sc3);
    host_release(sc);
    host_release(factory);
    host_release(adapter);
    host_release(dxgi_dev);
    host_release(ctx);
    host_release(dev);
    if (hwnd)
        DestroyWindow(hwnd);
    UnregisterClassA("drovemark_dxgi_probe", game);
    return hooked;
}

bool host_dxgi_unpatch()
{
    bool ok = true;
    ok &= host_unpatch_slot(&patch_present);
    ok &= host_unpatch_slot(&patch_resize);
    ok &= host_unpatch_slot(&patch_present1);
    ok &= host_unpatch_slot(&patch_resize1);
    return ok;
}
