// The UI's pure logic (see ui_pure.h).
#include "ui/ui_pure.h"
#include <ctype.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "dm_config_line.h"
#include "dm_fnv.h"
#include "dm_utf8.h"

uint32_t ui_fade(uint32_t colour, float f)
{
    if (!(f > 0))
        f = 0;
    if (f > 1)
        f = 1;
    uint32_t a = (uint32_t)((float)(colour >> 24) * f);
    return (colour & 0x00FFFFFFu) | (a << 24);
}

float ui_clamp_size(float size)
{
    if (!(size >= 0.6f))
        return 0.6f;
    if (size > 2.0f)
        return 2.0f;
    return size;
}

bool ui_parse_scale_percent(const char *value, float *size)
{
    // The number saturates instead of wrapping, so a huge percentage is the
    // largest size rather than a negative one that would be ignored.
    int32_t v;
    if (!value || !config_number(value, &v) || v <= 0)
        return false;
    *size = ui_clamp_size(v > 1000 ? 10.0f : (float)v / 100.0f);
    return true;
}

float ui_compute_scale(float display_height, float ui_size)
{
    float f = display_height > 1080.0f ? display_height / 1080.0f : 1.0f;
    return floorf(f * ui_size * 20.0f + 0.5f) / 20.0f;
}

void ui_menu_size(float W, float H, float s, float *w, float *h)
{
    float a = W - 80 * s, b = H - 80 * s;
    *w = fminf(1060 * s, fmaxf(760 * s, a));
    *h = fminf(680 * s, fmaxf(480 * s, b));
}

bool ui_fresh(uint64_t snapshot_tick, uint64_t now_tick)
{
    return snapshot_tick != 0 && now_tick >= snapshot_tick && now_tick - snapshot_tick < 1500;
}

bool ui_ring_push(ui_command_ring *q, const char *line)
{
    if (q->count >= DM_UI_QUEUE_SLOTS || q->count < 0)
        return false;
    snprintf(q->lines[q->count], DM_UI_LINE_MAX, "%s", line ? line : "");
    q->count++;
    return true;
}

bool ui_ring_push_all(ui_command_ring *q, const char *const *lines, int n)
{
    if (n < 0 || q->count < 0 || q->count + n > DM_UI_QUEUE_SLOTS)
        return false;
    for (int i = 0; i < n; i++)
        ui_ring_push(q, lines[i]);
    return true;
}

int ui_ring_take(ui_command_ring *q, char out[][DM_UI_LINE_MAX])
{
    int n = q->count;
    if (n < 0)
        n = 0;
    if (n > DM_UI_QUEUE_SLOTS)
        n = DM_UI_QUEUE_SLOTS;
    memcpy(out, q->lines, (size_t)n * DM_UI_LINE_MAX);
    q->count = 0;
    return n;
}

void ui_toast_add(ui_toast_ring *r, uint32_t colour, const char *icon, const char *text, double now)
{
    if (r->count >= DM_UI_TOASTS) {
        memmove(&r->items[0], &r->items[1], sizeof(ui_toast) * (DM_UI_TOASTS - 1));
        r->count = DM_UI_TOASTS - 1;
    }
    ui_toast &t = r->items[r->count++];
    snprintf(t.text, sizeof t.text, "%s", text ? text : "");
    t.colour = colour;
    t.icon = icon;
    t.start = now;
}

void ui_toast_expire(ui_toast_ring *r, double now)
{
    int kept = 0;
    for (int i = 0; i < r->count; i++) {
        if (now - r->items[i].start >= 5.0)
            continue;
        if (kept != i)
            r->items[kept] = r->items[i];
        kept++;
    }
    r->count = kept;
}

float ui_toast_alpha(double age)
{
    if (age < 0.35)
        return (float)(age / 0.35 < 0 ? 0 : age / 0.35);
    if (age <= 4.65)
        return 1.0f;
    double f = (5.0 - age) / 0.35;
    return (float)(f < 0 ? 0 : f);
}

static bool has_id(const uint16_t *ids, int n, uint16_t id)
{
    for (int i = 0; i < n; i++)
        if (ids[i] == id)
            return true;
    return false;
}

