/* The game's layout that the UI uses (game build 1.61.3.1): the camera
 * manager (at GAME_CTRL_CAMERA_MANAGER, game_mem.h) and its camera objects,
 * which the name tags turn into a view. Pure: no game memory is read here. */
#pragma once
#include <stddef.h>
#include <stdint.h>

/* camera manager + */
#define GAME_CAMMGR_ACTIVE_INDEX 0x10u  /* i32 index into the camera array */
#define GAME_CAMMGR_ARRAY 0x38u         /* u64 pointer to the camera array (u64 entries) */
#define GAME_CAMMGR_ARRAY_COUNT 0x40u   /* u64 */
#define GAME_CAMMGR_OVERRIDES 0x68u     /* u64 pointer to the override list (u64 entries) */
#define GAME_CAMMGR_OVERRIDE_COUNT 0x70u /* u32 */
#define GAME_CAMERA_FIELDS 0x38u        /* where cam_fields starts in a camera object */

/* A camera object's fields from +0x38 on, as the game lays them out. */
typedef struct cam_fields {
    float fov_h, fov_v;         /* +0x38, +0x3C: degrees */
    float x, y, z;              /* +0x40..+0x48: x and z local to the sector */
    int16_t sector_x, sector_z; /* +0x4C, +0x4E */
    float q[4];                 /* +0x50: w, x, y, z */
} cam_fields;
static_assert(offsetof(cam_fields, x) == 0x40 - GAME_CAMERA_FIELDS, "camera +0x40");
static_assert(offsetof(cam_fields, sector_x) == 0x4C - GAME_CAMERA_FIELDS, "camera +0x4C");
static_assert(offsetof(cam_fields, q) == 0x50 - GAME_CAMERA_FIELDS, "camera +0x50");
static_assert(sizeof(cam_fields) == 0x28, "camera fields end at +0x60");
