// The main draw callback: toasts raised from the status snapshot, then the
// menu window (UI mode) or the status line, then the toasts; and the small
// drawing routines the pages share. Every size is a base value times the UI
// scale; fonts are pushed with base sizes (the style's FontScaleMain scales
// them), draw-list text gets the scaled size.
#include <float.h>
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include "imgui.h"
#include "imgui_internal.h"
#include "ui/ui_internal.h"

namespace {

int current_page;
ui_toast_ring toasts;
ui_toast_watch watch;

struct page_row {
    const char *icon;
    const char *label;
    int page;
};
const page_row pages[3] = {
    { DM_ICON_SERVERS, "Servers", 0 },
    { DM_ICON_PLAYERS, "Players", 1 },
    { DM_ICON_SETTINGS, "Settings", 2 },
};

const uint32_t avatar_palette[8] = {
    ui_rgb(0xFF8C1A), ui_rgb(0x40A0E0), ui_rgb(0x4DD96B), ui_rgb(0xC070D0),
    ui_rgb(0xF25A5A), ui_rgb(0xE0C840), ui_rgb(0x6080F0), ui_rgb(0xFFA090),
};

ImFont *font_or_current(ImFont *f) { return f ? f : ImGui::GetFont(); }
ImFont *regular() { return ui_fonts()[0]; }
ImFont *semibold() { return ui_fonts()[1]; }
ImFont *bold() { return ui_fonts()[2]; }

struct measure_ctx {
    ImFont *font;
    float size;
};
float measure(const char *text, void *p)
{
    auto *m = (measure_ctx *)p;
    return font_or_current(m->font)->CalcTextSizeA(m->size, FLT_MAX, 0.0f, text).x;
}

void ui_toasts_from_status(const ui_status *s, uint32_t generation)
{
    ui_toast_event ev[2 * DM_UI_MAX_PLAYERS + 1];
    int n = ui_toast_watch_update(&watch, s, generation, ev, 2 * DM_UI_MAX_PLAYERS + 1);
    for (int i = 0; i < n; i++) {
        switch (ev[i].kind) {
        case DM_UI_EV_CONNECTED:
            ui_push_toast(DM_UI_GREEN, DM_ICON_LINK, "Connected to %s", ui_server_display_name(s));
            break;
        case DM_UI_EV_DISCONNECTED:
            ui_push_toast(DM_UI_RED, DM_ICON_LINK, "Disconnected from the server");
            break;
        case DM_UI_EV_JOINED:
            ui_push_toast(DM_UI_ACCENT, DM_ICON_PERSON, "%s joined", ev[i].name);
            break;
        default:
            ui_push_toast(DM_UI_MUTED, DM_ICON_PERSON, "%s left", ev[i].name);
            break;
        }
    }
}

float ui_draw_status_line(const dm_ui_frame_args *args, const ui_status *s)
{
    float sc = ui_get_scale();
    if (!ui_settings_get()->status_line_on || !ui_status_fresh(s))
        return 12 * sc;
    ImDrawList *dl = ImGui::GetForegroundDrawList();
    char text[160];
    uint32_t colour;
    ui_status_text(s, ui_server_display_name(s), text, sizeof text, &colour);
    float tw = ui_text_width(semibold(), 14, text);
    float kw = ui_text_width(semibold(), 12, "F2");
    float w = 30 * sc + tw + 14 * sc + kw + 14 * sc + 10 * sc;
    float x0 = floorf((args->width - w) * 0.5f);
    dl->AddRectFilled(ImVec2(x0, 10 * sc), ImVec2(x0 + w, 38 * sc), ui_rgb(0x171A20, 209), 14 * sc);
    dl->AddCircleFilled(ImVec2(x0 + 16 * sc, 24 * sc), 4 * sc, colour, 12);
    ui_draw_text(dl, semibold(), 14, x0 + 28 * sc, 15 * sc, DM_UI_TEXT, text);
    float kx = x0 + 30 * sc + tw + 12 * sc;
    dl->AddRect(ImVec2(kx, 15 * sc), ImVec2(kx + kw + 12 * sc, 15 * sc + 18 * sc), DM_UI_MUTED, 4 * sc, 0, 1.2f * sc);
    ui_draw_text(dl, semibold(), 12, kx + 6 * sc, 15 * sc + 2 * sc, DM_UI_TEXT2, "F2");
    return 48 * sc;
}

void ui_draw_toasts(const dm_ui_frame_args *args, float y)
{
    float sc = ui_get_scale();
    double t = ImGui::GetTime();
    ui_toast_expire(&toasts, t);
    ImDrawList *dl = ImGui::GetForegroundDrawList();
    for (int i = toasts.count - 1; i >= 0; i--) {
        const ui_toast &k = toasts.items[i];
        float f = ui_toast_alpha(t - k.start);
        float w = ui_text_width(semibold(), 16, k.text);
        // Without its icon a toast is its text with 20s on either side.
        const char *icon = k.icon ? ui_icon(k.icon) : nullptr;
        float text_x = icon ? 46 * sc : 20 * sc;
        float bw = text_x + w + 20 * sc, h = 44 * sc;
        float x0 = floorf((args->width - bw) * 0.5f);
        float y0 = y - 8 * sc * (1 - f);
        dl->AddRectFilled(ImVec2(x0, y0 + 3 * sc), ImVec2(x0 + bw, y0 + 3 * sc + h), ui_fade(ui_rgb(0), 0.35f * f),
                          22 * sc);
        dl->AddRectFilled(ImVec2(x0, y0), ImVec2(x0 + bw, y0 + h), ui_fade(DM_UI_PANEL, 0.96f * f), 22 * sc);
        dl->AddRect(ImVec2(x0, y0), ImVec2(x0 + bw, y0 + h), ui_fade(DM_UI_LINE, f), 22 * sc, 0, 1 * sc);
        if (icon) {
            ImVec2 c(x0 + 24 * sc, y0 + 22 * sc);
            float base_alpha = (float)(k.colour >> 24) / 255.0f;
            dl->AddCircleFilled(c, 13 * sc, ui_fade(k.colour, base_alpha * 0.25f * f), 24);
            float iw = ui_text_width(regular(), 15, icon);
            ui_draw_text(dl, regular(), 15, c.x - iw * 0.5f, c.y - 15 * sc * 0.5f, ui_fade(k.colour, base_alpha * f),
                            icon);
        }
        ui_draw_text(dl, semibold(), 16, x0 + text_x, y0 + 12 * sc, ui_fade(DM_UI_TEXT, f), k.text);
        y += 44 * sc + 8 * sc;
    }
}

void draw_gradient_badge(ImDrawList *dl, ImVec2 a, ImVec2 b)
{
    dl->AddRectFilledMultiColor(a, b, DM_UI_ACCENT_LIGHT, DM_UI_ACCENT, DM_UI_ACCENT_DARK, DM_UI_ACCENT);
}

void ui_draw_menu(const dm_ui_frame_args *args, const ui_status *s)
{
    float sc = ui_get_scale();
    float W = args->width, H = args->height;
    ImGui::GetBackgroundDrawList()->AddRectFilled(ImVec2(0, 0), ImVec2(W, H), ui_rgb(0, 120));
    float w, h;
    ui_menu_size(W, H, sc, &w, &h);
    ImGui::SetNextWindowSize(ImVec2(w, h), ImGuiCond_Always);
    ImGui::SetNextWindowPos(ImVec2(W * 0.5f, H * 0.5f), ImGuiCond_Always, ImVec2(0.5f, 0.5f));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 0));
    bool open = ImGui::Begin("###dm_menu", nullptr,
                             ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                                 ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse |
                                 ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_NoSavedSettings |
                                 ImGuiWindowFlags_NoBringToFrontOnFocus);
    ImGui::PopStyleVar();
    if (!open) {
        ImGui::End();
        return;
    }
    ImDrawList *dl = ImGui::GetWindowDrawList();
    ImVec2 p = ImGui::GetWindowPos();
    float rounding = ImGui::GetStyle().WindowRounding;
    dl->AddRectFilled(p, ImVec2(p.x + 230 * sc, p.y + h), DM_UI_PANEL, rounding, ImDrawFlags_RoundCornersLeft);
    dl->AddLine(ImVec2(p.x + 230 * sc - 0.5f, p.y), ImVec2(p.x + 230 * sc - 0.5f, p.y + h), DM_UI_LINE, 1.0f);

    // Logo.
    ImVec2 b0(p.x + 22 * sc, p.y + 26 * sc), b1(b0.x + 38 * sc, b0.y + 38 * sc);
    draw_gradient_badge(dl, b0, b1);
    float mw = ui_text_width(bold(), 18, "DM");
    ui_draw_text(dl, bold(), 18, b0.x + (38 * sc - mw) * 0.5f, b0.y + (38 * sc - 18 * sc * 1.0f) * 0.5f - 1 * sc,
                    DM_UI_INK, "DM");
    float lx = b1.x + 12 * sc, ly = b0.y - 1 * sc;
    ui_draw_text(dl, bold(), 22, lx, ly, DM_UI_TEXT, "DROVE");
    ui_draw_text(dl, bold(), 22, lx + ui_text_width(bold(), 22, "DROVE"), ly, DM_UI_ACCENT, "MARK");
    ui_draw_text(dl, regular(), 13, lx, b0.y + 24 * sc, DM_UI_MUTED, "ATS multiplayer");

    // Page entries.
    for (int i = 0; i < 3; i++) {
        float y = p.y + 104 * sc + 50 * sc * i;
        ImVec2 r0(p.x + 12 * sc, y), r1(p.x + 218 * sc, y + 44 * sc);
        ImGui::SetCursorScreenPos(r0);
        ImGui::PushID(pages[i].page);
        if (ImGui::InvisibleButton("nav", ImVec2(r1.x - r0.x, r1.y - r0.y)))
            current_page = pages[i].page;
        bool hovered = ImGui::IsItemHovered();
        ImGui::PopID();
        bool current = current_page == pages[i].page;
        if (current || hovered)
            dl->AddRectFilled(r0, r1, current ? DM_UI_CARD_HOT : DM_UI_CARD, 8 * sc);
        if (current)
            dl->AddRectFilled(ImVec2(r0.x, r0.y + 10 * sc), ImVec2(r0.x + 4 * sc, r1.y - 10 * sc), DM_UI_ACCENT, 2 * sc);
        uint32_t label_colour = current || hovered ? DM_UI_TEXT : DM_UI_TEXT2;
        // Without the icon the label takes its place.
        const char *icon = ui_icon(pages[i].icon);
        if (icon)
            ui_draw_text(dl, regular(), 18, r0.x + 18 * sc, r0.y + 12 * sc, current ? DM_UI_ACCENT : label_colour, icon);
        ui_draw_text(dl, current ? semibold() : regular(), 17, r0.x + (icon ? 50 : 18) * sc, r0.y + 11 * sc,
                        label_colour, pages[i].label);
        if (pages[i].page == 1 && s->own_id != 0) {
            char num[16];
            snprintf(num, sizeof num, "%d", s->player_count + 1);
            float nw = ui_text_width(semibold(), 13, num);
            ImVec2 q0(r1.x - 14 * sc - nw - 14 * sc, r0.y + 12 * sc), q1(r1.x - 14 * sc, r0.y + 32 * sc);
            dl->AddRectFilled(q0, q1, DM_UI_LINE, 10 * sc);
            ui_draw_text(dl, semibold(), 13, q0.x + 7 * sc, q0.y + 2 * sc, DM_UI_TEXT, num);
        }
    }

    ui_key_hint(dl, p.x + 24 * sc, p.y + h - 114 * sc, "F2", "close the menu");

    // Profile card.
    ImVec2 c0(p.x + 12 * sc, p.y + h - 78 * sc), c1(p.x + 218 * sc, p.y + h - 14 * sc);
    dl->AddRectFilled(c0, c1, DM_UI_CARD, 10 * sc);
    const char *name = s->own_id != 0 ? s->name : ui_settings_get()->player_name;
    ui_draw_avatar(dl, c0.x + 30 * sc, (c0.y + c1.y) * 0.5f, 17, name);
    ui_text_clipped(dl, semibold(), 16, c0.x + 56 * sc, c0.y + 12 * sc, DM_UI_TEXT, name, (c1.x - c0.x) - 66 * sc);
    const char *state;
    uint32_t state_colour;
    if (s->own_id != 0) {
        state = "Online";
        state_colour = DM_UI_GREEN;
    } else if (s->net_active) {
        state = "Connecting";
        state_colour = DM_UI_YELLOW;
    } else {
        state = ui_status_fresh(s) ? "Single player" : "Main menu";
        state_colour = DM_UI_MUTED;
    }
    dl->AddCircleFilled(ImVec2(c0.x + 60 * sc, c0.y + 44 * sc), 4 * sc, state_colour, 12);
    ui_draw_text(dl, regular(), 14, c0.x + 70 * sc, c0.y + 35 * sc, DM_UI_TEXT2, state);

    // Page area.
    ImGui::SetCursorScreenPos(ImVec2(p.x + 230 * sc + 32 * sc, p.y + 28 * sc));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 0));
    bool child = ImGui::BeginChild("page", ImVec2(w - 230 * sc - 64 * sc, h - 50 * sc), 0, ImGuiWindowFlags_NoBackground);
    ImGui::PopStyleVar();
    if (child) {
        ui_push_font(regular(), 17);
        if (current_page == 0)
            ui_page_servers(s);
        else if (current_page == 1)
            ui_page_players(s);
        else
            ui_page_settings(s);
        ui_pop_font();
    }
    ImGui::EndChild();
    ImGui::End();
}

} // namespace

