// A recording as the tools take it: an observation file and, optionally, navigation files
// merged into one, read through the same readers (and archive layers) as the module's.
#pragma once

#include <optional>
#include <string>
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

// An empty list reads no navigation data; a list of one or more files gives merged data.
std::variant<Recording, LoadFailure> load_recording(const std::string& obs_path,
                                                    const std::optional<std::vector<std::string>>& nav_paths);

}  // namespace vardoln::arrays
