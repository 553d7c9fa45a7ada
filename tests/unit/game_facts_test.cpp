// Each fact about the game's memory has one home and one name: an offset,
// slot, routine or class address of 0x100 or more is written in a layout
// header (game_mem.h or a folder's *_game.h), nowhere else, and no game
// address stands there under two names (as an offset from game_base or as a
// game VA alike). Read from the code of core/ (comments and literals left
// out), so a copy cannot come back.
#include <gtest/gtest.h>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>
#include "source_text.h"

namespace fs = std::filesystem;

namespace {

const fs::path core_dir = DM_CORE_DIR;

const unsigned long long game_preferred_base = 0x140000000ULL;

/* Hex definitions of 0x100 or more outside the layout headers that are not
 * game memory, "file name" (the file by its path below core/). */
const std::set<std::string> not_game_memory = {
    // the core's own file and section magics
    "base/shared_section.cpp legacy_magic", "base/shared_section.cpp views_magic",
    "runtime/reload_blocks.h RELOAD_CORE_MAGIC", "runtime/reload_blocks.h RELOAD_TRAILER_MAGIC",
    "runtime/reload_blocks.h RELOAD_NET_MAGIC", "props/props_internal.h PROPS_MAGIC",
    // the layout of the hook blocks the core allocates
    "base/inline_hook.h HOOK_BLOCK_SIZE", "base/inline_hook.h HOOK_BLOCK_DATA",
    // how much of the player block and the truck the memory recorder copies
    "runtime/diagnostics.cpp memrec_block_bytes", "runtime/diagnostics.cpp memrec_truck_bytes",
    // how much of game_ctrl the cargo dump searches
    "vehicles/vehicle_commands.cpp ctrl_scan_bytes",
    // "none" values of the core's own fields
    "runtime/diagnostics.cpp watch_truck_flags", "runtime/diagnostics.cpp watch_slot248",
    "net/net_client_state.h NET_NO_TRAFFIC_SLOT", "ui/nametags.h DM_TAG_NAME_NONE", "props/props_table.cpp props_ray_filter",
    // the game's bit of the light word, for the pure light-word merge (no game memory there)
    "vehicles/motion_math.h MOTION_LIGHT_GAME_BIT",
};

bool is_layout_header(const std::string &name)
{
    std::string file = fs::path(name).filename().string();
    return file == "game_mem.h" || (file.size() > 7 && file.compare(file.size() - 7, 7, "_game.h") == 0);
}

struct definition {
    std::string where; /* "file:line" */
    std::string name;
    unsigned long long value;
};

int line_of(const std::string &code, size_t at) { return 1 + (int)std::count(code.begin(), code.begin() + at, '\n'); }

/* The hex numbers of an initializer. */
void hex_values(const std::string &text, std::vector<unsigned long long> *out)
{
    static const std::regex hex(R"(\b0[xX]([0-9A-Fa-f]+))");
    for (std::sregex_iterator m(text.begin(), text.end(), hex), end; m != end; ++m)
        out->push_back(std::stoull((*m)[1].str(), nullptr, 16));
}

/* Every name a file defines to hex numbers: #define NAME 0x..., and const or
 * constexpr declarations, each declarator of a list and each number of an
 * array or structure initializer under the declared name. Colours
 * (ui_rgb(0x...)) are not read. */
std::vector<definition> definitions_of(const std::string &name, const std::string &text)
{
    std::vector<definition> out;
    static const std::regex colour(R"(ui_rgb\s*\([^)]*\))");
    std::string code = std::regex_replace(source_code_only(text), colour, "ui_rgb()");
    static const std::regex define(R"(#\s*define\s+([A-Za-z_]\w*)[ \t]+\(?\s*(0[xX][0-9A-Fa-f]+)[uUlL]*\s*\)?[ \t]*(\n|$))");
    for (std::sregex_iterator m(code.begin(), code.end(), define), end; m != end; ++m)
        out.push_back({ name + ":" + std::to_string(line_of(code, m->position())), (*m)[1].str(),
                        std::stoull((*m)[2].str(), nullptr, 16) });
    static const std::regex declaration(
        R"(\b(?:const|constexpr)\s+(?:unsigned\s+|struct\s+)?[A-Za-z_][\w:]*(?:\s*\*)?\s+([A-Za-z_]\w*)\s*(?:\[[^\]]*\])?\s*=)");
    static const std::regex next_declarator(R"(^\s*([A-Za-z_]\w*)\s*(?:\[[^\]]*\])?\s*=)");
    for (std::sregex_iterator m(code.begin(), code.end(), declaration), end; m != end; ++m) {
        std::string declared = (*m)[1].str();
        size_t at = m->position() + m->length();
        for (;;) {
            // The initializer: up to a ',' or ';' outside brackets.
            int depth = 0;
            size_t i = at;
            for (; i < code.size(); i++) {
                char c = code[i];
                if (c == '(' || c == '{' || c == '[')
                    depth++;
                else if (c == ')' || c == '}' || c == ']')
                    depth--;
                else if (depth <= 0 && (c == ',' || c == ';'))
                    break;
                if (depth < 0)
                    break;
            }
            std::vector<unsigned long long> values;
            hex_values(code.substr(at, i - at), &values);
            for (unsigned long long v : values)
                out.push_back({ name + ":" + std::to_string(line_of(code, at)), declared, v });
            if (i >= code.size() || code[i] != ',')
                break;
            std::smatch more;
            std::string rest = code.substr(i + 1, 200);
            if (!std::regex_search(rest, more, next_declarator))
                break;
            declared = more[1].str();
            at = i + 1 + more.length();
        }
    }
    return out;
}

/* Reads of game memory at a written number: game_read_guarded...(x + 0x...),
 * game_u64_guarded(x + 0x...), world_read<T>(x + 0x...), a cast deref of
 * (x + 0x...) and game_field<T>(x, 0x...), "file:line: 0x..." for 0x100 and
 * more. */
std::vector<std::string> raw_reads_of(const std::string &name, const std::string &text)
{
    std::vector<std::string> out;
    std::string code = source_code_only(text);
    static const std::regex reads[] = {
        std::regex(R"((?:game_read_guarded(?:_or_zero)?(?:<[^>]*>)?|game_u64_guarded|game_u32_guarded|world_read<[^>]*>|rd<[^>]*>)\s*\(\s*[\w.>()-]*\s*\+\s*(0[xX][0-9A-Fa-f]+))"),
        std::regex(R"(\*\s*\(\s*(?:const\s+)?(?:volatile\s+)?\w+\s*\*\s*\)\s*\(uintptr_t\)\s*\(\s*[\w.>-]+\s*\+\s*(0[xX][0-9A-Fa-f]+))"),
        std::regex(R"(game_field<[^>]*>\s*\([^,()]*,\s*(0[xX][0-9A-Fa-f]+))"),
    };
    for (const std::regex &r : reads)
        for (std::sregex_iterator m(code.begin(), code.end(), r), end; m != end; ++m)
            if (std::stoull((*m)[1].str().substr(2), nullptr, 16) >= 0x100)
                out.push_back(name + ":" + std::to_string(line_of(code, m->position())) + ": " + (*m)[1].str());
    return out;
}

/* A game address as an offset from game_base: VAs at the preferred base are
 * taken back to their offset. */
unsigned long long as_offset(unsigned long long v)
{
    return v >= game_preferred_base && v < game_preferred_base + 0x10000000ULL ? v - game_preferred_base : v;
}

/* "value: name (where), name (where)" for each game address (0x10000 or
 * more, as an offset) that stands under more than one name, or under one
 * name in more than one file. */
std::vector<std::string> two_names(const std::vector<definition> &defs)
{
    std::map<unsigned long long, std::map<std::string, std::string>> names_of; /* "name file" -> where */
    for (const definition &d : defs) {
        unsigned long long v = as_offset(d.value);
        std::string file = d.where.substr(0, d.where.rfind(':'));
        if (v >= 0x10000 && v < 0x10000000ULL)
            names_of[v].emplace(d.name + " " + file, d.where);
    }
    std::vector<std::string> out;
    for (const auto &v : names_of)
        if (v.second.size() > 1) {
            char hex[24];
            snprintf(hex, sizeof hex, "0x%llX:", v.first);
            std::string line = hex;
            for (const auto &n : v.second)
                line += " " + n.first.substr(0, n.first.find(' ')) + " (" + n.second + ")";
            out.push_back(line);
        }
    return out;
}

std::string joined(const std::vector<std::string> &lines)
{
    std::string s;
    for (const std::string &l : lines)
        s += "\n  " + l;
    return s;
}

struct source {
    std::string name; /* path below core/ */
    std::string text;
};

std::vector<source> core_sources()
{
    std::vector<source> out;
    for (const auto &f : fs::recursive_directory_iterator(core_dir)) {
        std::string e = f.path().extension().string();
        if (f.is_regular_file() && (e == ".cpp" || e == ".h"))
            out.push_back({ fs::relative(f.path(), core_dir).generic_string(), source_read(f.path()) });
    }
    return out;
}

} // namespace

