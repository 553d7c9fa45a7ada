// Golden datagrams of the UDP protocol: bytes written by hand from the layout
// tables (data/golden_datagrams.txt, whose header tells how a row is laid
// out), parsed by the client's parsers with every field checked, and written
// again byte for byte by the builders. A builder and a parser changed together
// still fail here, since neither produced these bytes.
//
// Index of this file:
// - Reading the table (hex notation, want values)
// - One checker per packet: parse, check every field, build again
// - The packet table
// - Tests: every row; floats that are not finite
#include <gtest/gtest.h>
#include <ctype.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <map>
#include <set>
#include <string>
#include <vector>
#include "net/net_internal.h"
#include "net/net_key.h"
#include "net_test_hex.h"
#include "net/net_wire.h"

namespace {

/* Reading the table */

struct golden_row {
    std::string label;  /* packet.case */
    std::string packet; /* the part before the dot */
    int line = 0;
    bool refuse = false;
    bool parse_only = false;
    std::vector<uint8_t> bytes;
    std::map<std::string, std::string> want;
};

/* Two hex digits at s as a byte, or -1. */
int hex_pair(const char *s)
{
    if (!isxdigit((unsigned char)s[0]) || !isxdigit((unsigned char)s[1]))
        return -1;
    char pair[3] = {s[0], s[1], 0};
    return (int)strtol(pair, nullptr, 16);
}

/* Reads "*N" after a byte or a group; 1 when there is none. */
long read_repeat(const char *&s)
{
    if (*s != '*')
        return 1;
    char *end;
    long n = strtol(s + 1, &end, 10);
    s = end;
    return n;
}

/* Appends the bytes of hex notation ("4d 01", "ab*3", "{01 02}*2") up to the
 * end of the text or a closing brace; false on anything else. */
bool append_hex(const char *&s, std::vector<uint8_t> &out)
{
    for (;;) {
        while (*s == ' ' || *s == '\t')
            s++;
        if (*s == 0 || *s == '}')
            return true;
        if (*s == '{') {
            std::vector<uint8_t> group;
            s++;
            if (!append_hex(s, group) || *s != '}')
                return false;
            s++;
            long n = read_repeat(s);
            for (long i = 0; i < n; i++)
                out.insert(out.end(), group.begin(), group.end());
            continue;
        }
        std::vector<uint8_t> run;
        while (isxdigit((unsigned char)*s)) {
            int byte = hex_pair(s);
            if (byte < 0)
                return false;
            run.push_back((uint8_t)byte);
            s += 2;
        }
        if (run.empty())
            return false;
        if (*s == '*') {
            if (run.size() != 1)
                return false;
            long n = read_repeat(s);
            run.assign((size_t)n, run[0]);
        }
        out.insert(out.end(), run.begin(), run.end());
    }
}

std::vector<uint8_t> table_hex_bytes(const std::string &text)
{
    std::vector<uint8_t> out;
    const char *s = text.c_str();
    EXPECT_TRUE(append_hex(s, out) && *s == 0) << "bad hex: " << text;
    return out;
}

/* "key=value" words; a value may be quoted to hold spaces. */
bool read_want(const std::string &text, std::map<std::string, std::string> &want)
{
    size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && text[at] == ' ')
            at++;
        if (at == text.size())
            break;
        size_t eq = text.find('=', at);
        if (eq == std::string::npos)
            return false;
        std::string key = text.substr(at, eq - at), value;
        at = eq + 1;
        if (at < text.size() && text[at] == '"') {
            size_t close = text.find('"', at + 1);
            if (close == std::string::npos)
                return false;
            value = text.substr(at, close + 1 - at);
            at = close + 1;
        } else {
            size_t end = text.find(' ', at);
            if (end == std::string::npos)
                end = text.size();
            value = text.substr(at, end - at);
            at = end;
        }
        if (!want.emplace(key, value).second)
            return false;
    }
    return true;
}

std::vector<golden_row> load_golden_rows()
{
    std::vector<golden_row> rows;
    FILE *f = fopen(DM_NET_GOLDEN, "rt");
    EXPECT_NE(f, nullptr) << DM_NET_GOLDEN;
    if (!f)
        return rows;
    char buf[4096];
    int line = 0;
    while (fgets(buf, sizeof buf, f)) {
        line++;
        std::string text(buf);
        size_t hash = text.find('#');
        if (hash != std::string::npos)
            text.erase(hash);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
            text.pop_back();
        if (text.empty())
            continue;
        size_t space = text.find(' ');
        std::string word = text.substr(0, space), rest = space == std::string::npos ? "" : text.substr(space + 1);
        if (word == "row" || word == "refuse") {
            golden_row row;
            row.line = line;
            row.refuse = word == "refuse";
            size_t gap = rest.find(' ');
            row.label = rest.substr(0, gap);
            row.parse_only = gap != std::string::npos && rest.substr(gap + 1) == "parse-only";
            row.packet = row.label.substr(0, row.label.find('.'));
            rows.push_back(row);
        } else if (word == "hex" && !rows.empty()) {
            std::vector<uint8_t> b = table_hex_bytes(rest);
            rows.back().bytes.insert(rows.back().bytes.end(), b.begin(), b.end());
        } else if (word == "want" && !rows.empty()) {
            EXPECT_TRUE(read_want(rest, rows.back().want)) << "line " << line;
        } else {
            ADD_FAILURE() << "line " << line << ": " << text;
        }
    }
    fclose(f);
    return rows;
}

