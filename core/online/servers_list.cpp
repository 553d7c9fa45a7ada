// The server list's data on the worker side: fetching servers.json from a
// file or over HTTP (with the saved copy servers_cache.json when the list
// server fails), favorites.txt and the queue of favourite edits, the merge
// of both into the working list, and publishing it to the UI.
//
// Index of this file:
// [SECTION] State
// [SECTION] Files
// [SECTION] HTTP GET of the list
// [SECTION] Fetch
// [SECTION] Favourites
// [SECTION] Edit queue and requests (render thread)
// [SECTION] Merge
// [SECTION] Snapshot and publish
#include <windows.h>
#include <winhttp.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "base/core.h"
#include "base/core_config.h"
#include "dm_file.h"
#include "online/http_get.h"
#include "online/servers.h"

//-----------------------------------------------------------------------------
// [SECTION] State
//-----------------------------------------------------------------------------

namespace {

const size_t SERVERS_FILE_MAX = 1048576;
// The list's GET: name resolution, connect and send 5 s each, every receive
// 8 s, at most 262,144 bytes.
const http_limits SERVERS_HTTP = { L"drovemark/1", 5000, 5000, 5000, 8000, 262144, 0 };

// Worker thread only.
server_list_snapshot working;
server_entry fetched[SERVERS_MAX];
int fetched_count;
favorite_server favorites[SERVERS_MAX];
int favorite_count;
char base_dir[DM_PATH_MAX];

// The published copy, under the list lock.
SRWLOCK list_lock = SRWLOCK_INIT;
server_list_snapshot published;
volatile uint64_t generation;

// Edits and requests from the render thread, under the edits lock.
SRWLOCK edits_lock = SRWLOCK_INIT;
favorite_edit pending_edits[SERVERS_EDITS_MAX];
int pending_count;
uint8_t fetch_request, query_request;

bool list_path(char *out, size_t size, const char *name)
{
    int n = snprintf(out, size, "%s%s", base_dir, name);
    return n >= 0 && (size_t)n < size;
}

bool same_server(const char *host_a, uint16_t port_a, const char *host_b, uint16_t port_b)
{
    return port_a == port_b && _stricmp(host_a, host_b) == 0;
}

//-----------------------------------------------------------------------------
// [SECTION] Files
//-----------------------------------------------------------------------------

enum read_result {
    READ_TEXT,
    READ_MISSING,    /* no such file */
    READ_TOO_BIG,    /* more than the cap */
    READ_UNREADABLE, /* there, but it cannot be opened (the error kept) */
    READ_NO_MEMORY,
};

// The whole file (or pipe) when it holds at most cap bytes. *out is freed
// by the caller; *error is the system's error of an unreadable file.
read_result read_whole(const char *path, size_t cap, char **out, size_t *length, DWORD *error)
{
    *out = nullptr;
    *length = 0;
    *error = 0;
    HANDLE h = dm_file_create(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return *error == ERROR_FILE_NOT_FOUND || *error == ERROR_PATH_NOT_FOUND ? READ_MISSING : READ_UNREADABLE;
    }
    size_t size = 0, room = 0;
    char *buf = nullptr;
    read_result result = READ_TEXT;
    for (;;) {
        if (size == room) {
            if (room > cap) { // one byte past the cap has been read: too big
                result = READ_TOO_BIG;
                break;
            }
            size_t want = room ? room * 2 : 16384;
            if (want > cap + 1)
                want = cap + 1;
            char *grown = (char *)realloc(buf, want);
            if (!grown) {
                result = READ_NO_MEMORY;
                break;
            }
            buf = grown;
            room = want;
        }
        DWORD got = 0;
        DWORD ask = (DWORD)(room - size);
        if (!ReadFile(h, buf + size, ask, &got, nullptr) || got == 0)
            break; // end of file, or a pipe whose writer closed it
        size += got;
    }
    CloseHandle(h);
    if (result != READ_TEXT) {
        free(buf);
        return result;
    }
    *out = buf;
    *length = size;
    return READ_TEXT;
}

// Writes the bytes beside the file and renames them over it, so that a
// failed write never leaves a half file behind.
bool write_replacing(const char *path, const char *data, size_t length)
{
    char tmp[DM_PATH_MAX + 8];
    int n = snprintf(tmp, sizeof tmp, "%s.new", path);
    if (n < 0 || (size_t)n >= sizeof tmp)
        return false;
    FILE *f = dm_file_open(tmp, "wb");
    if (!f)
        return false;
    bool ok = fwrite(data, 1, length, f) == length;
    ok = fclose(f) == 0 && ok;
    if (ok && dm_file_move(tmp, path, MOVEFILE_REPLACE_EXISTING))
        return true;
    dm_file_delete(tmp);
    return false;
}

// What keeps a file from being read, for a log line.
struct read_problem_text {
    char text[32];
};
read_problem_text read_problem(read_result r, DWORD error)
{
    read_problem_text out;
    if (r == READ_TOO_BIG)
        snprintf(out.text, sizeof out.text, "larger than 1 MB");
    else if (r == READ_NO_MEMORY)
        snprintf(out.text, sizeof out.text, "out of memory");
    else
        snprintf(out.text, sizeof out.text, "error %lu", (unsigned long)error);
    return out;
}

//-----------------------------------------------------------------------------
// [SECTION] HTTP GET of the list
//-----------------------------------------------------------------------------

void error_text(char *err, const char *fmt, ...) __attribute__((format(gnu_printf, 2, 3)));
void error_text(char *err, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(err, SERVERS_ERROR_MAX, fmt, ap);
    va_end(ap);
}

// The body of a GET into *out (malloc'ed, freed by the caller); false with
// the reason in err (SERVERS_ERROR_MAX bytes) otherwise.
bool servers_http_get(const char *url, char **out, size_t *length, char *err)
{
    http_reply reply;
    http_result r = http_get(url, &SERVERS_HTTP, servers_http(), &reply);
    *out = reply.body;
    *length = reply.size;
    switch (r) {
    case HTTP_OK:
        return true;
    case HTTP_URL_TOO_LONG:
    case HTTP_BAD_URL:
        error_text(err, "bad URL");
        break;
    case HTTP_NO_WINHTTP:
        error_text(err, "WinHTTP unavailable (%lu)", reply.error);
        break;
    case HTTP_CANCELLED:
    case HTTP_UNREACHABLE:
        error_text(err, "can't reach the list server (error %lu)", reply.error);
        break;
    case HTTP_STATUS:
        error_text(err, "the list server answered HTTP %lu", reply.status);
        break;
    case HTTP_TOO_BIG:
        error_text(err, "list is too big");
        break;
    case HTTP_CUT: // a connection closed before the announced length, not a shorter list
    case HTTP_READ_FAILED:
    case HTTP_TOO_SLOW:
        error_text(err, "download failed (%lu)", reply.error);
        break;
    }
    return false;
}

//-----------------------------------------------------------------------------
// [SECTION] Fetch
//-----------------------------------------------------------------------------

bool is_http_source(const char *s) { return _strnicmp(s, "http://", 7) == 0 || _strnicmp(s, "https://", 8) == 0; }

void set_status(const char *fmt, ...) __attribute__((format(gnu_printf, 1, 2)));
void set_status(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(working.status, sizeof working.status, fmt, ap);
    va_end(ap);
}

// Parses into the fetched list; false (the list untouched) when malformed.
bool take_text(const char *text, size_t length)
{
    static server_entry parsed[SERVERS_MAX];
    int n = servers_parse_json(text, length, parsed, SERVERS_MAX);
    if (n < 0)
        return false;
    memcpy(fetched, parsed, sizeof(server_entry) * (size_t)n);
    fetched_count = n;
    return true;
}

} // namespace

