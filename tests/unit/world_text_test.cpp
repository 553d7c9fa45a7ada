// The pure parts of the damage, GPS and road-event commands: the GPS
// coordinate range, their arguments and their text forms.
#include <gtest/gtest.h>
#include <math.h>
#include <string>
#include "world/world_text.h"

TEST(world_damage, RepairWordsChooseParts)
{
    const std::string long_word(300, 'x');
    struct { std::string words; bool ok, fixable, truck, trailer, cargo; } cases[] = {
        { "", true, false, true, true, true },
        { "   ", true, false, true, true, true },
        { " fixable", true, true, true, true, true },
        { " fixable cargo", true, true, false, false, true },
        { " truck fixable", true, true, true, false, false },
        { " trailer cargo", true, false, false, true, true },
        { " truck truck", true, false, true, false, false },
        // Any other word: nothing chosen, never the full repair.
        { " unfixable", false }, // a whole word only
        { " unfixable truck", false },
        { " trucks", false },
        { " Truck", false },
        { " -1", false },
        { " nan", false },
        { " truck 2", false },
        { " " + long_word, false },
        { " averyveryveryveryveryverylongwordindeed truck", false },
    };
    for (auto &c : cases) {
        damage_repair_sel s = { true, false, true, false };
        EXPECT_EQ(damage_parse_repair(c.words.c_str(), &s), c.ok) << c.words;
        if (!c.ok) {
            EXPECT_TRUE(s.fixable_only && !s.truck && s.trailer && !s.cargo) << c.words << ": left as it was";
            continue;
        }
        EXPECT_EQ(s.fixable_only, c.fixable) << c.words;
        EXPECT_EQ(s.truck, c.truck) << c.words;
        EXPECT_EQ(s.trailer, c.trailer) << c.words;
        EXPECT_EQ(s.cargo, c.cargo) << c.words;
    }
}

TEST(world_damage, WheelListShowsSixteenWithinTheLine)
{
    char out[600];
    float fix[18], unfix[2] = { 0.5f, 0.25f };
    for (int i = 0; i < 18; i++)
        fix[i] = (float)i;
    damage_format_chassis_wheels(out, sizeof out, "truck", (void *)0x1234, 1.0f, 2.0f, fix, 18, unfix, 2);
    char pointer[32];
    snprintf(pointer, sizeof pointer, "%p", (void *)0x1234);
    std::string want = "[core] damage: truck " + std::string(pointer) +
                       " chassis 1.000+2.000 wheels [0.000+0.500 1.000+0.250";
    for (int i = 2; i < 16; i++)
        want += " " + std::to_string(i) + ".000+0.000";
    want += "] (fixable+unfixable)";
    EXPECT_EQ(std::string(out), want);

    damage_format_chassis_wheels(out, sizeof out, "trailer(slave)", nullptr, 0, 0, nullptr, 0, nullptr, 0);
    snprintf(pointer, sizeof pointer, "%p", (void *)nullptr);
    EXPECT_EQ(std::string(out), "[core] damage: trailer(slave) " + std::string(pointer) +
                                    " chassis 0.000+0.000 wheels [-] (fixable+unfixable)");

    // Wide values reach the 255-character cut before the 16th wheel.
    float big[16];
    for (float &b : big)
        b = 123456789.0f;
    damage_format_chassis_wheels(out, sizeof out, "truck", nullptr, 0, 0, big, 16, big, 16);
    std::string line = out;
    size_t open = line.find("wheels [") + 8, close = line.rfind(']');
    EXPECT_EQ(close - open, 255u) << line;
}

