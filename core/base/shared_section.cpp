// Named sections that outlive a core build (shared_section.h).
//
// Index
//   the views     who mapped the section, and which views may go
//   mapping       section_map
#include <windows.h>
#include <stdint.h>
#include "base/shared_section.h"

/* ---- the views ----
 * A core's view of a section is read by that core as long as it is mapped:
 * a core whose draw is still running inside the game's routine at a reload
 * pins itself and stays mapped, and that draw still reads its view. So the
 * view of each core that mapped the section is noted in the section's last
 * page, past the block, with the core's module; a later core unmaps a noted
 * view only once that module is gone (unloaded, or replaced by itself at
 * the same address). Handles are never read through, so a later core closes the
 * previous one's handle as soon as it holds its own: a reload leaves one
 * handle a section, and one view a section for every core still mapped.
 *
 * The record sits just below the last 24 bytes of the page, where builds
 * before this one kept a single holder (magic, handle, view); such a holder
 * has its handle closed and its view kept. A block that leaves too little
 * room in its last page has no record: nothing is closed or unmapped. */

namespace {

const size_t page = 4096;
const uint64_t legacy_magic = 0x5245444C4F484D44ULL; /* "DMHOLDER" */
const uint64_t views_magic = 0x53574549564D4D44ULL;  /* "DMMVIEWS" */
const int views_max = 16;

struct legacy_holder {
    uint64_t magic, handle, view;
};
struct section_views {
    uint64_t magic;
    uint64_t handle;   /* the handle of the core that mapped it last */
    uint32_t count, reserved;
    struct {
        uint64_t view, module;
    } held[views_max];
};
static_assert(sizeof(legacy_holder) == 24 && sizeof(section_views) == 280, "the last page's records");

uint64_t own_module()
{
    HMODULE m = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       (LPCWSTR)(void *)&own_module, &m);
    return (uint64_t)(uintptr_t)m;
}

/* A module still mapped at that address other than this one: a view it
 * noted may still be read. */
bool mapped_elsewhere(uint64_t module)
{
    if (!module || module == own_module())
        return false;
    HMODULE m = nullptr;
    return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              (LPCWSTR)(uintptr_t)module, &m) &&
           (uint64_t)(uintptr_t)m == module;
}

/* Unmaps the views of cores that are gone, closes the last holder's handle
 * and notes ours. */
void note_view(section_views *v, legacy_holder *legacy, HANDLE h, void *view)
{
    uint64_t ours = (uint64_t)(uintptr_t)view;
    if (legacy->magic == legacy_magic) {
        if (legacy->handle != (uint64_t)(uintptr_t)h)
            CloseHandle((HANDLE)(uintptr_t)legacy->handle);
        legacy->magic = 0;
    }
    if (v->magic != views_magic || v->count > views_max) {
        v->magic = views_magic;
        v->handle = 0;
        v->count = 0;
    }
    if (v->handle && v->handle != (uint64_t)(uintptr_t)h)
        CloseHandle((HANDLE)(uintptr_t)v->handle);
    v->handle = (uint64_t)(uintptr_t)h;
    uint32_t kept = 0;
    for (uint32_t i = 0; i < v->count; i++) {
        if (v->held[i].view == ours)
            continue;
        if (!mapped_elsewhere(v->held[i].module)) {
            UnmapViewOfFile((void *)(uintptr_t)v->held[i].view);
            continue;
        }
        v->held[kept++] = v->held[i];
    }
    // A full list drops its oldest view from the record, still mapped.
    if (kept == (uint32_t)views_max) {
        for (int i = 1; i < views_max; i++)
            v->held[i - 1] = v->held[i];
        kept--;
    }
    v->held[kept].view = ours;
    v->held[kept].module = own_module();
    v->count = kept + 1;
}

} // namespace

/* ---- mapping ---- */

void *section_map(const char *name, size_t size)
{
    // Opens an existing section of that name as well; a view larger than an
    // existing section is refused by MapViewOfFile.
    HANDLE h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                  0, (DWORD)size, name);
    if (!h)
        return nullptr;
    void *view = MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, size);
    if (!view) {
        CloseHandle(h);
        return nullptr;
    }
    size_t end = (size + page - 1) / page * page; // the view ends with the section's last page
    if (size + sizeof(section_views) + sizeof(legacy_holder) <= end) {
        uint8_t *last = (uint8_t *)view + end;
        legacy_holder *legacy = (legacy_holder *)(last - sizeof(legacy_holder));
        section_views *v = (section_views *)(last - sizeof(legacy_holder) - sizeof(section_views));
        note_view(v, legacy, h, view);
    }
    return view;
}
