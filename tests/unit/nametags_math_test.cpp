// The name tags' maths: a camera's fields through the view to the screen,
// the tag's fade, size and prefix, and the nametags and cam arguments.
// Expected screen positions are worked out by hand from the camera.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>
#include <string>
#include <vector>
#include "ui/nametags.h"

namespace {

const float s45 = 0.70710678f; // sin and cos of 45 degrees

cam_fields camera(float fov_h, float fov_v, int16_t sx, int16_t sz, float x, float y, float z, float qw = 1,
                     float qx = 0, float qy = 0, float qz = 0)
{
    cam_fields f;
    f.fov_h = fov_h;
    f.fov_v = fov_v;
    f.x = x;
    f.y = y;
    f.z = z;
    f.sector_x = sx;
    f.sector_z = sz;
    f.q[0] = qw, f.q[1] = qx, f.q[2] = qy, f.q[3] = qz;
    return f;
}

} // namespace

TEST(nametags_math, RotationByAUnitQuaternion)
{
    struct {
        const char *name;
        float q[4], v[3], want[3];
    } rows[] = {
        { "identity", { 1, 0, 0, 0 }, { 1, 2, 3 }, { 1, 2, 3 } },
        { "120 degrees about (1,1,1): x to y", { 0.5f, 0.5f, 0.5f, 0.5f }, { 1, 0, 0 }, { 0, 1, 0 } },
        { "120 degrees about (1,1,1): y to z", { 0.5f, 0.5f, 0.5f, 0.5f }, { 0, 1, 0 }, { 0, 0, 1 } },
        { "90 degrees about y: -z to -x", { s45, 0, s45, 0 }, { 0, 0, -1 }, { -1, 0, 0 } },
        { "90 degrees about x: -z to +y", { s45, s45, 0, 0 }, { 0, 0, -1 }, { 0, 1, 0 } },
        { "180 degrees about z", { 0, 0, 0, 1 }, { 1, 2, 3 }, { -1, -2, 3 } },
    };
    for (auto &r : rows) {
        float out[3];
        quat_rotate_vector(r.q, r.v, out);
        for (int i = 0; i < 3; i++)
            EXPECT_NEAR(out[i], r.want[i], 1e-5f) << r.name << " axis " << i;
    }
}

TEST(nametags_math, PlacementThroughTheCamera)
{
    const double t30 = 0.5773502691896257; // tan(30 degrees)
    struct {
        const char *name;
        cam_fields cam;
        double p[3];
        bool seen;
        float x, y, depth;
    } rows[] = {
        { "straight ahead", camera(90, 90, 0, 0, 0, 0, 0), { 0, 0, -10 }, true, 960, 540, 10 },
        { "right of the centre", camera(90, 90, 0, 0, 0, 0, 0), { 5, 0, -10 }, true, 1440, 540, 10 },
        { "above the centre", camera(90, 90, 0, 0, 0, 0, 0), { 0, 5, -10 }, true, 960, 270, 10 },
        { "narrower horizontal field", camera(60, 90, 0, 0, 0, 0, 0), { 5, 0, -10 }, true,
          (float)((1 + 0.5 / t30) * 960), 540, 10 },
        { "narrower vertical field", camera(90, 60, 0, 0, 0, 0, 0), { 0, -2, -10 }, true, 960,
          (float)((1 + 0.2 / t30) * 540), 10 },
        // Sector (2, -1), local (10, 3, 20): world (1034, 3, -492).
        { "sectors", camera(90, 90, 2, -1, 10, 3, 20), { 1034, 3, -502 }, true, 960, 540, 10 },
        { "sectors, left", camera(90, 90, 2, -1, 10, 3, 20), { 1029, 3, -502 }, true, 480, 540, 10 },
        // Turned 90 degrees about y: looking along -x, right is -z.
        { "turned left", camera(90, 90, 0, 0, 0, 0, 0, s45, 0, s45, 0), { -10, 0, 0 }, true, 960, 540, 10 },
        { "turned left, right of the centre", camera(90, 90, 0, 0, 0, 0, 0, s45, 0, s45, 0), { -10, 0, -5 }, true,
          1440, 540, 10 },
        // Pitched up 90 degrees about x: looking along +y, up is +z.
        { "looking up", camera(90, 90, 0, 0, 0, 0, 0, s45, s45, 0, 0), { 0, 10, 5 }, true, 960, 270, 10 },
        { "behind", camera(90, 90, 0, 0, 0, 0, 0), { 0, 0, 10 }, false, 0, 0, -10 },
        { "too close", camera(90, 90, 0, 0, 0, 0, 0), { 3, 0, -0.05 }, false, 0, 0, 0.05f },
        { "turned away", camera(90, 90, 0, 0, 0, 0, 0, s45, 0, s45, 0), { 10, 0, 0 }, false, 0, 0, -10 },
    };
    for (auto &r : rows) {
        SCOPED_TRACE(r.name);
        cam_view v;
        ASSERT_TRUE(cam_view_build(&r.cam, &v));
        float x = -1, y = -1, depth = -1;
        EXPECT_EQ(cam_project(&v, r.p, 1920, 1080, &x, &y, &depth), r.seen);
        EXPECT_NEAR(x, r.x, 0.01f);
        EXPECT_NEAR(y, r.y, 0.01f);
        EXPECT_NEAR(depth, r.depth, 1e-4f);
    }
}

