// A recording loaded once: RINEX 2 navigation files of two constellations merged by the core
// position each constellation as its own file does; the analysis fed the recording's geometry
// gives the result it gives computing the geometry itself; the geometry is computed once for
// every caller, also for callers on several threads.
#include <gtest/gtest.h>

#include <optional>
#include <span>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "arrays/coverage.hpp"
#include "arrays/recording.hpp"
#include "cn0/analysis.hpp"
#include "cn0/json_export.hpp"
#include "navigation/orbit_source.hpp"
#include "rinex/counters.hpp"
#include "test_real_data.hpp"

namespace vardoln::arrays {
namespace {

std::optional<Recording> recording(const std::string& obs, const std::vector<std::string>& navs) {
    std::vector<std::string> contents;
    for (const std::string& name : navs) {
        auto bytes = test::real_bytes(name);
        if (!bytes) return std::nullopt;
        contents.push_back(std::move(*bytes));
    }
    auto obs_bytes = test::real_bytes(obs);
    if (!obs_bytes) return std::nullopt;
    std::vector<FileBytes> nav_files;
    for (std::size_t i = 0; i < navs.size(); ++i) nav_files.push_back({navs[i], contents[i]});
    auto loaded = load_recording(FileBytes{obs, *obs_bytes}, nav_files);
    EXPECT_TRUE(std::holds_alternative<Recording>(loaded));
    if (!std::holds_alternative<Recording>(loaded)) return std::nullopt;
    return std::get<Recording>(std::move(loaded));
}

const CoverageRow& row_of(const std::vector<CoverageRow>& rows, const std::string& system) {
    for (const CoverageRow& row : rows) {
        if (row.system == system) return row;
    }
    ADD_FAILURE() << "no row " << system;
    return rows.back();
}

TEST(LoadedRecording, Rinex2NavigationFilesOfTwoConstellationsMergeAsEachAlone) {
    const std::string obs = "obs3/pdel0010.21o";
    auto both = recording(obs, {"nav/cbw10010.21n", "nav/dlf10010.21g"});
    auto gps = recording(obs, {"nav/cbw10010.21n"});
    auto glonass = recording(obs, {"nav/dlf10010.21g"});
    if (!both || !gps || !glonass) GTEST_SKIP() << "pdel0010.21o or its navigation files not present";
    const auto merged = navigation_coverage(both->obs(), *both->nav(), both->geometry());
    const auto gps_alone = navigation_coverage(gps->obs(), *gps->nav());
    const auto glonass_alone = navigation_coverage(glonass->obs(), *glonass->nav());
    for (const auto& [system, alone] : {std::pair{"GPS", &gps_alone}, std::pair{"GLONASS", &glonass_alone}}) {
        const CoverageRow& expected = row_of(*alone, system);
        const CoverageRow& got = row_of(merged, system);
        EXPECT_GT(expected.covered, 0u) << system;
        EXPECT_EQ(got.observed, expected.observed) << system;
        EXPECT_EQ(got.covered, expected.covered) << system;
        EXPECT_EQ(got.uncovered_satellites, expected.uncovered_satellites) << system;
    }
    const CoverageRow& all = row_of(merged, "all");
    EXPECT_EQ(all.covered, row_of(gps_alone, "GPS").covered + row_of(glonass_alone, "GLONASS").covered);
}

TEST(LoadedRecording, AnalysisOnTheSharedGeometryEqualsItsOwnAndComputesItOnce) {
    auto loaded = recording("obs3/SEPT265G.21O", {"nav/SEPT2650.21P"});
    if (!loaded) GTEST_SKIP() << "SEPT265G.21O not present";
    AnalysisSettings settings;
    settings.orbit_source = make_orbit_source(loaded->shared_nav());

    const auto passes = [] { return core_counters().geometry_passes.load(); };
    const auto before = passes();
    std::vector<std::thread> callers;
    for (int i = 0; i < 4; ++i) callers.emplace_back([&] { ASSERT_NE(loaded->geometry(), nullptr); });
    for (std::thread& caller : callers) caller.join();
    EXPECT_EQ(passes() - before, 1u);

    const Recording copy = *loaded;  // copies share the geometry
    const std::span<const std::optional<Ecef>> positions(copy.geometry()->positions);
    const auto shared = result_to_json(run_analysis(copy.obs(), settings, positions), false);
    EXPECT_EQ(passes() - before, 1u);
    const auto own = result_to_json(run_analysis(copy.obs(), settings), false);
    EXPECT_EQ(passes() - before, 2u);
    EXPECT_EQ(shared, own);
    EXPECT_NE(shared.find("\"has_prediction\":true"), std::string::npos);
}

}  // namespace
}  // namespace vardoln::arrays
