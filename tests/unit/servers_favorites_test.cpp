// favorites.txt as text: what it holds, and edits that change only the line
// of the favourite they edit.
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include <vector>
#include "online/servers.h"

namespace {

const std::string header = "# drovemark favourite servers: host port (edited by the in-game server browser)";

std::string favs(const std::string &text)
{
    favorite_server out[SERVERS_MAX];
    int n = servers_favorites_parse(text.data(), text.size(), out, SERVERS_MAX);
    std::string s;
    for (int i = 0; i < n; i++)
        s += std::string(out[i].host) + ":" + std::to_string(out[i].port) + " ";
    return s;
}

// The text after the edits, made in a buffer with just the room they may use.
std::string edited(const std::string &text, const std::vector<favorite_edit> &edits)
{
    size_t room = text.size() + edits.size() * SERVERS_FAVORITE_EDIT_ROOM;
    std::vector<char> buf(room ? room : 1);
    memcpy(buf.data(), text.data(), text.size());
    size_t n = text.size();
    for (auto &e : edits)
        n = servers_favorites_apply(buf.data(), n, room, &e);
    return std::string(buf.data(), n);
}

favorite_edit add(const char *host, uint16_t port)
{
    favorite_edit e = {};
    e.op = FAVORITE_ADD;
    snprintf(e.host, sizeof e.host, "%s", host);
    e.port = port;
    return e;
}

favorite_edit remove(const char *host, uint16_t port)
{
    favorite_edit e = add(host, port);
    e.op = FAVORITE_REMOVE;
    return e;
}

} // namespace

TEST(servers_favorites, LinesThatHoldAFavourite)
{
    EXPECT_EQ(favs("# mine\n"
                   "a.example 1\n"
                   "  b.example\t65535  \r\n"
                   "c.example\n"
                   "d.example 2 the one with friends\n"
                   "  # e.example 3\n"
                   "bad;host 5\n"
                   "f.example 0\n"
                   "f.example 65536\n"
                   "f.example 12x\n"
                   "\n" +
                   std::string(160, 'g') + " 5\n" +
                   "h.example " + std::string(148, '0') + "7\n" + // 159 characters
                   "j.example " + std::string(149, '0') + "8\n" + // 160
                   "i.example 4"),
              "a.example:1 b.example:65535 c.example:42870 d.example:2 h.example:7 i.example:4 ");
}

TEST(servers_favorites, AnEditChangesOnlyTheLineItEdits)
{
    const std::string mixed = "# mine\r\nA.example 1\r\n; not ours\r\nb.example 2 friends\r\n#b.example 2\r\n"
                              "c.example\r\nnot a favourite line\r\n";
    struct {
        const char *what;
        std::string text;
        std::vector<favorite_edit> edits;
        std::string want;
    } rows[] = {
        { "remove: the host without regard to case", mixed, { remove("a.EXAMPLE", 1) },
          "# mine\r\n; not ours\r\nb.example 2 friends\r\n#b.example 2\r\nc.example\r\nnot a favourite line\r\n" },
        { "remove the default port", mixed, { remove("c.example", 42870) },
          "# mine\r\nA.example 1\r\n; not ours\r\nb.example 2 friends\r\n#b.example 2\r\nnot a favourite line\r\n" },
        { "remove: a comment naming it is no favourite", mixed, { remove("b.example", 2) },
          "# mine\r\nA.example 1\r\n; not ours\r\n#b.example 2\r\nc.example\r\nnot a favourite line\r\n" },
        { "remove what is not there", mixed, { remove("b.example", 3), remove("z.example", 1) }, mixed },
        { "add: the file's own line end", mixed, { add("d.example", 4) }, mixed + "d.example 4\r\n" },
        { "add what is there", mixed, { add("a.example", 1), add("C.EXAMPLE", 42870) }, mixed },
        { "add, remove, add again: it goes last", mixed, { remove("a.example", 1), add("a.example", 1) },
          "# mine\r\n; not ours\r\nb.example 2 friends\r\n#b.example 2\r\nc.example\r\nnot a favourite line\r\n"
          "a.example 1\r\n" },
        { "LF line ends", "x.example 5\nlast words", { add("y.example", 6) },
          "x.example 5\nlast words\ny.example 6\n" },
        { "a last line without its end", "x.example 5", { add("y.example", 6) }, "x.example 5\r\ny.example 6\r\n" },
        { "a last line without its end, removed", "# a\nx.example 5", { remove("x.example", 5) }, "# a\n" },
        { "of two equal lines, the last goes", "x.example 5\n# between\nx.example 5\n", { remove("x.example", 5) },
          "x.example 5\n# between\n" },
        { "a new file starts with the header", "", { add("x.example", 5) }, header + "\r\nx.example 5\r\n" },
        { "a host that may not stand there", "", { add("bad host", 5), add("x\nping", 5), add("x.example", 0) },
          "" },
    };
    for (auto &r : rows)
        EXPECT_EQ(edited(r.text, r.edits), r.want) << r.what;
}

TEST(servers_favorites, FortyEightAreKeptAndTheRestOfTheFileStays)
{
    // 60 favourites with a comment and three lines of other things: 64 lines.
    std::string text = "# my servers\nsomething else\n";
    for (int i = 0; i < 60; i++) {
        text += "h" + std::to_string(i) + ".example " + std::to_string(1000 + i) + "\n";
        if (i == 29)
            text += "[unknown]\nmore = text\n";
    }
    std::string kept = favs(text);
    EXPECT_EQ(kept.find("h47.example:1047 "), kept.size() - 17) << kept;
    // Removing one takes out its line only; the 49th comes into the list.
    std::string after = edited(text, { remove("h3.example", 1003) });
    std::string want = text;
    want.erase(want.find("h3.example 1003\n"), 16);
    EXPECT_EQ(after, want);
    EXPECT_NE(favs(after).find("h48.example:1048 "), std::string::npos);
    // With 48 kept, an add does not fit; the ones beyond 48 are no favourites
    // of the list, so removing one of them changes nothing.
    EXPECT_EQ(edited(text, { add("new.example", 1), remove("h55.example", 1055) }), text);
}
