// servers.json, the list of community servers, read by a small JSON-like
// parser that never reads past the given length and never recurses deeper
// than SERVERS_JSON_NESTING_MAX. Also the check every host passes.
//
// Index of this file:
// [SECTION] Hosts
// [SECTION] Text cursor and white space
// [SECTION] Strings
// [SECTION] Numbers (the port)
// [SECTION] Lists and members
// [SECTION] Skipped values
// [SECTION] Server objects and their array
// [SECTION] Top level
//
// The text, as accepted:
// - A first byte 0xEF (in a text of 3 bytes or more) starts a byte-order
//   mark: the first 3 bytes are skipped. White space is blank, tab, CR, LF.
// - The top level is an array of server objects, or an object whose member
//   "servers" holds that array (two "servers" members add up; every other
//   member's value is skipped). "{}" gives no servers. After an object's
//   last member (no comma follows) the parser stops: a missing "}" or text
//   after it is no error. Text after the top array's "]" is ignored.
// - A server object's keys "name", "host", "region" and "description" take
//   strings (63, 63, 31 and 127 bytes kept); "port" takes a number whose
//   integer part, when the number lies in 1 .. 65535.99.., is the port
//   (42870 otherwise, the value then skipped); other keys are skipped. Keys
//   count up to 31 characters and compare exactly.
// - Strings: escapes \n \t \r \b \f, \uXXXX (hex digits up to the first
//   other character, written as UTF-8 in 1 to 3 bytes, surrogates one by
//   one), a backslash before any other character gives that character.
// - A skipped value is a string, an array or object (members checked), or a
//   bare token up to a comma, "}", "]", white space or the end.
// - A server is kept when its host is a valid host (servers_host_ok) that
//   was not cut to fit; at most `capacity` are kept, later ones are parsed
//   and dropped.
//
// Malformed text (the result is -1): after the mark and white space the
// text is empty or starts with anything but "[" or "{"; a string runs to the
// end of the text; an object member's key is not a string or not followed
// by ":"; the "servers" value is not an array; an element of a server array
// is not an object; an array or server object ends without its "]" or "}"
// (or has something else where a "," would go); a name, host, region or
// description is not a string; or a skipped value nests arrays and objects
// more than SERVERS_JSON_NESTING_MAX deep.
#include <stdlib.h>
#include <string.h>
#include "dm_hex.h"
#include "online/servers.h"

#define SERVERS_JSON_NESTING_MAX 64
#define SERVERS_JSON_KEY_MAX 32

//-----------------------------------------------------------------------------
// [SECTION] Hosts
//-----------------------------------------------------------------------------

// A host goes into config.ini and into console command lines ("net connect
// <host> ..."), so blanks, control bytes and anything else that could
// split or extend such a line are refused outright.
bool servers_host_ok(const char *host)
{
    size_t n = 0;
    for (; host[n]; n++) {
        char c = host[n];
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                  c == '-' || c == ':';
        if (!ok || n + 1 >= SERVERS_HOST_MAX)
            return false;
    }
    return n > 0;
}

namespace {

//-----------------------------------------------------------------------------
// [SECTION] Text cursor and white space
//-----------------------------------------------------------------------------

struct cursor {
    const char *s;
    size_t n, i;

    bool end() const { return i >= n; }
    char peek() const { return i < n ? s[i] : 0; }
    bool at(char c) const { return i < n && s[i] == c; }
    void skip_blanks()
    {
        while (i < n && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n'))
            i++;
    }
};

//-----------------------------------------------------------------------------
// [SECTION] Strings
//-----------------------------------------------------------------------------

struct text_out {
    char *buf;
    size_t size, k;
    bool cut;

