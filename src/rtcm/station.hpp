// The station messages: 1005 and 1006 (antenna reference point, 1006 with the antenna height)
// and 1033 (antenna and receiver descriptors).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>

#include "rtcm/message_error.hpp"

namespace vardoln {

struct AntennaReferencePoint {
    std::uint16_t station = 0;
    std::array<double, 3> ecef_m{};         // X, Y, Z; 0.1 mm steps
    std::optional<double> antenna_height_m;  // 1006: the marker lies this far below the point
};

std::variant<AntennaReferencePoint, RtcmError> decode_antenna_reference_point(std::span<const std::uint8_t> payload);

// Each text is at most 255 bytes and was checked to lie inside the payload; the bytes are kept
// as sent (the format asks for ASCII).
struct ReceiverDescriptors {
    std::uint16_t station = 0;
    std::string antenna;
    std::uint8_t antenna_setup_id = 0;
    std::string antenna_serial;
    std::string receiver;
    std::string firmware;
    std::string receiver_serial;
};

std::variant<ReceiverDescriptors, RtcmError> decode_receiver_descriptors(std::span<const std::uint8_t> payload);

}  // namespace vardoln
