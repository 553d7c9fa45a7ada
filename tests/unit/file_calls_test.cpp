// No file, module or name call of the plug-in, the core or common/ takes an
// ANSI text: every path is UTF-8 and goes through the file layer
// (common/dm_file.h), which calls the wide functions. Read from the code of
// the tree (comments and literals left out), so a call cannot come back.
#include <gtest/gtest.h>
#include <filesystem>
#include <set>
#include <string>
#include <vector>
#include "source_text.h"

namespace fs = std::filesystem;

namespace {

const fs::path source_root = DM_SOURCE_ROOT;

/* Windows functions that take or give an ANSI path or name (the A forms and
 * the plain names, which are the A forms in this build), and the C runtime's
 * calls that open a file by an ANSI path. */
const std::set<std::string> banned = {
    "CreateFile", "CreateFileA", "DeleteFile", "DeleteFileA", "MoveFile", "MoveFileA", "MoveFileEx",
    "MoveFileExA", "MoveFileWithProgressA", "ReplaceFile", "ReplaceFileA", "CopyFile", "CopyFileA", "CopyFileExA",
    "CreateDirectory", "CreateDirectoryA", "CreateDirectoryExA", "RemoveDirectory", "RemoveDirectoryA",
    "GetFileAttributes", "GetFileAttributesA", "GetFileAttributesEx", "GetFileAttributesExA",
    "SetFileAttributes", "SetFileAttributesA", "FindFirstFile", "FindFirstFileA", "FindFirstFileExA",
    "FindNextFile", "FindNextFileA", "WIN32_FIND_DATA", "WIN32_FIND_DATAA", "GetFullPathName",
    "GetFullPathNameA", "GetTempPathA", "GetTempFileNameA", "SearchPathA", "GetCurrentDirectoryA",
    "SetCurrentDirectoryA", "OpenFile", "LoadLibrary", "LoadLibraryA", "LoadLibraryEx", "LoadLibraryExA",
    "GetModuleFileName", "GetModuleFileNameA", "GetModuleHandle", "GetModuleHandleA", "GetModuleHandleEx",
    "GetModuleHandleExA", "GetEnvironmentVariable", "GetEnvironmentVariableA", "ExpandEnvironmentStringsA",
    "GetComputerName", "GetComputerNameA", "GetComputerNameExA", "GetWindowsDirectory", "GetWindowsDirectoryA",
    "GetSystemDirectoryA", "fopen", "fopen_s", "_fsopen", "freopen", "_open", "_sopen", "_sopen_s", "_mkdir",
    "_rmdir", "_unlink", "_access",
};

/* The layer itself: off Windows, fopen takes the UTF-8 path as it is. */
const std::set<std::string> allowed = { "common/dm_file_stream.h fopen" };

bool ident_char(char c) { return isalnum((unsigned char)c) || c == '_'; }

/* "name:line: identifier" for each banned identifier of the code that is not
 * a member (after "." or "->"); a qualified one ("std::fopen") counts. */
std::vector<std::string> banned_uses(const std::string &name, const std::string &text)
{
    std::vector<std::string> out;
    std::string code = source_code_only(text);
    int line = 1;
    for (size_t i = 0; i < code.size();) {
        if (code[i] == '\n') {
            line++;
            i++;
            continue;
        }
        if (!ident_char(code[i]) || (i > 0 && ident_char(code[i - 1]))) {
            i++;
            continue;
        }
        size_t end = i;
        while (end < code.size() && ident_char(code[end]))
            end++;
        std::string word = code.substr(i, end - i);
        size_t before = code.find_last_not_of(" \t", i == 0 ? 0 : i - 1);
        bool member = i > 0 && before != std::string::npos &&
                      (code[before] == '.' || (code[before] == '>' && before > 0 && code[before - 1] == '-'));
        if (!member && banned.count(word))
            out.push_back(name + ":" + std::to_string(line) + ": " + word);
        i = end;
    }
    return out;
}

/* Every .c, .cpp and .h below the folders, by path from the root. */
std::vector<fs::path> sources()
{
    std::vector<fs::path> out;
    for (const char *dir : { "plugin", "core", "common" })
        for (const auto &f : fs::recursive_directory_iterator(source_root / dir)) {
            std::string e = f.path().extension().string();
            if (f.is_regular_file() && (e == ".c" || e == ".cpp" || e == ".h"))
                out.push_back(f.path());
        }
    return out;
}

} // namespace

TEST(file_calls, TheCheckSeesCallsButNotCommentsLiteralsOrMembers)
{
    const char *text = "FILE *f = fopen(p, \"rt\");\n"
                       "// fopen(p) in a comment\n"
                       "/* GetFileAttributesA(p) */ log(\"CreateFileA failed\", 'x');\n"
                       "list.fopen(x); q->LoadLibraryA(y); std::fopen(a, b);\n"
                       "h = ::LoadLibraryA(name); HMODULE m = GetModuleHandleA (nullptr);\n"
                       "dm_file_open(p, \"rt\"); MoveFileExW(a, b, 0); my_fopen(p);\n";
    std::vector<std::string> expect = { "t:1: fopen", "t:4: fopen", "t:5: LoadLibraryA", "t:5: GetModuleHandleA" };
    EXPECT_EQ(banned_uses("t", text), expect);
}

TEST(file_calls, NoAnsiFileModuleOrNameCallInThePluginTheCoreOrCommon)
{
    std::vector<std::string> bad;
    size_t files = 0, layer_calls = 0;
    for (const fs::path &p : sources()) {
        std::string text = source_read(p);
        files++;
        layer_calls += text.find("dm_file_open(") != std::string::npos;
        std::string name = fs::relative(p, source_root).generic_string();
        for (const std::string &use : banned_uses(name, text))
            if (!allowed.count(name + " " + use.substr(use.rfind(' ') + 1)))
                bad.push_back(use);
    }
    // The check would pass on an empty tree: make sure it reads the sources.
    EXPECT_GT(files, 100u);
    EXPECT_GT(layer_calls, 5u);
    std::string lines;
    for (const std::string &l : bad)
        lines += "\n  " + l;
    EXPECT_TRUE(bad.empty()) << "ANSI file calls (use common/dm_file.h or dm_env.h):" << lines;
}
