#include "capture.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

namespace vornlog {

namespace detail {

namespace {

constexpr int hexDigit(int c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// A pair whose first character is not a hex digit reads 0; one whose second
// character is not a hex digit reads as its first digit alone.
constexpr std::uint8_t pairValue(int first, int second)
{
    const int high = hexDigit(first);
    if (high < 0) return 0;
    const int low = hexDigit(second);
    return static_cast<std::uint8_t>(low < 0 ? high : high * 16 + low);
}

constexpr std::array<std::uint8_t, 1 << 16> makePairValues()
{
    std::array<std::uint8_t, 1 << 16> values{};
    for (int first = 0; first < 256; ++first)
        for (int second = 0; second < 256; ++second) values[first << 8 | second] = pairValue(first, second);
    return values;
}

constexpr std::array<std::uint8_t, 256> makeCutPairValues()
{
    std::array<std::uint8_t, 256> values{};
    for (int first = 0; first < 256; ++first) values[first] = pairValue(first, -1);
    return values;
}

} // namespace

constexpr std::array<std::uint8_t, 1 << 16> kPairValue = makePairValues();
constexpr std::array<std::uint8_t, 256> kCutPairValue = makeCutPairValues();

} // namespace detail

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
    pos_ = 0;
    len_ = left;
    const std::size_t got = error_ ? 0 : readRaw(buf_ + len_, blockSize_);
    if (got == 0) eof_ = true;
    len_ += got;
}

bool LineReader::next(std::string_view& line)
{
    for (;;) {
        char* const p = buf_ + pos_;
        const std::size_t left = len_ - pos_;
        // A line of 254 characters ending in "\r\n" spans 255 bytes.
        const std::size_t window = std::min(left, kMaxLineLength + 1);
        if (const char* nl = static_cast<const char*>(std::memchr(p, '\n', window))) {
            const std::size_t k = static_cast<std::size_t>(nl - p);
            if (k > 0 && p[k - 1] == '\r') {
                p[k - 1] = '\n';
                pos_ += k + 1;
                line = std::string_view(p, k);
                return true;
            }
            if (k < kMaxLineLength) {
                pos_ += k + 1;
                line = std::string_view(p, k + 1);
                return true;
            }
        }
        // No line end among the next 254 characters: a piece of its own.
        // A "\r" that ends the capture stays a character.
        if (left > kMaxLineLength || (eof_ && left > 0 && !interrupted_)) {
            const std::size_t take = std::min(left, kMaxLineLength);
            pos_ += take;
            line = std::string_view(p, take);
            return true;
        }
        if (eof_) return false;
        refill();
    }
}

bool parseCaptureLine(std::string_view line, CaptureLine& out)
{
    if (line.size() <= kShortLineLength) return false;
    // The first four columns are short: a plain scan beats a search call.
    const char* const end = line.data() + line.size();
    const char* p = line.data();
    for (int tab = 1; tab <= 4; ++tab) {
        while (p != end && *p != '\t') ++p;
        if (p == end) return false;
        ++p;
        if (tab == 1) out.direction = (p != end && *p == 'O') ? Direction::Pc : Direction::Controller;
    }
    const char* fieldEnd = static_cast<const char*>(std::memchr(p, '\t', static_cast<std::size_t>(end - p)));
    out.field = std::string_view(p, static_cast<std::size_t>((fieldEnd ? fieldEnd : end) - p));
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

std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

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
        if (s_.find(':') != std::string_view::npos) {
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
        if (!digits(hourDigits, 2, h) || !eat(':') || !digits(2, 2, m) || !eat(':') || !digits(2, 2, s)) return false;
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

} // namespace vornlog
