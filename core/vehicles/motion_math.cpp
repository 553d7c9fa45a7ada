// The spawned vehicle's motion maths (see motion_math.h).
//
// Index
//   placements   placement_advance, motion_advance_forward, wrap_angle,
//                motion_circle_placement
//   trail        trail_reset, trail_add, trail_follow
//   steering     motion_forward, motion_speed, motion_yaw_change,
//                motion_steer_step, motion_steer_net
//   wheels       motion_wheel_radius, motion_wheel_spin, motion_wheel_angle
//   lights       motion_light_merge
#include "vehicles/motion_math.h"
#include <math.h>
#include <string.h>

/* ---- placements ---- */

namespace {

/* Brings a local coordinate strictly inside -512..512, moving the sector. */
void wrap_sector(float *local, int16_t *sector)
{
    const float size = (float)DM_SECTOR_SIZE;
    while (*local >= size) {
        *local -= size;
        (*sector)++;
    }
    while (*local <= -size) {
        *local += size;
        (*sector)--;
    }
}

} // namespace

placement placement_advance(const placement *p, float metres)
{
    placement out = *p;
    float qw = p->qw, qx = p->qx, qy = p->qy, qz = p->qz;
    out.x += (1.0f - 2.0f * (qy * qy + qz * qz)) * metres;
    out.y += 2.0f * (qx * qy + qw * qz) * metres;
    out.z += 2.0f * (qx * qz - qw * qy) * metres;
    wrap_sector(&out.x, &out.sector_x);
    wrap_sector(&out.z, &out.sector_z);
    return out;
}

placement motion_advance_forward(const placement *p, float metres)
{
    placement out = *p;
    float qw = p->qw, qx = p->qx, qy = p->qy, qz = p->qz;
    // The rotation's local -z axis.
    out.x -= 2.0f * (qx * qz + qw * qy) * metres;
    out.y -= 2.0f * (qy * qz - qw * qx) * metres;
    out.z -= (1.0f - 2.0f * (qx * qx + qy * qy)) * metres;
    wrap_sector(&out.x, &out.sector_x);
    wrap_sector(&out.z, &out.sector_z);
    return out;
}

double wrap_angle(double radians)
{
    const double two_pi = 2.0 * M_PI;
    while (radians > M_PI)
        radians -= two_pi;
    while (radians < -M_PI)
        radians += two_pi;
    return radians;
}

placement motion_circle_placement(double cx, double cy, double cz, double radius, double angle)
{
    placement out;
    double half = (MOTION_PI - angle) / 2.0;
    placement_from_world(&out, cx + cos(angle) * radius, cy, cz + sin(angle) * radius, (float)cos(half), 0.0f,
                         (float)sin(half), 0.0f);
    return out;
}

/* ---- trail ---- */

namespace {

trail_sample sample_of(const placement *p)
{
    trail_sample s;
    s.x = placement_world_x(p);
    s.y = p->y;
    s.z = placement_world_z(p);
    s.qw = p->qw;
    s.qx = p->qx;
    s.qy = p->qy;
    s.qz = p->qz;
    return s;
}

/* The sample back steps before the newest. */
const trail_sample *back(const trail_ring *ring, uint32_t steps)
{
    return &ring->samples[(ring->head + 2 * TRAIL_SAMPLES - 1 - steps) % TRAIL_SAMPLES];
}

} // namespace

void trail_reset(trail_ring *ring, const placement *p)
{
    ring->head = 0;
    ring->count = 0;
    trail_add(ring, p);
}

bool trail_add(trail_ring *ring, const placement *p)
{
    trail_sample s = sample_of(p);
    if (ring->count > 0) {
        const trail_sample *newest = back(ring, 0);
        double dx = s.x - newest->x, dz = s.z - newest->z;
        if (sqrt(dx * dx + dz * dz) < TRAIL_MIN_STEP)
            return false;
    }
    ring->samples[ring->head] = s;
    ring->head = (ring->head + 1) % TRAIL_SAMPLES;
    if (ring->count < TRAIL_SAMPLES)
        ring->count++;
    return true;
}

