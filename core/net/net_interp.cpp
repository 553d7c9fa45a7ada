// Snapshot interpolation: a remote player's pose for this frame, rendered a
// little in the past from the state ring. Mode 1: fixed 0.15 s delay, linear
// interpolation, capped linear extrapolation. Mode 2: adaptive delay, cubic
// Hermite interpolation, curved extrapolation and error smoothing.
#include <math.h>
#include <string.h>
#include "net/net_internal.h"

static int interp_mode = 1;
static net_interp_stats stats;

void net_interp_reset()
{
    interp_mode = 1;
    memset(&stats, 0, sizeof stats);
}

/* A change of mode forgets every player's mode 2 history (delay, last output,
 * smoothing): after a spell of mode 1 the last mode 2 output predicts nothing,
 * and smoothing towards it would pull the truck back to where it was. */
void net_set_interp_mode(int mode)
{
    mode = mode == 2 ? 2 : 1;
    if (mode == interp_mode)
        return;
    interp_mode = mode;
    for (net_player &p : net_roster) {
        p.delay = 0;
        p.last_sample = 0;
        memset(p.out_pos, 0, sizeof p.out_pos);
        memset(p.out_vel, 0, sizeof p.out_vel);
        memset(p.smooth, 0, sizeof p.smooth);
    }
}
int net_interp_mode() { return interp_mode; }
void net_get_interp_stats(net_interp_stats *out) { *out = stats; }

void quat_nlerp(const float a[4], const float b[4], float s, float out[4])
{
    float dot = a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
    float sign = dot < 0 ? -1.0f : 1.0f;
    float q[4];
    for (int i = 0; i < 4; i++)
        q[i] = a[i] + (sign * b[i] - a[i]) * s;
    float norm = sqrtf(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    if (!(norm >= 1e-6f)) {
        memmove(out, a, 4 * sizeof(float));
        return;
    }
    for (int i = 0; i < 4; i++)
        out[i] = q[i] / norm;
}

void quat_mul(const float a[4], const float b[4], float out[4])
{
    float r[4];
    r[0] = a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3];
    r[1] = a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2];
    r[2] = a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1];
    r[3] = a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0];
    memcpy(out, r, sizeof r);
}

void quat_angular_velocity(const float prev[4], const float newest[4], double dt, double out[3])
{
    float conj[4] = {prev[0], -prev[1], -prev[2], -prev[3]}, r[4];
    quat_mul(newest, conj, r);
    if (r[0] < 0)
        for (float &c : r)
            c = -c;
    double len = sqrt((double)r[1] * r[1] + (double)r[2] * r[2] + (double)r[3] * r[3]);
    if (len > 1e-6 && dt > 0.0001) {
        double angle = 2.0 * atan2(len, (double)r[0]);
        for (int i = 0; i < 3; i++)
            out[i] = r[i + 1] / len * angle / dt;
    } else {
        out[0] = out[1] = out[2] = 0;
    }
}

void rotate_by_angular_velocity(const double w[3], double tau, const double v[3], double out[3])
{
    double mag = sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
    if (mag < 1e-6) {
        for (int i = 0; i < 3; i++)
            out[i] = v[i];
        return;
    }
    double k[3] = {w[0] / mag, w[1] / mag, w[2] / mag};
    double th = mag * tau, c = cos(th), s = sin(th);
    double kxv[3] = {k[1] * v[2] - k[2] * v[1], k[2] * v[0] - k[0] * v[2], k[0] * v[1] - k[1] * v[0]};
    double kv = k[0] * v[0] + k[1] * v[1] + k[2] * v[2];
    double r[3];
    for (int i = 0; i < 3; i++)
        r[i] = v[i] * c + kxv[i] * s + k[i] * kv * (1 - c);
    for (int i = 0; i < 3; i++)
        out[i] = r[i];
}

