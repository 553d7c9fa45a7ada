// The pure part of props (props_math.h): names, placements absolute and
// relative, rotations, the plane fit, the truck offset, the checks of
// positions and quaternions, and model path rules.
//
// Index of this file:
//   names        part and light mode names
//   placements   floor rule, world position, relative placement, composition
//   rotations    Hamilton product, yaw turn, yaw, quaternion and position checks,
//                the typed attach offset
//   levelling    plane fit, box check, truck offset
//   paths        path text rules, collision path, token text
#include "props/props_math.h"
#include "props/props_text.h"
#include <math.h>
#include <string.h>

/* ---- names ---- */

const char *const props_part_names[4] = { "none", "truck", "cabin", "trailer" };
const char *const props_light_mode_names[7] = { "default", "on", "off", "headlights", "!headlights", "beacons",
                                                "!beacons" };

const char *props_light_mode_name(uint8_t mode) { return props_light_mode_names[mode > 6 ? 0 : mode]; }
const char *props_part_name(uint8_t part) { return part < 4 ? props_part_names[part] : "?"; }
const char *props_sent_word(bool sent) { return sent ? "sent" : "not sent"; }

int props_light_mode_parse(const char *word)
{
    for (int i = 0; i < 7; i++)
        if (props_same_nocase(word, props_light_mode_names[i]))
            return i;
    return -1;
}

/* ---- placements ---- */

placement *props_placement_from_world(placement *out, const double pos[3], const float q[4])
{
    double sx = floor(pos[0] / DM_SECTOR_SIZE), sz = floor(pos[2] / DM_SECTOR_SIZE);
    out->sector_x = (int16_t)sx;
    out->sector_z = (int16_t)sz;
    out->x = (float)(pos[0] - out->sector_x * DM_SECTOR_SIZE);
    out->y = (float)pos[1];
    out->z = (float)(pos[2] - out->sector_z * DM_SECTOR_SIZE);
    out->qw = q[0];
    out->qx = q[1];
    out->qy = q[2];
    out->qz = q[3];
    return out;
}

static void cross(const float a[3], const float b[3], float out[3])
{
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

props_relative *placement_relative(props_relative *out, const placement *frame, const placement *target)
{
    // The difference by sectors first, so world metres far from the origin
    // keep their centimetres in f32.
    float d[3] = { (float)((target->sector_x - frame->sector_x) * DM_SECTOR_SIZE) + (target->x - frame->x),
                   target->y - frame->y,
                   (float)((target->sector_z - frame->sector_z) * DM_SECTOR_SIZE) + (target->z - frame->z) };
    float w = frame->qw, u[3] = { -frame->qx, -frame->qy, -frame->qz }, t[3], ut[3];
    cross(u, d, t);
    for (float &v : t)
        v *= 2.0f;
    cross(u, t, ut);
    out->x = d[0] + w * t[0] + ut[0];
    out->y = d[1] + w * t[1] + ut[1];
    out->z = d[2] + w * t[2] + ut[2];
    out->zero = 0.0f;
    float c[4] = { w, u[0], u[1], u[2] }, q[4] = { target->qw, target->qx, target->qy, target->qz }, r[4];
    props_quat_mul(c, q, r);
    out->qw = r[0];
    out->qx = r[1];
    out->qy = r[2];
    out->qz = r[3];
    return out;
}

placement *props_compose(placement *out, const placement *frame, const props_relative *rel)
{
    double w = frame->qw, u[3] = { frame->qx, frame->qy, frame->qz };
    double v[3] = { rel->x, rel->y, rel->z };
    double t[3] = { 2 * (u[1] * v[2] - u[2] * v[1]), 2 * (u[2] * v[0] - u[0] * v[2]), 2 * (u[0] * v[1] - u[1] * v[0]) };
    double ut[3] = { u[1] * t[2] - u[2] * t[1], u[2] * t[0] - u[0] * t[2], u[0] * t[1] - u[1] * t[0] };
    double base[3];
    placement_world(frame, base);
    double pos[3] = { base[0] + v[0] + w * t[0] + ut[0], base[1] + v[1] + w * t[1] + ut[1],
                      base[2] + v[2] + w * t[2] + ut[2] };
    float f[4] = { frame->qw, frame->qx, frame->qy, frame->qz }, r[4] = { rel->qw, rel->qx, rel->qy, rel->qz }, q[4];
    props_quat_mul(f, r, q);
    return props_placement_from_world(out, pos, q);
}

/* ---- rotations ---- */

void props_quat_mul(const float a[4], const float b[4], float out[4])
{
    float r[4] = { a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3],
                   a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2],
                   a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1],
                   a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0] };
    memcpy(out, r, sizeof r);
}

void quat_rotate_yaw(float q[4], float degrees)
{
    float h = degrees * 3.1415927f / 360.0f;
    float r[4] = { cosf(h), 0.0f, sinf(h), 0.0f };
    props_quat_mul(r, q, q);
}

double props_yaw(const float q[4])
{
    double w = q[0], x = q[1], y = q[2], z = q[3];
    return atan2(2 * (x * z + w * y), 1 - 2 * (x * x + y * y));
}

