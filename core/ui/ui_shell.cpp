// The core's side of the overlay: adopts the plug-in's Dear ImGui context,
// loads the UI fonts once per context, applies theme and scale, and runs the
// registered draw callbacks each under its own fault guard. The game thread
// publishes the status snapshot and the kick and ban notice and runs the console
// lines that the render thread queued.
#include <windows.h>
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include "dm_env.h"
#include "dm_file.h"
#include "dm_windows_dir.h"
#include "ui/ui.h"
#include "dm_guard.h"
#include "imgui.h"
#include "imgui_internal.h"
#include "net/net.h"
#include "base/core.h"
#include "ui/ui_internal.h"

namespace {


SRWLOCK ui_callbacks_lock = SRWLOCK_INIT;
ui_draw_fn ui_draw_callbacks[DM_UI_CALLBACKS];
int32_t callback_count;

SRWLOCK ui_command_lock = SRWLOCK_INIT;
ui_command_ring ui_command_queue;

SRWLOCK ui_status_lock = SRWLOCK_INIT;
ui_status published_status;
uint32_t status_generation;
double status_due, fps_time;
uint64_t fps_frame;
float fps_value;

SRWLOCK ui_notice_lock = SRWLOCK_INIT;
net_kick_record ui_notice_record;
uint32_t notice_generation;
uint32_t notice_last_number;

ui_settings settings;

ImFont *fonts[3];
bool icons_on; // the icon font is merged into all three fonts
ImGuiContext *fonts_context;
float applied_scale;
float ui_scale = 1.0f;
bool ui_off;

const ui_net_source default_source = {
    net_is_open, net_our_player_id, net_status_line, net_list_players, net_player_name, net_get_connection,
    net_get_kick_info,
};
const ui_net_source *net_source = &default_source;

const ui_imgui_layout own_layout = {
    IMGUI_VERSION, sizeof(ImGuiIO), sizeof(ImGuiStyle), sizeof(ImVec2), sizeof(ImVec4), sizeof(ImDrawVert),
    sizeof(ImDrawIdx),
};
const ui_imgui_layout *imgui_layout = &own_layout;
unsigned imgui_mismatch_logged; /* bit 0 the library, bit 1 the context */


bool file_exists(const char *path) { return dm_file_attributes(path) != INVALID_FILE_ATTRIBUTES; }

ImFont *ui_load_font(const char *key, const char *file, float size)
{
    ImGuiIO &io = ImGui::GetIO();
    for (ImFont *f : io.Fonts->Fonts)
        if (f && strcmp(f->GetDebugName(), key) == 0)
            return f; // the atlas outlives the core: a reloaded core finds its fonts here
    char dir[MAX_PATH], path[MAX_PATH];
    dm_windows_dir(dir, sizeof dir);
    snprintf(path, sizeof path, "%s\\Fonts\\%s", dir, file);
    if (!file_exists(path)) {
        core_log("[core] ui: font %s missing", path);
        return nullptr;
    }
    ImFontConfig cfg;
    snprintf(cfg.Name, sizeof cfg.Name, "%s", key);
    ImFont *font = io.Fonts->AddFontFromFileTTF(path, size, &cfg, nullptr);
    if (!font)
        return nullptr;
    char icons[MAX_PATH];
    snprintf(icons, sizeof icons, "%s\\Fonts\\SegoeIcons.ttf", dir);
    if (!file_exists(icons))
        snprintf(icons, sizeof icons, "%s\\Fonts\\segmdl2.ttf", dir);
    if (file_exists(icons)) {
        ImFontConfig merge;
        merge.MergeMode = true;
        merge.GlyphOffset = ImVec2(0, size * 0.12f);
        snprintf(merge.Name, sizeof merge.Name, "%s+icons", key);
        io.Fonts->AddFontFromFileTTF(icons, size, &merge, nullptr);
    }
    core_log("[core] ui: font %s (%s, %.0f px)", key, file, size);
    return font;
}

// Whether the icon font was merged into this font: its sources then hold the
// one named "<key>+icons" (also for a font a reloaded core finds in the atlas).
bool font_has_icons(ImFont *font)
{
    if (!font)
        return false;
    char name[sizeof(ImFontConfig::Name) + 8];
    snprintf(name, sizeof name, "%s+icons", font->GetDebugName());
    for (ImFontConfig *src : font->Sources)
        if (src && strcmp(src->Name, name) == 0)
            return true;
    return false;
}

void set_colour(ImGuiStyle &st, ImGuiCol idx, uint32_t packed) { st.Colors[idx] = ImGui::ColorConvertU32ToFloat4(packed); }

// The theme on a fresh style: default sizes, dark colours, the theme's
// fields, then the scale. Built whole each time so nothing compounds.
void ui_apply_theme(float scale)
{
    ImGuiStyle &cur = ImGui::GetStyle();
    ImGuiStyle st;
    ImGui::StyleColorsDark(&st);
    st.WindowPadding = ImVec2(18, 16);
    st.WindowRounding = 12;
    st.WindowBorderSize = 0;
    st.WindowTitleAlign = ImVec2(0.5f, 0.5f);
    st.ChildRounding = 10;
    st.ChildBorderSize = 0;
    st.PopupRounding = 10;
    st.PopupBorderSize = 1;
    st.FramePadding = ImVec2(12, 8);
    st.FrameRounding = 7;
    st.FrameBorderSize = 0;
    st.ItemSpacing = ImVec2(10, 9);
    st.ItemInnerSpacing = ImVec2(8, 6);
    st.ScrollbarSize = 10;
    st.ScrollbarRounding = 7;
    st.GrabMinSize = 12;
    st.GrabRounding = 7;
    st.TabRounding = 7;
    const uint32_t clear = 0;
    set_colour(st, ImGuiCol_Text, DM_UI_TEXT);
    set_colour(st, ImGuiCol_TextDisabled, DM_UI_MUTED);
    set_colour(st, ImGuiCol_WindowBg, ui_rgb(0x12151A, 247));
    set_colour(st, ImGuiCol_ChildBg, clear);
    set_colour(st, ImGuiCol_PopupBg, DM_UI_PANEL);
    set_colour(st, ImGuiCol_Border, DM_UI_LINE);
    set_colour(st, ImGuiCol_BorderShadow, clear);
    set_colour(st, ImGuiCol_FrameBg, ui_rgb(0x0F1216));
    set_colour(st, ImGuiCol_FrameBgHovered, ui_rgb(0x16191E));
    set_colour(st, ImGuiCol_FrameBgActive, ui_rgb(0x181C22));
    set_colour(st, ImGuiCol_TitleBg, DM_UI_PANEL);
    set_colour(st, ImGuiCol_TitleBgActive, DM_UI_PANEL);
    set_colour(st, ImGuiCol_TitleBgCollapsed, DM_UI_PANEL);
    set_colour(st, ImGuiCol_MenuBarBg, DM_UI_PANEL);
    set_colour(st, ImGuiCol_ScrollbarBg, clear);
    set_colour(st, ImGuiCol_ScrollbarGrab, DM_UI_LINE);
    set_colour(st, ImGuiCol_ScrollbarGrabHovered, DM_UI_MUTED);
    set_colour(st, ImGuiCol_ScrollbarGrabActive, DM_UI_TEXT2);
    set_colour(st, ImGuiCol_CheckMark, DM_UI_INK);
    // This Dear ImGui has no separate colour for a ticked box's frame; the
    // checkbox wrapper (ui_checkbox) paints it with the accent instead.
    set_colour(st, ImGuiCol_SliderGrab, DM_UI_ACCENT);
    set_colour(st, ImGuiCol_SliderGrabActive, DM_UI_ACCENT_LIGHT);
    set_colour(st, ImGuiCol_Button, DM_UI_CARD_HOT);
    set_colour(st, ImGuiCol_ButtonHovered, DM_UI_LINE);
    set_colour(st, ImGuiCol_ButtonActive, DM_UI_MUTED);
    set_colour(st, ImGuiCol_Header, DM_UI_CARD);
    set_colour(st, ImGuiCol_HeaderHovered, DM_UI_CARD_HOT);
    set_colour(st, ImGuiCol_HeaderActive, DM_UI_CARD_HOT);
    set_colour(st, ImGuiCol_Separator, DM_UI_LINE);
    set_colour(st, ImGuiCol_SeparatorHovered, DM_UI_ACCENT);
    set_colour(st, ImGuiCol_SeparatorActive, DM_UI_ACCENT);
    set_colour(st, ImGuiCol_ResizeGrip, clear);
    set_colour(st, ImGuiCol_ResizeGripHovered, DM_UI_ACCENT);
    set_colour(st, ImGuiCol_ResizeGripActive, DM_UI_ACCENT_LIGHT);
    set_colour(st, ImGuiCol_TabHovered, DM_UI_CARD_HOT);
    set_colour(st, ImGuiCol_Tab, DM_UI_CARD);
    set_colour(st, ImGuiCol_TabSelected, DM_UI_CARD_HOT);
    set_colour(st, ImGuiCol_TextSelectedBg, ui_rgb(0xFF8C1A, 102));
    set_colour(st, ImGuiCol_NavCursor, DM_UI_ACCENT);
    st.Colors[ImGuiCol_ModalWindowDimBg] = ImVec4(0, 0, 0, 0.55f);
    st.ScaleAllSizes(scale);
    // Font sizing belongs to the running frame, not to the theme.
    st.FontSizeBase = cur.FontSizeBase;
    st.FontScaleDpi = cur.FontScaleDpi;
    st._NextFrameFontSizeBase = cur._NextFrameFontSizeBase;
    st.FontScaleMain = scale;
    cur = st;
    ImGui::GetIO().ConfigDebugHighlightIdConflicts = false;
}

void ui_setup_fonts_and_scale(float height)
{
    ImGuiContext *ctx = ImGui::GetCurrentContext();
    ImGuiIO &io = ImGui::GetIO();
    if (ctx != fonts_context) {
        fonts_context = ctx;
        applied_scale = 0;
        fonts[0] = ui_load_font("dm-regular", "segoeui.ttf", 18.0f);
        fonts[1] = ui_load_font("dm-semibold", "seguisb.ttf", 18.0f);
        fonts[2] = ui_load_font("dm-bold", "segoeuib.ttf", 18.0f);
        if (!fonts[1])
            fonts[1] = fonts[0];
        if (!fonts[2])
            fonts[2] = fonts[1];
        if (fonts[0])
            io.FontDefault = fonts[0];
        icons_on = font_has_icons(fonts[0]) && font_has_icons(fonts[1]) && font_has_icons(fonts[2]);
    }
    float scale = ui_compute_scale(height, settings.ui_size);
    if (scale == applied_scale)
        return;
    ui_scale = scale;
    applied_scale = scale;
    ui_apply_theme(scale);
    core_log("[core] ui: scale %.2f (screen %.0f px high, UI size %.0f%%)", scale, height,
                  settings.ui_size * 100.0f);
}

bool ui_prepare(float height)
{
    if (ui_off)
        return false;
    dm_seh_fault fault = {};
    if (dm_guarded([height] { ui_setup_fonts_and_scale(height); }, &fault))
        return true;
    ui_off = true;
    core_log("[core] ui: font/theme setup faulted (0x%08lx); core UI off", fault.code);
    return false;
}

// Before the plug-in's context is adopted: this core's Dear ImGui must be
// the version and layout its UI code was compiled for (what
// IMGUI_CHECKVERSION checks; asserts are off, so the result is used), and
// the context must have that layout too: a context of this layout holds a
// pointer to itself in its IO. A core built against another Dear ImGui
// would otherwise write into the plug-in's context with the wrong offsets.
// Nothing is drawn on a mismatch; each reason is logged once per core.
bool ui_imgui_matches(const dm_ui_frame_args *args)
{
    const ui_imgui_layout *l = imgui_layout;
    const char *why = nullptr;
    char text[256];
    if (!ImGui::DebugCheckVersionAndDataLayout(l->version, l->io, l->style, l->vec2, l->vec4, l->vert, l->idx)) {
        snprintf(text, sizeof text,
                 "Dear ImGui %s (ImGuiIO %u, ImGuiStyle %u, ImVec2 %u, ImVec4 %u, ImDrawVert %u, ImDrawIdx %u bytes) "
                 "does not match the library's %s",
                 l->version, (unsigned)l->io, (unsigned)l->style, (unsigned)l->vec2, (unsigned)l->vec4,
                 (unsigned)l->vert, (unsigned)l->idx, ImGui::GetVersion());
        why = text;
    } else {
        ImGuiContext *ctx = (ImGuiContext *)args->imgui_context;
        if (!ctx || ctx->IO.Ctx != ctx)
            why = "the plug-in's Dear ImGui context does not have this core's layout";
    }
    if (!why)
        return true;
    unsigned reason = why == text ? 1u : 2u;
    if (!(imgui_mismatch_logged & reason)) {
        imgui_mismatch_logged |= reason;
        core_log("[core] ui: %s; core UI off", why);
    }
    return false;
}

bool ui_call_guarded(ui_draw_fn fn, const dm_ui_frame_args *args)
{
    dm_seh_fault fault = {};
    if (dm_guarded([fn, args] { fn(args); }, &fault))
        return true;
    core_log("[core] ui: draw callback %p faulted (0x%08lx); removed", (void *)fn, fault.code);
    return false;
}

namespace {

/* A flag key of the UI: on when absent; a value that is not understood is
 * said and leaves it on. */
uint8_t load_flag(const char *key)
{
    char v[256];
    bool on = true;
    if (config_get(key, v, sizeof v) && !config_flag(v, &on))
        core_log("[core] config: %s = '%s' refused (" CONFIG_DIGITS_RULE "); using 1", key, v);
    return on ? 1 : 0;
}

} // namespace

void ui_load_settings(const dm_host_api *api)
{
    char v[256];
    memset(&settings, 0, sizeof settings);
    settings.ui_size = 1.0f;
    if (config_get("name", v, sizeof v)) {
        dm_utf8_copy(settings.player_name, sizeof settings.player_name, v, CONFIG_NAME_MAX);
    } else {
        if (!dm_computer_name(settings.player_name, sizeof settings.player_name, CONFIG_NAME_MAX))
            snprintf(settings.player_name, sizeof settings.player_name, "player");
    }
    // The setting in force: config_load has just read it (and said what it refused).
    settings.autoconnect = core_config.autoconnect ? 1 : 0;
    settings.toasts_on = load_flag("ui_toasts");
    settings.status_line_on = load_flag("ui_statusbar");
    float size;
    if (config_get("ui_scale", v, sizeof v)) {
        if (ui_parse_scale_percent(v, &size))
            ui_set_size(size);
        else
            core_log("[core] config: ui_scale = '%s' refused (" DM_UI_SCALE_RULE "); using 100", v);
    }
    if (config_get("server_list", v, sizeof v))
        snprintf(settings.server_list, sizeof settings.server_list, "%s", v);
    ui_add_draw_callback(ui_draw_main);
    servers_start(api);
}

void ui_status_update(const dm_frame_info *info)
{
    double t = info->seconds;
    uint64_t n = info->frame;
    if (t - fps_time >= 1.0) {
        if (fps_time > 0)
            fps_value = (float)((double)(n - fps_frame) / (t - fps_time));
        fps_time = t;
        fps_frame = n;
    }
    if (t < status_due)
        return;
    status_due = t + 0.1;
    const ui_net_source *src = net_source;
    ui_status s;
    memset(&s, 0, sizeof s);
    s.net_active = src->is_open() ? 1 : 0;
    s.own_id = src->our_id();
    const char *line = src->status_line();
    snprintf(s.status, sizeof s.status, "%s", line ? line : "");
    int count = src->list_players(s.ids, DM_UI_MAX_PLAYERS);
    s.player_count = count < 0 ? 0 : count > DM_UI_MAX_PLAYERS ? DM_UI_MAX_PLAYERS : count;
    for (int i = 0; i < s.player_count; i++) {
        const char *name = src->player_name(s.ids[i]);
        snprintf(s.names[i], sizeof s.names[i], "%s", name && name[0] ? name : "?");
    }
    s.fps = fps_value;
    net_connection conn;
    memset(&conn, 0, sizeof conn);
    if (src->get_connection(&conn)) {
        s.has_server = 1;
        snprintf(s.host, sizeof s.host, "%s", conn.host);
        s.port = conn.port;
        snprintf(s.name, sizeof s.name, "%s", conn.name);
    }
    s.tick = GetTickCount64();
    AcquireSRWLockExclusive(&ui_status_lock);
    published_status = s;
    status_generation++;
    ReleaseSRWLockExclusive(&ui_status_lock);
}

} // namespace

