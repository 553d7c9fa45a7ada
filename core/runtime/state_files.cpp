// state.json and cmd.txt on a worker thread. The game thread only copies
// values in and lines out under a lock that is never held across a file
// call, and wakes the worker through a condition variable on that lock
// (cheaper than an event, which under Wine is a round trip to its server);
// the worker does every file call of the two files. It is an own_thread, so
// a worker caught in a stalled file call outlives its bounded stop without
// running in an unmapped library.
//
// Index of this file:
//   the shared state     what the game thread and the worker exchange
//   state.json           one line, written whole and moved into place
//   cmd.txt              taken by rename, read as bytes into the line queue
//   lines handed back    the unrun lines put in front of cmd.txt at a stop
//   the worker
//   start and stop
//   the game thread's side
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "base/core.h"
#include "dm_file.h"
#include "base/own_thread.h"
#include "runtime/state_files.h"

namespace {

/* ---- the shared state ---- */

const DWORD STOP_WAIT_MS = 200;
const int LINE_SLOTS = 64; // lines read ahead of the game thread
const int LINE_SIZE = 256; // a line of at most 255 characters and its end

// One line read from cmd.txt: its text, or (too_long) the start of a line
// of more than 255 characters, which is refused whole and never run.
struct cmd_line {
    char text[LINE_SIZE];
    bool too_long;
};

struct files_ctx {
    char state_path[DM_PATH_MAX], state_tmp[DM_PATH_MAX], cmd_path[DM_PATH_MAX], taken_path[DM_PATH_MAX];
    bool paths_ok;

    SRWLOCK lock;            /* over what follows; never held across a file call */
    CONDITION_VARIABLE wake; /* work posted, room made in the queue, or stop */
    bool stop, keep_lines;
    dm_frame_info state;
    int spawn_state;
    bool state_due, commands_due;
    cmd_line lines[LINE_SLOTS];
    int head, count;
    volatile LONG waiting; /* count, for a look without the lock */

    /* Worker only: a file that could not be written or taken is said once
     * per core, not at every period. */
    bool state_fault_said, cmd_fault_said;
};

files_ctx *ctx;           /* the running worker's; game thread */
own_thread *worker_thread; /* game thread */

void release(void *arg) { delete (files_ctx *)arg; }

/* ---- state.json ---- */

void state_fault(files_ctx *c, const char *what, const char *path, DWORD error)
{
    if (c->state_fault_said)
        return;
    c->state_fault_said = true;
    core_log("[core] files: can't %s %s (error %lu); state.json is not kept up to date", what, path,
             (unsigned long)error);
}

void write_state(files_ctx *c, const dm_frame_info &s, int spawn_state)
{
    FILE *f = dm_file_open(c->state_tmp, "wt");
    if (!f) {
        state_fault(c, "write", c->state_tmp, GetLastError());
        return;
    }
    fprintf(f,
            "{\"frame\":%llu,\"time\":%.3f,\"paused\":%d,\"x\":%.3f,\"y\":%.3f,\"z\":%.3f,"
            "\"heading\":%.5f,\"pitch\":%.5f,\"roll\":%.5f,\"speed\":%.3f,\"spawn_state\":%d}\n",
            (unsigned long long)s.frame, s.seconds, (int)s.paused, s.x, s.y, s.z, s.heading, s.pitch, s.roll,
            s.speed, spawn_state);
    bool written = !ferror(f);
    written = fclose(f) == 0 && written;
    if (!written) {
        state_fault(c, "write", c->state_tmp, GetLastError());
        dm_file_delete(c->state_tmp);
        return;
    }
    // A reader never sees half a file. A move that fails leaves no .tmp behind.
    if (!dm_file_move(c->state_tmp, c->state_path, MOVEFILE_REPLACE_EXISTING)) {
        state_fault(c, "replace", c->state_path, GetLastError());
        dm_file_delete(c->state_tmp);
    }
}

/* ---- cmd.txt ---- */

// The taken file being read; a line read but not yet queued waits in held.
struct cmd_reader {
    FILE *f;
    cmd_line held;
    bool has_held;
};

bool push_line(files_ctx *c, const cmd_line &line)
{
    AcquireSRWLockExclusive(&c->lock);
    bool room = c->count < LINE_SLOTS;
    if (room) {
        c->lines[(c->head + c->count) % LINE_SLOTS] = line;
        c->count++;
        InterlockedExchange(&c->waiting, c->count);
    }
    ReleaseSRWLockExclusive(&c->lock);
    return room;
}

void cmd_fault(files_ctx *c, const char *what, DWORD error)
{
    if (c->cmd_fault_said)
        return;
    c->cmd_fault_said = true;
    core_log("[core] files: can't %s (error %lu); its commands do not run", what, (unsigned long)error);
}

// Taking the file by rename lets an outside tool append to a fresh cmd.txt
// at any time without losing lines. The file is read as bytes: in text mode
// a Ctrl-Z byte would end it there, and every later line would be lost.
void take_commands(files_ctx *c, cmd_reader *r)
{
    dm_file_delete(c->taken_path); // a leftover
    if (!dm_file_move(c->cmd_path, c->taken_path, 0)) {
        DWORD error = GetLastError();
        // No cmd.txt is the usual case; a writer still holding it open is
        // passing, and the next poll takes the file.
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND && error != ERROR_SHARING_VIOLATION)
            cmd_fault(c, "take cmd.txt", error);
        return;
    }
    r->f = dm_file_open(c->taken_path, "rb");
    r->has_held = false;
    if (!r->f) {
        cmd_fault(c, "read cmd.txt.taken", GetLastError());
        dm_file_delete(c->taken_path);
    }
}

