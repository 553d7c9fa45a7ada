// state.json and cmd.txt kept off the game thread, through the real plug-in
// and core: the core's own file calls are watched through its import table
// (counted by the thread that makes them, and held on demand as a stalled
// disk holds them), and the files themselves read back.
//
// Index of this file:
//   the disk as the core sees it   its file imports counted and held
//   the fixture                    a core test with the disk watched
//   the tests
#include <algorithm>
#include "runtime_fixture.h"
#include "dm_pe_imports.h"

using rt::fmt;

namespace {

/* ---- the disk as the core sees it ---- */

// Every file call the core imports by name, from either library, goes
// through a counter: calls on the game thread (the one that runs the frames
// here) and on any other. While the disk is held, each call waits for its
// release (at most hold_ms, so a fault cannot hang the run) before going on
// to the real function.
namespace disk {

const DWORD hold_ms = 1500;
DWORD game_thread;
volatile LONG game_calls, other_calls, waiting;
HANDLE released; // manual reset: set while the disk answers

void note()
{
    InterlockedIncrement(GetCurrentThreadId() == game_thread ? &game_calls : &other_calls);
    if (WaitForSingleObject(released, 0) == WAIT_OBJECT_0)
        return;
    InterlockedIncrement(&waiting);
    WaitForSingleObject(released, hold_ms);
    InterlockedDecrement(&waiting);
}

#define DISK_CALL(ret, name, params, args)                                                                   \
    ret(WINAPI *real_##name) params;                                                                          \
    ret WINAPI watched_##name params                                                                          \
    {                                                                                                         \
        note();                                                                                               \
        return real_##name args;                                                                              \
    }
DISK_CALL(HANDLE, CreateFileA, (LPCSTR a, DWORD b, DWORD c, LPSECURITY_ATTRIBUTES d, DWORD e, DWORD f, HANDLE g),
          (a, b, c, d, e, f, g))
DISK_CALL(HANDLE, CreateFileW, (LPCWSTR a, DWORD b, DWORD c, LPSECURITY_ATTRIBUTES d, DWORD e, DWORD f, HANDLE g),
          (a, b, c, d, e, f, g))
DISK_CALL(BOOL, DeleteFileA, (LPCSTR a), (a))
DISK_CALL(BOOL, DeleteFileW, (LPCWSTR a), (a))
DISK_CALL(BOOL, MoveFileA, (LPCSTR a, LPCSTR b), (a, b))
DISK_CALL(BOOL, MoveFileW, (LPCWSTR a, LPCWSTR b), (a, b))
DISK_CALL(BOOL, MoveFileExA, (LPCSTR a, LPCSTR b, DWORD c), (a, b, c))
DISK_CALL(BOOL, MoveFileExW, (LPCWSTR a, LPCWSTR b, DWORD c), (a, b, c))
DISK_CALL(DWORD, GetFileAttributesA, (LPCSTR a), (a))
DISK_CALL(DWORD, GetFileAttributesW, (LPCWSTR a), (a))
DISK_CALL(HANDLE, FindFirstFileA, (LPCSTR a, LPWIN32_FIND_DATAA b), (a, b))
DISK_CALL(HANDLE, FindFirstFileW, (LPCWSTR a, LPWIN32_FIND_DATAW b), (a, b))
DISK_CALL(BOOL, ReadFile, (HANDLE a, LPVOID b, DWORD c, LPDWORD d, LPOVERLAPPED e), (a, b, c, d, e))
DISK_CALL(BOOL, WriteFile, (HANDLE a, LPCVOID b, DWORD c, LPDWORD d, LPOVERLAPPED e), (a, b, c, d, e))
DISK_CALL(BOOL, FlushFileBuffers, (HANDLE a), (a))
DISK_CALL(FILE *, fopen, (const char *a, const char *b), (a, b))
DISK_CALL(FILE *, _wfopen, (const wchar_t *a, const wchar_t *b), (a, b))
DISK_CALL(int, fclose, (FILE * a), (a))
DISK_CALL(char *, fgets, (char *a, int b, FILE *c), (a, b, c))
DISK_CALL(int, fputs, (const char *a, FILE *b), (a, b))
DISK_CALL(size_t, fread, (void *a, size_t b, size_t c, FILE *d), (a, b, c, d))
DISK_CALL(size_t, fwrite, (const void *a, size_t b, size_t c, FILE *d), (a, b, c, d))
DISK_CALL(int, vfprintf, (FILE * a, const char *b, va_list c), (a, b, c))
DISK_CALL(int, rename, (const char *a, const char *b), (a, b))
DISK_CALL(int, remove, (const char *a), (a))
#undef DISK_CALL

int (*real_fprintf)(FILE *, const char *, ...); // only its slot: the call goes on as vfprintf
int watched_fprintf(FILE *f, const char *format, ...)
{
    note();
    va_list ap;
    va_start(ap, format);
    int n = real_vfprintf(f, format, ap);
    va_end(ap);
    return n;
}

struct import {
    const char *dll, *name;
    void *watched;
    void **real;
};
#define DISK_IMPORT(dll, name) { dll, #name, (void *)&watched_##name, (void **)&real_##name }
const import imports[] = {
    DISK_IMPORT("kernel32.dll", CreateFileA), DISK_IMPORT("kernel32.dll", CreateFileW),
    DISK_IMPORT("kernel32.dll", DeleteFileA), DISK_IMPORT("kernel32.dll", DeleteFileW),
    DISK_IMPORT("kernel32.dll", MoveFileA), DISK_IMPORT("kernel32.dll", MoveFileW),
    DISK_IMPORT("kernel32.dll", MoveFileExA), DISK_IMPORT("kernel32.dll", MoveFileExW),
    DISK_IMPORT("kernel32.dll", GetFileAttributesA), DISK_IMPORT("kernel32.dll", GetFileAttributesW),
    DISK_IMPORT("kernel32.dll", FindFirstFileA), DISK_IMPORT("kernel32.dll", FindFirstFileW),
    DISK_IMPORT("kernel32.dll", ReadFile), DISK_IMPORT("kernel32.dll", WriteFile),
    DISK_IMPORT("kernel32.dll", FlushFileBuffers), DISK_IMPORT("msvcrt.dll", fopen),
    DISK_IMPORT("msvcrt.dll", _wfopen), DISK_IMPORT("msvcrt.dll", fclose),
    DISK_IMPORT("msvcrt.dll", fgets), DISK_IMPORT("msvcrt.dll", fputs),
    DISK_IMPORT("msvcrt.dll", fread), DISK_IMPORT("msvcrt.dll", fwrite),
    DISK_IMPORT("msvcrt.dll", vfprintf), DISK_IMPORT("msvcrt.dll", fprintf),
    DISK_IMPORT("msvcrt.dll", rename), DISK_IMPORT("msvcrt.dll", remove),
};
#undef DISK_IMPORT

/* Points the loaded core's file imports at the counters; the number of
 * slots patched. */
int watch(HMODULE core)
{
    game_thread = GetCurrentThreadId();
    game_calls = 0;
    other_calls = 0;
    if (!released)
        released = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    SetEvent(released);
    int patched = 0;
    for (const import &i : imports) {
        void *was = sim::patch_import(core, i.dll, i.name, i.watched);
        if (!was)
            continue;
        *i.real = was;
        patched++;
    }
    if (!real_vfprintf)
        real_vfprintf = vfprintf;
    return patched;
}

void hold() { ResetEvent(released); }
void release() { SetEvent(released); }

} // namespace disk

/* ---- the fixture ---- */

class state_files : public rt::core_test {
protected:
    HMODULE core_module() { return dm_module_loaded((base + "core\\loaded_1.dll").c_str()); }

