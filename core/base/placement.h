/* The game's 32-byte sector placement and the conversion from world metres.
 * Pure arithmetic: no windows.h, no game memory. */
#pragma once
#include <stdint.h>

#define DM_SECTOR_SIZE 512.0

/* x and z are local to a 512 m sector; world = sector * 512 + local, y absolute. */
typedef struct placement {
    float x, y, z;
    int16_t sector_x, sector_z;
    float qw, qx, qy, qz;
} placement;
static_assert(sizeof(placement) == 32, "placement is the game's 32-byte layout");

/* The nearest sector: local x and z lie within -256..+256 m. */
placement *placement_from_world(placement *out, double x, double y, double z, float qw, float qx,
                                float qy, float qz);
double placement_world_x(const placement *p);
double placement_world_z(const placement *p);
/* World x, y and z in metres. */
void placement_world(const placement *p, double out[3]);
