// favorites.txt as any bytes (never read past their length). Every kept
// favourite has a valid host and a port; removing a kept favourite cuts out
// one whole line and nothing else, adding it back appends one line, and the
// favourites of the new texts are the old ones less and plus that one.
#include <string.h>
#include <vector>
#include "fuzz_check.h"
#include "online/servers.h"

namespace {

bool same(const favorite_server &a, const favorite_server &b) { return a.port == b.port && strcmp(a.host, b.host) == 0; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *d, size_t len)
{
    std::vector<char> text(d, d + len); // exactly len bytes: ASan sees a read past them
    static favorite_server all[SERVERS_MAX], after[SERVERS_MAX];
    int n = servers_favorites_parse(text.data(), len, all, SERVERS_MAX);
    FUZZ_CHECK(n >= 0 && n <= SERVERS_MAX);
    for (int i = 0; i < n; i++)
        FUZZ_CHECK(servers_host_ok(all[i].host) && all[i].port >= 1);
    if (n == 0)
        return 0;

    // The last kept favourite, removed: one line of the text is gone.
    const favorite_server gone = all[n - 1];
    favorite_edit remove = {};
    remove.op = FAVORITE_REMOVE;
    memcpy(remove.host, gone.host, sizeof remove.host);
    remove.port = gone.port;
    size_t room = len + 2 * SERVERS_FAVORITE_EDIT_ROOM;
    std::vector<char> edited(room);
    memcpy(edited.data(), text.data(), len);
    size_t m = servers_favorites_apply(edited.data(), len, room, &remove);
    FUZZ_CHECK(m < len);
    // The cut: len - m bytes from the start of a line through its line end
    // (or the end of the text), at or before the first byte that differs.
    size_t cut = len - m, head = 0;
    while (head < m && edited[head] == text[head])
        head++;
    bool one_line = false;
    for (size_t s = head + 1; s-- > 0 && !one_line;)
        one_line = (s == 0 || text[s - 1] == '\n') && (text[s + cut - 1] == '\n' || s + cut == len) &&
                   memcmp(edited.data() + s, text.data() + s + cut, m - s) == 0 &&
                   memchr(text.data() + s, '\n', cut - 1) == nullptr;
    FUZZ_CHECK(one_line);
    int k = servers_favorites_parse(edited.data(), m, after, SERVERS_MAX);
    FUZZ_CHECK(k >= n - 1);
    for (int i = 0; i < n - 1; i++)
        FUZZ_CHECK(same(after[i], all[i]));

    // Added back: the text grows at its end only.
    favorite_edit add = remove;
    add.op = FAVORITE_ADD;
    size_t before = m;
    size_t grown = servers_favorites_apply(edited.data(), m, room, &add);
    FUZZ_CHECK(grown >= before && memcmp(edited.data(), text.data(), head) == 0);
    return 0;
}
