// The overlay as the player sees it: the real plug-in on the simulated
// game's real window and swap chain, pixels read back before the game's
// Present, real window messages and SendInput, scripted DirectInput devices,
// and the real core (or a test build of it that scripts its network values).
#include "sim/fixture.h"
#include "sim/sim_input.h"
#include "sim/sim_render.h"
#include "sim/sim_dinput.h"
#include "ui/ui_test_core.h"
#include <d3d11.h>

namespace {

const uint32_t CLEAR = 0xFF503C2E; // R 0x2E, G 0x3C, B 0x50

uint32_t rgb(uint32_t rrggbb) { return ((rrggbb >> 16) & 0xFF) | (rrggbb & 0xFF00) | ((rrggbb & 0xFF) << 16); }

bool close_to(uint32_t p, uint32_t want, int tol)
{
    for (int k = 0; k < 3; k++) {
        int a = (int)((p >> (8 * k)) & 0xFF), b = (int)((want >> (8 * k)) & 0xFF);
        if ((a > b ? a - b : b - a) > tol)
            return false;
    }
    return true;
}

std::string hex(uint32_t p)
{
    char b[16];
    snprintf(b, sizeof b, "%06x", p & 0xFFFFFF);
    return b;
}

void **iat_slot(const char *function)
{
    auto *base = (uint8_t *)GetModuleHandleA(nullptr);
    auto *nt = (IMAGE_NT_HEADERS64 *)(base + ((IMAGE_DOS_HEADER *)base)->e_lfanew);
    auto &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto *d = (IMAGE_IMPORT_DESCRIPTOR *)(base + dir.VirtualAddress); d->Name; d++) {
        if (_stricmp((const char *)(base + d->Name), "user32.dll") != 0 || !d->OriginalFirstThunk)
            continue;
        auto *names = (IMAGE_THUNK_DATA64 *)(base + d->OriginalFirstThunk);
        auto *slots = (IMAGE_THUNK_DATA64 *)(base + d->FirstThunk);
        for (; names->u1.AddressOfData; names++, slots++)
            if (!IMAGE_SNAP_BY_ORDINAL64(names->u1.Ordinal) &&
                strcmp((const char *)((IMAGE_IMPORT_BY_NAME *)(base + names->u1.AddressOfData))->Name, function) == 0)
                return (void **)&slots->u1.Function;
    }
    return nullptr;
}

class overlay : public fx::game_test {
protected:
    sim::render_config rc;
    char saved_windir[MAX_PATH] = "";
    bool rendering = false;

    void SetUp() override
    {
        fx::game_test::SetUp();
        GetEnvironmentVariableA("WINDIR", saved_windir, sizeof saved_windir);
    }

    void TearDown() override
    {
        fx::game_test::TearDown();
        if (rendering)
            sim::render_close();
        SetEnvironmentVariableA("WINDIR", saved_windir[0] ? saved_windir : nullptr);
    }

    /* A Windows folder of this test's own, with free fonts under the names the
     * UI looks for (or none). */
    void make_windows_dir(bool fonts)
    {
        std::string win = root + "\\windows";
        CreateDirectoryA(win.c_str(), nullptr);
        CreateDirectoryA((win + "\\Fonts").c_str(), nullptr);
        if (fonts) {
            const char *src = "Z:\\usr\\share\\fonts\\truetype\\dejavu\\";
            struct {
                const char *from, *to;
            } map[] = { { "DejaVuSans.ttf", "segoeui.ttf" },
                        { "DejaVuSans-Bold.ttf", "seguisb.ttf" },
                        { "DejaVuSans-Bold.ttf", "segoeuib.ttf" } };
            for (auto &m : map)
                ASSERT_TRUE(CopyFileA((std::string(src) + m.from).c_str(), (win + "\\Fonts\\" + m.to).c_str(), FALSE))
                    << m.from;
        }
        SetEnvironmentVariableA("WINDIR", win.c_str());
    }

    void start(const char *core, bool fonts = true)
    {
        make_windows_dir(fonts);
        if (core)
            install_core(core, "drovemark_core.dll");
        ASSERT_TRUE(sim::render_open(rc));
        rendering = true;
        ASSERT_EQ(init(), SCS_RESULT_OK);
        sim::event_started();
        sim::game_frames(3);
    }

