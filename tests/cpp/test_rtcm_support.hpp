// Real RTCM streams as bytes.
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

}  // namespace vardoln::test
