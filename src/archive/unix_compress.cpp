// Unix compress (.Z): adaptive LZW with 9..16-bit codes, decoded natively.
//
// The stream layout follows the historical compress program exactly, quirks included:
// codes are packed least significant bit first and read in groups of eight codes (n_bits
// bytes per group); when the code width grows or a CLEAR code resets the table, the rest of
// the current group is skipped, so the next code starts at the next group boundary counted
// from the point where the previous width took effect.
#include <cstdint>
#include <memory>

#include "archive/archive.hpp"
#include "archive/output_buffer.hpp"

namespace vardoln {

namespace {

using archive_detail::OutputBuffer;

constexpr int kInitialBits = 9;
constexpr int kLargestBits = 16;
constexpr std::uint32_t kClear = 256;
constexpr std::uint32_t kFirstFree = 257;  // first table entry in block mode
constexpr unsigned char kBlockModeFlag = 0x80;
constexpr unsigned char kBitsMask = 0x1F;

// Reads the codes of one width, starting at a group boundary.
class CodeReader {
public:
    explicit CodeReader(std::string_view bytes) noexcept
        : data_(reinterpret_cast<const unsigned char*>(bytes.data())), total_bits_(std::uint64_t{bytes.size()} * 8) {}

    // Moves to the next group boundary of the current width and changes the width.
    void realign(int new_bits) noexcept {
        const std::uint64_t group_bits = std::uint64_t(bits_) * 8;
        const std::uint64_t used = position_ - segment_start_;
        position_ = segment_start_ + (used + group_bits - 1) / group_bits * group_bits;
        segment_start_ = position_;
        bits_ = new_bits;
    }

    int bits() const noexcept { return bits_; }

    // False when fewer than `bits` bits remain (a partial last code is padding).
    bool next(std::uint32_t& code) noexcept {
        if (position_ + static_cast<std::uint64_t>(bits_) > total_bits_) return false;
        const std::uint64_t byte = position_ >> 3;
        const std::uint64_t last_byte = (position_ + bits_ - 1) >> 3;  // within the data
        std::uint32_t window = 0;
        for (std::uint64_t i = byte; i <= last_byte; ++i) window |= std::uint32_t{data_[i]} << (8 * (i - byte));
        code = (window >> (position_ & 7)) & ((1u << bits_) - 1);
        position_ += static_cast<std::uint64_t>(bits_);
        return true;
    }

private:
    const unsigned char* data_;
    std::uint64_t total_bits_;
    std::uint64_t position_ = 24;  // after the three header bytes
    std::uint64_t segment_start_ = 24;
    int bits_ = kInitialBits;
};

struct Table {
    std::uint16_t prefix[1u << kLargestBits];
    unsigned char suffix[1u << kLargestBits];
    std::uint32_t length[1u << kLargestBits];
};

ArchiveError compress_error(std::string_view what) { return ArchiveError{"compress: " + std::string(what)}; }

}  // namespace

bool is_unix_compress(std::string_view bytes) noexcept {
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1F &&
           static_cast<unsigned char>(bytes[1]) == 0x9D;
}

ArchiveResult expand_unix_compress(std::string_view bytes, std::size_t max_output) {
    if (bytes.size() < 3) return compress_error("truncated header");
    const auto mode = static_cast<unsigned char>(bytes[2]);
    const int max_bits = mode & kBitsMask;
    if (max_bits < kInitialBits || max_bits > kLargestBits) {
        return compress_error("unsupported code width " + std::to_string(max_bits));
    }
    const bool block_mode = (mode & kBlockModeFlag) != 0;
    const std::uint32_t table_end = 1u << max_bits;

    auto table = std::make_unique<Table>();
    CodeReader reader(bytes);
    // The width grows once the next free entry passes the largest code of the current width;
    // at the largest width the table simply stops growing.
    std::uint32_t width_limit = (1u << kInitialBits) - 1;
    std::uint32_t free_entry = block_mode ? kFirstFree : 256;
    std::int64_t previous = -1;  // code before this one; -1 at the start
    unsigned char first_char = 0;

    // LZW text compresses about three times; the buffer grows geometrically from there.
    OutputBuffer out(bytes.size() * 4 + 4096, max_output);
    const auto length_of = [&](std::uint32_t code) noexcept { return code < 256 ? 1u : table->length[code]; };

    for (;;) {
        if (free_entry > width_limit) {
            const int bits = reader.bits() + 1;
            reader.realign(bits);
            width_limit = bits == max_bits ? table_end : (1u << bits) - 1;
        }
        std::uint32_t code = 0;
        if (!reader.next(code)) break;

        if (previous < 0) {
            if (code >= 256) return compress_error("invalid code");
            if (!out.reserve_more(1)) return archive_detail::limit_error("compress", max_output);
            first_char = static_cast<unsigned char>(code);
            out.data()[out.written()] = static_cast<char>(first_char);
            out.commit(1);
            previous = code;
            continue;
        }
        if (code == kClear && block_mode) {
            // The entry that the next code adds lands on 256 and is never used, which keeps
            // the previous code valid across the reset.
            free_entry = kFirstFree - 1;
            reader.realign(kInitialBits);
            width_limit = (1u << kInitialBits) - 1;
            continue;
        }

        const auto prior = static_cast<std::uint32_t>(previous);
        // A code one past the table is the string of the previous code plus its first
        // character (the encoder used the entry in the same step that created it).
        const bool pending_entry = code >= free_entry;
        if (pending_entry && code > free_entry) return compress_error("invalid code");
        const std::uint32_t string_code = pending_entry ? prior : code;
        const std::uint32_t length = length_of(string_code) + (pending_entry ? 1u : 0u);
        if (!out.reserve_more(length)) return archive_detail::limit_error("compress", max_output);

        // Strings are chains of (prefix, suffix) pairs: write them back to front in place.
        char* const start = out.data() + out.written();
        char* end = start + length_of(string_code);
        std::uint32_t walk = string_code;
        while (walk >= 256) {
            *--end = static_cast<char>(table->suffix[walk]);
            walk = table->prefix[walk];
        }
        *--end = static_cast<char>(walk);
        if (pending_entry) start[length - 1] = static_cast<char>(first_char);
        first_char = static_cast<unsigned char>(walk);
        out.commit(length);

        if (free_entry < table_end) {
            table->prefix[free_entry] = static_cast<std::uint16_t>(prior);
            table->suffix[free_entry] = first_char;
            table->length[free_entry] = length_of(prior) + 1;
            ++free_entry;
        }
        previous = code;
    }
    return out.finish();
}

}  // namespace vardoln
