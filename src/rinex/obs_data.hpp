// The observation record: header values plus every epoch's observations, held compactly.
//
// Satellite identifiers and observation codes are interned once; each epoch points at a run
// of satellite entries and each satellite entry at a run of values, all in flat vectors.
// Within an epoch a satellite appears at most once (a repeat replaces the earlier entry), and
// within a satellite entry a code appears at most once (a repeat replaces the earlier value).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "rinex/epoch_time.hpp"

namespace vardoln {

// One observation value; never 0.0 (a zero means "not observed" and is not stored).
struct ObservationValue {
    double value = 0.0;
    std::optional<std::uint8_t> lli;  // loss-of-lock indicator (the digit after the value)
    std::optional<std::uint8_t> ssi;  // signal-strength indicator (the digit after that)
    std::uint32_t code = 0;           // index into RinexObsData::codes
};

struct SatelliteObservations {
    std::uint32_t satellite = 0;    // index into RinexObsData::satellite_ids
    std::uint32_t first_value = 0;  // run in RinexObsData::values
    std::uint32_t value_count = 0;  // never 0
};

struct ObservationEpoch {
    EpochTime time;
    std::uint8_t flag = 0;              // as written, not interpreted
    std::uint32_t first_satellite = 0;  // run in RinexObsData::satellite_entries
    std::uint32_t satellite_count = 0;  // never 0
};

// The last epoch record of a text that ends inside it: its epoch line announced more satellites
// (RINEX 3 and 4), or more satellite names and observation lines (RINEX 2), than the text holds.
// What the record did hold is stored as an epoch like any other.
struct CutEpoch {
    EpochTime time;                          // as its epoch line wrote it
    std::optional<EpochTime> last_complete;  // the last epoch stored before it; none when it was the first
};

// Observation codes of one constellation letter, in header order.
struct ObsTypeList {
    std::string system;  // one-character letter text
    std::vector<std::string> codes;
};

struct RinexObsData {
    // Header.
    double version = 0.0;
    std::string marker_name;
    std::string marker_number;     // the monument's DOMES or other number; empty when not given
    std::string receiver_type;
    std::string receiver_version;  // firmware
    std::string antenna_type;      // type and radome, as the header's columns 21-40 hold them
    std::optional<std::array<double, 3>> approx_position;  // ECEF metres
    double interval = 0.0;                                  // seconds
    std::vector<ObsTypeList> obs_types;                     // one entry per letter
    std::vector<std::pair<std::string, std::int32_t>> glonass_slots;  // slot text -> channel, unique keys

    // Records. satellite_ids holds exactly the identifiers stored in some epoch, in order of
    // first appearance (epochs in file order, satellites in stored order).
    std::vector<std::string> satellite_ids;
    std::vector<std::string> codes;
    std::vector<ObservationEpoch> epochs;
    std::vector<SatelliteObservations> satellite_entries;
    std::vector<ObservationValue> values;
    std::optional<CutEpoch> cut_epoch;  // set when the text ends inside its last epoch record

    std::span<const SatelliteObservations> satellites_of(const ObservationEpoch& epoch) const noexcept {
        return {satellite_entries.data() + epoch.first_satellite, epoch.satellite_count};
    }
    std::span<const ObservationValue> values_of(const SatelliteObservations& entry) const noexcept {
        return {values.data() + entry.first_value, entry.value_count};
    }
    const std::string& satellite_id(const SatelliteObservations& entry) const noexcept {
        return satellite_ids[entry.satellite];
    }
    const std::string& code_of(const ObservationValue& value) const noexcept { return codes[value.code]; }

    // The code list of a letter, or nullptr when the header gave none.
    const std::vector<std::string>* obs_types_of(std::string_view letter) const noexcept;
};

// C/N0 values are the values of the signal-strength codes: those whose text starts with "S".
constexpr bool is_signal_strength_code(std::string_view code) noexcept {
    return !code.empty() && code.front() == 'S';
}

// The whole observation reader: text preparation, header and records. The only error is
// "No END OF HEADER found".
struct ParseError {
    std::string message;
};
std::variant<RinexObsData, ParseError> parse_observation_file(std::string_view bytes, std::string_view file_name);

// Record queries shared with the analysis.
std::vector<std::string> unique_satellites(const RinexObsData& data);

// Signal-strength (S) values of one satellite over the whole recording.
struct SnrStats {
    std::uint32_t satellite = 0;     // index into RinexObsData::satellite_ids
    std::uint64_t observations = 0;  // every S value, artefacts included
    std::uint64_t valid = 0;         // values inside (0, 100) dB-Hz
    double mean_snr = 0.0;           // dB-Hz over the valid values; 0 without any
};

// One entry per satellite with an S observation, in order of its first.
std::vector<SnrStats> snr_stats_by_satellite(const RinexObsData& data);
// Letter text -> identifiers in order of first appearance; empty identifiers are skipped.
std::vector<std::pair<std::string, std::vector<std::string>>> satellites_by_system(const RinexObsData& data);

}  // namespace vardoln
