// Carrier frequencies, the signals that station quality control combines, and the fixed order
// in which a band's tracking modes are tried.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "navigation/nav_data.hpp"
#include "rinex/obs_data.hpp"

namespace vardoln {

inline constexpr double kSpeedOfLight = 299792458.0;  // m/s

// GLONASS FDMA frequency channels that satellites have used (-7 to +13 since 1998; -7 to +6
// today). A value outside this range is a damaged field, not a channel.
inline constexpr std::int32_t kGlonassLowestChannel = -7;
inline constexpr std::int32_t kGlonassHighestChannel = 13;

// Carrier frequency of a RINEX band digit for a constellation letter, in Hz; nothing for a band
// that the constellation does not transmit, and for GLONASS G1 and G2 without a channel.
// BeiDou band 1 depends on the file: up to version 3.02 it is B1I (1561.098 MHz), from 3.03 on
// B1C (1575.42 MHz) while B1I moved to band 2. Band 2 is B1I in every version (3.00 and 3.01
// files already wrote B1I there).
std::optional<double> carrier_frequency_hz(char system, char band, double rinex_version,
                                           std::optional<std::int32_t> glonass_channel) noexcept;

// One signal of a pair, with the codes that may carry it, highest priority first.
struct SignalRule {
    char system;
    std::string_view name;        // "L1", "E5a", "B1I", "G1"
    std::string_view bands;       // RINEX 3 band digits, in files of version 3.03 and later
    std::string_view old_bands;   // the same in files of version 3.02 and earlier
    std::string_view modes;       // RINEX 3 tracking-mode letters: code C<band><mode> with phase L<band><mode>
    std::array<std::pair<std::string_view, std::string_view>, 2> rinex2;  // (code, phase) as the reader stores them
};

// Two signals combined into multipath and phase-slip figures.
struct SignalPair {
    char system;
    std::string_view name;  // "L1/L2"
    std::uint8_t first;     // index into signal_rules()
    std::uint8_t second;
};

std::span<const SignalRule> signal_rules() noexcept;
// Every pair, grouped by constellation; a pair's index here is its identity in the results.
std::span<const SignalPair> signal_pairs() noexcept;

// A code and the phase of the same tracking mode.
struct CodePhase {
    std::string code;
    std::string phase;
};

// The (code, phase) candidates of a signal in a file of this version, highest priority first.
// RINEX 2 files (version below 3) pair C1 or P1 with L1 and P2 (or C2) with L2, under the names
// the reader gives them (C1C, C1P, L1C, C2P, C2C, L2C, C5Q, L5Q, otherwise the two-character text).
std::vector<CodePhase> signal_candidates(const SignalRule& rule, double rinex_version);

// The frequency channel of a GLONASS satellite ("R05", or "R 5" as RINEX 2 writes it): the
// header's GLONASS SLOT / FRQ # first, then the navigation records (a satellite with records and
// no non-zero channel is on channel 0); nothing when neither knows it or the value is no channel.
std::optional<std::int32_t> glonass_channel(const RinexObsData& obs, const NavigationData* nav,
                                            std::string_view satellite);

}  // namespace vardoln
