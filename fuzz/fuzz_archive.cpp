// Any bytes through the archive layers (gzip, Unix compress, compact RINEX) under a tight
// output bound, then what comes out through the observation reader, as a recording would go.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "archive/archive.hpp"
#include "archive/readers.hpp"
#include "arrays/recording.hpp"
#include "rinex/obs_data.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A small bound keeps each run fast and still crosses the limit checks of every layer.
    const vardoln::ArchiveLimits limits{.max_ratio = 16, .max_bytes = std::uint64_t{1} << 20};
    std::string bytes(reinterpret_cast<const char*>(data), size);
    auto expanded = vardoln::expand_archive(std::move(bytes), limits);
    if (auto* text = std::get_if<std::string>(&expanded)) {
        if (text->size() > vardoln::archive_output_cap(size, limits)) __builtin_trap();
        (void)vardoln::parse_observation_file(*text, "fuzz.crx");
    }
    // The layers one by one, as callers that know the format use them.
    const std::string_view view(reinterpret_cast<const char*>(data), size);
    constexpr std::size_t kLayerCap = std::size_t{1} << 16;
    (void)vardoln::expand_crinex(view, kLayerCap);
    (void)vardoln::expand_unix_compress(view, kLayerCap);
    // The fast inflater and zlib must agree on every input, text or error message alike.
    const auto fast = vardoln::inflate_gzip(view, kLayerCap);
    const auto reference = vardoln::inflate_gzip_reference(view, kLayerCap);
    if (fast != reference) __builtin_trap();
    // The memory budget of the tools: a file is over it only when larger, an expansion only
    // when the bytes are an archive.
    constexpr std::uint64_t kBudget = std::uint64_t{1} << 14;
    const vardoln::arrays::BudgetFit fit = vardoln::arrays::archive_budget_fit(view, kBudget);
    if (fit == vardoln::arrays::BudgetFit::file_over && size <= kBudget) __builtin_trap();
    if (fit == vardoln::arrays::BudgetFit::expansion_over && (size > kBudget || !vardoln::is_archived(view)))
        __builtin_trap();
    return 0;
}
