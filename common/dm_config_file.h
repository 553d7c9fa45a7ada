/* config.ini as every reader takes it: the file's bytes read whole (never in
 * text mode, where a 0x1A byte ends the read and line ends are rewritten),
 * turned into UTF-8 text, and split into lines. Pure (no windows.h): the
 * plug-in, the core and the native unit tests share it.
 *
 * Index:
 * - config_file_decode: the bytes of a file as UTF-8 text
 * - config_file_read, config_file_free: a file by path
 * - config_text_line, config_file_next: the lines of a text and of a file
 *
 * Encodings: a UTF-8 byte-order mark is skipped (the writer puts it back);
 * UTF-16 with its byte-order mark (little- or big-endian, as a Windows shell
 * writes text) is converted whole to UTF-8; any other bytes are taken as they
 * are, so a line that is not a setting is still copied back byte for byte. */
#pragma once
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "dm_file_stream.h"
#include "dm_utf8.h"

/* More of a file than this is not read (its first bytes are). */
#define CONFIG_FILE_MAX (1u << 20)

enum config_encoding {
    CONFIG_UTF8,     /* no byte-order mark */
    CONFIG_UTF8_BOM, /* EF BB BF, skipped */
    CONFIG_UTF16LE,  /* FF FE, converted */
    CONFIG_UTF16BE,  /* FE FF, converted */
};

/* A file's text: UTF-8 bytes (NUL bytes of the file kept), NUL-terminated
 * at len; text is malloc'd (config_file_free). */
typedef struct config_file {
    char *text;
    size_t len;
    int encoding;   /* config_encoding */
    bool cut;       /* the file is longer than CONFIG_FILE_MAX */
} config_file;

static inline const char *config_encoding_name(int encoding)
{
    return encoding == CONFIG_UTF16LE ? "UTF-16 LE" : encoding == CONFIG_UTF16BE ? "UTF-16 BE" : "UTF-8";
}

/* The n bytes of a file as text into out; false (out empty) without memory. */
static inline bool config_file_decode(const uint8_t *bytes, size_t n, config_file *out)
{
    memset(out, 0, sizeof *out);
    size_t skip = 0;
    if (n >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF)
        out->encoding = CONFIG_UTF8_BOM, skip = 3;
    else if (n >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE)
        out->encoding = CONFIG_UTF16LE, skip = 2;
    else if (n >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF)
        out->encoding = CONFIG_UTF16BE, skip = 2;
    bytes += skip;
    n -= skip;
    bool utf16 = out->encoding == CONFIG_UTF16LE || out->encoding == CONFIG_UTF16BE;
    size_t size = utf16 ? 3 * (n + 1) / 2 + 1 : n + 1;
    out->text = (char *)malloc(size);
    if (!out->text)
        return false;
    if (utf16) {
        long k = dm_utf8_from_utf16_bytes(bytes, n, out->encoding == CONFIG_UTF16BE, out->text, size);
        out->len = k < 0 ? 0 : (size_t)k;
    } else {
        if (n)
            memcpy(out->text, bytes, n);
        out->text[n] = 0;
        out->len = n;
    }
    return true;
}

static inline void config_file_free(config_file *f)
{
    free(f->text);
    f->text = nullptr;
    f->len = 0;
}

/* Reads the file at path (UTF-8) as text. False when it cannot be opened or
 * read (out empty; free it all the same). */
static inline bool config_file_read(const char *path, config_file *out)
{
    memset(out, 0, sizeof *out);
    FILE *f = dm_file_open(path, "rb");
    if (!f)
        return false;
    // Room for the file as its size says (one byte more shows a longer one).
    long size = fseek(f, 0, SEEK_END) == 0 ? ftell(f) : -1;
    size_t room = size >= 0 && (unsigned long)size < CONFIG_FILE_MAX ? (size_t)size + 1 : CONFIG_FILE_MAX + 1;
    uint8_t *bytes = fseek(f, 0, SEEK_SET) == 0 ? (uint8_t *)malloc(room) : nullptr;
    size_t n = bytes ? fread(bytes, 1, room, f) : 0;
    bool ok = bytes && !ferror(f);
    fclose(f);
    bool cut = n > CONFIG_FILE_MAX;
    if (ok)
        ok = config_file_decode(bytes, cut ? CONFIG_FILE_MAX : n, out);
    out->cut = cut;
    free(bytes);
    return ok;
}

/* The line at *pos of the len bytes of text (advanced past it): its bytes
 * from *start, *n of them with the LF that ends it (the last line may have
 * none). False at the end. Lines end only at LF; a NUL byte does not end one. */
static inline bool config_text_line(const char *text, size_t len, size_t *pos, const char **start, size_t *n)
{
    if (*pos >= len)
        return false;
    const char *p = text + *pos;
    const char *lf = (const char *)memchr(p, '\n', len - *pos);
    size_t k = lf ? (size_t)(lf - p) + 1 : len - *pos;
    *start = p;
    *n = k;
    *pos += k;
    return true;
}

/* The next line as a C string into buf: its first size - 1 bytes, the rest
 * of a longer line left off; its text is what comes before a NUL byte in it.
 * False at the end. */
static inline bool config_file_next(const config_file *f, size_t *pos, char *buf, size_t size)
{
    const char *p;
    size_t n;
    if (!config_text_line(f->text, f->len, pos, &p, &n))
        return false;
    size_t k = n < size - 1 ? n : size - 1;
    memcpy(buf, p, k);
    buf[k] = 0;
    return true;
}
