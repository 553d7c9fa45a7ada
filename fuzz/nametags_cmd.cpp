// The nametags and cam commands' rest of line as any text: the range a
// "nametags dist" line sets is finite and above 10 m, a cam dump's length
// lies in 1..0x1000 and its offsets stay within the array.
#include <math.h>
#include <string>
#include "fuzz_check.h"
#include "ui/nametags.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *d, size_t len)
{
    std::string text((const char *)d, len);
    uint8_t on = 7;
    float range = 100.0f;
    nametags_parse(text.c_str(), &on, &range);
    FUZZ_CHECK(on == 0 || on == 1 || on == 7);
    FUZZ_CHECK(isfinite(range) && (range == 100.0f || range > 10.0f));

    const char *after = nullptr;
    int form = cam_parse(text.c_str(), &after);
    FUZZ_CHECK(form == DM_CAM_USAGE || form == DM_CAM_DUMP || form == DM_CAM_W2S);
    FUZZ_CHECK(after >= text.c_str() && after <= text.c_str() + strlen(text.c_str()));
    if (form == DM_CAM_DUMP) {
        uint32_t length = 0;
        uint64_t offsets[9];
        offsets[8] = 0x5A5A5A5A;
        int n = cam_dump_parse(after, &length, offsets, 8);
        FUZZ_CHECK(length >= 1 && length <= 0x1000 && n >= 0 && n <= 8 && offsets[8] == 0x5A5A5A5A);
    }
    return 0;
}
