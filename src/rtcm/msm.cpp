#include "rtcm/msm.hpp"

#include <array>
#include <bit>

#include "rtcm/bits.hpp"

namespace vardoln {

namespace {

constexpr double kMetresPerMillisecond = kSpeedOfLight_m_s / 1000.0;
constexpr double kTwoToMinus10 = 1.0 / 1024.0;
constexpr double kTwoToMinus24 = 1.0 / 16'777'216.0;
constexpr double kTwoToMinus29 = 1.0 / 536'870'912.0;
constexpr double kTwoToMinus31 = 1.0 / 2'147'483'648.0;

// The satellite and signal masks may name at most 64 cells, so the cell mask fits one field.
constexpr std::size_t kMaxCells = 64;

// The signal codes by MSM signal ID 1 to 32 (index 0 is ID 1), per constellation.
using SignalTable = std::array<std::string_view, 32>;
// clang-format off
constexpr SignalTable kGpsSignals = {
    "", "1C", "1P", "1W", "", "", "", "2C", "2P", "2W", "", "", "", "", "2S", "2L",
    "2X", "", "", "", "", "5I", "5Q", "5X", "", "", "", "", "", "1S", "1L", "1X"};
constexpr SignalTable kGlonassSignals = {
    "", "1C", "1P", "", "", "", "", "2C", "2P", "", "", "", "", "", "", "",
    "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", ""};
constexpr SignalTable kGalileoSignals = {
    "", "1C", "1A", "1B", "1X", "1Z", "", "6C", "6A", "6B", "6X", "6Z", "", "7I", "7Q", "7X",
    "", "8I", "8Q", "8X", "", "5I", "5Q", "5X", "", "", "", "", "", "", "", ""};
constexpr SignalTable kSbasSignals = {
    "", "1C", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
    "", "", "", "", "", "5I", "5Q", "5X", "", "", "", "", "", "", "", ""};
constexpr SignalTable kQzssSignals = {
    "", "1C", "", "", "", "", "", "", "6S", "6L", "6X", "", "", "", "2S", "2L",
    "2X", "", "", "", "", "5I", "5Q", "5X", "", "", "", "", "", "1S", "1L", "1X"};
// B1I is "2I" from RINEX 3.03 on; B2a, B2b and B1C were added to the table later.
constexpr SignalTable kBeidouSignals = {
    "", "2I", "2Q", "2X", "", "", "", "6I", "6Q", "6X", "", "", "", "7I", "7Q", "7X",
    "", "", "", "", "", "5D", "5P", "5X", "7D", "", "", "", "", "1D", "1P", "1X"};
constexpr SignalTable kNavicSignals = {
    "", "", "", "", "", "", "", "9A", "", "", "", "", "", "", "", "",
    "", "", "", "", "", "5A", "", "", "", "", "", "", "", "", "", ""};
// clang-format on

// The field widths that differ between the levels.
struct CellLayout {
    unsigned fine_pseudorange_bits;
    std::int64_t fine_pseudorange_invalid;
    double fine_pseudorange_ms;  // scale
    unsigned fine_phase_bits;
    std::int64_t fine_phase_invalid;
    double fine_phase_ms;
    unsigned lock_bits;
    unsigned cn0_bits;
    double cn0_dbhz;
};

// MSM4/5 and MSM6/7; MSM5 and MSM7 add the extended satellite information and the rates.
constexpr CellLayout kCompactCells = {15, -16384, kTwoToMinus24, 22, -2097152, kTwoToMinus29, 4, 6, 1.0};
constexpr CellLayout kExtendedCells = {20, -524288, kTwoToMinus29, 24, -8388608, kTwoToMinus31, 10, 10, 1.0 / 16.0};

// The IDs of the set bits of a mask read from its most significant bit, which is ID 1.
template <typename Id>
std::vector<Id> mask_ids(std::uint64_t mask, unsigned width) {
    std::vector<Id> ids;
    ids.reserve(static_cast<std::size_t>(std::popcount(mask)));
    for (unsigned bit = 0; bit < width; ++bit)
        if (mask & (std::uint64_t{1} << (width - 1 - bit))) ids.push_back(static_cast<Id>(bit + 1));
    return ids;
}

}  // namespace

std::optional<MsmKind> msm_kind(std::uint16_t message_type) noexcept {
    if (message_type < 1070 || message_type > 1137) return std::nullopt;
    const auto level = static_cast<std::uint8_t>(message_type % 10);
    if (level < 4 || level > 7) return std::nullopt;
    switch (message_type / 10) {
        case 107: return MsmKind{GnssSystem::Gps, level};
        case 108: return MsmKind{GnssSystem::Glonass, level};
        case 109: return MsmKind{GnssSystem::Galileo, level};
        case 110: return MsmKind{GnssSystem::Sbas, level};
        case 111: return MsmKind{GnssSystem::Qzss, level};
        case 112: return MsmKind{GnssSystem::Beidou, level};
        case 113: return MsmKind{GnssSystem::Irnss, level};
        default: return std::nullopt;
    }
}

std::string_view msm_signal_code(GnssSystem system, std::uint8_t signal_id) noexcept {
    if (signal_id < 1 || signal_id > 32) return {};
    const std::size_t index = signal_id - 1u;
    switch (system) {
        case GnssSystem::Gps: return kGpsSignals[index];
        case GnssSystem::Glonass: return kGlonassSignals[index];
        case GnssSystem::Galileo: return kGalileoSignals[index];
        case GnssSystem::Sbas: return kSbasSignals[index];
        case GnssSystem::Qzss: return kQzssSignals[index];
        case GnssSystem::Beidou: return kBeidouSignals[index];
        case GnssSystem::Irnss: return kNavicSignals[index];
    }
    return {};
}

std::string msm_satellite_key(GnssSystem system, std::uint8_t satellite_id) {
    // SBAS PRN 120 is ID 1 and its RINEX key is S20.
    const unsigned number = system == GnssSystem::Sbas ? satellite_id + 19u : satellite_id;
    std::string key(1, static_cast<char>(system));
    if (number < 100) {
        key.push_back(static_cast<char>('0' + number / 10));
        key.push_back(static_cast<char>('0' + number % 10));
    } else {
        key += std::to_string(number);
    }
    return key;
}

std::optional<std::uint32_t> msm_signal_mask(std::span<const std::uint8_t> payload) noexcept {
    BitReader in(payload);
    // type (12), station (12), epoch (30), multiple message (1), IODS (3), 15 more, satellite mask (64)
    in.skip(12 + 12 + 30 + 1 + 3 + 15 + 64);
    const auto mask = static_cast<std::uint32_t>(in.bits(32));
    if (in.failed()) return std::nullopt;
    return mask;
}

std::variant<MsmMessage, RtcmError> decode_msm(std::span<const std::uint8_t> payload) {
    BitReader in(payload);
    MsmMessage message;
    message.message_type = static_cast<std::uint16_t>(in.bits(12));
    const auto kind = msm_kind(message.message_type);
    if (!kind) return rtcm_error(message.message_type, "not an MSM4 to MSM7 message");
    message.system = kind->system;
    message.level = kind->level;
    message.station = static_cast<std::uint16_t>(in.bits(12));
    if (message.system == GnssSystem::Glonass) {
        message.glonass_day_of_week = static_cast<std::uint8_t>(in.bits(3));
        message.epoch_ms = static_cast<std::uint32_t>(in.bits(27));
    } else {
        message.epoch_ms = static_cast<std::uint32_t>(in.bits(30));
    }
    message.multiple_message = in.flag();
    message.issue_of_data_station = static_cast<std::uint8_t>(in.bits(3));
    // reserved (7), clock steering (2), external clock (2), smoothing type (1) and interval (3)
    in.skip(15);
    const std::uint64_t satellite_mask = in.bits(64);
    const auto signal_mask = static_cast<std::uint32_t>(in.bits(32));
    if (in.failed()) return rtcm_error(message.message_type, "shorter than its header");

    const auto satellite_ids = mask_ids<std::uint8_t>(satellite_mask, 64);
    message.signals = mask_ids<std::uint8_t>(signal_mask, 32);
    const std::size_t satellites = satellite_ids.size();
    const std::size_t signals = message.signals.size();
    // Bounded before anything is allocated for it: a damaged mask could claim 64 x 32 cells.
    if (satellites * signals > kMaxCells) return rtcm_error(message.message_type, "more than 64 cells in the masks");
    const std::uint64_t cell_mask = in.bits(static_cast<unsigned>(satellites * signals));

    const CellLayout& layout = message.level <= 5 ? kCompactCells : kExtendedCells;
    const bool has_rates = message.level == 5 || message.level == 7;
    const std::size_t cells = static_cast<std::size_t>(std::popcount(cell_mask));
    const std::size_t satellite_bits = satellites * (has_rates ? 36u : 18u);
    const std::size_t cell_bits =
        cells * (layout.fine_pseudorange_bits + layout.fine_phase_bits + layout.lock_bits + 1u + layout.cn0_bits +
                 (has_rates ? 15u : 0u));
    if (in.failed() || in.remaining_bits() < satellite_bits + cell_bits)
        return rtcm_error(message.message_type, "shorter than its masks say");

    // Satellite data: each field for every satellite before the next field.
    message.satellites.resize(satellites);
    for (std::size_t i = 0; i < satellites; ++i) {
        message.satellites[i].id = satellite_ids[i];
        const auto whole_ms = in.bits(8);
        if (whole_ms != 0xFF) message.satellites[i].rough_range_ms = static_cast<double>(whole_ms);
    }
    if (has_rates)
        for (auto& satellite : message.satellites) satellite.extended_info = static_cast<std::uint8_t>(in.bits(4));
    for (auto& satellite : message.satellites) {
        const auto fraction = in.bits(10);
        if (satellite.rough_range_ms) *satellite.rough_range_ms += static_cast<double>(fraction) * kTwoToMinus10;
    }
    if (has_rates)
        for (auto& satellite : message.satellites) {
            const auto rate = in.signed_bits(14);
            if (rate != -8192) satellite.rough_phase_range_rate_m_s = static_cast<double>(rate);
        }

    // The cells, in the order of the cell mask: satellite by satellite, signals within each.
    message.cells.resize(cells);
    std::size_t cell = 0;
    for (std::size_t i = 0; i < satellites; ++i)
        for (std::size_t j = 0; j < signals; ++j)
            if (cell_mask & (std::uint64_t{1} << (satellites * signals - 1 - (i * signals + j)))) {
                message.cells[cell].satellite_id = satellite_ids[i];
                message.cells[cell].signal_id = message.signals[j];
                ++cell;
            }
    // Which satellite each cell belongs to, by index into the satellites.
    std::vector<std::uint8_t> owner(cells);
    for (std::size_t c = 0, i = 0; c < cells; ++c) {
        while (message.satellites[i].id != message.cells[c].satellite_id) ++i;
        owner[c] = static_cast<std::uint8_t>(i);
    }

    for (std::size_t c = 0; c < cells; ++c) {
        const auto fine = in.signed_bits(layout.fine_pseudorange_bits);
        const auto& rough = message.satellites[owner[c]].rough_range_ms;
        if (fine != layout.fine_pseudorange_invalid && rough)
            message.cells[c].pseudorange_m =
                (*rough + static_cast<double>(fine) * layout.fine_pseudorange_ms) * kMetresPerMillisecond;
    }
    for (std::size_t c = 0; c < cells; ++c) {
        const auto fine = in.signed_bits(layout.fine_phase_bits);
        const auto& rough = message.satellites[owner[c]].rough_range_ms;
        if (fine != layout.fine_phase_invalid && rough)
            message.cells[c].phase_range_m =
                (*rough + static_cast<double>(fine) * layout.fine_phase_ms) * kMetresPerMillisecond;
    }
    for (auto& c : message.cells) c.lock_time_indicator = static_cast<std::uint16_t>(in.bits(layout.lock_bits));
    for (auto& c : message.cells) c.half_cycle_ambiguity = in.flag();
    for (auto& c : message.cells) {
        const auto cn0 = in.bits(layout.cn0_bits);
        if (cn0 != 0) c.cn0_dbhz = static_cast<double>(cn0) * layout.cn0_dbhz;
    }
    if (has_rates)
        for (std::size_t c = 0; c < cells; ++c) {
            const auto fine = in.signed_bits(15);
            const auto& rough = message.satellites[owner[c]].rough_phase_range_rate_m_s;
            if (fine != -16384 && rough) message.cells[c].phase_range_rate_m_s = *rough + static_cast<double>(fine) * 1e-4;
        }
    // The lengths were checked above; a failure here would be a fault of this decoder.
    if (in.failed()) return rtcm_error(message.message_type, "shorter than its masks say");
    return message;
}

std::optional<std::uint32_t> msm_gps_time_of_week_ms(const MsmMessage& message, int leap_seconds,
                                                     std::optional<std::uint32_t> near_gps_ms) noexcept {
    constexpr std::int64_t day = 86'400'000;
    constexpr std::int64_t week = kMillisecondsPerWeek;
    std::int64_t gps_ms = message.epoch_ms;
    // A time of week past the end of the week is read as a negative 30-bit number: a receiver
    // has been seen to send the 14 s of BeiDou time before its week starts as -14000 to -1000 ms.
    if (message.system != GnssSystem::Glonass && gps_ms >= week) gps_ms -= std::int64_t{1} << 30;
    if (message.system == GnssSystem::Beidou) {
        gps_ms += 14'000;
    } else if (message.system == GnssSystem::Glonass) {
        // Moscow time is UTC + 3 h; GPS time is UTC + the leap seconds.
        gps_ms += std::int64_t{leap_seconds} * 1000 - 3 * 3'600'000;
        if (near_gps_ms) {
            // The whole number of days that brings the time of day nearest the reference.
            const std::int64_t apart = std::int64_t{*near_gps_ms} - gps_ms;
            gps_ms += (apart >= 0 ? apart + day / 2 : apart - day / 2 + 1) / day * day;
        } else if (message.glonass_day_of_week && *message.glonass_day_of_week <= 6) {
            gps_ms += std::int64_t{*message.glonass_day_of_week} * day;
        } else {
            return std::nullopt;
        }
    }
    return static_cast<std::uint32_t>(((gps_ms % week) + week) % week);
}

}  // namespace vardoln