    // F2 once; a press the desktop did not deliver (focus still moving) is
    // pressed again, so every toggle really happens.
    void toggle_ui()
    {
        int before = log_count("[host] ui: UI mode ");
        for (int attempt = 0; attempt < 3; attempt++) {
            sim::key_input(VK_F2, true);
            sim::game_frames(1);
            sim::key_input(VK_F2, false);
            sim::game_frames(1);
            for (int i = 0; i < 50 && log_count("[host] ui: UI mode ") == before; i++) {
                Sleep(10);
                sim::game_frames(1);
            }
            if (log_count("[host] ui: UI mode ") != before)
                return;
        }
        ADD_FAILURE() << "F2 did not toggle the UI mode";
    }

    void capture(const char *png = nullptr)
    {
        ASSERT_TRUE(sim::capture_frame());
        if (png)
            sim::capture_save_png((root + "\\" + png).c_str());
    }

    int row_count(int y, uint32_t want, int tol, int x0 = 0, int x1 = -1)
    {
        return sim::capture_count(x0, y, x1 < 0 ? sim::capture_width() : x1, y + 1, want, tol);
    }

    template <class F> F core_export(const char *name)
    {
        for (int g = 9; g >= 1; g--) {
            HMODULE m = GetModuleHandleA((base + "core\\loaded_" + std::to_string(g) + ".dll").c_str());
            if (m)
                return (F)(void *)GetProcAddress(m, name);
        }
        return nullptr;
    }

    bool received(UINT msg, WPARAM wp)
    {
        for (auto &m : sim::game_messages())
            if (m.msg == msg && m.wp == wp)
                return true;
        return false;
    }
};

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

// ---- the real core's UI ----

class menu : public overlay, public ::testing::WithParamInterface<bool> {};

TEST_P(menu, PagesAndStatusLine)
{
    rc.render_thread = GetParam();
    start("drovemark_core.dll");
    sim::game_frames(10);
    const char *suffix = GetParam() ? "_rt" : "";
    auto png = [&](const char *n) { return std::string(n) + suffix + ".png"; };

    // Status line: a pill at the top centre with the muted dot (single player).
    capture(png("status_line").c_str());
    uint32_t pill = sim::capture_pixel(640, 12);
    EXPECT_TRUE(close_to(pill, 0x291F1B, 8)) << hex(pill);
    EXPECT_GT(sim::capture_count(500, 18, 800, 31, rgb(0x666E78), 10), 20);
    EXPECT_TRUE(close_to(sim::capture_pixel(640, 60), CLEAR, 2));
    EXPECT_GE(log_find("[core] ui: scale 1.00 (screen 720 px high, UI size 100%)"), 0) << log_text();

    // The game stops calling the core (its main menu): after 1.5 s the
    // snapshot is stale, the status line goes and the profile card says so.
    if (!GetParam()) {
        Sleep(1600);
        sim::render_present(0);
        capture("status_line_stale.png"); // one telemetry frame: the snapshot is due only after 0.1 s
        EXPECT_EQ(sim::capture_count(0, 0, 1280, 40, CLEAR, 2), 1280 * 40) << "no status line";
    }

    toggle_ui();
    capture(png("menu_servers").c_str());
    // 1060 x 640 centred: (110, 40) - (1170, 680); the rest of the screen dimmed.
    uint32_t dim = sim::capture_pixel(50, 360);
    EXPECT_TRUE(close_to(dim, 0x261C16, 6)) << hex(dim);
    EXPECT_TRUE(close_to(sim::capture_pixel(200, 350), rgb(0x171A20), 3)) << hex(sim::capture_pixel(200, 350));
    EXPECT_TRUE(close_to(sim::capture_pixel(134, 68), rgb(0xFFA240), 24)) << hex(sim::capture_pixel(134, 68));
    EXPECT_TRUE(close_to(sim::capture_pixel(300, 150), rgb(0x29303A), 3)) << "current page row";
    EXPECT_TRUE(close_to(sim::capture_pixel(123, 166), rgb(0xFF8C1A), 6)) << "accent bar";
    EXPECT_TRUE(close_to(sim::capture_pixel(1100, 640), rgb(0x13151A), 4)) << hex(sim::capture_pixel(1100, 640));

    sim::mouse_click_message(225, 216); // Players
    capture(png("menu_players").c_str());
    EXPECT_TRUE(close_to(sim::capture_pixel(300, 200), rgb(0x29303A), 3)) << hex(sim::capture_pixel(300, 200));
    EXPECT_TRUE(close_to(sim::capture_pixel(300, 150), rgb(0x171A20), 3));

    sim::mouse_click_message(225, 266); // Settings
    sim::game_frames(2);
    capture(png("menu_settings").c_str());
    EXPECT_TRUE(close_to(sim::capture_pixel(300, 250), rgb(0x29303A), 3));
    // Ticked checkboxes (three are on by default) are filled with the accent.
    EXPECT_GT(sim::capture_count(362, 60, 1170, 680, rgb(0xFF8C1A), 8), 600);

    toggle_ui();
    capture();
    EXPECT_TRUE(close_to(sim::capture_pixel(50, 360), CLEAR, 2)) << "menu gone";
}

