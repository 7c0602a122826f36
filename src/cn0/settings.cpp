#include "cn0/settings.hpp"

#include <string_view>

namespace vardoln {

namespace {

// Length in bytes of the UTF-8 sequence that starts with `lead`, 1 for a byte that cannot start
// one (a stray continuation byte or an invalid lead then stands for itself).
std::size_t utf8_sequence_length(unsigned char lead) noexcept {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 1;
}

// The first character of non-empty text: its bytes, and its code point. Python hands us valid
// UTF-8; anything malformed falls back to the first byte alone rather than failing.
struct FirstCharacter {
    std::string_view bytes;
    char32_t code_point = 0;
};

FirstCharacter first_character(std::string_view text) noexcept {
    const auto lead = static_cast<unsigned char>(text.front());
    const std::size_t length = utf8_sequence_length(lead);
    if (length == 1 || length > text.size()) return {text.substr(0, 1), lead};
    char32_t code_point = lead & (0x7Fu >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[i]);
        if ((next & 0xC0u) != 0x80u) return {text.substr(0, 1), lead};
        code_point = (code_point << 6) | (next & 0x3Fu);
    }
    return {text.substr(0, length), code_point};
}

}  // namespace

AnalysisConfig make_analysis_config(const AnalysisConfigArgs& args) {
    // Sensitivity widens or narrows the drop tests together; the critical level is the
    // interference threshold, so the anomaly_threshold_critical keyword only has to convert.
    const double factor = 1.0 - 0.5 * args.anomaly_sensitivity;
    AnalysisConfig config;
    config.systems = args.systems;
    config.nav_file = args.nav_file;
    config.min_elevation = args.min_elevation;
    config.min_cn0 = args.min_cn0;
    config.max_cn0 = args.max_cn0;
    config.anomaly_threshold_low = args.anomaly_threshold_low * factor;
    config.anomaly_threshold_high = args.anomaly_threshold_high * factor;
    config.anomaly_threshold_critical = args.interference_threshold_db;
    config.anomaly_sensitivity = args.anomaly_sensitivity;
    config.interference_threshold_db = args.interference_threshold_db;
    config.spoofing_unexpected_threshold = args.spoofing_unexpected_threshold;
    config.spoofing_min_unexpected_count = args.spoofing_min_unexpected_count;
    config.time_bin_seconds = args.time_bin_seconds.value_or(args.time_bin.value_or(60));
    config.detect_anomalies = args.detect_anomalies;
    config.verbose = args.verbose;
    return config;
}

AnalysisConfig legacy_analysis_config(double min_elevation, std::uint32_t time_bin_seconds,
                                      const std::optional<std::vector<std::string>>& systems) {
    // The record's defaults are exactly the fixed values of this path: no sensitivity folding.
    AnalysisConfig config;
    std::vector<std::string> letters;
    if (systems) {
        for (const std::string& code : *systems) {
            if (!code.empty()) letters.emplace_back(first_character(code).bytes);
        }
    } else {
        letters = {"G", "R", "E", "C"};
    }
    config.systems = std::move(letters);
    config.min_elevation = min_elevation;
    config.time_bin_seconds = time_bin_seconds;
    return config;
}

std::vector<char32_t> system_letters(const std::optional<std::vector<std::string>>& systems) {
    if (!systems) return {std::begin(kDefaultSystemLetters), std::end(kDefaultSystemLetters)};
    std::vector<char32_t> letters;
    letters.reserve(systems->size());
    for (const std::string& code : *systems) {
        if (!code.empty()) letters.push_back(first_character(code).code_point);
    }
    return letters;
}

AnalysisSettings settings_from_config(const AnalysisConfig& config) {
    AnalysisSettings settings;
    settings.systems = system_letters(config.systems);
    settings.min_elevation = config.min_elevation;
    settings.min_cn0 = config.min_cn0;
    settings.max_cn0 = config.max_cn0;
    settings.time_bin_seconds = config.time_bin_seconds;
    settings.anomaly_threshold_low = config.anomaly_threshold_low;
    settings.anomaly_threshold_high = config.anomaly_threshold_high;
    settings.anomaly_threshold_critical = config.anomaly_threshold_critical;
    settings.spoofing_unexpected_threshold = config.spoofing_unexpected_threshold;
    settings.spoofing_min_unexpected_count = config.spoofing_min_unexpected_count;
    return settings;
}

AnalysisSettings quick_analysis_settings(double min_elevation, const std::optional<std::vector<std::string>>& systems) {
    AnalysisSettings settings;
    settings.systems = system_letters(systems);
    settings.min_elevation = min_elevation;
    settings.min_cn0 = 0.0;
    settings.max_cn0 = 60.0;
    settings.time_bin_seconds = 60;
    settings.anomaly_threshold_low = 3.0;
    settings.anomaly_threshold_high = 6.0;
    settings.anomaly_threshold_critical = 10.0;
    settings.spoofing_unexpected_threshold = 0.40;
    settings.spoofing_min_unexpected_count = 8.0;
    return settings;
}

}  // namespace vardoln
