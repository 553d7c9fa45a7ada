// The "net" console command, the network recording file and the player key
// file (identity.key).
#include <windows.h>
#include <bcrypt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "net_csv.h"
#include "net_key.h"
#include "net_win.h"

namespace {

net_command_env env;
bool remote_trailers;

struct recording {
    FILE *file;
    char path[260];
    uint32_t rows;
} rec;

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

void stop_recording_logged()
{
    if (!rec.file)
        return;
    uint32_t rows = rec.rows;
    net_recording_close();
    net_log("[core] net: recording stopped (%u rows)", rows);
}

void start_recording(const char *name)
{
    const char *base = env.base_dir ? env.base_dir : "";
    char path[260];
    int n;
    if (strchr(name, ':') || name[0] == '\\' || name[0] == '/')
        n = snprintf(path, sizeof path, "%s", name);
    else
        n = snprintf(path, sizeof path, "%s%s", base, name);
    FILE *f = (n > 0 && (size_t)n < sizeof path) ? fopen(path, "wt") : nullptr;
    if (!f) {
        net_log("[core] net: can't open %s", path);
        return;
    }
    rec.file = f;
    snprintf(rec.path, sizeof rec.path, "%s", path);
    rec.rows = 0;
    fprintf(f, "%s\n", NET_CSV_HEADER);
    net_log("[core] net: recording the local truck at %u Hz to %s (replay: tools/fake_client.py replay <file>)", 10u,
            path);
}

} // namespace

void net_set_command_env(const net_command_env *e) { env = e ? *e : net_command_env{}; }
bool net_remote_trailers() { return remote_trailers; }

bool net_recording_is_open() { return rec.file != nullptr; }

bool net_recording_close()
{
    if (!rec.file)
        return false;
    fflush(rec.file);
    fclose(rec.file);
    rec.file = nullptr;
    return true;
}

void net_recording_write(double now, const net_pose *pose)
{
    if (!rec.file || !pose)
        return;
    char row[512];
    if (net_csv_row(row, sizeof row, now, pose) < 0)
        return;
    fputs(row, rec.file);
    rec.rows++;
    if (rec.rows % 50 == 0)
        fflush(rec.file);
}

