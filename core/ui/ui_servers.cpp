// The Servers page (render thread): the connection banner, the server list
// of the server-list worker as cards (query results, favourites, join and
// leave), the add-server dialog and a card's context menu; and the join as
// console lines for the game thread. The page never talks to the network.
//
// Index of this file:
// - list copy: the private copy of the published server list, which also
//   names the current server (ui_server_display_name)
// - page: title, buttons, banner, list, context menu, footer
// - card: one server
// - add-server dialog
// - join
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "imgui.h"
#include "net/net_wire.h"
#include "ui/ui_internal.h"

#define DM_ICON_ADD "\xee\x9c\x90"       /* U+E710 */
#define DM_ICON_PLAY "\xee\x9d\xa8"      /* U+E768 */
#define DM_ICON_STAR "\xee\x9c\xb4"      /* U+E734 */
#define DM_ICON_STAR_FULL "\xee\x9c\xb5" /* U+E735 */

namespace {

ImFont *regular() { return ui_fonts()[0]; }
ImFont *semibold() { return ui_fonts()[1]; }
ImFont *bold() { return ui_fonts()[2]; }

// ---- list copy ----

server_list_snapshot list;
uint64_t list_generation; // the generation copied last (0: none yet)
int context_index = -1;   // the card whose context menu is open
char add_host[SERVERS_HOST_MAX];
char add_port[8];
bool add_focus; // the host field takes the keyboard focus this frame
// The last Join could not write its server to config.ini: the page says so
// until a Join writes it.
bool join_failed;

void list_refresh()
{
    uint64_t g = servers_generation();
    if (g != list_generation) {
        servers_snapshot(&list);
        list_generation = g;
    }
}

bool same_server(const ui_status *s, const server_entry *e)
{
    return s->has_server && s->port == e->port && _stricmp(s->host, e->host) == 0;
}

bool joinable(const server_entry *e)
{
    return e->query_state == SERVER_ANSWERED && e->protocol == NET_PROTOCOL_VERSION && e->players < e->max_players;
}

// ---- page ----

void footer()
{
    uint32_t colour = list.state == SERVER_LIST_SAVED_COPY ? DM_UI_YELLOW : DM_UI_MUTED;
    if (list.busy) {
        ui_text_styled(regular(), 14, colour, "%s", "Checking servers...");
        return;
    }
    if (list.last_query_end == 0)
        return;
    int online = 0, players = 0;
    for (int i = 0; i < list.count; i++)
        if (list.entries[i].query_state == SERVER_ANSWERED) {
            online++;
            players += list.entries[i].players;
        }
    uint64_t now = ui_tick_now();
    unsigned ago = now > list.last_query_end ? (unsigned)((now - list.last_query_end) / 1000) : 0;
    bool saved = list.state == SERVER_LIST_SAVED_COPY;
    ui_text_styled(regular(), 14, colour, "%d of %d online  -  %d player%s  -  updated %us ago%s%s", online, list.count,
                      players, players == 1 ? "" : "s", ago, saved ? "  -  " : "", saved ? list.status : "");
}

void empty_list()
{
    float sc = ui_get_scale();
    ImDrawList *dl = ImGui::GetWindowDrawList();
    ImVec2 p = ImGui::GetCursorScreenPos();
    float w = ImGui::GetContentRegionAvail().x;
    const char *head = list.state == SERVER_LIST_LOADING ? "Loading the server list..." : "No servers yet";
    const char *line = list.status[0] ? list.status : "Add a server by its address, or set a server list in Settings.";
    float top = p.y + 50 * sc;
    // The texts stay below the icon's place when there is no icon.
    if (const char *icon = ui_icon(DM_ICON_SERVERS)) {
        float iw = ui_text_width(regular(), 48, icon);
        ui_draw_text(dl, regular(), 48, p.x + (w - iw) * 0.5f, top, DM_UI_MUTED, icon);
    }
    float hw = ui_text_width(semibold(), 20, head);
    ui_draw_text(dl, semibold(), 20, p.x + (w - hw) * 0.5f, top + 70 * sc, DM_UI_TEXT, head);
    float lw = ui_text_width(regular(), 15, line);
    ui_text_clipped(dl, regular(), 15, p.x + (w > lw ? (w - lw) * 0.5f : 0), top + 102 * sc, DM_UI_TEXT2, line, w);
}

void card_context_menu()
{
    float sc = ui_get_scale();
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(8 * sc, 8 * sc));
    bool open = ImGui::BeginPopup("card_ctx");
    ImGui::PopStyleVar();
    if (!open)
        return;
    // The list may have shrunk since the menu opened: then it stays empty.
    if (context_index >= 0 && context_index < list.count) {
        const server_entry &e = list.entries[context_index];
        char address[SERVERS_HOST_MAX + 8];
        snprintf(address, sizeof address, "%s:%u", e.host, (unsigned)e.port);
        ImGui::TextDisabled("%s", address);
        ImGui::Separator();
        if (ImGui::MenuItem(e.favourite ? "Remove from favourites" : "Add to favourites")) {
            if (e.favourite)
                servers_remove_favorite(e.host, e.port);
            else
                servers_add_favorite(e.host, e.port);
        }
        if (ImGui::MenuItem("Copy address"))
            ImGui::SetClipboardText(address);
    }
    ImGui::EndPopup();
}

