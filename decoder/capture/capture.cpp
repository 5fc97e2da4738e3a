#include "capture.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace vornlog {

LineReader::LineReader(std::FILE* file) : own_(std::make_unique<StdioStream>(file)), stream_(own_.get())
{
    allocate();
}

LineReader::LineReader(ByteStream& stream, std::string_view head) : stream_(&stream)
{
    allocate();
    len_ = std::min(head.size(), blockSize_);
    if (len_ != 0) std::memcpy(buf_, head.data(), len_);
}

LineReader::LineReader(std::string_view text, std::size_t blockSize)
    : text_(text), blockSize_(std::min(std::max<std::size_t>(blockSize, 1), kBlockSize))
{
    allocate();
}

void LineReader::allocate()
{
    // A block, behind the unfinished line that a block may end with.
    buf_ = static_cast<char*>(std::malloc(kMaxLineLength + blockSize_));
    if (!buf_) throw std::bad_alloc();
}

LineReader::~LineReader() { std::free(buf_); }

std::size_t LineReader::readRaw(char* dst, std::size_t n)
{
    if (!stream_) {
        const std::size_t k = std::min(n, text_.size());
        std::memcpy(dst, text_.data(), k);
        text_.remove_prefix(k);
        return k;
    }
    const std::size_t k = stream_->read(dst, n);
    if (k == 0) {
        error_ = stream_->readError();
        interrupted_ = stream_->interrupted();
    }
    return k;
}

// Called with at most one unfinished line left: it moves to the front and
// the next block is read behind it.
void LineReader::refill()
{
    const std::size_t left = len_ - pos_;
    if (pos_ != 0) std::memmove(buf_, buf_ + pos_, left);
    base_ += pos_;
    pos_ = 0;
    len_ = left;
    const std::uint64_t restarts = stream_ ? stream_->restarts() : 0;
    const std::size_t got = error_ ? 0 : readRaw(buf_ + len_, blockSize_);
    if (got == 0) eof_ = true;
    if (got != 0 && stream_ && stream_->restarts() != restarts) {
        // New content: what is left of the old ends as the capture's end
        // does (an unfinished last line read as far as it goes), and the
        // new bytes wait until then.
        fresh_.assign(buf_ + len_, got);
        eof_ = true;
        return;
    }
    len_ += got;
}

bool LineReader::nextAfterRefill(std::string_view& line)
{
    for (;;) {
        if (wholeLine(line)) return true;
        char* const p = buf_ + pos_;
        const std::size_t left = len_ - pos_;
        // No line end among the next 254 characters: a piece of its own.
        // A "\r" that ends the capture stays a character.
        if (left > kMaxLineLength || (eof_ && left > 0 && !interrupted_)) {
            const std::size_t take = std::min(left, kMaxLineLength);
            pos_ += take;
            line = std::string_view(p, take);
            return true;
        }
        if (eof_ && fresh_.empty()) return false;
        if (eof_) { // the old content is over: the new one starts
            std::memcpy(buf_, fresh_.data(), fresh_.size());
            pos_ = 0;
            base_ = 0;
            len_ = fresh_.size();
            fresh_.clear();
            eof_ = false;
            continue;
        }
        refill();
    }
}

bool parseShortCaptureLine(std::string_view line, CaptureLine& out)
{
    if (line.size() > kShortLineLength) return false;
    std::size_t at = line.find('\t');
    if (at == std::string_view::npos) return false;
    const std::size_t second = at + 1;
    at = line.find('\t', second);
    if (at == std::string_view::npos) return false;
    const std::string_view direction = line.substr(second, at - second);
    if (direction != "OUT" && direction != "IN") return false;
    const std::size_t time = at + 1;
    at = line.find('\t', time);
    if (at == std::string_view::npos) return false;
    const std::size_t timeEnd = at;
    at = line.find('\t', at + 1);
    if (at == std::string_view::npos) return false;
    std::string_view field = line.substr(at + 1);
    field = field.substr(0, field.find('\t'));
    auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); };
    if (field.size() < 2 || !hex(field[0]) || !hex(field[1])) return false;
    out.direction = direction == "OUT" ? Direction::Pc : Direction::Controller;
    out.time = line.substr(time, timeEnd - time);
    out.field = field;
    return true;
}

std::string_view timeColumn(std::string_view line)
{
    // The columns are short: a plain scan beats a call for each tab.
    std::size_t i = 0, tabs = 0;
    while (i < line.size() && tabs < 2)
        if (line[i++] == '\t') ++tabs;
    if (tabs < 2) return {};
    const std::size_t start = i;
    while (i < line.size() && line[i] != '\t') ++i;
    std::string_view column = line.substr(start, i - start);
    while (!column.empty() && (column.back() == '\n' || column.back() == '\r' || column.back() == ' '))
        column.remove_suffix(1);
    while (!column.empty() && column.front() == ' ') column.remove_prefix(1);
    return column;
}

