// Observation reader throughput against a plain newline scan of the same bytes, both from memory,
// in thread CPU time (best of the rounds).
//
//   cmake -S . -B build/bench -G Ninja -DVARDOLN_BUILD_PYTHON=OFF -DVARDOLN_BUILD_BENCH=ON
//   cmake --build build/bench --target bench_obs_parse && build/bench/bench/bench_obs_parse [rounds]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <variant>
#include <vector>

#include "bench_support.hpp"
#include "rinex/obs_data.hpp"

using bench::best_seconds;
using bench::read_file;

namespace {

struct Case {
    const char* path;         // below the shared data folder
    std::size_t epochs;       // epochs with data, as counted independently for the data README
};

constexpr Case cases[] = {
    {"obs3/ESBC00DNK_R_20201770000_01D_30S_MO.rnx", 2880},
    {"obs3/NYA100NOR_S_20241240000_01D_30S_MO.rnx", 2880},
    {"obs2/york0440.15o", 2880},
};

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string root = VARDOLN_SHARED_DATA;
    bool all_correct = true;
    std::printf("%-46s %6s %10s %10s %7s %12s %8s %s\n", "file", "MB", "parse MB/s", "scan MB/s", "ratio",
                "record/file", "epochs", "check");
    for (const Case& c : cases) {
        std::string bytes;
        if (!read_file(root + "/" + c.path, bytes)) {
            std::printf("%-46s missing, skipped\n", c.path);
            continue;
        }
        const double megabytes = static_cast<double>(bytes.size()) / 1e6;

        std::size_t epochs = 0;
        std::size_t record_bytes = 0;
        const double parse_seconds = best_seconds(rounds, [&] {
            auto result = vardoln::parse_observation_file(bytes, c.path);
            if (const auto* data = std::get_if<vardoln::RinexObsData>(&result)) {
                epochs = data->epochs.size();
                record_bytes = data->values.size() * sizeof(vardoln::ObservationValue) +
                               data->satellite_entries.size() * sizeof(vardoln::SatelliteObservations) +
                               data->epochs.size() * sizeof(vardoln::ObservationEpoch);
            }
        });

        std::size_t newlines = 0;
        const double scan_seconds = best_seconds(rounds, [&] {
            std::size_t count = 0;
            const char* p = bytes.data();
            const char* end = p + bytes.size();
            while ((p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)))) != nullptr) {
                ++count;
                ++p;
            }
            newlines = count;
        });

        const bool correct = epochs == c.epochs && newlines > 0;
        all_correct = all_correct && correct;
        const double parse_rate = megabytes / parse_seconds;
        const double scan_rate = megabytes / scan_seconds;
        std::printf("%-46s %6.1f %10.0f %10.0f %7.3f %12.2f %8zu %s\n", c.path, megabytes, parse_rate, scan_rate,
                    parse_rate / scan_rate, static_cast<double>(record_bytes) / static_cast<double>(bytes.size()),
                    epochs, correct ? "ok" : "WRONG");
    }
    return all_correct ? 0 : 1;
}
