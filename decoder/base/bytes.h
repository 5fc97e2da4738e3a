// The message bytes of a capture: where a message comes from, and the bytes
// written as hex pairs in a data field, read without copying them.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace vornlog {

// Where a capture line comes from, by its second column: "O..." is the PC.
// A time in nanoseconds since 1970, wide enough for every time stamp a
// capture file can give (64 bits of nanoseconds end in 2262).
using TimeNs = __int128;

// A time read back as a number, its two halves loaded one by one: a time
// just written as two halves (as the capture's readers write it), copied
// as one 16-byte value, makes the processor wait for both stores.
inline TimeNs loadTime(const TimeNs& time)
{
    if constexpr (std::endian::native != std::endian::little) {
        return time;
    } else {
        std::uint64_t low, high;
        std::memcpy(&low, &time, 8);
        std::memcpy(&high, reinterpret_cast<const char*>(&time) + 8, 8);
        return static_cast<TimeNs>((static_cast<unsigned __int128>(high) << 64) | low);
    }
}

enum class Direction { Controller, Pc };

namespace detail {
// The byte that two characters read as, indexed by first * 256 + second,
// and the byte that a pair cut by the field's end reads as, by its one
// character. One load per byte, whatever the characters are.
extern const std::array<std::uint8_t, 1 << 16> kPairValue;
extern const std::array<std::uint8_t, 256> kCutPairValue;

inline std::uint8_t pairAt(std::string_view text, std::size_t pos)
{
    if (pos + 1 < text.size())
        return kPairValue[static_cast<unsigned char>(text[pos]) << 8 | static_cast<unsigned char>(text[pos + 1])];
    return pos < text.size() ? kCutPairValue[static_cast<unsigned char>(text[pos])] : 0;
}
} // namespace detail

// The message bytes of a data field, read front to back. Byte i is written
// at characters 3i and 3i+1; bytes beyond the field's end read as 0.
class Bytes {
public:
    explicit Bytes(std::string_view field) : field_(field) {}

    // Byte number `index` of the message, without moving the read position.
    std::uint8_t at(std::size_t index) const { return detail::pairAt(field_, index * 3); }
    // The byte at the read position; the position moves on by one byte.
    std::uint8_t u8() { return at(next_++); }
    // A little-endian value of 1 to 4 bytes, with 32-bit wrap-around.
    std::int32_t value(int width)
    {
        std::uint32_t sum = 0;
        const std::size_t pos = next_ * 3;
        if (width >= 1 && width <= 4 && pos + 3 * static_cast<std::size_t>(width) - 1 <= field_.size()) {
            // Every pair of the value lies whole in the field.
            const auto* p = reinterpret_cast<const unsigned char*>(field_.data() + pos);
            auto byte = [p](int k) -> std::uint32_t { return detail::kPairValue[p[3 * k] << 8 | p[3 * k + 1]]; };
            switch (width) { // straight-line code for each width
            case 4: sum |= byte(3) << 24; [[fallthrough]];
            case 3: sum |= byte(2) << 16; [[fallthrough]];
            case 2: sum |= byte(1) << 8; [[fallthrough]];
            case 1: sum |= byte(0);
            }
            next_ += static_cast<std::size_t>(width);
        } else {
            for (int k = 0; k < width; ++k) sum |= static_cast<std::uint32_t>(u8()) << (8 * k);
        }
        return static_cast<std::int32_t>(sum);
    }
    // Skips to byte `index` (the next byte read is that one).
    void seek(std::size_t index) { next_ = index; }
    std::size_t position() const { return next_; }

private:
    std::string_view field_;
    std::size_t next_ = 0;
};

} // namespace vornlog
