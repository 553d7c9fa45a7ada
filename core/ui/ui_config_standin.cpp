// LOCAL STAND-IN for the runtime's config.ini access (core/runtime), built
// only while the runtime does not compile its own (see sources.cmake):
// the last line of a key wins on reading; writing replaces the first line
// of the key through config.ini.new and a replacing rename.
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include "core.h"
#include "core_config.h"
#include "ui.h"

static SRWLOCK standin_config_lock = SRWLOCK_INIT;

bool dm_config_get(const char *key, char *out, size_t size)
{
    if (!core_api || size == 0)
        return false;
    out[0] = 0;
    char path[MAX_PATH];
    snprintf(path, sizeof path, "%sconfig.ini", core_api->base_dir);
    FILE *f = fopen(path, "rt");
    if (!f)
        return false;
    char line[512];
    while (fgets(line, sizeof line, f))
        dm_config_line_value(line, key, out, size);
    fclose(f);
    return out[0] != 0;
}

bool dm_config_set(const char *key, const char *value)
{
    if (!core_api)
        return false;
    char path[MAX_PATH], tmp[MAX_PATH];
    snprintf(path, sizeof path, "%sconfig.ini", core_api->base_dir);
    snprintf(tmp, sizeof tmp, "%sconfig.ini.new", core_api->base_dir);
    AcquireSRWLockExclusive(&standin_config_lock);
    FILE *in = fopen(path, "rt");
    FILE *out = fopen(tmp, "wt");
    bool written = false;
    if (out) {
        bool replaced = false, ok = true;
        char line[512];
        while (in && fgets(line, sizeof line, in)) {
            if (!replaced && dm_config_line_is_key(line, key)) {
                replaced = true;
                ok &= fprintf(out, "%s = %s\n", key, value) > 0;
                continue;
            }
            ok &= fputs(line, out) >= 0;
        }
        if (!replaced)
            ok &= fprintf(out, "%s = %s\n", key, value) > 0;
        written = fclose(out) == 0 && ok;
    }
    if (in)
        fclose(in);
    bool moved = written && MoveFileExA(tmp, path, MOVEFILE_REPLACE_EXISTING);
    if (!moved)
        DeleteFileA(tmp);
    ReleaseSRWLockExclusive(&standin_config_lock);
    dm_ui_log("[core] ui: config %s = %s%s", key, value, moved ? "" : " (write FAILED)");
    return moved;
}