// The next line of the file, through its LF: the text before its first CR
// or LF; a text of more than 255 characters is marked too long (its start
// kept for the refusal). False at the end of the file.
bool read_line(FILE *f, cmd_line *out)
{
    size_t n = 0;
    bool any = false, cut = false;
    out->too_long = false;
    int ch;
    while ((ch = getc(f)) != EOF) {
        any = true;
        if (ch == '\n')
            break;
        if (cut)
            continue;
        if (ch == '\r')
            cut = true;
        else if (n < LINE_SIZE - 1)
            out->text[n++] = (char)ch;
        else
            out->too_long = true;
    }
    out->text[n] = 0;
    return any;
}

// Queues the non-empty lines until the file ends (then it is closed and
// deleted) or the queue is full (then on when the game thread has made
// room).
void read_commands(files_ctx *c, cmd_reader *r)
{
    while (r->f) {
        if (r->has_held) {
            if (!push_line(c, r->held))
                return;
            r->has_held = false;
        }
        if (!read_line(r->f, &r->held)) {
            fclose(r->f);
            r->f = nullptr;
            dm_file_delete(c->taken_path);
            // A take asked for while this file was read is answered by it:
            // a cmd.txt written since waits for the next poll.
            AcquireSRWLockExclusive(&c->lock);
            c->commands_due = false;
            ReleaseSRWLockExclusive(&c->lock);
            return;
        }
        r->has_held = r->held.text[0] != 0;
    }
}

// A line too long to run, said in one line with its start.
void refuse_line(const cmd_line &line)
{
    core_log("[core] cmd.txt: refused a line of more than %d characters: %.40s...", LINE_SIZE - 1, line.text);
}

/* ---- lines handed back ---- */

struct text_buf {
    char *p;
    size_t n, cap;
};

void text_add(text_buf *b, const char *s, size_t n)
{
    if (b->n + n > b->cap) {
        size_t cap = (b->n + n) * 2 + 256;
        char *p = (char *)realloc(b->p, cap);
        if (!p)
            return; // out of memory: what does not fit is lost
        b->p = p;
        b->cap = cap;
    }
    memcpy(b->p + b->n, s, n);
    b->n += n;
}

void text_add_file(text_buf *b, FILE *f)
{
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        text_add(b, chunk, n);
}

// The lines taken but not run, in order: the queue, the held line and the
// rest of the taken file; they go back as cmd.txt, followed by whatever an
// outside tool wrote to a fresh cmd.txt meanwhile (taken by rename too).
// The move into place fails when yet another cmd.txt appeared: then again.
void hand_back_lines(files_ctx *c, cmd_reader *r)
{
    text_buf b = {};
    auto add_line = [&b](const cmd_line &line) {
        if (line.too_long) { // refused here: only its start was kept
            refuse_line(line);
            return;
        }
        text_add(&b, line.text, strlen(line.text));
        text_add(&b, "\n", 1);
    };
    // Copied out first: a refusal is logged without the lock held.
    cmd_line queued[LINE_SLOTS];
    int n = 0;
    AcquireSRWLockExclusive(&c->lock);
    for (; c->count > 0; c->count--, c->head = (c->head + 1) % LINE_SLOTS)
        queued[n++] = c->lines[c->head];
    InterlockedExchange(&c->waiting, 0);
    ReleaseSRWLockExclusive(&c->lock);
    for (int i = 0; i < n; i++)
        add_line(queued[i]);
    if (r->has_held)
        add_line(r->held);
    if (r->f) {
        text_add_file(&b, r->f);
        fclose(r->f);
        r->f = nullptr;
    }
    dm_file_delete(c->taken_path);
    for (int attempt = 0; b.n > 0 && attempt < 3; attempt++) {
        if (dm_file_move(c->cmd_path, c->taken_path, 0)) {
            FILE *fresh = dm_file_open(c->taken_path, "rb");
            if (fresh) {
                text_add_file(&b, fresh);
                fclose(fresh);
            }
        }
        FILE *f = dm_file_open(c->taken_path, "wb");
        if (!f)
            break;
        fwrite(b.p, 1, b.n, f);
        fclose(f);
        if (dm_file_move(c->taken_path, c->cmd_path, 0))
            break;
    }
    free(b.p);
}