void net_command(const char *line, const dm_frame_info *info)
{
    double now = info ? info->seconds : 0;
    if (!line)
        line = "";
    while (*line == ' ' || *line == '\t')
        line++;
    if (strncmp(line, "net", 3) == 0 && (line[3] == 0 || line[3] == ' ' || line[3] == '\t'))
        line += 3;
    char sub[64], w2[260], w3[64], w4[64];
    const char *rest = next_word(line, sub, sizeof sub);
    rest = next_word(rest, w2, sizeof w2);
    rest = next_word(rest, w3, sizeof w3);
    rest_of_line(rest, w4, sizeof w4); /* a name may hold blanks */

    if (strcmp(sub, "connect") == 0 && w2[0]) {
        uint16_t port = NET_DEFAULT_PORT;
        if (w3[0] && !parse_port(w3, &port)) {
            net_log("[core] net: bad port");
            return;
        }
        char name[64] = "player";
        if (w4[0])
            snprintf(name, sizeof name, "%s", w4);
        else if (env.config_name)
            env.config_name(name, sizeof name);
        if (env.auto_connect_resume)
            env.auto_connect_resume();
        net_connect(w2, port, name, 0, now);
    } else if (strcmp(sub, "disconnect") == 0) {
        net_disconnect(true);
        if (env.remote_gone)
            env.remote_gone("disconnect");
        if (env.auto_connect_pause && env.auto_connect_pause())
            net_log("[core] net: auto-connect paused (`net connect` or `config reload` resumes it)");
    } else if (strcmp(sub, "info") == 0) {
        char host[260] = "";
        uint16_t port = NET_DEFAULT_PORT;
        if (env.config_server && !env.config_server(host, sizeof host, &port))
            host[0] = 0;
        if (w2[0])
            snprintf(host, sizeof host, "%s", w2);
        if (w3[0] && !parse_port(w3, &port)) {
            net_log("[core] net: bad port");
            return;
        }
        if (!host[0]) {
            net_log("[core] net: info <host> [port] (no server in config.ini)");
            return;
        }
        net_query_info(host, port, now);
    } else if (strcmp(sub, "status") == 0) {
        net_log("[core] net: %s", net_status_line());
        net_print_status(now);
        uint16_t player = 0;
        void *vehicle = nullptr;
        int state = 0, mode = 0;
        bool hidden = false;
        if (env.slot_status)
            env.slot_status(&player, &vehicle, &state, &mode, &hidden);
        net_log("[core] net: slot -> player %u, vehicle %p state %d mode %d%s, trailers %s, recording %s", player,
                vehicle, state, mode, hidden ? " HIDDEN" : "", remote_trailers ? "on" : "off",
                rec.file ? "yes" : "no");
    } else if (strcmp(sub, "sync") == 0) {
        if (w2[0])
            net_set_interp_mode(atoi(w2));
        net_interp_stats s;
        net_get_interp_stats(&s);
        double n = (double)s.samples;
        net_log("[core] net: sync mode %d (config `sync` keeps it across reloads); %llu frames, %.1f%% extrapolated, "
                "%.1f%% held, %llu teleports, mean delay %.0f ms",
                net_interp_mode(), (unsigned long long)s.samples, n > 0 ? s.extrapolations * 100.0 / n : 0.0,
                n > 0 ? s.long_extrapolations * 100.0 / n : 0.0, (unsigned long long)s.snaps,
                n > 0 ? s.delay_sum * 1000.0 / n : 0.0);
    } else if (strcmp(sub, "trailers") == 0 && w2[0]) {
        remote_trailers = strcmp(w2, "on") == 0;
        net_log("[core] net: remote trailers %s", remote_trailers ? "ON" : "off");
    } else if (strcmp(sub, "record") == 0 && w2[0]) {
        stop_recording_logged();
        if (strcmp(w2, "off") != 0)
            start_recording(w2);
    } else {
        net_log("%s", usage);
    }
}

bool net_load_player_key(const char *path)
{
    net_key.loaded = false;
    if (!path)
        return false;
    uint8_t seed[32];
    bool made = false;
    FILE *f = fopen(path, "rb");
    if (f) {
        char line[80];
        bool ok = fgets(line, sizeof line, f) != nullptr && net_key_parse_line(line, seed);
        fclose(f);
        if (!ok) {
            net_log("[net] %s is damaged; not using a player key (delete it to make a new one)", path);
            return false;
        }
    } else {
        for (int i = 0; i < 8; i++) {
            uint8_t v[4];
            if (BCryptGenRandom(nullptr, v, 4, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) {
                net_log("[net] no random source for a player key");
                SecureZeroMemory(seed, sizeof seed);
                return false;
            }
            memcpy(seed + 4 * i, v, 4);
        }
        char tmp[300], text[256];
        int tn = snprintf(tmp, sizeof tmp, "%s.tmp", path);
        int len = net_key_file_text(seed, text, sizeof text);
        FILE *w = (tn > 0 && (size_t)tn < sizeof tmp) ? fopen(tmp, "wb") : nullptr;
        bool ok = w != nullptr;
        if (w) {
            ok = fwrite(text, 1, (size_t)len, w) == (size_t)len;
            ok = fclose(w) == 0 && ok;
        }
        if (!ok || !MoveFileExA(tmp, path, MOVEFILE_REPLACE_EXISTING)) {
            net_log("[net] can't write %s", path);
            DeleteFileA(tmp);
            SecureZeroMemory(text, sizeof text);
            SecureZeroMemory(seed, sizeof seed);
            return false;
        }
        SecureZeroMemory(text, sizeof text);
        made = true;
    }
    crypto_eddsa_key_pair(net_key.secret, net_key.pub, seed);
    SecureZeroMemory(seed, sizeof seed);
    net_key.loaded = true;
    char fp[17];
    net_key_fingerprint(net_key.pub, fp);
    net_log("[net] player key %s (%s)", fp, made ? "new" : path);
    return true;
}
