// Look list entries: the writer's text from accessory values and the parser,
// pinned by entry texts written by hand, then their limits and bad fields.
#include <gtest/gtest.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include "vehicles/look_list.h"
#include "vehicles/vehicle_defs.h"

namespace {

const char *const wheel_path = "/def/acc/wheel_front.sii";
const char *const paint_path = "/def/acc/paint_job.sii";
const char *const cargo_path = "/def/acc/cargo_holder.sii";

look_accessory cargo_accessory(const char *name)
{
    look_accessory a = {};
    a.path = cargo_path;
    a.kind = LOOK_KIND_CARGO;
    a.cargo_name = name;
    a.cargo_seed = 0x1234abcd5678ef00ull;
    a.cargo_load = 3;
    a.cargo_lash = 1;
    a.cargo_gear = 2;
    a.cargo_hook[0] = 0.5f;
    a.cargo_hook[1] = -1.25f;
    a.cargo_hook[2] = 0.1f;
    a.cargo_units = 2.5f;
    a.cargo_models = 4;
    a.cargo_dims[0] = 1.5f;
    a.cargo_dims[1] = 2.0f;
    a.cargo_dims[2] = 1234567.0f;
    return a;
}
const char *const cargo_fields_text = ";s=1234abcd5678ef00;m=3,1,2;h=0.5,-1.25,0.1;u=2.5;n=4;d=1.5,2,1.23457e+06";

/* 18 paint values and their bytes, worked by hand: ceil(clamp(v) * 255) with
 * the product rounded to f32 (0.2f * 255 is 51 in f32, 51.0000008 in f64). */
const float paint_values[LOOK_PAINT_COUNT] = {
    0.0f, 1.0f, 0.5f, -0.3f, 1.7f, 0.2f, 0.25f, 0.75f, 0.1f, 0.9f, 0.01f, NAN, 0.3f, 0.4f, 0.7f, 0.8f, 1e-9f, 0.6f,
};
const char *const paint_hex = "00ff8000ff3340c01ae603004d66b3cc0199";

std::string text_of(const look_accessory &a, size_t size = LOOK_ENTRY_SIZE, int *result = nullptr)
{
    char buf[1024];
    memset(buf, 'X', sizeof buf);
    int r = look_format_text(&a, buf, size);
    if (result)
        *result = r;
    EXPECT_LT(strnlen(buf, sizeof buf), size) << "not NUL-terminated within the size";
    return std::string(buf);
}

look_entry parsed(const std::string &text, bool expect_ok = true)
{
    look_entry e;
    EXPECT_EQ(look_parse_entry(text.c_str(), &e), expect_ok) << text;
    return e;
}

// Wheels without ";o=" are numbered per model in list order: 0, 2, 4 ...;
// a seventeenth model finds no room and gets 0 for each of its wheels.
TEST(look_wheels, NumberedPerModel)
{
    look_wheel_table t = {};
    const uint64_t a = 0x5EED000000000001ull, b = 0x5EED000000000002ull;
    struct { uint64_t key; uint16_t want; } rows[] = {
        { a, 0 }, { a, 2 }, { b, 0 }, { a, 4 }, { b, 2 }, { 0, 0 }, { 0, 2 },
    };
    for (auto &r : rows)
        EXPECT_EQ(look_wheel_offset(&t, r.key), r.want) << std::hex << r.key;
    for (uint64_t k = 100; t.count < LOOK_WHEEL_MODELS; k++)
        EXPECT_EQ(look_wheel_offset(&t, k), 0);
    EXPECT_EQ(look_wheel_offset(&t, 999), 0);
    EXPECT_EQ(look_wheel_offset(&t, 999), 0);
    EXPECT_EQ(look_wheel_offset(&t, a), 6) << "the known models go on";
}

} // namespace

