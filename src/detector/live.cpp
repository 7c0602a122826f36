#include "detector/live.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <utility>

#include "arrays/tables.hpp"
#include "rinex/ids.hpp"

namespace vardoln {

namespace {

using namespace detector_pass;

constexpr std::uint32_t kRejected = std::numeric_limits<std::uint32_t>::max();
constexpr std::size_t kMinFlaggedEpochs = 3;
constexpr double kJammingShare = 0.8;

}  // namespace

LiveDetector::LiveDetector(const DetectorSettings& settings, double rinex_version)
    : settings_(settings), version_(rinex_version), stepper_(settings, 0.0) {}

std::uint32_t LiveDetector::satellite_index(std::string_view satellite) {
    const auto found = satellite_index_.find(satellite);
    if (found != satellite_index_.end()) return found->second;
    const auto index = static_cast<std::uint32_t>(satellites_.size());
    satellites_.emplace_back(satellite);
    satellite_index_.emplace(std::string(satellite), index);
    return index;
}

std::vector<LiveAlarm> LiveDetector::epoch(std::int64_t epoch_ms, std::span<const LiveSample> samples) {
    std::vector<LiveAlarm> alarms;
    // Epochs out of order or repeated say nothing new.
    if (last_ms_ && epoch_ms <= *last_ms_) return alarms;
    if (last_ms_ && (step_ms_ == 0 || epoch_ms - *last_ms_ < step_ms_)) {
        step_ms_ = epoch_ms - *last_ms_;
        stepper_.set_interval(static_cast<double>(step_ms_) / 1000.0);
    }
    if (!first_ms_) first_ms_ = epoch_ms;
    last_ms_ = epoch_ms;

    samples_.clear();
    for (const LiveSample& sample : samples) {
        if (!arrays::is_cn0_sample(sample.cn0_dbhz) || sample.satellite.empty()) continue;
        key_.assign(sample.satellite).append(1, ' ').append(sample.code);
        auto found = signal_index_.find(key_);
        if (found == signal_index_.end()) {
            const char letter = satellite_letter(sample.satellite);
            const bool selected = settings_.systems.empty() || settings_.systems.find(letter) != std::string::npos;
            const std::string_view code = sample.code.size() > 1 ? sample.code.substr(1) : std::string_view();
            const std::optional<Band> band = band_of_code(letter, sample.code, version_);
            std::uint32_t index = kRejected;
            if (band && selected && !is_semi_codeless(letter, sample.code) && !code.empty()) {
                index = static_cast<std::uint32_t>(signals_.size());
                signals_.push_back({satellite_index(sample.satellite), 0, *band});
            }
            found = signal_index_.emplace(key_, index).first;
        }
        if (found->second == kRejected) continue;
        samples_.push_back({found->second, static_cast<float>(sample.cn0_dbhz), std::numeric_limits<float>::quiet_NaN()});
    }
    expected_.assign(samples_.size(), kNaN);
    records_.clear();
    const double now_s = static_cast<double>(epoch_ms - *first_ms_) / 1000.0;
    const EpochFlags flags = stepper_.step(now_s, samples_, expected_, signals_, satellites_.size(), records_);

    follow(drop_, false, flags.affected != 0, flags.onset != 0, epoch_ms, flags.affected, records_, alarms);
    follow(spoof_, true, flags.spoofed != 0, flags.spoofed != 0, epoch_ms, flags.spoofed, records_, alarms);
    return alarms;
}

std::vector<LiveAlarm> LiveDetector::finish() {
    std::vector<LiveAlarm> alarms;
    for (auto* run : {&drop_, &spoof_}) {
        if (run->open && run->raised) alarms.push_back(alarm_of(*run, run == &spoof_, false));
        *run = Run{};
    }
    return alarms;
}

void LiveDetector::follow(Run& run, bool spoofing, bool flagged, bool reaches, std::int64_t epoch_ms, BandMask bands,
                          std::span<const SatelliteResidual> records, std::vector<LiveAlarm>& alarms) {
    const auto take = [&] {
        for (const SatelliteResidual& record : records) {
            if (!std::isnan(record.residual))
                run.residuals[{static_cast<std::uint32_t>(record.band), record.satellite}].push_back(record.residual);
        }
    };
    if (!run.open) {
        if (!flagged) return;
        run = Run{};
        run.open = true;
        run.first_ms = run.last_ms = epoch_ms;
    } else if (!flagged && (run.pending_clean || !reaches)) {
        // A clean epoch right after the run is forgiven only when a flagged one follows it.
        if (!run.pending_clean) {
            run.pending_clean = true;
            return;
        }
        if (run.raised) alarms.push_back(alarm_of(run, spoofing, false));
        run = Run{};
        return;
    }
    run.pending_clean = false;
    run.last_ms = epoch_ms;
    if (flagged) {
        ++run.flagged;
        run.bands |= bands;
        run.several_bands = run.several_bands || std::popcount(static_cast<unsigned>(bands)) >= 2;
    }
    take();
    if (!run.raised && run.flagged >= kMinFlaggedEpochs &&
        static_cast<double>(run.last_ms - run.first_ms) >= settings_.min_event_s * 1000.0) {
        run.raised = true;
        alarms.push_back(alarm_of(run, spoofing, true));
    }
}

LiveAlarm LiveDetector::alarm_of(const Run& run, bool spoofing, bool start) const {
    LiveAlarm alarm;
    alarm.start = start;
    alarm.first_ms = run.first_ms;
    alarm.last_ms = run.last_ms;
    std::array<std::uint32_t, kBandCount> tracked{};
    std::array<std::uint32_t, kBandCount> hit{};
    std::vector<double> medians;
    std::vector<std::uint8_t> touched(satellites_.size(), 0);
    double extreme = kNaN;
    for (const auto& [key, values] : run.residuals) {
        if ((run.bands & bit(static_cast<Band>(key.first))) == 0) continue;
        std::vector<double> residuals = values;
        const double median = median_of(residuals);
        ++tracked[key.first];
        const bool touches = spoofing ? median >= settings_.spoof_rise_db : median <= -0.5 * settings_.drop_db;
        if (!touches) continue;
        ++hit[key.first];
        touched[key.second] = 1;
        if (std::isfinite(median)) medians.push_back(median);
        for (const double residual : values) {
            if (std::isfinite(residual) && (std::isnan(extreme) || std::fabs(residual) > std::fabs(extreme)))
                extreme = residual;
        }
    }
    for (std::size_t b = 0; b < kBandCount; ++b) {
        if (tracked[b] > 0) alarm.share = std::max(alarm.share, static_cast<double>(hit[b]) / tracked[b]);
        if ((run.bands & bit(kBands[b])) != 0) alarm.bands.push_back(kBands[b]);
    }
    for (std::size_t s = 0; s < touched.size(); ++s) {
        if (touched[s] != 0) alarm.satellites.push_back(satellites_[s]);
    }
    std::sort(alarm.satellites.begin(), alarm.satellites.end());
    const double median = median_of(medians);
    alarm.type = spoofing                                               ? EventType::spoofing
                 : run.several_bands || alarm.share >= kJammingShare ? EventType::jamming
                                                                      : EventType::interference;
    alarm.median_drop_db = spoofing ? median : -median;
    alarm.largest_drop_db = spoofing ? extreme : -extreme;
    return alarm;
}

}  // namespace vardoln
