#include "qc/signals.hpp"

#include <cmath>
#include <string>

#include "rinex/bands.hpp"
#include "rinex/ids.hpp"
#include "rinex/numbers.hpp"

namespace vardoln {

namespace {

constexpr double kMHz = 1e6;

// GLONASS FDMA: G1 = 1602 MHz + k * 0.5625 MHz, G2 = 1246 MHz + k * 0.4375 MHz for channel k.
constexpr double kGlonassG1Mhz = 1602.0;
constexpr double kGlonassG1StepMhz = 0.5625;
constexpr double kGlonassG2Mhz = 1246.0;
constexpr double kGlonassG2StepMhz = 0.4375;

// The signals of the pairs, with the tracking modes tried for each, highest priority first
// (documented in docs/qc.md). A code and a phase are only combined when they share a mode.
constexpr std::array<SignalRule, 13> kSignalRules{{
    {'G', "L1", "1", "1", "CSLXPWYM", {{{"C1C", "L1C"}, {"C1P", "L1C"}}}},
    {'G', "L2", "2", "2", "WLXSDPYMC", {{{"C2P", "L2C"}, {"C2C", "L2C"}}}},
    {'G', "L5", "5", "5", "QXI", {{{"C5Q", "L5Q"}, {}}}},
    {'R', "G1", "1", "1", "CP", {{{"C1C", "L1C"}, {"C1P", "L1C"}}}},
    {'R', "G2", "2", "2", "PC", {{{"C2P", "L2C"}, {"C2C", "L2C"}}}},
    {'E', "E1", "1", "1", "CXBAZ", {{{"C1C", "L1C"}, {}}}},
    {'E', "E5a", "5", "5", "QXI", {{{"C5Q", "L5Q"}, {}}}},
    {'E', "E5b", "7", "7", "QXI", {{{"C7", "L7"}, {}}}},
    {'C', "B1I", "2", "12", "IXQ", {{{"C2C", "L2C"}, {"C1C", "L1C"}}}},
    {'C', "B3I", "6", "6", "IXQ", {{{"C6", "L6"}, {}}}},
    {'C', "B2I", "7", "7", "IXQ", {{{"C7", "L7"}, {}}}},
    {'J', "L1", "1", "1", "CSLX", {{{"C1C", "L1C"}, {}}}},
    {'J', "L2", "2", "2", "LXS", {{{"C2C", "L2C"}, {"C2P", "L2C"}}}},
}};

constexpr std::array<SignalPair, 8> kSignalPairs{{
    {'G', "L1/L2", 0, 1},
    {'G', "L1/L5", 0, 2},
    {'R', "G1/G2", 3, 4},
    {'E', "E1/E5a", 5, 6},
    {'E', "E1/E5b", 5, 7},
    {'C', "B1I/B3I", 8, 9},
    {'C', "B1I/B2I", 8, 10},
    {'J', "L1/L2", 11, 12},
}};

}  // namespace

std::optional<double> carrier_frequency_hz(char system, char band, double rinex_version,
                                           std::optional<std::int32_t> glonass_channel) noexcept {
    if (system == 'R' && (band == '1' || band == '2')) {
        if (!glonass_channel || *glonass_channel < kGlonassLowestChannel || *glonass_channel > kGlonassHighestChannel)
            return std::nullopt;
        const double k = *glonass_channel;
        return (band == '1' ? kGlonassG1Mhz + k * kGlonassG1StepMhz : kGlonassG2Mhz + k * kGlonassG2StepMhz) * kMHz;
    }
    const std::optional<double> mhz = nominal_carrier_mhz(system, band, rinex_version);
    if (!mhz) return std::nullopt;
    return *mhz * kMHz;
}

std::span<const SignalRule> signal_rules() noexcept {
    return kSignalRules;
}

std::span<const SignalPair> signal_pairs() noexcept {
    return kSignalPairs;
}

std::vector<CodePhase> signal_candidates(const SignalRule& rule, double rinex_version) {
    std::vector<CodePhase> candidates;
    if (rinex_version < 3.0) {
        for (const auto& [code, phase] : rule.rinex2) {
            if (!code.empty()) candidates.push_back({std::string(code), std::string(phase)});
        }
        return candidates;
    }
    const std::string_view bands = beidou_band1_is_b1i(rinex_version) ? rule.old_bands : rule.bands;
    for (const char band : bands) {
        for (const char mode : rule.modes) {
            candidates.push_back({std::string{'C', band, mode}, std::string{'L', band, mode}});
        }
    }
    return candidates;
}

std::optional<std::int32_t> glonass_channel(const RinexObsData& obs, const NavigationData* nav,
                                            std::string_view satellite) {
    const auto in_range = [](std::int32_t channel) -> std::optional<std::int32_t> {
        if (channel < kGlonassLowestChannel || channel > kGlonassHighestChannel) return std::nullopt;
        return channel;
    };
    if (satellite.size() < 2 || satellite.front() != 'R') return std::nullopt;
    // Header and navigation records know the satellite by its number, which "R 5" writes with a blank.
    const std::string key = navigation_key(satellite);
    // The header keys slots by their number as plain decimal text ("5" for R05).
    if (const std::optional<std::uint32_t> slot = read_u32(std::string_view(key).substr(1))) {
        const std::string slot_key = std::to_string(*slot);
        for (const auto& [slot_text, channel] : obs.glonass_slots) {
            if (slot_text == slot_key) return in_range(channel);
        }
    }
    if (nav == nullptr) return std::nullopt;
    // The reader keeps only non-zero channels in glonass_freq; a satellite with records and
    // no entry there broadcast channel 0.
    if (const auto found = nav->glonass_freq.find(key); found != nav->glonass_freq.end())
        return in_range(found->second);
    if (const auto found = nav->glonass.find(key); found != nav->glonass.end() && !found->second.empty())
        return in_range(found->second.front().freq_num);
    return std::nullopt;
}

}  // namespace vardoln
