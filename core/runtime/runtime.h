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
/* Who asks the "draw_hook" step for the draw hook. That step alone decides
 * on it, once a frame, after this frame's commands ("hook on" is the
 * console's own order): */
enum {
    DRAW_HOOK_FOR_REMOTE_VEHICLE = 0x1, /* a vehicle was spawned for a remote player */
    DRAW_HOOK_FOR_PROPS_COMMAND = 0x2,  /* a "model" command ran: props may be live now */
    DRAW_HOOK_FOR_RELOAD = 0x4,         /* the core block says the old core drew */
};
void draw_hook_ask(unsigned reasons);
/* The decision itself: the "draw_hook" step's, and dm_core_init's once the
 * reload blocks are taken back (a core that drew draws again from init on). */
void draw_hook_decide();

/* net_frame_step.cpp */
/* The "net_tick" frame step: the local truck sampled every 0.1 s (a
 * recording row, our state for the server), auto-connect, then the network
 * client's tick. */
void net_tick_step(const dm_frame_info *info);

/* dispatcher.cpp */
int cmd_run(const char *line, const dm_frame_info *info);
/* The console's command rows in their match order (cmd_table.h). */
extern const struct cmd_row cmd_rows[];
extern const int cmd_row_count;

/* config.cpp */
/* Reads config.ini into core_config, or writes the default file. */
void config_load();
/* The "config refresh" command: config_load keeping a remote mode set by command. */
void config_refresh();
