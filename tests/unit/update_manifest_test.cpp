// The updater's pure logic: the signed manifest (a vector signed by another
// implementation, then every rejection as one table), the SHA-256 test of a
// file's bytes, the update folder URL and the console words.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <fstream>
#include <string>
#include "net/net_key.h"
#include "net_test_hex.h"
#include "online/update_manifest.h"

namespace {

std::string read_all(const char *path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::string hex(const uint8_t *p, size_t n) { return bytes_to_hex(p, n); }

// The test release key: seed bytes i * 7 + 1.
struct signer {
    uint8_t secret[64], pub[32];
    signer()
    {
        uint8_t seed[32];
        for (int i = 0; i < 32; i++)
            seed[i] = (uint8_t)(i * 7 + 1);
        crypto_eddsa_key_pair(secret, pub, seed);
    }
    std::string key() const { return hex(pub, 32); }
    // body (ending in a newline) followed by its signature line
    std::string sign(const std::string &body, const std::string &tail = "\n") const
    {
        uint8_t sig[64];
        crypto_eddsa_sign(sig, secret, (const uint8_t *)body.data(), body.size());
        return body + "sig " + hex(sig, 64) + tail;
    }
};

struct result {
    bool ok;
    std::string err;
    update_manifest m;
};

result verify(const std::string &key, const std::string &text)
{
    result r;
    char err[UPDATE_ERROR_MAX] = "";
    r.ok = update_verify_manifest(key.c_str(), text.data(), text.size(), &r.m, err, sizeof err);
    r.err = err;
    return r;
}

const std::string H64 = std::string(64, 'a');
const std::string CORE_LINE = "file drovemark_core.dll " + H64 + " 100 core/drovemark_core.dll\n";

} // namespace

TEST(update_manifest, TheTestKeyIsTheOneTheTestCoresCarry)
{
    EXPECT_EQ(signer().key(), "367afe3c5bc4da47ab53f793a636521f3f3087ed0c1d76b7283201af8e144a06");
}

// Signed by another EdDSA implementation (scripts/gen-update-vectors.js): the
// check agrees with it, and the fields are the ones written in the script.
TEST(update_manifest, AManifestSignedElsewhereChecksAndParses)
{
    std::string text = read_all(DM_UPDATE_VECTORS "/update_manifest.txt");
    std::string key = read_all(DM_UPDATE_VECTORS "/update_manifest.key").substr(0, 64);
    ASSERT_FALSE(text.empty());
    result r = verify(key, text);
    ASSERT_TRUE(r.ok) << r.err;
    EXPECT_STREQ(r.m.build, "alpha-1-0-g0123abc");
    EXPECT_EQ(r.m.api, 1);
    ASSERT_EQ(r.m.files.size(), 2u);
    EXPECT_STREQ(r.m.files[0].name, "drovemark.dll");
    EXPECT_EQ(hex(r.m.files[0].sha256, 32), "abababababababababababababababababababababababababababababababab");
    EXPECT_EQ(r.m.files[0].size, 123456u);
    EXPECT_STREQ(r.m.files[0].path, "win64/drovemark.dll");
    EXPECT_STREQ(r.m.files[1].name, "drovemark_core.dll");
    EXPECT_EQ(hex(r.m.files[1].sha256, 32), "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef");
    EXPECT_EQ(r.m.files[1].size, 67108864u);
    EXPECT_STREQ(r.m.files[1].path, "win64/core/drovemark_core-1.0+r2.dll");

    // One byte changed anywhere in the signed part, or another key: refused.
    for (size_t at : { (size_t)0, text.find("api 1") + 4, text.find("\nsig ") - 1 }) {
        std::string t = text;
        t[at] ^= 1;
        EXPECT_EQ(verify(key, t).err, "signature doesn't match the release key") << at;
    }
    EXPECT_EQ(verify(signer().key(), text).err, "signature doesn't match the release key");
}

TEST(update_manifest, EveryRejectionHasItsText)
{
    signer s;
    const std::string head = "drovemark-manifest 1\nbuild b1\napi 1\n";
    std::string good = s.sign(head + CORE_LINE);
    std::string unsigned_newline = head + CORE_LINE;
    {
        uint8_t sig[64]; // signed without the newline before "sig "
        crypto_eddsa_sign(sig, s.secret, (const uint8_t *)unsigned_newline.data(), unsigned_newline.size() - 1);
        unsigned_newline += "sig " + hex(sig, 64) + "\n";
    }
    auto file_line = [&](const std::string &line) { return s.sign(head + line + "\n"); };
    auto bad_line = [](const std::string &line) { return "bad file line '" + line.substr(0, 60) + "'"; };
    std::string hash63 = std::string(63, 'b'), hash65 = std::string(65, 'b');
    std::string sig_digits = good.substr(good.find("\nsig ") + 5, 128);
    struct {
        const char *what;
        std::string key, text, err;
    } rows[] = {
        { "starts with sig", s.key(), "sig " + sig_digits + "\n" + good, "no signature" },
        { "no sig line", s.key(), head + CORE_LINE, "no signature" },
        { "sig without newline before", s.key(), head + CORE_LINE.substr(0, CORE_LINE.size() - 1) + " sig " + sig_digits,
          "no signature" },
        { "no key built in", "", good, "no release key built in" },
        { "key of 63 digits", s.key().substr(1), good, "no release key built in" },
        { "key not hex", "x" + s.key().substr(1), good, "no release key built in" },
        { "127 digits", s.key(), good.substr(0, good.size() - 2), "bad signature line" },
        { "digit not hex", s.key(), good.substr(0, good.size() - 2) + "g\n", "bad signature line" },
        { "tampered byte", s.key(), "drovemark-manifest 1\nbuild b2" + good.substr(head.find("\napi")),
          "signature doesn't match the release key" },
        { "newline not signed", s.key(), unsigned_newline, "signature doesn't match the release key" },
        { "another key", std::string(64, '1'), good, "signature doesn't match the release key" },
        { "unknown format", s.key(), s.sign("drovemark-manifest 2\nbuild b1\napi 1\n" + CORE_LINE),
          "unknown manifest format" },
        { "header not first", s.key(), s.sign("build b1\ndrovemark-manifest 1\napi 1\n" + CORE_LINE),
          "unknown manifest format" },
        { "no build", s.key(), s.sign("drovemark-manifest 1\napi 1\n" + CORE_LINE), "manifest is missing build/api/file" },
        { "no api", s.key(), s.sign("drovemark-manifest 1\nbuild b1\n" + CORE_LINE), "manifest is missing build/api/file" },
        { "negative api", s.key(), s.sign("drovemark-manifest 1\nbuild b1\napi -1\n" + CORE_LINE),
          "manifest is missing build/api/file" },
        { "no file", s.key(), s.sign(head), "manifest is missing build/api/file" },
        { "nothing signed", s.key(), s.sign("# only a comment\n"), "manifest is missing build/api/file" },
    };
    for (auto &r : rows)
        EXPECT_EQ(verify(r.key, r.text).err, r.err) << r.what;

    const std::string bad_lines[] = {
        "file drovemark_core.dll " + H64 + " 100 core/../drovemark_core.dll",
        "file drovemark_core.dll " + H64 + " 100 ..",
        "file drovemark_core.dll " + H64 + " 100 /core/drovemark_core.dll",
        "file drovemark_core.dll " + H64 + " 100 core\\drovemark_core.dll",
        "file drovemark_core.dll " + H64 + " 100 core/drove%20mark.dll",
        "file drovemark_core.dll " + H64 + " 100 c:drovemark_core.dll",
        "file drovemark_core.dll " + H64 + " 100 " + std::string(256, 'p'),
        "file drovemark_core.dll " + H64 + " 0 core/drovemark_core.dll",
        "file drovemark_core.dll " + H64 + " 67108865 core/drovemark_core.dll",
        "file drovemark_core.dll " + H64 + " 99999999999999999999999 core/drovemark_core.dll",
        "file drovemark_core.dll " + H64 + " 12k core/drovemark_core.dll",
        "file drovemark_core.dll " + H64 + " -5 core/drovemark_core.dll",
        "file drovemark_core.dll " + hash63 + " 100 core/drovemark_core.dll",
        "file drovemark_core.dll " + hash65 + " 100 core/drovemark_core.dll",
        "file drovemark_core.dll " + std::string(63, 'a') + "g 100 core/drovemark_core.dll",
        "file drovemark_core.exe " + H64 + " 100 core/drovemark_core.dll",
        "file drovemark_core.dll " + H64 + " 100",
        "file drovemark_core.dll " + H64 + " 100 a b",
        "file " + std::string(40, 'n') + " " + H64 + " 100 core/x.dll",
    };
    for (auto &line : bad_lines)
        EXPECT_EQ(verify(s.key(), file_line(line)).err, bad_line(line)) << line;
    // The line shown is cut to 60 characters.
    EXPECT_EQ(bad_line(bad_lines[0]).size(), strlen("bad file line ''") + 60);
}

TEST(update_manifest, WhatALenientReaderAccepts)
{
    signer s;
    std::string body = "# before the header\r\n\r\ndrovemark-manifest 1\r\n"
                       "build first\r\nbuild " + std::string(120, 'x') + "\r\n"
                       "api   +7x\r\n"
                       "unknown line here\r\n"
                       "# file drovemark.dll is not a file line\r\n"
                       "file drovemark.dll \t" + H64 + "\t1\tplugins/a.b_c-d+e/drovemark.dll\r\n"
                       "file drovemark_core.dll " + std::string(64, 'F') + " 67108864 core/drovemark_core.dll\r\n"
                       "file drovemark_core.dll " + std::string(64, '0') + " 100 core/second.dll\r\n";
    result r = verify(s.key(), s.sign(body, "\r\nanything after the digits\nsig 00\n"));
    ASSERT_TRUE(r.ok) << r.err;
    EXPECT_EQ(std::string(r.m.build), std::string(95, 'x')); // the later line, cut to 95
    EXPECT_EQ(r.m.api, 7);
    ASSERT_EQ(r.m.files.size(), 3u);
    EXPECT_EQ(r.m.files[0].size, 1u);
    EXPECT_STREQ(r.m.files[0].path, "plugins/a.b_c-d+e/drovemark.dll");
    EXPECT_EQ(r.m.files[1].sha256[31], 0xFF);
    EXPECT_STREQ(r.m.files[2].path, "core/second.dll"); // every line kept, in order

    struct {
        const char *api;
        int32_t want;
    } apis[] = { { "api x", 0 }, { "api ", 0 }, { "api 12 13", 12 }, { "api 99999999999", INT32_MAX }, { "api 0", 0 } };
    for (auto &a : apis) {
        result ra = verify(s.key(), s.sign("drovemark-manifest 1\nbuild b\n" + std::string(a.api) + "\n" + CORE_LINE));
        ASSERT_TRUE(ra.ok) << a.api << ": " << ra.err;
        EXPECT_EQ(ra.m.api, a.want) << a.api;
    }
}

TEST(update_manifest, Sha256OfTheBytesAndTheirCount)
{
    update_file_entry e = {};
    // SHA-256("abc"), the standard's own example.
    const uint8_t abc[32] = { 0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40, 0xde, 0x5d, 0xae, 0x22, 0x23,
                              0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17, 0x7a, 0x9c, 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad };
    memcpy(e.sha256, abc, 32);
    e.size = 3;
    EXPECT_TRUE(update_sha256_matches((const uint8_t *)"abc", 3, &e));
    EXPECT_FALSE(update_sha256_matches((const uint8_t *)"abd", 3, &e));
    e.size = 4;
    EXPECT_FALSE(update_sha256_matches((const uint8_t *)"abc", 3, &e));
}

TEST(update_manifest, FolderUrlAndCommandWords)
{
    char out[UPDATE_URL_MAX + 1];
    struct {
        std::string in, want;
    } urls[] = { { "", "" }, { "http://h/rel", "http://h/rel/" }, { "http://h/rel/", "http://h/rel/" },
                 { std::string(600, 'u'), std::string(510, 'u') + "/" },
                 { std::string(511, 'u'), std::string(510, 'u') + "/" },
                 { std::string(510, 'u') + "/", std::string(510, 'u') + "/" },
                 // too long and ending in "/": cut, and the "/" still fits
                 { std::string(511, 'u') + "/", std::string(510, 'u') + "/" },
                 { std::string(600, 'u') + "/", std::string(510, 'u') + "/" } };
    for (auto &u : urls) {
        update_folder_url(u.in.c_str(), out, sizeof out);
        EXPECT_EQ(std::string(out), u.want) << u.in.size();
    }
    // Buffers smaller than a URL: nothing is written past size bytes.
    struct {
        const char *in;
        size_t size;
        const char *want;
    } small[] = { { "abc", 1, "" }, { "abc/", 1, "" }, { "abc", 2, "" }, { "abc/", 2, "" }, { "/", 2, "/" },
                  { "abc", 3, "a/" }, { "abc/", 4, "ab/" }, { "ab/", 4, "ab/" } };
    for (auto &c : small) {
        char buf[8];
        memset(buf, '#', sizeof buf);
        update_folder_url(c.in, buf, c.size);
        EXPECT_STREQ(buf, c.want) << c.in << " in " << c.size;
        EXPECT_EQ(std::string(buf + c.size, sizeof buf - c.size), std::string(sizeof buf - c.size, '#'))
            << c.in << " in " << c.size;
    }
    struct {
        const char *rest;
        update_command_kind want;
    } words[] = { { "", UPDATE_CMD_STATUS },     { "   ", UPDATE_CMD_STATUS },  { " check", UPDATE_CMD_CHECK },
                  { " install", UPDATE_CMD_INSTALL }, { " checkx", UPDATE_CMD_USAGE }, { " check now", UPDATE_CMD_USAGE },
                  { " off", UPDATE_CMD_USAGE },   { " Install", UPDATE_CMD_USAGE } };
    for (auto &w : words)
        EXPECT_EQ(update_parse_command(w.rest), w.want) << "'" << w.rest << "'";
    EXPECT_TRUE(update_build_is_dirty("alpha-0-2-g4d0b97debbc2-dirty"));
    EXPECT_FALSE(update_build_is_dirty("alpha-0-2-g4d0b97debbc2"));
}
