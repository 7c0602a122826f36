// Broadcast-ephemeris satellite positions, WGS-84 geodetic conversion and look angles.
#include "navigation/orbits.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <numbers>
#include <span>

#include "navigation/orbit_detail.hpp"
#include "rinex/numbers.hpp"

namespace vardoln {

namespace {

// Keplerian orbits of every system use the GPS values.
constexpr double kGm = 3.986005e14;                  // m^3/s^2
constexpr double kEarthRotation = 7.2921151467e-5;   // rad/s

// GLONASS equations of motion (PZ-90 values of the GLONASS interface document).
constexpr double kGlonassGm = 3.9860044e14;          // m^3/s^2
constexpr double kGlonassJ2Term = 66062825163.19413; // 1.5 * J2 * ae^2, m^2
constexpr double kGlonassOmegaSquared = 5.3174941173225e-9;  // s^-2
constexpr double kGlonassTwoOmega = 0.0001458423;            // s^-1
constexpr double kGlonassStep = 60.0;                        // s

constexpr double kWgs84A = 6378137.0;                  // m
constexpr double kWgs84E2 = 0.0066943799901413165;
constexpr double kWgs84OneMinusE2 = 0.9933056200098587;

constexpr double kDegreesPerRadian = 57.29577951308232;
constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;

constexpr double kWeekSeconds = 604800.0;
constexpr double kHalfWeekSeconds = 302400.0;
constexpr double kGpsOriginJulian = 2444244.5;  // 1980-01-06 00:00

// julian_day runs half a day ahead of the astronomical Julian date.
constexpr double kJulianDayOffset = 0.5;

// One acceleration evaluation of the GLONASS equations of motion: central body with the J2
// term, written in the rotating Earth-fixed frame, plus the broadcast luni-solar term.
Ecef glonass_acceleration(const Ecef& p, const Ecef& v, const Ecef& lunisolar) noexcept {
    const double x = p[0], y = p[1], z = p[2];
    const double r = std::sqrt(x * x + y * y + z * z);
    const double r2 = r * r;
    const double k = -kGlonassGm / (r2 * r);
    const double c = kGlonassJ2Term / r2;
    const double q = 5.0 * z * z / r2;
    const double radial = k * (1.0 + c * (1.0 - q));
    return {radial * x + kGlonassOmegaSquared * x + kGlonassTwoOmega * v[1] + lunisolar[0],
            radial * y + kGlonassOmegaSquared * y - kGlonassTwoOmega * v[0] + lunisolar[1],
            k * (1.0 + c * (3.0 - q)) * z + lunisolar[2]};
}

Ecef add_scaled(const Ecef& a, const Ecef& b, double scale) noexcept {
    return {a[0] + scale * b[0], a[1] + scale * b[1], a[2] + scale * b[2]};
}

}  // namespace

namespace orbit_detail {

template <typename Record>
std::vector<TimedRecord> timed_list(const std::vector<Record>& records) {
    std::vector<TimedRecord> by_time;
    by_time.reserve(records.size());
    for (std::size_t k = 0; k < records.size(); ++k) {
        const double julian = julian_day(records[k].toc);
        if (std::isfinite(julian)) by_time.push_back({julian, static_cast<std::uint32_t>(k)});
    }
    std::sort(by_time.begin(), by_time.end(), [](const TimedRecord& x, const TimedRecord& y) {
        return x.julian < y.julian || (x.julian == y.julian && x.index < y.index);
    });
    return by_time;
}

std::vector<TimedRecord> timed_records(const std::vector<Ephemeris>& records) { return timed_list(records); }
std::vector<TimedRecord> timed_records(const std::vector<GlonassEphemeris>& records) { return timed_list(records); }

const TimedRecord* choose_timed(std::span<const TimedRecord> by_time, std::size_t& cursor, double julian,
                                double window_days) noexcept {
    // A NaN or infinite epoch is at no finite distance from any record.
    if (by_time.empty() || !std::isfinite(julian)) return nullptr;
    std::size_t at_or_before = std::min(cursor, by_time.size());
    while (at_or_before < by_time.size() && by_time[at_or_before].julian <= julian) ++at_or_before;
    while (at_or_before > 0 && by_time[at_or_before - 1].julian > julian) --at_or_before;
    cursor = at_or_before;

    // Rounded differences are monotonic, so distances grow (or stay) going away from the epoch
    // on either side: the smallest is at one of the two neighbours, and every record sharing it
    // sits in the unbroken runs next to them. The walk in file order keeps the first of those.
    const auto distance = [&](std::size_t k) { return std::fabs(by_time[k].julian - julian); };
    double smallest = std::numeric_limits<double>::infinity();
    if (at_or_before > 0) smallest = distance(at_or_before - 1);
    if (at_or_before < by_time.size()) smallest = std::min(smallest, distance(at_or_before));
    if (!(smallest < window_days)) return nullptr;
    const TimedRecord* chosen = nullptr;
    const auto consider = [&](std::size_t k) {
        if (chosen == nullptr || by_time[k].index < chosen->index) chosen = &by_time[k];
    };
    for (std::size_t k = at_or_before; k > 0 && distance(k - 1) == smallest; --k) consider(k - 1);
    for (std::size_t k = at_or_before; k < by_time.size() && distance(k) == smallest; ++k) consider(k);
    return chosen;
}

double seconds_of_week(double julian) noexcept {
    const double days = julian - kJulianDayOffset - kGpsOriginJulian;
    const std::int32_t week = saturate_i32(std::floor(days / 7.0));
    return (days - 7.0 * week) * 86400.0;
}

double time_from_ephemeris_in_week(double seconds_of_week, double toe) noexcept {
    double tk = seconds_of_week - toe;
    if (tk > kHalfWeekSeconds) tk -= kWeekSeconds;
    else if (tk < -kHalfWeekSeconds) tk += kWeekSeconds;
    return tk;
}

double time_from_ephemeris(double julian, double toe) noexcept {
    return time_from_ephemeris_in_week(seconds_of_week(julian), toe);
}

bool is_beidou_geostationary(const Ephemeris& eph) noexcept {
    return eph.system == 'C' && ((eph.prn >= 1 && eph.prn <= 5) || (eph.prn >= 59 && eph.prn <= 63));
}

KeplerConstants kepler_constants(const Ephemeris& eph) noexcept {
    KeplerConstants constants;
    const double a = eph.sqrt_a * eph.sqrt_a;
    constants.a = a;
    constants.mean_motion = std::sqrt(kGm / (a * a * a)) + eph.delta_n;
    constants.root_one_minus_e2 = std::sqrt(1.0 - eph.e * eph.e);
    constants.geostationary = is_beidou_geostationary(eph);
    return constants;
}

Ecef keplerian_position(const Ephemeris& eph, double julian) noexcept {
    return keplerian_position(eph, kepler_constants(eph), time_from_ephemeris(julian, eph.toe));
}

Ecef keplerian_position(const Ephemeris& eph, const KeplerConstants& constants, double tk) noexcept {
    const double a = constants.a;
    const double n = constants.mean_motion;
    const double mk = eph.m0 + n * tk;

    // A fixed count of Newton steps: broadcast eccentricities are small enough that ten
    // always converge, and the result does not depend on a tolerance. A step that returns its
    // own input bit for bit has reached a fixed point that the remaining steps would only
    // repeat, so they are left out; the sine and cosine of that point are the ones needed below.
    const double e = eph.e;
    double ek = mk;
    double sin_ek = 0.0;
    double cos_ek = 0.0;
    bool settled = false;
    for (int step = 0; step < 10; ++step) {
        sin_ek = std::sin(ek);
        cos_ek = std::cos(ek);
        const double next = ek - (ek - e * sin_ek - mk) / (1.0 - e * cos_ek);
        if (std::bit_cast<std::uint64_t>(next) == std::bit_cast<std::uint64_t>(ek)) {
            settled = true;
            break;
        }
        ek = next;
    }
    if (!settled) {
        sin_ek = std::sin(ek);
        cos_ek = std::cos(ek);
    }

    const double v = std::atan2(constants.root_one_minus_e2 * sin_ek, cos_ek - e);
    const double phi = v + eph.omega;
    const double sin2 = std::sin(2.0 * phi);
    const double cos2 = std::cos(2.0 * phi);
    const double u = phi + eph.cuc * cos2 + eph.cus * sin2;
    const double r = a * (1.0 - e * cos_ek) + eph.crc * cos2 + eph.crs * sin2;
    const double i = eph.i0 + eph.idot * tk + eph.cic * cos2 + eph.cis * sin2;

    const double xp = r * std::cos(u);
    const double yp = r * std::sin(u);
    const bool geostationary = constants.geostationary;
    // Geostationary BeiDou orbits are referred to an inertial-like node; the Earth's rotation
    // over tk is applied afterwards, together with the -5 degree tilt of their frame.
    const double node = geostationary
                            ? eph.omega0 + eph.omega_dot * tk - kEarthRotation * eph.toe
                            : eph.omega0 + (eph.omega_dot - kEarthRotation) * tk - kEarthRotation * eph.toe;
    const double cos_node = std::cos(node);
    const double sin_node = std::sin(node);
    const double cos_i = std::cos(i);
    const Ecef plane{xp * cos_node - yp * cos_i * sin_node, xp * sin_node + yp * cos_i * cos_node, yp * std::sin(i)};
    if (!geostationary) return plane;

    const double rotation = kEarthRotation * tk;
    const double cos_r = std::cos(rotation);
    const double sin_r = std::sin(rotation);
    const double c5 = std::cos(-5.0 * kRadiansPerDegree);
    const double s5 = std::sin(-5.0 * kRadiansPerDegree);
    const double xg = plane[0], yg = plane[1], zg = plane[2];
    return {xg * cos_r + yg * sin_r * c5 + zg * sin_r * s5, -xg * sin_r + yg * cos_r * c5 + zg * cos_r * s5,
            -yg * s5 + zg * c5};
}

GlonassState glonass_rk4_step(const GlonassState& state, const Ecef& lunisolar, double step_s) noexcept {
    const double half = step_s / 2.0;
    const Ecef& p0 = state.position;
    const Ecef& v0 = state.velocity;
    // k1..k4: velocity (the derivative of position) and acceleration at the four stages.
    const Ecef a1 = glonass_acceleration(p0, v0, lunisolar);
    const Ecef& d1 = v0;
    const Ecef p2 = add_scaled(p0, d1, half);
    const Ecef d2 = add_scaled(v0, a1, half);
    const Ecef a2 = glonass_acceleration(p2, d2, lunisolar);
    const Ecef p3 = add_scaled(p0, d2, half);
    const Ecef d3 = add_scaled(v0, a2, half);
    const Ecef a3 = glonass_acceleration(p3, d3, lunisolar);
    const Ecef p4 = add_scaled(p0, d3, step_s);
    const Ecef d4 = add_scaled(v0, a3, step_s);
    const Ecef a4 = glonass_acceleration(p4, d4, lunisolar);

    GlonassState next;
    const double weight = step_s / 6.0;
    for (int axis = 0; axis < 3; ++axis) {
        next.position[axis] = p0[axis] + weight * (d1[axis] + 2.0 * d2[axis] + 2.0 * d3[axis] + d4[axis]);
        next.velocity[axis] = v0[axis] + weight * (a1[axis] + 2.0 * a2[axis] + 2.0 * a3[axis] + a4[axis]);
    }
    return next;
}

Ecef glonass_position(const GlonassEphemeris& eph, GlonassGrid& grid, double dt_s) {
    if (dt_s == 0.0) return {eph.x, eph.y, eph.z};
    GlonassState state{{eph.x, eph.y, eph.z}, {eph.vx, eph.vy, eph.vz}};
    const Ecef lunisolar{eph.ax, eph.ay, eph.az};
    // The steps of the plain integration, one by one; a full step whose end state is on the
    // grid already is taken from there. The window keeps |dt| within an hour (60 steps).
    constexpr std::size_t kMaxGridStates = 64;
    std::vector<GlonassState>& states = std::signbit(dt_s) ? grid.backward : grid.forward;
    double elapsed = 0.0;
    std::size_t full_steps = 0;
    const double full_step = std::copysign(kGlonassStep, dt_s);
    while (std::fabs(elapsed) < std::fabs(dt_s)) {
        const double left = dt_s - elapsed;
        if (std::fabs(left) < kGlonassStep) {
            state = glonass_rk4_step(state, lunisolar, left);
            elapsed += left;
            continue;
        }
        ++full_steps;
        if (full_steps <= states.size()) {
            state = states[full_steps - 1];
        } else {
            state = glonass_rk4_step(state, lunisolar, full_step);
            if (states.size() < kMaxGridStates) states.push_back(state);
        }
        elapsed += full_step;
    }
    return state.position;
}

}  // namespace orbit_detail

std::optional<Ecef> satellite_position(const NavigationData& nav, std::string_view key, const EpochTime& epoch) {
    OrbitEvaluator evaluator(nav);
    return evaluator.position(evaluator.add_satellite(key), orbit_epoch(epoch));
}

Geodetic ecef_to_geodetic(const Ecef& position) noexcept {
    const double x = position[0], y = position[1], z = position[2];
    const double longitude = std::atan2(y, x);
    const double p = std::sqrt(x * x + y * y);
    double latitude = std::atan2(z, kWgs84OneMinusE2 * p);
    for (int step = 0; step < 10; ++step) {
        const double sin_lat = std::sin(latitude);
        const double n = kWgs84A / std::sqrt(1.0 - kWgs84E2 * sin_lat * sin_lat);
        latitude = std::atan2(z + n * kWgs84E2 * sin_lat, p);
    }
    const double sin_lat = std::sin(latitude);
    const double cos_lat = std::cos(latitude);
    const double n = kWgs84A / std::sqrt(1.0 - kWgs84E2 * sin_lat * sin_lat);
    // At the poles p / cos(lat) is 0 / 0; the height is then measured along the axis.
    const double height = std::fabs(cos_lat) > 1e-10 ? p / cos_lat - n : std::fabs(z) - n * kWgs84OneMinusE2;
    return {latitude * kDegreesPerRadian, longitude * kDegreesPerRadian, height};
}

LookAngles look_angles(const Ecef& receiver, const Geodetic& receiver_geodetic, const Ecef& satellite) noexcept {
    return TopocentricFrame(receiver, receiver_geodetic).look_angles(satellite);
}

TopocentricFrame::TopocentricFrame(const Ecef& receiver, const Geodetic& receiver_geodetic) noexcept
    : receiver_(receiver) {
    const double phi = receiver_geodetic.latitude_deg * kRadiansPerDegree;
    const double lambda = receiver_geodetic.longitude_deg * kRadiansPerDegree;
    sin_phi_ = std::sin(phi);
    cos_phi_ = std::cos(phi);
    sin_lambda_ = std::sin(lambda);
    cos_lambda_ = std::cos(lambda);
}

TopocentricFrame::Enu TopocentricFrame::enu(const Ecef& satellite) const noexcept {
    const double dx = satellite[0] - receiver_[0];
    const double dy = satellite[1] - receiver_[1];
    const double dz = satellite[2] - receiver_[2];
    const double sin_phi = sin_phi_, cos_phi = cos_phi_;
    const double sin_lambda = sin_lambda_, cos_lambda = cos_lambda_;
    return {-sin_lambda * dx + cos_lambda * dy,
            -sin_phi * cos_lambda * dx - sin_phi * sin_lambda * dy + cos_phi * dz,
            cos_phi * cos_lambda * dx + cos_phi * sin_lambda * dy + sin_phi * dz};
}

LookAngles TopocentricFrame::look_angles(const Ecef& satellite) const noexcept {
    const Enu d = enu(satellite);
    const double azimuth = std::atan2(d.east, d.north) * kDegreesPerRadian;
    // Adding 0.0 turns an azimuth of -0 (due north, east component -0) into +0.
    return {azimuth < 0.0 ? azimuth + 360.0 : azimuth + 0.0,
            std::atan2(d.up, std::sqrt(d.east * d.east + d.north * d.north)) * kDegreesPerRadian};
}

double TopocentricFrame::elevation_deg(const Ecef& satellite) const noexcept {
    const Enu d = enu(satellite);
    return std::atan2(d.up, std::sqrt(d.east * d.east + d.north * d.north)) * kDegreesPerRadian;
}

OrbitEpoch orbit_epoch(const EpochTime& epoch) noexcept {
    const double julian = julian_day(epoch);
    return {julian, orbit_detail::seconds_of_week(julian)};
}

std::size_t OrbitEvaluator::add_satellite(std::string_view key) {
    Track track;
    const auto timed = [&](const auto& records) {
        const std::vector<orbit_detail::TimedRecord> by_time = orbit_detail::timed_records(records);
        track.first_timed = timed_.size();
        track.timed_count = by_time.size();
        timed_.insert(timed_.end(), by_time.begin(), by_time.end());
    };
    const auto keplerian = [&](const auto& map) {
        const auto found = map.find(key);
        if (found == map.end() || found->second.empty()) return;
        track.kind = Kind::keplerian;
        track.keplerian = &found->second;
        timed(found->second);
        track.first_record = constants_.size();
        for (const Ephemeris& eph : found->second) constants_.push_back(orbit_detail::kepler_constants(eph));
    };
    switch (key.empty() ? '\0' : key.front()) {
        case 'G':
        case 'J':
            keplerian(nav_->gps);
            break;
        case 'E':
            keplerian(nav_->galileo);
            break;
        case 'C':
            keplerian(nav_->beidou);
            break;
        case 'R': {
            const auto found = nav_->glonass.find(key);
            if (found == nav_->glonass.end() || found->second.empty()) break;
            track.kind = Kind::glonass;
            track.glonass = &found->second;
            timed(found->second);
            track.first_record = grids_.size();
            grids_.resize(grids_.size() + found->second.size());
            break;
        }
        default:
            break;
    }
    tracks_.push_back(track);
    return tracks_.size() - 1;
}

std::optional<Ecef> OrbitEvaluator::position(std::size_t satellite, const OrbitEpoch& epoch) {
    if (satellite >= tracks_.size()) return std::nullopt;
    Track& track = tracks_[satellite];
    if (track.kind == Kind::none) return std::nullopt;
    const std::span<const orbit_detail::TimedRecord> by_time(timed_.data() + track.first_timed, track.timed_count);
    if (track.kind == Kind::keplerian) {
        const auto* chosen =
            orbit_detail::choose_timed(by_time, track.cursor, epoch.julian, orbit_detail::kKeplerianWindowDays);
        if (chosen == nullptr) return std::nullopt;
        const Ephemeris& eph = (*track.keplerian)[chosen->index];
        return orbit_detail::keplerian_position(eph, constants_[track.first_record + chosen->index],
                                                orbit_detail::time_from_ephemeris_in_week(epoch.seconds_of_week, eph.toe));
    }
    const auto* chosen = orbit_detail::choose_timed(by_time, track.cursor, epoch.julian, orbit_detail::kGlonassWindowDays);
    if (chosen == nullptr) return std::nullopt;
    return orbit_detail::glonass_position((*track.glonass)[chosen->index], grids_[track.first_record + chosen->index],
                                          (epoch.julian - chosen->julian) * 86400.0);
}

}  // namespace vardoln