// A host field takes only the characters a valid host may hold: no blanks,
// no control characters, nothing a console line could be split on.
int host_char_filter(ImGuiInputTextCallbackData *data)
{
    char one[2] = { (char)(data->EventChar < 0x80 ? data->EventChar : 0), 0 };
    return one[0] && servers_host_ok(one) ? 0 : 1;
}

bool port_value(const char *text, unsigned *out)
{
    // Digits only: the decimal filter lets "+-*/." through as well.
    unsigned v = 0;
    if (!text[0])
        return false;
    for (const char *c = text; *c; c++) {
        if (*c < '0' || *c > '9' || v > 65535)
            return false;
        v = v * 10 + (unsigned)(*c - '0');
    }
    *out = v;
    return v >= 1 && v <= 65535;
}

} // namespace

const char *ui_server_display_name(const ui_status *s)
{
    list_refresh();
    if (s->has_server)
        for (int i = 0; i < list.count; i++) {
            const server_entry *e = &list.entries[i];
            if (same_server(s, e))
                return e->name[0] ? e->name : e->reported_name[0] ? e->reported_name : e->host;
        }
    return s->host;
}

void ui_page_servers(const ui_status *s)
{
    servers_touch(); // the worker refetches and requeries while the list is seen
    list_refresh();
    float sc = ui_get_scale();
    bool fresh = ui_status_fresh(s);

    ImVec2 title_pos = ImGui::GetCursorScreenPos();
    float page_w = ImGui::GetContentRegionAvail().x;
    ui_push_font(bold(), 30);
    ImGui::TextUnformatted("Servers");
    ui_pop_font();
    if (join_failed)
        ui_text_styled(regular(), 16, DM_UI_RED, "%s", "Not joined: config.ini could not be written.");
    else
        ui_text_styled(regular(), 16, DM_UI_TEXT2, "%s", "Community servers. Pick one and drive.");
    ImGui::Dummy(ImVec2(0, 6 * sc));
    ImVec2 below_title = ImGui::GetCursorScreenPos();

    char label[48];
    ImGui::SetCursorScreenPos(ImVec2(title_pos.x + page_w - 300 * sc, title_pos.y + 6 * sc));
    ui_icon_label(label, sizeof label, DM_ICON_ADD, "Add server");
    if (ui_button(label, 150 * sc, 38 * sc, 1, true))
        ImGui::OpenPopup("add_server");
    ImGui::SameLine(0, 10 * sc);
    ui_icon_label(label, sizeof label, DM_ICON_REFRESH, "Refresh");
    if (ui_button(label, 140 * sc, 38 * sc, 1, !list.busy))
        servers_request_refresh(true);
    ImGui::SetCursorScreenPos(below_title);

    ImGui::SetNextWindowPos(ImGui::GetMainViewport()->GetCenter(), ImGuiCond_Appearing, ImVec2(0.5f, 0.5f));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(24 * sc, 22 * sc));
    bool dialog = ImGui::BeginPopupModal("add_server", nullptr,
                                         ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_AlwaysAutoResize);
    ImGui::PopStyleVar();
    if (dialog) {
        ui_add_server_dialog();
        ImGui::EndPopup();
    }

    bool pressed = false;
    char title[160], sub[192];
    if (s->own_id != 0) {
        snprintf(title, sizeof title, "Playing on %s", ui_server_display_name(s));
        snprintf(sub, sizeof sub, "%d player%s online  -  you are #%u as %s", s->player_count + 1,
                 s->player_count == 0 ? "" : "s", (unsigned)s->own_id, s->name);
        ui_banner_panel(DM_UI_GREEN, DM_ICON_LINK, title, sub, 130 * sc, "Disconnect", 2, &pressed);
    } else if (s->net_active) {
        ui_banner_panel(DM_UI_YELLOW, DM_ICON_REFRESH, "Connecting...", s->status, 110 * sc, "Cancel", 1, &pressed);
    } else if (!fresh) {
        ui_banner_panel(DM_UI_ACCENT, DM_ICON_PROFILE, "Load your profile to join a server",
                           "You can browse the list from here.", 0, nullptr, 0, nullptr);
    }
    if (pressed)
        ui_post_command("net disconnect");

    if (ImGui::BeginChild("list", ImVec2(0, ImGui::GetContentRegionAvail().y - 26 * sc), 0, 0)) {
        if (list.count == 0)
            empty_list();
        for (int i = 0; i < list.count; i++) {
            int request = -1;
            ui_server_card(s, &list.entries[i], i, fresh, &request);
            if (request >= 0) {
                context_index = request;
                ImGui::OpenPopup("card_ctx");
            }
            ImGui::Dummy(ImVec2(0, 2 * sc));
        }
        card_context_menu();
    }
    ImGui::EndChild();
    footer();
}

