#include "arrays/coverage.hpp"

#include <limits>

#include <algorithm>
#include <array>

#include "arrays/positions.hpp"
#include "arrays/tables.hpp"
#include "rinex/ids.hpp"

namespace vardoln::arrays {

std::vector<CoverageRow> navigation_coverage(const RinexObsData& obs, const NavigationData& nav,
                                             const EntryGeometry* known, const std::optional<std::string>& letters) {
    const EntryPositions computed = known != nullptr ? EntryPositions{} : entry_positions(obs, nav);
    const EntryPositions& positions = known != nullptr ? known->positions : computed;
    const std::vector<std::uint8_t> strength = signal_strength_codes(obs);

    struct Tally {
        bool present = false;
        std::uint64_t observed = 0;
        std::uint64_t covered = 0;
    };
    std::array<Tally, 256> tallies{};
    std::vector<std::uint8_t> uncovered(obs.satellite_ids.size(), 0);
    for_each_entry(obs, [&](std::size_t, std::size_t entry_index, const SatelliteObservations& entry,
                            std::span<const ObservationValue> values) {
        const char letter = satellite_letter(obs.satellite_ids[entry.satellite]);
        Tally& tally = tallies[static_cast<unsigned char>(letter)];
        tally.present = true;
        bool sampled = false;
        for (const ObservationValue& value : values) {
            if (value.code < strength.size() && strength[value.code] != 0 && is_cn0_sample(value.value)) {
                sampled = true;
                break;
            }
        }
        if (!sampled) return;
        ++tally.observed;
        if (!is_predictable(letter)) return;
        if (positions[entry_index]) {
            ++tally.covered;
        } else {
            uncovered[entry.satellite] = 1;
        }
    });

    const std::vector<std::uint32_t> ranked = by_rank(satellite_ranks(obs));
    std::vector<CoverageRow> rows;
    CoverageRow all{"all", 0, 0, {}, true};
    for (int letter = 0; letter < 256; ++letter) {
        const Tally& tally = tallies[static_cast<std::size_t>(letter)];
        if (!tally.present) continue;
        if (letters && letters->find(static_cast<char>(letter)) == std::string::npos) continue;
        CoverageRow row{observed_system_name(static_cast<char>(letter)), tally.observed, tally.covered, {},
                        is_predictable(static_cast<char>(letter))};
        for (const std::uint32_t satellite : ranked) {
            if (uncovered[satellite] != 0 && static_cast<unsigned char>(satellite_letter(obs.satellite_ids[satellite])) == letter) {
                row.uncovered_satellites.push_back(navigation_key(obs.satellite_ids[satellite]));
            }
        }
        // The list names satellites as the navigation data do, once each: "G 2" and "G02" of one
        // record are G02. Sorting keeps the table order of every other identifier.
        std::sort(row.uncovered_satellites.begin(), row.uncovered_satellites.end());
        row.uncovered_satellites.erase(std::unique(row.uncovered_satellites.begin(), row.uncovered_satellites.end()),
                                       row.uncovered_satellites.end());
        if (row.predictable) {
            all.observed += row.observed;
            all.covered += row.covered;
            all.uncovered_satellites.insert(all.uncovered_satellites.end(), row.uncovered_satellites.begin(),
                                            row.uncovered_satellites.end());
        }
        rows.push_back(std::move(row));
    }
    rows.push_back(std::move(all));
    return rows;
}

double coverage_percent(const CoverageRow& row) noexcept {
    return row.predictable ? percent_of(row.covered, row.observed) : std::numeric_limits<double>::quiet_NaN();
}

bool spans_overlap(const RinexObsData& obs, const NavigationData& nav) {
    const NavigationSpan all = navigation_spans(nav).front();
    std::int64_t first = kNoTime;
    std::int64_t last = kNoTime;
    for (const ObservationEpoch& epoch : obs.epochs) {
        const std::int64_t at = epoch_nanoseconds(epoch.time);
        if (at == kNoTime) continue;
        if (first == kNoTime || at < first) first = at;
        if (last == kNoTime || at > last) last = at;
    }
    if (all.first == kNoTime || first == kNoTime) return false;
    return all.first - kRecordWindowNs <= last && all.last + kRecordWindowNs >= first;
}

bool coverage_complete(const std::vector<CoverageRow>& rows, bool overlap) noexcept {
    if (!overlap) return false;
    for (const CoverageRow& row : rows) {
        if (row.system == "all") return coverage_percent(row) >= kCompleteCoveragePercent;
    }
    return false;
}

}  // namespace vardoln::arrays
