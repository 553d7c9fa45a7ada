// The console's command table (dispatcher.cpp) as cmd_match reads it: the
// row each line reaches, with the rest its handler gets, and which rows run
// on a game build other than the supported one. The core's objects are
// linked in; no game is needed.
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include <vector>
#include "base/cmd_table.h"
#include "runtime/runtime.h"

namespace {

std::string rest_text(const char *rest) { return rest ? std::string("[") + rest + "]" : "null"; }

const cmd_row *match(const char *line, bool spawned, const char **rest)
{
    return cmd_match(cmd_rows, cmd_row_count, line, spawned, rest);
}

} // namespace

// Every row of the command table, with the rest its handler gets.
TEST(cmd_rows, EveryRowMatchesWithItsKind)
{
    struct { const char *line; const char *word; const char *rest; } cases[] = {
        { "ping", "ping", "[]" }, { "pos", "pos", "[]" }, { "build", "build", "[]" },
        { "update", "update", "[]" }, { "update off", "update", "[ off]" },
        { "threads", "threads", "[]" }, { "local", "local", "[]" },
        { "spawn", "spawn", "null" }, { "spawn 12", "spawn", "[12]" },
        { "despawn", "despawn", "[]" }, { "trailer", "trailer", "[]" },
        { "trailer off", "trailer off", "[]" }, { "info", "info", "[]" },
        { "config reload", "config reload", "[]" }, { "config refresh", "config refresh", "[]" },
        { "config", "config", "[]" }, { "cargodump", "cargodump", "[]" },
        { "peek 0x140000000+8", "peek ", "[0x140000000+8]" },
        { "traffic", "traffic", "[]" }, { "traffic net on", "traffic", "[ net on]" },
        { "rvspawn a", "rvspawn", "[ a]" }, { "rvdespawn", "rvdespawn", "[]" },
        { "rvinfo", "rvinfo", "[]" }, { "rvvelon", "rvvel", "[on]" },
        { "remote rv", "remote", "[ rv]" }, { "rvmove circle", "rvmove", "[ circle]" },
        { "rvstep auto", "rvstep", "[ auto]" }, { "rvclock off", "rvclock", "[ off]" },
        { "weather rain", "weather", "[ rain]" }, { "roadevents", "roadevents", "[]" },
        { "clock 12", "clock", "[ 12]" }, { "memrec 5 a.bin", "memrec ", "[5 a.bin]" },
        { "model list", "model", "[ list]" }, { "gps", "gps", "[]" }, { "cam", "cam", "[]" },
        { "nametags on", "nametags", "[ on]" }, { "job list", "job", "[ list]" },
        { "damage", "damage", "[]" }, { "repair all", "repair", "[ all]" },
        { "watch on", "watch on", "[]" }, { "watch off", "watch off", "[]" },
        { "cmp", "cmp", "[]" }, { "flags off", "flags off", "[]" },
        { "wheeldbg", "wheeldbg", "[]" }, { "steer flip", "steer flip", "[]" },
        { "move", "move", "null" }, { "move circle 5", "move", "[circle 5]" },
        { "hook on", "hook on", "[]" }, { "hook off", "hook off", "[]" },
        { "shadow on", "shadow on", "[]" }, { "shadow off", "shadow off", "[]" },
        { "defdump", "defdump", "null" }, { "defdump d.txt", "defdump", "[d.txt]" },
        { "spawnlist l.txt 8", "spawnlist ", "[l.txt 8]" },
        { "spawnmode clone", "spawnmode clone", "[]" }, { "spawnmode share", "spawnmode share", "[]" },
        { "collide on", "collide on", "[]" }, { "net collide on", "net collide on", "[]" },
        { "collide off", "collide off", "[]" }, { "net collide off", "net collide off", "[]" },
        { "tick on", "tick on", "[]" }, { "tick off", "tick off", "[]" },
        { "net", "net", "null" }, { "net status", "net", "[status]" },
        // lines that must not be taken by a shorter word
        { "spawnx", nullptr, "null" }, { "spawnlist", nullptr, "null" }, { "netstatus", nullptr, "null" },
        { "damage now", nullptr, "null" }, { "PING", nullptr, "null" }, { "ping ", nullptr, "null" },
        { "peek", nullptr, "null" }, { "memrec", nullptr, "null" }, { "", nullptr, "null" },
        { "config x", nullptr, "null" }, { "moves", nullptr, "null" }, { "updates", nullptr, "null" },
        { "flags 3", nullptr, "null" }, // no vehicle spawned
    };
    std::vector<bool> seen(cmd_row_count);
    for (auto &c : cases) {
        const char *rest = nullptr;
        const cmd_row *row = match(c.line, false, &rest);
        EXPECT_STREQ(row ? row->word : nullptr, c.word) << c.line;
        if (row && c.word && strcmp(row->word, c.word) == 0) {
            EXPECT_EQ(rest_text(rest), c.rest) << c.line;
        }
        if (row)
            seen[row - cmd_rows] = true;
    }
    const char *rest;
    const cmd_row *flags = match("flags 3f", true, &rest);
    EXPECT_STREQ(flags ? flags->word : nullptr, "flags ");
    EXPECT_STREQ(rest, "3f");
    const cmd_row *off = match("flags off", true, &rest);
    EXPECT_STREQ(off ? off->word : nullptr, "flags off");
    if (flags)
        seen[flags - cmd_rows] = true;
    for (int i = 0; i < cmd_row_count; i++) {
        EXPECT_TRUE(seen[i]) << "row without a case: " << cmd_rows[i].word;
        EXPECT_TRUE(cmd_rows[i].handler != nullptr) << cmd_rows[i].word;
    }
}

// Which lines run on a game build other than the supported one: those of
// the ping, pos, build, threads, net, config and update rows. A line of no
// row is an unknown command on any build.
TEST(cmd_rows, OtherGameBuilds)
{
    for (const char *line : { "ping", "pos", "build", "threads", "net", "net status", "net collide on",
                              "net collide off", "config", "config reload", "config refresh", "update",
                              "update check" }) {
        const char *rest;
        const cmd_row *row = match(line, false, &rest);
        ASSERT_TRUE(row != nullptr) << line;
        EXPECT_TRUE(row->other_builds) << line;
    }
    for (const char *line : { "spawn", "peek 0x140000000", "despawn", "cam w2s", "collide on", "model list",
                              "job list", "hook on", "flags off" }) {
        const char *rest;
        const cmd_row *row = match(line, false, &rest);
        ASSERT_TRUE(row != nullptr) << line;
        EXPECT_FALSE(row->other_builds) << line;
    }
    for (const char *line : { "netx", "configure", "updatex", "ping ", "pinger", "build x", "ne", "Net" }) {
        const char *rest;
        EXPECT_TRUE(match(line, false, &rest) == nullptr) << line;
    }
}
