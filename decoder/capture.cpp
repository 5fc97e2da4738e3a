#include "capture.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace vornlog {

namespace {

constexpr std::size_t kBlockSize = 1 << 20;

int hexDigit(unsigned char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

} // namespace

LineReader::LineReader(std::FILE* file) : file_(file)
{
    allocate();
}

LineReader::LineReader(std::string_view text, std::size_t blockSize)
    : text_(text), blockSize_(std::min(std::max<std::size_t>(blockSize, 1), kBlockSize))
{
    allocate();
}

void LineReader::allocate()
{
    // One byte in front for a "\r" held over from the previous block.
    buf_ = static_cast<char*>(std::malloc(blockSize_ + 1));
    if (!buf_) throw std::bad_alloc();
}

LineReader::~LineReader() { std::free(buf_); }

std::size_t LineReader::readRaw(char* dst, std::size_t n)
{
    if (!file_) {
        const std::size_t k = std::min(n, text_.size());
        std::memcpy(dst, text_.data(), k);
        text_.remove_prefix(k);
        return k;
    }
    const std::size_t k = std::fread(dst, 1, n, file_);
    if (k < n && std::ferror(file_)) error_ = true;
    return k;
}

bool LineReader::fill()
{
    pos_ = len_ = 0;
    if (eof_) return false;
    const std::size_t got = error_ ? 0 : readRaw(buf_ + 1, blockSize_);
    if (got == 0) {
        eof_ = true;
        if (!heldCr_) return false;
        // A "\r" that ends the capture stays a character of its own.
        heldCr_ = false;
        buf_[0] = '\r';
        len_ = 1;
        return true;
    }
    char* start = buf_ + 1;
    if (heldCr_) {
        heldCr_ = false;
        if (buf_[1] != '\n') {
            buf_[0] = '\r';
            start = buf_;
        }
    }
    // Fold "\r\n" into "\n" in place.
    char* const end = buf_ + 1 + got;
    char* w = start;
    const char* r = start;
    while (r < end) {
        const char* cr = static_cast<const char*>(std::memchr(r, '\r', static_cast<std::size_t>(end - r)));
        const std::size_t k = static_cast<std::size_t>((cr ? cr : end) - r);
        if (w != r) std::memmove(w, r, k);
        w += k;
        if (!cr) break;
        if (cr + 1 == end) {
            heldCr_ = true; // its partner may begin the next block
            break;
        }
        if (cr[1] != '\n') *w++ = '\r';
        r = cr + 1;
    }
    pos_ = static_cast<std::size_t>(start - buf_);
    len_ = static_cast<std::size_t>(w - buf_);
    if (pos_ == len_) return fill(); // a block made of one held "\r"
    return true;
}

bool LineReader::next(std::string_view& line)
{
    std::size_t n = 0; // characters gathered in line_ across blocks
    for (;;) {
        if (pos_ == len_ && !fill()) {
            if (n == 0) return false;
            line = std::string_view(line_, n);
            return true;
        }
        const char* p = buf_ + pos_;
        const std::size_t window = std::min(len_ - pos_, kMaxLineLength - n);
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', window));
        const std::size_t take = nl ? static_cast<std::size_t>(nl - p) + 1 : window;
        pos_ += take;
        if (n == 0 && (nl || take == kMaxLineLength)) {
            line = std::string_view(p, take);
            return true;
        }
        std::memcpy(line_ + n, p, take);
        n += take;
        if (nl || n == kMaxLineLength) {
            line = std::string_view(line_, n);
            return true;
        }
    }
}

bool parseCaptureLine(std::string_view line, CaptureLine& out)
{
    if (line.size() <= kShortLineLength) return false;
    std::size_t tab = 0;
    for (int column = 1; column <= 4; ++column) {
        tab = line.find('\t', column == 1 ? 0 : tab + 1);
        if (tab == std::string_view::npos) return false;
        if (column == 1)
            out.direction = (tab + 1 < line.size() && line[tab + 1] == 'O') ? Direction::Pc : Direction::Controller;
    }
    const std::size_t begin = tab + 1;
    const std::size_t end = line.find('\t', begin);
    out.field = line.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin);
    return true;
}

std::uint8_t hexPair(std::string_view pair)
{
    const int high = pair.empty() ? -1 : hexDigit(static_cast<unsigned char>(pair[0]));
    if (high < 0) return 0;
    const int low = pair.size() < 2 ? -1 : hexDigit(static_cast<unsigned char>(pair[1]));
    if (low < 0) return static_cast<std::uint8_t>(high);
    return static_cast<std::uint8_t>(high * 16 + low);
}

std::uint8_t Bytes::at(std::size_t index) const
{
    const std::size_t pos = index * 3;
    if (pos >= field_.size()) return 0;
    return hexPair(field_.substr(pos, 2));
}

std::int32_t Bytes::value(int width)
{
    std::uint32_t sum = 0;
    for (int k = 0; k < width; ++k) sum |= static_cast<std::uint32_t>(u8()) << (8 * k);
    return static_cast<std::int32_t>(sum);
}

} // namespace vornlog