TEST(game_facts, TheReaderFindsDefinitionsButNotCommentsOrLiterals)
{
    const char *text = "#define GAME_OFF_A 0x36B8E00u /* 0x1234 */\n"
                       "const uint32_t veh_lights = 0x2A0, veh_steer = 0x690; // 0x999\n"
                       "constexpr uint64_t cls_va = 0x141E22410;\n"
                       "const uint32_t sounds[2] = { 0x1E730,\n 0x1E740 };\n"
                       "core_log(\"at 0x142256940\"); x = 0x500;\n";
    std::vector<definition> d = definitions_of("t", text);
    std::vector<std::string> got;
    for (const definition &x : d)
        got.push_back(x.where + " " + x.name + " " + std::to_string(x.value));
    std::sort(got.begin(), got.end());
    std::vector<std::string> expect = { "t:1 GAME_OFF_A 57380352", "t:2 veh_lights 672", "t:2 veh_steer 1680",
                                        "t:3 cls_va 5400306704",  "t:4 sounds 124720",     "t:4 sounds 124736" };
    EXPECT_EQ(got, expect);
}

TEST(game_facts, RawReadsAtAWrittenOffsetAreFound)
{
    const char *text = "uint32_t f = game_read_guarded_or_zero<uint32_t>(truck + 0x2A0);\n"
                       "uint64_t w = game_u64_guarded(block + 0x150), s = game_u64_guarded(block + 0x18);\n"
                       "float k = *(const float *)(uintptr_t)(light + 0x45E8);\n"
                       "game_field<float>(vehicle, 0x690) = 1; // game_u64_guarded(x + 0x999)\n"
                       "uint64_t named = game_u64_guarded(block + actor_off::lights);\n";
    std::vector<std::string> expect = { "t:1: 0x2A0", "t:2: 0x150", "t:3: 0x45E8", "t:4: 0x690" };
    std::vector<std::string> got = raw_reads_of("t", text);
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, expect);
}