void ui_draw_reset()
{
    current_page = 0;
    memset(&toasts, 0, sizeof toasts);
    memset(&watch, 0, sizeof watch);
}

void ui_draw_main(const dm_ui_frame_args *args)
{
    ui_status s;
    uint32_t g = ui_status_copy(&s);
    ui_toasts_from_status(&s, g);
    float y = 12 * ui_get_scale();
    if (args->ui_mode)
        ui_draw_menu(args, &s);
    else
        y = ui_draw_status_line(args, &s);
    ui_draw_toasts(args, y);
}

void ui_push_toast(uint32_t colour, const char *icon, const char *fmt, ...)
{
    if (!ui_settings_get()->toasts_on)
        return;
    char text[DM_UI_TOAST_TEXT];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    ui_toast_add(&toasts, colour, icon, text, ImGui::GetTime());
}

float ui_text_width(ImFont *font, float size, const char *text)
{
    return font_or_current(font)->CalcTextSizeA(size * ui_get_scale(), FLT_MAX, 0.0f, text).x;
}

void ui_draw_text(ImDrawList *dl, ImFont *font, float size, float x, float y, uint32_t colour, const char *text)
{
    dl->AddText(font_or_current(font), size * ui_get_scale(), ImVec2(x, y), colour, text);
}

