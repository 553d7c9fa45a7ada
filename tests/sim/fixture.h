/* A test of the plug-in as the game runs it: a LOCALAPPDATA of its own under
 * build/testout/<executable>/<suite>.<test>/, the plug-in loaded by the simulated game, a
 * core (real or fake) installed where the plug-in looks for it. Paths are UTF-8, as the
 * system's own are, and go through its file layer: a fixture may name its LOCALAPPDATA
 * in any script (appdata_name). */
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <stdio.h>
#include <string>
#include <vector>
#include "dm_file.h"
#include "sim/file_time.h"
#include "sim/reload_sections.h"
#include "sim/sim.h"

namespace fx {

inline std::string exe_dir()
{
    char p[3 * MAX_PATH];
    dm_module_path(nullptr, p, sizeof p);
    *strrchr(p, '\\') = 0;
    return p;
}

/* build/bin/<name>: the binaries of this build. */
inline std::string bin(const std::string &name) { return exe_dir() + "\\" + name; }

/* A profile folder named outside any one ANSI code page (Chinese, Cyrillic,
 * accented Latin: "王芳 Дмитрий Jörg"), as many players' Windows user folders are: a fixture's
 * appdata_name. */
inline const std::string profile_folder_name = "\u738B\u82B3 \u0414\u043C\u0438\u0442\u0440\u0438\u0439 J\u00F6rg";

/* A UTF-8 text as UTF-16, for the wide calls of a test. */
inline std::wstring wide(const std::string &text)
{
    std::wstring out(text.size() + 1, L'\0');
    int n = dm_wide_from_utf8(text.c_str(), &out[0], out.size());
    out.resize(n < 0 ? 0 : n);
    return out;
}

inline bool exists(const std::string &path) { return dm_file_attributes(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

inline std::string read_file(const std::string &path)
{
    std::string out;
    FILE *f = dm_file_open(path.c_str(), "rb");
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
    FILE *f = dm_file_open(path.c_str(), "wb");
    ASSERT_TRUE(f) << path;
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
}

/* Deletes, best effort, the files under dir whose names end in suffix
 * ("" for every file) and, with folders, the emptied folders and dir. */
inline void remove_files(const std::string &dir, const std::string &suffix, bool folders = false)
{
    dm_find_data fd;
    HANDLE h = dm_find_first((dir + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string n = fd.name;
            if (n == "." || n == "..")
                continue;
            std::string p = dir + "\\" + n;
            if (fd.attributes & FILE_ATTRIBUTE_DIRECTORY)
                remove_files(p, suffix, folders);
            else if (n.size() >= suffix.size() && n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0)
                dm_file_delete(p.c_str());
        } while (dm_find_next(h, &fd));
        FindClose(h);
    }
    if (folders)
        RemoveDirectoryW(wide(dir).c_str());
}

inline void remove_tree(const std::string &dir) { remove_files(dir, "", true); }

/* Sets a file's last-write time to now + delta seconds. */
inline void set_write_time(const std::string &path, double delta_seconds)
{
    ASSERT_TRUE(touch_file(path, delta_seconds)) << path;
}

/* build/testout/<executable>/<suite>.<test>, made afresh for the running test. */
inline std::string test_out_dir()
{
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    char exe[3 * MAX_PATH];
    dm_module_path(nullptr, exe, sizeof exe);
    std::string exe_name = strrchr(exe, '\\') + 1;
    exe_name = exe_name.substr(0, exe_name.rfind('.'));
    std::string out = exe_dir() + "\\..\\testout";
    dm_dir_create(out.c_str());
    out += "\\" + exe_name; // executables run side by side
    dm_dir_create(out.c_str());
    std::string dir = out + "\\" + info->test_suite_name() + "." + info->name();
    for (char &c : dir)
        if (c == '/')
            c = '_';
    remove_tree(dir);
    dm_dir_create(dir.c_str());
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
    std::string appdata_name = "appdata"; /* its folder in root (UTF-8), set before SetUp */
    std::string appdata;  /* LOCALAPPDATA */
    std::string base;     /* %LOCALAPPDATA%\drovemark\ */
    bool initialised = false;

    void SetUp() override
    {
        root = test_out_dir();
        appdata = root + "\\" + appdata_name;
        dm_dir_create(appdata.c_str());
        base = appdata + "\\drovemark\\";
        // Through the wide environment, as Windows holds it: Wine sets its own
        // LOCALAPPDATA in every process, whatever the runner's environment says.
        SetEnvironmentVariableW(L"LOCALAPPDATA", wide(appdata).c_str());
        reload_fx::clear_blocks(); // an earlier case's blocks are not this game's
        sim::clock_set(1000.0);
        ASSERT_TRUE(sim::plugin_load(bin("drovemark.dll").c_str()));
    }

    void TearDown() override
    {
        if (initialised)
            sim::plugin_shutdown();
        sim::plugin_unload();
        // A passing test keeps its log and pictures, not its core copies
        // (about 12 MB each, a few GB over a run); a copy still mapped stays.
        if (!HasFailure())
            remove_files(root, ".dll");
    }

    /* Puts a core build where the plug-in loads it from. */
    void install_core(const std::string &dll, const char *as = "drovemark_core.dll")
    {
        dm_dir_create(base.c_str());
        dm_dir_create((base + "core").c_str());
        ASSERT_TRUE(dm_file_copy(bin(dll).c_str(), (base + "core\\" + as).c_str(), FALSE)) << dll;
    }

    void write_config(const std::string &text)
    {
        dm_dir_create(base.c_str());
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
