#include "capture.h"

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

} // namespace vornlog