INSTANTIATE_TEST_SUITE_P(threads, menu, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &i) { return i.param ? "render_thread" : "game_thread"; });

class scripted : public overlay {
protected:
    uitest_status st = {};
    void set_status()
    {
        auto fn = core_export<uitest_set_status_fn>("uitest_set_status");
        ASSERT_TRUE(fn);
        fn(&st);
        sim::game_frames(8); // the snapshot comes every 0.1 s
    }
    // A toast's body, in the row just above its text.
    bool toast_row(int k) { return row_count(48 + 52 * k + 6, rgb(0x181B22), 6) > 100; }
};

TEST_F(scripted, ToastsFromTheSnapshotThroughImGuiTime)
{
    start("ui_test_core.dll");
    set_status();
    capture();
    EXPECT_FALSE(toast_row(0)) << "the first snapshot raises nothing";

    st.own_id = 7;
    st.has_server = 1;
    snprintf(st.host, sizeof st.host, "example.test");
    st.port = 42870;
    snprintf(st.name, sizeof st.name, "tester");
    st.count = 2; // players already there raise nothing
    st.ids[0] = 3, st.ids[1] = 4;
    snprintf(st.names[0], 33, "early");
    snprintf(st.names[1], 33, "bird");
    set_status();
    sim::game_frames(30);
    capture("toast_connected.png");
    EXPECT_TRUE(toast_row(0));
    EXPECT_FALSE(toast_row(1)) << "one toast for the join";

    // Six join at once: five toasts are held, the oldest (Connected) dropped.
    st.count = 8;
    for (int i = 2; i < 8; i++) {
        st.ids[i] = (uint16_t)(10 + i);
        snprintf(st.names[i], 33, "driver%d", i);
    }
    set_status();
    sim::game_frames(30);
    capture("toasts_five.png");
    for (int k = 0; k < 5; k++)
        EXPECT_TRUE(toast_row(k)) << k;
    EXPECT_FALSE(toast_row(5));

    sim::game_frames(20, 0.25); // 5 s of ImGui time
    capture();
    EXPECT_FALSE(toast_row(0)) << "gone after 5 s";

    // The Players page: our row (marked YOU) and the eight others.
    toggle_ui();
    sim::mouse_click_message(225, 216);
    capture("players_page.png");
    EXPECT_GT(sim::capture_count(372, 140, 1170, 680, rgb(0x4B392A), 10), 150) << "the YOU pill";
    EXPECT_GT(sim::capture_count(380, 140, 381, 680, rgb(0x21262E), 4), 8 * 40) << "nine rows";
}

