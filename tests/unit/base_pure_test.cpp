// The ground floor's pure logic: command matching, config.ini text and
// sector placement.
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include "base/cmd_table.h"
#include "base/config_text.h"
#include "base/placement.h"

namespace {

std::string rest_text(const char *rest) { return rest ? std::string("[") + rest + "]" : "null"; }

} // namespace

namespace {

void no_handler(const cmd_call &) {}

// A row of each kind, in orders the console's table relies on (its own rows
// are checked in tests/runtime/cmd_rows_test.cpp, with the core linked).
const cmd_row kind_rows[] = {
    { "ping", CMD_EXACT, true, no_handler },
    { "update", CMD_WORD, true, no_handler },
    { "spawn", CMD_WORD_DEFAULT, false, no_handler },
    { "trailer", CMD_EXACT, false, no_handler },
    { "trailer off", CMD_EXACT, false, no_handler },
    { "peek ", CMD_PREFIX, false, no_handler },
    { "spawnlist ", CMD_PREFIX, false, no_handler },
    { "flags off", CMD_EXACT, false, no_handler },
    { "flags ", CMD_PREFIX_SPAWNED, false, no_handler },
    { "net collide on", CMD_EXACT, true, no_handler },
    { "net", CMD_WORD_DEFAULT, true, no_handler },
};

} // namespace

// Each kind of row, the rest it leaves, and the first match winning.
TEST(cmd_table, EachKindMatchesItsLines)
{
    struct { const char *line; bool spawned; const char *word; const char *rest; } cases[] = {
        { "ping", false, "ping", "[]" }, { "ping ", false, nullptr, "null" }, { "PING", false, nullptr, "null" },
        { "update", false, "update", "[]" }, { "update off", false, "update", "[ off]" },
        { "updates", false, nullptr, "null" },
        { "spawn", false, "spawn", "null" }, { "spawn 12", false, "spawn", "[12]" },
        { "spawn ", false, "spawn", "[]" }, { "spawnx", false, nullptr, "null" },
        { "trailer off", false, "trailer off", "[]" },
        { "peek 0x140000000+8", false, "peek ", "[0x140000000+8]" }, { "peek", false, nullptr, "null" },
        { "spawnlist l.txt 8", false, "spawnlist ", "[l.txt 8]" }, { "spawnlist", false, nullptr, "null" },
        { "flags 3f", false, nullptr, "null" }, { "flags 3f", true, "flags ", "[3f]" },
        { "flags off", false, "flags off", "[]" }, { "flags off", true, "flags off", "[]" },
        { "flags offx", true, "flags ", "[offx]" },
        { "net collide on", false, "net collide on", "[]" }, { "net collide", false, "net", "[collide]" },
        { "net", false, "net", "null" }, { "netstatus", false, nullptr, "null" }, { "", false, nullptr, "null" },
    };
    int count = (int)(sizeof kind_rows / sizeof kind_rows[0]);
    for (auto &c : cases) {
        const char *rest = "unset";
        const cmd_row *row = cmd_match(kind_rows, count, c.line, c.spawned, &rest);
        EXPECT_STREQ(row ? row->word : nullptr, c.word) << c.line;
        EXPECT_EQ(rest_text(rest), c.rest) << c.line;
    }
}

TEST(config_text, SplitsLines)
{
    struct { const char *line; bool ok; const char *key, *value; } cases[] = {
        { "server = 1.2.3.4\n", true, "server", "1.2.3.4" },
        { " \t Port\t=\t 42871 \t\r\n", true, "Port", "42871" },
        { "name=\n", true, "name", "" },
        { "name = a = b", true, "name", "a = b" },
        { "# port = 1\n", false, "", "" },
        { "  ; port = 1\n", false, "", "" },
        { "no equals here\n", false, "", "" },
        { "\n", false, "", "" },
        { "= value", true, "", "value" },
    };
    for (auto &c : cases) {
        char buf[128];
        snprintf(buf, sizeof buf, "%s", c.line);
        char *k = nullptr, *v = nullptr;
        ASSERT_EQ(config_split_line(buf, &k, &v), c.ok) << c.line;
        if (c.ok) {
            EXPECT_STREQ(k, c.key) << c.line;
            EXPECT_STREQ(v, c.value) << c.line;
        }
    }
}

