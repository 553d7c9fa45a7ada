// The core's UI pages drawn into the overlay: the menu and its pages, the
// status line, toasts, kick and ban notices, draw callbacks and fonts, with
// the real core or a test build of it that scripts its network values
// (overlay_fixture.h).
#include "host/overlay_fixture.h"
#include "ui/ui_test_core.h"

namespace {

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
    sim::game_frames(80); // two polls see the file alike
    ASSERT_GE(log_find("[host] core generation 2 loaded"), 0) << log_text();
    auto fonts2 = core_export<uitest_fonts_fn>("uitest_fonts");
    ASSERT_TRUE(fonts2);
    int n2 = fonts2(names2, sizeof names2);
    EXPECT_EQ(n2, n1);
    EXPECT_STREQ(names2, names1);
    EXPECT_EQ(log_count("[core] ui: font dm-regular ("), 1) << "found in the atlas, not added again";
    EXPECT_EQ(log_count("[core] ui: scale 1.00"), 2) << "theme applied once per core";
}

/* Without an icon font (under Wine, on older Windows) the icons are left out
 * and the texts laid out as if there were none; with one (a free font stands
 * in for it) the icons keep their places. Lit pixels against the texts'
 * widths as the UI measures them: a missing-glyph mark, or the room kept for
 * an icon, widens the span. */
class icons : public scripted, public ::testing::WithParamInterface<bool> {
protected:
    float measured(int font, float size, const char *text)
    {
        auto measure = core_export<uitest_measure_fn>("uitest_measure");
        auto result = core_export<uitest_measured_fn>("uitest_measured");
        if (!measure || !result)
            return -1;
        measure(font, size, text);
        sim::game_frames(2);
        return result();
    }
    /* The first and last column in the box whose pixel is brighter than
     * min_sum (the sum of its three channels); false when none is. */
    bool lit_span(int x0, int y0, int x1, int y1, int min_sum, int *left, int *right)
    {
        *left = x1, *right = -1;
        for (int y = y0; y < y1; y++)
            for (int x = x0; x < x1; x++) {
                uint32_t p = sim::capture_pixel(x, y);
                if ((int)(p & 0xFF) + (int)((p >> 8) & 0xFF) + (int)((p >> 16) & 0xFF) > min_sum) {
                    *left = x < *left ? x : *left;
                    *right = x > *right ? x : *right;
                }
            }
        return *right >= 0;
    }
};

TEST_P(icons, LeftOutWithoutAnIconFontKeptWithOne)
{
    bool icon_font = GetParam();
    start("ui_test_core.dll", true, icon_font ? "segmdl2.ttf" : nullptr);
    set_status();
    st.own_id = 7;
    st.has_server = 1;
    snprintf(st.host, sizeof st.host, "example.test");
    st.port = 42870;
    snprintf(st.name, sizeof st.name, "tester");
    set_status();
    sim::game_frames(30);

    // A toast: its body is the text and 20 px on either side, or 66 px more
    // than the text with the icon; no glyph in the toast's green.
    const char *toast = "Connected to example.test";
    float tw = measured(1, 16, toast);
    ASSERT_GT(tw, 100);
    capture(icon_font ? "icons_toast.png" : "no_icons_toast.png");
    int left = -1, right = -1;
    for (int x = 0; x < 1280; x++)
        if (close_to(sim::capture_pixel(x, 70), rgb(0x181B22), 6)) {
            left = left < 0 ? x : left;
            right = x;
        }
    float body = (float)(right - left + 1) + 2; // the border's columns
    EXPECT_NEAR(body, (icon_font ? 66 : 40) + tw, 3) << left << ".." << right;
    int green = sim::capture_count(left, 48, right + 1, 92, rgb(0x4DD96B), 40);
    if (icon_font)
        EXPECT_GT(green, 10) << "the icon in the toast's colour";
    else
        EXPECT_EQ(green, 0) << "no mark in the toast's colour";

    // The menu: the current row (Servers) shows the accent only in its bar;
    // the Settings label starts where its icon would be, or after it.
    toggle_ui();
    sim::game_frames(2);
    capture(icon_font ? "icons_menu.png" : "no_icons_menu.png");
    int accent = sim::capture_count(130, 144, 328, 188, rgb(0xFF8C1A), 40);
    if (icon_font)
        EXPECT_GT(accent, 10) << "the current row's icon";
    else
        EXPECT_EQ(accent, 0) << "nothing in the accent but the bar";
    float label = measured(0, 17, "Settings");
    ASSERT_TRUE(lit_span(127, 250, 328, 282, 250, &left, &right));
    EXPECT_NEAR(left, 122 + 18, 2) << "the icon or the label";
    EXPECT_NEAR(right - left + 1, (icon_font ? 32 : 0) + label, 4) << left << ".." << right;

    // A button: "Add server" (838..988 x 74..112) is its label alone,
    // centred; with the icon, the icon, two blanks and the label.
    float bw = measured(1, 16, icon_font ? "\xee\x9c\x90  Add server" : "Add server");
    ASSERT_TRUE(lit_span(840, 78, 986, 108, 330, &left, &right));
    EXPECT_NEAR(right - left + 1, bw, 4) << left << ".." << right;
    EXPECT_NEAR(left - 838, 988 - (right + 1), 3) << "centred";
}

INSTANTIATE_TEST_SUITE_P(fonts, icons, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &i) { return i.param ? "icon_font" : "no_icon_font"; });

TEST_F(scripted, RunsWithoutTheFonts)
{
    start("ui_test_core.dll", false);
    EXPECT_GE(log_find("[core] ui: font " + root + "\\windows\\Fonts\\segoeui.ttf missing"), 0) << log_text();
    toggle_ui();
    capture("menu_default_font.png");
    EXPECT_TRUE(close_to(sim::capture_pixel(200, 350), rgb(0x171A20), 3)) << "the menu still draws";
}

} // namespace
