/* The UI's pure logic: colour packing, scale and layout maths, the command
 * queue, the toast ring and watcher, text cutting, the status line. No
 * windows.h and no Dear ImGui here, so it is unit-tested natively too. */
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "ui/ui_types.h"

/* Packed 32-bit colour as Dear ImGui stores it (R in the low byte). */
constexpr uint32_t ui_rgb(uint32_t rrggbb, uint32_t alpha = 255)
{
    return (alpha << 24) | ((rrggbb & 0xFF) << 16) | (rrggbb & 0xFF00) | ((rrggbb >> 16) & 0xFF);
}
/* The same colour with its alpha multiplied by f (clamped to 0..1). */
uint32_t ui_fade(uint32_t colour, float f);

/* Accent and the shared palette. */
constexpr uint32_t DM_UI_ACCENT = ui_rgb(0xFF8C1A);
constexpr uint32_t DM_UI_ACCENT_LIGHT = ui_rgb(0xFFA240);
constexpr uint32_t DM_UI_ACCENT_DARK = ui_rgb(0xD96F0F);
constexpr uint32_t DM_UI_TEXT = ui_rgb(0xEDF0F5);
constexpr uint32_t DM_UI_TEXT2 = ui_rgb(0x9BA4AF);
constexpr uint32_t DM_UI_MUTED = ui_rgb(0x666E78);
constexpr uint32_t DM_UI_GREEN = ui_rgb(0x4DD96B);
constexpr uint32_t DM_UI_YELLOW = ui_rgb(0xF5C833);
constexpr uint32_t DM_UI_RED = ui_rgb(0xF25A5A);
constexpr uint32_t DM_UI_PANEL = ui_rgb(0x171A20);
constexpr uint32_t DM_UI_CARD = ui_rgb(0x21262E);
constexpr uint32_t DM_UI_CARD_HOT = ui_rgb(0x29303A);
constexpr uint32_t DM_UI_LINE = ui_rgb(0x2E343D);
constexpr uint32_t DM_UI_INK = ui_rgb(0x0C0F14);

/* UI size: clamped to 0.6 .. 2.0. */
float ui_clamp_size(float size);
/* config value of ui_scale (percent, digits only) into a size; false when it
 * does not apply (empty, zero, or not digits). */
bool ui_parse_scale_percent(const char *value, float *size);
#define DM_UI_SCALE_RULE "a whole percentage above 0"
/* floor(f * size * 20 + 0.5) / 20, f = H / 1080 above 1080 px, else 1. */
float ui_compute_scale(float display_height, float ui_size);
/* Menu window size for a display of W x H at scale s. */
void ui_menu_size(float W, float H, float s, float *w, float *h);
/* A snapshot is fresh while built and younger than 1500 ms. */
bool ui_fresh(uint64_t snapshot_tick, uint64_t now_tick);

/* Command queue: one line ("%s", cut to 255 characters); false when 16 wait. */
bool ui_ring_push(ui_command_ring *q, const char *line);
/* All lines or none: false (nothing queued) when they do not all fit. */
bool ui_ring_push_all(ui_command_ring *q, const char *const *lines, int n);
/* Moves every queued line out (FIFO) and empties the queue; returns the count. */
int ui_ring_take(ui_command_ring *q, char out[][DM_UI_LINE_MAX]);

/* Toasts. */
void ui_toast_add(ui_toast_ring *r, uint32_t colour, const char *icon, const char *text, double now);
void ui_toast_expire(ui_toast_ring *r, double now); /* drops toasts 5 s old */
float ui_toast_alpha(double age); /* fade in 0.35 s, hold, fade out over the last 0.35 s */

/* What changed between two snapshots, as toasts to raise. */
enum { DM_UI_EV_CONNECTED, DM_UI_EV_DISCONNECTED, DM_UI_EV_JOINED, DM_UI_EV_LEFT };
typedef struct ui_toast_event {
    int kind;
    char name[DM_UI_NAME_MAX];
} ui_toast_event;
/* Compares the status with the watcher's memory, updates it, and returns the
 * number of events written (at most 2 * 32 + 1). Nothing when the generation
 * is the one seen last; the first snapshot raises nothing. */
int ui_toast_watch_update(ui_toast_watch *w, const ui_status *s, uint32_t generation,
                             ui_toast_event *out, int capacity);

/* Avatar: FNV-1a 32 of the name's bytes, and its first UTF-8 character
 * (a..z raised, "?" for an empty name). */
uint32_t ui_fnv1a(const char *text);
void ui_avatar_initial(const char *name, char out[5]);
/* Length of text after dropping its last UTF-8 character (never splitting
 * a sequence). */
size_t ui_utf8_drop_last(const char *text, size_t len);
/* Cuts text (at most 252 bytes, then a character at a time) and appends
 * "..." until measure(text) <= max_width; writes the result into out. */
typedef float (*ui_measure_fn)(const char *text, void *ctx);
void ui_clip_text(const char *text, float max_width, ui_measure_fn measure, void *ctx, char *out,
                     size_t size);

/* The status line's text and dot colour for a snapshot. */
void ui_status_text(const ui_status *s, const char *server_name, char *out, size_t size, uint32_t *colour);
