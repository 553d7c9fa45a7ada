// Exports of ui_test_core.dll (the real core otherwise) for the server list:
// its snapshot, refresh and favourite edits as the Servers window calls them.
// Two environment switches, read when the library is loaded, make the core's
// own imports fail so that the worker meets the failure for real:
// DM_SRVTEST_NO_UDP (socket() gives no socket) and
// DM_SRVTEST_ALLOC_FAIL_FROM=<bytes> (malloc and realloc of that many bytes
// or more give null).
#include <winsock2.h>
#include <windows.h>
#include <stdlib.h>
#include "dm_pe_imports.h"
#include "online/servers.h"

namespace {

size_t alloc_fail_from;
void *(*real_malloc)(size_t);
void *(*real_realloc)(void *, size_t);

SOCKET WSAAPI no_socket(int, int, int)
{
    WSASetLastError(WSAEMFILE);
    return INVALID_SOCKET;
}

// This library's own calls go through the patched slots too: the originals
// are called through the pointers saved from them.
void *limited_malloc(size_t n) { return n >= alloc_fail_from ? nullptr : real_malloc(n); }
void *limited_realloc(void *p, size_t n) { return n >= alloc_fail_from ? nullptr : real_realloc(p, n); }

void *patch(HMODULE self, const char *dll, const char *function, void *replacement)
{
    void **slot = dm_pe_import_slot(self, dll, function);
    DWORD old;
    void *was = nullptr;
    if (slot && VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old)) {
        was = *slot;
        *slot = replacement;
        VirtualProtect(slot, sizeof *slot, old, &old);
    }
    return was;
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, void *)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    char v[32];
    if (GetEnvironmentVariableA("DM_SRVTEST_NO_UDP", v, sizeof v))
        patch(self, "WS2_32.dll", "socket", (void *)&no_socket);
    if (GetEnvironmentVariableA("DM_SRVTEST_ALLOC_FAIL_FROM", v, sizeof v)) {
        alloc_fail_from = (size_t)strtoull(v, nullptr, 10);
        real_malloc = (void *(*)(size_t))patch(self, "msvcrt.dll", "malloc", (void *)&limited_malloc);
        real_realloc = (void *(*)(void *, size_t))patch(self, "msvcrt.dll", "realloc", (void *)&limited_realloc);
    }
    return TRUE;
}

#define EXPORT extern "C" __declspec(dllexport)

EXPORT uint32_t srvtest_snapshot(server_list_snapshot *out) { return servers_snapshot(out); }
EXPORT void srvtest_refresh(int refetch) { servers_request_refresh(refetch != 0); }
EXPORT int srvtest_edit(int op, const char *host, uint16_t port)
{
    return (op == FAVORITE_ADD ? servers_add_favorite(host, port) : servers_remove_favorite(host, port)) ? 1 : 0;
}
