// Snapshot interpolation of a remote player: states go in through the wire
// codec and the roster, poses come out of net_sample_player.
//
// Index
//  - Fixture: one remote player; states sent at sender time t + 10 s with the
//    roster's estimates pinned, so render times and delays are known exactly
//  - Mode 1: circle drive, pairs and trailers, capped extrapolation
//  - Mode 2: Hermite limits, smoothing and snaps, delay, turns, jitter and loss
//  - Both modes: two states with the same time, switching modes
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>
#include <algorithm>
#include <vector>
#include "net/net_internal.h"
#include "net/net_wire.h"

/* --- Fixture -------------------------------------------------------------- */

static const double kOffset = 10.0; /* sender clock this far behind ours */
static const double kDelay1 = 0.15; /* mode 1 */
static const double kDelay2 = 0.13; /* mode 2 with interval <= 0.1 s and no jitter */

static net_pose pose_x(double x, float vx)
{
    net_pose s = {};
    s.flags = 4;
    s.pos[0] = x;
    s.vel[0] = vx;
    s.rot[0] = 1;
    return s;
}

/* Yaw by a (radians) about y, as a quaternion w, x, y, z. */
static void yaw(double a, float q[4])
{
    q[0] = (float)cos(a / 2);
    q[1] = 0;
    q[2] = (float)sin(a / 2);
    q[3] = 0;
}

/* A drive around a circle of radius r at w rad/s (y up), the heading turning
 * with the velocity: position r(cos wt, 0, sin wt), yaw -wt. */
static net_pose circle_pose(double t, double r, double w)
{
    net_pose s = {};
    s.flags = 4;
    s.pos[0] = r * cos(w * t);
    s.pos[2] = r * sin(w * t);
    s.vel[0] = (float)(-r * w * sin(w * t));
    s.vel[2] = (float)(r * w * cos(w * t));
    yaw(-w * t, s.rot);
    return s;
}

struct net_interp : ::testing::Test {
    void SetUp() override { fresh(); }
    void TearDown() override { net_roster_reset(); }
    /* A roster with player 2 only; mode 1, statistics zero. */
    void fresh()
    {
        net_roster_reset();
        uint8_t name[] = {3, 'b', 'o', 'b'};
        net_roster_on_joined(2, 1, name, sizeof name, 1.0);
        p = net_roster_find(2);
        ASSERT_NE(p, nullptr);
        seq = 1;
    }
    void send(double t, const net_pose &s, double now)
    {
        uint8_t b[128];
        int n = net_build_state(b, sizeof b, (uint32_t)llround(t * 1000), &s, 0);
        ASSERT_GT(n, 0);
        net_roster_on_state(2, seq++, b, (size_t)n, now);
    }
    /* Sent at t + kOffset; the roster's estimates are then pinned. */
    void send_pinned(double t, const net_pose &s, double jitter = 0, double interval = 0.1)
    {
        send(t, s, t + kOffset);
        pin(jitter, interval);
    }
    void pin(double jitter, double interval)
    {
        p->offset = kOffset;
        p->jitter = jitter;
        p->interval = interval;
    }
    net_pose sample(double now)
    {
        net_pose o;
        memset(&o, 0xCD, sizeof o);
        EXPECT_TRUE(net_sample_player(2, now, &o));
        return o;
    }
    static net_interp_stats stats()
    {
        net_interp_stats s;
        net_get_interp_stats(&s);
        return s;
    }
    net_player *p = nullptr;
    uint32_t seq = 1;
};

/* --- Mode 1 --------------------------------------------------------------- */

