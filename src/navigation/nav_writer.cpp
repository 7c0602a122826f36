#include "navigation/nav_writer.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <string_view>

#include "navigation/nav_fields.hpp"

namespace vardoln {

namespace {

template <typename... Args>
void append_format(std::string& out, const char* format, Args... args) {
    std::array<char, 96> buffer{};
    const int written = std::snprintf(buffer.data(), buffer.size(), format, args...);
    if (written > 0)
        out.append(buffer.data(), std::min<std::size_t>(static_cast<std::size_t>(written), buffer.size() - 1));
}

// "G05 2021 01 01 02 00 00": the letter, the number and the epoch with whole seconds, as the
// format has them; then the three clock fields.
void append_record_epoch(std::string& out, char letter, std::uint32_t prn, const EpochTime& toc) {
    const long second = std::lround(std::isfinite(toc.second) ? std::clamp(toc.second, -9.0, 99.0) : 0.0);
    append_format(out, "%c%02u %4d %02u %02u %02u %02u %02ld", letter, prn, toc.year, toc.month, toc.day, toc.hour,
                  toc.minute, second);
}

void append_fields(std::string& out, std::initializer_list<double> values) {
    for (const double value : values) append_nav_field(out, value);
    out.push_back('\n');
}

void append_orbit_line(std::string& out, std::initializer_list<double> values) {
    out.append(4, ' ');
    append_fields(out, values);
}

bool writable(char letter, std::uint32_t prn) noexcept {
    return prn <= 99 && (letter == 'G' || letter == 'J' || letter == 'E' || letter == 'C');
}

void append_keplerian(std::string& out, const Ephemeris& eph) {
    if (!writable(eph.system, eph.prn)) return;
    append_record_epoch(out, eph.system, eph.prn, eph.toc);
    append_fields(out, {eph.af0, eph.af1, eph.af2});
    append_orbit_line(out, {eph.iode, eph.crs, eph.delta_n, eph.m0});
    append_orbit_line(out, {eph.cuc, eph.e, eph.cus, eph.sqrt_a});
    append_orbit_line(out, {eph.toe, eph.cic, eph.omega0, eph.cis});
    append_orbit_line(out, {eph.i0, eph.crc, eph.omega, eph.omega_dot});
    // idot, codes on L2 / data sources, week, L2 P flag
    append_orbit_line(out, {eph.idot, 0.0, static_cast<double>(eph.week), 0.0});
    // accuracy, health, group delays: not kept by the records
    append_orbit_line(out, {0.0, 0.0, 0.0, 0.0});
    // transmission time, fit interval
    append_orbit_line(out, {0.0, 0.0});
}

// The state vector goes back to km, km/s and km/s^2, as the files hold it.
void append_glonass(std::string& out, const GlonassEphemeris& eph) {
    if (eph.prn > 99) return;
    append_record_epoch(out, 'R', eph.prn, eph.toc);
    append_fields(out, {eph.tau_n, eph.gamma_n, eph.tk});
    append_orbit_line(out, {eph.x / 1000.0, eph.vx / 1000.0, eph.ax / 1000.0, 0.0});
    append_orbit_line(out, {eph.y / 1000.0, eph.vy / 1000.0, eph.ay / 1000.0, static_cast<double>(eph.freq_num)});
    append_orbit_line(out, {eph.z / 1000.0, eph.vz / 1000.0, eph.az / 1000.0, 0.0});
}

}  // namespace

void append_nav_field(std::string& out, double value) {
    std::array<char, 64> buffer{};
    for (int precision = 12; precision >= 0; --precision) {
        const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                          std::chars_format::scientific, precision);
        const auto size = static_cast<std::size_t>(result.ptr - buffer.data());
        if (result.ec != std::errc{} || size > kNavFieldWidth) continue;
        // Right-aligned in the 19 columns; a negative value's sign takes the first of them.
        out.append(kNavFieldWidth - size, ' ');
        for (std::size_t i = 0; i < size; ++i) out.push_back(buffer[i] == 'e' ? 'E' : buffer[i]);
        return;
    }
    out.append(kNavFieldWidth, ' ');  // unreachable: "-1e+308" is 7 characters
}

std::string write_rinex_navigation(const NavigationData& nav, const RinexWriteSettings& settings) {
    std::string out;
    std::string line = "     3.04           N: GNSS NAV DATA    M: MIXED";
    append_header_line(out, line, "RINEX VERSION / TYPE");
    auto padded = [](std::string_view text) {
        std::string field(text.substr(0, 20));
        field.resize(20, ' ');
        return field;
    };
    append_header_line(out, padded(settings.program) + padded(settings.run_by) + padded(settings.creation_date),
                       "PGM / RUN BY / DATE");
    append_header_line(out, "", "END OF HEADER");

    for (const auto& [key, records] : nav.gps)
        for (const Ephemeris& eph : records) append_keplerian(out, eph);
    for (const auto& [key, records] : nav.glonass)
        for (const GlonassEphemeris& eph : records) append_glonass(out, eph);
    for (const auto& [key, records] : nav.galileo)
        for (const Ephemeris& eph : records) append_keplerian(out, eph);
    for (const auto& [key, records] : nav.beidou)
        for (const Ephemeris& eph : records) append_keplerian(out, eph);
    return out;
}

}  // namespace vardoln
