/* The texts props read: the "model" command's sub-command words and
 * arguments, and the lines of the model catalog (models.txt). Pure: no
 * game memory, no windows.h. props_text.cpp. */
#pragma once
#include <stddef.h>
#include <stdint.h>

typedef enum props_sub {
    PROPS_SPAWN, PROPS_LIST, PROPS_DESPAWN_ALL, PROPS_DESPAWN, PROPS_NUDGE, PROPS_SEARCH, PROPS_MOVE, PROPS_ROT,
    PROPS_HERE, PROPS_RAY, PROPS_SNAP, PROPS_LEVEL, PROPS_BOUNDS, PROPS_ATTACH, PROPS_DETACH, PROPS_LIGHT,
    PROPS_HOOKUPS, PROPS_EXISTS, PROPS_COLLIDE_ON, PROPS_COLLIDE_OFF, PROPS_AUTOSNAP_ON, PROPS_AUTOSNAP_OFF,
    PROPS_RAYMASK, PROPS_SAVE, PROPS_LOAD, PROPS_LAYOUTS, PROPS_DELETE, PROPS_DRAW_ON, PROPS_DRAW_OFF, PROPS_UNKNOWN
} props_sub;

/* The sub-command of the text behind "model" (leading blanks skipped), in
 * the family's order; *rest is the text behind its word and blank (the
 * whole text for PROPS_UNKNOWN). */
props_sub props_match(const char *text, const char **rest);

/* model spawn <name> [ahead] [right] [look] [variant]: false without a name. */
typedef struct props_spawn_args {
    char name[161];
    float ahead, right;
    char look[16], variant[16];
} props_spawn_args;
bool props_parse_spawn(const char *rest, props_spawn_args *out);

/* model attach <id|last> <part>[@player] [ahead right up [yaw]] */
typedef struct props_attach_args {
    char id[16], part[16];
    uint16_t player;        /* behind '@'; 0 when none */
    int fields;             /* fields read, 0..6 */
    float ahead, right, up, yaw;
    bool roof;              /* the part word was "roof" */
    uint8_t part_value;     /* 1 truck, 2 cabin (and roof), 3 trailer; 0 unknown */
} props_attach_args;
/* False with fewer than two fields, or a player behind '@' that is not a
 * decimal number in 1..65535. */
bool props_parse_attach(const char *rest, props_attach_args *out);

/* models.txt: one line (without its line end or with it) cut into token,
 * name, spare and path; false for fewer than four tab-separated fields.
 * The path ends at the first tab, CR or LF; a fifth field is ignored. */
#define PROPS_CATALOG_LINE_MAX 1024
typedef struct props_catalog_fields {
    const char *field[4];
    size_t length[4];
} props_catalog_fields;
bool props_catalog_line(const char *line, props_catalog_fields *out);
/* Whether an entry matches the query: every blank-separated word is a
 * substring (case ignored) of the token, the name or the path; a query
 * without words matches nothing. */
bool props_catalog_matches(const char *query, const char *token, const char *name, const char *path);
bool props_same_nocase(const char *a, const char *b);
