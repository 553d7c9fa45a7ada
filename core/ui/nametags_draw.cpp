// Name tags on screen and their console commands.
//
// Index of this file:
// - Settings, start and stop
// - Drawing (render thread)
// - The nametags command
// - The cam command: dump and projection report
#include <windows.h>
#include <float.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include "base/core.h"
#include "base/game_mem.h"
#include "imgui.h"
#include "ui/nametags.h"
#include "ui/ui_internal.h"

//-----------------------------------------------------------------------------
// Settings, start and stop
//-----------------------------------------------------------------------------

namespace {

// Single values: the game thread writes them, the render thread reads them.
volatile uint8_t tags_on = 1;
volatile float tags_range = DM_TAGS_DEFAULT_RANGE;

view_snapshot draw_copy; /* render thread only */

} // namespace

void nametags_init(const dm_host_api *)
{
    tags_on = 1;
    tags_range = DM_TAGS_DEFAULT_RANGE;
    view_reset();
    ui_add_draw_callback(nametags_draw);
}

void nametags_shutdown() { ui_remove_draw_callback(nametags_draw); }

bool nametags_enabled() { return tags_on != 0; }
float nametags_range() { return tags_range; }

//-----------------------------------------------------------------------------
// Drawing (render thread)
//-----------------------------------------------------------------------------

namespace {

uint32_t colour_of(uint32_t rrggbb, int alpha)
{
    return IM_COL32((rrggbb >> 16) & 0xFF, (rrggbb >> 8) & 0xFF, rrggbb & 0xFF, alpha);
}

} // namespace

void draw_outlined_text(ImDrawList *dl, ImFont *font, float size, float x, float y, uint32_t colour,
                           const char *text)
{
    static const float around[8][2] = { { -1, -1 }, { -1, 0 }, { -1, 1 }, { 0, -1 },
                                        { 0, 1 },   { 1, -1 }, { 1, 0 },  { 1, 1 } };
    uint32_t black = colour & IM_COL32_A_MASK;
    for (auto &o : around)
        dl->AddText(font, size, ImVec2(x + o[0], y + o[1]), black, text);
    dl->AddText(font, size, ImVec2(x, y), colour, text);
}

void nametags_draw(const dm_ui_frame_args *args)
{
    if (!tags_on || !view_snapshot_copy(&draw_copy) || !draw_copy.valid)
        return;
    ImDrawList *dl = ImGui::GetBackgroundDrawList();
    ImFont *font = ImGui::GetFont();
    float base = ImGui::GetFontSize();
    double range = tags_range;
    const cam_view *view = &draw_copy.view;
    int count = draw_copy.count < 0 ? 0 : draw_copy.count > DM_TAGS_MAX ? DM_TAGS_MAX : draw_copy.count;
    for (int i = 0; i < count; i++) {
        const tag_record *r = &draw_copy.tags[i];
        float sx, sy, depth;
        if (!cam_project(view, r->anchor, args->width, args->height, &sx, &sy, &depth))
            continue;
        double dist = cam_distance(view, r->anchor);
        if (dist > range)
            continue;
        double t = dist / range;
        int alpha = tag_alpha(t);
        float size = base * tag_size_factor(t);
        char prefix[DM_TAG_PREFIX_MAX];
        tag_prefix(r->tag, prefix);
        float prefix_w = prefix[0] ? font->CalcTextSizeA(size, FLT_MAX, 0.0f, prefix).x : 0.0f;
        ImVec2 name_size = font->CalcTextSizeA(size, FLT_MAX, 0.0f, r->name);
        float left = floorf(sx - (prefix_w + name_size.x) / 2.0f);
        float top = floorf(sy - name_size.y);
        if (prefix[0])
            draw_outlined_text(dl, font, size, left, top, colour_of(r->tag_colour, alpha), prefix);
        uint32_t name_rgb = r->name_colour == DM_TAG_NAME_NONE ? 0xFFFFFF : r->name_colour;
        draw_outlined_text(dl, font, size, left + prefix_w, top, colour_of(name_rgb, alpha), r->name);
    }
}

//-----------------------------------------------------------------------------
// The nametags command
//-----------------------------------------------------------------------------

