// The core file's check, step by step over the Windows image format (PE32+):
//   1. the MS-DOS stub: "MZ" and the offset of the PE headers;
//   2. the PE signature and the file header: an x64 machine, a DLL;
//   3. the optional header: the PE32+ magic, the size of the headers and
//      the export directory;
//   4. the section table: every section's raw data lies inside the file,
//      so a file cut short (a copy that stopped half-way) is refused;
//   5. the export names: dm_core_init, dm_core_frame and dm_core_shutdown.
// Every field is read at its offset in the format's tables (little-endian).
#include "host_core_file.h"
#include <stdio.h>
#include <string.h>
#include "dm_api.h"

namespace {

const uint16_t dos_magic = 0x5A4D;            /* "MZ" */
const uint32_t dos_pe_offset = 0x3C;          /* u32: where the PE signature is */
const uint32_t pe_signature = 0x00004550;     /* "PE\0\0" */
const uint16_t machine_x64 = 0x8664;
const uint16_t file_is_dll = 0x2000;          /* file header characteristics */
const uint16_t optional_magic_pe32plus = 0x20B;
const uint32_t max_sections = 96;             /* the loader's own limit */
const uint32_t max_export_names = 1u << 16;

/* File header fields, from the PE signature. */
const uint32_t fh_machine = 4, fh_sections = 6, fh_optional_size = 20, fh_characteristics = 22;
const uint32_t optional_at = 24; /* the optional header, from the PE signature */
/* Optional header (PE32+) fields. */
const uint32_t oh_magic = 0, oh_headers_size = 60, oh_directory_count = 108, oh_export_rva = 112;
/* Section header: 40 bytes. */
const uint32_t section_size = 40, sh_rva = 12, sh_raw_size = 16, sh_raw_at = 20;
/* Export directory fields. */
const uint32_t ed_name_count = 24, ed_names_rva = 32;

const char *const required[] = { DM_EXPORT_CORE_INIT, DM_EXPORT_CORE_FRAME, DM_EXPORT_CORE_SHUTDOWN };
const int required_count = (int)(sizeof required / sizeof required[0]);

struct image {
    uint64_t size;
    host_core_read_fn read;
    void *ctx;
    uint64_t sections_at;
    uint32_t section_count;
};

bool u16_at(const image &im, uint64_t at, uint16_t *out)
{
    uint8_t b[2];
    if (!im.read(im.ctx, at, b, 2))
        return false;
    *out = (uint16_t)(b[0] | b[1] << 8);
    return true;
}

bool u32_at(const image &im, uint64_t at, uint32_t *out)
{
    uint8_t b[4];
    if (!im.read(im.ctx, at, b, 4))
        return false;
    *out = (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
    return true;
}

/* The file offset of an address inside the image, from the section that
 * holds it in its raw data; false for none. */
bool file_offset(const image &im, uint32_t rva, uint64_t *out)
{
    for (uint32_t i = 0; i < im.section_count; i++) {
        uint64_t at = im.sections_at + (uint64_t)i * section_size;
        uint32_t va, raw_size, raw_at;
        if (!u32_at(im, at + sh_rva, &va) || !u32_at(im, at + sh_raw_size, &raw_size) ||
            !u32_at(im, at + sh_raw_at, &raw_at))
            return false;
        if (rva >= va && rva - va < raw_size) {
            *out = (uint64_t)raw_at + (rva - va);
            return true;
        }
    }
    return false;
}

/* The export name at that address is the given name (with its NUL). */
bool name_is(const image &im, uint32_t rva, const char *name)
{
    uint64_t at;
    char text[32];
    size_t n = strlen(name) + 1;
    return n <= sizeof text && file_offset(im, rva, &at) && im.read(im.ctx, at, text, n) && memcmp(text, name, n) == 0;
}

bool refuse(char *why, size_t why_size, const char *text)
{
    snprintf(why, why_size, "%s", text);
    return false;
}

} // namespace

bool host_core_file_check(uint64_t size, host_core_read_fn read, void *ctx, char *why, size_t why_size)
{
    image im = { size, read, ctx, 0, 0 };
    // 1. The MS-DOS stub.
    uint16_t magic;
    uint32_t pe_at;
    if (!u16_at(im, 0, &magic))
        return refuse(why, why_size, "cut short");
    if (magic != dos_magic)
        return refuse(why, why_size, "not a DLL");
    if (!u32_at(im, dos_pe_offset, &pe_at))
        return refuse(why, why_size, "cut short");

    // 2. The PE signature and the file header.
    uint32_t signature;
    uint16_t machine, sections, optional_size, characteristics;
    if (!u32_at(im, pe_at, &signature))
        return refuse(why, why_size, "cut short");
    if (signature != pe_signature)
        return refuse(why, why_size, "not a DLL");
    if (!u16_at(im, pe_at + fh_machine, &machine) || !u16_at(im, pe_at + fh_sections, &sections) ||
        !u16_at(im, pe_at + fh_optional_size, &optional_size) ||
        !u16_at(im, pe_at + fh_characteristics, &characteristics))
        return refuse(why, why_size, "cut short");
    if (machine != machine_x64)
        return refuse(why, why_size, "not a 64-bit DLL");
    if (!(characteristics & file_is_dll))
        return refuse(why, why_size, "not a DLL");

    // 3. The optional header.
    uint64_t optional = (uint64_t)pe_at + optional_at;
    uint16_t optional_magic;
    uint32_t headers_size, directories, export_rva = 0;
    if (!u16_at(im, optional + oh_magic, &optional_magic))
        return refuse(why, why_size, "cut short");
    if (optional_magic != optional_magic_pe32plus)
        return refuse(why, why_size, "not a 64-bit DLL");
    if (optional_size < oh_export_rva + 8 || !u32_at(im, optional + oh_headers_size, &headers_size) ||
        !u32_at(im, optional + oh_directory_count, &directories))
        return refuse(why, why_size, "not a DLL");
    if (directories >= 1 && !u32_at(im, optional + oh_export_rva, &export_rva))
        return refuse(why, why_size, "cut short");
    if (headers_size > size)
        return refuse(why, why_size, "cut short");

    // 4. The section table: each section's raw data inside the file.
    if (sections > max_sections)
        return refuse(why, why_size, "not a DLL");
    im.sections_at = optional + optional_size;
    im.section_count = sections;
    for (uint32_t i = 0; i < sections; i++) {
        uint64_t at = im.sections_at + (uint64_t)i * section_size;
        uint32_t raw_size, raw_at;
        if (!u32_at(im, at + sh_raw_size, &raw_size) || !u32_at(im, at + sh_raw_at, &raw_at))
            return refuse(why, why_size, "cut short");
        if (raw_size && (uint64_t)raw_at + raw_size > size)
            return refuse(why, why_size, "cut short");
    }

    // 5. The export names.
    bool found[required_count] = {};
    uint64_t directory;
    uint32_t name_count = 0, names_rva = 0;
    if (export_rva && file_offset(im, export_rva, &directory) && u32_at(im, directory + ed_name_count, &name_count) &&
        u32_at(im, directory + ed_names_rva, &names_rva) && name_count <= max_export_names) {
        uint64_t names = 0;
        if (name_count && !file_offset(im, names_rva, &names))
            name_count = 0;
        for (uint32_t i = 0; i < name_count; i++) {
            uint32_t name_rva;
            if (!u32_at(im, names + 4ull * i, &name_rva))
                break;
            for (int k = 0; k < required_count; k++)
                if (!found[k] && name_is(im, name_rva, required[k]))
                    found[k] = true;
        }
    }
    for (int k = 0; k < required_count; k++)
        if (!found[k]) {
            snprintf(why, why_size, "no %s export", required[k]);
            return false;
        }
    return true;
}
