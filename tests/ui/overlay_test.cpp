// The plug-in's overlay and input routing as the player meets them: the
// notice window, swap-chain events, overlay faults, window messages, the
// cursor, DirectInput reads by mode, and teardown (overlay_fixture.h).
#include "ui/overlay_fixture.h"
#include "dm_pe_imports.h"
#include <d3d11.h>

namespace {

void **iat_slot(const char *function)
{
    return dm_pe_import_slot(GetModuleHandleA(nullptr), "user32.dll", function);
}

// ---- the plug-in alone: notice window, swap-chain events ----

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
    DWORD old;
    VirtualProtect(&vt[9], 8, PAGE_READWRITE, &old);
    real_get_buffer = (decltype(real_get_buffer))vt[9];
    vt[9] = (void *)faulting_get_buffer;
    get_buffer_countdown = 2; // the game's own GetBuffer, then the overlay's
    sim::game_frames(1);
    vt[9] = (void *)real_get_buffer;
    VirtualProtect(&vt[9], 8, old, &old);

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

// ---- input ----

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
    // Peek and count-only reads leave the records as they are.
    ASSERT_EQ(kb->GetDeviceData(sizeof recs[0], recs, &n, DIGDD_PEEK), DI_OK);
    EXPECT_EQ(n, 2u);
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

// It leaves the plug-in pinned in the process, so it runs in a process of its
// own (ctest's ui_pin_test selects it) and skips itself in the full run.
class pinned : public overlay {};
HRESULT STDMETHODCALLTYPE (*pin_previous)(IDXGISwapChain *, UINT, UINT);
HRESULT STDMETHODCALLTYPE chained_present(IDXGISwapChain *sc, UINT sync, UINT flags)
{
    return pin_previous(sc, sync, flags);
}

TEST_F(pinned, WhenSomethingChainedOverItsHook)
{
    if (::testing::GTEST_FLAG(filter) != "pinned.*")
        GTEST_SKIP() << "runs alone as ui_pin_test";
    start(nullptr);
    void **vt = sim::render_swap_chain_vtable();
    DWORD old;
    VirtualProtect(&vt[8], 8, PAGE_READWRITE, &old);
    pin_previous = (decltype(pin_previous))vt[8];
    vt[8] = (void *)chained_present; // another overlay hooks after us
    VirtualProtect(&vt[8], 8, old, &old);
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

} // namespace
