// The updater's pure logic: the signed manifest and the small texts around it.
//
// Index
//   1. hex digits and the release key
//   2. the signature line and the check (update_verify_manifest)
//   3. the lines of the signed part (update_parse_manifest)
//   4. the SHA-256 test of a file's bytes
//   5. the update folder URL, the console words, the build id
//
// manifest.txt is a signed message followed by a signature line: the signed
// part runs from the first byte up to and including the newline before the
// first "\nsig "; 128 hex digits follow "sig " and anything after them is
// ignored. The signature is EdDSA (edwards25519, BLAKE2b-512), checked with
// the player key's module, so the core carries one implementation only.
#include "online/update_manifest.h"
#include <sodium.h>
#include <stdio.h>
#include <string.h>
#include "net/net_key.h"

static void fail_text(char *err, size_t size, const char *fmt, const char *arg = "")
{
    if (size)
        snprintf(err, size, fmt, arg);
}

/* ---- 1. hex digits and the release key ---- */

/* 32 bytes from 64 hex digits (either case): the player key's reader of
 * identity.key, which reads exactly these and ignores what follows. */
static bool hex32(const char *hex, uint8_t out[32]) { return net_key_parse_line(hex, out); }

bool update_parse_key(const char *hex, uint8_t key[32]) { return hex && strlen(hex) == 64 && hex32(hex, key); }

/* ---- 2. the signature line and the check ---- */

/* Offset of the first "\nsig " in text, or -1 (the text may hold NUL bytes). */
static long find_sig_line(const char *text, size_t len)
{
    for (size_t i = 0; i + 5 <= len; i++)
        if (memcmp(text + i, "\nsig ", 5) == 0)
            return (long)i;
    return -1;
}

bool update_verify_manifest(const char *key_hex, const char *text, size_t len, update_manifest *out, char *err,
                            size_t err_size)
{
    if (len >= 4 && memcmp(text, "sig ", 4) == 0) {
        fail_text(err, err_size, "no signature");
        return false;
    }
    long nl = find_sig_line(text, len);
    if (nl < 0) {
        fail_text(err, err_size, "no signature");
        return false;
    }
    uint8_t key[32], sig[64];
    if (!update_parse_key(key_hex, key)) {
        fail_text(err, err_size, "no release key built in");
        return false;
    }
    // newline, "sig ", 128 digits
    if (len - (size_t)nl < 133 || !hex32(text + nl + 5, sig) || !hex32(text + nl + 5 + 64, sig + 32)) {
        fail_text(err, err_size, "bad signature line");
        return false;
    }
    size_t signed_len = (size_t)nl + 1; // the newline before "sig " is signed too
    if (crypto_eddsa_check(sig, key, (const uint8_t *)text, signed_len) != 0) {
        fail_text(err, err_size, "signature doesn't match the release key");
        return false;
    }
    return update_parse_manifest(text, signed_len, out, err, err_size);
}

/* ---- 3. the lines of the signed part ---- */

