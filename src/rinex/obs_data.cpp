#include "rinex/obs_data.hpp"

#include <algorithm>

#include "rinex/obs_header.hpp"
#include "rinex/obs_records.hpp"
#include "rinex/text.hpp"

namespace vardoln {

const std::vector<std::string>* RinexObsData::obs_types_of(std::string_view letter) const noexcept {
    for (const ObsTypeList& list : obs_types)
        if (list.system == letter) return &list.codes;
    return nullptr;
}

std::variant<RinexObsData, ParseError> parse_observation_file(std::string_view bytes, std::string_view file_name) {
    // Most files are pure ASCII; they are read in place instead of being copied first.
    std::string prepared;
    std::string_view text = bytes;
    if (has_high_bytes(bytes)) {
        prepared = prepare_text(bytes);
        text = prepared;
    }

    RinexObsData data;
    LineCursor lines(text);
    if (!read_observation_header(lines, data)) return ParseError{"No END OF HEADER found"};
    if (data.marker_name.empty()) data.marker_name = file_name;

    if (data.version >= 3.0) {
        read_rinex3_records(lines, data);
    } else {
        read_rinex2_records(lines, data);
    }
    return data;
}

std::vector<std::string> unique_satellites(const RinexObsData& data) {
    // The parser keeps satellite_ids as exactly the stored identifiers in order of first
    // appearance, which is what a walk over the epochs would collect.
    return data.satellite_ids;
}

std::vector<SnrStats> snr_stats_by_satellite(const RinexObsData& data) {
    // Identifiers are interned, so per-satellite tallies live in a vector indexed like them;
    // `order` keeps the satellites in order of their first S observation.
    struct Tally {
        std::uint64_t observations = 0;
        std::uint64_t valid = 0;
        double sum = 0.0;
    };
    std::vector<Tally> tallies(data.satellite_ids.size());
    std::vector<std::uint32_t> order;
    std::vector<bool> snr_code(data.codes.size());
    for (std::size_t i = 0; i < data.codes.size(); ++i) snr_code[i] = is_signal_strength_code(data.codes[i]);

    for (const ObservationEpoch& epoch : data.epochs) {
        for (const SatelliteObservations& entry : data.satellites_of(epoch)) {
            Tally& tally = tallies[entry.satellite];
            for (const ObservationValue& value : data.values_of(entry)) {
                if (!snr_code[value.code]) continue;
                if (tally.observations++ == 0) order.push_back(entry.satellite);
                // Signal strengths outside (0, 100) dB-Hz are recording artefacts; NaN fails too.
                if (value.value > 0.0 && value.value < 100.0) {
                    ++tally.valid;
                    tally.sum += value.value;
                }
            }
        }
    }

    std::vector<SnrStats> stats;
    stats.reserve(order.size());
    for (const std::uint32_t satellite : order) {
        const Tally& tally = tallies[satellite];
        const double mean = tally.valid == 0 ? 0.0 : tally.sum / static_cast<double>(tally.valid);
        stats.push_back({satellite, tally.observations, tally.valid, mean});
    }
    return stats;
}

std::vector<std::pair<std::string, std::vector<std::string>>> satellites_by_system(const RinexObsData& data) {
    std::vector<std::pair<std::string, std::vector<std::string>>> groups;
    for (const std::string& id : data.satellite_ids) {
        if (id.empty()) continue;
        const auto group = std::find_if(groups.begin(), groups.end(),
                                        [&](const auto& entry) { return entry.first.front() == id.front(); });
        if (group != groups.end()) {
            group->second.push_back(id);
        } else {
            groups.emplace_back(std::string(1, id.front()), std::vector<std::string>{id});
        }
    }
    return groups;
}

}  // namespace vardoln
