// config.ini as any bytes: turned into text and read line by line as the
// core reads it, every setting applied (and the UI's values parsed); then
// single keys written as a single-key write rewrites the file, and read back
// as a single-key read takes them: the value read must be the value written,
// and every line that does not set the key must be kept byte for byte.
//
// The file loops of core_config.cpp and config.cpp (windows.h files) are
// stood in for here by the same steps over the text in memory, with the same
// pure pieces: config_file_decode, config_file_next and config_text_set.
//
// Index:
// - decoded: the bytes as the readers' text
// - read_lines: the lines as config_load and config_get read them
// - config_get, config_set: the single-key read and write over a text
// - LLVMFuzzerTestOneInput: load, then write and read back
#include <string>
#include <vector>
#include "base/config_text.h"
#include "dm_config_file.h"
#include "fuzz_check.h"
#include "ui/ui_pure.h"

namespace {

std::string decoded(const std::string &bytes)
{
    config_file f = {};
    FUZZ_CHECK(config_file_decode((const uint8_t *)bytes.data(), bytes.size(), &f));
    FUZZ_CHECK(f.text[f.len] == 0);
    std::string text(f.text, f.len);
    config_file_free(&f);
    return text;
}

std::vector<std::string> read_lines(const std::string &text)
{
    std::vector<std::string> lines;
    config_file f = { (char *)text.c_str(), text.size(), CONFIG_UTF8, false };
    char line[CONFIG_LINE_MAX];
    size_t pos = 0;
    while (config_file_next(&f, &pos, line, sizeof line))
        lines.push_back(line);
    return lines;
}

/* The last line that sets the key, as config_get takes it. */
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

std::string config_set(const std::string &text, const char *key, const char *value)
{
    size_t room = config_text_set_room(text.size(), key, value);
    std::string out(room, 0);
    long n = config_text_set(text.data(), text.size(), key, value, &out[0], room);
    FUZZ_CHECK(n >= 0);
    out.resize((size_t)n);
    return out;
}

/* The whole lines (with their ends) that do not set the key. */
std::string other_lines(const std::string &text, const char *key)
{
    std::string out;
    size_t pos = 0, n;
    const char *p;
    while (config_text_line(text.data(), text.size(), &pos, &p, &n)) {
        std::string head(p, n < CONFIG_LINE_MAX - 1 ? n : CONFIG_LINE_MAX - 1);
        if (!config_line_sets_key(head.c_str(), key))
            out.append(p, n);
    }
    return out;
}

struct setting {
    std::string key, value;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *d, size_t len)
{
    std::string text = decoded(std::string((const char *)d, len));

    client_config cfg;
    config_defaults(&cfg, "fuzz");
    std::vector<setting> settings;
    for (std::string &line : read_lines(text)) {
        char *key, *value;
        if (!config_split_line(&line[0], &key, &value))
            continue;
        config_refusal why;
        if (!config_apply(&cfg, key, value, &why))
            FUZZ_CHECK(why.rule && why.rule[0] && why.used[0]);
        float size;
        if (ui_parse_scale_percent(value, &size))
            FUZZ_CHECK(size >= 0.6f && size <= 2.0f);
        bool on;
        config_flag(value, &on);
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
        // Apart from a line end put after a last line without one, the lines
        // that do not set the key are the same bytes before and after.
        std::string before = other_lines(text, s.key.c_str()), after = other_lines(written, s.key.c_str());
        FUZZ_CHECK(after == before || after == before + "\r\n");
    }
    return 0;
}
