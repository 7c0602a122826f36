#include "visibility/visibility_tally.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "rinex/ids.hpp"
#include "rinex/numbers.hpp"
#include "visibility/visibility.hpp"

namespace vardoln::visibility_detail {

namespace {

// The constellations that get a per-system entry, in table order, with the name it is stored under.
struct SystemEntry {
    char letter = '\0';
    std::string_view name;
};
constexpr std::string_view entry_name(const ConstellationNames& row) noexcept {
    return row.names[static_cast<std::size_t>(NamingContext::VisibilityEntry)];
}
static_assert(std::count_if(kConstellations.begin(), kConstellations.end(),
                            [](const ConstellationNames& row) { return !entry_name(row).empty(); }) ==
              kVisibilityEntryCount);
constexpr auto kSystems = [] {
    std::array<SystemEntry, kVisibilityEntryCount> entries{};
    std::size_t slot = 0;
    for (const ConstellationNames& row : kConstellations) {
        if (!entry_name(row).empty()) entries[slot++] = SystemEntry{row.letter, entry_name(row)};
    }
    return entries;
}();

// Index into kSystems, or -1 for letters without an entry (QZSS, SBAS, unknown, empty key).
int system_slot(std::string_view key) noexcept {
    if (key.empty()) return -1;
    for (std::size_t i = 0; i < kSystems.size(); ++i) {
        if (kSystems[i].letter == key.front()) return static_cast<int>(i);
    }
    return -1;
}

bool starts_with_letter(std::string_view key, char letter) noexcept {
    return !key.empty() && key.front() == letter;
}

std::vector<std::string> keys_above(const std::vector<std::string_view>& keys, const std::vector<std::uint64_t>& tally,
                                    std::uint64_t limit) {
    std::vector<std::string> out;
    for (std::size_t k = 0; k < keys.size(); ++k) {
        if (tally[k] > limit) out.emplace_back(keys[k]);
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> keys_of_letter(const std::vector<std::string>& keys, char letter) {
    std::vector<std::string> out;
    for (const std::string& key : keys) {
        if (starts_with_letter(key, letter)) out.push_back(key);
    }
    return out;
}

}  // namespace

std::string_view missing_run_severity(std::size_t satellites, std::size_t systems) noexcept {
    if (satellites > 10 || systems > 2) return "critical";
    if (satellites >= 6) return "high";
    return "low";
}

std::string_view unexpected_run_severity(std::size_t satellites) noexcept {
    return satellites >= 6 ? "critical" : "high";
}

VisibilityTally::VisibilityTally(std::vector<std::string_view> keys)
    : keys_(std::move(keys)),
      observed_stamp_(keys_.size(), 0),
      predicted_stamp_(keys_.size(), 0),
      missing_tally_(keys_.size(), 0),
      unexpected_tally_(keys_.size(), 0),
      ever_observed_(keys_.size(), 0) {
    missing_run_.seen.assign(keys_.size(), 0);
    unexpected_run_.seen.assign(keys_.size(), 0);
}

void VisibilityTally::add_epoch(const EpochTime& time, std::span<const std::uint32_t> predicted,
                                std::span<const std::uint32_t> observed) {
    const std::uint64_t stamp = ++epoch_count_;
    const std::size_t key_count = keys_.size();

    observed_.clear();
    for (const std::uint32_t k : observed) {
        if (k >= key_count || observed_stamp_[k] == stamp) continue;
        observed_stamp_[k] = stamp;
        ever_observed_[k] = 1;
        observed_.push_back(k);
    }

    missing_.clear();
    std::uint64_t predicted_count = 0;
    std::uint64_t confirmed_count = 0;
    for (const std::uint32_t k : predicted) {
        if (k >= key_count || predicted_stamp_[k] == stamp) continue;
        predicted_stamp_[k] = stamp;
        ++predicted_count;
        if (const int slot = system_slot(keys_[k]); slot >= 0) ++predicted_by_letter_[slot];
        if (observed_stamp_[k] == stamp) {
            ++confirmed_count;
        } else {
            missing_.push_back(k);
            ++missing_tally_[k];
        }
    }

    unexpected_.clear();
    for (const std::uint32_t k : observed_) {
        if (predicted_stamp_[k] == stamp) continue;
        unexpected_.push_back(k);
        ++unexpected_tally_[k];
    }

    predicted_sum_ += predicted_count;
    observed_sum_ += observed_.size();
    confirmed_sum_ += confirmed_count;
    missing_sum_ += missing_.size();
    unexpected_sum_ += unexpected_.size();

    // Inside a run an epoch with nothing predicted counts as nothing missing.
    const double ratio =
        predicted_count > 0 ? static_cast<double>(missing_.size()) / static_cast<double>(predicted_count) : 0.0;
    follow_missing_run(time, ratio);
    follow_unexpected_run(time, unexpected_.size());
}

void VisibilityTally::open_run(Run& run, const EpochTime& time) {
    run.open = true;
    run.start = time;
    run.last = time;
    run.epoch_count = 1;
    run.satellites.clear();
    ++run.number;
}

void VisibilityTally::add_to_run(Run& run, std::span<const std::uint32_t> satellites) {
    for (const std::uint32_t k : satellites) {
        if (run.seen[k] == run.number) continue;
        run.seen[k] = run.number;
        run.satellites.push_back(k);
    }
}

void VisibilityTally::follow_missing_run(const EpochTime& time, double ratio) {
    Run& run = missing_run_;
    if (!run.open) {
        // An epoch with nothing predicted has ratio 0 here and cannot open a run.
        if (!(ratio > kMissingOpenRatio)) return;
        open_run(run, time);
        add_to_run(run, missing_);
        return;
    }
    // The closing epoch's missing satellites still belong to the run.
    add_to_run(run, missing_);
    if (ratio > kMissingKeepRatio) {
        run.last = time;
        ++run.epoch_count;
        return;
    }
    missing_anomalies_.push_back(close_run(run, true));
}

void VisibilityTally::follow_unexpected_run(const EpochTime& time, std::uint64_t unexpected) {
    Run& run = unexpected_run_;
    if (!run.open) {
        if (unexpected < kUnexpectedOpenCount) return;
        open_run(run, time);
        add_to_run(run, unexpected_);
        return;
    }
    add_to_run(run, unexpected_);
    if (unexpected >= kUnexpectedKeepCount) {
        run.last = time;
        ++run.epoch_count;
        return;
    }
    unexpected_anomalies_.push_back(close_run(run, false));
}

VisibilityAnomaly VisibilityTally::close_run(Run& run, bool missing) const {
    VisibilityAnomaly anomaly;
    anomaly.start_time = timestamp_text(run.start);
    anomaly.end_time = timestamp_text(run.last);
    // The duration is measured between the texts as written, so it agrees with the times shown.
    const auto start = parse_timestamp_text(anomaly.start_time);
    const auto end = parse_timestamp_text(anomaly.end_time);
    anomaly.duration_seconds = start && end ? std::fabs(epoch_difference_seconds(*end, *start))
                                            : static_cast<double>(run.epoch_count) * kFallbackEpochSeconds;

    anomaly.affected_satellites.reserve(run.satellites.size());
    std::vector<std::string_view> systems;
    systems.reserve(run.satellites.size());
    for (const std::uint32_t k : run.satellites) {
        anomaly.affected_satellites.emplace_back(keys_[k]);
        systems.push_back(constellation_name(keys_[k].empty() ? '\0' : keys_[k].front(), NamingContext::Visibility));
    }
    std::sort(systems.begin(), systems.end());
    systems.erase(std::unique(systems.begin(), systems.end()), systems.end());
    anomaly.affected_systems.assign(systems.begin(), systems.end());

    const std::size_t count = anomaly.affected_satellites.size();
    const std::string seconds = format_fixed(anomaly.duration_seconds, 0);
    if (missing) {
        anomaly.anomaly_type = "missing_satellites";
        anomaly.severity = missing_run_severity(count, systems.size());
        anomaly.description =
            std::to_string(count) + " satellites missing for " + seconds + "s - possible jamming or obstruction";
    } else {
        anomaly.anomaly_type = "unexpected_satellites";
        anomaly.severity = unexpected_run_severity(count);
        anomaly.description =
            std::to_string(count) + " unexpected satellites for " + seconds + "s - possible spoofing or multipath";
    }

    run.open = false;
    run.satellites.clear();
    return anomaly;
}

VisibilitySummary VisibilityTally::finish(std::string source_text) const {
    VisibilitySummary summary;
    if (epoch_count_ == 0) return summary;
    summary.prediction_source = std::move(source_text);

    const double n = static_cast<double>(epoch_count_);
    summary.mean_predicted = static_cast<double>(predicted_sum_) / n;
    summary.mean_observed = static_cast<double>(observed_sum_) / n;
    summary.mean_missing = static_cast<double>(missing_sum_) / n;
    summary.mean_unexpected = static_cast<double>(unexpected_sum_) / n;
    const double mean_confirmed = static_cast<double>(confirmed_sum_) / n;
    summary.confirmation_rate = summary.mean_predicted > 0.0 ? mean_confirmed / summary.mean_predicted * 100.0 : 0.0;

    const std::uint64_t limit = epoch_count_ / 4;
    summary.frequently_missing = keys_above(keys_, missing_tally_, limit);
    summary.frequently_unexpected = keys_above(keys_, unexpected_tally_, limit);

    for (std::size_t slot = 0; slot < kSystems.size(); ++slot) {
        const SystemEntry& entry = kSystems[slot];
        SystemVisibility system;
        system.system = entry.name;
        // Ceiling of the mean, in integers so that no rounding creeps in.
        system.predicted_satellites = predicted_by_letter_[slot] / epoch_count_ +
                                      (predicted_by_letter_[slot] % epoch_count_ != 0 ? 1 : 0);
        for (std::size_t k = 0; k < keys_.size(); ++k) {
            if (ever_observed_[k] != 0 && starts_with_letter(keys_[k], entry.letter)) ++system.observed_satellites;
        }
        if (system.predicted_satellites > 0) {
            const double rate = static_cast<double>(system.observed_satellites) /
                                static_cast<double>(system.predicted_satellites) * 100.0;
            system.confirmation_rate = std::min(rate, 100.0);
        }
        system.missing_satellites = keys_of_letter(summary.frequently_missing, entry.letter);
        system.unexpected_satellites = keys_of_letter(summary.frequently_unexpected, entry.letter);
        summary.by_system.emplace(std::string(entry.name), std::move(system));
    }

    summary.anomalies = missing_anomalies_;
    summary.anomalies.insert(summary.anomalies.end(), unexpected_anomalies_.begin(), unexpected_anomalies_.end());
    return summary;
}

}  // namespace vardoln::visibility_detail
