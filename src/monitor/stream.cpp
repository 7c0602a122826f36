#include "monitor/stream.hpp"

#include <algorithm>
#include <map>
#include <string_view>
#include <variant>

#include "navigation/rtcm_ephemeris.hpp"
#include "rtcm/bits.hpp"
#include "rtcm/epochs.hpp"
#include "rtcm/legacy.hpp"
#include "rtcm/msm.hpp"
#include "rtcm/station.hpp"

namespace vardoln {

namespace {


constexpr std::int32_t kBeidouWeekOffset = 1356;  // BDT week 0 began in GPS week 1356

std::int64_t floor_div(std::int64_t value, std::int64_t step) noexcept {
    return value >= 0 ? value / step : -((-value + step - 1) / step);
}

}  // namespace

std::optional<std::int32_t> rtcm_first_epoch_week(std::span<const std::uint8_t> bytes, std::int64_t near_gps_ms) {
    // The week fields say in which week a message was sent: GPS's modulo 1024 weeks (19.6
    // years), Galileo's (from GPS week 1024) modulo 4096 and BeiDou's (from GPS week 1356)
    // modulo 8192, so these two give the era when the stream carries them. The first ephemeris
    // message was sent in the week of the epoch that was arriving with it: the first epoch's
    // week is that one, or the one before when the time of week wrapped in between.
    const std::int64_t near_week = near_gps_ms / kGpsMsPerWeek;
    const auto nearest = [](std::int64_t raw, std::int64_t offset, std::int64_t modulus, std::int64_t near) {
        const std::int64_t turns = floor_div(near - offset - raw + modulus / 2, modulus);
        return raw + offset + turns * modulus;
    };
    std::optional<std::int64_t> era;  // from a Galileo or BeiDou week field
    std::optional<std::int64_t> sent_week;
    bool sent_in_gps_modulus = false;
    std::optional<std::uint32_t> first_tow;
    std::optional<std::uint32_t> tow_at_sending;
    std::optional<std::uint32_t> last_tow;
    read_rtcm_frames(bytes, [&](const RtcmFrame& frame) {
        const std::uint16_t type = frame.message_type;
        if (const auto kind = msm_kind(type); kind && kind->system != GnssSystem::Glonass) {
            auto decoded = decode_msm(frame.payload);
            if (auto* message = std::get_if<MsmMessage>(&decoded)) {
                last_tow = msm_gps_time_of_week_ms(*message, 18);
                if (!first_tow) first_tow = last_tow;
            }
            return;
        }
        if (type != 1019 && type != 1042 && type != 1045 && type != 1046) return;
        BitReader bits(frame.payload);
        bits.skip(12 + 6);  // message type, satellite
        const unsigned width = type == 1019 ? 10 : type == 1042 ? 13 : 12;
        const auto raw = static_cast<std::int64_t>(bits.bits(width));
        if (bits.failed()) return;
        if (type != 1019) {
            const std::int64_t week = type == 1042 ? nearest(raw, kBeidouWeekOffset, 8192, near_week)
                                                   : nearest(raw, 1024, 4096, near_week);
            era = era.value_or(week);
        }
        if (!sent_week && first_tow) {
            sent_week = type == 1019 ? raw : type == 1042 ? nearest(raw, kBeidouWeekOffset, 8192, near_week)
                                                           : nearest(raw, 1024, 4096, near_week);
            sent_in_gps_modulus = type == 1019;
            tow_at_sending = last_tow;
        }
    });
    if (!sent_week || !first_tow) return std::nullopt;
    std::int64_t week = *sent_week;
    if (sent_in_gps_modulus) week = nearest(week, 0, 1024, era.value_or(near_week));
    if (tow_at_sending && *tow_at_sending < *first_tow) --week;
    return static_cast<std::int32_t>(week);
}

MonitorStream::MonitorStream(const MonitorSettings& settings)
    : settings_(settings), clock_(settings.gps_week), detector_(settings.detector) {}

std::vector<MonitorEvent> MonitorStream::feed(std::span<const std::uint8_t> bytes) {
    std::vector<MonitorEvent> events;
    reader_.feed(bytes, [&](const RtcmFrame& frame) { on_frame(frame, events); });
    return events;
}

std::vector<MonitorEvent> MonitorStream::idle(std::int64_t now_ms) {
    std::vector<MonitorEvent> events;
    if (outage_open_ || !last_epoch_ms_) return events;
    if (static_cast<double>(now_ms - *last_epoch_ms_) >= settings_.outage_s * 1000.0) {
        outage_open_ = true;
        status_.in_outage = true;
        MonitorEvent event;
        event.kind = MonitorEvent::Kind::outage_start;
        event.at_ms = *last_epoch_ms_;
        events.push_back(std::move(event));
    }
    return events;
}

std::vector<MonitorEvent> MonitorStream::finish() {
    std::vector<MonitorEvent> events;
    reader_.finish([&](const RtcmFrame& frame) { on_frame(frame, events); });
    close(events);
    for (LiveAlarm& alarm : detector_.finish()) {
        MonitorEvent event;
        event.alarm = std::move(alarm);
        events.push_back(std::move(event));
    }
    status_.open_alarms = 0;
    close_window(true, events);
    return events;
}

void MonitorStream::on_frame(const RtcmFrame& frame, std::vector<MonitorEvent>& events) {
    const std::uint16_t type = frame.message_type;
    if (msm_kind(type)) {
        auto decoded = decode_msm(frame.payload);
        auto* message = std::get_if<MsmMessage>(&decoded);
        if (message == nullptr) {
            ++status_.undecodable_messages;
            return;
        }
        const auto at = clock_.time_of(*message);
        if (!at) {
            ++status_.untimed_messages;
            return;
        }
        open(*at, events);
        epoch_frames_.insert(epoch_frames_.end(), frame.bytes.begin(), frame.bytes.end());
        std::uint8_t satellite = 0;
        std::string key;
        for (const MsmCell& cell : message->cells) {
            if (!cell.cn0_dbhz || *cell.cn0_dbhz == 0.0) continue;
            const std::string_view code = msm_signal_code(message->system, cell.signal_id);
            if (code.empty()) continue;
            if (cell.satellite_id != satellite || key.empty()) {
                satellite = cell.satellite_id;
                key = msm_satellite_key(message->system, satellite);
            }
            samples_.push_back({key, "S" + std::string(code), *cell.cn0_dbhz});
        }
        if (!message->multiple_message) close(events);
    } else if (is_legacy_observation(type)) {
        auto decoded = decode_legacy_observations(frame.payload);
        auto* message = std::get_if<LegacyMessage>(&decoded);
        if (message == nullptr) {
            ++status_.undecodable_messages;
            return;
        }
        const auto at = clock_.time_of(*message);
        if (!at) {
            ++status_.untimed_messages;
            return;
        }
        open(*at, events);
        epoch_frames_.insert(epoch_frames_.end(), frame.bytes.begin(), frame.bytes.end());
        for (const LegacyObservation& observation : message->observations) {
            const std::string key = legacy_satellite_key(message->system, observation.satellite_id);
            const auto add = [&](const LegacyBand& band, bool second) {
                if (band.cn0_dbhz && *band.cn0_dbhz != 0.0)
                    samples_.push_back(
                        {key, "S" + std::string(legacy_rinex_code(message->system, second, band.code_indicator)),
                         *band.cn0_dbhz});
            };
            add(observation.l1, false);
            if (observation.l2) add(*observation.l2, true);
        }
        if (!message->synchronous) close(events);
    } else if (is_rtcm_ephemeris(type)) {
        const std::int64_t near = clock_.last_ms().value_or(std::int64_t{settings_.gps_week} * kGpsMsPerWeek +
                                                            kGpsMsPerWeek / 2);
        if (add_rtcm_ephemeris(frame.payload, near, navigation_)) ++status_.undecodable_messages;
        else ++status_.ephemerides;
    } else if (type == 1005 || type == 1006 || type == 1033) {
        auto& kept = station_frames_[type == 1033 ? 1 : 0];
        kept.assign(frame.bytes.begin(), frame.bytes.end());
        // The window open now takes it too: a stream's first window would otherwise lack the
        // position that its first station message gives.
        if (window_) window_->bytes.insert(window_->bytes.end(), kept.begin(), kept.end());
        if (type != 1033) {
            auto decoded = decode_antenna_reference_point(frame.payload);
            if (auto* point = std::get_if<AntennaReferencePoint>(&decoded)) status_.position_m = point->ecef_m;
        }
    }
}

void MonitorStream::open(std::int64_t at, std::vector<MonitorEvent>& events) {
    if (open_ms_ && *open_ms_ != at) close(events);
    if (!open_ms_) open_ms_ = at;
}

void MonitorStream::close(std::vector<MonitorEvent>& events) {
    if (!open_ms_) return;
    const std::int64_t at = *open_ms_;
    open_ms_.reset();
    // An epoch at or before the last one (a repeat, or a stream gone back in time) is left out,
    // as the detector and the windows need time to run forwards.
    if (last_epoch_ms_ && at <= *last_epoch_ms_) {
        epoch_frames_.clear();
        samples_.clear();
        return;
    }
    if (last_epoch_ms_) {
        const std::int64_t step = at - *last_epoch_ms_;
        if (step_ms_ == 0 || step < step_ms_) step_ms_ = step;
        if (static_cast<double>(step) > settings_.outage_s * 1000.0 && !outage_open_) {
            MonitorEvent start;
            start.kind = MonitorEvent::Kind::outage_start;
            start.at_ms = *last_epoch_ms_;
            events.push_back(std::move(start));
            outage_open_ = true;
        }
        if (outage_open_) {
            MonitorEvent end;
            end.kind = MonitorEvent::Kind::outage_end;
            end.at_ms = at;
            end.since_ms = *last_epoch_ms_;
            events.push_back(std::move(end));
            outage_open_ = false;
        }
    }
    status_.in_outage = false;

    const auto window_ms = static_cast<std::int64_t>(settings_.window_s * 1000.0);
    const std::int64_t start = floor_div(at, window_ms) * window_ms;
    if (window_ && window_->start_ms != start) close_window(false, events);
    if (!window_) {
        window_.emplace();
        window_->start_ms = start;
        window_->end_ms = start + window_ms;
        window_->first_ms = at;
        for (const auto& kept : station_frames_) window_->bytes.insert(window_->bytes.end(), kept.begin(), kept.end());
    }
    window_->last_ms = at;
    ++window_->epochs;
    window_->bytes.insert(window_->bytes.end(), epoch_frames_.begin(), epoch_frames_.end());
    epoch_frames_.clear();

    // The detector, and what the status line shows.
    live_.clear();
    std::map<char, std::pair<double, std::uint32_t>> sums;
    std::vector<std::string_view> satellites;
    for (const PendingSample& sample : samples_) {
        live_.push_back({sample.satellite, sample.code, sample.cn0_dbhz});
        auto& sum = sums[sample.satellite.front()];
        sum.first += sample.cn0_dbhz;
        ++sum.second;
        satellites.push_back(sample.satellite);
    }
    std::sort(satellites.begin(), satellites.end());
    status_.satellites = static_cast<std::uint32_t>(std::unique(satellites.begin(), satellites.end()) - satellites.begin());
    status_.mean_cn0_dbhz.clear();
    for (const auto& [letter, sum] : sums) status_.mean_cn0_dbhz.emplace_back(letter, sum.first / sum.second);
    for (LiveAlarm& alarm : detector_.epoch(at, live_)) {
        status_.open_alarms = alarm.start ? status_.open_alarms + 1 : (status_.open_alarms > 0 ? status_.open_alarms - 1 : 0);
        MonitorEvent event;
        event.alarm = std::move(alarm);
        events.push_back(std::move(event));
    }
    samples_.clear();
    last_epoch_ms_ = at;
    status_.last_ms = at;
    ++status_.epochs;
}

void MonitorStream::close_window(bool at_end, std::vector<MonitorEvent>& events) {
    if (!window_) return;
    MonitorWindow& window = *window_;
    const std::int64_t step = step_ms_ > 0 ? step_ms_ : 1000;
    window.partial = (first_window_ && window.first_ms - window.start_ms >= step) ||
                     (at_end && window.end_ms - window.last_ms > step);
    first_window_ = false;
    MonitorEvent event;
    event.kind = MonitorEvent::Kind::window;
    event.window = std::move(window);
    events.push_back(std::move(event));
    window_.reset();
}

}  // namespace vardoln
