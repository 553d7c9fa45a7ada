/* The server list behind the Servers window: the records, the servers.json
 * parser (servers_json.cpp, pure), favorites.txt's text and its edits
 * (servers_favorites.cpp, pure), the fetch, favourites, merge and the
 * published snapshot (servers_list.cpp), and the worker thread that keeps it
 * current with info queries (servers_worker.cpp).
 *
 * Threads: the worker alone writes the working list, the fetched list, the
 * favourites and favorites.txt. The render thread reads the published copy
 * (servers_snapshot, servers_generation) and writes only the edit queue and
 * the request flags. The game thread starts and stops the worker. */
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "base/config_text.h" /* CONFIG_DEFAULT_PORT: an entry's port when it names none */
#include "dm_api.h"

#define SERVERS_MAX 48
#define SERVERS_EDITS_MAX 8
#define SERVERS_HOST_MAX 64     /* bytes, with the terminator */
/* A reason names its file or address (up to a whole path) with a few words
 * around it; the status may put "Showing the saved list: " before a reason. */
#define SERVERS_ERROR_MAX (DM_PATH_MAX + 100)
#define SERVERS_STATUS_MAX (SERVERS_ERROR_MAX + 40)

enum server_query_state {
    SERVER_CHECKING = 0,
    SERVER_ANSWERED = 1,
    SERVER_NO_ANSWER = 2,
    SERVER_UNRESOLVED = 3,
};

enum server_list_state {
    SERVER_LIST_NONE = 0,
    SERVER_LIST_LOADING = 1,
    SERVER_LIST_LOADED = 2,
    SERVER_LIST_SAVED_COPY = 3,
    SERVER_LIST_FAILED = 4,
};

typedef struct server_entry {
    char name[64];
    char description[128];
    char region[32];
    char host[SERVERS_HOST_MAX];
    uint16_t port;
    uint8_t listed;      /* it came from the fetched list */
    uint8_t favourite;
    uint8_t query_state; /* server_query_state */
    uint8_t players;
    uint8_t max_players;
    uint8_t spare;
    uint16_t protocol;   /* as the server reported it */
    uint32_t ping;       /* milliseconds */
    char reported_name[68]; /* the server's own name, at most 64 bytes, cut at a whole character */
} server_entry;

typedef struct server_list_snapshot {
    int32_t count;
    server_entry entries[SERVERS_MAX];
    uint8_t state; /* server_list_state */
    char status[SERVERS_STATUS_MAX];
    uint64_t last_query_end; /* tick count (ms) when the last query pass ended */
    uint8_t busy;            /* from a fetch or pass start until the next pass ends */
} server_list_snapshot;

typedef struct favorite_server {
    char host[SERVERS_HOST_MAX];
    uint16_t port;
} favorite_server;

enum { FAVORITE_REMOVE = 0, FAVORITE_ADD = 1 };

typedef struct favorite_edit {
    uint8_t op; /* FAVORITE_ADD or FAVORITE_REMOVE */
    char host[SERVERS_HOST_MAX];
    uint16_t port;
} favorite_edit;

/* ---- pure (servers_json.cpp) ---- */

/* A host that may stand in the list, favorites.txt, config.ini and console
 * lines: 1 to 63 characters, each a letter, a digit, '.', '-' or ':'. */
bool servers_host_ok(const char *host);
/* servers.json text into at most capacity servers (the rest are parsed and
 * dropped); the number kept, or -1 when the text is malformed. */
int servers_parse_json(const char *text, size_t length, server_entry *out, int capacity);

/* ---- pure (servers_favorites.cpp) ---- */

/* Room an edit may add to favorites.txt's text. */
#define SERVERS_FAVORITE_EDIT_ROOM 256
/* The favourites favorites.txt's text holds, at most capacity, in order. */
int servers_favorites_parse(const char *text, size_t size, favorite_server *out, int capacity);
/* One edit made to favorites.txt's text in place (room bytes in all): a
 * remove cuts out the line of the last kept favourite that is the server
 * (port equal, host without regard to case); an add appends "host port"
 * with the text's own line end when no kept favourite is that server and
 * fewer than 48 are kept (a new text starts with the header line). Every
 * other byte stays. The new size; the old one when nothing changed. */
size_t servers_favorites_apply(char *text, size_t size, size_t room, const favorite_edit *edit);

/* ---- render thread (servers_list.cpp, servers_worker.cpp) ---- */

/* Copies the published list when there is one; its generation (low 32 bits,
 * 0 = nothing published yet). */
uint32_t servers_snapshot(server_list_snapshot *out);
/* The publish generation, read without the lock. */
uint64_t servers_generation();
/* Queue an edit for the worker; false when the host is not a valid host
 * (or an add has port 0) or 8 edits already wait. */
bool servers_add_favorite(const char *host, uint16_t port);
bool servers_remove_favorite(const char *host, uint16_t port);
bool servers_queue_favorite_edit(uint8_t op, const char *host, uint16_t port);
/* Fetch again (when refetch) and query again. */
void servers_request_refresh(bool refetch);
/* The Servers window is drawn: stores now, returns the previous time. */
uint64_t servers_touch();

/* ---- game thread (servers_worker.cpp) ---- */

void servers_start(const dm_host_api *api);
/* Stops the worker without waiting out a blocked one; false when it is
 * still running (it keeps the core mapped until it ends). */
bool servers_stop();

/* ---- worker thread (servers_list.cpp) ---- */

void servers_set_base_dir(const char *base_dir);
void servers_fetch_list();
void servers_merge();
void servers_publish();
server_list_snapshot *servers_working();
void servers_favorites_load();
/* Takes the request flags (OR-ed into *fetch and *query) and the pending
 * edits; the number of edits taken. */
int servers_take_requests(favorite_edit edits[SERVERS_EDITS_MAX], uint8_t *fetch, uint8_t *query);
/* Applies the edits in order and rewrites favorites.txt. */
void servers_favorites_edit(const favorite_edit *edits, int count);
/* ---- shared by the two Windows files (servers_worker.cpp) ---- */

bool servers_stopping();
void servers_wake();
/* The worker's HTTP cancel slot, which the stop cancels. */
struct http_cancel *servers_http();
/* A log line from the worker; nothing once it is stopping. */
void servers_log(const char *fmt, ...) __attribute__((format(gnu_printf, 1, 2)));
