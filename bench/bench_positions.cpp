// Satellite positions per second over a day of 30 s epochs, and navigation parsing speed.
//
//   cmake -S . -B build/bench -G Ninja -DVARDOLN_BUILD_PYTHON=OFF -DVARDOLN_BUILD_BENCH=ON
//   cmake --build build/bench --target bench_positions && build/bench/bench/bench_positions
//
// Each figure is also given as a ratio to the record choice alone (the Julian value of every
// record's toc and the nearest-record scan), measured in the same run.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "navigation/nav_data.hpp"
#include "navigation/orbit_detail.hpp"
#include "navigation/orbits.hpp"

namespace {

using namespace vardoln;
using Clock = std::chrono::steady_clock;

std::optional<std::string> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<EpochTime> day_of_epochs(EpochTime start) {
    std::vector<EpochTime> epochs;
    for (std::uint32_t k = 0; k < 2880; ++k) {
        EpochTime epoch = start;
        epoch.hour = k * 30 / 3600;
        epoch.minute = k * 30 % 3600 / 60;
        epoch.second = static_cast<double>(k * 30 % 60);
        epochs.push_back(epoch);
    }
    return epochs;
}

struct Run {
    std::size_t calls = 0;
    std::size_t found = 0;
    double radius_sum_km = 0.0;  // checks the answers: mean radius must be that of the orbits
    double seconds = 0.0;

