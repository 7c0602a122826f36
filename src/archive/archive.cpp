#include "archive/archive.hpp"

#include <limits>
#include <utility>

namespace vardoln {

namespace {

// A gzip stream can be written that inflates to itself; real archives nest two layers at most.
constexpr int kMaxCompressionLayers = 8;

}  // namespace

std::size_t archive_output_cap(std::size_t input_size, const ArchiveLimits& limits) noexcept {
    constexpr std::uint64_t kMax = std::numeric_limits<std::size_t>::max();
    const std::uint64_t size = input_size;
    std::uint64_t cap = limits.max_ratio != 0 && size > kMax / limits.max_ratio ? kMax : size * limits.max_ratio;
    if (cap > limits.max_bytes) cap = limits.max_bytes;
    return static_cast<std::size_t>(cap);
}

bool is_compressed(std::string_view bytes) noexcept { return is_gzip(bytes) || is_unix_compress(bytes); }

ArchiveResult decompress(std::string_view bytes, std::size_t cap) {
    ArchiveResult current(std::in_place_index<0>);
    std::string_view text = bytes;
    for (int layer = 0; is_compressed(text); ++layer) {
        if (layer == kMaxCompressionLayers) {
            return ArchiveError{"archive: more than " + std::to_string(kMaxCompressionLayers) +
                                " nested compression layers"};
        }
        ArchiveResult inner = is_gzip(text) ? inflate_gzip(text, cap) : expand_unix_compress(text, cap);
        if (std::holds_alternative<ArchiveError>(inner)) return inner;
        current = std::move(inner);
        text = std::get<std::string>(current);
    }
    return current;
}

ArchiveResult expand_archive(std::string bytes, ArchiveLimits limits) {
    const std::size_t cap = archive_output_cap(bytes.size(), limits);
    if (is_compressed(bytes)) {
        ArchiveResult inner = decompress(bytes, cap);
        if (auto* text = std::get_if<std::string>(&inner); text != nullptr && is_crinex(*text)) {
            return expand_crinex(*text, cap);
        }
        return inner;
    }
    if (is_crinex(bytes)) return expand_crinex(bytes, cap);
    return ArchiveResult(std::in_place_index<0>, std::move(bytes));
}

}  // namespace vardoln