// The plug-in's reader (one integer key: config_line_value, then
// config_number) and the core's (config_split_line then config_apply; sync is
// passed on as read) take the same lines the same way: digits only, anything
// else refused.
TEST(config_text, PluginAndCoreReadTheSameLinesAlike)
{
    struct { const char *line; bool sets; bool understood; int32_t value; } cases[] = {
        { "sync=7\n", true, true, 7 },
        { "   SYNC \t=\t  12 \r\n", true, true, 12 },
        { "sync = 007\n", true, true, 7 },
        { "sync = -1\n", true, false, 0 },        // a sign is not a digit
        { "sync = +5\n", true, false, 0 },
        { "sync = off\n", true, false, 0 },       // nor is a word
        { "sync = 12abc\n", true, false, 0 },
        { "sync = 1 2\n", true, false, 0 },
        { "sync = 1e3\n", true, false, 0 },
        { "sync =\n", true, false, 0 },           // nor is nothing
        { "sync = 2147483647\n", true, true, 2147483647 },
        { "sync = 2147483648\n", true, true, 2147483647 }, // saturates, never wraps
        { "sync = 4294967296\n", true, true, 2147483647 },
        { "sync = 99999999999999999999\n", true, true, 2147483647 },
        { "sync_x = 1\n", false, false, 0 },      // a key that only begins with it
        { "syn = 1\n", false, false, 0 },
        { "# sync = 1\n", false, false, 0 },
        { "  ; sync = 1\n", false, false, 0 },
        { "sync 1\n", false, false, 0 },
        { "x sync = 1\n", false, false, 0 },
    };
    for (auto &c : cases) {
        char value[64];
        int32_t plugin_value = -99;
        EXPECT_EQ(config_line_value(c.line, "sync", value, sizeof value), c.sets) << c.line;
        if (c.sets) {
            EXPECT_EQ(config_number(value, &plugin_value), c.understood) << c.line;
            if (c.understood) {
                EXPECT_EQ(plugin_value, c.value) << c.line;
            }
        }

        client_config cfg;
        config_defaults(&cfg, "pc");
        char buf[128];
        snprintf(buf, sizeof buf, "%s", c.line);
        char *k, *v;
        config_refusal why = {};
        bool applied = true;
        if (config_split_line(buf, &k, &v))
            applied = config_apply(&cfg, k, v, &why);
        EXPECT_EQ(applied, !c.sets || c.understood) << c.line;
        EXPECT_EQ(cfg.sync_given, c.sets && c.understood) << c.line;
        if (c.sets && c.understood) {
            EXPECT_EQ(cfg.sync, c.value) << c.line;
        }
        if (!applied) {
            EXPECT_STREQ(why.rule, "digits only") << c.line;
            EXPECT_STREQ(why.used, "the mode in force") << c.line;
        }
    }
}

TEST(config_text, AppliesKeysWithTheirBounds)
{
    client_config cfg;
    config_defaults(&cfg, "A-VERY-LONG-COMPUTER-NAME-OF-40-CHARACTERS");
    EXPECT_EQ(strlen(cfg.name), 32u);
    EXPECT_EQ(cfg.port, 42870);
    EXPECT_TRUE(cfg.autoconnect);
    EXPECT_TRUE(cfg.auto_update);
    EXPECT_FALSE(cfg.sync_given);
    config_defaults(&cfg, "");
    EXPECT_STREQ(cfg.name, "player");

    config_refusal why = {};
    EXPECT_TRUE(config_apply(&cfg, "PORT", "1000", &why));
    // Refused values keep the setting and say the rule and what is used.
    struct { const char *key, *value, *rule, *used; } refused[] = {
        { "port", "70000", "a number 1..65535", "1000" },
        { "port", "0", "a number 1..65535", "1000" },
        { "port", "  2000xyz", "a number 1..65535", "1000" },
        { "port", "1e309", "a number 1..65535", "1000" },
        { "autoconnect", "off", "digits only", "1" }, // a word is no flag
        { "autoconnect", "on", "digits only", "1" },
        { "auto_update", "-1", "digits only", "1" },
        { "auto_update", "", "digits only", "1" },
    };
    for (auto &r : refused) {
        why = {};
        EXPECT_FALSE(config_apply(&cfg, r.key, r.value, &why)) << r.key << " " << r.value;
        EXPECT_STREQ(why.rule, r.rule) << r.key << " " << r.value;
        EXPECT_STREQ(why.used, r.used) << r.key << " " << r.value;
    }
    EXPECT_EQ(cfg.port, 1000);
    EXPECT_TRUE(cfg.autoconnect);
    EXPECT_TRUE(cfg.auto_update);
    EXPECT_TRUE(config_apply(&cfg, "autoconnect", "0", &why));
    EXPECT_FALSE(cfg.autoconnect);
    EXPECT_FALSE(config_apply(&cfg, "autoconnect", "yes", &why));
    EXPECT_STREQ(why.used, "0");
    EXPECT_TRUE(config_apply(&cfg, "autoconnect", "2", &why));
    EXPECT_TRUE(cfg.autoconnect);

    EXPECT_TRUE(config_apply(&cfg, "name", "", &why));
    EXPECT_STREQ(cfg.name, "player");
    EXPECT_TRUE(config_apply(&cfg, "Remote_Mode", "RV", &why));
    EXPECT_TRUE(cfg.remote_mode_rv);
    EXPECT_TRUE(config_apply(&cfg, "remote_mode", "rvx", &why));
    EXPECT_FALSE(cfg.remote_mode_rv);
    for (auto [value, local] : { std::pair{ "ON", true }, { "Local", true }, { "no", false }, { "", false } }) {
        config_apply(&cfg, "traffic", value, &why);
        EXPECT_EQ(cfg.traffic_local, local) << value;
    }
    EXPECT_TRUE(config_apply(&cfg, "sync", "2", &why));
    EXPECT_TRUE(cfg.sync_given);
    EXPECT_EQ(cfg.sync, 2);
    std::string url(511, 'u');
    config_apply(&cfg, "update_url", (url + "cut").c_str(), &why);
    EXPECT_EQ(std::string(cfg.update_url), url);

    // A server name is never cut: a longer one is refused whole.
    std::string server(63, 's');
    EXPECT_TRUE(config_apply(&cfg, "server", server.c_str(), &why));
    EXPECT_EQ(std::string(cfg.server), server);
    EXPECT_FALSE(config_apply(&cfg, "server", (server + "s").c_str(), &why));
    EXPECT_STREQ(why.rule, "at most 63 characters");
    EXPECT_EQ(std::string(why.used), "'" + server + "'");
    EXPECT_EQ(std::string(cfg.server), server);
    config_defaults(&cfg, "pc");
    EXPECT_FALSE(config_apply(&cfg, "server", (server + "s").c_str(), &why));
    EXPECT_STREQ(why.used, "no server");
    EXPECT_STREQ(cfg.server, "");
}

