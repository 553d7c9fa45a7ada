// The core's globals and its log: what every floor of the core writes
// through.
#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include "base/core.h"
#include "dm_module.h"

const dm_host_api *core_api;
uint64_t game_base;
uint32_t core_game_thread;

void core_logv(const char *fmt, va_list ap)
{
    const dm_host_api *api = core_api;
    if (!api || !api->log)
        return;
    char line[1536];
    vsnprintf(line, sizeof line, fmt, ap);
    api->log("%s", line);
}

void core_log(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    core_logv(fmt, ap);
    va_end(ap);
}

bool core_path(char *out, unsigned size, const char *name)
{
    const char *base = core_api ? core_api->base_dir : "";
    int n = snprintf(out, size, "%s%s", base, name);
    return n >= 0 && (unsigned)n < size;
}

void core_pin_self()
{
    dm_module_pin((const void *)&core_pin_self);
}

void log_telemetry_pos(const dm_frame_info *info)
{
    core_log("[core] telemetry pos x=%.3f y=%.3f z=%.3f heading=%.4f pitch=%.4f roll=%.4f speed=%.2f paused=%d",
             info->x, info->y, info->z, info->heading, info->pitch, info->roll, info->speed, (int)info->paused);
}
