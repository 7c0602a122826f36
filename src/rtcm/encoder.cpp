#include "rtcm/encoder.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <map>
#include <tuple>

#include "rinex/bands.hpp"
#include "rinex/obs_header.hpp"
#include "rtcm/bits.hpp"
#include "rtcm/epochs.hpp"
#include "rtcm/frames.hpp"
#include "rtcm/msm.hpp"

namespace vardoln {

namespace {

constexpr double kMetresPerMillisecond = kSpeedOfLight_m_s / 1000.0;
constexpr std::int64_t kMsPerDay = 86'400'000;
constexpr std::int64_t kMsPerWeek = kMillisecondsPerWeek;
constexpr std::size_t kMaxCells = 64;

// The constellations in the order their messages go out within an epoch.
constexpr std::array<GnssSystem, 7> kSystemOrder = {GnssSystem::Gps,  GnssSystem::Glonass, GnssSystem::Galileo,
                                                    GnssSystem::Qzss, GnssSystem::Beidou,  GnssSystem::Sbas,
                                                    GnssSystem::Irnss};

std::uint16_t message_type_of(GnssSystem system, std::uint8_t level) noexcept {
    switch (system) {
        case GnssSystem::Gps: return static_cast<std::uint16_t>(1070 + level);
        case GnssSystem::Glonass: return static_cast<std::uint16_t>(1080 + level);
        case GnssSystem::Galileo: return static_cast<std::uint16_t>(1090 + level);
        case GnssSystem::Sbas: return static_cast<std::uint16_t>(1100 + level);
        case GnssSystem::Qzss: return static_cast<std::uint16_t>(1110 + level);
        case GnssSystem::Beidou: return static_cast<std::uint16_t>(1120 + level);
        case GnssSystem::Irnss: return static_cast<std::uint16_t>(1130 + level);
    }
    return 0;
}

std::optional<GnssSystem> system_of_letter(char letter) noexcept {
    for (const GnssSystem system : kSystemOrder)
        if (static_cast<char>(system) == letter) return system;
    return std::nullopt;
}

// The field widths and steps that differ between the levels (the decoder's CellLayout, mirrored).
struct Layout {
    unsigned pseudorange_bits;
    double pseudorange_step_ms;
    unsigned phase_bits;
    double phase_step_ms;
    unsigned lock_bits;
    unsigned cn0_bits;
    double cn0_step_dbhz;
};
constexpr Layout kCompact = {15, 1.0 / 16'777'216.0, 22, 1.0 / 536'870'912.0, 4, 6, 1.0};
constexpr Layout kExtended = {20, 1.0 / 536'870'912.0, 24, 1.0 / 2'147'483'648.0, 10, 10, 1.0 / 16.0};

// A signed field's value, or its "invalid" pattern (the most negative value) when it does not fit.
std::int64_t fitted(double steps, unsigned width) noexcept {
    const std::int64_t limit = (std::int64_t{1} << (width - 1)) - 1;
    if (!std::isfinite(steps)) return -limit - 1;
    const double rounded = std::round(steps);
    if (rounded > static_cast<double>(limit) || rounded < static_cast<double>(-limit)) return -limit - 1;
    return static_cast<std::int64_t>(rounded);
}

// One signal of one satellite at one epoch, gathered from the record's values.
struct CellInput {
    std::uint8_t satellite = 0;
    std::uint8_t signal = 0;
    std::optional<double> pseudorange_m;
    std::optional<double> phase_cycles;
    std::uint8_t lli = 0;
    std::optional<double> cn0_dbhz;
    std::optional<double> doppler_hz;
    char band = '0';
};

// What the stream has said of a cell so far: when its lock began and the whole cycles taken off
// its phase to bring it within reach of the rough range.
struct Track {
    std::int64_t lock_start_ms = 0;
    std::int64_t last_epoch = -1;  // ordinal of the last epoch holding the cell
    double cycles_taken = 0.0;
};
using TrackKey = std::tuple<char, std::uint8_t, std::uint8_t>;

class Encoder {
public:
    Encoder(const RinexObsData& obs, const RtcmEncodeSettings& settings)
        : obs_(obs), settings_(settings), layout_(settings.msm_level <= 5 ? kCompact : kExtended),
          with_rates_(settings.msm_level == 5 || settings.msm_level == 7) {}

    std::vector<std::uint8_t> run() {
        std::optional<std::int64_t> last_station_ms;
        const std::vector<std::uint8_t> station = encode_station_messages(obs_, settings_.station);
        const auto station_interval_ms = static_cast<std::int64_t>(std::llround(settings_.station_interval_s * 1000.0));
        for (const ObservationEpoch& epoch : obs_.epochs) {
            const std::int64_t at_ms = gps_milliseconds(epoch.time);
            // Station messages first and then whenever the interval has passed; a clock that
            // steps back starts the count again.
            if (!last_station_ms || at_ms - *last_station_ms >= station_interval_ms || at_ms < *last_station_ms) {
                out_.insert(out_.end(), station.begin(), station.end());
                last_station_ms = at_ms;
            }
            encode_epoch(epoch, at_ms);
        }
        return std::move(out_);
    }

private:
    std::optional<std::int32_t> glonass_channel(std::uint8_t satellite) const {
        const std::string number = std::to_string(satellite);
        const std::string key = msm_satellite_key(GnssSystem::Glonass, satellite);
        for (const auto* slots : {&settings_.glonass_channels, &obs_.glonass_slots})
            for (const auto& [slot, channel] : *slots)
                if ((slot == key || slot == number) && channel >= -7 && channel <= 6) return channel;
        return std::nullopt;
    }

    void encode_epoch(const ObservationEpoch& epoch, std::int64_t at_ms) {
        std::map<GnssSystem, std::vector<CellInput>> by_system;
        for (const SatelliteObservations& entry : obs_.satellites_of(epoch)) {
            const auto satellite = msm_satellite_of(obs_.satellite_id(entry));
            if (!satellite) continue;
            std::vector<CellInput>& cells = by_system[satellite->system];
            // A satellite appears once in an epoch: its cells are those added from here on.
            const std::size_t first_cell = cells.size();
            for (const ObservationValue& value : obs_.values_of(entry)) {
                const std::string& code = obs_.code_of(value);
                if (code.size() < 2) continue;
                const auto signal = msm_signal_id(satellite->system, code, obs_.version);
                if (!signal) continue;
                auto cell = std::find_if(cells.begin() + static_cast<std::ptrdiff_t>(first_cell), cells.end(),
                                         [&](const CellInput& c) { return c.signal == *signal; });
                if (cell == cells.end()) {
                    CellInput fresh;
                    fresh.satellite = satellite->id;
                    fresh.signal = *signal;
                    cells.push_back(fresh);
                    cell = cells.end() - 1;
                    cell->band = msm_signal_code(satellite->system, *signal).front();
                }
                switch (code.front()) {
                    case 'C': cell->pseudorange_m = value.value; break;
                    case 'L':
                        cell->phase_cycles = value.value;
                        cell->lli = value.lli.value_or(0);
                        break;
                    case 'S': cell->cn0_dbhz = value.value; break;
                    case 'D': cell->doppler_hz = value.value; break;
                    default: break;
                }
            }
        }
        // Epochs count as a reader counts them, those with messages only, so that a cell
        // missing from the epoch before is a gap to both.
        if (std::all_of(by_system.begin(), by_system.end(), [](const auto& entry) { return entry.second.empty(); }))
            return;
        const std::int64_t ordinal = ++epochs_written_;
        // Every message of the epoch is built before the last one is known.
        std::vector<std::vector<std::uint8_t>> payloads;
        for (const GnssSystem system : kSystemOrder) {
            auto found = by_system.find(system);
            if (found == by_system.end() || found->second.empty()) continue;
            std::vector<CellInput>& cells = found->second;
            std::sort(cells.begin(), cells.end(), [](const CellInput& a, const CellInput& b) {
                return std::tie(a.satellite, a.signal) < std::tie(b.satellite, b.signal);
            });
            for (auto group : satellite_groups(cells)) payloads.push_back(message(system, group, at_ms, ordinal));
        }
        for (std::size_t i = 0; i < payloads.size(); ++i) {
            // bit 54, after the type, station and epoch fields: more messages of this epoch follow
            if (i + 1 < payloads.size()) payloads[i][6] |= 0x02;
            append_rtcm_frame(payloads[i], out_);
        }
    }

    // Runs of whole satellites whose satellite x signal masks hold at most 64 cells.
    static std::vector<std::span<const CellInput>> satellite_groups(const std::vector<CellInput>& cells) {
        std::vector<std::span<const CellInput>> groups;
        std::size_t begin = 0;
        std::size_t satellites = 0;
        std::uint32_t signals = 0;
        for (std::size_t i = 0; i < cells.size();) {
            std::size_t end = i;
            std::uint32_t own = 0;
            while (end < cells.size() && cells[end].satellite == cells[i].satellite)
                own |= std::uint32_t{1} << (cells[end++].signal - 1);
            const std::uint32_t joined = signals | own;
            if (satellites > 0 && (satellites + 1) * static_cast<std::size_t>(std::popcount(joined)) > kMaxCells) {
                groups.emplace_back(cells.data() + begin, i - begin);
                begin = i;
                satellites = 0;
                signals = 0;
            }
            ++satellites;
            signals |= own;
            i = end;
        }
        if (begin < cells.size()) groups.emplace_back(cells.data() + begin, cells.size() - begin);
        return groups;
    }

    std::vector<std::uint8_t> message(GnssSystem system, std::span<const CellInput> cells, std::int64_t at_ms,
                                      std::int64_t ordinal) {
        std::vector<std::uint8_t> satellite_ids;
        std::uint32_t signal_mask_bits = 0;
        for (const CellInput& cell : cells) {
            if (satellite_ids.empty() || satellite_ids.back() != cell.satellite)
                satellite_ids.push_back(cell.satellite);
            signal_mask_bits |= std::uint32_t{1} << (cell.signal - 1);
        }
        std::vector<std::uint8_t> signal_ids;
        for (std::uint8_t id = 1; id <= 32; ++id)
            if (signal_mask_bits & (std::uint32_t{1} << (id - 1))) signal_ids.push_back(id);

        // Per satellite: the rough range (1/1024 ms) from its first pseudorange, else its first
        // phase; the rough rate (whole m/s) from its first Doppler.
        struct SatelliteOut {
            std::optional<std::int64_t> rough_1024;  // in 1/1024 ms
            std::optional<std::int64_t> rough_rate_m_s;
            std::uint8_t extended_info = 0;
            std::optional<std::int32_t> channel;
        };
        std::vector<SatelliteOut> satellites(satellite_ids.size());
        std::vector<double> phase_m(cells.size(), std::nan(""));
        std::vector<double> rate_m_s(cells.size(), std::nan(""));
        std::size_t s = 0;
        for (std::size_t c = 0; c < cells.size(); ++c) {
            while (satellite_ids[s] != cells[c].satellite) ++s;
            SatelliteOut& out = satellites[s];
            if (system == GnssSystem::Glonass) {
                out.channel = glonass_channel(cells[c].satellite);
                // extended information: channel + 7; 15 when the channel is not known
                out.extended_info = out.channel ? static_cast<std::uint8_t>(*out.channel + 7) : 15;
            }
            const auto wavelength = carrier_wavelength_m(system, cells[c].band, out.channel);
            if (wavelength && cells[c].phase_cycles) phase_m[c] = *cells[c].phase_cycles * *wavelength;
            // A positive Doppler shift is an approaching satellite: a shrinking range.
            if (wavelength && cells[c].doppler_hz) rate_m_s[c] = -*cells[c].doppler_hz * *wavelength;
        }
        s = 0;
        for (std::size_t c = 0; c < cells.size(); ++c) {
            while (satellite_ids[s] != cells[c].satellite) ++s;
            SatelliteOut& out = satellites[s];
            if (!out.rough_1024 && cells[c].pseudorange_m)
                out.rough_1024 = rough_of(*cells[c].pseudorange_m);
            if (!std::isnan(rate_m_s[c]) && !out.rough_rate_m_s && std::abs(rate_m_s[c]) < 8191.0)
                out.rough_rate_m_s = std::llround(rate_m_s[c]);
        }
        s = 0;
        for (std::size_t c = 0; c < cells.size(); ++c) {
            while (satellite_ids[s] != cells[c].satellite) ++s;
            if (!satellites[s].rough_1024 && !std::isnan(phase_m[c])) satellites[s].rough_1024 = rough_of(phase_m[c]);
        }

        BitWriter w;
        w.put(message_type_of(system, settings_.msm_level), 12).put(settings_.station, 12);
        if (system == GnssSystem::Glonass) {
            const std::int64_t week = floor_div(at_ms, kMsPerWeek);
            const int leap = gps_leap_seconds(week, at_ms - week * kMsPerWeek);
            // Moscow time is UTC + 3 h; GPS week 0 began on a Sunday, day 0 of the field.
            const std::int64_t moscow_ms = at_ms - std::int64_t{leap} * 1000 + 3 * 3'600'000;
            const std::int64_t days = floor_div(moscow_ms, kMsPerDay);
            w.put(((days % 7) + 7) % 7, 3).put(moscow_ms - days * kMsPerDay, 27);
        } else {
            std::int64_t own_ms = at_ms;
            if (system == GnssSystem::Beidou) own_ms -= 14'000;  // BeiDou time runs 14 s behind GPS
            w.put(own_ms - floor_div(own_ms, kMsPerWeek) * kMsPerWeek, 30);
        }
        w.flag(false);  // multiple-message bit, set afterwards on all but the epoch's last message
        w.put(0, 3).put(0, 7).put(0, 2).put(0, 2).put(0, 1).put(0, 3);  // IODS, reserved, clock, smoothing
        std::uint64_t satellite_mask = 0;
        for (const std::uint8_t id : satellite_ids) satellite_mask |= std::uint64_t{1} << (64 - id);
        w.put(static_cast<std::int64_t>(satellite_mask), 64).put(signal_mask_bits_msb(signal_ids), 32);
        // The cell mask, satellite by satellite, a bit per signal of the signal mask.
        std::size_t c = 0;
        for (const std::uint8_t satellite : satellite_ids)
            for (const std::uint8_t signal : signal_ids) {
                const bool present = c < cells.size() && cells[c].satellite == satellite && cells[c].signal == signal;
                w.flag(present);
                if (present) ++c;
            }

        for (const SatelliteOut& out : satellites)
            w.put(out.rough_1024 ? *out.rough_1024 >> 10 : 255, 8);
        if (with_rates_)
            for (const SatelliteOut& out : satellites) w.put(out.extended_info, 4);
        for (const SatelliteOut& out : satellites) w.put(out.rough_1024 ? *out.rough_1024 & 1023 : 0, 10);
        if (with_rates_)
            for (const SatelliteOut& out : satellites) w.put(out.rough_rate_m_s.value_or(-8192), 14);

        // The satellite of each cell, by index into `satellites`.
        std::vector<std::size_t> owner(cells.size());
        s = 0;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            while (satellite_ids[s] != cells[i].satellite) ++s;
            owner[i] = s;
        }
        const auto rough_ms = [&](std::size_t i) {
            return static_cast<double>(*satellites[owner[i]].rough_1024) / 1024.0;
        };
        for (std::size_t i = 0; i < cells.size(); ++i) {
            double steps = std::nan("");
            if (cells[i].pseudorange_m && satellites[owner[i]].rough_1024)
                steps = (*cells[i].pseudorange_m / kMetresPerMillisecond - rough_ms(i)) / layout_.pseudorange_step_ms;
            w.put(fitted(steps, layout_.pseudorange_bits), layout_.pseudorange_bits);
        }
        std::vector<std::uint16_t> locks(cells.size());
        std::vector<bool> half_cycles(cells.size());
        for (std::size_t i = 0; i < cells.size(); ++i) {
            Track& track = tracks_[{static_cast<char>(system), cells[i].satellite, cells[i].signal}];
            // A slip, the first sight or a return after a gap starts the lock again.
            bool restart = track.last_epoch < 0 || track.last_epoch != ordinal - 1 || (cells[i].lli & 1u) != 0;
            double steps = std::nan("");
            if (!std::isnan(phase_m[i]) && satellites[owner[i]].rough_1024) {
                const double wavelength = *carrier_wavelength_m(system, cells[i].band, satellites[owner[i]].channel);
                const double limit_ms = std::ldexp(1.0, -8) * 0.999;  // the fine phase reaches +-2^-8 ms
                const auto offset_ms = [&] {
                    return (phase_m[i] - track.cycles_taken * wavelength) / kMetresPerMillisecond - rough_ms(i);
                };
                // A phase too far from the range to fit loses whole cycles, kept over the arc so
                // that it stays continuous; taking them anew is a slip to the receiving end.
                if (restart) track.cycles_taken = 0.0;
                if (std::abs(offset_ms()) > limit_ms) {
                    track.cycles_taken = std::round((phase_m[i] - rough_ms(i) * kMetresPerMillisecond) / wavelength);
                    restart = true;
                }
                if (std::abs(offset_ms()) <= limit_ms) steps = offset_ms() / layout_.phase_step_ms;
            }
            w.put(fitted(steps, layout_.phase_bits), layout_.phase_bits);
            if (restart) track.lock_start_ms = at_ms;
            track.last_epoch = ordinal;
            locks[i] = msm_lock_time_indicator(at_ms - track.lock_start_ms, settings_.msm_level);
            half_cycles[i] = (cells[i].lli & 2u) != 0;
        }
        for (const std::uint16_t lock : locks) w.put(lock, layout_.lock_bits);
        for (const bool half : half_cycles) w.flag(half);
        const std::int64_t cn0_max = (std::int64_t{1} << layout_.cn0_bits) - 1;
        for (const CellInput& cell : cells) {
            // Rounded to the message's step; 0 stands for "not computed".
            std::int64_t steps = 0;
            if (cell.cn0_dbhz && std::isfinite(*cell.cn0_dbhz) && *cell.cn0_dbhz > 0.0)
                steps = std::min<std::int64_t>(cn0_max, std::llround(*cell.cn0_dbhz / layout_.cn0_step_dbhz));
            w.put(steps, layout_.cn0_bits);
        }
        if (with_rates_)
            for (std::size_t i = 0; i < cells.size(); ++i) {
                const auto& rough = satellites[owner[i]].rough_rate_m_s;
                const double steps = rough ? (rate_m_s[i] - static_cast<double>(*rough)) / 1e-4 : std::nan("");
                w.put(fitted(steps, 15), 15);
            }
        return w.take();
    }

    static std::int64_t signal_mask_bits_msb(const std::vector<std::uint8_t>& ids) noexcept {
        std::uint32_t mask = 0;
        for (const std::uint8_t id : ids) mask |= std::uint32_t{1} << (32 - id);
        return mask;
    }

    // The rough range in 1/1024 ms of a range in metres; nothing outside 0 to 255 ms.
    static std::optional<std::int64_t> rough_of(double range_m) noexcept {
        const double steps = std::round(range_m / kMetresPerMillisecond * 1024.0);
        if (!(steps >= 0.0 && steps < 255.0 * 1024.0)) return std::nullopt;
        return static_cast<std::int64_t>(steps);
    }

    static std::int64_t floor_div(std::int64_t a, std::int64_t b) noexcept {
        return a >= 0 ? a / b : (a - b + 1) / b;
    }

    const RinexObsData& obs_;
    const RtcmEncodeSettings& settings_;
    Layout layout_;
    bool with_rates_;
    std::map<TrackKey, Track> tracks_;
    std::int64_t epochs_written_ = 0;
    std::vector<std::uint8_t> out_;
};

// The text cut to what a counted field holds, without the blanks RINEX pads with.
void put_text(BitWriter& w, std::string_view text) {
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    if (text.size() > 31) text = text.substr(0, 31);
    w.put(static_cast<std::int64_t>(text.size()), 8);
    for (const char c : text) w.put(static_cast<unsigned char>(c), 8);
}

std::vector<std::uint8_t> antenna_payload(const AntennaReferencePoint& point, std::array<bool, 3> gps_glonass_galileo) {
    BitWriter w;
    w.put(point.antenna_height_m ? 1006 : 1005, 12).put(point.station, 12);
    w.put(0, 6);  // realisation year
    for (const bool served : gps_glonass_galileo) w.flag(served);
    w.flag(false);  // not a physical reference station
    const auto tenth_mm = [](double metres) { return static_cast<std::int64_t>(std::llround(metres * 1e4)); };
    w.put(tenth_mm(point.ecef_m[0]), 38).put(0, 2);  // oscillator indicator, reserved
    w.put(tenth_mm(point.ecef_m[1]), 38).put(0, 2);  // quarter-cycle indicator
    w.put(tenth_mm(point.ecef_m[2]), 38);
    if (point.antenna_height_m) w.put(tenth_mm(*point.antenna_height_m), 16);
    return w.take();
}

bool has_letter(const RinexObsData& obs, char letter) {
    return std::any_of(obs.obs_types.begin(), obs.obs_types.end(),
                       [&](const ObsTypeList& list) { return list.system.front() == letter; });
}

}  // namespace

std::optional<MsmSatelliteRef> msm_satellite_of(std::string_view key) noexcept {
    if (key.size() < 2) return std::nullopt;
    // A RINEX 2 key may leave the letter blank for GPS, or write the number with a blank.
    const auto system = system_of_letter(key.front() == ' ' ? 'G' : key.front());
    if (!system) return std::nullopt;
    unsigned number = 0;
    bool digits = false;
    for (const char c : key.substr(1)) {
        if (c == ' ' && !digits) continue;
        if (c < '0' || c > '9' || number > 999) return std::nullopt;
        number = number * 10 + static_cast<unsigned>(c - '0');
        digits = true;
    }
    // SBAS PRN 120 (key S20) is ID 1.
    if (*system == GnssSystem::Sbas) number = number >= 20 ? number - 19 : 0;
    if (!digits || number < 1 || number > 64) return std::nullopt;
    return MsmSatelliteRef{*system, static_cast<std::uint8_t>(number)};
}

std::optional<std::uint8_t> msm_signal_id(GnssSystem system, std::string_view code, double rinex_version) noexcept {
    if (code.size() == 2) code = rinex3_code_of(code);
    std::array<char, 2> signal{};
    if (code.size() == 3) {
        signal = {code[1], code[2]};
    } else if (code.size() == 2) {
        // A RINEX 2 code that has no RINEX 3 spelling above (D1, D2, C7, L8): the civil signal
        // of the band.
        constexpr std::string_view civil_attribute = "0CC3Q4CCQQ";  // by band digit 0 to 9
        if (code[1] < '1' || code[1] > '9') return std::nullopt;
        signal = {code[1], civil_attribute[static_cast<std::size_t>(code[1] - '0')]};
    } else {
        return std::nullopt;
    }
    if (system == GnssSystem::Beidou && signal[0] == '1' && beidou_band1_is_b1i(rinex_version)) signal[0] = '2';
    const std::string_view wanted(signal.data(), 2);
    for (std::uint8_t id = 1; id <= 32; ++id)
        if (msm_signal_code(system, id) == wanted) return id;
    return std::nullopt;
}

std::uint16_t msm_lock_time_indicator(std::int64_t lock_ms, std::uint8_t level) noexcept {
    if (lock_ms < 0) lock_ms = 0;
    if (level <= 5) {
        // 0 below 32 ms, then i for at least 2^(i+4) ms, up to 15
        if (lock_ms < 32) return 0;
        const int power = static_cast<int>(std::bit_width(static_cast<std::uint64_t>(lock_ms))) - 1;
        return static_cast<std::uint16_t>(std::min(power - 4, 15));
    }
    // Milliseconds up to 63; then 32 indicators per doubling, block k in steps of 2^k ms.
    if (lock_ms < 64) return static_cast<std::uint16_t>(lock_ms);
    if (lock_ms >= (std::int64_t{1} << 26)) return 704;
    const int k = static_cast<int>(std::bit_width(static_cast<std::uint64_t>(lock_ms))) - 6;
    return static_cast<std::uint16_t>((lock_ms >> k) + 32 * k);
}

LockTimeRange msm_lock_time_range(std::uint16_t indicator, std::uint8_t level) noexcept {
    if (level <= 5) {
        if (indicator == 0) return {0, 32};
        if (indicator >= 15) return {std::int64_t{1} << 19, std::nullopt};
        return {std::int64_t{1} << (indicator + 4), std::int64_t{1} << (indicator + 5)};
    }
    if (indicator < 64) return {indicator, indicator + 1};
    if (indicator >= 704) return {std::int64_t{1} << 26, std::nullopt};
    const int k = indicator / 32 - 1;
    const std::int64_t low = (std::int64_t{indicator} - 32 * k) << k;
    return {low, low + (std::int64_t{1} << k)};
}

std::optional<double> carrier_wavelength_m(GnssSystem system, char band_digit,
                                           std::optional<std::int32_t> glonass_channel) noexcept {
    double mhz = 0.0;
    if (system == GnssSystem::Glonass && (band_digit == '1' || band_digit == '2')) {
        if (!glonass_channel) return std::nullopt;
        // FDMA: 1602 MHz + k 562.5 kHz on G1, 1246 MHz + k 437.5 kHz on G2
        mhz = band_digit == '1' ? 1602.0 + 0.5625 * *glonass_channel : 1246.0 + 0.4375 * *glonass_channel;
    } else {
        // The messages name BeiDou band 1 as B1C, as RINEX 3.04 does.
        const auto nominal = nominal_carrier_mhz(static_cast<char>(system), band_digit, 3.04);
        if (!nominal) return std::nullopt;
        mhz = *nominal;
    }
    return kSpeedOfLight_m_s / (mhz * 1e6);
}

std::vector<std::uint8_t> encode_antenna_reference_point(const AntennaReferencePoint& point) {
    return antenna_payload(point, {true, true, true});
}

std::vector<std::uint8_t> encode_receiver_descriptors(const ReceiverDescriptors& descriptors) {
    BitWriter w;
    w.put(1033, 12).put(descriptors.station, 12);
    put_text(w, descriptors.antenna);
    w.put(descriptors.antenna_setup_id, 8);
    put_text(w, descriptors.antenna_serial);
    put_text(w, descriptors.receiver);
    put_text(w, descriptors.firmware);
    put_text(w, descriptors.receiver_serial);
    return w.take();
}

std::vector<std::uint8_t> encode_station_messages(const RinexObsData& obs, std::uint16_t station) {
    std::vector<std::uint8_t> out;
    if (obs.approx_position) {
        AntennaReferencePoint point;
        point.station = station;
        point.ecef_m = *obs.approx_position;
        append_rtcm_frame(antenna_payload(point, {has_letter(obs, 'G'), has_letter(obs, 'R'), has_letter(obs, 'E')}),
                          out);
    }
    ReceiverDescriptors descriptors;
    descriptors.station = station;
    descriptors.antenna = obs.antenna_type;
    descriptors.receiver = obs.receiver_type;
    append_rtcm_frame(encode_receiver_descriptors(descriptors), out);
    return out;
}

std::variant<std::vector<std::uint8_t>, RtcmError> encode_rtcm(const RinexObsData& obs,
                                                                const RtcmEncodeSettings& settings) {
    if (settings.msm_level < 4 || settings.msm_level > 7) return RtcmError{"RTCM: the MSM level must be 4 to 7"};
    if (settings.station > 4095) return RtcmError{"RTCM: the station ID must be 0 to 4095"};
    if (!(settings.station_interval_s > 0.0) || settings.station_interval_s > 1e6)
        return RtcmError{"RTCM: the station message interval must be a positive number of seconds"};
    return Encoder(obs, settings).run();
}

}  // namespace vardoln
