#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "cn0/settings.hpp"

namespace vardoln {
namespace {

using Codes = std::optional<std::vector<std::string>>;

struct FoldCase {
    const char* name;
    AnalysisConfigArgs args;
    double low;
    double high;
    double critical;
    std::uint32_t time_bin_seconds;
};

AnalysisConfigArgs with(auto change) {
    AnalysisConfigArgs args;
    change(args);
    return args;
}

TEST(AnalysisConfigFolding, Table) {
    const FoldCase cases[] = {
        {"defaults", {}, 2.25, 4.5, 6.0, 60},
        {"sensitivity 0", with([](auto& a) { a.anomaly_sensitivity = 0.0; }), 3.0, 6.0, 6.0, 60},
        {"sensitivity 1", with([](auto& a) { a.anomaly_sensitivity = 1.0; }), 1.5, 3.0, 6.0, 60},
        {"sensitivity 2", with([](auto& a) { a.anomaly_sensitivity = 2.0; }), 0.0, 0.0, 6.0, 60},
        {"critical keyword has no effect", with([](auto& a) { a.anomaly_threshold_critical = 12.0; }), 2.25, 4.5,
         6.0, 60},
        {"interference sets critical", with([](auto& a) { a.interference_threshold_db = 9.0; }), 2.25, 4.5, 9.0,
         60},
        {"time_bin alone", with([](auto& a) { a.time_bin = 30; }), 2.25, 4.5, 6.0, 30},
        {"time_bin_seconds wins", with([](auto& a) {
             a.time_bin_seconds = 120;
             a.time_bin = 30;
         }),
         2.25, 4.5, 6.0, 120},
        {"time_bin_seconds zero is given", with([](auto& a) { a.time_bin_seconds = 0; }), 2.25, 4.5, 6.0, 0},
    };
    for (const FoldCase& c : cases) {
        const AnalysisConfig config = make_analysis_config(c.args);
        EXPECT_DOUBLE_EQ(config.anomaly_threshold_low, c.low) << c.name;
        EXPECT_DOUBLE_EQ(config.anomaly_threshold_high, c.high) << c.name;
        EXPECT_DOUBLE_EQ(config.anomaly_threshold_critical, c.critical) << c.name;
        EXPECT_EQ(config.time_bin_seconds, c.time_bin_seconds) << c.name;
        EXPECT_EQ(config.anomaly_sensitivity, c.args.anomaly_sensitivity) << c.name;
        EXPECT_EQ(config.interference_threshold_db, c.args.interference_threshold_db) << c.name;
        EXPECT_FALSE(config.systems.has_value()) << c.name;
    }
}

struct LetterCase {
    const char* name;
    Codes systems;
    std::vector<char32_t> letters;
};

TEST(SystemLetters, Table) {
    const LetterCase cases[] = {
        {"absent gives the four defaults", std::nullopt, {U'G', U'R', U'E', U'C'}},
        {"first characters, empty texts dropped", Codes{{"GPS", "", "R"}}, {U'G', U'R'}},
        {"Galileo also selects G", Codes{{"Galileo"}}, {U'G'}},
        {"explicitly empty selects nothing", Codes{std::vector<std::string>{}}, {}},
        {"only empty texts select nothing", Codes{{"", ""}}, {}},
        {"two-byte character", Codes{{"\xC3\x84gypten"}}, {U'\u00C4'}},
        {"four-byte character", Codes{{"\xF0\x9F\x9B\xB0sat"}}, {U'\U0001F6F0'}},
        {"malformed lead byte stands for itself", Codes{{"\xFFG"}}, {char32_t{0xFF}}},
        {"truncated sequence stands for its lead byte", Codes{{"\xE2\x82"}}, {char32_t{0xE2}}},
    };
    for (const LetterCase& c : cases) EXPECT_EQ(system_letters(c.systems), c.letters) << c.name;
}

TEST(LegacyConfig, KeepsOneCharacterTextsAndFixedValues) {
    const AnalysisConfig config = legacy_analysis_config(10.0, 30, Codes{{"GPS", "", "\xC3\x84gypten", "E"}});
    ASSERT_TRUE(config.systems.has_value());
    EXPECT_EQ(*config.systems, (std::vector<std::string>{"G", "\xC3\x84", "E"}));
    EXPECT_EQ(config.min_elevation, 10.0);
    EXPECT_EQ(config.time_bin_seconds, 30u);
    // No sensitivity folding on this path.
    EXPECT_EQ(config.anomaly_threshold_low, 3.0);
    EXPECT_EQ(config.anomaly_threshold_high, 6.0);
    EXPECT_EQ(config.anomaly_threshold_critical, 10.0);
    EXPECT_EQ(config.anomaly_sensitivity, 0.5);
    EXPECT_EQ(config.interference_threshold_db, 6.0);
    EXPECT_FALSE(config.nav_file.has_value());

    const AnalysisConfig defaults = legacy_analysis_config(5.0, 60, std::nullopt);
    EXPECT_EQ(defaults.systems, (Codes{{"G", "R", "E", "C"}}));
}

TEST(SettingsFromConfig, CopiesStoredValuesAndLetters) {
    AnalysisConfigArgs args;
    args.systems = std::vector<std::string>{"GPS", "", "R"};
    args.min_cn0 = 20.0;
    args.max_cn0 = 55.0;
    args.time_bin_seconds = 4000000000u;
    args.spoofing_unexpected_threshold = 0.5;
    args.spoofing_min_unexpected_count = 3.0;
    const AnalysisSettings settings = settings_from_config(make_analysis_config(args));
    EXPECT_EQ(settings.systems, (std::vector<char32_t>{U'G', U'R'}));
    EXPECT_EQ(settings.min_cn0, 20.0);
    EXPECT_EQ(settings.max_cn0, 55.0);
    EXPECT_EQ(settings.time_bin_seconds, 4000000000u);
    EXPECT_EQ(settings.anomaly_threshold_low, 2.25);
    EXPECT_EQ(settings.anomaly_threshold_high, 4.5);
    EXPECT_EQ(settings.anomaly_threshold_critical, 6.0);
    EXPECT_EQ(settings.spoofing_unexpected_threshold, 0.5);
    EXPECT_EQ(settings.spoofing_min_unexpected_count, 3.0);
    EXPECT_FALSE(settings.orbit_source.has_value());

    // A configuration without systems still analyses the four main constellations.
    EXPECT_EQ(settings_from_config(make_analysis_config({})).systems, (std::vector<char32_t>{U'G', U'R', U'E', U'C'}));
}

TEST(QuickSettings, FixedValues) {
    const AnalysisSettings settings = quick_analysis_settings(12.5, Codes{{"E"}});
    EXPECT_EQ(settings.systems, (std::vector<char32_t>{U'E'}));
    EXPECT_EQ(settings.min_elevation, 12.5);
    EXPECT_EQ(settings.min_cn0, 0.0);
    EXPECT_EQ(settings.max_cn0, 60.0);
    EXPECT_EQ(settings.time_bin_seconds, 60u);
    EXPECT_EQ(settings.anomaly_threshold_low, 3.0);
    EXPECT_EQ(settings.anomaly_threshold_high, 6.0);
    EXPECT_EQ(settings.anomaly_threshold_critical, 10.0);
    EXPECT_EQ(settings.spoofing_unexpected_threshold, 0.40);
    EXPECT_EQ(settings.spoofing_min_unexpected_count, 8.0);
}

}  // namespace
}  // namespace vardoln
