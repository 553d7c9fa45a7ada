#include "base/config_text.h"
#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include "dm_config_file.h"
#include "dm_utf8.h"

void config_defaults(client_config *cfg, const char *default_name)
{
    memset(cfg, 0, sizeof *cfg);
    cfg->port = CONFIG_DEFAULT_PORT;
    dm_utf8_copy(cfg->name, sizeof cfg->name, default_name && default_name[0] ? default_name : "player",
                 CONFIG_NAME_MAX);
    cfg->autoconnect = true;
    cfg->auto_update = true;
}

namespace {

bool refuse(config_refusal *why, const char *rule, const char *used)
{
    why->rule = rule;
    snprintf(why->used, sizeof why->used, "%s", used);
    return false;
}

/* A flag key: the value's flag, or the refusal with the flag kept. */
bool apply_flag(bool *flag, const char *value, config_refusal *why)
{
    bool on;
    if (!config_flag(value, &on))
        return refuse(why, CONFIG_DIGITS_RULE, *flag ? "1" : "0");
    *flag = on;
    return true;
}

} // namespace

bool config_apply(client_config *cfg, const char *key, const char *value, config_refusal *why)
{
    int32_t n;
    if (config_key_equal(key, "server")) {
        // A cut host name would be another host: refused whole.
        if (strlen(value) > CONFIG_SERVER_MAX) {
            char used[sizeof why->used];
            snprintf(used, sizeof used, "'%s'", cfg->server);
            return refuse(why, "at most 63 characters", cfg->server[0] ? used : "no server");
        }
        snprintf(cfg->server, sizeof cfg->server, "%s", value);
    } else if (config_key_equal(key, "port")) {
        if (!config_number(value, &n) || n < 1 || n > 65535) {
            char used[16];
            snprintf(used, sizeof used, "%u", (unsigned)cfg->port);
            return refuse(why, "a number 1..65535", used);
        }
        cfg->port = (uint16_t)n;
    } else if (config_key_equal(key, "name")) {
        if (value[0])
            dm_utf8_copy(cfg->name, sizeof cfg->name, value, CONFIG_NAME_MAX);
    } else if (config_key_equal(key, "autoconnect")) {
        return apply_flag(&cfg->autoconnect, value, why);
    } else if (config_key_equal(key, "remote_mode")) {
        cfg->remote_mode_rv = config_key_equal(value, "rv");
    } else if (config_key_equal(key, "sync")) {
        if (!config_number(value, &n))
            return refuse(why, CONFIG_DIGITS_RULE, "the mode in force");
        cfg->sync_given = true;
        cfg->sync = n;
    } else if (config_key_equal(key, "traffic")) {
        cfg->traffic_local = config_key_equal(value, "local") || config_key_equal(value, "on");
    } else if (config_key_equal(key, "update_url")) {
        snprintf(cfg->update_url, sizeof cfg->update_url, "%s", value);
    } else if (config_key_equal(key, "auto_update")) {
        return apply_flag(&cfg->auto_update, value, why);
    }
    return true;
}

int config_default_text(char *out, size_t size, unsigned port, int name_max, const char *name)
{
    int n = snprintf(out, size,
        "# drovemark client settings (README.md \"config.ini\"). Edit, then `config reload` in cmd.txt (or restart).\n"
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
        "# remote smoothing: 1 = fixed 150 ms buffer (default), 2 = adaptive buffer + smoothed corrections (README.md)\n"
        "sync = 1\n"
        "# AI traffic: off (default for the alpha: the game's traffic is held at 0; your own setting comes back\n"
        "# with local) or local (each player sees their own unsynced traffic). A server set to off overrides local.\n"
        "traffic = off\n"
        "# self-updater (README.md \"Updates\"): folder URL that holds manifest.txt (empty = no updates); auto_update 1 = install\n"
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

size_t config_text_set_room(size_t len, const char *key, const char *value)
{
    return len + strlen(key) + strlen(value) + 8; // " = ", two CR LF, the NUL
}

long config_text_set(const char *text, size_t len, const char *key, const char *value, char *out, size_t size)
{
    size_t k = 0;
    bool fits = true, written = false;
    auto put = [&](const char *p, size_t n) {
        if (!fits || k + n >= size) {
            fits = false;
            return;
        }
        memcpy(out + k, p, n);
        k += n;
    };
    auto put_setting = [&]() {
        put(key, strlen(key));
        put(" = ", 3);
        put(value, strlen(value));
    };
    size_t pos = 0, n;
    const char *line;
    while (config_text_line(text, len, &pos, &line, &n)) {
        char head[CONFIG_LINE_MAX];
        size_t h = n < sizeof head - 1 ? n : sizeof head - 1;
        memcpy(head, line, h);
        head[h] = 0;
        if (!config_line_sets_key(head, key)) {
            put(line, n);
            continue;
        }
        if (written)
            continue;
        written = true;
        put_setting();
        // The line keeps its own ending.
        if (n >= 2 && line[n - 2] == '\r' && line[n - 1] == '\n')
            put("\r\n", 2);
        else if (line[n - 1] == '\n')
            put("\n", 1);
    }
    if (!written) {
        if (len > 0 && text[len - 1] != '\n')
            put("\r\n", 2);
        put_setting();
        put("\r\n", 2);
    }
    if (!fits || size == 0)
        return -1;
    out[k] = 0;
    return (long)k;
}