/* Both modes follow a synthetic circle drive sent at 10 Hz. */
TEST_F(net_interp, InterpolationFollowsTheTrajectory)
{
    for (int mode : {1, 2}) {
        net_roster_reset();
        uint8_t name[] = {1, 'x'};
        net_roster_on_joined(2, 1, name, sizeof name, 1.0);
        net_set_interp_mode(mode);
        const double r = 50, w = 0.3; /* 15 m/s */
        auto at = [&](double t, double out[3]) { out[0] = r * cos(w * t); out[1] = 0; out[2] = r * sin(w * t); };
        uint32_t seq = 1;
        double worst = 0, sent = 0;
        for (double now = 2.0; now < 12.0; now += 1.0 / 64) {
            if (now >= sent + 0.1) {
                sent = now;
                double t = now - 1.0; /* sender clock 1 s behind */
                net_pose s = circle_pose(t, r, w);
                uint8_t b[128];
                int n = net_build_state(b, sizeof b, (uint32_t)llround(t * 1000), &s, 0);
                net_roster_on_state(2, seq++, b, (size_t)n, now);
            }
            net_pose out;
            ASSERT_TRUE(net_sample_player(2, now, &out));
            if (now < 3.0)
                continue;
            net_player *pl = net_roster_find(2);
            double delay = mode == 1 ? 0.15 : pl->delay;
            double truth[3];
            at(now - pl->offset - delay, truth);
            double e = hypot(out.pos[0] - truth[0], out.pos[2] - truth[2]);
            worst = fmax(worst, e);
            if (mode == 2) {
                EXPECT_TRUE(pl->delay >= 0.12 && pl->delay <= 0.6);
            }
        }
        EXPECT_LT(worst, mode == 1 ? 0.25 : 0.3) << "mode " << mode;
    }
    net_set_interp_mode(1);
}

TEST_F(net_interp, ExtrapolationCapsAndRepeatedSamples)
{
    send(1.0, pose_x(0, 10), 11.0);
    net_pose out;
    ASSERT_TRUE(net_sample_player(2, 14.0, &out)); /* silent for 3 s */
    EXPECT_NEAR(out.pos[0], 5.0, 1e-6);            /* 0.5 s of 10 m/s */
    net_interp_stats st;
    net_get_interp_stats(&st);
    EXPECT_EQ(st.long_extrapolations, 1u);
    net_set_interp_mode(2);
    send(1.1, pose_x(1, 10), 11.1);
    net_pose a, b;
    ASSERT_TRUE(net_sample_player(2, 20.0, &a));
    net_get_interp_stats(&st);
    uint64_t samples = st.samples;
    ASSERT_TRUE(net_sample_player(2, 20.0, &b));
    net_get_interp_stats(&st);
    EXPECT_EQ(st.samples, samples);
    EXPECT_EQ(memcmp(a.pos, b.pos, sizeof a.pos), 0);
    net_set_interp_mode(1);
}

/* Four states 0.1 s apart at 10 m/s along x; the trailer comes and goes and
 * the second state's quaternion is stored negated (same orientation). */
TEST_F(net_interp, Mode1PairsTrailersAndCappedExtrapolation)
{
    net_pose s[4];
    for (int i = 0; i < 4; i++) {
        s[i] = pose_x(i, 10);
        s[i].rpm = 800.0f + 100 * i;
        s[i].steering = 0.5f * i;
        s[i].speed = 10.0f * i;
        s[i].has_trailer = i != 2;
        s[i].trailer_pos[0] = i - 8.0;
        s[i].trailer_pos[2] = 3;
        s[i].trailer_rot[0] = 1;
    }
    yaw(0.2, s[1].rot);
    for (float &c : s[1].rot)
        c = -c;
    yaw(0.2, s[2].rot);
    yaw(0.2, s[3].rot);
    for (int i = 0; i < 4; i++)
        send_pinned(1.0 + 0.1 * i, s[i]);

    struct Case {
        double t;            /* render time, sender clock */
        double x;            /* expected position */
        float rpm;           /* from the state that supplies the pose */
        bool trailer;
        double trailer_x;
    } cases[] = {
        {0.95, 0.0, 800, true, -8.0},   /* before the ring: oldest, not extrapolated back */
        {1.025, 0.25, 900, true, -7.75}, /* s = 0.25, both with trailer: lerped */
        {1.15, 1.5, 1000, false, 0},    /* newer without trailer */
        {1.25, 2.5, 1100, true, -5.0},  /* older without trailer: newer's trailer as is */
        {1.40, 4.0, 1100, true, -4.0},  /* 0.1 s past the newest: trailer moves along */
        {4.30, 8.0, 1100, true, 0.0},   /* 3 s past: capped at 0.5 s */
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.t);
        double now = c.t + kOffset + kDelay1;
        net_pose o = sample(now);
        net_pose again = sample(now);
        EXPECT_EQ(memcmp(&o, &again, sizeof o), 0);
        n++;
        EXPECT_NEAR(o.pos[0], c.x, 1e-9);
        EXPECT_EQ(o.pos[1], 0.0);
        EXPECT_EQ(o.rpm, c.rpm);
        EXPECT_EQ(o.has_trailer, c.trailer ? 1 : 0);
        if (c.trailer) {
            EXPECT_NEAR(o.trailer_pos[0], c.trailer_x, 1e-9);
            EXPECT_EQ(o.trailer_pos[2], 3.0);
        }
        EXPECT_FLOAT_EQ(o.vel[0], 10.0f);
    }
    /* s = 0.25 between identity and the negated yaw of 0.2: nlerp takes the
     * near sign, giving about a quarter of the turn. */
    net_pose q = sample(1.025 + kOffset + kDelay1);
    EXPECT_NEAR(q.rot[0], 0.999687907, 1e-6);
    EXPECT_NEAR(q.rot[2], 0.024981766, 1e-6);
    EXPECT_EQ(q.rot[1], 0.0f);
    EXPECT_FLOAT_EQ(q.steering, 0.125f);
    EXPECT_FLOAT_EQ(q.speed, 2.5f);
    /* Extrapolation leaves the orientation as sent. */
    net_pose ahead = sample(1.40 + kOffset + kDelay1);
    EXPECT_EQ(memcmp(ahead.rot, s[3].rot, sizeof ahead.rot), 0);

    net_interp_stats st = stats();
    EXPECT_EQ(st.samples, (uint64_t)n); /* the repeated calls did not count */
    EXPECT_NEAR(st.delay_sum, n * kDelay1, 1e-12);
    EXPECT_EQ(st.extrapolations, 1u);
    EXPECT_EQ(st.long_extrapolations, 1u);
    EXPECT_EQ(st.snaps, 0u);
}