// A name is cut to 32 bytes before the character that would cross them.
TEST(config_text, NamesAreCutAtAWholeCharacter)
{
    const std::string a30(30, 'a'), a31(31, 'a'), a29(29, 'a');
    struct { std::string value, name; } cases[] = {
        { a31 + "\xC3\xB6", a31 },                       // two bytes across 32
        { a30 + "\xC3\xB6", a30 + "\xC3\xB6" },          // two bytes ending at 32
        { a30 + "\xE7\x8E\x8B", a30 },                   // three bytes across 32
        { a29 + "\xF0\x9F\x98\x80", a29 },               // four bytes across 32
        { a31 + "bc", a31 + "b" },
    };
    for (auto &c : cases) {
        client_config cfg;
        config_defaults(&cfg, c.value.c_str());
        EXPECT_EQ(std::string(cfg.name), c.name) << c.value;
        config_refusal why = {};
        EXPECT_TRUE(config_apply(&cfg, "name", c.value.c_str(), &why));
        EXPECT_EQ(std::string(cfg.name), c.name) << c.value;
    }
}

TEST(config_text, SingleKeyWriteMatching)
{
    EXPECT_TRUE(config_line_sets_key("port = 1", "port"));
    EXPECT_TRUE(config_line_sets_key("  PORT\t=1", "Port"));
    EXPECT_TRUE(config_line_sets_key("port=", "port"));
    EXPECT_FALSE(config_line_sets_key("port_x = 1", "port"));
    EXPECT_FALSE(config_line_sets_key("# port = 1", "port"));
    EXPECT_FALSE(config_line_sets_key("; port = 1", "port"));
    EXPECT_FALSE(config_line_sets_key("por", "port"));
    EXPECT_FALSE(config_line_sets_key("port 1", "port"));

    EXPECT_TRUE(config_set_allowed("ui_scale", "1.25"));
    EXPECT_TRUE(config_set_allowed("server", ""));
    EXPECT_FALSE(config_set_allowed("server", "a\nport = 1"));
    EXPECT_FALSE(config_set_allowed("ser\rver", "x"));
    EXPECT_FALSE(config_set_allowed("", "x"));
    EXPECT_FALSE(config_set_allowed(" \t", "x"));
}

