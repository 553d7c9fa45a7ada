#include "diag_text.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "config_text.h"

void peek_parse(const char *text, peek_args *out)
{
    memset(out, 0, sizeof *out);
    char *end = nullptr;
    out->va = strtoull(text, &end, 16);
    const char *p = end;
    while (*p == ' ' || *p == '\t')
        p++;
    while (*p == '+' && out->hops < PEEK_MAX_HOPS) {
        out->offsets[out->hops++] = strtoull(p + 1, &end, 16);
        p = end;
        while (*p == ' ' || *p == '\t')
            p++;
    }
}

bool memrec_parse(const char *text, double *seconds, char *name, size_t size)
{
    char buf[MEMREC_NAME_MAX + 1];
    double secs = 0;
    if (sscanf(text, "%lf %127s", &secs, buf) < 2 || !(secs > 0) || strpbrk(buf, "\\/:"))
        return false;
    *seconds = secs;
    snprintf(name, size, "%s", buf);
    return true;
}

bool memrec_name_allowed(const char *name)
{
    static const char *const own[] = {
        "drovemark.log", "config.ini", "config.ini.new", "imgui.ini", "identity.key", "cmd.txt",
        "cmd.txt.taken", "state.json", "state.json.tmp", "servers.json", "servers_cache.json",
        "favorites.txt", "models.txt", "core", "update", ".", "..",
    };
    // Windows drops trailing dots from a file name: "config.ini." is config.ini.
    char bare[MEMREC_NAME_MAX + 1];
    snprintf(bare, sizeof bare, "%s", name);
    size_t n = strlen(bare);
    while (n > 0 && bare[n - 1] == '.')
        bare[--n] = 0;
    if (!bare[0])
        return false;
    for (const char *own_name : own)
        if (config_key_equal(bare, own_name))
            return false;
    return true;
}