/* --- Mode 2 --------------------------------------------------------------- */

/* One pair sampled half way (first sample of a fresh player, so no smoothing).
 * Hermite bases at s = 0.5: 0.5 p0 + 0.125 h d0 + 0.5 p1 - 0.125 h d1. */
TEST_F(net_interp, Mode2HermiteOnlyNearTheLine)
{
    struct Case {
        const char *what;
        double h;                    /* time between the two states */
        double p1x;                  /* p0 is the origin */
        float d0[3], d1[3];
        double t;                    /* render time; the older state is at 1.0 */
        double x, z;                 /* expected */
    } cases[] = {
        {"accelerating: Hermite", 0.1, 1, {0, 0, 0}, {20, 0, 0}, 1.05, 0.25, 0},
        {"x within 2 m, z not: per axis", 0.1, 0, {60, 0, 100}, {-60, 0, -100}, 1.05, 1.5, 0},
        {"h 0.4 after losses: Hermite", 0.4, 1, {0, 0, 0}, {2, 0, 0}, 1.2, 0.4, 0},
        {"h 0.6 after losses: linear", 0.6, 1, {0, 0, 0}, {2, 0, 0}, 1.3, 0.5, 0},
        {"before the ring: oldest", 0.1, 1, {10, 0, 10}, {10, 0, 10}, 0.9, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        fresh();
        net_set_interp_mode(2);
        net_pose a = pose_x(0, 0), b = pose_x(c.p1x, 0);
        memcpy(a.vel, c.d0, sizeof a.vel);
        memcpy(b.vel, c.d1, sizeof b.vel);
        send_pinned(1.0, a);
        send_pinned(1.0 + c.h, b);
        net_pose o = sample(c.t + kOffset + kDelay2);
        EXPECT_NEAR(p->delay, kDelay2, 1e-12);
        EXPECT_NEAR(o.pos[0], c.x, 1e-9);
        EXPECT_NEAR(o.pos[2], c.z, 1e-9);
    }
}

/* A stationary truck (with trailer 8 m behind) jumps by J between two states.
 * Frame 1 shows the first state, frame 2 (0.1 s later) the second, frame 3
 * another 0.1 s later. Smoothing keeps frame 2 at the prediction (the old
 * place) and lets the offset decay by exp(-0.1 / 0.2) by frame 3. */
TEST_F(net_interp, Mode2SmoothingFiveCentimetresAndSnaps)
{
    enum { SHOWN, SMOOTHED, SNAPPED };
    struct Case {
        double j[3];
        int expect;
    } cases[] = {
        {{0.04, 0, 0}, SHOWN},
        {{0.03, 0, 0.03}, SHOWN},      /* 4.2 cm */
        {{0.06, 0, 0}, SMOOTHED},
        {{0.04, 0, 0.04}, SMOOTHED},   /* 5.7 cm, each axis below 5 cm */
        {{-14.9, 0, 0}, SMOOTHED},
        {{10.6, 0, 10.6}, SMOOTHED},   /* 14.99 m */
        {{10.7, 0, 10.7}, SNAPPED},    /* 15.13 m, each axis below 15 m */
        {{15.1, 0, 0}, SNAPPED},
        {{0, 0, -16}, SNAPPED},
    };
    const double x0[3] = {1000, 50, -2000}, keep = 1 - exp(-0.5);
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.j[0] << " " << c.j[2]);
        fresh();
        net_set_interp_mode(2);
        net_pose a = pose_x(0, 0);
        a.has_trailer = 1;
        a.trailer_rot[0] = 1;
        for (int k = 0; k < 3; k++) {
            a.pos[k] = x0[k];
            a.trailer_pos[k] = x0[k] + (k == 0 ? -8 : 0);
        }
        net_pose b = a;
        for (int k = 0; k < 3; k++) {
            b.pos[k] += c.j[k];
            b.trailer_pos[k] += c.j[k];
        }
        send_pinned(1.0, a);
        net_pose f1 = sample(11.2);
        send_pinned(1.1, b);
        net_pose f2 = sample(11.3);
        net_pose f3 = sample(11.4);
        net_pose f3again = sample(11.4);
        for (int k = 0; k < 3; k++) {
            double want2 = c.expect == SMOOTHED ? x0[k] : x0[k] + c.j[k];
            double want3 = c.expect == SMOOTHED ? x0[k] + c.j[k] * keep : x0[k] + c.j[k];
            EXPECT_NEAR(f1.pos[k], x0[k], 1e-9);
            EXPECT_NEAR(f2.pos[k], want2, 1e-9) << "axis " << k;
            EXPECT_NEAR(f3.pos[k], want3, 1e-9) << "axis " << k;
            for (const net_pose *f : {&f1, &f2, &f3})
                EXPECT_NEAR(f->trailer_pos[k] - f->pos[k], k == 0 ? -8 : 0, 1e-9);
        }
        EXPECT_EQ(memcmp(&f3, &f3again, sizeof f3), 0);
        net_interp_stats st = stats();
        EXPECT_EQ(st.snaps, c.expect == SNAPPED ? 1u : 0u);
        EXPECT_EQ(st.samples, 2u); /* the first sample and the repeat are not counted */
        EXPECT_EQ(st.extrapolations, 2u);
        EXPECT_NEAR(st.delay_sum, 2 * kDelay2, 1e-12);
    }
}