bool trail_follow(const trail_ring *ring, double distance, double pos[3], float q[4])
{
    if (ring->count < 2)
        return false;
    double walked = 0;
    // count samples make count - 1 segments: the slot before the oldest was
    // never written (or holds the newest after a wrap).
    for (uint32_t k = 0; k + 1 < ring->count; k++) {
        const trail_sample *a = back(ring, k), *b = back(ring, k + 1);
        double dx = b->x - a->x, dy = b->y - a->y, dz = b->z - a->z;
        double length = sqrt(dx * dx + dy * dy + dz * dz);
        if (walked + length < distance) {
            walked += length;
            continue;
        }
        double t = length > 0 ? (distance - walked) / length : 0.0;
        pos[0] = a->x + dx * t;
        pos[1] = a->y + dy * t;
        pos[2] = a->z + dz * t;
        float qa[4] = { a->qw, a->qx, a->qy, a->qz }, qb[4] = { b->qw, b->qx, b->qy, b->qz };
        float dot = qa[0] * qb[0] + qa[1] * qb[1] + qa[2] * qb[2] + qa[3] * qb[3];
        float s = dot < 0 ? -1.0f : 1.0f, norm = 0;
        for (int i = 0; i < 4; i++) {
            q[i] = qa[i] + (s * qb[i] - qa[i]) * (float)t;
            norm += q[i] * q[i];
        }
        norm = sqrtf(norm);
        for (int i = 0; i < 4; i++)
            q[i] = norm > 1e-6f ? q[i] / norm : qa[i];
        return true;
    }
    return false;
}

/* ---- steering ---- */

void motion_forward(const placement *p, float *fx, float *fz)
{
    *fx = -2.0f * (p->qw * p->qy + p->qx * p->qz);
    *fz = -(1.0f - 2.0f * (p->qx * p->qx + p->qy * p->qy));
}

double motion_speed(const placement *now, const placement *before, double dt)
{
    float fx, fz;
    motion_forward(now, &fx, &fz);
    double dx = placement_world_x(now) - placement_world_x(before);
    double dz = placement_world_z(now) - placement_world_z(before);
    return (dx * fx + dz * fz) / dt;
}

double motion_yaw_change(const placement *now, const placement *before)
{
    float fx, fz, bx, bz;
    motion_forward(now, &fx, &fz);
    motion_forward(before, &bx, &bz);
    double change = atan2(fx, -fz) - atan2(bx, -bz);
    while (change > MOTION_PI)
        change -= MOTION_TWO_PI;
    while (change <= -MOTION_PI)
        change += MOTION_TWO_PI;
    return change;
}

float motion_steer_step(float value, double v, double yaw_change, double dt, float sign)
{
    if (fabs(v) <= MOTION_STEER_MIN_SPEED)
        return value;
    double target = atan((yaw_change / dt) * 4.5 / v) * sign / 0.6;
    if (target > 1.0)
        target = 1.0;
    if (target < -1.0)
        target = -1.0;
    return (float)(value + (target - value) * 0.15);
}

float motion_steer_net(float value, float net_steering) { return value + (net_steering - value) * 0.3f; }

/* ---- wheels ---- */

float motion_wheel_radius(const float *radii, uint64_t count, uint64_t i)
{
    if (radii && i < count && radii[i] > MOTION_WHEEL_RADIUS_MIN)
        return radii[i];
    return MOTION_WHEEL_RADIUS_DEFAULT;
}

float motion_wheel_spin(double v, uint64_t frame_us, float time_scale, float radius)
{
    double factor = ((double)frame_us * 1e-6) / time_scale;
    return (float)(v * factor / radius);
}

float motion_wheel_angle(float angle, float k, float spin) { return fmodf(angle - k * spin, MOTION_WHEEL_TURN); }

/* ---- lights ---- */

uint32_t motion_light_merge(uint32_t game_word, uint32_t bits)
{
    return (game_word & MOTION_LIGHT_GAME_BIT) | (bits & ~MOTION_LIGHT_GAME_BIT);
}
