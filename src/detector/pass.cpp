#include "detector/pass.hpp"

#include <algorithm>
#include <cmath>

namespace vardoln::detector_pass {

double median_of(std::span<double> values) noexcept {
    if (values.empty()) return kNaN;
    const std::size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle), values.end());
    const double upper = values[middle];
    if (values.size() % 2 == 1) return upper;
    const double lower = *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle));
    return 0.5 * (lower + upper);
}

void TrailingWindow::add(double seconds, double value, double spacing_s) {
    if (!values_.empty() && seconds - values_.back().first < spacing_s) return;
    if (values_.size() == kWindowCapacity) values_.erase(values_.begin());
    values_.emplace_back(seconds, value);
    dirty_ = true;
}

double TrailingWindow::median(double oldest, std::vector<double>& scratch) {
    const auto kept = std::find_if(values_.begin(), values_.end(), [&](const auto& v) { return v.first >= oldest; });
    if (kept != values_.begin()) {
        values_.erase(values_.begin(), kept);
        dirty_ = true;
    }
    if (!dirty_) return median_;
    dirty_ = false;
    scratch.clear();
    for (const auto& entry : values_) scratch.push_back(entry.second);
    median_ = scratch.size() >= kMinWindowValues ? median_of(scratch) : kNaN;
    return median_;
}

PassStepper::PassStepper(const DetectorSettings& settings, double interval_s)
    : settings_(settings),
      interval_(interval_s),
      spacing_(settings.trailing_window_s / static_cast<double>(kWindowCapacity)) {
    reference_s_.fill(-std::numeric_limits<double>::infinity());
}

void PassStepper::grow(std::size_t signal_count, std::size_t satellite_count) {
    if (carried_stamp_.size() < signal_count) {
        windows_.resize(signal_count);
        needs_window_.resize(signal_count, 0);
        carried_stamp_.resize(signal_count, 0);
        carried_run_.resize(signal_count, 0);
        last_elevation_.resize(signal_count, std::numeric_limits<float>::quiet_NaN());
    }
    for (auto& tally : tallies_) {
        if (tally.size() < satellite_count) tally.resize(satellite_count, BandTally{});
    }
}

