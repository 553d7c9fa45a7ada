/* config.ini for the core: the settings in force and the single-key access
 * of the UI. core_config.cpp; loading them is the runtime's (config.cpp). */
#pragma once
#include <stddef.h>
#include "base/config_text.h"

extern client_config core_config;
/* The remote mode was set by the "remote" command (kept by "config refresh"). */
extern bool core_remote_mode_by_command;

/* The last line of the key; false when absent or empty. Any thread. */
bool config_get(const char *key, char *out, size_t size);
/* Replaces the first line of the key (drops later ones; every other line
 * kept byte for byte) through config.ini.new; false, with nothing left
 * behind and config.ini as it was, when the file cannot be written. */
bool config_set(const char *key, const char *value);
/* A UTF-16 config.ini written back as UTF-8, every line kept, and said in
 * the log; nothing for any other file. False when that write failed. */
bool config_store_utf8();
