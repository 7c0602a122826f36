// Predicted against observed satellites, per epoch, condensed into a summary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "navigation/orbit_source.hpp"
#include "navigation/orbits.hpp"
#include "rinex/obs_data.hpp"
#include "visibility/summary.hpp"

namespace vardoln {

// Positions of the candidate satellites at the observation epochs, computed once per analysis
// and shared by the sample extraction and the prediction. Held for every satellite entry of
// the record whose satellite is a candidate (one slot per entry, so memory follows the record
// rather than candidates times epochs); a satellite is matched to the candidates by its
// navigation key, so "G 2" of a RINEX 2 file is G02. The prediction computes the positions of
// candidates absent from an epoch itself. Nothing is computed without a receiver position or
// navigation data. Keeps views into the orbit source's candidate list: the source must outlive
// the table.
class PositionTable {
public:
    PositionTable() = default;
    PositionTable(const OrbitSource& source, const RinexObsData& obs);
    // The same table from the positions of every entry of the record computed already by the
    // same orbit arithmetic (one per RinexObsData::satellite_entries, as the tools' geometry
    // holds them); those of satellites that are no candidate are left out.
    PositionTable(const OrbitSource& source, const RinexObsData& obs, std::span<const std::optional<Ecef>> entry_positions);

    // Index of a candidate key, or nothing for a satellite that is no candidate.
    std::optional<std::size_t> candidate_index(std::string_view key) const noexcept;
    // The candidate's position at the epoch when the candidate is among that epoch's
    // satellites; nothing otherwise (and for indices out of range).
    const std::optional<Ecef>& position(std::size_t epoch_index, std::size_t candidate) const noexcept;
    std::size_t candidate_count() const noexcept { return candidate_count_; }

    // The key of a candidate index (ascending with the index).
    std::string_view key(std::size_t candidate) const noexcept;
    // Position of the satellite of RinexObsData::satellite_entries[entry_index] at its epoch;
    // nothing for a non-candidate or an index out of range. O(1): the sample extraction's path.
    const std::optional<Ecef>& position_of_entry(std::size_t entry_index) const noexcept;
    // True when positions were computed (receiver position and navigation data present).
    bool computed() const noexcept { return !positions_.empty(); }
    std::size_t entry_count() const noexcept { return positions_.size(); }

private:
    // The candidate list, and per entry of a candidate `position_at(entry, candidate, epoch)`.
    template <typename PositionAt>
    void build(const OrbitSource& source, const RinexObsData& obs, PositionAt&& position_at);

    struct EntryRange {
        std::uint32_t first = 0;
        std::uint32_t count = 0;
    };

    std::size_t candidate_count_ = 0;
    std::vector<std::string_view> keys_;          // into the orbit source's candidate list, sorted
    std::vector<std::optional<Ecef>> positions_;  // one per satellite entry, in record order
    std::vector<std::uint32_t> entry_candidate_;  // candidate index per entry, kNoCandidate if none
    std::vector<EntryRange> epoch_entries_;       // each epoch's run of entries
};

// Everything of the summary except has_prediction, which the caller sets.
// With `letters` ("GEC"), the summary over the satellites of those constellation letters only:
// the predicted and observed satellites of other constellations are left out of every figure,
// as if the navigation data and the recording held none. An empty key counts as GPS.
VisibilitySummary predict_visibility(const OrbitSource& source, const PositionTable& positions,
                                     const RinexObsData& obs, double min_elevation,
                                     std::optional<std::string_view> letters = std::nullopt);

// The same over a table of its own.
VisibilitySummary predict_visibility(const OrbitSource& source, const RinexObsData& obs, double min_elevation,
                                     std::string_view letters);

// Predicted, observed and confirmed satellites per epoch and constellation letter: the counts
// that predict_visibility condenses into means, kept for a view over time. Row-major, one row
// per observation epoch, one column per letter. Empty without a receiver position or epochs.
struct VisibilityCounts {
    std::vector<char> letters;  // every candidate's and observed satellite's letter, ascending
    std::vector<std::uint32_t> predicted;
    std::vector<std::uint32_t> observed;
    std::vector<std::uint32_t> confirmed;  // observed and predicted
};

// `letters`, when given, keeps the columns (and satellites) of those constellation letters only;
// `known_positions`, when not empty, are the entries' positions computed already (as for
// PositionTable).
VisibilityCounts visibility_counts(const OrbitSource& source, const RinexObsData& obs, double min_elevation,
                                   const std::optional<std::string>& letters = std::nullopt,
                                   std::span<const std::optional<Ecef>> known_positions = {});

}  // namespace vardoln
