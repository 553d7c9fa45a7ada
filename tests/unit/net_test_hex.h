/* Hex text of byte strings for the network tests: known answers and golden
 * datagrams are written and compared as lowercase hex. */
#pragma once
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

/* Bytes of pairs of hex digits ("0a1b" -> {0x0a, 0x1b}). */
static inline std::vector<uint8_t> hex_to_bytes(const std::string &hex)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back((uint8_t)strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
    return out;
}

static inline std::string bytes_to_hex(const uint8_t *bytes, size_t count)
{
    std::string out;
    char pair[3];
    for (size_t i = 0; i < count; i++) {
        snprintf(pair, sizeof pair, "%02x", bytes[i]);
        out += pair;
    }
    return out;
}

static inline std::string bytes_to_hex(const std::vector<uint8_t> &bytes) { return bytes_to_hex(bytes.data(), bytes.size()); }