TEST(world_gps, CoordinatesScaleInRangeOnly)
{
    struct { double v; bool ok; int32_t scaled; } cases[] = {
        { 1.5, true, 384 },
        { 0.5 / 256, true, 1 },    // halves away from zero
        { -0.5 / 256, true, -1 },
        { 0.49 / 256, true, 0 },
        { -100.25, true, -25664 },
        { 8388607.0, true, 2147483392 },
        { -8388607.0, true, -2147483392 },
        { 8388607.5, false, 0 },   // would pass i32 after the scale
        { 1e12, false, 0 },
        { NAN, false, 0 },
        { INFINITY, false, 0 },
        { -INFINITY, false, 0 },
    };
    for (auto &c : cases) {
        int32_t out = 7;
        EXPECT_EQ(gps_scale_coord(c.v, &out), c.ok) << c.v;
        EXPECT_EQ(out, c.ok ? c.scaled : 7) << c.v;
    }
}

TEST(world_gps, VerbsTargetsAndModes)
{
    struct { const char *rest; gps_verb verb; const char *target; } verbs[] = {
        { "", GPS_STATUS, "" },       { "   ", GPS_STATUS, "" },       { " mark", GPS_MARK, "" },
        { " clear ", GPS_CLEAR, "" }, { " to 1 2", GPS_TO, "1 2" },     { " add mark", GPS_ADD, "mark" },
        { " tox", GPS_USAGE, "" },    { " clear now", GPS_USAGE, "" },  { " Mark", GPS_USAGE, "" },
    };
    for (auto &c : verbs) {
        const char *target = nullptr;
        EXPECT_EQ(gps_parse(c.rest, &target), c.verb) << c.rest;
        EXPECT_STREQ(target, c.target) << c.rest;
    }
    struct { const char *text; gps_target_kind kind; double x, y, z; } targets[] = {
        { "10 20", GPS_TARGET_POINT, 10, 7.5, 20 },
        { " 1 2 3 ", GPS_TARGET_POINT, 1, 2, 3 },
        { "mark", GPS_TARGET_MARK, 0, 0, 0 },
        { "mark x", GPS_TARGET_BAD, 0, 0, 0 },
        { "1", GPS_TARGET_BAD, 0, 0, 0 },
        { "1 2 3 4", GPS_TARGET_BAD, 0, 0, 0 },
        { "1 nan 2", GPS_TARGET_BAD, 0, 0, 0 },
        { "inf 2", GPS_TARGET_BAD, 0, 0, 0 },
        { "1 2 x", GPS_TARGET_BAD, 0, 0, 0 },
    };
    for (auto &c : targets) {
        double x = 0, y = 0, z = 0;
        EXPECT_EQ(gps_parse_target(c.text, 7.5, &x, &y, &z), c.kind) << c.text;
        if (c.kind == GPS_TARGET_POINT) {
            EXPECT_EQ(x, c.x) << c.text;
            EXPECT_EQ(y, c.y) << c.text;
            EXPECT_EQ(z, c.z) << c.text;
        }
    }
    const char *names[] = { "?", "none", "job", "dock", "service", "garage", "custom", "job2", "mode7", "?" };
    for (int mode = -1; mode <= 8; mode++) {
        EXPECT_STREQ(gps_mode_name(mode), names[mode + 1]) << mode;
        EXPECT_EQ(gps_route_active(mode), mode >= 1 && mode <= 7) << mode;
    }
}

TEST(world_gps, PointsGoBeforeTheDestinationOrLast)
{
    gps_node nodes[4] = { { 1, 10, 0, 0, 0 }, { 1, 20, 0, 0, 0 } };
    gps_node n = { 1, 99, 0, 0, 0 };
    EXPECT_EQ(gps_insert_point(nodes, 2, &n, true), 3u);
    EXPECT_EQ(nodes[0].index, 10u);
    EXPECT_EQ(nodes[1].index, 99u);
    EXPECT_EQ(nodes[2].index, 20u);
    EXPECT_EQ(gps_insert_point(nodes, 3, &n, false), 4u);
    EXPECT_EQ(nodes[3].index, 99u);
    gps_node empty[1];
    EXPECT_EQ(gps_insert_point(empty, 0, &n, true), 1u);
    EXPECT_EQ(empty[0].index, 99u);
}

