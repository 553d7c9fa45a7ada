/* Reading the tree's own sources as text, for the tests that check the
 * code (not its comments or literals) of every file. */
#pragma once
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

inline std::string source_read(const std::filesystem::path &p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

/* The code of a C or C++ text with comments, string and character literals
 * blanked (line breaks kept, so line numbers stay). */
inline std::string source_code_only(const std::string &text)
{
    std::string out = text;
    size_t i = 0, n = text.size();
    auto blank = [&](size_t from, size_t to) {
        for (size_t k = from; k < to && k < n; k++)
            if (out[k] != '\n')
                out[k] = ' ';
    };
    while (i < n) {
        if (text.compare(i, 2, "//") == 0) {
            size_t end = text.find('\n', i);
            end = end == std::string::npos ? n : end;
            blank(i, end);
            i = end;
        } else if (text.compare(i, 2, "/*") == 0) {
            size_t end = text.find("*/", i + 2);
            end = end == std::string::npos ? n : end + 2;
            blank(i, end);
            i = end;
        } else if (text[i] == '"' || text[i] == '\'') {
            char quote = text[i];
            size_t k = i + 1;
            while (k < n && text[k] != quote && text[k] != '\n')
                k += text[k] == '\\' ? 2 : 1;
            blank(i, k + 1);
            i = k + 1;
        } else {
            i++;
        }
    }
    return out;
}

