#include "rtcm/legacy.hpp"

#include <array>
#include <cstdio>

#include "rtcm/bits.hpp"

namespace vardoln {

namespace {

// The pseudorange is sent modulo one light-millisecond (GPS) or two (GLONASS), with the whole
// number of those in its own field.
constexpr double kGpsAmbiguity_m = kSpeedOfLight_m_s / 1000.0;
constexpr double kGlonassAmbiguity_m = 599'584.916;
constexpr std::int64_t kInvalidPhaseDifference = -524288;  // 0x80000 in 20 bits
constexpr std::int64_t kInvalidCodeDifference = -8192;     // 0x2000 in 14 bits

std::optional<double> cn0_of(std::uint64_t quarter_dbhz) {
    if (quarter_dbhz == 0) return std::nullopt;
    return static_cast<double>(quarter_dbhz) * 0.25;
}

}  // namespace

bool is_legacy_observation(std::uint16_t message_type) noexcept {
    return message_type == 1002 || message_type == 1004 || message_type == 1010 || message_type == 1012;
}

std::variant<LegacyMessage, RtcmError> decode_legacy_observations(std::span<const std::uint8_t> payload) {
    BitReader in(payload);
    LegacyMessage message;
    message.message_type = static_cast<std::uint16_t>(in.bits(12));
    if (!is_legacy_observation(message.message_type))
        return rtcm_error(message.message_type, "not a legacy observation message with C/N0");
    const bool glonass = message.message_type >= 1010;
    const bool two_bands = message.message_type == 1004 || message.message_type == 1012;
    message.system = glonass ? GnssSystem::Glonass : GnssSystem::Gps;
    message.station = static_cast<std::uint16_t>(in.bits(12));
    message.epoch_ms = static_cast<std::uint32_t>(in.bits(glonass ? 27 : 30));
    message.synchronous = in.flag();
    const auto satellites = static_cast<std::size_t>(in.bits(5));
    in.skip(4);  // smoothing indicator and interval
    // 1002: 74 bits a satellite, 1004: 125, 1010: 79, 1012: 130.
    const std::size_t per_satellite = (glonass ? 79u : 74u) + (two_bands ? 51u : 0u);
    if (in.failed() || in.remaining_bits() < satellites * per_satellite)
        return rtcm_error(message.message_type, "shorter than its satellite count says");

    message.observations.resize(satellites);
    for (auto& observation : message.observations) {
        observation.satellite_id = static_cast<std::uint8_t>(in.bits(6));
        observation.l1.code_indicator = static_cast<std::uint8_t>(in.bits(1));
        if (glonass) observation.glonass_channel = static_cast<std::int8_t>(static_cast<int>(in.bits(5)) - 7);
        const auto l1_code = in.bits(glonass ? 25 : 24);
        const auto l1_phase = in.signed_bits(20);
        observation.l1.lock_time_indicator = static_cast<std::uint8_t>(in.bits(7));
        const auto ambiguity = in.bits(glonass ? 7 : 8);
        observation.l1.cn0_dbhz = cn0_of(in.bits(8));
        const double l1_pseudorange = static_cast<double>(l1_code) * 0.02 +
                                      static_cast<double>(ambiguity) * (glonass ? kGlonassAmbiguity_m : kGpsAmbiguity_m);
        observation.l1.pseudorange_m = l1_pseudorange;
        if (l1_phase != kInvalidPhaseDifference)
            observation.l1.phase_range_m = l1_pseudorange + static_cast<double>(l1_phase) * 0.0005;
        if (!two_bands) continue;
        LegacyBand& l2 = observation.l2.emplace();
        l2.code_indicator = static_cast<std::uint8_t>(in.bits(2));
        const auto code_difference = in.signed_bits(14);
        const auto phase_difference = in.signed_bits(20);
        l2.lock_time_indicator = static_cast<std::uint8_t>(in.bits(7));
        l2.cn0_dbhz = cn0_of(in.bits(8));
        if (code_difference != kInvalidCodeDifference)
            l2.pseudorange_m = l1_pseudorange + static_cast<double>(code_difference) * 0.02;
        if (phase_difference != kInvalidPhaseDifference)
            l2.phase_range_m = l1_pseudorange + static_cast<double>(phase_difference) * 0.0005;
    }
    if (in.failed()) return rtcm_error(message.message_type, "shorter than its satellite count says");
    return message;
}

std::string legacy_satellite_key(GnssSystem system, std::uint8_t satellite_id) {
    char key[16];
    if (satellite_id >= 40 && satellite_id <= 58)
        std::snprintf(key, sizeof key, "S%02u", satellite_id - 20u);  // PRN 120 is S20
    else
        std::snprintf(key, sizeof key, "%c%02u", static_cast<char>(system), static_cast<unsigned>(satellite_id));
    return key;
}

std::string_view legacy_rinex_code(GnssSystem system, bool second_band, std::uint8_t indicator) noexcept {
    if (!second_band) return indicator == 0 ? "1C" : "1P";
    if (system == GnssSystem::Glonass) return indicator == 0 ? "2C" : "2P";
    constexpr std::array<std::string_view, 4> gps = {"2X", "2P", "2D", "2W"};
    return gps[indicator & 3u];
}

}  // namespace vardoln
