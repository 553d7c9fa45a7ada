// Props' pure logic: the floor sector rule, relative placements and their
// inverse, yaw turns and the yaw, the plane fit, the truck offset, the
// checks of positions, quaternions and paths, and the texts of the model
// command and the catalog.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>
#include <string>
#include "base/dm_token.h"
#include "props/props_math.h"
#include "props/props_text.h"

namespace {

placement at(double x, double y, double z, float qw = 1, float qx = 0, float qy = 0, float qz = 0)
{
    double w[3] = { x, y, z };
    float q[4] = { qw, qx, qy, qz };
    placement p;
    return *props_placement_from_world(&p, w, q);
}

TEST(props_placement, FloorSectorRule)
{
    struct {
        double x, z;
        int16_t sx, sz;
        float lx, lz;
    } cases[] = {
        { 0, 0, 0, 0, 0, 0 },           { -0.5, 0, -1, 0, 511.5f, 0 },    { 511.75, 512, 0, 1, 511.75f, 0 },
        { -512, -1024.25, -1, -3, 0, 511.75f }, { 5000.5, -5000.5, 9, -10, 392.5f, 119.5f },
    };
    for (auto &c : cases) {
        placement p = at(c.x, 7.25, c.z);
        EXPECT_EQ(p.sector_x, c.sx) << c.x;
        EXPECT_EQ(p.sector_z, c.sz) << c.z;
        EXPECT_FLOAT_EQ(p.x, c.lx) << c.x;
        EXPECT_FLOAT_EQ(p.z, c.lz) << c.z;
        EXPECT_FLOAT_EQ(p.y, 7.25f);
        EXPECT_GE(p.x, 0.0f);
        EXPECT_LT(p.x, 512.0f);
    }
}

TEST(props_placement, RelativeAndComposeAreInverse)
{
    const float s = sinf(0.6f), c = cosf(0.6f);
    struct {
        placement frame, target;
    } cases[] = {
        { at(10, 2, 10), at(12, 3, 7) },
        // a turned frame across a sector edge
        { at(511, 50, -2, c, 0, s, 0), at(514.5, 51.5, -6, 1, 0, 0, 0) },
        // tilted frame, turned target, far from the origin
        { at(-200000.25, 100, 300000.5, 0.9238795f, 0.3826834f, 0, 0), at(-199990, 104, 300003, c, 0, s, 0) },
    };
    for (auto &k : cases) {
        props_relative rel;
        placement_relative(&rel, &k.frame, &k.target);
        EXPECT_EQ(rel.zero, 0.0f);
        placement back;
        props_compose(&back, &k.frame, &rel);
        double a[3], b[3];
        placement_world(&back, a);
        placement_world(&k.target, b);
        for (int i = 0; i < 3; i++)
            EXPECT_NEAR(a[i], b[i], 1e-3) << i;
        // the same rotation (up to sign)
        double dot = back.qw * k.target.qw + back.qx * k.target.qx + back.qy * k.target.qy + back.qz * k.target.qz;
        EXPECT_NEAR(fabs(dot), 1.0, 1e-5);
    }
}

TEST(props_placement, RelativeOffsetIsRightUpBackInTheFrame)
{
    // A frame turned 90 degrees about y: its right axis is world -z... check
    // by composing a known offset and reading it back.
    const float h = 3.1415927f / 4;
    placement frame = at(100, 0, 100, cosf(h), 0, sinf(h), 0);
    props_relative rel = { 1, 2, -3, 0, 1, 0, 0, 0 };
    placement p;
    props_compose(&p, &frame, &rel);
    double w[3];
    placement_world(&p, w);
    // R(90 deg about y) (1, 2, -3) = (-3, 2, -1)
    EXPECT_NEAR(w[0], 100 - 3, 1e-4);
    EXPECT_NEAR(w[1], 2, 1e-4);
    EXPECT_NEAR(w[2], 100 - 1, 1e-4);
    props_relative back;
    placement_relative(&back, &frame, &p);
    EXPECT_NEAR(back.x, 1, 1e-4);
    EXPECT_NEAR(back.y, 2, 1e-4);
    EXPECT_NEAR(back.z, -3, 1e-4);
}

TEST(props_rotation, YawTurnsAndYawReads)
{
    float q[4] = { 1, 0, 0, 0 };
    quat_rotate_yaw(q, 90);
    EXPECT_NEAR(q[0], cos(M_PI / 4), 1e-6);
    EXPECT_NEAR(q[2], sin(M_PI / 4), 1e-6);
    EXPECT_EQ(q[1], 0.0f);
    EXPECT_EQ(q[3], 0.0f);
    struct {
        float deg;
        double yaw;
    } cases[] = { { 0, 0 }, { 90, M_PI / 2 }, { -45, -M_PI / 4 }, { 180, M_PI }, { 30, M_PI / 6 } };
    for (auto &c : cases) {
        float r[4] = { 1, 0, 0, 0 };
        quat_rotate_yaw(r, c.deg);
        EXPECT_NEAR(fabs(props_yaw(r)), fabs(c.yaw), 1e-5) << c.deg;
    }
}

// Typed attach numbers: ahead becomes back, negated; a yaw turns the
// identity about the vertical; a yaw that is not finite is refused and
// leaves the offset as it was.
TEST(props_rotation, TypedAttachOffset)
{
    const float h = (float)cos(M_PI / 4), nan = NAN, inf = INFINITY;
    struct {
        float ahead, right, up, yaw;
        bool ok;
        props_relative want;
    } cases[] = {
        { 2, 1, 3, 0, true, { 1, 3, -2, 0, 1, 0, 0, 0 } },
        { -4, 0, 0.5f, 90, true, { 0, 0.5f, 4, 0, h, 0, h, 0 } },
        { 0, 0, 0, -90, true, { 0, 0, 0, 0, h, 0, -h, 0 } },
        { 1, 1, 1, nan, false, { 7, 7, 7, 7, 7, 7, 7, 7 } },
        { 1, 1, 1, inf, false, { 7, 7, 7, 7, 7, 7, 7, 7 } },
    };
    for (auto &c : cases) {
        props_relative rel = { 7, 7, 7, 7, 7, 7, 7, 7 };
        EXPECT_EQ(props_typed_relative(c.ahead, c.right, c.up, c.yaw, &rel), c.ok) << c.yaw;
        const float *got = &rel.x, *want = &c.want.x;
        for (int k = 0; k < 8; k++)
            EXPECT_NEAR(got[k], want[k], 1e-6) << c.yaw << " float " << k;
    }
}

TEST(props_checks, PositionsAndQuaternions)
{
    struct {
        double p[3];
        bool ok;
    } positions[] = {
        { { 0, 0, 0 }, true },          { { 16777215, -1e30, -16777215 }, true }, { { 16777216, 0, 0 }, false },
        { { 0, 0, -16777216 }, false }, { { NAN, 0, 0 }, false },                 { { 0, INFINITY, 0 }, false },
        { { 0, 1e39, 0 }, false },
    };
    for (auto &c : positions)
        EXPECT_EQ(props_position_ok(c.p), c.ok) << c.p[0] << " " << c.p[1] << " " << c.p[2];
    struct {
        float q[4];
        bool ok;
    } quats[] = {
        { { 1, 0, 0, 0 }, true },       { { 0.5f, 0.5f, 0.5f, 0.5f }, true }, { { 1.009f, 0, 0, 0 }, true },
        { { 1.02f, 0, 0, 0 }, false },  { { 0, 0, 0, 0 }, false },            { { NAN, 0, 0, 1 }, false },
        { { 0.98f, 0, 0, 0 }, false },
    };
    for (auto &c : quats) {
        float q[4];
        memcpy(q, c.q, sizeof q);
        EXPECT_EQ(props_quat_take(q), c.ok) << c.q[0];
        if (c.ok) {
            EXPECT_NEAR(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3], 1.0, 1e-6);
        }
    }
    // attach offsets: the one bound a sender keeps and a receiver holds, 100 m on each axis
    struct {
        float v[3];
        bool ok;
    } offsets[] = {
        { { 0, 0, 0 }, true },         { { 100, -100, 100 }, true }, { { 0, 0, -100.01f }, false },
        { { 100.01f, 0, 0 }, false },  { { 0, NAN, 0 }, false },     { { 0, 0, INFINITY }, false },
    };
    for (auto &c : offsets)
        EXPECT_EQ(props_attach_offset_ok(c.v), c.ok) << c.v[0] << " " << c.v[1] << " " << c.v[2];
}

