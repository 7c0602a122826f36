// Why a message could not be decoded, named by its type first ("RTCM 1077: ...").
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace vardoln {

struct RtcmError {
    std::string message;
    friend bool operator==(const RtcmError&, const RtcmError&) = default;
};

inline RtcmError rtcm_error(std::uint16_t message_type, const char* what) {
    char text[128];
    std::snprintf(text, sizeof text, "RTCM %u: %s", static_cast<unsigned>(message_type), what);
    return RtcmError{text};
}

}  // namespace vardoln
