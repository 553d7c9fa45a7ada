/* Named sections that outlive a core build (shared_section.h). */
#include <windows.h>
#include <stdint.h>
#include "shared_section.h"

namespace {

/* The holder of a section in this process: the handle and view of the core
 * that mapped it last, kept in the last bytes of the section's page (past
 * the block, which never reaches them; a block that fills its last page to
 * within 24 bytes has no holder). The next core closes them once it holds
 * its own, so a reload leaves one handle and one view a section. */
struct section_holder {
    uint64_t magic;
    uint64_t handle;
    uint64_t view;
};
const uint64_t holder_magic = 0x5245444C4F484D44ULL; /* "DMHOLDER" */
const size_t page = 4096;

} // namespace

void *dm_section_map(const char *name, size_t size)
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
    if (size + sizeof(section_holder) <= end) {
        section_holder *holder = (section_holder *)((uint8_t *)view + end - sizeof(section_holder));
        if (holder->magic == holder_magic && holder->view != (uint64_t)(uintptr_t)view &&
            holder->handle != (uint64_t)(uintptr_t)h) {
            UnmapViewOfFile((void *)(uintptr_t)holder->view);
            CloseHandle((HANDLE)(uintptr_t)holder->handle);
        }
        holder->magic = holder_magic;
        holder->handle = (uint64_t)(uintptr_t)h;
        holder->view = (uint64_t)(uintptr_t)view;
    }
    return view;
}