TEST(props_levelling, PlaneFit)
{
    struct {
        double X[2], Z[2], h[4], yaw;
        double height, tilt, gap;
    } cases[] = {
        // four equal corners: no tilt, no gap, the heading kept
        { { -1, 1 }, { -2, 2 }, { 5, 5, 5, 5 }, 0.7, 5, 0, 0 },
        // a slope of 0.5 along x: 26.565 degrees
        { { -1, 1 }, { -1, 1 }, { -0.5, -0.5, 0.5, 0.5 }, 0, 0, 26.565, 0 },
        // a zero-width box in x: no slope along x, no division by zero
        { { 0, 0 }, { -1, 1 }, { 1, 1, 3, 3 }, 0, 2, 0, 1 },
        // one raised corner: gap a quarter of it
        { { -1, 1 }, { -1, 1 }, { 0, 0, 0, 1 }, 0, 0.25, 19.471, 0.25 },
        // an off-centre box: the height at the origin, not at the centre
        { { 0, 2 }, { 0, 2 }, { 1, 1, 2, 2 }, 0, 1, 26.565, 0 },
    };
    for (auto &c : cases) {
        float rot[4];
        double tilt, gap;
        double h = props_plane_fit(c.X, c.Z, c.h, c.yaw, rot, &tilt, &gap);
        EXPECT_NEAR(h, c.height, 1e-6);
        EXPECT_NEAR(tilt, c.tilt, 1e-3);
        EXPECT_NEAR(gap, c.gap, 1e-9);
        EXPECT_NEAR(rot[0] * rot[0] + rot[1] * rot[1] + rot[2] * rot[2] + rot[3] * rot[3], 1.0, 1e-6);
        if (c.tilt == 0) {
            EXPECT_NEAR(props_yaw(rot), c.yaw, 1e-6);
            EXPECT_NEAR(rot[1], 0, 1e-7);
            EXPECT_NEAR(rot[3], 0, 1e-7);
        }
    }
}