/* The want values of one row, each read at most once and all read in the end. */
struct want_reader {
    const golden_row &row;
    std::set<std::string> used;

    explicit want_reader(const golden_row &r) : row(r) {}
    std::string raw(const std::string &key)
    {
        auto it = row.want.find(key);
        if (it == row.want.end()) {
            ADD_FAILURE() << row.label << ": no want value for " << key;
            return "";
        }
        used.insert(key);
        return it->second;
    }
    long long num(const std::string &key)
    {
        std::string v = raw(key);
        return v[0] == '-' ? strtoll(v.c_str(), nullptr, 0) : (long long)strtoull(v.c_str(), nullptr, 0);
    }
    std::vector<double> reals(const std::string &key)
    {
        std::vector<double> out;
        std::string v = raw(key);
        const char *s = v.c_str();
        while (*s) {
            char *end;
            double d = strtod(s, &end);
            if (end == s) {
                ADD_FAILURE() << row.label << ": bad number in " << key;
                break;
            }
            out.push_back(d);
            s = *end == ',' ? end + 1 : end;
        }
        return out;
    }
    double real(const std::string &key)
    {
        std::vector<double> v = reals(key);
        return v.empty() ? NAN : v[0];
    }
    static std::string expand_text(const std::string &v)
    {
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
            return v.substr(1, v.size() - 2);
        std::string out;
        size_t at = 0;
        while (at < v.size()) {
            size_t plus = v.find('+', at);
            if (plus == std::string::npos)
                plus = v.size();
            std::string piece = v.substr(at, plus - at);
            if (piece.size() >= 3 && piece[1] == '*')
                out.append((size_t)atoi(piece.c_str() + 2), piece[0]);
            else
                out += piece;
            at = plus + 1;
        }
        return out;
    }
    std::string text(const std::string &key) { return expand_text(raw(key)); }
    std::vector<std::string> texts(const std::string &key)
    {
        std::vector<std::string> out;
        std::string v = raw(key);
        size_t at = 0;
        while (at < v.size()) {
            size_t comma = v.find(',', at);
            if (comma == std::string::npos)
                comma = v.size();
            out.push_back(expand_text(v.substr(at, comma - at)));
            at = comma + 1;
        }
        return out;
    }
    std::vector<uint8_t> bytes(const std::string &key) { return table_hex_bytes(raw(key)); }
    void expect_all_read()
    {
        for (auto &kv : row.want)
            EXPECT_TRUE(used.count(kv.first)) << row.label << ": want value " << kv.first << " not checked";
    }
};

/* One checker per packet: parse, check every field, build again */

struct golden_input {
    const uint8_t *datagram;
    size_t len;
    net_header header;
    const uint8_t *payload;
    size_t n;
};

/* A checker parses the input; with want it also checks every parsed field
 * and writes the datagram again into rebuilt. False when the parser refuses. */
typedef bool (*golden_check)(const golden_input &in, want_reader *want, std::vector<uint8_t> *rebuilt);

std::vector<uint8_t> with_header(const golden_input &in, const uint8_t *payload, int len)
{
    if (len < 0)
        return {}; /* the builder refused */
    std::vector<uint8_t> out(NET_HEADER_SIZE);
    net_write_header(out.data(), in.header.type, in.header.seq, in.header.player);
    out.insert(out.end(), payload, payload + len);
    return out;
}

template <typename T> void expect_floats(const T *got, const std::vector<double> &want, int count, const char *what)
{
    ASSERT_EQ((int)want.size(), count) << what;
    for (int i = 0; i < count; i++)
        EXPECT_EQ(got[i], (T)want[i]) << what << "[" << i << "]";
}

bool check_header_only(const golden_input &in, want_reader *want, std::vector<uint8_t> *rebuilt)
{
    if (want) {
        EXPECT_EQ(in.n, 0u);
        *rebuilt = with_header(in, nullptr, 0);
    }
    return true;
}