/* Target delay = max(interval, 0.1) + 1.5 jitter + 0.03 within 0.12..0.6 s,
 * approached at 0.05 s per second of frame time, frames counted up to 0.25 s. */
TEST_F(net_interp, Mode2DelayMovesSlowlyTowardsItsCappedTarget)
{
    net_set_interp_mode(2);
    send_pinned(1.0, pose_x(0, 0), 0, 0.05);
    double sum = 0;
    auto delay_at = [&](double now) {
        sample(now);
        return p->delay;
    };
    EXPECT_NEAR(delay_at(20.0), 0.13, 1e-12); /* first use: the target at once */
    pin(0.2, 0.05);                           /* target 0.43 */
    EXPECT_NEAR(delay_at(20.1), 0.135, 1e-12);
    sum += p->delay;
    EXPECT_NEAR(delay_at(20.1), 0.135, 1e-12); /* same frame: no move */
    EXPECT_NEAR(delay_at(21.1), 0.1475, 1e-12); /* 1 s frame counts 0.25 s */
    sum += p->delay;
    pin(0.2, 0.3); /* 0.3 + 0.3 + 0.03: capped at 0.6 */
    double now = 21.1, before = p->delay;
    for (int i = 0; i < 40; i++) {
        double d = delay_at(now += 0.5);
        sum += d;
        EXPECT_LE(d - before, 0.0125 + 1e-12);
        EXPECT_GT(d, before - 1e-15);
        EXPECT_LE(d, 0.6);
        before = d;
    }
    EXPECT_EQ(p->delay, 0.6); /* landed exactly on the cap */
    pin(0, 0.1);              /* target 0.13: back down at the same rate */
    EXPECT_NEAR(delay_at(now + 0.1), 0.595, 1e-12);
    sum += p->delay;
    EXPECT_NEAR(stats().delay_sum, sum, 1e-9);
    EXPECT_EQ(stats().samples, 43u);

    fresh();
    net_set_interp_mode(2);
    send_pinned(1.0, pose_x(0, 0), 1.0, 0.1); /* 0.1 + 1.5 + 0.03 */
    EXPECT_EQ(delay_at(20.0), 0.6);
}

