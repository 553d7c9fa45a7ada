// The core runtime's pure logic: auto-connect decisions, diagnostic
// arguments and the recording paths they take.
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include "runtime/auto_connect.h"
#include "runtime/diag_text.h"
#include "dm_own_files.h"

namespace {

struct auto_run {
    auto_connect_state s = {};
    auto_connect_input in = {};
    auto_run()
    {
        in.enabled = true;
        in.in_game = true;
    }
    auto_connect_action at(double now)
    {
        in.now = now;
        auto_connect_result r = auto_connect_step(&s, &in);
        if (r.action == AUTO_CONNECT) {
            s.owned = connect_result;
            in.refusal = 0; // net_connect clears the refusal code
        }
        return r.action;
    }
    bool connect_result = false;
};

} // namespace

TEST(auto_connect, RetriesEveryFiveSecondsWhileInTheGame)
{
    auto_run a;
    EXPECT_EQ(a.at(1.0), AUTO_CONNECT);
    EXPECT_EQ(a.at(5.9), AUTO_NONE);
    EXPECT_EQ(a.at(6.0), AUTO_CONNECT);
    a.in.in_game = false;
    EXPECT_EQ(a.at(20.0), AUTO_NONE);
    a.in.in_game = true;
    a.in.enabled = false;
    EXPECT_EQ(a.at(30.0), AUTO_NONE);
}

TEST(auto_connect, LeavesOnlyAfterMoreThanThreeSecondsOutOfTheGame)
{
    auto_run a;
    a.connect_result = true;
    ASSERT_EQ(a.at(1.0), AUTO_CONNECT);
    a.in.open = true;
    a.in.in_game = false;
    EXPECT_EQ(a.at(10.0), AUTO_NONE);
    EXPECT_EQ(a.at(12.0), AUTO_NONE);
    a.in.in_game = true; // back after 2 s: kept
    EXPECT_EQ(a.at(12.1), AUTO_NONE);
    a.in.in_game = false;
    EXPECT_EQ(a.at(20.0), AUTO_NONE);
    EXPECT_EQ(a.at(23.0), AUTO_NONE);
    EXPECT_EQ(a.at(23.01), AUTO_DISCONNECT);
    EXPECT_FALSE(a.s.owned);

    // A connection that auto-connect did not make is never closed by it.
    auto_run b;
    b.in.open = true;
    b.in.in_game = false;
    EXPECT_EQ(b.at(1.0), AUTO_NONE);
    EXPECT_EQ(b.at(10.0), AUTO_NONE);
}

TEST(auto_connect, EachRefusalIsActedOnOnce)
{
    auto_run a;
    a.connect_result = true;
    ASSERT_EQ(a.at(1.0), AUTO_CONNECT);
    a.in.refusal = 3; // refused; the socket is closed
    EXPECT_EQ(a.at(5.9), AUTO_NONE);
    EXPECT_EQ(a.at(6.0), AUTO_REFUSED);
    EXPECT_TRUE(a.s.paused);
    EXPECT_EQ(a.at(100.0), AUTO_NONE);
    // "config reload": the pause lifted, the same old code does not pause again.
    a.s.paused = false;
    a.s.next_attempt = 0;
    EXPECT_EQ(a.at(101.0), AUTO_CONNECT);
    EXPECT_FALSE(a.s.paused);
    // That attempt refused anew: paused again.
    a.in.refusal = 3;
    EXPECT_EQ(a.at(106.0), AUTO_REFUSED);
}

TEST(auto_connect, ServerFullWhileOwnedWaitsThirtySeconds)
{
    auto_run a;
    a.connect_result = true;
    ASSERT_EQ(a.at(1.0), AUTO_CONNECT);
    a.in.refusal = 2;
    EXPECT_EQ(a.at(6.0), AUTO_FULL);
    EXPECT_FALSE(a.s.owned);
    EXPECT_EQ(a.at(35.9), AUTO_NONE);
    EXPECT_EQ(a.at(36.0), AUTO_CONNECT); // not owned now: server full goes on to the attempt
    a.connect_result = false;
    EXPECT_EQ(a.at(41.0), AUTO_CONNECT);
}