bool check_hello(const golden_input &in, want_reader *want, std::vector<uint8_t> *rebuilt)
{
    uint32_t nonce;
    uint16_t protocol;
    char name[33];
    if (!net_parse_hello(in.payload, in.n, &nonce, &protocol, name))
        return false;
    if (want) {
        EXPECT_EQ(nonce, want->num("nonce"));
        EXPECT_EQ(protocol, want->num("protocol"));
        EXPECT_EQ(std::string(name), want->text("name"));
        uint8_t p[64];
        *rebuilt = with_header(in, p, net_build_hello(p, sizeof p, nonce, name));
    }
    return true;
}

bool check_reason(const golden_input &in, want_reader *want, std::vector<uint8_t> *rebuilt,
                  const char *(*shown)(uint8_t))
{
    uint8_t reason;
    char text[NET_TEXT_MAX + 1];
    bool has_text;
    if (!net_parse_reason(in.payload, in.n, &reason, text, &has_text))
        return false;
    if (want) {
        EXPECT_EQ(reason, want->num("reason"));
        EXPECT_EQ(has_text, want->num("has_text") != 0);
        EXPECT_EQ(std::string(text), want->text("text"));
        EXPECT_EQ(std::string(shown(reason)), want->text("shown"));
        uint8_t p[256];
        *rebuilt = with_header(in, p, net_build_reason(p, sizeof p, reason, has_text ? text : nullptr));
    }
    return true;
}
bool check_refused(const golden_input &in, want_reader *want, std::vector<uint8_t> *rebuilt)
{
    return check_reason(in, want, rebuilt, net_refusal_text);
}
bool check_dropped(const golden_input &in, want_reader *want, std::vector<uint8_t> *rebuilt)
{
    return check_reason(in, want, rebuilt, net_drop_text);
}

bool check_joined(const golden_input &in, want_reader *want, std::vector<uint8_t> *rebuilt)
{
    char name[33];
    if (!net_parse_joined(in.payload, in.n, name))
        return false;
    if (want) {
        EXPECT_EQ(std::string(name), want->text("name"));
        uint8_t p[64];
        *rebuilt = with_header(in, p, net_build_name(p, sizeof p, name));
    }
    return true;
}

bool check_info_query(const golden_input &in, want_reader *want, std::vector<uint8_t> *rebuilt)
{
    uint32_t nonce;
    if (in.len != 16 || !net_parse_u32(in.payload, in.n, &nonce))
        return false;
    if (want) {
        EXPECT_EQ(nonce, want->num("nonce"));
        rebuilt->resize(16);
        net_build_info_query(rebuilt->data(), nonce);
    }
    return true;
}

bool check_info_reply(const golden_input &in, want_reader *want, std::vector<uint8_t> *rebuilt)
{
    uint32_t nonce;
    uint16_t protocol;
    uint8_t players, max_players;
    char name[256];
    if (!net_parse_info_reply(in.datagram, in.len, &nonce, &protocol, &players, &max_players, name))
        return false;
    if (want) {
        EXPECT_EQ(nonce, want->num("nonce"));
        EXPECT_EQ(protocol, want->num("protocol"));
        EXPECT_EQ(players, want->num("players"));
        EXPECT_EQ(max_players, want->num("max_players"));
        EXPECT_EQ(std::string(name), want->text("name"));
        uint8_t p[300];
        *rebuilt = with_header(in, p, net_build_info_reply(p, sizeof p, nonce, protocol, players, max_players, name));
    }
    return true;
}

bool check_state(const golden_input &in, want_reader *want, std::vector<uint8_t> *rebuilt)
{
    uint32_t sender_ms, acc_hash;
    net_pose pose;
    if (!net_parse_state(in.payload, in.n, &sender_ms, &pose, &acc_hash))
        return false;
    if (want) {
        EXPECT_EQ(sender_ms, want->num("sender_ms"));
        EXPECT_EQ(pose.flags, want->num("flags"));
        expect_floats(pose.pos, want->reals("pos"), 3, "pos");
        expect_floats(pose.rot, want->reals("rot"), 4, "rot");
        expect_floats(pose.vel, want->reals("vel"), 3, "vel");
        EXPECT_EQ(pose.steering, (float)want->real("steering"));
        EXPECT_EQ(pose.speed, (float)want->real("speed"));
        EXPECT_EQ(pose.rpm, (float)want->real("rpm"));
        EXPECT_EQ(acc_hash, want->num("acc_hash"));
        EXPECT_EQ(pose.has_trailer, want->num("has_trailer"));
        if (pose.has_trailer) {
            expect_floats(pose.trailer_pos, want->reals("trailer_pos"), 3, "trailer_pos");
            expect_floats(pose.trailer_rot, want->reals("trailer_rot"), 4, "trailer_rot");
        } else {
            expect_floats(pose.trailer_pos, {0, 0, 0}, 3, "no trailer_pos");
            expect_floats(pose.trailer_rot, {0, 0, 0, 0}, 4, "no trailer_rot");
        }
        EXPECT_EQ(pose.has_lights, want->num("has_lights"));
        if (pose.has_lights) {
            EXPECT_EQ(pose.lights, want->num("lights"));
            EXPECT_EQ(pose.horns, want->num("horns"));
        } else {
            EXPECT_EQ(pose.lights, 0u);
            EXPECT_EQ(pose.horns, 0);
        }
        uint8_t p[128];
        *rebuilt = with_header(in, p, net_build_state(p, sizeof p, sender_ms, &pose, acc_hash));
    }
    return true;
}

