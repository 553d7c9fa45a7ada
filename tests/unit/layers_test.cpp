// The core's floors point one way: core/base includes nothing from another
// core folder, the subsystems (net, vehicles, world, ui) include nothing
// from core/runtime, the top floor, and the vehicles nothing from the world. Read from the #include lines of the
// tree, each header name resolved to the core folder that holds it.
#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path core_dir = DM_CORE_DIR;

bool is_source(const fs::path &p)
{
    std::string e = p.extension().string();
    return e == ".cpp" || e == ".h";
}

/* Every quoted include of a file, in order. */
std::vector<std::string> includes_of(const fs::path &file)
{
    std::vector<std::string> out;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        size_t i = line.find_first_not_of(" \t");
        if (i == std::string::npos || line.compare(i, 8, "#include") != 0)
            continue;
        size_t open = line.find('"', i);
        size_t close = open == std::string::npos ? open : line.find('"', open + 1);
        if (close != std::string::npos)
            out.push_back(line.substr(open + 1, close - open - 1));
    }
    return out;
}

struct tree {
    std::map<std::string, std::string> folder_of;             /* header name -> core folder */
    std::map<std::string, std::vector<fs::path>> files_of;    /* core folder -> its sources */
};

tree read_tree()
{
    tree t;
    for (const auto &dir : fs::directory_iterator(core_dir)) {
        if (!dir.is_directory())
            continue;
        std::string folder = dir.path().filename().string();
        for (const auto &f : fs::directory_iterator(dir.path())) {
            if (!is_source(f.path()))
                continue;
            t.files_of[folder].push_back(f.path());
            if (f.path().extension() == ".h")
                t.folder_of[f.path().filename().string()] = folder;
        }
    }
    return t;
}

/* "file includes header (folder)" for each include of a folder's files that
 * lands in a folder of `forbidden`. */
std::vector<std::string> crossings(const tree &t, const std::string &folder, const std::set<std::string> &forbidden)
{
    std::vector<std::string> out;
    auto files = t.files_of.find(folder);
    if (files == t.files_of.end())
        return out;
    for (const fs::path &file : files->second)
        for (const std::string &name : includes_of(file)) {
            auto where = t.folder_of.find(fs::path(name).filename().string());
            if (where != t.folder_of.end() && forbidden.count(where->second))
                out.push_back(folder + "/" + file.filename().string() + " includes " + name + " (" +
                              where->second + ")");
        }
    return out;
}

std::string joined(const std::vector<std::string> &lines)
{
    std::string s;
    for (const auto &l : lines)
        s += "\n  " + l;
    return s;
}

} // namespace

TEST(Layers, TheTreeIsRead)
{
    tree t = read_tree();
    // The check below would pass on an empty tree: make sure it sees the floors.
    for (const char *folder : { "base", "net", "vehicles", "world", "ui", "runtime" })
        EXPECT_FALSE(t.files_of[folder].empty()) << folder;
    EXPECT_EQ(t.folder_of["game_mem.h"], "base");
    EXPECT_EQ(t.folder_of["hooks.h"], "runtime");
}

TEST(Layers, BaseIncludesOnlyItself)
{
    tree t = read_tree();
    std::set<std::string> others;
    for (const auto &f : t.files_of)
        if (f.first != "base")
            others.insert(f.first);
    std::vector<std::string> bad = crossings(t, "base", others);
    EXPECT_TRUE(bad.empty()) << "the ground floor reaches up:" << joined(bad);
}

TEST(Layers, SubsystemsNeverIncludeTheRuntime)
{
    tree t = read_tree();
    std::vector<std::string> bad;
    for (const char *folder : { "net", "vehicles", "world", "ui" }) {
        std::vector<std::string> b = crossings(t, folder, { "runtime" });
        bad.insert(bad.end(), b.begin(), b.end());
    }
    EXPECT_TRUE(bad.empty()) << "a subsystem reaches up into the runtime:" << joined(bad);
}

TEST(Layers, TheVehiclesNeverIncludeTheWorld)
{
    // The world's props follow the vehicles (vehicles.h), so the vehicles sit
    // below the world: a world header in a vehicles file would close a cycle.
    tree t = read_tree();
    std::vector<std::string> bad = crossings(t, "vehicles", { "world" });
    EXPECT_TRUE(bad.empty()) << "the vehicles reach up into the world:" << joined(bad);
}
