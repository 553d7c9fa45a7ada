// The real core's life cycle as the plug-in drives it: its start and stop
// lines, its refusal of a foreign host API, and the frame fault report that
// names the step and the module (in the game at its preferred base).
#include "sim/fixture.h"
#include <stdarg.h>
#include "dm_api.h"
#include "log_capture.h"
#include "dm_pe_imports.h"

namespace {

class core : public fx::game_test {
protected:
    HMODULE core_module()
    {
        return GetModuleHandleA((base + "core\\loaded_1.dll").c_str());
    }
    std::string exe_name()
    {
        char p[MAX_PATH];
        GetModuleFileNameA(nullptr, p, sizeof p);
        return strrchr(p, '\\') + 1;
    }
    static std::string fmt_p(const void *p)
    {
        char b[32];
        snprintf(b, sizeof b, "%p", p);
        return b;
    }
};

TEST_F(core, StartsAndStopsWithThePlugin)
{
    install_core("drovemark_core.dll");
    ASSERT_EQ(init(), SCS_RESULT_OK);
    sim::frames(3, 0.1);
    int start = log_find("[core] init (build ");
    ASSERT_GE(start, 0) << log_text();
    EXPECT_GT(log_find("[host] core generation 1 loaded"), start);
    shutdown();
    auto lines = log_lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "[core] shutdown");
    EXPECT_EQ(lines.back(), "[host] ---- shutdown");
    EXPECT_EQ(log_find("[core] leaving"), -1); // nothing was spawned
}

TEST_F(core, RefusesAForeignHostApiSilently)
{
    HMODULE m = LoadLibraryA(fx::bin("drovemark_core.dll").c_str());
    ASSERT_TRUE(m);
    auto init_fn = (dm_core_init_fn)(void *)GetProcAddress(m, "dm_core_init");
    ASSERT_TRUE(init_fn);
    for (const char *name : { "dm_core_frame", "dm_core_shutdown", "dm_core_unhook", "dm_core_ui" })
        EXPECT_TRUE(GetProcAddress(m, name)) << name;
    std::string dir = base;
    dm_host_api api = { 24, 2, fx::capture_log, dir.c_str() };
    fx::captured_clear();
    EXPECT_EQ(init_fn(&api), 0);
    EXPECT_EQ(init_fn(nullptr), 0);
    EXPECT_TRUE(fx::captured().empty());
    FreeLibrary(m);
}

// Points the core's import of WakeConditionVariable (the write_state step's
// hand-over to the file worker, on the first frame) at code that puts the
// import back and then faults, so the step faults once and the unhook after
// it runs.
const uint32_t scratch_code = 0x36F0000; // above every offset the game uses
const size_t restore_size = 23;          // the bytes that put the import back

std::vector<uint8_t> fault_once(HMODULE core, const uint8_t *fault, size_t size)
{
    void **slot = dm_pe_import_slot(core, "kernel32.dll", "WakeConditionVariable");
    if (!slot)
        return {};
    DWORD old;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old); // the code writes it
    void *real = *slot;
    std::vector<uint8_t> code = { 0x48, 0xB8 }; // mov rax, real
    code.insert(code.end(), (uint8_t *)&real, (uint8_t *)&real + 8);
    code.insert(code.end(), { 0x49, 0xBA }); // mov r10, slot
    code.insert(code.end(), (uint8_t *)&slot, (uint8_t *)&slot + 8);
    code.insert(code.end(), { 0x49, 0x89, 0x02 }); // mov [r10], rax
    code.insert(code.end(), fault, fault + size);
    return code;
}

