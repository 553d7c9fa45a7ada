/* The core runtime's interface for the core's other files: the core's
 * globals and log, the frame, and the console. */
#pragma once
#include <stdint.h>
#include "dm_api.h"

#define DM_PATH_MAX 260

/* core_main.cpp */
extern const dm_host_api *core_api;   /* null before init and after shutdown */
extern uint64_t game_base;            /* the game executable's module base */
extern uint32_t core_game_thread;
extern const char *volatile core_frame_step; /* name of the frame step now running */
extern bool core_first_frame;

/* One log line through the host's log function; nothing when there is none. */
void core_log(const char *fmt, ...) __attribute__((format(gnu_printf, 1, 2)));
/* "%s<name>" in the base directory; false when it would be cut. */
bool core_path(char *out, unsigned size, const char *name);
/* Keeps this library mapped for the life of the process: used when something
 * of the core (a thread, a hook) cannot be stopped before the plug-in frees it. */
void core_pin_self();

/* core_frame.cpp */
void core_frame(const dm_frame_info *info);
void core_frame_reset();
/* The "stats" step: the detours' fault notices and the draw statistics. */
void stats_step(const dm_frame_info *info);

/* dispatcher.cpp */
int dm_cmd_run(const char *line, const dm_frame_info *info);
/* The one answer of every console command whose feature is not in this
 * build: "[core] <command>: not in this build". */
void core_not_in_build(const char *command);
