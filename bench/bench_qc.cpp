// The quality-control pass (multipath, arcs, phase slips) on a day of 30 s multi-GNSS data with
// its navigation file, against the C/N0 analysis of the same record in the same run: thread CPU
// time (best of the rounds) and peak heap. Targets for the whole qc command, which reads the
// file, analyses it and runs this pass: at most 2x the time and 1.2x the peak memory of the
// analysis alone. Then the multipath figures of the three real day files.
//
//   cmake -S . -B build/bench -G Ninja -DVARDOLN_BUILD_PYTHON=OFF -DVARDOLN_BUILD_BENCH=ON
//   cmake --build build/bench --target bench_qc && build/bench/bench/bench_qc [rounds]
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <variant>
#include <vector>

#include "../tests/cpp/test_qc_day_files.hpp"
#include "bench_support.hpp"
#include "cn0/analysis.hpp"
#include "cn0/settings.hpp"
#include "navigation/orbit_source.hpp"
#include "qc/qc.hpp"
#include "qc/signals.hpp"

// Live heap bytes and their high-water mark, counted in the global allocation functions.
namespace heap {
std::size_t live = 0;
std::size_t peak = 0;

void* allocate(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (!block) throw std::bad_alloc();
    live += malloc_usable_size(block);
    peak = std::max(peak, live);
    return block;
}
void release(void* block) noexcept {
    if (!block) return;
    live -= malloc_usable_size(block);
    std::free(block);
}
// Runs the work and returns the highest live heap it reached above the level it started at.
template <typename Work>
std::size_t peak_above_start(Work&& work) {
    const std::size_t start = live;
    peak = live;
    work();
    return peak - start;
}
}  // namespace heap

void* operator new(std::size_t size) { return heap::allocate(size); }
void* operator new[](std::size_t size) { return heap::allocate(size); }
void operator delete(void* block) noexcept { heap::release(block); }
void operator delete[](void* block) noexcept { heap::release(block); }
void operator delete(void* block, std::size_t) noexcept { heap::release(block); }
void operator delete[](void* block, std::size_t) noexcept { heap::release(block); }

