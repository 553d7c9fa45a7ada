// The menu's pages Players and Settings (the Servers page is ui_servers.cpp).
#include <stdio.h>
#include <string.h>
#include "dm_utf8.h"
#include "imgui.h"
#include "imgui_internal.h"
#include "net/net_wire.h"
#include "ui/ui_internal.h"

namespace {

ImFont *regular() { return ui_fonts()[0]; }
ImFont *semibold() { return ui_fonts()[1]; }
ImFont *bold() { return ui_fonts()[2]; }

void page_title(const char *title, const char *subtitle, uint32_t colour = DM_UI_TEXT2)
{
    ui_push_font(bold(), 30);
    ImGui::TextUnformatted(title);
    ui_pop_font();
    ui_text_styled(regular(), 16, colour, "%s", subtitle);
    ImGui::Dummy(ImVec2(0, 6 * ui_get_scale()));
}

// ---- Settings page state (render thread) ----
char name_buf[DM_UI_NAME_MAX];
char url_buf[256];
int size_percent = -1;
int settings_frame_seen = -1;
// The last write to config.ini failed: the page says so until one succeeds.
bool save_failed;

void ui_section_begin(const char *icon, const char *title, ImVec2 *start)
{
    float sc = ui_get_scale();
    ImGui::Dummy(ImVec2(0, 4 * sc));
    *start = ImGui::GetCursorScreenPos();
    ImGui::GetWindowDrawList()->ChannelsSplit(2);
    ImGui::GetWindowDrawList()->ChannelsSetCurrent(1);
    ImGui::Indent(18 * sc);
    ImGui::Dummy(ImVec2(0, 8 * sc));
    ui_push_font(semibold(), 18);
    if ((icon = ui_icon(icon)) != nullptr) {
        ImGui::PushStyleColor(ImGuiCol_Text, DM_UI_ACCENT);
        ImGui::TextUnformatted(icon);
        ImGui::PopStyleColor();
        ImGui::SameLine();
    }
    ImGui::TextUnformatted(title);
    ui_pop_font();
}

void ui_section_end(const ImVec2 &start)
{
    float sc = ui_get_scale();
    ImGui::Dummy(ImVec2(0, 6 * sc));
    ImGui::Unindent(18 * sc);
    ImDrawList *dl = ImGui::GetWindowDrawList();
    dl->ChannelsSetCurrent(0);
    float w = ImGui::GetContentRegionAvail().x;
    dl->AddRectFilled(start, ImVec2(start.x + w, ImGui::GetCursorScreenPos().y), DM_UI_CARD, 10 * sc);
    dl->ChannelsMerge();
}

void note(const char *text) { ui_text_styled(regular(), 14, DM_UI_MUTED, "%s", text); }

/* Writes one key; a setting changes only when its write succeeded, so each
 * control goes on showing what is in force. */
bool write_key(const char *key, const char *value)
{
    save_failed = !config_set(key, value);
    return !save_failed;
}

bool write_flag(const char *key, bool on) { return write_key(key, on ? "1" : "0"); }

} // namespace

