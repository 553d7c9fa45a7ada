/* A test of the plug-in as the game runs it: a LOCALAPPDATA of its own under
 * build/testout/<executable>/<suite>.<test>/, the plug-in loaded by the simulated game, a
 * core (real or fake) installed where the plug-in looks for it. */
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <stdio.h>
#include <string>
#include <vector>
#include "sim/sim.h"

namespace fx {

inline std::string exe_dir()
{
    char p[MAX_PATH];
    GetModuleFileNameA(nullptr, p, sizeof p);
    *strrchr(p, '\\') = 0;
    return p;
}

/* build/bin/<name>: the binaries of this build. */
inline std::string bin(const std::string &name) { return exe_dir() + "\\" + name; }

inline bool exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

inline std::string read_file(const std::string &path)
{
    std::string out;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    fclose(f);
    return out;
}

inline void write_file(const std::string &path, const std::string &text)
{
    FILE *f = fopen(path.c_str(), "wb");
    ASSERT_TRUE(f) << path;
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
}

inline void remove_tree(const std::string &dir)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string n = fd.cFileName;
            if (n == "." || n == "..")
                continue;
            std::string p = dir + "\\" + n;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                remove_tree(p);
            else
                DeleteFileA(p.c_str());
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
}

/* Sets a file's last-write time to now + delta seconds. */
inline void set_write_time(const std::string &path, double delta_seconds)
{
    HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER u;
    u.LowPart = ft.dwLowDateTime;
    u.HighPart = ft.dwHighDateTime;
    u.QuadPart += (int64_t)(delta_seconds * 1e7);
    ft.dwLowDateTime = u.LowPart;
    ft.dwHighDateTime = u.HighPart;
    SetFileTime(h, nullptr, nullptr, &ft);
    CloseHandle(h);
}

/* build/testout/<executable>/<suite>.<test>, made afresh for the running test. */
inline std::string test_out_dir()
{
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, sizeof exe);
    std::string exe_name = strrchr(exe, '\\') + 1;
    exe_name = exe_name.substr(0, exe_name.rfind('.'));
    std::string out = exe_dir() + "\\..\\testout";
    CreateDirectoryA(out.c_str(), nullptr);
    out += "\\" + exe_name; // executables run side by side
    CreateDirectoryA(out.c_str(), nullptr);
    std::string dir = out + "\\" + info->test_suite_name() + "." + info->name();
    for (char &c : dir)
        if (c == '/')
            c = '_';
    remove_tree(dir);
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

/* Wall time of fn() in milliseconds. */
template <class F> double timed_ms(F &&fn)
{
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    fn();
    QueryPerformanceCounter(&b);
    return (double)(b.QuadPart - a.QuadPart) * 1000.0 / (double)f.QuadPart;
}

class game_test : public ::testing::Test {
protected:
    std::string root;     /* build/testout/<executable>/<suite>.<test> */
    std::string appdata;  /* LOCALAPPDATA */
    std::string base;     /* %LOCALAPPDATA%\drovemark\ */
    bool initialised = false;

    void SetUp() override
    {
        root = test_out_dir();
        appdata = root + "\\appdata";
        CreateDirectoryA(appdata.c_str(), nullptr);
        base = appdata + "\\drovemark\\";
        SetEnvironmentVariableA("LOCALAPPDATA", appdata.c_str());
        sim::clock_set(1000.0);
        ASSERT_TRUE(sim::plugin_load(bin("drovemark.dll").c_str()));
    }

    void TearDown() override
    {
        if (initialised)
            sim::plugin_shutdown();
        sim::plugin_unload();
    }

    /* Puts a core build where the plug-in loads it from. */
    void install_core(const std::string &dll, const char *as = "drovemark_core.dll")
    {
        CreateDirectoryA(base.c_str(), nullptr);
        CreateDirectoryA((base + "core").c_str(), nullptr);
        ASSERT_TRUE(CopyFileA(bin(dll).c_str(), (base + "core\\" + as).c_str(), FALSE)) << dll;
    }

    void write_config(const std::string &text)
    {
        CreateDirectoryA(base.c_str(), nullptr);
        write_file(base + "config.ini", text);
    }

    int32_t init(uint32_t version = SCS_TELEMETRY_VERSION_1_01,
                 const sim::telemetry_config &cfg = sim::telemetry_config())
    {
        int32_t r = sim::plugin_init(version, cfg);
        initialised = true; // shutdown is safe after any init result
        return r;
    }

    void shutdown()
    {
        sim::plugin_shutdown();
        initialised = false;
    }

    /* drovemark.log without the time stamps. */
    std::vector<std::string> log_lines()
    {
        std::vector<std::string> out;
        std::string text = read_file(base + "drovemark.log");
        size_t pos = 0;
        while (pos < text.size()) {
            size_t end = text.find('\n', pos);
            if (end == std::string::npos)
                end = text.size();
            std::string line = text.substr(pos, end - pos);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.size() > 13 && line[2] == ':' && line[12] == ' ')
                line = line.substr(13);
            out.push_back(line);
            pos = end + 1;
        }
        return out;
    }

    /* Index of the first log line that starts with the text, or -1. */
    int log_find(const std::string &prefix, int from = 0)
    {
        auto lines = log_lines();
        for (int i = from; i < (int)lines.size(); i++)
            if (lines[i].compare(0, prefix.size(), prefix) == 0)
                return i;
        return -1;
    }

    int log_count(const std::string &prefix)
    {
        int n = 0;
        for (auto &l : log_lines())
            if (l.compare(0, prefix.size(), prefix) == 0)
                n++;
        return n;
    }

    /* The generation of the core loaded last (from log line `from` on), 0 when none. */
    int core_generation(int from = 0)
    {
        int n = 0;
        auto lines = log_lines();
        for (int i = from; i < (int)lines.size(); i++)
            sscanf(lines[i].c_str(), "[host] core generation %d loaded", &n);
        return n;
    }

    std::string log_text()
    {
        std::string s;
        for (auto &l : log_lines())
            s += l + "\n";
        return s;
    }
};

} // namespace fx
