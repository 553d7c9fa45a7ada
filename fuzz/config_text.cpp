// config.ini as any text: read line by line as the core reads it, every
// setting applied (and the UI's values parsed); then single keys written the
// way a single-key write rewrites the file, and read back as a single-key
// read takes them: the value read must be the value written.
//
// The file loops of config.cpp (a windows.h file) are stood in for here by
// the same steps over the text opened as a file, with the same line readers
// (dm_config_line.h): lines of at most CONFIG_LINE_MAX - 1 bytes, the rest of
// a longer line skipped; the write copying the file piece by piece, NUL bytes
// too, and matching a key only at the start of a line.
//
// Index:
// - text_file: the text as a file to read
// - read_lines: the lines as config_load and dm_config_get read them
// - config_get, config_set: the single-key read and write over a text
// - LLVMFuzzerTestOneInput: load, then write and read back
#include <string>
#include <vector>
#include "config_text.h"
#include "fuzz_check.h"
#include "ui_pure.h"

namespace {

struct text_file {
    FILE *f;
    explicit text_file(const std::string &text)
        : f(text.empty() ? fopen("/dev/null", "rb") : fmemopen((void *)text.data(), text.size(), "rb"))
    {
        FUZZ_CHECK(f);
    }
    ~text_file() { fclose(f); }
};

std::vector<std::string> read_lines(const std::string &text)
{
    std::vector<std::string> lines;
    text_file in(text);
    char line[CONFIG_LINE_MAX];
    while (config_read_line(in.f, line, sizeof line))
        lines.push_back(line);
    return lines;
}

/* The last line that sets the key, as dm_config_get takes it. */
bool config_get(const std::string &text, const char *key, std::string *out)
{
    bool found = false;
    for (std::string &line : read_lines(text)) {
        char *k, *v;
        if (config_split_line(&line[0], &k, &v) && config_key_equal(k, key)) {
            *out = v;
            found = true;
        }
    }
    return found;
}

/* dm_config_set's copy: the first line that sets the key replaced, later ones dropped. */
std::string config_set(const std::string &text, const char *key, const char *value)
{
    std::string out;
    bool written = false, line_start = true, skipping = false;
    text_file in(text);
    char chunk[CONFIG_LINE_MAX];
    size_t n;
    while ((n = config_read_piece(in.f, chunk, sizeof chunk)) > 0) {
        bool ends = n > 0 && chunk[n - 1] == '\n';
        if (line_start) {
            skipping = false;
            if (config_line_sets_key(chunk, key)) {
                if (!written)
                    out += std::string(key) + " = " + value + "\n";
                written = true;
                skipping = true;
            }
        }
        if (!skipping)
            out.append(chunk, n);
        line_start = ends;
    }
    if (!line_start && !skipping)
        out += "\n";
    if (!written)
        out += std::string(key) + " = " + value + "\n";
    return out;
}

struct setting {
    std::string key, value;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *d, size_t len)
{
    std::string text((const char *)d, len);

    client_config cfg;
    config_defaults(&cfg, "fuzz");
    std::vector<setting> settings;
    for (std::string &line : read_lines(text)) {
        char *key, *value;
        if (!config_split_line(&line[0], &key, &value))
            continue;
        config_apply(&cfg, key, value);
        float size;
        if (dm_ui_parse_scale_percent(value, &size))
            FUZZ_CHECK(size >= 0.6f && size <= 2.0f);
        dm_ui_parse_flag(value);
        FUZZ_CHECK(!strpbrk(value, "\r\n"));
        if (config_set_allowed(key, value))
            settings.push_back({key, value});
    }
    FUZZ_CHECK(strlen(cfg.server) <= CONFIG_SERVER_MAX && strlen(cfg.update_url) <= CONFIG_URL_MAX);
    FUZZ_CHECK(cfg.name[0] && strlen(cfg.name) <= CONFIG_NAME_MAX && cfg.port >= 1);

    // Each key written with the value of the next setting, then read back. A
    // written line longer than a line the reader takes whole is cut on reading.
    for (size_t i = 0; i < settings.size() && i < 4; i++) {
        const setting &s = settings[i], &next = settings[(i + 1) % settings.size()];
        if (s.key.size() + 3 + next.value.size() + 1 > CONFIG_LINE_MAX - 1)
            continue;
        std::string written = config_set(text, s.key.c_str(), next.value.c_str()), back;
        FUZZ_CHECK(config_get(written, s.key.c_str(), &back));
        FUZZ_CHECK(back == next.value);
    }
    return 0;
}
