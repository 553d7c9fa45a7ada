// favorites.txt as text: the favourites it holds, and the edits of the
// server browser made to the text itself, so that an edit changes only the
// line of the favourite it edits. Comments, lines that hold no favourite,
// favourites beyond the 48 kept and the file's own line ends all stay as the
// player wrote them. Pure: the worker reads and writes the file
// (servers_list.cpp).
//
// Index of this file:
// [SECTION] Lines
// [SECTION] Reading
// [SECTION] Editing
//
// The text, as read:
// - Lines end at LF; a CR before the LF is no part of the line. A line of
//   more than 159 characters holds no favourite (its rest never reads as a
//   line of its own).
// - A line whose first non-blank character is "#", or that is empty, is a
//   comment. Otherwise its first word is the host (a valid host,
//   servers_host_ok) and a following number, when there is one, the port
//   (1 to 65535; 42870 when missing); a port that is not such a number
//   makes the line hold no favourite, words after a blank are ignored.
// - The first 48 favourites are kept, in file order.
#include <stdio.h>
#include <string.h>
#include "online/servers.h"

namespace {

const char FAVORITES_HEADER[] = "# drovemark favourite servers: host port (edited by the in-game server browser)";
const size_t FAVORITE_LINE_MAX = 159;

//-----------------------------------------------------------------------------
// [SECTION] Lines
//-----------------------------------------------------------------------------

// One line of the text: [start, start + length) without its line end; next
// is where the following line starts.
struct text_line {
    size_t start, length, next;
};

bool next_line(const char *text, size_t size, size_t at, text_line *out)
{
    if (at >= size)
        return false;
    size_t end = at;
    while (end < size && text[end] != '\n')
        end++;
    out->start = at;
    out->length = end - at;
    if (out->length > 0 && text[end - 1] == '\r')
        out->length--;
    out->next = end < size ? end + 1 : end;
    return true;
}

// "host [port]"; false when the line holds no favourite.
bool favorite_line(const char *line, favorite_server *out)
{
    const char *p = line;
    while (*p == ' ' || *p == '\t')
        p++;
    if (*p == '#' || !*p)
        return false;
    size_t n = strcspn(p, " \t");
    if (n >= sizeof out->host)
        return false;
    memcpy(out->host, p, n);
    out->host[n] = 0;
    if (!servers_host_ok(out->host))
        return false;
    p += n;
    while (*p == ' ' || *p == '\t')
        p++;
    if (!*p) {
        out->port = CONFIG_DEFAULT_PORT;
        return true;
    }
    unsigned long port = 0;
    for (; *p >= '0' && *p <= '9'; p++)
        if ((port = port * 10 + (unsigned long)(*p - '0')) > 65535)
            return false;
    if ((*p && *p != ' ' && *p != '\t') || port < 1)
        return false;
    out->port = (uint16_t)port;
    return true;
}

// The favourite a line of the text holds; false when it holds none.
bool line_favorite(const char *text, const text_line &l, favorite_server *out)
{
    char line[FAVORITE_LINE_MAX + 1];
    if (l.length > FAVORITE_LINE_MAX)
        return false;
    memcpy(line, text + l.start, l.length);
    line[l.length] = 0;
    return favorite_line(line, out);
}

bool same_server(const favorite_server &f, const char *host, uint16_t port)
{
    return f.port == port && strcasecmp(f.host, host) == 0;
}

} // namespace

//-----------------------------------------------------------------------------
// [SECTION] Reading
//-----------------------------------------------------------------------------

int servers_favorites_parse(const char *text, size_t size, favorite_server *out, int capacity)
{
    int n = 0;
    text_line l;
    for (size_t at = 0; n < capacity && next_line(text, size, at, &l); at = l.next)
        if (line_favorite(text, l, &out[n]))
            n++;
    return n;
}

//-----------------------------------------------------------------------------
// [SECTION] Editing
//-----------------------------------------------------------------------------

size_t servers_favorites_apply(char *text, size_t size, size_t room, const favorite_edit *edit)
{
    // The kept favourites: how many, and the line of the last one that is
    // the edited server.
    int kept = 0;
    bool found = false;
    text_line match = {}, l;
    favorite_server f;
    for (size_t at = 0; kept < SERVERS_MAX && next_line(text, size, at, &l); at = l.next) {
        if (!line_favorite(text, l, &f))
            continue;
        kept++;
        if (same_server(f, edit->host, edit->port)) {
            found = true;
            match = l;
        }
    }
    if (edit->op == FAVORITE_REMOVE) {
        if (!found)
            return size;
        memmove(text + match.start, text + match.next, size - match.next);
        return size - (match.next - match.start);
    }
    if (found || kept >= SERVERS_MAX || !servers_host_ok(edit->host) || edit->port == 0)
        return size;
    // The line end the file already uses (CR LF for a new file).
    const char *eol = "\r\n";
    const char *lf = (const char *)memchr(text, '\n', size);
    if (lf && (lf == text || lf[-1] != '\r'))
        eol = "\n";
    char add[2 * sizeof FAVORITES_HEADER + SERVERS_HOST_MAX + 16];
    int n = 0;
    if (size == 0)
        n = snprintf(add, sizeof add, "%s%s", FAVORITES_HEADER, eol);
    else if (text[size - 1] != '\n')
        n = snprintf(add, sizeof add, "%s", eol); // the last line ends before one is added
    n += snprintf(add + n, sizeof add - (size_t)n, "%s %u%s", edit->host, (unsigned)edit->port, eol);
    if (room < size || (size_t)n > room - size)
        return size;
    memcpy(text + size, add, (size_t)n);
    return size + (size_t)n;
}
