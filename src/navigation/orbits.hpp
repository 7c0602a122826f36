// Satellite positions from broadcast records, and receiver geometry.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "navigation/nav_data.hpp"
#include "rinex/epoch_time.hpp"

namespace vardoln {

using Ecef = std::array<double, 3>;  // Earth-centred, Earth-fixed, metres

struct Geodetic {
    double latitude_deg = 0.0;
    double longitude_deg = 0.0;
    double height_m = 0.0;
};

struct LookAngles {
    double azimuth_deg = 0.0;  // [0, 360)
    double elevation_deg = 0.0;
};

// Position of the satellite with this key at the epoch, or nothing (unknown letter, no
// records, no record inside the selection window): one request through a fresh OrbitEvaluator.
std::optional<Ecef> satellite_position(const NavigationData& nav, std::string_view key, const EpochTime& epoch);

Geodetic ecef_to_geodetic(const Ecef& position) noexcept;

LookAngles look_angles(const Ecef& receiver, const Geodetic& receiver_geodetic, const Ecef& satellite) noexcept;

// The receiver's half of look_angles (its position and the sines and cosines of its latitude
// and longitude), worked out once for the many satellites seen from it. Gives exactly what
// look_angles gives.
class TopocentricFrame {
public:
    TopocentricFrame(const Ecef& receiver, const Geodetic& receiver_geodetic) noexcept;

    LookAngles look_angles(const Ecef& satellite) const noexcept;
    // The elevation of look_angles alone, without the azimuth's arctangent.
    double elevation_deg(const Ecef& satellite) const noexcept;

private:
    struct Enu {
        double east, north, up;
    };
    Enu enu(const Ecef& satellite) const noexcept;

    Ecef receiver_;
    double sin_phi_, cos_phi_, sin_lambda_, cos_lambda_;
};

// What every position request at one epoch shares: its Julian value and the seconds into the
// GPS week that value falls in.
struct OrbitEpoch {
    double julian = 0.0;
    double seconds_of_week = 0.0;
};
OrbitEpoch orbit_epoch(const EpochTime& epoch) noexcept;

namespace orbit_detail {

struct GlonassState {
    Ecef position;  // m
    Ecef velocity;  // m/s
};

// The terms of a Keplerian orbit that depend on the record alone.
struct KeplerConstants {
    double a = 0.0;                  // semi-major axis, m
    double mean_motion = 0.0;        // corrected, rad/s
    double root_one_minus_e2 = 0.0;  // sqrt(1 - e^2)
    bool geostationary = false;
};

// The states one GLONASS record's integration has reached on its 60 s grid, forward and
// backward from toc: entry j holds the state after j + 1 full steps.
struct GlonassGrid {
    std::vector<GlonassState> forward;
    std::vector<GlonassState> backward;
};

// A record's Julian value and its place in the satellite's list (file order).
struct TimedRecord {
    double julian;
    std::uint32_t index;
};

}  // namespace orbit_detail

// Positions of a fixed set of satellites at a run of epochs, the same bits whatever requests
// came before: each key is looked up once, every record's
// Julian value is taken once and the records kept in time order, the record-only terms of the
// Keplerian orbit are computed once, and GLONASS integrations keep the states they reach on
// each record's 60 s grid, so that a later request continues from there with the same
// arithmetic. Fastest when each satellite's epochs advance in time (the usual case); any order
// gives the same positions. Borrows `nav`, which must outlive the evaluator; one evaluator
// serves one thread.
class OrbitEvaluator {
public:
    explicit OrbitEvaluator(const NavigationData& nav) noexcept : nav_(&nav) {}

    // Adds a satellite and returns its handle (handles count up from 0). A key without records
    // or of an unknown letter is accepted and never has a position.
    std::size_t add_satellite(std::string_view key);
    std::size_t satellite_count() const noexcept { return tracks_.size(); }

    // The satellite's position at the epoch, or nothing (no record inside the selection window,
    // an unknown handle).
    std::optional<Ecef> position(std::size_t satellite, const OrbitEpoch& epoch);

private:
    enum class Kind : std::uint8_t { none, keplerian, glonass };
    struct Track {
        Kind kind = Kind::none;
        const std::vector<Ephemeris>* keplerian = nullptr;
        const std::vector<GlonassEphemeris>* glonass = nullptr;
        std::size_t first_timed = 0;   // the track's run in timed_
        std::size_t timed_count = 0;   // records with a finite Julian value, the only choosable ones
        std::size_t first_record = 0;  // the track's run in constants_ or grids_, by list index
        std::size_t cursor = 0;        // timed records at or before the last request's epoch
    };

    const NavigationData* nav_;
    std::vector<Track> tracks_;
    std::vector<orbit_detail::TimedRecord> timed_;
    std::vector<orbit_detail::KeplerConstants> constants_;
    std::vector<orbit_detail::GlonassGrid> grids_;
};

}  // namespace vardoln
