// A recording as the tools take it: an observation file and, optionally, navigation files
// merged into one, read through the same readers (and archive layers) as the module's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "navigation/nav_data.hpp"
#include "rinex/obs_data.hpp"

namespace vardoln::arrays {

struct Recording {
    RinexObsData obs;
    std::optional<NavigationData> nav;  // present when navigation files were given
};

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

}  // namespace vardoln::arrays
