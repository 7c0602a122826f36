// One analysis run on the largest recording (a day of 30 s multi-GNSS data), without and with
// its broadcast navigation file, and the JSON export of the result; thread CPU time, best of
// the rounds. The navigation run is quoted as a ratio to the run without (target: at most 2.5),
// the export as a ratio to the navigation run (target: at most 1.2).
//
//   cmake -S . -B build/bench -G Ninja -DVARDOLN_BUILD_PYTHON=OFF -DVARDOLN_BUILD_BENCH=ON
//   cmake --build build/bench --target bench_analysis && build/bench/bench/bench_analysis [rounds]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <variant>

#include "bench_support.hpp"
#include "cn0/analysis.hpp"
#include "cn0/json_export.hpp"
#include "cn0/settings.hpp"
#include "navigation/nav_data.hpp"
#include "navigation/orbit_source.hpp"
#include "rinex/file_io.hpp"
#include "rinex/obs_data.hpp"

using bench::best_seconds;
using bench::read_file;

namespace {

constexpr const char* kObservationFile = "obs3/ESBC00DNK_R_20201770000_01D_30S_MO.rnx";
constexpr const char* kNavigationFile = "nav/ESBC00DNK_R_20201770000_01D_MN.rnx";
constexpr std::size_t kEpochs = 2880;  // counted independently for the data README

// The str's storage as to_json() uses it, without Python: one block, grown by realloc and paged
// as the binding pages it.
class MallocStorage final : public vardoln::JsonStorage {
public:
    ~MallocStorage() { release(); }
    char* reserve(std::size_t used, std::size_t size) override {
        char* grown = static_cast<char*>(std::realloc(block_, size));
        if (grown == nullptr) return nullptr;
        block_ = grown;
        vardoln::prefer_large_pages(grown + used, size - used);
        return grown;
    }
    void release() {
        std::free(block_);
        block_ = nullptr;
    }

private:
    char* block_ = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string root = VARDOLN_SHARED_DATA;
    std::string obs_bytes;
    std::string nav_bytes;
    if (!read_file(root + "/" + kObservationFile, obs_bytes) || !read_file(root + "/" + kNavigationFile, nav_bytes)) {
        std::printf("%s or %s missing, skipped\n", kObservationFile, kNavigationFile);
        return 0;
    }

    vardoln::RinexObsData obs;
    const double parse_s = best_seconds(rounds, [&] {
        auto parsed = vardoln::parse_observation_file(obs_bytes, kObservationFile);
        if (auto* data = std::get_if<vardoln::RinexObsData>(&parsed)) obs = std::move(*data);
    });
    auto nav_parsed = vardoln::parse_navigation(nav_bytes);
    auto* nav = std::get_if<vardoln::NavigationData>(&nav_parsed);
    if (!nav) {
        std::printf("navigation file did not parse\n");
        return 1;
    }
    const auto shared_nav = std::make_shared<const vardoln::NavigationData>(std::move(*nav));

    vardoln::AnalysisSettings settings = vardoln::quick_analysis_settings(5.0, std::nullopt);
    vardoln::AnalysisResult plain;
    const double plain_s = best_seconds(rounds, [&] { plain = vardoln::run_analysis(obs, settings); });
    settings.orbit_source = vardoln::make_orbit_source(shared_nav);
    vardoln::AnalysisResult with_nav;
    const double nav_s = best_seconds(rounds, [&] { with_nav = vardoln::run_analysis(obs, settings); });
    // The export as to_json() makes it: into a block that is then cut to the text.
    MallocStorage storage;
    std::size_t json_bytes = 0;
    const double json_s = best_seconds(rounds, [&] {
        json_bytes = vardoln::write_result_json(with_nav, false, storage).size;
        storage.release();
    });
    const std::string json = vardoln::result_to_json(with_nav, false);

    // The answers the figures stand for: every epoch analysed, and a prediction with geometry.
    const bool correct = obs.epochs.size() == kEpochs && plain.timeseries.timestamps.size() == kEpochs &&
                         plain.summary.total_observations > 0 && with_nav.visibility.has_value() &&
                         with_nav.visibility->mean_predicted > 0.0 && with_nav.skyplot.heatmap_points.size() > 1 &&
                         !json.empty() && json.front() == '{';

    std::printf("%s (%zu epochs, %llu samples without nav, %llu with nav)\n", kObservationFile, obs.epochs.size(),
                static_cast<unsigned long long>(plain.summary.total_observations),
                static_cast<unsigned long long>(with_nav.summary.total_observations));
    std::printf("  parse observation file   %8.1f ms\n", parse_s * 1e3);
    std::printf("  analysis without nav     %8.1f ms\n", plain_s * 1e3);
    std::printf("  analysis with nav        %8.1f ms   ratio %.2f (target <= 2.5)\n", nav_s * 1e3, nav_s / plain_s);
    std::printf("  JSON export (compact)    %8.1f ms   %.1f MB, ratio to the analysis with nav %.2f (target <= 1.2)\n",
                json_s * 1e3, static_cast<double>(json_bytes) / 1e6, json_s / nav_s);
    std::printf("  check                    %s\n", correct ? "ok" : "WRONG");
    return correct ? 0 : 1;
}
