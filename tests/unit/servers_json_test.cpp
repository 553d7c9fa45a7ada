// servers.json: the accepted grammar as one table, malformed texts, the host
// check that keeps list hosts out of config.ini and console lines, the
// nesting bound of skipped values, and the 48-server cap.
#include <gtest/gtest.h>
#include <string.h>
#include <memory>
#include <string>
#include "online/servers.h"

namespace {

// Parses a copy of exactly the text's bytes (no terminator after them), so a
// read past the length is a read past the buffer.
int parse(const std::string &text, server_entry *out, int capacity = SERVERS_MAX)
{
    std::unique_ptr<char[]> copy(new char[text.size() ? text.size() : 1]);
    memcpy(copy.get(), text.data(), text.size());
    return servers_parse_json(copy.get(), text.size(), out, capacity);
}

std::string repeat(const std::string &s, int n)
{
    std::string out;
    for (int i = 0; i < n; i++)
        out += s;
    return out;
}

std::string servers_array(int n, int first = 0)
{
    std::string s = "[";
    for (int i = first; i < first + n; i++)
        s += (i > first ? "," : "") + std::string("{\"host\":\"h") + std::to_string(i) + "\"}";
    return s + "]";
}

} // namespace

TEST(servers_json, AcceptedTextsGiveTheirServers)
{
    struct {
        const char *what;
        std::string text;
        int count;
        // the last server kept
        const char *name, *host;
        int port;
        const char *region, *description;
    } rows[] = {
        { "empty array", " [ ] ", 0 },
        { "empty object", "{ }", 0 },
        { "object, empty servers", "{\"servers\":[]}", 0 },
        { "byte-order mark", "\xEF\xBB\xBF[{\"host\":\"a.example\"}]", 1, "", "a.example", 42870 },
        { "other member with nested values first", "{\"meta\":{\"a\":[1,{\"b\":[[],{}]}],\"c\":\"x\"},\t\"servers\":[{\"host\":\"h.example\"}]}",
          1, "", "h.example", 42870 },
        { "two servers members add up", "{\"servers\":[{\"host\":\"a\"}],\"x\":1,\"servers\":[{\"host\":\"b\",\"port\":7}]}",
          2, "", "b", 7 },
        { "object: no closing brace, then trailing text", "{\"servers\":[{\"host\":\"a\"}] trailing", 1, "", "a", 42870 },
        { "array: text after it ignored", "[{\"host\":\"a\"}] {[\"", 1, "", "a", 42870 },
        { "every field", "\r\n[{ \"name\" : \"Main\", \"host\":\"play.example.com\",\"region\":\"EU\",\"description\":\"d\",\"port\":42871.9 }]",
          1, "Main", "play.example.com", 42871, "EU", "d" },
        { "port 0", "[{\"host\":\"a\",\"port\":0}]", 1, "", "a", 42870 },
        { "port 65536", "[{\"host\":\"a\",\"port\":65536}]", 1, "", "a", 42870 },
        { "port negative", "[{\"host\":\"a\",\"port\":-5}]", 1, "", "a", 42870 },
        { "port a string", "[{\"host\":\"a\",\"port\":\"42871\"}]", 1, "", "a", 42870 },
        { "port below 1", "[{\"host\":\"a\",\"port\":0.5}]", 1, "", "a", 42870 },
        { "port 65535.5", "[{\"host\":\"a\",\"port\":65535.5}]", 1, "", "a", 65535 },
        { "port with exponent", "[{\"host\":\"a\",\"port\":1e3}]", 1, "", "a", 1000 },
        { "port true", "[{\"host\":\"a\",\"port\":true}]", 1, "", "a", 42870 },
        { "port then host", "[{\"port\":5000,\"host\":\"a\"}]", 1, "", "a", 5000 },
        { "escapes", "[{\"host\":\"a\",\"name\":\"\\n\\t\\r\\b\\f\\\"\\\\\\/\\x\"}]", 1, "\n\t\r\b\f\"\\/x", "a", 42870 },
        { "\\u: e acute in two bytes", "[{\"host\":\"a\",\"name\":\"caf\\u00e9\"}]", 1, "caf\xC3\xA9", "a", 42870 },
        { "\\u: surrogates one by one", "[{\"host\":\"a\",\"name\":\"\\ud83d\\ude00\"}]", 1,
          "\xED\xA0\xBD\xED\xB8\x80", "a", 42870 },
        { "\\u: one byte, and three", "[{\"host\":\"a\",\"name\":\"\\u0041\\u20AC\"}]", 1, "A\xE2\x82\xAC", "a", 42870 },
        { "\\u: hex stops at a non-digit", "[{\"host\":\"a\",\"name\":\"\\u4g00z\"}]", 1, "\x04z", "a", 42870 },
        { "long name cut to 63 bytes", "[{\"host\":\"a\",\"name\":\"" + repeat("n", 100) + "\"}]", 1,
          "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn", "a", 42870 },
        { "other keys skipped", "[{\"players\":[1,2,{\"x\":null}],\"flag\":true,\"host\":\"a\",\"n\":-1.5e3}]", 1, "", "a", 42870 },
        { "keys count 31 characters", "[{\"host" + repeat("x", 40) + "\":\"bad\",\"host\":\"b\"}]", 1, "", "b", 42870 },
        { "keys are case-sensitive", "[{\"Host\":\"bad\",\"host\":\"b\",\"NAME\":\"x\"}]", 1, "", "b", 42870 },
        { "no host, empty host, empty object dropped", "[{\"name\":\"x\"},{\"host\":\"\"},{},{\"host\":\"b\"}]", 1, "", "b", 42870 },
    };
    for (auto &r : rows) {
        server_entry out[SERVERS_MAX];
        memset(out, 0x55, sizeof out);
        int n = parse(r.text, out);
        ASSERT_EQ(n, r.count) << r.what;
        if (n <= 0)
            continue;
        const server_entry &e = out[n - 1];
        EXPECT_STREQ(e.name, r.name) << r.what;
        EXPECT_STREQ(e.host, r.host) << r.what;
        EXPECT_EQ(e.port, r.port) << r.what;
        EXPECT_STREQ(e.region, r.region ? r.region : "") << r.what;
        EXPECT_STREQ(e.description, r.description ? r.description : "") << r.what;
        EXPECT_EQ(e.listed, 0) << r.what;
        EXPECT_EQ(e.query_state, 0) << r.what;
    }
}