TEST(game_facts, OneAddressUnderTwoNamesIsFoundInEitherForm)
{
    std::vector<definition> defs = {
        { "a.h:1", "world_controller", 0x36B8E00 },    { "b.cpp:2", "off_session", 0x36B8E00 },
        { "a.h:3", "physics_class_va", 0x141E22410 },  { "c.h:4", "GAME_OFF_PHYSICS_CLASS", 0x1E22410 },
        { "a.h:5", "lights", 0x2A0 },                  { "d.h:6", "VEHICLE_LIGHTS", 0x2A0 },
        { "a.h:7", "table", 0x1422E79C8 },             { "a.h:8", "table", 0x1422E79C8 },
        { "e.cpp:9", "class_va", 0x141E22411 },        { "f.cpp:10", "class_va", 0x141E22411 },
    };
    std::vector<std::string> expect = {
        "0x1E22410: GAME_OFF_PHYSICS_CLASS (c.h:4) physics_class_va (a.h:3)",
        "0x1E22411: class_va (e.cpp:9) class_va (f.cpp:10)",
        "0x36B8E00: off_session (b.cpp:2) world_controller (a.h:1)",
    };
    EXPECT_EQ(two_names(defs), expect);
}

TEST(game_facts, GameMemoryIsWrittenOnlyInTheLayoutHeaders)
{
    std::vector<source> sources = core_sources();
    // The check would pass on an empty tree: make sure it reads the headers.
    size_t header_defs = 0;
    std::vector<std::string> bad, raw;
    for (const source &s : sources) {
        std::vector<definition> defs = definitions_of(s.name, s.text);
        if (is_layout_header(s.name)) {
            header_defs += defs.size();
            continue;
        }
        for (const definition &d : defs)
            if (d.value >= 0x100 && !not_game_memory.count(s.name + " " + d.name)) {
                char hex[24];
                snprintf(hex, sizeof hex, "0x%llX", d.value);
                bad.push_back(d.where + ": " + d.name + " = " + hex);
            }
        std::vector<std::string> r = raw_reads_of(s.name, s.text);
        raw.insert(raw.end(), r.begin(), r.end());
    }
    EXPECT_GT(sources.size(), 100u);
    EXPECT_GT(header_defs, 100u);
    EXPECT_TRUE(bad.empty()) << "game memory defined outside the layout headers (move it to game_mem.h or the "
                                "folder's *_game.h):"
                             << joined(bad);
    EXPECT_TRUE(raw.empty()) << "game memory read at a written offset (name it in a layout header):" << joined(raw);
}

TEST(game_facts, NoGameAddressHasTwoNames)
{
    std::vector<definition> all;
    for (const source &s : core_sources()) {
        std::vector<definition> defs = definitions_of(s.name, s.text);
        all.insert(all.end(), defs.begin(), defs.end());
    }
    std::vector<std::string> dup = two_names(all);
    EXPECT_TRUE(dup.empty()) << "one game address under two names (keep one; the other goes in its comment):"
                             << joined(dup);
}