/* ---- the worker ---- */

// Sleeps until there is work: a state to write, a take asked for (once no
// file is being read), room in the queue for the file being read, or the
// stop.
bool wait_for_work(files_ctx *c, const cmd_reader &r)
{
    AcquireSRWLockExclusive(&c->lock);
    while (!c->stop && !c->state_due && !(c->commands_due && !r.f) && !(r.f && c->count < LINE_SLOTS))
        SleepConditionVariableSRW(&c->wake, &c->lock, INFINITE, 0);
    bool stop = c->stop;
    ReleaseSRWLockExclusive(&c->lock);
    return !stop;
}

void files_worker(void *arg)
{
    files_ctx *c = (files_ctx *)arg;
    cmd_reader r = {};
    while (wait_for_work(c, r)) {
        AcquireSRWLockExclusive(&c->lock);
        bool state_due = c->state_due, take = c->commands_due && !r.f;
        dm_frame_info state = c->state;
        int spawn_state = c->spawn_state;
        c->state_due = false;
        if (take)
            c->commands_due = false;
        ReleaseSRWLockExclusive(&c->lock);

        if (state_due && c->paths_ok)
            write_state(c, state, spawn_state);
        if (take && c->paths_ok)
            take_commands(c, &r);
        if (r.f)
            read_commands(c, &r);
    }
    if (c->keep_lines) {
        hand_back_lines(c, &r);
    } else if (r.f) {
        fclose(r.f);
        dm_file_delete(c->taken_path);
    }
}

} // namespace

/* ---- start and stop ---- */

void state_files_start(const char *base_dir)
{
    if (ctx)
        return;
    files_ctx *c = new files_ctx();
    InitializeSRWLock(&c->lock);
    InitializeConditionVariable(&c->wake);
    c->commands_due = true; // a cmd.txt left waiting is taken at once
    auto path = [base_dir](char *out, const char *name) {
        int n = snprintf(out, DM_PATH_MAX, "%s%s", base_dir, name);
        return n >= 0 && n < DM_PATH_MAX;
    };
    c->paths_ok = path(c->state_path, "state.json") && path(c->state_tmp, "state.json.tmp") &&
                  path(c->cmd_path, "cmd.txt") && path(c->taken_path, "cmd.txt.taken");
    own_thread *thread = own_thread_start(files_worker, c, release);
    if (!thread) {
        core_log("[core] files: can't start the worker (%lu); no state.json, no cmd.txt", GetLastError());
        delete c;
        return;
    }
    ctx = c;
    worker_thread = thread;
}

bool state_files_stop(bool keep_lines)
{
    files_ctx *c = ctx;
    if (!c)
        return true;
    ctx = nullptr;
    AcquireSRWLockExclusive(&c->lock);
    c->keep_lines = keep_lines;
    c->stop = true;
    ReleaseSRWLockExclusive(&c->lock);
    WakeConditionVariable(&c->wake);
    bool ended = own_thread_join(worker_thread, STOP_WAIT_MS);
    worker_thread = nullptr;
    if (!ended)
        core_log("[core] files: the worker did not stop within %lu ms; it ends on its own",
                 (unsigned long)STOP_WAIT_MS);
    return ended;
}

/* ---- the game thread's side ---- */

void state_files_publish(const dm_frame_info *info, int spawn_state)
{
    files_ctx *c = ctx;
    if (!c)
        return;
    AcquireSRWLockExclusive(&c->lock);
    c->state = *info;
    c->spawn_state = spawn_state;
    c->state_due = true;
    ReleaseSRWLockExclusive(&c->lock);
    WakeConditionVariable(&c->wake);
}

void state_files_request_commands()
{
    files_ctx *c = ctx;
    if (!c)
        return;
    AcquireSRWLockExclusive(&c->lock);
    c->commands_due = true;
    ReleaseSRWLockExclusive(&c->lock);
    WakeConditionVariable(&c->wake);
}

bool state_files_lines_waiting()
{
    files_ctx *c = ctx;
    return c && c->waiting > 0;
}

bool state_files_next_line(char *out, unsigned size)
{
    files_ctx *c = ctx;
    if (!c || size == 0)
        return false;
    for (;;) {
        AcquireSRWLockExclusive(&c->lock);
        bool any = c->count > 0, was_full = c->count == LINE_SLOTS;
        cmd_line line;
        if (any) {
            line = c->lines[c->head];
            c->head = (c->head + 1) % LINE_SLOTS;
            c->count--;
            InterlockedExchange(&c->waiting, c->count);
        }
        ReleaseSRWLockExclusive(&c->lock);
        if (was_full)
            WakeConditionVariable(&c->wake); // the worker waits for room to read on
        if (!any)
            return false;
        // Refused in its place among the lines, so the log keeps the file's order.
        if (line.too_long) {
            refuse_line(line);
            continue;
        }
        snprintf(out, size, "%s", line.text);
        return true;
    }
}
