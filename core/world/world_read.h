/* Reads of game memory inside a command that runs under one fault guard
 * (damage, gps): a value that cannot be read ends the command the way a
 * fault would, without touching the page. The read is the probed and guarded
 * one of game_mem.h, so a guard page is never touched; the end is an access
 * violation raised with the address, caught by the command's guard. */
#pragma once
#include <windows.h>
#include "base/game_mem.h"

inline void world_raise_unreadable(uint64_t address)
{
    ULONG_PTR info[2] = { 0, (ULONG_PTR)address };
    RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 2, info);
}

template <typename T> T world_read(uint64_t address)
{
    T value = 0;
    if (!game_read_guarded(address, &value))
        world_raise_unreadable(address);
    return value;
}

inline void world_copy(void *out, uint64_t address, size_t size)
{
    if (!game_copy_guarded(out, address, size))
        world_raise_unreadable(address);
}

/* Writes a value where the bytes are readable (never a guard page); a page
 * that is not writable faults into the command's guard. */
template <typename T> void world_write(uint64_t address, T value)
{
    if (!probe_read(address, sizeof(T)))
        world_raise_unreadable(address);
    *(volatile T *)(uintptr_t)address = value;
}
