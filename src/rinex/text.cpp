#include "rinex/text.hpp"

#include <cstdint>
#include <cstring>

namespace vardoln {

bool has_high_bytes(std::string_view bytes) noexcept {
    // Eight bytes at a time: the scan runs over every file before parsing, so it must be
    // close to memory speed.
    std::size_t i = 0;
    const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes.data());
    std::uint64_t any = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, data + i, sizeof word);
        any |= word;
    }
    for (; i < bytes.size(); ++i) any |= data[i];
    return (any & 0x8080808080808080ull) != 0;
}

std::string prepare_text(std::string_view bytes) {
    std::string text(bytes.size(), '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        text[i] = (static_cast<unsigned char>(c) & 0x80) != 0 ? '?' : c;
    }
    return text;
}

std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    LineCursor cursor(text);
    while (!cursor.at_end()) lines.push_back(cursor.next());
    return lines;
}

}  // namespace vardoln
