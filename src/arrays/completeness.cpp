#include "arrays/completeness.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>

#include "arrays/positions.hpp"
#include "arrays/tables.hpp"
#include "navigation/orbits.hpp"
#include "rinex/ids.hpp"

namespace vardoln::arrays {

namespace {

constexpr std::uint64_t kMinGridLimit = 200'000;
constexpr std::uint64_t kGridPerEpoch = 100;
constexpr double kWorkPerValue = 100.0;
constexpr double kMinWork = 1e8;
// Names listed in satellites_without_code over all rows, beyond which the table is refused.
constexpr double kMinListedNames = 100'000.0;

// The most common spacing of consecutive distinct epoch times, to the millisecond (receivers
// with a free-running clock write epochs a few microseconds apart from the nominal ones).
double common_spacing(std::vector<double> seconds) {
    std::sort(seconds.begin(), seconds.end());
    std::map<long long, std::uint64_t> tally;
    for (std::size_t i = 1; i < seconds.size(); ++i) {
        const double step = seconds[i] - seconds[i - 1];
        if (step >= 0.0005) ++tally[std::llround(step * 1000.0)];
    }
    long long best = 0;
    std::uint64_t most = 0;
    for (const auto& [milliseconds, count] : tally) {
        if (count > most) {
            best = milliseconds;
            most = count;
        }
    }
    return static_cast<double>(best) / 1000.0;
}

struct Tally {
    std::uint64_t expected = 0, observed = 0, below_mask = 0, no_ephemeris = 0;
};

}  // namespace

std::variant<Completeness, std::string> completeness(const RinexObsData& obs, const NavigationData& nav,
                                                     double min_elevation, const EntryGeometry* geometry) {
    Completeness result;
    const std::optional<TopocentricFrame> receiver = receiver_frame(obs);
    if (!receiver) return std::string(kNoReceiverPosition);

    // Epoch times in seconds from the earliest epoch; epochs without a usable time stay off
    // the grid.
    std::vector<double> offsets(obs.epochs.size(), std::numeric_limits<double>::quiet_NaN());
    std::optional<std::size_t> earliest;
    for (std::size_t e = 0; e < obs.epochs.size(); ++e) {
        const double julian = julian_day(obs.epochs[e].time);
        if (!std::isfinite(julian)) continue;
        if (!earliest || julian < julian_day(obs.epochs[*earliest].time)) earliest = e;
    }
    std::vector<double> present;
    if (earliest) {
        for (std::size_t e = 0; e < obs.epochs.size(); ++e) {
            const double offset = epoch_difference_seconds(obs.epochs[e].time, obs.epochs[*earliest].time);
            if (std::isfinite(offset)) {
                offsets[e] = offset;
                present.push_back(offset);
            }
        }
    }
    result.interval_from_header = obs.interval > 0.0 && std::isfinite(obs.interval);
    result.interval = result.interval_from_header ? obs.interval : common_spacing(present);
    const double span = present.empty() ? 0.0 : *std::max_element(present.begin(), present.end());
    if (!present.empty()) {
        const double slots = result.interval > 0.0 ? std::round(span / result.interval) + 1.0 : 1.0;
        const double limit = std::max<double>(kMinGridLimit, static_cast<double>(kGridPerEpoch * obs.epochs.size()));
        if (!(slots <= limit)) {
            return "the nominal grid at the interval of " + std::to_string(result.interval) + " s over " +
                   std::to_string(span) + " s would hold " + std::to_string(slots) + " epochs, more than " +
                   std::to_string(kGridPerEpoch) + " times the file's " + std::to_string(obs.epochs.size());
        }
        result.grid_epochs = static_cast<std::uint64_t>(slots);
    }

    // Epochs by grid slot.
    const std::size_t grid = result.grid_epochs;
    std::vector<std::size_t> slot_starts(grid + 1, 0);
    std::vector<std::uint32_t> slot_of(obs.epochs.size(), 0);
    for (std::size_t e = 0; e < obs.epochs.size(); ++e) {
        if (std::isnan(offsets[e])) continue;
        const double slot = result.interval > 0.0 ? std::round(offsets[e] / result.interval) : 0.0;
        slot_of[e] = static_cast<std::uint32_t>(std::clamp(slot, 0.0, static_cast<double>(grid - 1)));
        ++slot_starts[slot_of[e] + 1];
    }
    std::partial_sum(slot_starts.begin(), slot_starts.end(), slot_starts.begin());
    std::vector<std::uint32_t> slot_epochs(slot_starts.back());
    {
        std::vector<std::size_t> next(slot_starts.begin(), slot_starts.end() - 1);
        for (std::size_t e = 0; e < obs.epochs.size(); ++e) {
            if (!std::isnan(offsets[e])) slot_epochs[next[slot_of[e]]++] = static_cast<std::uint32_t>(e);
        }
    }

    // The (satellite, code) pairs with a value somewhere: what each satellite carries.
    const std::vector<std::uint8_t> strength = signal_strength_codes(obs);
    const auto has_value = [&](const ObservationValue& value) {
        return strength[value.code] != 0 ? is_cn0_sample(value.value) : !std::isnan(value.value);
    };
    PairIndex carried(obs.satellite_ids.size(), obs.codes.size());
    for_each_entry(obs, [&](std::size_t, std::size_t, const SatelliteObservations& entry,
                            std::span<const ObservationValue> values) {
        for (const ObservationValue& value : values) {
            if (value.code < obs.codes.size() && has_value(value)) carried.id(entry.satellite, value.code);
        }
    });
    // The grid walk classifies every carried pair at every grid epoch. Its cost is bounded by
    // the data: a small file whose grid is long and whose pairs are many is refused rather
    // than allowed to run for minutes.
    const double work = static_cast<double>(grid) * static_cast<double>(carried.size());
    if (work > kWorkPerValue * static_cast<double>(obs.values.size()) + kMinWork) {
        return "the nominal grid of " + std::to_string(grid) + " epochs times the " + std::to_string(carried.size()) +
               " signals of the file is more work than its " + std::to_string(obs.values.size()) + " values justify";
    }
    std::vector<std::vector<std::uint32_t>> pairs_of_satellite(obs.satellite_ids.size());
    for (std::size_t pair = 0; pair < carried.size(); ++pair) {
        pairs_of_satellite[carried.pair(pair).first].push_back(static_cast<std::uint32_t>(pair));
    }

    // The grid, slot by slot: which pairs have a value, and where each satellite is.
    OrbitEvaluator orbits(nav);
    for (const std::string& satellite : obs.satellite_ids) orbits.add_satellite(navigation_key(satellite));
    std::vector<Tally> tallies(carried.size());
    std::vector<std::uint64_t> stamp(carried.size(), 0);
    // The entry of each satellite in the slot's first epoch (where its position is known).
    std::vector<std::uint64_t> entry_mark(obs.satellite_ids.size(), 0);
    std::vector<std::size_t> entry_of(obs.satellite_ids.size(), 0);
    const bool known_positions = geometry != nullptr && geometry->positions.size() == obs.satellite_entries.size() &&
                                 geometry->elevation_deg.size() == obs.satellite_entries.size();
    EpochTime nominal = earliest ? obs.epochs[*earliest].time : EpochTime{};
    const double first_second = nominal.second;
    for (std::size_t slot = 0; slot < grid; ++slot) {
        const std::uint64_t mark = slot + 1;
        for (std::size_t k = slot_starts[slot]; k < slot_starts[slot + 1]; ++k) {
            const ObservationEpoch& epoch = obs.epochs[slot_epochs[k]];
            if (known_positions && k == slot_starts[slot]) {
                const std::size_t first = epoch.first_satellite;
                const std::span<const SatelliteObservations> entries = obs.satellites_of(epoch);
                for (std::size_t i = 0; i < entries.size(); ++i) {
                    if (entries[i].satellite >= entry_mark.size() || first + i >= geometry->positions.size()) continue;
                    entry_mark[entries[i].satellite] = mark;
                    entry_of[entries[i].satellite] = first + i;
                }
            }
            for (const SatelliteObservations& entry : obs.satellites_of(epoch)) {
                for (const ObservationValue& value : obs.values_of(entry)) {
                    if (value.code < obs.codes.size() && has_value(value)) stamp[carried.id(entry.satellite, value.code)] = mark;
                }
            }
        }
        if (slot_starts[slot + 1] > slot_starts[slot]) ++result.epochs_on_grid;
        // Positions at the file's own epoch where the slot has one (as the analysis computes
        // them), else at the nominal time.
        OrbitEpoch at;
        if (slot_starts[slot + 1] > slot_starts[slot]) {
            at = orbit_epoch(obs.epochs[slot_epochs[slot_starts[slot]]].time);
        } else {
            nominal.second = first_second + static_cast<double>(slot) * result.interval;
            at = orbit_epoch(nominal);
        }
        for (std::size_t satellite = 0; satellite < obs.satellite_ids.size(); ++satellite) {
            const std::vector<std::uint32_t>& pairs = pairs_of_satellite[satellite];
            if (pairs.empty()) continue;
            if (!is_predictable(satellite_letter(obs.satellite_ids[satellite]))) {
                for (const std::uint32_t pair : pairs) tallies[pair].observed += stamp[pair] == mark;
                continue;
            }
            const bool known = entry_mark[satellite] == mark;
            const std::optional<Ecef> position =
                known ? geometry->positions[entry_of[satellite]] : orbits.position(satellite, at);
            // The elevation of the analysis's look angles.
            const double elevation = !position ? 0.0
                                     : known   ? geometry->elevation_deg[entry_of[satellite]]
                                               : receiver->elevation_deg(*position);
            for (const std::uint32_t pair : pairs) {
                Tally& tally = tallies[pair];
                const bool valued = stamp[pair] == mark;
                if (!position) {
                    tally.no_ephemeris += valued;
                } else if (elevation < min_elevation) {
                    tally.below_mask += valued;
                } else {
                    ++tally.expected;
                    tally.observed += valued;
                }
            }
        }
    }

    // Rows per (constellation letter, code) that some satellite carries.
    const std::vector<std::uint32_t> satellite_rank = satellite_ranks(obs);
    const std::vector<std::uint32_t> ranked = by_rank(satellite_rank);
    const std::vector<std::uint32_t> code_rank = code_ranks(obs);
    PairIndex rows(256, obs.codes.size());
    std::vector<Tally> row_tallies;
    std::vector<std::uint32_t> row_of_pair(carried.size());
    std::vector<std::uint64_t> carriers;  // per row
    for (std::size_t pair = 0; pair < carried.size(); ++pair) {
        const auto [satellite, code] = carried.pair(pair);
        const auto letter = static_cast<unsigned char>(satellite_letter(obs.satellite_ids[satellite]));
        const std::uint32_t row = rows.id(letter, code);
        if (row == row_tallies.size()) {
            row_tallies.emplace_back();
            carriers.push_back(0);
        }
        row_of_pair[pair] = row;
        Tally& total = row_tallies[row];
        total.expected += tallies[pair].expected;
        total.observed += tallies[pair].observed;
        total.below_mask += tallies[pair].below_mask;
        total.no_ephemeris += tallies[pair].no_ephemeris;
        ++carriers[row];
    }
    // Satellites per letter in table order, and how many names the lists would hold.
    std::vector<std::vector<std::uint32_t>> of_letter(256);
    for (const std::uint32_t satellite : ranked) {
        of_letter[static_cast<unsigned char>(satellite_letter(obs.satellite_ids[satellite]))].push_back(satellite);
    }
    double listed = 0.0;
    for (std::size_t row = 0; row < rows.size(); ++row) {
        listed += static_cast<double>(of_letter[rows.pair(row).first].size() - carriers[row]);
    }
    if (listed > kMinListedNames + 10.0 * static_cast<double>(obs.satellite_ids.size())) {
        return "the file holds " + std::to_string(rows.size()) + " signals over " +
               std::to_string(obs.satellite_ids.size()) + " satellites, too many to list the satellites without each";
    }
    std::vector<std::vector<std::uint32_t>> pairs_of_row(rows.size());
    for (std::size_t pair = 0; pair < carried.size(); ++pair) pairs_of_row[row_of_pair[pair]].push_back(static_cast<std::uint32_t>(pair));

    std::vector<std::uint32_t> letters(256);
    std::iota(letters.begin(), letters.end(), 0u);
    std::vector<std::uint32_t> carrier_mark(obs.satellite_ids.size(), 0);
    for (const std::uint32_t row : order_pairs(rows, letters, code_rank)) {
        const auto [letter, code] = rows.pair(row);
        CompletenessRow out;
        out.system = observed_system_name(static_cast<char>(letter));
        out.code = obs.codes[code];
        out.predictable = is_predictable(static_cast<char>(letter));
        const Tally& total = row_tallies[row];
        out.observed = total.observed;
        if (out.predictable) {
            out.expected = total.expected;
            out.below_mask = total.below_mask;
            out.no_ephemeris = total.no_ephemeris;
        }
        for (const std::uint32_t pair : pairs_of_row[row]) carrier_mark[carried.pair(pair).first] = row + 1;
        for (const std::uint32_t satellite : of_letter[letter]) {
            if (carrier_mark[satellite] != row + 1) out.satellites_without_code.push_back(obs.satellite_ids[satellite]);
        }
        result.rows.push_back(std::move(out));
    }
    return result;
}

}  // namespace vardoln::arrays
