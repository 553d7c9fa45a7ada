/* Named page-file-backed sections of the process: the blocks one core build
 * leaves for the next across a reload. A section is created (or opened when
 * it exists) and mapped whole; neither the handle nor the view is ever
 * closed, so the block lasts as long as the game process.
 * shared_section.cpp. */
#pragma once
#include <stddef.h>

/* The view of the section called `name` (the caller formats the process id
 * into it), `size` bytes, read-write; null when it cannot be created or
 * mapped. A new section reads as zeros. */
void *dm_section_map(const char *name, size_t size);
