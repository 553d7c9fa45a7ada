// The core UI through the real plug-in, pixels read from the swap chain: the
// kick and ban notice at both UI scales and across notices, the Settings
// page's controls and the config.ini keys they write, toasts switched off,
// and the Dear ImGui check that keeps a mismatched core off the plug-in's
// context. The core is ui_test_core.dll (the real core with test exports).
#include "host/overlay_fixture.h"
#include "ui/ui_test_core.h"

namespace {

// Text drawn in #EDF0F5 (its antialiased edges excepted).
bool light(uint32_t p) { return (p & 0xFF) > 200 && ((p >> 8) & 0xFF) > 200 && ((p >> 16) & 0xFF) > 200; }

typedef void (*set_size_fn)(float size);
typedef unsigned (*other_imgui_fn)(int other);
typedef int (*foreign_fn)();

// The overlay tests' fixture on the real core with its test exports.
class core_ui : public overlay {
protected:
    void start() { overlay::start("ui_test_core.dll"); }

    std::string config() // lines end in CR LF or LF
    {
        std::string text = fx::read_file(base + "config.ini"), out;
        for (char c : text)
            if (c != '\r')
                out += c;
        return out;
    }
    bool config_has(const std::string &line) { return ("\n" + config()).find("\n" + line + "\n") != std::string::npos; }
};

// ---- the kick and ban notice ----

class notice : public core_ui {
protected:
    // The notice window on the last capture, found by its accent bar down
    // the left edge: left, top, bottom of the bar and right of the window.
    struct box {
        int left = -1, top = -1, bottom = -1, right = -1;
        bool found() const { return left >= 0; }
    };
    box find(uint32_t accent)
    {
        box b;
        int w = sim::capture_width(), h = sim::capture_height();
        for (int x = 0; x < w && !b.found(); x++)
            if (sim::capture_count(x, 0, x + 1, h, accent, 10) > 60)
                b.left = x;
        if (!b.found())
            return b;
        for (int y = 0; y < h; y++)
            if (close_to(sim::capture_pixel(b.left + 2, y), accent, 10)) {
                if (b.top < 0)
                    b.top = y;
                b.bottom = y;
            }
        int mid = (b.top + b.bottom) / 2;
        for (int x = b.left + 20; x < w && b.right < 0; x++)
            if (close_to(sim::capture_pixel(x, mid), CLEAR, 3))
                b.right = x;
        return b;
    }
    // The title's light text: the first band of rows below the top that
    // holds light pixels; its leftmost and rightmost light pixel.
    void title_extent(const box &b, int *x0, int *x1)
    {
        *x0 = 1 << 30, *x1 = -1;
        bool in_band = false;
        for (int y = b.top; y <= b.bottom; y++) {
            bool any = false;
            for (int x = b.left; x < b.right; x++)
                if (light(sim::capture_pixel(x, y))) {
                    any = true;
                    *x0 = x < *x0 ? x : *x0;
                    *x1 = x > *x1 ? x : *x1;
                }
            if (any)
                in_band = true;
            else if (in_band)
                return;
        }
    }
    // The window's height: one wrapped line more or less shows in it.
    static int height(const box &b) { return b.bottom - b.top; }
};

TEST_F(notice, TitleInsideTheWindowAtUiScaleTwo)
{
    start();
    auto kick = core_export<uitest_kick_fn>("uitest_kick");
    auto set_size = core_export<set_size_fn>("uitest_set_size");
    ASSERT_TRUE(kick && set_size);
    kick(4, 1, "driving the wrong way");
    sim::game_frames(3);
    capture("notice_scale1.png");
    box b1 = find(rgb(0xF5C833));
    ASSERT_TRUE(b1.found());
    int a1, z1;
    title_extent(b1, &a1, &z1);
    ASSERT_GT(z1, a1);
    EXPECT_LT(z1, b1.right - 10) << "title inside the window at scale 1";

    set_size(2.0f);
    sim::game_frames(3);
    ASSERT_GE(log_find("[core] ui: scale 2.00 (screen 720 px high, UI size 200%)"), 0) << log_text();
    capture("notice_scale2.png");
    box b2 = find(rgb(0xF5C833));
    ASSERT_TRUE(b2.found());
    int a2, z2;
    title_extent(b2, &a2, &z2);
    EXPECT_GT(b2.right - b2.left, 2 * (b1.right - b1.left) - 8) << "the window grows with the scale";
    EXPECT_GE(z2 - a2, (z1 - a1) * 19 / 10) << "the whole title, twice as large";
    EXPECT_LT(z2, b2.right - 20) << "its end inside the window";
}

TEST_F(notice, SecondKickReplacesTheFirstAndRestartsItsTimeANoticeWithoutReason)
{
    start();
    auto kick = core_export<uitest_kick_fn>("uitest_kick");
    ASSERT_TRUE(kick);
    const uint32_t yellow = rgb(0xF5C833), red = rgb(0xF25A5A);

    kick(4, 1, "driving the wrong way on the interstate for a long time");
    sim::game_frames(3);
    capture("first_kick.png");
    box b = find(yellow);
    ASSERT_TRUE(b.found());
    int two_lines = height(b); // the reason wraps onto a second line

    sim::game_frames(40, 0.5); // 20 s into the first notice
    kick(4, 2, "speeding");
    sim::game_frames(3);
    capture("second_kick.png");
    b = find(yellow);
    ASSERT_TRUE(b.found());
    int one_line = height(b);
    EXPECT_GT(two_lines, one_line + 12) << "the second reason replaced the first";

    sim::game_frames(50, 0.5); // 25 s into the second, 45 s after the first
    capture();
    EXPECT_TRUE(find(yellow).found()) << "the second kick's 30 s started anew";
    sim::game_frames(12, 0.5);
    capture();
    EXPECT_FALSE(find(yellow).found()) << "closed 30 s after the second kick";

    kick(5, 3, "");
    sim::game_frames(3);
    capture("ban_no_reason.png");
    b = find(red);
    ASSERT_TRUE(b.found());
    EXPECT_GT(one_line, height(b) + 12) << "no Reason line";
    int a, z;
    title_extent(b, &a, &z);
    EXPECT_GT(z, a) << "the title is there";
}

// ---- the Dear ImGui check ----

TEST_F(core_ui, OtherDearImGuiLayoutDrawsNothingAndSaysWhy)
{
    start();
    sim::game_frames(10);
    capture();
    ASSERT_GT(sim::capture_count(500, 10, 800, 38, rgb(0x171A20), 30), 500) << "the status line before";

    auto other = core_export<other_imgui_fn>("uitest_other_imgui");
    auto foreign = core_export<foreign_fn>("uitest_run_on_foreign_context");
    ASSERT_TRUE(other && foreign);
    unsigned io_size = other(1);
    sim::game_frames(5);
    auto kick = core_export<uitest_kick_fn>("uitest_kick");
    kick(5, 1, "anything");
    sim::game_frames(5);
    capture("other_layout.png");
    EXPECT_EQ(sim::capture_count(0, 0, 1280, 720, CLEAR, 2), 1280 * 720) << "nothing drawn";
    char want[64];
    snprintf(want, sizeof want, " (ImGuiIO %u, ImGuiStyle ", io_size);
    int at = log_find("[core] ui: Dear ImGui ");
    ASSERT_GE(at, 0) << log_text();
    std::string line = log_lines()[at];
    EXPECT_NE(line.find(want), std::string::npos) << line;
    EXPECT_NE(line.find(" does not match the library's "), std::string::npos) << line;
    EXPECT_NE(line.find("; core UI off"), std::string::npos) << line;
    EXPECT_EQ(log_count("[core] ui: Dear ImGui "), 1) << "logged once";
    toggle_ui();
    capture("other_layout_ui_mode.png");
    EXPECT_GT(sim::capture_count(0, 0, 1280, 720, CLEAR, 2), 1280 * 720 - 400) << "no menu either (the cursor aside)";
    toggle_ui();

    // The same layout again: drawn, the notice included.
    other(0);
    sim::game_frames(3);
    capture();
    EXPECT_GT(sim::capture_count(0, 0, 1280, 720, rgb(0xF25A5A), 10), 100) << "the ban notice";

    // A context that does not have this layout is never adopted.
    EXPECT_EQ(foreign(), 0);
    EXPECT_EQ(log_count("[core] ui: the plug-in's Dear ImGui context does not have this core's layout; core UI off"),
              1)
        << log_text();
    sim::game_frames(3);
    capture();
    EXPECT_GT(sim::capture_count(0, 0, 1280, 720, rgb(0xF25A5A), 10), 100) << "the plug-in's context still draws";
    EXPECT_EQ(log_find("[host] core ui faulted"), -1);
}

// ---- the Settings page ----

class settings : public core_ui {
protected:
    void open_settings()
    {
        toggle_ui();
        sim::mouse_click_message(225, 266);
        sim::game_frames(2);
    }
    // The page scrolled to its end with the wheel over it.
    void scroll_to_end()
    {
        sim::window_send(WM_MOUSEMOVE, 0, MAKELPARAM(750, 450));
        for (int i = 0; i < 6; i++) {
            sim::window_send(WM_MOUSEWHEEL, MAKEWPARAM(0, (WORD)(short)-360), MAKELPARAM(750, 450));
            sim::game_frames(1);
        }
        sim::game_frames(2);
    }
    void type(const char *text)
    {
        for (const char *c = text; *c; c++)
            sim::window_send(WM_CHAR, (WPARAM)(unsigned char)*c, 1);
        sim::game_frames(1);
    }
    void key(WPARAM vk)
    {
        sim::window_send(WM_KEYDOWN, vk, 1);
        sim::game_frames(1);
        sim::window_send(WM_KEYUP, vk, 1u | (3u << 30));
        sim::game_frames(2);
    }
    void click(int x, int y)
    {
        sim::mouse_click_message(x, y);
        sim::game_frames(3); // the queued lines run in the next game frames
    }
    // The mouse off the controls, so that none is drawn hovered.
    void away()
    {
        sim::window_send(WM_MOUSEMOVE, 0, MAKELPARAM(1000, 650));
        sim::game_frames(2);
    }
};

// Each control of the page writes its own key (booleans as 1 or 0) and
// queues what it must; the updater's "Check now" is off while it has no
// update_url.
TEST_F(settings, ControlsWriteTheirKeys)
{
    write_config("name = driver\n");
    start();
    open_settings();
    capture("top.png");

    // Profile: Save does nothing for the unchanged name; a blank is refused.
    click(764, 223);
    EXPECT_EQ(log_find("[core] ui: config name"), -1) << "Save is off for the unchanged name";
    click(550, 223);
    type(" 7");
    click(764, 223);
    EXPECT_TRUE(config_has("name = driver7")) << config();
    EXPECT_EQ(log_count("[core] cmd: config refresh"), 1) << log_text();

    // Connection.
    click(406, 366);
    EXPECT_TRUE(config_has("autoconnect = 0")) << config();
    EXPECT_EQ(log_count("[core] cmd: config refresh"), 2);

    // Server list: Save writes the source (the list is fetched again by the
    // server-list worker, not through a command).
    click(700, 509);
    type("https://example.test/servers.json");
    click(1062, 509);
    EXPECT_TRUE(config_has("server_list = https://example.test/servers.json")) << config();
    EXPECT_EQ(log_count("[core] cmd: "), 2) << log_text();

    scroll_to_end();
    capture("end.png");
    click(449, 312); // Check now: off while the updater has no worker (no update_url)
    EXPECT_EQ(log_find("[core] cmd: update"), -1);
    click(406, 498); // Name tags above players (on by default)
    EXPECT_EQ(log_count("[core] cmd: nametags off"), 1) << log_text();
    click(406, 270); // Install updates by myself
    EXPECT_TRUE(config_has("auto_update = 0")) << config();
    EXPECT_EQ(log_count("[core] cmd: config refresh"), 3) << log_text();

    // Interface.
    click(406, 541);
    EXPECT_TRUE(config_has("ui_toasts = 0")) << config();
    click(406, 584);
    EXPECT_TRUE(config_has("ui_statusbar = 0")) << config();
    EXPECT_EQ(log_count("[core] cmd: "), 4) << "these two take effect without a config refresh";

    // The UI size typed in (Ctrl+click turns the slider into a text field)
    // is clamped like a dragged one.
    sim::key_input(VK_CONTROL, true);
    sim::mouse_click_message(550, 455);
    sim::key_input(VK_CONTROL, false);
    type("500");
    key(VK_RETURN);
    sim::game_frames(3);
    capture("typed_size.png");
    EXPECT_TRUE(config_has("ui_scale = 200")) << config();
    EXPECT_GE(log_find("[core] ui: scale 2.00 (screen 720 px high, UI size 200%)"), 0) << log_text();

    // Status line and toasts off: joining a server shows nothing at all.
    toggle_ui();
    auto set_status = core_export<uitest_set_status_fn>("uitest_set_status");
    ASSERT_TRUE(set_status);
    uitest_status st = {};
    st.own_id = 7;
    st.has_server = 1;
    snprintf(st.host, sizeof st.host, "example.test");
    st.port = 42870;
    snprintf(st.name, sizeof st.name, "driver7");
    set_status(&st);
    sim::game_frames(20);
    capture("joined_quietly.png");
    EXPECT_EQ(sim::capture_count(0, 0, 1280, 720, CLEAR, 2), 1280 * 720) << "no status line and no toast";
}

// A write that fails changes nothing: the control goes on showing what is in
// force, the page says the save failed, no "config refresh" follows and no
// config.ini.new is left behind.
TEST_F(settings, AFailedSaveShowsAndChangesNothing)
{
    write_config("name = driver\nautoconnect = 1\n");
    start();
    open_settings();
    const uint32_t accent = rgb(0xFF8C1A), red = rgb(0xF25A5A);
    capture("before.png");
    ASSERT_GT(sim::capture_count(390, 350, 422, 382, accent, 12), 300) << "the checkbox is ticked";
    EXPECT_EQ(sim::capture_count(370, 104, 900, 128, red, 40), 0);

    // Held open by another program that lets others only read it.
    std::string path = base + "config.ini";
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    click(406, 366);
    away();
    capture("failed.png");
    CloseHandle(h);
    EXPECT_GE(log_find("[core] ui: config autoconnect = 0 (write FAILED)"), 0) << log_text();
    EXPECT_GT(sim::capture_count(390, 350, 422, 382, accent, 12), 300) << "still ticked: auto-connect is still on";
    EXPECT_GT(sim::capture_count(370, 104, 900, 128, red, 40), 40) << "the page says the save failed";
    EXPECT_FALSE(fx::exists(base + "config.ini.new"));
    EXPECT_EQ(log_find("[core] cmd: config refresh"), -1) << log_text();
    EXPECT_EQ(config(), "name = driver\nautoconnect = 1\n");

    // Writable again: the same click saves, and the page says so.
    click(406, 366);
    away();
    capture("saved.png");
    EXPECT_TRUE(config_has("autoconnect = 0")) << config();
    EXPECT_LT(sim::capture_count(390, 350, 422, 382, accent, 12), 50) << "unticked";
    EXPECT_EQ(sim::capture_count(370, 104, 900, 128, red, 40), 0);
    EXPECT_EQ(log_count("[core] cmd: config refresh"), 1);
}

// A name of config.ini longer than 32 bytes is cut before the character that
// crosses them: the field holds 31 letters, so one more fits and is saved.
TEST_F(settings, ANameIsCutAtAWholeCharacter)
{
    const std::string a31(31, 'a');
    write_config("name = " + a31 + "\xC3\xB6\n");
    start();
    open_settings();
    click(700, 223);
    key(VK_END);
    type("b");
    click(764, 223);
    EXPECT_TRUE(config_has("name = " + a31 + "b")) << config();
}

} // namespace
