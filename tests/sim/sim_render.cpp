// The simulated game's picture and input: a real window, a D3D11 device and
// swap chain presenting each frame, a capture layer in the swap chain table,
// scripted DirectInput devices, and SendInput and window messages.
#include "sim/sim_render.h"
#include <d3d11.h>
#include <dxgi1_2.h>
#include <stdio.h>
#include <string.h>
#include <mutex>

namespace sim {
namespace {

typedef HRESULT(STDMETHODCALLTYPE *present_fn)(IDXGISwapChain *, UINT, UINT);
typedef HRESULT(STDMETHODCALLTYPE *present1_fn)(IDXGISwapChain1 *, UINT, UINT, const DXGI_PRESENT_PARAMETERS *);

render_config cfg;
HWND window, other_window;
ID3D11Device *device;
ID3D11DeviceContext *context;
IDXGISwapChain1 *chain;
void **chain_vtable;
present_fn real_present;
present1_fn real_present1;

// capture
volatile LONG capture_wanted;
std::vector<uint32_t> pixels;
int cap_w, cap_h;

// render thread
HANDLE rt_thread, rt_go, rt_done;
volatile LONG rt_quit;
uint32_t rt_flags;
HRESULT rt_result;

std::mutex msg_mutex;
std::vector<window_message> messages;

template <class T> void release(T *&p)
{
    if (p) {
        p->Release();
        p = nullptr;
    }
}

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

HRESULT STDMETHODCALLTYPE layer_present(IDXGISwapChain *sc, UINT sync, UINT flags)
{
    if (InterlockedExchange(&capture_wanted, 0))
        do_capture(sc);
    return real_present(sc, sync, flags);
}

HRESULT STDMETHODCALLTYPE layer_present1(IDXGISwapChain1 *sc, UINT sync, UINT flags, const DXGI_PRESENT_PARAMETERS *p)
{
    if (InterlockedExchange(&capture_wanted, 0))
        do_capture(sc);
    return real_present1(sc, sync, flags, p);
}

void patch(void **slot, void *value)
{
    DWORD old;
    VirtualProtect(slot, sizeof(void *), PAGE_READWRITE, &old);
    *slot = value;
    VirtualProtect(slot, sizeof(void *), old, &old);
}

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
    return SUCCEEDED(hr);
}

HRESULT present_now(uint32_t flags)
{
    if (!chain)
        return E_FAIL;
    // The game's own picture: one flat colour.
    ID3D11Texture2D *tex = nullptr;
    if (SUCCEEDED(chain->GetBuffer(0, __uuidof(ID3D11Texture2D), (void **)&tex)) && tex) {
        ID3D11RenderTargetView *rtv = nullptr;
        if (SUCCEEDED(device->CreateRenderTargetView(tex, nullptr, &rtv))) {
            uint32_t c = cfg.clear_rgba;
            float f[4] = { (c & 0xFF) / 255.0f, ((c >> 8) & 0xFF) / 255.0f, ((c >> 16) & 0xFF) / 255.0f,
                           ((c >> 24) & 0xFF) / 255.0f };
            context->ClearRenderTargetView(rtv, f);
            context->OMSetRenderTargets(1, &rtv, nullptr);
            rtv->Release();
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
    return hr;
}

DWORD WINAPI render_thread_main(void *)
{
    for (;;) {
        WaitForSingleObject(rt_go, INFINITE);
        if (rt_quit)
            break;
        rt_result = present_now(rt_flags);
        SetEvent(rt_done);
    }
    return 0;
}

// ---- DirectInput ----

typedef HRESULT(STDMETHODCALLTYPE *acquire_fn)(IDirectInputDevice8W *);
typedef HRESULT(STDMETHODCALLTYPE *state_fn)(IDirectInputDevice8W *, DWORD, void *);
typedef HRESULT(STDMETHODCALLTYPE *data_fn)(IDirectInputDevice8W *, DWORD, DIDEVICEOBJECTDATA *, DWORD *, DWORD);

struct scripted_device {
    IDirectInputDevice8W *dev;
    int kind;
    int acquired;
    int unacquires;
    uint8_t state[256];
    DIMOUSESTATE mouse;
    std::vector<DIDEVICEOBJECTDATA> queue;
};
IDirectInput8W *dinput;
scripted_device scripted[24];
int scripted_count;
void **di_vtable;
acquire_fn real_acquire, real_unacquire;
state_fn real_state;
data_fn real_data;
std::mutex di_mutex;
DWORD di_sequence;

scripted_device *find(IDirectInputDevice8W *d)
{
    for (int i = 0; i < scripted_count; i++)
        if (scripted[i].dev == d)
            return &scripted[i];
    return nullptr;
}

HRESULT STDMETHODCALLTYPE layer_acquire(IDirectInputDevice8W *d)
{
    std::lock_guard<std::mutex> g(di_mutex);
    scripted_device *s = find(d);
    if (!s)
        return real_acquire(d);
    bool was = s->acquired;
    s->acquired = 1;
    return was ? S_FALSE : DI_OK;
}

HRESULT STDMETHODCALLTYPE layer_unacquire(IDirectInputDevice8W *d)
{
    std::lock_guard<std::mutex> g(di_mutex);
    scripted_device *s = find(d);
    if (!s)
        return real_unacquire(d);
    bool was = s->acquired;
    s->acquired = 0;
    s->unacquires++;
    return was ? DI_OK : DI_NOEFFECT;
}

HRESULT STDMETHODCALLTYPE layer_state(IDirectInputDevice8W *d, DWORD size, void *data)
{
    std::lock_guard<std::mutex> g(di_mutex);
    scripted_device *s = find(d);
    if (!s)
        return real_state(d, size, data);
    if (!s->acquired)
        return DIERR_NOTACQUIRED;
    if (!data)
        return E_POINTER;
    const void *src = s->kind == DI_MOUSE ? (const void *)&s->mouse : (const void *)s->state;
    size_t n = s->kind == DI_MOUSE ? sizeof s->mouse : sizeof s->state;
    memset(data, 0, size);
    memcpy(data, src, size < n ? size : n);
    return DI_OK;
}

HRESULT STDMETHODCALLTYPE layer_data(IDirectInputDevice8W *d, DWORD rec_size, DIDEVICEOBJECTDATA *data, DWORD *count,
                                     DWORD flags)
{
    std::lock_guard<std::mutex> g(di_mutex);
    scripted_device *s = find(d);
    if (!s)
        return real_data(d, rec_size, data, count, flags);
    if (!s->acquired)
        return DIERR_NOTACQUIRED;
    if (!count || rec_size != sizeof(DIDEVICEOBJECTDATA))
        return DIERR_INVALIDPARAM;
    DWORD n = (DWORD)s->queue.size();
    if (data) {
        if (n > *count)
            n = *count;
        for (DWORD i = 0; i < n; i++)
            data[i] = s->queue[i];
    }
    if (!(flags & DIGDD_PEEK))
        s->queue.erase(s->queue.begin(), s->queue.begin() + n);
    *count = n;
    return DI_OK;
}

scripted_device *make_scripted(const GUID &guid, const DIDATAFORMAT *fmt, int kind)
{
    if (!dinput || scripted_count >= 24)
        return nullptr;
    IDirectInputDevice8W *d = nullptr;
    if (FAILED(dinput->CreateDevice(guid, &d, nullptr)) || !d)
        return nullptr;
    d->SetDataFormat(fmt);
    scripted_device &s = scripted[scripted_count++];
    s.dev = d;
    s.kind = kind;
    s.acquired = 0;
    s.unacquires = 0;
    memset(s.state, 0, sizeof s.state);
    memset(&s.mouse, 0, sizeof s.mouse);
    s.queue.clear();
    void **vt = *(void ***)d;
    if (!di_vtable) {
        di_vtable = vt;
        real_acquire = (acquire_fn)vt[7];
        real_unacquire = (acquire_fn)vt[8];
        real_state = (state_fn)vt[9];
        real_data = (data_fn)vt[10];
        patch(&vt[7], (void *)layer_acquire);
        patch(&vt[8], (void *)layer_unacquire);
        patch(&vt[9], (void *)layer_state);
        patch(&vt[10], (void *)layer_data);
    }
    return &s;
}

void di_open()
{
    if (dinput)
        return;
    if (FAILED(DirectInput8Create(GetModuleHandleA(nullptr), DIRECTINPUT_VERSION, IID_IDirectInput8W, (void **)&dinput,
                                  nullptr)))
        dinput = nullptr;
    make_scripted(GUID_SysKeyboard, &c_dfDIKeyboard, DI_KEYBOARD);
    make_scripted(GUID_SysMouse, &c_dfDIMouse, DI_MOUSE);
}

scripted_device *by_kind(int kind)
{
    for (int i = 0; i < 2 && i < scripted_count; i++)
        if (scripted[i].kind == kind)
            return &scripted[i];
    return nullptr;
}

// ---- PNG ----
uint32_t crc_table[256];
uint32_t crc32(const uint8_t *p, size_t n, uint32_t c = 0xFFFFFFFFu)
{
    if (!crc_table[1])
        for (uint32_t i = 0; i < 256; i++) {
            uint32_t v = i;
            for (int k = 0; k < 8; k++)
                v = v & 1 ? 0xEDB88320u ^ (v >> 1) : v >> 1;
            crc_table[i] = v;
        }
    for (size_t i = 0; i < n; i++)
        c = crc_table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return c;
}
void put32(std::string &s, uint32_t v)
{
    s += (char)(v >> 24);
    s += (char)(v >> 16);
    s += (char)(v >> 8);
    s += (char)v;
}
void chunk(std::string &out, const char *type, const std::string &data)
{
    put32(out, (uint32_t)data.size());
    std::string body = std::string(type, 4) + data;
    out += body;
    put32(out, crc32((const uint8_t *)body.data(), body.size()) ^ 0xFFFFFFFFu);
}

} // namespace

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
        // The capture layer goes in once per process, below everything else.
        chain_vtable = vt;
        real_present = (present_fn)vt[8];
        real_present1 = (present1_fn)vt[22];
        patch(&vt[8], (void *)layer_present);
        patch(&vt[22], (void *)layer_present1);
    }
    di_open();
    for (int i = 0; i < scripted_count; i++) {
        scripted[i].acquired = 0;
        scripted[i].unacquires = 0;
        scripted[i].queue.clear();
        memset(scripted[i].state, 0, sizeof scripted[i].state);
    }
    if (cfg.render_thread) {
        rt_go = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        rt_done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        rt_quit = 0;
        rt_thread = CreateThread(nullptr, 0, render_thread_main, nullptr, 0, nullptr);
    }
    pump();
    clear_game_messages();
    return true;
}

