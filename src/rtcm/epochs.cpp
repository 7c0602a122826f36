#include "rtcm/epochs.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "rinex/record_builder.hpp"
#include "rtcm/encoder.hpp"
#include "rtcm/legacy.hpp"
#include "rtcm/msm.hpp"
#include "rtcm/station.hpp"

namespace vardoln {

namespace {

constexpr std::int64_t kMsPerDay = 86'400'000;
constexpr std::int64_t kMsPerWeek = kMillisecondsPerWeek;

// Days from 1970-01-01 of a proleptic Gregorian date, and back (H. Hinnant's algorithms).
constexpr std::int64_t days_from_civil(std::int64_t year, unsigned month, unsigned day) noexcept {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto year_of_era = static_cast<unsigned>(year - era * 400);
    const unsigned day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + static_cast<std::int64_t>(day_of_era) - 719468;
}

constexpr std::int64_t kGpsEpochDays = days_from_civil(1980, 1, 6);

EpochTime civil_from_days(std::int64_t days) noexcept {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto day_of_era = static_cast<unsigned>(days - era * 146097);
    const unsigned year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const unsigned shifted_month = (5 * day_of_year + 2) / 153;
    EpochTime time;
    time.day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
    time.month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
    const std::int64_t year = static_cast<std::int64_t>(year_of_era) + era * 400 + (time.month <= 2 ? 1 : 0);
    time.year = static_cast<std::int32_t>(year);
    return time;
}

// The first UTC day of each GPS - UTC value from 1 s on.
struct LeapStep {
    std::int32_t year;
    unsigned month;
};
constexpr std::array<LeapStep, 18> kLeapSteps = {{{1981, 7}, {1982, 7}, {1983, 7}, {1985, 7}, {1988, 1}, {1990, 1},
                                                  {1991, 1}, {1992, 7}, {1993, 7}, {1994, 7}, {1996, 1}, {1997, 7},
                                                  {1999, 1}, {2006, 1}, {2009, 1}, {2012, 7}, {2015, 7}, {2017, 1}}};


char letter_of(GnssSystem system) noexcept { return static_cast<char>(system); }

// Decodes every good frame of the types read here and hands the result to the sink.
template <typename Sink>
RtcmTally each_message(std::span<const std::uint8_t> bytes, Sink& sink, std::uint64_t& undecodable) {
    return read_rtcm_frames(bytes, [&](const RtcmFrame& frame) {
        const std::uint16_t type = frame.message_type;
        if (msm_kind(type)) {
            auto result = decode_msm(frame.payload);
            if (auto* message = std::get_if<MsmMessage>(&result)) sink.on(*message);
            else ++undecodable;
        } else if (is_legacy_observation(type)) {
            auto result = decode_legacy_observations(frame.payload);
            if (auto* message = std::get_if<LegacyMessage>(&result)) sink.on(*message);
            else ++undecodable;
        } else if (type == 1005 || type == 1006) {
            auto result = decode_antenna_reference_point(frame.payload);
            if (auto* point = std::get_if<AntennaReferencePoint>(&result)) sink.on(*point);
            else ++undecodable;
        } else if (type == 1033) {
            auto result = decode_receiver_descriptors(frame.payload);
            if (auto* descriptors = std::get_if<ReceiverDescriptors>(&result)) sink.on(*descriptors);
            else ++undecodable;
        }
    });
}

// First pass: the header, with every code the observation messages can carry.
struct HeaderCollector {
    RinexObsData& record;