bool check_acc_part(const golden_input &in, want_reader *want, std::vector<uint8_t> *rebuilt)
{
    net_acc_part_head head;
    if (!net_parse_acc_part_head(in.payload, in.n, &head))
        return false;
    if (want) {
        EXPECT_EQ(head.hash, want->num("hash"));
        EXPECT_EQ(head.list, want->num("list"));
        EXPECT_EQ(head.index, want->num("index"));
        EXPECT_EQ(head.count, want->num("count"));
        EXPECT_EQ(head.entries, want->num("entries"));
        int span = net_acc_part_span(in.payload, in.n, head.entries);
        EXPECT_EQ(span, want->num("span"));
        if (span < 0)
            return true;
        std::vector<std::string> paths;
        for (size_t at = 8; at < 8 + (size_t)span; at += 1 + in.payload[at])
            paths.emplace_back((const char *)in.payload + at + 1, in.payload[at]);
        if (head.entries > 0) {
            EXPECT_EQ(paths.front(), want->text("first"));
            EXPECT_EQ(paths.back(), want->text("last"));
        }
        // Our list of the same paths: its FNV-1a hash and its one part.
        std::vector<const char *> ptrs;
        for (auto &s : paths)
            ptrs.push_back(s.c_str());
        net_set_local_accessories(head.list, ptrs.data(), (int)ptrs.size());
        int starts[NET_ACC_PARTS + 1];
        int parts = net_acc_pack(head.list, starts);
        uint8_t p[NET_ACC_DATAGRAM_MAX];
        *rebuilt = with_header(in, p, parts == 1 ? net_acc_build_part(head.list, starts, 0, 1, p, sizeof p) : -1);
    }
    return true;
}

bool check_time_of_day(const golden_input &in, want_reader *want, std::vector<uint8_t> *rebuilt)
{
    double seconds;
    float rate;
    if (!net_parse_time_of_day(in.payload, in.n, &seconds, &rate))
        return false;
    if (want) {
        EXPECT_EQ(seconds, want->real("seconds"));
        EXPECT_EQ(rate, (float)want->real("rate"));
        uint8_t p[12];
        *rebuilt = with_header(in, p, net_build_time_of_day(p, sizeof p, seconds, rate));
    }
    return true;
}

bool check_weather(const golden_input &in, want_reader *want, std::vector<uint8_t> *rebuilt)
{
    uint8_t kind, roll_id;
    float seconds;
    if (!net_parse_weather(in.payload, in.n, &kind, &roll_id, &seconds))
        return false;
    if (want) {
        EXPECT_EQ(kind, want->num("kind"));
        EXPECT_EQ(roll_id, want->num("roll_id"));
        EXPECT_EQ(seconds, (float)want->real("seconds"));
        uint8_t p[6];
        *rebuilt = with_header(in, p, net_build_weather(p, sizeof p, kind, roll_id, seconds));
    }
    return true;
}

bool check_prop(const golden_input &in, want_reader *want, std::vector<uint8_t> *rebuilt)
{
    prop_state prop;
    if (!net_parse_prop(in.payload, in.n, in.header.player, &prop))
        return false;
    if (want) {
        EXPECT_EQ(prop.server_id, want->num("id"));
        EXPECT_EQ(prop.owner, want->num("owner"));
        expect_floats(prop.pos, want->reals("pos"), 3, "pos");
        expect_floats(prop.rot, want->reals("rot"), 4, "rot");
        EXPECT_EQ(prop.look, (uint64_t)want->num("look"));
        EXPECT_EQ(prop.variant, (uint64_t)want->num("variant"));
        EXPECT_EQ(prop.light_mode, want->num("light_mode"));
        EXPECT_EQ(std::string(prop.model), want->text("model"));
        EXPECT_EQ(prop.attach_part, want->num("attach_part"));
        if (prop.attach_part) {
            EXPECT_EQ(prop.attach_player, want->num("attach_player"));
            expect_floats(prop.attach_offset, want->reals("attach_offset"), 3, "attach_offset");
            expect_floats(prop.attach_rot, want->reals("attach_rot"), 4, "attach_rot");
        } else {
            EXPECT_EQ(prop.attach_player, 0);
            expect_floats(prop.attach_offset, {0, 0, 0}, 3, "no attach_offset");
            expect_floats(prop.attach_rot, {0, 0, 0, 0}, 4, "no attach_rot");
        }
        uint8_t p[300];
        *rebuilt = with_header(in, p, net_build_prop(p, sizeof p, &prop));
    }
    return true;
}