TEST_F(core, FrameFaultInTheGameIsReportedAtItsPreferredAddress)
{
    install_core("drovemark_core.dll");
    ASSERT_EQ(init(), SCS_RESULT_OK);
    const uint8_t store_to_0x10[] = { 0xC7, 0x04, 0x25, 0x10, 0, 0, 0, 1, 0, 0, 0, 0xC3 };
    auto code = fault_once(core_module(), store_to_0x10, sizeof store_to_0x10);
    ASSERT_EQ(code.size(), restore_size + sizeof store_to_0x10);
    sim::game_write(scratch_code, code.data(), code.size());
    ASSERT_TRUE(sim::patch_import(core_module(), "kernel32.dll", "WakeConditionVariable", sim::game_at(scratch_code)));
    sim::frames(1, 0.1);

    char expect[256];
    snprintf(expect, sizeof expect,
             "[core] FRAME FAULT 0xc0000005 in 'write_state' at %s+0x%llx, data addr %s (veh %s, trl %s, sp 0)",
             exe_name().c_str(), 0x140000000ULL + scratch_code + restore_size, fmt_p((void *)0x10).c_str(),
             fmt_p(nullptr).c_str(), fmt_p(nullptr).c_str());
    int fault = log_find("[core] FRAME FAULT");
    ASSERT_GE(fault, 0) << log_text();
    auto lines = log_lines();
    EXPECT_EQ(lines[fault], expect);
    ASSERT_GT((int)lines.size(), fault + 2);
    EXPECT_EQ(lines[fault + 1], "[host] core frame faulted (0xc0000005); core disabled until next build");
    EXPECT_EQ(lines[fault + 2], "[host] core hooks removed after the fault");
    EXPECT_EQ(log_count("[core] shutdown"), 0);
    EXPECT_FALSE(core_module());
}

TEST_F(core, FrameFaultInASystemLibraryNamesThatLibrary)
{
    install_core("drovemark_core.dll");
    ASSERT_EQ(init(), SCS_RESULT_OK);
    // strlen(NULL) inside ntdll, reached through a jump from the game image.
    void *strlen_fn = (void *)GetProcAddress(GetModuleHandleA("ntdll.dll"), "strlen");
    ASSERT_TRUE(strlen_fn);
    uint8_t jump[14] = { 0x31, 0xC9, 0x48, 0xB8 };
    memcpy(jump + 4, &strlen_fn, 8);
    jump[12] = 0xFF;
    jump[13] = 0xE0;
    auto code = fault_once(core_module(), jump, sizeof jump);
    ASSERT_FALSE(code.empty());
    sim::game_write(scratch_code, code.data(), code.size());
    ASSERT_TRUE(sim::patch_import(core_module(), "kernel32.dll", "WakeConditionVariable", sim::game_at(scratch_code)));
    sim::frames(1, 0.1);
    std::string prefix = "[core] FRAME FAULT 0xc0000005 in 'write_state' at ntdll.dll+0x";
    int fault = log_find(prefix);
    ASSERT_GE(fault, 0) << log_text();
    auto lines = log_lines();
    EXPECT_NE(lines[fault].find(", data addr " + fmt_p(nullptr) + " (veh "), std::string::npos) << lines[fault];
    EXPECT_EQ(lines[fault + 1].rfind("[host] core frame faulted (0xc0000005)", 0), 0u);
}

TEST_F(core, FrameFaultOutsideAnyModulePrintsTheRawAddress)
{
    install_core("drovemark_core.dll");
    ASSERT_EQ(init(), SCS_RESULT_OK);
    auto *code = (uint8_t *)VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
    ASSERT_TRUE(code);
    const uint8_t store_to_0x10[] = { 0xC7, 0x04, 0x25, 0x10, 0, 0, 0, 1, 0, 0, 0, 0xC3 };
    auto bytes = fault_once(core_module(), store_to_0x10, sizeof store_to_0x10);
    ASSERT_FALSE(bytes.empty());
    memcpy(code, bytes.data(), bytes.size());
    ASSERT_TRUE(sim::patch_import(core_module(), "kernel32.dll", "WakeConditionVariable", code));
    sim::frames(1, 0.1);
    char expect[128];
    snprintf(expect, sizeof expect, "[core] FRAME FAULT 0xc0000005 in 'write_state' at ?+0x%llx, data addr ",
             (unsigned long long)(uintptr_t)(code + restore_size));
    EXPECT_GE(log_find(expect), 0) << log_text();
    VirtualFree(code, 0, MEM_RELEASE);
}

} // namespace
