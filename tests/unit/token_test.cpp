#include <gtest/gtest.h>
#include "dm_token.h"

TEST(Token, RoundTripsAndRejects)
{
    struct { const char *text; bool ok; uint64_t value; } cases[] = {
        { "", true, 0 },
        { "0", true, 1 },
        { "a", true, 11 },
        { "_", true, 37 },
        { "a0", true, 11 + 38 * 1 },
        { "abcdefghijkl", true, 0 },
        { "abcdefghijklm", false, 0 },
        { "A", false, 0 },
        { "a.b", false, 0 },
    };
    for (auto &c : cases) {
        uint64_t v = 0;
        ASSERT_EQ(dm_token_from_text(c.text, &v), c.ok) << c.text;
        if (!c.ok)
            continue;
        if (c.value) {
            EXPECT_EQ(v, c.value) << c.text;
        }
        char back[16];
        ASSERT_TRUE(dm_token_to_text(v, back, sizeof back)) << c.text;
        EXPECT_STREQ(back, c.text);
    }
}

TEST(Token, NonTokenValuesAreRefused)
{
    char out[16];
    EXPECT_FALSE(dm_token_to_text(38, out, sizeof out)); // a zero digit
    EXPECT_FALSE(dm_token_to_text(~0ULL, out, sizeof out)); // more than 12 digits
    EXPECT_FALSE(dm_token_to_text(11 + 38 * 11, out, 2)); // "aa" does not fit
}