/* Extrapolating a circle drive (20 m radius, 10 m/s, 5 m/s² inwards) after
 * its last state follows the circle: straight ahead would be a·e²/2 off
 * (2.5 cm after 0.1 s, 62 cm after 0.5 s). */
TEST_F(net_interp, Mode2ExtrapolatesAlongTheTurn)
{
    const double r = 20, w = 0.5, last = 2.0;
    const double cases[] = {0.1, 0.3, 0.5, 2.0}; /* time past the last state */
    for (double d : cases) {
        SCOPED_TRACE(d);
        fresh();
        net_set_interp_mode(2);
        for (int i = 0; i <= 10; i++) {
            double t = 1.0 + 0.1 * i;
            net_pose s = circle_pose(t, r, w);
            s.has_trailer = 1;
            memcpy(s.trailer_rot, s.rot, sizeof s.rot);
            s.trailer_pos[0] = s.pos[0] - 6;
            s.trailer_pos[2] = s.pos[2] + 1;
            send_pinned(t, s);
        }
        double now = last + d + kOffset + kDelay2, e = fmin(d, 0.5);
        net_pose o = sample(now);
        net_pose want = circle_pose(last + e, r, w);
        for (int k = 0; k < 3; k++) {
            EXPECT_NEAR(o.pos[k], want.pos[k], 2e-3) << "axis " << k;
            EXPECT_NEAR(o.vel[k], want.vel[k], 2e-3) << "axis " << k;
        }
        for (int k = 0; k < 4; k++)
            EXPECT_NEAR(o.rot[k], want.rot[k], 1e-5) << "component " << k;
        EXPECT_NEAR(o.trailer_pos[0] - o.pos[0], -6, 1e-9);
        EXPECT_NEAR(o.trailer_pos[2] - o.pos[2], 1, 1e-9);
        /* The next frame counts its kind: beyond 0.5 s is a long one. */
        sample(now + 0.01);
        net_interp_stats st = stats();
        EXPECT_EQ(st.extrapolations, d + 0.01 <= 0.5 ? 1u : 0u);
        EXPECT_EQ(st.long_extrapolations, d + 0.01 > 0.5 ? 1u : 0u);
    }
}

/* A straight drive at 20 m/s sent at 10 Hz through the roster: arrivals
 * jitter by up to 80 ms and every seventh state is lost; 9 s of states arrive
 * 0.5 s late, then 3 s of states are lost, then calm again. The ring is
 * sampled exactly on the line (extrapolation capped at 0.5 s); the delay
 * stays in bounds, moves at most 0.05 s per second towards its target and
 * reaches the 0.6 s cap; the return after the silence (tens of metres ahead
 * of the frozen extrapolation) is a snap, shown at once. */