void servers_set_base_dir(const char *dir) { snprintf(base_dir, sizeof base_dir, "%s", dir ? dir : ""); }

server_list_snapshot *servers_working() { return &working; }

void servers_fetch_list()
{
    working.state = SERVER_LIST_LOADING;
    working.busy = 1;
    servers_publish();

    char source[512] = "";
    if (!config_get("server_list", source, sizeof source))
        source[0] = 0;
    bool configured = source[0] != 0;
    if (!configured && !list_path(source, sizeof source, "servers.json"))
        source[0] = 0;
    bool http = is_http_source(source);
    char err[SERVERS_ERROR_MAX] = "";
    char *text = nullptr;
    size_t length = 0;
    bool have_text = false, failed = false;
    if (http) {
        have_text = servers_http_get(source, &text, &length, err);
    } else {
        // A file that gives no text says what is wrong with it; only with
        // no server_list set and no servers.json is there simply no list.
        DWORD error = 0;
        read_result r = read_whole(source, SERVERS_FILE_MAX, &text, &length, &error);
        have_text = r == READ_TEXT;
        failed = !have_text && r != READ_MISSING;
        if (r == READ_NO_MEMORY)
            error_text(err, "out of memory reading the server list");
        else if (r == READ_TOO_BIG)
            error_text(err, "the server list %s is larger than 1 MB", source);
        else if (r == READ_UNREADABLE)
            error_text(err, "can't read the server list %s (error %lu)", source, (unsigned long)error);
        else if (r == READ_MISSING && configured)
            error_text(err, "no file %s (server_list in config.ini)", source);
        else if (r == READ_MISSING)
            error_text(err, "no server list (set server_list in config.ini)");
    }
    if (servers_stopping()) { // a fetch the stop cut short is dropped: nothing written or logged
        free(text);
        return;
    }
    if (have_text) {
        if (take_text(text, length)) {
            working.state = SERVER_LIST_LOADED;
            set_status("%d server%s from %s", fetched_count, fetched_count == 1 ? "" : "s", source);
            char cache[DM_PATH_MAX];
            if (http && list_path(cache, sizeof cache, "servers_cache.json"))
                write_replacing(cache, text, length);
            free(text);
            servers_log("[core] servers: %s", working.status);
            return;
        }
        failed = true;
        error_text(err, "the server list isn't valid JSON");
    }
    free(text);
    text = nullptr;
    char cache[DM_PATH_MAX];
    DWORD cache_error;
    if (http && list_path(cache, sizeof cache, "servers_cache.json") &&
        read_whole(cache, SERVERS_FILE_MAX, &text, &length, &cache_error) == READ_TEXT && take_text(text, length)) {
        working.state = SERVER_LIST_SAVED_COPY;
        set_status("Showing the saved list: %s", err);
    } else {
        fetched_count = 0;
        working.state = http || failed ? SERVER_LIST_FAILED : SERVER_LIST_NONE;
        set_status("%s", err);
    }
    free(text);
    servers_log("[core] servers: %s", working.status);
}

