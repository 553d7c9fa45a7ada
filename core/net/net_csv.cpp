// The recording's CSV rows, and the local pose from telemetry placement.
#include "net/net_csv.h"
#include <math.h>
#include <stdio.h>
#include <string.h>
#include "net/net.h"
#include "net/net_internal.h"

int net_csv_row(char *out, size_t size, double now, const net_pose *p)
{
    unsigned flags = p->flags | (p->has_trailer ? 2u : 0u);
    int n = snprintf(out, size, "%.3f,0,%u,%.4f,%.4f,%.4f,%.6f,%.6f,%.6f,%.6f,%.4f,%.4f,%.4f,%.4f,%.4f,%.1f", now,
                     flags, p->pos[0], p->pos[1], p->pos[2], p->rot[0], p->rot[1], p->rot[2], p->rot[3], p->vel[0],
                     p->vel[1], p->vel[2], p->steering, p->speed, p->rpm);
    if (n < 0 || (size_t)n >= size)
        return -1;
    int m;
    if (p->has_trailer)
        m = snprintf(out + n, size - n, ",%.4f,%.4f,%.4f,%.6f,%.6f,%.6f,%.6f\n", p->trailer_pos[0],
                     p->trailer_pos[1], p->trailer_pos[2], p->trailer_rot[0], p->trailer_rot[1], p->trailer_rot[2],
                     p->trailer_rot[3]);
    else
        m = snprintf(out + n, size - n, ",,,,,,,\n");
    if (m < 0 || (size_t)(n + m) >= size)
        return -1;
    return n + m;
}

void net_sample_local_telemetry(const dm_frame_info *info, net_pose *out)
{
    memset(out, 0, sizeof *out);
    out->flags = info->paused ? 5 : 4;
    out->pos[0] = info->x;
    out->pos[1] = info->y;
    out->pos[2] = info->z;
    const double pi = 3.14159265358979323846;
    float qh[4] = {(float)cos(pi * info->heading), 0, (float)sin(pi * info->heading), 0};
    float qp[4] = {(float)cos(pi * info->pitch), (float)sin(pi * info->pitch), 0, 0};
    float qr[4] = {(float)cos(pi * info->roll), 0, 0, (float)sin(pi * info->roll)};
    float t[4];
    quat_mul(qh, qp, t);
    quat_mul(t, qr, out->rot);
    out->speed = info->speed;
}