    // The signal's C and S codes; its L code, right after the C, once a cell of it carries a phase.
    void add_code(char letter, std::string_view code, bool with_phase) {
        if (code.empty()) return;
        auto list = std::find_if(record.obs_types.begin(), record.obs_types.end(),
                                 [&](const ObsTypeList& entry) { return entry.system.front() == letter; });
        if (list == record.obs_types.end()) {
            record.obs_types.push_back(ObsTypeList{std::string(1, letter), {}});
            list = record.obs_types.end() - 1;
        }
        std::vector<std::string>& codes = list->codes;
        for (const char kind : {'C', 'S'}) {
            std::string text = kind + std::string(code);
            if (std::find(codes.begin(), codes.end(), text) == codes.end()) codes.push_back(std::move(text));
        }
        const std::string phase = 'L' + std::string(code);
        if (with_phase && std::find(codes.begin(), codes.end(), phase) == codes.end())
            codes.insert(std::find(codes.begin(), codes.end(), 'C' + std::string(code)) + 1, phase);
    }
    void on(const MsmMessage& message) {
        const char letter = letter_of(message.system);
        for (const std::uint8_t signal : message.signals) {
            const bool with_phase = std::any_of(message.cells.begin(), message.cells.end(), [&](const MsmCell& cell) {
                return cell.signal_id == signal && cell.phase_range_m;
            });
            add_code(letter, msm_signal_code(message.system, signal), with_phase);
            if (with_phase) phased[static_cast<unsigned char>(letter) & 0x7F] |= 1u << (32 - signal);
        }
    }
    // Whether a message of these signals can add to the header: a signal not yet seen with a phase.
    bool could_add(GnssSystem system, std::uint32_t signal_mask) const noexcept {
        return (signal_mask & ~phased[static_cast<unsigned char>(letter_of(system)) & 0x7F]) != 0;
    }
    std::array<std::uint32_t, 128> phased{};  // per constellation letter, the signal mask seen with a phase
    void on(const LegacyMessage& message) {
        for (const LegacyObservation& observation : message.observations) {
            const char letter = legacy_satellite_key(message.system, observation.satellite_id).front();
            add_code(letter, legacy_rinex_code(message.system, false, observation.l1.code_indicator),
                     observation.l1.phase_range_m.has_value());
            if (observation.l2)
                add_code(letter, legacy_rinex_code(message.system, true, observation.l2->code_indicator),
                         observation.l2->phase_range_m.has_value());
        }
    }
    void on(const AntennaReferencePoint& point) {
        if (!record.approx_position) record.approx_position = point.ecef_m;
    }
    void on(const ReceiverDescriptors& descriptors) {
        if (!record.receiver_type.empty() || !record.antenna_type.empty()) return;
        record.marker_name = std::to_string(descriptors.station);
        record.receiver_type = descriptors.receiver;
        record.receiver_version = descriptors.firmware;
        record.antenna_type = descriptors.antenna;
    }
};

// Second pass: the epochs.
class EpochAssembler {
public:
    EpochAssembler(RtcmStream& stream, int gps_week)
        : stream_(stream), builder_(stream.record), clock_(gps_week) {}

    void on(const MsmMessage& message) {
        const auto at = clock_.time_of(message);
        if (!at) {
            ++stream_.untimed_messages;
            return;
        }
        open(*at);
        const char letter = letter_of(message.system);
        // The channels first: the cells' GLONASS phases are turned into cycles by them.
        if (message.system == GnssSystem::Glonass) {
            for (const MsmSatellite& entry : message.satellites)
                if (entry.extended_info && *entry.extended_info <= 13) note_slot(entry.id, *entry.extended_info - 7);
        }
        const CodePlan* plan = builder_.plan_for(letter);
        std::uint32_t start = 0;
        std::uint8_t satellite = 0;
        std::string key;
        for (const MsmCell& cell : message.cells) {
            if (cell.satellite_id != satellite || key.empty()) {
                if (!key.empty()) builder_.end_satellite(key, start);
                satellite = cell.satellite_id;
                key = msm_satellite_key(message.system, satellite);
                start = builder_.begin_satellite();
            }
            const std::string_view code = msm_signal_code(message.system, cell.signal_id);
            const std::optional<std::uint8_t> lli = loss_of_lock(letter, message.level, cell);
            if (plan == nullptr || code.empty()) continue;
            add(*plan, letter, 'C', code, start, cell.pseudorange_m);
            add(*plan, letter, 'L', code, start, cycles(message.system, code, satellite, cell.phase_range_m), lli);
            add(*plan, letter, 'S', code, start, cell.cn0_dbhz);
        }
        if (!key.empty()) builder_.end_satellite(key, start);
        if (!message.multiple_message) close();
    }