    void TearDown() override
    {
        disk::release();
        rt::core_test::TearDown();
    }

    /* Starts the core and watches its file calls from here on. */
    void start_watched()
    {
        start();
        ASSERT_TRUE(core_module());
        ASSERT_GE(disk::watch(core_module()), 6);
    }

    /* Frames of dt (at most 40, a little time between them) until the
     * dispatcher has echoed n lines in all. */
    void frames_until_echoed(size_t n, double dt)
    {
        for (int i = 0; i < 40 && echoed().size() < n; i++) {
            sim::frames(1, dt);
            Sleep(5);
        }
    }
};

/* ---- the tests ---- */

TEST_F(state_files, TheGameThreadMakesNoFileCallInSteadyState)
{
    start_watched();
    sim::channel_placement(10.5, 2.25, -3.125, 0.5f, 0.0f, 0.0f);
    fx::write_file(base + "cmd.txt", "ping\n");
    // Two and a half seconds of frames: nine state.json rewrites and eleven
    // cmd.txt polls fall in them, and a poll takes the file and runs its line.
    for (int i = 0; i < 40; i++) {
        sim::frames(1, i == 39 ? 0.5 : 0.05);
        Sleep(2);
    }
    EXPECT_EQ(disk::game_calls, 0);
    EXPECT_GT(disk::other_calls, 0); // the files were worked on, elsewhere
    EXPECT_EQ(log_count("[core] pong"), 1) << log_text();
    EXPECT_FALSE(fx::exists(base + "cmd.txt"));
    std::string state = wait_for_file(base + "state.json", "{\"frame\":41,");
    EXPECT_EQ(state.rfind("{\"frame\":41,\"time\":2.500,\"paused\":0,\"x\":10.500,", 0), 0u) << state;
}

TEST_F(state_files, AStalledDiskNeverHoldsTheFrameAndTheLatestStateIsWrittenAfterIt)
{
    start_watched();
    std::string before = wait_for_file(base + "state.json", "{\"frame\":1,");
    ASSERT_EQ(before.rfind("{\"frame\":1,", 0), 0u) << before;
    disk::hold();
    fx::write_file(base + "cmd.txt", "ping\n");
    LARGE_INTEGER freq, a, b;
    QueryPerformanceFrequency(&freq);
    double slowest_ms = 0;
    for (int i = 0; i < 20; i++) {
        sim::channel_placement(100.0 + i, 0, 0, 0, 0, 0);
        QueryPerformanceCounter(&a);
        sim::frames(1, 0.05);
        QueryPerformanceCounter(&b);
        slowest_ms = std::max(slowest_ms, (double)(b.QuadPart - a.QuadPart) * 1000.0 / (double)freq.QuadPart);
    }
    EXPECT_LT(slowest_ms, 250.0);
    for (int i = 0; i < 200 && disk::waiting == 0; i++)
        Sleep(5);
    EXPECT_GT(disk::waiting, 0); // the disk really is held, elsewhere
    EXPECT_EQ(read_shared(base + "state.json"), before);
    disk::release();
    // Once the disk answers, the last frame's values are what state.json
    // says, whatever was published while it was held.
    sim::channel_placement(555.0, 0, 0, 0, 0, 0);
    sim::frames(1, 1.0);
    std::string after = wait_for_file(base + "state.json", "{\"frame\":22,");
    EXPECT_EQ(after.rfind("{\"frame\":22,\"time\":2.050,\"paused\":0,\"x\":555.000,", 0), 0u) << after;
    frames_until_echoed(1, 0.05);
    EXPECT_EQ(log_count("[core] pong"), 1) << log_text();
}

TEST_F(state_files, ShutdownWithTheWorkerStalledReturnsAtOnceAndTheCoreGoesWithTheWorker)
{
    start_watched();
    disk::hold();
    sim::frames(1, 0.3); // state.json due: the worker meets the held disk
    for (int i = 0; i < 200 && disk::waiting == 0; i++)
        Sleep(5);
    ASSERT_GT(disk::waiting, 0);
    LARGE_INTEGER freq, a, b;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&a);
    shutdown();
    QueryPerformanceCounter(&b);
    EXPECT_LT((double)(b.QuadPart - a.QuadPart) * 1000.0 / (double)freq.QuadPart, 600.0);
    EXPECT_GE(log_find("[core] files: the worker did not stop within 200 ms; it ends on its own"), 0) << log_text();
    EXPECT_EQ(log_lines().back(), "[host] ---- shutdown");
    // The worker's own reference keeps its code mapped while it waits on
    // the disk, and lets it go when it is done.
    EXPECT_TRUE(core_module());
    disk::release();
    for (int i = 0; i < 300 && core_module(); i++)
        Sleep(10);
    EXPECT_FALSE(core_module());
}

TEST_F(state_files, LinesNotRunAtAShutdownAreRunByTheNextCoreOnceAndInOrder)
{
    // The worker busy at the shutdown: holding a taken file of more lines
    // than wait in its queue, with none of them run yet or some.
    for (int frames_before : { 0, 1 }) {
        SCOPED_TRACE(frames_before);
        start();
        std::string text;
        std::vector<std::string> lines;
        for (int i = 0; i < 400; i++) {
            lines.push_back(fmt("ping %d", i));
            text += lines.back() + (i % 3 ? "\n" : "\r\n");
            // A line too long to run, among those read ahead: refused, never
            // handed back as its start or its tail.
            if (i == 5)
                text += "ping " + std::string(250, 'x') + "ping 5\n";
        }
        fx::write_file(base + "cmd.txt", text);
        sim::frames(1, 0.25);
        for (int i = 0; i < 200 && fx::exists(base + "cmd.txt"); i++)
            Sleep(5);
        ASSERT_FALSE(fx::exists(base + "cmd.txt"));
        sim::frames(frames_before, 0.01);
        std::vector<std::string> all = echoed();
        restart();
        start();
        frames_until_echoed(lines.size() - all.size(), 0.25);
        auto second = echoed();
        all.insert(all.end(), second.begin(), second.end());
        EXPECT_EQ(all, lines);
        EXPECT_FALSE(fx::exists(base + "cmd.txt"));
        EXPECT_FALSE(fx::exists(base + "cmd.txt.taken"));
        restart();
    }
}

TEST_F(state_files, AStateJsonThatCannotBeReplacedAndACmdTxtThatCannotBeTakenAreEachSaidOnce)
{
    // Folders where state.json and cmd.txt.taken go (the second holding a
    // file, so that it is never deleted): every move over state.json and
    // every take of cmd.txt fails, however often they are tried.
    dm_dir_create(base.c_str());
    ASSERT_TRUE(dm_dir_create((base + "state.json").c_str()));
    ASSERT_TRUE(dm_dir_create((base + "cmd.txt.taken").c_str()));
    fx::write_file(base + "cmd.txt.taken\\kept", "x");
    fx::write_file(base + "cmd.txt", "ping\n");
    start();
    const std::string state_line = "[core] files: can't replace " + base + "state.json (error ";
    const std::string cmd_line = "[core] files: can't take cmd.txt (error ";
    for (int i = 0; i < 100 && (log_find(state_line) < 0 || log_find(cmd_line) < 0); i++) {
        sim::frames(1, 0.25);
        Sleep(10);
    }
    // Ten periods more, the worker given time for each.
    for (int i = 0; i < 10; i++) {
        sim::frames(1, 0.25);
        Sleep(20);
    }
    EXPECT_EQ(log_count(state_line), 1) << log_text();
    EXPECT_EQ(log_count(cmd_line), 1) << log_text();
    EXPECT_FALSE(fx::exists(base + "state.json.tmp")) << "a failed move leaves no .tmp behind";
    EXPECT_TRUE(fx::exists(base + "cmd.txt"));
    EXPECT_EQ(log_count("[core] pong"), 0);
    int state_at = log_find(state_line), cmd_at = log_find(cmd_line);
    ASSERT_GE(state_at, 0);
    ASSERT_GE(cmd_at, 0);
    EXPECT_NE(log_lines()[state_at].find("); state.json is not kept up to date"), std::string::npos);
    EXPECT_NE(log_lines()[cmd_at].find("); its commands do not run"), std::string::npos);

    // Once the way is free, both work again.
    ASSERT_TRUE(RemoveDirectoryA((base + "state.json").c_str()));
    ASSERT_TRUE(dm_file_delete((base + "cmd.txt.taken\\kept").c_str()));
    ASSERT_TRUE(RemoveDirectoryA((base + "cmd.txt.taken").c_str()));
    frames_until_echoed(1, 0.25);
    EXPECT_EQ(log_count("[core] pong"), 1) << log_text();
    EXPECT_EQ(wait_for_file(base + "state.json", "{\"frame\":").rfind("{\"frame\":", 0), 0u);
}

TEST_F(state_files, CommandLinesRunOnTheGameThreadInThePollStep)
{
    start();
    fx::write_file(base + "cmd.txt", "ping\nthreads\n");
    frames_until_echoed(2, 0.25);
    EXPECT_EQ(echoed(), (std::vector<std::string> { "ping", "threads" }));
    std::string threads = fmt("[core] threads: frame_end=%lu, core init=%lu,", GetCurrentThreadId(), GetCurrentThreadId());
    EXPECT_GE(log_find(threads), 0) << log_text();

    // A line that faults is reported as a fault of the poll step: the
    // command's thread-id import points at code that faults.
    auto *code = (uint8_t *)VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
    ASSERT_TRUE(code);
    const uint8_t store_to_0x10[] = { 0xC7, 0x04, 0x25, 0x10, 0, 0, 0, 1, 0, 0, 0, 0xC3 };
    memcpy(code, store_to_0x10, sizeof store_to_0x10);
    ASSERT_TRUE(sim::patch_import(core_module(), "kernel32.dll", "GetCurrentThreadId", code));
    fx::write_file(base + "cmd.txt", "threads\n");
    for (int i = 0; i < 40 && log_find("[core] FRAME FAULT") < 0; i++) {
        sim::frames(1, 0.25);
        Sleep(5);
    }
    EXPECT_GE(log_find("[core] FRAME FAULT 0xc0000005 in 'poll_commands' at ?+0x"), 0) << log_text();
    VirtualFree(code, 0, MEM_RELEASE);
}

} // namespace