    void put(char c)
    {
        if (k + 1 < size)
            buf[k++] = c;
        else
            cut = true;
    }
};

// The string at the cursor (which must be at its opening quote) into out,
// cut to size - 1 bytes and terminated; false when the text ends first.
bool read_string(cursor &c, char *out, size_t size, bool *cut = nullptr)
{
    text_out t = { out, size, 0, false };
    c.i++; // opening quote
    bool closed = false;
    while (!c.end()) {
        char ch = c.s[c.i];
        if (ch == '"') {
            c.i++;
            closed = true;
            break;
        }
        if (ch != '\\') {
            t.put(ch);
            c.i++;
            continue;
        }
        if (c.i + 1 >= c.n) { // a backslash that ends the text stays as it is
            t.put('\\');
            c.i++;
            continue;
        }
        char e = c.s[c.i + 1];
        c.i += 2;
        switch (e) {
        case 'n': t.put('\n'); break;
        case 't': t.put('\t'); break;
        case 'r': t.put('\r'); break;
        case 'b': t.put('\b'); break;
        case 'f': t.put('\f'); break;
        case 'u':
            if (c.n - c.i >= 4) {
                unsigned v = 0;
                for (int d = 0; d < 4; d++) {
                    int h = dm_hex_digit(c.s[c.i + (size_t)d]);
                    if (h < 0)
                        break;
                    v = v * 16 + (unsigned)h;
                }
                c.i += 4;
                if (v < 0x80) {
                    t.put((char)v);
                } else if (v < 0x800) {
                    t.put((char)(0xC0 | (v >> 6)));
                    t.put((char)(0x80 | (v & 0x3F)));
                } else {
                    t.put((char)(0xE0 | (v >> 12)));
                    t.put((char)(0x80 | ((v >> 6) & 0x3F)));
                    t.put((char)(0x80 | (v & 0x3F)));
                }
            } else {
                t.put('u');
            }
            break;
        default: t.put(e); break;
        }
    }
    if (size)
        out[t.k] = 0;
    if (cut)
        *cut = t.cut;
    return closed;
}

//-----------------------------------------------------------------------------
// [SECTION] Numbers (the port)
//-----------------------------------------------------------------------------

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A decimal number at the cursor (optional minus, digits, fraction,
// exponent); the cursor moves past it only when one was read.
bool read_number(cursor &c, double *value)
{
    size_t j = c.i, digits = 0;
    if (j < c.n && c.s[j] == '-')
        j++;
    for (; j < c.n && is_digit(c.s[j]); j++)
        digits++;
    if (j < c.n && c.s[j] == '.')
        for (j++; j < c.n && is_digit(c.s[j]); j++)
            digits++;
    if (digits == 0)
        return false;
    if (j < c.n && (c.s[j] == 'e' || c.s[j] == 'E')) {
        size_t k = j + 1;
        if (k < c.n && (c.s[k] == '+' || c.s[k] == '-'))
            k++;
        if (k < c.n && is_digit(c.s[k])) {
            while (k < c.n && is_digit(c.s[k]))
                k++;
            j = k;
        }
    }
    char buf[64];
    size_t len = j - c.i;
    if (len >= sizeof buf)
        return false;
    memcpy(buf, c.s + c.i, len);
    buf[len] = 0;
    *value = strtod(buf, nullptr);
    c.i = j;
    return true;
}

//-----------------------------------------------------------------------------
// [SECTION] Lists and members
//-----------------------------------------------------------------------------

// After an opening bracket: the closing one for none, or elements separated
// by commas and then the closing one. element() reads one element.
template <class F> bool read_list(cursor &c, char close, F element)
{
    c.skip_blanks();
    if (c.at(close)) {
        c.i++;
        return true;
    }
    for (;;) {
        c.skip_blanks();
        if (!element())
            return false;
        c.skip_blanks();
        if (c.at(',')) {
            c.i++;
            continue;
        }
        if (c.at(close)) {
            c.i++;
            return true;
        }
        return false;
    }
}

// A member's key string and its colon; the value follows.
bool read_key(cursor &c, char (&key)[SERVERS_JSON_KEY_MAX])
{
    c.skip_blanks();
    if (!c.at('"') || !read_string(c, key, sizeof key))
        return false;
    c.skip_blanks();
    if (!c.at(':'))
        return false;
    c.i++;
    c.skip_blanks();
    return true;
}

//-----------------------------------------------------------------------------
// [SECTION] Skipped values
//-----------------------------------------------------------------------------

// level: the arrays and objects already open around this value inside the
// value being skipped; one more than SERVERS_JSON_NESTING_MAX is malformed.
bool skip_value(cursor &c, int level)
{
    c.skip_blanks();
    char ch = c.peek();
    if (ch == '"') {
        char scratch[1];
        return read_string(c, scratch, sizeof scratch);
    }
    if (ch == '[' || ch == '{') {
        if (level >= SERVERS_JSON_NESTING_MAX)
            return false;
        c.i++;
        if (ch == '[')
            return read_list(c, ']', [&] { return skip_value(c, level + 1); });
        return read_list(c, '}', [&] {
            char key[SERVERS_JSON_KEY_MAX];
            return read_key(c, key) && skip_value(c, level + 1);
        });
    }
    while (!c.end()) { // a bare token
        char t = c.s[c.i];
        if (t == ',' || t == '}' || t == ']' || t == ' ' || t == '\t' || t == '\r' || t == '\n')
            break;
        c.i++;
    }
    return true;
}

//-----------------------------------------------------------------------------
// [SECTION] Server objects and their array
//-----------------------------------------------------------------------------

struct server_sink {
    server_entry *out;
    int capacity, count;
};

bool read_string_value(cursor &c, char *out, size_t size, bool *cut = nullptr)
{
    return c.at('"') && read_string(c, out, size, cut);
}

bool read_member(cursor &c, server_entry *e, bool *host_cut)
{
    char key[SERVERS_JSON_KEY_MAX];
    if (!read_key(c, key))
        return false;
    if (strcmp(key, "name") == 0)
        return read_string_value(c, e->name, sizeof e->name);
    if (strcmp(key, "host") == 0)
        return read_string_value(c, e->host, sizeof e->host, host_cut);
    if (strcmp(key, "region") == 0)
        return read_string_value(c, e->region, sizeof e->region);
    if (strcmp(key, "description") == 0)
        return read_string_value(c, e->description, sizeof e->description);
    if (strcmp(key, "port") == 0) {
        size_t at = c.i;
        double v;
        if (read_number(c, &v) && v >= 1.0 && v < 65536.0) {
            e->port = (uint16_t)v;
            return true;
        }
        c.i = at;
    }
    return skip_value(c, 0);
}

bool read_server(cursor &c, server_sink &sink)
{
    if (!c.at('{'))
        return false;
    c.i++;
    server_entry e;
    memset(&e, 0, sizeof e);
    e.port = CONFIG_DEFAULT_PORT;
    bool host_cut = false;
    if (!read_list(c, '}', [&] { return read_member(c, &e, &host_cut); }))
        return false;
    // A host cut to fit would name another machine.
    if (!host_cut && servers_host_ok(e.host) && sink.count < sink.capacity)
        sink.out[sink.count++] = e;
    return true;
}

bool read_server_array(cursor &c, server_sink &sink)
{
    c.skip_blanks();
    if (!c.at('['))
        return false;
    c.i++;
    return read_list(c, ']', [&] { return read_server(c, sink); });
}

} // namespace

//-----------------------------------------------------------------------------
// [SECTION] Top level
//-----------------------------------------------------------------------------

int servers_parse_json(const char *text, size_t length, server_entry *out, int capacity)
{
    cursor c = { text, length, 0 };
    if (length >= 3 && (uint8_t)text[0] == 0xEF)
        c.i = 3;
    server_sink sink = { out, capacity < 0 ? 0 : capacity, 0 };
    c.skip_blanks();
    if (c.at('['))
        return read_server_array(c, sink) ? sink.count : -1;
    if (!c.at('{'))
        return -1;
    c.i++;
    c.skip_blanks();
    if (c.at('}'))
        return 0;
    for (;;) {
        char key[SERVERS_JSON_KEY_MAX];
        if (!read_key(c, key))
            return -1;
        bool ok = strcmp(key, "servers") == 0 ? read_server_array(c, sink) : skip_value(c, 0);
        if (!ok)
            return -1;
        c.skip_blanks();
        if (!c.at(','))
            return sink.count; // the last member: what follows does not matter
        c.i++;
    }
}
