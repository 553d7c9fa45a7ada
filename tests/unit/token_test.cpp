#include <gtest/gtest.h>
#include <string.h>
#include "base/dm_token.h"

TEST(token, RoundTripsAndRejects)
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
        ASSERT_EQ(token_from_text(c.text, &v), c.ok) << c.text;
        if (!c.ok)
            continue;
        if (c.value) {
            EXPECT_EQ(v, c.value) << c.text;
        }
        char back[16];
        ASSERT_TRUE(token_to_text(v, back, sizeof back)) << c.text;
        EXPECT_STREQ(back, c.text);
    }
}

// Every value has a text: a zero digit prints "?" in its place, at most 12
// characters; only a value whose text reads back as it is exact.
TEST(token, AZeroDigitPrintsAQuestionMarkInItsPlace)
{
    struct { uint64_t value; const char *text; bool exact; } cases[] = {
        { 11 + 0 * 38 + 12 * 38 * 38, "a?b", false }, // a, digit 0, b
        { 38, "?0", false },                           // the lowest digit 0
        { 38 * 38 * 11, "??a", false },
        { ~0ULL, nullptr, false },                     // more than 12 digits: cut at 12
        { 0, "", true },
    };
    for (auto &c : cases) {
        char out[16];
        memset(out, 'x', sizeof out);
        EXPECT_EQ(token_to_text(c.value, out, sizeof out), c.exact) << c.value;
        ASSERT_NE(memchr(out, 0, 13), nullptr) << c.value;
        if (c.text) {
            EXPECT_STREQ(out, c.text) << c.value;
        } else {
            EXPECT_EQ(strlen(out), 12u) << out;
        }
    }
    // A smaller buffer is never overrun: the text is cut to it.
    char small[2];
    EXPECT_FALSE(token_to_text(11 + 38 * 11, small, sizeof small)); // "aa"
    EXPECT_STREQ(small, "a");
}
