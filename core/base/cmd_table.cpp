#include "cmd_table.h"
#include <string.h>

// Order matters: the first match wins.
const cmd_row cmd_rows[] = {
    { "ping", CMD_EXACT, CMD_PING },
    { "pos", CMD_EXACT, CMD_POS },
    { "build", CMD_EXACT, CMD_BUILD },
    { "update", CMD_WORD, CMD_UPDATE },
    { "threads", CMD_EXACT, CMD_THREADS },
    { "local", CMD_EXACT, CMD_LOCAL },
    { "spawn", CMD_WORD_DEFAULT, CMD_SPAWN },
    { "despawn", CMD_EXACT, CMD_DESPAWN },
    { "trailer", CMD_EXACT, CMD_TRAILER },
    { "trailer off", CMD_EXACT, CMD_TRAILER_OFF },
    { "info", CMD_EXACT, CMD_INFO },
    { "config reload", CMD_EXACT, CMD_CONFIG_RELOAD },
    { "config refresh", CMD_EXACT, CMD_CONFIG_REFRESH },
    { "config", CMD_EXACT, CMD_CONFIG },
    { "cargodump", CMD_EXACT, CMD_CARGODUMP },
    { "peek ", CMD_PREFIX, CMD_PEEK },
    { "traffic", CMD_WORD, CMD_TRAFFIC },
    { "rvspawn", CMD_WORD, CMD_RVSPAWN },
    { "rvdespawn", CMD_WORD, CMD_RVDESPAWN },
    { "rvinfo", CMD_EXACT, CMD_RVINFO },
    { "rvvel", CMD_PREFIX, CMD_RVVEL },
    { "remote", CMD_WORD, CMD_REMOTE },
    { "rvmove", CMD_PREFIX, CMD_RVMOVE },
    { "rvstep", CMD_PREFIX, CMD_RVSTEP },
    { "rvclock", CMD_PREFIX, CMD_RVCLOCK },
    { "weather", CMD_WORD, CMD_WEATHER },
    { "roadevents", CMD_WORD, CMD_ROADEVENTS },
    { "clock", CMD_WORD, CMD_CLOCK },
    { "memrec ", CMD_PREFIX, CMD_MEMREC },
    { "model", CMD_WORD, CMD_MODEL },
    { "gps", CMD_WORD, CMD_GPS },
    { "cam", CMD_WORD, CMD_CAM },
    { "nametags", CMD_WORD, CMD_NAMETAGS },
    { "job", CMD_WORD, CMD_JOB },
    { "damage", CMD_EXACT, CMD_DAMAGE },
    { "repair", CMD_WORD, CMD_REPAIR },
    { "watch on", CMD_EXACT, CMD_WATCH_ON },
    { "watch off", CMD_EXACT, CMD_WATCH_OFF },
    { "cmp", CMD_EXACT, CMD_CMP },
    { "flags ", CMD_PREFIX, CMD_FLAGS },
    { "flags off", CMD_EXACT, CMD_FLAGS_OFF },
    { "wheeldbg", CMD_EXACT, CMD_WHEELDBG },
    { "steer flip", CMD_EXACT, CMD_STEER_FLIP },
    { "move", CMD_WORD_DEFAULT, CMD_MOVE },
    { "hook on", CMD_EXACT, CMD_HOOK_ON },
    { "hook off", CMD_EXACT, CMD_HOOK_OFF },
    { "shadow on", CMD_EXACT, CMD_SHADOW_ON },
    { "shadow off", CMD_EXACT, CMD_SHADOW_OFF },
    { "defdump", CMD_WORD_DEFAULT, CMD_DEFDUMP },
    { "spawnlist ", CMD_PREFIX, CMD_SPAWNLIST },
    { "spawnmode clone", CMD_EXACT, CMD_SPAWNMODE_CLONE },
    { "spawnmode share", CMD_EXACT, CMD_SPAWNMODE_SHARE },
    { "collide on", CMD_EXACT, CMD_COLLIDE_ON },
    { "net collide on", CMD_EXACT, CMD_COLLIDE_ON },
    { "collide off", CMD_EXACT, CMD_COLLIDE_OFF },
    { "net collide off", CMD_EXACT, CMD_COLLIDE_OFF },
    { "tick on", CMD_EXACT, CMD_TICK_ON },
    { "tick off", CMD_EXACT, CMD_TICK_OFF },
    { "net", CMD_WORD_DEFAULT, CMD_NET },
};
const int cmd_row_count = (int)(sizeof cmd_rows / sizeof cmd_rows[0]);

static bool row_matches(const cmd_row &row, const char *line, const char **rest)
{
    size_t n = strlen(row.word);
    if (strncmp(line, row.word, n) != 0)
        return false;
    const char *after = line + n;
    switch (row.kind) {
    case CMD_EXACT:
        if (*after)
            return false;
        *rest = after;
        return true;
    case CMD_WORD:
        if (*after && *after != ' ')
            return false;
        *rest = after;
        return true;
    case CMD_WORD_DEFAULT:
        if (!*after) {
            *rest = nullptr;
            return true;
        }
        if (*after != ' ')
            return false;
        *rest = after + 1;
        return true;
    case CMD_PREFIX:
        *rest = after;
        return true;
    }
    return false;
}

cmd_id cmd_match(const char *line, bool vehicle_spawned, const char **rest)
{
    for (int i = 0; i < cmd_row_count; i++) {
        const cmd_row &row = cmd_rows[i];
        if (row.id == CMD_FLAGS && (!vehicle_spawned || strcmp(line, "flags off") == 0))
            continue;
        const char *r = nullptr;
        if (row_matches(row, line, &r)) {
            *rest = r;
            return row.id;
        }
    }
    *rest = nullptr;
    return CMD_NONE;
}

const char *cmd_word(cmd_id id)
{
    for (int i = 0; i < cmd_row_count; i++)
        if (cmd_rows[i].id == id)
            return cmd_rows[i].word;
    return "";
}

bool cmd_gate_passes(const char *line)
{
    return strcmp(line, "ping") == 0 || strcmp(line, "pos") == 0 || strcmp(line, "build") == 0 ||
           strcmp(line, "threads") == 0 || strncmp(line, "net", 3) == 0 ||
           strncmp(line, "config", 6) == 0 || strncmp(line, "update", 6) == 0;
}
