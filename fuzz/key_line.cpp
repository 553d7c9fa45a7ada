// identity.key as any bytes: its first line as the player-key loader reads it
// (at most 79 characters). A seed that parses is written out as a whole
// identity.key text again, whose first line must parse to the same seed.
#include "fuzz_check.h"
#include "net/net_key.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *d, size_t len)
{
    const uint8_t *at = d;
    char line[80];
    uint8_t seed[32], seed2[32];
    if (!fuzz_line(&at, d + len, line, sizeof line) || !net_key_parse_line(line, seed))
        return 0;
    char text[256], first[80];
    int n = net_key_file_text(seed, text, sizeof text);
    FUZZ_CHECK(n > 64 && (size_t)n < sizeof text && text[64] == '\n');
    const uint8_t *t = (const uint8_t *)text;
    FUZZ_CHECK(fuzz_line(&t, t + n, first, sizeof first) && net_key_parse_line(first, seed2));
    FUZZ_CHECK(memcmp(seed, seed2, sizeof seed) == 0);
    // The text holds the line in lowercase hex: the input's first 64 characters, lowercased.
    for (int i = 0; i < 64; i++)
        FUZZ_CHECK(text[i] == (char)((line[i] >= 'A' && line[i] <= 'F') ? line[i] - 'A' + 'a' : line[i]));
    return 0;
}
