#include "detector/detector.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <map>
#include <span>
#include <utility>

#include "arrays/tables.hpp"
#include "detector/pass.hpp"
#include "rinex/epoch_time.hpp"
#include "rinex/ids.hpp"

namespace vardoln {

namespace {

using namespace detector_pass;

constexpr double kTemplateBinDeg = 2.0;
constexpr std::size_t kTemplateBins = 46;  // 0 to 92 degrees; 90 falls in the last used bin
constexpr std::size_t kMinBinSamples = 5;
constexpr std::size_t kMinOffsetSamples = 5;
constexpr std::size_t kMinFlaggedEpochs = 3;
constexpr double kJammingShare = 0.8;

// ---------------------------------------------------------------------------------------------
// The record as the detector reads it: the judged epochs and their C/N0 samples.

struct Prepared {
    std::vector<std::uint32_t> epoch;  // index into RinexObsData::epochs of each judged epoch
    std::vector<double> seconds;       // since the first judged epoch
    std::vector<std::uint32_t> first_sample;  // per judged epoch, and one past the last
    std::vector<Sample> samples;
    std::vector<Signal> signals;
    std::uint32_t type_count = 0;
    std::size_t satellite_count = 0;  // of the record
    double interval_s = 0.0;
    bool any_elevation = false;
};

Prepared prepare(const RinexObsData& obs, const std::vector<double>* elevations, const DetectorSettings& settings) {
    Prepared prepared;
    const bool use_elevations = elevations != nullptr && elevations->size() == obs.satellite_entries.size();
    const auto selected = [&](char letter) {
        return settings.systems.empty() || settings.systems.find(letter) != std::string::npos;
    };
    std::vector<std::uint8_t> strength(obs.codes.size());
    for (std::size_t c = 0; c < obs.codes.size(); ++c) strength[c] = is_signal_strength_code(obs.codes[c]);

    arrays::PairIndex index(obs.satellite_ids.size(), obs.codes.size());
    constexpr std::uint32_t kRejected = std::numeric_limits<std::uint32_t>::max();
    std::vector<std::uint32_t> signal_of_pair;  // kRejected for a pair the detector does not judge
    std::map<std::pair<char, std::uint32_t>, std::uint32_t> types;

    std::optional<double> first_julian;
    std::uint32_t last_epoch = std::numeric_limits<std::uint32_t>::max();
    arrays::for_each_entry(obs, [&](std::size_t e, std::size_t entry_index, const SatelliteObservations& entry,
                                    std::span<const ObservationValue> values) {
        const ObservationEpoch& epoch = obs.epochs[e];
        if (epoch.flag > 1) return;
        if (e != last_epoch) {
            const double julian = julian_day(epoch.time);
            if (!std::isfinite(julian)) return;
            if (!first_julian) first_julian = julian;
            last_epoch = static_cast<std::uint32_t>(e);
            prepared.epoch.push_back(last_epoch);
            prepared.seconds.push_back((julian - *first_julian) * 86400.0);
            prepared.first_sample.push_back(static_cast<std::uint32_t>(prepared.samples.size()));
        }
        const std::string& id = obs.satellite_ids[entry.satellite];
        const char letter = satellite_letter(id);
        const double elevation = use_elevations ? (*elevations)[entry_index] : kNaN;
        for (const ObservationValue& value : values) {
            if (value.code >= strength.size() || strength[value.code] == 0 || !arrays::is_cn0_sample(value.value)) {
                continue;
            }
            const std::uint32_t pair = index.id(entry.satellite, value.code);
            if (pair == signal_of_pair.size()) {
                const std::string& code = obs.codes[value.code];
                const std::optional<Band> band = band_of_code(letter, code, obs.version);
                if (!band || !selected(letter) || is_semi_codeless(letter, code)) {
                    signal_of_pair.push_back(kRejected);
                } else {
                    const auto type = types.try_emplace({letter, value.code}, static_cast<std::uint32_t>(types.size()));
                    signal_of_pair.push_back(static_cast<std::uint32_t>(prepared.signals.size()));
                    prepared.signals.push_back({entry.satellite, type.first->second, *band});
                }
            }
            const std::uint32_t signal = signal_of_pair[pair];
            if (signal == kRejected) continue;
            if (std::isfinite(elevation)) prepared.any_elevation = true;
            prepared.samples.push_back(
                {signal, static_cast<float>(value.value), static_cast<float>(elevation)});
        }
    });
    prepared.first_sample.push_back(static_cast<std::uint32_t>(prepared.samples.size()));
    prepared.type_count = static_cast<std::uint32_t>(types.size());
    prepared.satellite_count = obs.satellite_ids.size();
    prepared.interval_s = most_common_step_s(prepared.seconds, obs.interval);
    return prepared;
}

// ---------------------------------------------------------------------------------------------
// Expected C/N0 from elevation templates: one value per sample, NaN where the template cannot
// say (no elevation, too few samples of the signal type or of the satellite's signal).

class Templates {
public:
    // `excluded(epoch, band)` leaves samples out of the fit.
    template <typename Excluded>
    Templates(const Prepared& prepared, double mask_deg, Excluded&& excluded) {
        std::vector<std::array<std::vector<double>, kTemplateBins>> bins(prepared.type_count);
        for_each_fitted(prepared, mask_deg, excluded, [&](const Sample& sample, const Signal& signal) {
            bins[signal.type][bin_of(sample.elevation)].push_back(sample.value);
        });
        curves_.resize(prepared.type_count);
        for (std::size_t t = 0; t < bins.size(); ++t) {
            Curve& curve = curves_[t];
            for (std::size_t b = 0; b < kTemplateBins; ++b) {
                if (bins[t][b].size() < kMinBinSamples) continue;
                curve.centers.push_back((static_cast<double>(b) + 0.5) * kTemplateBinDeg);
                curve.medians.push_back(median_of(bins[t][b]));
            }
            if (curve.centers.size() < 2) curve = {};
        }
        std::vector<std::vector<double>> departures(prepared.signals.size());
        for_each_fitted(prepared, mask_deg, excluded, [&](const Sample& sample, const Signal& signal) {
            const double at = curve_at(signal.type, sample.elevation);
            if (std::isfinite(at)) departures[sample.signal].push_back(sample.value - at);
        });
        offsets_.assign(prepared.signals.size(), kNaN);
        for (std::size_t s = 0; s < departures.size(); ++s) {
            if (departures[s].size() >= kMinOffsetSamples) offsets_[s] = median_of(departures[s]);
        }
    }

