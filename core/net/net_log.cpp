// The network client's log: every "[net]" line goes through the function
// the core start hands to net_set_log (until then lines are dropped). Lines
// that a server's datagrams cause are bounded: the log flushes each line on
// the game thread, and a server sending hundreds of datagrams a frame would
// otherwise stall the game through it. No windows.h.
#include <stdarg.h>
#include <stdio.h>
#include "net/net_internal.h"

namespace {

void log_nothing(const char *, ...) {}
dm_log_fn log_function = log_nothing;

// A second opens with the first server line after the previous one ended.
struct server_line_budget {
    double now;
    double second_began;
    int written;      /* in the current second */
    uint32_t dropped; /* not yet reported */
    bool counting;    /* a second is open */
} budget;

void write_line(const char *fmt, va_list ap)
{
    char line[1024];
    vsnprintf(line, sizeof line, fmt, ap);
    log_function("%s", line);
}

bool second_over()
{
    return !budget.counting || budget.now - budget.second_began >= 1.0 || budget.now < budget.second_began;
}

void report_dropped()
{
    if (budget.dropped == 0)
        return;
    uint32_t dropped = budget.dropped;
    budget.dropped = 0;
    net_log("[net] %u lines caused by the server were not logged (at most %d a second)", dropped,
            NET_LOG_SERVER_LINES_PER_SECOND);
}

} // namespace

void net_set_log(dm_log_fn log)
{
    log_function = log ? log : log_nothing;
    budget = server_line_budget();
}

void net_log(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    write_line(fmt, ap);
    va_end(ap);
}

void net_log_clock(double now)
{
    budget.now = now;
    if (budget.counting && second_over()) {
        report_dropped();
        budget.counting = false;
    }
}

void net_log_server(const char *fmt, ...)
{
    if (second_over()) {
        report_dropped();
        budget.counting = true;
        budget.second_began = budget.now;
        budget.written = 0;
    }
    if (budget.written >= NET_LOG_SERVER_LINES_PER_SECOND) {
        budget.dropped++;
        return;
    }
    budget.written++;
    va_list ap;
    va_start(ap, fmt);
    write_line(fmt, ap);
    va_end(ap);
}
