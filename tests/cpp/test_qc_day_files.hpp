// The real day files as the quality-control tests and benchmark read them (found like every
// real recording of the tests): through the archive layers, with the navigation files of one
// day merged into one record.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "archive/readers.hpp"
#include "navigation/nav_bytes.hpp"
#include "navigation/nav_data.hpp"
#include "rinex/obs_data.hpp"
#include "test_real_data.hpp"

namespace vardoln::qc_testing {

inline std::optional<std::string> shared_bytes(const char* name) { return test::real_bytes(name); }

inline std::optional<RinexObsData> shared_obs(const char* name) {
    const auto bytes = shared_bytes(name);
    if (!bytes) return std::nullopt;
    auto parsed = read_observation_bytes(*bytes, std::filesystem::path(name).filename().string());
    if (auto* data = std::get_if<RinexObsData>(&parsed)) return std::move(*data);
    return std::nullopt;
}

// Several navigation files of one day merged into one record (maps of distinct keys).
inline std::optional<NavigationData> shared_nav(const std::vector<const char*>& names) {
    NavigationData merged;
    for (const char* name : names) {
        const auto bytes = shared_bytes(name);
        if (!bytes) return std::nullopt;
        auto parsed = read_navigation_bytes(*bytes);
        auto* nav = std::get_if<NavigationData>(&parsed);
        if (!nav) return std::nullopt;
        merged.gps.merge(nav->gps);
        merged.galileo.merge(nav->galileo);
        merged.beidou.merge(nav->beidou);
        merged.glonass.merge(nav->glonass);
        merged.glonass_freq.merge(nav->glonass_freq);
    }
    return merged;
}

}  // namespace vardoln::qc_testing
