/* Named page-file-backed sections of the process: the blocks one core build
 * leaves for the next across a reload. A section is created (or opened when
 * it exists) and mapped whole; a core never closes its handle or view, so
 * the block lasts as long as the game process. The next core to map it
 * closes the previous core's handle and view once it holds its own (they
 * are noted in the last 24 bytes of the section's last page, past the
 * block, when the block leaves them free), so reloads leave one handle and
 * one view a section.
 * shared_section.cpp. */
#pragma once
#include <stddef.h>

/* The view of the section called `name` (the caller formats the process id
 * into it), `size` bytes, read-write; null when it cannot be created or
 * mapped. A new section reads as zeros. */
void *dm_section_map(const char *name, size_t size);
