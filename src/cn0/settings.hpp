// What one analysis run reads: the settings record, and the user-facing configuration it
// is derived from.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "navigation/orbit_source.hpp"

namespace vardoln {

// The constellations analysed when the caller names none: GPS, GLONASS, Galileo, BeiDou.
inline constexpr char32_t kDefaultSystemLetters[] = {U'G', U'R', U'E', U'C'};

struct AnalysisSettings {
    std::optional<std::vector<char32_t>> systems;  // constellation letters; empty selects nothing
    double min_elevation = 5.0;                    // degrees
    double min_cn0 = 0.0;                          // dB-Hz
    double max_cn0 = 60.0;                         // dB-Hz
    std::uint64_t time_bin_seconds = 60;           // carried only: one time-series point per epoch
    double anomaly_threshold_low = 3.0;            // multiplier of a satellite's C/N0 spread
    double anomaly_threshold_high = 6.0;           // dB
    double anomaly_threshold_critical = 10.0;      // dB
    double spoofing_unexpected_threshold = 0.40;   // fraction
    double spoofing_min_unexpected_count = 8.0;
    std::optional<OrbitSource> orbit_source;
};

// The configuration as the caller gave it (after the constructor's folding of sensitivity
// and interference threshold into the stored thresholds).
struct AnalysisConfig {
    std::optional<std::vector<std::string>> systems;
    std::optional<std::string> nav_file;
    double min_elevation = 5.0;
    double min_cn0 = 0.0;
    double max_cn0 = 60.0;
    double anomaly_threshold_low = 3.0;
    double anomaly_threshold_high = 6.0;
    double anomaly_threshold_critical = 10.0;
    double anomaly_sensitivity = 0.5;
    double interference_threshold_db = 6.0;
    double spoofing_unexpected_threshold = 0.40;
    double spoofing_min_unexpected_count = 8.0;
    std::uint32_t time_bin_seconds = 60;
    bool detect_anomalies = true;
    bool verbose = false;
};

// Keyword values of the AnalysisConfig constructor, before folding.
struct AnalysisConfigArgs {
    double min_elevation = 5.0;
    double min_cn0 = 0.0;
    double max_cn0 = 60.0;
    std::optional<std::uint32_t> time_bin_seconds;
    std::optional<std::uint32_t> time_bin;
    std::optional<std::vector<std::string>> systems;
    double anomaly_threshold_low = 3.0;
    double anomaly_threshold_high = 6.0;
    double anomaly_threshold_critical = 10.0;
    bool detect_anomalies = true;
    double anomaly_sensitivity = 0.5;
    double interference_threshold_db = 6.0;
    bool verbose = false;
    std::optional<std::string> nav_file;
    double spoofing_unexpected_threshold = 0.40;
    double spoofing_min_unexpected_count = 8.0;
};

// The constructor's rule: thresholds scaled by 1 - 0.5 * sensitivity, the critical
// threshold taken from interference_threshold_db, time_bin_seconds before time_bin before 60.
AnalysisConfig make_analysis_config(const AnalysisConfigArgs& args);

// The configuration that CN0Analyzer.from_obs builds (no sensitivity scaling).
AnalysisConfig legacy_analysis_config(double min_elevation, std::uint32_t time_bin_seconds,
                                      const std::optional<std::vector<std::string>>& systems);

// First Unicode character of each non-empty code (UTF-8 text); G, R, E, C when absent.
std::vector<char32_t> system_letters(const std::optional<std::vector<std::string>>& systems);

// The settings an analyzer hands the engine; the orbit source is attached by the caller.
AnalysisSettings settings_from_config(const AnalysisConfig& config);

// The fixed settings of the one-call analysis function.
AnalysisSettings quick_analysis_settings(double min_elevation, const std::optional<std::vector<std::string>>& systems);

}  // namespace vardoln
