// cmd.txt as any text: each line as the core's command poll takes it (at most
// 255 characters, CR and LF cut off, empty lines skipped) through the
// build gate and the command table, with and without a spawned vehicle, and
// the arguments of the commands whose parsing is pure (peek, memrec, and
// spawn, move, flags, spawnlist and defdump's path).
// What the other commands do with their arguments happens in their handlers,
// which live in windows.h files.
//
// Index:
// - check_line: the table match, its rest, and the pure argument parsers
// - LLVMFuzzerTestOneInput: the lines of the file
#include "cmd_table.h"
#include <math.h>
#include "diag_text.h"
#include "dm_own_files.h"
#include "vehicle_args.h"
#include "fuzz_check.h"

namespace {

void check_line(const char *line, bool vehicle_spawned)
{
    cmd_gate_passes(line);
    const char *rest = nullptr;
    cmd_id id = cmd_match(line, vehicle_spawned, &rest);
    size_t n = strlen(line);
    if (id == CMD_NONE) {
        FUZZ_CHECK(rest == nullptr);
        return;
    }
    // The rest lies within the line, after the row's word.
    const cmd_row *row = nullptr;
    for (int i = 0; i < cmd_row_count && !row; i++)
        if (cmd_rows[i].id == id && strncmp(line, cmd_rows[i].word, strlen(cmd_rows[i].word)) == 0)
            row = &cmd_rows[i];
    FUZZ_CHECK(row != nullptr);
    size_t word = strlen(row->word);
    FUZZ_CHECK(rest == nullptr ? row->kind == CMD_WORD_DEFAULT && n == word
                               : rest >= line + word && rest <= line + n);
    if (id == CMD_PEEK) {
        peek_args peek;
        peek_parse(rest, &peek);
        FUZZ_CHECK(peek.hops >= 0 && peek.hops <= PEEK_MAX_HOPS);
    } else if (id == CMD_MEMREC) {
        double seconds;
        char name[MEMREC_NAME_MAX + 1];
        if (memrec_parse(rest, &seconds, name, sizeof name)) {
            FUZZ_CHECK(seconds >= MEMREC_SECONDS_MIN && seconds <= MEMREC_SECONDS_MAX && strlen(name) <= MEMREC_NAME_MAX && !strpbrk(name, "\\/:"));
            dm_recording_path_allowed(name);
        }
    } else if (id == CMD_SPAWN) {
        float metres;
        if (vcmd_parse_spawn(rest, &metres))
            FUZZ_CHECK(isfinite(metres));
    } else if (id == CMD_MOVE) {
        vcmd_move_args m;
        if (vcmd_parse_move(rest, &m))
            FUZZ_CHECK(m.given >= 0 && m.given <= 2 && isfinite(m.a) && isfinite(m.b) &&
                       strlen(m.word) <= VCMD_MOVE_WORD_MAX);
    } else if (id == CMD_FLAGS) {
        uint32_t word;
        vcmd_parse_flags(rest, &word);
    } else if (id == CMD_SPAWNLIST) {
        char file[VCMD_FILE_MAX + 1];
        float metres;
        if (vcmd_parse_spawnlist(rest, file, sizeof file, &metres))
            FUZZ_CHECK(isfinite(metres) && file[0] && strlen(file) <= VCMD_FILE_MAX);
    } else if (id == CMD_DEFDUMP && rest) {
        char path[VCMD_FILE_MAX + 8];
        if (vcmd_path(path, sizeof path, "C:\\base\\", rest)) {
            FUZZ_CHECK(strlen(path) <= VCMD_FILE_MAX);
            vcmd_is_own_file(path, "C:\\base\\");
        }
    }
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