TEST(nametags_math, ViewValuesAndCamerasThatGiveNoView)
{
    cam_view v;
    cam_fields f = camera(70, 45, -3, 7, 100.5f, 42, -200.25f);
    ASSERT_TRUE(cam_view_build(&f, &v));
    EXPECT_EQ(v.pos[0], -3 * 512 + 100.5);
    EXPECT_EQ(v.pos[1], 42.0);
    EXPECT_EQ(v.pos[2], 7 * 512 - 200.25);
    EXPECT_NEAR(v.tan_h, tan(35 * M_PI / 180), 1e-6);
    EXPECT_NEAR(v.tan_v, tan(22.5 * M_PI / 180), 1e-6);
    EXPECT_FLOAT_EQ(v.forward[2], -1);
    EXPECT_FLOAT_EQ(v.right[0], 1);
    EXPECT_FLOAT_EQ(v.up[1], 1);

    const float nan = NAN, inf = INFINITY;
    struct {
        const char *name;
        cam_fields cam;
        bool ok;
    } rows[] = {
        { "horizontal 1 degree", camera(1, 45, 0, 0, 0, 0, 0), false },
        { "horizontal 179 degrees", camera(179, 45, 0, 0, 0, 0, 0), false },
        { "vertical 1 degree", camera(70, 1, 0, 0, 0, 0, 0), false },
        { "vertical 179 degrees", camera(70, 179, 0, 0, 0, 0, 0), false },
        { "just inside", camera(1.01f, 178.99f, 0, 0, 0, 0, 0), true },
        { "field of view not a number", camera(nan, 45, 0, 0, 0, 0, 0), false },
        { "position not a number", camera(70, 45, 0, 0, 0, nan, 0), false },
        { "position infinite", camera(70, 45, 0, 0, inf, 0, 0), false },
        { "quaternion not a number", camera(70, 45, 0, 0, 0, 0, 0, nan, 0, 0, 0), false },
        { "quaternion infinite", camera(70, 45, 0, 0, 0, 0, 0, 1, 0, inf, 0), false },
    };
    for (auto &r : rows) {
        cam_view out;
        memset(&out, 0x5A, sizeof out);
        EXPECT_EQ(cam_view_build(&r.cam, &out), r.ok) << r.name;
    }

    // A player's position that is not a number (from the network) is never on screen.
    const double lost[3] = { nan, 0, -10 };
    float x, y, depth;
    EXPECT_FALSE(cam_project(&v, lost, 1920, 1080, &x, &y, &depth));
}