void nametags_command(const char *rest)
{
    uint8_t on = tags_on;
    float range = tags_range;
    if (!nametags_parse(rest, &on, &range)) {
        core_log("[nametags] usage: nametags on|off|dist <m>");
        return;
    }
    tags_on = on;
    tags_range = range;
    core_log("[nametags] %s, max %.0f m", on ? "on" : "off", (double)range);
}

//-----------------------------------------------------------------------------
// The cam command: dump and projection report
//-----------------------------------------------------------------------------

namespace {

void cam_dump(const char *text)
{
    uint32_t length;
    uint64_t offsets[32];
    int hops = cam_dump_parse(text, &length, offsets, 32);
    uint64_t at = 0;
    if (hops > 0) {
        uint64_t ctrl = 0;
        if (!game_read_guarded(game_addr(GAME_OFF_CTRL), &ctrl) || !ctrl) {
            core_log("[cam] no game_ctrl");
            return;
        }
        at = ctrl + offsets[0];
        for (int i = 1; i < hops; i++) {
            uint64_t next = 0;
            if (!game_read_guarded(at, &next) || !next) {
                core_log("[cam] chain: null/unreadable at %p", game_ptr(at));
                return;
            }
            at = next + offsets[i];
        }
    } else {
        at = cam_get_active();
        if (!at) {
            core_log("[cam] no camera (no profile loaded?)");
            return;
        }
    }
    core_log("[cam] dump %p", game_ptr(at));
    for (uint32_t off = 0; off < length; off += 16) {
        uint32_t w[4];
        if (!game_copy_guarded(w, at + off, sizeof w)) {
            core_log("[cam] unreadable at +%x", off);
            return;
        }
        float f[4];
        memcpy(f, w, sizeof f);
        core_log("[cam] +%03x: %08x %08x %08x %08x | %11.4f %11.4f %11.4f %11.4f", off, w[0], w[1], w[2], w[3],
                 (double)f[0], (double)f[1], (double)f[2], (double)f[3]);
    }
}

void cam_w2s_report()
{
    const float w = 1920, h = 1080;
    cam_view view;
    uint64_t camera = cam_get_active();
    if (!camera || !cam_view_from(camera, &view)) {
        core_log("[cam] no camera / bad fov");
        return;
    }
    core_log("[cam] pos %.2f %.2f %.2f fwd %.3f %.3f %.3f tan_h %.4f tan_v %.4f", view.pos[0], view.pos[1],
             view.pos[2], (double)view.forward[0], (double)view.forward[1], (double)view.forward[2],
             (double)view.tan_h, (double)view.tan_v);
    uint64_t truck = 0, ctrl = 0;
    if (game_read_guarded(game_addr(GAME_OFF_CTRL), &ctrl) && ctrl && (truck = game_local_truck()) != 0) {
        placement p = {};
        if (game_object_placement(truck, &p) != GAME_PLACEMENT_OK)
            memset(&p, 0, sizeof p); // no answer: the world origin
        double world[3] = { placement_world_x(&p), p.y, placement_world_z(&p) };
        float sx, sy, depth;
        bool seen = cam_project(&view, world, w, h, &sx, &sy, &depth);
        core_log("[cam] our truck %.1f %.1f %.1f -> %s %.0f, %.0f (depth %.1f m, 1920x1080)", world[0], world[1],
                 world[2], seen ? "screen" : "BEHIND", (double)sx, (double)sy, (double)depth);
    }
    static view_snapshot s; // game thread only
    if (!view_snapshot_copy(&s))
        return;
    int count = s.count < 0 ? 0 : s.count > DM_TAGS_MAX ? DM_TAGS_MAX : s.count;
    for (int i = 0; i < count; i++) {
        const tag_record *r = &s.tags[i];
        float sx, sy, depth;
        bool seen = cam_project(&view, r->anchor, w, h, &sx, &sy, &depth);
        core_log("[cam] tag %u '%s' [%s] -> %s %.0f, %.0f (depth %.1f m)", r->id, r->name, r->tag,
                 seen ? "screen" : "BEHIND", (double)sx, (double)sy, (double)depth);
    }
}

} // namespace

void cam_command(const char *rest)
{
    const char *after = nullptr;
    switch (cam_parse(rest, &after)) {
    case DM_CAM_DUMP: cam_dump(after); break;
    case DM_CAM_W2S: cam_w2s_report(); break;
    default: core_log("[cam] usage: cam dump [len] [+off ...] | cam w2s"); break;
    }
}