//-----------------------------------------------------------------------------
// [SECTION] Favourites
//-----------------------------------------------------------------------------

namespace {

// The favourites read from the text: the first 48 it holds.
void favorites_take(const char *text, size_t length)
{
    favorite_count = servers_favorites_parse(text, length, favorites, SERVERS_MAX);
}

} // namespace

void servers_favorites_load()
{
    favorite_count = 0;
    char path[DM_PATH_MAX];
    char *text = nullptr;
    size_t length = 0;
    DWORD error = 0;
    if (!list_path(path, sizeof path, "favorites.txt"))
        return;
    read_result r = read_whole(path, SERVERS_FILE_MAX, &text, &length, &error);
    if (r == READ_TEXT)
        favorites_take(text, length);
    else if (r != READ_MISSING)
        servers_log("[core] servers: can't read favorites.txt (%s); no favourites", read_problem(r, error).text);
    free(text);
}

// The edits are made to the file's text as it is now, so that each changes
// only the line of the favourite it edits and the rest of the file stays as
// the player wrote it; the favourites are then those of the new text. A
// file that is there but cannot be read is never replaced: the edits then
// change the list in memory only.
void servers_favorites_edit(const favorite_edit *edits, int count)
{
    char path[DM_PATH_MAX];
    char *text = nullptr;
    size_t length = 0;
    DWORD error = 0;
    read_result r = list_path(path, sizeof path, "favorites.txt")
                        ? read_whole(path, SERVERS_FILE_MAX, &text, &length, &error)
                        : READ_UNREADABLE;
    bool from_file = r == READ_TEXT || r == READ_MISSING;
    if (!from_file) {
        free(text);
        text = nullptr;
        length = 0;
        servers_log("[core] servers: can't read favorites.txt (%s); favourite edits are not saved",
                    read_problem(r, error).text);
    }
    size_t room = (from_file ? length : (size_t)favorite_count * (SERVERS_HOST_MAX + 8)) +
                  (size_t)count * SERVERS_FAVORITE_EDIT_ROOM;
    char *edited = (char *)realloc(text, room ? room : 1);
    if (!edited) {
        free(text);
        servers_log("[core] servers: out of memory editing favorites.txt");
        return;
    }
    if (!from_file) // the list in memory as a text of its own
        for (int i = 0; i < favorite_count; i++)
            length += (size_t)snprintf(edited + length, room - length, "%s %u\n", favorites[i].host,
                                       (unsigned)favorites[i].port);
    size_t before = length;
    for (int k = 0; k < count; k++)
        length = servers_favorites_apply(edited, length, room, &edits[k]);
    favorites_take(edited, length);
    if (from_file && length != before && !write_replacing(path, edited, length))
        servers_log("[core] servers: can't write favorites.txt");
    free(edited);
}

//-----------------------------------------------------------------------------
// [SECTION] Edit queue and requests (render thread)
//-----------------------------------------------------------------------------

