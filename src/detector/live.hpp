// The band detector on a live stream: epochs are judged as they arrive, each signal against its
// own recent level (its trailing median, as the whole-recording detector does without
// elevations), and an alarm is raised once when an event is certain (enough affected epochs
// over the shortest event's span) and once when it ends. An alarm names the run's first
// affected epoch, so it reads the same as the event the whole recording would show.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "detector/detector.hpp"
#include "detector/pass.hpp"

namespace vardoln {

// One C/N0 value of an epoch.
struct LiveSample {
    std::string_view satellite;  // "G05"
    std::string_view code;       // the signal-strength code, "S1C"
    double cn0_dbhz = 0.0;
};

struct LiveAlarm {
    bool start = true;  // false: the event ended
    EventType type = EventType::interference;
    std::int64_t first_ms = 0;  // the run's first and (so far) last affected epoch, stream time
    std::int64_t last_ms = 0;
    std::vector<Band> bands;
    std::vector<std::string> satellites;  // ascending
    double median_drop_db = 0.0;          // spoofing: the median rise
    double largest_drop_db = 0.0;
    double share = 0.0;
};

class LiveDetector {
public:
    // `rinex_version` picks the band of a code the way the file readers do (3.04 for a stream).
    explicit LiveDetector(const DetectorSettings& settings, double rinex_version = 3.04);

    // One epoch at `epoch_ms` (any fixed scale, increasing); the alarms it raises.
    std::vector<LiveAlarm> epoch(std::int64_t epoch_ms, std::span<const LiveSample> samples);
    // The end of the stream: the end of an event still open.
    std::vector<LiveAlarm> finish();

private:
    // A run of flagged epochs, followed as it grows (one clean epoch inside does not split it).
    struct Run {
        bool open = false;
        bool raised = false;           // its start alarm went out
        bool pending_clean = false;    // the last epoch was clean: one more ends the run
        std::int64_t first_ms = 0;
        std::int64_t last_ms = 0;
        std::size_t flagged = 0;
        bool several_bands = false;
        detector_pass::BandMask bands = 0;
        std::map<std::pair<std::uint32_t, std::uint32_t>, std::vector<double>> residuals;  // (band, satellite)
    };

    void follow(Run& run, bool spoofing, bool flagged, bool reaches, std::int64_t epoch_ms,
                detector_pass::BandMask bands, std::span<const detector_pass::SatelliteResidual> records,
                std::vector<LiveAlarm>& alarms);
    LiveAlarm alarm_of(const Run& run, bool spoofing, bool start) const;
    std::uint32_t satellite_index(std::string_view satellite);

    DetectorSettings settings_;
    double version_;
    detector_pass::PassStepper stepper_;
    std::vector<detector_pass::Signal> signals_;
    std::unordered_map<std::string, std::uint32_t> signal_index_;  // "G05 S1C"; rejected: UINT32_MAX
    std::string key_;
    std::map<std::string, std::uint32_t, std::less<>> satellite_index_;
    std::vector<std::string> satellites_;
    std::optional<std::int64_t> first_ms_;
    std::optional<std::int64_t> last_ms_;
    std::int64_t step_ms_ = 0;  // the smallest step seen: the stream's interval
    Run drop_;
    Run spoof_;
    std::vector<detector_pass::Sample> samples_;
    std::vector<double> expected_;
    std::vector<detector_pass::SatelliteResidual> records_;
};

}  // namespace vardoln