// Each kind's entry text, written by hand.
TEST(look_write, EachKindGolden)
{
    look_accessory generic = {};
    generic.path = "/def/acc/chassis_6x4.sii";
    EXPECT_EQ(text_of(generic), "/def/acc/chassis_6x4.sii");

    look_accessory wheel = {};
    wheel.path = wheel_path;
    wheel.kind = LOOK_KIND_WHEEL;
    struct { uint16_t offset; const char *text; } wheels[] = {
        { 0, "/def/acc/wheel_front.sii;o=0" },
        { 6, "/def/acc/wheel_front.sii;o=6" },
        { 65535, "/def/acc/wheel_front.sii;o=65535" },
    };
    for (auto &w : wheels) {
        wheel.wheel_offset = w.offset;
        EXPECT_EQ(text_of(wheel), w.text);
    }

    look_accessory paint = {};
    paint.path = paint_path;
    paint.kind = LOOK_KIND_PAINT;
    memcpy(paint.paint, paint_values, sizeof paint.paint);
    EXPECT_EQ(text_of(paint), "/def/acc/paint_job.sii;p=00ff8000ff3340c01ae603004d66b3cc0199");

    EXPECT_EQ(text_of(cargo_accessory("cargo.logs")),
              "/def/acc/cargo_holder.sii;k=cargo.logs;s=1234abcd5678ef00;m=3,1,2;h=0.5,-1.25,0.1;u=2.5;n=4;"
              "d=1.5,2,1.23457e+06");

    // A null path is an empty text; the kind's field still follows.
    wheel.path = nullptr;
    wheel.wheel_offset = 2;
    EXPECT_EQ(text_of(wheel), ";o=2");
}

// The same texts read back: every field of the record.
TEST(look_parse, GoldenEntries)
{
    look_entry e = parsed("/def/acc/chassis_6x4.sii");
    EXPECT_STREQ(e.path, "/def/acc/chassis_6x4.sii");
    EXPECT_EQ(e.wheel_offset, -1);
    EXPECT_EQ(e.has_paint, 0u);
    EXPECT_EQ(e.has_cargo, 0);
    EXPECT_EQ(e.cargo_seed, 0u);
    EXPECT_EQ(e.cargo_load + e.cargo_lash + e.cargo_gear, 0u);
    EXPECT_EQ(e.cargo_units, 1.0f);
    EXPECT_EQ(e.cargo_models, 1u);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(e.cargo_hook[i], 0.0f);
        EXPECT_EQ(e.cargo_dims[i], 0.0f);
    }

    e = parsed("/def/acc/wheel_front.sii;o=65535");
    EXPECT_STREQ(e.path, "/def/acc/wheel_front.sii");
    EXPECT_EQ(e.wheel_offset, 65535);

    e = parsed("/def/acc/paint_job.sii;p=00ff8000ff3340c01ae603004d66b3cc0199");
    EXPECT_STREQ(e.path, "/def/acc/paint_job.sii");
    ASSERT_EQ(e.has_paint, 1u);
    const int bytes[LOOK_PAINT_COUNT] = { 0x00, 0xff, 0x80, 0x00, 0xff, 0x33, 0x40, 0xc0, 0x1a,
                                          0xe6, 0x03, 0x00, 0x4d, 0x66, 0xb3, 0xcc, 0x01, 0x99 };
    for (int i = 0; i < LOOK_PAINT_COUNT; i++)
        EXPECT_EQ(e.paint[i], (float)(bytes[i] / 255.0)) << i;

    e = parsed("/def/acc/cargo_holder.sii;k=cargo.logs;s=1234abcd5678ef00;m=3,1,2;h=0.5,-1.25,0.1;u=2.5;n=4;"
               "d=1.5,2,1.23457e+06");
    EXPECT_STREQ(e.path, "/def/acc/cargo_holder.sii");
    EXPECT_EQ(e.has_cargo, 1);
    EXPECT_STREQ(e.cargo_name, "cargo.logs");
    EXPECT_EQ(e.cargo_seed, 0x1234abcd5678ef00ull);
    EXPECT_EQ(e.cargo_load, 3u);
    EXPECT_EQ(e.cargo_lash, 1u);
    EXPECT_EQ(e.cargo_gear, 2u);
    EXPECT_EQ(e.cargo_hook[0], 0.5f);
    EXPECT_EQ(e.cargo_hook[1], -1.25f);
    EXPECT_EQ(e.cargo_hook[2], 0.1f);
    EXPECT_EQ(e.cargo_units, 2.5f);
    EXPECT_EQ(e.cargo_models, 4u);
    EXPECT_EQ(e.cargo_dims[0], 1.5f);
    EXPECT_EQ(e.cargo_dims[1], 2.0f);
    EXPECT_EQ(e.cargo_dims[2], 1234570.0f);
}

