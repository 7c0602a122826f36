// The orbit source of one analysis: broadcast navigation data and its candidate satellites.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "navigation/nav_data.hpp"

namespace vardoln {

struct OrbitSource {
    std::shared_ptr<const NavigationData> nav;  // immutable, shared by concurrent runs
    std::vector<std::string> candidates;        // every key of the four ephemeris maps, ascending
    std::string source_text;                    // "BRDC Navigation (N satellites)"
};

OrbitSource make_orbit_source(std::shared_ptr<const NavigationData> nav);

}  // namespace vardoln
