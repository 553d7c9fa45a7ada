// Plain text of the console: the fields and numbers every command reads,
// and text made safe to log.
#include <gtest/gtest.h>
#include <math.h>
#include <stdint.h>
#include "base/plain_text.h"

TEST(text_numbers, DecimalsAreFiniteAndWhole)
{
    struct { const char *text; bool ok; double value; const char *left; } cases[] = {
        { "12.5", true, 12.5, "" },    { "  -3 rest", true, -3, " rest" }, { "1e3", true, 1000, "" },
        { "nan", false, 0, "nan" },    { "NaN", false, 0, "NaN" },         { "inf", false, 0, "inf" },
        { "-infinity", false, 0, "-infinity" }, { "1e999", false, 0, "1e999" }, { "12x", false, 0, "12x" },
        { "", false, 0, "" },          { "   ", false, 0, "   " },
    };
    for (auto &c : cases) {
        const char *p = c.text;
        double v = -1;
        EXPECT_EQ(text_parse_f64(&p, &v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
        EXPECT_STREQ(p, c.left) << c.text;
    }
}

TEST(text_numbers, ARangeHoldsBothEndsAndNothingPast)
{
    struct { const char *text; bool ok; const char *left; } cases[] = {
        { "1", true, "" },        { "86400 x", true, " x" }, { "1.0", true, "" },
        { "0.999", false, "0.999" }, { "86400.01", false, "86400.01" }, { "-1", false, "-1" },
        { "nan", false, "nan" },  { "1e309", false, "1e309" }, { "-1e309", false, "-1e309" },
    };
    for (auto &c : cases) {
        const char *p = c.text;
        double v = -7;
        EXPECT_EQ(text_parse_f64_in(&p, 1.0, 86400.0, &v), c.ok) << c.text;
        EXPECT_EQ(v == -7, !c.ok) << c.text << ": written only when it fits";
        EXPECT_STREQ(p, c.left) << c.text;
    }
}

TEST(text_numbers, HexFieldsFitTheirWidth)
{
    struct { const char *text; bool ok32, ok64; uint64_t value; } cases[] = {
        { "ff", true, true, 0xff },
        { "0x10", true, true, 0x10 },
        { "FFFFFFFF", true, true, 0xFFFFFFFF },
        { "100000000", false, true, 0x100000000ull },
        { "ffffffffffffffff", false, true, ~0ull },
        { "1ffffffffffffffff", false, false, 0 },
        { "-1", false, false, 0 },
        { "+1", false, false, 0 },
        { "0x", false, false, 0 },
        { "12g", false, false, 0 },
        { "", false, false, 0 },
    };
    for (auto &c : cases) {
        const char *p = c.text;
        uint32_t v32 = 0;
        uint64_t v64 = 0;
        EXPECT_EQ(text_parse_hex_u32(&p, &v32), c.ok32) << c.text;
        if (c.ok32) {
            EXPECT_EQ(v32, c.value) << c.text;
        }
        p = c.text;
        EXPECT_EQ(text_parse_hex_u64(&p, &v64), c.ok64) << c.text;
        if (c.ok64) {
            EXPECT_EQ(v64, c.value) << c.text;
        }
    }
}

TEST(text_numbers, LeadingNumbersRefuseNanInfinityAndOverflow)
{
    struct { const char *text; bool ok; float value; const char *left; } floats[] = {
        { "1.5 x", true, 1.5f, " x" }, { "  -2e3", true, -2000, "" }, { "7", true, 7, "" },
        { "nan", false, 0, nullptr }, { " NAN", false, 0, nullptr }, { "inf", false, 0, nullptr },
        { "-infinity", false, 0, nullptr }, { "1e39", false, 0, nullptr }, { "x", false, 0, nullptr },
        { "", false, 0, nullptr },
    };
    for (auto &c : floats) {
        const char *t = c.text;
        float v = -1;
        EXPECT_EQ(text_parse_float(&t, &v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
            EXPECT_STREQ(t, c.left) << c.text;
        } else {
            EXPECT_EQ(t, c.text) << c.text;
            EXPECT_EQ(v, -1) << c.text;
        }
    }
    struct { const char *text; bool ok; int32_t value; } ints[] = {
        { "3", true, 3 }, { " -1", true, -1 }, { "2147483647", true, INT32_MAX }, { "-2147483648", true, INT32_MIN },
        { "2147483648", false, 0 }, { "99999999999999999999", false, 0 }, { "nan", false, 0 },
        { "inf", false, 0 }, { "", false, 0 },
    };
    for (auto &c : ints) {
        const char *t = c.text;
        int32_t v = -7;
        EXPECT_EQ(text_parse_int(&t, &v), c.ok) << c.text;
        EXPECT_EQ(v, c.ok ? c.value : -7) << c.text;
    }
}

TEST(text_clean, ControlBytesBecomeQuestionMarks)
{
    char clean[16];
    EXPECT_STREQ(text_clean(clean, sizeof clean, "a\nb\x7f" "c", 5), "a?b?c");
}