TEST(props_levelling, BoxValidity)
{
    struct {
        float mn[3], mx[3];
        bool ok;
    } cases[] = {
        { { 0, 0, 0 }, { 0, 0, 0 }, true },      { { -1, 0, -1 }, { 1, 2, 1 }, true },
        { { 1, 0, 0 }, { 0, 1, 1 }, false },     { { -250, 0, 0 }, { 250.5f, 1, 1 }, false },
        { { NAN, 0, 0 }, { 1, 1, 1 }, false },
    };
    for (auto &c : cases)
        EXPECT_EQ(props_box_valid(c.mn, c.mx), c.ok);
}

TEST(props_levelling, TruckOffsetPoint)
{
    const float h = 3.1415927f / 4; // 90 degrees about y
    struct {
        placement truck;
        double ahead, right, up;
        double want[3];
    } cases[] = {
        // unturned: ahead is -z, right is +x
        { at(100, 10, 100), 10, 2, 1, { 102, 11, 90 } },
        // turned 90 degrees about y: ahead -x, right -z
        { at(100, 10, 100, cosf(h), 0, sinf(h), 0), 10, 2, 0, { 90, 10, 98 } },
        // up along the world's vertical even for a pitched truck
        { at(0, 0, 0, cosf(0.2f), sinf(0.2f), 0, 0), 0, 0, 3, { 0, 3, 0 } },
    };
    for (auto &c : cases) {
        double out[3];
        props_offset_point(&c.truck, c.ahead, c.right, c.up, out);
        for (int i = 0; i < 3; i++)
            EXPECT_NEAR(out[i], c.want[i], 1e-4) << i;
    }
}

