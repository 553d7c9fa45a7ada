/* config.ini for the core: the settings in force, the single-key access of
 * the UI, and auto-connect. */
#pragma once
#include <stddef.h>
#include "config_text.h"

extern client_config core_config;
/* The remote mode was set by the "remote" command (kept by "config refresh"). */
extern bool core_remote_mode_by_command;

/* Reads config.ini into core_config, or writes the default file. */
void config_load();
/* The "config refresh" command: config_load keeping a remote mode set by command. */
void config_refresh();
/* The last line of the key; false when absent or empty. Any thread. */
bool dm_config_get(const char *key, char *out, size_t size);
/* Replaces the first line of the key (drops later ones) through config.ini.new. */
bool dm_config_set(const char *key, const char *value);

/* Auto-connect, once a frame before the network client's tick. */
void net_auto_connect_tick(double now);
/* "config reload": un-paused, next attempt at once. */
void auto_connect_reload();
bool auto_connect_paused();
/* After a core reload: the reconnected connection is ours when it goes to the configured server. */
void auto_connect_take_over(const char *host);
/* Hands the net command what it needs from the runtime. */
void auto_connect_env_install();