TEST_F(overlay, UiSettingsFromConfigIni)
{
    write_config("ui_statusbar = 0\nui_scale = 135\n");
    start("drovemark_core.dll");
    sim::game_frames(10);
    EXPECT_GE(log_find("[core] ui: scale 1.35 (screen 720 px high, UI size 135%)"), 0) << log_text();
    capture("no_status_line.png");
    EXPECT_EQ(sim::capture_count(0, 0, 1280, 100, CLEAR, 2), 1280 * 100) << "status line off";
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

TEST_F(scripted, KickAndBanNotices)
{
    start("ui_test_core.dll");
    auto kick = core_export<uitest_kick_fn>("uitest_kick");
    ASSERT_TRUE(kick);
    auto bar = [&](uint32_t colour) { return sim::capture_count(400, 150, 407, 290, colour, 10); };

    kick(4, 1, "driving the wrong way");
    sim::game_frames(3);
    capture("kick_notice.png");
    EXPECT_GT(bar(rgb(0xF5C833)), 100) << "kick: yellow bar";
    sim::game_frames(58, 0.5); // 29 s
    capture();
    EXPECT_GT(bar(rgb(0xF5C833)), 100) << "still there before 30 s";
    sim::game_frames(4, 0.5);
    capture();
    EXPECT_EQ(bar(rgb(0xF5C833)), 0) << "closed itself after 30 s";

    kick(5, 2, "");
    sim::game_frames(3);
    sim::game_frames(80, 0.5); // 40 s
    capture("ban_notice.png");
    EXPECT_GT(bar(rgb(0xF25A5A)), 100) << "a ban stays";
    toggle_ui();
    capture();
    // The OK button: bottom left of the window, above its padding.
    int bottom = 0;
    for (int y = 150; y < 400; y++)
        if (close_to(sim::capture_pixel(402, y), rgb(0xF25A5A), 10))
            bottom = y;
    ASSERT_GT(bottom, 200);
    sim::mouse_click_message(400 + 18 + 40, bottom - 16 - 14);
    sim::game_frames(2);
    capture();
    EXPECT_EQ(bar(rgb(0xF25A5A)), 0) << "OK dismissed the ban notice";
    kick(5, 2, ""); // the same notice number again
    sim::game_frames(5);
    capture();
    EXPECT_EQ(bar(rgb(0xF25A5A)), 0) << "a dismissed notice does not come back";
}

TEST_F(scripted, FaultingDrawCallbackIsRemovedAndTheOthersStillDraw)
{
    start("ui_test_core.dll");
    auto add = core_export<uitest_add_faulting_fn>("uitest_add_faulting");
    auto calls = core_export<uitest_calls_fn>("uitest_calls");
    ASSERT_TRUE(add && calls);
    add(1100, 560);
    capture("callback_fault.png");
    EXPECT_EQ(calls(0), 1);
    EXPECT_GT(sim::capture_count(1100, 560, 1140, 600, 0xFF00FF, 4), 1400) << "the next callback drew";
    EXPECT_GT(sim::capture_count(1100, 620, 1140, 660, 0x00FF00, 4), 1400) << "its window stands on its own";
    EXPECT_EQ(log_count("[core] ui: draw callback "), 1) << log_text();
    EXPECT_NE(log_text().find("faulted (0xc0000005); removed"), std::string::npos);
    sim::game_frames(5);
    capture();
    EXPECT_EQ(calls(0), 1) << "never called again";
    EXPECT_GT(calls(1), 5);
    EXPECT_TRUE(close_to(sim::capture_pixel(640, 12), 0x291F1B, 8)) << "the main UI still draws";
    EXPECT_EQ(log_find("[host] core ui faulted"), -1);
}

TEST_F(scripted, FontsFoundAgainAfterACoreReload)
{
    start("ui_test_core.dll");
    auto fonts1 = core_export<uitest_fonts_fn>("uitest_fonts");
    char names1[512], names2[512];
    int n1 = fonts1(names1, sizeof names1);
    EXPECT_NE(std::string(names1).find("dm-regular|dm-semibold|dm-bold|"), std::string::npos) << names1;
    EXPECT_EQ(log_count("[core] ui: font dm-regular (segoeui.ttf, 18 px)"), 1) << log_text();

    fx::set_write_time(base + "core\\drovemark_core.dll", 30);
    sim::game_frames(40);
    ASSERT_GE(log_find("[host] core generation 2 loaded"), 0) << log_text();
    auto fonts2 = core_export<uitest_fonts_fn>("uitest_fonts");
    ASSERT_TRUE(fonts2);
    int n2 = fonts2(names2, sizeof names2);
    EXPECT_EQ(n2, n1);
    EXPECT_STREQ(names2, names1);
    EXPECT_EQ(log_count("[core] ui: font dm-regular ("), 1) << "found in the atlas, not added again";
    EXPECT_EQ(log_count("[core] ui: scale 1.00"), 2) << "theme applied once per core";
}

TEST_F(scripted, RunsWithoutTheFonts)
{
    start("ui_test_core.dll", false);
    EXPECT_GE(log_find("[core] ui: font " + root + "\\windows\\Fonts\\segoeui.ttf missing"), 0) << log_text();
    toggle_ui();
    capture("menu_default_font.png");
    EXPECT_TRUE(close_to(sim::capture_pixel(200, 350), rgb(0x171A20), 3)) << "the menu still draws";
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