// 0.5 is "80" (ceil(127.5) = 128) and reads back as 128/255; every byte
// read back is written again with the same two digits.
TEST(look_paint, HalfAndEveryByteRoundTrips)
{
    look_accessory a = {};
    a.path = "p";
    a.kind = LOOK_KIND_PAINT;
    for (float &v : a.paint)
        v = 0.5f;
    EXPECT_EQ(text_of(a), "p;p=808080808080808080808080808080808080");
    EXPECT_EQ(parsed("p;p=808080808080808080808080808080808080").paint[0], (float)(128 / 255.0));

    for (int first = 0; first < 256; first += LOOK_PAINT_COUNT) {
        std::string text = "p;p=";
        char hex[3];
        for (int i = 0; i < LOOK_PAINT_COUNT; i++) {
            snprintf(hex, sizeof hex, "%02x", (first + i) % 256);
            text += hex;
        }
        look_entry e = parsed(text);
        ASSERT_EQ(e.has_paint, 1u);
        memcpy(a.paint, e.paint, sizeof a.paint);
        EXPECT_EQ(text_of(a), text);
    }
}

// A field is written whole or not at all; the path is cut only by the buffer.
TEST(look_write, FieldsThatDoNotFit)
{
    struct {
        const char *what;
        look_kind kind;
        size_t path_len, size;
        size_t expect_len; /* characters in the buffer */
        bool with_field;
    } cases[] = {
        // paint only when the text so far + 40 < size (3 + 36 characters)
        { "paint fits", LOOK_KIND_PAINT, 183, 224, 222, true },
        { "paint over", LOOK_KIND_PAINT, 184, 224, 184, false },
        { "paint over by the rule only", LOOK_KIND_PAINT, 10, 50, 10, false },
        { "paint in a larger buffer", LOOK_KIND_PAINT, 10, 51, 49, true },
        // ";o=65535": 8 characters
        { "wheel fits", LOOK_KIND_WHEEL, 215, 224, 223, true },
        { "wheel over", LOOK_KIND_WHEEL, 216, 224, 216, false },
        // the cargo tail of cargo_accessory("c") is 77 characters
        { "cargo fits", LOOK_KIND_CARGO, 146, 224, 223, true },
        { "cargo over", LOOK_KIND_CARGO, 147, 224, 147, false },
        // the buffer cuts the path: nothing follows
        { "path cut", LOOK_KIND_WHEEL, 300, 224, 223, false },
        { "path fills", LOOK_KIND_PAINT, 224, 224, 223, false },
        { "small buffer", LOOK_KIND_CARGO, 20, 10, 9, false },
    };
    for (auto &c : cases) {
        std::string path(c.path_len, 'a');
        look_accessory a = cargo_accessory("c");
        a.path = path.c_str();
        a.kind = c.kind;
        a.wheel_offset = 65535;
        for (float &v : a.paint)
            v = 1.0f;
        int r = 0;
        std::string text = text_of(a, c.size, &r);
        EXPECT_EQ(text.size(), c.expect_len) << c.what;
        EXPECT_EQ(text.compare(0, std::min(c.path_len, c.size - 1), path, 0, std::min(c.path_len, c.size - 1)), 0)
            << c.what;
        EXPECT_EQ(text.find(';') != std::string::npos, c.with_field) << c.what << ": " << text;
        if (!c.with_field) // the path's own step: its length, at least size when cut
            EXPECT_EQ(r, (int)c.path_len) << c.what;
        else
            EXPECT_GT(r, 0) << c.what;
    }
}