TEST(servers_json, MalformedTexts)
{
    const char *rows[] = {
        "", "   \r\n", "\xEF\xBB\xBF", "null", "\"servers\"", "x[]", "42",
        "[{\"host\":\"a", "[{\"name\":\"ab\\", "[{\"host\":\"a\"}", "[{\"host\":\"a\"", "[{\"host\":\"a\"} {\"host\":\"b\"}]",
        "[{\"host\":\"a\"};]", "[1]", "[\"a\"]", "[{\"host\":5}]", "[{\"name\":null,\"host\":\"a\"}]",
        "[{\"region\":[],\"host\":\"a\"}]", "[{host:\"a\"}]", "[{\"host\" \"a\"}]",
        "{\"servers\":5}", "{\"servers\":{\"host\":\"a\"}}", "{servers:[]}", "{\"servers\" []}", "{\"a\":1,}",
        "{\"a\":\"unterminated}", "{\"a\":[1,2}", "{\"a\":{\"b\" 1}}", "{\"a\":{\"b\":1 \"c\":2}}",
    };
    for (const char *t : rows) {
        server_entry out[SERVERS_MAX];
        EXPECT_EQ(parse(t, out), -1) << t;
    }
}

TEST(servers_json, EveryCutOfAnArrayIsMalformed)
{
    std::string full = "[{\"host\":\"a.example\",\"name\":\"A \\u00e9\",\"port\":42871,\"x\":[{\"y\":\"\\\"\"}]},{\"host\":\"b\"}]";
    server_entry out[SERVERS_MAX];
    ASSERT_EQ(parse(full, out), 2);
    for (size_t n = 0; n < full.size(); n++)
        EXPECT_EQ(parse(full.substr(0, n), out), -1) << n << ": " << full.substr(0, n);
}

