// Loading config.ini: config_load and "config refresh", which hand the
// settings to the network, traffic and the updater.
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include "base/core.h"
#include "base/core_config.h"
#include "dm_config_file.h"
#include "dm_env.h"
#include "dm_file.h"
#include "net/net.h"
#include "online/online.h"
#include "runtime/runtime.h"
#include "ui/ui.h"
#include "world/world.h"

namespace {

void default_name(char *out, size_t size)
{
    if (!dm_computer_name(out, size, CONFIG_NAME_MAX))
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
    config_file f = {};
    if (!config_file_read(path, &f)) {
        config_file_free(&f);
        char text[4096];
        FILE *out = dm_file_attributes(path) == INVALID_FILE_ATTRIBUTES &&
                            config_default_text(text, sizeof text, CONFIG_DEFAULT_PORT, CONFIG_NAME_MAX, name) >= 0
                        ? dm_file_open(path, "wt") : nullptr;
        if (out) {
            fputs(text, out);
            fclose(out);
            core_log("[core] config: wrote defaults to %s (set `server` to play online)", path);
        }
        update_configure("", true);
        return;
    }
    if (f.cut)
        core_log("[core] config: config.ini is longer than %u bytes; only its first %u are read", CONFIG_FILE_MAX, CONFIG_FILE_MAX);
    char line[CONFIG_LINE_MAX];
    size_t pos = 0;
    while (config_file_next(&f, &pos, line, sizeof line)) {
        char *key, *value;
        if (!config_split_line(line, &key, &value))
            continue;
        config_refusal why;
        if (!config_apply(&core_config, key, value, &why))
            core_log("[core] config: %s = '%s' refused (%s); using %s", key, value, why.rule, why.used);
        if (config_key_equal(key, "traffic"))
            traffic_set_config_mode(core_config.traffic_local ? 0 : 1);
    }
    bool utf16 = f.encoding == CONFIG_UTF16LE || f.encoding == CONFIG_UTF16BE;
    config_file_free(&f);
    if (utf16)
        config_store_utf8();
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