void ui_set_net_source(const ui_net_source *source) { net_source = source ? source : &default_source; }
void ui_set_imgui_layout(const ui_imgui_layout *layout) { imgui_layout = layout ? layout : &own_layout; }

void ui_init(const dm_host_api *api)
{
    // Everything below starts fresh with each core load.
    status_due = fps_time = 0;
    fps_frame = 0;
    fps_value = 0;
    notice_last_number = 0;
    fonts_context = nullptr;
    applied_scale = 0;
    ui_scale = 1.0f;
    ui_off = false;
    imgui_mismatch_logged = 0;
    ui_draw_reset();
    ui_notice_reset();
    ui_load_settings(api);
    ui_add_draw_callback(ui_notice_dialog);
}

// The core's worker threads (the server list's and the updater's), stopped
// with a bounded wait when the plug-in drops a faulted core without its
// shutdown (dm_core_unhook). Each worker holds its own reference on the core,
// so one that outlives the wait never runs unmapped code.
bool core_workers_stop_bounded()
{
    bool servers_stopped = servers_stop();
    update_shutdown();
    return servers_stopped;
}

void ui_shutdown()
{
    servers_stop();
    AcquireSRWLockExclusive(&ui_callbacks_lock);
    callback_count = 0;
    ReleaseSRWLockExclusive(&ui_callbacks_lock);
    AcquireSRWLockExclusive(&ui_command_lock);
    ui_command_queue.count = 0;
    ReleaseSRWLockExclusive(&ui_command_lock);
}