static const net_ring_entry *ring_at(const net_player *p, int back) /* 0 = newest */
{
    return &p->ring[(p->head - 1 - back + 2 * NET_RING) % NET_RING];
}

/* Finds the pair around t (t below the newest time); false when no entry is <= t. */
static bool find_pair(const net_player *p, double t, const net_ring_entry **older, const net_ring_entry **newer)
{
    for (int i = 0; i + 1 < p->count; i++) {
        const net_ring_entry *n = ring_at(p, i), *o = ring_at(p, i + 1);
        if (o->t <= t) {
            *older = o;
            *newer = n;
            return true;
        }
    }
    return false;
}

/* Common part of interpolating a pair; the position is left to the caller. */
static double lerp_pair(const net_ring_entry *o, const net_ring_entry *n, double t, net_pose *out)
{
    double s = n->t > o->t ? (t - o->t) / (n->t - o->t) : 1.0;
    float fs = (float)s;
    *out = n->pose;
    for (int i = 0; i < 3; i++)
        out->vel[i] = o->pose.vel[i] + (n->pose.vel[i] - o->pose.vel[i]) * fs;
    out->steering = o->pose.steering + (n->pose.steering - o->pose.steering) * fs;
    out->speed = o->pose.speed + (n->pose.speed - o->pose.speed) * fs;
    quat_nlerp(o->pose.rot, n->pose.rot, fs, out->rot);
    if (o->pose.has_trailer && n->pose.has_trailer) {
        for (int i = 0; i < 3; i++)
            out->trailer_pos[i] = o->pose.trailer_pos[i] + (n->pose.trailer_pos[i] - o->pose.trailer_pos[i]) * s;
        quat_nlerp(o->pose.trailer_rot, n->pose.trailer_rot, fs, out->trailer_rot);
    }
    return s;
}

static void sample_mode1(net_player *p, double now, net_pose *out)
{
    const double delay = 0.15;
    double t = now - p->offset - delay;
    const net_ring_entry *newest = ring_at(p, 0);
    if (now > p->last_sample) {
        p->last_sample = now;
        stats.samples++;
        stats.delay_sum += delay;
        if (t >= newest->t) {
            if (t - newest->t > 0.5)
                stats.long_extrapolations++;
            else
                stats.extrapolations++;
        }
    }
    if (t < newest->t) {
        const net_ring_entry *o, *n;
        if (!find_pair(p, t, &o, &n)) {
            *out = ring_at(p, p->count - 1)->pose;
            return;
        }
        double s = lerp_pair(o, n, t, out);
        for (int i = 0; i < 3; i++)
            out->pos[i] = o->pose.pos[i] + (n->pose.pos[i] - o->pose.pos[i]) * s;
        return;
    }
    *out = newest->pose;
    double d = fmin(t - newest->t, 0.5);
    for (int i = 0; i < 3; i++) {
        double move = out->vel[i] * d;
        out->pos[i] += move;
        if (out->has_trailer)
            out->trailer_pos[i] += move;
    }
}

