/* A log function for tests that start the core's code with a host API of
 * their own: it keeps every line, whichever thread wrote it. */
#pragma once
#include <stdarg.h>
#include <stdio.h>
#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace fx {

inline std::mutex &captured_mutex()
{
    static std::mutex m;
    return m;
}
inline std::vector<std::string> &captured_store()
{
    static std::vector<std::string> lines;
    return lines;
}

inline void capture_log(const char *fmt, ...) __attribute__((format(gnu_printf, 1, 2)));
inline void capture_log(const char *fmt, ...)
{
    char line[2048];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    std::lock_guard<std::mutex> g(captured_mutex());
    captured_store().push_back(line);
}

inline std::vector<std::string> captured()
{
    std::lock_guard<std::mutex> g(captured_mutex());
    return captured_store();
}
inline void captured_clear()
{
    std::lock_guard<std::mutex> g(captured_mutex());
    captured_store().clear();
}
inline std::string captured_last()
{
    std::lock_guard<std::mutex> g(captured_mutex());
    return captured_store().empty() ? "" : captured_store().back();
}
/* A line as the code under test would format it, to compare with one it logged. */
inline std::string fmt(const char *f, ...) __attribute__((format(gnu_printf, 1, 2)));
inline std::string fmt(const char *f, ...)
{
    char buf[2048];
    va_list ap;
    va_start(ap, f);
    vsnprintf(buf, sizeof buf, f, ap);
    va_end(ap);
    return buf;
}

inline bool captured_has(const std::string &line)
{
    std::lock_guard<std::mutex> g(captured_mutex());
    auto &l = captured_store();
    return std::find(l.begin(), l.end(), line) != l.end();
}

} // namespace fx