TEST(props_paths, TextRules)
{
    std::string long160 = "/" + std::string(155, 'a') + ".pmd"; // 160 bytes: no room for a terminator
    std::string long159 = "/" + std::string(154, 'a') + ".pmd";
    struct {
        std::string path;
        bool ok;
    } cases[] = {
        { "/model/a.pmd", true },   { "/model/A.PMD", true }, { "model/a.pmd", false }, { "/.pmd", true },
        { "/pmd", false },          { "/a/../b.pmd", false }, { "/a..pmd", false },     { "/a.pmx", false },
        { "/a\tb.pmd", false },     { "/a\x7f.pmd", false },  { long159, true },        { long160, false },
        { "", false },
    };
    for (auto &c : cases)
        EXPECT_EQ(props_path_text_ok(c.path.c_str()), c.ok) << c.path;
    char out[PROPS_PATH_MAX + 1];
    ASSERT_TRUE(props_collision_path("/m/box.PMD", out));
    EXPECT_STREQ(out, "/m/box.PMc");
    EXPECT_FALSE(props_collision_path("/m/box.pmx", out));
    EXPECT_FALSE(props_collision_path("pmd", out));
}

TEST(props_names, TokenTextAndModes)
{
    // The missing-descriptor line names the look and variant by the core's one token rule.
    struct {
        uint64_t token;
        const char *text;
    } cases[] = { { 0, "" }, { 1, "0" }, { 11, "a" }, { 38 * 11 + 11, "aa" }, { 38 * 11, "?a" } };
    for (auto &c : cases) {
        char t[DM_TOKEN_TEXT_SIZE];
        token_to_text(c.token, t, sizeof t);
        EXPECT_STREQ(t, c.text) << c.token;
    }
    EXPECT_EQ(props_light_mode_parse("HEADLIGHTS"), 3);
    EXPECT_EQ(props_light_mode_parse("!Beacons"), 6);
    EXPECT_EQ(props_light_mode_parse("blink"), -1);
    EXPECT_STREQ(props_light_mode_name(7), "default");
    EXPECT_STREQ(props_part_name(3), "trailer");
}

TEST(props_text, SubCommandsInOrder)
{
    struct {
        const char *text;
        props_sub sub;
        const char *rest;
    } cases[] = {
        { "", PROPS_LIST, "" },                    { "   list", PROPS_LIST, "" },
        { "list x", PROPS_UNKNOWN, "list x" },      { "spawn /a.pmd 5", PROPS_SPAWN, "/a.pmd 5" },
        { "spawn", PROPS_UNKNOWN, "spawn" },        { "despawn all", PROPS_DESPAWN_ALL, "" },
        { "despawn all 2", PROPS_DESPAWN, "all 2" }, { "despawn 3", PROPS_DESPAWN, "3" },
        { "ray", PROPS_RAY, "" },                   { "ray 20", PROPS_RAY, "20" },
        { "raymask 0", PROPS_RAYMASK, "0" },        { "rays", PROPS_UNKNOWN, "rays" },
        { "collide on", PROPS_COLLIDE_ON, "" },     { "collide maybe", PROPS_UNKNOWN, "collide maybe" },
        { "layouts", PROPS_LAYOUTS, "" },           { "save base", PROPS_SAVE, "base" },
        { "draw off", PROPS_DRAW_OFF, "" },         { "light 1 on", PROPS_LIGHT, "1 on" },
        { "level last", PROPS_LEVEL, "last" },      { "snap 2", PROPS_SNAP, "2" },
    };
    for (auto &c : cases) {
        const char *rest = nullptr;
        EXPECT_EQ(props_match(c.text, &rest), c.sub) << c.text;
        EXPECT_STREQ(rest, c.rest) << c.text;
    }
}

