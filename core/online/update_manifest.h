/* The updater's pure logic: the signed manifest (signature line, EdDSA check
 * against the release key, the lines of the signed part and their limits),
 * the SHA-256 test of a file's bytes, the update folder URL and the console
 * command's words. No windows.h, so it
 * is unit-tested natively too. */
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <vector>

#define UPDATE_MANIFEST_MAX 65536u        /* bytes of manifest.txt */
#define UPDATE_FILE_MAX 67108864u         /* 64 MiB, the largest listed file */
#define UPDATE_ERROR_MAX 200              /* every error text buffer */
#define UPDATE_URL_MAX 511                /* characters of update_url */

/* One "file" line. */
struct update_file_entry {
    char name[32];      /* "drovemark.dll" or "drovemark_core.dll" */
    uint8_t sha256[32];
    uint64_t size;      /* 1 .. UPDATE_FILE_MAX */
    char path[256];     /* relative to the update folder URL */
};

/* The signed part, parsed. */
struct update_manifest {
    char build[96];
    int32_t api; /* -1 until an "api " line is read */
    std::vector<update_file_entry> files; /* in manifest order */
};

/* 64 hexadecimal digits (either case) read as 32 bytes; false when the text
 * is anything else (shorter, longer, another character). */
bool update_parse_key(const char *hex, uint8_t key[32]);

/* Checks the signature of manifest.txt (text, len bytes) under the release
 * key (key_hex, the text built into the core) and parses the signed part
 * into out. False with the reason in err (UPDATE_ERROR_MAX bytes). */
bool update_verify_manifest(const char *key_hex, const char *text, size_t len, update_manifest *out, char *err,
                            size_t err_size);

/* The lines of a signed part (already checked) into out; false with the
 * reason in err. */
bool update_parse_manifest(const char *text, size_t len, update_manifest *out, char *err, size_t err_size);

/* True when the bytes are exactly the entry's size and their SHA-256 is the
 * entry's hash. */
bool update_sha256_matches(const uint8_t *data, size_t size, const update_file_entry *entry);

/* The update folder from config.ini's update_url: "/" appended unless empty or
 * already there, cut to UPDATE_URL_MAX characters. */
void update_folder_url(const char *url, char *out, size_t size);

/* The console command's rest of line (after "update"). */
enum update_command_kind { UPDATE_CMD_STATUS, UPDATE_CMD_CHECK, UPDATE_CMD_INSTALL, UPDATE_CMD_USAGE };
update_command_kind update_parse_command(const char *rest);

/* A build id from the version control of a working tree with changes. */
bool update_build_is_dirty(const char *build_id);
