/* Finds the import-table slot through which a loaded module calls one
 * function (by name) of one library. Header-only: the plug-in patches the
 * game's cursor imports with it, the simulated game its own test doubles. */
#pragma once
#include <windows.h>
#include <string.h>

/* Null when the module does not import the function by name. */
static inline void **dm_pe_import_slot(HMODULE module, const char *dll, const char *function)
{
    BYTE *base = (BYTE *)module;
    IMAGE_DOS_HEADER *dos = (IMAGE_DOS_HEADER *)base;
    IMAGE_NT_HEADERS64 *nt = (IMAGE_NT_HEADERS64 *)(base + dos->e_lfanew);
    IMAGE_DATA_DIRECTORY *dir = &nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir->VirtualAddress)
        return NULL;
    for (IMAGE_IMPORT_DESCRIPTOR *d = (IMAGE_IMPORT_DESCRIPTOR *)(base + dir->VirtualAddress); d->Name; d++) {
        /* Without the name table, a bound table no longer tells which slot is which. */
        if (_stricmp((const char *)(base + d->Name), dll) != 0 || !d->OriginalFirstThunk)
            continue;
        IMAGE_THUNK_DATA64 *names = (IMAGE_THUNK_DATA64 *)(base + d->OriginalFirstThunk);
        IMAGE_THUNK_DATA64 *slots = (IMAGE_THUNK_DATA64 *)(base + d->FirstThunk);
        for (; names->u1.AddressOfData; names++, slots++) {
            if (IMAGE_SNAP_BY_ORDINAL64(names->u1.Ordinal))
                continue;
            IMAGE_IMPORT_BY_NAME *ibn = (IMAGE_IMPORT_BY_NAME *)(base + names->u1.AddressOfData);
            if (strcmp((const char *)ibn->Name, function) == 0)
                return (void **)&slots->u1.Function;
        }
    }
    return NULL;
}
