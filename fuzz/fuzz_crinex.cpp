// Compact RINEX read straight into the record against the text path (expanded text, then the
// reader) on every input: wherever the direct path takes a file, the two records must be the
// same value by value, indicators, tables and header included. Then the reader entry against
// the text route, for inputs behind gzip or compress layers too.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "../tests/cpp/test_archive_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vardoln;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // A bound near the text size crosses the limit checks; a loose one lets whole inputs through.
    for (const std::size_t cap : {std::size_t{1} << 20, size * 3}) {
        bool covered = false;
        if (!archive_testing::direct_path_difference(bytes, cap, covered).empty()) __builtin_trap();
    }

    auto read = read_observation_bytes(bytes, "fuzz.crx");
    ArchiveResult expanded = expand_archive(std::string(bytes));
    const auto* error = std::get_if<ArchiveError>(&expanded);
    auto route = error != nullptr ? std::variant<RinexObsData, ParseError>(ParseError{error->message})
                                  : parse_observation_file(std::get<std::string>(expanded), "fuzz.crx");
    if (read.index() != route.index()) __builtin_trap();
    if (const auto* record = std::get_if<RinexObsData>(&read)) {
        if (!archive_testing::exact_difference(*record, std::get<RinexObsData>(route)).empty()) __builtin_trap();
    } else if (std::get<ParseError>(read).message != std::get<ParseError>(route).message) {
        __builtin_trap();
    }
    return 0;
}
