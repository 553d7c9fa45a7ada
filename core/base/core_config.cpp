// config.ini for the core: the settings in force (core_config) and the
// single-key reader and writer of the UI, the join path and the server list.
// The file is read as bytes (dm_config_file.h) and written whole through
// config.ini.new, which replaces it in one move: a reader on another thread
// sees the old file or the new one.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "base/core.h"
#include "base/core_config.h"
#include "dm_config_file.h"
#include "dm_file.h"

client_config core_config;
bool core_remote_mode_by_command;

namespace {

SRWLOCK config_lock = SRWLOCK_INIT;

/* The text into "config.ini.new" (with the UTF-8 byte-order mark first when
 * the file had one), moved over config.ini. Nothing is left behind when it
 * fails. Under config_lock. */
bool config_store(const char *path, const char *tmp, const char *text, size_t len, bool bom)
{
    FILE *out = dm_file_open(tmp, "wb");
    if (!out)
        return false;
    bool ok = (!bom || fwrite("\xEF\xBB\xBF", 1, 3, out) == 3) && fwrite(text, 1, len, out) == len;
    ok = fclose(out) == 0 && ok;
    ok = ok && dm_file_move(tmp, path, MOVEFILE_REPLACE_EXISTING);
    if (!ok)
        dm_file_delete(tmp);
    return ok;
}

/* Writes config.ini anew under the lock, as UTF-8: with key set to value
 * when key is given, else only when the file is UTF-16. *was is the encoding
 * the file had. */
bool config_rewrite(const char *key, const char *value, int *was)
{
    char path[DM_PATH_MAX], tmp[DM_PATH_MAX];
    if (!core_path(path, sizeof path, "config.ini") || !core_path(tmp, sizeof tmp, "config.ini.new"))
        return false;
    AcquireSRWLockExclusive(&config_lock);
    config_file f = {};
    bool ok = false;
    // A missing file is an empty one; one that cannot be read, or that is
    // longer than can be read, is never replaced by a part of it.
    bool read = config_file_read(path, &f);
    if (!read && dm_file_attributes(path) == INVALID_FILE_ATTRIBUTES)
        read = config_file_decode((const uint8_t *)"", 0, &f);
    *was = f.encoding;
    bool utf16 = f.encoding == CONFIG_UTF16LE || f.encoding == CONFIG_UTF16BE;
    if (read && !f.cut) {
        if (!key) {
            ok = !utf16 || config_store(path, tmp, f.text, f.len, false);
        } else {
            size_t room = config_text_set_room(f.len, key, value);
            char *text = (char *)malloc(room);
            long n = text ? config_text_set(f.text, f.len, key, value, text, room) : -1;
            ok = n >= 0 && config_store(path, tmp, text, (size_t)n, f.encoding == CONFIG_UTF8_BOM);
            free(text);
        }
    }
    config_file_free(&f);
    ReleaseSRWLockExclusive(&config_lock);
    return ok;
}

void say_converted(int was, bool ok)
{
    if (was == CONFIG_UTF16LE || was == CONFIG_UTF16BE)
        core_log(ok ? "[core] config: config.ini was %s; written back as UTF-8, every line kept"
                    : "[core] config: config.ini is %s; read, but it could not be written back as UTF-8",
                 config_encoding_name(was));
}

} // namespace

bool config_get(const char *key, char *out, size_t size)
{
    if (!core_api || size == 0)
        return false;
    out[0] = 0;
    char path[DM_PATH_MAX];
    config_file f = {};
    if (!core_path(path, sizeof path, "config.ini") || !config_file_read(path, &f)) {
        config_file_free(&f);
        return false;
    }
    char line[CONFIG_LINE_MAX];
    size_t pos = 0;
    while (config_file_next(&f, &pos, line, sizeof line)) {
        char *k, *v;
        if (config_split_line(line, &k, &v) && config_key_equal(k, key))
            snprintf(out, size, "%s", v);
    }
    config_file_free(&f);
    return out[0] != 0;
}

bool config_set(const char *key, const char *value)
{
    if (!core_api)
        return false;
    int was = CONFIG_UTF8;
    // A CR or LF would split the line and a blank key can never be read back.
    bool ok = config_set_allowed(key, value) && config_rewrite(key, value, &was);
    core_log("[core] ui: config %s = %s%s", key ? key : "", value ? value : "", ok ? "" : " (write FAILED)");
    say_converted(was, ok);
    return ok;
}

bool config_store_utf8()
{
    if (!core_api)
        return false;
    int was = CONFIG_UTF8;
    bool ok = config_rewrite(nullptr, nullptr, &was);
    say_converted(was, ok);
    return ok;
}
