/* Shared state of the overlay renderer (host_overlay.cpp) and the input
 * routing (host_input.cpp). */
#pragma once
#include "host.h"

/* One patched pointer slot (virtual table or import). A null slot address
 * means not patched. */
struct host_slot_patch {
    void **slot;
    void *previous;
    void *replacement;
};

/* Exchanges the replacement into the slot and records it; false when the
 * slot cannot be made writable. A slot that already holds the replacement
 * counts as patched and is left alone. */
bool host_patch_slot(host_slot_patch *p, void **slot, void *replacement);
/* Puts the previous value back when the slot still holds ours; false when
 * it no longer does (someone chained over us) or cannot be written. The
 * record is cleared either way. */
bool host_unpatch_slot(host_slot_patch *p);
/* Base name of the module holding an address, "?" when none. */
void host_module_name(const void *address, char *out, size_t size);
/* Keeps the plug-in mapped for the life of the process. */
void host_pin_self(const char *why);

/* Hook bookkeeping: every hook entry counts itself while it runs. */
extern volatile LONG host_in_flight;
struct host_in_flight_scope {
    host_in_flight_scope() { InterlockedIncrement(&host_in_flight); }
    ~host_in_flight_scope() { InterlockedDecrement(&host_in_flight); }
};

/* Overlay state read by the input side. */
extern volatile LONG host_ui_mode;      /* 1 while UI mode is on */
extern volatile LONG host_imgui_ready;  /* context exists and is attached */
bool host_overlay_is_active();
/* Turns the overlay off for good (fault, failed attach): clears UI mode and
 * gives the game its cursor clip back. */
void host_overlay_off();

/* host_input.cpp */
LRESULT CALLBACK host_wndproc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
/* Subclasses the window (restoring the previously subclassed one); logs. */
void host_subclass_window(HWND hwnd);
HWND host_game_window();
bool host_dinput_probe();
void host_cursor_imports_patch();
/* UI mode on or off with its effects on Dear ImGui and the cursor
 * (render thread, host_lock held, plug-in context current). */
void host_ui_mode_set(bool on);
/* Frees or re-applies the game's cursor clip through the game's entry. */
void host_cursor_release();
void host_cursor_reapply();
/* Teardown of the input side; returns false when something of ours may
 * still be reached (a slot or the window procedure no longer held our
 * value). */
bool host_input_teardown();

/* host_overlay.cpp */
bool host_overlay_teardown_slots();
void host_overlay_release_all(); /* host_lock held */

/* host_core.cpp: 0 no core loaded, 1 a core without a UI entry, 2 a UI entry bound. */
int host_core_ui_state();
