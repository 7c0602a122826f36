#include "visibility/visibility.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <utility>

#include "navigation/receiver.hpp"
#include "rinex/counters.hpp"
#include "rinex/ids.hpp"
#include "visibility/visibility_tally.hpp"

namespace vardoln {

namespace {

constexpr std::uint32_t kNoCandidate = std::numeric_limits<std::uint32_t>::max();
const std::optional<Ecef> kNoPosition;

// Broadcast orbits of the navigation constellations lie between these radii; a position
// outside is a broken record, not a satellite to expect.
constexpr double kMinOrbitRadius = 20000000.0;  // m
constexpr double kMaxOrbitRadius = 50000000.0;  // m

bool is_predicted(const std::optional<Ecef>& satellite, const TopocentricFrame& receiver, double min_elevation) noexcept {
    if (!satellite) return false;
    const Ecef& p = *satellite;
    const double radius = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
    if (!(radius >= kMinOrbitRadius && radius <= kMaxOrbitRadius)) return false;
    const double elevation = receiver.elevation_deg(p);
    return !std::isnan(elevation) && std::fabs(elevation) <= 90.0 && elevation >= min_elevation;
}

// Entries of an epoch, cut to the entries the record holds.
std::pair<std::size_t, std::size_t> entry_range(const RinexObsData& obs, const ObservationEpoch& epoch) noexcept {
    const std::size_t total = obs.satellite_entries.size();
    const std::size_t first = std::min<std::size_t>(epoch.first_satellite, total);
    const std::size_t end = first + std::min<std::size_t>(epoch.satellite_count, total - first);
    return {first, end};
}

// Whether `table` was built from this source and record (otherwise the prediction builds its own).
bool table_fits(const PositionTable& table, const OrbitSource& source, const RinexObsData& obs) noexcept {
    if (table.candidate_count() != source.candidates.size()) return false;
    if (table.computed()) return table.entry_count() == obs.satellite_entries.size();
    return !source.nav || source.candidates.empty() || obs.satellite_entries.empty() || !obs.approx_position;
}

// The satellites of one index space: the candidates first, then observed satellites that are none.
// Satellites go by their navigation key, so that "G 2" and "G02" of one record are one satellite
// whether or not the navigation data hold it.
struct KeySpace {
    std::vector<std::string> navigation_keys;     // per satellite of the record, filled before any view
    std::vector<std::string_view> keys;           // into the candidates and navigation_keys
    std::vector<std::uint32_t> key_of_satellite;  // per satellite of the record
};

KeySpace key_space(const PositionTable& table, const RinexObsData& obs) {
    KeySpace space;
    const std::size_t candidates = table.candidate_count();
    space.keys.reserve(candidates + obs.satellite_ids.size());
    for (std::size_t c = 0; c < candidates; ++c) space.keys.push_back(table.key(c));
    space.navigation_keys.reserve(obs.satellite_ids.size());
    for (const std::string& satellite : obs.satellite_ids) space.navigation_keys.push_back(navigation_key(satellite));
    std::map<std::string_view, std::uint32_t> others;  // keys of the satellites that are no candidate
    space.key_of_satellite.resize(obs.satellite_ids.size());
    for (std::size_t s = 0; s < obs.satellite_ids.size(); ++s) {
        const std::string_view key = space.navigation_keys[s];
        if (const auto c = table.candidate_index(key)) {
            space.key_of_satellite[s] = static_cast<std::uint32_t>(*c);
            continue;
        }
        const auto [it, added] = others.try_emplace(key, static_cast<std::uint32_t>(space.keys.size()));
        if (added) space.keys.push_back(key);
        space.key_of_satellite[s] = it->second;
    }
    return space;
}

// Walks the epochs in file order and hands each one's predicted satellites (indices in candidate
// order) and observed satellites (indices of the key space) to `visit(epoch, predicted, observed)`.
template <typename Visit>
void walk_epochs(const OrbitSource& source, const PositionTable& table, const RinexObsData& obs,
                 const std::vector<std::uint32_t>& key_of_satellite, const TopocentricFrame& receiver,
                 double min_elevation, Visit&& visit) {
    const std::size_t candidates = table.candidate_count();
    // A satellite is observed through its signal-strength codes (those starting with S).
    std::vector<std::uint8_t> strength_code(obs.codes.size());
    for (std::size_t i = 0; i < obs.codes.size(); ++i) {
        strength_code[i] = is_signal_strength_code(obs.codes[i]);
    }

    std::vector<std::uint32_t> predicted;
    std::vector<std::uint32_t> observed;
    predicted.reserve(candidates);
    // Per candidate: the epoch (number + 1) in which it has an entry, and that entry.
    std::vector<std::uint64_t> present_stamp(candidates, 0);
    std::vector<std::size_t> present_entry(candidates, 0);
    // Positions of the candidates without an entry at an epoch (the table holds the others).
    std::optional<OrbitEvaluator> live;
    if (source.nav) {
        live.emplace(*source.nav);
        for (std::size_t c = 0; c < candidates; ++c) live->add_satellite(table.key(c));
    }

    for (std::size_t e = 0; e < obs.epochs.size(); ++e) {
        const ObservationEpoch& epoch = obs.epochs[e];
        const std::uint64_t stamp = e + 1;

        observed.clear();
        const auto [first, end] = entry_range(obs, epoch);
        for (std::size_t i = first; i < end; ++i) {
            const SatelliteObservations& entry = obs.satellite_entries[i];
            if (entry.satellite >= key_of_satellite.size()) continue;
            const std::uint32_t k = key_of_satellite[entry.satellite];
            if (k < candidates) {
                present_stamp[k] = stamp;
                present_entry[k] = i;
            }
            for (const ObservationValue& value : obs.values_of(entry)) {
                if (value.code < strength_code.size() && strength_code[value.code] != 0 && value.value > 0.0) {
                    observed.push_back(k);
                    break;
                }
            }
        }

        predicted.clear();
        const OrbitEpoch at = orbit_epoch(epoch.time);
        for (std::size_t c = 0; c < candidates; ++c) {
            // Satellites with an entry at this epoch were computed with the table; the rest here.
            const bool stored = present_stamp[c] == stamp;
            const std::optional<Ecef> computed = !stored && live ? live->position(c, at) : std::nullopt;
            const std::optional<Ecef>& position = stored ? table.position_of_entry(present_entry[c]) : computed;
            if (is_predicted(position, receiver, min_elevation)) predicted.push_back(static_cast<std::uint32_t>(c));
        }

        visit(e, std::as_const(predicted), std::as_const(observed));
    }
}

// Whether a key's constellation letter is among `letters`; every key when there are none.
std::vector<std::uint8_t> selected_keys(const std::vector<std::string_view>& keys,
                                        const std::optional<std::string_view>& letters) {
    std::vector<std::uint8_t> kept(keys.size(), 1);
    if (!letters) return kept;
    for (std::size_t k = 0; k < keys.size(); ++k) {
        kept[k] = letters->find(satellite_letter(keys[k])) != std::string_view::npos ? 1 : 0;
    }
    return kept;
}

VisibilitySummary predict_with_table(const OrbitSource& source, const PositionTable& table, const RinexObsData& obs,
                                     const TopocentricFrame& receiver, double min_elevation,
                                     const std::optional<std::string_view>& letters = std::nullopt) {
    KeySpace space = key_space(table, obs);
    const std::vector<std::uint8_t> kept = selected_keys(space.keys, letters);
    visibility_detail::VisibilityTally tally(std::move(space.keys));
    std::vector<std::uint32_t> kept_predicted;
    std::vector<std::uint32_t> kept_observed;
    walk_epochs(source, table, obs, space.key_of_satellite, receiver, min_elevation,
                [&](std::size_t e, const std::vector<std::uint32_t>& predicted,
                    const std::vector<std::uint32_t>& observed) {
                    if (!letters) {
                        tally.add_epoch(obs.epochs[e].time, predicted, observed);
                        return;
                    }
                    kept_predicted.clear();
                    kept_observed.clear();
                    for (const std::uint32_t k : predicted) if (kept[k] != 0) kept_predicted.push_back(k);
                    for (const std::uint32_t k : observed) if (kept[k] != 0) kept_observed.push_back(k);
                    tally.add_epoch(obs.epochs[e].time, kept_predicted, kept_observed);
                });
    return tally.finish(source.source_text);
}

}  // namespace

template <typename PositionAt>
void PositionTable::build(const OrbitSource& source, const RinexObsData& obs, PositionAt&& position_at) {
    keys_.assign(source.candidates.begin(), source.candidates.end());
    // make_orbit_source sorts its list; a list put together by hand is sorted here so that
    // the binary search of candidate_index holds.
    if (!std::is_sorted(keys_.begin(), keys_.end())) std::sort(keys_.begin(), keys_.end());
    candidate_count_ = keys_.size();
    if (!source.nav || !obs.approx_position || keys_.empty() || obs.satellite_entries.empty()) return;

    std::vector<std::uint32_t> candidate_of_satellite(obs.satellite_ids.size(), kNoCandidate);
    for (std::size_t s = 0; s < obs.satellite_ids.size(); ++s) {
        if (const auto c = candidate_index(navigation_key(obs.satellite_ids[s]))) {
            candidate_of_satellite[s] = static_cast<std::uint32_t>(*c);
        }
    }

    const std::size_t entries = obs.satellite_entries.size();
    positions_.resize(entries);
    entry_candidate_.assign(entries, kNoCandidate);
    epoch_entries_.reserve(obs.epochs.size());
    for (const ObservationEpoch& epoch : obs.epochs) {
        const auto [first, end] = entry_range(obs, epoch);
        epoch_entries_.push_back({static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(end - first)});
        const OrbitEpoch at = orbit_epoch(epoch.time);
        for (std::size_t i = first; i < end; ++i) {
            const std::uint32_t satellite = obs.satellite_entries[i].satellite;
            if (satellite >= candidate_of_satellite.size()) continue;
            const std::uint32_t c = candidate_of_satellite[satellite];
            if (c == kNoCandidate) continue;
            entry_candidate_[i] = c;
            positions_[i] = position_at(i, c, at);
        }
    }
}

PositionTable::PositionTable(const OrbitSource& source, const RinexObsData& obs) {
    std::optional<OrbitEvaluator> orbits;
    build(source, obs, [&](std::size_t, std::uint32_t candidate, const OrbitEpoch& at) {
        if (!orbits) {
            count(core_counters().geometry_passes);
            orbits.emplace(*source.nav);
            for (const std::string_view key : keys_) orbits->add_satellite(key);
        }
        return orbits->position(candidate, at);
    });
}

PositionTable::PositionTable(const OrbitSource& source, const RinexObsData& obs,
                             std::span<const std::optional<Ecef>> entry_positions) {
    build(source, obs, [&](std::size_t entry, std::uint32_t, const OrbitEpoch&) {
        return entry < entry_positions.size() ? entry_positions[entry] : std::nullopt;
    });
}

std::optional<std::size_t> PositionTable::candidate_index(std::string_view key) const noexcept {
    const auto it = std::lower_bound(keys_.begin(), keys_.end(), key);
    if (it == keys_.end() || *it != key) return std::nullopt;
    return static_cast<std::size_t>(it - keys_.begin());
}

const std::optional<Ecef>& PositionTable::position(std::size_t epoch_index, std::size_t candidate) const noexcept {
    if (epoch_index >= epoch_entries_.size()) return kNoPosition;
    const EntryRange range = epoch_entries_[epoch_index];
    for (std::size_t i = range.first; i < std::size_t{range.first} + range.count; ++i) {
        if (entry_candidate_[i] == candidate) return positions_[i];
    }
    return kNoPosition;
}

const std::optional<Ecef>& PositionTable::position_of_entry(std::size_t entry_index) const noexcept {
    return entry_index < positions_.size() ? positions_[entry_index] : kNoPosition;
}

std::string_view PositionTable::key(std::size_t candidate) const noexcept {
    return candidate < keys_.size() ? keys_[candidate] : std::string_view{};
}

VisibilitySummary predict_visibility(const OrbitSource& source, const PositionTable& positions,
                                     const RinexObsData& obs, double min_elevation,
                                     std::optional<std::string_view> letters) {
    if (!obs.approx_position || obs.epochs.empty()) return {};
    const TopocentricFrame receiver = *receiver_frame(obs);
    if (table_fits(positions, source, obs)) {
        return predict_with_table(source, positions, obs, receiver, min_elevation, letters);
    }
    const PositionTable own(source, obs);
    return predict_with_table(source, own, obs, receiver, min_elevation, letters);
}

VisibilitySummary predict_visibility(const OrbitSource& source, const RinexObsData& obs, double min_elevation,
                                     std::string_view letters) {
    return predict_visibility(source, PositionTable(), obs, min_elevation, letters);
}

VisibilityCounts visibility_counts(const OrbitSource& source, const RinexObsData& obs, double min_elevation,
                                   const std::optional<std::string>& letters,
                                   std::span<const std::optional<Ecef>> known_positions) {
    VisibilityCounts counts;
    if (!obs.approx_position || obs.epochs.empty()) return counts;
    const TopocentricFrame receiver = *receiver_frame(obs);
    const PositionTable table = known_positions.empty() ? PositionTable(source, obs)
                                                        : PositionTable(source, obs, known_positions);
    const KeySpace space = key_space(table, obs);
    const std::vector<std::uint8_t> kept =
        selected_keys(space.keys, letters ? std::optional<std::string_view>(*letters) : std::nullopt);

    // Columns: the constellation letters of every candidate and observed satellite kept, ascending.
    std::array<std::uint8_t, 256> present{};
    for (std::size_t k = 0; k < space.keys.size(); ++k) {
        const std::string_view key = space.keys[k];
        if (kept[k] != 0) present[key.empty() ? 0 : static_cast<unsigned char>(key.front())] = 1;
    }
    std::array<std::uint32_t, 256> column{};
    for (std::size_t letter = 0; letter < present.size(); ++letter) {
        if (present[letter] == 0) continue;
        column[letter] = static_cast<std::uint32_t>(counts.letters.size());
        counts.letters.push_back(static_cast<char>(letter));
    }
    std::vector<std::uint32_t> letter_of_key(space.keys.size());
    for (std::size_t k = 0; k < space.keys.size(); ++k) {
        letter_of_key[k] = column[space.keys[k].empty() ? 0 : static_cast<unsigned char>(space.keys[k].front())];
    }

    const std::size_t width = counts.letters.size();
    counts.predicted.assign(obs.epochs.size() * width, 0);
    counts.observed.assign(obs.epochs.size() * width, 0);
    counts.confirmed.assign(obs.epochs.size() * width, 0);
    std::vector<std::uint64_t> predicted_stamp(space.keys.size(), 0);
    std::vector<std::uint64_t> observed_stamp(space.keys.size(), 0);
    walk_epochs(source, table, obs, space.key_of_satellite, receiver, min_elevation,
                [&](std::size_t e, const std::vector<std::uint32_t>& predicted,
                    const std::vector<std::uint32_t>& observed) {
                    // Repeats count once, as in the summary.
                    const std::uint64_t stamp = e + 1;
                    const std::size_t row = e * width;
                    for (const std::uint32_t k : predicted) {
                        if (kept[k] == 0 || predicted_stamp[k] == stamp) continue;
                        predicted_stamp[k] = stamp;
                        ++counts.predicted[row + letter_of_key[k]];
                    }
                    for (const std::uint32_t k : observed) {
                        if (kept[k] == 0 || observed_stamp[k] == stamp) continue;
                        observed_stamp[k] = stamp;
                        ++counts.observed[row + letter_of_key[k]];
                        if (predicted_stamp[k] == stamp) ++counts.confirmed[row + letter_of_key[k]];
                    }
                });
    return counts;
}

}  // namespace vardoln
