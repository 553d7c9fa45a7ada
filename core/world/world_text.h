/* The pure parts of the damage, GPS and road-event commands: the GPS
 * coordinate range, their arguments (read with plain_text.h's numbers) and
 * their text forms. No game memory.
 *
 *   damage       damage_parse_repair, damage_format_chassis_wheels
 *   gps          gps_node, gps_mode_name, gps_route_active, gps_scale_coord,
 *                gps_parse, gps_parse_target, gps_insert_point
 *   road events  roadevents_parse_apply, roadevents_token_name,
 *                roadevent_view with its two listing lines, roadevents_box */
#pragma once
#include <stddef.h>
#include <stdint.h>

/* ---- damage ---- */
#define DAMAGE_TRAILERS_MAX 4
#define DAMAGE_WHEELS_RESET_MAX 64
#define DAMAGE_WHEELS_PRINT_MAX 16
typedef struct damage_repair_sel {
    bool fixable_only, truck, trailer, cargo;
} damage_repair_sel;
/* The words after "repair": "fixable" resets only fixable parts; "truck",
 * "trailer" and "cargo" choose parts, all three when none is named. False
 * (the usage line, nothing reset) for any other word, so a typo or a stray
 * number never turns into a full repair and "unfixable" is not "fixable". */
bool damage_parse_repair(const char *words, damage_repair_sel *out);
/* "[core] damage: <label> <object> chassis f+u wheels [f+u ...] (fixable+unfixable)":
 * at most 16 wheels and 255 characters of list, "-" for none; an unfixable
 * value missing from a shorter array is 0. */
void damage_format_chassis_wheels(char *out, size_t size, const char *label, const void *object, float chassis_fix,
                                  float chassis_unfix, const float *fix, size_t fix_count, const float *unfix,
                                  size_t unfix_count);

/* ---- gps ---- */
#define GPS_POINTS_MAX 32
#define GPS_MODE_CUSTOM 5
/* Coordinates are scaled by 256 into i32: |metres| at most this. */
#define GPS_COORD_MAX 8388607.0
/* A route node, the game's layout. */
typedef struct gps_node {
    int32_t type; /* 2: none */
    uint32_t index;
    uint64_t item;
    uint32_t direction;
    uint32_t spare;
} gps_node;
static_assert(sizeof(gps_node) == 24, "gps_node is 24 bytes");
static_assert(offsetof(gps_node, item) == 8 && offsetof(gps_node, direction) == 16, "gps_node fields");
const char *gps_mode_name(int32_t mode);
/* Modes 1 to 7: a job, dock, service, garage, custom or later route. */
bool gps_route_active(int32_t mode);
/* v x 256 rounded half away from zero; false for nan, inf and |v| past
 * GPS_COORD_MAX, where the product would not fit. */
bool gps_scale_coord(double v, int32_t *out);

enum gps_verb { GPS_STATUS, GPS_MARK, GPS_CLEAR, GPS_TO, GPS_ADD, GPS_USAGE };
/* The verb of the line after "gps"; *target points at the text after
 * "to " or "add ". */
gps_verb gps_parse(const char *rest, const char **target);
enum gps_target_kind { GPS_TARGET_MARK, GPS_TARGET_POINT, GPS_TARGET_BAD };
/* "mark", "x y z", or "x z" (y := default_y). */
gps_target_kind gps_parse_target(const char *text, double default_y, double *x, double *y, double *z);
/* Puts the node into nodes[count] (count < GPS_POINTS_MAX): before the last
 * point when before_last and there is one, else last. Returns the new count. */
size_t gps_insert_point(gps_node *nodes, size_t count, const gps_node *node, bool before_last);

/* ---- road events ---- */
typedef struct roadevents_apply_args {
    char name[16];
    uint64_t token;
    uint32_t seed, block[3];
    uint64_t road, uid;
} roadevents_apply_args;
/* "<name> <seed> <b0> <b1> <b2> <road> <uid>", numbers in hexadecimal; false
 * for missing fields, a bad number or a name that is not a token (or 0). */
bool roadevents_parse_apply(const char *text, roadevents_apply_args *out);
/* The token's text (a zero digit as "?" in its place); "?" for 0, a missing name. */
void roadevents_token_name(uint64_t token, char out[13]);

/* What one active event shows in the listing. */
typedef struct roadevent_view {
    uint64_t index;
    uint64_t token; /* 0 when the definition or its token is missing */
    uint64_t road;
    uint32_t type, loaded;
    uint32_t seed, block[3];
    uint64_t uid;
    int32_t set;
    uint32_t flag;
} roadevent_view;
void roadevent_format_line(char *out, size_t size, const roadevent_view *v);
/* The replay line: "roadevents apply ..." that re-creates the event. */
void roadevent_format_replay(char *out, size_t size, const roadevent_view *v);

/* A road item's box seen from the truck: its centre, the horizontal
 * distance (x and z) and its width in x and z. */
typedef struct roadevents_box {
    double centre[3], distance, width_x, width_z;
} roadevents_box;
roadevents_box roadevents_box_from(const float min[3], const float max[3], double truck_x, double truck_z);