    double expected(const Sample& sample, const Signal& signal) const noexcept {
        return offsets_[sample.signal] + curve_at(signal.type, sample.elevation);
    }

private:
    struct Curve {
        std::vector<double> centers;  // ascending
        std::vector<double> medians;
    };

    static std::size_t bin_of(double elevation) noexcept {
        return std::min(kTemplateBins - 1, static_cast<std::size_t>(std::max(0.0, elevation) / kTemplateBinDeg));
    }

    template <typename Excluded, typename Visit>
    static void for_each_fitted(const Prepared& prepared, double mask_deg, Excluded& excluded, Visit&& visit) {
        for (std::size_t e = 0; e + 1 < prepared.first_sample.size(); ++e) {
            for (std::uint32_t i = prepared.first_sample[e]; i < prepared.first_sample[e + 1]; ++i) {
                const Sample& sample = prepared.samples[i];
                const Signal& signal = prepared.signals[sample.signal];
                if (!(sample.elevation >= mask_deg && sample.elevation <= 90.0) || excluded(e, signal.band)) continue;
                visit(sample, signal);
            }
        }
    }

    // Linear between bin medians, flat beyond the outer ones; NaN without a curve.
    double curve_at(std::uint32_t type, double elevation) const noexcept {
        const Curve& curve = curves_[type];
        if (curve.centers.empty() || !std::isfinite(elevation)) return kNaN;
        if (elevation <= curve.centers.front()) return curve.medians.front();
        if (elevation >= curve.centers.back()) return curve.medians.back();
        const auto upper = std::upper_bound(curve.centers.begin(), curve.centers.end(), elevation);
        const std::size_t j = static_cast<std::size_t>(upper - curve.centers.begin());
        const double fraction = (elevation - curve.centers[j - 1]) / (curve.centers[j] - curve.centers[j - 1]);
        return curve.medians[j - 1] + fraction * (curve.medians[j] - curve.medians[j - 1]);
    }

