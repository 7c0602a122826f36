// Any bytes through the element-set parser and the UTF-8 check.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tle/tle_download.hpp"
#include "tle/tle_parser.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)vardoln::is_valid_utf8(text);
    (void)vardoln::parse_tle(text);
    return 0;
}