    void on(const LegacyMessage& message) {
        const auto at = clock_.time_of(message);
        if (!at) {
            ++stream_.untimed_messages;
            return;
        }
        open(*at);
        for (const LegacyObservation& observation : message.observations) {
            const std::string key = legacy_satellite_key(message.system, observation.satellite_id);
            const CodePlan* plan = builder_.plan_for(key.front());
            if (plan == nullptr) continue;
            const std::uint32_t start = builder_.begin_satellite();
            if (observation.glonass_channel) note_slot(observation.satellite_id, *observation.glonass_channel);
            const auto add_band = [&](const LegacyBand& band, bool second) {
                const std::string_view code = legacy_rinex_code(message.system, second, band.code_indicator);
                add(*plan, key.front(), 'C', code, start, band.pseudorange_m);
                add(*plan, key.front(), 'L', code, start,
                    cycles(message.system, code, observation.satellite_id, band.phase_range_m));
                add(*plan, key.front(), 'S', code, start, band.cn0_dbhz);
            };
            add_band(observation.l1, false);
            if (observation.l2) add_band(*observation.l2, true);
            builder_.end_satellite(key, start);
        }
        if (!message.synchronous) close();
    }

    void on(const AntennaReferencePoint&) {}
    void on(const ReceiverDescriptors&) {}

    void finish() {
        close();
        stream_.record.interval = most_common_step_s(epoch_seconds_, 0.0);
        stream_.epochs = stream_.record.epochs.size();
    }

private:
    void add(const CodePlan& plan, char letter, char kind, std::string_view code, std::uint32_t start,
             std::optional<double> value, std::optional<std::uint8_t> lli = std::nullopt) {
        // Zero means "not observed" in the record, and "not computed" for an RTCM C/N0.
        if (!value || *value == 0.0) return;
        const int field = field_of(letter, kind, code);
        if (field >= 0) builder_.add_value(plan, static_cast<std::size_t>(field), start, *value, lli, std::nullopt);
    }

    // The header field of a code ("C1C" as letter 'G', kind 'C', code "1C"), found once and kept;
    // -1 when the header has none.
    int field_of(char letter, char kind, std::string_view code) {
        if (code.size() != 2) return find_field(letter, kind, code);
        const std::uint32_t key = (static_cast<std::uint32_t>(static_cast<unsigned char>(letter)) << 24) |
                                  (static_cast<std::uint32_t>(static_cast<unsigned char>(kind)) << 16) |
                                  (static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 8) |
                                  static_cast<unsigned char>(code[1]);
        const auto found = fields_.find(key);
        if (found != fields_.end()) return found->second;
        const int field = find_field(letter, kind, code);
        fields_.emplace(key, field);
        return field;
    }

    int find_field(char letter, char kind, std::string_view code) const {
        const std::vector<std::string>* codes = stream_.record.obs_types_of(std::string_view(&letter, 1));
        if (codes == nullptr) return -1;
        for (std::size_t field = 0; field < codes->size(); ++field) {
            const std::string& text = (*codes)[field];
            if (text.size() == code.size() + 1 && text.front() == kind && std::string_view(text).substr(1) == code)
                return static_cast<int>(field);
        }
        return -1;
    }

    // The header's slot list keys a slot by its number alone ("5" for R05), as RINEX headers are read.
    void note_slot(std::uint8_t slot_number, std::int32_t channel) {
        auto& slots = stream_.record.glonass_slots;
        const std::string key = std::to_string(slot_number);
        if (std::none_of(slots.begin(), slots.end(), [&](const auto& slot) { return slot.first == key; }))
            slots.emplace_back(key, channel);
    }

    std::optional<std::int32_t> channel_of(std::uint8_t slot_number) const {
        const std::string key = std::to_string(slot_number);
        for (const auto& [slot, channel] : stream_.record.glonass_slots)
            if (slot == key) return channel;
        return std::nullopt;
    }

    // A phase range in whole cycles of its carrier; nothing without a known wavelength (a
    // GLONASS slot whose channel no message has given).
    std::optional<double> cycles(GnssSystem system, std::string_view code, std::uint8_t satellite,
                                 std::optional<double> phase_range_m) const {
        if (!phase_range_m) return std::nullopt;
        const auto channel = system == GnssSystem::Glonass ? channel_of(satellite) : std::nullopt;
        const auto wavelength = carrier_wavelength_m(system, code.front(), channel);
        if (!wavelength) return std::nullopt;
        return *phase_range_m / *wavelength;
    }

