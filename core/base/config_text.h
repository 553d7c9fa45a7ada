/* config.ini as text: the core's keys with their defaults, the default file
 * and the line matching of a single-key write. Pure logic. The line rule
 * itself (splitting, comments, integers) is the one every reader shares. */
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "dm_config_line.h"

#define CONFIG_SERVER_MAX 63
#define CONFIG_NAME_MAX 32
#define CONFIG_URL_MAX 511
#define CONFIG_DEFAULT_PORT 42870

/* The core's settings, reset to their defaults by every config_load. */
typedef struct client_config {
    char server[CONFIG_SERVER_MAX + 1];
    uint16_t port;
    char name[CONFIG_NAME_MAX + 1];
    bool autoconnect;
    bool remote_mode_rv;           /* false: clone */
    bool sync_given;               /* a sync line was read */
    int32_t sync;
    bool traffic_local;            /* false: off */
    char update_url[CONFIG_URL_MAX + 1];
    bool auto_update;
} client_config;

/* Defaults; the name is the given default name cut to 32 characters. */
void config_defaults(client_config *cfg, const char *default_name);

/* Applies one key; keys it does not know are ignored. */
void config_apply(client_config *cfg, const char *key, const char *value);

/* The default file with the port, the name limit and the name filled in;
 * returns the length, or -1 when it does not fit. */
int config_default_text(char *out, size_t size, unsigned port, int name_max, const char *name);

/* Whether a line sets the key, as a single-key write matches it: after
 * leading blanks and tabs the key (case-insensitive, over its length), then
 * optional blanks or tabs and "=". */
bool config_line_sets_key(const char *line, const char *key);

/* A key or value a single-key write may store: no CR or LF, the key not blank. */
bool config_set_allowed(const char *key, const char *value);
