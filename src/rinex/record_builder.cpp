#include "rinex/record_builder.hpp"

#include <algorithm>

namespace vardoln {

RecordBuilder::RecordBuilder(RinexObsData& data) : data_(data), common_ids_(128 * 100, 0) {
    for (const ObsTypeList& list : data_.obs_types) {
        if (list.system.size() != 1) continue;
        CodePlan& plan = plans_[static_cast<unsigned char>(list.system.front()) & 0x7F];
        plan.codes.clear();
        for (const std::string& code : list.codes) {
            const std::uint32_t index = intern_code(code);
            if (std::find(plan.codes.begin(), plan.codes.end(), index) != plan.codes.end()) plan.has_repeats = true;
            plan.codes.push_back(index);
        }
        has_plan_[static_cast<unsigned char>(list.system.front()) & 0x7F] = true;
    }
}

void RecordBuilder::end_satellite(std::string_view id, std::uint32_t satellite_start) {
    const auto count = static_cast<std::uint32_t>(data_.values.size() - satellite_start);
    if (count == 0) return;
    const std::uint32_t satellite = intern_satellite(id);
    const auto epoch_mark = static_cast<std::uint32_t>(data_.epochs.size() + 1);
    SeenMark& seen = seen_[satellite];
    if (seen.epoch == epoch_mark) {
        // A repeated satellite replaces its earlier entry; the earlier values are dropped
        // when the epoch closes.
        SatelliteObservations& entry = data_.satellite_entries[seen.entry];
        entry.first_value = satellite_start;
        entry.value_count = count;
        needs_compaction_ = true;
        return;
    }
    seen.epoch = epoch_mark;
    seen.entry = static_cast<std::uint32_t>(data_.satellite_entries.size());
    data_.satellite_entries.push_back(SatelliteObservations{satellite, satellite_start, count});
}

void RecordBuilder::end_epoch(const EpochTime& time, std::uint8_t flag) {
    const auto count = static_cast<std::uint32_t>(data_.satellite_entries.size() - epoch_first_entry_);
    if (count == 0) return;
    if (needs_compaction_) compact_epoch();
    data_.epochs.push_back(ObservationEpoch{time, flag, epoch_first_entry_, count});
}

std::uint32_t RecordBuilder::intern_code(const std::string& code) {
    const auto found = std::find(data_.codes.begin(), data_.codes.end(), code);
    if (found != data_.codes.end()) return static_cast<std::uint32_t>(found - data_.codes.begin());
    data_.codes.push_back(code);
    return static_cast<std::uint32_t>(data_.codes.size() - 1);
}

// Letter and two digits (G01) go through a direct table; anything else through a map.
std::uint32_t RecordBuilder::intern_satellite(std::string_view id) {
    std::uint32_t* slot = nullptr;
    if (id.size() == 3) {
        const unsigned tens = static_cast<unsigned char>(id[1]) - unsigned{'0'};
        const unsigned ones = static_cast<unsigned char>(id[2]) - unsigned{'0'};
        if (tens <= 9 && ones <= 9)
            slot = &common_ids_[(static_cast<unsigned char>(id[0]) & 0x7F) * 100 + tens * 10 + ones];
    }
    if (slot == nullptr) slot = &other_ids_[std::string(id)];
    if (*slot == 0) {
        data_.satellite_ids.emplace_back(id);
        seen_.emplace_back();
        *slot = static_cast<std::uint32_t>(data_.satellite_ids.size());
    }
    return *slot - 1;
}

// Lays the epoch's value runs out again in entry order, without the replaced ones.
void RecordBuilder::compact_epoch() {
    std::vector<ObservationValue> kept;
    for (std::size_t e = epoch_first_entry_; e < data_.satellite_entries.size(); ++e) {
        SatelliteObservations& entry = data_.satellite_entries[e];
        const auto first = static_cast<std::uint32_t>(epoch_first_value_ + kept.size());
        kept.insert(kept.end(), data_.values.begin() + entry.first_value,
                    data_.values.begin() + entry.first_value + entry.value_count);
        entry.first_value = first;
    }
    data_.values.resize(epoch_first_value_);
    data_.values.insert(data_.values.end(), kept.begin(), kept.end());
}

}  // namespace vardoln
