// Recordings as archives hold them: gzip, Unix compress and compact RINEX (Hatanaka) layers in
// front of the plain RINEX text that the readers accept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace vardoln {

// A hostile archive must not be able to exhaust memory: every layer stops once its output
// passes the smaller of the two bounds, both taken from the size of the bytes first handed in.
struct ArchiveLimits {
    std::uint64_t max_ratio = 64;                        // output bytes per input byte
    std::uint64_t max_bytes = std::uint64_t{8} << 30;    // absolute bound, 8 GiB
};

// The message names the layer first ("gzip: truncated stream", "CRINEX: line 12 ...").
struct ArchiveError {
    std::string message;
    bool over_limit = false;  // the output passed the bound it was given; no fault of the data

    bool operator==(const ArchiveError&) const = default;
};

using ArchiveResult = std::variant<std::string, ArchiveError>;

// Layers are recognised by content, never by file name: while the bytes start with a gzip or
// Unix compress magic they are decompressed, then compact RINEX is expanded. Anything else is
// handed back as it came (moved, not copied), so plain files cost nothing.
ArchiveResult expand_archive(std::string bytes, ArchiveLimits limits = {});

// The output bound that `limits` sets for an input of `input_size` bytes.
std::size_t archive_output_cap(std::size_t input_size, const ArchiveLimits& limits) noexcept;

// The gzip and Unix compress layers alone, each bounded by `cap`; compact RINEX stays as it is.
// Bytes that start with neither magic are not for this function.
bool is_compressed(std::string_view bytes) noexcept;
ArchiveResult decompress(std::string_view bytes, std::size_t cap);

// The individual layers, for callers that know what they hold (tests, benchmarks). Each
// fails with "<layer>: expands beyond the limit of N bytes" once its output passes max_output.
bool is_gzip(std::string_view bytes) noexcept;
bool is_unix_compress(std::string_view bytes) noexcept;
bool is_crinex(std::string_view bytes) noexcept;
ArchiveResult inflate_gzip(std::string_view bytes, std::size_t max_output);
// zlib's inflate: the reference that inflate_gzip is tested against and that words its errors.
ArchiveResult inflate_gzip_reference(std::string_view bytes, std::size_t max_output);
ArchiveResult expand_unix_compress(std::string_view bytes, std::size_t max_output);
ArchiveResult expand_crinex(std::string_view bytes, std::size_t max_output);

}  // namespace vardoln
