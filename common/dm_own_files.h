/* The system's own files and folders in the base directory, which a file
 * that a command names (a memory or a network recording) must never
 * replace. Pure: the core's commands and the unit tests share it.
 *
 * A path is checked part by part (parts end at "\", "/" and ":"), so an own
 * name is refused wherever it stands: "config.ini", "core\x.csv",
 * "x\..\config.ini", "C:\game\drovemark\config.ini" and "config.ini::$DATA"
 * alike. Windows drops trailing dots and blanks from a name ("config.ini. "
 * is config.ini), so they are dropped before comparing, and a part of only
 * dots (".", "..", "...") is refused. Names compare case-insensitively. An
 * absolute path elsewhere that passes through a folder named like an own
 * one is refused too: the check cannot tell where a path really leads. */
#pragma once
#include <ctype.h>
#include <stddef.h>
#include <string.h>

/* Whether the n bytes at part name an own file or folder (or are only dots
 * and blanks). */
static inline bool dm_own_file_name(const char *part, size_t n)
{
    static const char *const own[] = {
        "drovemark.log", "config.ini", "config.ini.new", "imgui.ini", "identity.key", "cmd.txt",
        "cmd.txt.taken", "state.json", "state.json.tmp", "servers.json", "servers_cache.json",
        "favorites.txt", "models.txt", "core", "update",
    };
    while (n > 0 && (part[n - 1] == '.' || part[n - 1] == ' '))
        n--;
    if (n == 0)
        return true;
    for (const char *name : own) {
        if (strlen(name) != n)
            continue;
        size_t i = 0;
        while (i < n && tolower((unsigned char)part[i]) == tolower((unsigned char)name[i]))
            i++;
        if (i == n)
            return true;
    }
    return false;
}

/* False for an empty path and for one with a part that names an own file or
 * folder (or is only dots), as above. */
static inline bool dm_recording_path_allowed(const char *path)
{
    if (!path[0])
        return false;
    for (const char *p = path;;) {
        size_t n = strcspn(p, "\\/:");
        if (n > 0 && dm_own_file_name(p, n))
            return false;
        if (!p[n])
            return true;
        p += n + 1;
    }
}
