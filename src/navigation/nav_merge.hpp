// Several navigation files taken as one: stations publish one file per constellation and day.
#pragma once

#include <vector>

#include "navigation/nav_data.hpp"

namespace vardoln {

// Each satellite's records, those of the first file first, then the next file's, in the order
// each file holds them. The record choice walks a list in that order and keeps the earlier of
// two equally distant records, so a record repeated in a later file changes no position. A
// GLONASS channel keeps the value of the first file that gives one.
NavigationData merge_navigation(std::vector<NavigationData> files);

}  // namespace vardoln
