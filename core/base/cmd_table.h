/* The console's command words in their fixed order and how a line is matched
 * against them. Pure logic; dispatcher.cpp runs the rows. */
#pragma once

enum cmd_kind {
    CMD_EXACT,        /* the whole line equals the word; rest "" */
    CMD_WORD,         /* the word, then a blank or the end; rest from the blank on */
    CMD_WORD_DEFAULT, /* the word, then the end (rest null: the default) or a blank (rest after it) */
    CMD_PREFIX,       /* the line begins with the word; rest after it */
};

enum cmd_id {
    CMD_NONE = 0,
    CMD_PING, CMD_POS, CMD_BUILD, CMD_UPDATE, CMD_THREADS, CMD_LOCAL, CMD_SPAWN, CMD_DESPAWN,
    CMD_TRAILER, CMD_TRAILER_OFF, CMD_INFO, CMD_CONFIG_RELOAD, CMD_CONFIG_REFRESH, CMD_CONFIG,
    CMD_CARGODUMP, CMD_PEEK, CMD_TRAFFIC, CMD_RVSPAWN, CMD_RVDESPAWN, CMD_RVINFO, CMD_RVVEL,
    CMD_REMOTE, CMD_RVMOVE, CMD_RVSTEP, CMD_RVCLOCK, CMD_WEATHER, CMD_ROADEVENTS, CMD_CLOCK,
    CMD_MEMREC, CMD_MODEL, CMD_GPS, CMD_CAM, CMD_NAMETAGS, CMD_JOB, CMD_DAMAGE, CMD_REPAIR,
    CMD_WATCH_ON, CMD_WATCH_OFF, CMD_CMP, CMD_FLAGS, CMD_FLAGS_OFF, CMD_WHEELDBG, CMD_STEER_FLIP,
    CMD_MOVE, CMD_HOOK_ON, CMD_HOOK_OFF, CMD_SHADOW_ON, CMD_SHADOW_OFF, CMD_DEFDUMP, CMD_SPAWNLIST,
    CMD_SPAWNMODE_CLONE, CMD_SPAWNMODE_SHARE, CMD_COLLIDE_ON, CMD_COLLIDE_OFF, CMD_TICK_ON,
    CMD_TICK_OFF, CMD_NET,
};

typedef struct cmd_row {
    const char *word;
    cmd_kind kind;
    cmd_id id;
} cmd_row;

extern const cmd_row cmd_rows[];
extern const int cmd_row_count;

/* The first row that matches, CMD_NONE when none does. vehicle_spawned: the
 * spawned vehicle is in state 2 (the "flags " row needs it). */
cmd_id cmd_match(const char *line, bool vehicle_spawned, const char **rest);

/* The word of the first row of the id (as the table spells it, a prefix row
 * with its trailing blank); "" for CMD_NONE. */
const char *cmd_word(cmd_id id);

/* Whether a line passes on a game build other than the supported one. */
bool cmd_gate_passes(const char *line);
