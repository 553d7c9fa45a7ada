/* The pure part of props: placements in world metres and relative to a
 * frame, the yaw and the plane fit of levelling, the point at an offset
 * from the truck, the checks of received and typed positions, model paths
 * and the names of parts and light modes. No game memory, no windows.h.
 * props_math.cpp. */
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "base/placement.h"

#define PROPS_PATH_MAX 160
#define PROPS_WORLD_LIMIT (32768.0 * 512.0) /* |x|, |z| below this */
#define PROPS_F32_MAX 3.402823466e38
#define PROPS_QUAT_TOLERANCE 0.01           /* |length - 1| of a quaternion taken */
#define PROPS_ATTACH_OFFSET_MAX 100.0f      /* metres of an attach offset, sent or received */

/* ---- names ---- */
extern const char *const props_part_names[4];       /* "none", "truck", "cabin", "trailer" */
extern const char *const props_light_mode_names[7]; /* "default" .. "!beacons" */
/* The mode's name; a mode above 6 names "default". */
const char *props_light_mode_name(uint8_t mode);
const char *props_part_name(uint8_t part);
/* The word of a request's line: "sent" when its sender took it, else "not sent". */
const char *props_sent_word(bool sent);
/* -1 when the word is none of the seven names (case ignored). */
int props_light_mode_parse(const char *word);

/* ---- placements ---- */
/* The floor sector rule: sector = floor(c / 512), local in 0..512 (the way
 * back is placement.h's placement_world). */
placement *props_placement_from_world(placement *out, const double pos[3], const float q[4]);
/* The target expressed in the frame (f32 throughout, as the game's
 * placement); out holds x right, y up, z back, a zero float, then the
 * rotation w, x, y, z: the 32 bytes of a relative placement. */
typedef struct props_relative {
    float x, y, z, zero;
    float qw, qx, qy, qz;
} props_relative;
static_assert(sizeof(props_relative) == 32, "a relative placement is 32 bytes");
props_relative *placement_relative(props_relative *out, const placement *frame, const placement *target);
/* The inverse, in f64: the world placement of a relative placement given
 * in the frame (frame position plus the frame rotation applied to the
 * offset; frame rotation times the relative rotation), floor sector rule. */
placement *props_compose(placement *out, const placement *frame, const props_relative *rel);

/* ---- rotations ---- */
void props_quat_mul(const float a[4], const float b[4], float out[4]);
/* Turns q (w, x, y, z) about the world's vertical by the degrees: r (x) q. */
void quat_rotate_yaw(float q[4], float degrees);
double props_yaw(const float q[4]);
/* True when every component is finite and the length is within 0.01 of 1;
 * the quaternion is then normalised in place. */
bool props_quat_take(float q[4]);
/* A world position worth using: finite, |x|, |z| < 32768 x 512, |y| within f32. */
bool props_position_ok(const double pos[3]);
/* An attach offset (right, up, back) every receiver takes: finite, each
 * within PROPS_ATTACH_OFFSET_MAX metres of the part. */
bool props_attach_offset_ok(const float offset[3]);
/* The attach offset of typed numbers: right, up and back (the ahead
 * distance negated), a zero float, and the identity turned by the yaw
 * degrees about the vertical (left as it is for 0). False, out untouched,
 * when the yaw is not finite. */
bool props_typed_relative(float ahead, float right, float up, float yaw, props_relative *out);

/* ---- levelling ---- */
/* The plane through four corner heights (h0 (X0,Z0), h1 (X0,Z1), h2 (X1,Z0),
 * h3 (X1,Z1)); returns the height at the origin, the rotation that follows
 * the plane with the heading kept, the tilt and the worst corner gap. */
double props_plane_fit(const double X[2], const double Z[2], const double h[4], double yaw, float out_rot[4],
                       double *out_tilt_deg, double *out_gap);
/* A box worth levelling on: max >= min and max - min <= 500 m on each axis. */
bool props_box_valid(const float min[3], const float max[3]);
/* The point ahead and right of a truck at the placement, up along the
 * world's vertical. */
void props_offset_point(const placement *truck, double ahead, double right, double up, double out[3]);

/* ---- model paths ---- */
/* The text rules of a prop model path: begins with '/', at least 5
 * characters, ends in ".pmd" (case ignored), no "..", no control byte, and
 * a terminator within 160 bytes. Reads at most 160 bytes. */
bool props_path_text_ok(const char *path);
/* The path with its last letter a lower-case c (".pmd" -> ".pmc"); false
 * when it is not a .pmd path of at least 4 characters. */
bool props_collision_path(const char *path, char out[PROPS_PATH_MAX + 1]);
