#include "base/dm_token.h"
#include <string.h>

static const char token_alphabet[] = "0123456789abcdefghijklmnopqrstuvwxyz_";

bool token_from_text(const char *text, uint64_t *out)
{
    size_t n = strlen(text);
    if (n > 12)
        return false;
    uint64_t value = 0;
    for (size_t i = n; i-- > 0;) {
        const char *hit = text[i] ? strchr(token_alphabet, text[i]) : nullptr;
        if (!hit)
            return false;
        value = value * 38 + (uint64_t)(hit - token_alphabet + 1);
    }
    *out = value;
    return true;
}

bool token_to_text(uint64_t token, char *out, size_t size)
{
    if (size == 0)
        return false;
    bool exact = true;
    size_t n = 0;
    for (; token && n < DM_TOKEN_TEXT_SIZE - 1; token /= 38) {
        uint64_t digit = token % 38;
        if (digit == 0)
            exact = false;
        if (n + 1 < size)
            out[n] = digit ? token_alphabet[digit - 1] : '?';
        else
            exact = false;
        n++;
    }
    out[n < size ? n : size - 1] = 0;
    return exact && token == 0;
}
