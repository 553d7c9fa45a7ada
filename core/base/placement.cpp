#include "base/placement.h"
#include <math.h>

placement *placement_from_world(placement *out, double x, double y, double z, float qw, float qx,
                                float qy, float qz)
{
    double sx = floor(x / DM_SECTOR_SIZE + 0.5);
    double sz = floor(z / DM_SECTOR_SIZE + 0.5);
    out->sector_x = (int16_t)(int32_t)sx;
    out->sector_z = (int16_t)(int32_t)sz;
    out->x = (float)(x - out->sector_x * DM_SECTOR_SIZE);
    out->y = (float)y;
    out->z = (float)(z - out->sector_z * DM_SECTOR_SIZE);
    out->qw = qw;
    out->qx = qx;
    out->qy = qy;
    out->qz = qz;
    return out;
}

double placement_world_x(const placement *p) { return p->sector_x * DM_SECTOR_SIZE + p->x; }
double placement_world_z(const placement *p) { return p->sector_z * DM_SECTOR_SIZE + p->z; }

void placement_world(const placement *p, double out[3])
{
    out[0] = placement_world_x(p);
    out[1] = p->y;
    out[2] = placement_world_z(p);
}
