// Matching a console line against a table of command rows (cmd_table.h).
#include "base/cmd_table.h"
#include <string.h>

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
    case CMD_PREFIX_SPAWNED:
        *rest = after;
        return true;
    }
    return false;
}

const cmd_row *cmd_match(const cmd_row *rows, int count, const char *line, bool vehicle_spawned, const char **rest)
{
    for (int i = 0; i < count; i++) {
        const cmd_row &row = rows[i];
        if (row.kind == CMD_PREFIX_SPAWNED && !vehicle_spawned)
            continue;
        const char *r = nullptr;
        if (row_matches(row, line, &r)) {
            *rest = r;
            return &row;
        }
    }
    *rest = nullptr;
    return nullptr;
}
