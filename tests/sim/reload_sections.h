/* The blocks a core leaves to the next across a hot reload, as a test sees
 * them: named sections of this process (the test executable is the game's
 * process), which outlive a test case, so every game test clears them at
 * SetUp (fixture.h). The names and sizes are written out here, never taken
 * from the core. */
#pragma once
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

namespace reload_fx {

struct block_name {
    const char *format; /* the process id goes in */
    size_t size;
};
const block_name core_block = { "Localdrovemark_core_state_%lu", 144 };
const block_name trailer_block = { "Localdrovemark_trailer_state_%lu", 192 };
const block_name net_block = { "Localdrovemark_net_state_%lu", 144 };
/* The convoy slots' record ("rvsave2"), rewritten at each save. */
const block_name rv_block = { "Localdrovemark_rv_state_%lu", 272 };
const block_name all_blocks[] = { core_block, trailer_block, net_block, rv_block };
/* The props block and the render gate, apart from the four: cleared by the
 * tests that use them. */
const block_name props_block = { "Localdrovemark_props_state_v7_%lu", 21016 };
const block_name render_gate = { "Localdrovemark_render_gate_%lu", 12 };

inline std::string name_of(const block_name &b)
{
    char n[96];
    snprintf(n, sizeof n, b.format, (unsigned long)GetCurrentProcessId());
    return n;
}

/* The block's bytes; empty when no section of that name exists. */
inline std::vector<uint8_t> read_block(const block_name &b)
{
    std::vector<uint8_t> out;
    HANDLE h = OpenFileMappingA(FILE_MAP_READ, FALSE, name_of(b).c_str());
    if (!h)
        return out;
    if (const void *view = MapViewOfFile(h, FILE_MAP_READ, 0, 0, b.size)) {
        out.assign((const uint8_t *)view, (const uint8_t *)view + b.size);
        UnmapViewOfFile(view);
    }
    CloseHandle(h);
    return out;
}

/* Writes the bytes over the start of the block; false when no section of
 * that name exists. */
inline bool write_block(const block_name &b, const std::vector<uint8_t> &bytes)
{
    HANDLE h = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name_of(b).c_str());
    if (!h)
        return false;
    void *view = MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, b.size);
    if (view) {
        memcpy(view, bytes.data(), bytes.size() < b.size ? bytes.size() : b.size);
        UnmapViewOfFile(view);
    }
    CloseHandle(h);
    return view != nullptr;
}

/* Zeroes every block that exists: a block left by an earlier case would be
 * taken back by the next core, whose game_ctrl may land at the address of
 * the freed one. */
inline void clear_blocks()
{
    for (const block_name &b : all_blocks) {
        HANDLE h = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name_of(b).c_str());
        if (!h)
            continue;
        if (void *view = MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, b.size)) {
            memset(view, 0, b.size);
            UnmapViewOfFile(view);
        }
        CloseHandle(h);
    }
}

/* Takes the block's name with an object of another kind, so that no
 * section of that name can be made in this process (call it before any
 * core has mapped it). Kept open for the process's life. */
inline bool block_the_name(const block_name &b)
{
    return CreateEventA(nullptr, TRUE, FALSE, name_of(b).c_str()) != nullptr;
}

template <typename T> T at(const std::vector<uint8_t> &bytes, size_t offset)
{
    T v {};
    if (offset + sizeof v <= bytes.size())
        memcpy(&v, bytes.data() + offset, sizeof v);
    return v;
}

} // namespace reload_fx
