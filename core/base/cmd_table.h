/* How a console line is matched against a table of command rows, each row
 * holding its word, how the word is matched, whether it runs on a game
 * build other than the supported one, and its handler. Pure logic: the
 * console's own rows, which name every floor's handlers, are in
 * core/runtime/dispatcher.cpp. */
#pragma once

struct dm_frame_info;

enum cmd_kind {
    CMD_EXACT,        /* the whole line equals the word; rest "" */
    CMD_WORD,         /* the word, then a blank or the end; rest from the blank on */
    CMD_WORD_DEFAULT, /* the word, then the end (rest null: the default) or a blank (rest after it) */
    CMD_PREFIX,       /* the line begins with the word; rest after it */
    CMD_PREFIX_SPAWNED, /* as CMD_PREFIX, only while the spawned vehicle is in state 2 */
};

/* What a handler is given: the whole line, the rest its row's kind leaves
 * (see cmd_kind) and the frame the line runs in. */
typedef struct cmd_call {
    const char *line;
    const char *rest;
    const dm_frame_info *info;
} cmd_call;
typedef void (*cmd_handler)(const cmd_call &call);

typedef struct cmd_row {
    const char *word;
    cmd_kind kind;
    bool other_builds; /* runs on a game build other than the supported one */
    cmd_handler handler;
} cmd_row;

/* The first of the rows that matches the line (null when none does), with
 * the rest its handler gets (null when none matches). vehicle_spawned: the
 * spawned vehicle is in state 2 (CMD_PREFIX_SPAWNED rows need it). */
const cmd_row *cmd_match(const cmd_row *rows, int count, const char *line, bool vehicle_spawned, const char **rest);