    std::vector<Curve> curves_;
    std::vector<double> offsets_;
};

// ---------------------------------------------------------------------------------------------
// One pass over the epochs.

struct Pass {
    std::vector<BandMask> affected;  // per judged epoch
    std::vector<BandMask> onset;     // the same rule at half the drop: how far an episode reaches
    std::vector<BandMask> spoofed;
    std::vector<std::uint32_t> first_record;  // per judged epoch, and one past the last
    std::vector<SatelliteResidual> records;   // at epochs flagged in some band
};

Pass run_pass(const Prepared& prepared, const Templates* templates, const DetectorSettings& settings) {
    const std::size_t epochs = prepared.epoch.size();
    Pass pass;
    pass.affected.assign(epochs, 0);
    pass.onset.assign(epochs, 0);
    pass.spoofed.assign(epochs, 0);
    pass.first_record.reserve(epochs + 1);
    PassStepper stepper(settings, prepared.interval_s);
    std::vector<double> expected;
    for (std::size_t e = 0; e < epochs; ++e) {
        const std::span<const Sample> samples(prepared.samples.data() + prepared.first_sample[e],
                                              prepared.first_sample[e + 1] - prepared.first_sample[e]);
        expected.assign(samples.size(), kNaN);
        if (templates != nullptr) {
            for (std::size_t i = 0; i < samples.size(); ++i)
                expected[i] = templates->expected(samples[i], prepared.signals[samples[i].signal]);
        }
        pass.first_record.push_back(static_cast<std::uint32_t>(pass.records.size()));
        const EpochFlags flags = stepper.step(prepared.seconds[e], samples, expected, prepared.signals,
                                              prepared.satellite_count, pass.records);
        pass.affected[e] = flags.affected;
        pass.onset[e] = flags.onset;
        pass.spoofed[e] = flags.spoofed;
    }
    pass.first_record.push_back(static_cast<std::uint32_t>(pass.records.size()));
    return pass;
}

// ---------------------------------------------------------------------------------------------
// Runs of flagged epochs and the events they make.

struct Run {
    std::size_t first = 0;  // judged epochs
    std::size_t last = 0;
};

// Runs of epochs where `flagged(e)`; one clean epoch inside a run does not split it. A run
// takes in the neighbouring epochs where `reaches(e)` (an episode's onset and fading), which do
// not count towards the flagged epochs it needs: at least kMinFlaggedEpochs over min_event_s.
template <typename Flagged, typename Reaches>
std::vector<Run> runs_of(std::size_t epochs, const std::vector<double>& seconds, double min_event_s,
                         Flagged&& flagged, Reaches&& reaches) {
    std::vector<Run> runs;
    std::size_t floor = 0;  // the first epoch after the last run
    std::size_t e = 0;
    while (e < epochs) {
        if (!flagged(e)) {
            ++e;
            continue;
        }
        Run run{e, e};
        if (run.first > floor && reaches(run.first - 1)) --run.first;  // an onset takes one epoch at most
        std::size_t count = 1;
        std::size_t next = e + 1;
        while (next < epochs) {
            if (flagged(next)) {
                ++count;
            } else if (!reaches(next) && !(next == run.last + 1 && next + 1 < epochs && flagged(next + 1))) {
                break;
            }
            if (flagged(next) || reaches(next)) run.last = next;
            ++next;
        }
        if (count >= kMinFlaggedEpochs && seconds[run.last] - seconds[run.first] >= min_event_s) runs.push_back(run);
        floor = run.last + 1;
        e = floor;
    }
    return runs;
}

class EventBuilder {
public:
    EventBuilder(const RinexObsData& obs, const Prepared& prepared, const Pass& pass, const DetectorSettings& settings)
        : obs_(obs), prepared_(prepared), pass_(pass), settings_(settings) {}

