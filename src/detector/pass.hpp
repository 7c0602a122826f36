// The detector's judgement of one epoch after another: each signal's residual against what was
// expected of it (a template's value, or its own trailing median), the satellites that lost a
// band, and per band whether the epoch is affected, at the onset of an episode, or spoofed.
// Shared by the whole-recording detector and the live one, which feeds it epochs as they come.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "detector/detector.hpp"
#include "rinex/bands.hpp"

namespace vardoln::detector_pass {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kLost = -std::numeric_limits<double>::infinity();
inline constexpr std::size_t kWindowCapacity = 64;  // values kept per trailing window
inline constexpr std::size_t kMinWindowValues = 3;
inline constexpr std::uint32_t kFewSatellites = 8;
inline constexpr std::size_t kSpoofMinSatellites = 4;
inline constexpr double kMadToSigma = 1.4826;
// Two epochs are neighbours when the step between them is at most this many intervals.
inline constexpr double kNeighbourSteps = 1.5;

using BandMask = std::uint8_t;
constexpr BandMask bit(Band band) noexcept { return static_cast<BandMask>(1u << static_cast<unsigned>(band)); }
constexpr std::size_t band_index(Band band) noexcept { return static_cast<std::size_t>(band); }

// GPS and QZSS semi-codeless tracking (modes W, Z-tracking, and D): it follows the receiver's
// P(Y) correlation rather than the power in the band, and is left out.
constexpr bool is_semi_codeless(char system, std::string_view code) noexcept {
    return (system == 'G' || system == 'J') && code.size() >= 3 && (code[2] == 'W' || code[2] == 'D');
}

// The median, reordering the values; NaN for none.
double median_of(std::span<double> values) noexcept;

struct Signal {
    std::uint32_t satellite = 0;  // the caller's satellite index
    std::uint32_t type = 0;       // constellation letter and code
    Band band = Band::L1;
};

struct Sample {
    std::uint32_t signal = 0;
    float value = 0.0F;
    float elevation = 0.0F;  // NaN where unknown
};

// A satellite in a band at a flagged epoch: its mean residual, kLost when it lost the band, NaN
// when nothing was expected of it.
struct SatelliteResidual {
    std::uint32_t satellite = 0;
    Band band = Band::L1;
    double residual = kNaN;
};

struct EpochFlags {
    BandMask affected = 0;
    BandMask onset = 0;  // the same rule at half the drop: how far an episode reaches
    BandMask spoofed = 0;
};

// A signal's own recent level, fed only from epochs that were clean in its band.
class TrailingWindow {
public:
    void add(double seconds, double value, double spacing_s);
    // Values older than `oldest` age out; NaN with fewer than three values.
    double median(double oldest, std::vector<double>& scratch);

private:
    std::vector<std::pair<double, double>> values_;
    double median_ = kNaN;
    bool dirty_ = true;
};

// Epochs in time order. The signal and satellite tables may grow between epochs.
class PassStepper {
public:
    PassStepper(const DetectorSettings& settings, double interval_s);

    // One judged epoch at `now_s` (seconds on any fixed scale). `expected` holds, per sample,
    // what a template expects of it (NaN: the signal's trailing median stands in). Records of
    // flagged satellites are appended to `records` when the epoch is flagged.
    EpochFlags step(double now_s, std::span<const Sample> samples, std::span<const double> expected,
                    std::span<const Signal> signals, std::size_t satellite_count,
                    std::vector<SatelliteResidual>& records);

    void set_interval(double interval_s) noexcept { interval_ = interval_s; }

private:
    struct BandTally {
        double residual_sum = 0.0;
        double value_sum = 0.0;
        std::uint32_t residuals = 0;
        std::uint32_t used = 0;
        std::uint32_t lost = 0;
        std::uint32_t stamp = 0;  // judged epoch + 1 that these counts belong to
    };

    void grow(std::size_t signal_count, std::size_t satellite_count);

    DetectorSettings settings_;
    double interval_ = 0.0;
    double spacing_ = 0.0;
    std::uint32_t stamp_ = 0;
    double last_s_ = 0.0;
    std::vector<TrailingWindow> windows_;
    std::vector<std::uint8_t> needs_window_;
    std::vector<std::uint32_t> carried_stamp_;  // judged epoch + 1 of the signal's last sample
    std::vector<std::uint32_t> carried_run_;    // consecutive judged epochs carried
    std::vector<float> last_elevation_;
    std::vector<std::uint32_t> previous_;  // signals carried in the previous judged epoch
    std::vector<std::uint32_t> current_;
    std::array<double, kBandCount> reference_s_;  // last epoch clean in the band
    std::array<std::vector<BandTally>, kBandCount> tallies_;
    std::array<std::vector<std::uint32_t>, kBandCount> touched_;
    std::array<std::vector<std::uint32_t>, kBandCount> held_;  // lost during an affected stretch
    std::vector<double> scratch_;
    std::vector<double> levels_;
    std::vector<double> spread_scratch_;
    std::array<bool, 3> neighbour_{};  // steps into this epoch, the previous and the one before
};

}  // namespace vardoln::detector_pass
