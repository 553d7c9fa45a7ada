// The plug-in's own reader of config.ini: integer keys, first line wins.
#include "host.h"
#include <ctype.h>
#include <stdio.h>
#include <string.h>

bool host_config_parse_line(const char *line, const char *key, int32_t *value)
{
    const char *p = line;
    while (*p == ' ' || *p == '\t')
        p++;
    size_t n = strlen(key);
    if (_strnicmp(p, key, n) != 0)
        return false;
    p += n;
    while (*p == ' ' || *p == '\t')
        p++;
    if (*p != '=')
        return false;
    p++;
    while (*p == ' ' || *p == '\t')
        p++;
    bool neg = false;
    if (*p == '-' || *p == '+')
        neg = *p++ == '-';
    int64_t v = 0;
    while (isdigit((unsigned char)*p) && v < 0x80000000LL)
        v = v * 10 + (*p++ - '0');
    if (v > 0x7FFFFFFFLL)
        v = neg ? 0x80000000LL : 0x7FFFFFFFLL; // saturate instead of wrapping
    *value = (int32_t)(neg ? -v : v);
    return true;
}

int32_t host_config_get_int(const char *key, int32_t def)
{
    char path[DM_PATH_MAX];
    snprintf(path, sizeof path, "%sconfig.ini", host_base_dir);
    FILE *f = fopen(path, "rt");
    if (!f)
        return def;
    char line[256];
    int32_t result = def;
    bool continuation = false;
    while (fgets(line, sizeof line, f)) {
        size_t len = strlen(line);
        bool whole = len > 0 && line[len - 1] == '\n';
        // The rest of an over-long line is not a line of its own.
        bool skip = continuation;
        continuation = !whole && !feof(f);
        if (skip)
            continue;
        int32_t v;
        if (host_config_parse_line(line, key, &v)) {
            result = v;
            break;
        }
    }
    fclose(f);
    return result;
}