    // The loss-of-lock indicator of a cell: bit 0 when its lock time cannot have run on since the
    // epoch before (the indicator fell, or stayed low for longer than it stands for) or when the
    // cell was missing from that epoch; bit 1 for a half-cycle ambiguity. Nothing when neither.
    std::optional<std::uint8_t> loss_of_lock(char letter, std::uint8_t level, const MsmCell& cell) {
        std::uint8_t lli = cell.half_cycle_ambiguity ? 2 : 0;
        LockSeen& seen = locks_[(static_cast<std::uint32_t>(static_cast<unsigned char>(letter)) << 16) |
                                (static_cast<std::uint32_t>(cell.satellite_id) << 8) | cell.signal_id];
        if (seen.ordinal != 0 && seen.ordinal != ordinal_) {
            if (seen.ordinal + 1 != ordinal_) {
                lli |= 1;
            } else {
                const LockTimeRange now = msm_lock_time_range(cell.lock_time_indicator, level);
                const LockTimeRange before = msm_lock_time_range(seen.indicator, seen.level);
                if (now.high_ms && *now.high_ms <= before.low_ms + (*open_ms_ - seen.epoch_ms)) lli |= 1;
            }
        }
        seen = LockSeen{ordinal_, *open_ms_, level, cell.lock_time_indicator};
        if (lli == 0) return std::nullopt;
        return lli;
    }

    void open(std::int64_t at) {
        if (open_ms_ && *open_ms_ != at) close();
        if (!open_ms_) {
            builder_.begin_epoch();
            open_ms_ = at;
            ++ordinal_;
        }
    }

    void close() {
        if (!open_ms_) return;
        const std::size_t before = stream_.record.epochs.size();
        builder_.end_epoch(gps_calendar_time(*open_ms_ / kMsPerWeek, *open_ms_ % kMsPerWeek), 0);
        if (stream_.record.epochs.size() > before) epoch_seconds_.push_back(static_cast<double>(*open_ms_) / 1000.0);
        open_ms_.reset();
    }

