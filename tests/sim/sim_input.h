/* The input a player gives the simulated game's window: real input through
 * SendInput, window messages sent or posted, and what the game's window
 * procedure received. Exported by dm_sim.dll. */
#pragma once
#include <windows.h>
#include <stdint.h>
#include <vector>
#include "sim/sim.h"

namespace sim {

struct window_message {
    UINT msg;
    WPARAM wp;
    LPARAM lp;
};
SIM_API std::vector<window_message> game_messages();
SIM_API void clear_game_messages();
/* Sent straight to the window (as the system would deliver it). */
SIM_API LRESULT window_send(UINT msg, WPARAM wp, LPARAM lp);
/* Real input through SendInput, then the messages are handled. */
SIM_API void key_input(WORD vk, bool down);
SIM_API void mouse_input_move(int x, int y); /* client coordinates */
SIM_API void mouse_input_button(bool down);
/* Window messages of the mouse at client (x, y), posted and handled. */
SIM_API void mouse_click_message(int x, int y);

} // namespace sim
