// The steps of the broadcast orbit computation, exposed for src/navigation and its tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "navigation/nav_data.hpp"
#include "navigation/orbits.hpp"

namespace vardoln::orbit_detail {

// Record choice windows, in days of Julian value.
inline constexpr double kKeplerianWindowDays = 1.0 / 6.0;
inline constexpr double kGlonassWindowDays = 1.0 / 24.0;

// One satellite's choosable records (those with a finite Julian value) sorted by Julian value,
// ties in list order: what choose_timed walks.
std::vector<TimedRecord> timed_records(const std::vector<Ephemeris>& records);
std::vector<TimedRecord> timed_records(const std::vector<GlonassEphemeris>& records);

// The record choice: over one satellite's timed records, the first record in list order with
// the smallest distance in Julian value strictly inside the window, or null. `cursor` carries
// the number of records at or before the previous request from call to call (any value is
// safe; a close one saves the search).
const TimedRecord* choose_timed(std::span<const TimedRecord> by_time, std::size_t& cursor, double julian,
                                double window_days) noexcept;

// Seconds from the record's toe to the instant, both taken in the week of the instant, brought
// within half a week so that a toe just across a week boundary stays close.
double time_from_ephemeris(double julian, double toe) noexcept;
// The same in two halves: the seconds of week of the instant, and the toe taken from them.
double seconds_of_week(double julian) noexcept;
double time_from_ephemeris_in_week(double seconds_of_week, double toe) noexcept;

// BeiDou geostationary satellites (C01-C05, C59-C63) broadcast their orbit in a frame tilted
// by -5 degrees and need their own rotation into the Earth-fixed frame.
bool is_beidou_geostationary(const Ephemeris& eph) noexcept;

Ecef keplerian_position(const Ephemeris& eph, double julian) noexcept;
// The same from the record's constants and tk, the seconds from toe.
KeplerConstants kepler_constants(const Ephemeris& eph) noexcept;
Ecef keplerian_position(const Ephemeris& eph, const KeplerConstants& constants, double tk) noexcept;

// One classical fourth-order Runge-Kutta step of `step_s` seconds (negative runs backward);
// `lunisolar` is the broadcast acceleration, held constant.
GlonassState glonass_rk4_step(const GlonassState& state, const Ecef& lunisolar, double step_s) noexcept;

// Integration from the record's toc over `dt_s` seconds in 60 s steps and a final shorter one,
// taking the full steps already in `grid` and adding those it computes (up to the one-hour
// window's worth in each direction). A fresh grid gives the plain integration.
Ecef glonass_position(const GlonassEphemeris& eph, GlonassGrid& grid, double dt_s);

}  // namespace vardoln::orbit_detail