    RtcmStream& stream_;
    RecordBuilder builder_;
    RtcmClock clock_;
    std::optional<std::int64_t> open_ms_;  // the epoch being assembled, ms from the GPS epoch
    std::vector<double> epoch_seconds_;
    struct LockSeen {
        std::uint64_t ordinal = 0;  // of the epoch that last held the cell; 0 before any
        std::int64_t epoch_ms = 0;
        std::uint8_t level = 0;
        std::uint16_t indicator = 0;
    };
    std::unordered_map<std::uint32_t, LockSeen> locks_;  // by letter, satellite and signal ID
    std::unordered_map<std::uint32_t, int> fields_;  // see field_of
    std::uint64_t ordinal_ = 0;  // epochs opened so far
};

}  // namespace

std::optional<std::int64_t> RtcmClock::time_of(const MsmMessage& message) noexcept {
    return advance(msm_gps_time_of_week_ms(message, leap_seconds(), last_time_of_week()));
}

std::optional<std::int64_t> RtcmClock::time_of(const LegacyMessage& message) noexcept {
    if (message.system == GnssSystem::Glonass) {
        // Only the time of day is sent: the day comes from the epochs before it.
        MsmMessage day_only;
        day_only.system = GnssSystem::Glonass;
        day_only.epoch_ms = message.epoch_ms;
        return advance(msm_gps_time_of_week_ms(day_only, leap_seconds(), last_time_of_week()));
    }
    if (message.epoch_ms >= kMillisecondsPerWeek) return std::nullopt;
    return advance(message.epoch_ms);
}

// The week that brings the time of week nearest the last message's time, so that a stream
// crossing the end of a week counts on into the next one.
std::optional<std::int64_t> RtcmClock::advance(std::optional<std::uint32_t> time_of_week) noexcept {
    if (!time_of_week) return std::nullopt;
    std::int64_t at = std::int64_t{first_week_} * kMsPerWeek + *time_of_week;
    if (last_ms_) {
        at = *last_ms_ / kMsPerWeek * kMsPerWeek + *time_of_week;
        if (at - *last_ms_ > kMsPerWeek / 2) at -= kMsPerWeek;
        if (*last_ms_ - at > kMsPerWeek / 2) at += kMsPerWeek;
    }
    last_ms_ = at;
    return at;
}

std::optional<std::uint32_t> RtcmClock::last_time_of_week() const noexcept {
    if (!last_ms_) return std::nullopt;
    return static_cast<std::uint32_t>(*last_ms_ % kMsPerWeek);
}

int RtcmClock::leap_seconds() const noexcept {
    const std::int64_t at = last_ms_.value_or(std::int64_t{first_week_} * kMsPerWeek);
    return gps_leap_seconds(at / kMsPerWeek, at % kMsPerWeek);
}

EpochTime gps_calendar_time(std::int64_t gps_week, std::int64_t ms_of_week) noexcept {
    const std::int64_t total_ms = gps_week * kMsPerWeek + ms_of_week;
    const std::int64_t days = total_ms >= 0 ? total_ms / kMsPerDay : (total_ms - kMsPerDay + 1) / kMsPerDay;
    const std::int64_t ms_of_day = total_ms - days * kMsPerDay;
    EpochTime time = civil_from_days(kGpsEpochDays + days);
    time.hour = static_cast<std::uint32_t>(ms_of_day / 3'600'000);
    time.minute = static_cast<std::uint32_t>(ms_of_day / 60'000 % 60);
    time.second = static_cast<double>(ms_of_day % 60'000) / 1000.0;
    return time;
}

std::int64_t gps_milliseconds(const EpochTime& time) noexcept {
    const std::int64_t days = days_from_civil(time.year, time.month, time.day) - kGpsEpochDays;
    return days * kMsPerDay + std::int64_t{time.hour} * 3'600'000 + std::int64_t{time.minute} * 60'000 +
           std::llround(time.second * 1000.0);
}

int gps_leap_seconds(std::int64_t gps_week, std::int64_t ms_of_week) noexcept {
    const std::int64_t day = kGpsEpochDays + (gps_week * kMsPerWeek + ms_of_week) / kMsPerDay;
    int leap = 0;
    for (const LeapStep& step : kLeapSteps)
        if (day >= days_from_civil(step.year, step.month, 1)) ++leap;
    return leap;
}

std::variant<RtcmStream, RtcmError> read_rtcm(std::string_view bytes, std::optional<int> gps_week) {
    if (!gps_week || *gps_week < 0) return RtcmError{"RTCM: the GPS week of the stream is needed to date its epochs"};
    const std::span<const std::uint8_t> data(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    RtcmStream stream;
    stream.record.version = 3.04;
    HeaderCollector header{stream.record};
    // The header pass decodes an MSM only while its signals can still add a code: after the
    // first epochs, the masks alone say there is nothing new.
    stream.tally = read_rtcm_frames(data, [&](const RtcmFrame& frame) {
        const std::uint16_t type = frame.message_type;
        if (const auto kind = msm_kind(type)) {
            const auto mask = msm_signal_mask(frame.payload);
            if (!mask || !header.could_add(kind->system, *mask)) return;
            auto result = decode_msm(frame.payload);
            if (auto* message = std::get_if<MsmMessage>(&result)) header.on(*message);
        } else if (is_legacy_observation(type)) {
            auto result = decode_legacy_observations(frame.payload);
            if (auto* message = std::get_if<LegacyMessage>(&result)) header.on(*message);
        } else if (type == 1005 || type == 1006) {
            auto result = decode_antenna_reference_point(frame.payload);
            if (auto* point = std::get_if<AntennaReferencePoint>(&result)) header.on(*point);
        } else if (type == 1033) {
            auto result = decode_receiver_descriptors(frame.payload);
            if (auto* descriptors = std::get_if<ReceiverDescriptors>(&result)) header.on(*descriptors);
        }
    });

    // The builder takes its code plans from the finished header.
    EpochAssembler assembler(stream, *gps_week);
    std::uint64_t undecodable = 0;
    each_message(data, assembler, undecodable);
    stream.undecodable_messages = undecodable;
    assembler.finish();
    return stream;
}

}  // namespace vardoln
