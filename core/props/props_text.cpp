// The texts props read (props_text.h).
//
// Index of this file:
//   sub-commands   the "model" family's words in their order
//   arguments      spawn and attach
//   catalog        models.txt lines and the search match
#include "props/props_text.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* ---- sub-commands ---- */

namespace {

struct sub_word {
    const char *word;
    bool exact;
    props_sub sub;
};
const sub_word sub_words[] = {
    { "spawn ", false, PROPS_SPAWN },         { "list", true, PROPS_LIST },
    { "despawn all", true, PROPS_DESPAWN_ALL }, { "despawn ", false, PROPS_DESPAWN },
    { "nudge ", false, PROPS_NUDGE },         { "search ", false, PROPS_SEARCH },
    { "move ", false, PROPS_MOVE },           { "rot ", false, PROPS_ROT },
    { "here ", false, PROPS_HERE },           { "ray", false, PROPS_RAY },
    { "snap ", false, PROPS_SNAP },           { "level ", false, PROPS_LEVEL },
    { "bounds ", false, PROPS_BOUNDS },       { "attach ", false, PROPS_ATTACH },
    { "detach ", false, PROPS_DETACH },       { "light ", false, PROPS_LIGHT },
    { "hookups ", false, PROPS_HOOKUPS },     { "exists ", false, PROPS_EXISTS },
    { "collide on", true, PROPS_COLLIDE_ON }, { "collide off", true, PROPS_COLLIDE_OFF },
    { "autosnap on", true, PROPS_AUTOSNAP_ON }, { "autosnap off", true, PROPS_AUTOSNAP_OFF },
    { "raymask ", false, PROPS_RAYMASK },     { "save ", false, PROPS_SAVE },
    { "load ", false, PROPS_LOAD },           { "layouts", true, PROPS_LAYOUTS },
    { "delete ", false, PROPS_DELETE },       { "draw on", true, PROPS_DRAW_ON },
    { "draw off", true, PROPS_DRAW_OFF },
};

} // namespace

props_sub props_match(const char *text, const char **rest)
{
    while (*text == ' ' || *text == '\t')
        text++;
    *rest = text;
    if (!*text)
        return PROPS_LIST;
    for (const sub_word &w : sub_words) {
        size_t n = strlen(w.word);
        if (w.sub == PROPS_RAY) {
            // "ray" alone or followed by a blank
            if (strncmp(text, "ray", 3) == 0 && (text[3] == 0 || text[3] == ' ')) {
                *rest = text[3] ? text + 4 : text + 3;
                return PROPS_RAY;
            }
            continue;
        }
        if (w.exact ? strcmp(text, w.word) == 0 : strncmp(text, w.word, n) == 0) {
            *rest = text + n;
            return w.sub;
        }
    }
    return PROPS_UNKNOWN;
}

/* ---- arguments ---- */

bool props_parse_spawn(const char *rest, props_spawn_args *out)
{
    memset(out, 0, sizeof *out);
    out->ahead = 10.0f;
    snprintf(out->look, sizeof out->look, "default");
    snprintf(out->variant, sizeof out->variant, "default");
    return sscanf(rest, "%160s %f %f %15s %15s", out->name, &out->ahead, &out->right, out->look, out->variant) >= 1;
}

bool props_parse_attach(const char *rest, props_attach_args *out)
{
    memset(out, 0, sizeof *out);
    out->fields = sscanf(rest, "%15s %15s %f %f %f %f", out->id, out->part, &out->ahead, &out->right, &out->up,
                         &out->yaw);
    if (out->fields < 2)
        return false;
    if (char *at = strchr(out->part, '@')) {
        // The player is 1 to 5 decimal digits naming 1..65535; anything else
        // would quietly mean our own truck.
        const char *digits = at + 1;
        size_t n = strspn(digits, "0123456789");
        if (n == 0 || n > 5 || digits[n] != 0)
            return false;
        unsigned long id = strtoul(digits, nullptr, 10);
        if (id < 1 || id > 0xFFFF)
            return false;
        *at = 0;
        out->player = (uint16_t)id;
    }
    if (props_same_nocase(out->part, "roof")) {
        out->roof = true;
        out->part_value = 2;
    } else if (props_same_nocase(out->part, "truck")) {
        out->part_value = 1;
    } else if (props_same_nocase(out->part, "cabin")) {
        out->part_value = 2;
    } else if (props_same_nocase(out->part, "trailer")) {
        out->part_value = 3;
    }
    return true;
}

/* ---- catalog ---- */

bool props_catalog_line(const char *line, props_catalog_fields *out)
{
    const char *p = line;
    for (int i = 0; i < 4; i++) {
        const char *end = i < 3 ? strchr(p, '\t') : p + strcspn(p, "\t\r\n");
        if (!end)
            return false;
        out->field[i] = p;
        out->length[i] = (size_t)(end - p);
        p = end + 1;
    }
    return true;
}

bool props_same_nocase(const char *a, const char *b)
{
    for (; *a && *b; a++, b++) {
        char x = *a, y = *b;
        if (x >= 'A' && x <= 'Z')
            x = (char)(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = (char)(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return *a == *b;
}

static bool contains_nocase(const char *text, const char *word, size_t n)
{
    size_t len = strlen(text);
    for (size_t i = 0; i + n <= len; i++) {
        size_t k = 0;
        for (; k < n; k++) {
            char x = text[i + k], y = word[k];
            if (x >= 'A' && x <= 'Z')
                x = (char)(x - 'A' + 'a');
            if (y >= 'A' && y <= 'Z')
                y = (char)(y - 'A' + 'a');
            if (x != y)
                break;
        }
        if (k == n)
            return true;
    }
    return false;
}

bool props_catalog_matches(const char *query, const char *token, const char *name, const char *path)
{
    bool any = false;
    const char *p = query;
    while (*p) {
        while (*p == ' ')
            p++;
        if (!*p)
            break;
        size_t n = strcspn(p, " ");
        any = true;
        if (!contains_nocase(token, p, n) && !contains_nocase(name, p, n) && !contains_nocase(path, p, n))
            return false;
        p += n;
    }
    return any;
}
