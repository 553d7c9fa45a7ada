// UTF-8 and UTF-16 as the file layer and the names read from Windows use
// them: the default player name from a computer name cut by whole characters
// to 32 bytes, whole conversions refused when they do not fit, and bytes that
// are not UTF-8 refused. Expected bytes are written out by hand.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "dm_config_file.h"
#include "dm_utf8.h"

namespace {

using units = std::vector<uint16_t>;

/* The code units as the platform's wide text, NUL-terminated. */
std::basic_string<dm_wchar> wide(const units &u)
{
    std::basic_string<dm_wchar> w;
    for (uint16_t c : u)
        w.push_back((dm_wchar)c);
    return w;
}

units repeat(uint16_t c, size_t n) { return units(n, c); }

units operator+(units a, const units &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct name_case {
    const char *what;
    units name;
    int result;
    std::string utf8;
};

} // namespace

TEST(utf8, ComputerNamesBecomeUtf8CutByWholeCharactersTo32Bytes)
{
    const std::string a31(31, 'A'), a30(30, 'A'), a29(29, 'A'), a28(28, 'A');
    const name_case cases[] = {
        { "ASCII", { 'D', 'E', 'S', 'K', '-', '7' }, 6, "DESK-7" },
        { "Cyrillic, whole", { 0x0416, 0x0415, 0x041D, 0x042F, '-', 0x041F, 0x041A }, 13,
          "\xD0\x96\xD0\x95\xD0\x9D\xD0\xAF-\xD0\x9F\xD0\x9A" },
        // 15 three-byte characters: 45 bytes, ten of them fit.
        { "Chinese, cut to ten characters", repeat(0x738B, 15), 30,
          "\xE7\x8E\x8B\xE7\x8E\x8B\xE7\x8E\x8B\xE7\x8E\x8B\xE7\x8E\x8B"
          "\xE7\x8E\x8B\xE7\x8E\x8B\xE7\x8E\x8B\xE7\x8E\x8B\xE7\x8E\x8B" },
        { "two bytes ending at 32", repeat('A', 30) + units{ 0x00D6 }, 32, a30 + "\xC3\x96" },
        { "two bytes across 32", repeat('A', 31) + units{ 0x00D6 }, 31, a31 },
        { "three bytes across 32", repeat('A', 30) + units{ 0x82B3 }, 30, a30 },
        { "four bytes ending at 32", repeat('A', 28) + units{ 0xD83D, 0xDE00 }, 32, a28 + "\xF0\x9F\x98\x80" },
        { "four bytes across 32", repeat('A', 29) + units{ 0xD83D, 0xDE00 }, 29, a29 },
        { "empty", {}, 0, "" },
        { "a lone high surrogate", { 'P', 'C', 0xD83D }, -1, "" },
        { "a lone low surrogate", { 'P', 0xDE00, 'C' }, -1, "" },
        { "a high surrogate before a letter", { 0xD83D, 'C' }, -1, "" },
    };
    for (const name_case &c : cases) {
        char out[33];
        memset(out, 'x', sizeof out);
        int n = dm_utf8_name_from_wide(wide(c.name).c_str(), out, sizeof out, 32);
        EXPECT_EQ(n, c.result) << c.what;
        EXPECT_EQ(std::string(out), c.utf8) << c.what;
    }
    // A buffer smaller than the limit cuts by whole characters too.
    char small[6];
    EXPECT_EQ(dm_utf8_name_from_wide(wide({ 0x0416, 0x0415, 0x041D }).c_str(), small, sizeof small, 32), 4);
    EXPECT_EQ(std::string(small), "\xD0\x96\xD0\x95");
}

TEST(utf8, AWholeConversionThatDoesNotFitIsRefusedNotCut)
{
    // "王芳 Дм Jö": 3 + 3 + 1 + 2 + 2 + 1 + 1 + 2 = 15 bytes.
    const units name = { 0x738B, 0x82B3, ' ', 0x0414, 0x043C, ' ', 'J', 0x00F6 };
    const std::string utf8 = "\xE7\x8E\x8B\xE8\x8A\xB3 \xD0\x94\xD0\xBC J\xC3\xB6";
    char out[16];
    EXPECT_EQ(dm_utf8_from_wide(wide(name).c_str(), out, 16), 15);
    EXPECT_EQ(std::string(out), utf8);
    EXPECT_EQ(dm_utf8_from_wide(wide(name).c_str(), out, 15), -1);
    EXPECT_EQ(out[0], 0);

    dm_wchar back[9];
    EXPECT_EQ(dm_wide_from_utf8(utf8.c_str(), back, 9), 8);
    EXPECT_EQ(std::basic_string<dm_wchar>(back), wide(name));
    EXPECT_EQ(dm_wide_from_utf8(utf8.c_str(), back, 8), -1);
    EXPECT_EQ(back[0], 0);

    // A character beyond the first plane takes two units, which must both fit.
    dm_wchar pair[3];
    EXPECT_EQ(dm_wide_from_utf8("\xF0\x9F\x98\x80", pair, 3), 2);
    EXPECT_EQ((uint16_t)pair[0], 0xD83D);
    EXPECT_EQ((uint16_t)pair[1], 0xDE00);
    EXPECT_EQ(dm_wide_from_utf8("\xF0\x9F\x98\x80", pair, 2), -1);
}

TEST(utf8, BytesThatAreNotUtf8AreRefused)
{
    struct bad {
        const char *what, *bytes;
    } cases[] = {
        { "a continuation byte alone", "a\x80" },
        { "an overlong two-byte form", "\xC0\xAF" },
        { "an overlong three-byte form", "\xE0\x80\xAF" },
        { "an overlong four-byte form", "\xF0\x80\x80\xAF" },
        { "an encoded surrogate", "\xED\xA0\x80" },
        { "beyond U+10FFFF", "\xF4\x90\x80\x80" },
        { "a sequence cut short", "ok\xE7\x8E" },
        { "a sequence broken by a letter", "\xE7\x8E" "a" },
        { "a byte never used", "\xFF" },
        { "a text in code page 1252", "J\xF6rg" },
    };
    for (const bad &c : cases) {
        dm_wchar out[16];
        out[0] = 'x';
        EXPECT_EQ(dm_wide_from_utf8(c.bytes, out, 16), -1) << c.what;
        EXPECT_EQ(out[0], 0) << c.what;
    }
    // The edges that are allowed.
    dm_wchar out[4];
    EXPECT_EQ(dm_wide_from_utf8("\xEF\xBF\xBF", out, 4), 1);
    EXPECT_EQ((uint16_t)out[0], 0xFFFF);
    EXPECT_EQ(dm_wide_from_utf8("\xF4\x8F\xBF\xBF", out, 4), 2);
    EXPECT_EQ((uint16_t)out[0], 0xDBFF);
    EXPECT_EQ((uint16_t)out[1], 0xDFFF);
    EXPECT_EQ(dm_wide_from_utf8("", out, 1), 0);
}

TEST(utf8, CutsEndAtACharacterBoundary)
{
    const std::string text = "a\xC3\xB6\xE7\x8E\x8B\xF0\x9F\x98\x80"; // a ö 王 😀: 1 + 2 + 3 + 4 bytes
    const size_t expect[] = { 0, 1, 1, 3, 3, 3, 6, 6, 6, 6, 10, 10 };
    for (size_t max = 0; max < sizeof expect / sizeof expect[0]; max++)
        EXPECT_EQ(dm_utf8_cut(text.c_str(), text.size(), max), expect[max]) << max;
    // Continuation bytes with no character before them are no UTF-8: cut
    // where the limit falls, never back to nothing.
    const std::string stray = "ab" + std::string(40, '\x97');
    EXPECT_EQ(dm_utf8_cut(stray.c_str(), stray.size(), 32), 32u);
    EXPECT_EQ(dm_utf8_cut(stray.c_str() + 2, stray.size() - 2, 32), 32u);
}

// A file's UTF-16 bytes, little- and big-endian, as UTF-8: pairs joined, a
// lone surrogate and an odd last byte each one U+FFFD, NUL units kept.
TEST(utf8, Utf16BytesOfAFileBecomeUtf8)
{
    using namespace std::string_literals;
    struct {
        const char *what;
        std::string le, utf8;
    } cases[] = {
        { "ASCII", "a\0=\0\x31\0\r\0\n\0"s, "a=1\r\n" },
        { "two and three bytes", "\xF6\0\x8B\x73"s, "\xC3\xB6\xE7\x8E\x8B" },
        { "a pair", "\x3D\xD8\x00\xDE"s, "\xF0\x9F\x98\x80" },
        { "a lone high surrogate", "\x3D\xD8x\0"s, "\xEF\xBF\xBDx" },
        { "a high surrogate at the end", "x\0\x3D\xD8"s, "x\xEF\xBF\xBD" },
        { "a lone low surrogate", "\x00\xDEx\0"s, "\xEF\xBF\xBDx" },
        { "an odd last byte", "x\0y"s, "x\xEF\xBF\xBD" },
        { "a NUL unit", "a\0\0\0b\0"s, "a\0b"s },
        { "nothing", "", "" },
    };
    for (const auto &c : cases) {
        std::string be = c.le;
        for (size_t i = 0; i + 1 < be.size(); i += 2)
            std::swap(be[i], be[i + 1]);
        for (bool big : { false, true }) {
            const std::string &in = big ? be : c.le;
            // The longest a text of n bytes can become, and its NUL.
            std::vector<char> out(3 * (in.size() + 1) / 2 + 1, 'x');
            long n = dm_utf8_from_utf16_bytes((const uint8_t *)in.data(), in.size(), big, out.data(), out.size());
            ASSERT_GE(n, 0) << c.what << " " << big;
            EXPECT_EQ(std::string(out.data(), (size_t)n), c.utf8) << c.what << " " << big;
            EXPECT_EQ(out[(size_t)n], 0) << c.what;
        }
    }
    char small[3];
    EXPECT_EQ(dm_utf8_from_utf16_bytes((const uint8_t *)"\xF6\0\xF6\0", 4, false, small, sizeof small), -1);
    EXPECT_EQ(small[0], 0);
}

// config.ini's bytes as text: a UTF-8 byte-order mark skipped, UTF-16 with
// its mark converted, any other bytes (0x1A among them) taken as they are.
TEST(utf8, ConfigFileBytesBecomeText)
{
    using namespace std::string_literals;
    struct {
        const char *what;
        std::string bytes, text;
        int encoding;
    } cases[] = {
        { "plain", "a = 1\x1A\r\nb\n", "a = 1\x1A\r\nb\n", CONFIG_UTF8 },
        { "UTF-8 mark", "\xEF\xBB\xBF" "a = 1\n", "a = 1\n", CONFIG_UTF8_BOM },
        { "UTF-16 LE", "\xFF\xFE" "a\0=\0\xF6\0\n\0"s, "a=\xC3\xB6\n", CONFIG_UTF16LE },
        { "UTF-16 BE", "\xFE\xFF\0a\0=\0\xF6\0\n"s, "a=\xC3\xB6\n", CONFIG_UTF16BE },
        { "a mark cut short", "\xEF\xBB", "\xEF\xBB", CONFIG_UTF8 },
        { "bytes that are no text", "\xFF\x00\xFE"s, "\xFF\x00\xFE"s, CONFIG_UTF8 },
        { "empty", "", "", CONFIG_UTF8 },
    };
    for (const auto &c : cases) {
        config_file f;
        ASSERT_TRUE(config_file_decode((const uint8_t *)c.bytes.data(), c.bytes.size(), &f)) << c.what;
        EXPECT_EQ(std::string(f.text, f.len), c.text) << c.what;
        EXPECT_EQ(f.encoding, c.encoding) << c.what;
        EXPECT_EQ(f.text[f.len], 0) << c.what;
        config_file_free(&f);
    }
}

// A name copied into its buffer is cut at a whole character.
TEST(utf8, NamesAreCopiedCutAtAWholeCharacter)
{
    const std::string a31(31, 'a');
    struct {
        std::string text;
        size_t max;
        std::string out;
    } cases[] = {
        { a31 + "\xC3\xB6", 32, a31 },
        { a31 + "b\xC3\xB6", 32, a31 + "b" },
        { "\xE7\x8E\x8B\xE7\x8E\x8B", 5, "\xE7\x8E\x8B" },
        { "abc", 32, "abc" },
        { "", 32, "" },
    };
    for (const auto &c : cases) {
        char out[33];
        EXPECT_EQ(dm_utf8_copy(out, sizeof out, c.text.c_str(), c.max), c.out.size()) << c.text;
        EXPECT_EQ(std::string(out), c.out) << c.text;
    }
    char small[4];
    EXPECT_EQ(dm_utf8_copy(small, sizeof small, "a\xC3\xB6\xC3\xB6", 32), 3u); // the buffer cuts too
    EXPECT_EQ(std::string(small), "a\xC3\xB6");
}
