/* The diagnostic commands (pos, threads, config, peek, memrec, watch, cmp)
 * and their work in the "watch" frame step. diagnostics.cpp. */
#pragma once
#include <stdint.h>
#include "dm_api.h"

void cmd_threads();
void cmd_config_status();
void cmd_peek(const char *rest);
void cmd_memrec(const char *rest, double now);
void cmd_watch(bool on);
void cmd_cmp();
void log_vehicle_debug(const char *label, uint64_t vehicle);

/* The "watch" step: the watch's change lines, then the recorder's sample. */
void watch_tick();
void memrec_sample(double now);
