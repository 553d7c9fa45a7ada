// config.ini: config_load, "config refresh", and the single-key reader and
// writer of the UI.
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include "core.h"
#include "core_config.h"
#include "net_client.h"
#include "ui_frame.h"
#include "world.h"

client_config core_config;
bool core_remote_mode_by_command;

namespace {

SRWLOCK dm_config_lock = SRWLOCK_INIT;

void default_name(char *out, size_t size)
{
    char name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD n = sizeof name;
    if (GetComputerNameA(name, &n) && n > 0)
        snprintf(out, size, "%.*s", CONFIG_NAME_MAX, name);
    else
        snprintf(out, size, "player");
}

} // namespace

void config_load()
{
    char name[CONFIG_NAME_MAX + 1];
    default_name(name, sizeof name);
    config_defaults(&core_config, name);
    core_remote_mode_by_command = false;
    traffic_set_config_mode(1);

    char path[DM_PATH_MAX];
    if (!core_path(path, sizeof path, "config.ini"))
        return;
    FILE *f = fopen(path, "rt");
    if (!f) {
        char text[4096];
        FILE *out = config_default_text(text, sizeof text, CONFIG_DEFAULT_PORT, CONFIG_NAME_MAX, name) >= 0
                        ? fopen(path, "wt") : nullptr;
        if (out) {
            fputs(text, out);
            fclose(out);
            core_log("[core] config: wrote defaults to %s (set `server` to play online)", path);
        }
        update_configure("", true);
        return;
    }
    char line[CONFIG_LINE_MAX];
    while (config_read_line(f, line, sizeof line)) {
        char *key, *value;
        if (!config_split_line(line, &key, &value))
            continue;
        config_apply(&core_config, key, value);
        if (config_key_equal(key, "traffic"))
            traffic_set_config_mode(core_config.traffic_local ? 0 : 1);
    }
    fclose(f);
    if (core_config.sync_given)
        net_set_interp_mode(core_config.sync);
    update_configure(core_config.update_url, core_config.auto_update);
    core_log("[core] config: server '%s' port %u name '%s' autoconnect %s remote_mode %s sync %d",
             core_config.server, (unsigned)core_config.port, core_config.name,
             core_config.autoconnect ? "on" : "off", core_config.remote_mode_rv ? "rv" : "clone",
             net_interp_mode());
}

void config_refresh()
{
    bool by_command = core_remote_mode_by_command;
    bool rv = core_config.remote_mode_rv;
    config_load();
    if (by_command) {
        core_config.remote_mode_rv = rv;
        core_remote_mode_by_command = true;
    }
}

bool dm_config_get(const char *key, char *out, size_t size)
{
    if (!core_api || size == 0)
        return false;
    out[0] = 0;
    char path[DM_PATH_MAX];
    if (!core_path(path, sizeof path, "config.ini"))
        return false;
    FILE *f = fopen(path, "rt");
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
        FILE *in = fopen(path, "rt");
        FILE *out = fopen(tmp, "wt");
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
            ok = !failed && MoveFileExA(tmp, path, MOVEFILE_REPLACE_EXISTING);
        }
        if (in)
            fclose(in);
        ReleaseSRWLockExclusive(&dm_config_lock);
    }
    core_log("[core] ui: config %s = %s%s", key ? key : "", value ? value : "", ok ? "" : " (write FAILED)");
    return ok;
}
