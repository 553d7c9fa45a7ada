/* Plain data of the core's UI shared by its pure logic and its drawing:
 * the status snapshot, the settings, the command queue and the toast ring.
 * No windows.h here. */
#pragma once
#include <stdint.h>

#define DM_UI_MAX_PLAYERS 32
#define DM_UI_NAME_MAX 33
#define DM_UI_QUEUE_SLOTS 16
#define DM_UI_LINE_MAX 256
#define DM_UI_TOASTS 5
#define DM_UI_TOAST_TEXT 120
#define DM_UI_CALLBACKS 32

/* Built by the game thread at most every 0.1 s; read by the render thread. */
typedef struct ui_status {
    uint8_t net_active;
    uint16_t own_id;
    char status[192];
    int32_t player_count;
    uint16_t ids[DM_UI_MAX_PLAYERS];
    char names[DM_UI_MAX_PLAYERS][DM_UI_NAME_MAX];
    float fps;
    uint8_t has_server;
    char host[64];
    uint16_t port;
    char name[DM_UI_NAME_MAX];
    uint64_t tick; /* system tick count (ms) when built */
} ui_status;

/* The UI's settings from config.ini. */
typedef struct ui_settings {
    char player_name[DM_UI_NAME_MAX];
    uint8_t autoconnect;
    uint8_t toasts_on;
    uint8_t status_line_on;
    float ui_size; /* 0.6 .. 2.0 */
    char server_list[256];
} ui_settings;

/* Console lines queued by the render thread for the game thread (FIFO). */
typedef struct ui_command_ring {
    char lines[DM_UI_QUEUE_SLOTS][DM_UI_LINE_MAX];
    int32_t count;
} ui_command_ring;

typedef struct ui_toast {
    char text[DM_UI_TOAST_TEXT];
    uint32_t colour;  /* packed ImGui colour */
    const char *icon; /* UTF-8 glyph */
    double start;     /* ImGui time */
} ui_toast;

typedef struct ui_toast_ring {
    ui_toast items[DM_UI_TOASTS]; /* oldest first */
    int32_t count;
} ui_toast_ring;

/* What the toast watcher remembers of the previous snapshot. */
typedef struct ui_toast_watch {
    uint32_t generation;
    uint8_t seen;
    uint16_t own_id;
    int32_t player_count;
    uint16_t ids[DM_UI_MAX_PLAYERS];
    char names[DM_UI_MAX_PLAYERS][DM_UI_NAME_MAX];
} ui_toast_watch;
