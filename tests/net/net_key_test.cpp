// The player key file in the temp folder, and a join without a key.
#include "net_fixture.h"
#include <string.h>
#include "net/net_key.h"
#include "sim/fixture.h"

namespace {

const char *const sample_key =
    "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef\n# someone's key\n";

} // namespace

TEST_F(net_fixture, PlayerKeyMadeOnceThenReadWithTheSameFingerprint)
{
    std::string path = fresh_key("dm_identity");
    FILE *stale = fopen((path + ".tmp").c_str(), "wb"); /* a crash before the rename */
    ASSERT_NE(stale, nullptr);
    fputs("0123", stale);
    fclose(stale);
    ASSERT_TRUE(net_load_player_key(path.c_str()));
    EXPECT_TRUE(logged("(new)"));
    uint8_t pub[32];
    memcpy(pub, net_key.pub, 32);
    std::string first = fx::captured_last();
    fx::captured_clear();
    ASSERT_TRUE(net_load_player_key(path.c_str()));
    EXPECT_EQ(memcmp(pub, net_key.pub, 32), 0);
    EXPECT_EQ(fx::captured_last().substr(0, 30), first.substr(0, 30)); /* same fingerprint */
    EXPECT_FALSE(fx::exists(path + ".tmp"));
    DeleteFileA(path.c_str());
}

TEST_F(net_fixture, DamagedPlayerKeyIsReportedAndLeftAlone)
{
    std::string path = fresh_key("dm_identity_damaged");
    struct { const char *text; bool ok; } cases[] = {
        {"0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcde\n", false}, /* 63 */
        {"0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef trailing\n", true},
        {"0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdeg\n", false},
        {"", false},
    };
    for (auto &c : cases) {
        FILE *w = fopen(path.c_str(), "wb");
        fputs(c.text, w);
        fclose(w);
        fx::captured_clear();
        EXPECT_EQ(net_load_player_key(path.c_str()), c.ok) << c.text;
        EXPECT_EQ(net_key.loaded, c.ok) << c.text;
        if (!c.ok) {
            EXPECT_TRUE(logged("is damaged; not using a player key (delete it to make a new one)"));
        }
        EXPECT_TRUE(fx::exists(path)) << c.text;
        EXPECT_EQ(fx::read_file(path), c.text);
    }
    DeleteFileA(path.c_str());
}

// A key file that is there but cannot be read is somebody's identity: it is
// never replaced by a new key; the client goes on without one.
TEST_F(net_fixture, UnreadablePlayerKeyIsLeftAloneAndTheClientRunsKeyless)
{
    std::string path = fresh_key("dm_identity_locked");
    std::string tmp = path + ".tmp";
    for (int round = 0; round < 2; round++) {
        bool as_directory = round == 0;
        SCOPED_TRACE(as_directory ? "a directory named like the key" : "a key file held open without sharing");
        HANDLE held = INVALID_HANDLE_VALUE;
        if (as_directory) {
            ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
        } else {
            FILE *w = fopen(path.c_str(), "wb");
            ASSERT_NE(w, nullptr);
            fputs(sample_key, w);
            fclose(w);
            // Deleting (and so renaming over) is shared; reading is not.
            held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(held, INVALID_HANDLE_VALUE);
        }
        fx::captured_clear();
        EXPECT_FALSE(net_load_player_key(path.c_str()));
        EXPECT_FALSE(net_key.loaded);
        EXPECT_TRUE(logged("[net] can't read " + path + " (")) << fx::captured_last();
        EXPECT_FALSE(logged("(new)"));
        EXPECT_FALSE(logged("can't write"));
        EXPECT_FALSE(fx::exists(tmp));
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        DWORD attributes = GetFileAttributesA(path.c_str());
        ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0, as_directory);
        if (!as_directory) {
            EXPECT_EQ(fx::read_file(path), sample_key);
        }
        as_directory ? RemoveDirectoryA(path.c_str()) : DeleteFileA(path.c_str());
        DeleteFileA(tmp.c_str());
    }

    // Without a key the join works and the challenge goes unanswered.
    ASSERT_TRUE(connect());
    ASSERT_TRUE(joined());
    run(0.5);
    ASSERT_NE(me(), nullptr);
    EXPECT_TRUE(me()->challenged);
    EXPECT_EQ(srv.by_type[NET_AUTH_REPLY], 0u);
}

// k*a and the hash state that held the nonce key give the secret scalar away
// to whoever reads the stack later: signing leaves none of its values behind.
TEST(player_key_signing, WipesEverythingDerivedFromTheSecretKey)
{
    uint8_t seed[32], secret[64], pub[32], message[49] = "drovemark-auth-v1 and a challenge";
    for (int i = 0; i < 32; i++)
        seed[i] = (uint8_t)(i * 7 + 1);
    crypto_eddsa_key_pair(secret, pub, seed);
    net_eddsa_sign_scratch scratch;
    memset(&scratch, 0xA5, sizeof scratch);
    uint8_t signature[64], expected[64];
    net_eddsa_sign_with(&scratch, signature, secret, message, sizeof message);
    crypto_eddsa_sign(expected, secret, message, sizeof message);
    EXPECT_EQ(memcmp(signature, expected, 64), 0);
    EXPECT_EQ(crypto_eddsa_check(signature, pub, message, sizeof message), 0);
    const uint8_t *bytes = (const uint8_t *)&scratch;
    size_t left = 0;
    for (size_t i = 0; i < sizeof scratch; i++)
        left += bytes[i] != 0;
    EXPECT_EQ(left, 0u) << "bytes of the signing scratch not wiped";
}
