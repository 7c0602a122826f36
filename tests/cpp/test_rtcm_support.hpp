// Real RTCM streams as bytes, and a writer of bit fields for messages built by hand.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "test_real_data.hpp"

namespace vardoln::test {

inline std::optional<std::vector<std::uint8_t>> rtcm_bytes(std::string_view relative) {
    const auto bytes = real_bytes(std::string("rtcm/") + std::string(relative));
    if (!bytes) return std::nullopt;
    return std::vector<std::uint8_t>(bytes->begin(), bytes->end());
}

// Big-endian fields of up to 64 bits, the mirror of BitReader; a negative value is written in
// two's complement.
struct BitWriter {
    std::vector<std::uint8_t> bytes;
    std::size_t bits = 0;
    BitWriter& put(std::int64_t value, unsigned width) {
        for (unsigned i = 0; i < width; ++i, ++bits) {
            if (bits % 8 == 0) bytes.push_back(0);
            if ((static_cast<std::uint64_t>(value) >> (width - 1 - i)) & 1u)
                bytes.back() |= static_cast<std::uint8_t>(0x80u >> (bits % 8));
        }
        return *this;
    }
};

}  // namespace vardoln::test