void ui_icon_label(char *out, size_t size, const char *glyph, const char *text)
{
    const char *icon = ui_icon(glyph);
    if (icon)
        snprintf(out, size, "%s  %s", icon, text);
    else
        snprintf(out, size, "%s", text);
}

void ui_draw_star(ImDrawList *dl, float cx, float cy, float radius, uint32_t colour, bool filled)
{
    // Five points on the outer radius, five notches on 0.4 of it, the first
    // point straight up.
    ImVec2 pts[10];
    for (int i = 0; i < 10; i++) {
        float a = -1.5707963f + 0.6283185f * (float)i;
        float r = (i & 1) ? radius * 0.4f : radius;
        pts[i] = ImVec2(cx + r * cosf(a), cy + r * sinf(a));
    }
    if (!filled) {
        dl->AddPolyline(pts, 10, colour, ImDrawFlags_Closed, 1.5f * ui_get_scale());
        return;
    }
    // Not convex, but every edge is seen from the centre: a fan of triangles.
    for (int i = 0; i < 10; i++)
        dl->AddTriangleFilled(ImVec2(cx, cy), pts[i], pts[(i + 1) % 10], colour);
}

void ui_push_font(ImFont *font, float size) { ImGui::PushFont(font, size); }
void ui_pop_font() { ImGui::PopFont(); }