// A single-key write over a file's text: the key's line changed, later lines
// of the key dropped, every other byte kept.
TEST(config_text, SingleKeyWriteKeepsEveryOtherByte)
{
    using namespace std::string_literals;
    struct { const char *what; std::string before, key, value, after; } cases[] = {
        { "empty", "", "port", "1", "port = 1\r\n" },
        { "appended", "a = 1\n", "port", "1", "a = 1\nport = 1\r\n" },
        { "appended after a last line without its end", "a = 1", "port", "1", "a = 1\r\nport = 1\r\n" },
        { "replaced, CR LF kept", "a\r\n  Port\t= 5\r\nb\r\n", "port", "6", "a\r\nport = 6\r\nb\r\n" },
        { "replaced, LF kept", "port=5\nb\n", "port", "6", "port = 6\nb\n" },
        { "replaced last line, no end", "b\nport=5", "port", "6", "b\nport = 6" },
        { "later lines of the key dropped", "port=1\r\nx\r\nPORT = 2\r\nport=3", "port", "9", "port = 9\r\nx\r\n" },
        { "comments and look-alikes kept", "# port = 1\r\n;port=2\r\nportal = 3\r\n", "port", "4",
          "# port = 1\r\n;port=2\r\nportal = 3\r\nport = 4\r\n" },
        { "bytes of any value kept", "\x1A\xFF\0\r\r\n\x80port = 1\n"s, "port", "2", "\x1A\xFF\0\r\r\n\x80port = 1\nport = 2\r\n"s },
        { "a NUL ends no line", "x\0\nport = 1\n"s, "port", "2", "x\0\nport = 2\n"s },
    };
    for (auto &c : cases) {
        size_t room = config_text_set_room(c.before.size(), c.key.c_str(), c.value.c_str());
        std::string out(room, '?');
        long n = config_text_set(c.before.data(), c.before.size(), c.key.c_str(), c.value.c_str(), &out[0], room);
        ASSERT_GE(n, 0) << c.what;
        EXPECT_EQ(out.substr(0, (size_t)n), c.after) << c.what;
        // One byte short of the result: refused, never cut.
        EXPECT_EQ(config_text_set(c.before.data(), c.before.size(), c.key.c_str(), c.value.c_str(), &out[0],
                                  (size_t)n),
                  -1)
            << c.what;
    }
}

TEST(config_text, DefaultFileDoesNotFitASmallBuffer)
{
    char small[64];
    EXPECT_EQ(config_default_text(small, sizeof small, 42870, 32, "pc"), -1);
    char big[4096];
    int n = config_default_text(big, sizeof big, 42870, 32, "pc");
    EXPECT_GT(n, 0);
    EXPECT_EQ((size_t)n, strlen(big));
}

// The game's 32-byte placement, byte by byte: f32 x, y, z at 0, 4, 8; i16
// sector x, z at 12, 14; f32 quaternion w, x, y, z at 16, 20, 24, 28 (all
// little-endian). World (1000, 12.5, -300) is sector (2, -1), local
// (-24, 12.5, 212).
TEST(placement, TheGamesByteLayout)
{
    const uint8_t want[32] = {
        0x00, 0x00, 0xC0, 0xC1, /* x = -24.0 */ 0x00, 0x00, 0x48, 0x41, /* y = 12.5 */
        0x00, 0x00, 0x54, 0x43, /* z = 212.0 */ 0x02, 0x00, 0xFF, 0xFF, /* sector x = 2, z = -1 */
        0x00, 0x00, 0x80, 0x3F, /* qw = 1.0 */  0x00, 0x00, 0x00, 0x00, /* qx = 0 */
        0x00, 0x00, 0x00, 0x3F, /* qy = 0.5 */  0x00, 0x00, 0x80, 0xBE, /* qz = -0.25 */
    };
    placement p;
    placement_from_world(&p, 1000.0, 12.5, -300.0, 1.0f, 0.0f, 0.5f, -0.25f);
    EXPECT_EQ(memcmp(&p, want, sizeof want), 0);
}

TEST(placement, NearestSector)
{
    struct { double x; int sector; float local; } cases[] = {
        { 256.0, 1, -256.0f }, { 255.9, 0, 255.9f }, { -256.0, 0, -256.0f }, { -256.1, -1, 255.9f },
        { 0.0, 0, 0.0f }, { 1024.0, 2, 0.0f }, { -1000.0, -2, 24.0f },
    };
    for (auto &c : cases) {
        placement p;
        placement_from_world(&p, c.x, 7.5, c.x, 1, 0.1f, 0.2f, 0.3f);
        EXPECT_EQ(p.sector_x, c.sector) << c.x;
        EXPECT_EQ(p.sector_z, c.sector) << c.x;
        EXPECT_NEAR(p.x, c.local, 1e-3) << c.x;
        EXPECT_NEAR(p.z, c.local, 1e-3) << c.x;
        EXPECT_EQ(p.y, 7.5f);
        EXPECT_EQ(p.qy, 0.2f);
        EXPECT_NEAR(placement_world_x(&p), c.x, 1e-3);
    }
}
