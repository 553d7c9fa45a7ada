// The pure parts of server jobs: name tokens and their texts, the tagged
// set, the median km ratio, the stored distance, the prefixed row text and
// the command's words.
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include "world/job_text.h"

TEST(job_tokens, EitherCaseGivesOneTokenAndBadTextsGiveZero)
{
    // "abc": a=11, b=12, c=13, first character least significant.
    const uint64_t abc = 11 + 12 * 38 + 13 * 38 * 38;
    EXPECT_EQ(job_token_from_text("abc"), abc);
    EXPECT_EQ(job_token_from_text("ABC"), abc);
    EXPECT_EQ(job_token_from_text("0"), 1u);
    EXPECT_EQ(job_token_from_text("_"), 37u);
    EXPECT_EQ(job_token_from_text("abcdefghijkl"), job_token_from_text("ABCDEFGHIJKL"));
    EXPECT_NE(job_token_from_text("abcdefghijkl"), 0u);
    for (const char *bad : { "", "abcdefghijklm", "a.b", "a b", "milk!", "\xc3\xa9" })
        EXPECT_EQ(job_token_from_text(bad), 0u) << bad;
}

TEST(job_tokens, NamesSplitAtTheFirstDotIntoShortParts)
{
    char co[32], city[32];
    ASSERT_TRUE(job_split_name("quarry.berlin", co, city));
    EXPECT_STREQ(co, "quarry");
    EXPECT_STREQ(city, "berlin");
    EXPECT_FALSE(job_split_name("quarry", co, city));
    std::string long_part(32, 'a');
    EXPECT_FALSE(job_split_name((long_part + ".b").c_str(), co, city));
    EXPECT_FALSE(job_split_name(("a." + long_part).c_str(), co, city));
    EXPECT_TRUE(job_split_name((std::string(31, 'a') + "." + std::string(31, 'b')).c_str(), co, city));
}

TEST(job_tags, TheThirtyThirdOfferPushesTheOldestOut)
{
    job_tags t = {};
    for (uint64_t i = 1; i <= 32; i++)
        job_tag_offer(&t, 0x1000 + i);
    job_tag_offer(&t, 0x1005); // already in: nothing moves
    EXPECT_EQ(t.offers[0], 0x1001u);
    job_tag_offer(&t, 0x2000);
    EXPECT_FALSE(job_is_tagged(&t, 0x1001));
    EXPECT_TRUE(job_is_tagged(&t, 0x1002));
    EXPECT_EQ(t.offers[0], 0x1002u);
    EXPECT_EQ(t.offers[31], 0x2000u);
    // Untagging leaves a hole that the next offer fills.
    job_untag_offer(&t, 0x1010);
    EXPECT_FALSE(job_is_tagged(&t, 0x1010));
    job_tag_offer(&t, 0x3000);
    EXPECT_TRUE(job_is_tagged(&t, 0x1002));
    EXPECT_TRUE(job_is_tagged(&t, 0x3000));
    EXPECT_FALSE(job_is_tagged(&t, 0));
}

TEST(job_numbers, MedianAndStoredDistance)
{
    double none[1];
    EXPECT_EQ(job_median(none, 0), -1.0);
    double one[] = { 0.0013 };
    EXPECT_EQ(job_median(one, 1), 0.0013);
    double even[] = { 4, 1, 3, 2 };
    EXPECT_EQ(job_median(even, 4), 3.0); // the upper median
    double odd[] = { 5, 1, 9 };
    EXPECT_EQ(job_median(odd, 3), 5.0);
    struct { double metres, ratio; uint16_t km; } cases[] = {
        { 400, 0.001, 1 }, { 70000000, 0.001, 65000 }, { 20000, 0.0015, 30 }, { 1000, 0.0016, 2 },
    };
    for (auto &c : cases)
        EXPECT_EQ(job_km_from_metres(c.metres, c.ratio), c.km) << c.metres;
}

TEST(job_texts, RowTextFitsOrIsRefused)
{
    char out[JOB_ROW_TEXT_SIZE];
    size_t n = job_row_text(out, "gravel and more", 6);
    EXPECT_STREQ(out, "<color value=FF33DD33>[SERVER JOB] gravel");
    EXPECT_EQ(n, strlen(out));
    size_t prefix = strlen(JOB_ROW_PREFIX);
    std::string fits(511 - prefix, 'x'), too_long(512 - prefix, 'x');
    EXPECT_EQ(job_row_text(out, fits.c_str(), fits.size()), 511u);
    EXPECT_EQ(job_row_text(out, too_long.c_str(), too_long.size()), 0u);
}

TEST(job_texts, UpToEightWordsOfSixtyThreeCharacters)
{
    char w[JOB_WORDS_MAX][JOB_WORD_SIZE];
    EXPECT_EQ(job_words("", w), 0);
    EXPECT_EQ(job_words(nullptr, w), 0);
    EXPECT_EQ(job_words("  offer \t a  b ", w), 3);
    EXPECT_STREQ(w[0], "offer");
    EXPECT_STREQ(w[2], "b");
    EXPECT_EQ(job_words("1 2 3 4 5 6 7 8 9", w), 8);
    EXPECT_STREQ(w[7], "8");
    std::string big(70, 'q');
    EXPECT_EQ(job_words((big + " x").c_str(), w), 2);
    EXPECT_EQ(strlen(w[0]), 63u);
    EXPECT_STREQ(w[1], "x");
}

TEST(job_texts, NumberWordsAreWholeDecimalsWithinTheirRange)
{
    struct {
        const char *word;
        uint32_t max;
        bool ok;
        uint32_t value;
    } cases[] = {
        { "0", 255, true, 0 },       { "2", 255, true, 2 },       { "255", 255, true, 255 },
        { "+7", 255, true, 7 },      { "256", 255, false, 0 },    { "-1", 255, false, 0 },
        { "x", 255, false, 0 },      { "1x", 255, false, 0 },     { "0x10", 255, false, 0 },
        { "65535", 65535, true, 65535 }, { "65536", 65535, false, 0 }, { "4294967295", 65535, false, 0 },
        { "99999999999999999999", 65535, false, 0 }, { "", 255, false, 0 },
    };
    for (auto &c : cases) {
        uint32_t v = 12345;
        EXPECT_EQ(job_parse_number(c.word, c.max, &v), c.ok) << c.word;
        EXPECT_EQ(v, c.ok ? c.value : 12345u) << c.word;
    }
}