bool ui_button(const char *label, float w, float h, int style, bool enabled)
{
    uint32_t c[4];
    if (enabled && style == 0) {
        c[0] = DM_UI_ACCENT, c[1] = DM_UI_ACCENT_LIGHT, c[2] = DM_UI_ACCENT_DARK, c[3] = DM_UI_INK;
    } else if (enabled && style == 2) {
        c[0] = ui_rgb(0xB43A3A), c[1] = DM_UI_RED, c[2] = ui_rgb(0x8C2A2A), c[3] = DM_UI_TEXT;
    } else {
        c[0] = DM_UI_CARD_HOT, c[1] = DM_UI_LINE, c[2] = DM_UI_MUTED, c[3] = DM_UI_TEXT;
    }
    ui_push_font(semibold(), 16);
    ImGui::PushStyleColor(ImGuiCol_Button, c[0]);
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, c[1]);
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, c[2]);
    ImGui::PushStyleColor(ImGuiCol_Text, c[3]);
    if (!enabled)
        ImGui::BeginDisabled();
    bool pressed = ImGui::Button(label, ImVec2(w, h));
    if (!enabled)
        ImGui::EndDisabled();
    ImGui::PopStyleColor(4);
    ui_pop_font();
    return pressed && enabled;
}

bool ui_checkbox(const char *label, bool *value)
{
    // A ticked box is filled with the accent, so the dark tick shows on it.
    bool ticked = *value;
    if (ticked) {
        ImGui::PushStyleColor(ImGuiCol_FrameBg, DM_UI_ACCENT);
        ImGui::PushStyleColor(ImGuiCol_FrameBgHovered, DM_UI_ACCENT_LIGHT);
        ImGui::PushStyleColor(ImGuiCol_FrameBgActive, DM_UI_ACCENT_DARK);
    }
    bool changed = ImGui::Checkbox(label, value);
    if (ticked)
        ImGui::PopStyleColor(3);
    return changed;
}