namespace {

struct span {
    const char *p;
    size_t n;
};

bool span_is(span s, const char *word) { return s.n == strlen(word) && memcmp(s.p, word, s.n) == 0; }
bool span_starts(span s, const char *word)
{
    size_t n = strlen(word);
    return s.n >= n && memcmp(s.p, word, n) == 0;
}
bool is_space(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

/* The next white-space separated field of *rest; empty at the end. */
span next_field(span *rest)
{
    size_t i = 0;
    while (i < rest->n && is_space(rest->p[i]))
        i++;
    size_t start = i;
    while (i < rest->n && !is_space(rest->p[i]))
        i++;
    span f = { rest->p + start, i - start };
    rest->p += i;
    rest->n -= i;
    return f;
}

void copy_span(char *out, size_t size, span s)
{
    size_t n = s.n < size - 1 ? s.n : size - 1;
    memcpy(out, s.p, n);
    out[n] = 0;
}

/* "api " number: leading blanks, an optional sign, digits up to the first
 * other character; no digits give 0. Clamped to the range of an i32. */
int32_t parse_api(span s)
{
    size_t i = 0;
    while (i < s.n && is_space(s.p[i]))
        i++;
    bool negative = false;
    if (i < s.n && (s.p[i] == '+' || s.p[i] == '-'))
        negative = s.p[i++] == '-';
    int64_t v = 0;
    for (; i < s.n && is_digit(s.p[i]); i++)
        if (v <= INT32_MAX)
            v = v * 10 + (s.p[i] - '0');
    if (v > INT32_MAX)
        v = negative ? (int64_t)INT32_MAX + 1 : INT32_MAX;
    return (int32_t)(negative ? -v : v);
}

bool path_ok(span p)
{
    if (p.n == 0 || p.n > 255 || p.p[0] == '/')
        return false;
    for (size_t i = 0; i < p.n; i++) {
        char c = p.p[i];
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || is_digit(c) || strchr("._-/+", c);
        if (!ok || c == 0)
            return false;
        if (c == '.' && i + 1 < p.n && p.p[i + 1] == '.')
            return false;
    }
    return true;
}

/* "file " name hash size path; false when any field breaks its rule. */
bool parse_file_line(span rest, update_file_entry *e)
{
    span name = next_field(&rest), hash = next_field(&rest), size = next_field(&rest), path = next_field(&rest);
    if (next_field(&rest).n != 0)
        return false; // a fifth field: not a line this format writes
    if (!(span_is(name, "drovemark.dll") || span_is(name, "drovemark_core.dll")))
        return false;
    if (hash.n != 64 || !hex32(hash.p, e->sha256))
        return false;
    if (size.n == 0)
        return false;
    uint64_t bytes = 0;
    for (size_t i = 0; i < size.n; i++) {
        if (!is_digit(size.p[i]))
            return false;
        if (bytes <= UPDATE_FILE_MAX) // saturates: any longer number is too big
            bytes = bytes * 10 + (uint64_t)(size.p[i] - '0');
    }
    if (bytes < 1 || bytes > UPDATE_FILE_MAX)
        return false;
    if (!path_ok(path))
        return false;
    copy_span(e->name, sizeof e->name, name);
    e->size = bytes;
    copy_span(e->path, sizeof e->path, path);
    return true;
}

} // namespace

bool update_parse_manifest(const char *text, size_t len, update_manifest *out, char *err, size_t err_size)
{
    out->build[0] = 0;
    out->api = -1;
    out->files.clear();
    bool header = false;
    size_t pos = 0;
    while (pos < len) {
        const char *nl = (const char *)memchr(text + pos, '\n', len - pos);
        size_t end = nl ? (size_t)(nl - text) : len;
        span line = { text + pos, end - pos };
        pos = end + 1;
        if (line.n && line.p[line.n - 1] == '\r')
            line.n--;
        if (line.n == 0 || line.p[0] == '#')
            continue;
        if (!header) {
            if (!span_is(line, "drovemark-manifest 1")) {
                fail_text(err, err_size, "unknown manifest format");
                return false;
            }
            header = true;
        } else if (span_starts(line, "build ")) {
            copy_span(out->build, sizeof out->build, { line.p + 6, line.n - 6 });
        } else if (span_starts(line, "api ")) {
            out->api = parse_api({ line.p + 4, line.n - 4 });
        } else if (span_starts(line, "file ")) {
            update_file_entry e = {};
            if (!parse_file_line({ line.p + 5, line.n - 5 }, &e)) {
                char shown[61];
                copy_span(shown, sizeof shown, line);
                fail_text(err, err_size, "bad file line '%.60s'", shown);
                return false;
            }
            out->files.push_back(e);
        }
    }
    if (!header || out->build[0] == 0 || out->api < 0 || out->files.empty()) {
        fail_text(err, err_size, "manifest is missing build/api/file");
        return false;
    }
    return true;
}

/* ---- 4. the SHA-256 test of a file's bytes ---- */

bool update_sha256_matches(const uint8_t *data, size_t size, const update_file_entry *entry)
{
    if (size != entry->size)
        return false;
    uint8_t digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, data, size);
    return memcmp(digest, entry->sha256, sizeof digest) == 0;
}

/* ---- 5. the update folder URL, the console words, the build id ---- */

void update_folder_url(const char *url, char *out, size_t size)
{
    if (!size)
        return;
    size_t cap = size - 1 < UPDATE_URL_MAX ? size - 1 : UPDATE_URL_MAX;
    size_t n = url ? strlen(url) : 0;
    bool slash = n && url[n - 1] == '/';
    // A URL that does not fit is cut one short of the room, so the "/"
    // appended after it still fits: the folder always ends in one.
    if (n > (slash ? cap : cap - (cap > 0))) {
        n = cap > 0 ? cap - 1 : 0;
        slash = false;
    }
    memcpy(out, url, n);
    if (n && !slash)
        out[n++] = '/';
    out[n] = 0;
}

update_command_kind update_parse_command(const char *rest)
{
    while (*rest == ' ' || *rest == '\t')
        rest++;
    if (!*rest)
        return UPDATE_CMD_STATUS;
    if (strcmp(rest, "check") == 0)
        return UPDATE_CMD_CHECK;
    if (strcmp(rest, "install") == 0)
        return UPDATE_CMD_INSTALL;
    return UPDATE_CMD_USAGE;
}

bool update_build_is_dirty(const char *build_id) { return strstr(build_id, "-dirty") != nullptr; }
