// The visibility summary records: what the broadcast orbits predicted against what was observed.
//
// Maps are sorted by key: the export and the Python dictionaries get a deterministic order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rinex/text.hpp"

namespace vardoln {

struct SystemVisibility {
    std::string system;
    std::uint64_t predicted_satellites = 0;
    std::uint64_t observed_satellites = 0;
    double confirmation_rate = 0.0;
    std::vector<std::string> missing_satellites;
    std::vector<std::string> unexpected_satellites;
};

struct VisibilityAnomaly {
    std::string start_time;
    std::string end_time;
    double duration_seconds = 0.0;
    std::string anomaly_type;  // "missing_satellites", "unexpected_satellites"
    std::string severity;
    std::vector<std::string> affected_satellites;
    std::vector<std::string> affected_systems;
    std::string description;
};

struct VisibilitySummary {
    bool has_prediction = false;
    std::string prediction_source;
    double confirmation_rate = 0.0;  // percent
    double mean_predicted = 0.0;
    double mean_observed = 0.0;
    double mean_missing = 0.0;
    double mean_unexpected = 0.0;
    std::vector<std::string> frequently_missing;
    std::vector<std::string> frequently_unexpected;
    TextMap<SystemVisibility> by_system;
    std::vector<VisibilityAnomaly> anomalies;
};

}  // namespace vardoln
