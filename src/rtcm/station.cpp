#include "rtcm/station.hpp"

#include "rtcm/bits.hpp"

namespace vardoln {

namespace {

// An 8-bit count, then that many characters; an empty text when the payload ends first (the
// reader is then marked failed).
std::string counted_text(BitReader& in) {
    const auto length = static_cast<std::size_t>(in.bits(8));
    if (in.failed() || in.remaining_bits() < length * 8) {
        in.skip(length * 8);
        return {};
    }
    std::string text(length, '\0');
    for (auto& character : text) character = static_cast<char>(in.bits(8));
    return text;
}

}  // namespace

std::variant<AntennaReferencePoint, RtcmError> decode_antenna_reference_point(std::span<const std::uint8_t> payload) {
    BitReader in(payload);
    const auto type = static_cast<std::uint16_t>(in.bits(12));
    if (type != 1005 && type != 1006) return rtcm_error(type, "not an antenna reference point message");
    AntennaReferencePoint point;
    point.station = static_cast<std::uint16_t>(in.bits(12));
    in.skip(10);  // realisation year, constellation flags, reference-station flag
    point.ecef_m[0] = static_cast<double>(in.signed_bits(38)) * 1e-4;
    in.skip(2);  // single oscillator flag, reserved
    point.ecef_m[1] = static_cast<double>(in.signed_bits(38)) * 1e-4;
    in.skip(2);  // quarter-cycle indicator
    point.ecef_m[2] = static_cast<double>(in.signed_bits(38)) * 1e-4;
    if (type == 1006) point.antenna_height_m = static_cast<double>(in.bits(16)) * 1e-4;
    if (in.failed()) return rtcm_error(type, "shorter than its fields");
    return point;
}

std::variant<ReceiverDescriptors, RtcmError> decode_receiver_descriptors(std::span<const std::uint8_t> payload) {
    BitReader in(payload);
    const auto type = static_cast<std::uint16_t>(in.bits(12));
    if (type != 1033) return rtcm_error(type, "not a receiver and antenna descriptor message");
    ReceiverDescriptors descriptors;
    descriptors.station = static_cast<std::uint16_t>(in.bits(12));
    descriptors.antenna = counted_text(in);
    descriptors.antenna_setup_id = static_cast<std::uint8_t>(in.bits(8));
    descriptors.antenna_serial = counted_text(in);
    descriptors.receiver = counted_text(in);
    descriptors.firmware = counted_text(in);
    descriptors.receiver_serial = counted_text(in);
    if (in.failed()) return rtcm_error(type, "a text runs past the end of the message");
    return descriptors;
}

}  // namespace vardoln
