#include "capture.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace vornlog {

namespace {

constexpr std::size_t kBlockSize = 1 << 20;

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
    // A block, behind the unfinished line that a block may end with.
    buf_ = static_cast<char*>(std::malloc(kMaxLineLength + blockSize_));
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
        if (left > kMaxLineLength || (eof_ && left > 0)) {
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