    void count(const std::optional<vardoln::Ecef>& p) {
        ++calls;
        if (!p) return;
        ++found;
        radius_sum_km += std::sqrt((*p)[0] * (*p)[0] + (*p)[1] * (*p)[1] + (*p)[2] * (*p)[2]) / 1000.0;
    }
};

// Every key of the maps at every epoch; the best of `repeats` timings.
template <typename Map>
Run positions(const NavigationData& nav, const std::vector<const Map*>& maps, const std::vector<EpochTime>& epochs,
              int repeats) {
    Run best;
    for (int r = 0; r < repeats; ++r) {
        Run run;
        const auto start = Clock::now();
        for (const Map* map : maps) {
            for (const auto& entry : *map) {
                for (const EpochTime& epoch : epochs) {
                    const auto p = satellite_position(nav, entry.first, epoch);
                    run.count(p);
                }
            }
        }
        run.seconds = seconds_since(start);
        if (r == 0 || run.seconds < best.seconds) best = run;
    }
    return best;
}

// The same requests through one OrbitEvaluator, epoch by epoch as an analysis makes them; each
// position must be the same bits as satellite_position's.
template <typename Map>
Run evaluator_positions(const NavigationData& nav, const std::vector<const Map*>& maps,
                        const std::vector<EpochTime>& epochs, int repeats, std::size_t& mismatches) {
    std::vector<std::string_view> keys;
    for (const Map* map : maps)
        for (const auto& entry : *map) keys.push_back(entry.first);
    Run best;
    for (int r = 0; r < repeats; ++r) {
        Run run;
        const auto start = Clock::now();
        OrbitEvaluator evaluator(nav);
        for (const std::string_view key : keys) evaluator.add_satellite(key);
        for (const EpochTime& epoch : epochs) {
            const OrbitEpoch at = orbit_epoch(epoch);
            for (std::size_t k = 0; k < keys.size(); ++k) {
                const auto p = evaluator.position(k, at);
                run.count(p);
            }
        }
        run.seconds = seconds_since(start);
        if (r == 0 || run.seconds < best.seconds) best = run;
    }
    mismatches = 0;
    OrbitEvaluator evaluator(nav);
    for (const std::string_view key : keys) evaluator.add_satellite(key);
    for (const EpochTime& epoch : epochs) {
        const OrbitEpoch at = orbit_epoch(epoch);
        for (std::size_t k = 0; k < keys.size(); ++k) {
            const auto batch = evaluator.position(k, at);
            const auto single = satellite_position(nav, keys[k], epoch);
            const bool same = batch.has_value() == single.has_value() &&
                              (!batch || std::memcmp(batch->data(), single->data(), sizeof(Ecef)) == 0);
            mismatches += same ? 0 : 1;
        }
    }
    return best;
}

// One satellite's records with their time order, made once as the evaluator makes it.
template <typename Record>
struct TimedList {
    const std::vector<Record>* records;
    std::vector<orbit_detail::TimedRecord> by_time;
};

template <typename Map>
auto timed_lists(const std::vector<const Map*>& maps) {
    std::vector<TimedList<typename Map::mapped_type::value_type>> lists;
    for (const Map* map : maps)
        for (const auto& entry : *map) lists.push_back({&entry.second, orbit_detail::timed_records(entry.second)});
    return lists;
}

template <typename Record>
const Record* choose(const TimedList<Record>& list, std::size_t& cursor, const EpochTime& epoch, double window_days) {
    const auto* chosen = orbit_detail::choose_timed(list.by_time, cursor, julian_day(epoch), window_days);
    return chosen == nullptr ? nullptr : &(*list.records)[chosen->index];
}

// The record choice alone, for the baseline.
template <typename Map>
double choice_only_seconds(const std::vector<const Map*>& maps, const std::vector<EpochTime>& epochs,
                           double window_days, int repeats, std::size_t& chosen) {
    const auto lists = timed_lists(maps);
    double best = 0.0;
    for (int r = 0; r < repeats; ++r) {
        chosen = 0;
        const auto start = Clock::now();
        for (const auto& list : lists) {
            std::size_t cursor = 0;
            for (const EpochTime& epoch : epochs) chosen += choose(list, cursor, epoch, window_days) != nullptr;
        }
        const double seconds = seconds_since(start);
        if (r == 0 || seconds < best) best = seconds;
    }
    return best;
}

// The plain walk over the Julian value of every record: the reference the record choice must
// agree with, and the baseline of its speed.
template <typename Record>
const Record* julian_walk(const std::vector<Record>& records, double julian, double window_days) {
    const Record* best = nullptr;
    double best_distance = 0.0;
    for (const Record& record : records) {
        const double distance = std::fabs(julian_day(record.toc) - julian);
        if (distance < window_days && (best == nullptr || distance < best_distance)) {
            best = &record;
            best_distance = distance;
        }
    }
    return best;
}

template <typename Map>
double julian_walk_seconds(const std::vector<const Map*>& maps, const std::vector<EpochTime>& epochs,
                           double window_days, int repeats, std::size_t& disagreements) {
    const auto lists = timed_lists(maps);
    double best = 0.0;
    for (int r = 0; r < repeats; ++r) {
        disagreements = 0;
        const auto start = Clock::now();
        for (const auto& list : lists) {
            std::size_t cursor = 0;
            for (const EpochTime& epoch : epochs)
                disagreements += julian_walk(*list.records, julian_day(epoch), window_days) !=
                                 choose(list, cursor, epoch, window_days);
        }
        const double seconds = seconds_since(start);
        if (r == 0 || seconds < best) best = seconds;
    }
    return best;
}

void report(const char* name, const Run& run, double baseline_seconds) {
    std::printf("%-28s %9zu calls %9zu positions  %6.1f ns/call  %6.2f M calls/s  %5.1fx choice  mean r %.0f km\n",
                name, run.calls, run.found, run.seconds / static_cast<double>(run.calls) * 1e9,
                static_cast<double>(run.calls) / run.seconds / 1e6, run.seconds / baseline_seconds,
                run.found ? run.radius_sum_km / static_cast<double>(run.found) : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string data = argc > 1 ? argv[1] : VARDOLN_SHARED_DATA;
    const int repeats = 3;
    int status = 0;

    const auto esbc = read_file(data + "/nav/ESBC00DNK_R_20201770000_01D_MN.rnx");
    if (!esbc) {
        std::fprintf(stderr, "no navigation data under %s\n", data.c_str());
        return 1;
    }
    const NavigationData nav = std::get<NavigationData>(parse_navigation(*esbc));
    const std::vector<EpochTime> epochs = day_of_epochs({2020, 6, 25, 0, 0, 0.0});
    std::printf("ESBC00DNK 2020-06-25, %zu epochs of 30 s\n", epochs.size());

    using KeplerMap = decltype(nav.gps);
    using GlonassMap = decltype(nav.glonass);
    const std::vector<const KeplerMap*> kepler_maps{&nav.gps, &nav.galileo, &nav.beidou};
    const std::vector<const GlonassMap*> glonass_maps{&nav.glonass};

    std::size_t kepler_chosen = 0, glonass_chosen = 0;
    const double kepler_choice = choice_only_seconds(kepler_maps, epochs, orbit_detail::kKeplerianWindowDays, repeats, kepler_chosen);
    const double glonass_choice = choice_only_seconds(glonass_maps, epochs, orbit_detail::kGlonassWindowDays, repeats, glonass_chosen);
    const Run kepler = positions(nav, kepler_maps, epochs, repeats);
    const Run glonass = positions(nav, glonass_maps, epochs, repeats);
    std::size_t kepler_disagree = 0, glonass_disagree = 0;
    const double kepler_walk =
        julian_walk_seconds(kepler_maps, epochs, orbit_detail::kKeplerianWindowDays, repeats, kepler_disagree);
    const double glonass_walk =
        julian_walk_seconds(glonass_maps, epochs, orbit_detail::kGlonassWindowDays, repeats, glonass_disagree);
    // the walk timing includes one choice per request, for the comparison
    std::printf("record choice vs plain Julian walk: Keplerian %.1fx faster, GLONASS %.1fx faster\n",
                (kepler_walk - kepler_choice) / kepler_choice, (glonass_walk - glonass_choice) / glonass_choice);
    if (kepler_disagree != 0 || glonass_disagree != 0) {
        std::fprintf(stderr, "record choice differs from the Julian walk %zu times\n", kepler_disagree + glonass_disagree);
        status = 1;
    }
    report("Keplerian (G J E C)", kepler, kepler_choice);
    report("GLONASS (RK4, 60 s steps)", glonass, glonass_choice);
    std::printf("GLONASS / Keplerian time per call: %.1fx\n",
                (glonass.seconds / static_cast<double>(glonass.calls)) / (kepler.seconds / static_cast<double>(kepler.calls)));

    std::size_t kepler_mismatch = 0, glonass_mismatch = 0;
    const Run kepler_batch = evaluator_positions(nav, kepler_maps, epochs, repeats, kepler_mismatch);
    const Run glonass_batch = evaluator_positions(nav, glonass_maps, epochs, repeats, glonass_mismatch);
    report("Keplerian, OrbitEvaluator", kepler_batch, kepler_choice);
    report("GLONASS, OrbitEvaluator", glonass_batch, glonass_choice);
    std::printf("OrbitEvaluator vs satellite_position: Keplerian %.1fx faster, GLONASS %.1fx faster\n",
                kepler.seconds / kepler_batch.seconds, glonass.seconds / glonass_batch.seconds);
    if (kepler_mismatch != 0 || glonass_mismatch != 0 || kepler_batch.found != kepler.found ||
        glonass_batch.found != glonass.found) {
        std::fprintf(stderr, "OrbitEvaluator differs from satellite_position %zu times\n",
                     kepler_mismatch + glonass_mismatch);
        status = 1;
    }

    // Answers: every chosen record yields a position, at orbital radii.
    if (kepler.found != kepler_chosen || glonass.found != glonass_chosen) {
        std::fprintf(stderr, "position count differs from record choice count\n");
        status = 1;
    }
    const double kepler_mean = kepler.radius_sum_km / static_cast<double>(std::max<std::size_t>(kepler.found, 1));
    const double glonass_mean = glonass.radius_sum_km / static_cast<double>(std::max<std::size_t>(glonass.found, 1));
    if (kepler_mean < 26000 || kepler_mean > 32000 || std::fabs(glonass_mean - 25510) > 100) {
        std::fprintf(stderr, "implausible mean radius\n");
        status = 1;
    }

    const auto big = read_file(data + "/nav/BRD400DLR_S_20230710000_01D_MN.rnx");
    if (big) {
        double best = 0.0;
        std::size_t keys = 0;
        for (int r = 0; r < repeats; ++r) {
            const auto start = Clock::now();
            const auto result = parse_navigation(*big);
            const double seconds = seconds_since(start);
            if (const auto* parsed = std::get_if<NavigationData>(&result))
                keys = parsed->gps.size() + parsed->glonass.size() + parsed->galileo.size() + parsed->beidou.size();
            if (r == 0 || seconds < best) best = seconds;
        }
        const double megabytes = static_cast<double>(big->size()) / 1e6;
        std::printf("parse BRD400DLR (RINEX 4, %.1f MB): %.1f ms, %.0f MB/s, %zu satellites\n", megabytes, best * 1e3,
                    megabytes / best, keys);
    }
    const double esbc_mb = static_cast<double>(esbc->size()) / 1e6;
    const auto start = Clock::now();
    for (int r = 0; r < repeats; ++r) (void)parse_navigation(*esbc);
    const double per_parse = seconds_since(start) / repeats;
    std::printf("parse ESBC00DNK (RINEX 3, %.1f MB): %.1f ms, %.0f MB/s\n", esbc_mb, per_parse * 1e3, esbc_mb / per_parse);
    return status;
}
