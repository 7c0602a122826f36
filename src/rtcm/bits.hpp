// Big-endian bit fields of an RTCM 3 payload, read front to back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace vardoln {

// Reading past the end never touches memory outside the payload: it yields 0 and marks the
// reader failed, so a decoder reads a whole layout and checks once at the end.
class BitReader {
public:
    explicit BitReader(std::span<const std::uint8_t> bytes) noexcept : bytes_(bytes) {}

    // An unsigned field of 0 to 64 bits.
    std::uint64_t bits(unsigned width) noexcept {
        if (width > remaining_bits()) {
            failed_ = true;
            position_ = bytes_.size() * 8;
            return 0;
        }
        std::uint64_t value = 0;
        while (width > 0) {
            const unsigned offset = static_cast<unsigned>(position_ % 8);
            const unsigned taken = width < 8 - offset ? width : 8 - offset;
            const unsigned byte = bytes_[position_ / 8];
            const unsigned field = (byte >> (8 - offset - taken)) & ((1u << taken) - 1u);
            value = (value << taken) | field;
            position_ += taken;
            width -= taken;
        }
        return value;
    }

    // A two's-complement field of 1 to 64 bits.
    std::int64_t signed_bits(unsigned width) noexcept {
        const std::uint64_t raw = bits(width);
        if (width == 0 || width >= 64) return static_cast<std::int64_t>(raw);
        const std::uint64_t sign = std::uint64_t{1} << (width - 1);
        return static_cast<std::int64_t>(raw ^ sign) - static_cast<std::int64_t>(sign);
    }

    bool flag() noexcept { return bits(1) != 0; }

    void skip(std::size_t width) noexcept {
        if (width > remaining_bits()) {
            failed_ = true;
            position_ = bytes_.size() * 8;
            return;
        }
        position_ += width;
    }

    std::size_t remaining_bits() const noexcept { return bytes_.size() * 8 - position_; }
    std::size_t position_bits() const noexcept { return position_; }
    bool failed() const noexcept { return failed_; }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
    bool failed_ = false;
};

}  // namespace vardoln