EpochFlags PassStepper::step(double now, std::span<const Sample> samples, std::span<const double> expected_of,
                             std::span<const Signal> signals, std::size_t satellite_count,
                             std::vector<SatelliteResidual>& records) {
    grow(signals.size(), satellite_count);
    const bool first_epoch = stamp_ == 0;
    const std::uint32_t stamp = ++stamp_;
    const double step = first_epoch ? 0.0 : now - last_s_;
    last_s_ = now;
    neighbour_ = {!first_epoch && step > 0.0 && step <= kNeighbourSteps * interval_, neighbour_[0], neighbour_[1]};
    for (auto& list : touched_) list.clear();
    // After a gap longer than the trailing window, what came before says nothing.
    if (!first_epoch && step > settings_.trailing_window_s) reference_s_.fill(now);
    const auto tally_of = [&](Band band, std::uint32_t satellite) -> BandTally& {
        BandTally& tally = tallies_[band_index(band)][satellite];
        if (tally.stamp != stamp) {
            tally = BandTally{};
            tally.stamp = stamp;
            touched_[band_index(band)].push_back(satellite);
        }
        return tally;
    };

    // Samples of this epoch: residuals against the template or the trailing median.
    current_.clear();
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const Sample& sample = samples[i];
        const Signal& signal = signals[sample.signal];
        const bool below = std::isfinite(sample.elevation) && sample.elevation < settings_.min_elevation_deg;
        carried_run_[sample.signal] =
            carried_stamp_[sample.signal] == stamp - 1 && !first_epoch && neighbour_[0] ? carried_run_[sample.signal] + 1
                                                                                         : 1;
        carried_stamp_[sample.signal] = stamp;
        last_elevation_[sample.signal] = sample.elevation;
        current_.push_back(sample.signal);
        if (below) continue;
        double expected = expected_of[i];
        if (!std::isfinite(expected)) {
            needs_window_[sample.signal] = 1;
            expected = windows_[sample.signal].median(reference_s_[band_index(signal.band)] -
                                                          settings_.trailing_window_s, scratch_);
        }
        BandTally& tally = tally_of(signal.band, signal.satellite);
        ++tally.used;
        tally.value_sum += sample.value;
        if (std::isfinite(expected)) {
            tally.residual_sum += sample.value - expected;
            ++tally.residuals;
        }
    }
    // Signals carried in the previous epoch and gone now, while their satellite stood above the
    // mask (without an elevation: carried in each of the previous three epochs).
    for (const std::uint32_t s : previous_) {
        if (carried_stamp_[s] == stamp) continue;
        const float elevation = last_elevation_[s];
        const bool lost = std::isfinite(elevation)
                              ? neighbour_[0] && elevation >= settings_.min_elevation_deg
                              : neighbour_[0] && neighbour_[1] && neighbour_[2] && carried_run_[s] >= 3;
        if (lost) ++tally_of(signals[s].band, signals[s].satellite).lost;
    }
    previous_.swap(current_);
    // Satellites that lost a band during an episode stay lost while they stay gone, as long as the
    // band still shows the episode: a carried satellite down by D or more, or none left of at
    // least N lost.
    for (const Band band : kBands) {
        auto& kept = held_[band_index(band)];
        if (kept.empty()) continue;
        bool dropped = false;
        bool carried = false;
        for (const std::uint32_t satellite : touched_[band_index(band)]) {
            const BandTally& tally = tallies_[band_index(band)][satellite];
            if (tally.used == 0) continue;
            carried = true;
            dropped = dropped || (tally.residuals > 0 && tally.residual_sum / tally.residuals <= -settings_.drop_db);
        }
        // A band gone silent is an episode only with enough satellites to say so.
        if (carried ? !dropped : kept.size() < settings_.event_satellites) continue;
        for (const std::uint32_t satellite : kept) {
            BandTally& tally = tally_of(band, satellite);
            if (tally.used == 0 && tally.lost == 0) ++tally.lost;
        }
    }

    // Each band: drops and losses, and the spoofing signature.
    EpochFlags flags;
    for (const Band band : kBands) {
        std::uint32_t tracked = 0;
        std::uint32_t hit = 0;
        std::uint32_t half_hit = 0;
        levels_.clear();
        spread_scratch_.clear();
        std::uint32_t rising = 0;
        for (const std::uint32_t satellite : touched_[band_index(band)]) {
            const BandTally& tally = tallies_[band_index(band)][satellite];
            if (tally.used == 0 && tally.lost == 0) continue;
            ++tracked;
            const bool lost_band = tally.used == 0;
            const double residual = tally.residuals > 0 ? tally.residual_sum / tally.residuals : kNaN;
            if (lost_band || residual <= -settings_.drop_db) ++hit;
            if (lost_band || residual <= -0.5 * settings_.drop_db) ++half_hit;
            if (tally.used > 0) {
                levels_.push_back(tally.value_sum / tally.used);
                if (residual >= settings_.spoof_rise_db) ++rising;
            }
        }
        const std::uint32_t needed =
            tracked >= kFewSatellites ? settings_.event_satellites : std::max<std::uint32_t>(2, (tracked + 1) / 2);
        if (tracked > 0 && hit >= needed) flags.affected |= bit(band);
        if (tracked > 0 && half_hit >= needed) flags.onset |= bit(band);
        if (levels_.size() >= kSpoofMinSatellites && 2 * rising > levels_.size()) {
            const double centre = median_of(levels_);
            for (const double level : levels_) spread_scratch_.push_back(std::fabs(level - centre));
            if (kMadToSigma * median_of(spread_scratch_) <= settings_.spoof_spread_db) flags.spoofed |= bit(band);
        }
    }
    for (const Band band : kBands) {
        auto& kept = held_[band_index(band)];
        kept.clear();
        if ((flags.affected & bit(band)) == 0) continue;
        for (const std::uint32_t satellite : touched_[band_index(band)]) {
            const BandTally& tally = tallies_[band_index(band)][satellite];
            if (tally.used == 0 && tally.lost > 0) kept.push_back(satellite);
        }
    }
    if ((flags.onset | flags.spoofed) != 0) {
        for (const Band band : kBands) {
            for (const std::uint32_t satellite : touched_[band_index(band)]) {
                const BandTally& tally = tallies_[band_index(band)][satellite];
                if (tally.used == 0 && tally.lost == 0) continue;
                const double residual = tally.used == 0        ? kLost
                                        : tally.residuals > 0 ? tally.residual_sum / tally.residuals
                                                              : kNaN;
                records.push_back({satellite, band, residual});
            }
        }
    }

    // Trailing windows learn only from epochs clean in their band.
    const BandMask unclean = flags.affected | flags.spoofed;
    for (const Band band : kBands) {
        if ((unclean & bit(band)) == 0) reference_s_[band_index(band)] = now;
    }
    for (const Sample& sample : samples) {
        if (needs_window_[sample.signal] == 0) continue;
        if ((unclean & bit(signals[sample.signal].band)) != 0) continue;
        if (std::isfinite(sample.elevation) && sample.elevation < settings_.min_elevation_deg) continue;
        windows_[sample.signal].add(now, sample.value, spacing_);
    }
    return flags;
}

}  // namespace vardoln::detector_pass
