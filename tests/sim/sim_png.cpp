// A PNG writer for captures: 8-bit RGBA, one IDAT of stored (uncompressed)
// deflate blocks, so it needs no compression library.
#include "sim/sim_render_internal.h"
#include <stdio.h>
#include <string>

namespace sim {
namespace {

uint32_t crc_table[256];

uint32_t crc32(const uint8_t *p, size_t n, uint32_t c = 0xFFFFFFFFu)
{
    if (!crc_table[1])
        for (uint32_t i = 0; i < 256; i++) {
            uint32_t v = i;
            for (int k = 0; k < 8; k++)
                v = v & 1 ? 0xEDB88320u ^ (v >> 1) : v >> 1;
            crc_table[i] = v;
        }
    for (size_t i = 0; i < n; i++)
        c = crc_table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return c;
}

void put32(std::string &s, uint32_t v)
{
    s += (char)(v >> 24);
    s += (char)(v >> 16);
    s += (char)(v >> 8);
    s += (char)v;
}

void chunk(std::string &out, const char *type, const std::string &data)
{
    put32(out, (uint32_t)data.size());
    std::string body = std::string(type, 4) + data;
    out += body;
    put32(out, crc32((const uint8_t *)body.data(), body.size()) ^ 0xFFFFFFFFu);
}

} // namespace

bool png_write(const char *path, const uint32_t *pixels, int width, int height)
{
    std::string raw;
    raw.reserve((size_t)height * (width * 4 + 1));
    for (int y = 0; y < height; y++) {
        raw += '\0';
        const uint8_t *row = (const uint8_t *)&pixels[(size_t)y * width];
        for (int x = 0; x < width; x++) {
            raw.append((const char *)row + x * 4, 3);
            raw += (char)0xFF; // opaque, as a person sees the screen
        }
    }
    // zlib stream of stored blocks
    std::string z = "\x78\x01";
    size_t pos = 0;
    while (pos < raw.size() || pos == 0) {
        size_t n = raw.size() - pos < 65535 ? raw.size() - pos : 65535;
        bool last = pos + n >= raw.size();
        z += (char)(last ? 1 : 0);
        z += (char)(n & 0xFF);
        z += (char)(n >> 8);
        z += (char)(~n & 0xFF);
        z += (char)((~n >> 8) & 0xFF);
        z.append(raw, pos, n);
        pos += n;
        if (last)
            break;
    }
    uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    put32(z, (b << 16) | a);
    std::string png = "\x89PNG\r\n\x1a\n";
    std::string ihdr;
    put32(ihdr, (uint32_t)width);
    put32(ihdr, (uint32_t)height);
    ihdr += std::string("\x08\x06\x00\x00\x00", 5);
    chunk(png, "IHDR", ihdr);
    chunk(png, "IDAT", z);
    chunk(png, "IEND", "");
    FILE *f = fopen(path, "wb");
    if (!f)
        return false;
    bool ok = fwrite(png.data(), 1, png.size(), f) == png.size();
    return fclose(f) == 0 && ok;
}

} // namespace sim
