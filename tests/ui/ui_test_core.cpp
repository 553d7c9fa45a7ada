// Test exports of ui_test_core.dll: a scripted network source for the
// status snapshot and the removal notice, and draw callbacks that misbehave.
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include "imgui.h"
#include "ui/ui_internal.h"
#include "ui_test_core.h"

namespace {
uitest_status st;
net_kick_record kick;
bool kick_set;
int calls[2];
volatile int *volatile fault_at_0x20 = (volatile int *)(uintptr_t)0x20;
float marker_x, marker_y;
struct {
    int font;
    float size;
    char text[96];
    volatile float width;
} measure;

bool s_open() { return st.net_open != 0; }
uint16_t s_id() { return st.own_id; }
const char *s_line() { return st.status; }
int s_list(uint16_t *out, int cap)
{
    int n = st.count < cap ? st.count : cap;
    memcpy(out, st.ids, sizeof(uint16_t) * (size_t)n);
    return n;
}
const char *s_name(uint16_t id)
{
    for (int i = 0; i < st.count && i < 40; i++)
        if (st.ids[i] == id)
            return st.names[i];
    return "?";
}
bool s_conn(net_connection *out)
{
    if (!st.has_server)
        return false;
    snprintf(out->host, sizeof out->host, "%s", st.host);
    out->port = st.port;
    snprintf(out->name, sizeof out->name, "%s", st.name);
    return true;
}
bool s_kick(net_kick_record *out)
{
    if (!kick_set)
        return false;
    *out = kick;
    return true;
}
const ui_net_source source = { s_open, s_id, s_line, s_list, s_name, s_conn, s_kick };

void faulting(const dm_ui_frame_args *)
{
    calls[0]++;
    ImGui::Begin("faulting window");
    ImGui::PushStyleColor(ImGuiCol_Text, 0xFFFFFFFF);
    ImGui::PushFont(nullptr, 30.0f);
    *fault_at_0x20 = 1;
}

void marker(const dm_ui_frame_args *)
{
    calls[1]++;
    // Drawn inside a window of its own: fails to show if the faulting
    // callback's Begin were still open (it would land inside that window).
    ImGui::GetForegroundDrawList()->AddRectFilled(ImVec2(marker_x, marker_y), ImVec2(marker_x + 40, marker_y + 40),
                                                  IM_COL32(255, 0, 255, 255));
    ImGui::SetNextWindowPos(ImVec2(marker_x, marker_y + 60));
    ImGui::SetNextWindowSize(ImVec2(40, 40));
    ImGui::PushStyleColor(ImGuiCol_WindowBg, IM_COL32(0, 255, 0, 255));
    ImGui::Begin("marker", nullptr, ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoSavedSettings);
    ImGui::End();
    ImGui::PopStyleColor();
}

void measurer(const dm_ui_frame_args *)
{
    measure.width = ui_text_width(ui_fonts()[measure.font], measure.size, measure.text);
}
} // namespace

#define EXPORT extern "C" __declspec(dllexport)

EXPORT void uitest_set_status(const uitest_status *s)
{
    st = *s;
    ui_set_net_source(&source);
}

EXPORT void uitest_kick(uint8_t kind, uint32_t notice, const char *text)
{
    kick = {};
    kick.kind = kind;
    kick.notice = notice;
    snprintf(kick.text, sizeof kick.text, "%s", text ? text : "");
    kick_set = true;
    ui_set_net_source(&source);
}

EXPORT void uitest_add_faulting(float x, float y)
{
    marker_x = x;
    marker_y = y;
    ui_add_draw_callback(faulting);
    ui_add_draw_callback(marker);
}

EXPORT int uitest_calls(int which) { return calls[which & 1]; }

EXPORT int uitest_fonts(char *out, int size)
{
    out[0] = 0;
    if (!ImGui::GetCurrentContext())
        return -1;
    ImFontAtlas *atlas = ImGui::GetIO().Fonts;
    for (ImFont *f : atlas->Fonts) {
        size_t n = strlen(out);
        snprintf(out + n, (size_t)size - n, "%s|", f->GetDebugName());
    }
    return atlas->Fonts.Size;
}

EXPORT float uitest_scale() { return ui_get_scale(); }

EXPORT void uitest_measure(int font, float size, const char *text)
{
    measure.font = font < 0 || font > 2 ? 0 : font;
    measure.size = size;
    snprintf(measure.text, sizeof measure.text, "%s", text);
    measure.width = -1;
    ui_add_draw_callback(measurer);
}

EXPORT float uitest_measured() { return measure.width; }