// ---- card ----

void ui_server_card(const ui_status *s, const server_entry *e, int index, bool fresh, int *context_request)
{
    float sc = ui_get_scale();
    ImDrawList *dl = ImGui::GetWindowDrawList();
    ImVec2 p = ImGui::GetCursorScreenPos();
    float w = ImGui::GetContentRegionAvail().x, h = 76 * sc;
    ImVec2 q(p.x + w, p.y + h);
    float mid = p.y + h * 0.5f;
    bool current = same_server(s, e);
    bool hovered = ImGui::IsWindowHovered() && ImGui::IsMouseHoveringRect(p, q);
    bool can_join = !current && joinable(e) && fresh;

    dl->AddRectFilled(p, q, hovered ? DM_UI_CARD_HOT : DM_UI_CARD, 10 * sc);
    if (current)
        dl->AddRect(p, q, DM_UI_GREEN, 10 * sc, 0, 1.5f * sc);

    // Status dot and its halo.
    bool ours = e->protocol == NET_PROTOCOL_VERSION;
    uint32_t dot = e->query_state == SERVER_ANSWERED     ? (ours ? DM_UI_GREEN : DM_UI_YELLOW)
                   : e->query_state == SERVER_CHECKING ? DM_UI_MUTED
                                                       : DM_UI_RED;
    ImVec2 c(p.x + 24 * sc, mid);
    if (e->query_state == SERVER_CHECKING) {
        float pulse = 0.5f + 0.5f * sinf((float)fmod(2.0 * ImGui::GetTime(), 6.283185307179586));
        dl->AddCircleFilled(c, (5 + 2 * pulse) * sc, ui_rgb(0x666E78, 76), 16);
    } else if (e->query_state == SERVER_ANSWERED) {
        dl->AddCircleFilled(c, 9 * sc, ui_fade(dot, 0.2f), 16);
    }
    dl->AddCircleFilled(c, 5 * sc, dot, 16);

    // Columns from the right.
    float button_x = q.x - 16 * sc - 112 * sc;
    float star_x = button_x - 40 * sc;
    float ping_x = star_x - 70 * sc;
    float players_x = ping_x - 104 * sc;

    char text[96];
    if (e->query_state == SERVER_ANSWERED) {
        const char *icon = ui_icon(DM_ICON_PLAYERS);
        if (icon)
            ui_draw_text(dl, regular(), 16, players_x, mid - 19 * sc, DM_UI_TEXT2, icon);
        snprintf(text, sizeof text, "%u / %u", (unsigned)e->players, (unsigned)e->max_players);
        ui_draw_text(dl, semibold(), 17, players_x + (icon ? 24 : 0) * sc, mid - 20 * sc, DM_UI_TEXT, text);
        float fill = e->max_players ? (float)e->players / (float)e->max_players : 0.0f;
        if (fill > 1)
            fill = 1;
        ImVec2 b0(players_x, mid + 8 * sc), b1(players_x + 84 * sc, mid + 13 * sc);
        dl->AddRectFilled(b0, b1, DM_UI_LINE, 3 * sc);
        uint32_t bar = fill >= 1 ? DM_UI_RED : fill > 0.8f ? DM_UI_YELLOW : DM_UI_ACCENT;
        if (fill > 0)
            dl->AddRectFilled(b0, ImVec2(b0.x + 84 * sc * fill, b1.y), bar, 3 * sc);
        snprintf(text, sizeof text, "%d ms", (int)e->ping);
        uint32_t ping = e->ping < 80 ? DM_UI_GREEN : e->ping < 160 ? DM_UI_YELLOW : DM_UI_RED;
        ui_draw_text(dl, semibold(), 16, ping_x, mid - 10 * sc, ping, text);
    } else {
        const char *what = e->query_state == SERVER_CHECKING    ? "Checking..."
                           : e->query_state == SERVER_NO_ANSWER ? "Offline"
                                                                : "Unknown address";
        uint32_t colour = e->query_state == SERVER_CHECKING ? DM_UI_MUTED : DM_UI_RED;
        float tw = ui_text_width(semibold(), 16, what);
        ui_draw_text(dl, semibold(), 16, star_x - 16 * sc - tw, mid - 10 * sc, colour, what);
    }

    ImGui::PushID(index);
    bool favourite = e->favourite != 0;
    ImGui::SetCursorScreenPos(ImVec2(star_x, mid - 16 * sc));
    ImGui::PushStyleColor(ImGuiCol_Button, 0u);
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, DM_UI_LINE);
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, DM_UI_MUTED);
    ImGui::PushStyleColor(ImGuiCol_Text, favourite ? DM_UI_ACCENT : DM_UI_MUTED);
    ui_push_font(regular(), 17);
    // Without the icon font the star is drawn as a shape over the button.
    const char *star_icon = ui_icon(favourite ? DM_ICON_STAR_FULL : DM_ICON_STAR);
    bool star = ImGui::Button(star_icon ? star_icon : "##star", ImVec2(32 * sc, 32 * sc));
    ui_pop_font();
    ImGui::PopStyleColor(4);
    if (!star_icon)
        ui_draw_star(dl, star_x + 16 * sc, mid, 8 * sc, favourite ? DM_UI_ACCENT : DM_UI_MUTED, favourite);
    bool over_item = ImGui::IsItemHovered();
    if (over_item)
        ImGui::SetTooltip("%s", favourite ? "Remove from favourites" : "Add to favourites");
    if (star) {
        if (favourite)
            servers_remove_favorite(e->host, e->port);
        else
            servers_add_favorite(e->host, e->port);
    }

    ImGui::SetCursorScreenPos(ImVec2(button_x, mid - 19 * sc));
    if (current) {
        if (ui_button("Leave", 112 * sc, 38 * sc, 2, true))
            ui_post_command("net disconnect");
        over_item = over_item || ImGui::IsItemHovered();
    } else {
        ui_icon_label(text, sizeof text, DM_ICON_PLAY, "Join");
        if (ui_button(text, 112 * sc, 38 * sc, 0, can_join))
            ui_join_server(s, e->host, e->port);
        if (ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled)) {
            over_item = true;
            if (e->query_state != SERVER_ANSWERED)
                ImGui::SetTooltip("The server isn't answering");
            else if (e->protocol != NET_PROTOCOL_VERSION)
                ImGui::SetTooltip("This server runs protocol %u, your client speaks %u", (unsigned)e->protocol,
                                  (unsigned)NET_PROTOCOL_VERSION);
            else if (e->players >= e->max_players)
                ImGui::SetTooltip("Server is full");
            else if (!fresh)
                ImGui::SetTooltip("Load your profile first (you're on the main menu)");
        }
    }
    ImGui::PopID();

    // Name, region pill, second line.
    const char *name = e->name[0] ? e->name : e->reported_name[0] ? e->reported_name : e->host;
    float x = p.x + 46 * sc;
    float clip_edge = players_x - 16 * sc;
    float max_w = clip_edge - x;
    ui_text_clipped(dl, semibold(), 19, x, p.y + 14 * sc, DM_UI_TEXT, name, max_w);
    if (e->region[0]) {
        float nw = ui_text_width(semibold(), 19, name);
        float pill_x = x + (nw < max_w ? nw : max_w) + 10 * sc;
        if (clip_edge - pill_x >= 60 * sc) {
            float rw = ui_text_width(semibold(), 12, e->region);
            dl->AddRectFilled(ImVec2(pill_x, p.y + 17 * sc), ImVec2(pill_x + rw + 14 * sc, p.y + 35 * sc),
                              ui_rgb(0xFF8C1A, 48), 9 * sc);
            ui_draw_text(dl, semibold(), 12, pill_x + 7 * sc, p.y + 19 * sc, DM_UI_ACCENT_LIGHT, e->region);
        }
    }
    if (e->description[0]) {
        ui_text_clipped(dl, regular(), 15, x, p.y + 42 * sc, DM_UI_TEXT2, e->description, max_w);
    } else {
        snprintf(text, sizeof text, "%s:%u", e->host, (unsigned)e->port);
        ui_text_clipped(dl, regular(), 15, x, p.y + 42 * sc, DM_UI_MUTED, text, max_w);
    }

    // A double click on the star or the button is theirs: it must not join
    // (or join twice) as well.
    if (hovered && ImGui::IsMouseClicked(ImGuiMouseButton_Right))
        *context_request = index;
    if (hovered && !over_item && can_join && ImGui::IsMouseDoubleClicked(ImGuiMouseButton_Left))
        ui_join_server(s, e->host, e->port);

    ImGui::SetCursorScreenPos(p);
    ImGui::Dummy(ImVec2(w, h));
}

