// servers.json as any bytes (never read past their length: the text is
// copied to a buffer of exactly that size). Every kept server has a valid
// host, a port and terminated texts; a smaller capacity keeps the same
// first servers and gives the same verdict on malformed text.
#include <string.h>
#include <vector>
#include "fuzz_check.h"
#include "online/servers.h"

namespace {

bool terminated(const char *text, size_t size) { return memchr(text, 0, size) != nullptr; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *d, size_t len)
{
    std::vector<char> text(d, d + len); // exactly len bytes: ASan sees a read past them
    static server_entry all[SERVERS_MAX], two[2];
    memset(all, 0x5A, sizeof all);
    int n = servers_parse_json(text.data(), len, all, SERVERS_MAX);
    FUZZ_CHECK(n >= -1 && n <= SERVERS_MAX);
    for (int i = 0; i < n; i++) {
        const server_entry &s = all[i];
        FUZZ_CHECK(terminated(s.name, sizeof s.name) && terminated(s.description, sizeof s.description) &&
                   terminated(s.region, sizeof s.region) && terminated(s.host, sizeof s.host));
        FUZZ_CHECK(servers_host_ok(s.host) && s.port >= 1);
    }
    int m = servers_parse_json(text.data(), len, two, 2);
    FUZZ_CHECK(n < 0 ? m == -1 : m == (n < 2 ? n : 2));
    for (int i = 0; i < m; i++)
        FUZZ_CHECK(strcmp(two[i].host, all[i].host) == 0 && two[i].port == all[i].port &&
                   strcmp(two[i].name, all[i].name) == 0);
    return 0;
}
