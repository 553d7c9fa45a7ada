// The player key file, identity.key in the base directory: the seed is read
// from its first line, or, when there is no file, drawn from the system's
// secure random source and written under a temporary name first, so a crash
// never leaves half a key. The key pair is made from the seed, which is then
// wiped; a damaged file is reported and left for the user to delete.
#include <windows.h>
#include <bcrypt.h>
#include <stdio.h>
#include <string.h>
#include "net_key.h"
#include "net_win.h"

net_key_state net_key;

bool net_load_player_key(const char *path)
{
    net_key.loaded = false;
    if (!path)
        return false;
    uint8_t seed[32];
    bool made = false;
    FILE *f = fopen(path, "rb");
    if (f) {
        char line[80];
        bool ok = fgets(line, sizeof line, f) != nullptr && net_key_parse_line(line, seed);
        fclose(f);
        if (!ok) {
            net_log("[net] %s is damaged; not using a player key (delete it to make a new one)", path);
            return false;
        }
    } else {
        for (int i = 0; i < 8; i++) {
            uint8_t v[4];
            if (BCryptGenRandom(nullptr, v, 4, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) {
                net_log("[net] no random source for a player key");
                SecureZeroMemory(seed, sizeof seed);
                return false;
            }
            memcpy(seed + 4 * i, v, 4);
        }
        char tmp[300], text[256];
        int tn = snprintf(tmp, sizeof tmp, "%s.tmp", path);
        int len = net_key_file_text(seed, text, sizeof text);
        FILE *w = (tn > 0 && (size_t)tn < sizeof tmp) ? fopen(tmp, "wb") : nullptr;
        bool ok = w != nullptr;
        if (w) {
            ok = fwrite(text, 1, (size_t)len, w) == (size_t)len;
            ok = fclose(w) == 0 && ok;
        }
        if (!ok || !MoveFileExA(tmp, path, MOVEFILE_REPLACE_EXISTING)) {
            net_log("[net] can't write %s", path);
            DeleteFileA(tmp);
            SecureZeroMemory(text, sizeof text);
            SecureZeroMemory(seed, sizeof seed);
            return false;
        }
        SecureZeroMemory(text, sizeof text);
        made = true;
    }
    crypto_eddsa_key_pair(net_key.secret, net_key.pub, seed);
    SecureZeroMemory(seed, sizeof seed);
    net_key.loaded = true;
    char fp[17];
    net_key_fingerprint(net_key.pub, fp);
    net_log("[net] player key %s (%s)", fp, made ? "new" : path);
    return true;
}