TEST(auto_connect, AKickNoticePausesOnce)
{
    auto_run a;
    a.s.owned = true;
    a.in.has_notice = true;
    a.in.notice = 1;
    auto_connect_result r = auto_connect_step(&a.s, &a.in);
    EXPECT_TRUE(r.notice_seen);
    EXPECT_TRUE(a.s.paused);
    EXPECT_FALSE(a.s.owned);
    a.s.paused = false;
    a.in.now = 10;
    r = auto_connect_step(&a.s, &a.in);
    EXPECT_FALSE(r.notice_seen);
    EXPECT_EQ(r.action, AUTO_CONNECT);
    a.in.notice = 2;
    a.in.enabled = false; // seen even with auto-connect off
    r = auto_connect_step(&a.s, &a.in);
    EXPECT_TRUE(r.notice_seen);
}

TEST(diag_text, PeekArguments)
{
    peek_args p;
    peek_parse("0x1436B8D70 +31b0 + 18  +0", &p);
    EXPECT_EQ(p.va, 0x1436B8D70ull);
    ASSERT_EQ(p.hops, 3);
    EXPECT_EQ(p.offsets[0], 0x31B0u);
    EXPECT_EQ(p.offsets[1], 0x18u);
    EXPECT_EQ(p.offsets[2], 0u);
    peek_parse("142256940", &p);
    EXPECT_EQ(p.va, 0x142256940ull);
    EXPECT_EQ(p.hops, 0);
    peek_parse("zz", &p);
    EXPECT_EQ(p.va, 0u);
    peek_parse("0x140001000 x +8", &p); // hops end at other text
    EXPECT_EQ(p.hops, 0);
}

TEST(diag_text, MemrecArguments)
{
    double s;
    char name[128];
    ASSERT_TRUE(memrec_parse("2.5 rec.bin", &s, name, sizeof name));
    EXPECT_EQ(s, 2.5);
    EXPECT_STREQ(name, "rec.bin");
    const std::string longest(MEMREC_NAME_MAX, 'n');
    ASSERT_TRUE(memrec_parse(("86400 " + longest).c_str(), &s, name, sizeof name));
    EXPECT_EQ(s, 86400.0);
    EXPECT_EQ(std::string(name), longest);
    ASSERT_TRUE(memrec_parse("  1   a.bin  ", &s, name, sizeof name));
    EXPECT_EQ(s, 1.0);
    EXPECT_STREQ(name, "a.bin");
    const std::string too_long = "5 " + longest + "n";
    for (const char *bad : { "", "5", "0 a.bin", "-1 a.bin", "x a.bin", "5 a\\b", "5 a/b", "5 c:x",
                             // what the start line would print as "0 s", or not a number of seconds at all
                             "0.5 x", "0.99 x", "nan a.bin", "inf a.bin", "1e309 a.bin", "86401 a.bin", "5x a.bin",
                             // one name, nothing after it, never cut to fit
                             "5 a.bin b.bin", too_long.c_str() })
        EXPECT_FALSE(memrec_parse(bad, &s, name, sizeof name)) << bad;
}

TEST(own_files, RecordingPathsNeverNameAnOwnFileOrFolder)
{
    // memrec takes bare names, "net record" paths too: every part is checked.
    for (const char *own : { "config.ini", "Config.INI", "config.ini.", "config.ini. .", "drovemark.log",
                             "identity.key", "state.json", "cmd.txt", "core", "..", "...", " ", "", "x\\..\\config.ini",
                             "core\\x.csv", "update/a.csv", "C:\\game\\drovemark\\config.ini", "config.ini::$DATA",
                             "a\\.\\b.csv", "C:\\a\\IMGUI.INI" })
        EXPECT_FALSE(dm_recording_path_allowed(own)) << own;
    for (const char *other : { "config.ini.bin", "rec.bin", "cores", "C:\\rec\\a.csv", "\\\\host\\share\\a.csv",
                               "x/y.csv", ".config.ini" })
        EXPECT_TRUE(dm_recording_path_allowed(other)) << other;
}
