// The "net" console command: connect, disconnect, info, status, sync,
// trailers and record, each a word after "net" and a row of net_rows, with
// its usage line.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "base/config_text.h"
#include "net/net_internal.h"

namespace {

net_command_env env;
bool remote_trailers;

const char *const usage =
    "[core] net: connect <host> [port] [name] | disconnect | status | info [host] [port] | trailers on|off | "
    "record <file>|off";

/* Copies the next blank-separated word (cut to size) and returns the rest. */
const char *next_word(const char *s, char *out, size_t size)
{
    while (*s == ' ' || *s == '\t')
        s++;
    size_t n = 0;
    while (*s && *s != ' ' && *s != '\t') {
        if (n + 1 < size)
            out[n++] = *s;
        s++;
    }
    out[n] = 0;
    return s;
}

/* The rest of the line without its surrounding blanks, cut to size. */
void rest_of_line(const char *s, char *out, size_t size)
{
    while (*s == ' ' || *s == '\t')
        s++;
    size_t len = strlen(s);
    while (len > 0 && (s[len - 1] == ' ' || s[len - 1] == '\t' || s[len - 1] == '\r' || s[len - 1] == '\n'))
        len--;
    if (len >= size)
        len = size - 1;
    memcpy(out, s, len);
    out[len] = 0;
}

bool parse_port(const char *word, uint16_t *port)
{
    char *end = nullptr;
    unsigned long v = strtoul(word, &end, 10);
    if (!word[0] || *end || word[0] == '-' || v < 1 || v > 65535)
        return false;
    *port = (uint16_t)v;
    return true;
}

} // namespace

void net_set_command_env(const net_command_env *e) { env = e ? *e : net_command_env{}; }
bool net_remote_trailers() { return remote_trailers; }
void net_set_remote_trailers(bool on) { remote_trailers = on; }

namespace {

/* What a sub-command's handler is given: the words after the sub-command's
 * own (word2: host, mode, "on" or file; word3: port; word4: the rest of the
 * line, a name that may hold blanks) and the frame's seconds. */
struct net_call {
    const char *word2, *word3, *word4;
    double now;
};

void run_connect(const net_call &c)
{
    uint16_t port = CONFIG_DEFAULT_PORT;
    if (c.word3[0] && !parse_port(c.word3, &port)) {
        net_log("[core] net: bad port");
        return;
    }
    char name[64] = "player";
    if (c.word4[0])
        snprintf(name, sizeof name, "%s", c.word4);
    else if (env.config_name)
        env.config_name(name, sizeof name);
    if (env.auto_connect_resume)
        env.auto_connect_resume();
    net_connect(c.word2, port, name, 0, c.now);
}

void run_disconnect(const net_call &)
{
    net_disconnect(true);
    if (env.remote_gone)
        env.remote_gone("disconnect");
    if (env.auto_connect_pause && env.auto_connect_pause())
        net_log("[core] net: auto-connect paused (`net connect` or `config reload` resumes it)");
}

void run_info(const net_call &c)
{
    char host[260] = "";
    uint16_t port = CONFIG_DEFAULT_PORT;
    if (env.config_server && !env.config_server(host, sizeof host, &port))
        host[0] = 0;
    if (c.word2[0])
        snprintf(host, sizeof host, "%s", c.word2);
    if (c.word3[0] && !parse_port(c.word3, &port)) {
        net_log("[core] net: bad port");
        return;
    }
    if (!host[0]) {
        net_log("[core] net: info <host> [port] (no server in config.ini)");
        return;
    }
    net_query_info(host, port, c.now);
}

void run_status(const net_call &c)
{
    net_log("[core] net: %s", net_status_line());
    net_print_status(c.now);
    uint16_t player = 0;
    void *vehicle = nullptr;
    int state = 0, mode = 0;
    bool hidden = false;
    if (env.slot_status)
        env.slot_status(&player, &vehicle, &state, &mode, &hidden);
    net_log("[core] net: slot -> player %u, vehicle %p state %d mode %d%s, trailers %s, recording %s", player,
            vehicle, state, mode, hidden ? " HIDDEN" : "", remote_trailers ? "on" : "off",
            net_recording_is_open() ? "yes" : "no");
}

void run_sync(const net_call &c)
{
    if (c.word2[0])
        net_set_interp_mode(atoi(c.word2));
    net_interp_stats s;
    net_get_interp_stats(&s);
    double n = (double)s.samples;
    net_log("[core] net: sync mode %d (config `sync` keeps it across reloads); %llu frames, %.1f%% extrapolated, "
            "%.1f%% held, %llu teleports, mean delay %.0f ms",
            net_interp_mode(), (unsigned long long)s.samples, n > 0 ? s.extrapolations * 100.0 / n : 0.0,
            n > 0 ? s.long_extrapolations * 100.0 / n : 0.0, (unsigned long long)s.snaps,
            n > 0 ? s.delay_sum * 1000.0 / n : 0.0);
}

void run_trailers(const net_call &c)
{
    remote_trailers = strcmp(c.word2, "on") == 0;
    net_log("[core] net: remote trailers %s", remote_trailers ? "ON" : "off");
}

void run_record(const net_call &c)
{
    net_recording_stop_logged();
    if (strcmp(c.word2, "off") != 0)
        net_recording_start(env.base_dir, c.word2);
}

/* The sub-commands: the word, whether it needs a second word, the handler.
 * A line of no row (or without the second word it needs) gets the usage
 * line. */
struct net_row {
    const char *word;
    bool needs_word2;
    void (*handler)(const net_call &call);
};
const net_row net_rows[] = {
    { "connect", true, run_connect },   { "disconnect", false, run_disconnect }, { "info", false, run_info },
    { "status", false, run_status },    { "sync", false, run_sync },             { "trailers", true, run_trailers },
    { "record", true, run_record },
};

} // namespace

void net_command(const char *line, const dm_frame_info *info)
{
    double now = info ? info->seconds : 0;
    if (!line)
        line = "";
    while (*line == ' ' || *line == '\t')
        line++;
    if (strncmp(line, "net", 3) == 0 && (line[3] == 0 || line[3] == ' ' || line[3] == '\t'))
        line += 3;
    char subcommand[64], word2[260], word3[64], word4[64];
    const char *rest = next_word(line, subcommand, sizeof subcommand);
    rest = next_word(rest, word2, sizeof word2);
    rest = next_word(rest, word3, sizeof word3);
    rest_of_line(rest, word4, sizeof word4); /* a name may hold blanks */
    for (const net_row &row : net_rows)
        if (strcmp(subcommand, row.word) == 0 && (word2[0] || !row.needs_word2)) {
            row.handler({ word2, word3, word4, now });
            return;
        }
    net_log("%s", usage);
}