TEST(servers_json, HostsAreOnlyLettersDigitsDotsDashesAndColons)
{
    struct {
        std::string host;
        bool ok;
    } rows[] = {
        { "127.0.0.1", true }, { "play.example.com", true }, { "::1", true }, { "A-b.9", true }, { repeat("h", 63), true },
        { "", false }, { repeat("h", 64), false }, { "a b", false }, { "a\tb", false },
        { "a\nnet disconnect", false }, { "a\r", false }, { "a;b", false }, { "a\"b", false }, { "a=b", false },
        { "a#b", false }, { "%s%n", false }, { "h\x7f", false }, { "caf\xC3\xA9", false }, { "a/b", false },
    };
    for (auto &r : rows) {
        EXPECT_EQ(servers_host_ok(r.host.c_str()), r.ok) << r.host;
        // The same host in a list: kept only when valid, the rest of the list intact.
        std::string json = "[{\"host\":\"";
        for (char c : r.host)
            json += c == '"' ? std::string("\\\"") : c == '\n' ? std::string("\\n") : c == '\r' ? std::string("\\r")
                  : c == '\t' ? std::string("\\t") : std::string(1, c);
        json += "\"},{\"host\":\"next\"}]";
        server_entry out[SERVERS_MAX];
        int n = parse(json, out);
        ASSERT_EQ(n, r.ok ? 2 : 1) << json;
        EXPECT_STREQ(out[n - 1].host, "next");
        if (r.ok) {
            EXPECT_EQ(out[0].host, r.host);
        }
    }
    // Escapes cannot bring in what the text may not hold, and a host cut to
    // fit would name another machine.
    const char *dropped[] = { "[{\"host\":\"\\u0007bell\"}]", "[{\"host\":\"a\\u0020b\"}]", "[{\"host\":\"a\\nb\"}]" };
    for (const char *t : dropped) {
        server_entry out[SERVERS_MAX];
        EXPECT_EQ(parse(t, out), 0) << t;
    }
    server_entry out[SERVERS_MAX];
    EXPECT_EQ(parse("[{\"host\":\"" + repeat("h", 64) + "\"}]", out), 0);
}

TEST(servers_json, SkippedValuesNestAtMost64Deep)
{
    // levels arrays and objects, each inside the one before.
    auto nested = [](int levels, int kind) {
        std::string open, close;
        for (int i = 0; i < levels; i++) {
            bool array = kind == 0 || (kind == 2 && i % 2 == 0);
            open += array ? "[" : "{\"k\":";
            close = (array ? "]" : "}") + close;
        }
        return open + close;
    };
    const char *kinds[] = { "arrays", "objects", "mixed" };
    for (int kind = 0; kind < 3; kind++)
        for (int levels : { 64, 65 }) {
            std::string inner = nested(levels, kind);
            int want = levels <= 64 ? 1 : -1;
            server_entry out[SERVERS_MAX];
            EXPECT_EQ(parse("{\"x\":" + inner + ",\"servers\":[{\"host\":\"a\"}]}", out), want)
                << kinds[kind] << " " << levels << " in the top object";
            EXPECT_EQ(parse("[{\"x\":" + inner + ",\"host\":\"a\"}]", out), want)
                << kinds[kind] << " " << levels << " in a server";
        }
    // Far deeper than any stack could recurse.
    std::string deep = "[{\"x\":" + repeat("[", 1000000) + "}]";
    server_entry out[SERVERS_MAX];
    EXPECT_EQ(parse(deep, out), -1);
}

TEST(servers_json, KeepsTheFirst48Servers)
{
    struct {
        std::string text;
        int count;
        const char *last_host;
    } rows[] = {
        { servers_array(48), 48, "h47" },
        { servers_array(49), 48, "h47" },
        { servers_array(50), 48, "h47" },
        { "[{\"name\":\"no host\"},{\"name\":\"nor here\"}," + servers_array(48).substr(1), 48, "h47" },
        { "{\"servers\":" + servers_array(30) + ",\"servers\":" + servers_array(30, 30) + "}", 48, "h47" },
        // Servers past the cap are still parsed.
        { servers_array(50).substr(0, servers_array(50).size() - 1) + ",{\"host\":1}]", -1, nullptr },
    };
    for (auto &r : rows) {
        server_entry out[SERVERS_MAX + 1];
        memset(&out[SERVERS_MAX], 0x55, sizeof out[SERVERS_MAX]);
        int n = parse(r.text, out);
        EXPECT_EQ(n, r.count) << r.text.substr(0, 60);
        if (n > 0) {
            EXPECT_STREQ(out[n - 1].host, r.last_host);
            EXPECT_STREQ(out[0].host, "h0");
        }
        EXPECT_EQ((unsigned char)out[SERVERS_MAX].host[0], 0x55) << "wrote past the capacity";
    }
    // A smaller capacity is honoured the same way.
    server_entry few[2];
    EXPECT_EQ(parse(servers_array(5), few, 2), 2);
}