TEST(nametags_math, FadeSizeAndPrefix)
{
    struct {
        double t;
        int alpha;
        float size;
    } rows[] = { { 0, 255, 1.35f }, { 0.5, 255, 1.075f }, { 0.8, 255, 0.91f }, { 0.9, 127, 0.855f },
                 { 1.0, 0, 0.8f } };
    for (auto &r : rows) {
        EXPECT_EQ(tag_alpha(r.t), r.alpha) << r.t;
        EXPECT_NEAR(tag_size_factor(r.t), r.size, 1e-6f) << r.t;
    }
    char out[DM_TAG_PREFIX_MAX];
    tag_prefix("", out);
    EXPECT_STREQ(out, "");
    tag_prefix("admin", out);
    EXPECT_STREQ(out, "[admin] ");
    tag_prefix("abcdefghijklmnopqrstuvwxyz0123456789", out);
    EXPECT_STREQ(out, "[abcdefghijklmnopqrstuvwxyz0123") << "31 bytes in all";
}

TEST(nametags_math, NametagsArguments)
{
    struct {
        const char *rest;
        bool known;
        uint8_t on;
        float range;
    } rows[] = {
        { "", true, 1, 500 },        { nullptr, true, 1, 500 },     { " off", true, 0, 500 },
        { "  on", true, 1, 500 },    { " dist 5", true, 1, 500 },   { " dist 10", true, 1, 500 },
        { " dist 50", true, 1, 50 }, { " dist 1250.5", true, 1, 1250.5f },
        { " dist 0", true, 1, 500 },  { " dist 1e3 ", true, 1, 1000 },
        { " dist inf", false, 1, 500 }, { " dist nan", false, 1, 500 }, { " dist 1e39", false, 1, 500 },
        { " dist -1", false, 1, 500 }, { " dist 1e309", false, 1, 500 }, { " dist 50m", false, 1, 500 },
        { " dist 50 60", false, 1, 500 }, { " dist x", false, 1, 500 },
        { " dist", false, 1, 500 },  { " of", false, 1, 500 },      { " onward", false, 1, 500 },
    };
    for (auto &r : rows) {
        uint8_t on = 1;
        float range = 500;
        EXPECT_EQ(nametags_parse(r.rest, &on, &range), r.known) << (r.rest ? r.rest : "(null)");
        EXPECT_EQ(on, r.on) << (r.rest ? r.rest : "(null)");
        EXPECT_EQ(range, r.range) << (r.rest ? r.rest : "(null)");
    }
}

TEST(nametags_math, CamArguments)
{
    struct {
        const char *rest;
        int form;
        const char *after;
    } forms[] = { { " dump 40 +960", DM_CAM_DUMP, " 40 +960" }, { "dump", DM_CAM_DUMP, "" },
                  { "  w2s", DM_CAM_W2S, "" },                    { " w2", DM_CAM_USAGE, "" },
                  { "", DM_CAM_USAGE, "" },                       { " pump", DM_CAM_USAGE, "" } };
    for (auto &f : forms) {
        const char *after = nullptr;
        EXPECT_EQ(cam_parse(f.rest, &after), f.form) << f.rest;
        if (f.form == DM_CAM_DUMP) {
            EXPECT_STREQ(after, f.after) << f.rest;
        }
    }

    struct {
        const char *text;
        uint32_t length;
        std::vector<uint64_t> offsets;
    } dumps[] = {
        { " 40 +960 +38", 0x40, { 0x960, 0x38 } },
        { "", 0xC0, {} },
        { " 0", 0xC0, {} },
        { " +960 +38", 0xC0, { 0x960, 0x38 } },
        { " 0x80", 0x80, {} },
        { " ffffffffffffffffff", 0x1000, {} },
        { " 20 +zz", 0x20, {} },
        { " 20 +10 -8 +4", 0x20, { 0x10 } },
        { " 20 extra", 0x20, {} },
    };
    for (auto &d : dumps) {
        uint32_t length = 0;
        uint64_t offsets[4] = {};
        int n = cam_dump_parse(d.text, &length, offsets, 4);
        EXPECT_EQ(length, d.length) << d.text;
        ASSERT_EQ(n, (int)d.offsets.size()) << d.text;
        for (int i = 0; i < n; i++)
            EXPECT_EQ(offsets[i], d.offsets[i]) << d.text;
    }
}
