// The plug-in's own reader of config.ini: integer keys, first line wins. The
// line rule is the one the core reads the file with.
#include "host.h"
#include <stdio.h>
#include <string.h>
#include "dm_config_line.h"
#include "dm_file.h"

int32_t host_config_get_int(const char *key, int32_t def)
{
    char path[DM_PATH_MAX];
    snprintf(path, sizeof path, "%sconfig.ini", host_base_dir);
    FILE *f = dm_file_open(path, "rt");
    if (!f)
        return def;
    char line[CONFIG_LINE_MAX];
    int32_t result = def;
    while (config_read_line(f, line, sizeof line)) {
        int32_t v;
        if (config_line_int(line, key, &v)) {
            result = v;
            break;
        }
    }
    fclose(f);
    return result;
}