bool props_quat_take(float q[4])
{
    double n = 0;
    for (int i = 0; i < 4; i++) {
        if (!isfinite(q[i]))
            return false;
        n += (double)q[i] * q[i];
    }
    n = sqrt(n);
    if (fabs(n - 1.0) > PROPS_QUAT_TOLERANCE)
        return false;
    for (int i = 0; i < 4; i++)
        q[i] = (float)(q[i] / n);
    return true;
}

bool props_position_ok(const double pos[3])
{
    for (int i = 0; i < 3; i++)
        if (!isfinite(pos[i]))
            return false;
    return fabs(pos[0]) < PROPS_WORLD_LIMIT && fabs(pos[2]) < PROPS_WORLD_LIMIT && fabs(pos[1]) <= PROPS_F32_MAX;
}

bool props_attach_offset_ok(const float offset[3])
{
    for (int i = 0; i < 3; i++)
        if (!isfinite(offset[i]) || fabsf(offset[i]) > PROPS_ATTACH_OFFSET_MAX)
            return false;
    return true;
}

bool props_typed_relative(float ahead, float right, float up, float yaw, props_relative *out)
{
    if (!isfinite(yaw))
        return false;
    float q[4] = { 1, 0, 0, 0 };
    if (yaw != 0)
        quat_rotate_yaw(q, yaw);
    *out = { right, up, -ahead, 0, q[0], q[1], q[2], q[3] };
    return true;
}

/* ---- levelling ---- */

double props_plane_fit(const double X[2], const double Z[2], const double h[4], double yaw, float out_rot[4],
                       double *out_tilt_deg, double *out_gap)
{
    double wx = X[1] - X[0], wz = Z[1] - Z[0];
    double mean = (h[0] + h[1] + h[2] + h[3]) / 4;
    double sx = wx < 0.001 ? 0 : ((h[2] + h[3]) - (h[0] + h[1])) / (2 * wx);
    double sz = wz < 0.001 ? 0 : ((h[1] + h[3]) - (h[0] + h[2])) / (2 * wz);
    double cx = (X[0] + X[1]) / 2, cz = (Z[0] + Z[1]) / 2;
    auto plane = [&](double x, double z) { return mean + (x - cx) * sx + (z - cz) * sz; };
    const double px[4] = { X[0], X[0], X[1], X[1] }, pz[4] = { Z[0], Z[1], Z[0], Z[1] };
    double gap = 0;
    for (int i = 0; i < 4; i++)
        gap = fmax(gap, fabs(h[i] - plane(px[i], pz[i])));
    double c = cos(yaw), s = sin(yaw);
    double gx = sx * c + sz * s, gz = sz * c - sx * s;
    double n = sqrt(gx * gx + 1 + gz * gz);
    double ax = -gz / n, az = gx / n, a = sqrt(ax * ax + az * az);
    double angle = acos(fmin(1.0, 1 / n));
    float t[4] = { 1, 0, 0, 0 };
    if (a > 1e-9) {
        t[0] = (float)cos(angle / 2);
        t[1] = (float)(ax / a * sin(angle / 2));
        t[3] = (float)(az / a * sin(angle / 2));
    }
    float y[4] = { (float)cos(yaw / 2), 0, (float)sin(yaw / 2), 0 };
    props_quat_mul(t, y, out_rot);
    *out_tilt_deg = angle * 57.2958;
    *out_gap = gap;
    return plane(0, 0);
}

bool props_box_valid(const float min[3], const float max[3])
{
    for (int i = 0; i < 3; i++)
        if (!(max[i] >= min[i]) || !(max[i] - min[i] <= 500.0f))
            return false;
    return true;
}

void props_offset_point(const placement *truck, double ahead, double right, double up, double out[3])
{
    double w = truck->qw, x = truck->qx, y = truck->qy, z = truck->qz;
    double r[3] = { 1 - 2 * (y * y + z * z), 2 * (x * y + w * z), 2 * (x * z - w * y) };
    double b[3] = { 2 * (x * z + w * y), 2 * (y * z - w * x), 1 - 2 * (x * x + y * y) };
    double p[3];
    placement_world(truck, p);
    for (int i = 0; i < 3; i++)
        out[i] = p[i] + right * r[i] - ahead * b[i];
    out[1] += up;
}

/* ---- paths ---- */

bool props_path_text_ok(const char *path)
{
    size_t n = 0;
    while (n < PROPS_PATH_MAX && path[n]) {
        if ((unsigned char)path[n] < 0x20 || path[n] == 0x7F)
            return false;
        n++;
    }
    if (n == PROPS_PATH_MAX || n < 5 || path[0] != '/')
        return false;
    if (!props_same_nocase(path + n - 4, ".pmd"))
        return false;
    for (size_t i = 0; i + 1 < n; i++)
        if (path[i] == '.' && path[i + 1] == '.')
            return false;
    return true;
}

bool props_collision_path(const char *path, char out[PROPS_PATH_MAX + 1])
{
    size_t n = strnlen(path, PROPS_PATH_MAX);
    memcpy(out, path, n);
    out[n] = 0;
    if (n < 4 || !props_same_nocase(out + n - 4, ".pmd"))
        return false;
    out[n - 1] = 'c';
    return true;
}
