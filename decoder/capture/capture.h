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
#include <optional>
#include <string_view>
#include <algorithm>
#include <array>
#include <memory>

#include "input.h"

namespace vornlog {

inline constexpr std::size_t kMaxLineLength = 254;
// A capture line of this length or less holds no message and is skipped.
inline constexpr std::size_t kShortLineLength = 40;

class LineReader {
public:
    // The dump file is read this many bytes at a time. Memory stays the
    // same whatever the size of the capture.
    static constexpr std::size_t kBlockSize = 1 << 18;

    explicit LineReader(std::FILE* file);
    // Reads `stream` whose first bytes, `head` (a few), were read already to
    // tell its format.
    LineReader(ByteStream& stream, std::string_view head);
    // Reads a capture held in memory, `blockSize` bytes at a time.
    explicit LineReader(std::string_view text, std::size_t blockSize = kBlockSize);
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // The next capture line; false at the end of the capture or on a read
    // error. The view stays valid until the next call. When reading was
    // interrupted, an unfinished last line is left out: its end had not
    // come yet.
    bool next(std::string_view& line);
    // True when reading stopped on a read error rather than at the end.
    bool readError() const { return error_; }
    // True when reading stopped because it was interrupted.
    bool interrupted() const { return interrupted_; }

private:
    void allocate();
    void refill();
    std::size_t readRaw(char* dst, std::size_t n);

    std::unique_ptr<StdioStream> own_;
    ByteStream* stream_ = nullptr;
    std::string_view text_;
    std::size_t blockSize_ = kBlockSize;
    // The bytes read and not yet handed out are [pos_, len_). "\r\n" is
    // folded where a line is cut out, by turning the "\r" into the "\n".
    char* buf_ = nullptr;
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
    bool eof_ = false;
    bool error_ = false;
    bool interrupted_ = false;
};

// Where a capture line comes from, by its second column: "O..." is the PC.
enum class Direction { Controller, Pc };

// The parts of a capture line that decoding uses.
struct CaptureLine {
    Direction direction = Direction::Controller;
    // The data field: from after the fourth tab up to the next tab or the
    // end of the line's text (its line end included).
    std::string_view field;
    // The third column, where a capture writes its time (as it is).
    std::string_view time;
};

// Splits a capture line into its columns. False when the line is too short
// to hold a message or has no data field (fewer than four tabs).
bool parseCaptureLine(std::string_view line, CaptureLine& out);

// The third column of a capture line, where the capture tool writes the
// time: without spaces around it and without the line end.
std::string_view timeColumn(std::string_view line);

// A time as the third column writes it.
struct DumpTime {
    enum class Form {
        Clock,     // "HH:MM:SS.fff" (the hour may have one digit): a time of day
        DateClock, // "YYYY-MM-DD HH:MM:SS.fff", or with "T" for the space and
                   // a "Z" after it
        Seconds,   // "12.345678": seconds since the capture began
    };
    Form form = Form::Clock;
    // Nanoseconds: since 1970-01-01 00:00 (UTC, or the capture's own clock
    // when no "Z" says so) for a date, since midnight for a time of day,
    // as written for seconds.
    std::int64_t ns = 0;
    // Digits written after the decimal point, at most the nine that count.
    int fractionDigits = 0;
};

// Reads a time column: digits only where digits belong, a date that exists
// (no February 30th), nothing left over. Nothing when the text is none of
// the forms, or a date more than some 292 years from 1970 that nanoseconds
// cannot count.
std::optional<DumpTime> parseDumpTime(std::string_view column);

// How a record's time is written: a text dump's forms, or a USB capture
// file's packet time stamps.
enum class TimeForm {
    None,
    Clock,     // a time of day
    DateClock, // a date and a time of day
    Seconds,   // seconds since the capture began
    Packet,    // since 1970, UTC
};

constexpr TimeForm timeFormOf(DumpTime::Form form)
{
    return form == DumpTime::Form::Clock ? TimeForm::Clock
           : form == DumpTime::Form::DateClock ? TimeForm::DateClock
                                                : TimeForm::Seconds;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar, and
// back.
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day);
struct CivilDate {
    std::int64_t year;
    unsigned month;
    unsigned day;
};
CivilDate civilFromDays(std::int64_t days);

// The times of a text dump's lines, read one line after the other. The
// first time sets the form: a time written another way is none. A time of
// day that runs back by more than half a day has passed midnight, and goes
// on counting from the first day's midnight.
class DumpClock {
public:
    // The time of the line whose third column is `column` (as the line
    // holds it: spaces and the line end around it are left out here);
    // false for none.
    bool read(std::string_view column, DumpTime& time);

private:
    std::optional<DumpTime::Form> form_;
    std::int64_t dayOffset_ = 0;
    std::int64_t lastClock_ = 0;
};

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

// The value of one hex pair as the controller's capture shows it: a pair
// whose first character is not a hex digit reads 0, a pair whose second
// character is not a hex digit (or is missing) reads as its first digit.
inline std::uint8_t hexPair(std::string_view pair) { return detail::pairAt(pair.substr(0, 2), 0); }

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