bool check_u32(const golden_input &in, want_reader *want, std::vector<uint8_t> *rebuilt)
{
    uint32_t id;
    if (!net_parse_u32(in.payload, in.n, &id))
        return false;
    if (want) {
        EXPECT_EQ(id, want->num("id"));
        uint8_t p[4];
        *rebuilt = with_header(in, p, net_build_u32(p, sizeof p, id));
    }
    return true;
}

bool check_prop_list(const golden_input &in, want_reader *want, std::vector<uint8_t> *rebuilt)
{
    static uint32_t ids[NET_PROP_IDS_MAX];
    uint16_t count;
    if (!net_parse_prop_list(in.payload, in.n, ids, &count))
        return false;
    if (want) {
        EXPECT_EQ(count, want->num("count"));
        if (count > 0) {
            EXPECT_EQ(ids[0], want->num("first"));
            EXPECT_EQ(ids[count - 1], want->num("last"));
        }
        static uint8_t p[2 + 4 * NET_PROP_IDS_MAX];
        *rebuilt = with_header(in, p, net_build_prop_list(p, sizeof p, ids, count));
    }
    return true;
}

bool check_layout_cmd(const golden_input &in, want_reader *want, std::vector<uint8_t> *rebuilt)
{
    uint8_t op;
    char name[33];
    if (!net_parse_layout_cmd(in.payload, in.n, &op, name))
        return false;
    if (want) {
        EXPECT_EQ(op, want->num("op"));
        EXPECT_EQ(std::string(name), want->text("name"));
        uint8_t p[64];
        *rebuilt = with_header(in, p, net_build_layout_cmd(p, sizeof p, op, name));
    }
    return true;
}

bool check_message(const golden_input &in, want_reader *want, std::vector<uint8_t> *rebuilt)
{
    char text[NET_TEXT_MAX + 1];
    if (!net_parse_message(in.payload, in.n, text))
        return false;
    if (want) {
        EXPECT_EQ(std::string(text), want->text("text"));
        uint8_t p[256];
        *rebuilt = with_header(in, p, net_build_text(p, sizeof p, text));
    }
    return true;
}

bool check_traffic_defs(const golden_input &in, want_reader *want, std::vector<uint8_t> *rebuilt)
{
    static traffic_car_definition def;
    if (!net_parse_traffic_defs(in.payload, in.n, &def))
        return false;
    if (want) {
        EXPECT_EQ(def.net_id, want->num("id"));
        EXPECT_EQ(def.car_type, want->num("car_type"));
        EXPECT_EQ(def.path_count, want->num("path_count"));
        std::vector<std::string> paths = want->texts("paths");
        EXPECT_EQ(paths.size(), def.path_count);
        for (size_t i = 0; i < paths.size() && i < def.path_count; i++)
            EXPECT_EQ(std::string(def.paths[i]), paths[i]) << "path " << i;
        static uint8_t p[NET_TRAFFIC_DEFS_MAX];
        *rebuilt = with_header(in, p, net_build_traffic_defs(p, sizeof p, &def));
    }
    return true;
}

void expect_car(const traffic_car_state &car, want_reader *want, const std::string &which)
{
    EXPECT_EQ(car.net_id, want->num(which + "_id")) << which;
    std::vector<double> pos = want->reals(which + "_pos"), rot = want->reals(which + "_rot");
    ASSERT_EQ(pos.size(), 3u);
    ASSERT_EQ(rot.size(), 4u);
    for (int k = 0; k < 3; k++)
        EXPECT_DOUBLE_EQ(car.pos[k], pos[k]) << which << " pos " << k;
    for (int k = 0; k < 4; k++) /* written in 1/32767 units */
        EXPECT_FLOAT_EQ(car.rot[k], (float)(rot[k] / 32767.0)) << which << " rot " << k;
    EXPECT_FLOAT_EQ(car.speed, (float)want->real(which + "_speed")) << which;
    EXPECT_EQ(car.lights, want->num(which + "_lights")) << which;
}

bool check_traffic_cars(const golden_input &in, want_reader *want, std::vector<uint8_t> *rebuilt)
{
    static traffic_car_state cars[NET_TRAFFIC_CARS_PER_DATAGRAM];
    uint32_t sender_ms;
    int count;
    if (!net_parse_traffic_cars(in.payload, in.n, &sender_ms, cars, &count))
        return false;
    if (want) {
        EXPECT_EQ(sender_ms, want->num("sender_ms"));
        EXPECT_EQ(count, want->num("count"));
        if (count > 0) {
            expect_car(cars[0], want, "first");
            expect_car(cars[count - 1], want, "last");
        }
        static uint8_t p[5 + 30 * NET_TRAFFIC_CARS_PER_DATAGRAM];
        *rebuilt = with_header(in, p, net_build_traffic_cars(p, sizeof p, sender_ms, cars, count));
    }
    return true;
}