static int clamp_count(int n) { return n < 0 ? 0 : n > DM_UI_MAX_PLAYERS ? DM_UI_MAX_PLAYERS : n; }

int ui_toast_watch_update(ui_toast_watch *w, const ui_status *s, uint32_t generation,
                             ui_toast_event *out, int capacity)
{
    if (generation == w->generation)
        return 0;
    int n = 0;
    auto emit = [&](int kind, const char *name) {
        if (n < capacity) {
            out[n].kind = kind;
            snprintf(out[n].name, sizeof out[n].name, "%s", name ? name : "");
            n++;
        }
    };
    int now_count = clamp_count(s->player_count), was_count = clamp_count(w->player_count);
    if (w->seen) {
        if (w->own_id == 0 && s->own_id != 0) {
            emit(DM_UI_EV_CONNECTED, "");
        } else if (w->own_id != 0 && s->own_id == 0) {
            emit(DM_UI_EV_DISCONNECTED, "");
        } else if (w->own_id != 0 && s->own_id != 0) {
            for (int i = 0; i < now_count; i++)
                if (!has_id(w->ids, was_count, s->ids[i]))
                    emit(DM_UI_EV_JOINED, s->names[i]);
            for (int i = 0; i < was_count; i++)
                if (!has_id(s->ids, now_count, w->ids[i]))
                    emit(DM_UI_EV_LEFT, w->names[i]);
        }
    }
    w->own_id = s->own_id;
    w->player_count = now_count;
    memcpy(w->ids, s->ids, sizeof w->ids);
    memcpy(w->names, s->names, sizeof w->names);
    w->seen = 1;
    w->generation = generation;
    return n;
}

uint32_t ui_fnv1a(const char *text)
{
    return dm_fnv1a(DM_FNV1A_BASIS, text ? text : "", text ? strlen(text) : 0);
}

void ui_avatar_initial(const char *name, char out[5])
{
    const unsigned char *p = (const unsigned char *)(name ? name : "");
    if (!p[0]) {
        out[0] = '?';
        out[1] = 0;
        return;
    }
    int n = 1;
    out[0] = (char)p[0];
    if (p[0] >= 0x80)
        while (n < 4 && (p[n] & 0xC0) == 0x80) {
            out[n] = (char)p[n];
            n++;
        }
    else if (p[0] >= 'a' && p[0] <= 'z')
        out[0] = (char)(p[0] - 'a' + 'A');
    out[n] = 0;
}

size_t ui_utf8_drop_last(const char *text, size_t len)
{
    if (len == 0)
        return 0;
    size_t i = len - 1;
    while (i > 0 && ((unsigned char)text[i] & 0xC0) == 0x80)
        i--;
    return i;
}

void ui_clip_text(const char *text, float max_width, ui_measure_fn measure, void *ctx, char *out,
                     size_t size)
{
    if (!size)
        return;
    snprintf(out, size, "%s", text ? text : "");
    if (measure(out, ctx) <= max_width)
        return;
    char buf[256];
    size_t len = dm_utf8_cut(text, strlen(text), 252); // never start inside a sequence
    for (;;) {
        memcpy(buf, text, len);
        memcpy(buf + len, "...", 4);
        if (len == 0 || measure(buf, ctx) <= max_width)
            break;
        len = ui_utf8_drop_last(text, len);
    }
    if (len == 0)
        buf[0] = 0; // nothing of the text is left
    snprintf(out, size, "%s", buf);
}

void ui_status_text(const ui_status *s, const char *server_name, char *out, size_t size, uint32_t *colour)
{
    if (s->own_id != 0) {
        snprintf(out, size < 160 ? size : 160, "%s  -  %d player%s", server_name ? server_name : "",
                 s->player_count + 1, s->player_count == 0 ? "" : "s");
        *colour = DM_UI_GREEN;
    } else if (s->net_active) {
        snprintf(out, size, "Connecting...");
        *colour = DM_UI_YELLOW;
    } else {
        snprintf(out, size, "Single player");
        *colour = DM_UI_MUTED;
    }
}