namespace {

using bench::best_seconds;
using vardoln::qc_testing::shared_nav;
using vardoln::qc_testing::shared_obs;

struct DayFile {
    const char* obs;
    std::vector<const char*> nav;
};

const DayFile kTimed = {"crinex/ESBC00DNK_R_20201770000_01D_30S_MO.crx", {"nav/ESBC00DNK_R_20201770000_01D_MN.rnx"}};
const DayFile kFigures[] = {
    kTimed,
    {"crinex/NYA100NOR_S_20241240000_01D_30S_MO.crx",
     {"nav/NYA100NOR_S_20241240000_01D_GN.rnx", "nav/NYA100NOR_S_20241240000_01D_EN.rnx",
      "nav/NYA100NOR_S_20241240000_01D_CN.rnx"}},
    {"crinex/york0440.15d", {}},
};

double megabytes(std::size_t bytes) { return static_cast<double>(bytes) / 1e6; }

std::string rms_text(const std::optional<double>& rms) {
    char text[16];
    if (!rms) return "      -";
    std::snprintf(text, sizeof text, "%7.3f", *rms);
    return text;
}

void print_figures(const DayFile& file, const vardoln::QcResult& result, double min_elevation_deg) {
    const auto pairs = vardoln::signal_pairs();
    std::printf("%s%s\n", file.obs, file.nav.empty() ? " (no navigation data)" : " with navigation data");
    std::printf("  %-8s %-22s %4s %8s %8s %8s %6s %6s %9s", "pair", "codes", "sats", "samples", "MP_i m", "MP_j m",
                "slips", "lli", "obs/slip");
    if (result.has_elevations) std::printf("  %-17s %-17s", "MP_i/j 10-20 deg", "MP_i/j 45-90 deg");
    std::printf("\n");
    for (const vardoln::PairSummary& summary : result.summaries) {
        const vardoln::SignalPair& pair = pairs[summary.pair];
        const std::string name = std::string(1, pair.system) + " " + std::string(pair.name);
        const std::string per_slip =
            summary.obs_per_slip ? std::to_string(static_cast<long long>(*summary.obs_per_slip)) : "-";
        std::printf("  %-8s %-22s %4u %8llu %8s %8s %6llu %6llu %9s", name.c_str(),
                    summary.codes_used.empty() ? "" : summary.codes_used.front().c_str(), summary.satellites,
                    static_cast<unsigned long long>(summary.samples), rms_text(summary.rms_i_m).c_str(),
                    rms_text(summary.rms_j_m).c_str(), static_cast<unsigned long long>(summary.slips),
                    static_cast<unsigned long long>(summary.lli_slips), per_slip.c_str());
        if (result.has_elevations) {
            const auto low = vardoln::rms_in_elevation_range(result, summary.pair, min_elevation_deg,
                                                             min_elevation_deg + 10.0);
            const auto high = vardoln::rms_in_elevation_range(result, summary.pair, 45.0, 90.01);
            std::printf("  %7s/%-7s   %7s/%-7s", rms_text(low ? std::optional(low->rms_i_m) : std::nullopt).c_str(),
                        rms_text(low ? std::optional(low->rms_j_m) : std::nullopt).c_str(),
                        rms_text(high ? std::optional(high->rms_i_m) : std::nullopt).c_str(),
                        rms_text(high ? std::optional(high->rms_j_m) : std::nullopt).c_str());
        }
        std::printf("\n");
    }
    for (const vardoln::MissingPair& missing : result.missing) {
        const vardoln::SignalPair& pair = pairs[missing.pair];
        std::printf("  %c %-6s no rows%s%s: %s\n", pair.system, std::string(pair.name).c_str(),
                    missing.satellite.empty() ? "" : " for ", missing.satellite.c_str(), missing.text.c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    std::optional<vardoln::RinexObsData> obs;
    const std::size_t before_record = heap::live;
    const double read_s = best_seconds(rounds, [&] { obs = shared_obs(kTimed.obs); });
    const std::size_t record_bytes = heap::live - before_record;
    auto nav = shared_nav(kTimed.nav);
    if (!obs || !nav) {
        std::printf("%s or its navigation file missing, skipped\n", kTimed.obs);
        return 0;
    }
    const auto nav_data = std::make_shared<const vardoln::NavigationData>(std::move(*nav));
    const vardoln::QcSettings qc_settings;
    vardoln::AnalysisSettings settings = vardoln::quick_analysis_settings(qc_settings.min_elevation_deg, std::nullopt);
    settings.orbit_source = vardoln::make_orbit_source(nav_data);

    vardoln::AnalysisResult analysis;
    vardoln::QcResult qc;
    const double analysis_s = best_seconds(rounds, [&] { analysis = vardoln::run_analysis(*obs, settings); });
    const double qc_s = best_seconds(rounds, [&] { qc = vardoln::run_qc(*obs, nav_data.get(), qc_settings); });

    // Heap: each pass once more from a clean start, its peak and what its result keeps.
    analysis = {};
    qc = {};
    const std::size_t base = heap::live;
    const std::size_t analysis_peak = heap::peak_above_start([&] { analysis = vardoln::run_analysis(*obs, settings); });
    const std::size_t analysis_kept = heap::live - base;
    const std::size_t qc_peak = heap::peak_above_start([&] { qc = vardoln::run_qc(*obs, nav_data.get(), qc_settings); });
    const std::size_t qc_kept = heap::live - base - analysis_kept;
    // The qc command holds the record and the analysis result while this pass runs.
    const double analyze_peak = static_cast<double>(record_bytes + analysis_peak);
    const double command_peak = static_cast<double>(record_bytes + std::max(analysis_peak, analysis_kept + qc_peak));

    const bool correct = qc.epochs == obs->epochs.size() && !qc.summaries.empty() && qc.has_elevations &&
                         qc.samples.size() > 0 && analysis.summary.total_observations > 0;
    std::printf("%s with its navigation file (%zu epochs, %zu QC samples, %zu rows)\n", kTimed.obs,
                obs->epochs.size(), qc.samples.size(), qc.rows.size());
    std::printf("  read and parse the file       %8.1f ms\n", read_s * 1e3);
    std::printf("  C/N0 analysis (run_analysis)  %8.1f ms\n", analysis_s * 1e3);
    std::printf("  QC pass (run_qc)              %8.1f ms   ratio %.2f to the analysis\n", qc_s * 1e3,
                qc_s / analysis_s);
    std::printf("  read + analysis + QC against read + analysis: ratio %.2f (target <= 2)\n",
                (read_s + analysis_s + qc_s) / (read_s + analysis_s));
    std::printf("  heap: record %.1f MB, analysis peak %.1f MB (keeps %.1f MB), QC peak %.1f MB (keeps %.1f MB)\n",
                megabytes(record_bytes), megabytes(analysis_peak), megabytes(analysis_kept), megabytes(qc_peak),
                megabytes(qc_kept));
    std::printf("  peak heap, record + analysis + QC against record + analysis: ratio %.2f (target <= 1.2)\n",
                command_peak / analyze_peak);
    std::printf("  check                         %s\n\n", correct ? "ok" : "WRONG");

    print_figures(kTimed, qc, qc_settings.min_elevation_deg);
    for (const DayFile& file : kFigures) {
        if (file.obs == kTimed.obs) continue;
        const auto other = shared_obs(file.obs);
        const auto other_nav = file.nav.empty() ? std::nullopt : shared_nav(file.nav);
        if (!other) continue;
        const auto result = vardoln::run_qc(*other, other_nav ? &*other_nav : nullptr, qc_settings);
        print_figures(file, result, qc_settings.min_elevation_deg);
    }
    return correct ? 0 : 1;
}
