// The tables of vardoln_tools against the reader and the analysis they build on, CPU time of
// the native work on a day file: observation columns against the parse alone, and geometry,
// per-signal statistics and completeness against the analysis with navigation data.
#include <cstdio>
#include <memory>
#include <string>
#include <variant>

#include "arrays/columns.hpp"
#include "arrays/completeness.hpp"
#include "arrays/signals.hpp"
#include "bench_support.hpp"
#include "cn0/analysis.hpp"
#include "cn0/settings.hpp"
#include "navigation/nav_data.hpp"
#include "navigation/orbit_source.hpp"
#include "rinex/obs_data.hpp"

namespace {

const std::string kShared = VARDOLN_SHARED_DATA;

}  // namespace

int main() {
    std::string obs_text;
    std::string nav_text;
    if (!bench::read_file(kShared + "/obs3/ESBC00DNK_R_20201770000_01D_30S_MO.rnx", obs_text) ||
        !bench::read_file(kShared + "/nav/ESBC00DNK_R_20201770000_01D_MN.rnx", nav_text)) {
        std::puts("no input files (the shared data directory is missing)");
        return 0;
    }
    const auto obs = std::get<vardoln::RinexObsData>(vardoln::parse_observation_file(obs_text, "ESBC.rnx"));
    const auto nav = std::get<vardoln::NavigationData>(vardoln::parse_navigation(nav_text));
    constexpr int kRounds = 5;

    std::size_t rows = 0;
    const double parse = bench::best_seconds(kRounds, [&] {
        rows += std::get<vardoln::RinexObsData>(vardoln::parse_observation_file(obs_text, "ESBC.rnx")).values.size();
    });
    const double columns = bench::best_seconds(kRounds, [&] { rows += vardoln::arrays::observation_columns(obs).value.size(); });
    std::printf("observation columns   %8.1f ms   parse %8.1f ms   columns/parse %.2f\n", columns * 1e3, parse * 1e3,
                columns / parse);

    auto settings = vardoln::quick_analysis_settings(5.0, std::nullopt);
    settings.orbit_source = vardoln::make_orbit_source(std::make_shared<const vardoln::NavigationData>(nav));
    const double analysis = bench::best_seconds(kRounds, [&] { rows += vardoln::run_analysis(obs, settings).summary.total_epochs; });
    const double geometry = bench::best_seconds(kRounds, [&] { rows += vardoln::arrays::geometry_columns(obs, nav).time.size(); });
    const double stats = bench::best_seconds(kRounds, [&] {
        rows += vardoln::arrays::signal_stats(obs, &nav, 5.0, std::nullopt).by_signal.size();
    });
    const double complete = bench::best_seconds(kRounds, [&] {
        rows += std::holds_alternative<vardoln::arrays::Completeness>(vardoln::arrays::completeness(obs, nav, 10.0));
    });
    std::printf("analysis with navigation %8.1f ms; against it:\n", analysis * 1e3);
    std::printf("  geometry            %8.1f ms   ratio %.2f\n", geometry * 1e3, geometry / analysis);
    std::printf("  signal statistics   %8.1f ms   ratio %.2f\n", stats * 1e3, stats / analysis);
    std::printf("  completeness        %8.1f ms   ratio %.2f\n", complete * 1e3, complete / analysis);
    return rows == 0;
}