void ui_run(const dm_ui_frame_args *args)
{
    if (!ui_imgui_matches(args))
        return;
    ImGui::SetAllocatorFunctions((ImGuiMemAllocFunc)args->alloc_func, (ImGuiMemFreeFunc)args->free_func,
                                 args->alloc_user_data);
    ImGui::SetCurrentContext((ImGuiContext *)args->imgui_context);
    if (!ui_prepare(args->height))
        return;
    ui_draw_fn local[DM_UI_CALLBACKS];
    AcquireSRWLockShared(&ui_callbacks_lock);
    int n = callback_count;
    memcpy(local, ui_draw_callbacks, sizeof(ui_draw_fn) * (size_t)n);
    ReleaseSRWLockShared(&ui_callbacks_lock);
    for (int i = 0; i < n; i++) {
        ImGuiErrorRecoveryState state; // zeroed by its constructor
        ImGui::ErrorRecoveryStoreState(&state);
        if (ui_call_guarded(local[i], args))
            continue;
        ImGui::ErrorRecoveryTryToRecoverState(&state);
        ui_remove_draw_callback(local[i]);
    }
}

void ui_game_tick(const dm_frame_info *info, int (*run)(const char *, const dm_frame_info *))
{
    static char lines[DM_UI_QUEUE_SLOTS][DM_UI_LINE_MAX]; // game thread only
    AcquireSRWLockExclusive(&ui_command_lock);
    int n = ui_ring_take(&ui_command_queue, lines);
    ReleaseSRWLockExclusive(&ui_command_lock);
    for (int i = 0; i < n; i++)
        if (run)
            run(lines[i], info);

    net_kick_record rec;
    memset(&rec, 0, sizeof rec);
    if (net_source->get_kick_info(&rec) && rec.notice != notice_last_number) {
        notice_last_number = rec.notice;
        AcquireSRWLockExclusive(&ui_notice_lock);
        ui_notice_record = rec;
        notice_generation++;
        ReleaseSRWLockExclusive(&ui_notice_lock);
    }
    ui_status_update(info);
}