bool check_traffic_ids(const golden_input &in, want_reader *want, std::vector<uint8_t> *rebuilt)
{
    static uint32_t ids[NET_TRAFFIC_IDS_ACCEPTED];
    uint8_t flags;
    uint16_t count;
    if (!net_parse_traffic_ids(in.payload, in.n, &flags, ids, &count))
        return false;
    if (want) {
        EXPECT_EQ(flags, want->num("flags"));
        EXPECT_EQ(count, want->num("count"));
        if (count > 0) {
            EXPECT_EQ(ids[0], want->num("first"));
            EXPECT_EQ(ids[count - 1], want->num("last"));
        }
        static uint8_t p[3 + 4 * NET_TRAFFIC_IDS_ACCEPTED];
        *rebuilt = with_header(in, p, net_build_traffic_ids(p, sizeof p, ids, count, flags));
    }
    return true;
}

bool check_traffic_owner(const golden_input &in, want_reader *want, std::vector<uint8_t> *rebuilt)
{
    uint16_t owner;
    uint32_t slot;
    if (!net_parse_owner(in.payload, in.n, &owner, &slot))
        return false;
    if (want) {
        EXPECT_EQ(owner, want->num("owner"));
        EXPECT_EQ(slot, want->num("slot"));
        uint8_t p[3];
        *rebuilt = with_header(in, p, net_build_owner(p, sizeof p, owner, slot == 0xFFFFFFFFu ? -1 : (int)slot));
    }
    return true;
}

bool check_job(const golden_input &in, want_reader *want, std::vector<uint8_t> *rebuilt)
{
    server_job job;
    if (!net_parse_job(in.payload, in.n, &job))
        return false;
    if (want) {
        EXPECT_EQ(job.id, want->num("id"));
        EXPECT_EQ(job.source_company, (uint64_t)want->num("source_company"));
        EXPECT_EQ(job.source_city, (uint64_t)want->num("source_city"));
        EXPECT_EQ(job.target_company, (uint64_t)want->num("target_company"));
        EXPECT_EQ(job.target_city, (uint64_t)want->num("target_city"));
        EXPECT_EQ(job.cargo, (uint64_t)want->num("cargo"));
        EXPECT_EQ(job.hours, want->num("hours"));
        EXPECT_EQ(job.urgency, want->num("urgency"));
        uint8_t p[47];
        *rebuilt = with_header(in, p, net_build_job(p, sizeof p, &job));
    }
    return true;
}

/* The client takes a challenge of exactly 32 bytes as it is. */
bool check_auth_challenge(const golden_input &in, want_reader *want, std::vector<uint8_t> *rebuilt)
{
    if (in.n != 32)
        return false;
    if (want) {
        EXPECT_EQ(bytes_to_hex(in.payload, 32), bytes_to_hex(want->bytes("challenge")));
        *rebuilt = with_header(in, in.payload, 32);
    }
    return true;
}

bool check_auth_reply(const golden_input &in, want_reader *want, std::vector<uint8_t> *rebuilt)
{
    uint8_t pub[32], sig[64];
    if (!net_parse_auth_reply(in.payload, in.n, pub, sig))
        return false;
    if (want) {
        EXPECT_EQ(bytes_to_hex(pub, 32), bytes_to_hex(want->bytes("pub")));
        EXPECT_EQ(bytes_to_hex(sig, 64), bytes_to_hex(want->bytes("sig")));
        // The client signs its auth prefix followed by the challenge.
        std::vector<uint8_t> msg(NET_AUTH_PREFIX, NET_AUTH_PREFIX + NET_AUTH_PREFIX_LEN);
        std::vector<uint8_t> challenge = want->bytes("challenge");
        msg.insert(msg.end(), challenge.begin(), challenge.end());
        EXPECT_EQ(crypto_eddsa_check(sig, pub, msg.data(), msg.size()), 0) << "signature over the auth prefix";
        uint8_t p[96];
        *rebuilt = with_header(in, p, net_build_auth_reply(p, sizeof p, pub, sig));
    }
    return true;
}

bool check_role(const golden_input &in, want_reader *want, std::vector<uint8_t> *rebuilt)
{
    uint32_t tag_colour, name_colour;
    char text[NET_ROLE_MAX + 1];
    if (!net_parse_role(in.payload, in.n, &tag_colour, &name_colour, text))
        return false;
    if (want) {
        EXPECT_EQ(tag_colour, want->num("tag_colour"));
        EXPECT_EQ(name_colour, want->num("name_colour"));
        EXPECT_EQ(std::string(text), want->text("text"));
        uint8_t p[64];
        *rebuilt = with_header(in, p, net_build_role(p, sizeof p, tag_colour, name_colour, text));
    }
    return true;
}