TEST(world_road_events, ApplyFieldsAndTheirRefusals)
{
    roadevents_apply_args a;
    // "ab": a (index 10) -> 11, b (index 11) -> 12 x 38.
    ASSERT_TRUE(roadevents_parse_apply("ab 1a 3f800000 0 ffffffff bc614e 7", &a));
    EXPECT_STREQ(a.name, "ab");
    EXPECT_EQ(a.token, 11u + 12u * 38u);
    EXPECT_EQ(a.seed, 0x1au);
    EXPECT_EQ(a.block[0], 0x3f800000u);
    EXPECT_EQ(a.block[1], 0u);
    EXPECT_EQ(a.block[2], 0xffffffffu);
    EXPECT_EQ(a.road, 0xbc614eu);
    EXPECT_EQ(a.uid, 7u);
    const char *bad[] = {
        "ab 1 2 3 4 5",               // six fields
        "Ab 1 2 3 4 5 6",             // upper case
        "abcdefghijklm 1 2 3 4 5 6",  // 13 characters
        "a.b 1 2 3 4 5 6",
        "ab 100000000 2 3 4 5 6",     // seed past u32
        "ab 1 2 3 4 nan 6",
        "ab 1 2 3 4 5 -6",
        "",
    };
    for (const char *t : bad)
        EXPECT_FALSE(roadevents_parse_apply(t, &a)) << t;
}

TEST(world_road_events, ListingLinesAndTheReplayLine)
{
    roadevent_view v = {};
    v.index = 3;
    v.token = 11u + 37u * 38u; // "a_"
    v.road = 0x1234;
    v.type = 3;
    v.loaded = 1;
    v.seed = 0xbeef;
    v.block[0] = 0x3fc00000; // 1.5
    v.block[1] = 2;
    v.block[2] = 0xffffffff;
    v.uid = 42;
    v.set = -1;
    v.flag = 1;
    char out[512];
    roadevent_format_line(out, sizeof out, &v);
    EXPECT_STREQ(out, "[core] roadevent 3: 'a_' (token 0000000000000589) road 4660 (type 3, loaded 1) seed 0000beef "
                      "block 3fc00000 00000002 ffffffff (f 1.500) uid 42 set -1 flag 1");
    roadevent_format_replay(out, sizeof out, &v);
    EXPECT_STREQ(out, "[core] roadevent 3: as command: roadevents apply a_ beef 3fc00000 2 ffffffff 1234 2a");
    // A zero digit prints "?" in its place; the rest of the name stays.
    v.token = 11u + 0u * 38u + 12u * 38u * 38u; // a, digit 0, b
    roadevent_format_line(out, sizeof out, &v);
    EXPECT_STREQ(out, "[core] roadevent 3: 'a?b' (token 00000000000043bb) road 4660 (type 3, loaded 1) seed 0000beef "
                      "block 3fc00000 00000002 ffffffff (f 1.500) uid 42 set -1 flag 1");
    roadevent_format_replay(out, sizeof out, &v);
    EXPECT_STREQ(out, "[core] roadevent 3: as command: roadevents apply a?b beef 3fc00000 2 ffffffff 1234 2a");
    char name[13];
    roadevents_token_name(0, name);
    EXPECT_STREQ(name, "?");
}

TEST(world_road_events, BoxCentreAndHorizontalDistance)
{
    const float min[3] = { 100, 10, 200 }, max[3] = { 140, 14, 260 };
    roadevents_box b = roadevents_box_from(min, max, 120 - 30, 230 + 40);
    EXPECT_EQ(b.centre[0], 120);
    EXPECT_EQ(b.centre[1], 12);
    EXPECT_EQ(b.centre[2], 230);
    EXPECT_EQ(b.distance, 50);
    EXPECT_EQ(b.width_x, 40);
    EXPECT_EQ(b.width_z, 60);
}
