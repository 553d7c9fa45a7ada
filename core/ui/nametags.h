/* Name tags: the game's active camera turned into a view, the remote
 * players' tag records published in one snapshot by the game thread, and the
 * tags projected and drawn by the render thread.
 *
 *   nametags_math.cpp  pure: quaternion rotation, the view from the camera's
 *                      fields, the projection, the tag's fade, size and prefix
 *   nametags_view.cpp  game thread: the active camera (guarded reads) and the
 *                      snapshot under view_lock
 *   nametags_draw.cpp  the settings, start and stop; render thread: the tags;
 *                      game thread: the nametags and cam commands */
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "dm_api.h"
#include "ui/ui_game.h"

#define DM_TAGS_MAX 64
#define DM_TAG_NAME_MAX 33   /* 32 bytes of text and the terminator */
#define DM_TAG_TEXT_MAX 25   /* 24 bytes of role text and the terminator */
#define DM_TAG_PREFIX_MAX 32 /* "[tag] ": 31 bytes and the terminator */
#define DM_TAG_NAME_NONE 0xFFFFFFFFu /* name colour: keep the default (white) */
#define DM_TAG_ANCHOR_LIFT 4.5       /* metres above the pose */
#define DM_TAGS_DEFAULT_RANGE 500.0f
#define DM_CAM_SECTOR_SIZE 512.0

/* The game's camera manager and camera objects: ui_game.h. */

typedef struct cam_view {
    double pos[3]; /* world metres */
    float forward[3], right[3], up[3];
    float tan_h, tan_v; /* tangents of half the fields of view */
} cam_view;

typedef struct tag_record {
    uint16_t id;
    char name[DM_TAG_NAME_MAX];
    char tag[DM_TAG_TEXT_MAX];
    uint32_t tag_colour;  /* 0xRRGGBB */
    uint32_t name_colour; /* 0xRRGGBB, DM_TAG_NAME_NONE for none */
    double anchor[3];     /* world metres */
} tag_record;

typedef struct view_snapshot {
    uint8_t valid; /* the view was read this frame */
    cam_view view;
    int32_t count;
    tag_record tags[DM_TAGS_MAX];
} view_snapshot;

/* ---- pure (nametags_math.cpp) ---- */
/* Rotates v by the unit quaternion q (w first). */
void quat_rotate_vector(const float q[4], const float v[3], float out[3]);
/* The view from a camera's fields; false when a field of view is not strictly
 * between 1 and 179 degrees or any value of the view is not finite. */
bool cam_view_build(const cam_fields *f, cam_view *out);
/* Projects a world point onto a screen of w x h pixels; false (screen x and
 * y left 0) when it lies less than 0.1 m in front of the camera. depth is
 * written either way. */
bool cam_project(const cam_view *v, const double p[3], float w, float h, float *sx, float *sy,
                    float *depth);
/* The distance from the camera to p. */
double cam_distance(const cam_view *v, const double p[3]);
/* A tag's opacity (0..255) and size factor at t = distance / range (0..1). */
int tag_alpha(double t);
float tag_size_factor(double t);
/* "[tag] " cut to 31 bytes, or "" for an empty tag. */
void tag_prefix(const char *tag, char out[DM_TAG_PREFIX_MAX]);
/* The nametags command's arguments: on and range are changed as the line
 * says ("dist" with 10 m or less keeps the range); false (the usage line)
 * for a line it does not know and for "dist" followed by anything but one
 * finite number of metres, 0 or more. */
bool nametags_parse(const char *rest, uint8_t *on, float *range);
/* The cam command's form, after leading blanks: a rest beginning "dump"
 * (after: what follows the word), one beginning "w2s", or neither. */
enum { DM_CAM_USAGE, DM_CAM_DUMP, DM_CAM_W2S };
int cam_parse(const char *rest, const char **after);
/* The cam dump's arguments: the length (0 or none: 0xC0; at most 0x1000)
 * and, when the text goes on with "+", the chain's offsets. Returns the
 * number of offsets (at most max). */
int cam_dump_parse(const char *text, uint32_t *length, uint64_t *offsets, int max);

/* ---- game thread (nametags_view.cpp) ---- */
void view_reset(); /* nothing published: at every core start */
void view_snapshot_update(const dm_frame_info *info);
/* The active camera object, 0 for none (reads are probed and guarded). */
uint64_t cam_get_active();
bool cam_view_from(uint64_t camera, cam_view *out);
/* Copies the published snapshot; false when none was published yet. */
bool view_snapshot_copy(view_snapshot *out);

/* ---- settings, render thread and commands (nametags_draw.cpp) ---- */
void nametags_init(const dm_host_api *api);
void nametags_shutdown();
/* The settings, written by the game thread and read by the render thread. */
bool nametags_enabled();
float nametags_range();
struct ImDrawList;
struct ImFont;
void nametags_draw(const dm_ui_frame_args *args);
void draw_outlined_text(ImDrawList *dl, ImFont *font, float size, float x, float y, uint32_t colour,
                           const char *text);
void nametags_command(const char *rest);
void cam_command(const char *rest);
