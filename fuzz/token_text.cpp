// Token text of any bytes: a text that reads as a token gives the same text
// back; and any 64-bit value that has a text form reads back as that value.
#include "dm_token.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *d, size_t len)
{
    char text[64], back[16];
    size_t n = len < sizeof text - 1 ? len : sizeof text - 1;
    memcpy(text, d, n);
    text[n] = 0;
    uint64_t value, value2;
    if (dm_token_from_text(text, &value)) {
        FUZZ_CHECK(strlen(text) <= 12);
        FUZZ_CHECK(dm_token_to_text(value, back, sizeof back) && strcmp(back, text) == 0);
    }
    if (len >= 8) {
        memcpy(&value, d, 8);
        if (dm_token_to_text(value, back, sizeof back)) {
            FUZZ_CHECK(strlen(back) <= 12);
            FUZZ_CHECK(dm_token_from_text(back, &value2) && value2 == value);
        }
    }
    return 0;
}
