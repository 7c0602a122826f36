// A recording loaded once: its observations and, when given, its navigation files merged into one
// (read through the same readers and archive layers as the module's), and the satellite geometry
// of its entries, computed on first use and then shared by every analysis and table of it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "arrays/positions.hpp"
#include "navigation/nav_data.hpp"
#include "rinex/obs_data.hpp"

namespace vardoln::arrays {

// Immutable once made; copies share the records and the geometry. Safe to read from several
// threads at once.
class Recording {
public:
    // An empty recording (no epochs, no navigation data).
    Recording();
    // `nav` may be null: a recording without navigation data.
    Recording(std::shared_ptr<const RinexObsData> obs, std::shared_ptr<const NavigationData> nav);

    const RinexObsData& obs() const noexcept { return *obs_; }
    // Nullptr without navigation data.
    const NavigationData* nav() const noexcept { return nav_.get(); }
    const std::shared_ptr<const RinexObsData>& shared_obs() const noexcept { return obs_; }
    const std::shared_ptr<const NavigationData>& shared_nav() const noexcept { return nav_; }

    // The position of every entry and its elevation from the header's receiver position,
    // computed by the first caller (the others wait for it) and kept; nullptr without navigation
    // data or without a receiver position.
    const EntryGeometry* geometry() const;

private:
    struct Cache {
        std::once_flag once;
        std::optional<EntryGeometry> geometry;
    };
    std::shared_ptr<const RinexObsData> obs_;
    std::shared_ptr<const NavigationData> nav_;
    std::shared_ptr<Cache> cache_;
};

// The record's epochs at or after `from_ns` and before `to_ns` (arrays::epoch_nanoseconds;
// either open), with its header: what a recording of that span alone would hold.
RinexObsData epochs_between(const RinexObsData& obs, std::optional<std::int64_t> from_ns,
                            std::optional<std::int64_t> to_ns);

struct LoadFailure {
    enum class Kind { read, parse };
    Kind kind = Kind::read;
    bool navigation = false;  // the failing file is a navigation file
    std::string path;
    std::string message;  // the reader's or the system's text
    int code = 0;         // errno of a read failure; 0 otherwise
};

std::variant<RinexObsData, LoadFailure> load_observation_file(const std::string& path);

// Whether reading a file as a recording keeps its bytes and its text within `budget` bytes. A
// file larger than the budget is refused before it is read; an archive whose expansion can
// pass the budget (the readers' own bound for its size is larger) is expanded up to the budget
// and no further. A file that cannot be read or expanded for another reason is within: its
// reader reports the fault.
enum class BudgetFit { within, file_over, expansion_over };
BudgetFit archive_budget_fit(std::string_view bytes, std::uint64_t budget);
BudgetFit budget_fit(const std::string& path, std::uint64_t budget);

// An empty list reads no navigation data; a list of one or more files gives merged data.
std::variant<Recording, LoadFailure> load_recording(const std::string& obs_path,
                                                    const std::optional<std::vector<std::string>>& nav_paths);

// The same from files read already: each navigation file's records are read by the layout of
// its own version (RINEX 2 per-constellation files, 3 and 4 alike) and merged in the order given.
// `name` is the observation file's name, standing in for a missing marker name; a failure names
// the `path` of the file it concerns.
struct FileBytes {
    std::string path;
    std::string_view bytes;  // owned by the caller, alive for the call
};
std::variant<Recording, LoadFailure> load_recording(const FileBytes& obs, const std::vector<FileBytes>& navs);

// One file read already, parsed by its own reader.
std::variant<RinexObsData, LoadFailure> parse_observation_file(const FileBytes& file);
std::variant<NavigationData, LoadFailure> parse_navigation_file(const FileBytes& file);

// Navigation files read already, merged; nothing when `navs` is empty.
std::variant<std::shared_ptr<const NavigationData>, LoadFailure> load_navigation(const std::vector<FileBytes>& navs);

}  // namespace vardoln::arrays
