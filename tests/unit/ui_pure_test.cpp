// The UI's pure logic: scale and layout maths, the command queue, toasts,
// avatars, text cutting and config.ini lines.
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include "ui/ui_pure.h"

TEST(ui_pure, ScaleFollowsTheScreenAboveFullHdAndTheUiSize)
{
    struct {
        float h, size, want;
    } rows[] = { { 720, 1.0f, 1.0f }, { 1080, 1.0f, 1.0f }, { 1440, 1.0f, 1.35f },
                 { 2160, 0.6f, 1.2f }, { 2160, 2.0f, 4.0f }, { 1080, 1.37f, 1.35f } };
    for (auto &r : rows)
        EXPECT_FLOAT_EQ(ui_compute_scale(r.h, r.size), r.want) << r.h << " " << r.size;
}

TEST(ui_pure, UiScaleSettingIsClampedAndIgnoresNonsense)
{
    struct {
        const char *value;
        bool applies;
        float size;
    } rows[] = { { "0", false, 0 }, { "-20", false, 0 }, { "big", false, 0 }, { "", false, 0 },
                 { "250", true, 2.0f }, { "40", true, 0.6f }, { "135", true, 1.35f },
                 // Digits only: a percent sign or a fraction is not understood.
                 { "100%", false, 0 }, { "1.25", false, 0 }, { "+100", false, 0 },
                 // Beyond the range of an int: still the largest size, never wrapped to a negative one.
                 { "3000000000", true, 2.0f }, { "99999999999999999999", true, 2.0f } };
    for (auto &r : rows) {
        float size = -1;
        EXPECT_EQ(ui_parse_scale_percent(r.value, &size), r.applies) << r.value;
        if (r.applies) {
            EXPECT_FLOAT_EQ(size, r.size) << r.value;
        }
    }
    EXPECT_FLOAT_EQ(ui_clamp_size(0.1f), 0.6f);
    EXPECT_FLOAT_EQ(ui_clamp_size(9), 2.0f);
}

TEST(ui_pure, MenuSizeAndFreshness)
{
    float w, h;
    ui_menu_size(1280, 720, 1.0f, &w, &h);
    EXPECT_FLOAT_EQ(w, 1060);
    EXPECT_FLOAT_EQ(h, 640);
    ui_menu_size(800, 500, 1.0f, &w, &h);
    EXPECT_FLOAT_EQ(w, 760);
    EXPECT_FLOAT_EQ(h, 480);
    EXPECT_FALSE(ui_fresh(0, 100));
    EXPECT_TRUE(ui_fresh(1000, 2499));
    EXPECT_FALSE(ui_fresh(1000, 2500));
}

TEST(ui_pure, CommandQueueKeepsOrderDropsWhenFullAndJoinsWhole)
{
    static ui_command_ring q;
    memset(&q, 0, sizeof q);
    for (int i = 0; i < 16; i++)
        EXPECT_TRUE(ui_ring_push(&q, ("line " + std::to_string(i)).c_str()));
    EXPECT_FALSE(ui_ring_push(&q, "seventeenth"));
    static char out[DM_UI_QUEUE_SLOTS][DM_UI_LINE_MAX];
    ASSERT_EQ(ui_ring_take(&q, out), 16);
    for (int i = 0; i < 16; i++)
        EXPECT_EQ(std::string(out[i]), "line " + std::to_string(i));
    EXPECT_EQ(q.count, 0);

    // A long line is cut to 255 characters.
    std::string longer(400, 'x');
    ui_ring_push(&q, longer.c_str());
    EXPECT_EQ(strlen(q.lines[0]), 255u);

    // A join of three lines goes in whole or not at all.
    for (int i = 1; i < 14; i++)
        ui_ring_push(&q, "filler");
    ASSERT_EQ(q.count, 14);
    const char *join[3] = { "net disconnect", "net connect h 1 me", "config refresh" };
    EXPECT_FALSE(ui_ring_push_all(&q, join, 3));
    EXPECT_EQ(q.count, 14) << "no half-posted join";
    EXPECT_TRUE(ui_ring_push_all(&q, join + 1, 2));
    EXPECT_EQ(std::string(q.lines[15]), "config refresh");
}

