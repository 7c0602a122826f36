// Builds the epochs of an observation record in its flat vectors. Shared by the RINEX text
// readers and the compact RINEX decoder, so that both store what they read the same way.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "rinex/epoch_time.hpp"
#include "rinex/obs_data.hpp"

namespace vardoln {

// The codes that a system's observation fields carry, in field order, as indices into
// RinexObsData::codes.
struct CodePlan {
    std::vector<std::uint32_t> codes;
    bool has_repeats = false;  // a header naming a code twice: the later field replaces the earlier
};

// Keeps the record's invariants: a satellite appears once per epoch, a code once per satellite,
// and satellite_ids lists exactly the identifiers stored, in order of first appearance. The
// header fields of the record (obs_types above all) must be complete before construction.
class RecordBuilder {
public:
    explicit RecordBuilder(RinexObsData& data);

    // The plan of a constellation letter, or nullptr when the header gave it no codes.
    const CodePlan* plan_for(char letter) const noexcept {
        const unsigned index = static_cast<unsigned char>(letter) & 0x7F;
        return has_plan_[index] ? &plans_[index] : nullptr;
    }

    void begin_epoch() noexcept {
        epoch_first_entry_ = static_cast<std::uint32_t>(data_.satellite_entries.size());
        epoch_first_value_ = static_cast<std::uint32_t>(data_.values.size());
        needs_compaction_ = false;
    }

    std::uint32_t begin_satellite() const noexcept { return static_cast<std::uint32_t>(data_.values.size()); }

    void add_value(const CodePlan& plan, std::size_t field, std::uint32_t satellite_start, double value,
                   std::optional<std::uint8_t> lli, std::optional<std::uint8_t> ssi) {
        const std::uint32_t code = plan.codes[field];
        if (plan.has_repeats) {
            for (std::size_t i = satellite_start; i < data_.values.size(); ++i) {
                if (data_.values[i].code == code) {
                    data_.values[i] = ObservationValue{value, lli, ssi, code};
                    return;
                }
            }
        }
        data_.values.push_back(ObservationValue{value, lli, ssi, code});
    }

    // Stores the values added since begin_satellite under the identifier, if there are any.
    void end_satellite(std::string_view id, std::uint32_t satellite_start);

    // Appends the epoch if it holds at least one satellite.
    void end_epoch(const EpochTime& time, std::uint8_t flag);

    // Marks the epoch being built as cut short by the end of the text (before end_epoch, so that
    // the last complete epoch is the one stored before it).
    void mark_cut_epoch(const EpochTime& time) {
        data_.cut_epoch = CutEpoch{time, data_.epochs.empty() ? std::nullopt : std::optional(data_.epochs.back().time)};
    }
    // Takes the mark back: more records followed (the compact RINEX reader feeds the records of
    // one event at a time, each ending a text of its own).
    void clear_cut_epoch() noexcept { data_.cut_epoch.reset(); }

private:
    struct SeenMark {
        std::uint32_t epoch = 0;  // epoch index + 1 of the last epoch holding the satellite
        std::uint32_t entry = 0;  // its entry there
    };

    std::uint32_t intern_code(const std::string& code);
    std::uint32_t intern_satellite(std::string_view id);
    void compact_epoch();

    RinexObsData& data_;
    std::array<CodePlan, 128> plans_{};
    std::array<bool, 128> has_plan_{};
    std::vector<std::uint32_t> common_ids_;  // (letter * 100 + number) -> satellite index + 1
    std::unordered_map<std::string, std::uint32_t> other_ids_;
    std::vector<SeenMark> seen_;  // per satellite index
    std::uint32_t epoch_first_entry_ = 0;
    std::uint32_t epoch_first_value_ = 0;
    bool needs_compaction_ = false;
};

}  // namespace vardoln
