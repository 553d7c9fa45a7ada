// The name tags' pure maths and argument parsing: quaternion rotation, the
// view from a camera's fields, the projection onto the screen, the tag's
// fade, size and prefix, and the nametags and cam dump arguments.
#include "ui/nametags.h"
#include <ctype.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "base/plain_text.h"

namespace {

void cross(const float a[3], const float b[3], float out[3])
{
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

float dot(const float a[3], const float b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

bool all_finite(const float *v, int n)
{
    for (int i = 0; i < n; i++)
        if (!isfinite(v[i]))
            return false;
    return true;
}

bool fov_in_range(float degrees) { return degrees > 1.0f && degrees < 179.0f; }

} // namespace

void quat_rotate_vector(const float q[4], const float v[3], float out[3])
{
    const float *u = q + 1; // x, y, z
    float t[3], ut[3];
    cross(u, v, t);
    for (int i = 0; i < 3; i++)
        t[i] *= 2.0f;
    cross(u, t, ut);
    for (int i = 0; i < 3; i++)
        out[i] = v[i] + q[0] * t[i] + ut[i];
}

bool cam_view_build(const cam_fields *f, cam_view *out)
{
    // Written as "inside" so that a field of view that is not a number fails too.
    if (!fov_in_range(f->fov_h) || !fov_in_range(f->fov_v))
        return false;
    static const float back[3] = { 0, 0, -1 }, right[3] = { 1, 0, 0 }, up[3] = { 0, 1, 0 };
    cam_view v;
    v.pos[0] = f->sector_x * DM_CAM_SECTOR_SIZE + f->x;
    v.pos[1] = f->y;
    v.pos[2] = f->sector_z * DM_CAM_SECTOR_SIZE + f->z;
    quat_rotate_vector(f->q, back, v.forward);
    quat_rotate_vector(f->q, right, v.right);
    quat_rotate_vector(f->q, up, v.up);
    const double to_radians = 3.1415927 / 180.0;
    v.tan_h = (float)tan(f->fov_h * to_radians / 2.0);
    v.tan_v = (float)tan(f->fov_v * to_radians / 2.0);
    // A camera that is being rebuilt can hold anything: a view with a value
    // that is not finite would put tags at random places, so there is none.
    if (!isfinite(v.pos[0]) || !isfinite(v.pos[1]) || !isfinite(v.pos[2]) || !all_finite(v.forward, 3) ||
        !all_finite(v.right, 3) || !all_finite(v.up, 3) || !isfinite(v.tan_h) || !isfinite(v.tan_v))
        return false;
    *out = v;
    return true;
}

bool cam_project(const cam_view *v, const double p[3], float w, float h, float *sx, float *sy,
                    float *depth)
{
    float d[3];
    for (int i = 0; i < 3; i++)
        d[i] = (float)(p[i] - v->pos[i]);
    float z = dot(d, v->forward);
    *depth = z;
    *sx = *sy = 0;
    if (!(z >= 0.1f))
        return false;
    *sx = (1.0f + dot(d, v->right) / (z * v->tan_h)) * 0.5f * w;
    *sy = (1.0f - dot(d, v->up) / (z * v->tan_v)) * 0.5f * h;
    return true;
}

double cam_distance(const cam_view *v, const double p[3])
{
    double dx = p[0] - v->pos[0], dy = p[1] - v->pos[1], dz = p[2] - v->pos[2];
    return sqrt(dx * dx + dy * dy + dz * dz);
}

int tag_alpha(double t)
{
    if (t < 0.8)
        return 255;
    int a = (int)((1.0 - (t - 0.8) / 0.2) * 255.0);
    return a < 0 ? 0 : a > 255 ? 255 : a;
}

float tag_size_factor(double t) { return (float)(1.35 - 0.55 * t); }

void tag_prefix(const char *tag, char out[DM_TAG_PREFIX_MAX])
{
    out[0] = 0;
    if (tag && tag[0])
        snprintf(out, DM_TAG_PREFIX_MAX, "[%s] ", tag);
}

bool nametags_parse(const char *rest, uint8_t *on, float *range)
{
    const char *p = text_skip_blanks(rest ? rest : "");
    if (!*p)
        return true;
    if (strcmp(p, "on") == 0 || strcmp(p, "off") == 0) {
        *on = p[1] == 'n' ? 1 : 0;
        return true;
    }
    if (strncmp(p, "dist ", 5) == 0) {
        // A distance in metres, finite and within f32 ("inf" or "nan" would
        // show every tag at any distance or none at all); one of 10 m or
        // less keeps the range as it is.
        const char *q = p + 5;
        double m;
        if (!text_parse_f64_in(&q, 0.0, 3.0e38, &m) || !text_at_end(q))
            return false;
        if (m > 10.0)
            *range = (float)m;
        return true;
    }
    return false;
}

int cam_parse(const char *rest, const char **after)
{
    const char *p = text_skip_blanks(rest ? rest : "");
    *after = p;
    if (strncmp(p, "dump", 4) == 0) {
        *after = p + 4;
        return DM_CAM_DUMP;
    }
    return strncmp(p, "w2s", 3) == 0 ? DM_CAM_W2S : DM_CAM_USAGE;
}

int cam_dump_parse(const char *text, uint32_t *length, uint64_t *offsets, int max)
{
    const char *p = text_skip_blanks(text ? text : "");
    char *end = nullptr;
    uint64_t len = 0;
    // Only digits start a length: strtoull alone would take "+960" as one.
    if (isxdigit((unsigned char)*p)) {
        len = strtoull(p, &end, 16);
        p = end;
    }
    *length = len == 0 ? 0xC0u : len > 0x1000u ? 0x1000u : (uint32_t)len;
    int n = 0;
    p = text_skip_blanks(p);
    while (*p == '+' && n < max && isxdigit((unsigned char)p[1])) {
        offsets[n++] = strtoull(p + 1, &end, 16);
        p = text_skip_blanks(end);
    }
    return n;
}