TEST(ui_pure, ToastRingDropsTheOldestAndExpires)
{
    ui_toast_ring r = {};
    for (int i = 0; i < 6; i++)
        ui_toast_add(&r, 0, nullptr, ("t" + std::to_string(i)).c_str(), i * 0.5);
    ASSERT_EQ(r.count, 5);
    EXPECT_STREQ(r.items[0].text, "t1");
    EXPECT_STREQ(r.items[4].text, "t5");
    ui_toast_expire(&r, 6.0); // t1 (0.5) and t2 (1.0) are 5 s old
    ASSERT_EQ(r.count, 3);
    EXPECT_STREQ(r.items[0].text, "t3");
    EXPECT_FLOAT_EQ(ui_toast_alpha(0), 0);
    EXPECT_FLOAT_EQ(ui_toast_alpha(0.175), 0.5f);
    EXPECT_FLOAT_EQ(ui_toast_alpha(2), 1);
    EXPECT_NEAR(ui_toast_alpha(4.825), 0.5f, 1e-5);
    EXPECT_FLOAT_EQ(ui_toast_alpha(5.5), 0);
    std::string big(300, 'y');
    ui_toast_add(&r, 0, nullptr, big.c_str(), 0);
    EXPECT_EQ(strlen(r.items[r.count - 1].text), 119u);
}

TEST(ui_pure, ToastWatcherRaisesOneConnectAndRosterChanges)
{
    static ui_toast_watch w;
    memset(&w, 0, sizeof w);
    static ui_status s;
    memset(&s, 0, sizeof s);
    ui_toast_event ev[65];
    EXPECT_EQ(ui_toast_watch_update(&w, &s, 1, ev, 65), 0) << "first snapshot: nothing";

    s.own_id = 9;
    s.player_count = 2;
    s.ids[0] = 1, s.ids[1] = 2;
    strcpy(s.names[0], "a");
    strcpy(s.names[1], "b");
    ASSERT_EQ(ui_toast_watch_update(&w, &s, 2, ev, 65), 1);
    EXPECT_EQ(ev[0].kind, DM_UI_EV_CONNECTED) << "the players already there raise none";
    EXPECT_EQ(ui_toast_watch_update(&w, &s, 2, ev, 65), 0) << "same generation";

    s.ids[0] = 3;
    strcpy(s.names[0], "c");
    ASSERT_EQ(ui_toast_watch_update(&w, &s, 3, ev, 65), 2);
    EXPECT_EQ(ev[0].kind, DM_UI_EV_JOINED);
    EXPECT_STREQ(ev[0].name, "c");
    EXPECT_EQ(ev[1].kind, DM_UI_EV_LEFT);
    EXPECT_STREQ(ev[1].name, "a") << "the previous name";

    s.own_id = 0;
    ASSERT_EQ(ui_toast_watch_update(&w, &s, 4, ev, 65), 1);
    EXPECT_EQ(ev[0].kind, DM_UI_EV_DISCONNECTED);
}

TEST(ui_pure, AvatarInitialAndTextCutting)
{
    char c[5];
    struct {
        const char *name, *want;
    } rows[] = { { "", "?" }, { "zoe", "Z" }, { "\xc3\xa9lise", "\xc3\xa9" }, { "\xe2\x82\xac" "x", "\xe2\x82\xac" },
                 { "9lives", "9" } };
    for (auto &r : rows) {
        ui_avatar_initial(r.name, c);
        EXPECT_STREQ(c, r.want) << r.name;
    }
    EXPECT_EQ(ui_fnv1a(""), 0x811C9DC5u);
    EXPECT_EQ(ui_fnv1a("a"), 0xE40C292Cu);

    // Width = bytes here; the cut never splits a UTF-8 character.
    auto bytes = [](const char *t, void *) { return (float)strlen(t); };
    char out[256];
    ui_clip_text("short", 10, bytes, nullptr, out, sizeof out);
    EXPECT_STREQ(out, "short");
    ui_clip_text("ab\xc3\xa9\xc3\xa9xyz", 8, bytes, nullptr, out, sizeof out);
    EXPECT_STREQ(out, "ab\xc3\xa9...");
    ui_clip_text("abcdef", 2, bytes, nullptr, out, sizeof out);
    EXPECT_STREQ(out, "") << "nothing fits";
    EXPECT_EQ(ui_rgb(0xFF8C1A), 0xFF1A8CFFu);
    EXPECT_EQ(ui_fade(0xFF123456, 0.5f) >> 24, 127u);
}

TEST(ui_pure, StatusLineText)
{
    ui_status s = {};
    char t[160];
    uint32_t col;
    ui_status_text(&s, "x", t, sizeof t, &col);
    EXPECT_STREQ(t, "Single player");
    EXPECT_EQ(col, DM_UI_MUTED);
    s.net_active = 1;
    ui_status_text(&s, "x", t, sizeof t, &col);
    EXPECT_STREQ(t, "Connecting...");
    s.own_id = 4;
    ui_status_text(&s, "srv", t, sizeof t, &col);
    EXPECT_STREQ(t, "srv  -  1 player");
    s.player_count = 2;
    ui_status_text(&s, "srv", t, sizeof t, &col);
    EXPECT_STREQ(t, "srv  -  3 players");
    EXPECT_EQ(col, DM_UI_GREEN);
}
