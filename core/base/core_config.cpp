// config.ini for the core: the settings in force (core_config) and the
// single-key reader and writer of the UI, the join path and the server list.
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include "core.h"
#include "core_config.h"
#include "dm_file.h"

client_config core_config;
bool core_remote_mode_by_command;

namespace {

SRWLOCK dm_config_lock = SRWLOCK_INIT;

} // namespace

bool dm_config_get(const char *key, char *out, size_t size)
{
    if (!core_api || size == 0)
        return false;
    out[0] = 0;
    char path[DM_PATH_MAX];
    if (!core_path(path, sizeof path, "config.ini"))
        return false;
    FILE *f = dm_file_open(path, "rt");
    if (!f)
        return false;
    char line[CONFIG_LINE_MAX];
    while (config_read_line(f, line, sizeof line)) {
        char *k, *v;
        if (config_split_line(line, &k, &v) && config_key_equal(k, key))
            snprintf(out, size, "%s", v);
    }
    fclose(f);
    return out[0] != 0;
}

bool dm_config_set(const char *key, const char *value)
{
    if (!core_api)
        return false;
    bool ok = false;
    char path[DM_PATH_MAX], tmp[DM_PATH_MAX];
    // A CR or LF would split the line and a blank key can never be read back.
    if (config_set_allowed(key, value) && core_path(path, sizeof path, "config.ini") &&
        core_path(tmp, sizeof tmp, "config.ini.new")) {
        AcquireSRWLockExclusive(&dm_config_lock);
        FILE *in = dm_file_open(path, "rt");
        FILE *out = dm_file_open(tmp, "wt");
        if (out) {
            bool written = false, line_start = true, skipping = false, failed = false;
            char chunk[CONFIG_LINE_MAX];
            size_t n;
            while (in && (n = config_read_piece(in, chunk, sizeof chunk)) > 0) {
                bool ends = n > 0 && chunk[n - 1] == '\n';
                if (line_start) {
                    skipping = false;
                    if (config_line_sets_key(chunk, key)) {
                        // The first line of the key is replaced, later ones are
                        // dropped: readers taking the first or the last agree.
                        if (!written && fprintf(out, "%s = %s\n", key, value) < 0)
                            failed = true;
                        written = true;
                        skipping = true;
                    }
                }
                if (!skipping && fwrite(chunk, 1, n, out) != n)
                    failed = true;
                line_start = ends;
            }
            if (in && !line_start && !skipping && fputs("\n", out) < 0)
                failed = true;
            if (!written && fprintf(out, "%s = %s\n", key, value) < 0)
                failed = true;
            if (fclose(out) != 0)
                failed = true;
            if (in)
                fclose(in);
            in = nullptr;
            ok = !failed && dm_file_move(tmp, path, MOVEFILE_REPLACE_EXISTING);
        }
        if (in)
            fclose(in);
        ReleaseSRWLockExclusive(&dm_config_lock);
    }
    core_log("[core] ui: config %s = %s%s", key ? key : "", value ? value : "", ok ? "" : " (write FAILED)");
    return ok;
}
