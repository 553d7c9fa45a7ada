// The plug-in's own reader of config.ini: integer keys, first line wins. The
// file's bytes and the line rule are the ones the core reads the file with.
#include "host.h"
#include <stdio.h>
#include <string.h>
#include "dm_config_file.h"
#include "dm_config_line.h"
#include "dm_file.h"

int32_t host_config_get_int(const char *key, int32_t def, char *text, size_t size)
{
    snprintf(text, size, "%d", def);
    char path[DM_PATH_MAX];
    snprintf(path, sizeof path, "%sconfig.ini", host_base_dir);
    config_file f = {};
    int32_t result = def;
    if (config_file_read(path, &f)) {
        char line[CONFIG_LINE_MAX], value[CONFIG_LINE_MAX];
        size_t pos = 0;
        while (config_file_next(&f, &pos, line, sizeof line)) {
            if (!config_line_value(line, key, value, sizeof value))
                continue;
            int32_t v;
            if (config_number(value, &v)) {
                result = v;
                snprintf(text, size, "%s", value);
            } else {
                host_log("[host] config: %s = '%s' refused (" CONFIG_DIGITS_RULE "); using %d", key, value, def);
            }
            break;
        }
    }
    config_file_free(&f);
    return result;
}
