// Interpolation quality: a synthetic drive (straights, curves, braking, a
// stop) is sent at 10 Hz with arrival jitter and loss, fed to the roster as
// player states, and sampled at 60 Hz render times in both interpolation
// modes. The error is the distance between the sampled position and where
// the truck really was at the render time the sample stands for (sender
// clock: now - clock offset - delay). Prints a table; judges nothing.
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include "net/net_internal.h"
#include "net/net_wire.h"

namespace {

/* The drive, integrated at 1 ms: speed, heading about +y (forward is +z
 * rotated by the heading), with acceleration and yaw rate moving towards
 * each leg's targets at a bounded rate, as a truck's would. */
constexpr double truth_step = 0.001;
constexpr int truth_max = 200000; /* 200 s */

struct drive_leg {
    double seconds;
    double accel;    /* m/s^2 */
    double yaw_rate; /* rad/s, positive turns left */
};

const drive_leg legs[] = {
    {10.0, 2.0, 0.0},    /* pull away on a straight to 20 m/s */
    {6.0, 0.0, 0.0},     /* cruise */
    {7.0, 0.0, 0.22},    /* long left curve, radius about 90 m */
    {4.0, 0.0, 0.0},     /* straight */
    {2.5, -5.0, 0.0},    /* hard braking to about 8 m/s */
    {5.0, 0.0, -0.45},   /* tight right turn, radius about 18 m */
    {6.0, 1.5, 0.0},     /* accelerate out */
    {3.0, 0.0, 0.3},     /* S-bends */
    {3.0, 0.0, -0.3},
    {3.0, 0.0, 0.3},
    {3.0, 0.0, -0.3},
    {5.0, 0.0, 0.0},     /* straight */
    {5.0, -3.5, 0.0},    /* brake to a stop */
    {3.0, 0.0, 0.0},     /* standing */
    {6.0, 1.5, 0.25},    /* pull away into a curve */
    {4.0, 0.0, 0.0},
    {2.0, -4.5, 0.0},    /* emergency stop */
    {2.0, 0.0, 0.0},
};

struct truth_sample {
    double pos[3];
    double vel[3];
    double heading;
    double yaw_rate;
    double speed;
};

truth_sample truth[truth_max + 1];
int truth_count;

void build_drive()
{
    double pos[3] = {1200.0, 45.0, -3400.0}, heading = 0.3, speed = 0, accel = 0, yaw = 0;
    const double jerk = 8.0, yaw_accel = 0.6; /* how fast the driver changes pedal and wheel */
    int n = 0;
    for (const drive_leg &leg : legs) {
        int steps = (int)llround(leg.seconds / truth_step);
        for (int i = 0; i < steps && n < truth_max; i++) {
            truth_sample &s = truth[n++];
            memcpy(s.pos, pos, sizeof pos);
            s.heading = heading;
            s.speed = speed;
            s.yaw_rate = speed > 0 ? yaw : 0;
            s.vel[0] = speed * sin(heading);
            s.vel[1] = 0;
            s.vel[2] = speed * cos(heading);
            double da = fmin(fmax(leg.accel - accel, -jerk * truth_step), jerk * truth_step);
            double dy = fmin(fmax(leg.yaw_rate - yaw, -yaw_accel * truth_step), yaw_accel * truth_step);
            accel += da;
            yaw += dy;
            double v0 = speed;
            speed = fmax(speed + accel * truth_step, 0.0);
            double h0 = heading;
            if (v0 > 0 || speed > 0)
                heading += yaw * truth_step;
            /* midpoint step */
            double vm = (v0 + speed) / 2, hm = (h0 + heading) / 2;
            pos[0] += vm * sin(hm) * truth_step;
            pos[2] += vm * cos(hm) * truth_step;
        }
    }
    truth_count = n;
}

double drive_seconds() { return (truth_count - 1) * truth_step; }

/* Position at drive time t (seconds from the start), linear between samples. */
void truth_at(double t, double out[3])
{
    double x = fmin(fmax(t / truth_step, 0.0), (double)(truth_count - 1));
    int i = (int)x;
    if (i >= truth_count - 1) {
        memcpy(out, truth[truth_count - 1].pos, sizeof truth[0].pos);
        return;
    }
    double f = x - i;
    for (int k = 0; k < 3; k++)
        out[k] = truth[i].pos[k] + (truth[i + 1].pos[k] - truth[i].pos[k]) * f;
}

const truth_sample &truth_near(double t)
{
    int i = (int)llround(fmin(fmax(t / truth_step, 0.0), (double)(truth_count - 1)));
    return truth[i];
}

/* A small deterministic generator so every run sees the same network. */
struct rng {
    uint64_t s;
    double next() /* [0, 1) */
    {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return (double)(s >> 11) * (1.0 / 9007199254740992.0);
    }
};

/* One datagram on its way: when it was sent (drive time) and when it is there. */
struct in_flight {
    uint32_t seq;
    double sent;
    double arrives; /* client clock */
};

constexpr int packets_max = 2048;
constexpr double send_interval = 0.1;
constexpr double base_latency = 0.040; /* one-way, seconds */
constexpr double render_rate = 60.0;
/* The sender's clock (whole seconds of its session, in milliseconds on the
 * wire) against ours: drive time 0 is sender time 500 s and client time 20 s. */
constexpr double sender_epoch = 500.0;
constexpr double client_epoch = 20.0;
constexpr uint16_t remote_id = 7;
constexpr uint16_t our_id = 1;

in_flight packets[packets_max];

/* The states of the drive as the network delivers them: jitter uniform in
 * [0, jitter] on top of a fixed latency, each lost with the given chance. */
int make_packets(double jitter, double loss, uint64_t seed)
{
    rng r{seed};
    int n = 0;
    for (uint32_t k = 0; n < packets_max; k++) {
        double sent = k * send_interval;
        if (sent > drive_seconds())
            break;
        double delay = base_latency + r.next() * jitter;
        bool lost = r.next() < loss;
        if (lost)
            continue;
        packets[n++] = {k + 1, sent, client_epoch + sent + delay};
    }
    /* arrival order (insertion sort; nearly sorted already) */
    for (int i = 1; i < n; i++) {
        in_flight x = packets[i];
        int j = i - 1;
        for (; j >= 0 && packets[j].arrives > x.arrives; j--)
            packets[j + 1] = packets[j];
        packets[j + 1] = x;
    }
    return n;
}

void feed(const in_flight &f, double now)
{
    const truth_sample &s = truth_near(f.sent);
    net_pose pose = {};
    pose.flags = 4;
    memcpy(pose.pos, s.pos, sizeof pose.pos);
    pose.rot[0] = (float)cos(s.heading / 2);
    pose.rot[2] = (float)sin(s.heading / 2);
    for (int k = 0; k < 3; k++)
        pose.vel[k] = (float)s.vel[k];
    pose.speed = (float)s.speed;
    pose.steering = (float)(s.yaw_rate * 2.0);
    pose.rpm = (float)(800 + s.speed * 60);
    uint8_t p[128];
    uint32_t ms = (uint32_t)llround((sender_epoch + f.sent) * 1000.0);
    int n = net_build_state(p, sizeof p, ms, &pose, 0);
    if (n > 0)
        net_roster_on_state(remote_id, f.seq, p, (size_t)n, now);
}

struct result {
    double rms, max;
    double mean_delay;
    double extrapolated; /* share of samples */
    uint64_t snaps;
    int samples;
    int delivered, sent;
};

/* Runs the drive through the roster and samples it every render frame. */
result run(int mode, double jitter, double loss, uint64_t seed)
{
    net_roster_reset();
    net_set_interp_mode(mode);
    uint8_t name[8];
    int nn = net_build_name(name, sizeof name, "drive");
    net_roster_on_joined(remote_id, our_id, name, (size_t)nn, client_epoch);
    int count = make_packets(jitter, loss, seed);
    result r = {};
    r.delivered = count;
    r.sent = (int)(drive_seconds() / send_interval) + 1;
    double sum_sq = 0, delay_sum = 0;
    uint64_t extrapolated = 0;
    int next = 0;
    /* Errors count once the ring has a second of history, until the drive ends. */
    const double measure_from = 1.0;
    int frames = (int)((drive_seconds() + 1.0) * render_rate);
    for (int f = 1; f <= frames; f++) {
        double now = client_epoch + f / render_rate;
        /* the frame's net_tick reads everything that has arrived */
        while (next < count && packets[next].arrives <= now)
            feed(packets[next++], now);
        net_interp_stats before, after;
        net_get_interp_stats(&before);
        net_pose out;
        if (!net_sample_player(remote_id, now, &out))
            continue;
        net_get_interp_stats(&after);
        const net_player *pl = net_roster_find(remote_id);
        double delay = mode == 2 ? pl->delay : 0.15;
        double drive_t = now - pl->offset - delay - sender_epoch;
        if (drive_t < measure_from || drive_t > drive_seconds())
            continue;
        double at[3];
        truth_at(drive_t, at);
        double e2 = 0;
        for (int k = 0; k < 3; k++)
            e2 += (out.pos[k] - at[k]) * (out.pos[k] - at[k]);
        sum_sq += e2;
        r.max = fmax(r.max, sqrt(e2));
        r.samples++;
        delay_sum += delay;
        extrapolated += (after.extrapolations + after.long_extrapolations) -
                        (before.extrapolations + before.long_extrapolations);
        r.snaps += after.snaps - before.snaps;
    }
    r.rms = r.samples ? sqrt(sum_sq / r.samples) : 0;
    r.mean_delay = r.samples ? delay_sum / r.samples : 0;
    r.extrapolated = r.samples ? (double)extrapolated / r.samples : 0;
    return r;
}

void log_nothing(const char *, ...) {}

} // namespace

