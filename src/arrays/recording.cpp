#include "arrays/recording.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <utility>

#include "archive/archive.hpp"

#include "archive/readers.hpp"
#include "arrays/tables.hpp"
#include "navigation/nav_bytes.hpp"
#include "navigation/nav_merge.hpp"
#include "rinex/file_io.hpp"

namespace vardoln::arrays {

namespace {

LoadFailure read_failure(const std::string& path, FileError&& error, bool navigation) {
    return {LoadFailure::Kind::read, navigation, path, std::move(error.message), error.code};
}

LoadFailure parse_failure(const std::string& path, std::string&& message, bool navigation) {
    return {LoadFailure::Kind::parse, navigation, path, std::move(message), 0};
}

}  // namespace

std::variant<RinexObsData, LoadFailure> load_observation_file(const std::string& path) {
    auto bytes = read_whole_file(path);
    if (auto* error = std::get_if<FileError>(&bytes)) return read_failure(path, std::move(*error), false);
    auto parsed = read_observation_bytes(std::get<std::string>(bytes), file_name_of(path));
    if (auto* error = std::get_if<ParseError>(&parsed)) return parse_failure(path, std::move(error->message), false);
    return std::get<RinexObsData>(std::move(parsed));
}

BudgetFit archive_budget_fit(std::string_view bytes, std::uint64_t budget) {
    if (bytes.size() > budget) return BudgetFit::file_over;
    if (!is_archived(bytes) || archive_output_cap(bytes.size(), ArchiveLimits{}) <= budget) return BudgetFit::within;
    // The readers' bound is larger than the budget, so the budget is the bound here.
    const ArchiveLimits limits{.max_ratio = ArchiveLimits{}.max_ratio, .max_bytes = budget};
    const ArchiveResult expanded = expand_archive(std::string(bytes), limits);
    const auto* error = std::get_if<ArchiveError>(&expanded);
    return error != nullptr && error->over_limit ? BudgetFit::expansion_over : BudgetFit::within;
}

BudgetFit budget_fit(const std::string& path, std::uint64_t budget) {
    const auto max_bytes = static_cast<std::size_t>(std::min<std::uint64_t>(budget, SIZE_MAX - 1));
    auto bytes = read_whole_file(path, max_bytes);
    if (auto* error = std::get_if<FileError>(&bytes)) {
        return error->code == EFBIG ? BudgetFit::file_over : BudgetFit::within;
    }
    return archive_budget_fit(std::get<std::string>(bytes), budget);
}

Recording::Recording() : Recording(std::make_shared<const RinexObsData>(), nullptr) {}

Recording::Recording(std::shared_ptr<const RinexObsData> obs, std::shared_ptr<const NavigationData> nav)
    : obs_(obs ? std::move(obs) : std::make_shared<const RinexObsData>()),
      nav_(std::move(nav)),
      cache_(std::make_shared<Cache>()) {}

const EntryGeometry* Recording::geometry() const {
    if (!nav_ || !obs_->approx_position) return nullptr;
    std::call_once(cache_->once, [&] { cache_->geometry = entry_geometry(*obs_, *nav_); });
    return cache_->geometry ? &*cache_->geometry : nullptr;
}

std::variant<RinexObsData, LoadFailure> parse_observation_file(const FileBytes& file) {
    auto parsed = read_observation_bytes(file.bytes, file_name_of(file.path));
    if (auto* error = std::get_if<ParseError>(&parsed)) return parse_failure(file.path, std::move(error->message), false);
    return std::get<RinexObsData>(std::move(parsed));
}

std::variant<NavigationData, LoadFailure> parse_navigation_file(const FileBytes& file) {
    auto parsed = read_navigation_bytes(file.bytes);
    if (auto* error = std::get_if<NavParseError>(&parsed)) return parse_failure(file.path, std::move(error->message), true);
    return std::get<NavigationData>(std::move(parsed));
}

std::variant<std::shared_ptr<const NavigationData>, LoadFailure> load_navigation(const std::vector<FileBytes>& navs) {
    if (navs.empty()) return std::shared_ptr<const NavigationData>();
    std::vector<NavigationData> files;
    files.reserve(navs.size());
    for (const FileBytes& file : navs) {
        auto parsed = parse_navigation_file(file);
        if (auto* failure = std::get_if<LoadFailure>(&parsed)) return std::move(*failure);
        files.push_back(std::get<NavigationData>(std::move(parsed)));
    }
    if (files.size() == 1) return std::make_shared<const NavigationData>(std::move(files.front()));
    return std::make_shared<const NavigationData>(merge_navigation(std::move(files)));
}

std::variant<Recording, LoadFailure> load_recording(const FileBytes& obs, const std::vector<FileBytes>& navs) {
    auto nav = load_navigation(navs);
    if (auto* failure = std::get_if<LoadFailure>(&nav)) return std::move(*failure);
    auto parsed = parse_observation_file(obs);
    if (auto* failure = std::get_if<LoadFailure>(&parsed)) return std::move(*failure);
    return Recording(std::make_shared<const RinexObsData>(std::get<RinexObsData>(std::move(parsed))),
                     std::get<std::shared_ptr<const NavigationData>>(std::move(nav)));
}

std::variant<Recording, LoadFailure> load_recording(const std::string& obs_path,
                                                    const std::optional<std::vector<std::string>>& nav_paths) {
    std::vector<std::string> contents;
    std::vector<FileBytes> navs;
    if (nav_paths) {
        // Navigation files first: they are small, and a wrong one fails before the large read.
        contents.reserve(nav_paths->size());
        for (const std::string& path : *nav_paths) {
            auto bytes = read_whole_file(path);
            if (auto* error = std::get_if<FileError>(&bytes)) return read_failure(path, std::move(*error), true);
            contents.push_back(std::get<std::string>(std::move(bytes)));
        }
        for (std::size_t i = 0; i < contents.size(); ++i) navs.push_back({(*nav_paths)[i], contents[i]});
    }
    auto nav = load_navigation(navs);
    if (auto* failure = std::get_if<LoadFailure>(&nav)) return std::move(*failure);
    navs.clear();
    contents.clear();
    auto obs = load_observation_file(obs_path);
    if (auto* failure = std::get_if<LoadFailure>(&obs)) return std::move(*failure);
    return Recording(std::make_shared<const RinexObsData>(std::get<RinexObsData>(std::move(obs))),
                     std::get<std::shared_ptr<const NavigationData>>(std::move(nav)));
}

RinexObsData epochs_between(const RinexObsData& obs, std::optional<std::int64_t> from_ns,
                            std::optional<std::int64_t> to_ns) {
    RinexObsData part;
    part.version = obs.version;
    part.marker_name = obs.marker_name;
    part.receiver_type = obs.receiver_type;
    part.antenna_type = obs.antenna_type;
    part.approx_position = obs.approx_position;
    part.interval = obs.interval;
    part.obs_types = obs.obs_types;
    part.glonass_slots = obs.glonass_slots;
    part.codes = obs.codes;
    // Satellites are numbered again in order of first appearance within the span.
    constexpr std::uint32_t kUnseen = std::numeric_limits<std::uint32_t>::max();
    std::vector<std::uint32_t> renumbered(obs.satellite_ids.size(), kUnseen);
    for (std::size_t e = 0; e < obs.epochs.size(); ++e) {
        const ObservationEpoch& epoch = obs.epochs[e];
        const std::int64_t at = epoch_nanoseconds(epoch.time);
        if ((from_ns && at < *from_ns) || (to_ns && at >= *to_ns)) continue;
        ObservationEpoch copy = epoch;
        copy.first_satellite = static_cast<std::uint32_t>(part.satellite_entries.size());
        for (const SatelliteObservations& entry : obs.satellites_of(epoch)) {
            std::uint32_t& number = renumbered[entry.satellite];
            if (number == kUnseen) {
                number = static_cast<std::uint32_t>(part.satellite_ids.size());
                part.satellite_ids.push_back(obs.satellite_ids[entry.satellite]);
            }
            const auto values = obs.values_of(entry);
            part.satellite_entries.push_back(
                {number, static_cast<std::uint32_t>(part.values.size()), entry.value_count});
            part.values.insert(part.values.end(), values.begin(), values.end());
        }
        part.epochs.push_back(copy);
        // A cut last epoch stays marked only when the span keeps it.
        if (e + 1 == obs.epochs.size()) part.cut_epoch = obs.cut_epoch;
    }
    return part;
}

}  // namespace vardoln::arrays
