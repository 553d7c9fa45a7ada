/* The core runtime, the top floor: the frame, the console and config
 * loading, which call into every subsystem below them. */
#pragma once
#include "dm_api.h"

/* core_main.cpp */
extern const char *volatile core_frame_step; /* name of the frame step now running */
extern bool core_first_frame;

/* core_frame.cpp */
void core_frame(const dm_frame_info *info);
void core_frame_reset();
/* Called on the game thread with each step's name just before the step runs,
 * and with "done" when the frame is over; null in the game. A benchmark
 * build of the core sets it to time the steps one by one. */
extern void (*core_frame_observer)(const char *step);
/* The "stats" step: the detours' fault notices and the draw statistics. */
void stats_step(const dm_frame_info *info);

/* dispatcher.cpp */
int dm_cmd_run(const char *line, const dm_frame_info *info);
/* The console's command rows in their match order (cmd_table.h). */
extern const struct cmd_row cmd_rows[];
extern const int cmd_row_count;

/* config.cpp */
/* Reads config.ini into core_config, or writes the default file. */
void config_load();
/* The "config refresh" command: config_load keeping a remote mode set by command. */
void config_refresh();
