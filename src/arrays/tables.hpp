// What every table of the tools shares: times as datetime64 nanoseconds, constellation names,
// the row order (constellation, satellite, code) and dense ids for (satellite, code) pairs.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <cmath>
#include <limits>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "rinex/epoch_time.hpp"
#include "rinex/obs_data.hpp"

namespace vardoln::arrays {

// NumPy's NaT: the time of an epoch whose fields name no instant.
inline constexpr std::int64_t kNoTime = std::numeric_limits<std::int64_t>::min();

// Nanoseconds since 1970-01-01T00:00:00 of an epoch as written, with no time-scale change;
// kNoTime when the fields are no calendar instant (month 13, 31 April, hour 24, NaN seconds) or
// lie outside what datetime64[ns] holds (years 1678 to 2261). Seconds up to 61 are taken as
// written, so a leap second reads as the first second of the next minute.
std::int64_t epoch_nanoseconds(const EpochTime& epoch) noexcept;

// Constellations whose broadcast records the navigation reader keeps and so can be positioned.
// SBAS and IRNSS are never predicted.
inline constexpr std::string_view kPredictableLetters = "GRECJ";
constexpr bool is_predictable(char letter) noexcept {
    return letter != '\0' && kPredictableLetters.find(letter) != std::string_view::npos;
}

// A part of a whole in percent, part / whole * 100; NaN for an empty whole.
inline double percent_of(std::uint64_t part, std::uint64_t whole) noexcept {
    return whole == 0 ? std::numeric_limits<double>::quiet_NaN()
                      : static_cast<double>(part) / static_cast<double>(whole) * 100.0;
}

// A C/N0 sample is an S-code value above 0: receivers write 0 for a signal they do not track,
// and NaN or an infinite value is no measurement either.
inline bool is_cn0_sample(double value) noexcept {
    return value > 0.0 && std::isfinite(value);
}

// Row order of every table: constellation letter, then identifier text. An empty identifier
// belongs to GPS, as everywhere else. Gives each interned satellite its rank.
std::vector<std::uint32_t> satellite_ranks(const RinexObsData& obs);
// Codes by text; gives each interned code its rank.
std::vector<std::uint32_t> code_ranks(const RinexObsData& obs);
// The inverse of a rank table: the index holding each rank.
std::vector<std::uint32_t> by_rank(const std::vector<std::uint32_t>& ranks);

// Signal-strength code flags per interned code.
std::vector<std::uint8_t> signal_strength_codes(const RinexObsData& obs);

// Dense ids, in order of first appearance, for pairs of small indices (satellite and code).
// A table serves when the pairs are few enough to count directly; a hash map otherwise, so
// that a file with many identifiers and codes cannot size a table beyond its data.
class PairIndex {
public:
    PairIndex(std::size_t first_count, std::size_t second_count);

    std::uint32_t id(std::uint32_t first, std::uint32_t second) {
        if (!dense_.empty()) {
            std::uint32_t& slot = dense_[std::size_t{first} * second_count_ + second];
            if (slot == kUnset) slot = add(first, second);
            return slot;
        }
        return sparse_id(first, second);
    }
    std::size_t size() const noexcept { return pairs_.size(); }
    const std::pair<std::uint32_t, std::uint32_t>& pair(std::size_t id) const noexcept { return pairs_[id]; }

private:
    std::uint32_t add(std::uint32_t first, std::uint32_t second);
    std::uint32_t sparse_id(std::uint32_t first, std::uint32_t second);

    static constexpr std::uint32_t kUnset = std::numeric_limits<std::uint32_t>::max();
    std::size_t second_count_;
    std::vector<std::uint32_t> dense_;
    std::unordered_map<std::uint64_t, std::uint32_t> sparse_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs_;
};

// Group ids ordered by the ranks of their pair: (rank_first, rank_second) ascending.
std::vector<std::uint32_t> order_pairs(const PairIndex& index, const std::vector<std::uint32_t>& first_ranks,
                                       const std::vector<std::uint32_t>& second_ranks);

// Every satellite entry of an epoch, cut to the entries and values the record holds.
template <typename Visit>
void for_each_entry(const RinexObsData& obs, Visit&& visit) {
    const std::size_t entry_total = obs.satellite_entries.size();
    const std::size_t value_total = obs.values.size();
    for (std::size_t e = 0; e < obs.epochs.size(); ++e) {
        const ObservationEpoch& epoch = obs.epochs[e];
        const std::size_t first = std::min<std::size_t>(epoch.first_satellite, entry_total);
        const std::size_t end = first + std::min<std::size_t>(epoch.satellite_count, entry_total - first);
        for (std::size_t i = first; i < end; ++i) {
            const SatelliteObservations& entry = obs.satellite_entries[i];
            if (entry.satellite >= obs.satellite_ids.size()) continue;
            const std::size_t first_value = std::min<std::size_t>(entry.first_value, value_total);
            const std::size_t count = std::min<std::size_t>(entry.value_count, value_total - first_value);
            visit(e, i, entry, std::span<const ObservationValue>(obs.values.data() + first_value, count));
        }
    }
}

}  // namespace vardoln::arrays
