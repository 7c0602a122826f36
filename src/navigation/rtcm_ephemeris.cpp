// RTCM 3 ephemeris messages to and from the navigation records. The Keplerian messages are
// tables of fields read and written by one loop each way; GLONASS, with its sign-and-magnitude
// numbers and Moscow-day times, has its own pair of functions.
#include "navigation/rtcm_ephemeris.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <string_view>
#include <utility>

#include "rtcm/bits.hpp"
#include "rtcm/epochs.hpp"
#include "rtcm/frames.hpp"

namespace vardoln {

namespace {

// Semicircles become radians with the value of pi the GPS interface document gives, as the
// receivers that write RINEX convert them.
constexpr double kSemicircle = 3.1415926535898;

constexpr std::int64_t kMsPerDay = 86'400'000;
constexpr std::int64_t kMsPerWeek = 7 * kMsPerDay;
constexpr std::int32_t kBdtEpochGpsWeek = 1356;      // BDT week 0 starts with GPS week 1356 (2006-01-01)
constexpr std::int32_t kGalileoEpochGpsWeek = 1024;  // Galileo week 0 starts with GPS week 1024 (1999-08-22)
constexpr std::int64_t kBdtBehindGpsMs = 14'000;
constexpr std::int64_t kMoscowAheadOfUtcMs = 3 * 3'600'000;

constexpr std::uint16_t kGpsMessage = 1019;
constexpr std::uint16_t kGlonassMessage = 1020;
constexpr std::uint16_t kBeidouMessage = 1042;
constexpr std::uint16_t kQzssMessage = 1044;
constexpr std::uint16_t kGalileoFnavMessage = 1045;
constexpr std::uint16_t kGalileoInavMessage = 1046;

constexpr double pow2(int exponent) noexcept {
    double value = 1.0;
    for (; exponent > 0; --exponent) value *= 2.0;
    for (; exponent < 0; ++exponent) value /= 2.0;
    return value;
}

std::int64_t floor_div(std::int64_t a, std::int64_t b) noexcept {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Milliseconds of a calendar time counted from 1980-01-06 00:00:00 of the same time scale.
// Nothing for fields far out of their ranges; an hour of 24 or a day of 31 June gives the time
// the fields add up to, as the orbits take it.
std::optional<std::int64_t> calendar_ms(const EpochTime& time) noexcept {
    if (time.month < 1 || time.month > 12 || time.day < 1 || time.day > 31 || time.hour > 48 || time.minute > 120 ||
        !(time.second >= 0.0 && time.second < 3600.0) || time.year < -100000 || time.year > 100000)
        return std::nullopt;
    return gps_milliseconds(time);
}

EpochTime calendar_from_ms(std::int64_t ms) noexcept {
    const std::int64_t week = floor_div(ms, kMsPerWeek);
    return gps_calendar_time(week, ms - week * kMsPerWeek);
}

// The full week of a week number kept modulo `modulus` that lies nearest `near_week`.
std::int64_t nearest_week(std::int64_t truncated, std::int64_t modulus, std::int64_t near_week) noexcept {
    return truncated + modulus * floor_div(near_week - truncated + modulus / 2, modulus);
}

bool fits(std::int64_t raw, unsigned width, bool is_signed) noexcept {
    if (is_signed) return raw >= -(std::int64_t{1} << (width - 1)) && raw < (std::int64_t{1} << (width - 1));
    return raw >= 0 && raw < (std::int64_t{1} << width);
}

// The count of `scale` steps nearest `value`, or nothing when it is not finite or too large
// for any field here.
std::optional<std::int64_t> steps(double value, double scale) noexcept {
    const double count = value / scale;
    if (!std::isfinite(count) || std::fabs(count) > 0x1p62) return std::nullopt;
    return std::llround(count);
}

// ----- Keplerian messages -----

enum class Slot : std::uint8_t {
    satellite,
    week,      // truncated
    toc,       // seconds of week
    value,     // a double member of the record
    iodc,      // written as the IODE, not read
    constant,  // a field the records do not keep, written as `fixed`, not read
};

struct Field {
    Slot slot = Slot::constant;
    std::uint8_t width = 0;
    bool is_signed = false;
    double scale = 1.0;                  // record units per count
    double Ephemeris::*member = nullptr; // Slot::value only
    std::int64_t fixed = 0;              // Slot::constant only
};

constexpr Field satellite(std::uint8_t width) { return {Slot::satellite, width, false, 1.0, nullptr, 0}; }
constexpr Field week(std::uint8_t width) { return {Slot::week, width, false, 1.0, nullptr, 0}; }
constexpr Field toc(std::uint8_t width, double scale) { return {Slot::toc, width, false, scale, nullptr, 0}; }
constexpr Field iodc(std::uint8_t width) { return {Slot::iodc, width, false, 1.0, nullptr, 0}; }
constexpr Field constant(std::uint8_t width, std::int64_t value = 0) {
    return {Slot::constant, width, false, 1.0, nullptr, value};
}
constexpr Field u(double Ephemeris::*member, std::uint8_t width, double scale) {
    return {Slot::value, width, false, scale, member, 0};
}
constexpr Field s(double Ephemeris::*member, std::uint8_t width, double scale) {
    return {Slot::value, width, true, scale, member, 0};
}

using E = Ephemeris;
constexpr double kAngle31 = pow2(-31) * kSemicircle;  // semicircles to radians
constexpr double kRate43 = pow2(-43) * kSemicircle;   // semicircles/s to radians/s

template <std::size_t... N>
constexpr std::array<Field, (N + ...)> join(const std::array<Field, N>&... parts) {
    std::array<Field, (N + ...)> out{};
    std::size_t next = 0;
    ((std::copy(parts.begin(), parts.end(), out.begin() + static_cast<std::ptrdiff_t>(next)), next += N), ...);
    return out;
}

// The orbit from Crs to sqrt(A), then from Cic to OMEGADOT, as GPS and QZSS lay it out around
// toe; Galileo shares both runs.
constexpr std::array<Field, 7> kGpsOrbitBeforeToe = {
    s(&E::crs, 16, pow2(-5)), s(&E::delta_n, 16, kRate43), s(&E::m0, 32, kAngle31), s(&E::cuc, 16, pow2(-29)),
    u(&E::e, 32, pow2(-33)),  s(&E::cus, 16, pow2(-29)),   u(&E::sqrt_a, 32, pow2(-19)),
};
constexpr std::array<Field, 7> kGpsOrbitAfterToe = {
    s(&E::cic, 16, pow2(-29)), s(&E::omega0, 32, kAngle31), s(&E::cis, 16, pow2(-29)),     s(&E::i0, 32, kAngle31),
    s(&E::crc, 16, pow2(-5)),  s(&E::omega, 32, kAngle31),  s(&E::omega_dot, 24, kRate43),
};

// Every field after the 12-bit message type, in order.
constexpr auto kGpsLayout = join(
    std::array<Field, 11>{satellite(6), week(10), constant(4) /* URA */, constant(2) /* L2 codes */,
                          s(&E::idot, 14, kRate43), u(&E::iode, 8, 1.0), toc(16, 16.0), s(&E::af2, 8, pow2(-55)),
                          s(&E::af1, 16, pow2(-43)), s(&E::af0, 22, pow2(-31)), iodc(10)},
    kGpsOrbitBeforeToe, std::array<Field, 1>{u(&E::toe, 16, 16.0)}, kGpsOrbitAfterToe,
    std::array<Field, 4>{constant(8) /* TGD */, constant(6) /* health */, constant(1) /* L2 P flag */,
                         constant(1) /* fit interval */});

constexpr auto kQzssLayout = join(
    std::array<Field, 6>{satellite(4), toc(16, 16.0), s(&E::af2, 8, pow2(-55)), s(&E::af1, 16, pow2(-43)),
                         s(&E::af0, 22, pow2(-31)), u(&E::iode, 8, 1.0)},
    kGpsOrbitBeforeToe, std::array<Field, 1>{u(&E::toe, 16, 16.0)}, kGpsOrbitAfterToe,
    std::array<Field, 8>{s(&E::idot, 14, kRate43), constant(2) /* L2 codes */, week(10), constant(4) /* URA */,
                         constant(6) /* health */, constant(8) /* TGD */, iodc(10), constant(1) /* fit interval */});

// Galileo's fields up to OMEGADOT, alike in F/NAV and I/NAV. The SISA is written as 255, the
// value that says no accuracy prediction is available.
constexpr auto kGalileoCommon = join(
    std::array<Field, 9>{satellite(6), week(12), u(&E::iode, 10, 1.0), constant(8, 255) /* SISA */,
                         s(&E::idot, 14, kRate43), toc(14, 60.0), s(&E::af2, 6, pow2(-59)),
                         s(&E::af1, 21, pow2(-46)), s(&E::af0, 31, pow2(-34))},
    kGpsOrbitBeforeToe, std::array<Field, 1>{u(&E::toe, 14, 60.0)}, kGpsOrbitAfterToe);

constexpr auto kGalileoFnavLayout =
    join(kGalileoCommon, std::array<Field, 4>{constant(10) /* BGD E5a/E1 */, constant(2) /* E5a health */,
                                              constant(1) /* E5a validity */, constant(7) /* reserved */});

constexpr auto kGalileoInavLayout = join(
    kGalileoCommon,
    std::array<Field, 7>{constant(10) /* BGD E5a/E1 */, constant(10) /* BGD E5b/E1 */, constant(2) /* E5b health */,
                         constant(1) /* E5b validity */, constant(2) /* E1-B health */,
                         constant(1) /* E1-B validity */, constant(2) /* reserved */});

// BeiDou's IODE field is the AODE of its D1/D2 messages, as RINEX stores it.
constexpr Field kBeidouLayout[] = {
    satellite(6), week(13), constant(4) /* URAI */, s(&E::idot, 14, kRate43), u(&E::iode, 5, 1.0), toc(17, 8.0),
    s(&E::af2, 11, pow2(-66)), s(&E::af1, 22, pow2(-50)), s(&E::af0, 24, pow2(-33)), constant(5) /* AODC */,
    s(&E::crs, 18, pow2(-6)), s(&E::delta_n, 16, kRate43), s(&E::m0, 32, kAngle31), s(&E::cuc, 18, pow2(-31)),
    u(&E::e, 32, pow2(-33)), s(&E::cus, 18, pow2(-31)), u(&E::sqrt_a, 32, pow2(-19)), u(&E::toe, 17, 8.0),
    s(&E::cic, 18, pow2(-31)), s(&E::omega0, 32, kAngle31), s(&E::cis, 18, pow2(-31)), s(&E::i0, 32, kAngle31),
    s(&E::crc, 18, pow2(-6)), s(&E::omega, 32, kAngle31), s(&E::omega_dot, 24, kRate43),
    constant(10) /* TGD1 */, constant(10) /* TGD2 */, constant(1) /* health */,
};

constexpr unsigned message_bits(std::span<const Field> layout) {
    unsigned bits = 12;  // the message type
    for (const Field& field : layout) bits += field.width;
    return bits;
}
static_assert(message_bits(kGpsLayout) == 488 && message_bits(kQzssLayout) == 485);
static_assert(message_bits(kGalileoFnavLayout) == 496 && message_bits(kGalileoInavLayout) == 504);
static_assert(message_bits(kBeidouLayout) == 511);

// How a constellation numbers its weeks in the message and in RINEX.
struct Constellation {
    std::uint16_t message_type;
    char letter;
    std::span<const Field> layout;
    std::int64_t week_modulus;     // the message's week counts modulo this
    std::int64_t rinex_week_shift; // RINEX week = message week + shift (Galileo in GPS weeks)
    std::int32_t own_epoch_gps_week;  // GPS week in which the RINEX week 0 starts
};

constexpr Constellation kGps{kGpsMessage, 'G', kGpsLayout, 1024, 0, 0};
constexpr Constellation kQzss{kQzssMessage, 'J', kQzssLayout, 1024, 0, 0};
constexpr Constellation kGalileoFnav{kGalileoFnavMessage, 'E', kGalileoFnavLayout, 4096, kGalileoEpochGpsWeek, 0};
constexpr Constellation kGalileoInav{kGalileoInavMessage, 'E', kGalileoInavLayout, 4096, kGalileoEpochGpsWeek, 0};
constexpr Constellation kBeidou{kBeidouMessage, 'C', kBeidouLayout, 8192, 0, kBdtEpochGpsWeek};

const Constellation* keplerian_constellation(std::uint16_t message_type) noexcept {
    switch (message_type) {
        case kGpsMessage: return &kGps;
        case kQzssMessage: return &kQzss;
        case kGalileoFnavMessage: return &kGalileoFnav;
        case kGalileoInavMessage: return &kGalileoInav;
        case kBeidouMessage: return &kBeidou;
        default: return nullptr;
    }
}

std::variant<Ephemeris, GlonassEphemeris, RtcmError> decode_keplerian(BitReader& reader, const Constellation& system,
                                                                      std::int64_t near_gps_ms) {
    Ephemeris eph;
    eph.system = system.letter;
    std::int64_t truncated_week = 0;
    double toc_seconds = 0.0;
    for (const Field& field : system.layout) {
        const std::int64_t raw =
            field.is_signed ? reader.signed_bits(field.width) : static_cast<std::int64_t>(reader.bits(field.width));
        switch (field.slot) {
            case Slot::satellite: eph.prn = static_cast<std::uint32_t>(raw); break;
            case Slot::week: truncated_week = raw; break;
            case Slot::toc: toc_seconds = static_cast<double>(raw) * field.scale; break;
            case Slot::value: eph.*field.member = static_cast<double>(raw) * field.scale; break;
            case Slot::iodc:
            case Slot::constant: break;
        }
    }
    if (reader.failed()) return rtcm_error(system.message_type, "payload shorter than the message");
    if (eph.prn == 0) return rtcm_error(system.message_type, "satellite number 0");

    // The reference week in the numbering RINEX uses for this constellation.
    const std::int64_t near_week = floor_div(near_gps_ms, kMsPerWeek) - system.own_epoch_gps_week;
    std::int64_t full_week = nearest_week(truncated_week + system.rinex_week_shift, system.week_modulus, near_week);
    // Receivers write the week the message went out in, and toe may lie just across the week's
    // edge from it: toe 0 sent in the last minutes of the week before, or a toe of the last
    // minutes sent after the change. RINEX numbers the week of toe, so within a day of an edge
    // toe takes the week that puts it nearest the reference.
    const std::int64_t near_own_ms = near_gps_ms - std::int64_t{system.own_epoch_gps_week} * kMsPerWeek -
                                     (system.letter == 'C' ? kBdtBehindGpsMs : 0);
    const std::int64_t toe_ms = std::llround(eph.toe * 1000.0);
    const auto distance = [&](std::int64_t week) {
        const std::int64_t gap = week * kMsPerWeek + toe_ms - near_own_ms;
        return gap < 0 ? -gap : gap;
    };
    if (toe_ms < kMsPerDay && distance(full_week + 1) < distance(full_week)) ++full_week;
    else if (toe_ms >= kMsPerWeek - kMsPerDay && distance(full_week - 1) < distance(full_week)) --full_week;
    eph.week = static_cast<std::int32_t>(full_week);

    // toc and toe are seconds of the same broadcast; across the end of a week toc takes the
    // week that keeps it within half a week of toe.
    std::int64_t toc_week = full_week;
    if (toc_seconds - eph.toe > 302400.0) --toc_week;
    if (eph.toe - toc_seconds > 302400.0) ++toc_week;
    eph.toc = calendar_from_ms((toc_week + system.own_epoch_gps_week) * kMsPerWeek +
                               std::llround(toc_seconds * 1000.0));
    return eph;
}

// The record's toe as GPS milliseconds from the GPS epoch.
std::int64_t toe_gps_ms(const Ephemeris& eph) noexcept {
    const std::int64_t in_own_scale = std::int64_t{eph.week} * kMsPerWeek + std::llround(eph.toe * 1000.0);
    if (eph.system == 'C') return in_own_scale + std::int64_t{kBdtEpochGpsWeek} * kMsPerWeek + kBdtBehindGpsMs;
    return in_own_scale;
}

// Nothing when a value does not fit its field.
std::optional<std::vector<std::uint8_t>> encode_keplerian(const Ephemeris& eph, const Constellation& system) {
    BitWriter writer;
    writer.put(system.message_type, 12);
    const auto toc_ms = calendar_ms(eph.toc);
    if (!toc_ms) return std::nullopt;
    const double toc_seconds =
        static_cast<double>(*toc_ms - floor_div(*toc_ms, kMsPerWeek) * kMsPerWeek) / 1000.0;
    // RINEX 2 QZSS files may number the satellites by PRN (193 on).
    const std::uint32_t number = system.letter == 'J' && eph.prn > 192 ? eph.prn - 192 : eph.prn;
    for (const Field& field : system.layout) {
        std::optional<std::int64_t> raw;
        switch (field.slot) {
            case Slot::satellite: raw = number; break;
            case Slot::week: {
                const std::int64_t week = std::int64_t{eph.week} - system.rinex_week_shift;
                if (week >= 0) raw = week % system.week_modulus;
                break;
            }
            case Slot::toc: raw = steps(toc_seconds, field.scale); break;
            case Slot::value: raw = steps(eph.*field.member, field.scale); break;
            case Slot::iodc: raw = steps(eph.iode, 1.0); break;
            case Slot::constant: raw = field.fixed; break;
        }
        if (!raw || !fits(*raw, field.width, field.is_signed)) return std::nullopt;
        if (field.slot == Slot::satellite && *raw == 0) return std::nullopt;
        writer.put(*raw, field.width);
    }
    return writer.take();
}

// ----- GLONASS -----

struct SignMagnitude {
    unsigned width;
    double scale;
};
constexpr SignMagnitude kVelocity{24, pow2(-20) * 1000.0};      // m/s
constexpr SignMagnitude kPosition{27, pow2(-11) * 1000.0};      // m
constexpr SignMagnitude kAcceleration{5, pow2(-30) * 1000.0};   // m/s^2
constexpr SignMagnitude kGammaN{11, pow2(-40)};
constexpr SignMagnitude kTauN{22, pow2(-30)};                   // s

double read_sign_magnitude(BitReader& reader, SignMagnitude field) noexcept {
    const bool negative = reader.flag();
    const double magnitude = static_cast<double>(reader.bits(field.width - 1)) * field.scale;
    return negative ? -magnitude : magnitude;
}

bool write_sign_magnitude(BitWriter& writer, double value, SignMagnitude field) {
    const auto raw = steps(value, field.scale);
    if (!raw) return false;
    const std::int64_t magnitude = *raw < 0 ? -*raw : *raw;
    if (!fits(magnitude, field.width - 1, false)) return false;
    writer.flag(*raw < 0);
    writer.put(magnitude, field.width - 1);
    return true;
}

// The Moscow day that puts `ms_of_moscow_day` nearest `near_moscow_ms`, as UTC ms.
std::int64_t nearest_moscow_time(std::int64_t ms_of_moscow_day, std::int64_t near_moscow_ms) noexcept {
    const std::int64_t day = floor_div(near_moscow_ms - ms_of_moscow_day + kMsPerDay / 2, kMsPerDay);
    return day * kMsPerDay + ms_of_moscow_day - kMoscowAheadOfUtcMs;
}

std::int64_t utc_ms_from_gps_ms(std::int64_t gps_ms) noexcept {
    const std::int64_t week = floor_div(gps_ms, kMsPerWeek);
    return gps_ms - std::int64_t{gps_leap_seconds(week, gps_ms - week * kMsPerWeek)} * 1000;
}

std::variant<Ephemeris, GlonassEphemeris, RtcmError> decode_glonass(BitReader& reader, std::int64_t near_gps_ms) {
    GlonassEphemeris eph;
    eph.prn = static_cast<std::uint32_t>(reader.bits(6));
    eph.freq_num = static_cast<std::int32_t>(reader.bits(5)) - 7;
    reader.skip(1 + 1 + 2);  // almanac health and its availability, P1
    const auto tk_hours = static_cast<std::int64_t>(reader.bits(5));
    const auto tk_minutes = static_cast<std::int64_t>(reader.bits(6));
    const auto tk_half_minutes = static_cast<std::int64_t>(reader.bits(1));
    reader.skip(1 + 1);  // Bn, P2
    const auto tb = static_cast<std::int64_t>(reader.bits(7));
    double* const axes[3][3] = {{&eph.x, &eph.vx, &eph.ax}, {&eph.y, &eph.vy, &eph.ay}, {&eph.z, &eph.vz, &eph.az}};
    for (auto& axis : axes) {
        *axis[1] = read_sign_magnitude(reader, kVelocity);
        *axis[0] = read_sign_magnitude(reader, kPosition);
        *axis[2] = read_sign_magnitude(reader, kAcceleration);
    }
    reader.skip(1);  // P3
    eph.gamma_n = read_sign_magnitude(reader, kGammaN);
    reader.skip(2 + 1);  // P, ln
    eph.tau_n = -read_sign_magnitude(reader, kTauN);  // RINEX keeps -TauN
    // delta tau_n, En, P4, FT, NT, M, the additional-data flag, NA, tau_c, N4, tau_GPS, ln and
    // the reserved bits: nothing the record keeps.
    reader.skip(5 + 5 + 1 + 4 + 11 + 2 + 1 + 11 + 32 + 5 + 22 + 1 + 7);
    if (reader.failed()) return rtcm_error(kGlonassMessage, "payload shorter than the message");
    if (eph.prn == 0) return rtcm_error(kGlonassMessage, "satellite number 0");

    // tb counts quarter-hours of the Moscow day (UTC + 3 h); tk is the frame's start in the
    // same day, which may be the day before toc.
    const std::int64_t near_moscow_ms = utc_ms_from_gps_ms(near_gps_ms) + kMoscowAheadOfUtcMs;
    const std::int64_t toc_utc_ms = nearest_moscow_time(tb * 900'000, near_moscow_ms);
    eph.toc = calendar_from_ms(toc_utc_ms);
    const std::int64_t tk_ms = (tk_hours * 3600 + tk_minutes * 60 + tk_half_minutes * 30) * 1000;
    const std::int64_t frame_utc_ms = nearest_moscow_time(tk_ms, toc_utc_ms + kMoscowAheadOfUtcMs);
    // RINEX 3 writes the frame time in seconds of the UTC week.
    eph.tk = static_cast<double>(frame_utc_ms - floor_div(frame_utc_ms, kMsPerWeek) * kMsPerWeek) / 1000.0;
    return eph;
}

std::optional<std::vector<std::uint8_t>> encode_glonass(const GlonassEphemeris& eph) {
    const auto toc_ms = calendar_ms(eph.toc);
    if (!toc_ms || eph.prn == 0 || eph.prn > 63 || eph.freq_num < -7 || eph.freq_num > 24) return std::nullopt;
    BitWriter writer;
    writer.put(kGlonassMessage, 12);
    writer.put(eph.prn, 6);
    writer.put(eph.freq_num + 7, 5);
    writer.put(0, 1 + 1 + 2);  // almanac health and its availability, P1
    // The frame time: RINEX 2 counts it in seconds of the day, RINEX 3 of the week; either way
    // its time of day is what the message holds, in 30 s steps of the Moscow day.
    if (!std::isfinite(eph.tk)) return std::nullopt;
    const double tk_utc_s = std::fmod(std::fmod(eph.tk, 86400.0) + 86400.0, 86400.0);
    const std::int64_t tk_half_minutes = std::llround((tk_utc_s + 10800.0) / 30.0) % 2880;
    writer.put(tk_half_minutes / 120, 5).put(tk_half_minutes / 2 % 60, 6).put(tk_half_minutes % 2, 1);
    writer.put(0, 1 + 1);  // Bn, P2
    const std::int64_t moscow_ms = *toc_ms + kMoscowAheadOfUtcMs;
    const std::int64_t ms_of_day = moscow_ms - floor_div(moscow_ms, kMsPerDay) * kMsPerDay;
    writer.put((ms_of_day + 450'000) / 900'000 % 96, 7);
    const double axes[3][3] = {{eph.x, eph.vx, eph.ax}, {eph.y, eph.vy, eph.ay}, {eph.z, eph.vz, eph.az}};
    for (const auto& axis : axes) {
        if (!write_sign_magnitude(writer, axis[1], kVelocity) || !write_sign_magnitude(writer, axis[0], kPosition) ||
            !write_sign_magnitude(writer, axis[2], kAcceleration))
            return std::nullopt;
    }
    writer.put(0, 1);  // P3
    if (!write_sign_magnitude(writer, eph.gamma_n, kGammaN)) return std::nullopt;
    writer.put(0, 2 + 1);  // P, ln
    if (!write_sign_magnitude(writer, -eph.tau_n, kTauN)) return std::nullopt;
    // delta tau_n to the reserved bits, with the additional data marked unavailable.
    for (const unsigned width : {5u, 5u, 1u, 4u, 11u, 2u, 1u, 11u, 32u, 5u, 22u, 1u, 7u}) writer.put(0, width);
    return writer.take();
}

// ----- Records in the maps -----

bool same_record(const Ephemeris& a, const Ephemeris& b) noexcept {
    return a.toc == b.toc && a.af0 == b.af0 && a.af1 == b.af1 && a.af2 == b.af2 && a.iode == b.iode &&
           a.crs == b.crs && a.delta_n == b.delta_n && a.m0 == b.m0 && a.cuc == b.cuc && a.e == b.e &&
           a.cus == b.cus && a.sqrt_a == b.sqrt_a && a.toe == b.toe && a.cic == b.cic && a.omega0 == b.omega0 &&
           a.cis == b.cis && a.i0 == b.i0 && a.crc == b.crc && a.omega == b.omega && a.omega_dot == b.omega_dot &&
           a.idot == b.idot && a.prn == b.prn && a.week == b.week && a.system == b.system;
}

// The frame time is left out: it moves on every 30 s while the satellite sends the same
// ephemeris, and the first frame time is the one kept.
bool same_record(const GlonassEphemeris& a, const GlonassEphemeris& b) noexcept {
    return a.toc == b.toc && a.tau_n == b.tau_n && a.gamma_n == b.gamma_n && a.x == b.x &&
           a.vx == b.vx && a.ax == b.ax && a.y == b.y && a.vy == b.vy && a.ay == b.ay && a.z == b.z &&
           a.vz == b.vz && a.az == b.az && a.prn == b.prn && a.freq_num == b.freq_num;
}

std::string key_of(char letter, std::uint32_t number) {
    std::string key(1, letter);
    if (number < 10) key += '0';
    key += std::to_string(number);
    return key;
}

// Streams send each ephemeris again every few seconds, Galileo in turns of F/NAV and I/NAV (two
// records with the same orbit and their own clocks), so a record among the last few of its
// satellite is a repeat. Looking no further keeps each message's cost fixed.
constexpr std::size_t kRepeatWindow = 8;

template <typename Record>
void append_unless_repeated(std::map<std::string, std::vector<Record>, std::less<>>& map, std::string key,
                            Record&& record) {
    auto& list = map[std::move(key)];
    const std::size_t first = list.size() > kRepeatWindow ? list.size() - kRepeatWindow : 0;
    for (std::size_t i = list.size(); i > first; --i)
        if (same_record(list[i - 1], record)) return;
    list.push_back(std::move(record));
}

// A decoded record into its map; an error is not passed here.
void store(std::variant<Ephemeris, GlonassEphemeris, RtcmError>&& decoded, NavigationData& into) {
    if (auto* glonass = std::get_if<GlonassEphemeris>(&decoded)) {
        std::string key = key_of('R', glonass->prn);
        if (glonass->freq_num != 0) into.glonass_freq.insert_or_assign(key, glonass->freq_num);
        append_unless_repeated(into.glonass, std::move(key), std::move(*glonass));
    } else if (auto* eph = std::get_if<Ephemeris>(&decoded)) {
        auto& map = eph->system == 'C' ? into.beidou : eph->system == 'E' ? into.galileo : into.gps;
        std::string key = key_of(eph->system, eph->prn);
        append_unless_repeated(map, std::move(key), std::move(*eph));
    }
}


}  // namespace

bool is_rtcm_ephemeris(std::uint16_t message_type) noexcept {
    return message_type == kGlonassMessage || keplerian_constellation(message_type) != nullptr;
}

std::variant<Ephemeris, GlonassEphemeris, RtcmError> decode_rtcm_ephemeris(std::span<const std::uint8_t> payload,
                                                                           std::int64_t near_gps_ms) {
    // A reference beyond 35,000 years either side is brought back: the week arithmetic stays
    // far from overflow whatever the caller passes.
    near_gps_ms = std::clamp(near_gps_ms, -(std::int64_t{1} << 50), std::int64_t{1} << 50);
    BitReader reader(payload);
    const auto message_type = static_cast<std::uint16_t>(reader.bits(12));
    if (reader.failed()) return RtcmError{"RTCM: payload shorter than a message type"};
    if (message_type == kGlonassMessage) return decode_glonass(reader, near_gps_ms);
    if (const Constellation* system = keplerian_constellation(message_type))
        return decode_keplerian(reader, *system, near_gps_ms);
    return rtcm_error(message_type, "not an ephemeris message");
}

std::optional<RtcmError> add_rtcm_ephemeris(std::span<const std::uint8_t> payload, std::int64_t near_gps_ms,
                                            NavigationData& into) {
    auto decoded = decode_rtcm_ephemeris(payload, near_gps_ms);
    if (auto* error = std::get_if<RtcmError>(&decoded)) return std::move(*error);
    store(std::move(decoded), into);
    return std::nullopt;
}

RtcmNavigation read_rtcm_navigation(std::span<const std::uint8_t> bytes, std::int64_t near_gps_ms) {
    RtcmNavigation out;
    read_rtcm_frames(bytes, [&](const RtcmFrame& frame) {
        if (!is_rtcm_ephemeris(frame.message_type)) return;
        auto decoded = decode_rtcm_ephemeris(frame.payload, near_gps_ms);
        if (std::holds_alternative<RtcmError>(decoded)) {
            ++out.undecodable;
            return;
        }
        ++out.ephemerides;
        if (const auto* eph = std::get_if<Ephemeris>(&decoded)) {
            const std::int64_t toe = toe_gps_ms(*eph);
            if (!out.newest_toe_gps_ms || toe > *out.newest_toe_gps_ms) out.newest_toe_gps_ms = toe;
        }
        store(std::move(decoded), out.data);
    });
    if (out.newest_toe_gps_ms) out.gps_week = static_cast<std::int32_t>(floor_div(*out.newest_toe_gps_ms, kMsPerWeek));
    return out;
}

std::optional<std::int32_t> rtcm_stream_gps_week(std::span<const std::uint8_t> bytes, std::int32_t near_week) {
    return read_rtcm_navigation(bytes, std::int64_t{near_week} * kMsPerWeek + kMsPerWeek / 2).gps_week;
}

RtcmEphemerisFrames encode_rtcm_ephemerides(const NavigationData& nav) {
    // One list of every satellite, sorted by key across the maps (C, E, G, J, R).
    struct Satellite {
        std::string_view key;
        const std::vector<Ephemeris>* keplerian;
        const std::vector<GlonassEphemeris>* glonass;
    };
    std::vector<Satellite> satellites;
    for (const auto* map : {&nav.gps, &nav.galileo, &nav.beidou})
        for (const auto& [key, list] : *map) satellites.push_back({key, &list, nullptr});
    for (const auto& [key, list] : nav.glonass) satellites.push_back({key, nullptr, &list});
    std::stable_sort(satellites.begin(), satellites.end(),
                     [](const Satellite& a, const Satellite& b) { return a.key < b.key; });

    RtcmEphemerisFrames out;
    const auto add = [&out](const std::optional<std::vector<std::uint8_t>>& payload) {
        if (payload && append_rtcm_frame(*payload, out.bytes)) ++out.written;
        else ++out.skipped;
    };
    for (const Satellite& satellite : satellites) {
        if (satellite.glonass) {
            for (const GlonassEphemeris& eph : *satellite.glonass) add(encode_glonass(eph));
            continue;
        }
        const char letter = satellite.key.empty() ? ' ' : satellite.key.front();
        const Constellation* system = letter == 'G'   ? &kGps
                                      : letter == 'J' ? &kQzss
                                      : letter == 'E' ? &kGalileoInav
                                      : letter == 'C' ? &kBeidou
                                                      : nullptr;
        for (const Ephemeris& eph : *satellite.keplerian) add(system ? encode_keplerian(eph, *system) : std::nullopt);
    }
    return out;
}

}  // namespace vardoln