bool servers_queue_favorite_edit(uint8_t op, const char *host, uint16_t port)
{
    // Only hosts that may go into favorites.txt and console lines.
    bool valid = host && servers_host_ok(host) && (op == FAVORITE_REMOVE || (op == FAVORITE_ADD && port != 0));
    bool queued = false;
    if (valid) {
        AcquireSRWLockExclusive(&edits_lock);
        if (pending_count < SERVERS_EDITS_MAX) {
            favorite_edit &e = pending_edits[pending_count++];
            e.op = op;
            snprintf(e.host, sizeof e.host, "%s", host);
            e.port = port;
            queued = true;
        }
        ReleaseSRWLockExclusive(&edits_lock);
    }
    servers_wake();
    return queued;
}

bool servers_add_favorite(const char *host, uint16_t port) { return servers_queue_favorite_edit(FAVORITE_ADD, host, port); }

bool servers_remove_favorite(const char *host, uint16_t port)
{
    return servers_queue_favorite_edit(FAVORITE_REMOVE, host, port);
}

void servers_request_refresh(bool refetch)
{
    AcquireSRWLockExclusive(&edits_lock);
    fetch_request |= refetch ? 1 : 0;
    query_request = 1;
    ReleaseSRWLockExclusive(&edits_lock);
    servers_wake();
}

int servers_take_requests(favorite_edit edits[SERVERS_EDITS_MAX], uint8_t *fetch, uint8_t *query)
{
    AcquireSRWLockExclusive(&edits_lock);
    *fetch |= fetch_request;
    *query |= query_request;
    fetch_request = query_request = 0;
    int n = pending_count;
    memcpy(edits, pending_edits, sizeof(favorite_edit) * (size_t)n);
    pending_count = 0;
    ReleaseSRWLockExclusive(&edits_lock);
    return n;
}

//-----------------------------------------------------------------------------
// [SECTION] Merge
//-----------------------------------------------------------------------------

void servers_merge()
{
    static server_entry old[SERVERS_MAX], list[SERVERS_MAX];
    int old_count = working.count;
    memcpy(old, working.entries, sizeof(server_entry) * (size_t)old_count);
    int n = 0;
    for (int i = 0; i < fetched_count && n < SERVERS_MAX; i++) {
        bool taken = false;
        for (int k = 0; k < n && !taken; k++)
            taken = same_server(list[k].host, list[k].port, fetched[i].host, fetched[i].port);
        if (taken)
            continue;
        list[n] = fetched[i];
        list[n].listed = 1;
        list[n].favourite = 0;
        n++;
    }
    for (int f = 0; f < favorite_count; f++) {
        int k = 0;
        while (k < n && !same_server(list[k].host, list[k].port, favorites[f].host, favorites[f].port))
            k++;
        if (k < n) {
            list[k].favourite = 1;
        } else if (n < SERVERS_MAX) {
            memset(&list[n], 0, sizeof list[n]);
            snprintf(list[n].host, sizeof list[n].host, "%s", favorites[f].host);
            list[n].port = favorites[f].port;
            list[n].favourite = 1;
            n++;
        }
    }
    for (int i = 0; i < n; i++) {
        server_entry &e = list[i];
        e.query_state = SERVER_CHECKING;
        e.players = e.max_players = 0;
        e.protocol = 0;
        e.ping = 0;
        e.reported_name[0] = 0;
        for (int k = old_count - 1; k >= 0; k--)
            if (same_server(old[k].host, old[k].port, e.host, e.port)) {
                e.query_state = old[k].query_state;
                e.players = old[k].players;
                e.max_players = old[k].max_players;
                e.protocol = old[k].protocol;
                e.ping = old[k].ping;
                memcpy(e.reported_name, old[k].reported_name, sizeof e.reported_name);
                break;
            }
    }
    memcpy(working.entries, list, sizeof(server_entry) * (size_t)n);
    working.count = n;
    servers_publish();
}

//-----------------------------------------------------------------------------
// [SECTION] Snapshot and publish
//-----------------------------------------------------------------------------

void servers_publish()
{
    AcquireSRWLockExclusive(&list_lock);
    published = working;
    generation = generation + 1;
    ReleaseSRWLockExclusive(&list_lock);
}

uint32_t servers_snapshot(server_list_snapshot *out)
{
    AcquireSRWLockShared(&list_lock);
    uint64_t g = generation;
    if (g)
        *out = published;
    ReleaseSRWLockShared(&list_lock);
    return (uint32_t)g;
}

uint64_t servers_generation() { return generation; }
