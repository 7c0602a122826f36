#include "history/trends.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numeric>
#include <random>
#include <utility>

namespace vardoln::history {

namespace {

std::string check_days(std::span<const DailyValue> series) {
    for (std::size_t i = 1; i < series.size(); ++i) {
        if (series[i].day <= series[i - 1].day) {
            return "the days of the series must rise strictly: day " + std::to_string(series[i].day) + " follows day " +
                   std::to_string(series[i - 1].day) + " at position " + std::to_string(i);
        }
    }
    return {};
}

// The band of a day from the values of the days with data before it, oldest first; `history`
// holds at most the window.
Band band_of(const DailyValue& today, std::span<const double> history) {
    Band band;
    band.day = today.day;
    band.value = std::isfinite(today.value) ? today.value : kNoData;
    band.days_used = static_cast<std::uint32_t>(history.size());
    if (history.empty()) return band;
    // Two passes: the mean first, then the squares about it, so that a figure such as C/N0 near
    // 45 dB-Hz with a sigma of 0.1 keeps its digits.
    double sum = 0.0;
    for (double v : history) sum += v;
    const double n = static_cast<double>(history.size());
    band.mean = sum / n;
    if (history.size() >= 2) {
        double squares = 0.0;
        for (double v : history) squares += (v - band.mean) * (v - band.mean);
        band.sigma = std::sqrt(squares / (n - 1.0));
    }
    band.flagged = std::isfinite(band.value) && band.days_used >= kMinBandDays && band.sigma > 0.0 &&
                   std::fabs(band.value - band.mean) > kBandSigmas * band.sigma;
    return band;
}

// Mid-ranks, 1 to n, of the values; equal values share the mean of their ranks.
std::vector<double> mid_ranks(std::span<const double> values) {
    std::vector<std::size_t> order(values.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return values[a] < values[b]; });
    std::vector<double> ranks(values.size());
    std::size_t i = 0;
    while (i < order.size()) {
        std::size_t j = i + 1;
        while (j < order.size() && values[order[j]] == values[order[i]]) ++j;
        // Positions i..j-1 (0-based) hold ranks i+1..j: their mean.
        const double rank = (static_cast<double>(i + 1) + static_cast<double>(j)) / 2.0;
        for (std::size_t k = i; k < j; ++k) ranks[order[k]] = rank;
        i = j;
    }
    return ranks;
}

// max S - min S of the cumulative sum of (rank - mean rank), S_0 = 0 included.
double cusum_range(std::span<const double> ranks, double mean_rank) {
    double s = 0.0;
    double low = 0.0;
    double high = 0.0;
    for (double r : ranks) {
        s += r - mean_rank;
        low = std::min(low, s);
        high = std::max(high, s);
    }
    return high - low;
}

// A uniform draw in [0, bound) by multiplying a 64-bit draw by the bound and keeping the high
// half, with the rare draws that would favour some results drawn again: exact like a modulo with
// rejection, without its division (the division was most of a shuffle's time).
// std::uniform_int_distribution and std::shuffle differ between standard libraries, and the same
// seed must give the same change points on all.
__extension__ typedef unsigned __int128 Wide;

std::uint64_t draw_below(std::mt19937_64& generator, std::uint64_t bound) {
    Wide product = static_cast<Wide>(generator()) * bound;
    auto low = static_cast<std::uint64_t>(product);
    if (low < bound) {
        const std::uint64_t threshold = (0 - bound) % bound;  // 2^64 mod bound
        while (low < threshold) {
            product = static_cast<Wide>(generator()) * bound;
            low = static_cast<std::uint64_t>(product);
        }
    }
    return static_cast<std::uint64_t>(product >> 64);
}

void shuffle(std::vector<double>& values, std::mt19937_64& generator) {
    for (std::size_t i = values.size(); i > 1; --i) {
        const auto j = static_cast<std::size_t>(draw_below(generator, i));
        std::swap(values[i - 1], values[j]);
    }
}

struct Split {
    std::size_t at = 0;  // index of the first value of the new level, within the stretch
    double confidence = 0.0;
};

// The candidate of one stretch and its confidence. The confidence follows S_diff; the place is
// where the ranks split best, the largest S_i^2 / (i (n - i)) over the places that leave
// min_side values on each side. That is the split with the least squared error of the ranks about
// the means of the two sides; the plain largest |S_i| leans towards the middle of the stretch, and
// on a step two thirds of the way along put the new level two or more days early in about one
// series in eight, against one in fifty this way.
Split test_stretch(std::span<const double> values, std::uint32_t resamples, double needed, std::size_t min_side,
                   std::mt19937_64& generator) {
    std::vector<double> ranks = mid_ranks(values);
    const double n = static_cast<double>(ranks.size());
    const double mean_rank = (n + 1.0) / 2.0;
    Split split;
    double s = 0.0;
    double best = -1.0;
    for (std::size_t i = 0; i + min_side < ranks.size(); ++i) {
        s += ranks[i] - mean_rank;
        if (i + 1 < min_side) continue;
        const double before = static_cast<double>(i + 1);
        const double score = s * s / (before * (n - before));
        if (score > best) {
            best = score;
            split.at = i + 1;  // the level after value i starts at the next one
        }
    }
    const double range = cusum_range(ranks, mean_rank);
    if (resamples == 0 || range <= 0.0) return split;  // no evidence, confidence 0
    // Once more random orders reach the stretch's own S_diff than the confidence allows, it cannot
    // be met: the rest are not drawn (most stretches of a steady figure end within a hundred), and
    // the confidence is the most the stretch could still have had.
    const double allowed = std::max(0.0, (1.0 - needed) * static_cast<double>(resamples));
    std::uint32_t smaller = 0;
    std::uint32_t reached = 0;
    std::uint32_t drawn = 0;
    while (drawn < resamples && static_cast<double>(reached) <= allowed) {
        shuffle(ranks, generator);
        ++drawn;
        if (cusum_range(ranks, mean_rank) < range) {
            ++smaller;
        } else {
            ++reached;
        }
    }
    split.confidence = static_cast<double>(smaller + (resamples - drawn)) / static_cast<double>(resamples);
    if (drawn < resamples) split.confidence = std::min(split.confidence, std::nextafter(needed, 0.0));
    return split;
}

double mean_of(std::span<const double> values) {
    double sum = 0.0;
    for (double v : values) sum += v;
    return values.empty() ? kNoData : sum / static_cast<double>(values.size());
}

}  // namespace