void ui_page_players(const ui_status *s)
{
    float sc = ui_get_scale();
    ui_push_font(bold(), 30);
    ImGui::TextUnformatted("Players");
    ui_pop_font();
    if (s->own_id == 0) {
        ui_text_styled(regular(), 16, DM_UI_TEXT2, "%s", "Join a server to see who's driving.");
        ImGui::Dummy(ImVec2(0, 6 * sc));
        return;
    }
    char sub[160];
    snprintf(sub, sizeof sub, "%d on %s", s->player_count + 1, ui_server_display_name(s));
    ui_text_styled(regular(), 16, DM_UI_TEXT2, "%s", sub);
    ImGui::Dummy(ImVec2(0, 6 * sc));
    if (ImGui::BeginChild("players", ImVec2(0, 0), 0, 0)) {
        ImDrawList *dl = ImGui::GetWindowDrawList();
        bool child_hovered = ImGui::IsWindowHovered();
        int rows = 1 + (s->player_count < 0 ? 0 : s->player_count > DM_UI_MAX_PLAYERS ? DM_UI_MAX_PLAYERS : s->player_count);
        for (int i = 0; i < rows; i++) {
            const char *name = i == 0 ? s->name : s->names[i - 1];
            unsigned id = i == 0 ? s->own_id : s->ids[i - 1];
            ImVec2 p = ImGui::GetCursorScreenPos();
            float w = ImGui::GetContentRegionAvail().x, h = 54 * sc;
            ImVec2 q(p.x + w, p.y + h);
            bool hot = child_hovered && ImGui::IsMouseHoveringRect(p, q);
            dl->AddRectFilled(p, q, hot ? DM_UI_CARD_HOT : DM_UI_CARD, 10 * sc);
            ui_draw_avatar(dl, p.x + 30 * sc, p.y + h * 0.5f, 16, name);
            ui_text_clipped(dl, semibold(), 17, p.x + 58 * sc, p.y + 16 * sc, DM_UI_TEXT, name, w - 200 * sc);
            char id_text[16];
            snprintf(id_text, sizeof id_text, "#%u", id);
            float iw = ui_text_width(regular(), 15, id_text);
            float ix = q.x - 18 * sc - iw;
            ui_draw_text(dl, regular(), 15, ix, p.y + 18 * sc, DM_UI_MUTED, id_text);
            if (i == 0) {
                float yw = ui_text_width(semibold(), 12, "YOU");
                ImVec2 a(ix - 12 * sc - (yw + 14 * sc), p.y + 17 * sc), b(ix - 12 * sc, p.y + 37 * sc);
                dl->AddRectFilled(a, b, ui_rgb(0xFF8C1A, 48), 9 * sc);
                ui_draw_text(dl, semibold(), 12, a.x + 7 * sc, a.y + 3 * sc, DM_UI_ACCENT_LIGHT, "YOU");
            }
            ImGui::Dummy(ImVec2(w, h));
            ImGui::Dummy(ImVec2(0, 1 * sc));
        }
    }
    ImGui::EndChild();
}

