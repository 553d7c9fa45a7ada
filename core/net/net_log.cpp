// The network client's log: every "[net]" line goes through the function
// the core start hands to net_set_log (until then lines are dropped). No
// windows.h.
#include <stdarg.h>
#include <stdio.h>
#include "net_internal.h"

namespace {

void log_nothing(const char *, ...) {}
dm_log_fn log_function = log_nothing;

} // namespace

void net_set_log(dm_log_fn log) { log_function = log ? log : log_nothing; }

void net_log(const char *fmt, ...)
{
    char line[1024];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    log_function("%s", line);
}