static int sample_ring_mode2(const net_player *p, double t, net_pose *out)
{
    const net_ring_entry *newest = ring_at(p, 0);
    if (t < newest->t) {
        const net_ring_entry *o, *n;
        if (p->count < 2 || !find_pair(p, t, &o, &n)) {
            *out = ring_at(p, p->count - 1)->pose;
            return 3;
        }
        double s = lerp_pair(o, n, t, out);
        double h = n->t - o->t;
        double s2 = s * s, s3 = s2 * s;
        for (int i = 0; i < 3; i++) {
            double p0 = o->pose.pos[i], p1 = n->pose.pos[i];
            double lin = p0 + (p1 - p0) * s;
            double herm = (2 * s3 - 3 * s2 + 1) * p0 + (s3 - 2 * s2 + s) * h * o->pose.vel[i] +
                          (3 * s2 - 2 * s3) * p1 + (s3 - s2) * h * n->pose.vel[i];
            out->pos[i] = (h > 0 && h < 0.5 && fabs(herm - lin) <= 2.0) ? herm : lin;
        }
        return 0;
    }
    *out = newest->pose;
    double d = t - newest->t, e = fmin(d, 0.5);
    int kind = d > 0.5 ? 2 : 1;
    double w[3] = {0, 0, 0};
    if (p->count >= 2) {
        const net_ring_entry *prev = ring_at(p, 1);
        quat_angular_velocity(prev->pose.rot, newest->pose.rot, newest->t - prev->t, w);
    }
    double v[3] = {newest->pose.vel[0], newest->pose.vel[1], newest->pose.vel[2]};
    double disp[3] = {0, 0, 0};
    for (int i = 0; i < 8; i++) {
        double r[3];
        rotate_by_angular_velocity(w, (i + 0.5) * e / 8, v, r);
        for (int k = 0; k < 3; k++)
            disp[k] += r[k] * e / 8;
    }
    for (int k = 0; k < 3; k++) {
        out->pos[k] += disp[k];
        if (out->has_trailer)
            out->trailer_pos[k] += disp[k];
    }
    double vr[3];
    rotate_by_angular_velocity(w, e, v, vr);
    for (int k = 0; k < 3; k++)
        out->vel[k] = (float)vr[k];
    double mag = sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
    if (mag >= 1e-6) {
        double half = mag * e / 2, sn = sin(half) / mag;
        float dq[4] = {(float)cos(half), (float)(sn * w[0]), (float)(sn * w[1]), (float)(sn * w[2])};
        quat_mul(dq, newest->pose.rot, out->rot);
    }
    return kind;
}

static void sample_mode2(net_player *p, double now, net_pose *out)
{
    double interval = fmax(p->interval, 0.1);
    double target = fmin(fmax(interval + 1.5 * p->jitter + 0.03, 0.12), 0.6);
    double dt = p->last_sample != 0 ? now - p->last_sample : 0;
    bool advancing = dt > 0;
    double step = fmin(dt, 0.25);
    if (p->delay == 0) {
        p->delay = target;
    } else if (advancing) {
        double max_move = step * 0.05, diff = target - p->delay;
        p->delay = fabs(diff) <= max_move ? target : p->delay + (diff > 0 ? max_move : -max_move);
    }
    double t = now - p->offset - p->delay;
    int kind = sample_ring_mode2(p, t, out);
    if (advancing) {
        stats.samples++;
        if (kind == 1)
            stats.extrapolations++;
        else if (kind == 2)
            stats.long_extrapolations++;
        stats.delay_sum += p->delay;
        double err[3], e = 0;
        for (int i = 0; i < 3; i++) {
            err[i] = p->out_pos[i] + p->out_vel[i] * step - out->pos[i];
            e += err[i] * err[i];
        }
        double decay = exp(-dt / 0.2);
        for (double &c : p->smooth)
            c *= decay;
        if (p->last_sample > 0 && e > 0.0025) {
            if (e > 225.0) {
                p->smooth[0] = p->smooth[1] = p->smooth[2] = 0;
                stats.snaps++;
            } else {
                for (int i = 0; i < 3; i++)
                    p->smooth[i] += err[i];
            }
        }
    }
    if (advancing || p->last_sample == 0) {
        for (int i = 0; i < 3; i++) {
            p->out_pos[i] = out->pos[i];
            p->out_vel[i] = out->vel[i];
        }
        p->last_sample = now;
    }
    for (int i = 0; i < 3; i++) {
        out->pos[i] += p->smooth[i];
        if (out->has_trailer)
            out->trailer_pos[i] += p->smooth[i];
    }
}

bool net_sample_player(uint16_t id, double now, net_pose *out)
{
    net_player *p = net_roster_find(id);
    if (!p || p->count == 0)
        return false;
    if (interp_mode == 2)
        sample_mode2(p, now, out);
    else
        sample_mode1(p, now, out);
    return true;
}