TEST_F(net_interp, Mode2JitterLossLateStatesAndSilence)
{
    net_set_interp_mode(2);
    const double v = 20;
    struct Sent {
        double t, arrive;
    };
    std::vector<Sent> sent;
    uint32_t rng = 12345;
    for (int k = 0; k < 400; k++) {
        double t = 1.0 + 0.1 * k;
        rng = rng * 1103515245u + 12345u;
        double jitter = (rng >> 16) % 81 / 1000.0;
        if (k % 7 == 3)
            continue;
        if (t >= 13.0 && t < 16.0)
            continue;
        if (t >= 4.0 && t < 13.0)
            jitter += 0.5;
        sent.push_back({t, t + kOffset + jitter});
    }
    std::stable_sort(sent.begin(), sent.end(), [](const Sent &a, const Sent &b) { return a.arrive < b.arrive; });
    size_t next = 0;
    double prev_delay = 0, prev_now = 0, max_delay = 0;
    bool resumed = false;
    for (double now = 11.0; now < 40.0; now += 1.0 / 60) {
        while (next < sent.size() && sent[next].arrive <= now) {
            net_pose s = pose_x(v * (sent[next].t - 1.0), (float)v);
            send(sent[next].t, s, sent[next].arrive);
            next++;
        }
        if (p->count == 0)
            continue;
        double newest = p->ring[(p->head + NET_RING - 1) % NET_RING].t;
        double target = fmin(fmax(fmax(p->interval, 0.1) + 1.5 * p->jitter + 0.03, 0.12), 0.6);
        uint64_t snaps = stats().snaps;
        net_pose o = sample(now);
        double d = p->delay;
        ASSERT_GE(d, 0.12);
        ASSERT_LE(d, 0.6);
        if (prev_now > 0) {
            double step = fmin(now - prev_now, 0.25);
            ASSERT_LE(fabs(d - prev_delay), 0.05 * step + 1e-12);
            ASSERT_GE((d - prev_delay) * (target - prev_delay), 0.0) << "moves away from " << target;
        }
        prev_delay = d;
        prev_now = now;
        max_delay = fmax(max_delay, d);
        /* The sampled position before smoothing lies on the ring's line. */
        double oldest = p->ring[(p->head + NET_RING - p->count) % NET_RING].t;
        double tr = fmin(fmax(now - p->offset - d, oldest), newest + 0.5);
        ASSERT_NEAR(p->out_pos[0], v * (tr - 1.0), 1e-6) << "at " << now;
        if (!resumed && newest >= 16.0) {
            resumed = true;
            EXPECT_EQ(stats().snaps, snaps + 1);
            EXPECT_EQ(o.pos[0], p->out_pos[0]); /* no smoothing offset left */
        }
    }
    EXPECT_TRUE(resumed);
    EXPECT_EQ(max_delay, 0.6);
    net_interp_stats st = stats();
    EXPECT_EQ(st.snaps, 1u);
    EXPECT_GT(st.extrapolations, 0u);
    EXPECT_GT(st.long_extrapolations, 0u);
}

/* --- Both modes ----------------------------------------------------------- */

/* Two states with the same time: before it, the pair below; from it on, the
 * newer of the two, extrapolated straight (no turn rate from a zero time
 * step). Each sample is the first of a fresh player (no smoothing). */
TEST_F(net_interp, StatesWithTheSameTime)
{
    for (int mode : {1, 2}) {
        for (double t : {1.05, 1.15}) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << " t " << t);
            fresh();
            net_set_interp_mode(mode);
            net_pose turned = pose_x(5, 10);
            yaw(0.3, turned.rot);
            send_pinned(1.0, pose_x(0, 10));
            send_pinned(1.1, pose_x(1, 10));
            send_pinned(1.1, turned);
            ASSERT_EQ(p->count, 3);
            net_pose o = sample(t + kOffset + (mode == 1 ? kDelay1 : kDelay2));
            bool later = t > 1.1;
            EXPECT_NEAR(o.pos[0], later ? 5.5 : 0.5, 1e-9);
            EXPECT_EQ(o.pos[2], 0.0);
            EXPECT_EQ(o.vel[0], 10.0f);
            EXPECT_EQ(o.vel[2], 0.0f);
            EXPECT_EQ(memcmp(o.rot, later ? turned.rot : pose_x(0, 0).rot, sizeof o.rot), 0);
        }
    }
}

/* Mode 2 after a spell of mode 1 starts as on first use: the truck drove on
 * meanwhile, and what mode 2 showed before is no prediction of where it is. */
TEST_F(net_interp, SwitchingModesStartsModeTwoAfresh)
{
    const double v = 5;
    double now = 11.0;
    auto frame = [&](int mode) {
        net_set_interp_mode(mode);
        double t = now - kOffset;
        send_pinned(t, pose_x(v * t, (float)v));
        net_pose o = sample(now);
        now += 0.1;
        return o;
    };
    for (int i = 0; i < 10; i++)
        frame(2);
    for (int i = 0; i < 20; i++)
        frame(1);
    net_pose o = frame(2); /* 2 s and 10 m later */
    double t = now - 0.1 - kOffset - kDelay2;
    EXPECT_NEAR(o.pos[0], v * t, 1e-9);
    EXPECT_EQ(stats().snaps, 0u);
    EXPECT_NEAR(frame(2).pos[0], v * (t + 0.1), 1e-9);
}
