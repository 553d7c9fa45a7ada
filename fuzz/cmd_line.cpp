// cmd.txt as any text: each line as the core's command poll takes it (at most
// 255 characters, CR and LF cut off, empty lines skipped) through the
// table matching, with and without a spawned vehicle, and the arguments of
// the commands whose parsing is pure (peek, memrec, and spawn, move, flags,
// spawnlist and defdump's path), each checked by its row's handler.
// What the other commands do with their arguments happens in their handlers,
// which live in windows.h files.
//
// Index:
// - check_*: the pure argument parsers, one row handler each
// - check_line: the table match and its rest
// - LLVMFuzzerTestOneInput: the lines of the file
#include "base/cmd_table.h"
#include <math.h>
#include "runtime/diag_text.h"
#include "dm_own_files.h"
#include "vehicles/vehicle_args.h"
#include "fuzz_check.h"

namespace {

void check_peek(const cmd_call &c)
{
    peek_args peek;
    peek_parse(c.rest, &peek);
    FUZZ_CHECK(peek.hops >= 0 && peek.hops <= PEEK_MAX_HOPS);
}

void check_memrec(const cmd_call &c)
{
    double seconds;
    char name[MEMREC_NAME_MAX + 1];
    if (memrec_parse(c.rest, &seconds, name, sizeof name)) {
        FUZZ_CHECK(seconds >= MEMREC_SECONDS_MIN && seconds <= MEMREC_SECONDS_MAX && strlen(name) <= MEMREC_NAME_MAX && !strpbrk(name, "\\/:"));
        dm_recording_path_allowed(name);
    }
}

void check_spawn(const cmd_call &c)
{
    float metres;
    if (vcmd_parse_spawn(c.rest, &metres))
        FUZZ_CHECK(isfinite(metres));
}

void check_move(const cmd_call &c)
{
    vcmd_move_args m;
    if (vcmd_parse_move(c.rest, &m))
        FUZZ_CHECK(m.given >= 0 && m.given <= 2 && isfinite(m.a) && isfinite(m.b) &&
                   strlen(m.word) <= VCMD_MOVE_WORD_MAX);
}

void check_flags(const cmd_call &c)
{
    uint32_t word;
    vcmd_parse_flags(c.rest, &word);
}

void check_spawnlist(const cmd_call &c)
{
    char file[VCMD_FILE_MAX + 1];
    float metres;
    if (vcmd_parse_spawnlist(c.rest, file, sizeof file, &metres))
        FUZZ_CHECK(isfinite(metres) && file[0] && strlen(file) <= VCMD_FILE_MAX);
}

void check_defdump(const cmd_call &c)
{
    char path[VCMD_FILE_MAX + 8];
    if (c.rest && vcmd_path(path, sizeof path, "C:\\base\\", c.rest)) {
        FUZZ_CHECK(strlen(path) <= VCMD_FILE_MAX);
        vcmd_is_own_file(path, "C:\\base\\");
    }
}

void no_check(const cmd_call &) {}

// The rows of the commands whose arguments are parsed by pure code, as the
// console's table (core/runtime/dispatcher.cpp) spells them and in its order,
// with a row of each kind; each row's handler checks its parser.
const cmd_row rows[] = {
    { "ping", CMD_EXACT, true, no_check },
    { "update", CMD_WORD, true, no_check },
    { "spawn", CMD_WORD_DEFAULT, false, check_spawn },
    { "peek ", CMD_PREFIX, false, check_peek },
    { "memrec ", CMD_PREFIX, false, check_memrec },
    { "flags off", CMD_EXACT, false, no_check },
    { "flags ", CMD_PREFIX_SPAWNED, false, check_flags },
    { "move", CMD_WORD_DEFAULT, false, check_move },
    { "defdump", CMD_WORD_DEFAULT, false, check_defdump },
    { "spawnlist ", CMD_PREFIX, false, check_spawnlist },
    { "net", CMD_WORD_DEFAULT, true, no_check },
};

void check_line(const char *line, bool vehicle_spawned)
{
    const char *rest = nullptr;
    const cmd_row *row = cmd_match(rows, (int)(sizeof rows / sizeof rows[0]), line, vehicle_spawned, &rest);
    if (!row) {
        FUZZ_CHECK(rest == nullptr);
        return;
    }
    // The rest lies within the line, after the row's word.
    size_t n = strlen(line), word = strlen(row->word);
    FUZZ_CHECK(strncmp(line, row->word, word) == 0);
    FUZZ_CHECK(rest == nullptr ? row->kind == CMD_WORD_DEFAULT && n == word
                               : rest >= line + word && rest <= line + n);
    FUZZ_CHECK(row->kind != CMD_PREFIX_SPAWNED || vehicle_spawned);
    row->handler({ line, rest, nullptr });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *d, size_t len)
{
    const uint8_t *at = d, *end = d + len;
    char line[256];
    while (fuzz_line(&at, end, line, sizeof line)) {
        line[strcspn(line, "\r\n")] = 0;
        if (!line[0])
            continue;
        check_line(line, false);
        check_line(line, true);
    }
    return 0;
}
