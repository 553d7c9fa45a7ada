/* Named sections that outlive a core build (shared_section.h). */
#include <windows.h>
#include "shared_section.h"

void *dm_section_map(const char *name, size_t size)
{
    /* Opens an existing section of that name as well; a view larger than an
     * existing section is refused by MapViewOfFile. */
    HANDLE h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                  0, (DWORD)size, name);
    if (!h)
        return nullptr;
    void *view = MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, size);
    if (!view) {
        CloseHandle(h);
        return nullptr;
    }
    return view;
}
