// manifest.txt as any bytes: checked under the test release key (the seed
// signed with it verifies) and its lines parsed as a signed part. A parsed
// manifest holds a build, an api and at least one file, each file a known
// name, a size in 1..UPDATE_FILE_MAX and a relative path. A verified text
// gives what its signed part gives alone. Then the same bytes as
// update_url, as the update command's words and as a build id.
#include <string.h>
#include <string>
#include "fuzz_check.h"
#include "online/update_manifest.h"

namespace {

const char test_key[] = "4f929b46b9b2c682fe2a8769de888d7c3a839a293a2abc64129d769a8296275f";

void check_parsed(const update_manifest &m)
{
    FUZZ_CHECK(memchr(m.build, 0, sizeof m.build) && m.build[0] && m.api >= 0 && !m.files.empty());
    for (const update_file_entry &f : m.files) {
        FUZZ_CHECK(strcmp(f.name, "drovemark.dll") == 0 || strcmp(f.name, "drovemark_core.dll") == 0);
        FUZZ_CHECK(f.size >= 1 && f.size <= UPDATE_FILE_MAX);
        FUZZ_CHECK(memchr(f.path, 0, sizeof f.path) && f.path[0] && f.path[0] != '/' && !strstr(f.path, ".."));
    }
}

bool same(const update_manifest &a, const update_manifest &b)
{
    if (strcmp(a.build, b.build) != 0 || a.api != b.api || a.files.size() != b.files.size())
        return false;
    for (size_t i = 0; i < a.files.size(); i++)
        if (strcmp(a.files[i].name, b.files[i].name) != 0 || memcmp(a.files[i].sha256, b.files[i].sha256, 32) != 0 ||
            a.files[i].size != b.files[i].size || strcmp(a.files[i].path, b.files[i].path) != 0)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *d, size_t len)
{
    std::string bytes((const char *)d, len);
    char err[UPDATE_ERROR_MAX];
    update_manifest verified, parsed;
    memset(err, 'x', sizeof err);
    bool ok = update_verify_manifest(test_key, bytes.data(), len, &verified, err, sizeof err);
    FUZZ_CHECK(ok || memchr(err, 0, sizeof err)); // the reason, when it fails
    if (ok) {
        check_parsed(verified);
        size_t sig = bytes.find("\nsig ");
        FUZZ_CHECK(sig != std::string::npos);
        FUZZ_CHECK(update_parse_manifest(bytes.data(), sig + 1, &parsed, err, sizeof err) && same(parsed, verified));
    }
    memset(err, 'x', sizeof err);
    if (update_parse_manifest(bytes.data(), len, &parsed, err, sizeof err))
        check_parsed(parsed);
    else
        FUZZ_CHECK(memchr(err, 0, sizeof err));

    const char *text = bytes.c_str();
    char url[UPDATE_URL_MAX + 2];
    update_folder_url(text, url, sizeof url);
    size_t n = strlen(url);
    FUZZ_CHECK(n <= UPDATE_URL_MAX && (n == 0 || url[n - 1] == '/' || n == UPDATE_URL_MAX));
    update_command_kind kind = update_parse_command(text);
    FUZZ_CHECK(kind >= UPDATE_CMD_STATUS && kind <= UPDATE_CMD_USAGE);
    update_build_is_dirty(text);
    uint8_t key[32];
    update_parse_key(text, key);
    return 0;
}