    // A drop event over the flagged epochs of a range.
    DetectorEvent drop(const Run& run, bool lasting) const {
        BandMask bands = 0;
        for (std::size_t e = run.first; e <= run.last; ++e) bands |= pass_.affected[e];
        const auto flags = [&](std::size_t e) { return static_cast<BandMask>(pass_.onset[e] & bands); };
        Touch touch = collect(run, flags, [&](double median) { return median <= -0.5 * settings_.drop_db; });
        DetectorEvent event = base(run, touch);
        bool several_bands = false;
        for (std::size_t e = run.first; e <= run.last; ++e) {
            several_bands = several_bands || std::popcount(static_cast<unsigned>(pass_.affected[e])) >= 2;
        }
        event.type = lasting ? EventType::lasting_drop
                     : several_bands || event.share >= kJammingShare ? EventType::jamming
                                                                      : EventType::interference;
        event.largest_drop_db = -touch.extreme;
        event.median_drop_db = -touch.median;
        return event;
    }

    DetectorEvent spoofing(const Run& run) const {
        const auto flags = [&](std::size_t e) { return pass_.spoofed[e]; };
        Touch touch = collect(run, flags, [&](double median) { return median >= settings_.spoof_rise_db; });
        DetectorEvent event = base(run, touch);
        event.type = EventType::spoofing;
        event.largest_drop_db = touch.extreme;
        event.median_drop_db = touch.median;
        return event;
    }

private:
    struct Touch {
        BandMask bands = 0;
        double share = 0.0;
        std::vector<std::uint32_t> satellites;  // touched, by index
        double extreme = kNaN;  // the most negative (drops) or most positive (rises) residual of them
        double median = kNaN;   // over the touched satellites of their median residual
    };

    // Per band flagged in the run: each satellite's median residual over the flagged epochs;
    // `touches(median)` says whether it counts.
    template <typename Flags, typename Touches>
    Touch collect(const Run& run, Flags&& flags, Touches&& touches) const {
        Touch touch;
        for (std::size_t e = run.first; e <= run.last; ++e) touch.bands |= flags(e);
        std::map<std::pair<std::uint32_t, std::uint32_t>, std::vector<double>> by_satellite;  // (band, satellite)
        for (std::size_t e = run.first; e <= run.last; ++e) {
            const BandMask flagged = flags(e);
            if (flagged == 0) continue;
            for (std::uint32_t r = pass_.first_record[e]; r < pass_.first_record[e + 1]; ++r) {
                const SatelliteResidual& record = pass_.records[r];
                if ((flagged & bit(record.band)) == 0 || std::isnan(record.residual)) continue;
                by_satellite[{static_cast<std::uint32_t>(record.band), record.satellite}].push_back(record.residual);
            }
        }
        std::array<std::uint32_t, kBandCount> tracked{};
        std::array<std::uint32_t, kBandCount> hit{};
        std::vector<double> medians;
        std::vector<std::uint8_t> is_touched(obs_.satellite_ids.size(), 0);
        for (auto& [key, residuals] : by_satellite) {
            const double median = median_of(residuals);
            ++tracked[key.first];
            if (!touches(median)) continue;
            ++hit[key.first];
            if (key.second < is_touched.size()) is_touched[key.second] = 1;
            if (std::isfinite(median)) medians.push_back(median);
            for (const double residual : residuals) {
                if (!std::isfinite(residual)) continue;
                if (std::isnan(touch.extreme) || std::fabs(residual) > std::fabs(touch.extreme)) touch.extreme = residual;
            }
        }
        for (std::size_t b = 0; b < kBandCount; ++b) {
            if (tracked[b] > 0) touch.share = std::max(touch.share, static_cast<double>(hit[b]) / tracked[b]);
        }
        for (std::uint32_t s = 0; s < is_touched.size(); ++s) {
            if (is_touched[s] != 0) touch.satellites.push_back(s);
        }
        touch.median = median_of(medians);
        return touch;
    }

