// The growing output of a decompressing layer: one string, grown geometrically up to the cap.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>

#include "archive/archive.hpp"
#include "rinex/file_io.hpp"

namespace vardoln::archive_detail {

// Writers fill [size(), capacity()) of the string directly; the string is cut to the written
// size at the end. One byte beyond the cap is allowed so that "exactly at the cap" and
// "beyond it" can be told apart.
class OutputBuffer {
public:
    OutputBuffer(std::size_t expected, std::size_t cap) : cap_(cap) { reallocate(std::min(expected, limit())); }

    char* data() noexcept { return text_.data(); }
    std::size_t written() const noexcept { return written_; }
    std::size_t room() const noexcept { return text_.size() - written_; }
    void commit(std::size_t count) noexcept { written_ += count; }

    // Makes room for at least `count` more bytes; false once that would pass the cap.
    bool reserve_more(std::size_t count) {
        if (count <= room()) return true;
        if (count > limit() - written_) return false;
        const std::size_t wanted = std::max(written_ + count, text_.size() * 2);
        reallocate(std::min(std::max<std::size_t>(wanted, 4096), limit()));
        return true;
    }

    // Doubles the room (up to the cap) for a writer that must start its piece again; false when
    // the buffer already reaches the cap.
    bool grow() {
        if (text_.size() >= limit()) return false;
        reallocate(std::min(std::max<std::size_t>(text_.size() * 2, 4096), limit()));
        return true;
    }

    // Past the cap: the layer must report the limit.
    bool over_cap() const noexcept { return written_ > cap_; }

    std::string finish() {
        text_.resize(written_);
        return std::move(text_);
    }

private:
    // A new block of `size` bytes holding what was written, paged for one pass of writing.
    void reallocate(std::size_t size) {
        std::string block;
        block.reserve(size);
        prefer_large_pages(block.data(), size);
        block.assign(text_.data(), written_);
        block.resize(size);
        text_.swap(block);
    }

    std::size_t limit() const noexcept { return cap_ == static_cast<std::size_t>(-1) ? cap_ : cap_ + 1; }

    std::string text_;
    std::size_t written_ = 0;
    std::size_t cap_;
};

inline ArchiveError limit_error(const char* layer, std::size_t cap) {
    return ArchiveError{std::string(layer) + ": expands beyond the limit of " + std::to_string(cap) + " bytes", true};
}

}  // namespace vardoln::archive_detail