/* The packet table */

struct golden_packet {
    const char *name;
    uint8_t type;
    golden_check check;
};

const golden_packet golden_packets[] = {
    {"hello", NET_HELLO, check_hello},
    {"welcome", NET_WELCOME, check_header_only},
    {"refused", NET_REFUSED, check_refused},
    {"leave", NET_LEAVE, check_header_only},
    {"keepalive", NET_KEEPALIVE, check_header_only},
    {"joined", NET_PLAYER_JOINED, check_joined},
    {"dropped", NET_PLAYER_DROPPED, check_dropped},
    {"info_query", NET_INFO_QUERY, check_info_query},
    {"info_reply", NET_INFO_REPLY, check_info_reply},
    {"state", NET_STATE, check_state},
    {"acc_part", NET_ACC_PART, check_acc_part},
    {"time_of_day", NET_TIME_OF_DAY, check_time_of_day},
    {"weather", NET_WEATHER, check_weather},
    {"prop", NET_PROP, check_prop},
    {"prop_removed", NET_PROP_REMOVED, check_u32},
    {"prop_list", NET_PROP_LIST, check_prop_list},
    {"layout_cmd", NET_LAYOUT_CMD, check_layout_cmd},
    {"message", NET_MESSAGE, check_message},
    {"traffic_defs", NET_TRAFFIC_DEFS, check_traffic_defs},
    {"traffic_cars", NET_TRAFFIC_CARS, check_traffic_cars},
    {"traffic_ids", NET_TRAFFIC_IDS, check_traffic_ids},
    {"traffic_owner", NET_TRAFFIC_OWNER, check_traffic_owner},
    {"job", NET_JOB, check_job},
    {"job_removed", NET_JOB_REMOVED, check_u32},
    {"auth_challenge", NET_AUTH_CHALLENGE, check_auth_challenge},
    {"auth_reply", NET_AUTH_REPLY, check_auth_reply},
    {"role", NET_ROLE, check_role},
};

const golden_packet *find_packet(const std::string &name)
{
    for (auto &p : golden_packets)
        if (name == p.name)
            return &p;
    return nullptr;
}

/* Runs a row's parser on bytes (the row's own or changed ones); false when
 * the header or the payload is refused. */
bool parse_datagram(const golden_row &row, const std::vector<uint8_t> &bytes, want_reader *want,
                    std::vector<uint8_t> *rebuilt)
{
    golden_input in;
    in.datagram = bytes.data();
    in.len = bytes.size();
    if (!net_read_header(in.datagram, in.len, &in.header))
        return false;
    in.payload = in.datagram + NET_HEADER_SIZE;
    in.n = in.len - NET_HEADER_SIZE;
    if (row.packet == "header")
        return true;
    const golden_packet *packet = find_packet(row.packet);
    return packet && packet->check(in, want, rebuilt);
}

const golden_row *find_row(const std::vector<golden_row> &rows, const char *label)
{
    for (auto &r : rows)
        if (r.label == label)
            return &r;
    ADD_FAILURE() << "no golden row " << label;
    return nullptr;
}

} // namespace

/* Tests */

TEST(net_golden, EveryRowParsesAndBuildsBack)
{
    std::vector<golden_row> rows = load_golden_rows();
    std::set<std::string> taken;
    for (const golden_row &row : rows) {
        SCOPED_TRACE(row.label + " (line " + std::to_string(row.line) + ")");
        ASSERT_FALSE(row.bytes.empty());
        if (row.refuse) {
            EXPECT_TRUE(row.want.empty());
            EXPECT_FALSE(parse_datagram(row, row.bytes, nullptr, nullptr)) << "taken";
            continue;
        }
        const golden_packet *packet = find_packet(row.packet);
        ASSERT_NE(packet, nullptr) << "unknown packet";
        want_reader want(row);
        net_header h;
        ASSERT_TRUE(net_read_header(row.bytes.data(), row.bytes.size(), &h));
        EXPECT_EQ(h.type, packet->type);
        EXPECT_EQ(h.seq, want.num("seq"));
        EXPECT_EQ(h.player, want.num("player"));
        EXPECT_EQ(row.bytes[10] | row.bytes[11], 0) << "reserved";
        std::vector<uint8_t> rebuilt;
        ASSERT_TRUE(parse_datagram(row, row.bytes, &want, &rebuilt)) << "refused";
        want.expect_all_read();
        if (!row.parse_only) {
            EXPECT_EQ(bytes_to_hex(rebuilt), bytes_to_hex(row.bytes)) << "built back";
        }
        taken.insert(row.packet);
    }
    for (auto &p : golden_packets)
        EXPECT_TRUE(taken.count(p.name)) << "no golden datagram for " << p.name;
}