std::variant<Band, std::string> last_day_band(std::span<const DailyValue> series, std::uint32_t window_days) {
    if (series.empty()) return std::string("the series is empty: it has no last day");
    if (std::string error = check_days(series); !error.empty()) return error;
    // Walk back from the day before the last, over the days with data, up to the window.
    std::vector<double> history;
    for (std::size_t i = series.size() - 1; i > 0 && history.size() < window_days; --i) {
        if (std::isfinite(series[i - 1].value)) history.push_back(series[i - 1].value);
    }
    std::reverse(history.begin(), history.end());
    return band_of(series.back(), history);
}

std::variant<std::vector<Band>, std::string> bands(std::span<const DailyValue> series, std::uint32_t window_days) {
    if (std::string error = check_days(series); !error.empty()) return error;
    std::vector<double> with_data;  // values of the days with data so far, oldest first
    std::vector<Band> out;
    out.reserve(series.size());
    for (const DailyValue& today : series) {
        const std::size_t used = std::min<std::size_t>(with_data.size(), window_days);
        out.push_back(band_of(today, std::span<const double>(with_data).last(used)));
        if (std::isfinite(today.value)) with_data.push_back(today.value);
    }
    return out;
}

std::variant<std::vector<ChangePoint>, std::string> change_points(std::span<const DailyValue> series,
                                                                  const ChangePointSettings& settings) {
    if (std::string error = check_days(series); !error.empty()) return error;
    std::vector<std::int64_t> days;
    std::vector<double> values;
    for (const DailyValue& entry : series) {
        if (!std::isfinite(entry.value)) continue;
        days.push_back(entry.day);
        values.push_back(entry.value);
    }
    // A side of one day has no level; two is the least that says anything.
    const std::size_t min_side = std::max<std::uint32_t>(settings.min_segment_days, 2);
    std::mt19937_64 generator(settings.seed);

    // Binary segmentation over [begin, end) of the days with data. A stack rather than recursion:
    // the depth follows the input. Each accepted split leaves two stretches of at least min_side,
    // so the stack and the change points stay below values.size() / min_side.
    std::vector<std::pair<std::size_t, double>> found;  // index of the first value of the new level, confidence
    std::vector<std::pair<std::size_t, std::size_t>> stretches{{0, values.size()}};
    while (!stretches.empty()) {
        const auto [begin, end] = stretches.back();
        stretches.pop_back();
        if (end - begin < 2 * min_side) continue;
        const std::span<const double> stretch(values.data() + begin, end - begin);
        const Split split = test_stretch(stretch, settings.resamples, settings.confidence, min_side, generator);
        if (!(split.confidence >= settings.confidence)) continue;
        const std::size_t at = begin + split.at;
        found.emplace_back(at, split.confidence);
        // The later side is pushed first so that the earlier is searched first: the order of the
        // draws, and so the result, depends on the series alone.
        stretches.emplace_back(at, end);
        stretches.emplace_back(begin, at);
    }
    std::sort(found.begin(), found.end());

    std::vector<ChangePoint> out;
    out.reserve(found.size());
    for (std::size_t k = 0; k < found.size(); ++k) {
        const std::size_t from = k == 0 ? 0 : found[k - 1].first;
        const std::size_t at = found[k].first;
        const std::size_t to = k + 1 < found.size() ? found[k + 1].first : values.size();
        ChangePoint point;
        point.day = days[at];
        point.confidence = found[k].second;
        point.mean_before = mean_of(std::span<const double>(values.data() + from, at - from));
        point.mean_after = mean_of(std::span<const double>(values.data() + at, to - at));
        out.push_back(point);
    }
    return out;
}

}  // namespace vardoln::history
