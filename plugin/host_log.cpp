// drovemark.log: one writer for the plug-in and the core. Each line is
// formatted whole into a bounded buffer and written once under the log's own
// lock, so lines from several threads never interleave and a late writer
// never touches a closed stream.
#include "host.h"
#include <share.h>
#include <stdarg.h>
#include <stdio.h>
#include "dm_file.h"

static SRWLOCK log_lock = SRWLOCK_INIT;
static FILE *log_file;

bool host_log_open(const char *path)
{
    FILE *f = dm_file_open_shared(path, "at", _SH_DENYWR);
    DWORD error = f ? 0 : GetLastError();
    AcquireSRWLockExclusive(&log_lock);
    log_file = f;
    ReleaseSRWLockExclusive(&log_lock);
    SetLastError(error); // the open's, for the caller's message
    return f != nullptr;
}

void host_log_close()
{
    AcquireSRWLockExclusive(&log_lock);
    if (log_file)
        fclose(log_file);
    log_file = nullptr;
    ReleaseSRWLockExclusive(&log_lock);
}

extern "C" void host_log(const char *fmt, ...)
{
    char line[2048];
    SYSTEMTIME t;
    GetLocalTime(&t);
    int n = snprintf(line, sizeof line, "%02d:%02d:%02d.%03d ", t.wHour, t.wMinute, t.wSecond,
                     t.wMilliseconds);
    va_list ap;
    va_start(ap, fmt);
    int m = vsnprintf(line + n, sizeof line - n - 1, fmt, ap);
    va_end(ap);
    size_t len = n + (m < 0 ? 0 : (size_t)m);
    if (len > sizeof line - 2)
        len = sizeof line - 2; // cut, but the line still ends
    line[len++] = '\n';
    line[len] = 0;
    AcquireSRWLockExclusive(&log_lock);
    if (log_file) {
        fwrite(line, 1, len, log_file);
        fflush(log_file);
    }
    ReleaseSRWLockExclusive(&log_lock);
}
