/* Whether a file can be the core: a whole 64-bit Windows DLL that exports
 * dm_core_init, dm_core_frame and dm_core_shutdown. Read from the file's
 * headers alone, before anything is loaded, so that a bad file never stops
 * the running core. Pure logic: no windows.h, the file through a reader. */
#pragma once
#include <stddef.h>
#include <stdint.h>

/* Reads n bytes at offset into out; false when the file holds fewer. */
typedef bool (*host_core_read_fn)(void *ctx, uint64_t offset, void *out, size_t n);

/* True when the file of that size is a usable core; otherwise false with
 * why it is not ("not a DLL", "not a 64-bit DLL", "cut short", "no
 * dm_core_frame export", ...) in why. */
bool host_core_file_check(uint64_t size, host_core_read_fn read, void *ctx, char *why, size_t why_size);
