/* A file's last-write time set to now + delta seconds: what makes the
 * plug-in's hot reload see the core file changed. For the tests (fixture.h)
 * and the benchmarks alike; no test framework. */
#pragma once
#include <windows.h>
#include <stdint.h>
#include <string>
#include "dm_file.h"

namespace fx {

inline bool touch_file(const std::string &path, double delta_seconds)
{
    HANDLE h = dm_file_create(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER u;
    u.LowPart = ft.dwLowDateTime;
    u.HighPart = ft.dwHighDateTime;
    u.QuadPart += (int64_t)(delta_seconds * 1e7);
    ft.dwLowDateTime = u.LowPart;
    ft.dwHighDateTime = u.HighPart;
    bool ok = SetFileTime(h, nullptr, nullptr, &ft) != 0;
    CloseHandle(h);
    return ok;
}

} // namespace fx
