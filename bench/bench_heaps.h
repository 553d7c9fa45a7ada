/* What a process holds, taken apart for the soak's diagnostic mode: its busy
 * heap blocks counted by heap and size (GetProcessHeaps + HeapWalk), and its
 * open handles by kind (the object type the system names for each), each
 * taken twice and the second compared with the first; and the private pages
 * committed against those resident (Wine counts only the resident ones as
 * a process's private bytes, Windows every committed one); and the C runtime
 * blocks a module holds, counted by wrapping its imports of the runtime's
 * allocation functions.
 * Sections: heap census; handle census; private pages; a module's blocks. */
#pragma once
#include <windows.h>
#include <psapi.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <algorithm>
#include <map>
#include <new>
#include <string>
#include <utility>
#include <vector>
#include "dm_pe_imports.h"

/* ---- heap census ---- */

/* Busy blocks: (heap index, block size) -> count. The heaps are numbered in the
 * order the process lists them; the index of the C runtime's heap is named. */
struct bench_heap_census {
    std::map<std::pair<int, size_t>, long> blocks;
    int heaps;
    bool partial; /* a heap could not be counted */
};

inline bench_heap_census bench_heap_take()
{
    bench_heap_census c = {};
    HANDLE heaps[64];
    DWORD n = GetProcessHeaps(64, heaps);
    c.heaps = (int)(n < 64 ? n : 64);
    for (int i = 0; i < c.heaps; i++) {
        if (!HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY e = {};
        std::vector<size_t> sizes; // no allocation from a locked heap's walk into the map
        try {
            sizes.reserve(1 << 18);
        } catch (const std::bad_alloc &) {
            HeapUnlock(heaps[i]);
            printf("heaps: no room left to count heap %d\n", i);
            c.partial = true;
            continue;
        }
        while (HeapWalk(heaps[i], &e))
            if ((e.wFlags & PROCESS_HEAP_ENTRY_BUSY) && sizes.size() < sizes.capacity())
                sizes.push_back(e.cbData);
        HeapUnlock(heaps[i]);
        if (sizes.size() == sizes.capacity())
            printf("heaps: heap %d has more busy blocks than counted\n", i);
        for (size_t s : sizes)
            c.blocks[{ i, s }]++;
    }
    return c;
}

/* The sizes whose count changed between two censuses, most bytes first, per
 * the given number of events (bots replaced), and the totals per heap. */
inline void bench_heap_diff(const bench_heap_census &a, const bench_heap_census &b, int events, int lines)
{
    if (a.partial || b.partial)
        return;
    struct row {
        int heap;
        size_t size;
        long delta;
    };
    std::vector<row> rows;
    std::map<int, long long> per_heap;
    std::map<int, long> per_heap_blocks;
    auto count_of = [](const bench_heap_census &c, const std::pair<int, size_t> &k) {
        auto f = c.blocks.find(k);
        return f == c.blocks.end() ? 0L : f->second;
    };
    std::map<std::pair<int, size_t>, long> keys = a.blocks;
    keys.insert(b.blocks.begin(), b.blocks.end());
    for (auto &k : keys) {
        long d = count_of(b, k.first) - count_of(a, k.first);
        if (!d)
            continue;
        rows.push_back({ k.first.first, k.first.second, d });
        per_heap[k.first.first] += (long long)d * (long long)k.first.second;
        per_heap_blocks[k.first.first] += d;
    }
    for (auto &h : per_heap)
        printf("heaps: heap %d: %+lld bytes in %+ld busy blocks (%.1f bytes, %.2f blocks per event)\n", h.first,
               h.second, per_heap_blocks[h.first], (double)h.second / events, (double)per_heap_blocks[h.first] / events);
    std::sort(rows.begin(), rows.end(), [](const row &x, const row &y) {
        return llabs((long long)x.delta * (long long)x.size) > llabs((long long)y.delta * (long long)y.size);
    });
    for (size_t i = 0; i < rows.size() && (int)i < lines; i++)
        printf("heaps:   heap %d, %6zu bytes: %+ld blocks (%.2f per event, %+lld bytes)\n", rows[i].heap, rows[i].size,
               rows[i].delta, (double)rows[i].delta / events, (long long)rows[i].delta * (long long)rows[i].size);
}

/* ---- handle census ---- */

/* Open handle values with their object type's name. */
typedef std::map<uintptr_t, std::wstring> bench_handle_census;

inline bench_handle_census bench_handles_take()
{
    typedef LONG(WINAPI * query_fn)(HANDLE, int, void *, ULONG, ULONG *);
    auto query = (query_fn)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryObject");
    bench_handle_census c;
    for (uintptr_t h = 4; h < (1u << 16); h += 4) {
        DWORD flags;
        if (!GetHandleInformation((HANDLE)h, &flags))
            continue;
        // ObjectTypeInformation (2): a counted name first, its characters after.
        alignas(8) unsigned char info[1024] = {};
        std::wstring type = L"?";
        if (query && query((HANDLE)h, 2, info, sizeof info, nullptr) == 0) {
            USHORT bytes = *(USHORT *)info;
            const wchar_t *name = *(const wchar_t **)(info + 8);
            if (name)
                type.assign(name, bytes / sizeof(wchar_t));
        }
        c[h] = type;
    }
    return c;
}

inline void bench_handles_diff(const bench_handle_census &a, const bench_handle_census &b)
{
    std::map<std::wstring, int> gone, come;
    for (auto &h : a)
        if (!b.count(h.first) || b.at(h.first) != h.second)
            gone[h.second]++;
    for (auto &h : b)
        if (!a.count(h.first) || a.at(h.first) != h.second)
            come[h.second]++;
    printf("handles: %zu then %zu\n", a.size(), b.size());
    for (auto &t : come)
        printf("handles:   %ls: %d opened and still open\n", t.first.c_str(), t.second);
    for (auto &t : gone)
        printf("handles:   %ls: %d closed\n", t.first.c_str(), t.second);
}

/* ---- private pages ---- */

struct bench_private_pages {
    size_t committed, resident;
    size_t reservations; /* allocations of the address space (Wine keeps a record of each) */
};

inline bench_private_pages bench_private_take()
{
    bench_private_pages p = {};
    typedef BOOL(WINAPI * ws_fn)(HANDLE, void *, DWORD);
    auto working_set_ex = (ws_fn)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"), "K32QueryWorkingSetEx");
    static PSAPI_WORKING_SET_EX_INFORMATION pages[4096];
    MEMORY_BASIC_INFORMATION mbi;
    for (uint8_t *at = nullptr; VirtualQuery(at, &mbi, sizeof mbi) == sizeof mbi;
         at = (uint8_t *)mbi.BaseAddress + mbi.RegionSize) {
        p.reservations += mbi.State != MEM_FREE && mbi.BaseAddress == mbi.AllocationBase;
        if (mbi.State != MEM_COMMIT || mbi.Type != MEM_PRIVATE)
            continue;
        p.committed += mbi.RegionSize;
        for (size_t off = 0; working_set_ex && off < mbi.RegionSize; off += 4096 * 4096) {
            size_t n = (mbi.RegionSize - off) / 4096;
            n = n > 4096 ? 4096 : n;
            for (size_t i = 0; i < n; i++)
                pages[i].VirtualAddress = (uint8_t *)mbi.BaseAddress + off + i * 4096;
            if (!working_set_ex(GetCurrentProcess(), pages, (DWORD)(n * sizeof pages[0])))
                break;
            for (size_t i = 0; i < n; i++)
                p.resident += pages[i].VirtualAttributes.Valid ? 4096 : 0;
        }
    }
    return p;
}

/* ---- a module's blocks ---- */

/* Blocks and bytes that the counted modules' calls of the C runtime hold
 * now (blocks from before the counting that are freed make them smaller). */
struct bench_module_blocks {
    volatile LONG64 blocks, bytes;
};
inline bench_module_blocks bench_counted;

inline void bench_count_add(void *p, LONG64 blocks)
{
    if (p) {
        InterlockedAdd64(&bench_counted.blocks, blocks);
        InterlockedAdd64(&bench_counted.bytes, blocks * (LONG64)_msize(p));
    }
}
inline void *bench_malloc(size_t n)
{
    void *p = malloc(n);
    bench_count_add(p, 1);
    return p;
}
inline void *bench_calloc(size_t n, size_t size)
{
    void *p = calloc(n, size);
    bench_count_add(p, 1);
    return p;
}
inline void bench_free(void *p)
{
    bench_count_add(p, -1);
    free(p);
}
inline void *bench_realloc(void *p, size_t n)
{
    LONG64 before = p ? (LONG64)_msize(p) : 0;
    void *q = realloc(p, n);
    if (q) {
        InterlockedAdd64(&bench_counted.blocks, p ? 0 : 1);
        InterlockedAdd64(&bench_counted.bytes, (LONG64)_msize(q) - before);
    } else if (p && n == 0) {
        InterlockedAdd64(&bench_counted.blocks, -1);
        InterlockedAdd64(&bench_counted.bytes, -before);
    }
    return q;
}
inline char *bench_strdup(const char *s)
{
    char *p = _strdup(s);
    bench_count_add(p, 1);
    return p;
}

/* Points the module's imports of msvcrt's malloc, calloc, realloc, free and
 * _strdup at the counting ones; how many it pointed. */
inline int bench_count_module(HMODULE module)
{
    struct wrap {
        const char *name;
        void *fn;
    } wraps[] = { { "malloc", (void *)bench_malloc },   { "calloc", (void *)bench_calloc },
                  { "realloc", (void *)bench_realloc }, { "free", (void *)bench_free },
                  { "_strdup", (void *)bench_strdup } };
    int pointed = 0;
    for (const wrap &w : wraps) {
        void **slot = dm_pe_import_slot(module, "msvcrt.dll", w.name);
        if (!slot)
            continue;
        DWORD old;
        VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
        *slot = w.fn;
        VirtualProtect(slot, sizeof *slot, old, &old);
        pointed++;
    }
    return pointed;
}