int main()
{
    net_set_log(log_nothing);
    build_drive();
    double top = 0;
    for (int i = 0; i < truth_count; i++)
        top = fmax(top, truth[i].speed);
    printf("interpolation quality: synthetic drive of %.0f s (straights, curves, braking, stops; top speed %.1f m/s)\n",
           drive_seconds(), top);
    printf("states at 10 Hz, latency %.0f ms + uniform jitter, rendered at 60 Hz; error = |sampled - true| at the render time\n\n",
           base_latency * 1000);
    printf("jitter  loss  mode  delivered   RMS error  max error  mean delay  extrapolated  snaps\n");
    printf("  (ms)   (%%)            states         (m)        (m)        (ms)           (%%)\n");
    const double jitters[] = {0.0, 0.025, 0.050};
    const double losses[] = {0.0, 0.05};
    for (double jitter : jitters)
        for (double loss : losses)
            for (int mode = 1; mode <= 2; mode++) {
                /* the same network for both modes */
                uint64_t seed = 0x9E3779B97F4A7C15ull ^ (uint64_t)llround(jitter * 1e6) * 1315423911ull ^
                                (uint64_t)llround(loss * 1e4);
                result r = run(mode, jitter, loss, seed);
                printf("%6.0f  %4.0f  %4d  %4d/%-4d  %10.3f  %9.3f  %10.1f  %12.1f  %5llu\n", jitter * 1000,
                       loss * 100, mode, r.delivered, r.sent, r.rms, r.max, r.mean_delay * 1000,
                       r.extrapolated * 100, (unsigned long long)r.snaps);
            }
    net_roster_reset();
    return 0;
}