void ui_page_settings(const ui_status *s)
{
    float sc = ui_get_scale();
    ui_settings *st = ui_settings_get();
    // The edit buffers are filled from the settings on the frame the page appears.
    int frame = ImGui::GetFrameCount();
    if (settings_frame_seen != frame - 1) {
        snprintf(name_buf, sizeof name_buf, "%s", st->player_name);
        snprintf(url_buf, sizeof url_buf, "%s", st->server_list);
    }
    settings_frame_seen = frame;

    if (save_failed)
        page_title("Settings", "Not saved: config.ini could not be written (nothing changed).", DM_UI_RED);
    else
        page_title("Settings", "Saved to config.ini right away.");
    if (!ImGui::BeginChild("settings", ImVec2(0, 0), 0, 0)) {
        ImGui::EndChild();
        return;
    }
    ImGui::PushItemWidth(320 * sc);
    ImGui::PushStyleVar(ImGuiStyleVar_ItemSpacing, ImVec2(10 * sc, 10 * sc));
    ImVec2 start;

    ui_section_begin(DM_ICON_PERSON, "Profile", &start);
    ImGui::InputTextWithHint("##name", "Your name", name_buf, sizeof name_buf, ImGuiInputTextFlags_CharsNoBlank);
    ImGui::SameLine();
    if (ui_button("Save##name", 90 * sc, 0, 0, name_buf[0] && strcmp(name_buf, st->player_name) != 0)) {
        if (write_key("name", name_buf)) {
            dm_utf8_copy(st->player_name, sizeof st->player_name, name_buf, CONFIG_NAME_MAX);
            ui_post_command("config refresh");
        }
    }
    note("Shown above your truck. Used the next time you join.");
    ui_section_end(start);

    ui_section_begin(DM_ICON_LINK, "Connection", &start);
    bool ac = st->autoconnect != 0;
    if (ui_checkbox("Rejoin my last server when I load a profile", &ac)) {
        if (write_flag("autoconnect", ac)) {
            st->autoconnect = ac ? 1 : 0;
            ui_post_command("config refresh");
        }
    }
    note("Joining from the server list makes that server the one to rejoin.");
    ui_section_end(start);

    ui_section_begin(DM_ICON_SERVERS, "Server list", &start);
    ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x - 120 * sc);
    ImGui::InputTextWithHint("##url", "https://.../servers.json (empty = servers.json next to config.ini)", url_buf,
                             sizeof url_buf);
    ImGui::SameLine();
    if (ui_button("Save##url", 90 * sc, 0, 0, strcmp(url_buf, st->server_list) != 0)) {
        if (write_key("server_list", url_buf)) {
            snprintf(st->server_list, sizeof st->server_list, "%s", url_buf);
            servers_request_refresh(true);
        }
    }
    ui_section_end(start);

    ui_section_begin(DM_ICON_REFRESH, "Updates", &start);
    char ustatus[200];
    update_get_status(ustatus, sizeof ustatus);
    ui_text_styled(regular(), 15, DM_UI_TEXT, "%s", ustatus);
    bool au = update_auto_enabled();
    if (ui_checkbox("Install updates by myself", &au)) {
        if (write_flag("auto_update", au))
            ui_post_command("config refresh");
    }
    bool worker = update_worker_running();
    if (ui_button("Check now", 120 * sc, 0, 1, worker))
        ui_post_command("update check");
    if (update_available() && !au) {
        ImGui::SameLine();
        if (ui_button("Install", 120 * sc, 0, 0, worker))
            ui_post_command("update install");
    }
    note("A new core goes in when you leave the server; a new plugin after a game restart.");
    ui_section_end(start);

    ui_section_begin(DM_ICON_SETTINGS, "Interface", &start);
    if (size_percent < 0 || !ImGui::IsAnyItemActive())
        size_percent = (int)(ui_get_size() * 100.0f + 0.5f);
    // Ctrl+click turns the slider into a text field: a typed value is
    // clamped like a dragged one, and config.ini gets the size in effect.
    ImGui::SliderInt("UI size", &size_percent, 60, 200, "%d%%", ImGuiSliderFlags_AlwaysClamp);
    if (ImGui::IsItemDeactivatedAfterEdit()) {
        float size = ui_clamp_size((float)size_percent / 100.0f);
        char v[16];
        snprintf(v, sizeof v, "%d", (int)(size * 100.0f + 0.5f));
        if (write_key("ui_scale", v))
            ui_set_size(size);
        size_percent = (int)(ui_get_size() * 100.0f + 0.5f);
    }
    bool tags = nametags_enabled();
    if (ui_checkbox("Name tags above players", &tags))
        ui_post_command(tags ? "nametags on" : "nametags off");
    bool toasts_on = st->toasts_on != 0;
    if (ui_checkbox("Join and leave messages", &toasts_on)) {
        if (write_flag("ui_toasts", toasts_on))
            st->toasts_on = toasts_on ? 1 : 0;
    }
    bool bar = st->status_line_on != 0;
    if (ui_checkbox("Status bar at the top of the screen", &bar)) {
        if (write_flag("ui_statusbar", bar))
            st->status_line_on = bar ? 1 : 0;
    }
    ui_section_end(start);

    ImGui::Dummy(ImVec2(0, 8 * sc));
    ui_text_styled(regular(), 13, DM_UI_MUTED,
                      "drovemark  -  protocol v%u  -  Dear ImGui %s  -  %.0f fps render, %.0f fps game",
                      (unsigned)NET_PROTOCOL_VERSION, IMGUI_VERSION, ImGui::GetIO().Framerate, s->fps);
    ImGui::PopStyleVar();
    ImGui::PopItemWidth();
    ImGui::EndChild();
}