    DetectorEvent base(const Run& run, const Touch& touch) const {
        DetectorEvent event;
        event.first_epoch = prepared_.epoch[run.first];
        event.last_epoch = prepared_.epoch[run.last];
        event.start = timestamp_text(obs_.epochs[event.first_epoch].time);
        event.end = timestamp_text(obs_.epochs[event.last_epoch].time);
        for (const Band band : kBands) {
            if ((touch.bands & bit(band)) != 0) event.bands.push_back(band);
        }
        for (const std::uint32_t s : touch.satellites) event.satellites.push_back(obs_.satellite_ids[s]);
        std::sort(event.satellites.begin(), event.satellites.end());
        for (const std::string& id : event.satellites) {
            const char letter = satellite_letter(id);
            if (event.systems.find(letter) == std::string::npos) event.systems.push_back(letter);
        }
        std::sort(event.systems.begin(), event.systems.end());
        event.share = touch.share;
        return event;
    }

    const RinexObsData& obs_;
    const Prepared& prepared_;
    const Pass& pass_;
    const DetectorSettings& settings_;
};

std::vector<DetectorEvent> events_of(const RinexObsData& obs, const Prepared& prepared, const Pass& pass,
                                     const DetectorSettings& settings) {
    const std::size_t epochs = prepared.epoch.size();
    const EventBuilder builder(obs, prepared, pass, settings);
    std::vector<DetectorEvent> events;
    std::vector<Run> drops = runs_of(
        epochs, prepared.seconds, settings.min_event_s, [&](std::size_t e) { return pass.affected[e] != 0; },
        [&](std::size_t e) { return pass.onset[e] != 0; });
    // Drops that chain up to the end of the recording: one lasting drop.
    std::size_t chain = drops.size();
    if (!drops.empty() && prepared.seconds.back() - prepared.seconds[drops.back().last] <= settings.lasting_gap_s) {
        chain = drops.size() - 1;
        while (chain > 0 &&
               prepared.seconds[drops[chain].first] - prepared.seconds[drops[chain - 1].last] <= settings.lasting_gap_s) {
            --chain;
        }
        if (prepared.seconds[drops.back().last] - prepared.seconds[drops[chain].first] < settings.lasting_gap_s) {
            chain = drops.size();
        }
    }
    for (std::size_t r = 0; r < chain; ++r) events.push_back(builder.drop(drops[r], false));
    if (chain < drops.size()) events.push_back(builder.drop(Run{drops[chain].first, drops.back().last}, true));
    const auto spoofed = [&](std::size_t e) { return pass.spoofed[e] != 0; };
    for (const Run& run : runs_of(epochs, prepared.seconds, settings.min_event_s, spoofed, spoofed)) {
        events.push_back(builder.spoofing(run));
    }
    std::stable_sort(events.begin(), events.end(), [](const DetectorEvent& a, const DetectorEvent& b) {
        return a.first_epoch < b.first_epoch;
    });
    return events;
}

}  // namespace

std::string_view event_type_name(EventType type) noexcept {
    switch (type) {
        case EventType::jamming: return "jamming";
        case EventType::interference: return "interference";
        case EventType::spoofing: return "spoofing";
        case EventType::lasting_drop: return "lasting_drop";
    }
    return "";
}

DetectorResult detect_events(const RinexObsData& obs, const std::vector<double>* entry_elevations_deg,
                             const DetectorSettings& settings) {
    const Prepared prepared = prepare(obs, entry_elevations_deg, settings);
    DetectorResult result;
    result.epochs = static_cast<std::uint32_t>(prepared.epoch.size());
    result.interval_s = prepared.interval_s;
    if (prepared.epoch.empty()) return result;

    Pass pass;
    if (prepared.any_elevation) {
        // The second fit leaves out what the first found, so that a long episode cannot drag the
        // template down to its own level.
        const Templates first(prepared, settings.min_elevation_deg, [](std::size_t, Band) { return false; });
        const Pass found = run_pass(prepared, &first, settings);
        const Templates second(prepared, settings.min_elevation_deg, [&](std::size_t e, Band band) {
            return ((found.affected[e] | found.spoofed[e]) & bit(band)) != 0;
        });
        pass = run_pass(prepared, &second, settings);
        result.used_elevations = true;
    } else {
        pass = run_pass(prepared, nullptr, settings);
    }
    result.events = events_of(obs, prepared, pass, settings);
    return result;
}

}  // namespace vardoln
