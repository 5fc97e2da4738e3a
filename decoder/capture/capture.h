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
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <algorithm>
#include <array>
#include <bit>
#include <memory>

#include "base/bytes.h"
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
    // Inline: the common case, a whole line in the buffer, costs no call.
    bool next(std::string_view& line) { return wholeLine(line) || nextAfterRefill(line); }
    // True when reading stopped on a read error rather than at the end.
    bool readError() const { return error_; }
    // True when reading stopped because it was interrupted.
    bool interrupted() const { return interrupted_; }
    // The byte just after the last line handed out, counted from the
    // capture's start (from the new content's start once it began).
    std::uint64_t offset() const { return base_ + pos_; }

private:
    // The next line if the buffer holds it whole, line end included.
    bool wholeLine(std::string_view& line)
    {
        char* const p = buf_ + pos_;
        // A line of 254 characters ending in "\r\n" spans 255 bytes.
        const std::size_t window = std::min(len_ - pos_, kMaxLineLength + 1);
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', window));
        if (!nl) return false;
        const std::size_t k = static_cast<std::size_t>(nl - p);
        if (k > 0 && p[k - 1] == '\r') {
            p[k - 1] = '\n';
            pos_ += k + 1;
            line = std::string_view(p, k);
            return true;
        }
        if (k >= kMaxLineLength) return false;
        pos_ += k + 1;
        line = std::string_view(p, k + 1);
        return true;
    }
    // next() where the buffer holds no whole line: a piece of a long line,
    // or the buffer refilled first.
    bool nextAfterRefill(std::string_view& line);
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
    std::uint64_t base_ = 0; // where buf_ begins in the capture
    bool eof_ = false;
    bool error_ = false;
    bool interrupted_ = false;
    // The first bytes of new content (the stream restarted), held until
    // the old content's last line is handed out.
    std::string fresh_;
};

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
// to hold a message or has no data field (fewer than four tabs). Inline:
// called for every line.
inline bool parseCaptureLine(std::string_view line, CaptureLine& out)
{
    if (line.size() <= kShortLineLength) return false;
    // The first four columns are short: a scan of eight bytes at a time
    // beats a search call.
    const char* const end = line.data() + line.size();
    const char* p = line.data();
    auto nextTab = [end](const char* q) {
        if constexpr (std::endian::native == std::endian::little) {
            constexpr std::uint64_t kOnes = 0x0101010101010101u, kHighs = 0x8080808080808080u;
            while (end - q >= 8) {
                std::uint64_t w;
                std::memcpy(&w, q, 8);
                w ^= kOnes * '\t';
                // The lowest byte that was a tab is the lowest high bit set.
                if (const std::uint64_t z = (w - kOnes) & ~w & kHighs) return q + (std::countr_zero(z) >> 3);
                q += 8;
            }
        }
        while (q != end && *q != '\t') ++q;
        return q;
    };
    const char* tab = nextTab(p);
    if (tab == end) return false;
    out.direction = (tab + 1 != end && tab[1] == 'O') ? Direction::Pc : Direction::Controller;
    tab = nextTab(tab + 1);
    if (tab == end) return false;
    const char* time = tab + 1;
    tab = nextTab(time);
    if (tab == end) return false;
    out.time = std::string_view(time, static_cast<std::size_t>(tab - time));
    tab = nextTab(tab + 1);
    if (tab == end) return false;
    p = tab + 1;
    const char* fieldEnd = static_cast<const char*>(std::memchr(p, '\t', static_cast<std::size_t>(end - p)));
    out.field = std::string_view(p, static_cast<std::size_t>((fieldEnd ? fieldEnd : end) - p));
    return true;
}

// The same for a line of 40 characters or fewer, which the report and the
// steps CSV pass over: true when it holds a message all the same, with OUT
// or IN as its second column and a hex pair at the start of its data
// field (a one-byte Version or Information request is that short).
bool parseShortCaptureLine(std::string_view line, CaptureLine& out);

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

} // namespace vornlog