int ui_post_command(const char *line)
{
    AcquireSRWLockExclusive(&ui_command_lock);
    bool ok = ui_ring_push(&ui_command_queue, line);
    ReleaseSRWLockExclusive(&ui_command_lock);
    return ok ? 1 : 0;
}

int ui_post_commands(const char *const *lines, int n)
{
    AcquireSRWLockExclusive(&ui_command_lock);
    bool ok = ui_ring_push_all(&ui_command_queue, lines, n);
    ReleaseSRWLockExclusive(&ui_command_lock);
    return ok ? 1 : 0;
}

bool ui_add_draw_callback(ui_draw_fn fn)
{
    bool ok = true;
    AcquireSRWLockExclusive(&ui_callbacks_lock);
    bool present = false;
    for (int i = 0; i < callback_count; i++)
        present |= ui_draw_callbacks[i] == fn;
    if (!present) {
        if (callback_count < DM_UI_CALLBACKS)
            ui_draw_callbacks[callback_count++] = fn;
        else
            ok = false;
    }
    ReleaseSRWLockExclusive(&ui_callbacks_lock);
    return ok;
}

void ui_remove_draw_callback(ui_draw_fn fn)
{
    AcquireSRWLockExclusive(&ui_callbacks_lock);
    for (int i = 0; i < callback_count; i++)
        if (ui_draw_callbacks[i] == fn) {
            memmove(&ui_draw_callbacks[i], &ui_draw_callbacks[i + 1],
                    sizeof(ui_draw_fn) * (size_t)(callback_count - i - 1));
            callback_count--;
            break;
        }
    ReleaseSRWLockExclusive(&ui_callbacks_lock);
}

