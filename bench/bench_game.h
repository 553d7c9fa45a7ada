/* The benchmarks that run the real plug-in and core in the simulated game:
 * the folder beside the executable, a LOCALAPPDATA with the core and a
 * config.ini, and the plug-in's log read back. */
#pragma once
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <string>

inline std::string bench_exe_dir()
{
    char p[MAX_PATH];
    GetModuleFileNameA(nullptr, p, sizeof p);
    *strrchr(p, '\\') = 0;
    return p;
}

/* root\appdata as LOCALAPPDATA, with the core (the given build beside the
 * executable) where the plug-in loads it, the config given and no log from
 * an earlier run; the plug-in's folder (root\appdata\drovemark), or empty
 * when something could not be made. */
inline std::string bench_game_folder(const std::string &root, const char *config,
                                     const char *core = "drovemark_core.dll")
{
    std::string appdata = root + "\\appdata", base = appdata + "\\drovemark";
    for (const std::string &d : { root, appdata, base, base + "\\core" })
        CreateDirectoryA(d.c_str(), nullptr);
    DeleteFileA((base + "\\drovemark.log").c_str());
    if (!CopyFileA((bench_exe_dir() + "\\" + core).c_str(), (base + "\\core\\drovemark_core.dll").c_str(),
                   FALSE))
        return "";
    FILE *c = fopen((base + "\\config.ini").c_str(), "wb");
    if (!c)
        return "";
    fputs(config, c);
    fclose(c);
    SetEnvironmentVariableA("LOCALAPPDATA", appdata.c_str());
    return base;
}

/* The number of the log's lines that contain the text. */
inline int bench_log_count(const std::string &log_path, const char *text)
{
    int n = 0;
    FILE *f = fopen(log_path.c_str(), "rb");
    if (!f)
        return 0;
    char line[1024];
    while (fgets(line, sizeof line, f))
        n += strstr(line, text) != nullptr;
    fclose(f);
    return n;
}