// A cargo whose name is missing, empty or has a ";" ends after the path.
TEST(look_write, CargoWithoutAUsableName)
{
    const char *names[] = { nullptr, "", "bad;name", ";", "name;" };
    for (const char *name : names) {
        int r = 0;
        EXPECT_EQ(text_of(cargo_accessory(name), LOOK_ENTRY_SIZE, &r), cargo_path) << (name ? name : "null");
        EXPECT_EQ(r, (int)strlen(cargo_path));
    }
    EXPECT_EQ(text_of(cargo_accessory("c")), std::string(cargo_path) + ";k=c" + cargo_fields_text);
}

// The path: 1 to 223 characters up to the first ";".
TEST(look_parse, PathLimits)
{
    struct { std::string text; bool ok; size_t path_len; } cases[] = {
        { std::string(223, 'a'), true, 223 },
        { std::string(223, 'a') + ";o=1", true, 223 },
        { std::string(224, 'a'), false, 0 },
        { std::string(224, 'a') + ";o=1", false, 0 },
        { "", false, 0 },
        { ";o=1", false, 0 },
        { "a", true, 1 },
        { "a;", true, 1 },
    };
    for (auto &c : cases) {
        look_entry e = parsed(c.text, c.ok);
        EXPECT_EQ(strlen(e.path), c.path_len) << c.text.size();
    }
    look_entry e;
    EXPECT_FALSE(look_parse_entry(nullptr, &e));
    EXPECT_EQ(e.wheel_offset, -1);
}

// ";p=" needs 36 hex digits right after it; ";k=" 1 to 95 characters.
TEST(look_parse, PaintDigitsAndCargoNames)
{
    std::string digits35(35, 'a');
    struct { std::string text; uint32_t has_paint; } paints[] = {
        { "x;p=" + digits35, 0 },
        { "x;p=" + digits35 + ";", 0 },
        { "x;p=" + digits35 + "g", 0 },
        { "x;p=" + digits35 + "F", 1 },
        { "x;p=" + digits35 + "a0", 1 }, // extra digits are not looked at
        { "x;p=0123456789ABCDEFabcdef0123456789aBcD", 1 },
        { "x;p= " + digits35 + "a", 0 },
    };
    for (auto &c : paints)
        EXPECT_EQ(parsed(c.text).has_paint, c.has_paint) << c.text;
    look_entry e = parsed("x;p=0123456789ABCDEFabcdef0123456789aBcD");
    EXPECT_EQ(e.paint[0], (float)(0x01 / 255.0));
    EXPECT_EQ(e.paint[7], (float)(0xEF / 255.0));
    EXPECT_EQ(e.paint[16], (float)(0xaB / 255.0));
    EXPECT_EQ(e.paint[17], (float)(0xcD / 255.0));

    std::string n95(95, 'n'), n96(96, 'n');
    struct { std::string text; uint8_t has_cargo; std::string name; } cargos[] = {
        { "x;k=;s=5", 0, "" },
        { "x;k=", 0, "" },
        { "x;k=" + n95, 1, n95 },
        { "x;k=" + n95 + ";s=1", 1, n95 },
        { "x;k=" + n96, 0, "" },
        { "x;k=" + n96 + ";s=1", 0, "" },
        { "x;k=a b.c", 1, "a b.c" },
    };
    for (auto &c : cargos) {
        e = parsed(c.text);
        EXPECT_EQ(e.has_cargo, c.has_cargo) << c.text;
        EXPECT_EQ(std::string(e.cargo_name), c.name) << c.text;
    }
}

