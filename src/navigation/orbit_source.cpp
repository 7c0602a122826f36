#include "navigation/orbit_source.hpp"

#include <algorithm>
#include <utility>

namespace vardoln {

OrbitSource make_orbit_source(std::shared_ptr<const NavigationData> nav) {
    OrbitSource source;
    if (nav) {
        const auto add_keys = [&source](const auto& records) {
            for (const auto& entry : records) source.candidates.push_back(entry.first);
        };
        source.candidates.reserve(nav->gps.size() + nav->galileo.size() + nav->beidou.size() + nav->glonass.size());
        add_keys(nav->gps);
        add_keys(nav->galileo);
        add_keys(nav->beidou);
        add_keys(nav->glonass);
        // Each map is sorted on its own; the letters interleave (C < E < G < J < R).
        std::sort(source.candidates.begin(), source.candidates.end());
    }
    source.source_text = "BRDC Navigation (" + std::to_string(source.candidates.size()) + " satellites)";
    source.nav = std::move(nav);
    return source;
}

}  // namespace vardoln