ImFont **ui_fonts() { return fonts; }
const char *ui_icon(const char *glyph) { return icons_on ? glyph : nullptr; }
float ui_get_scale() { return ui_scale; }
float ui_get_size() { return settings.ui_size; }
void ui_set_size(float size) { settings.ui_size = ui_clamp_size(size); }
ui_settings *ui_settings_get() { return &settings; }

uint32_t ui_status_copy(ui_status *out)
{
    AcquireSRWLockShared(&ui_status_lock);
    uint32_t g = status_generation;
    if (g)
        *out = published_status;
    ReleaseSRWLockShared(&ui_status_lock);
    if (!g)
        memset(out, 0, sizeof *out);
    return g;
}

bool ui_notice_copy(uint32_t *seen, net_kick_record *out)
{
    if (notice_generation == *seen)
        return false;
    bool copied = false;
    AcquireSRWLockShared(&ui_notice_lock);
    if (notice_generation != 0) {
        *out = ui_notice_record;
        *seen = notice_generation;
        copied = true;
    }
    ReleaseSRWLockShared(&ui_notice_lock);
    return copied;
}

uint64_t ui_tick_now() { return GetTickCount64(); }
bool ui_status_fresh(const ui_status *s) { return ui_fresh(s->tick, GetTickCount64()); }
