// The game's image inside the main module, and import patching.
#include "sim/sim.h"
#include <string.h>


namespace sim {
namespace {
const sim_exe_imports *exe;
const uint32_t image_start = 0x1000, image_end = 0x3700000;
} // namespace

uint8_t *game_base() { return (uint8_t *)GetModuleHandleA(nullptr); }

uint8_t *game_at(uint32_t offset)
{
    if (offset < image_start || offset >= image_end)
        return nullptr;
    return game_base() + offset;
}

void game_write(uint32_t offset, const void *bytes, size_t size)
{
    uint8_t *p = game_at(offset);
    if (p && offset + size <= image_end)
        memcpy(p, bytes, size);
}

void game_clear() { memset(game_base() + image_start, 0, image_end - image_start); }

const sim_exe_imports *exe_imports() { return exe; }

void *patch_import(HMODULE module, const char *dll, const char *function, void *replacement)
{
    auto *base = (uint8_t *)module;
    auto *dos = (IMAGE_DOS_HEADER *)base;
    auto *nt = (IMAGE_NT_HEADERS64 *)(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress)
        return nullptr;
    for (auto *d = (IMAGE_IMPORT_DESCRIPTOR *)(base + dir.VirtualAddress); d->Name; d++) {
        if (_stricmp((const char *)(base + d->Name), dll) != 0)
            continue;
        auto *names = (IMAGE_THUNK_DATA64 *)(base + (d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk));
        auto *slots = (IMAGE_THUNK_DATA64 *)(base + d->FirstThunk);
        for (; names->u1.AddressOfData; names++, slots++) {
            if (IMAGE_SNAP_BY_ORDINAL64(names->u1.Ordinal))
                continue;
            auto *ibn = (IMAGE_IMPORT_BY_NAME *)(base + names->u1.AddressOfData);
            if (strcmp((const char *)ibn->Name, function) != 0)
                continue;
            DWORD old;
            VirtualProtect(&slots->u1.Function, 8, PAGE_READWRITE, &old);
            void *previous = (void *)slots->u1.Function;
            slots->u1.Function = (ULONGLONG)replacement;
            VirtualProtect(&slots->u1.Function, 8, old, &old);
            return previous;
        }
    }
    return nullptr;
}

} // namespace sim

extern "C" void sim_register_exe(const sim_exe_imports *imports) { sim::exe = imports; }
