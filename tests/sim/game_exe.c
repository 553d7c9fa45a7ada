/* The part of the simulated game that must live in the main module itself:
 * its image section (game_image.S) and its imports of the user32 cursor
 * functions, which the plug-in patches in the game executable. The game's
 * cursor calls go through these imports. */
#include <windows.h>
#include "sim/sim.h"

static BOOL WINAPI exe_set_cursor_pos(int x, int y) { return SetCursorPos(x, y); }
static BOOL WINAPI exe_clip_cursor(const RECT *r) { return ClipCursor(r); }
static HCURSOR WINAPI exe_set_cursor(HCURSOR c) { return SetCursor(c); }

__attribute__((constructor)) static void game_exe_register(void)
{
    static const sim_exe_imports imports = { exe_set_cursor_pos, exe_clip_cursor, exe_set_cursor };
    sim_register_exe(&imports);
}
