/* state.json and cmd.txt, worked on by a thread of their own so that the
 * game thread never waits on the disk: the "write_state" step publishes the
 * frame's values, the "poll_commands" step asks for cmd.txt and runs the
 * lines the worker has read from it. state_files.cpp. */
#pragma once
#include "dm_api.h"

/* Starts the worker (dm_core_init); a cmd.txt already waiting is taken at
 * once, for the first frame. */
void state_files_start(const char *base_dir);
/* Ends the worker with a bounded wait (dm_core_shutdown, dm_core_unhook).
 * keep_lines: lines taken from cmd.txt and not run yet go back in front of
 * cmd.txt for the next core; without it (after a fault) they are dropped.
 * False when the worker did not end in time: it ends on its own, keeping
 * the library mapped through its own reference until it has. */
bool state_files_stop(bool keep_lines);

/* Game thread. The values state.json is written from, that frame's; only
 * the latest is kept until the worker writes it. */
void state_files_publish(const dm_frame_info *info, int spawn_state);
/* Game thread. Asks the worker to take cmd.txt. */
void state_files_request_commands();
/* Game thread. Whether lines taken from cmd.txt wait to be run. */
bool state_files_lines_waiting();
/* Game thread. The next waiting line, in file order; false when none. A
 * line of more than 255 characters met on the way is refused with one log
 * line, in its place among the lines, and never run. */
bool state_files_next_line(char *out, unsigned size);
