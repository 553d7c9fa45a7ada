/* config.ini as text: the core's keys with their defaults, the default file
 * and a single-key write over the file's text. Pure logic. The line rule
 * itself (splitting, comments, numbers) is the one every reader shares
 * (dm_config_line.h), and so are the file's bytes (dm_config_file.h). */
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "dm_config_line.h"

#define CONFIG_SERVER_MAX 63
#define CONFIG_NAME_MAX 32
#define CONFIG_URL_MAX 511
/* The port of a server named without one: the settings' default, `net
 * connect` and the server list's entries. */
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

/* Defaults; the name is the given default name cut to 32 bytes at a whole
 * character. */
void config_defaults(client_config *cfg, const char *default_name);

/* Why a value was refused: the rule it breaks and what is used instead. */
typedef struct config_refusal {
    const char *rule;
    char used[CONFIG_SERVER_MAX + 16];
} config_refusal;

/* Applies one key; keys it does not know are ignored. False when the value
 * is refused: the setting keeps what it had, and *why says so. */
bool config_apply(client_config *cfg, const char *key, const char *value, config_refusal *why);

/* The default file with the port, the name limit and the name filled in;
 * returns the length, or -1 when it does not fit. */
int config_default_text(char *out, size_t size, unsigned port, int name_max, const char *name);

/* Whether a line sets the key, as a single-key write matches it: after
 * leading blanks and tabs the key (case-insensitive, over its length), then
 * optional blanks or tabs and "=". */
bool config_line_sets_key(const char *line, const char *key);

/* A key or value a single-key write may store: no CR or LF, the key not blank. */
bool config_set_allowed(const char *key, const char *value);

/* Room for config_text_set's result over a text of len bytes. */
size_t config_text_set_room(size_t len, const char *key, const char *value);

/* The text of a file with one key written: the first line that sets the key
 * becomes "key = value" with that line's own ending (CR LF, LF or none), later
 * lines of the key are dropped (so that every reader, taking the first or the
 * last, sees the value written), and every other line is kept byte for byte.
 * Without such a line, "key = value" and CR LF are appended, after a CR LF
 * when the text does not end in a LF. The length written into out, or -1
 * when it does not fit. */
long config_text_set(const char *text, size_t len, const char *key, const char *value, char *out, size_t size);