/* A pose with a NaN or an infinity in any float it carries, and weather
 * whose seconds are not finite, fail like a malformed packet. A server
 * prop's floats are handed on as they came, so that the props handler can
 * refuse that prop with a line of its own. */
TEST(net_golden, NonFiniteFloatsAreRefusedOrHandedOn)
{
    std::vector<golden_row> rows = load_golden_rows();
    struct float_field {
        const char *row;
        const char *field;
        size_t offset; /* payload offset of the first component */
        int width;     /* 4 f32, 8 f64 */
        int count;
    } fields[] = {
        {"state.trailer_lights_118", "pos", 5, 8, 3},
        {"state.trailer_lights_118", "rot", 29, 4, 4},
        {"state.trailer_lights_118", "vel", 45, 4, 3},
        {"state.trailer_lights_118", "steering", 57, 4, 1},
        {"state.trailer_lights_118", "speed", 61, 4, 1},
        {"state.trailer_lights_118", "rpm", 65, 4, 1},
        {"state.trailer_lights_118", "trailer pos", 73, 8, 3},
        {"state.trailer_lights_118", "trailer rot", 97, 4, 4},
        {"prop.path_160_attached_light_7", "pos", 4, 8, 3},
        {"prop.path_160_attached_light_7", "rot", 28, 4, 4},
        {"prop.path_160_attached_light_7", "attach offset", 62 + 160 + 4, 4, 3},
        {"prop.path_160_attached_light_7", "attach rot", 62 + 160 + 16, 4, 4},
        {"weather.bad", "seconds", 2, 4, 1},
    };
    struct bad_value {
        const char *name;
        uint32_t f32;
        uint64_t f64;
    } values[] = {
        {"NaN", 0x7FC00000u, 0x7FF8000000000000ull},
        {"+inf", 0x7F800000u, 0x7FF0000000000000ull},
        {"-inf", 0xFF800000u, 0xFFF0000000000000ull},
    };
    for (const float_field &f : fields) {
        const golden_row *row = find_row(rows, f.row);
        ASSERT_NE(row, nullptr);
        ASSERT_TRUE(parse_datagram(*row, row->bytes, nullptr, nullptr)) << f.row;
        for (int i = 0; i < f.count; i++) {
            for (const bad_value &v : values) {
                std::vector<uint8_t> bytes = row->bytes;
                uint8_t *at = bytes.data() + NET_HEADER_SIZE + f.offset + (size_t)f.width * i;
                if (f.width == 8)
                    net_put_u64(at, v.f64);
                else
                    net_put_u32(at, v.f32);
                std::string where = std::string(f.row) + " " + f.field + "[" + std::to_string(i) + "] = " + v.name;
                if (strncmp(f.row, "prop.", 5) != 0) {
                    EXPECT_FALSE(parse_datagram(*row, bytes, nullptr, nullptr)) << where;
                    continue;
                }
                // taken, and the value reaches the record unchanged: it builds back to the same bytes
                prop_state prop;
                ASSERT_TRUE(net_parse_prop(bytes.data() + NET_HEADER_SIZE, bytes.size() - NET_HEADER_SIZE, 0, &prop))
                    << where;
                uint8_t back[300];
                int n = net_build_prop(back, sizeof back, &prop);
                ASSERT_EQ(n, (int)(bytes.size() - NET_HEADER_SIZE)) << where;
                EXPECT_EQ(memcmp(back, bytes.data() + NET_HEADER_SIZE, (size_t)n), 0) << where;
            }
        }
    }

    // An attach block that is not taken (kind 0) carries nothing on.
    const golden_row *unattached = find_row(rows, "prop.attach_kind_0");
    ASSERT_NE(unattached, nullptr);
    std::vector<uint8_t> bytes = unattached->bytes;
    net_put_u32(bytes.data() + NET_HEADER_SIZE + 62 + 1 + 4, 0x7FC00000u);
    EXPECT_TRUE(parse_datagram(*unattached, bytes, nullptr, nullptr));

    // A NaN state never reaches the player's ring.
    const golden_row *state = find_row(rows, "state.plain_73");
    ASSERT_NE(state, nullptr);
    net_roster_reset();
    uint8_t name[] = {1, 'x'};
    net_roster_on_joined(2, 1, name, sizeof name, 1.0);
    bytes = state->bytes;
    net_put_u64(bytes.data() + NET_HEADER_SIZE + 5, 0x7FF8000000000000ull);
    net_roster_on_state(2, 1, bytes.data() + NET_HEADER_SIZE, bytes.size() - NET_HEADER_SIZE, 2.0);
    EXPECT_EQ(net_roster_find(2)->count, 0);
    net_roster_on_state(2, 2, state->bytes.data() + NET_HEADER_SIZE, state->bytes.size() - NET_HEADER_SIZE, 2.1);
    EXPECT_EQ(net_roster_find(2)->count, 1);
    net_roster_reset();
}