// Any order, repeats (the last read wins, an ignored one changes nothing),
// unknown fields skipped.
TEST(look_parse, OrderRepeatsAndUnknownFields)
{
    look_entry e = parsed("x;n=2;d=1,2,3;k=first;o=4;s=a;u=3;o=8;k=second;n=3;k=;o=70000;m=1,2,3;h=4,5,6;m=7");
    EXPECT_STREQ(e.path, "x");
    EXPECT_EQ(e.wheel_offset, 8);
    EXPECT_STREQ(e.cargo_name, "second");
    EXPECT_EQ(e.cargo_models, 3u);
    EXPECT_EQ(e.cargo_seed, 10u);
    EXPECT_EQ(e.cargo_units, 3.0f);
    EXPECT_EQ(e.cargo_load, 7u);
    EXPECT_EQ(e.cargo_lash, 0u);
    EXPECT_EQ(e.cargo_gear, 0u);
    EXPECT_EQ(e.cargo_hook[2], 6.0f);
    EXPECT_EQ(e.cargo_dims[1], 2.0f);

    e = parsed("x;q=1;;o;o=;=5;O=3;p;k;ko=3");
    EXPECT_EQ(e.wheel_offset, 0); // ";o=" with no number reads as 0
    EXPECT_EQ(e.has_cargo, 0);
    EXPECT_EQ(e.has_paint, 0u);
}

// Malformed numbers give what their conversion gives; ";o=" outside
// 0..65535 is ignored.
TEST(look_parse, MalformedNumbers)
{
    struct { const char *text; int32_t offset; } offsets[] = {
        { "x;o=12", 12 }, { "x;o=0", 0 }, { "x;o=65535", 65535 }, { "x;o=65536", -1 },
        { "x;o=-1", -1 }, { "x;o=-65535", -1 }, { "x;o=99999999999999999999", -1 },
        { "x;o=abc", 0 }, { "x;o=7abc", 7 }, { "x;o= 5", 5 }, { "x;o=0x10", 0 },
        { "x;o=5;o=-2", 5 },
    };
    for (auto &c : offsets)
        EXPECT_EQ(parsed(c.text).wheel_offset, c.offset) << c.text;

    struct { const char *text; uint32_t m[3]; float h[3]; } lists[] = {
        { "x;m=5,x,7", { 5, 0, 0 }, {} },
        { "x;m=5,6", { 5, 6, 0 }, {} },
        { "x;m=5;6;7", { 5, 0, 0 }, {} },
        { "x;m=,1,2", { 0, 0, 0 }, {} },
        { "x;m=1 ,2,3", { 1, 0, 0 }, {} },
        { "x;m=1, 2,3", { 1, 2, 3 }, {} },
        { "x;m=4294967295,4294967296,-1", { 4294967295u, 4294967295u, 4294967295u }, {} },
        { "x;h=1.5,bad,3", {}, { 1.5f, 0, 0 } },
        { "x;h=-2e1,.5,7.", {}, { -20.0f, 0.5f, 7.0f } },
        { "x;h=1,2,3;h=9", {}, { 9.0f, 0, 0 } },
    };
    for (auto &c : lists) {
        look_entry e = parsed(c.text);
        const uint32_t m[3] = { e.cargo_load, e.cargo_lash, e.cargo_gear };
        for (int i = 0; i < 3; i++) {
            EXPECT_EQ(m[i], c.m[i]) << c.text << " [" << i << "]";
            EXPECT_EQ(e.cargo_hook[i], c.h[i]) << c.text << " [" << i << "]";
        }
    }

    look_entry e = parsed("x;u=abc;n=zz;s=zz");
    EXPECT_EQ(e.cargo_units, 0.0f);
    EXPECT_EQ(e.cargo_models, 0u);
    EXPECT_EQ(e.cargo_seed, 0u);
    e = parsed("x;s=FFFFFFFFFFFFFFFF;n=4294967296;u=0.25x;d=1,2,3x");
    EXPECT_EQ(e.cargo_seed, 0xFFFFFFFFFFFFFFFFull);
    EXPECT_EQ(e.cargo_models, 0xFFFFFFFFu);
    EXPECT_EQ(e.cargo_units, 0.25f);
    EXPECT_EQ(e.cargo_dims[2], 3.0f);
}
