// The player key file, identity.key in the base directory: the seed is read
// from its first line, or, only when there is no such file, drawn from the
// system's secure random source and written under a temporary name first, so
// a crash never leaves half a key. A key file that is there but damaged or
// unreadable is somebody's identity: it is reported and never replaced, and
// the core goes on without a key. Every copy of the seed is wiped after use.
#include <windows.h>
#include <bcrypt.h>
#include <stdio.h>
#include <string.h>
#include "dm_file.h"
#include "net/net_key.h"
#include "net/net_win.h"

net_key_state net_key;

namespace {

enum key_file { KEY_FILE_READ, KEY_FILE_MISSING, KEY_FILE_UNREADABLE, KEY_FILE_DAMAGED };

/* The seed from the file's first line (at most 79 characters). */
key_file read_seed(const char *path, uint8_t seed[32], DWORD *error)
{
    HANDLE file = dm_file_create(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return *error == ERROR_FILE_NOT_FOUND || *error == ERROR_PATH_NOT_FOUND ? KEY_FILE_MISSING
                                                                                 : KEY_FILE_UNREADABLE;
    }
    char line[80];
    DWORD got = 0;
    BOOL ok = ReadFile(file, line, sizeof line - 1, &got, nullptr);
    *error = ok ? 0 : GetLastError();
    CloseHandle(file);
    line[ok ? got : 0] = 0;
    line[strcspn(line, "\n")] = 0;
    key_file result = !ok ? KEY_FILE_UNREADABLE : got > 0 && net_key_parse_line(line, seed) ? KEY_FILE_READ
                                                                                           : KEY_FILE_DAMAGED;
    SecureZeroMemory(line, sizeof line);
    return result;
}

bool random_seed(uint8_t seed[32])
{
    for (int i = 0; i < 8; i++) {
        uint8_t value[4];
        if (BCryptGenRandom(nullptr, value, 4, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0)
            return false;
        memcpy(seed + 4 * i, value, 4);
        SecureZeroMemory(value, sizeof value);
    }
    return true;
}

/* Writes "<path>.tmp" and moves it to the path, never over a file there. */
bool write_new_key_file(const char *path, const uint8_t seed[32])
{
    char tmp[300], text[256];
    int tmp_len = snprintf(tmp, sizeof tmp, "%s.tmp", path);
    if (tmp_len <= 0 || (size_t)tmp_len >= sizeof tmp)
        return false;
    int len = net_key_file_text(seed, text, sizeof text);
    HANDLE file = dm_file_create(tmp, GENERIC_WRITE, 0, CREATE_ALWAYS);
    bool ok = file != INVALID_HANDLE_VALUE;
    if (ok) {
        DWORD put = 0;
        ok = WriteFile(file, text, (DWORD)len, &put, nullptr) && put == (DWORD)len && FlushFileBuffers(file);
        ok = CloseHandle(file) && ok;
    }
    SecureZeroMemory(text, sizeof text);
    if (ok && dm_file_move(tmp, path, MOVEFILE_WRITE_THROUGH))
        return true;
    dm_file_delete(tmp);
    return false;
}

} // namespace

bool net_load_player_key(const char *path)
{
    net_key.loaded = false;
    if (!path)
        return false;
    uint8_t seed[32];
    DWORD error = 0;
    bool made = false;
    switch (read_seed(path, seed, &error)) {
    case KEY_FILE_READ:
        break;
    case KEY_FILE_DAMAGED:
        net_log("[net] %s is damaged; not using a player key (delete it to make a new one)", path);
        SecureZeroMemory(seed, sizeof seed);
        return false;
    case KEY_FILE_UNREADABLE:
        net_log("[net] can't read %s (%lu); not using a player key", path, (unsigned long)error);
        return false;
    case KEY_FILE_MISSING:
        if (!random_seed(seed)) {
            net_log("[net] no random source for a player key");
            SecureZeroMemory(seed, sizeof seed);
            return false;
        }
        if (!write_new_key_file(path, seed)) {
            net_log("[net] can't write %s", path);
            SecureZeroMemory(seed, sizeof seed);
            return false;
        }
        made = true;
        break;
    }
    crypto_eddsa_key_pair(net_key.secret, net_key.pub, seed);
    SecureZeroMemory(seed, sizeof seed);
    net_key.loaded = true;
    char fingerprint[17];
    net_key_fingerprint(net_key.pub, fingerprint);
    net_log("[net] player key %s (%s)", fingerprint, made ? "new" : path);
    return true;
}