void render_close()
{
    if (rt_thread) {
        rt_quit = 1;
        SetEvent(rt_go);
        WaitForSingleObject(rt_thread, 5000);
        CloseHandle(rt_thread);
        CloseHandle(rt_go);
        CloseHandle(rt_done);
        rt_thread = rt_go = rt_done = nullptr;
    }
    if (context)
        context->ClearState();
    release(chain);
    release(context);
    release(device);
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

HRESULT render_present(uint32_t flags)
{
    if (!rt_thread)
        return present_now(flags);
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

bool capture_save_png(const char *path)
{
    if (pixels.empty())
        return false;
    std::string raw;
    raw.reserve((size_t)cap_h * (cap_w * 4 + 1));
    for (int y = 0; y < cap_h; y++) {
        raw += '\0';
        const uint8_t *row = (const uint8_t *)&pixels[(size_t)y * cap_w];
        for (int x = 0; x < cap_w; x++) {
            raw.append((const char *)row + x * 4, 3);
            raw += (char)0xFF; // opaque, as a person sees the screen
        }
    }
    // zlib stream of stored blocks
    std::string z = "\x78\x01";
    size_t pos = 0;
    while (pos < raw.size() || pos == 0) {
        size_t n = raw.size() - pos < 65535 ? raw.size() - pos : 65535;
        bool last = pos + n >= raw.size();
        z += (char)(last ? 1 : 0);
        z += (char)(n & 0xFF);
        z += (char)(n >> 8);
        z += (char)(~n & 0xFF);
        z += (char)((~n >> 8) & 0xFF);
        z.append(raw, pos, n);
        pos += n;
        if (last)
            break;
    }
    uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    put32(z, (b << 16) | a);
    std::string png = "\x89PNG\r\n\x1a\n";
    std::string ihdr;
    put32(ihdr, (uint32_t)cap_w);
    put32(ihdr, (uint32_t)cap_h);
    ihdr += std::string("\x08\x06\x00\x00\x00", 5);
    chunk(png, "IHDR", ihdr);
    chunk(png, "IDAT", z);
    chunk(png, "IEND", "");
    FILE *f = fopen(path, "wb");
    if (!f)
        return false;
    bool ok = fwrite(png.data(), 1, png.size(), f) == png.size();
    return fclose(f) == 0 && ok;
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

LRESULT window_send(UINT msg, WPARAM wp, LPARAM lp) { return SendMessageW(window, msg, wp, lp); }

void key_input(WORD vk, bool down)
{
    // Input goes to the foreground window; the desktop hands focus over
    // asynchronously, so wait (bounded) until it has.
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
    ClientToScreen(window, &p);
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
    PostMessageW(window, WM_MOUSEMOVE, 0, lp);
    game_frames(1);
    PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, lp);
    game_frames(1);
    PostMessageW(window, WM_LBUTTONUP, 0, lp);
    game_frames(1);
}

IDirectInputDevice8W *di_device(di_kind kind)
{
    scripted_device *s = by_kind(kind);
    return s ? s->dev : nullptr;
}

void di_script_key(uint8_t code, bool down)
{
    std::lock_guard<std::mutex> g(di_mutex);
    scripted_device *s = by_kind(DI_KEYBOARD);
    if (!s)
        return;
    s->state[code] = down ? 0x80 : 0;
    DIDEVICEOBJECTDATA r = {};
    r.dwOfs = code;
    r.dwData = down ? 0x80 : 0;
    r.dwTimeStamp = GetTickCount();
    r.dwSequence = ++di_sequence;
    s->queue.push_back(r);
    for (int i = 2; i < scripted_count; i++) { // extra keyboards see the same keys
        scripted[i].state[code] = s->state[code];
        scripted[i].queue.push_back(r);
    }
}

void di_script_mouse(int dx, int dy, bool button0)
{
    std::lock_guard<std::mutex> g(di_mutex);
    scripted_device *s = by_kind(DI_MOUSE);
    if (!s)
        return;
    s->mouse.lX = dx;
    s->mouse.lY = dy;
    s->mouse.rgbButtons[0] = button0 ? 0x80 : 0;
    DIDEVICEOBJECTDATA r = {};
    r.dwOfs = DIMOFS_X;
    r.dwData = (DWORD)dx;
    r.dwSequence = ++di_sequence;
    s->queue.push_back(r);
}

int di_acquired(di_kind kind)
{
    std::lock_guard<std::mutex> g(di_mutex);
    scripted_device *s = by_kind(kind);
    return s ? s->acquired : 0;
}

int di_unacquire_count(di_kind kind)
{
    std::lock_guard<std::mutex> g(di_mutex);
    scripted_device *s = by_kind(kind);
    return s ? s->unacquires : 0;
}

IDirectInputDevice8W *di_extra_device(int index)
{
    while (scripted_count < 2 + index + 1 && scripted_count < 24)
        if (!make_scripted(GUID_SysKeyboard, &c_dfDIKeyboard, DI_KEYBOARD))
            return nullptr;
    return 2 + index < scripted_count ? scripted[2 + index].dev : nullptr;
}

} // namespace sim
