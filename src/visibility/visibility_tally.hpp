// Predicted against observed satellites, epoch by epoch, condensed into a summary.
//
// Separate from the orbit computation: callers name satellites by index into a fixed key list
// and hand over each epoch's predicted and observed sets, so the per-epoch path neither hashes
// text nor allocates once its scratch lists have grown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "rinex/epoch_time.hpp"
#include "visibility/summary.hpp"

namespace vardoln::visibility_detail {

// Missing runs open above this share of predicted satellites missing and last while above
// the closing share.
inline constexpr double kMissingOpenRatio = 0.3;
inline constexpr double kMissingKeepRatio = 0.1;
// Unexpected runs open at this many unpredicted satellites and last while at least the keep count.
inline constexpr std::uint64_t kUnexpectedOpenCount = 3;
inline constexpr std::uint64_t kUnexpectedKeepCount = 2;
// Stand-in epoch spacing when a run's timestamps do not read back.
inline constexpr double kFallbackEpochSeconds = 30.0;

// Constellations with a per-system entry in the summary: the named rows of the visibility-entry
// column of the constellation table.
inline constexpr std::size_t kVisibilityEntryCount = 4;

class VisibilityTally {
public:
    // Every satellite that can be predicted or observed; its index names it from then on.
    explicit VisibilityTally(std::vector<std::string_view> keys);

    // One observation epoch, in file order. `predicted`: indices in candidate order;
    // `observed`: indices of satellites with a signal-strength value. Repeats are ignored.
    void add_epoch(const EpochTime& time, std::span<const std::uint32_t> predicted,
                   std::span<const std::uint32_t> observed);

    // The summary over all epochs added (empty when none was); has_prediction is left false.
    VisibilitySummary finish(std::string source_text) const;

private:
    // An anomaly run being followed through the epochs.
    struct Run {
        bool open = false;
        EpochTime start;
        EpochTime last;
        std::uint64_t epoch_count = 0;
        std::vector<std::uint32_t> satellites;  // first appearance order
        std::vector<std::uint64_t> seen;        // per key: run number that listed it
        std::uint64_t number = 0;
    };

    void follow_missing_run(const EpochTime& time, double ratio);
    void follow_unexpected_run(const EpochTime& time, std::uint64_t unexpected);
    static void open_run(Run& run, const EpochTime& time);
    static void add_to_run(Run& run, std::span<const std::uint32_t> satellites);
    VisibilityAnomaly close_run(Run& run, bool missing) const;

    std::vector<std::string_view> keys_;
    std::vector<std::uint64_t> observed_stamp_;   // per key: epoch number + 1 when observed
    std::vector<std::uint64_t> predicted_stamp_;  // per key: epoch number + 1 when predicted
    std::vector<std::uint64_t> missing_tally_;
    std::vector<std::uint64_t> unexpected_tally_;
    std::vector<std::uint8_t> ever_observed_;

    std::uint64_t epoch_count_ = 0;
    std::uint64_t predicted_sum_ = 0;
    std::uint64_t observed_sum_ = 0;
    std::uint64_t confirmed_sum_ = 0;
    std::uint64_t missing_sum_ = 0;
    std::uint64_t unexpected_sum_ = 0;
    std::uint64_t predicted_by_letter_[kVisibilityEntryCount] = {};  // by slot of the per-system entries

    std::vector<std::uint32_t> observed_;  // this epoch, without repeats
    std::vector<std::uint32_t> missing_;
    std::vector<std::uint32_t> unexpected_;

    Run missing_run_;
    Run unexpected_run_;
    std::vector<VisibilityAnomaly> missing_anomalies_;
    std::vector<VisibilityAnomaly> unexpected_anomalies_;
};

// A missing run's severity from its satellites and constellations, and an unexpected run's.
std::string_view missing_run_severity(std::size_t satellites, std::size_t systems) noexcept;
std::string_view unexpected_run_severity(std::size_t satellites) noexcept;

}  // namespace vardoln::visibility_detail
