// Reading a capture: the dump file's lines, their columns, and the message
// bytes written as hex pairs in the data field.
//
// A capture line is one line of the dump file with its line end, at most 254
// characters. "\r\n" arrives as "\n" on every platform, so that a capture
// made on Windows decodes the same anywhere; a lone "\r" and a NUL byte are
// ordinary characters. A longer line is read in pieces of 254 characters,
// each of which counts as a capture line of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <algorithm>

namespace vornlog {

inline constexpr std::size_t kMaxLineLength = 254;
// A capture line of this length or less holds no message and is skipped.
inline constexpr std::size_t kShortLineLength = 40;

class LineReader {
public:
    explicit LineReader(std::FILE* file);
    // Reads a capture held in memory, `blockSize` bytes at a time.
    explicit LineReader(std::string_view text, std::size_t blockSize = 1 << 20);
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // The next capture line; false at the end of the capture or on a read
    // error. The view stays valid until the next call.
    bool next(std::string_view& line);
    // True when reading stopped on a read error rather than at the end.
    bool readError() const { return error_; }

private:
    void allocate();
    void refill();
    std::size_t readRaw(char* dst, std::size_t n);

    std::FILE* file_ = nullptr;
    std::string_view text_;
    std::size_t blockSize_ = 1 << 20;
    // The bytes read and not yet handed out are [pos_, len_). "\r\n" is
    // folded where a line is cut out, by turning the "\r" into the "\n".
    char* buf_ = nullptr;
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
    bool eof_ = false;
    bool error_ = false;
};

// Where a capture line comes from, by its second column: "O..." is the PC.
enum class Direction { Controller, Pc };

// The parts of a capture line that decoding uses.
struct CaptureLine {
    Direction direction = Direction::Controller;
    // The data field: from after the fourth tab up to the next tab or the
    // end of the line's text (its line end included).
    std::string_view field;
};

// Splits a capture line into its columns. False when the line is too short
// to hold a message or has no data field (fewer than four tabs).
bool parseCaptureLine(std::string_view line, CaptureLine& out);

namespace detail {
// The value of each character as a hex digit, -1 for any other character.
inline constexpr auto kHexDigit = [] {
    struct Table {
        signed char value[256];
    } t{};
    for (int c = 0; c < 256; ++c)
        t.value[c] = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    return t;
}();
inline int hexDigit(char c) { return kHexDigit.value[static_cast<unsigned char>(c)]; }
} // namespace detail

// The value of one hex pair as the controller's capture shows it: a pair
// whose first character is not a hex digit reads 0, a pair whose second
// character is not a hex digit (or is missing) reads as its first digit.
inline std::uint8_t hexPair(std::string_view pair)
{
    const int high = pair.empty() ? -1 : detail::hexDigit(pair[0]);
    if (high < 0) return 0;
    const int low = pair.size() < 2 ? -1 : detail::hexDigit(pair[1]);
    return static_cast<std::uint8_t>(low < 0 ? high : high * 16 + low);
}

// The message bytes of a data field, read front to back. Byte i is written
// at characters 3i and 3i+1; bytes beyond the field's end read as 0.
class Bytes {
public:
    explicit Bytes(std::string_view field) : field_(field) {}

    // Byte number `index` of the message, without moving the read position.
    std::uint8_t at(std::size_t index) const
    {
        const std::size_t pos = index * 3;
        if (pos >= field_.size()) return 0;
        const int high = detail::hexDigit(field_[pos]);
        if (high < 0) return 0;
        const int low = pos + 1 < field_.size() ? detail::hexDigit(field_[pos + 1]) : -1;
        return static_cast<std::uint8_t>(low < 0 ? high : high * 16 + low);
    }
    // The byte at the read position; the position moves on by one byte.
    std::uint8_t u8() { return at(next_++); }
    // A little-endian value of 1 to 4 bytes, with 32-bit wrap-around.
    std::int32_t value(int width)
    {
        std::uint32_t sum = 0;
        for (int k = 0; k < width; ++k) sum |= static_cast<std::uint32_t>(u8()) << (8 * k);
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
