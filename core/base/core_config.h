/* config.ini for the core: the settings in force and the single-key access
 * of the UI. core_config.cpp; loading them is the runtime's (config.cpp). */
#pragma once
#include <stddef.h>
#include "config_text.h"

extern client_config core_config;
/* The remote mode was set by the "remote" command (kept by "config refresh"). */
extern bool core_remote_mode_by_command;

/* The last line of the key; false when absent or empty. Any thread. */
bool dm_config_get(const char *key, char *out, size_t size);
/* Replaces the first line of the key (drops later ones) through config.ini.new. */
bool dm_config_set(const char *key, const char *value);
