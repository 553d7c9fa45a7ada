// The model catalog: models.txt in the base directory (token, name, spare,
// path per tab-separated line), loaded once per core, resolving a spawn's
// name to a model path and searching by words. The line rules are pure
// (props_text.cpp).
//
// Index of this file:
//   entries     the catalog in file order
//   loading     model_catalog_load
//   resolving   model_catalog_resolve
//   searching   the matches, the search command's lines
//   freeing     model_catalog_destroy
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "base/core.h"
#include "dm_env.h"
#include "dm_file_stream.h"
#include "base/plain_text.h"
#include "props/props_internal.h"
#include "props/props_text.h"

namespace {

/* ---- entries ---- */

/* The most entries a catalog holds: a file beyond it is cut there. */
#define MODEL_CATALOG_MAX 65536

struct catalog_entry {
    char *field[4]; /* token, name, spare, path */
};
catalog_entry *entries;
size_t entry_count, entry_capacity;
bool load_attempted;

char *copy(const char *p, size_t n)
{
    char *s = (char *)malloc(n + 1);
    if (s) {
        memcpy(s, p, n);
        s[n] = 0;
    }
    return s;
}

void append(const props_catalog_fields &f)
{
    if (entry_count == entry_capacity) {
        size_t cap = entry_capacity ? entry_capacity * 2 : 64;
        catalog_entry *grown = (catalog_entry *)realloc(entries, cap * sizeof *entries);
        if (!grown)
            return;
        entries = grown;
        entry_capacity = cap;
    }
    catalog_entry e;
    for (int i = 0; i < 4; i++)
        e.field[i] = copy(f.field[i], f.length[i]);
    if (!e.field[0] || !e.field[1] || !e.field[2] || !e.field[3]) {
        for (char *s : e.field)
            free(s);
        return;
    }
    entries[entry_count++] = e;
}

} // namespace

/* ---- loading ---- */

bool model_catalog_load()
{
    if (load_attempted)
        return entry_count > 0;
    load_attempted = true;
    char appdata[DM_PATH_MAX];
    if (dm_env_get("LOCALAPPDATA", appdata, sizeof appdata) <= 0)
        return false; // not set, or too long to name the file
    char path[DM_PATH_MAX];
    int n = snprintf(path, sizeof path, "%s\\drovemark\\models.txt", appdata);
    if (n < 0 || n >= (int)sizeof path)
        return false; // a path cut short would name another file
    FILE *f = dm_file_open(path, "rt");
    if (!f) {
        props_log("[props] no model catalog at %s (README.md says how to make models.txt)", path);
        return false;
    }
    char line[PROPS_CATALOG_LINE_MAX];
    bool skipping = false; // the rest of an over-long line
    while (fgets(line, sizeof line, f)) {
        size_t len = strlen(line);
        bool whole = len && line[len - 1] == '\n';
        if (!whole && !feof(f)) {
            skipping = true;
            continue;
        }
        if (skipping) {
            skipping = false;
            continue;
        }
        props_catalog_fields fields;
        if (!props_catalog_line(line, &fields))
            continue;
        if (entry_count == MODEL_CATALOG_MAX) {
            props_log("[props] model catalog: stopped at %d models; the rest of models.txt is skipped",
                      MODEL_CATALOG_MAX);
            break;
        }
        append(fields);
    }
    fclose(f);
    props_log("[props] model catalog: %zu models", entry_count);
    return entry_count > 0;
}

/* ---- searching ---- */

static size_t matches(const char *query, const catalog_entry **out, size_t cap)
{
    size_t n = 0;
    if (!model_catalog_load())
        return 0;
    for (size_t i = 0; i < entry_count; i++)
        if (props_catalog_matches(query, entries[i].field[0], entries[i].field[1], entries[i].field[3])) {
            if (n < cap)
                out[n] = &entries[i];
            n++;
        }
    return n;
}

static void list_line(const catalog_entry *e)
{
    props_log("[props]   %-12s %-40s %s", e->field[0], e->field[1], e->field[3]);
}

void model_catalog_search_command(const char *query)
{
    const catalog_entry *found[25];
    size_t n = matches(query, found, 25);
    char shown[256];
    text_clean(shown, sizeof shown, query, strnlen(query, 160));
    props_log("[props] search '%s': %zu model(s)", shown, n);
    for (size_t i = 0; i < n && i < 25; i++)
        list_line(found[i]);
}

/* ---- resolving ---- */

bool model_catalog_resolve(const char *arg, char *out, size_t size)
{
    if (arg[0] == '/') {
        snprintf(out, size, "%s", arg);
        return true;
    }
    if (!model_catalog_load())
        return false;
    for (size_t i = 0; i < entry_count; i++)
        if (props_same_nocase(entries[i].field[0], arg)) {
            snprintf(out, size, "%s", entries[i].field[3]);
            return true;
        }
    const catalog_entry *found[10];
    size_t n = matches(arg, found, 10);
    char shown[256];
    text_clean(shown, sizeof shown, arg, strnlen(arg, 160));
    if (n == 1) {
        snprintf(out, size, "%s", found[0]->field[3]);
        return true;
    }
    if (n == 0) {
        props_log("[props] no model matches '%s' (model search <words>)", shown);
        return false;
    }
    props_log("[props] '%s' matches %zu models; spawn one by its token:", shown, n);
    for (size_t i = 0; i < n && i < 10; i++)
        list_line(found[i]);
    return false;
}

/* ---- freeing ---- */

void model_catalog_destroy()
{
    for (size_t i = 0; i < entry_count; i++)
        for (char *s : entries[i].field)
            free(s);
    free(entries);
    entries = nullptr;
    entry_count = entry_capacity = 0;
}
