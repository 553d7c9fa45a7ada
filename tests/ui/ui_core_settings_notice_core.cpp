// More test exports of ui_test_core.dll, for the Settings and notice tests:
// the UI size set directly, another Dear ImGui layout put in, and a UI frame
// run on a context that is not the plug-in's.
#include <windows.h>
#include <string.h>
#include "imgui.h"
#include "imgui_internal.h"
#include "ui/ui_internal.h"

#define EXPORT extern "C" __declspec(dllexport)

EXPORT void uitest_set_size(float size) { ui_set_size(size); }

/* 1: the layout of a core whose ImGuiIO is 8 bytes larger; 0: this build's.
 * Returns the ImGuiIO size put in. */
EXPORT unsigned uitest_other_imgui(int other)
{
    static ui_imgui_layout layout = {
        IMGUI_VERSION, sizeof(ImGuiIO) + 8, sizeof(ImGuiStyle), sizeof(ImVec2), sizeof(ImVec4), sizeof(ImDrawVert),
        sizeof(ImDrawIdx),
    };
    ui_set_imgui_layout(other ? &layout : nullptr);
    return (unsigned)(other ? layout.io : sizeof(ImGuiIO));
}

/* One UI frame through dm_core_ui on a zeroed block in place of a context;
 * returns 1 when the core adopted it as its current context. */
EXPORT int uitest_run_on_foreign_context()
{
    static uint8_t block[sizeof(ImGuiContext)];
    memset(block, 0, sizeof block);
    ImGuiContext *before = ImGui::GetCurrentContext();
    dm_ui_frame_args args = {};
    args.imgui_context = block;
    args.width = 1280;
    args.height = 720;
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       (LPCSTR)&uitest_run_on_foreign_context, &self);
    auto ui = (dm_core_ui_fn)(void *)GetProcAddress(self, DM_EXPORT_CORE_UI);
    if (!ui)
        return -1;
    ui(&args);
    int adopted = ImGui::GetCurrentContext() == (ImGuiContext *)block;
    ImGui::SetCurrentContext(before);
    return adopted;
}
