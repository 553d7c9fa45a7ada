/* Dear ImGui configuration shared by the plug-in and the core: both build
 * the same sources with these settings, so their structures agree. */
#pragma once
#define IMGUI_DISABLE_OBSOLETE_FUNCTIONS
#define IMGUI_DISABLE_DEFAULT_SHELL_FUNCTIONS
/* Error recovery must never stop the game on an assert. */
#define IM_ASSERT(expr) ((void)(expr))
