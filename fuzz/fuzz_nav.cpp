// Any bytes through the navigation reader, then a position of every satellite it found.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "navigation/orbits.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto parsed = vardoln::parse_navigation(bytes);
    if (auto* nav = std::get_if<vardoln::NavigationData>(&parsed)) {
        const auto probe = [nav](const auto& map) {
            for (const auto& [key, records] : map) {
                if (records.empty()) continue;
                auto epoch = records.front().toc;
                epoch.minute += 7;
                if (auto position = vardoln::satellite_position(*nav, key, epoch)) {
                    const auto geodetic = vardoln::ecef_to_geodetic(*position);
                    (void)vardoln::look_angles({6378137.0, 0.0, 0.0}, {0.0, 0.0, 0.0}, *position);
                    (void)geodetic;
                }
            }
        };
        probe(nav->gps);
        probe(nav->galileo);
        probe(nav->beidou);
        probe(nav->glonass);
    }
    return 0;
}
