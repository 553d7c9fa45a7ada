// The vehicle commands' arguments, file paths and the spawn list reader.
#include <gtest/gtest.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>
#include "vehicles/vehicle_args.h"

namespace {

TEST(vehicle_args, SpawnTakesOneFiniteDecimalOrTheDefault)
{
    float m = -1;
    ASSERT_TRUE(vcmd_parse_spawn(nullptr, &m));
    EXPECT_EQ(m, 6.0f);
    struct {
        const char *rest;
        bool ok;
        float metres;
    } cases[] = {
        { "12.5", true, 12.5f }, { "-3", true, -3.0f }, { " 7 ", true, 7.0f }, { "0", true, 0.0f },
        { "abc", false, 0 },     { "", false, 0 },      { "12x", false, 0 },   { "1 2", false, 0 },
        { "nan", false, 0 },     { "inf", false, 0 },   { "-INF", false, 0 },  { "1e39", false, 0 }, // inf as f32
        { "1e400", false, 0 },
    };
    for (auto &c : cases) {
        m = -1;
        EXPECT_EQ(vcmd_parse_spawn(c.rest, &m), c.ok) << c.rest;
        if (c.ok) {
            EXPECT_EQ(m, c.metres) << c.rest;
        }
    }
}

TEST(vehicle_args, MoveReadsAWordAndUpToTwoFiniteNumbers)
{
    struct {
        const char *rest;
        bool ok;
        const char *word;
        int given;
        double a, b;
    } cases[] = {
        { "", true, "", 0, 0, 0 },
        { "  ", true, "", 0, 0, 0 },
        { "circle", true, "circle", 0, 0, 0 },
        { "circle 30 7.5", true, "circle", 2, 30, 7.5 },
        { "follow 2", true, "follow", 1, 2, 0 },
        { "park -4 10", true, "park", 2, -4, 10 },
        { "whatever", true, "whatever", 0, 0, 0 },
        { "abcdefghijklmno", true, "abcdefghijklmno", 0, 0, 0 }, // 15 characters
        { "abcdefghijklmnop", false, "", 0, 0, 0 },              // 16
        { "circle nan", false, "", 0, 0, 0 },
        { "circle 30 inf", false, "", 0, 0, 0 },
        { "circle abc", false, "", 0, 0, 0 },
        { "circle 1 2 3", false, "", 0, 0, 0 },
    };
    for (auto &c : cases) {
        vcmd_move_args m;
        ASSERT_EQ(vcmd_parse_move(c.rest, &m), c.ok) << c.rest;
        if (!c.ok)
            continue;
        EXPECT_STREQ(m.word, c.word) << c.rest;
        EXPECT_EQ(m.given, c.given) << c.rest;
        EXPECT_EQ(m.a, c.a) << c.rest;
        EXPECT_EQ(m.b, c.b) << c.rest;
    }
}

TEST(vehicle_args, FlagsTakeOneHexWordOf32Bits)
{
    struct {
        const char *rest;
        bool ok;
        uint32_t word;
    } cases[] = {
        { "1ff", true, 0x1FF },       { "0x80000000", true, 0x80000000u }, { "FFFFFFFF", true, 0xFFFFFFFFu },
        { "100000000", false, 0 },    { "", false, 0 },                    { "xyz", false, 0 },
        { "12 34", false, 0 },        { "-1", false, 0 },
    };
    for (auto &c : cases) {
        uint32_t w = 7;
        EXPECT_EQ(vcmd_parse_flags(c.rest, &w), c.ok) << c.rest;
        if (c.ok) {
            EXPECT_EQ(w, c.word) << c.rest;
        }
    }
}

TEST(vehicle_args, SpawnlistTakesAFileAndFiniteMetres)
{
    std::string long_name(259, 'n'), too_long(260, 'n');
    struct {
        std::string rest;
        bool ok;
        std::string file;
        float metres;
    } cases[] = {
        { "list.txt", true, "list.txt", 6.0f },
        { "list.txt 12.5", true, "list.txt", 12.5f },
        { "C:\\x\\y.txt -2", true, "C:\\x\\y.txt", -2.0f },
        { long_name, true, long_name, 6.0f },
        { too_long, false, "", 0 },
        { "", false, "", 0 },
        { "list.txt nan", false, "", 0 },
        { "list.txt inf", false, "", 0 },
        { "list.txt 1e39", false, "", 0 },
        { "list.txt abc", false, "", 0 },
        { "list.txt 1 2", false, "", 0 },
    };
    for (auto &c : cases) {
        char file[VCMD_FILE_MAX + 1] = "";
        float m = -1;
        EXPECT_EQ(vcmd_parse_spawnlist(c.rest.c_str(), file, sizeof file, &m), c.ok) << c.rest;
        if (!c.ok)
            continue;
        EXPECT_EQ(std::string(file), c.file);
        EXPECT_EQ(m, c.metres);
    }
}

TEST(vehicle_args, PathsInTheBaseDirectoryOrAsGiven)
{
    const char *base = "C:\\users\\me\\drovemark\\";
    struct {
        std::string name;
        bool ok;
        std::string path;
    } cases[] = {
        { "list.txt", true, std::string(base) + "list.txt" },
        { "D:\\lists\\a.txt", true, "D:\\lists\\a.txt" },
        { "\\\\server\\a.txt", true, "\\\\server\\a.txt" },
        { "/tmp/a.txt", true, "/tmp/a.txt" },
        { "sub\\a.txt", true, std::string(base) + "sub\\a.txt" },
        { std::string(259 - strlen(base), 'n'), true, std::string(base) + std::string(259 - strlen(base), 'n') },
        { std::string(260 - strlen(base), 'n'), false, "" },
    };
    for (auto &c : cases) {
        char out[300];
        EXPECT_EQ(vcmd_path(out, sizeof out, base, c.name.c_str()), c.ok) << c.name;
        if (c.ok) {
            EXPECT_EQ(std::string(out), c.path);
        }
    }
}

TEST(vehicle_args, OwnFilesOfTheBaseDirectoryAreTold)
{
    const char *base = "C:\\users\\me\\drovemark\\";
    struct {
        const char *full;
        bool own;
    } cases[] = {
        { "C:\\users\\me\\drovemark\\config.ini", true },
        { "c:/Users/ME/Drovemark/CONFIG.INI", true },
        { "C:\\users\\me\\drovemark\\state.json.tmp", true },
        { "C:\\users\\me\\drovemark\\identity.key.", true },
        { "C:\\users\\me\\drovemark\\drovemark.log", true },
        { "C:\\users\\me\\drovemark\\core", true },
        { "C:\\users\\me\\drovemark\\truck.txt", false },
        { "C:\\users\\me\\drovemark\\sub\\config.ini", false },
        { "C:\\users\\me\\config.ini", false },
        { "D:\\lists\\cmd.txt", false },
    };
    for (auto &c : cases)
        EXPECT_EQ(vcmd_is_own_file(c.full, base), c.own) << c.full;
}

/* A file with those bytes, read by spawnlist_read. */
std::vector<std::string> read_list(const std::string &bytes, int *count)
{
    FILE *f = tmpfile();
    EXPECT_TRUE(f);
    fwrite(bytes.data(), 1, bytes.size(), f);
    rewind(f);
    static char list[LOOK_LIST_MAX * LOOK_ENTRY_SIZE];
    *count = spawnlist_read(f, list);
    fclose(f);
    std::vector<std::string> out;
    const char *p = list;
    for (int i = 0; i < *count; i++) {
        out.push_back(p);
        p += strlen(p) + 1;
    }
    return out;
}

TEST(spawnlist_read, SkipsCommentsEmptyAndLongLinesWhole)
{
    std::string e223(223, 'e'), e224(224, 'f');
    // 300 characters whose rest after 255 would look like an entry.
    std::string overlong = std::string(255, 'x') + "/def/rest.sii";
    overlong += std::string(300 - overlong.size(), 'y');
    int n = 0;
    auto got = read_list("/def/a.sii\r\n\n# comment\n" + e223 + "\n" + e224 + "\n" + overlong + "\n/def/b.sii;o=2\r\n" +
                             std::string(255, 'z') + "\n/def/c.sii",
                         &n);
    std::vector<std::string> expect = { "/def/a.sii", e223, "/def/b.sii;o=2", "/def/c.sii" };
    EXPECT_EQ(got, expect);
    EXPECT_EQ(n, 4);
}

TEST(spawnlist_read, StopsAfter128Entries)
{
    std::string text;
    for (int i = 0; i < 200; i++)
        text += "/def/part" + std::to_string(i) + ".sii\n";
    int n = 0;
    auto got = read_list(text, &n);
    ASSERT_EQ(n, 128);
    EXPECT_EQ(got.front(), "/def/part0.sii");
    EXPECT_EQ(got.back(), "/def/part127.sii");
    // 128 entries of 223 characters fill the list exactly.
    text.clear();
    for (int i = 0; i < 130; i++)
        text += std::string(223, (char)('a' + i % 26)) + "\n";
    got = read_list(text, &n);
    ASSERT_EQ(n, 128);
    EXPECT_EQ(got.back(), std::string(223, (char)('a' + 127 % 26)));
}

} // namespace
