// The plug-in's overlay and input routing as the player meets them: the
// notice window, swap-chain events, overlay faults, window messages, the
// cursor, DirectInput reads by mode, and teardown (overlay_fixture.h).
//
// Index of this file:
// - overlay frames: notice window, swap-chain events, faults
// - input: window messages, cursor, DirectInput
// - teardown
#include "host/overlay_fixture.h"
#include "dm_pe_imports.h"
#include <d3d11.h>
#include <stdexcept>
#include <vector>

namespace {

// ---- overlay frames: notice window, swap-chain events, faults ----

TEST_F(overlay, NoticeWindowOnlyInUiModeWithTheRightLine)
{
    start(nullptr);
    EXPECT_GE(log_find("[host] ui: swap chain vtable "), 0) << log_text();
    EXPECT_GE(log_find("[host] ui: cursor imports SetCursorPos ok, ClipCursor ok, SetCursor ok"), 0) << log_text();
    EXPECT_GE(log_find("[host] ui: first Present on thread "), 0);
    EXPECT_GE(log_find("[host] ui: ImGui 1.92.2b ready on render thread "), 0) << log_text();

    capture("no_ui_mode.png");
    EXPECT_EQ(sim::capture_count(0, 0, 1280, 720, CLEAR, 2), 1280 * 720) << "nothing drawn outside UI mode";

    toggle_ui();
    EXPECT_GE(log_find("[host] ui: UI mode ON (game input blocked)"), 0) << log_text();
    capture("notice_no_core.png");
    EXPECT_TRUE(close_to(sim::capture_pixel(10, 10), CLEAR, 2)) << hex(sim::capture_pixel(10, 10));
    uint32_t body = sim::capture_pixel(30, 50);
    EXPECT_LT(body & 0xFF, 40u) << hex(body);
    int no_core_width = row_count(50, body, 4, 20, 600);
    EXPECT_GT(no_core_width, 80);

    // F2 itself never reached the game.
    EXPECT_FALSE(received(WM_KEYDOWN, VK_F2));
    EXPECT_FALSE(received(WM_KEYUP, VK_F2));

    toggle_ui();
    EXPECT_GE(log_find("[host] ui: UI mode off"), 0);
    capture();
    EXPECT_EQ(sim::capture_count(0, 0, 1280, 720, CLEAR, 2), 1280 * 720);

    // A core without a UI export: the same window with the longer line.
    shutdown();
    sim::plugin_unload();
    sim::render_close();
    rendering = false;
    ASSERT_TRUE(sim::plugin_load(fx::bin("drovemark.dll").c_str()));
    install_core("ui_mini_core_no_ui.dll");
    ASSERT_TRUE(sim::render_open(rc));
    rendering = true;
    ASSERT_EQ(init(), SCS_RESULT_OK);
    sim::game_frames(2);
    toggle_ui();
    capture("notice_no_ui.png");
    int no_ui_width = row_count(50, sim::capture_pixel(30, 50), 4, 20, 600);
    EXPECT_GT(no_ui_width, no_core_width + 40) << "\"This core has no UI (dm_core_ui).\" is the longer line";
}

TEST_F(overlay, SwapChainEvents)
{
    make_windows_dir(true);
    ASSERT_TRUE(sim::render_open(rc));
    rendering = true;
    ASSERT_EQ(init(), SCS_RESULT_OK);
    // A test Present draws nothing and is no first Present.
    EXPECT_EQ(sim::render_present(DXGI_PRESENT_TEST), S_OK);
    EXPECT_EQ(log_find("[host] ui: first Present"), -1);
    sim::game_frames(2);
    EXPECT_EQ(log_count("[host] ui: first Present"), 1);
    EXPECT_EQ(log_count("[host] ui: back buffer 1280x720 format 28"), 1);

    // Another window's chain is never drawn on nor adopted.
    ASSERT_TRUE(sim::render_present_other_window());
    EXPECT_EQ(log_find("[host] ui: the game made a new swap chain"), -1);

    // A resize remakes the view once, with the new size logged once.
    EXPECT_EQ(sim::render_resize(1024, 600), S_OK);
    EXPECT_GE(log_find("[host] ui: ResizeBuffers 1024x600 (flags 0) -> 0x00000000"), 0) << log_text();
    sim::game_frames(3);
    EXPECT_EQ(log_count("[host] ui: back buffer 1024x600 format 28"), 1);

    // New chains of the game window: on the same device, then a new one.
    ASSERT_TRUE(sim::render_new_chain(false));
    sim::game_frames(2);
    EXPECT_GE(log_find("[host] ui: the game made a new swap chain"), 0);
    EXPECT_NE(log_text().find("(device same)"), std::string::npos);
    ASSERT_TRUE(sim::render_new_chain(true));
    sim::game_frames(2);
    EXPECT_NE(log_text().find("(device new)"), std::string::npos) << log_text();
    toggle_ui();
    capture("notice_after_new_device.png");
    EXPECT_LT(sim::capture_pixel(30, 50) & 0xFF, 40u) << "still drawn after the new device";
    // Each attach and release would load and free XInput (for gamepads the
    // overlay does not use); Wine frees it under its own running thread.
    EXPECT_EQ(GetModuleHandleA("xinput1_4.dll"), nullptr);
}

TEST_F(overlay, NoPresentWarningOnceAfterTenSecondsOfGameFrames)
{
    make_windows_dir(true);
    ASSERT_TRUE(sim::render_open(rc));
    rendering = true;
    ASSERT_EQ(init(), SCS_RESULT_OK);
    sim::frames(660, 1.0 / 60.0); // 11 s of game frames and no Present
    EXPECT_EQ(log_count("[host] ui: no Present seen in 10 s of game frames; the overlay hook did not catch the game's "
                        "swap chain"),
              1)
        << log_text();
    sim::frames(60, 1.0);
    EXPECT_EQ(log_count("[host] ui: no Present seen"), 1);
}

// An overlay fault (here: inside the swap chain's GetBuffer while the overlay
// remakes its view) ends the overlay and hands the game its input back.
HRESULT(STDMETHODCALLTYPE *real_get_buffer)(IDXGISwapChain *, UINT, REFIID, void **);
volatile LONG get_buffer_countdown;
volatile int *volatile fault_at_0x30 = (volatile int *)(uintptr_t)0x30;
HRESULT STDMETHODCALLTYPE faulting_get_buffer(IDXGISwapChain *sc, UINT i, REFIID id, void **out)
{
    if (get_buffer_countdown > 0 && InterlockedDecrement(&get_buffer_countdown) == 0)
        *fault_at_0x30 = 1;
    return real_get_buffer(sc, i, id, out);
}

TEST_F(overlay, OverlayFaultClearsUiModeAndGivesTheClipBack)
{
    start(nullptr);
    RECT clip = { 100, 120, 600, 500 }, now;
    ASSERT_TRUE(sim::exe_imports()->clip_cursor(&clip));
    toggle_ui();
    GetClipCursor(&now);
    ASSERT_NE(now.left, 100);

    ASSERT_EQ(sim::render_resize(1280, 720), S_OK); // the next frame remakes its view
    void **vt = *(void ***)sim::render_swap_chain();
    real_get_buffer = (decltype(real_get_buffer))sim::patch_slot(&vt[9], (void *)faulting_get_buffer);
    get_buffer_countdown = 2; // the game's own GetBuffer, then the overlay's
    sim::game_frames(1);
    sim::patch_slot(&vt[9], (void *)real_get_buffer);

    EXPECT_EQ(log_count("[host] ui: overlay faulted (0xc0000005); overlay off until restart"), 1) << log_text();
    GetClipCursor(&now);
    EXPECT_EQ(now.left, 100) << "the game's clip is back";
    EXPECT_EQ(now.top, 120);
    sim::clear_game_messages();
    sim::window_send(WM_KEYDOWN, 'A', 0);
    EXPECT_TRUE(received(WM_KEYDOWN, 'A')) << "UI mode is off with the overlay";
    capture();
    EXPECT_EQ(sim::capture_count(0, 0, 1280, 720, CLEAR, 2), 1280 * 720) << "no more overlay frames";
    EXPECT_TRUE(sim::exe_imports()->clip_cursor(nullptr));
}

// A fault in the middle of the overlay's draw: the game's bindings are back
// before its Present goes on, with and without the overlay's own state.
volatile LONG draw_fault_armed;
void(STDMETHODCALLTYPE *real_draw_indexed)(ID3D11DeviceContext *, UINT, UINT, INT);
void STDMETHODCALLTYPE faulting_draw_indexed(ID3D11DeviceContext *c, UINT n, UINT first, INT base)
{
    if (InterlockedExchange(&draw_fault_armed, 0))
        *fault_at_0x30 = 1;
    real_draw_indexed(c, n, first, base);
}

TEST_F(overlay, FaultMidDrawGivesTheGameItsBindingsBack)
{
    for (int isolate = 1; isolate >= 0; isolate--) {
        SCOPED_TRACE(isolate ? "own device-context state" : "save and restore");
        if (isolate == 0) {
            shutdown();
            sim::render_close();
            rendering = false;
            write_config("overlay_isolate = 0\n");
        }
        start(nullptr);
        // Only the first start (overlay_isolate on by default) makes one.
        ASSERT_EQ(log_count("[host] ui: own device-context state ready"), 1) << log_text();
        toggle_ui(); // the notice window: something to draw
        sim::game_frames(1);
        sim::render_bindings b = sim::render_bound_at_present();
        ASSERT_TRUE(b.game_view_bound);
        ASSERT_EQ(b.viewport_max_depth, 0.5f);

        ID3D11Device *dev = nullptr;
        ASSERT_EQ(sim::render_swap_chain()->GetDevice(__uuidof(ID3D11Device), (void **)&dev), S_OK);
        ID3D11DeviceContext *ctx = nullptr;
        dev->GetImmediateContext(&ctx);
        void **vt = *(void ***)ctx;
        ctx->Release();
        dev->Release();
        real_draw_indexed = (decltype(real_draw_indexed))sim::patch_slot(&vt[12], (void *)faulting_draw_indexed);
        draw_fault_armed = 1;
        sim::game_frames(1);
        sim::patch_slot(&vt[12], (void *)real_draw_indexed);

        ASSERT_EQ(log_count("[host] ui: overlay faulted (0xc0000005)"), 2 - isolate) << log_text();
        b = sim::render_bound_at_present();
        EXPECT_TRUE(b.game_view_bound) << "the game's render target";
        EXPECT_EQ(b.viewport_max_depth, 0.5f) << "the game's viewport";
        if (isolate) {
            EXPECT_EQ(sim::render_resize(1024, 600), S_OK) << "no view of ours left bound";
        }
    }
}

TEST_F(overlay, CoreUiFaultLeavesTheOverlayRunning)
{
    start("ui_mini_core_ui_faults.dll");
    sim::game_frames(5);
    EXPECT_EQ(log_count("[host] core ui faulted (0xc0000005); core UI disabled until next build"), 1) << log_text();
    auto calls = core_export<int (*)()>("mini_ui_calls");
    ASSERT_TRUE(calls);
    EXPECT_EQ(calls(), 2) << "not called again after its fault";
    toggle_ui();
    capture("notice_after_ui_fault.png");
    EXPECT_LT(sim::capture_pixel(30, 50) & 0xFF, 40u) << "the overlay goes on with its notice";
    EXPECT_EQ(log_find("[host] ui: overlay faulted"), -1);
}

// ---- input: window messages, cursor, DirectInput ----

TEST_F(overlay, WindowMessagesAndCursorByMode)
{
    start(nullptr);
    const sim_exe_imports *exe = sim::exe_imports();
    RECT before = { 100, 100, 500, 400 };
    ASSERT_TRUE(exe->clip_cursor(&before));
    RECT now;
    GetClipCursor(&now);
    EXPECT_EQ(now.left, 100);

    struct row {
        UINT msg;
        WPARAM wp;
        bool off, on; // reaches the game with UI mode off / on
    } rows[] = {
        { WM_KEYDOWN, 'A', true, false },       { WM_KEYUP, 'A', true, false },
        { WM_CHAR, 'a', true, false },          { WM_KEYDOWN, VK_F2, false, false },
        { WM_SYSKEYDOWN, VK_F2, false, false }, { WM_SYSKEYDOWN, VK_F4, true, true },
        { WM_SYSKEYDOWN, 'X', true, false },    { WM_MOUSEMOVE, 0, true, false },
        { WM_LBUTTONDOWN, MK_LBUTTON, true, false }, { WM_MOUSEWHEEL, 0, true, false },
        { WM_INPUT, 0, true, false },           { WM_ACTIVATEAPP, 1, true, true },
    };
    for (int mode = 0; mode < 2; mode++) {
        if (mode == 1)
            toggle_ui();
        for (auto &r : rows) {
            sim::clear_game_messages();
            sim::window_send(r.msg, r.wp, r.msg == WM_INPUT ? 0 : MAKELPARAM(10, 10));
            EXPECT_EQ(received(r.msg, r.wp), mode ? r.on : r.off)
                << "message 0x" << std::hex << r.msg << " wp " << r.wp << " in mode " << mode;
        }
    }

    // In UI mode the cursor is free and the game's cursor calls change nothing.
    GetClipCursor(&now);
    EXPECT_NE(now.left, 100) << "clip freed";
    RECT during = { 50, 60, 300, 320 };
    EXPECT_TRUE(exe->clip_cursor(&during));
    GetClipCursor(&now);
    EXPECT_NE(now.left, 50);
    POINT p0, p1;
    GetCursorPos(&p0);
    EXPECT_TRUE(exe->set_cursor_pos(p0.x + 37, p0.y + 11));
    GetCursorPos(&p1);
    EXPECT_EQ(p1.x, p0.x);

    toggle_ui();
    RECT asked;
    ASSERT_TRUE(sim::exe_last_clip(&asked)) << "the clip asked for during UI mode applies at its end";
    EXPECT_EQ(asked.left, 50);
    EXPECT_EQ(asked.top, 60);
    EXPECT_EQ(asked.right, 300);
    EXPECT_EQ(asked.bottom, 320);
    EXPECT_TRUE(exe->clip_cursor(nullptr));
}

TEST_F(overlay, DirectInputReadsByMode)
{
    start(nullptr);
    IDirectInputDevice8W *kb = sim::di_device(sim::DI_KEYBOARD), *mouse = sim::di_device(sim::DI_MOUSE);
    ASSERT_TRUE(kb && mouse);
    EXPECT_GE(log_find("[host] ui: dinput device vtable "), 0) << log_text();
    EXPECT_NE(log_text().find(") hooked"), std::string::npos);
    ASSERT_EQ(kb->Acquire(), DI_OK);
    ASSERT_EQ(mouse->Acquire(), DI_OK);

    const uint8_t K_A = 0x1E, K_F2 = 0x3C;
    sim::di_script_key(K_A, true);
    sim::di_script_key(K_F2, true);
    uint8_t state[256];
    ASSERT_EQ(kb->GetDeviceState(sizeof state, state), DI_OK);
    EXPECT_EQ(state[K_A], 0x80);
    EXPECT_EQ(state[K_F2], 0) << "F2 never shows as held";

    DIDEVICEOBJECTDATA recs[8];
    DWORD n = 8;
    // A peek hands over the records without F2 and leaves them queued; a
    // count-only read has no records to filter.
    ASSERT_EQ(kb->GetDeviceData(sizeof recs[0], recs, &n, DIGDD_PEEK), DI_OK);
    ASSERT_EQ(n, 1u) << "the peeked F2 record is removed";
    EXPECT_EQ(recs[0].dwOfs, K_A);
    n = INFINITE;
    ASSERT_EQ(kb->GetDeviceData(sizeof recs[0], nullptr, &n, DIGDD_PEEK), DI_OK);
    EXPECT_EQ(n, 2u);
    n = 8;
    ASSERT_EQ(kb->GetDeviceData(sizeof recs[0], recs, &n, 0), DI_OK);
    ASSERT_EQ(n, 1u) << "the F2 record is removed";
    EXPECT_EQ(recs[0].dwOfs, K_A);

    toggle_ui();
    sim::di_script_key(K_A, false);
    memset(state, 0xAB, sizeof state);
    EXPECT_EQ(kb->GetDeviceState(sizeof state, state), DI_OK);
    int nonzero = 0;
    for (uint8_t b : state)
        nonzero += b != 0;
    EXPECT_EQ(nonzero, 0);
    EXPECT_EQ(sim::di_acquired(sim::DI_KEYBOARD), 0) << "taken from the game";
    n = 8;
    EXPECT_EQ(kb->GetDeviceData(sizeof recs[0], recs, &n, 0), DI_OK);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(kb->GetDeviceData(sizeof recs[0], recs, nullptr, 0), DI_OK) << "no count pointer: nothing written";
    EXPECT_EQ(kb->Acquire(), DI_OK);
    EXPECT_EQ(sim::di_acquired(sim::DI_KEYBOARD), 0) << "Acquire in UI mode acquires nothing";
    DIMOUSESTATE ms;
    EXPECT_EQ(mouse->GetDeviceState(sizeof ms, &ms), DI_OK);

    toggle_ui();
    // The buffered reader is told once that input was lost; the state-only
    // reader (the mouse here) gets no such failure.
    n = 8;
    EXPECT_EQ(kb->GetDeviceData(sizeof recs[0], recs, &n, 0), DIERR_INPUTLOST);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(sim::di_acquired(sim::DI_KEYBOARD), 1);
    n = 8;
    EXPECT_EQ(kb->GetDeviceData(sizeof recs[0], recs, &n, 0), DI_OK);
    EXPECT_EQ(mouse->GetDeviceState(sizeof ms, &ms), DI_OK);
    EXPECT_EQ(sim::di_acquired(sim::DI_MOUSE), 1);
    EXPECT_GE(log_find("[host] ui: keyboard back to the game (DIERR_INPUTLOST once so held keys reset)"), 0);

    // Devices beyond the sixteenth are left alone: F2 shows on them.
    for (int i = 0; i < 14; i++) { // with the keyboard and the mouse: 16 recorded
        IDirectInputDevice8W *d = sim::di_extra_device(i);
        ASSERT_TRUE(d);
        d->Acquire();
        d->GetDeviceState(sizeof state, state);
    }
    IDirectInputDevice8W *d17 = sim::di_extra_device(14);
    ASSERT_TRUE(d17);
    d17->Acquire();
    sim::di_script_key(K_F2, true);
    ASSERT_EQ(d17->GetDeviceState(sizeof state, state), DI_OK);
    EXPECT_EQ(state[K_F2], 0x80);
    ASSERT_EQ(sim::di_extra_device(13)->GetDeviceState(sizeof state, state), DI_OK);
    EXPECT_EQ(state[K_F2], 0);
    EXPECT_EQ(log_count("[host] ui: dinput device "), 16 + log_count("[host] ui: dinput device vtable"));
}

// The orders in which games read their devices. Whatever the order, UI mode
// leaves the keyboard and the mouse unacquired (nothing typed into the
// overlay is buffered for the game, an exclusive mouse lets go), and the
// game gets them back with one input-lost failure on a buffered read.
TEST_F(overlay, DirectInputReadingOrdersInUiMode)
{
    struct order {
        const char *name;
        bool acquire_each_read; // the game calls Acquire before every read
        bool buffered;          // GetDeviceData, else GetDeviceState
    } orders[] = {
        { "acquire once, buffered reads", false, true },
        { "acquire before each buffered read", true, true },
        { "acquire before each state read", true, false },
    };
    start(nullptr);
    IDirectInputDevice8W *kb = sim::di_device(sim::DI_KEYBOARD), *mouse = sim::di_device(sim::DI_MOUSE);
    ASSERT_TRUE(kb && mouse);
    const uint8_t K_A = 0x1E, K_W = 0x11;
    for (auto &o : orders) {
        SCOPED_TRACE(o.name);
        // One game frame's reads of both devices; the keyboard's records
        // (or its held keys) and results come back.
        std::vector<DWORD> keys;
        HRESULT kb_result = S_OK;
        auto read = [&] {
            keys.clear();
            IDirectInputDevice8W *devs[2] = { kb, mouse };
            for (int i = 0; i < 2; i++) {
                if (o.acquire_each_read)
                    devs[i]->Acquire();
                HRESULT hr;
                if (o.buffered) {
                    DIDEVICEOBJECTDATA recs[16];
                    DWORD n = 16;
                    hr = devs[i]->GetDeviceData(sizeof recs[0], recs, &n, 0);
                    for (DWORD k = 0; i == 0 && SUCCEEDED(hr) && k < n; k++)
                        keys.push_back(recs[k].dwOfs);
                } else {
                    uint8_t state[256] = {};
                    hr = devs[i]->GetDeviceState(i == 0 ? sizeof state : sizeof(DIMOUSESTATE), state);
                    for (DWORD k = 0; i == 0 && SUCCEEDED(hr) && k < 256; k++)
                        if (state[k])
                            keys.push_back(k);
                }
                if (i == 0)
                    kb_result = hr;
            }
        };
        kb->Acquire();
        mouse->Acquire();
        read();
        sim::di_script_key(K_W, true); // held when UI mode starts
        read();
        EXPECT_EQ(kb_result, DI_OK);

        toggle_ui();
        for (int f = 0; f < 3; f++) {
            read();
            EXPECT_EQ(kb_result, DI_OK);
            EXPECT_TRUE(keys.empty());
        }
        EXPECT_EQ(sim::di_acquired(sim::DI_KEYBOARD), 0) << "the keyboard is the overlay's";
        EXPECT_EQ(sim::di_acquired(sim::DI_MOUSE), 0) << "the mouse is free";
        sim::di_script_key(K_A, true); // typed into the overlay
        sim::di_script_key(K_A, false);
        sim::di_script_key(K_W, false); // released meanwhile
        read();

        toggle_ui();
        read();
        EXPECT_EQ(kb_result, o.buffered ? DIERR_INPUTLOST : DI_OK) << "held keys reset once";
        EXPECT_TRUE(keys.empty());
        for (int f = 0; f < 3; f++) {
            read();
            EXPECT_EQ(kb_result, DI_OK);
            EXPECT_TRUE(keys.empty()) << "nothing typed into the overlay reaches the game";
        }
        EXPECT_EQ(sim::di_acquired(sim::DI_KEYBOARD), 1);
        EXPECT_EQ(sim::di_acquired(sim::DI_MOUSE), 1);
        sim::di_script_key(K_A, true); // the game's own keys again
        read();
        EXPECT_EQ(keys, std::vector<DWORD>{ K_A });
        sim::di_script_key(K_A, false);
        read();
    }
}

// A second start in the same process whose probe finds the device tables in
// another order (here the W probe fails the first time): each hook still
// calls the entries of the table it sits in.
HRESULT(WINAPI *real_dinput8_create)(HINSTANCE, DWORD, REFIID, void **, IUnknown *);
FARPROC(WINAPI *real_get_proc_address)(HMODULE, const char *);
HRESULT WINAPI no_w_dinput8_create(HINSTANCE h, DWORD v, REFIID iid, void **out, IUnknown *outer)
{
    if (IsEqualGUID(iid, IID_IDirectInput8W))
        return DIERR_GENERIC;
    return real_dinput8_create(h, v, iid, out, outer);
}
FARPROC WINAPI get_proc_address_without_w(HMODULE m, const char *name)
{
    FARPROC f = real_get_proc_address(m, name);
    if ((uintptr_t)name > 0xFFFF && strcmp(name, "DirectInput8Create") == 0) {
        real_dinput8_create = (decltype(real_dinput8_create))(void *)f;
        return (FARPROC)(void *)no_w_dinput8_create;
    }
    return f;
}

TEST_F(overlay, DirectInputTablesInAnotherOrderAtASecondStart)
{
    make_windows_dir(true);
    ASSERT_TRUE(sim::render_open(rc));
    rendering = true;
    real_get_proc_address = (decltype(real_get_proc_address))sim::patch_import(
        sim::plugin_module(), "kernel32.dll", "GetProcAddress", (void *)get_proc_address_without_w);
    ASSERT_TRUE(real_get_proc_address);
    ASSERT_EQ(init(), SCS_RESULT_OK);
    sim::patch_import(sim::plugin_module(), "kernel32.dll", "GetProcAddress", (void *)real_get_proc_address);
    ASSERT_GE(log_find("[host] ui: dinput probe W failed"), 0) << log_text();
    ASSERT_EQ(log_count("[host] ui: dinput device vtable "), 1) << "only the A table the first time";
    shutdown();

    ASSERT_EQ(init(), SCS_RESULT_OK);
    ASSERT_EQ(log_count("[host] ui: dinput device vtable "), 3) << log_text();
    sim::game_frames(2);
    IDirectInputDevice8W *kb = sim::di_device(sim::DI_KEYBOARD);
    ASSERT_EQ(kb->Acquire(), DI_OK);
    sim::di_script_key(0x1E, true);
    uint8_t state[256] = {};
    ASSERT_EQ(kb->GetDeviceState(sizeof state, state), DI_OK);
    EXPECT_EQ(state[0x1E], 0x80) << "the scripted keyboard, read through its own table's entries";
    DIDEVICEOBJECTDATA recs[4];
    DWORD n = 4;
    ASSERT_EQ(kb->GetDeviceData(sizeof recs[0], recs, &n, 0), DI_OK);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(log_find("hook faulted"), -1);
}

// A C++ exception inside a hook's own work (here: the device's capabilities,
// asked for when a device is first seen) stays in the hook: the game's call
// fails and one line is logged.
volatile LONG caps_throw;
HRESULT(STDMETHODCALLTYPE *real_get_caps)(IDirectInputDevice8W *, DIDEVCAPS *);
HRESULT STDMETHODCALLTYPE throwing_get_caps(IDirectInputDevice8W *d, DIDEVCAPS *caps)
{
    if (InterlockedExchange(&caps_throw, 0))
        throw std::runtime_error("capabilities");
    return real_get_caps(d, caps);
}

TEST_F(overlay, CxxExceptionInAHookStaysInTheHook)
{
    start(nullptr);
    IDirectInputDevice8W *pad = sim::di_extra_device(0); // not seen by the hooks yet
    ASSERT_TRUE(pad);
    void **vt = *(void ***)pad;
    real_get_caps = (decltype(real_get_caps))sim::patch_slot(&vt[3], (void *)throwing_get_caps);
    caps_throw = 1;
    uint8_t state[256];
    HRESULT hr = S_OK;
    bool escaped = false;
    try {
        hr = pad->GetDeviceState(sizeof state, state);
    } catch (...) {
        escaped = true;
    }
    sim::patch_slot(&vt[3], (void *)real_get_caps);
    EXPECT_FALSE(escaped) << "the exception unwound into the game";
    EXPECT_EQ(hr, DIERR_GENERIC);
    EXPECT_EQ(log_count("[host] ui: dinput GetDeviceState hook faulted (0xe0444d43)"), 1) << log_text();
    // The next call is an ordinary one.
    pad->Acquire();
    EXPECT_EQ(pad->GetDeviceState(sizeof state, state), DI_OK);
    EXPECT_EQ(log_count("[host] ui: dinput GetDeviceState hook faulted"), 1);
}

// ---- teardown ----

void **iat_slot(const char *function)
{
    return dm_pe_import_slot(GetModuleHandleA(nullptr), "user32.dll", function);
}

TEST_F(overlay, TeardownRestoresEverySlotImportAndWindowProcedure)
{
    make_windows_dir(true);
    ASSERT_TRUE(sim::render_open(rc));
    rendering = true;
    void **chain_vt = sim::render_swap_chain_vtable();
    void **di_vt = *(void ***)sim::di_device(sim::DI_KEYBOARD);
    const int chain_slots[] = { 8, 13, 22, 39 }, di_slots[] = { 7, 9, 10 };
    const char *imports[] = { "SetCursorPos", "ClipCursor", "SetCursor" };
    void *before[10];
    int k = 0;
    for (int s : chain_slots)
        before[k++] = chain_vt[s];
    for (int s : di_slots)
        before[k++] = di_vt[s];
    for (auto *f : imports) {
        ASSERT_TRUE(iat_slot(f)) << f;
        before[k++] = *iat_slot(f);
    }
    LONG_PTR proc = GetWindowLongPtrW(sim::render_window(), GWLP_WNDPROC);
    EXPECT_EQ(before[0], sim::render_layer_present());

    ASSERT_EQ(init(), SCS_RESULT_OK);
    sim::game_frames(3);
    toggle_ui();
    bool hooked39 = log_text().find("ResizeBuffers1 hooked") != std::string::npos;
    k = 0;
    for (int s : chain_slots)
        if (s != 39 || hooked39)
            EXPECT_NE(chain_vt[s], before[k++]) << "swap chain slot " << s;
        else
            k++;
    for (int s : di_slots)
        EXPECT_NE(di_vt[s], before[k++]) << "dinput slot " << s;
    for (auto *f : imports)
        EXPECT_NE(*iat_slot(f), before[k++]) << f;
    EXPECT_NE(GetWindowLongPtrW(sim::render_window(), GWLP_WNDPROC), proc);

    shutdown();
    k = 0;
    for (int s : chain_slots)
        EXPECT_EQ(chain_vt[s], before[k++]) << "swap chain slot " << s;
    for (int s : di_slots)
        EXPECT_EQ(di_vt[s], before[k++]) << "dinput slot " << s;
    for (auto *f : imports)
        EXPECT_EQ(*iat_slot(f), before[k++]) << f;
    EXPECT_EQ(GetWindowLongPtrW(sim::render_window(), GWLP_WNDPROC), proc);
    EXPECT_EQ(log_find("[host] ui: teardown"), -1) << "nothing pinned";
    // The game goes on presenting and reading without the plug-in.
    sim::plugin_unload();
    EXPECT_EQ(sim::render_present(0), S_OK);
    EXPECT_EQ(sim::di_device(sim::DI_KEYBOARD)->Acquire(), DI_OK);
    EXPECT_EQ(GetModuleHandleA("drovemark.dll"), nullptr);
}

// It leaves the plug-in pinned in the process, so it runs in a process of its
// own (ctest's overlay_pin_test selects it) and skips itself in the full run.
class pinned : public overlay {};
HRESULT STDMETHODCALLTYPE (*pin_previous)(IDXGISwapChain *, UINT, UINT);
HRESULT STDMETHODCALLTYPE chained_present(IDXGISwapChain *sc, UINT sync, UINT flags)
{
    return pin_previous(sc, sync, flags);
}

TEST_F(pinned, WhenSomethingChainedOverItsHook)
{
    if (::testing::GTEST_FLAG(filter) != "pinned.*")
        GTEST_SKIP() << "runs alone as overlay_pin_test";
    start(nullptr);
    void **vt = sim::render_swap_chain_vtable();
    // Another overlay hooks after us.
    pin_previous = (decltype(pin_previous))sim::patch_slot(&vt[8], (void *)chained_present);
    sim::game_frames(2);

    shutdown();
    EXPECT_GE(log_find("[host] ui: teardown: a hooked slot or the window procedure no longer held our value; the "
                       "plug-in stays loaded"),
              0)
        << log_text();
    sim::plugin_unload();
    EXPECT_NE(GetModuleHandleA("drovemark.dll"), nullptr) << "pinned";
    // The other overlay still calls our hook, which passes straight through.
    EXPECT_EQ(sim::render_present(0), S_OK);
}

// Another overlay chains over our Present hook while teardown restores the
// slot (between its look at the slot and its write, here inside the
// plug-in's VirtualProtect): its hook stays in place.
BOOL(WINAPI *real_virtual_protect)(void *, SIZE_T, DWORD, DWORD *);
void **chain_in_at;
HRESULT STDMETHODCALLTYPE (*late_previous)(IDXGISwapChain *, UINT, UINT);
HRESULT STDMETHODCALLTYPE late_present(IDXGISwapChain *sc, UINT sync, UINT flags)
{
    return late_previous(sc, sync, flags);
}
BOOL WINAPI virtual_protect_racing(void *p, SIZE_T n, DWORD prot, DWORD *old)
{
    BOOL ok = real_virtual_protect(p, n, prot, old);
    if (p == chain_in_at && prot == PAGE_READWRITE) {
        chain_in_at = nullptr;
        late_previous = (decltype(late_previous))*(void **)p;
        *(void **)p = (void *)late_present;
    }
    return ok;
}

TEST_F(pinned, RestoreLeavesAHookChainedMeanwhile)
{
    if (::testing::GTEST_FLAG(filter) != "pinned.*")
        GTEST_SKIP() << "runs alone as overlay_pin_test";
    start(nullptr);
    void **vt = sim::render_swap_chain_vtable();
    real_virtual_protect = (decltype(real_virtual_protect))sim::patch_import(
        sim::plugin_module(), "kernel32.dll", "VirtualProtect", (void *)virtual_protect_racing);
    ASSERT_TRUE(real_virtual_protect);
    chain_in_at = &vt[8];
    shutdown();
    sim::patch_import(sim::plugin_module(), "kernel32.dll", "VirtualProtect", (void *)real_virtual_protect);
    EXPECT_EQ(chain_in_at, nullptr) << "the race happened";
    EXPECT_EQ(vt[8], (void *)late_present) << "the other overlay's hook is still in the table";
    EXPECT_GE(log_find("[host] ui: teardown: a hooked slot or the window procedure no longer held our value"), 0)
        << log_text();
    EXPECT_EQ(sim::render_present(0), S_OK) << "through its hook and ours to the game's";

    sim::patch_slot(&vt[8], sim::render_layer_present()); // the table as the next test expects it
}

} // namespace
