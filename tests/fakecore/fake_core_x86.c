/* The core's exports built for 32-bit Windows: a DLL with every name the
 * plug-in binds that a 64-bit game can never load (a wrong file dropped
 * over the core's). Never called. */
#include <stdint.h>

__declspec(dllexport) int32_t dm_core_init(const void *api) { return api != 0; }
__declspec(dllexport) void dm_core_frame(const void *info) { (void)info; }
__declspec(dllexport) void dm_core_shutdown(void) {}
__declspec(dllexport) void dm_core_unhook(void) {}
__declspec(dllexport) void dm_core_ui(const void *args) { (void)args; }