namespace {

constexpr std::int64_t kSecond = 1'000'000'000;
constexpr std::int64_t kDay = 86'400 * kSecond;
// Some hundred years of midnights at most: a capture whose times of day
// jump back and forth must not run the count out of range.
constexpr std::int64_t kMaxDays = 36'500;

std::int64_t daysInMonth(std::int64_t y, std::int64_t m)
{
    constexpr std::int64_t days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
    return m == 2 && leap ? 29 : days[m - 1];
}

// Reads a time column front to back.
class TimeText {
public:
    explicit TimeText(std::string_view s) : s_(s) {}

    std::optional<DumpTime> read()
    {
        DumpTime t;
        if (s_.size() > 10 && s_[4] == '-') {
            std::int64_t y, mo, d;
            if (!digits(4, 4, y) || !eat('-') || !digits(2, 2, mo) || !eat('-') || !digits(2, 2, d)) return {};
            if (mo < 1 || mo > 12 || d < 1 || d > daysInMonth(y, mo)) return {};
            if (!eat(' ') && !eat('T')) return {};
            std::int64_t clock;
            if (!readClock(2, t.fractionDigits, clock)) return {};
            eat('Z');
            if (i_ != s_.size()) return {};
            // Nanoseconds since 1970 reach about 292 years either way.
            const std::int64_t days = daysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
            if (days > INT64_MAX / kDay - 1 || days < -(INT64_MAX / kDay - 1)) return {};
            t.form = DumpTime::Form::DateClock;
            t.ns = days * kDay + clock;
            return t;
        }
        if ((s_.size() > 2 && s_[2] == ':') || s_.find(':') != std::string_view::npos) {
            if (!readClock(1, t.fractionDigits, t.ns) || i_ != s_.size()) return {};
            t.form = DumpTime::Form::Clock;
            return t;
        }
        // Seconds: the decimal point is required, so that a column that
        // counts lines or bytes is not taken for a time.
        std::int64_t seconds;
        if (!digits(1, 9, seconds) || i_ == s_.size() || s_[i_] != '.') return {};
        std::int64_t fraction;
        if (!readFraction(t.fractionDigits, fraction) || i_ != s_.size()) return {};
        t.form = DumpTime::Form::Seconds;
        t.ns = seconds * kSecond + fraction;
        return t;
    }

private:
    bool eat(char c)
    {
        if (i_ < s_.size() && s_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }
    bool digits(std::size_t least, std::size_t most, std::int64_t& v)
    {
        v = 0;
        std::size_t n = 0;
        while (n < most && i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') {
            v = v * 10 + (s_[i_++] - '0');
            ++n;
        }
        return n >= least;
    }
    // "HH:MM:SS", the way nearly every capture writes it, read at its fixed
    // places.
    bool twoDigitClock(std::int64_t& h, std::int64_t& m, std::int64_t& s)
    {
        if (s_.size() - i_ < 8) return false;
        const char* p = s_.data() + i_;
        auto digit = [](char c) { return static_cast<unsigned>(c - '0'); };
        if (p[2] != ':' || p[5] != ':') return false;
        const unsigned d[] = {digit(p[0]), digit(p[1]), digit(p[3]), digit(p[4]), digit(p[6]), digit(p[7])};
        for (unsigned v : d)
            if (v > 9) return false;
        h = d[0] * 10 + d[1];
        m = d[2] * 10 + d[3];
        s = d[4] * 10 + d[5];
        i_ += 8;
        return true;
    }
    // ".fff": at least one digit; nanoseconds from the first nine.
    bool readFraction(int& fractionDigits, std::int64_t& ns)
    {
        ns = 0;
        if (!eat('.')) return true;
        std::int64_t scale = kSecond;
        int n = 0;
        while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') {
            if (n < 9) {
                scale /= 10;
                ns += (s_[i_] - '0') * scale;
            }
            ++n;
            ++i_;
        }
        fractionDigits = std::min(n, 9);
        return n > 0;
    }
    bool readClock(std::size_t hourDigits, int& fractionDigits, std::int64_t& ns)
    {
        std::int64_t h, m, s, fraction;
        if (!twoDigitClock(h, m, s) &&
            (!digits(hourDigits, 2, h) || !eat(':') || !digits(2, 2, m) || !eat(':') || !digits(2, 2, s)))
            return false;
        if (h > 23 || m > 59 || s > 59) return false;
        if (!readFraction(fractionDigits, fraction)) return false;
        ns = ((h * 60 + m) * 60 + s) * kSecond + fraction;
        return true;
    }

    std::string_view s_;
    std::size_t i_ = 0;
};

} // namespace

std::optional<DumpTime> parseDumpTime(std::string_view column)
{
    return TimeText(column).read();
}

std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

CivilDate civilFromDays(std::int64_t z)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2), m, d};
}

