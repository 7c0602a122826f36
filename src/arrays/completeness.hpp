// Completeness: expected observations above the elevation mask on the nominal epoch grid
// against those present, per constellation and code.
#pragma once

#include "arrays/positions.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "navigation/nav_data.hpp"
#include "rinex/obs_data.hpp"

namespace vardoln::arrays {

struct CompletenessRow {
    std::string system;
    std::string code;
    bool predictable = false;
    // Satellite-slots of the satellites that carry the code at least once: above the mask
    // (expected), and of those with the code's value (observed). The code's values found
    // below the mask or without a position are counted apart. Absent where not predictable.
    std::optional<std::uint64_t> expected;
    std::uint64_t observed = 0;  // where not predictable: every slot with the code's value
    std::optional<std::uint64_t> below_mask;
    std::optional<std::uint64_t> no_ephemeris;
    std::vector<std::string> satellites_without_code;  // of the constellation, in table order
};

struct Completeness {
    std::vector<CompletenessRow> rows;  // constellation letter, code
    double interval = 0.0;              // seconds between grid epochs
    bool interval_from_header = false;  // else the most common spacing of the epochs
    std::uint64_t grid_epochs = 0;      // first to last epoch at the interval
    std::uint64_t epochs_on_grid = 0;   // grid epochs with at least one epoch of the file
};

// A value of a code: for S codes a C/N0 sample, for the others any value that is a number.
// The grid is refused (an error text) when it would hold more than 100 times the file's epochs
// and more than 200,000 epochs: an INTERVAL that does not belong to the data.
// `geometry`, when given, is entry_geometry(obs, nav): a grid slot that holds an epoch of the
// file takes the positions and elevations of the satellites observed there from it rather than
// evaluating the same orbits again.
std::variant<Completeness, std::string> completeness(const RinexObsData& obs, const NavigationData& nav,
                                                     double min_elevation, const EntryGeometry* geometry = nullptr);

}  // namespace vardoln::arrays
