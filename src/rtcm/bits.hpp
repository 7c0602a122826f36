// Big-endian bit fields of an RTCM 3 payload, read front to back and written the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

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

// Big-endian fields of up to 64 bits, the mirror of BitReader; a negative value is written in
// two's complement of the field's width (its higher bits are dropped).
class BitWriter {
public:
    BitWriter& put(std::int64_t value, unsigned width) {
        for (unsigned i = 0; i < width; ++i, ++bits_) {
            if (bits_ % 8 == 0) bytes_.push_back(0);
            if ((static_cast<std::uint64_t>(value) >> (width - 1 - i)) & 1u)
                bytes_.back() |= static_cast<std::uint8_t>(0x80u >> (bits_ % 8));
        }
        return *this;
    }
    BitWriter& flag(bool value) { return put(value ? 1 : 0, 1); }

    std::size_t size_bits() const noexcept { return bits_; }
    // The payload, padded with zero bits to a whole byte.
    const std::vector<std::uint8_t>& bytes() const noexcept { return bytes_; }
    std::vector<std::uint8_t> take() noexcept { return std::move(bytes_); }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t bits_ = 0;
};

}  // namespace vardoln
