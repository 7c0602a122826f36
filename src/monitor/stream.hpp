// One live RTCM 3 stream as the monitor follows it: bytes in as they arrive, epochs assembled
// (a message with its "more messages follow" bit clear, or another epoch time, closes one), each
// epoch judged by the live detector, outages found by stream time, and the stream cut into
// windows aligned to GPS time whose frames are handed over for the whole-recording analysis.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "detector/live.hpp"
#include "navigation/nav_data.hpp"
#include "rtcm/epochs.hpp"
#include "rtcm/frames.hpp"

namespace vardoln {

struct MonitorSettings {
    DetectorSettings detector;
    double window_s = 900.0;
    double outage_s = 60.0;
    std::int32_t gps_week = 0;  // the GPS week of the stream's first epoch
};

inline constexpr std::int64_t kGpsMsPerWeek = 604'800'000;

// The GPS week of a stream's first epoch from its own broadcast ephemerides: the week that puts
// the first epoch's time of week nearest the newest toe (which can lie hours ahead, in the next
// week). `near_gps_ms` reads the ephemerides' truncated weeks (a clock, or a date). Nothing for
// a stream without an epoch or without GPS, Galileo, BeiDou or QZSS ephemerides.
std::optional<std::int32_t> rtcm_first_epoch_week(std::span<const std::uint8_t> bytes, std::int64_t near_gps_ms);

// The frames of one window: the latest station messages (position, receiver and antenna) and
// then the observation messages of the window's epochs, as received, so that reading them as a
// stream gives exactly the window's epochs.
struct MonitorWindow {
    std::int64_t start_ms = 0;  // GPS milliseconds since the GPS epoch; the window is [start, end)
    std::int64_t end_ms = 0;
    std::int64_t first_ms = 0;  // its first and last epochs
    std::int64_t last_ms = 0;
    std::uint32_t epochs = 0;
    bool partial = false;  // the stream began after its start or ended before its end
    std::vector<std::uint8_t> bytes;
};

struct MonitorEvent {
    enum class Kind : std::uint8_t { alarm, outage_start, outage_end, window };
    Kind kind = Kind::alarm;
    LiveAlarm alarm;             // an alarm
    std::int64_t at_ms = 0;      // outages: the last epoch before the gap (start), the first after it (end)
    std::int64_t since_ms = 0;   // outage end: the last epoch before the gap
    MonitorWindow window;        // a window
};

// What the last epoch showed, for a status line.
struct MonitorStatus {
    std::optional<std::int64_t> last_ms;
    std::uint64_t epochs = 0;
    std::uint32_t satellites = 0;
    std::vector<std::pair<char, double>> mean_cn0_dbhz;  // per constellation letter, ascending
    bool in_outage = false;
    std::uint64_t open_alarms = 0;  // 0 or 1 drop event and 0 or 1 spoofing event
    std::uint64_t untimed_messages = 0;
    std::uint64_t undecodable_messages = 0;
    std::uint64_t ephemerides = 0;  // ephemeris messages decoded, repeats included
    std::optional<std::array<double, 3>> position_m;  // from 1005/1006
};

class MonitorStream {
public:
    explicit MonitorStream(const MonitorSettings& settings);

    std::vector<MonitorEvent> feed(std::span<const std::uint8_t> bytes);
    // Nothing arrived until `now_ms` (stream time as the caller's clock gives it): an outage
    // alarm once `outage_s` has passed since the last epoch.
    std::vector<MonitorEvent> idle(std::int64_t now_ms);
    // The end of the stream: the open epoch, an open event and the last window.
    std::vector<MonitorEvent> finish();

    const MonitorStatus& status() const noexcept { return status_; }
    // The broadcast ephemerides the stream carried so far.
    const NavigationData& navigation() const noexcept { return navigation_; }
    const RtcmTally& tally() const noexcept { return reader_.tally(); }

private:
    void on_frame(const RtcmFrame& frame, std::vector<MonitorEvent>& events);
    void open(std::int64_t at_ms, std::vector<MonitorEvent>& events);
    void close(std::vector<MonitorEvent>& events);
    void close_window(bool at_end, std::vector<MonitorEvent>& events);

    MonitorSettings settings_;
    RtcmFrameReader reader_;
    RtcmClock clock_;
    LiveDetector detector_;
    MonitorStatus status_;

    // The epoch being assembled.
    std::optional<std::int64_t> open_ms_;
    std::vector<std::uint8_t> epoch_frames_;
    struct PendingSample {
        std::string satellite;
        std::string code;
        double cn0_dbhz = 0.0;
    };
    std::vector<PendingSample> samples_;
    std::vector<LiveSample> live_;

    // Epochs closed.
    std::optional<std::int64_t> last_epoch_ms_;
    std::int64_t step_ms_ = 0;  // the smallest step between epochs
    bool outage_open_ = false;
    bool first_window_ = true;
    std::optional<MonitorWindow> window_;
    std::array<std::vector<std::uint8_t>, 2> station_frames_;  // the latest 1005/1006 and 1033
    NavigationData navigation_;
};

}  // namespace vardoln
