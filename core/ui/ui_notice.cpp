// The kick and ban notice: the newest kick record in a small window in
// the upper middle of the screen, in and outside UI mode. A kick closes
// itself after 30 s; a ban stays until OK is pressed in UI mode. Its sizes
// follow the UI scale like the rest of the UI, since its title is drawn in
// the scaled bold font and would be cut off in a window of fixed width.
#include "imgui.h"
#include "ui/ui_internal.h"

namespace {
net_kick_record notice;
uint32_t seen_generation;
bool showing;
double shown_at;
} // namespace

void ui_notice_reset()
{
    notice = {};
    seen_generation = 0;
    showing = false;
    shown_at = 0;
}

void ui_notice_dialog(const dm_ui_frame_args *args)
{
    if (ui_notice_copy(&seen_generation, &notice)) {
        showing = true;
        shown_at = ImGui::GetTime();
    }
    if (!showing)
        return;
    bool banned = notice.kind == 5;
    if (!banned && ImGui::GetTime() - shown_at > 30.0) {
        showing = false;
        return;
    }
    ImGui::SetNextWindowPos(ImVec2(args->width * 0.5f, args->height * 0.3f), ImGuiCond_Always, ImVec2(0.5f, 0.5f));
    float sc = ui_get_scale();
    float width = 480 * sc;
    if (width > args->width)
        width = args->width;
    ImGui::SetNextWindowSize(ImVec2(width, 0), ImGuiCond_Always);
    if (ImGui::Begin("###dm_notice", nullptr,
                     ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                         ImGuiWindowFlags_NoSavedSettings)) {
        uint32_t accent = banned ? DM_UI_RED : DM_UI_YELLOW;
        ImVec2 p = ImGui::GetWindowPos();
        ImVec2 sz = ImGui::GetWindowSize();
        ImGui::GetWindowDrawList()->AddRectFilled(p, ImVec2(p.x + 6 * sc, p.y + sz.y), accent, ImGui::GetStyle().WindowRounding,
                                                  ImDrawFlags_RoundCornersLeft);
        ui_push_font(ui_fonts()[2], 24);
        if (const char *icon = ui_icon(DM_ICON_WARNING)) {
            ImGui::PushStyleColor(ImGuiCol_Text, accent);
            ImGui::TextUnformatted(icon);
            ImGui::PopStyleColor();
            ImGui::SameLine();
        }
        ImGui::TextUnformatted(banned ? "Banned from the server" : "Kicked from the server");
        ui_pop_font();
        if (notice.text[0]) {
            ImGui::PushStyleColor(ImGuiCol_Text, DM_UI_TEXT2);
            ImGui::TextWrapped("Reason: %s", notice.text);
            ImGui::PopStyleColor();
        }
        ImGui::Spacing();
        ImGui::TextWrapped("You can keep driving in single player. Multiplayer is off.");
        ImGui::Spacing();
        if (args->ui_mode) {
            if (ImGui::Button("OK", ImVec2(120 * sc, 0)))
                showing = false;
        } else {
            ImGui::TextDisabled("F2, then OK, to dismiss.");
        }
    }
    ImGui::End();
}
