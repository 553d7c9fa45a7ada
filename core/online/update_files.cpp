// The updater's files: reading one whole, writing one through "%s.part" and a
// replacing rename, and comparing one with a manifest entry.
#include <stdio.h>
#include "dm_file.h"
#include "online/update.h"

bool update_read_file(const char *path, std::vector<uint8_t> *out)
{
    out->clear();
    HANDLE f =
        dm_file_create(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    bool ok = true;
    uint8_t chunk[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(f, chunk, sizeof chunk, &got, nullptr)) {
            ok = false;
            break;
        }
        if (got == 0)
            break;
        if (out->size() + got > UPDATE_FILE_MAX + (size_t)1) {
            ok = false; // larger than any listed file can be: it matches none
            break;
        }
        out->insert(out->end(), chunk, chunk + got);
    }
    CloseHandle(f);
    return ok;
}

bool update_file_matches(const char *path, const update_file_entry *entry)
{
    std::vector<uint8_t> data;
    return update_read_file(path, &data) && update_sha256_matches(data.data(), data.size(), entry);
}

bool update_write_file(const char *path, const uint8_t *data, size_t size)
{
    char part[268];
    snprintf(part, sizeof part, "%s.part", path);
    HANDLE f = dm_file_create(part, GENERIC_WRITE, 0, CREATE_ALWAYS);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    size_t done = 0;
    while (done < size) {
        DWORD chunk = size - done > (1u << 20) ? (1u << 20) : (DWORD)(size - done), put = 0;
        if (!WriteFile(f, data + done, chunk, &put, nullptr) || put == 0)
            break;
        done += put;
    }
    DWORD error = done == size ? 0 : GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
    if (!CloseHandle(f) && !error)
        error = GetLastError();
    if (!error && !dm_file_move(part, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = GetLastError();
    if (!error)
        return true;
    dm_file_delete(part);
    SetLastError(error);
    return false;
}