namespace {

// The forms that nearly every capture writes, "HH:MM:SS.fff" and
// "YYYY-MM-DD HH:MM:SS.fff", read at their fixed places; false for any
// other text, which parseDumpTime then reads (the same result when this
// reads it).
bool readCommonTime(std::string_view s, DumpTime& time)
{
    auto digit = [&s](std::size_t i) { return static_cast<unsigned>(s[i] - '0'); };
    auto two = [&](std::size_t i, unsigned& v) {
        const unsigned a = digit(i), b = digit(i + 1);
        v = a * 10 + b;
        return a <= 9 && b <= 9;
    };
    std::size_t at = 0;
    std::int64_t days = 0;
    time.form = DumpTime::Form::Clock;
    if (s.size() >= 19 && s[4] == '-' && s[7] == '-' && s[10] == ' ') {
        unsigned century, year, month, day;
        if (!two(0, century) || !two(2, year) || !two(5, month) || !two(8, day)) return false;
        const std::int64_t y = century * 100 + year;
        if (month < 1 || month > 12 || day < 1 || day > daysInMonth(y, month)) return false;
        days = daysFromCivil(y, month, day);
        if (days > INT64_MAX / kDay - 1 || days < -(INT64_MAX / kDay - 1)) return false;
        time.form = DumpTime::Form::DateClock;
        at = 11;
    }
    // "HH:MM:SS" as one 8-byte word: each digit byte less '0', each colon
    // byte less ':', must leave digits 0-9 and colons 0.
    if (s.size() < at + 8) return false;
    std::uint64_t w;
    std::memcpy(&w, s.data() + at, 8);
    if constexpr (std::endian::native != std::endian::little) w = __builtin_bswap64(w);
    w ^= 0x30303A30303A3030ull;
    if ((((w + 0x7676767676767676ull) | w) & 0x8080808080808080ull) || (w & 0x0000FF0000FF0000ull)) return false;
    // Each byte made ten times itself plus the next: HH, MM and SS land in
    // bytes 0, 3 and 6 (no byte passes 99, so none carries).
    const std::uint64_t pairs = w * 10 + (w >> 8);
    const auto h = static_cast<unsigned>(pairs & 0xFF), m = static_cast<unsigned>((pairs >> 24) & 0xFF),
               sec = static_cast<unsigned>((pairs >> 48) & 0xFF);
    if (h > 23 || m > 59 || sec > 59) return false;
    at += 8;
    std::int64_t fraction = 0;
    int digits = 0;
    if (at < s.size()) {
        if (s[at++] != '.') return false;
        const std::size_t written = s.size() - at;
        if (std::endian::native == std::endian::little && written != 0 && written <= 8) {
            // Up to eight decimals, the column's last bytes: read as one
            // word, the digits moved to its low bytes (the missing ones 0)
            // and the eight made one number, of tens of nanoseconds.
            std::uint64_t f;
            std::memcpy(&f, s.data() + s.size() - 8, 8);
            f = (f ^ 0x3030303030303030ull) >> (8 * (8 - written));
            if (((f + 0x7676767676767676ull) | f) & 0x8080808080808080ull) return false;
            f = (f * 2561) >> 8;
            f = ((f & 0x00FF00FF00FF00FFull) * 6553601) >> 16;
            f = ((f & 0x0000FFFF0000FFFFull) * 42949672960001ull) >> 32;
            fraction = static_cast<std::int64_t>(f) * 10;
            digits = static_cast<int>(written);
        } else {
            const std::size_t kept = std::min<std::size_t>(written, 9);
            for (const std::size_t end = at + kept; at < end; ++at) {
                const unsigned d = digit(at);
                if (d > 9) return false;
                fraction = fraction * 10 + d;
            }
            digits = static_cast<int>(kept);
            // Digits beyond the nanosecond are checked, not kept.
            for (; at < s.size(); ++at, ++digits)
                if (digit(at) > 9) return false;
            if (digits == 0) return false;
            // The digits read, in nanoseconds.
            static constexpr std::int64_t kScale[10] = {1'000'000'000, 100'000'000, 10'000'000, 1'000'000, 100'000,
                                                        10'000,        1'000,       100,        10,        1};
            fraction *= kScale[kept];
        }
    }
    time.fractionDigits = std::min(digits, 9);
    time.ns = days * kDay + ((h * 60 + m) * 60 + sec) * kSecond + fraction;
    return true;
}

} // namespace

bool DumpClock::read(std::string_view column, DumpTime& time)
{
    while (!column.empty() && (column.back() == '\n' || column.back() == '\r' || column.back() == ' '))
        column.remove_suffix(1);
    while (!column.empty() && column.front() == ' ') column.remove_prefix(1);
    if (!readCommonTime(column, time)) {
        const std::optional<DumpTime> other = parseDumpTime(column);
        if (!other) return false;
        time = *other;
    }
    if (!form_) {
        form_ = time.form;
        lastClock_ = time.ns;
    } else if (time.form != *form_) {
        return false;
    }
    if (time.form == DumpTime::Form::Clock) {
        if (time.ns + dayOffset_ < lastClock_ - kDay / 2 && dayOffset_ < kMaxDays * kDay) dayOffset_ += kDay;
        time.ns += dayOffset_;
        lastClock_ = time.ns;
    }
    return true;
}

} // namespace vornlog