TEST(props_text, SpawnAndAttachArguments)
{
    props_spawn_args s;
    EXPECT_FALSE(props_parse_spawn("", &s));
    ASSERT_TRUE(props_parse_spawn("/a.pmd", &s));
    EXPECT_EQ(s.ahead, 10.0f);
    EXPECT_EQ(s.right, 0.0f);
    EXPECT_STREQ(s.look, "default");
    ASSERT_TRUE(props_parse_spawn("cone 4 -2 red big", &s));
    EXPECT_STREQ(s.name, "cone");
    EXPECT_EQ(s.ahead, 4.0f);
    EXPECT_EQ(s.right, -2.0f);
    EXPECT_STREQ(s.variant, "big");
    struct {
        const char *text;
        bool ok;
        int fields;
        uint8_t part;
        bool roof;
        uint16_t player;
    } cases[] = {
        { "last", false, 1, 0, false, 0 },          { "last truck", true, 2, 1, false, 0 },
        { "3 ROOF", true, 2, 2, true, 0 },          { "3 cabin@7 1 2 3 90", true, 6, 2, false, 7 },
        { "3 wheel", true, 2, 0, false, 0 },        { "3 truck 2", true, 3, 1, false, 0 },
        { "3 truck@65535 2", true, 3, 1, false, 65535 }, { "3 truck@1", true, 2, 1, false, 1 },
        // a player that is not a number in 1..65535 is a usage error, never our truck
        { "3 trailer@70000", false, 2, 0, false, 0 }, { "3 truck@abc", false, 2, 0, false, 0 },
        { "3 truck@0", false, 2, 0, false, 0 },       { "3 truck@", false, 2, 0, false, 0 },
        { "3 truck@7x", false, 2, 0, false, 0 },      { "3 truck@+7", false, 2, 0, false, 0 },
        { "3 truck@065536", false, 2, 0, false, 0 },
    };
    for (auto &c : cases) {
        props_attach_args a;
        EXPECT_EQ(props_parse_attach(c.text, &a), c.ok) << c.text;
        if (!c.ok)
            continue;
        EXPECT_EQ(a.fields, c.fields) << c.text;
        EXPECT_EQ(a.part_value, c.part) << c.text;
        EXPECT_EQ(a.roof, c.roof) << c.text;
        EXPECT_EQ(a.player, c.player) << c.text;
    }
}

TEST(props_text, CatalogLinesAndMatches)
{
    struct {
        const char *line;
        bool ok;
        const char *token, *path;
    } cases[] = {
        { "cone\tTraffic cone\t\t/model/cone.pmd\n", true, "cone", "/model/cone.pmd" },
        { "cone\tTraffic cone\tx\t/model/cone.pmd\r\n", true, "cone", "/model/cone.pmd" },
        { "a\tb\tc\t/p.pmd\tfifth\tsixth", true, "a", "/p.pmd" },
        { "a\tb\tc", false, "", "" },
        { "\t\t\t", true, "", "" },
        { "", false, "", "" },
    };
    for (auto &c : cases) {
        props_catalog_fields f;
        EXPECT_EQ(props_catalog_line(c.line, &f), c.ok) << c.line;
        if (!c.ok)
            continue;
        EXPECT_EQ(std::string(f.field[0], f.length[0]), c.token);
        EXPECT_EQ(std::string(f.field[3], f.length[3]), c.path);
    }
    EXPECT_TRUE(props_catalog_matches("cone model", "cone", "x", "/model/a.pmd"));
    EXPECT_TRUE(props_catalog_matches("  CONE  ", "cone", "x", "/y"));
    EXPECT_FALSE(props_catalog_matches("spare", "a", "b", "/c"));
    EXPECT_FALSE(props_catalog_matches("   ", "a", "b", "/c"));
    EXPECT_FALSE(props_catalog_matches("cone barrel", "cone", "x", "/y"));
}

} // namespace