void ui_draw_avatar(ImDrawList *dl, float cx, float cy, float radius, const char *name)
{
    float r = radius * ui_get_scale();
    uint32_t colour = avatar_palette[ui_fnv1a(name) & 7];
    dl->AddCircleFilled(ImVec2(cx, cy), r, colour, 32);
    char initial[5];
    ui_avatar_initial(name, initial);
    ImFont *f = font_or_current(bold());
    float size = r * 1.05f;
    ImVec2 sz = f->CalcTextSizeA(size, FLT_MAX, 0.0f, initial);
    dl->AddText(f, size, ImVec2(cx - sz.x * 0.5f, cy - sz.y * 0.5f), DM_UI_INK, initial);
}

void ui_key_hint(ImDrawList *dl, float x, float y, const char *key, const char *caption)
{
    float sc = ui_get_scale();
    float kw = ui_text_width(semibold(), 13, key);
    ImVec2 a(x, y), b(x + kw + 16 * sc, y + 22 * sc);
    dl->AddRect(a, b, DM_UI_LINE, 5 * sc, 0, 1.5f * sc);
    ui_draw_text(dl, semibold(), 13, x + 8 * sc, y + 3 * sc, DM_UI_TEXT2, key);
    if (caption)
        ui_draw_text(dl, regular(), 14, b.x + 8 * sc, y + 2 * sc, DM_UI_MUTED, caption);
}

void ui_text_clipped(ImDrawList *dl, ImFont *font, float size, float x, float y, uint32_t colour, const char *text,
                        float max_width)
{
    measure_ctx m = { font, size * ui_get_scale() };
    char out[256];
    ui_clip_text(text, max_width, measure, &m, out, sizeof out);
    if (out[0])
        dl->AddText(font_or_current(font), size * ui_get_scale(), ImVec2(x, y), colour, out);
}

void ui_text_styled(ImFont *font, float size, uint32_t colour, const char *fmt, ...)
{
    char text[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    ui_push_font(font, size);
    ImGui::PushStyleColor(ImGuiCol_Text, colour);
    ImGui::TextWrapped("%s", text);
    ImGui::PopStyleColor();
    ui_pop_font();
}

void ui_banner_panel(uint32_t colour, const char *icon, const char *title, const char *subtitle, float button_w,
                        const char *button_label, int button_style, bool *pressed)
{
    float sc = ui_get_scale();
    ImDrawList *dl = ImGui::GetWindowDrawList();
    ImVec2 p = ImGui::GetCursorScreenPos();
    float w = ImGui::GetContentRegionAvail().x;
    float h = (subtitle ? 64 : 48) * sc;
    float a = (float)(colour >> 24) / 255.0f;
    dl->AddRectFilled(p, ImVec2(p.x + w, p.y + h), ui_fade(colour, a * 0.15f), 10 * sc);
    dl->AddRectFilled(p, ImVec2(p.x + 4 * sc, p.y + h), colour, 10 * sc, ImDrawFlags_RoundCornersLeft);
    // Without the icon the texts start where it would be.
    icon = icon ? ui_icon(icon) : nullptr;
    if (icon)
        ui_draw_text(dl, regular(), 22, p.x + 18 * sc, p.y + (h - 22 * sc) * 0.5f, colour, icon);
    float tx = (icon ? 52 : 18) * sc;
    float clip = w - tx - (button_label ? button_w : 0) - 30 * sc;
    float ty = p.y + (subtitle ? 12 : 14) * sc;
    ui_text_clipped(dl, semibold(), 17, p.x + tx, ty, DM_UI_TEXT, title, clip);
    if (subtitle)
        ui_text_clipped(dl, regular(), 15, p.x + tx, ty + 22 * sc, DM_UI_TEXT2, subtitle, clip);
    if (button_label) {
        ImGui::SetCursorScreenPos(ImVec2(p.x + w - button_w - 14 * sc, p.y + (h - 36 * sc) * 0.5f));
        bool r = ui_button(button_label, button_w, 36 * sc, button_style, true);
        if (pressed)
            *pressed = r;
    }
    ImGui::SetCursorScreenPos(p);
    ImGui::Dummy(ImVec2(w, h));
    ImGui::Dummy(ImVec2(0, 2 * sc));
}
