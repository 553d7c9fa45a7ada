#include "config_text.h"
#include <ctype.h>
#include <stdio.h>
#include <string.h>

static void copy_cut(char *out, size_t size, const char *text)
{
    snprintf(out, size, "%s", text);
}

void config_defaults(client_config *cfg, const char *default_name)
{
    memset(cfg, 0, sizeof *cfg);
    cfg->port = CONFIG_DEFAULT_PORT;
    copy_cut(cfg->name, sizeof cfg->name, default_name && default_name[0] ? default_name : "player");
    cfg->autoconnect = true;
    cfg->auto_update = true;
}

void config_apply(client_config *cfg, const char *key, const char *value)
{
    if (config_key_equal(key, "server")) {
        copy_cut(cfg->server, sizeof cfg->server, value);
    } else if (config_key_equal(key, "port")) {
        int32_t port = config_int(value);
        if (port >= 1 && port <= 65535)
            cfg->port = (uint16_t)port;
    } else if (config_key_equal(key, "name")) {
        if (value[0])
            copy_cut(cfg->name, sizeof cfg->name, value);
    } else if (config_key_equal(key, "autoconnect")) {
        cfg->autoconnect = config_int(value) != 0;
    } else if (config_key_equal(key, "remote_mode")) {
        cfg->remote_mode_rv = config_key_equal(value, "rv");
    } else if (config_key_equal(key, "sync")) {
        cfg->sync_given = true;
        cfg->sync = config_int(value);
    } else if (config_key_equal(key, "traffic")) {
        cfg->traffic_local = config_key_equal(value, "local") || config_key_equal(value, "on");
    } else if (config_key_equal(key, "update_url")) {
        copy_cut(cfg->update_url, sizeof cfg->update_url, value);
    } else if (config_key_equal(key, "auto_update")) {
        cfg->auto_update = config_int(value) != 0;
    }
}

int config_default_text(char *out, size_t size, unsigned port, int name_max, const char *name)
{
    int n = snprintf(out, size,
        "# drovemark client settings (docs/04 \"Client\"). Edit, then `config reload` in cmd.txt (or restart).\n"
        "# server: IPv4 address or hostname of an drovemark server (empty = don't connect)\n"
        "server = \n"
        "port = %u\n"
        "# name shown to other players (1..%d bytes)\n"
        "name = %s\n"
        "# 1 = join when you're in the game (a profile is loaded), leave on the main menu\n"
        "autoconnect = 1\n"
        "# how remote players are shown: clone (a full copy of a player vehicle, with trailers) or rv (the\n"
        "# game's own convoy remote vehicle: lighter, pushable, no trailers yet)\n"
        "remote_mode = clone\n"
        "# remote smoothing: 1 = fixed 150 ms buffer (default), 2 = adaptive buffer + smoothed corrections (docs/04)\n"
        "sync = 1\n"
        "# AI traffic: off (default for the alpha: the game's traffic is held at 0; your own setting comes back\n"
        "# with local) or local (each player sees their own unsynced traffic). A server set to off overrides local.\n"
        "traffic = off\n"
        "# self-updater (docs/16): folder URL that holds manifest.txt (empty = no updates); auto_update 1 = install\n"
        "# new builds by itself, 0 = only tell me (F2 -> Settings has an Install button)\n"
        "update_url = \n"
        "auto_update = 1\n",
        port, name_max, name);
    return n >= 0 && (size_t)n < size ? n : -1;
}

bool config_line_sets_key(const char *line, const char *key)
{
    while (config_is_blank(*line))
        line++;
    size_t n = strlen(key);
    for (size_t i = 0; i < n; i++)
        if (!line[i] || tolower((unsigned char)line[i]) != tolower((unsigned char)key[i]))
            return false;
    const char *p = line + n;
    while (config_is_blank(*p))
        p++;
    return *p == '=';
}

bool config_set_allowed(const char *key, const char *value)
{
    if (!key || !value || strpbrk(key, "\r\n") || strpbrk(value, "\r\n"))
        return false;
    for (const char *p = key; *p; p++)
        if (!config_is_blank(*p))
            return true;
    return false;
}