// ---- add-server dialog ----

void ui_add_server_dialog()
{
    float sc = ui_get_scale();
    if (ImGui::IsWindowAppearing()) {
        add_host[0] = 0;
        snprintf(add_port, sizeof add_port, "%u", (unsigned)CONFIG_DEFAULT_PORT);
        add_focus = true;
    }
    ui_push_font(bold(), 22);
    ImGui::TextUnformatted("Add a server");
    ui_pop_font();
    // Not wrapped: an auto-sized window has no width to wrap at on its first
    // frame, and a tall first frame would put the dialog off centre.
    ui_push_font(regular(), 15);
    ImGui::PushStyleColor(ImGuiCol_Text, DM_UI_TEXT2);
    ImGui::TextUnformatted("It goes into your favourites and stays in the list.");
    ImGui::PopStyleColor();
    ui_pop_font();
    ImGui::Spacing();

    if (add_focus) {
        ImGui::SetKeyboardFocusHere();
        add_focus = false;
    }
    ImGui::SetNextItemWidth(300 * sc);
    ImGui::InputTextWithHint("##host", "Address (IP or host name)", add_host, sizeof add_host,
                             ImGuiInputTextFlags_CharsNoBlank | ImGuiInputTextFlags_CallbackCharFilter,
                             host_char_filter);
    ImGui::SameLine();
    ImGui::SetNextItemWidth(90 * sc);
    ImGui::InputTextWithHint("##port", "Port", add_port, sizeof add_port, ImGuiInputTextFlags_CharsDecimal);
    ImGui::Spacing();

    unsigned port = 0;
    bool valid = servers_host_ok(add_host) && port_value(add_port, &port);
    bool enter = ImGui::IsKeyPressed(ImGuiKey_Enter) || ImGui::IsKeyPressed(ImGuiKey_KeypadEnter);
    if (ui_button("Add", 120 * sc, 0, 0, valid) || (valid && enter)) {
        servers_add_favorite(add_host, (uint16_t)port);
        ImGui::CloseCurrentPopup();
        return;
    }
    ImGui::SameLine();
    if (ui_button("Cancel", 120 * sc, 0, 1, true) || ImGui::IsKeyPressed(ImGuiKey_Escape))
        ImGui::CloseCurrentPopup();
}

// ---- join ----

void ui_join_server(const ui_status *s, const char *host, uint16_t port)
{
    // The new target goes into config.ini before "config refresh" is queued:
    // the game thread may run the lines as soon as they are in the queue.
    // A target that cannot be written is not joined: "config refresh" would
    // read the old server back, and auto-connect would return to it.
    char port_text[8];
    snprintf(port_text, sizeof port_text, "%u", (unsigned)port);
    join_failed = !config_set("server", host) || !config_set("port", port_text);
    if (join_failed)
        return;

    char connect[200];
    snprintf(connect, sizeof connect, "net connect %s %u %s", host, (unsigned)port, ui_settings_get()->player_name);
    const char *lines[3];
    int n = 0;
    if (s->net_active)
        lines[n++] = "net disconnect";
    lines[n++] = connect;
    lines[n++] = "config refresh";
    // Either the whole join waits in the queue or none of it does.
    ui_post_commands(lines, n);
}
