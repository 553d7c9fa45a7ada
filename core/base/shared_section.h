/* Named page-file-backed sections of the process: the blocks one core build
 * leaves for the next across a reload, and the render gate every build
 * shares. A section is created (or opened when it exists) and mapped whole;
 * a core never closes its own handle or view, so the block lasts as long
 * as the game process. The next core to map it closes the previous core's
 * handle once it holds its own, and unmaps a previous core's view only once
 * that core is unloaded: a core still mapped (it pinned itself because a
 * draw of its own had not returned at the reload) may still read its view
 * from that draw. The views are noted in
 * the section's last page, past the block, when the block leaves room.
 * shared_section.cpp. */
#pragma once
#include <stddef.h>

/* The view of the section called `name` (the caller formats the process id
 * into it), `size` bytes, read-write; null when it cannot be created or
 * mapped. A new section reads as zeros. */
void *section_map(const char *name, size_t size);
