#include "arrays/recording.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <utility>

#include "archive/archive.hpp"

#include "archive/readers.hpp"
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

std::variant<Recording, LoadFailure> load_recording(const std::string& obs_path,
                                                    const std::optional<std::vector<std::string>>& nav_paths) {
    Recording recording;
    if (nav_paths) {
        // Navigation files first: they are small, and a wrong one fails before the large read.
        std::vector<NavigationData> files;
        files.reserve(nav_paths->size());
        for (const std::string& path : *nav_paths) {
            auto bytes = read_whole_file(path);
            if (auto* error = std::get_if<FileError>(&bytes)) return read_failure(path, std::move(*error), true);
            auto parsed = read_navigation_bytes(std::get<std::string>(bytes));
            if (auto* error = std::get_if<NavParseError>(&parsed)) {
                return parse_failure(path, std::move(error->message), true);
            }
            files.push_back(std::get<NavigationData>(std::move(parsed)));
        }
        recording.nav = merge_navigation(std::move(files));
    }
    auto obs = load_observation_file(obs_path);
    if (auto* failure = std::get_if<LoadFailure>(&obs)) return std::move(*failure);
    recording.obs = std::get<RinexObsData>(std::move(obs));
    return recording;
}

}  // namespace vardoln::arrays
