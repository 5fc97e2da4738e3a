// Table messages for the tests, written from their bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "decode.h"

namespace vornlog::testing {

// "54 04 01 ..." for the bytes of a message.
inline std::string hexPairs(const std::vector<std::uint8_t>& bytes)
{
    std::string text;
    for (std::uint8_t b : bytes) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02X ", b);
        text += pair;
    }
    if (!text.empty()) text.pop_back();
    return text;
}

inline std::string reportPc(std::string_view field) { return fromPc(field); }
inline std::string reportController(std::string_view field) { return fromController(field); }

} // namespace vornlog::testing
