// The spawned vehicle's motion maths over plain values: placements moved
// along their own axis across sectors, angle wrapping, the circle, the
// trail ring and the follow walk, steering, wheel spin and the light word.
// Expected values are worked out by hand from the formulas.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>
#include "vehicles/motion_math.h"

namespace {

placement at(float x, float y, float z, int16_t sx = 0, int16_t sz = 0, float qw = 1, float qx = 0, float qy = 0,
             float qz = 0)
{
    placement p = { x, y, z, sx, sz, qw, qx, qy, qz };
    return p;
}

const float h = 0.70710678f; /* cos 45 deg */

TEST(motion_math, PlacementAdvanceAlongLocalX)
{
    struct row {
        const char *what;
        placement from;
        float metres;
        float x, y, z;
        int16_t sx, sz;
    } rows[] = {
        { "unrotated", at(10, 2, 3), 6, 16, 2, 3, 0, 0 },
        { "into the next sector", at(500, 0, 0, 3, -2), 20, 8, 0, 0, 4, -2 },
        { "exactly 512 is not inside", at(506, 0, 0), 6, 0, 0, 0, 1, 0 },
        { "into the sector before", at(-500, 0, 0), -20, -8, 0, 0, -1, 0 },
        // 90 deg about y: local +x is world -z.
        { "yawed", at(0, 0, -510, 0, 0, h, 0, h, 0), 4, 0, 0, -2, 0, -1 },
        // 90 deg about z: local +x is world +y (no sector change).
        { "rolled", at(1, 1, 1, 0, 0, h, 0, 0, h), 3, 1, 4, 1, 0, 0 },
        { "two sectors at once", at(0, 0, 0), 1100, 76, 0, 0, 2, 0 },
    };
    for (auto &r : rows) {
        placement out = placement_advance(&r.from, r.metres);
        EXPECT_NEAR(out.x, r.x, 1e-4) << r.what;
        EXPECT_NEAR(out.y, r.y, 1e-4) << r.what;
        EXPECT_NEAR(out.z, r.z, 1e-4) << r.what;
        EXPECT_EQ(out.sector_x, r.sx) << r.what;
        EXPECT_EQ(out.sector_z, r.sz) << r.what;
        EXPECT_EQ(out.qw, r.from.qw) << r.what;
        EXPECT_EQ(out.qy, r.from.qy) << r.what;
    }
}

TEST(motion_math, WrapAngle)
{
    struct { double in, out; } rows[] = {
        { 0, 0 }, { M_PI, M_PI }, { -M_PI, -M_PI }, { 1.5 * M_PI, -0.5 * M_PI },
        { -1.5 * M_PI, 0.5 * M_PI }, { 7 * M_PI + 0.25, -M_PI + 0.25 }, { -20.0, -20.0 + 6 * M_PI },
    };
    for (auto &r : rows)
        EXPECT_NEAR(wrap_angle(r.in), r.out, 1e-9) << r.in;
}

TEST(motion_math, CirclePlacement)
{
    // Angle 0: on the +x side, facing yaw pi (w = cos(pi/2), y = sin(pi/2)).
    placement a = motion_circle_placement(100, 5, 200, 20, 0);
    EXPECT_NEAR(a.x, 120, 1e-4);
    EXPECT_NEAR(a.y, 5, 1e-6);
    EXPECT_NEAR(a.z, 200, 1e-4);
    EXPECT_EQ(a.sector_x, 0);
    EXPECT_NEAR(a.qw, 0, 1e-6);
    EXPECT_NEAR(a.qy, 1, 1e-6);
    EXPECT_EQ(a.qx, 0);
    EXPECT_EQ(a.qz, 0);
    // A quarter turn: on the +z side (world z 520 is sector 1, local 8),
    // yaw pi/2.
    placement b = motion_circle_placement(100, 5, 500, 20, M_PI / 2);
    EXPECT_NEAR(b.x, 100, 1e-4);
    EXPECT_NEAR(b.z, 8, 1e-4);
    EXPECT_EQ(b.sector_z, 1);
    EXPECT_NEAR(b.qw, h, 1e-6);
    EXPECT_NEAR(b.qy, h, 1e-6);
}

/* ---- trail ---- */

trail_ring ring; // 160 KB: not on the stack

void add_x(double x, double z = 0, float y = 0)
{
    placement p = at((float)x, y, (float)z);
    trail_add(&ring, &p);
}

TEST(motion_math, TrailTakesSamplesAfterAQuarterMetre)
{
    placement start = at(0, 0, 0);
    trail_reset(&ring, &start);
    EXPECT_EQ(ring.count, 1u);
    placement p = at(0.2f, 0, 0.1f); // 0.224 m
    EXPECT_FALSE(trail_add(&ring, &p));
    p = at(0, 30, 0); // straight up: no horizontal movement
    EXPECT_FALSE(trail_add(&ring, &p));
    p = at(0.15f, 0, 0.2f); // 0.25 m
    EXPECT_TRUE(trail_add(&ring, &p));
    EXPECT_EQ(ring.count, 2u);
    EXPECT_EQ(ring.head, 2u);
    // Sector and local make the world position.
    placement far = at(10, 0, 0, 2, 0);
    EXPECT_TRUE(trail_add(&ring, &far));
    EXPECT_EQ(ring.samples[2].x, 1034.0);
}

TEST(motion_math, TrailFollowWalksBack)
{
    placement start = at(0, 0, 0);
    trail_reset(&ring, &start);
    double pos[3];
    float q[4];
    EXPECT_FALSE(trail_follow(&ring, 5, pos, q)) << "one sample";
    add_x(4); // 0 -> 4
    EXPECT_FALSE(trail_follow(&ring, 5, pos, q)) << "a trail of 4 m";
    add_x(5);
    ASSERT_TRUE(trail_follow(&ring, 5, pos, q)) << "exactly 5 m";
    EXPECT_DOUBLE_EQ(pos[0], 0.0);
    add_x(6);
    ASSERT_TRUE(trail_follow(&ring, 5, pos, q));
    EXPECT_DOUBLE_EQ(pos[0], 1.0) << "three quarters along the 4 m segment";
    ASSERT_TRUE(trail_follow(&ring, 0, pos, q));
    EXPECT_DOUBLE_EQ(pos[0], 6.0) << "distance 0 is the newest";
    // Segments are 3D: a climb counts.
    trail_reset(&ring, &start);
    placement up = at(3, 4, 0);
    trail_add(&ring, &up);
    ASSERT_TRUE(trail_follow(&ring, 2.5, pos, q));
    EXPECT_NEAR(pos[0], 1.5, 1e-12);
    EXPECT_NEAR(pos[1], 2.0, 1e-12);
}

// The blend takes the short way round: 90 deg about y, then the identity
// written with a negative w, half way: 45 deg (either sign), where the long
// way would give 225 deg.
TEST(motion_math, TrailFollowTakesTheShortWayRound)
{
    placement a = at(0, 0, 0, 0, 0, h, 0, h, 0), b = at(2, 0, 0, 0, 0, -1, 0, 0, 0);
    trail_reset(&ring, &a);
    trail_add(&ring, &b);
    double pos[3];
    float q[4];
    ASSERT_TRUE(trail_follow(&ring, 1, pos, q));
    EXPECT_DOUBLE_EQ(pos[0], 1.0);
    EXPECT_NEAR(fabsf(q[0]), cos(M_PI / 8), 1e-6);
    EXPECT_NEAR(fabsf(q[2]), sin(M_PI / 8), 1e-6);
    EXPECT_LT(q[0], 0) << "from the newest sample's sign";
    // Both positive: the plain normalised blend.
    placement c = at(0, 0, 0), d = at(2, 0, 0, 0, 0, h, 0, h, 0);
    trail_reset(&ring, &c);
    trail_add(&ring, &d);
    ASSERT_TRUE(trail_follow(&ring, 1, pos, q));
    EXPECT_NEAR(q[0], cos(M_PI / 8), 1e-6);
    EXPECT_NEAR(q[2], sin(M_PI / 8), 1e-6);
}

// A trail shorter than the distance never reads a slot that was not
// written: the slot before the oldest holds far-away rubbish here.
TEST(motion_math, TrailFollowStaysInsideTheWrittenSamples)
{
    memset(&ring, 0, sizeof ring);
    for (auto &s : ring.samples)
        s.x = 1e6;
    placement start = at(0, 0, 0);
    trail_reset(&ring, &start);
    ring.samples[TRAIL_SAMPLES - 1].x = 1e6; // before the oldest
    add_x(1);
    add_x(2);
    double pos[3];
    float q[4];
    EXPECT_FALSE(trail_follow(&ring, 10, pos, q));
    // A full ring: the slot before the oldest is the newest.
    trail_reset(&ring, &start);
    for (int i = 1; i < TRAIL_SAMPLES + 10; i++)
        add_x(0.5 * i);
    EXPECT_EQ(ring.count, (uint32_t)TRAIL_SAMPLES);
    EXPECT_FALSE(trail_follow(&ring, 0.5 * TRAIL_SAMPLES, pos, q)) << "4095 segments of 0.5 m";
    ASSERT_TRUE(trail_follow(&ring, 0.5 * (TRAIL_SAMPLES - 1), pos, q));
    EXPECT_DOUBLE_EQ(pos[0], 0.5 * 10) << "the oldest sample";
}

/* ---- steering and wheels ---- */

TEST(motion_math, SpeedAndYawFromTwoPlacements)
{
    placement before = at(0, 0, 0), now = at(0, 0, -2); // forward is -z
    EXPECT_DOUBLE_EQ(motion_speed(&now, &before, 0.5), 4.0);
    EXPECT_DOUBLE_EQ(motion_speed(&before, &now, 0.5), -4.0);
    placement sector = at(-1, 0, 0, 0, -1); // world z -512
    EXPECT_DOUBLE_EQ(motion_speed(&sector, &before, 1.0), 512.0);
    // Yaw change across +-pi takes the short way.
    // Turned 3.1 rad about y the yaw atan2(fx, -fz) reads -3.1; turned
    // -3.1 rad it reads 3.1: from the first to the second is 6.2 - 2 pi.
    float a = 3.1f / 2, b = -3.1f / 2;
    placement ya = at(0, 0, 0, 0, 0, cosf(a), 0, sinf(a), 0), yb = at(0, 0, 0, 0, 0, cosf(b), 0, sinf(b), 0);
    EXPECT_NEAR(motion_yaw_change(&yb, &ya), 6.2 - 6.2831853, 1e-5);
    EXPECT_NEAR(motion_yaw_change(&ya, &yb), 6.2831853 - 6.2, 1e-5);
}

TEST(motion_math, SteeringMovesOnlyAboveAThirdOfAMetrePerSecond)
{
    EXPECT_EQ(motion_steer_step(0.5f, 0.3, 0.1, 0.1, 1), 0.5f);
    EXPECT_EQ(motion_steer_step(0.5f, -0.3, 0.1, 0.1, 1), 0.5f);
    // 0.31 m/s turning 0.01 rad in 1 s: target atan(0.01 * 4.5 / 0.31) / 0.6.
    double target = atan(0.01 * 4.5 / 0.31) / 0.6;
    EXPECT_FLOAT_EQ(motion_steer_step(0.5f, 0.31, 0.01, 1.0, 1), (float)(0.5 + (target - 0.5) * 0.15));
    EXPECT_FLOAT_EQ(motion_steer_step(0.0f, 0.31, 0.01, 1.0, -1), (float)(-target * 0.15));
    // Clamped to 1: a hard turn.
    EXPECT_FLOAT_EQ(motion_steer_step(0.0f, 1.0, 1.0, 0.1, 1), 0.15f);
    EXPECT_FLOAT_EQ(motion_steer_net(0.5f, 1.0f), 0.65f);
}

TEST(motion_math, WheelRadiusSpinAndAngle)
{
    const float radii[] = { 0.45f, 0.05f, 0.051f, -1 };
    struct { uint64_t count, i; float r; } rows[] = {
        { 4, 0, 0.45f }, { 4, 1, 0.5f }, { 4, 2, 0.051f }, { 4, 3, 0.5f }, { 2, 2, 0.5f }, { 0, 0, 0.5f },
    };
    for (auto &r : rows)
        EXPECT_EQ(motion_wheel_radius(radii, r.count, r.i), r.r) << r.count << " " << r.i;
    EXPECT_EQ(motion_wheel_radius(nullptr, 4, 0), 0.5f);
    // 10 m/s, a 20 ms frame at time scale 0.5, radius 0.5: 10 * 0.04 / 0.5.
    EXPECT_FLOAT_EQ(motion_wheel_spin(10, 20000, 0.5f, 0.5f), 0.8f);
    EXPECT_FLOAT_EQ(motion_wheel_angle(1.0f, 2.0f, 0.25f), 0.5f);
    EXPECT_FLOAT_EQ(motion_wheel_angle(1.0f, 2.0f, 4.0f), fmodf(-7.0f, 6.2831855f));
    EXPECT_FLOAT_EQ(motion_wheel_angle(7.0f, 0.0f, 1.0f), 7.0f - 6.2831855f);
}

TEST(motion_math, LightWordKeepsTheGamesBit)
{
    struct { uint32_t game, bits, out; } rows[] = {
        { 0x200, 0x1034, 0x1234 }, { 0x0, 0x1234, 0x1034 }, { 0xFFFF, 0, 0x200 }, { 0x200, 0x200, 0x200 },
    };
    for (auto &r : rows)
        EXPECT_EQ(motion_light_merge(r.game, r.bits), r.out) << std::hex << r.game << " " << r.bits;
}

} // namespace
