// Jamming, interference and spoofing events from the C/N0 of every satellite, judged per
// frequency band against what each signal is expected to show.
//
// Expected C/N0. With elevations, a C/N0-versus-elevation template per signal (constellation
// and observation code), fitted robustly over all satellites of that signal in the recording
// (medians in 2-degree bins, linear between them), plus a per-satellite offset (the median of
// that satellite's departures from the template). The fit runs twice: the second leaves out
// the epochs the first found affected, so that a long episode does not pull the template
// down. Without an elevation for a signal, its own trailing median over the last ten minutes of
// epochs that were not affected stands in. Residual = observed minus expected.
//
// Per band and epoch, a satellite's residual is the mean over its signals in that band; it
// loses the band when every band signal it carried in the previous epoch (without elevations:
// in each of the previous three epochs) is gone while it stands above the mask; once lost in an
// affected stretch it stays lost while it stays gone and the band still shows the episode (a
// carried satellite down by D or more, or none carried of N or more lost). An epoch is
// affected in a band when at least N of the satellites tracked there show a residual of at
// most -D dB or lose the band (N = event_satellites; with fewer than 8 tracked, the larger of 2
// and half of them rounded up). Epochs missing from the file count as nothing.
//
// An event is a run of affected epochs (one clean epoch inside a run does not split it) lasting
// at least min_event_s with at least three affected epochs; it takes in the epoch before it and
// the epochs after it that pass the same rule at half the drop (the onset and fading of an episode). It is jamming when two or more bands
// are affected at once or when at least 80 % of the satellites tracked in a band are touched
// (the median of their residuals over the run is at most -D/2, or they lost the band);
// interference otherwise. Events less than lasting_gap_s apart that reach to within
// lasting_gap_s of the end of the recording and span at least lasting_gap_s are one lasting
// drop instead: C/N0 fell and had not come back when the recording ended, which C/N0 alone
// cannot tell from an antenna, cable or attenuation fault.
//
// Spoofing indicator: at an epoch, in a band with at least 4 satellites, more than half of them
// stand spoof_rise_db or more above their expected C/N0 while the spread of their C/N0 across
// satellites (1.4826 times the median absolute deviation) is at most spoof_spread_db. Runs of
// such epochs give spoofing events under the same run rules.
//
// GPS and QZSS semi-codeless tracking (modes W and D) follows the receiver's P(Y) correlation
// rather than the power in the band, and falls on its own while the civil signals of the same
// satellites hold; it is left out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rinex/bands.hpp"
#include "rinex/obs_data.hpp"

namespace vardoln {

struct DetectorSettings {
    double drop_db = 6.0;                 // D: a residual at or below -D is a drop
    std::uint32_t event_satellites = 4;   // N, with 8 or more satellites tracked in a band
    double min_elevation_deg = 5.0;       // samples of satellites known to stand lower count as nothing
    std::string systems;                  // constellation letters judged; empty: every one
    double min_event_s = 60.0;            // shortest event
    double trailing_window_s = 600.0;     // span of the trailing median without elevations
    double lasting_gap_s = 600.0;         // see the lasting drop above
    double spoof_rise_db = 3.0;
    double spoof_spread_db = 1.5;
};

enum class EventType : std::uint8_t { jamming, interference, spoofing, lasting_drop };

std::string_view event_type_name(EventType type) noexcept;  // "jamming", ..., "lasting_drop"

struct DetectorEvent {
    EventType type = EventType::interference;
    std::uint32_t first_epoch = 0;  // indices into RinexObsData::epochs
    std::uint32_t last_epoch = 0;
    std::string start;  // timestamp texts of those epochs
    std::string end;
    std::vector<Band> bands;             // ascending
    std::string systems;                 // constellation letters, ascending
    std::vector<std::string> satellites; // identifiers as read, ascending
    double largest_drop_db = 0.0;        // spoofing: the largest rise
    double median_drop_db = 0.0;         // median over the satellites of their median drop (rise)
    double share = 0.0;                  // of the satellites tracked in the most touched band
};

struct DetectorResult {
    std::uint32_t epochs = 0;        // epochs judged: flag 0 or 1
    double interval_s = 0.0;         // the most common step between them
    bool used_elevations = false;    // some signal was judged against an elevation template
    std::vector<DetectorEvent> events;  // by start; a lasting drop last
};

// `entry_elevations_deg`, when given, holds the elevation of the satellite of every entry of the
// record (RinexObsData::satellite_entries, NaN where unknown). Never fails.
DetectorResult detect_events(const RinexObsData& obs, const std::vector<double>* entry_elevations_deg,
                             const DetectorSettings& settings);

}  // namespace vardoln
