// Predicted against observed satellites, per epoch, condensed into a summary.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "cn0/result.hpp"
#include "navigation/orbits.hpp"
#include "rinex/obs_data.hpp"
#include "visibility/orbit_source.hpp"

namespace vardoln {

// Positions of every candidate satellite at every observation epoch, computed once per
// analysis and shared by the sample extraction and the prediction.
class PositionTable {
public:
    PositionTable() = default;
    PositionTable(const OrbitSource& source, const RinexObsData& obs);

    // Index of a candidate key, or nothing for a satellite that is no candidate.
    std::optional<std::size_t> candidate_index(std::string_view key) const noexcept;
    const std::optional<Ecef>& position(std::size_t epoch_index, std::size_t candidate) const noexcept;
    std::size_t candidate_count() const noexcept { return candidate_count_; }

private:
    std::size_t candidate_count_ = 0;
    std::vector<std::string_view> keys_;  // into the orbit source's candidate list, sorted
    std::vector<std::optional<Ecef>> positions_;  // epoch-major
};

// Everything of the summary except has_prediction, which the caller sets.
VisibilitySummary predict_visibility(const OrbitSource& source, const PositionTable& positions,
                                     const RinexObsData& obs, double min_elevation);

// C "BeiDou", E "Galileo", G "GPS", J "QZSS", R "GLONASS", S "SBAS", anything else "Unknown".
std::string_view visibility_system_name(std::string_view key) noexcept;

}  // namespace vardoln
