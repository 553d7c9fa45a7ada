// Token text of any bytes: a text that reads as a token gives the same text
// back; any 64-bit value has a terminated text of at most 12 characters, and
// one that is exact reads back as that value.
#include "base/dm_token.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *d, size_t len)
{
    char text[64], back[DM_TOKEN_TEXT_SIZE];
    size_t n = len < sizeof text - 1 ? len : sizeof text - 1;
    memcpy(text, d, n);
    text[n] = 0;
    uint64_t value, value2;
    if (token_from_text(text, &value)) {
        FUZZ_CHECK(strlen(text) <= 12);
        FUZZ_CHECK(token_to_text(value, back, sizeof back) && strcmp(back, text) == 0);
    }
    if (len >= 8) {
        memcpy(&value, d, 8);
        memset(back, 'x', sizeof back);
        bool exact = token_to_text(value, back, sizeof back);
        FUZZ_CHECK(memchr(back, 0, sizeof back) != nullptr && strlen(back) <= 12);
        if (exact)
            FUZZ_CHECK(!strchr(back, '?') && token_from_text(back, &value2) && value2 == value);
        else
            FUZZ_CHECK(strchr(back, '?') || strlen(back) == 12);
    }
    return 0;
}
