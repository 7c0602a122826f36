#include "navigation/nav_merge.hpp"

#include <iterator>
#include <utility>

namespace vardoln {

namespace {

template <typename Map>
void append_records(Map& into, Map& from) {
    for (auto& [key, records] : from) {
        auto& list = into[key];
        list.insert(list.end(), std::make_move_iterator(records.begin()), std::make_move_iterator(records.end()));
    }
}

}  // namespace

NavigationData merge_navigation(std::vector<NavigationData> files) {
    if (files.empty()) return {};
    NavigationData merged = std::move(files.front());
    for (std::size_t i = 1; i < files.size(); ++i) {
        NavigationData& next = files[i];
        append_records(merged.gps, next.gps);
        append_records(merged.galileo, next.galileo);
        append_records(merged.beidou, next.beidou);
        append_records(merged.glonass, next.glonass);
        merged.glonass_freq.merge(next.glonass_freq);  // keys already present keep their value
    }
    return merged;
}

}  // namespace vardoln
