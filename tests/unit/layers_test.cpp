// The core's floors point one way: core/base includes nothing from another
// core folder, the subsystems (net, vehicles, world, props, online, ui)
// include nothing from core/runtime, the top floor, the vehicles nothing from
// the world or the props, and the online services nothing from the UI. Each
// include names the folder of the header it reaches.
// Read from the #include lines of the tree, each header name resolved to the
// core folder that holds it. And a header declares only what its own folder
// defines: read from the file-scope declarations of the headers and the
// definitions of the sources.
#include <gtest/gtest.h>
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
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

tree read_tree(const fs::path &root = core_dir)
{
    tree t;
    for (const auto &dir : fs::directory_iterator(root)) {
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

/* "file includes header (folder/header)" for each include of a core header
 * that does not name the header's folder. */
std::vector<std::string> unnamed_floors(const tree &t)
{
    std::vector<std::string> out;
    for (const auto &folder : t.files_of)
        for (const fs::path &file : folder.second)
            for (const std::string &name : includes_of(file)) {
                auto where = t.folder_of.find(fs::path(name).filename().string());
                if (where != t.folder_of.end() && name != where->second + "/" + where->first)
                    out.push_back(folder.first + "/" + file.filename().string() + " includes " + name + " (" +
                                  where->second + "/" + where->first + ")");
            }
    return out;
}

/* ---- declarations and definitions at file scope ---- */

/* A file's text at file scope, cut where the compiler would: each piece is a
 * statement ended by ';' (a declaration) or the head of a braced body (a
 * definition). Comments, preprocessor lines and everything inside a body are
 * left out; namespace and extern "C" blocks are looked through. */
struct scope_piece {
    std::string text;
    bool head; /* followed by '{' */
};

std::vector<scope_piece> file_scope_pieces(const fs::path &file)
{
    std::ifstream in(file);
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string src = buffer.str();
    std::vector<scope_piece> out;
    std::vector<bool> opaque; /* one per open brace: true inside a body */
    int opaque_depth = 0;
    std::string piece;
    bool line_start = true;
    for (size_t i = 0; i < src.size(); i++) {
        char c = src[i];
        if (c == '/' && i + 1 < src.size() && src[i + 1] == '/') {
            i = src.find('\n', i);
            if (i == std::string::npos)
                break;
            line_start = true;
            piece += ' ';
            continue;
        }
        if (c == '/' && i + 1 < src.size() && src[i + 1] == '*') {
            i = src.find("*/", i + 2);
            if (i == std::string::npos)
                break;
            i++;
            piece += ' ';
            continue;
        }
        if (line_start && c == '#') { // a preprocessor line, with its continuations
            while (i < src.size() && !(src[i] == '\n' && src[i - 1] != '\\'))
                i++;
            continue;
        }
        if (c == '"' || c == '\'') {
            size_t j = i + 1;
            while (j < src.size() && src[j] != c)
                j += src[j] == '\\' ? 2 : 1;
            if (opaque_depth == 0)
                piece += src.substr(i, j - i + 1);
            i = j;
            line_start = false;
            continue;
        }
        if (c == '\n')
            line_start = true;
        else if (c != ' ' && c != '\t' && c != '\r')
            line_start = false;
        if (c == '{') {
            bool through = false;
            if (opaque_depth == 0) {
                size_t k = piece.find_first_not_of(" \t\r\n");
                std::string t = k == std::string::npos ? "" : piece.substr(k);
                through = t.compare(0, 9, "namespace") == 0 || t.compare(0, 10, "extern \"C\"") == 0;
                if (!through)
                    out.push_back({ piece, true });
                piece.clear();
            }
            opaque.push_back(!through);
            opaque_depth += !through;
            continue;
        }
        if (c == '}') {
            if (!opaque.empty()) {
                opaque_depth -= opaque.back();
                opaque.pop_back();
            }
            if (opaque_depth == 0)
                piece.clear();
            continue;
        }
        if (opaque_depth > 0)
            continue;
        if (c == ';') {
            out.push_back({ piece, false });
            piece.clear();
            continue;
        }
        piece += c;
    }
    return out;
}

bool is_ident(char c) { return isalnum((unsigned char)c) || c == '_'; }

std::string first_word(const std::string &text)
{
    size_t a = text.find_first_not_of(" \t\r\n");
    if (a == std::string::npos)
        return "";
    size_t b = a;
    while (b < text.size() && is_ident(text[b]))
        b++;
    return text.substr(a, b - a);
}

/* The last identifier of text[0, end). */
std::string last_ident(const std::string &text, size_t end)
{
    size_t b = end;
    while (b > 0 && !is_ident(text[b - 1]))
        b--;
    size_t a = b;
    while (a > 0 && is_ident(text[a - 1]))
        a--;
    return text.substr(a, b - a);
}

/* The name a piece declares or defines: a function (the name before its
 * parameters), a pointer to one ("(*name)") or a variable (the name before
 * its initializer or bounds); empty for types, aliases and assertions. */
std::string declared_name(const std::string &text)
{
    std::string word = first_word(text);
    if (word.empty() || word == "typedef" || word == "using" || word == "static_assert" || word == "template" ||
        word == "struct" || word == "enum" || word == "class" || word == "union")
        return "";
    size_t paren = text.find('(');
    size_t assign = text.find('=');
    if (paren != std::string::npos && (assign == std::string::npos || paren < assign)) {
        size_t star = text.find_first_not_of(" \t", paren + 1);
        if (star != std::string::npos && text[star] == '*') { // a pointer to a function
            size_t a = text.find_first_not_of(" \t*", star);
            size_t b = a;
            while (b < text.size() && is_ident(text[b]))
                b++;
            return text.substr(a, b - a);
        }
        return last_ident(text, paren);
    }
    size_t end = std::min(text.find('='), text.find('['));
    return last_ident(text, end == std::string::npos ? text.size() : end);
}

/* Is the piece a definition? A function's or variable's, not a prototype or
 * an extern declaration. */
bool defines(const scope_piece &p)
{
    std::string word = first_word(p.text);
    if (word == "extern" && p.text.find("\"C\"") == std::string::npos)
        return false;
    if (p.head)
        return true;
    size_t paren = p.text.find('(');
    size_t assign = p.text.find('=');
    bool pointer = paren != std::string::npos && p.text.find_first_not_of(" \t", paren + 1) != std::string::npos &&
                   p.text[p.text.find_first_not_of(" \t", paren + 1)] == '*';
    return paren == std::string::npos || pointer || (assign != std::string::npos && assign < paren);
}

/* name -> the core folders whose sources define it */
std::map<std::string, std::set<std::string>> definitions(const tree &t)
{
    std::map<std::string, std::set<std::string>> out;
    for (const auto &folder : t.files_of)
        for (const fs::path &file : folder.second) {
            if (file.extension() != ".cpp")
                continue;
            for (const scope_piece &p : file_scope_pieces(file)) {
                std::string name = declared_name(p.text);
                if (!name.empty() && defines(p))
                    out[name].insert(folder.first);
            }
        }
    return out;
}

/* The functions and variables a header declares (prototypes, externs), not
 * those it defines itself (inline functions, constants). */
std::vector<std::string> declarations_of(const fs::path &header)
{
    std::vector<std::string> out;
    for (const scope_piece &p : file_scope_pieces(header)) {
        std::string name = declared_name(p.text);
        if (!name.empty() && !defines(p))
            out.push_back(name);
    }
    return out;
}

/* "folder/header.h declares name (defined in other)" for each function or
 * variable a header declares (a prototype, an extern) that the core defines
 * only in other folders.
 * Names the core does not define (the host's, a test core's) are not
 * judged. */
std::vector<std::string> foreign_declarations(const tree &t)
{
    std::map<std::string, std::set<std::string>> defined = definitions(t);
    std::vector<std::string> out;
    for (const auto &folder : t.files_of)
        for (const fs::path &file : folder.second) {
            if (file.extension() != ".h")
                continue;
            for (const std::string &name : declarations_of(file)) {
                auto where = defined.find(name);
                if (where == defined.end() || where->second.count(folder.first))
                    continue;
                std::string others;
                for (const std::string &f : where->second)
                    others += (others.empty() ? "" : ", ") + f;
                out.push_back(folder.first + "/" + file.filename().string() + " declares " + name + " (defined in " +
                              others + ")");
            }
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

TEST(layers, TheTreeIsRead)
{
    tree t = read_tree();
    // The check below would pass on an empty tree: make sure it sees the floors.
    for (const char *folder : { "base", "net", "vehicles", "world", "props", "online", "ui", "runtime" })
        EXPECT_FALSE(t.files_of[folder].empty()) << folder;
    EXPECT_EQ(t.folder_of["game_mem.h"], "base");
    EXPECT_EQ(t.folder_of["hooks.h"], "runtime");
}

TEST(layers, BaseIncludesOnlyItself)
{
    tree t = read_tree();
    std::set<std::string> others;
    for (const auto &f : t.files_of)
        if (f.first != "base")
            others.insert(f.first);
    std::vector<std::string> bad = crossings(t, "base", others);
    EXPECT_TRUE(bad.empty()) << "the ground floor reaches up:" << joined(bad);
}

TEST(layers, IncludesNameTheFloorTheyReach)
{
    // "base/own_thread.h", never "own_thread.h": the line itself shows the
    // floor. The check would pass if the reader kept no folder: make sure it
    // sees one.
    std::vector<std::string> worker = includes_of(core_dir / "online" / "service_worker.cpp");
    EXPECT_NE(std::find(worker.begin(), worker.end(), "base/own_thread.h"), worker.end());
    std::vector<std::string> bad = unnamed_floors(read_tree());
    EXPECT_TRUE(bad.empty()) << "an include leaves out its folder:" << joined(bad);
}

TEST(layers, SubsystemsNeverIncludeTheRuntime)
{
    tree t = read_tree();
    std::vector<std::string> bad;
    for (const char *folder : { "net", "vehicles", "world", "props", "online", "ui" }) {
        std::vector<std::string> b = crossings(t, folder, { "runtime" });
        bad.insert(bad.end(), b.begin(), b.end());
    }
    EXPECT_TRUE(bad.empty()) << "a subsystem reaches up into the runtime:" << joined(bad);
}

TEST(layers, ScopeReaderSeesDeclarationsAndDefinitions)
{
    // The check below would pass if the reader saw nothing: make sure it
    // finds names on both sides, the runtime's frame among them.
    tree t = read_tree();
    std::map<std::string, std::set<std::string>> defined = definitions(t);
    EXPECT_EQ(defined["core_frame"], std::set<std::string>{ "runtime" });
    EXPECT_EQ(defined["core_frame_observer"], std::set<std::string>{ "runtime" });
    EXPECT_EQ(defined["game_build_ok"], std::set<std::string>{ "base" });
    std::vector<std::string> runtime_h = declarations_of(core_dir / "runtime" / "runtime.h");
    for (const char *name : { "core_frame_step", "core_frame", "core_frame_observer", "cmd_run" })
        EXPECT_NE(std::find(runtime_h.begin(), runtime_h.end(), name), runtime_h.end()) << name;
    const struct {
        const char *text;
        const char *name;
        bool head, defines;
    } cases[] = {
        { "void core_frame(const dm_frame_info *info)", "core_frame", false, false },
        { "void core_frame(const dm_frame_info *info)", "core_frame", true, true },
        { "extern void (*core_frame_observer)(const char *step)", "core_frame_observer", false, false },
        { "void (*core_frame_observer)(const char *step)", "core_frame_observer", false, true },
        { "extern const char *volatile core_frame_step", "core_frame_step", false, false },
        { "const char *volatile core_frame_step = \"start\"", "core_frame_step", false, true },
        { "hook_counters hook_stats", "hook_stats", false, true },
        { "const frame_step frame_steps[] =", "frame_steps", true, true },
        { "typedef void (*frame_step_fn)(const dm_frame_info *info)", "", false, false },
    };
    for (const auto &c : cases) {
        EXPECT_EQ(declared_name(c.text), c.name) << c.text;
        if (*c.name) {
            EXPECT_EQ(defines({ c.text, c.head }), c.defines) << c.text;
        }
    }
}

/* A small tree of two floors: a header of the lower one declaring the
 * upper one's function is the one finding. */
TEST(layers, AHeaderDeclaringAnotherFoldersFunctionIsFound)
{
    fs::path root = fs::temp_directory_path() / "dm_layers_fixture";
    fs::remove_all(root);
    fs::create_directories(root / "net");
    fs::create_directories(root / "runtime");
    auto write = [&](const fs::path &file, const char *text) { std::ofstream(root / file) << text; };
    write("net/net.h", "#pragma once\n/* the tick */\nvoid net_tick(double now);\n"
                       "extern int net_count;\nvoid step_of_runtime(int x);\n"
                       "inline int net_twice(int x) { return step_of_runtime(x), 2 * x; }\n");
    write("net/net.cpp", "#include \"net.h\"\nnamespace {\nint seen;\n}\nint net_count = 0;\n"
                         "void net_tick(double) { seen++; }\n");
    write("runtime/step.cpp", "#include \"net.h\"\nvoid step_of_runtime(int x)\n{\n    net_tick(x);\n}\n");
    tree t = read_tree(root);
    std::vector<std::string> bad = foreign_declarations(t);
    fs::remove_all(root);
    EXPECT_EQ(bad, std::vector<std::string>{ "net/net.h declares step_of_runtime (defined in runtime)" });
}

TEST(layers, HeadersDeclareOnlyWhatTheirFolderDefines)
{
    tree t = read_tree();
    std::vector<std::string> bad = foreign_declarations(t);
    EXPECT_TRUE(bad.empty()) << "a header declares what another folder defines:" << joined(bad);
}

TEST(layers, LowerSubsystemsNeverIncludeTheOnesAboveThem)
{
    // The props follow the vehicles (vehicles.h), so the vehicles sit below
    // the world and the props: a header of theirs in a vehicles file would
    // close a cycle. The windows show the server list and the updater's
    // state (servers.h, online.h); the services run without the windows, so
    // they know nothing of them.
    const struct {
        const char *folder;
        std::set<std::string> above;
    } floors[] = {
        { "vehicles", { "world", "props" } },
        { "online", { "ui" } },
    };
    tree t = read_tree();
    for (const auto &f : floors) {
        std::vector<std::string> bad = crossings(t, f.folder, f.above);
        EXPECT_TRUE(bad.empty()) << f.folder << " reaches up:" << joined(bad);
    }
}
