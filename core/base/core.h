/* The core's ground floor for every other file: the core's globals, its log
 * and file paths.
 * core_log.cpp. */
#pragma once
#include <stdarg.h>
#include <stdint.h>
#include "dm_api.h"

extern const dm_host_api *core_api;   /* null before init and after shutdown */
extern uint64_t game_base;            /* the game executable's module base */
extern uint32_t core_game_thread;

/* One log line through the host's log function; nothing when there is none. */
void core_log(const char *fmt, ...) __attribute__((format(gnu_printf, 1, 2)));
/* core_log with the arguments in a va_list, for a floor's own log wrapper. */
void core_logv(const char *fmt, va_list ap) __attribute__((format(gnu_printf, 1, 0)));
/* "%s<name>" in the base directory; false when it would be cut. */
bool core_path(char *out, unsigned size, const char *name);
/* Keeps this library mapped for the life of the process: used when something
 * of the core (a thread, a hook) cannot be stopped before the plug-in frees it. */
void core_pin_self();
/* The telemetry position line ("pos", "local"). */
void log_telemetry_pos(const dm_frame_info *info);
