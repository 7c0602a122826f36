#include "arrays/tables.hpp"

#include <algorithm>
#include <numeric>

#include "rinex/ids.hpp"

namespace vardoln::arrays {

namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
constexpr std::int64_t kSecondsPerDay = 86'400;

constexpr bool is_leap(std::int32_t year) noexcept {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

constexpr std::uint32_t days_in_month(std::int32_t year, std::uint32_t month) noexcept {
    constexpr std::uint32_t days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && is_leap(year) ? 29 : days[month - 1];
}

// Days from 1970-01-01 to a proleptic Gregorian date (Howard Hinnant's days_from_civil).
constexpr std::int64_t days_from_civil(std::int64_t year, std::int64_t month, std::int64_t day) noexcept {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t year_of_era = year - era * 400;
    const std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

}  // namespace

std::int64_t epoch_nanoseconds(const EpochTime& epoch) noexcept {
    // datetime64[ns] spans 1677-09-21 to 2262-04-11; whole years inside that are accepted.
    if (epoch.year < 1678 || epoch.year > 2261) return kNoTime;
    if (epoch.month < 1 || epoch.month > 12) return kNoTime;
    if (epoch.day < 1 || epoch.day > days_in_month(epoch.year, epoch.month)) return kNoTime;
    if (epoch.hour > 23 || epoch.minute > 59) return kNoTime;
    if (!(epoch.second >= 0.0 && epoch.second < 61.0)) return kNoTime;
    const std::int64_t whole_seconds = days_from_civil(epoch.year, epoch.month, epoch.day) * kSecondsPerDay +
                                       std::int64_t{epoch.hour} * 3600 + std::int64_t{epoch.minute} * 60;
    return whole_seconds * kNanosecondsPerSecond + std::llround(epoch.second * 1e9);
}

std::vector<std::uint32_t> satellite_ranks(const RinexObsData& obs) {
    std::vector<std::uint32_t> order(obs.satellite_ids.size());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        const std::string& x = obs.satellite_ids[a];
        const std::string& y = obs.satellite_ids[b];
        const char lx = satellite_letter(x);
        const char ly = satellite_letter(y);
        return lx != ly ? static_cast<unsigned char>(lx) < static_cast<unsigned char>(ly) : x < y;
    });
    return by_rank(order);
}

std::vector<std::uint32_t> code_ranks(const RinexObsData& obs) {
    std::vector<std::uint32_t> order(obs.codes.size());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return obs.codes[a] < obs.codes[b]; });
    return by_rank(order);
}

std::vector<std::uint32_t> by_rank(const std::vector<std::uint32_t>& ranks) {
    std::vector<std::uint32_t> inverse(ranks.size());
    for (std::size_t i = 0; i < ranks.size(); ++i) inverse[ranks[i]] = static_cast<std::uint32_t>(i);
    return inverse;
}

std::vector<std::uint8_t> signal_strength_codes(const RinexObsData& obs) {
    std::vector<std::uint8_t> flags(obs.codes.size());
    for (std::size_t i = 0; i < obs.codes.size(); ++i) flags[i] = is_signal_strength_code(obs.codes[i]);
    return flags;
}

PairIndex::PairIndex(std::size_t first_count, std::size_t second_count) : second_count_(second_count) {
    // A day of multi-GNSS data holds about 150 satellites and 100 codes.
    constexpr std::size_t kDenseLimit = std::size_t{1} << 20;
    if (second_count != 0 && first_count <= kDenseLimit / second_count) {
        dense_.assign(first_count * second_count, kUnset);
    }
}

std::uint32_t PairIndex::add(std::uint32_t first, std::uint32_t second) {
    pairs_.emplace_back(first, second);
    return static_cast<std::uint32_t>(pairs_.size() - 1);
}

std::uint32_t PairIndex::sparse_id(std::uint32_t first, std::uint32_t second) {
    const auto [it, added] = sparse_.try_emplace((std::uint64_t{first} << 32) | second, kUnset);
    if (added) it->second = add(first, second);
    return it->second;
}

std::vector<std::uint32_t> order_pairs(const PairIndex& index, const std::vector<std::uint32_t>& first_ranks,
                                       const std::vector<std::uint32_t>& second_ranks) {
    std::vector<std::uint32_t> order(index.size());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        const auto& [fa, sa] = index.pair(a);
        const auto& [fb, sb] = index.pair(b);
        const std::uint32_t ra = first_ranks[fa];
        const std::uint32_t rb = first_ranks[fb];
        return ra != rb ? ra < rb : second_ranks[sa] < second_ranks[sb];
    });
    return order;
}

}  // namespace vardoln::arrays
