// Text preparation shared by the RINEX readers: one character per byte, lines without ends.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vardoln {

// A map keyed by text, sorted by key, found by string_view without a copy.
template <typename T>
using TextMap = std::map<std::string, T, std::less<>>;

// Bytes 0x80..0xFF are not part of any RINEX field; they become '?' so that column arithmetic
// stays byte-wise and a damaged numeric field simply fails to read.
bool has_high_bytes(std::string_view bytes) noexcept;
std::string prepare_text(std::string_view bytes);

// Walks the lines of prepared text without copying them. A line ends at a line feed (a carriage
// return right before it goes with it); a final line feed does not open an empty last line,
// while empty lines in the middle are kept.
class LineCursor {
public:
    explicit LineCursor(std::string_view text) noexcept : text_(text) {}

    bool at_end() const noexcept { return position_ >= text_.size(); }

    // Characters not yet consumed.
    std::size_t remaining() const noexcept { return text_.size() - position_; }

    // The next line; empty at the end of the text (check at_end to tell the two apart).
    std::string_view next() noexcept {
        const std::string_view line = peek();
        position_ = next_position_;
        return line;
    }

    // Consumes the line that the last peek() returned, without searching for its end again.
    void advance() noexcept { position_ = next_position_; }

    // The line that next() would return, without consuming it.
    std::string_view peek() noexcept {
        if (at_end()) {
            next_position_ = position_;
            return {};
        }
        const std::size_t newline = text_.find('\n', position_);
        std::size_t end = newline == std::string_view::npos ? text_.size() : newline;
        next_position_ = newline == std::string_view::npos ? text_.size() : newline + 1;
        if (newline != std::string_view::npos && end > position_ && text_[end - 1] == '\r') --end;
        return text_.substr(position_, end - position_);
    }

private:
    std::string_view text_;
    std::size_t position_ = 0;
    std::size_t next_position_ = 0;
};

// Every line at once; the readers walk with LineCursor instead.
std::vector<std::string_view> split_lines(std::string_view text);

}  // namespace vardoln
