// The vehicle commands' arguments and files (see vehicle_args.h).
//
// Index
//   numbers      spawn, move, flags, spawnlist
//   files        vcmd_path, vcmd_is_own_file
//   spawn list   spawnlist_read
#include "vehicles/vehicle_args.h"
#include <ctype.h>
#include <math.h>
#include <string.h>
#include "dm_config_line.h"
#include "dm_own_files.h"
#include "base/plain_text.h"

/* ---- numbers ---- */

namespace {

/* A decimal that stays finite as the f32 the game is given. */
bool parse_metres(const char **text, float *out)
{
    double v;
    if (!text_parse_f64(text, &v) || !isfinite((float)v))
        return false;
    *out = (float)v;
    return true;
}

} // namespace

bool vcmd_parse_spawn(const char *rest, float *metres)
{
    if (!rest) {
        *metres = VCMD_METRES_DEFAULT;
        return true;
    }
    const char *p = rest;
    float v;
    if (!parse_metres(&p, &v) || !text_at_end(p))
        return false;
    *metres = v;
    return true;
}

bool vcmd_parse_move(const char *rest, vcmd_move_args *out)
{
    memset(out, 0, sizeof *out);
    const char *p = rest ? rest : "";
    if (text_at_end(p))
        return true;
    if (!text_parse_word(&p, out->word, sizeof out->word))
        return false;
    double *values[2] = { &out->a, &out->b };
    while (out->given < 2 && !text_at_end(p)) {
        if (!text_parse_f64(&p, values[out->given]))
            return false;
        out->given++;
    }
    return text_at_end(p);
}

bool vcmd_parse_flags(const char *rest, uint32_t *word)
{
    const char *p = rest;
    uint32_t v;
    if (!text_parse_hex_u32(&p, &v) || !text_at_end(p))
        return false;
    *word = v;
    return true;
}

bool vcmd_parse_spawnlist(const char *rest, char *file, size_t size, float *metres)
{
    char name[VCMD_FILE_MAX + 1];
    const char *p = rest;
    if (!text_parse_word(&p, name, sizeof name) || strlen(name) >= size)
        return false;
    float v = VCMD_METRES_DEFAULT;
    if (!text_at_end(p) && !parse_metres(&p, &v))
        return false;
    if (!text_at_end(p))
        return false;
    memcpy(file, name, strlen(name) + 1);
    *metres = v;
    return true;
}

/* ---- files ---- */

bool vcmd_path(char *out, size_t size, const char *base_dir, const char *name)
{
    bool as_is = strchr(name, ':') || name[0] == '\\' || name[0] == '/';
    int n = snprintf(out, size, "%s%s", as_is ? "" : base_dir, name);
    return n >= 0 && (size_t)n < size && n <= VCMD_FILE_MAX;
}

bool vcmd_is_own_file(const char *full_path, const char *base_dir)
{
    const char *name = full_path;
    for (const char *c = full_path; *c; c++)
        if (*c == '\\' || *c == '/')
            name = c + 1;
    size_t dir = (size_t)(name - full_path), base = strlen(base_dir);
    // The base directory ends in a separator; so does the path's folder.
    if (dir != base)
        return false;
    for (size_t i = 0; i < dir; i++) {
        char a = full_path[i] == '/' ? '\\' : full_path[i];
        char b = base_dir[i] == '/' ? '\\' : base_dir[i];
        if (tolower((unsigned char)a) != tolower((unsigned char)b))
            return false;
    }
    return dm_own_file_name(name, strlen(name));
}

/* ---- spawn list ---- */

int spawnlist_read(FILE *f, char list[LOOK_LIST_MAX * LOOK_ENTRY_SIZE])
{
    char line[SPAWNLIST_LINE_MAX + 1];
    int count = 0;
    size_t used = 0;
    while (count < LOOK_LIST_MAX && fgets(line, sizeof line, f)) {
        // A line longer than the buffer: its rest is dropped here, so it
        // never comes back as a line of its own.
        if (!strchr(line, '\n')) {
            int c;
            while ((c = fgetc(f)) != EOF && c != '\n') {
            }
        }
        line[strcspn(line, "\r\n")] = 0;
        size_t n = strlen(line);
        if (n == 0 || line[0] == '#' || n >= LOOK_ENTRY_SIZE)
            continue;
        memcpy(list + used, line, n + 1);
        used += n + 1;
        count++;
    }
    return count;
}
